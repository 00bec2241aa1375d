// A filter stream that writes typed values in a Java-compatible binary form.
#pragma once

#include <cstdint>

#include "QmXpl/Export.h"
#include "QmXpl/FilterOutputStream_t.h"
#include "QmXpl/String_t.h"

namespace QmXplIo {

class DataOutputStreamImpl_t;

// Writes values that DataInputStream_t (and Java's DataInputStream) read back: big-endian
// integers, booleans as one byte 0 or 1, text as modified UTF-8 behind a 16-bit byte count.
// Each value goes to the wrapped stream in one Write. The wrapped stream's exceptions pass
// through; a handle without a body throws IllegalStateError_t. Write, Flush and Close are those
// of the filter (Close flushes and closes the wrapped stream).
class QMXPL_API DataOutputStream_t : public FilterOutputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    DataOutputStream_t() = default;
    // Writes to out (the handle shares out's body). IllegalArgumentError_t for an empty out.
    explicit DataOutputStream_t(const OutputStream_t& out);
    ~DataOutputStream_t() override;

    // One byte: 1 for true, 0 for false.
    void WriteBoolean(bool value) const;
    // The low 8 bits of value.
    void WriteByte(int value) const;
    // The low 16 bits of value, big-endian.
    void WriteInt16(int value) const;
    // Four bytes, big-endian.
    void WriteInt32(int32_t value) const;
    // Eight bytes, big-endian.
    void WriteInt64(int64_t value) const;
    // The text's UTF-16 units as modified UTF-8 (U+0001..U+007F one byte; U+0000 and
    // U+0080..U+07FF two bytes, U+0000 as C0 80; every other unit, each surrogate on its own,
    // three bytes) behind their byte count as a big-endian 16-bit number. The null string is
    // written as the empty one. A text that needs more than 65535 bytes throws IOException_t
    // before anything is written.
    void WriteJavaUTF(const QmXplStr::String_t& text) const;

  private:
    DataOutputStreamImpl_t* DataBody() const;
};

}  // namespace QmXplIo
