// A filter stream that reads typed values in a Java-compatible binary form.
#pragma once

#include <cstdint>

#include "QmXpl/CharArray_t.h"
#include "QmXpl/Export.h"
#include "QmXpl/FilterInputStream_t.h"
#include "QmXpl/String_t.h"

namespace QmXplIo {

class DataInputStreamImpl_t;

// Reads what DataOutputStream_t writes (the same layout as Java's DataInputStream): big-endian
// integers, booleans as one byte, and text as modified UTF-8 behind a 16-bit byte count. These
// bytes are on disk and on the wire, so the layout never changes.
//
// Every reader of a value throws EOFException_t when the stream ends before the value is
// complete (also before its first byte); the wrapped stream's exceptions pass through; a handle
// without a body throws IllegalStateError_t. Read, Skip and Close are those of the filter.
class QMXPL_API DataInputStream_t : public FilterInputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    DataInputStream_t() = default;
    // Reads from in (the handle shares in's body). IllegalArgumentError_t for an empty in.
    explicit DataInputStream_t(const InputStream_t& in);
    ~DataInputStream_t() override;

    // Exactly len bytes into buf, reading as often as needed. IllegalArgumentError_t for len < 0
    // or a null buf.
    void ReadFully(char* buf, int len) const;
    // Exactly buf.GetSize() bytes.
    void ReadFully(QmXplArray::CharArray_t& buf) const { ReadFully(buf.GetData(), buf.GetSize()); }
    // One byte: false when 0, true for any other value.
    bool ReadBoolean() const;
    // One byte as a signed value (-128..127).
    int8_t ReadByte() const;
    // One byte as 0..255.
    int ReadUnsignedByte() const;
    // Two bytes, big-endian, signed.
    int16_t ReadInt16() const;
    // Two bytes, big-endian, as 0..65535.
    int ReadUnsignedInt16() const;
    // Four bytes, big-endian, signed.
    int32_t ReadInt32() const;
    // Eight bytes, big-endian, signed.
    int64_t ReadInt64() const;
    // A big-endian 16-bit byte count, then that many bytes of modified UTF-8 (U+0000 as C0 80,
    // characters beyond U+FFFF as two three-byte surrogate encodings). Malformed sequences,
    // including overlong forms other than C0 80 and four-byte UTF-8, become U+FFFD; the result is
    // never null.
    QmXplStr::String_t ReadJavaUTF() const;

  private:
    DataInputStreamImpl_t* DataBody() const;
};

}  // namespace QmXplIo
