// Body of Cipher: the interface both cipher kinds implement.
#pragma once

#include "QmSecCore/Cipher.h"
#include "QmSecCore/ObjectImpl.h"
#include "Trace.h"

namespace QmSecCore {

// A symmetric (SecretKeyCipher) or RSA (RSACipher) cipher. Update and DoFinal are the two
// primitives behind the handle's whole Update/DoFinal family (detail::TransformFamily).
class CipherImpl : public ObjectImpl {
  public:
    ~CipherImpl() override;

    Key::Algorithm GetAlgorithm() const noexcept { return algorithm_; }

    // The most bytes that Update plus DoFinal can write for inputLength more input bytes.
    virtual int GetOutputSize(int inputLength) const = 0;
    // Starts over with a new mode and key of the same algorithm.
    void Reset(Cipher::OpMode mode, const Key& key) {
        QMSEC_BLOCK(QmSecCoreTrc::kCoreArea.proc, resetName_);
        Init(mode, key);
    }
    // Processes length bytes at in, writes output at outOffset, returns the bytes written.
    virtual int Update(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset) = 0;
    // Ends the message, writes the rest at outOffset, returns the bytes written.
    virtual int DoFinal(QmXplArray::CharArray_t& out, int outOffset) = 0;

  protected:
    // resetName: the trace name of Reset ("<Class>::Reset()").
    CipherImpl(Key::Algorithm algorithm, const char* resetName) noexcept
        : algorithm_(algorithm), resetName_(resetName) {}

    // Takes up mode and key: from the constructor, and for Reset.
    virtual void Init(Cipher::OpMode mode, const Key& key) = 0;

  private:
    Key::Algorithm algorithm_;
    const char* resetName_;
};

}  // namespace QmSecCore
