#include "OpenSsl.h"

#include <openssl/err.h>

#include "RSAKey.h"
#include "X509CertificateImpl.h"

#include <atomic>
#include <mutex>

namespace QmSecCore::ossl {

std::string ErrorText() {
    QmXplArray::CharArray_t text;
    Initializer::GetOpenSslError(text);
    return text.GetData();
}

std::string ErrorQueueText() {
    std::string text;
    char line[256];
    while (unsigned long code = ERR_get_error()) {
        ERR_error_string_n(code, line, sizeof line);
        if (!text.empty()) text += "; ";
        text += line;
    }
    return text;
}

void DiscardErrors() noexcept { ERR_clear_error(); }

namespace {

// Fetched once, kept until the process exits (see ReleaseAlgorithms).
template <class T, T* (*Fetch)(OSSL_LIB_CTX*, const char*, const char*), void (*Free)(T*)>
struct Fetched {
    const char* name;
    std::once_flag once;
    std::atomic<T*> algorithm{nullptr};

    T* Get() {
        std::call_once(once, [this] {
            Initializer::Ensure();
            T* found = Fetch(nullptr, name, nullptr);
            if (!found) DiscardErrors();
            algorithm.store(found, std::memory_order_release);
        });
        return algorithm.load(std::memory_order_acquire);
    }
    void Release() noexcept {
        if (T* a = algorithm.exchange(nullptr)) Free(a);
    }
};

Fetched<EVP_MD, EVP_MD_fetch, EVP_MD_free> g_sha1{"SHA1", {}, {}};
Fetched<EVP_MD, EVP_MD_fetch, EVP_MD_free> g_md5{"MD5", {}, {}};
Fetched<EVP_CIPHER, EVP_CIPHER_fetch, EVP_CIPHER_free> g_bf{"BF-CBC", {}, {}};
Fetched<EVP_CIPHER, EVP_CIPHER_fetch, EVP_CIPHER_free> g_des{"DES-CBC", {}, {}};
Fetched<EVP_CIPHER, EVP_CIPHER_fetch, EVP_CIPHER_free> g_des3{"DES-EDE3-CBC", {}, {}};

}  // namespace

const EVP_MD* Sha1() { return g_sha1.Get(); }
const EVP_MD* Md5() { return g_md5.Get(); }
const EVP_CIPHER* BlowfishCbc() { return g_bf.Get(); }
const EVP_CIPHER* DesCbc() { return g_des.Get(); }
const EVP_CIPHER* DesEde3Cbc() { return g_des3.Get(); }

void ReleaseAlgorithms() noexcept {
    g_sha1.Release();
    g_md5.Release();
    g_bf.Release();
    g_des.Release();
    g_des3.Release();
}

Bio MemoryReader(const char* data, int length) {
    return Bio(BIO_new_mem_buf(length > 0 ? data : "", length > 0 ? length : 0));
}

QmXplArray::CharArray_t Contents(BIO* bio) {
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    return QmXplArray::CharArray_t(data, length > 0 ? static_cast<int>(length) : 0);
}

X509* Get0X509(const X509Certificate& certificate) noexcept {
    auto* body = static_cast<X509CertificateImpl*>(certificate.operator->());
    return body ? body->GetX509() : nullptr;
}

EVP_PKEY* Get0PKey(const Key& key) noexcept { return RSAKey::PKeyOf(key); }

X509Certificate WrapCertificate(X509Ptr certificate) {
    return X509CertificateImpl::Wrap(certificate.release());
}

}  // namespace QmSecCore::ossl
