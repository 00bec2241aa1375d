// Uuid: the fixed bits of generated identifiers, uniqueness across threads, the clock sequence
// when the clock goes back, the same-millisecond counter, and wrapping and comparing texts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <optional>
#include <set>
#include <thread>
#include <type_traits>
#include <unordered_set>

#include "QmSecCore/MessageDigest.h"
#include "QmSecCore/Uuid.h"
#include "QmXpl/InetAddress_t.h"
#include "QmXpl/Thread_t.h"
#include "QmXpl/Message_t.h"
#include "UuidImpl.h"
#include "support/Command.h"
#include "support/TraceCapture.h"

namespace {

using QmSecCore::Uuid;
using QmSecCore::UuidImpl;
using QmXplStr::String_t;

// A clock the test moves by hand.
std::atomic<int64_t> g_seconds{1'800'000'000};
std::atomic<int> g_millis{0};
std::atomic<int> g_reads{0};
std::atomic<int> g_advanceAfter{-1};  // move on by a millisecond after this many reads

void TestClock(int64_t& seconds, int& millis) {
    int reads = ++g_reads;
    if (g_advanceAfter >= 0 && reads > g_advanceAfter) {
        g_millis = 1;
    }
    seconds = g_seconds;
    millis = g_millis;
}

class UuidClockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_seconds = 1'800'000'000;
        g_millis = 0;
        g_reads = 0;
        g_advanceAfter = -1;
        UuidImpl::SetClockForTesting(TestClock);
    }
    void TearDown() override { UuidImpl::SetClockForTesting(nullptr); }
};

struct Fields {
    std::string timeLow, timeMid, timeHi, clockSeq, node;
};

Fields Split(const Uuid& u) {
    std::string t = u.ToString().ToUtf8();
    return {t.substr(0, 8), t.substr(9, 4), t.substr(14, 4), t.substr(19, 4), t.substr(24, 12)};
}

TEST(UuidTest, GeneratedTextHasTheFixedBits) {
    auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    for (int i = 0; i < 2000; ++i) {
        std::string t = Uuid::GenerateUuid().ToString().ToUtf8();
        ASSERT_EQ(t.size(), 36u);
        for (size_t j = 0; j < t.size(); ++j) {
            bool dash = j == 8 || j == 13 || j == 18 || j == 23;
            ASSERT_TRUE(dash ? t[j] == '-' : hex(t[j])) << t;
        }
        EXPECT_EQ(t[14], '7') << t;  // the third group starts with 7
        EXPECT_LT(std::stoi(t.substr(19, 2), nullptr, 16), 0x40) << t;
        EXPECT_GE(std::stoi(t.substr(24, 2), nullptr, 16), 0x80) << t;
    }
}

TEST(UuidTest, MillionIdentifiersFromFourThreadsAreDistinct) {
    constexpr int kThreads = 4, kEach = 250000;
    std::vector<std::vector<std::string>> made(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&made, t] {
            made[t].reserve(kEach);
            for (int i = 0; i < kEach; ++i)
                made[t].push_back(Uuid::GenerateUuid().ToString().ToUtf8());
        });
    }
    for (auto& th : threads) th.join();
    std::unordered_set<std::string> all;
    all.reserve(kThreads * kEach);
    for (auto& v : made) all.insert(v.begin(), v.end());
    EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
}

TEST_F(UuidClockTest, SameMillisecondAddsTheCounterToTimeLow) {
    Fields a = Split(Uuid::GenerateUuid());
    Fields b = Split(Uuid::GenerateUuid());
    EXPECT_NE(a.timeLow, b.timeLow);
    EXPECT_EQ(std::stoul(b.timeLow, nullptr, 16) - std::stoul(a.timeLow, nullptr, 16), 1u);
    EXPECT_EQ(a.clockSeq, b.clockSeq);
}

