// Feeds arbitrary text to the Base64 decoder in pieces of arbitrary sizes. The first input byte
// seeds the split; the rest is the text. Whatever decodes must encode to text that decodes to
// the same bytes again, and the same text must decode the same way whole and in pieces.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#include "QmSecCore/Base64.h"
#include "QmXpl/Message_t.h"

namespace {

using QmSecCore::Base64;
using QmXplArray::CharArray_t;

// Decodes text fed in pieces; false when the codec rejects it.
bool Decode(const Base64& codec, const std::string& text, unsigned seed, std::string& bytes) {
    std::minstd_rand rng(seed);
    CharArray_t out;
    int at = 0;
    try {
        size_t pos = 0;
        while (pos < text.size()) {
            size_t n = std::min<size_t>(rng() % 70, text.size() - pos);
            int produced = codec.Update(text.data() + pos, static_cast<int>(n), out, at);
            if (produced < 0 || produced > out.GetSize() - at) abort();
            at += produced;
            pos += n;
        }
        at += codec.DoFinal(out, at);
    } catch (const QmXplMsg::Exception_t&) {
        return false;
    }
    if (at > out.GetSize()) abort();
    bytes.assign(out.GetData(), static_cast<size_t>(at));
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    Base64 decoder(Base64::eDecode);
    std::string pieces, whole;
    bool ok = Decode(decoder, text, data[0], pieces);
    // The same object again, after DoFinal or after a failure: it must start over cleanly.
    bool again = Decode(decoder, text, 0x7fffffffu, whole);
    if (ok != again || (ok && pieces != whole)) abort();
    if (!ok) return 0;
    CharArray_t encoded;
    int n =
        Base64(Base64::eEncode).DoFinal(pieces.data(), static_cast<int>(pieces.size()), encoded);
    std::string roundTrip;
    if (!Decode(decoder, std::string(encoded.GetData(), static_cast<size_t>(n)), data[0],
                roundTrip) ||
        roundTrip != pieces) {
        abort();
    }
    return 0;
}
