// Change delivery: changes made by other processes and through the API reach the handlers on the
// service's thread; handlers that fail, unregister or block; readers racing with writers.
// Suites are named ConfigThreadTest and ConfigConcurrentTest so the thread sanitizer run picks
// them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "ConfigTestSupport.h"
#include "QmXpl/Message_t.h"
#include "QmXpl/Thread_t.h"
#include "config/ConfigFile.h"
#include "config/ConfigService.h"
#include "io/AtomicFile.h"
#include "support/TraceCapture.h"

using namespace configtest;
using QmXplThread::Thread_t;

namespace {

class ConfigThreadTest : public ::testing::Test {
  protected:
    TempHome home;
    const unsigned long testThread = Thread_t::CurrentID();

    // Runs script in the conf directory of this test's home, in another process.
    void Shell(const std::string& script) {
        ASSERT_EQ(
            RunShell("mkdir -p '" + home.Conf() + "' && cd '" + home.Conf() + "' && " + script), 0)
            << script;
    }
};

using ConfigConcurrentTest = ConfigThreadTest;

// Calls a function from Update.
class CallbackHandler : public ConfigChangeHandler_i {
  public:
    explicit CallbackHandler(std::function<void(const ChangedConfiguration_t&)> f)
        : f_(std::move(f)) {}
    void Update(const ChangedConfiguration_t& changes) override { f_(changes); }

  private:
    std::function<void(const ChangedConfiguration_t&)> f_;
};

}  // namespace

TEST_F(ConfigThreadTest, RenameByAnotherProcessReachesTheHandlerOnTheServiceThread) {
    Seed(home.DefaultFile(),
         "[sec.core.auth]\nMANAGER_ID=m1\nSTAYS=same\nGOES=away\n[sec.core]\nCORE_ID=c\n");
    ConfigNamespace_t auth("sec.core.auth");
    ConfigNamespace_t core("sec.core");
    EXPECT_EQ(Utf8(auth.Open().GetValue("MANAGER_ID")), "m1");
    RecordingHandler authHandler, coreHandler;
    ScopedRegistration r1(auth, &authHandler), r2(core, &coreHandler);

    Shell(
        "printf '# replaced by a script\\n[sec.core.auth]\\nSTAYS=same\\nMANAGER_ID=m2\\n"
        "ADDED=1\\n[sec.core]\\nCORE_ID=c\\n' > .new && mv .new config.ini");

    ASSERT_TRUE(authHandler.WaitForCount(1)) << "no delivery";
    ASSERT_TRUE(QmXplConfig::ConfigService_t::WaitUntilIdle(kDeliveryTimeoutMs));
    std::vector<Delivery> got = authHandler.Deliveries();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_NE(got[0].threadId, testThread);
    EXPECT_EQ(got[0].name, "sec.core.auth");
    EXPECT_EQ(got[0].group, "");
    // Changed, added and removed keys, and nothing else.
    EXPECT_EQ(got[0].changed, (std::set<std::string>{"MANAGER_ID", "ADDED", "GOES"}));
    EXPECT_EQ(Utf8(got[0].configuration.GetValue("MANAGER_ID")), "m2");
    EXPECT_TRUE(got[0].configuration.GetValue("GOES").IsNull());
    EXPECT_EQ(Utf8(auth.Open().GetValue("MANAGER_ID")), "m2");
    // The namespace whose keys stayed the same hears nothing.
    EXPECT_EQ(coreHandler.Count(), 0u);
}

TEST_F(ConfigThreadTest, InPlaceEditsByAnotherProcessAreDelivered) {
    Seed(home.DefaultFile(), "[s]\nA=1\nB=2\n");
    ConfigNamespace_t ns("s");
    ns.Open();
    RecordingHandler handler;
    ScopedRegistration reg(ns, &handler);

    // Appending in place: the file is never shorter than before, so there is one change.
    Shell("printf 'C=3\\n' >> config.ini");
    ASSERT_TRUE(handler.WaitForCount(1));
    std::vector<Delivery> got = handler.Deliveries();
    EXPECT_NE(got[0].threadId, testThread);
    EXPECT_EQ(got[0].changed, (std::set<std::string>{"C"}));
    EXPECT_EQ(Utf8(got[0].configuration.GetValue("A")), "1");
    EXPECT_EQ(Utf8(got[0].configuration.GetValue("C")), "3");

    // Rewriting in place (truncate, write): the finished file is what counts.
    Shell("printf '[s]\\nA=10\\nB=2\\nC=3\\n' > config.ini");
    ASSERT_TRUE(handler.WaitForValue("A", "10"));
    ASSERT_TRUE(WaitFor([&] { return Utf8(ns.Open().GetValue("A")) == "10"; }));
    Configuration_t last = handler.Deliveries().back().configuration;
    EXPECT_EQ(Utf8(last.GetValue("B")), "2");
    EXPECT_EQ(Utf8(last.GetValue("C")), "3");
}

