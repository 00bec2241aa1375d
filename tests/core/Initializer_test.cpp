// One-time initialisation: the trace sequence in a fresh process, two threads racing to start
// it, the seeding counts, and GetOpenSslError's buffer rules. Each case that needs a process
// where nothing is initialised yet runs its body in a forked child (a death test).
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "Initializer.h"
#include "OpenSsl.h"
#include "QmSecCore/MessageDigest.h"
#include "support/TraceCapture.h"

namespace {

using qmsec_test::TraceCapture;
using QmSecCore::Initializer;

const std::vector<std::string> kSequence = {
    "Initializer: Loading error strings ",
    "Initializer: Loading all ciphers and digests",
    "Initializer: Initializing random number generator ",
    "Initializer: Enabling  MultiThreading support",
    "Initializer: Initializing Error Strings ",
    "Initializer: Initializing SSL library ",
    "Initializer: Initialization completed ",
    "Initializer: End of Initializer ",
};

// The init lines of the capture, in order (seeding lines and block lines left out).
std::vector<std::string> InitLines(const TraceCapture& capture) {
    std::vector<std::string> out;
    for (const auto& t : capture.Texts()) {
        if (t.rfind("Initializer: ", 0) == 0 && t.find("Rand_seed") == std::string::npos)
            out.push_back(t);
    }
    return out;
}

// Fails the child with a message on stderr (which the death-test matcher shows).
#define CHILD_CHECK(cond)                                                 \
    if (!(cond)) {                                                        \
        fprintf(stderr, "check failed: %s (line %d)\n", #cond, __LINE__); \
        _exit(1);                                                         \
    }

[[noreturn]] void ChildFirstUseRunsTheSequenceOnceInOrder() {
    TraceCapture capture("sec.core.base=9");
    QmSecCore::MessageDigest digest;
    CHILD_CHECK(InitLines(capture) == kSequence);
    // A second initialisation only writes its block.
    capture.Clear();
    Initializer::DoGlobalInit();
    auto texts = capture.Texts();
    CHILD_CHECK(texts.size() == 2);
    CHILD_CHECK(texts[0] == "> Initializer::DoGlobalInit() ");
    CHILD_CHECK(texts[1] == "< Initializer::DoGlobalInit() ");
    _exit(0);
}

[[noreturn]] void ChildTwoThreadsStartingAtOnceGiveOneSequence() {
    TraceCapture capture("sec.core.base=9");
    std::atomic<bool> go{false};
    auto work = [&] {
        while (!go.load()) {
        }
        QmSecCore::MessageDigest d;
        QmXplArray::CharArray_t out;
        d.Digest("abc", out);
        CHILD_CHECK(out.GetSize() == 20);
    };
    std::thread a(work), b(work);
    go = true;
    a.join();
    b.join();
    CHILD_CHECK(InitLines(capture) == kSequence);
    _exit(0);
}

[[noreturn]] void ChildSeedingReportsEachSourceAndTheTotal() {
    TraceCapture capture("sec.core.base=9");
    Initializer::DoGlobalInit();
    std::vector<int> counts;
    int total = -1;
    for (const auto& t : capture.Texts()) {
        int n;
        if (std::sscanf(t.c_str(), "Initializer: Put %d", &n) != 1) continue;
        if (t == "Initializer: Put " + std::to_string(n) + " total bytes into Rand_seed.")
            total = n;
        if (t == "Initializer: Put " + std::to_string(n) + " bytes into Rand_seed.")
            counts.push_back(n);
    }
    char host[256] = "";
    gethostname(host, sizeof host);
    CHILD_CHECK(counts.size() == 4);
    CHILD_CHECK(counts[0] == 25);
    CHILD_CHECK(counts[1] > static_cast<int>(std::strlen(host)) - 1);
    CHILD_CHECK(counts[2] == 36);
    CHILD_CHECK(counts[3] == 4096);
    CHILD_CHECK(total == counts[0] + counts[1] + counts[2] + counts[3]);
    _exit(0);
}

class InitializerDeathTest : public ::testing::Test {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(InitializerDeathTest, FirstUseRunsTheSequenceOnceInOrder) {
    EXPECT_EXIT(ChildFirstUseRunsTheSequenceOnceInOrder(), ::testing::ExitedWithCode(0), "");
}

TEST_F(InitializerDeathTest, TwoThreadsStartingAtOnceGiveOneSequence) {
    EXPECT_EXIT(ChildTwoThreadsStartingAtOnceGiveOneSequence(), ::testing::ExitedWithCode(0), "");
}

TEST_F(InitializerDeathTest, SeedingReportsEachSourceAndTheTotal) {
    EXPECT_EXIT(ChildSeedingReportsEachSourceAndTheTotal(), ::testing::ExitedWithCode(0), "");
}

TEST(InitializerTest, LegacyAlgorithmsAreAvailable) {
    Initializer::DoGlobalInit();
    EXPECT_TRUE(Initializer::HasLegacyProvider());
    QmSecCore::ossl::FetchedCipher bf(EVP_CIPHER_fetch(nullptr, "BF-CBC", nullptr));
    EXPECT_NE(bf, nullptr);
}

TEST(InitializerTest, GetOpenSslErrorBufferSizes) {
    Initializer::DoGlobalInit();
    ERR_raise(ERR_LIB_EVP, ERR_R_MALLOC_FAILURE);
    QmXplArray::CharArray_t small(10);
    Initializer::GetOpenSslError(small);
    EXPECT_EQ(small.GetSize(), 256);
    std::string text = small.GetData();
    EXPECT_EQ(text.rfind("error:", 0), 0u);
    EXPECT_LT(text.size(), 256u);
    EXPECT_EQ(text.find('\n'), std::string::npos);

    ERR_raise(ERR_LIB_EVP, ERR_R_MALLOC_FAILURE);
    QmXplArray::CharArray_t large(1000);
    Initializer::GetOpenSslError(large);
    EXPECT_EQ(large.GetSize(), 1000);
    EXPECT_EQ(std::string(large.GetData()), text);

    // An empty queue gives the text of error code 0.
    QmXplArray::CharArray_t none;
    Initializer::GetOpenSslError(none);
    char zero[256];
    ERR_error_string_n(0, zero, sizeof zero);
    EXPECT_STREQ(none.GetData(), zero);
}

TEST(InitializerTest, GetOpenSslErrorTakesTheOldestAndClearsTheRest) {
    Initializer::DoGlobalInit();
    ERR_raise(ERR_LIB_EVP, ERR_R_MALLOC_FAILURE);
    ERR_raise(ERR_LIB_PEM, ERR_R_PASSED_NULL_PARAMETER);
    QmXplArray::CharArray_t text;
    Initializer::GetOpenSslError(text);
    EXPECT_NE(std::string(text.GetData()).find("malloc"), std::string::npos) << text.GetData();
    EXPECT_EQ(ERR_peek_error(), 0u);
}

}  // namespace
