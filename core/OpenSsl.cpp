#include "OpenSsl.h"

#include <openssl/err.h>

#include <mutex>

namespace QmSecCore::ossl {

std::string ErrorText() {
    QmXplArray::CharArray_t text;
    Initializer::GetOpenSslError(text);
    return text.GetData();
}

void DiscardErrors() noexcept {
    ERR_clear_error();
}

namespace {

// Fetched algorithms are never freed: they live as long as the process, like the providers.
template <class T, T* (*Fetch)(OSSL_LIB_CTX*, const char*, const char*)>
struct Fetched {
    const char* name;
    std::once_flag once;
    T* algorithm = nullptr;

    T* Get() {
        std::call_once(once, [this] {
            Initializer::Ensure();
            algorithm = Fetch(nullptr, name, nullptr);
            if (!algorithm)
                DiscardErrors();
        });
        return algorithm;
    }
};

Fetched<EVP_MD, EVP_MD_fetch> g_sha1{"SHA1", {}};
Fetched<EVP_MD, EVP_MD_fetch> g_md5{"MD5", {}};
Fetched<EVP_CIPHER, EVP_CIPHER_fetch> g_bf{"BF-CBC", {}};
Fetched<EVP_CIPHER, EVP_CIPHER_fetch> g_des{"DES-CBC", {}};
Fetched<EVP_CIPHER, EVP_CIPHER_fetch> g_des3{"DES-EDE3-CBC", {}};

}  // namespace

const EVP_MD* Sha1() {
    return g_sha1.Get();
}
const EVP_MD* Md5() {
    return g_md5.Get();
}
const EVP_CIPHER* BlowfishCbc() {
    return g_bf.Get();
}
const EVP_CIPHER* DesCbc() {
    return g_des.Get();
}
const EVP_CIPHER* DesEde3Cbc() {
    return g_des3.Get();
}

Bio MemoryReader(const char* data, int length) {
    return Bio(BIO_new_mem_buf(length > 0 ? data : "", length > 0 ? length : 0));
}

QmXplArray::CharArray_t Contents(BIO* bio) {
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    return QmXplArray::CharArray_t(data, length > 0 ? static_cast<int>(length) : 0);
}

}  // namespace QmSecCore::ossl