TEST_F(ConfigThreadTest, ChangesOnlyTheSignatureCheckCanSeeAreDelivered) {
    // The file is a link to one in a directory nobody watches: only the check of size and
    // modification time notices an edit of the target.
    const std::string real = home.Path() + "/managed/real.ini";
    WriteFile(real, "[s]\nA=1\n");
    Shell("ln -s '" + real + "' config.ini");
    Reread();
    ConfigNamespace_t ns("s");
    EXPECT_EQ(Utf8(ns.Open().GetValue("A")), "1");
    RecordingHandler handler;
    ScopedRegistration reg(ns, &handler);
    ASSERT_EQ(RunShell("printf 'B=2\\n' >> '" + real + "'"), 0);
    ASSERT_TRUE(handler.WaitForCount(1));
    EXPECT_EQ(handler.Deliveries()[0].changed, (std::set<std::string>{"B"}));
    EXPECT_EQ(Utf8(ns.Open().GetValue("B")), "2");
}

TEST_F(ConfigThreadTest, DeletedFileEmptiesTheNamespace) {
    Seed(home.DefaultFile(), "[s]\nA=1\nB=2\n");
    ConfigNamespace_t ns("s");
    ns.Open();
    RecordingHandler handler;
    ScopedRegistration reg(ns, &handler);
    Shell("rm config.ini");
    ASSERT_TRUE(handler.WaitForCount(1));
    EXPECT_EQ(handler.Deliveries()[0].changed, (std::set<std::string>{"A", "B"}));
    EXPECT_EQ(handler.Deliveries()[0].configuration.GetAttrCount(), 0);
    EXPECT_EQ(ns.Open().GetAttrCount(), 0);
}

TEST_F(ConfigThreadTest, GroupChangesReachOnlyTheNamespacesWhoseValuesChange) {
    Seed(home.DefaultFile(), "[sec.core.ssl]\nLEVEL=FULL\nTIMEOUT=7200\n");
    ConfigNamespace_t def("sec.core.ssl");
    ConfigNamespace_t late("sec.core.ssl", "late");  // its directory does not exist yet
    EXPECT_EQ(Utf8(late.Open().GetValue("LEVEL")), "FULL");
    RecordingHandler defHandler, lateHandler;
    ScopedRegistration r1(def, &defHandler), r2(late, &lateHandler);

    Shell(
        "mkdir late && printf '[sec.core.ssl]\\nLEVEL=BEST\\n' > late/.t && "
        "mv late/.t late/config.ini");
    ASSERT_TRUE(lateHandler.WaitForCount(1));
    EXPECT_EQ(lateHandler.Deliveries()[0].changed, (std::set<std::string>{"LEVEL"}));
    EXPECT_EQ(Utf8(late.Open().GetValue("LEVEL")), "BEST");
    EXPECT_EQ(Utf8(late.Open().GetValue("TIMEOUT")), "7200");
    ASSERT_TRUE(QmXplConfig::ConfigService_t::WaitUntilIdle(kDeliveryTimeoutMs));
    EXPECT_EQ(defHandler.Count(), 0u);

    // A default value the group overrides changes nothing for the group.
    Shell("printf '[sec.core.ssl]\\nLEVEL=NONE\\nTIMEOUT=60\\n' > .t && mv .t config.ini");
    ASSERT_TRUE(defHandler.WaitForCount(1));
    ASSERT_TRUE(lateHandler.WaitForCount(2));
    EXPECT_EQ(defHandler.Deliveries()[0].changed, (std::set<std::string>{"LEVEL", "TIMEOUT"}));
    EXPECT_EQ(lateHandler.Deliveries()[1].changed, (std::set<std::string>{"TIMEOUT"}));
    EXPECT_EQ(Utf8(late.Open().GetValue("LEVEL")), "BEST");

    // An edit of the group's file, in place, is seen in its directory.
    Shell("printf 'EXTRA=1\\n' >> late/config.ini");
    ASSERT_TRUE(lateHandler.WaitForCount(3));
    EXPECT_EQ(lateHandler.Deliveries()[2].changed, (std::set<std::string>{"EXTRA"}));
    EXPECT_EQ(defHandler.Count(), 1u);
}

