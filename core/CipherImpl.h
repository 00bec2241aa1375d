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
    virtual void Reset(Cipher::OpMode mode, const Key& key) = 0;
    // Processes length bytes at in, writes output at outOffset, returns the bytes written.
    virtual int Update(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset) = 0;
    // Ends the message, writes the rest at outOffset, returns the bytes written.
    virtual int DoFinal(QmXplArray::CharArray_t& out, int outOffset) = 0;

  protected:
    explicit CipherImpl(Key::Algorithm algorithm) noexcept : algorithm_(algorithm) {}

  private:
    Key::Algorithm algorithm_;
};

}  // namespace QmSecCore
