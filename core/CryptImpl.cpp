#include <atomic>
#include <cstring>
#include <string>

#include "QmSecCore/Base64.h"
#include "QmSecCore/Cipher.h"
#include "QmSecCore/Crypt.h"
#include "QmSecCore/CryptImpl.h"
#include "SecretWiper.h"
#include "Throw.h"
#include "Trace.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmSecCoreTrc::kLevelProc;
using QmXplArray::CharArray_t;
using QmXplMsg::IllegalStateError_t;

namespace {

// The process-wide key provider. Programs register it at start-up, but nothing stops a late
// registration while other threads already encrypt: each call loads it once, atomically.
std::atomic<CryptImpl::KeyProvider> g_provider{nullptr};

// The key of the registered provider for an operation ("Encryption", "Decryption") on length
// input bytes. IllegalStateError_t "<operation> function not registered. ..." when no provider
// is registered, then IllegalArgumentError_t 9 for a negative length.
Key ProvidedKey(const char* operation, int length) {
    CryptImpl::KeyProvider provider = g_provider.load(std::memory_order_acquire);
    if (!provider) {
        QMSEC_THROW(kCoreArea, IllegalStateError_t,
                    QmXplMsg::CreateWarn_t(QmXplStr::String_t(
                        std::string(operation) +
                        " function not registered. You have to link against the provided "
                        "security library.")));
    }
    if (length < 0) QMSEC_THROW_MSG(kCoreArea, QmXplMsg::IllegalArgumentError_t, 9, );
    Key key;
    provider(key);
    return key;
}

}  // namespace

// --- handle ----------------------------------------------------------------------------------

Crypt::Crypt() : Object(new CryptImpl) {}
Crypt::~Crypt() = default;

CryptImpl* Crypt::operator->() const noexcept {
    return static_cast<CryptImpl*>(Object::operator->());
}
CryptImpl* Crypt::Body() const { return GetBody<CryptImpl>("Crypt"); }

int Crypt::Encrypt(const CharArray_t& in, CharArray_t& out) const {
    return Body()->Encrypt(in.GetData(), in.GetSize(), out);
}
int Crypt::Encrypt(const char* in, int length, CharArray_t& out) const {
    return Body()->Encrypt(in, length, out);
}
int Crypt::Encrypt(const char* in, CharArray_t& out) const {
    return Body()->Encrypt(in, in ? static_cast<int>(std::strlen(in)) : 0, out);
}
int Crypt::Decrypt(const CharArray_t& in, CharArray_t& out) const {
    return Body()->Decrypt(in.GetData(), in.GetSize(), out);
}
int Crypt::Decrypt(const char* in, int length, CharArray_t& out) const {
    return Body()->Decrypt(in, length, out);
}
int Crypt::Decrypt(const char* in, CharArray_t& out) const {
    return Body()->Decrypt(in, in ? static_cast<int>(std::strlen(in)) : 0, out);
}

// --- body ------------------------------------------------------------------------------------

void CryptImpl::RegisterFunctionPointer(void (*provider)(Key&)) noexcept {
    g_provider.store(provider, std::memory_order_release);
    QMSEC_TRACE(
        kCoreArea.init, kLevelProc,
        (provider ? "CryptImpl: Key provider registered" : "CryptImpl: Key provider unregistered"));
}

CryptImpl::CryptImpl() { QMSEC_BLOCK(kCoreArea.proc, "CryptImpl Constructor"); }

CryptImpl::~CryptImpl() { QMSEC_BLOCK(kCoreArea.proc, "CryptImpl Destructor"); }

void CryptImpl::DestroyThis() {
    QMSEC_BLOCK(kCoreArea.proc, "CryptImpl::DestroyThis()");
    delete this;
}

int CryptImpl::Encrypt(const char* in, int length, CharArray_t& out) {
    QMSEC_BLOCK(kCoreArea.proc, "CryptImpl::Encrypt()");
    Key key = ProvidedKey("Encryption", length);
    Cipher cipher(Cipher::eEncrypt, key, Key::eBlowfish);
    CharArray_t sealed;
    int n = cipher.DoFinal(in, length, sealed);
    int m = Base64(Base64::eEncode).DoFinal(sealed, 0, n, out, 0);
    out.Resize(m);
    return m;
}

int CryptImpl::Decrypt(const char* in, int length, CharArray_t& out) {
    QMSEC_BLOCK(kCoreArea.proc, "CryptImpl::Decrypt()");
    Key key = ProvidedKey("Decryption", length);
    CharArray_t sealed;
    int n = Base64(Base64::eDecode).DoFinal(in, length, sealed);
    Cipher cipher(Cipher::eDecrypt, key, Key::eBlowfish);
    // The plaintext is a secret: it goes to the caller only when all of it is good, and the
    // working copy is wiped on every path.
    CharArray_t plain;
    detail::SecretWiper wipePlain{plain};
    int m = cipher.DoFinal(sealed, 0, n, plain, 0);
    out.Copy(plain.GetData(), m);
    return m;
}

}  // namespace QmSecCore