TEST_F(ConfigThreadTest, SetValueIsDeliveredOnTheServiceThreadNotTheCallers) {
    ConfigNamespace_t ns("sec.cm.certificates");
    RecordingHandler handler;
    ScopedRegistration reg(ns, &handler);
    ns.SetValue("LAST_CERT_UPDATE", "1");
    ASSERT_TRUE(handler.WaitForCount(1));
    ns.SetValue("LAST_TRUSTED_CERT_UPDATE", "7");
    ns.SetValue("LAST_CERT_UPDATE", "2");
    ns.RemoveValue("LAST_TRUSTED_CERT_UPDATE");
    ASSERT_TRUE(handler.WaitForCount(4));
    std::vector<Delivery> got = handler.Deliveries();
    ASSERT_EQ(got.size(), 4u);
    for (const Delivery& d : got) EXPECT_NE(d.threadId, testThread);
    // Every change arrives on its own, in the order it was made.
    EXPECT_EQ(got[0].changed, (std::set<std::string>{"LAST_CERT_UPDATE"}));
    EXPECT_EQ(got[1].changed, (std::set<std::string>{"LAST_TRUSTED_CERT_UPDATE"}));
    EXPECT_EQ(got[2].changed, (std::set<std::string>{"LAST_CERT_UPDATE"}));
    EXPECT_EQ(got[3].changed, (std::set<std::string>{"LAST_TRUSTED_CERT_UPDATE"}));
    EXPECT_EQ(Utf8(got[2].configuration.GetValue("LAST_CERT_UPDATE")), "2");
    EXPECT_TRUE(got[3].configuration.GetValue("LAST_TRUSTED_CERT_UPDATE").IsNull());
}

TEST_F(ConfigThreadTest, HandlersRunOneAtATimeInRegistrationOrder) {
    ConfigNamespace_t a("ns.a"), b("ns.b");
    std::mutex m;
    std::vector<std::string> calls;
    std::atomic<int> inside{0}, maxInside{0};
    auto handlerFor = [&](std::string id) {
        return std::make_unique<CallbackHandler>([&, id](const ChangedConfiguration_t& c) {
            int now = ++inside;
            int seen = maxInside.load();
            while (now > seen && !maxInside.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            {
                std::lock_guard<std::mutex> lock(m);
                calls.push_back(id + ":" + Utf8(c.GetNamespace()));
            }
            --inside;
        });
    };
    auto h1 = handlerFor("h1"), h2 = handlerFor("h2"), h3 = handlerFor("h3");
    a.Register(h2.get());
    a.Register(h1.get());
    a.Register(h3.get());
    a.Register(h1.get());  // already there: still called once
    b.Register(h1.get());
    // One file write that changes both namespaces.
    WriteFile(home.Conf() + "/.t", "[ns.a]\nK=1\n[ns.b]\nK=1\n");
    Shell("mv .t config.ini");
    // The second change only after the first was seen, or both would be one change.
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard<std::mutex> lock(m);
        return calls.size() >= 4;
    }));
    a.SetValue("K", "2");
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard<std::mutex> lock(m);
        return calls.size() >= 7;
    }));
    ASSERT_TRUE(QmXplConfig::ConfigService_t::WaitUntilIdle(kDeliveryTimeoutMs));
    a.Unregister(h1.get());
    a.Unregister(h2.get());
    a.Unregister(h3.get());
    b.Unregister(h1.get());
    std::lock_guard<std::mutex> lock(m);
    ASSERT_EQ(calls.size(), 7u);
    std::vector<std::string> forA;
    for (const std::string& c : calls) {
        if (c.size() > 2 && c.compare(c.size() - 2, 2, ".a") == 0) forA.push_back(c);
    }
    EXPECT_EQ(forA, (std::vector<std::string>{"h2:ns.a", "h1:ns.a", "h3:ns.a", "h2:ns.a", "h1:ns.a",
                                              "h3:ns.a"}));
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "h1:ns.b"), 1);
    EXPECT_EQ(maxInside.load(), 1);
}

