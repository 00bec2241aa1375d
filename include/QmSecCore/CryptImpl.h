// Body of Crypt, and the registration of the process-wide key provider.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/ObjectImpl.h"
#include "QmXpl/CharArray_t.h"

namespace QmSecCore {

// The work of Crypt. Holds no state of its own; the key provider is one process-wide pointer.
class QMSEC_API CryptImpl : public ObjectImpl {
  public:
    // Fills its argument with the secret key that Crypt encrypts and decrypts with (at least 16
    // bytes, Blowfish's key length). Called on the thread of each Crypt call.
    using KeyProvider = void (*)(Key& key);

    // Makes provider the process-wide key provider, replacing any earlier one; null unregisters.
    // Safe to call at any time from any thread: a Crypt call uses the provider that was
    // registered when it began.
    static void RegisterFunctionPointer(void (*provider)(Key&)) noexcept;

    CryptImpl();
    ~CryptImpl() override;
    void DestroyThis() override;

    // See Crypt. A negative length throws IllegalArgumentError_t 9.
    int Encrypt(const char* in, int length, QmXplArray::CharArray_t& out);
    int Decrypt(const char* in, int length, QmXplArray::CharArray_t& out);
};

}  // namespace QmSecCore
