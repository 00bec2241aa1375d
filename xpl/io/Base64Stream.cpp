#include <string.h>  // explicit_bzero

#include <cstdio>
#include <cstring>
#include <string>

#include "QmXpl/Base64InputStream_t.h"
#include "QmXpl/Base64OutputStream_t.h"
#include "QmXpl/IOException_t.h"
#include "XplThrow.h"
#include "io/IoTrace.h"

namespace QmXplIo {

using QmXplMsg::CreateWarn_t;
using QmXplMsg::detail::ThrowIoWarning;
using QmXplStr::String_t;

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kLineLength = 64;
constexpr size_t kBatch = 8192;  // text handed to the wrapped stream at a time

void WipeString(std::string& s) noexcept {
    if (!s.empty()) explicit_bzero(s.data(), s.size());
    s.clear();
}

// Value of each byte in the alphabet: 0..63, kPad for '=', kSkip for line breaks and blanks,
// kBad for everything else.
constexpr signed char kPad = -2;
constexpr signed char kSkip = -3;
constexpr signed char kBad = -1;

struct DecodeTable {
    signed char v[256];
    constexpr DecodeTable() : v() {
        for (signed char& x : v) x = kBad;
        for (int i = 0; i < 64; ++i)
            v[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
        v[static_cast<unsigned char>('=')] = kPad;
        v[static_cast<unsigned char>('\r')] = kSkip;
        v[static_cast<unsigned char>('\n')] = kSkip;
        v[static_cast<unsigned char>(' ')] = kSkip;
        v[static_cast<unsigned char>('\t')] = kSkip;
    }
};
constexpr DecodeTable kDecode;

// The source named in the decoder's failures.
constexpr const char* kDecoder = "Base64InputStream_t";

}  // namespace

// --- output ------------------------------------------------------------------------------------

class Base64OutputStreamImpl_t : public FilterOutputStreamImpl_t {
  public:
    using FilterOutputStreamImpl_t::FilterOutputStreamImpl_t;
    ~Base64OutputStreamImpl_t() override {
        if (!closed_ && npending_ > 0) {
            // Ending the text here keeps the bytes already written readable.
            try {
                Finish();
                Emit();
            } catch (...) {
                detail::TraceIgnored("Base64OutputStream_t: final group lost at destruction",
                                     __FILE__, __LINE__);
            }
        }
        explicit_bzero(pending_, sizeof pending_);
        WipeString(text_);
    }

    void Write(const char* buf, int len) override {
        CheckOpen();
        // Room for a whole batch: a growing string would leave copies behind unwiped.
        if (text_.capacity() < kBatch + 8) text_.reserve(kBatch + 8);
        const unsigned char* p = reinterpret_cast<const unsigned char*>(buf);
        const unsigned char* end = p + len;
        while (p < end) {
            while (npending_ < 3 && p < end) pending_[npending_++] = *p++;
            if (npending_ < 3) break;
            EncodeGroup(3);
            npending_ = 0;
            if (text_.size() >= kBatch) Emit();
        }
        Emit();
    }

    void Flush() override {
        CheckOpen();
        out_.Flush();
    }

    void Close() override {
        if (closed_) return;
        closed_ = true;
        // An incomplete text is not finished below: if the last group cannot be written, the
        // wrapped stream stays open (an atomic file there would otherwise publish it).
        Finish();
        Emit();
        out_.Flush();
        out_.Close();
    }

  private:
    void CheckOpen() const {
        if (closed_) throw IOException_t(CreateWarn_t(String_t("Base64OutputStream_t is closed")));
    }
    void Put(char c) {
        text_.push_back(c);
        if (++column_ == kLineLength) {
            text_.push_back('\n');
            column_ = 0;
        }
    }
    void EncodeGroup(int n) {
        unsigned v = (unsigned{pending_[0]} << 16) | (n > 1 ? unsigned{pending_[1]} << 8 : 0u) |
                     (n > 2 ? unsigned{pending_[2]} : 0u);
        Put(kAlphabet[(v >> 18) & 63]);
        Put(kAlphabet[(v >> 12) & 63]);
        Put(n > 1 ? kAlphabet[(v >> 6) & 63] : '=');
        Put(n > 2 ? kAlphabet[v & 63] : '=');
    }
    // The last group with its padding, and the line feed of a last shorter line.
    void Finish() {
        if (npending_ > 0) EncodeGroup(npending_);
        npending_ = 0;
        if (column_ > 0) {
            text_.push_back('\n');
            column_ = 0;
        }
    }
    void Emit() {
        if (text_.empty()) return;
        out_.Write(text_.data(), static_cast<int>(text_.size()));
        WipeString(text_);
    }