TEST_F(ConfigThreadTest, AThrowingHandlerStopsNeitherTheNextHandlerNorLaterChanges) {
    qmsec_test::TraceCapture trace("qmxpl.config=2");
    ConfigNamespace_t ns("s");
    std::atomic<int> thrown{0};
    CallbackHandler thrower([&](const ChangedConfiguration_t&) {
        if (thrown++ == 0) throw std::runtime_error("handler broke");
        throw QmXplMsg::RuntimeException_t(QmXplMsg::CreateError_t("handler broke again"));
    });
    CallbackHandler worse([](const ChangedConfiguration_t&) { throw 42; });
    RecordingHandler after;
    {
        ScopedRegistration r1(ns, &thrower), r2(ns, &worse), r3(ns, &after);
        ns.SetValue("K", "1");
        ns.SetValue("K", "2");
        ASSERT_TRUE(after.WaitForCount(2));
        ASSERT_TRUE(QmXplConfig::ConfigService_t::WaitUntilIdle(kDeliveryTimeoutMs));
    }
    EXPECT_EQ(thrown.load(), 2);
    EXPECT_EQ(Utf8(after.Deliveries()[1].configuration.GetValue("K")), "2");
    EXPECT_EQ(trace.Matching("A change handler of namespace 's' failed").size(), 4u);
}

TEST_F(ConfigThreadTest, UnregisterWaitsForTheRunningCallback) {
    ConfigNamespace_t ns("s");
    std::atomic<bool> entered{false}, release{false}, finished{false};
    std::atomic<int> calls{0};
    CallbackHandler blocking([&](const ChangedConfiguration_t&) {
        ++calls;
        entered = true;
        WaitFor([&] { return release.load(); }, 30000);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        finished = true;
    });
    RecordingHandler witness;
    ScopedRegistration w(ns, &witness);
    ns.Register(&blocking);
    ns.SetValue("K", "1");
    ASSERT_TRUE(WaitFor([&] { return entered.load(); }));

    std::atomic<bool> returned{false}, finishedWhenReturned{false};
    std::thread unregister([&] {
        ns.Unregister(&blocking);
        finishedWhenReturned = finished.load();
        returned = true;
    });
    // However long this takes, Unregister must not return while the callback runs.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(returned.load());
    release = true;
    unregister.join();
    EXPECT_TRUE(finishedWhenReturned.load());

    // Not called again once Unregister has returned.
    ns.SetValue("K", "2");
    ASSERT_TRUE(witness.WaitForValue("K", "2"));
    ASSERT_TRUE(QmXplConfig::ConfigService_t::WaitUntilIdle(kDeliveryTimeoutMs));
    EXPECT_EQ(calls.load(), 1);
}

TEST_F(ConfigThreadTest, UnregisterFromInsideTheCallbackDoesNotDeadlock) {
    ConfigNamespace_t ns("s");
    std::atomic<int> selfCalls{0}, victimCalls{0};
    std::atomic<bool> done{false};
    auto* victim = new CallbackHandler([&](const ChangedConfiguration_t&) { ++victimCalls; });
    // Unregisters itself and a handler after it in the same round, then deletes both: nothing
    // of the service may touch them afterwards (the address sanitizer watches).
    class SelfRemoving : public ConfigChangeHandler_i {
      public:
        SelfRemoving(ConfigNamespace_t& ns, ConfigChangeHandler_i* victim, std::atomic<int>& calls,
                     std::atomic<bool>& done)
            : ns_(ns), victim_(victim), calls_(calls), done_(done) {}
        void Update(const ChangedConfiguration_t&) override {
            ++calls_;
            ns_.Unregister(this);
            ns_.Unregister(victim_);
            delete victim_;
            done_ = true;
            delete this;
        }

      private:
        ConfigNamespace_t& ns_;
        ConfigChangeHandler_i* victim_;
        std::atomic<int>& calls_;
        std::atomic<bool>& done_;
    };
    RecordingHandler witness;
    ns.Register(new SelfRemoving(ns, victim, selfCalls, done));
    ns.Register(victim);
    ScopedRegistration w(ns, &witness);
    ns.SetValue("K", "1");
    ASSERT_TRUE(WaitFor([&] { return done.load(); })) << "the callback did not finish";
    ns.SetValue("K", "2");
    ASSERT_TRUE(witness.WaitForValue("K", "2"));
    EXPECT_EQ(selfCalls.load(), 1);
    EXPECT_EQ(victimCalls.load(), 0);
}

