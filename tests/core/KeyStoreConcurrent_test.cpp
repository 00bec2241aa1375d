// The key store shared between threads and processes: installers racing on one directory keep
// every entry and one node key, a reader process sees each change at its next call, and a writer
// killed at random moments leaves a store that loads with every install that had returned, never
// lists a certificate beside another certificate's key, and leaves no file that blocks the next
// install.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include "QmSecCore/Signature.h"
#include "core/KeyStoreTestSupport.h"

namespace {

using namespace keystore_test;

std::string Alias(int process, int thread, int i) {
    return "p" + std::to_string(process) + "-t" + std::to_string(thread) + "-" + std::to_string(i);
}

// Runs body in a child process; its exit status is 0 when body returned, 1 when it threw.
pid_t Spawn(const std::function<void()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        int status = 0;
        try {
            body();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "child %d: %s\n", getpid(), e.what());
            status = 1;
        }
        _exit(status);
    }
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Installs count aliases of (process, thread) with the stores given (one shared by several
// threads, or one each); every fifth with its private key.
void InstallMany(const KeyStore& ks, int process, int thread, int count,
                 const X509Certificate& cert, std::atomic<int>& failures) {
    Key key = PrivateKey();
    for (int i = 0; i < count; ++i) {
        try {
            String_t alias(Alias(process, thread, i));
            if (i % 5 == 0) {
                ks.InstallCertificate(alias, cert, key, false, i % 2 == 0);
            } else {
                ks.InstallCertificate(alias, cert, false, i % 2 == 0);
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", Alias(process, thread, i).c_str(), e.what());
            ++failures;
        }
    }
}

// Four threads: two share one store object, two have their own.
void FourInstallerThreads(int process, int count, const X509Certificate& cert,
                          std::atomic<int>& failures) {
    KeyStore shared;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            KeyStore own;
            InstallMany(t < 2 ? shared : own, process, t, count, cert, failures);
        });
    }
    for (auto& t : threads) t.join();
}

void ExpectAllInstalled(int processes, int threads, int count) {
    KeyStore ks;
    std::vector<std::string> aliases = AliasesOf(ks);
    EXPECT_EQ(aliases.size(), static_cast<size_t>(processes * threads * count));
    std::set<std::string> present(aliases.begin(), aliases.end());
    std::string expected = SignatureOf(PrivateKey());
    for (int p = 0; p < processes; ++p) {
        for (int t = 0; t < threads; ++t) {
            for (int i = 0; i < count; ++i) {
                std::string alias = Alias(p, t, i);
                ASSERT_TRUE(present.count(alias)) << alias;
                EXPECT_EQ(ks.IsTrustedCertEntry(String_t(alias)), i % 2 == 0) << alias;
                EXPECT_EQ(ks.IsPrivateKeyEntry(String_t(alias)), i % 5 == 0) << alias;
                if (i % 5 == 0) {
                    // One node key for all: every key written by any process decrypts.
                    Key key;
                    EXPECT_EQ(SignatureOf(ks.GetPrivateKey(String_t(alias), key)), expected)
                        << alias;
                }
            }
        }
    }
}

TEST(KeyStoreConcurrentTest, ThreadsInstallingWhileOthersReadKeepEveryEntry) {
    StoreHome home;
    X509Certificate cert = Cert(0);
    std::atomic<int> failures{0};
    std::atomic<bool> done{false};
    KeyStore reader;
    std::thread readerThread([&] {
        // The list only grows, and what is listed can be read.
        size_t seen = 0;
        while (!done.load()) {
            try {
                std::vector<std::string> aliases = AliasesOf(reader);
                if (aliases.size() < seen) ++failures;
                seen = aliases.size();
                if (!aliases.empty()) {
                    X509Certificate back;
                    reader.GetCertificate(String_t(aliases.back()), back);
                    if (!reader.IsCertEntry(String_t(aliases.front()))) ++failures;
                }
            } catch (const std::exception& e) {
                std::fprintf(stderr, "reader: %s\n", e.what());
                ++failures;
            }
        }
    });
    FourInstallerThreads(0, 25, cert, failures);
    done = true;
    readerThread.join();
    EXPECT_EQ(failures.load(), 0);
    ExpectAllInstalled(1, 4, 25);
    // Index and files agree: nothing left over beside the store's own files.
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(home.StoreDir())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 100 + 20 + 3);  // certificates, keys, ks.dat, nsk.dat, ks.lock
}