TEST_F(UuidClockTest, TheTenThousandAndFirstCallWaitsForTheNextMillisecond) {
    std::set<std::string> texts;
    for (int i = 0; i < 10000; ++i) texts.insert(Uuid::GenerateUuid().ToString().ToUtf8());
    EXPECT_EQ(texts.size(), 10000u);
    // The counter is exhausted; the clock moves on only after a few more reads.
    g_advanceAfter = g_reads + 5;
    Uuid next = Uuid::GenerateUuid();
    EXPECT_GE(g_reads.load(), g_advanceAfter.load() + 1)
        << "the generator did not wait for the clock";
    EXPECT_EQ(g_millis.load(), 1);
    EXPECT_EQ(texts.count(next.ToString().ToUtf8()), 0u);
}

TEST_F(UuidClockTest, ClockSetBackGivesANewClockSequence) {
    g_millis = 500;
    Fields before = Split(Uuid::GenerateUuid());
    g_seconds = g_seconds - 60;
    Fields after = Split(Uuid::GenerateUuid());
    EXPECT_NE(before.clockSeq, after.clockSeq);
    unsigned seqBefore = std::stoul(before.clockSeq, nullptr, 16) & 0x3FFF;
    unsigned seqAfter = std::stoul(after.clockSeq, nullptr, 16) & 0x3FFF;
    EXPECT_EQ(seqAfter, (seqBefore + 1) % 8191 == 0 ? 1u : (seqBefore + 1) % 8191);
}

TEST_F(UuidClockTest, TimeFieldsFollowTheFixedLayout) {
    // T = t * 1e8 + ms * 1e4 + 0x1381400001B21DD2, split into low word, middle and high parts.
    g_seconds = 1'700'000'000;
    g_millis = 250;
    Fields f = Split(Uuid::GenerateUuid());
    uint64_t t = 1'700'000'000ULL * 100000000ULL + 250ULL * 10000ULL + 0x1381400001B21DD2ULL;
    char expected[40];
    std::snprintf(expected, sizeof expected, "%08x-%04x-%04x",
                  static_cast<unsigned>(t & 0xFFFFFFFF), static_cast<unsigned>((t >> 32) & 0xFFFF),
                  static_cast<unsigned>((t >> 48) | 0x7000));
    EXPECT_EQ(f.timeLow + "-" + f.timeMid + "-" + f.timeHi, expected);
}

TEST_F(UuidClockTest, FirstClockSequenceComesFromTimeMillisecondsAndProcessId) {
    for (int millis : {0, 1, 123, 999}) {
        SCOPED_TRACE(millis);
        UuidImpl::SetClockForTesting(TestClock);  // the next call is a first call again
        g_seconds = 1'700'123'456 + millis;
        g_millis = millis;
        uint32_t t = static_cast<uint32_t>(g_seconds.load());
        uint32_t m = static_cast<uint32_t>(millis) * 1000;
        uint32_t x = ((t >> 16) ^ t ^ m ^ (m >> 16)) & 0xFFFF;
        uint32_t v = ((static_cast<uint32_t>(getpid()) & 0xFFFF) + x) * 978u + 191281u;
        unsigned expected = (v ^ (v >> 16)) & 0x1FFF;
        Fields f = Split(Uuid::GenerateUuid());
        EXPECT_EQ(std::stoul(f.clockSeq, nullptr, 16), expected);
    }
}

std::optional<UuidImpl::HardwareAddress> NoAddress() { return std::nullopt; }
std::optional<UuidImpl::HardwareAddress> SomeAddress() {
    return UuidImpl::HardwareAddress{1, 2, 3, 4, 5, 6};
}

