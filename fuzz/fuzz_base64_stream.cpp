// The Base64 input stream on arbitrary text, read with request sizes taken from the input.
// Reading in any pieces must give the same bytes, or the same refusal, as reading in one go;
// and whatever the stream accepts must come back unchanged through the output stream and a
// second read.
//
// Input: [number of read sizes k] [k sizes] [text]
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "QmXpl/Base64InputStream_t.h"
#include "QmXpl/Base64OutputStream_t.h"
#include "QmXpl/CharArrayInputStream_t.h"
#include "QmXpl/CharArrayOutputStream_t.h"
#include "QmXpl/IOException_t.h"

namespace {

// Reads the whole stream with the given request sizes; false when the stream refuses the text.
bool Decode(const std::string& text, const std::vector<int>& sizes, std::string& out) {
    QmXplArray::CharArray_t bytes(text.data(), static_cast<int>(text.size()));
    try {
        QmXplIo::CharArrayInputStream_t raw(bytes);
        QmXplIo::Base64InputStream_t in(raw);
        std::vector<char> buf(4096);
        for (size_t i = 0;; ++i) {
            int want = sizes[i % sizes.size()];
            int n = in.Read(buf.data(), want);
            if (n < 0) break;
            if (n > want) __builtin_trap();
            out.append(buf.data(), static_cast<size_t>(n));
        }
        in.Close();
        return true;
    } catch (const QmXplIo::IOException_t&) {
        return false;
    }
}

std::string Encode(const std::string& bytes) {
    QmXplIo::CharArrayOutputStream_t sink;
    QmXplIo::Base64OutputStream_t out(sink);
    out.Write(bytes.data(), static_cast<int>(bytes.size()));
    out.Close();
    QmXplArray::CharArray_t text = sink.ToCharArray();
    return std::string(text.GetData(), static_cast<size_t>(text.GetSize()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 18)) return 0;
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    auto next = [&] { return p < end ? *p++ : 0; };
    std::vector<int> sizes(static_cast<size_t>(next() % 8 + 1));
    for (int& s : sizes) s = next() % 64 + 1;
    std::string text(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));

    std::string whole, pieces;
    bool okWhole = Decode(text, {4096}, whole);
    bool okPieces = Decode(text, sizes, pieces);
    if (okWhole != okPieces) __builtin_trap();
    if (!okWhole) return 0;
    if (whole != pieces) __builtin_trap();

    std::string again;
    if (!Decode(Encode(whole), sizes, again) || again != whole) __builtin_trap();
    return 0;
}
