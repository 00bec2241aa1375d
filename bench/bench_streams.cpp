// The security streams beside what they are measured against, in one run:
// - CipherWrite64KiB: a long message encrypted in 64 KiB writes through CipherOutputStream into
//   a sink that only counts (Library) against raw EVP_EncryptUpdate on 64 KiB chunks (Baseline),
//   for Blowfish and Triple-DES.
// - XorWrite, XorRead: 1 MiB through the buffered scrambling streams (Library) against the
//   unbuffered ones (Baseline), over real files, where every call of the unbuffered streams on
//   the wrapped stream is a system call.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "OpenSsl.h"
#include "QmSecCore/Cipher.h"
#include "QmSecCore/Key.h"
#include "QmSecIo/CipherOutputStream.h"
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

// --- cipher output stream against the raw cipher -------------------------------------------------

const char kKeyBytes[] = "0123456789abcdefFEDCBA98";  // 24 bytes, enough for every algorithm

struct Algorithm {
    QmSecCore::Key::Algorithm value;
    const EVP_CIPHER* (*cipher)();
};
const Algorithm kBlowfish{QmSecCore::Key::eBlowfish, QmSecCore::ossl::BlowfishCbc};
const Algorithm kDes3{QmSecCore::Key::eDES3, QmSecCore::ossl::DesEde3Cbc};

class CountingSinkImpl : public QmXplIo::OutputStreamImpl_t {
  public:
    void Write(const char*, int len) override { bytes += len; }
    long long bytes = 0;
};

void CipherWriteBaseline(benchmark::State& state, const Algorithm& alg) {
    const auto& data = Data();
    std::vector<unsigned char> out(kBlock + 16);
    unsigned char iv[8] = {};
    QmSecCore::ossl::CipherCtx ctx(EVP_CIPHER_CTX_new());
    EVP_EncryptInit_ex(ctx.get(), alg.cipher(), nullptr,
                       reinterpret_cast<const unsigned char*>(kKeyBytes), iv);
    long long total = 0;
    for (auto _ : state) {
        int n = 0;
        EVP_EncryptUpdate(ctx.get(), out.data(), &n,
                          reinterpret_cast<const unsigned char*>(data.data()), kBlock);
        total += n;
    }
    benchmark::DoNotOptimize(total);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}

void CipherWriteLibrary(benchmark::State& state, const Algorithm& alg) {
    const auto& data = Data();
    QmSecCore::Key key(QmSecCore::Key::eSecretKey, kKeyBytes, 24);
    auto* sink = new CountingSinkImpl;
    OutputStream_t bottom(sink);
    QmSecIo::CipherOutputStream out(bottom,
                                    QmSecCore::Cipher(QmSecCore::Cipher::eEncrypt, key, alg.value));
    for (auto _ : state) out.Write(data.data(), kBlock);
    out.Close();
    benchmark::DoNotOptimize(sink->bytes);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}

// --- buffered against unbuffered scrambling streams
// ------------------------------------------------

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

BENCHMARK_CAPTURE(CipherWriteBaseline, bf, kBlowfish)->Name("CipherWrite64KiB/Baseline/Blowfish");
BENCHMARK_CAPTURE(CipherWriteLibrary, bf, kBlowfish)->Name("CipherWrite64KiB/Library/Blowfish");
BENCHMARK_CAPTURE(CipherWriteBaseline, des3, kDes3)->Name("CipherWrite64KiB/Baseline/DES3");
BENCHMARK_CAPTURE(CipherWriteLibrary, des3, kDes3)->Name("CipherWrite64KiB/Library/DES3");
BENCHMARK(XorWrite<QmSecIo::XOROutputStream>)->Name("XorWrite1MiB/Baseline");
BENCHMARK(XorWrite<QmSecIo::XORBufferedOutputStream>)->Name("XorWrite1MiB/Library");
BENCHMARK(XorRead<QmSecIo::XORInputStream>)->Name("XorRead1MiB/Baseline");
BENCHMARK(XorRead<QmSecIo::XORBufferedInputStream>)->Name("XorRead1MiB/Library");

QMSEC_BENCHMARK_MAIN()
