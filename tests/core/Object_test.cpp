// The handle/body object model: sharing, assignment order, identity, destruction, empty handles.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "QmSecCore/Object.h"
#include "QmSecCore/ObjectImpl.h"
#include "QmXpl/Message_t.h"
#include "Trace.h"
#include "support/TraceCapture.h"

namespace {

using QmSecCoreTrc::kCoreArea;

std::atomic<int> g_destroyed{0};

class SampleImpl : public QmSecCore::ObjectImpl {
  public:
    explicit SampleImpl(int value) : value_(value) {
        QMSEC_BLOCK(kCoreArea.proc, "SampleImpl Constructor");
    }
    ~SampleImpl() override {
        QMSEC_BLOCK(kCoreArea.proc, "SampleImpl Destructor");
        ++g_destroyed;
    }
    QMSEC_DESTROY_THIS(kCoreArea.proc, "SampleImpl::DestroyThis()")
    int Value() const { return value_; }

  private:
    int value_;
};

// A handle as every public class of the library writes one.
class Sample : public QmSecCore::Object {
  public:
    Sample() = default;
    explicit Sample(int value) : Object(new SampleImpl(value)) {}
    int Value() const { return GetBody<SampleImpl>("Sample")->Value(); }
    long Count() const { return IsNull() ? 0 : (*this)->GetRefCount(); }
};

class ObjectTest : public ::testing::Test {
  protected:
    void SetUp() override { g_destroyed = 0; }
};

TEST_F(ObjectTest, EqualityIsIdentityOfTheBody) {
    Sample empty1, empty2;
    EXPECT_TRUE(empty1 == empty2);
    Sample a(7);
    Sample copy(a);
    EXPECT_TRUE(copy == a);
    EXPECT_FALSE(copy != a);
    Sample b(7);  // equal arguments, separate bodies
    EXPECT_TRUE(a != b);
    EXPECT_FALSE(a == empty1);
    EXPECT_TRUE(empty1.IsNull());
    EXPECT_FALSE(a.IsNull());
}

TEST_F(ObjectTest, CopiesShareAndCountReferences) {
    Sample a(1);
    EXPECT_EQ(a.Count(), 1);
    {
        Sample b(a);
        Sample c;
        c = b;
        EXPECT_EQ(a.Count(), 3);
        EXPECT_EQ(c.Value(), 1);
    }
    EXPECT_EQ(a.Count(), 1);
    EXPECT_EQ(g_destroyed, 0);
}

TEST_F(ObjectTest, SelfAssignmentKeepsTheOnlyBodyAlive) {
    Sample a(5);
    Sample& alias = a;
    a = alias;
    EXPECT_EQ(a.Count(), 1);
    EXPECT_EQ(a.Value(), 5);
    EXPECT_EQ(g_destroyed, 0);
}

TEST_F(ObjectTest, AssigningAHandleOfTheSameBodyKeepsItAlive) {
    // Two handle objects on one body; assigning one to the other must reference before release.
    Sample a(9);
    Sample b(a);
    a = b;
    EXPECT_EQ(a.Count(), 2);
    EXPECT_EQ(g_destroyed, 0);
}

TEST_F(ObjectTest, AssignmentReleasesTheOldBodyAndEmptyAssignmentEmpties) {
    Sample a(1);
    Sample b(2);
    a = b;
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_EQ(a.Value(), 2);
    a = Sample();
    EXPECT_TRUE(a.IsNull());
    EXPECT_EQ(b.Count(), 1);
}

TEST_F(ObjectTest, LastReleaseDestroysOnceWithDestructorInsideDestroyThis) {
    qmsec_test::TraceCapture capture("sec.core.base=9");
    {
        Sample a(3);
        Sample b(a);
        Sample c(b);
    }
    EXPECT_EQ(g_destroyed, 1);
    std::vector<std::string> texts = capture.Texts();
    std::vector<std::string> expected = {
        "> SampleImpl Constructor", "< SampleImpl Constructor", "> SampleImpl::DestroyThis()",
        "> SampleImpl Destructor",  "< SampleImpl Destructor",  "< SampleImpl::DestroyThis()"};
    EXPECT_EQ(texts, expected);
}

TEST_F(ObjectTest, EmptyHandleThrowsIllegalStateNamedAfterTheClassAndTracesFirst) {
    qmsec_test::TraceCapture capture("sec.core.base=2");
    Sample full(1);
    full = Sample();
    try {
        full.Value();
        FAIL() << "no exception";
    } catch (const QmXplMsg::IllegalStateError_t& e) {
        ASSERT_EQ(e.GetMessageList().GetCount(), 1);
        const QmXplMsg::Message_t& m = e.GetMessageList().Get(0);
        EXPECT_EQ(m.GetText(), QmXplStr::String_t("Sample"));
        EXPECT_EQ(m.GetSeverity(), QmXplMsg::Severity_t::eWarning);
    }
    EXPECT_EQ(capture.Texts(),
              std::vector<std::string>{"Throwing exception 'IllegalStateError_t': Sample"});
    EXPECT_EQ(capture.Records().at(0).area, "sec.core.base");
}

TEST_F(ObjectTest, ConcurrentCopiesAndReleasesDestroyExactlyOnce) {
    for (int round = 0; round < 20; ++round) {
        Sample shared(round);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([copy = shared] {
                for (int i = 0; i < 2000; ++i) {
                    Sample local(copy);
                    Sample other;
                    other = local;
                }
            });
        }
        shared = Sample();
        for (auto& t : threads) t.join();
        EXPECT_EQ(g_destroyed, round + 1);
    }
}

}  // namespace
