#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "QmXpl/IOException_t.h"
#include "RSAKey.h"
#include "Throw.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmXplMsg::IllegalArgumentError_t;
using QmXplMsg::RuntimeException_t;

namespace {

// No password is ever given: an encrypted private key must fail to parse, never prompt on the
// controlling terminal (OpenSSL's default when no callback is set).
int NoPassword(char*, int, int, void*) { return -1; }

bool IsRsa(const EVP_PKEY* key) { return key && EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA; }

}  // namespace

RSAKey::RSAKey(Key::Type type, const char* data, int length) : type_(type) {
    QMSEC_BLOCK(kCoreArea.proc, "RSAKey Constructor");
    Initializer::Ensure();
    if (type != Key::eRSAPublicKey && type != Key::eRSAPrivateKey) {
        QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 67, );
    }
    ossl::Bio bio = ossl::MemoryReader(data, length);
    if (!bio) QMSEC_THROW_MSG(kCoreArea, RuntimeException_t, 34, );
    key_.reset(type == Key::eRSAPublicKey
                   ? PEM_read_bio_PUBKEY(bio.get(), nullptr, NoPassword, nullptr)
                   : PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassword, nullptr));
    if (!key_) QMSEC_THROW_MSG(kCoreArea, QmXplIo::IOException_t, 68, << ossl::ErrorText());
    if (!IsRsa(key_.get())) {
        key_.reset();
        QMSEC_THROW_MSG(kCoreArea, QmXplIo::IOException_t, 68, << "the key is not an RSA key");
    }
}

RSAKey::RSAKey(EVP_PKEY* key, Key::Type type) : type_(type) {
    QMSEC_BLOCK(kCoreArea.proc, "RSAKey Constructor");
    if (type != Key::eRSAPublicKey && type != Key::eRSAPrivateKey) {
        QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 67, );
    }
    if (!IsRsa(key)) QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 69, );
    EVP_PKEY_up_ref(key);
    key_.reset(key);
}

RSAKey::~RSAKey() { QMSEC_BLOCK(kCoreArea.proc, "RSAKey Destructor"); }

QmXplStr::String_t RSAKey::GetAlgorithm() const { return QmXplStr::String_t("Dummy"); }

QmXplArray::CharArray_t& RSAKey::GetEncoded(QmXplArray::CharArray_t& out) const {
    QMSEC_BLOCK(kCoreArea.proc, "RSAKey::GetEncoded()");
    // A private key passes through a secure-heap buffer that is wiped when it is freed.
    ossl::Bio bio(BIO_new(type_ == Key::eRSAPrivateKey ? BIO_s_secmem() : BIO_s_mem()));
    if (!bio) QMSEC_THROW_MSG(kCoreArea, RuntimeException_t, 34, );
    int ok = type_ == Key::eRSAPrivateKey
                 ? PEM_write_bio_PrivateKey_traditional(bio.get(), key_.get(), nullptr, nullptr, 0,
                                                        nullptr, nullptr)
                 : PEM_write_bio_PUBKEY(bio.get(), key_.get());
    if (ok != 1) QMSEC_THROW_MSG(kCoreArea, RuntimeException_t, 70, << ossl::ErrorText());
    out = ossl::Contents(bio.get());
    return out;
}

EVP_PKEY* RSAKey::PKeyOf(const Key& key) {
    KeyImpl* impl = key.GetImpl();
    if (!impl || impl->GetType() == Key::eSecretKey) return nullptr;
    return static_cast<RSAKey*>(impl)->GetPKey();
}

}  // namespace QmSecCore
