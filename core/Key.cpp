#include <openssl/pkcs12.h>

#include <cstring>

#include "ArgumentChecks.h"
#include "RSAKey.h"
#include "SecretKey.h"
#include "SecretWiper.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmXplMsg::IllegalArgumentError_t;

namespace {

// The derivation's fixed salt: the same password gives the same key on every installation.
constexpr char kSalt[] = "9d.Lqwer>u,-&7xa";
constexpr int kDerivationId = 2;
constexpr int kIterations = 3;

int DerivedLength(Key::Algorithm algorithm) {
    if (algorithm == Key::eRSA) QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 20, );
    return SymmetricKeyLength(algorithm);  // 0 outside the enumeration: nothing to derive
}

KeyImpl* DeriveSecretKey(const char* password, int length, Key::Algorithm algorithm) {
    QMSEC_BLOCK(kCoreArea.proc, "Key::DeriveSecretKey()");
    detail::CheckInput(kCoreArea, password, length);
    int size = DerivedLength(algorithm);
    unsigned char derived[32];
    detail::SecretWiper wipeDerived{derived};
    if (size > 0) {
        Initializer::Ensure();
        // OpenSSL turns the password bytes into a big-endian 16-bit string with a terminating
        // zero character; a null pointer would mean "no password" instead, so never pass one.
        if (!PKCS12_key_gen_asc(password && length > 0 ? password : "", length,
                                reinterpret_cast<unsigned char*>(const_cast<char*>(kSalt)),
                                static_cast<int>(sizeof kSalt - 1), kDerivationId, kIterations,
                                size, derived, ossl::Sha1())) {
            QMSEC_THROW(kCoreArea, IllegalArgumentError_t, detail::CatalogMessage(20));
        }
    }
    return new SecretKey(reinterpret_cast<const char*>(derived), size);
}

KeyImpl* ParseKey(Key::Type type, const char* data, int length) {
    detail::CheckInput(kCoreArea, data, length);
    switch (type) {
        case Key::eRSAPublicKey:
        case Key::eRSAPrivateKey:
            return new RSAKey(type, data, length);
        case Key::eSecretKey:
            return new SecretKey(data, length);
    }
    return nullptr;  // an unknown type gives an empty handle
}

}  // namespace

Key::~Key() = default;
Key::Key(KeyImpl* body) noexcept : Object(body) {}
Key::Key(Type type, const QmXplArray::CharArray_t& data)
    : Object(ParseKey(type, data.GetData(), data.GetSize())) {}
Key::Key(Type type, const char* data, int length) : Object(ParseKey(type, data, length)) {}
Key::Key(const QmXplArray::CharArray_t& password, Algorithm algorithm)
    : Object(DeriveSecretKey(password.GetData(), password.GetSize(), algorithm)) {}
Key::Key(const char* password, Algorithm algorithm)
    : Object(DeriveSecretKey(password, password ? static_cast<int>(std::strlen(password)) : 0,
                             algorithm)) {}

KeyImpl* Key::Body() const { return GetBody<KeyImpl>("Key"); }
KeyImpl* Key::GetImpl() const noexcept { return static_cast<KeyImpl*>(operator->()); }
QmXplStr::String_t Key::GetAlgorithm() const { return Body()->GetAlgorithm(); }
Key::Type Key::GetType() const { return Body()->GetType(); }
QmXplArray::CharArray_t& Key::GetEncoded(QmXplArray::CharArray_t& out) const {
    return Body()->GetEncoded(out);
}

KeyImpl::~KeyImpl() = default;

int SymmetricKeyLength(Key::Algorithm algorithm) noexcept {
    switch (algorithm) {
        case Key::eDefault:
        case Key::eBlowfish:
            return 16;
        case Key::eDES:
            return 8;
        case Key::eDES3:
            return 24;
        case Key::eRSA:
            break;
    }
    return 0;
}

}  // namespace QmSecCore