// The node field: the first six bytes of MD5 over thread id, process id, host name, host address
// and hardware address, top bit set.
std::string ExpectedNode(const UuidImpl::HardwareAddress& mac) {
    QmSecCore::MessageDigest md5(QmSecCore::MessageDigest::eMD5);
    uint32_t thread = static_cast<uint32_t>(QmXplThread::Thread_t::CurrentID());
    uint32_t process = static_cast<uint32_t>(getpid());
    md5.Update(reinterpret_cast<const char*>(&thread), 4);
    md5.Update(reinterpret_cast<const char*>(&process), 4);
    try {
        QmXplNet::InetAddress_t local = QmXplNet::InetAddress_t::GetLocalHost();
        md5.Update(local.GetHostName().ToUtf8().c_str());
        md5.Update(local.GetHostAddress().ToUtf8().c_str());
    } catch (const QmXplMsg::Exception_t&) {
    }
    md5.Update(reinterpret_cast<const char*>(mac.data()), 6);
    QmXplArray::CharArray_t digest;
    md5.Digest(digest);
    digest[0] = static_cast<char>(digest[0] | 0x80);
    return qmsec_test::Hex(std::string(digest.GetData(), 6));
}

TEST(UuidTest, WithoutAHardwareAddressSixZeroBytesAreHashed) {
    struct Restore {
        ~Restore() { UuidImpl::SetAddressLookupForTesting(nullptr); }
    } restore;
    qmsec_test::TraceCapture capture("sec.core.base=9");
    UuidImpl::SetAddressLookupForTesting(NoAddress);
    EXPECT_EQ(Split(Uuid::GenerateUuid()).node, ExpectedNode({}));
    EXPECT_TRUE(capture.Contains("', MAC address '0x000000000000'.")) << capture.Texts().back();
    // The lookup's answer is what is hashed.
    UuidImpl::SetAddressLookupForTesting(SomeAddress);
    EXPECT_EQ(Split(Uuid::GenerateUuid()).node, ExpectedNode({1, 2, 3, 4, 5, 6}));
    EXPECT_TRUE(capture.Contains("', MAC address '0x010203040506'."));
}

TEST(UuidTest, NodeTraceNamesTheHostFacts) {
    qmsec_test::TraceCapture capture("sec.core.base=9");
    Uuid::GenerateUuid();
    auto lines = capture.Matching("UuidImpl: Using: ThreadId '");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("', ProcessId '"), std::string::npos);
    EXPECT_NE(lines[0].find("', Hostname '"), std::string::npos);
    EXPECT_NE(lines[0].find("', MAC address '0x"), std::string::npos);
    EXPECT_EQ(lines[0].back(), '.');
}

TEST(UuidTest, BodyTracesItsLifeCycleLikeEveryOtherBody) {
    qmsec_test::TraceCapture capture;
    { Uuid u(String_t("x")); }
    EXPECT_EQ(capture.Matching("UuidImpl"),
              (std::vector<std::string>{"> UuidImpl Constructor", "< UuidImpl Constructor",
                                        "> UuidImpl::DestroyThis()", "> UuidImpl Destructor",
                                        "< UuidImpl Destructor", "< UuidImpl::DestroyThis()"}));
}

// A text converts to a Uuid wherever one is expected.
static_assert(std::is_convertible_v<String_t, Uuid>);

TEST(UuidTest, WrappedTextsCompareByText) {
    Uuid a(String_t("any text at all"));
    EXPECT_EQ(a.ToString(), String_t("any text at all"));
    EXPECT_TRUE(a == String_t("any text at all"));
    EXPECT_FALSE(a == Uuid(String_t("any text at alL")));
    EXPECT_TRUE(Uuid(String_t("a")) < Uuid(String_t("b")));
    EXPECT_FALSE(Uuid(String_t("b")) < Uuid(String_t("a")));
    Uuid empty;
    EXPECT_THROW(empty.ToString(), QmXplMsg::IllegalStateError_t);
    EXPECT_THROW((void)(a == empty), QmXplMsg::IllegalStateError_t);
    EXPECT_THROW((void)(empty < a), QmXplMsg::IllegalStateError_t);
}

}  // namespace