TEST_F(ConfigThreadTest, HandlerMaySetValuesAndReadTheNewSnapshot) {
    ConfigNamespace_t ns("s");
    std::atomic<int> depth{0}, maxDepth{0}, calls{0};
    std::atomic<bool> sawOwnWrite{false};
    CallbackHandler chain([&](const ChangedConfiguration_t& c) {
        int d = ++depth;
        if (d > maxDepth) maxDepth = d;
        if (++calls == 1 && c.HasChanged("FIRST")) {
            ns.SetValue("SECOND", "2");  // delivered later, in a call of its own
            sawOwnWrite = Utf8(ns.Open().GetValue("SECOND")) == "2";
        }
        --depth;
    });
    RecordingHandler witness;
    ScopedRegistration r1(ns, &chain), r2(ns, &witness);
    ns.SetValue("FIRST", "1");
    ASSERT_TRUE(witness.WaitForCount(2));
    EXPECT_EQ(witness.Deliveries()[1].changed, (std::set<std::string>{"SECOND"}));
    EXPECT_TRUE(sawOwnWrite.load());
    EXPECT_EQ(maxDepth.load(), 1);
}

TEST_F(ConfigConcurrentTest, ReadersNeverSeeAHalfUpdatedNamespace) {
    constexpr int kVersions = 150;
    auto fileFor = [](int v) {
        std::string n = std::to_string(v);
        return "# version " + n + "\n[c]\nA=v" + n + "\nB=v" + n + "\n[d]\nX=" + n + "\n";
    };
    Seed(home.DefaultFile(), fileFor(0));
    static ConfigNamespace_t shared("c");
    ASSERT_EQ(Utf8(shared.Open().GetValue("A")), "v0");

    std::atomic<bool> stop{false};
    std::atomic<long> reads{0}, bad{0}, backwards{0};
    std::mutex firstBadMutex;
    std::string firstBad;
    auto reader = [&](int id) {
        int last = 0;
        while (!stop.load()) {
            Configuration_t c = id % 2 ? shared.Open() : ConfigNamespace_t::Open("c");
            String_t a = c.GetValue("A"), b = c.GetValue("B");
            const std::string a8 = Utf8(a);
            int version = a8.size() > 1 && a8[0] == 'v' ? std::atoi(a8.c_str() + 1) : -1;
            if (a.IsNull() || a != b || version < 0 || version > kVersions ||
                a8 != "v" + std::to_string(version) || c.GetAttrCount() != 2) {
                if (++bad == 1) {
                    std::lock_guard<std::mutex> lock(firstBadMutex);
                    firstBad = "A='" + a8 + "' B='" + Utf8(b) + "'";
                }
            } else if (version < last) {
                ++backwards;
            } else {
                last = version;
            }
            ++reads;
        }
    };
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) readers.emplace_back(reader, i);
    for (int v = 1; v <= kVersions; ++v) {
        // As an editor or a script replaces the file; now and then another process does it.
        if (v % 25 == 0) {
            WriteFile(home.Conf() + "/.next", fileFor(v));
            Shell("mv .next config.ini");
        } else {
            QmXplIo::detail::WriteFileAtomically(home.DefaultFile(), fileFor(v), 0644);
        }
        if (v % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(WaitFor(
        [&] { return Utf8(shared.Open().GetValue("A")) == "v" + std::to_string(kVersions); }));
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(bad.load(), 0) << firstBad;
    EXPECT_EQ(backwards.load(), 0);
    EXPECT_GT(reads.load(), 0);
}

TEST_F(ConfigConcurrentTest, ConcurrentSetValueLosesNoChange) {
    constexpr int kThreads = 4, kRounds = 15;
    ConfigNamespace_t ns("s");
    RecordingHandler handler;
    ScopedRegistration reg(ns, &handler);
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            // Each thread has a namespace handle of its own, as separate components would.
            ConfigNamespace_t mine("s");
            for (int r = 0; r < kRounds; ++r) {
                try {
                    mine.SetValue("T" + std::to_string(t), std::to_string(r));
                } catch (...) {
                    ++failures;
                }
            }
        });
    }
    for (auto& w : writers) w.join();
    EXPECT_EQ(failures.load(), 0);
    auto parsed = QmXplConfig::detail::ParseConfigText(ReadFile(home.DefaultFile()), "t");
    const auto* section = parsed.Find("s");
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(section->entries.size(), static_cast<size_t>(kThreads));
    for (int t = 0; t < kThreads; ++t) {
        const std::string* v = section->Find("T" + std::to_string(t));
        ASSERT_NE(v, nullptr) << t;
        EXPECT_EQ(*v, std::to_string(kRounds - 1));
        EXPECT_EQ(Utf8(ns.Open().GetValue(String_t("T" + std::to_string(t)))),
                  std::to_string(kRounds - 1));
    }
    ASSERT_TRUE(QmXplConfig::ConfigService_t::WaitUntilIdle(kDeliveryTimeoutMs));
    // The last delivery shows the final state of every key.
    Configuration_t last = handler.Deliveries().back().configuration;
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(Utf8(last.GetValue(String_t("T" + std::to_string(t)))),
                  std::to_string(kRounds - 1));
}

