// Unsealing a message sealed by MessageSealer, with the recipient's RSA private key.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/Object.h"
#include "QmXpl/CharArray_t.h"

namespace QmSecCore {

class Key;
class MessageUnsealerImpl;

// Reads sealed data (see MessageSealer) fed in pieces of any size with Update and ended with
// DoFinal: first the 4-byte header length, then the header, which it decrypts with the private
// key to learn the secret and the symmetric algorithm, then the body, whose plaintext it writes.
// Calls whose bytes are all taken by the length and the header write nothing and return 0.
//
// Failures of the sealed data: SecCoreException 57 as soon as the header length is not 1 to
// 10000 or the decrypted key block names no algorithm (fewer than 4 bytes, a value outside
// 0 to 4); SecCoreException 56 from DoFinal when the data ended before the header was complete;
// IOException_t 72 when the header does not decrypt with this key (sealed for another key,
// damaged, or not a whole number of RSA blocks); IllegalArgumentError_t 20 when the key block
// names eRSA; BadPaddingException 76 from DoFinal when the body is damaged or cut short. After a
// failure in the length or the header every further Update throws SecCoreException 57 and
// DoFinal 56: nothing after a broken header can be read.
//
// After DoFinal a further body (one sealed by the same sealer after its DoFinal) may follow.
//
// A handle: copies share one state. Not synchronised: one thread uses an unsealer at a time.
// Every method of a handle without a body throws IllegalStateError_t ("MessageUnsealer").
//
// The Update/DoFinal family: every result is the number of bytes written into out at the output
// offset; out grows as needed and never shrinks. A negative length, a null input pointer with a
// positive length, or an output offset that is negative or beyond out's size, throws
// IllegalArgumentError_t 9 (in every stage, the header's included); an input range outside the
// input array throws IllegalArgumentError_t 12. A null zero-terminated text is empty. Input that
// lies inside out is safe.
class QMSEC_API MessageUnsealer : public Object {
  public:
    // An empty handle.
    MessageUnsealer() noexcept = default;
    // Prepares unsealing with an RSA private key; any other key (an empty one included) throws
    // IllegalArgumentError_t 55. The key is shared, not copied.
    explicit MessageUnsealer(const Key& privateKey);
    ~MessageUnsealer() override;

    int Update(const QmXplArray::CharArray_t& in, QmXplArray::CharArray_t& out) const;
    int Update(const char* in, QmXplArray::CharArray_t& out) const;
    int Update(const char* in, int length, QmXplArray::CharArray_t& out) const;
    int Update(const QmXplArray::CharArray_t& in, int offset, int length,
               QmXplArray::CharArray_t& out, int outOffset) const;
    int Update(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset) const;

    // Ends the message and writes the rest of the plaintext. The forms with input update first
    // and finish right after.
    int DoFinal(QmXplArray::CharArray_t& out) const;
    int DoFinal(QmXplArray::CharArray_t& out, int outOffset);
    int DoFinal(const QmXplArray::CharArray_t& in, QmXplArray::CharArray_t& out) const;
    int DoFinal(const char* in, QmXplArray::CharArray_t& out) const;
    int DoFinal(const char* in, int length, QmXplArray::CharArray_t& out) const;
    int DoFinal(const QmXplArray::CharArray_t& in, int offset, int length,
                QmXplArray::CharArray_t& out, int outOffset) const;
    int DoFinal(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset) const;

  private:
    MessageUnsealerImpl* Body() const;
};

}  // namespace QmSecCore
