// The scrambling input streams on arbitrary bytes, read with request sizes taken from the input.
// Each must hand out exactly one byte per data byte of the stream, and all three kinds (the
// unbuffered pair of both namespaces and the buffered stream) must agree byte for byte.
//
// Input: [flags] [number of read sizes k] [k sizes] ([password length] [password]) [stream]
// flags bit 0: password key instead of the default key. A password length above 128 or of 0
// must be refused at construction.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "QmSecCore/XORInputStream.h"
#include "QmSecIo/XORBufferedInputStream.h"
#include "QmSecIo/XORInputStream.h"
#include "QmXpl/CharArrayInputStream_t.h"
#include "QmXpl/Message_t.h"

namespace {

struct Input {
    const uint8_t* p;
    const uint8_t* end;
    int Byte() { return p < end ? *p++ : 0; }
};

template <class Stream>
bool ReadAll(const std::string& stream, const QmXplArray::CharArray_t* password,
             const std::vector<int>& sizes, std::string& out) {
    QmXplArray::CharArray_t bytes(stream.data(), static_cast<int>(stream.size()));
    try {
        QmXplIo::CharArrayInputStream_t raw(bytes);
        Stream in = password ? Stream(raw, *password) : Stream(raw);
        std::vector<char> buf(65536);
        for (size_t i = 0;; ++i) {
            int n = in.Read(buf.data(), sizes[i % sizes.size()]);
            if (n < 0) break;
            if (n == 0 || n > sizes[i % sizes.size()]) __builtin_trap();
            out.append(buf.data(), static_cast<size_t>(n));
        }
        return true;
    } catch (const QmXplMsg::Exception_t&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, data + size};
    bool withPassword = in.Byte() & 1;
    std::vector<int> sizes(static_cast<size_t>(in.Byte() % 16 + 1));
    for (int& s : sizes) {
        int b = in.Byte();
        s = b == 255 ? 65536 : b + 1;
    }
    QmXplArray::CharArray_t password;
    if (withPassword) {
        int length = in.Byte();
        for (int i = 0; i < length && in.p < in.end; ++i) {
            char c = static_cast<char>(in.Byte());
            password.Append(&c, 1);
        }
    }
    std::string stream(reinterpret_cast<const char*>(in.p), static_cast<size_t>(in.end - in.p));
    const QmXplArray::CharArray_t* key = withPassword ? &password : nullptr;

    std::string a, b, c;
    bool okA = ReadAll<QmSecIo::XORInputStream>(stream, key, sizes, a);
    bool okB = ReadAll<QmSecIo::XORBufferedInputStream>(stream, key, sizes, b);
    bool okC = ReadAll<QmSecCore::XORInputStream>(stream, key, sizes, c);
    bool refused = withPassword && (password.GetSize() == 0 || password.GetSize() > 128);
    if (okA == refused || okB == refused || okC == refused) __builtin_trap();
    if (refused) return 0;
    if (a != b || a != c) __builtin_trap();
    // One byte out per byte in, less a leading start digit of a default-key stream.
    bool digit = !withPassword && !stream.empty() && stream[0] >= '0' && stream[0] <= '9';
    if (a.size() != stream.size() - (digit ? 1 : 0)) __builtin_trap();
    return 0;
}
