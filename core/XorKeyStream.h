// The key and the key position of the scrambling streams: one implementation for the buffered
// and unbuffered bodies of both namespaces, so that every one of them reads what any other wrote.
#pragma once

#include "QmXpl/CharArray_t.h"
#include "Trace.h"

namespace QmSecIo::detail {

// Combines bytes with a repeating key. With the default key a stream starts with one ASCII digit
// that gives the first key position (the last digit of the UTC minute of the first write), then
// byte j is data[j] ^ key[(digit + j) mod 77]. With a password the stream holds only the
// combined bytes, byte j being data[j] ^ password[j mod length].
//
// Not synchronised: one stream body owns one XorKeyStream and one thread uses it at a time.
class XorKeyStream {
  public:
    static constexpr int kMaxPasswordLength = 128;
    static constexpr int kDefaultKeyLength = 77;

    // The built-in key; the start position is fixed by the first read or write.
    explicit XorKeyStream(const QmSecCoreTrc::Area& area);
    // The password's bytes as key, starting at position 0. IOException_t 99 (insert 128) for
    // more than 128 bytes and 176 for none: a key without bytes would leave the data in clear.
    // Thrown on area's trace objects.
    XorKeyStream(const QmSecCoreTrc::Area& area, const QmXplArray::CharArray_t& password);
    // Wipes the key.
    ~XorKeyStream();
    XorKeyStream(const XorKeyStream&) = delete;
    XorKeyStream& operator=(const XorKeyStream&) = delete;

    // Up to len (> 0) bytes into data, each taken by next() (a byte 0..255, or -1 at the end of
    // the source). With the default key the first call first takes the start digit; a first
    // byte that is not a digit starts at position 0 and is data. After the first byte, more()
    // false ends the call early (a buffered body stops before it would wait for its source).
    // Returns the count, or -1 when the source ended before any byte.
    //
    // When next() throws after bytes were produced, the call returns those bytes: they were
    // taken from the source already and would be lost; the failure comes again with the next
    // call. The key position always matches what was taken from the source.
    template <class Next, class More>
    int Read(char* data, int len, Next&& next, More&& more);

    // Hands the combined bytes of data to put(int byte), with the start digit first when a
    // default key writes for the first time. len <= 0 hands nothing, not even the digit. When
    // put throws, the key position matches the bytes it accepted.
    template <class Put>
    void Write(const char* data, int len, Put&& put);

    // Before the first byte of a default-key stream: the start digit is still to come.
    bool StartPending() const noexcept { return position_ < 0; }
    // The last digit of the current UTC minute, 0 when the time cannot be had or formatted.
    static int StartDigit() noexcept;

  private:
    void TraceDeferredFailure() const noexcept;

    const QmSecCoreTrc::Area& area_;
    QmXplArray::CharArray_t key_;
    // Index of the next key byte; -1 while a default-key stream has not fixed its start.
    int position_;
};

template <class Next, class More>
int XorKeyStream::Read(char* data, int len, Next&& next, More&& more) {
    int kept = -1;
    if (position_ < 0) {
        int first = next();
        if (first < 0) return -1;
        if (first >= '0' && first <= '9') {
            position_ = first - '0';
        } else {
            // Not written by a default-key stream: read it from the start of the key.
            position_ = 0;
            kept = first;
        }
    }
    const unsigned char* key = reinterpret_cast<const unsigned char*>(key_.GetData());
    const int keyLength = key_.GetSize();
    int pos = position_;
    int j = 0;
    if (kept >= 0) {
        data[j++] = static_cast<char>(key[pos] ^ kept);
        if (++pos == keyLength) pos = 0;
    }
    try {
        while (j < len) {
            if (j > 0 && !more()) break;
            int b = next();
            if (b < 0) {
                position_ = pos;
                return j == 0 ? -1 : j;
            }
            data[j++] = static_cast<char>(key[pos] ^ b);
            if (++pos == keyLength) pos = 0;
        }
    } catch (...) {
        position_ = pos;
        if (j == 0) throw;
        TraceDeferredFailure();
        return j;
    }
    position_ = pos;
    return j;
}

template <class Put>
void XorKeyStream::Write(const char* data, int len, Put&& put) {
    if (len <= 0) return;
    if (position_ < 0) {
        int digit = StartDigit();
        put('0' + digit);
        position_ = digit;
    }
    const unsigned char* key = reinterpret_cast<const unsigned char*>(key_.GetData());
    const int keyLength = key_.GetSize();
    const unsigned char* in = reinterpret_cast<const unsigned char*>(data);
    int pos = position_;
    // Written back however the loop ends, so that the key stays in step with the bytes put.
    struct Save {
        int& to;
        const int& from;
        ~Save() { to = from; }
    } save{position_, pos};
    for (int i = 0; i < len; ++i) {
        put(key[pos] ^ in[i]);
        if (++pos == keyLength) pos = 0;
    }
}

}  // namespace QmSecIo::detail
