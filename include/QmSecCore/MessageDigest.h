// SHA-1 and MD5 digests of data fed in pieces.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/Object.h"
#include "QmXpl/CharArray_t.h"

namespace QmSecCore {

class MessageDigestImpl;

// A digest computed over data fed in pieces. A handle: copies share one digest state, so a
// digest stream and its caller see the same digest. Not synchronised: one thread feeds a digest
// at a time. Every method of a handle without a body throws IllegalStateError_t ("MessageDigest").
class QMSEC_API MessageDigest : public Object {
  public:
    enum Algorithm : int { eDefault = 0, eMD5 = 1, eSHA1 = 2 };  // eDefault is SHA-1

    // A digest ready for data. Throws IllegalArgumentError_t 41 for an unknown algorithm.
    explicit MessageDigest(Algorithm algorithm = eDefault);
    ~MessageDigest() override;

    void Update(char byte) const;
    void Update(const QmXplArray::CharArray_t& data) const;
    // length bytes from offset; IllegalArgumentError_t 42 when the range is outside data.
    void Update(const QmXplArray::CharArray_t& data, int offset, int length) const;
    // IllegalArgumentError_t 40 for a negative length, or a null pointer with a positive length; 0
    // bytes are accepted.
    void Update(const char* data, int length) const;
    // The bytes of a zero-terminated text without the terminator; null feeds nothing.
    void Update(const char* text) const;

    // Finishes the digest into out (resized to 20 bytes for SHA-1, 16 for MD5) and returns its
    // length. The digest then starts over for the next message, as after Reset().
    int Digest(QmXplArray::CharArray_t& out) const;
    int Digest(const QmXplArray::CharArray_t& data, QmXplArray::CharArray_t& out) const;
    int Digest(const char* text, QmXplArray::CharArray_t& out) const;
    int Digest(const char* data, int length, QmXplArray::CharArray_t& out) const;

    // Discards everything fed so far.
    void Reset() const;

  private:
    MessageDigestImpl* Body() const;
};

}  // namespace QmSecCore
