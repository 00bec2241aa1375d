// One-byte reads through the buffered stream's fast path against the same reads through a plain
// filter stream, over 1 MiB held in memory: the baseline for the byte-wise scrambling streams,
// which come in both kinds.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>

#include "QmXpl/BufferedInputStream_t.h"
#include "QmXpl/CharArrayInputStream_t.h"
#include "QmXpl/FileInputStream_t.h"
#include "QmXpl/FilterInputStream_t.h"

using namespace QmXplIo;

namespace {

constexpr int kSourceSize = 1 << 20;
constexpr int kChunk = 4096;

const QmXplArray::CharArray_t& Source() {
    static const QmXplArray::CharArray_t data = [] {
        QmXplArray::CharArray_t a(kSourceSize);
        std::mt19937 rng(1);
        for (int i = 0; i < kSourceSize; ++i) a[i] = static_cast<char>(rng());
        return a;
    }();
    return data;
}

// A 64 KiB file for the same loops over a stream whose every call is a system call.
constexpr int kFileSize = 64 * 1024;

const std::string& SourceFile() {
    // Never destroyed: the exit handler that removes the file still needs the name.
    static const std::string* path = [] {
        const char* base = std::getenv("TMPDIR");
        auto* p = new std::string(std::string(base && *base ? base : "/tmp") +
                                  "/bench_xpl_streams-XXXXXX");
        int fd = mkstemp(p->data());
        if (fd < 0 || write(fd, Source().GetData(), kFileSize) != kFileSize) std::abort();
        close(fd);
        std::atexit([] { unlink(SourceFile().c_str()); });
        return p;
    }();
    return *path;
}

// Reads byte by byte through the inline fast path of the buffered body.
class ByteWiseBufferedImpl : public BufferedInputStreamImpl_t {
  public:
    explicit ByteWiseBufferedImpl(const InputStream_t& in) : BufferedInputStreamImpl_t(in) {}
    int Read(char* buf, int len) override {
        int j = 0;
        for (; j < len; ++j) {
            int b = ReadBuffered();
            if (b < 0) break;
            buf[j] = static_cast<char>(b);
        }
        return j == 0 ? -1 : j;
    }
};
class ByteWiseBuffered : public BufferedInputStream_t {
  public:
    explicit ByteWiseBuffered(const InputStream_t& in)
        : BufferedInputStream_t(new ByteWiseBufferedImpl(in)) {}
};

// Takes blocks through the bulk path and works on each byte in place: the way to the buffer's
// full speed for bodies that transform many bytes per call.
class BlockWiseBufferedImpl : public BufferedInputStreamImpl_t {
  public:
    explicit BlockWiseBufferedImpl(const InputStream_t& in) : BufferedInputStreamImpl_t(in) {}
    int Read(char* buf, int len) override {
        int n = ReadBufferedBlock(buf, len);
        for (int j = 0; j < n; ++j) buf[j] = static_cast<char>(buf[j] ^ 0x5A);
        return n;
    }
};
class BlockWiseBuffered : public BufferedInputStream_t {
  public:
    explicit BlockWiseBuffered(const InputStream_t& in)
        : BufferedInputStream_t(new BlockWiseBufferedImpl(in)) {}
};

// Reads byte by byte with one call on the wrapped stream per byte.
class ByteWiseFilterImpl : public FilterInputStreamImpl_t {
  public:
    using FilterInputStreamImpl_t::FilterInputStreamImpl_t;
    int Read(char* buf, int len) override {
        int j = 0;
        for (; j < len; ++j) {
            int b = in_.Read();
            if (b < 0) break;
            buf[j] = static_cast<char>(b);
        }
        return j == 0 ? -1 : j;
    }
};
class ByteWiseFilter : public FilterInputStream_t {
  public:
    explicit ByteWiseFilter(const InputStream_t& in)
        : FilterInputStream_t(new ByteWiseFilterImpl(in)) {}
};

template <class Stream>
void DrainInChunks(benchmark::State& state) {
    char buf[kChunk];
    for (auto _ : state) {
        Stream in{CharArrayInputStream_t(Source())};
        long total = 0;
        for (int n; (n = in.Read(buf, kChunk)) > 0;) total += n;
        benchmark::DoNotOptimize(total);
        benchmark::DoNotOptimize(buf[0]);
    }
    state.SetBytesProcessed(state.iterations() * kSourceSize);
}

template <class Stream>
void DrainByHandleBytes(benchmark::State& state) {
    for (auto _ : state) {
        Stream in{CharArrayInputStream_t(Source())};
        long sum = 0;
        for (int b; (b = in.Read()) >= 0;) sum += b;
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * kSourceSize);
}

template <class Stream>
void DrainFileInChunks(benchmark::State& state) {
    char buf[kChunk];
    QmXplStr::String_t path(SourceFile());
    for (auto _ : state) {
        Stream in{FileInputStream_t(path)};
        long total = 0;
        for (int n; (n = in.Read(buf, kChunk)) > 0;) total += n;
        benchmark::DoNotOptimize(total);
        benchmark::DoNotOptimize(buf[0]);
    }
    state.SetBytesProcessed(state.iterations() * kFileSize);
}

// Body-level byte loops, as the scrambling streams run them.
void BM_BodyBytes_BufferedFastPath(benchmark::State& state) {
    DrainInChunks<ByteWiseBuffered>(state);
}
void BM_BodyBytes_PlainFilter(benchmark::State& state) { DrainInChunks<ByteWiseFilter>(state); }
void BM_BodyBlocks_BufferedBulkPath(benchmark::State& state) {
    DrainInChunks<BlockWiseBuffered>(state);
}
// The same over a file: the plain filter makes one system call per byte.
void BM_FileBodyBytes_BufferedFastPath(benchmark::State& state) {
    DrainFileInChunks<ByteWiseBuffered>(state);
}
void BM_FileBodyBytes_PlainFilter(benchmark::State& state) {
    DrainFileInChunks<ByteWiseFilter>(state);
}
// One Read() per byte on the handle.
void BM_HandleBytes_Buffered(benchmark::State& state) {
    DrainByHandleBytes<BufferedInputStream_t>(state);
}
void BM_HandleBytes_PlainFilter(benchmark::State& state) {
    DrainByHandleBytes<FilterInputStream_t>(state);
}

}  // namespace

BENCHMARK(BM_BodyBytes_BufferedFastPath)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BodyBytes_PlainFilter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BodyBlocks_BufferedBulkPath)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileBodyBytes_BufferedFastPath)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FileBodyBytes_PlainFilter)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HandleBytes_Buffered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandleBytes_PlainFilter)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
