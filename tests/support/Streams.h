// Scripted and recording streams for the tests of every stream layer, and pumping bytes through
// a stream in random pieces.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "QmXpl/CharArrayInputStream_t.h"
#include "QmXpl/CharArrayOutputStream_t.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/IOException_t.h"
#include "QmXpl/InputStream_t.h"
#include "QmXpl/OutputStream_t.h"

namespace qmsec_test {

using QmXplArray::CharArray_t;
using QmXplIo::InputStream_t;
using QmXplIo::OutputStream_t;

// A size between 1 and max, with small sizes as likely as large ones (uniform in the logarithm),
// so that single bytes, odd sizes and whole 64 KiB blocks all come up.
inline int RandomPieceSize(std::mt19937& rng, int max = 64 * 1024) {
    std::uniform_real_distribution<double> exponent(0.0, std::log2(static_cast<double>(max)));
    int n = static_cast<int>(std::exp2(exponent(rng)));
    return std::clamp(n, 1, max);
}

// Writes data to out in random pieces of 1 to maxPiece bytes.
inline void WriteInPieces(const QmXplIo::OutputStream_t& out, const std::string& data,
                          std::mt19937& rng, int maxPiece = 64 * 1024) {
    size_t at = 0;
    while (at < data.size()) {
        size_t n = std::min(static_cast<size_t>(RandomPieceSize(rng, maxPiece)), data.size() - at);
        out.Write(data.data() + at, static_cast<int>(n));
        at += n;
    }
}

// Reads in until -1 with random request sizes of 1 to maxPiece bytes. A stream that answers 0
// bytes again and again without ending fails the test through the guard.
inline std::string ReadInPieces(const QmXplIo::InputStream_t& in, std::mt19937& rng,
                                int maxPiece = 64 * 1024) {
    std::string out;
    std::vector<char> buf(static_cast<size_t>(maxPiece));
    int zeros = 0;
    for (;;) {
        int want = RandomPieceSize(rng, maxPiece);
        int n = in.Read(buf.data(), want);
        if (n < 0) break;
        if (n > want) throw std::runtime_error("read returned more than requested");
        zeros = n == 0 ? zeros + 1 : 0;
        if (zeros > 1000) throw std::runtime_error("stream answers 0 bytes forever");
        out.append(buf.data(), static_cast<size_t>(n));
    }
    return out;
}

inline QmXplIo::IOException_t SimulatedFailure(const char* what) {
    return QmXplIo::IOException_t(QmXplMsg::CreateError_t(QmXplStr::String_t(what)));
}

// An input stream over fixed bytes that hands out at most `chunk` bytes per read and, when
// `stutter` is set, answers every other read with 0 bytes (as a transforming stream may). It
// records the size of every request and counts its closes, and can fail: after `failAt` bytes
// have been handed out, the next read throws IOException_t once (failOnce) or every time. With
// `dryAfter` >= 0 a read beyond that many bytes answers 0 (a stream that would block there).
// Available tells the bytes left, or 0 when `announce` is cleared.
class ScriptedInputImpl : public QmXplIo::InputStreamImpl_t {
  public:
    explicit ScriptedInputImpl(std::string data, int chunk = 1 << 30, bool stutter = false)
        : data_(std::move(data)), chunk_(chunk), stutter_(stutter) {}
    int Read(char* buf, int len) override {
        ++reads;
        requests.push_back(len);
        if (failAt >= 0 && pos_ >= static_cast<size_t>(failAt) && !failed_) {
            if (failOnce) failed_ = true;
            throw SimulatedFailure("scripted stream: simulated failure");
        }
        if (dryAfter >= 0 && pos_ >= static_cast<size_t>(dryAfter) && pos_ < data_.size()) {
            blockedReads++;
            return 0;
        }
        if (stutter_ && (calls_++ % 2 == 0)) return 0;
        if (pos_ >= data_.size()) return -1;
        size_t n =
            std::min({static_cast<size_t>(len), static_cast<size_t>(chunk_), data_.size() - pos_});
        std::memcpy(buf, data_.data() + pos_, n);
        pos_ += n;
        return static_cast<int>(n);
    }
    int Available() override { return announce ? static_cast<int>(data_.size() - pos_) : 0; }
    void Close() override { ++closes; }

    bool announce = true;
    long failAt = -1;
    bool failOnce = true;
    long dryAfter = -1;
    int reads = 0;
    std::vector<int> requests;
    int blockedReads = 0;
    int closes = 0;

  private:
    std::string data_;
    size_t pos_ = 0;
    int chunk_;
    bool stutter_;
    unsigned calls_ = 0;
    bool failed_ = false;
};

// An output stream that collects bytes and records its block writes (their count, those after a
// close, and the size of each that it accepted), flushes and closes. With failAfter >= 0 it
// throws IOException_t once that many bytes have been accepted; with failFlush every flush
// throws.
class RecordingOutputImpl : public QmXplIo::OutputStreamImpl_t {
  public:
    void Write(const char* buf, int len) override {
        ++writes;
        if (closes > 0) ++writesAfterClose;
        if (failAfter >= 0 && static_cast<long>(data.size()) + len > failAfter)
            throw SimulatedFailure("recording stream: simulated failure");
        writeSizes.push_back(len);
        data.append(buf, static_cast<size_t>(len));
    }
    void Flush() override {
        ++flushes;
        if (failFlush) throw SimulatedFailure("recording stream: simulated flush failure");
    }
    void Close() override { ++closes; }

    std::string data;
    int writes = 0;
    std::vector<int> writeSizes;
    int writesAfterClose = 0;
    int flushes = 0;
    int closes = 0;
    long failAfter = -1;
    bool failFlush = false;
};

// An output stream that only counts what it is given.
class CountingSinkImpl : public QmXplIo::OutputStreamImpl_t {
  public:
    void Write(const char*, int len) override { bytes += len; }
    long long bytes = 0;
};

}  // namespace qmsec_test
