// The security streams beside what they are measured against, in one run:
// - XorWrite, XorRead: 1 MiB through the buffered scrambling streams (Library) against the
//   unbuffered ones (Baseline), over real files, where every call of the unbuffered streams on
//   the wrapped stream is a system call.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "QmSecIo/XORBufferedInputStream.h"
#include "QmSecIo/XORBufferedOutputStream.h"
#include "QmSecIo/XORInputStream.h"
#include "QmSecIo/XOROutputStream.h"
#include "QmXpl/FileInputStream_t.h"
#include "QmXpl/FileOutputStream_t.h"
#include "bench/support/RatioMain.h"

namespace {

using QmXplArray::CharArray_t;
using QmXplIo::InputStream_t;
using QmXplIo::OutputStream_t;

constexpr int kMiB = 1 << 20;
constexpr int kBlock = 64 * 1024;

const std::vector<char>& Data() {
    static const std::vector<char> data = [] {
        std::vector<char> d(kMiB);
        for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<char>(i * 131 + 7);
        return d;
    }();
    return data;
}

// A scratch file, removed at exit.
const std::string& ScratchFile(const char* tag) {
    static std::vector<std::string*> files;
    const char* base = std::getenv("TMPDIR");
    auto* path = new std::string(std::string(base && *base ? base : "/tmp") + "/bench_streams-" +
                                 tag + "-XXXXXX");
    int fd = mkstemp(path->data());
    if (fd < 0) std::abort();
    close(fd);
    if (files.empty()) {
        std::atexit([] {
            for (auto* f : files) unlink(f->c_str());
        });
    }
    files.push_back(path);
    return *path;
}

template <class Writer>
void XorWrite(benchmark::State& state) {
    const std::string& path = ScratchFile("xor-write");
    const auto& data = Data();
    for (auto _ : state) {
        Writer out{QmXplIo::FileOutputStream_t(QmXplStr::String_t(path))};
        for (int at = 0; at < kMiB; at += kBlock) out.Write(data.data() + at, kBlock);
        out.Close();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}

// The file to read: 1 MiB written once by the scrambling stream itself.
const std::string& MakeXorFile() {
    const std::string& path = ScratchFile("xor-read");
    QmSecIo::XORBufferedOutputStream out{QmXplIo::FileOutputStream_t(QmXplStr::String_t(path))};
    out.Write(Data().data(), kMiB);
    out.Close();
    return path;
}

const std::string& XorFile() {
    static const std::string& path = MakeXorFile();
    return path;
}

template <class Reader>
void XorRead(benchmark::State& state) {
    const std::string& path = XorFile();
    std::vector<char> buf(kBlock);
    for (auto _ : state) {
        Reader in{QmXplIo::FileInputStream_t(QmXplStr::String_t(path))};
        long long total = 0;
        int n;
        while ((n = in.Read(buf.data(), kBlock)) >= 0) total += n;
        if (total != kMiB) state.SkipWithError("short read");
        in.Close();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}

}  // namespace

BENCHMARK(XorWrite<QmSecIo::XOROutputStream>)->Name("XorWrite1MiB/Baseline");
BENCHMARK(XorWrite<QmSecIo::XORBufferedOutputStream>)->Name("XorWrite1MiB/Library");
BENCHMARK(XorRead<QmSecIo::XORInputStream>)->Name("XorRead1MiB/Baseline");
BENCHMARK(XorRead<QmSecIo::XORBufferedInputStream>)->Name("XorRead1MiB/Library");

QMSEC_BENCHMARK_MAIN()