    unsigned char pending_[3] = {};
    int npending_ = 0;
    int column_ = 0;
    std::string text_;
    bool closed_ = false;
};

Base64OutputStream_t::Base64OutputStream_t(const OutputStream_t& out)
    : FilterOutputStream_t(new Base64OutputStreamImpl_t(out)) {}
Base64OutputStream_t::~Base64OutputStream_t() = default;

// --- input -------------------------------------------------------------------------------------

class Base64InputStreamImpl_t : public FilterInputStreamImpl_t {
  public:
    using FilterInputStreamImpl_t::FilterInputStreamImpl_t;
    ~Base64InputStreamImpl_t() override {
        WipeString(decoded_);
        explicit_bzero(raw_, sizeof raw_);
    }

    int Read(char* buf, int len) override {
        CheckOpen();
        while (pos_ >= decoded_.size()) {
            WipeString(decoded_);
            pos_ = 0;
            if (ended_) return -1;
            int n = in_.Read(raw_, sizeof raw_);
            if (n < 0) {
                ended_ = true;
                if (nquad_ != 0)
                    ThrowIoWarning(kDecoder, "the text ends inside a group of four characters");
                return -1;
            }
            if (n == 0) return 0;
            Decode(raw_, n);
        }
        size_t give = decoded_.size() - pos_;
        if (give > static_cast<size_t>(len)) give = static_cast<size_t>(len);
        std::memcpy(buf, decoded_.data() + pos_, give);
        pos_ += give;
        return static_cast<int>(give);
    }

    int Available() override {
        CheckOpen();
        return static_cast<int>(decoded_.size() - pos_);
    }

    void Close() override {
        if (closed_) return;
        closed_ = true;
        WipeString(decoded_);
        pos_ = 0;
        in_.Close();
    }

  private:
    void CheckOpen() const {
        if (closed_) throw IOException_t(CreateWarn_t(String_t("Base64InputStream_t is closed")));
    }

    void Decode(const char* text, int n) {
        // Room for the whole chunk at once: a growing string would leave copies behind unwiped.
        decoded_.reserve(static_cast<size_t>(n) / 4 * 3 + 3);
        for (int i = 0; i < n; ++i) {
            unsigned char c = static_cast<unsigned char>(text[i]);
            signed char v = kDecode.v[c];
            if (v == kSkip) continue;
            if (v == kBad) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "0x%02X", c);
                ThrowIoWarning(kDecoder, std::string("invalid character ") + hex);
            }
            if (padded_) ThrowIoWarning(kDecoder, "text after the padding");
            if (v == kPad) {
                // '=' may stand in the third place (then also in the fourth) or the fourth.
                if (nquad_ < 2) ThrowIoWarning(kDecoder, "misplaced padding");
            } else if (nquad_ == 3 && quad_[2] == kPad) {
                ThrowIoWarning(kDecoder, "misplaced padding");
            }
            quad_[nquad_++] = v;
            if (nquad_ == 4) {
                unsigned w = (unsigned(quad_[0]) << 18) | (unsigned(quad_[1]) << 12) |
                             (quad_[2] >= 0 ? unsigned(quad_[2]) << 6 : 0u) |
                             (quad_[3] >= 0 ? unsigned(quad_[3]) : 0u);
                decoded_.push_back(static_cast<char>(w >> 16));
                if (quad_[2] >= 0) decoded_.push_back(static_cast<char>((w >> 8) & 0xFF));
                if (quad_[3] >= 0) decoded_.push_back(static_cast<char>(w & 0xFF));
                padded_ = quad_[3] == kPad;
                nquad_ = 0;
            }
        }
    }

    char raw_[4096];
    signed char quad_[4] = {};
    int nquad_ = 0;
    bool padded_ = false;  // a group with padding ended the text
    bool ended_ = false;   // the wrapped stream reported its end
    bool closed_ = false;
    std::string decoded_;
    size_t pos_ = 0;
};

Base64InputStream_t::Base64InputStream_t(const InputStream_t& in)
    : FilterInputStream_t(new Base64InputStreamImpl_t(in)) {}
Base64InputStream_t::~Base64InputStream_t() = default;

}  // namespace QmXplIo