TEST(KeyStoreConcurrentTest, TwoProcessesOfFourThreadsKeepAllFourHundredEntries) {
    StoreHome home;
    X509Certificate cert = Cert(0);
    (void)PrivateKey();  // the key pair is made before the processes part
    std::vector<pid_t> children;
    for (int p = 0; p < 2; ++p) {
        children.push_back(Spawn([&, p] {
            std::atomic<int> failures{0};
            FourInstallerThreads(p, 50, cert, failures);
            if (failures.load() != 0) throw std::runtime_error("installs failed");
        }));
    }
    for (pid_t pid : children) EXPECT_EQ(Wait(pid), 0);
    ExpectAllInstalled(2, 4, 50);
}

TEST(KeyStoreConcurrentTest, ReaderProcessSeesEachChangeAtItsNextCall) {
    StoreHome home;
    X509Certificate cert = Cert(0);
    int toReader[2], toWriter[2];
    ASSERT_EQ(pipe(toReader), 0);
    ASSERT_EQ(pipe(toWriter), 0);
    constexpr int kRounds = 60;
    pid_t reader = Spawn([&] {
        close(toReader[1]);
        close(toWriter[0]);
        KeyStore ks;  // one object for all rounds: it must notice each change itself
        int round;
        while (read(toReader[0], &round, sizeof round) == sizeof round) {
            // Odd rounds add a new alias; even rounds flip one alias between plain and trusted,
            // which leaves the index the same size.
            char ok = 1;
            if (round % 2 == 1) {
                ok = ks.IsCertEntry(String_t("new" + std::to_string(round)));
            } else {
                ok = ks.IsTrustedCertEntry(String_t("flip")) == (round % 4 == 0);
            }
            if (write(toWriter[1], &ok, 1) != 1) _exit(2);
        }
    });
    close(toReader[0]);
    close(toWriter[1]);
    KeyStore ks;
    ks.InstallCertificate(String_t("flip"), cert, false, false);
    for (int round = 1; round <= kRounds; ++round) {
        if (round % 2 == 1) {
            ks.InstallCertificate(String_t("new" + std::to_string(round)), cert, false, false);
        } else {
            ks.InstallCertificate(String_t("flip"), cert, true, round % 4 == 0);
        }
        ASSERT_EQ(write(toReader[1], &round, sizeof round), static_cast<ssize_t>(sizeof round));
        char ok = 0;
        ASSERT_EQ(read(toWriter[0], &ok, 1), 1);
        EXPECT_EQ(ok, 1) << "round " << round;
    }
    close(toReader[1]);
    EXPECT_EQ(Wait(reader), 0);
    close(toWriter[0]);
}

// Whether key is the private key of cert: what it signs, cert's public key verifies.
bool IsKeyOf(const Key& key, const X509Certificate& cert) {
    QmSecCore::Signature verifier;
    verifier.InitVerify(cert.GetPublicKey());
    CharArray_t data(Arr("compare")), signature(Arr(SignatureOf(key)));
    verifier.Update(data);
    return verifier.Verify(signature);
}

