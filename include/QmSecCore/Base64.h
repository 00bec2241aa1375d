// Base64 encoding and decoding of data fed in pieces.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/Object.h"
#include "QmXpl/CharArray_t.h"

namespace QmSecCore {

class Base64Impl;

// Encodes bytes into Base64 text or decodes such text, incrementally. The text is the standard
// alphabet with "=" padding in lines of 64 characters, each line (the last, shorter one too)
// ending with a line feed; empty input gives empty text. Decoding accepts that format with or
// without line feeds. After every DoFinal the codec is ready for the next text in the same mode.
//
// A handle: copies share one state. Not synchronised. Every method of a handle without a body
// throws IllegalStateError_t ("Base64").
//
// The Update/DoFinal family: every result is the number of bytes written into out at the output
// offset; out grows as needed and never shrinks. A negative length, a null input pointer with a
// positive length, or an output offset that is negative or beyond out's size, throws
// IllegalArgumentError_t 9; an input range outside the input array throws
// IllegalArgumentError_t 12. A null zero-terminated text is empty. Input that lies inside out
// (transforming an array in place) is safe.
class QMSEC_API Base64 : public Object {
  public:
    enum OpMode : int { eEncode = 0, eDecode = 1 };  // every value other than 0 decodes

    // An empty handle.
    Base64() noexcept = default;
    explicit Base64(OpMode mode);
    ~Base64() override;

    // Sets the mode and starts over, discarding buffered input.
    void Reset(OpMode mode) const;

    // Encoding writes every complete line and keeps the rest; decoding writes the bytes of every
    // complete group of four characters. Invalid Base64 input throws IOException_t 10; the codec
    // then starts over for the next text.
    int Update(const QmXplArray::CharArray_t& in, QmXplArray::CharArray_t& out) const;
    int Update(const char* in, QmXplArray::CharArray_t& out) const;
    int Update(const char* in, int length, QmXplArray::CharArray_t& out) const;
    int Update(const QmXplArray::CharArray_t& in, int offset, int length,
               QmXplArray::CharArray_t& out, int outOffset) const;
    int Update(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset) const;

    // Writes what is still buffered (encoding: the last line and its line feed) and starts over
    // in the same mode. Text that ends inside a group of four throws Exception_t 13. The forms
    // with input update first and finish right after.
    int DoFinal(QmXplArray::CharArray_t& out) const;
    int DoFinal(QmXplArray::CharArray_t& out, int outOffset) const;
    int DoFinal(const QmXplArray::CharArray_t& in, QmXplArray::CharArray_t& out) const;
    int DoFinal(const char* in, QmXplArray::CharArray_t& out) const;
    int DoFinal(const char* in, int length, QmXplArray::CharArray_t& out) const;
    int DoFinal(const QmXplArray::CharArray_t& in, int offset, int length,
                QmXplArray::CharArray_t& out, int outOffset) const;
    int DoFinal(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset) const;

  private:
    Base64Impl* Body() const;
};

}  // namespace QmSecCore
