// Body of MessageUnsealer: a state machine over the sealed bytes.
#pragma once

#include "QmSecCore/Cipher.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/MessageUnsealer.h"
#include "QmSecCore/ObjectImpl.h"
#include "Trace.h"

namespace QmSecCore {

class MessageUnsealerImpl : public ObjectImpl {
  public:
    // IllegalArgumentError_t 55 unless privateKey is an RSA private key.
    explicit MessageUnsealerImpl(const Key& privateKey);
    ~MessageUnsealerImpl() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kCoreArea.proc, "MessageUnsealerImpl::DestroyThis()")

    // The two primitives of the Update/DoFinal family.
    int Update(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset);
    int DoFinal(QmXplArray::CharArray_t& out, int outOffset);

  private:
    // Takes bytes of the length and the header from in (advancing in and length); true once the
    // symmetric cipher is ready for the body.
    bool ReadHeader(const char*& in, int& length);
    // The header is complete: decrypts the key block and prepares the symmetric cipher.
    void OpenHeader();

    Cipher rsa_;     // decrypting with the private key
    Cipher cipher_;  // the symmetric cipher, empty until the header has been read
    QmXplArray::CharArray_t collected_;  // the length field, then the header, as they arrive
    int count_ = 0;                      // bytes collected in collected_
    int headerLength_ = 0;
    bool lengthRead_ = false;
    bool cipherReady_ = false;
    bool failed_ = false;  // the length or the header was refused: nothing more can be read
};

}  // namespace QmSecCore
