// The key store: a query on an unchanged index beside the bare stat() of the index file it costs
// at least (goal: at most twice that), and installing into and listing a store of 10,000
// aliases.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <string>

#include "QmSecCore/CryptImpl.h"
#include "QmSecCore/KeyStore.h"
#include "QmSecCore/StringCollection.h"
#include "QmSecCore/X509Certificate.h"
#include "QmXpl/CharArrayOutputStream_t.h"
#include "QmXpl/DataOutputStream_t.h"
#include "QmXpl/File_t.h"
#include "bench/support/RatioMain.h"
#include "support/Certificates.h"
#include "support/TempDir.h"

namespace {

using QmSecCore::KeyStore;
using QmXplStr::String_t;

void Provider(QmSecCore::Key& key) {
    key = QmSecCore::Key(QmSecCore::Key::eSecretKey, "bench-provider-secret", 21);
}

QmSecCore::X509Certificate& Certificate() {
    static QmSecCore::X509Certificate cert = [] {
        std::string pem = qmsec_test::CertificateBuilder().CommonName("bench").Build().pem;
        return QmSecCore::X509Certificate(pem.data(), static_cast<int>(pem.size()));
    }();
    return cert;
}

// A store of n aliases "alias<i>" in a node directory of its own (the index written directly,
// which is what matters to queries, listing and installing).
struct Store {
    qmsec_test::TempDir home;
    std::unique_ptr<KeyStore> ks;
    std::string index;

    explicit Store(int n) {
        setenv("QMXPL_HOME", home.Path().c_str(), 1);
        QmSecCore::CryptImpl::RegisterFunctionPointer(Provider);
        KeyStore first;
        first.InstallCertificate(String_t("alias0"), Certificate(), false, false);
        QmXplIo::CharArrayOutputStream_t bytes(n * 40);
        QmXplIo::DataOutputStream_t out(bytes);
        std::map<String_t, int> sorted;
        for (int i = 0; i < n; ++i) sorted[String_t("alias" + std::to_string(i))] = i;
        for (const auto& [alias, i] : sorted) {
            out.WriteJavaUTF(alias);
            out.WriteJavaUTF(alias + "_cert.pem");
            out.WriteInt32(i % 2 + 1);
        }
        index = (KeyStore::DirectoryOf() + "/ks.dat").ToUtf8();
        QmXplIo::File_t::WriteAtomically(String_t(index), bytes.ToCharArray());
        ks = std::make_unique<KeyStore>();
    }
};

Store& StoreOf(int n) {
    static std::map<int, std::unique_ptr<Store>> stores;
    auto& s = stores[n];
    if (!s) s = std::make_unique<Store>(n);
    // The environment names this store's home while its benchmarks run.
    setenv("QMXPL_HOME", s->home.Path().c_str(), 1);
    return *s;
}

void IsCertEntry_Baseline(benchmark::State& state) {
    Store& s = StoreOf(static_cast<int>(state.range(0)));
    struct stat st {};
    for (auto _ : state) benchmark::DoNotOptimize(::stat(s.index.c_str(), &st));
}

void IsCertEntry_Library(benchmark::State& state) {
    Store& s = StoreOf(static_cast<int>(state.range(0)));
    String_t alias("alias" + std::to_string(state.range(0) / 2));
    if (!s.ks->IsCertEntry(alias)) state.SkipWithError("alias missing");
    for (auto _ : state) benchmark::DoNotOptimize(s.ks->IsCertEntry(alias));
}

// Each iteration installs a new alias into the store (plain certificate), so the index is read
// once more (it is current) and written whole.
void Install(benchmark::State& state) {
    Store& s = StoreOf(static_cast<int>(state.range(0)));
    static int next = 0;  // new names across repetitions too
    for (auto _ : state) {
        s.ks->InstallCertificate(String_t("new" + std::to_string(next++)), Certificate(), false,
                                 true);
    }
    state.counters["aliases"] = static_cast<double>(state.range(0) + next);
}

// Lists every alias of the unchanged store into a fresh collection.
void Aliases(benchmark::State& state) {
    Store& s = StoreOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        QmSecCore::StringCollection c;
        benchmark::DoNotOptimize(s.ks->Aliases(c).Size());
    }
}

// Reading the whole index anew, as a second object does after a change.
void ReadIndex(benchmark::State& state) {
    StoreOf(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(KeyStore().IsCertEntry(String_t("alias1")));
}

BENCHMARK(IsCertEntry_Baseline)->Name("IsCertEntry/Baseline")->Arg(100)->Arg(10000);
BENCHMARK(IsCertEntry_Library)->Name("IsCertEntry/Library")->Arg(100)->Arg(10000);
BENCHMARK(Aliases)->Name("Aliases")->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadIndex)->Name("NewObjectReadsIndex")->Arg(10000)->Unit(benchmark::kMillisecond);
// Last: it adds aliases to the store.
BENCHMARK(Install)
    ->Name("InstallCertificate")
    ->Arg(10000)
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond);

}  // namespace

QMSEC_BENCHMARK_MAIN()
