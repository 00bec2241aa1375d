// Builds trace lines from pieces.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/MBS_t.h"
#include "QmXpl/Message_t.h"
#include "QmXpl/String_t.h"
#include "QmXpl/UTF16CharArray_t.h"
#include "QmXpl/UTF8_t.h"

namespace QmSecCoreTrc {

// A text made of pieces, each rendered by one operator<<. Renderings are fixed so that trace
// lines look the same everywhere: 16-bit text escapes "&" as "&amp;" and every unit >= 128 as
// "&XX;" or "&XXXX;" (upper-case hex), byte arrays as "{01 AB FF}", pointers as "0x<HEX>",
// messages and exceptions formatted on one line with their number and details, numbers in
// decimal, AsHex values as "{FF}", "{0100}" or "{0000FFFF}"-style groups of 2, 4 or 8 digits.
// The object itself is the first node of a singly linked list of pieces; it owns all of them.
// Compose only after the trace level was found enabled: rendering costs.
class QMSEC_API TraceText {
  public:
    // A 32-bit value shown in hexadecimal. The narrow constructors keep the value's own bits
    // without sign extension: AsHex(short(-1)) is 0xFFFF.
    class QMSEC_API AsHex {
      public:
        explicit AsHex(signed char value) noexcept : value_(static_cast<unsigned char>(value)) {}
        explicit AsHex(short value) noexcept : value_(static_cast<unsigned short>(value)) {}
        explicit AsHex(int value) noexcept : value_(static_cast<unsigned int>(value)) {}
        explicit AsHex(unsigned int value) noexcept : value_(value) {}
        unsigned int Value() const noexcept { return value_; }

      private:
        unsigned int value_;
    };

    // One empty node.
    TraceText() noexcept = default;
    ~TraceText();
    TraceText(const TraceText&) = delete;
    TraceText& operator=(const TraceText&) = delete;

    TraceText& operator<<(const char* text);             // copy; null gives an empty piece
    TraceText& operator<<(const unsigned short* utf16);  // zero-terminated, escaped
    TraceText& operator<<(unsigned short unit);          // one unit, escaped
    TraceText& operator<<(const char16_t* utf16);        // as const unsigned short*
    TraceText& operator<<(const void* pointer);          // "0x%lX"
    TraceText& operator<<(const QmXplArray::CharArray_t& bytes);
    TraceText& operator<<(const QmXplArray::UTF16CharArray_t& units);
    TraceText& operator<<(const QmXplStr::String_t& text);  // as UTF-8 (the system encoding)
    TraceText& operator<<(const QmXplStr::MBS_t& text);
    TraceText& operator<<(const QmXplStr::UTF8_t& text);
    TraceText& operator<<(const QmXplMsg::Message_t& message);      // Format(37)
    TraceText& operator<<(const QmXplMsg::Exception_t& exception);  // its list, Format(37)
    TraceText& operator<<(bool value);                              // "true" / "false"
    TraceText& operator<<(int value);                               // "%d"
    TraceText& operator<<(unsigned int value);                      // "%u"
    TraceText& operator<<(long value);                              // "%ld"
    TraceText& operator<<(unsigned long value);                     // "%lu"
    TraceText& operator<<(long long value);                         // "%lld"
    TraceText& operator<<(unsigned long long value);                // "%llu"
    TraceText& operator<<(const AsHex& value);

    // The pieces up to the first empty node joined into one, which becomes the only piece. The
    // pointer stays valid until the next change or the destruction of the text; never null.
    const char* GetMsg();
    // The piece of node index (0 is the first); "" for an index beyond the pieces.
    const char* operator[](int index) const noexcept;
    // Reads the first piece as a pattern in which "%n" (one decimal digit; a non-digit counts
    // as 0) stands for piece n, replaces the text with the result and returns it. A piece that
    // does not exist inserts nothing.
    const char* GetCombinedMsg();

  private:
    // A node after the first; the first node is the object itself.
    explicit TraceText(char* piece) noexcept : piece_(piece) {}
    TraceText& Append(const char* data, size_t length);
    void FreeFollowing() noexcept;

    char* piece_ = nullptr;
    TraceText* next_ = nullptr;
};

}  // namespace QmSecCoreTrc