TEST_F(ConfigConcurrentTest, SetValueWaitsForAnotherProcessHoldingTheWriteLock) {
    Seed(home.DefaultFile(), "[s]\nA=1\n");
    ConfigNamespace_t ns("s");
    ns.Open();
    // Another writer (as a tool would) takes the lock, then rewrites the file a second later.
    int child = StartShell("cd '" + home.Conf() +
                           "' && flock .config.ini.lock sh -c 'touch held; sleep 1; "
                           "printf \"[s]\\nA=1\\nCHILD=1\\n\" > .t && mv .t config.ini'");
    ASSERT_GT(child, 0);
    ASSERT_TRUE(WaitFor([&] { return Exists(home.Conf() + "/held"); }));
    ns.SetValue("PARENT", "1");  // must read the file only after the other writer is done
    EXPECT_EQ(WaitChild(child), 0);
    auto parsed = QmXplConfig::detail::ParseConfigText(ReadFile(home.DefaultFile()), "t");
    ASSERT_NE(parsed.Find("s"), nullptr);
    EXPECT_NE(parsed.Find("s")->Find("CHILD"), nullptr);
    EXPECT_NE(parsed.Find("s")->Find("PARENT"), nullptr);
    EXPECT_TRUE(WaitFor([&] {
        Configuration_t c = ns.Open();
        return !c.GetValue("CHILD").IsNull() && !c.GetValue("PARENT").IsNull();
    }));
}

// The process-wide stop is tried in a fresh process of its own (the death test re-runs this
// binary), since it cannot be undone.
using ConfigThreadDeathTest = ConfigThreadTest;

TEST_F(ConfigThreadDeathTest, ShutdownStopsTheServiceThreadAndKeepsSnapshotsReadable) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            alarm(60);  // a hang ends the child by a signal instead of an exit code
            ConfigNamespace_t ns("s");
            RecordingHandler handler;
            ns.Register(&handler);
            ns.SetValue("K", "1");
            if (!handler.WaitForCount(1)) _exit(2);
            if (CountThreadsNamed("qmxpl-config") != 1) _exit(3);
            QmXplConfig::ConfigService_t::Shutdown();
            if (CountThreadsNamed("qmxpl-config") != 0) _exit(4);
            ns.SetValue("K", "2");
            if (Utf8(ns.Open().GetValue("K")) != "2") _exit(5);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            if (handler.Count() != 1) _exit(6);
            ns.Unregister(&handler);
            QmXplConfig::ConfigService_t::Shutdown();  // a second time changes nothing
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(ConfigThreadDeathTest, AHandlerThatNeverReturnsDoesNotHoldUpProcessExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            alarm(60);
            ConfigNamespace_t ns("s");
            std::atomic<bool> entered{false};
            CallbackHandler stuck([&](const ChangedConfiguration_t&) {
                entered = true;
                for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
            });
            ns.Register(&stuck);
            ns.SetValue("K", "1");
            if (!WaitFor([&] { return entered.load(); })) _exit(2);
            std::exit(0);  // the exit handler gives up on the thread after a short wait
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(ConfigConcurrentTest, FirstUseFromManyThreadsAtOnceReadsOneState) {
    Seed(home.DefaultFile(), "[first.use]\nK=v\n[first.use.other]\nK=w\n");
    ConfigNamespace_t fresh("first.use");
    std::atomic<int> ready{0}, wrong{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 6; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            while (ready.load() < 6) {
            }
            // Half through the object, half by name; and another namespace at the same time.
            Configuration_t c = i % 2 ? fresh.Open() : ConfigNamespace_t::Open("first.use");
            Configuration_t o = ConfigNamespace_t::Open("first.use.other");
            if (Utf8(c.GetValue("K")) != "v" || Utf8(o.GetValue("K")) != "w") ++wrong;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    // Every handle reaches the same namespace: a change through one is seen through the other.
    fresh.SetValue("K", "changed");
    EXPECT_EQ(Utf8(ConfigNamespace_t::Open("first.use").GetValue("K")), "changed");
}