TEST(KeyStoreConcurrentTest, WriterKilledAtRandomMomentsLosesNoReturnedInstall) {
    StoreHome home;
    X509Certificate cert = Cert(0);
    (void)PrivateKey();
    // The alias "replaced" changes between two certificates, each with its own key.
    qmsec_test::TestCertificate other = qmsec_test::CertificateBuilder()
                                            .CommonName("other")
                                            .SubjectKey(qmsec_test::TestRsaKey(2048, 1).privatePem)
                                            .Build();
    X509Certificate otherCert(Arr(other.pem));
    Key otherKey(Key::eRSAPrivateKey, Arr(other.privateKeyPem));
    std::string expectedSignature = SignatureOf(PrivateKey());
    unsigned seed = static_cast<unsigned>(std::random_device()());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    int installs = 0;
    for (int round = 0; round < 100; ++round) {
        int reports[2];
        ASSERT_EQ(pipe(reports), 0);
        pid_t writer = Spawn([&] {
            close(reports[0]);
            KeyStore ks;
            Key key = PrivateKey();
            for (int i = 0;; ++i) {
                // New aliases with and without keys, and between them replacements of one
                // alias by the one pair and the other in turn.
                std::string alias = "r" + std::to_string(round) + "-" + std::to_string(i);
                if (i % 4 == 0) {
                    ks.InstallCertificate(String_t(alias), cert, key, false, false);
                } else if (i % 4 == 2) {
                    ks.InstallCertificate(String_t(alias), cert, false, true);
                } else if ((round / 2 + i / 2) % 2 == 0) {
                    ks.InstallCertificate(String_t("replaced"), cert, key, true, true);
                } else {
                    ks.InstallCertificate(String_t("replaced"), otherCert, otherKey, true, false);
                }
                if (write(reports[1], &i, sizeof i) != sizeof i) _exit(3);
            }
        });
        close(reports[1]);
        // A deque: GCC 12 at -O3 takes vector's growth here for a use after free.
        std::deque<int> returned;
        int i;
        // Odd rounds may kill the writer while it starts (even while it makes the node key);
        // even rounds let one install return first, so that the kill falls among later ones.
        if (round % 2 == 0) {
            ASSERT_EQ(read(reports[0], &i, sizeof i), static_cast<ssize_t>(sizeof i));
            returned.push_back(i);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 60000));
        ASSERT_EQ(kill(writer, SIGKILL), 0);
        EXPECT_EQ(Wait(writer), 128 + SIGKILL);
        while (read(reports[0], &i, sizeof i) == sizeof i) returned.push_back(i);
        close(reports[0]);
        installs += static_cast<int>(returned.size());

        // The store loads, and holds every install that returned.
        KeyStore ks;
        std::vector<std::string> aliases = AliasesOf(ks);
        for (int n : returned) {
            std::string alias = "r" + std::to_string(round) + "-" + std::to_string(n);
            if (n % 2 == 1) continue;
            ASSERT_TRUE(ks.IsCertEntry(String_t(alias))) << alias;
            X509Certificate back;
            EXPECT_EQ(ks.GetCertificate(String_t(alias), back).GetFingerprint(),
                      cert.GetFingerprint());
            if (n % 4 == 0) {
                Key key;
                EXPECT_EQ(SignatureOf(ks.GetPrivateKey(String_t(alias), key)), expectedSignature)
                    << alias;
            }
        }
        if (ks.IsPrivateKeyEntry(String_t("replaced")) && ks.IsCertEntry(String_t("replaced"))) {
            // Whichever version the kill left, it is whole, and the key is the certificate's.
            Key key;
            X509Certificate back;
            ks.GetPrivateKey(String_t("replaced"), key);
            EXPECT_TRUE(IsKeyOf(key, ks.GetCertificate(String_t("replaced"), back)))
                << "round " << round;
        }
        // What the killed install left blocks no install of its alias, and its temporaries go
        // with the next change.
        int next = returned.empty() ? 0 : returned.back() + 1;
        String_t unfinished("r" + std::to_string(round) + "-" + std::to_string(next));
        bool listed = ks.IsCertEntry(unfinished) || ks.IsPrivateKeyEntry(unfinished);
        ks.InstallCertificate(unfinished, cert, PrivateKey(), listed, false);
        for (auto& e : std::filesystem::directory_iterator(home.StoreDir()))
            EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
        if (HasFatalFailure()) return;
    }
    std::printf("%d installs returned before 100 kills\n", installs);
}

}  // namespace
