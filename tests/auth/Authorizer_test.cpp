// The authorizer with real files: a temporary node directory holding config.ini and a policy
// directory with headers and data files of every kind, the rights model, change delivery from
// another process, and readers racing an updater.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "AuthorizerImpl.h"
#include "QmSecAuth/Authorizer.h"
#include "QmXpl/ConfigNamespace_t.h"
#include "QmXpl/Message_t.h"
#include "config/ConfigService.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

namespace {

using qmsec_test::TraceCapture;
using QmSecAuth::Authorizer;
using QmSecAuth::AuthorizerImpl;
using QmXplStr::String_t;

const char* const kLocal = "aaaaaaaa-0000-0000-0000-000000000001";
const char* const kManager = "bbbbbbbb-0000-0000-0000-000000000002";
const char* const kDefault = "cccccccc-0000-0000-0000-000000000003";
const char* const kSecondary = "dddddddd-0000-0000-0000-000000000004";
const char* const kAction = "eeeeeeee-0000-0000-0000-000000000005";
const char* const kOther = "ffffffff-0000-0000-0000-000000000006";

// A node directory for one test; the configuration service and the authorizer start over in it.
class NodeHome {
  public:
    NodeHome() {
        setenv("QMXPL_HOME", dir_.Path().c_str(), 1);
        mkdir((dir_.Path() + "/conf").c_str(), 0700);
    }
    ~NodeHome() {
        AuthorizerImpl::ResetForTesting();
        QmXplConfig::ConfigService_t::WaitUntilIdle(10000);
    }
    void Config(const std::string& text) { dir_.Write("conf/config.ini", text); }
    std::string PolicyDir() const { return dir_.Path() + "/data/policies/mgrconf"; }
    void Policy(const std::string& name, const std::string& text) {
        dir_.Write("data/policies/mgrconf/" + name, text);
    }
    // Makes the service and the authorizer see this directory as it is now.
    void Start() {
        QmXplConfig::ConfigService_t::ReloadAll();
        QmXplConfig::ConfigService_t::WaitUntilIdle(10000);
        AuthorizerImpl::ResetForTesting();
    }
    const qmsec_test::TempDir& Dir() const { return dir_; }

  private:
    qmsec_test::TempDir dir_;
};

std::string Header(const std::string& name, const std::string& dataFile,
                   const std::string& status = "enabled") {
    return "<header><policy><name>" + name + "</name><status>" + status +
           "</status><files><data><file_name>" + dataFile +
           "</file_name></data></files></policy></header>";
}

std::string Managers(const std::string& defaultId, const std::string& secondaryId,
                     const std::string& actionId) {
    return "RESPMGRCONFIGS\n  RESPMGRCONFIG\n    RESPMGRCFGID \"cfg\"\n    DESCRIPTION "
           "\"managers\"\n"
           "    DEFAULTMANAGER NODE IP 10.0.0.1 \"def\" ID \"" +
           defaultId +
           "\"\n    SECONDARYMANAGERS\n      SECONDARYMANAGER NODE IP 10.0.0.2 \"sec\" ID \"" +
           secondaryId +
           "\"\n      SECONDARYMANAGER NODE IP 10.0.0.9 \"noid\"\n"
           "    ACTIONALLOWMANAGERS\n      ACTIONALLOWMANAGER NODE IP 10.0.0.3 \"act\" ID \"" +
           actionId + "\"\n";
}

const std::string kMappings =
    std::string("[sec.core]\nCORE_ID=") + kLocal +
    "\nlocalsvc=3\n"
    "[sec.core.auth]\nMANAGER_ID=" +
    kManager +
    "\n"
    "[sec.core.auth.mapping.manager]\nsvc.a=1\nsvc.b=2\n"
    "[sec.core.auth.mapping.default]\nsvc.a=16\n"
    "[sec.core.auth.mapping.secondary]\nsvc.a=12\nsvc.hex=0x10\nsvc.word=abc\n"
    "[sec.core.auth.mapping.actionallow]\nsvc.c=64\n";

TEST(AuthorizerTest, WithoutPolicyDirectoryOnlyLocalNodeAndManagerAreMapped) {
    NodeHome home;
    home.Config(kMappings);
    home.Start();
    TraceCapture capture("sec.core.auth=0xffffffff");
    Authorizer a;
    EXPECT_EQ(a.GetRights(String_t(kManager), String_t("svc.a")), 1u);
    EXPECT_EQ(a.GetRights(String_t(kManager), String_t("svc.b")), 2u);
    // The local node gets all five mappings, "sec.core" included.
    EXPECT_EQ(a.GetRights(String_t(kLocal), String_t("svc.a")), 1u | 16u | 12u);
    EXPECT_EQ(a.GetRights(String_t(kLocal), String_t("localsvc")), 3u);
    EXPECT_EQ(a.GetRights(String_t(kLocal), String_t("svc.c")), 64u);
    EXPECT_EQ(a.GetRights(String_t(kOther), String_t("svc.a")), 0u);
    EXPECT_TRUE(capture.Contains("No authorization policies will be processed. Directory " +
                                 home.PolicyDir() + " does not exist."));
    EXPECT_TRUE(capture.Contains(std::string("Added right 0xffffffff to internal entity '") +
                                 kLocal + "' (the local QmCoreId)."));
    EXPECT_TRUE(capture.Contains(std::string("Added right 0x1 to internal entity '") + kManager +
                                 "' (authorization manager)."));
}

TEST(AuthorizerTest, LocalNodeIsAllowedEverythingButGetRightsShowsOnlyMappings) {
    NodeHome home;
    home.Config(std::string("[sec.core]\nCORE_ID=") + kLocal + "\n");
    home.Start();
    Authorizer a;
    EXPECT_TRUE(
        a.IsAllowed(String_t(kLocal), String_t("anything"), 0xFFFFFFFFu, Authorizer::CHECK_ALL));
    EXPECT_TRUE(a.IsAllowed(String_t(kLocal), String_t("x"), 0u, Authorizer::CHECK_ANY));
    EXPECT_EQ(a.GetRights(String_t(kLocal), String_t("anything")), 0u);
    EXPECT_FALSE(a.IsAllowed(String_t(kOther), String_t("anything"), 1u, Authorizer::CHECK_ALL));
}

TEST(AuthorizerTest, CheckModesAndRightsZero) {
    NodeHome home;
    home.Config(kMappings);
    home.Start();
    Authorizer a;
    String_t mgr(kManager), svcA("svc.a"), svcB("svc.b");
    EXPECT_TRUE(a.IsAllowed(mgr, svcA, 1u, Authorizer::CHECK_ALL));
    EXPECT_FALSE(a.IsAllowed(mgr, svcA, 3u, Authorizer::CHECK_ALL));
    EXPECT_TRUE(a.IsAllowed(mgr, svcA, 3u, Authorizer::CHECK_ANY));
    EXPECT_FALSE(a.IsAllowed(mgr, svcB, 1u, Authorizer::CHECK_ANY));
    // Rights 0: granted under CHECK_ALL, refused under CHECK_ANY, when the key exists.
    EXPECT_TRUE(a.IsAllowed(mgr, svcA, 0u, Authorizer::CHECK_ALL));
    EXPECT_FALSE(a.IsAllowed(mgr, svcA, 0u, Authorizer::CHECK_ANY));
    EXPECT_FALSE(a.IsAllowed(mgr, String_t("nokey"), 0u, Authorizer::CHECK_ALL));
    // Any mode other than 1 checks all.
    EXPECT_FALSE(a.IsAllowed(mgr, svcA, 3u, static_cast<Authorizer::CheckMode>(7)));
}

TEST(AuthorizerTest, PoliciesGiveRolesAndRightsFromSeveralRolesAreOred) {
    NodeHome home;
    home.Config(kMappings);
    home.Policy("one.xml", Header("first", "one.dat"));
    home.Policy("one.dat", Managers(kDefault, kSecondary, kAction));
    // The same node as default manager of one policy and secondary manager of another.
    home.Policy("two.xml", Header("second", "two.dat"));
    home.Policy("two.dat", Managers(kSecondary, kDefault, kAction));
    home.Start();
    TraceCapture capture("sec.core.auth=0xffffffff");
    Authorizer a;
    // default (16) and secondary (12) mappings of svc.a, ORed.
    EXPECT_EQ(a.GetRights(String_t(kDefault), String_t("svc.a")), 16u | 12u);
    EXPECT_EQ(a.GetRights(String_t(kSecondary), String_t("svc.a")), 16u | 12u);
    EXPECT_EQ(a.GetRights(String_t(kAction), String_t("svc.c")), 64u);
    // A mapping value in hexadecimal or text counts 0.
    EXPECT_EQ(a.GetRights(String_t(kSecondary), String_t("svc.hex")), 0u);
    EXPECT_EQ(a.GetRights(String_t(kSecondary), String_t("svc.word")), 0u);
    EXPECT_TRUE(
        capture.Contains("Skippend node 'noid' with IP 0xa000009. No ID is defined (right 0x20)!"));
    EXPECT_TRUE(capture.Contains(std::string("Added right 0x10 to internal entity '") + kDefault +
                                 "' (node 'def', IP 0xa000001)."));
    EXPECT_TRUE(capture.Contains(std::string("Added rights 0xc to consumer entity '") + kSecondary +
                                 "' for namespace 'svc.a'."));
    EXPECT_TRUE(
        capture.Contains(std::string("Internal entitiy '") + kAction + "' has rights 0x40"));
    EXPECT_TRUE(capture.Contains("*** End of internal rights map dump (5 internal entities)"));
}

TEST(AuthorizerTest, ConsumerRightsBelongToTheEntityAndConsumerPair) {
    // Joined texts would make every row below share the one entry of ("ab", "c").
    NodeHome home;
    home.Config("[sec.core.auth]\nMANAGER_ID=ab\n[sec.core.auth.mapping.manager]\nc=5\nbc=8\n");
    home.Start();
    Authorizer a;
    const struct {
        const char* entity;
        const char* consumer;
        unsigned int rights;
    } cases[] = {
        {"ab", "c", 5u}, {"ab", "bc", 8u}, {"a", "bc", 0u}, {"a", "bbc", 0u},
        {"", "abc", 0u}, {"", "ab", 0u},   {"abc", "", 0u}, {"ab", "", 0u},
    };
    for (const auto& c : cases) {
        String_t entity(c.entity), consumer(c.consumer);
        EXPECT_EQ(a.GetRights(entity, consumer), c.rights) << c.entity << " / " << c.consumer;
        EXPECT_EQ(a.IsAllowed(entity, consumer, 1u, Authorizer::CHECK_ANY), (c.rights & 1u) != 0)
            << c.entity << " / " << c.consumer;
        // An empty entity never holds rights, not even the empty request.
        String_t joined(std::string(c.entity) + c.consumer);
        EXPECT_FALSE(a.IsAllowed(String_t(""), joined, 0u, Authorizer::CHECK_ALL)) << c.consumer;
    }
}

// The snapshot holds both tables as GetRights answers from them, entity and consumer apart, and
// the problems of the last rebuild.
TEST(AuthorizerTest, SnapshotHoldsTheTablesAndTheProblems) {
    using Entities = std::vector<std::pair<std::string, unsigned int>>;
    using Rights = std::vector<std::tuple<std::string, std::string, unsigned int>>;
    const struct {
        const char* name;
        std::string config;
        std::vector<std::pair<std::string, std::string>> policies;
        Entities entities;
        Rights rights;
        const char* problem;  // part of the one problem text; null when there is none
    } cases[] = {
        {"roles from configuration and policy",
         "[sec.core]\nCORE_ID=L\n[sec.core.auth]\nMANAGER_ID=M\n"
         "[sec.core.auth.mapping.manager]\nsvc=1\n[sec.core.auth.mapping.default]\nsvc=16\n"
         "[sec.core.auth.mapping.secondary]\nsvc=12\n",
         {{"p.xml", Header("p", "p.dat")}, {"p.dat", Managers("D", "S", "A")}},
         {{"A", 0x40}, {"D", 0x10}, {"L", 0xFFFFFFFFu}, {"M", 0x01}, {"S", 0x20}},
         // "sec.core" maps its own CORE_ID to this node; the action-allowed mapping is empty.
         {{"D", "svc", 16},
          {"L", "CORE_ID", 0},
          {"L", "svc", 29},
          {"M", "svc", 1},
          {"S", "svc", 12}},
         nullptr},
        {"names that run together, and a broken policy",
         "[sec.core]\nCORE_ID=a\nbc=3\n[sec.core.auth]\nMANAGER_ID=ab\n"
         "[sec.core.auth.mapping.manager]\nc=5\n",
         {{"broken.xml", "<header><policy>"}},
         {{"a", 0xFFFFFFFFu}, {"ab", 0x01}},
         {{"a", "CORE_ID", 0}, {"a", "bc", 3}, {"a", "c", 5}, {"ab", "c", 5}},
         "broken.xml"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NodeHome home;
        home.Config(c.config);
        for (const auto& [name, text] : c.policies) home.Policy(name, text);
        home.Start();
        const QmSecAuth::AuthorizerSnapshot snapshot = Authorizer().GetSnapshot();
        EXPECT_EQ(snapshot.policyDirectory.ToUtf8(), home.PolicyDir());
        Entities entities;
        for (const auto& e : snapshot.entities) entities.emplace_back(e.id.ToUtf8(), e.rights);
        EXPECT_EQ(entities, c.entities);
        Rights rights;
        for (const auto& r : snapshot.consumerRights)
            rights.emplace_back(r.entity.ToUtf8(), r.consumer.ToUtf8(), r.rights);
        EXPECT_EQ(rights, c.rights);
        if (!c.problem) {
            EXPECT_TRUE(snapshot.problems.empty());
        } else {
            ASSERT_EQ(snapshot.problems.size(), 1u);
            EXPECT_NE(snapshot.problems[0].ToUtf8().find(c.problem), std::string::npos)
                << snapshot.problems[0].ToUtf8();
        }
    }
}

TEST(AuthorizerTest, BadPolicyFilesNeverStopTheScanOrReachTheCaller) {
    NodeHome home;
    home.Config(kMappings);
    home.Policy("a_disabled.xml", Header("off", "a.dat", "DisAbled"));
    home.Policy("a.dat", Managers(kOther, kOther, kOther));
    home.Policy("b_missing_data.xml", Header("missing", "nothere.dat"));
    home.Policy("c_malformed.xml", "<header><policy></header>");
    home.Policy("d_no_file_name.xml", "<header><policy><name>n</name></policy></header>");
    home.Policy("e_syntax.xml", Header("syntax", "e.dat"));
    home.Policy("e.dat",
                "RESPMGRCONFIGS\n  RESPMGRCONFIG\n    DEFAULTMANAGER NODE IP 1.2.3.4 ID\n");
    home.Policy("f_escape.xml", Header("escape", "../../../conf/config.ini"));
    // A header that cannot be opened, whoever runs the test: a link to nothing.
    const std::string unopenable = home.PolicyDir() + "/g_unopenable.xml";
    std::filesystem::create_symlink(home.PolicyDir() + "/gone.xml", unopenable);
    home.Policy("z_good.xml", Header("good", "z.dat"));
    home.Policy("z.dat", Managers(kDefault, kSecondary, kAction));
    home.Policy("notes.txt", "not a header");
    home.Start();
    TraceCapture capture("sec.core.auth=0xffffffff");
    Authorizer a;
    // The good policy after all the bad ones still counts; the disabled one contributes nothing.
    EXPECT_EQ(a.GetRights(String_t(kDefault), String_t("svc.a")), 16u);
    EXPECT_EQ(a.GetRights(String_t(kOther), String_t("svc.a")), 0u);
    EXPECT_TRUE(capture.Contains("Skipping disabled policy 'off' (file: a.dat)."));
    std::string all;
    for (auto& t : capture.Texts()) all += t + "\n";
    EXPECT_NE(all.find("Unexpected exception while reading authorization policies"),
              std::string::npos);
    EXPECT_NE(all.find("No such file."), std::string::npos);                    // message 4
    EXPECT_NE(all.find("Could not parse policy header '"), std::string::npos);  // message 2
    EXPECT_NE(all.find("Invalid policy header. Missing name of policy data file."),
              std::string::npos);                                           // 66 in 3
    EXPECT_NE(all.find("Syntax error in line 3 near"), std::string::npos);  // message 6
    EXPECT_NE(all.find("(as defined in policy header file '" + home.PolicyDir() +
                       "/f_escape.xml') does not lie in the policy directory."),
              std::string::npos);  // message 177
    EXPECT_EQ(all.find("Reading file '" + home.PolicyDir() + "/../../../conf/config.ini"),
              std::string::npos);
    // Opened three times: two retry traces, each with its own text, and one error.
    const std::string head = "Could not open policy header '" + unopenable + "' (Exception '";
    std::vector<std::string> retries = capture.Matching(head);
    ASSERT_EQ(retries.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        std::string tail = "'). Trying again (" + std::to_string(2 - i) + " more times) ...";
        EXPECT_EQ(retries[i].rfind(head, 0), 0u) << retries[i];
        EXPECT_TRUE(retries[i].size() > tail.size() &&
                    retries[i].compare(retries[i].size() - tail.size(), tail.size(), tail) == 0)
            << retries[i];
    }
    // Message 1, once in the list of problems.
    std::vector<std::string> lists = capture.Matching("[sec.core 8] Unexpected exception");
    ASSERT_FALSE(lists.empty());
    const std::string& list = lists.back();
    const std::string error = "[sec.core 1] Could not open policy header '" + unopenable + "'.";
    size_t first = list.find(error);
    EXPECT_NE(first, std::string::npos) << list;
    EXPECT_EQ(list.find(error, first + 1), std::string::npos) << list;
}

// Data files by relative path, links and size: inside the policy directory only, and never
// larger than the reader is meant to take.
TEST(AuthorizerTest, DataFilesAreReadOnlyFromInsideThePolicyDirectory) {
    NodeHome home;
    home.Config(kMappings);
    const std::string outside =
        home.Dir().Write("data/elsewhere.dat", Managers(kOther, kOther, kOther));
    home.Policy("a_sub.xml", Header("sub", "sub/site.dat"));
    home.Policy("sub/site.dat", Managers(kDefault, kSecondary, kAction));
    home.Policy("b_absolute.xml", Header("absolute", outside));
    home.Policy("c_climbs.xml", Header("climbs", "sub/../../elsewhere.dat"));
    home.Policy("d_link_out.xml", Header("link out", "out.dat"));
    std::filesystem::create_symlink(outside, home.PolicyDir() + "/out.dat");
    home.Policy("e_big_data.xml", Header("big data", "big.dat"));
    home.Policy("big.dat", "");
    std::filesystem::resize_file(home.PolicyDir() + "/big.dat", (64u << 20) + 1);
    home.Policy("f_big_header.xml", Header("big header", "big.dat") + std::string(1u << 20, ' '));
    home.Start();
    TraceCapture capture("sec.core.auth=0xffffffff");
    Authorizer a;
    EXPECT_EQ(a.GetRights(String_t(kDefault), String_t("svc.a")), 16u);  // sub/site.dat was read
    EXPECT_EQ(a.GetRights(String_t(kOther), String_t("svc.a")), 0u);     // nothing from outside
    std::string all;
    for (auto& t : capture.Texts()) all += t + "\n";
    for (const char* header : {"b_absolute.xml", "c_climbs.xml", "d_link_out.xml"}) {
        EXPECT_NE(all.find("(as defined in policy header file '" + home.PolicyDir() + "/" + header +
                           "') does not lie in the policy directory."),
                  std::string::npos)
            << header;
    }
    EXPECT_EQ(all.find("Failure while parsing policy header '" + home.PolicyDir() + "/b_"),
              std::string::npos);
    EXPECT_NE(all.find("The file has 67108865 bytes, more than the 67108864 bytes (64 MiB) a "
                       "policy data file may have."),
              std::string::npos);
    EXPECT_NE(all.find("Failure while parsing policy header '" + home.PolicyDir() +
                       "/f_big_header.xml'."),
              std::string::npos);
    EXPECT_NE(all.find("The policy header is larger than 1048576 bytes (1 MiB)."),
              std::string::npos);
}

TEST(AuthorizerTest, UpdateRebuildsFromTheCurrentFiles) {
    NodeHome home;
    home.Config(kMappings);
    home.Start();
    Authorizer a;
    EXPECT_EQ(a.GetRights(String_t(kDefault), String_t("svc.a")), 0u);
    home.Policy("p.xml", Header("p", "p.dat"));
    home.Policy("p.dat", Managers(kDefault, kSecondary, kAction));
    a.Update();  // policy changes are picked up when a caller asks for it
    EXPECT_EQ(a.GetRights(String_t(kDefault), String_t("svc.a")), 16u);
    Authorizer second;  // a later Authorizer shares the tables and does not rebuild them
    EXPECT_EQ(second.GetRights(String_t(kDefault), String_t("svc.a")), 16u);
}

TEST(AuthorizerTest, ManagerChangeMadeByAnotherProcessReachesTheTables) {
    NodeHome home;
    home.Config(kMappings);
    home.Start();
    Authorizer a;
    ASSERT_EQ(a.GetRights(String_t(kOther), String_t("svc.b")), 0u);
    std::string conf = home.Dir().File("conf/config.ini");
    std::string edited = kMappings;
    edited.replace(edited.find(kManager), std::string(kManager).size(), kOther);
    pid_t child = fork();
    if (child == 0) {
        // Another process edits the file with the usual write-then-rename.
        std::ofstream(conf + ".new") << edited;
        _exit(rename((conf + ".new").c_str(), conf.c_str()) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (a.GetRights(String_t(kOther), String_t("svc.b")) != 2u &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(a.GetRights(String_t(kOther), String_t("svc.b")), 2u);
    EXPECT_EQ(a.GetRights(String_t(kManager), String_t("svc.b")), 0u);
}

TEST(AuthorizerTest, LocalNodeShortcutFollowsTheConfigurationInMemory) {
    NodeHome home;
    home.Config(kMappings);
    home.Start();
    Authorizer a;
    EXPECT_TRUE(a.IsAllowed(String_t(kLocal), String_t("x"), 1u, Authorizer::CHECK_ALL));
    QmXplConfig::ConfigNamespace_t(String_t("sec.core"))
        .SetValue(String_t("CORE_ID"), String_t(kOther));
    ASSERT_TRUE(QmXplConfig::ConfigService_t::WaitUntilIdle(10000));
    EXPECT_TRUE(a.IsAllowed(String_t(kOther), String_t("x"), 1u, Authorizer::CHECK_ALL));
    EXPECT_FALSE(a.IsAllowed(String_t(kLocal), String_t("x"), 1u, Authorizer::CHECK_ALL));
}

TEST(AuthorizerTest, TracesParametersAndAnswers) {
    NodeHome home;
    home.Config(kMappings);
    home.Start();
    Authorizer a;
    TraceCapture capture("sec.core.auth=9");
    a.IsAllowed(String_t(kManager), String_t("svc.a"), 1u, Authorizer::CHECK_ANY);
    a.GetRights(String_t(kManager), String_t("svc.b"));
    a.GetRights(String_t(kOther), String_t("svc.b"));
    std::string m(kManager), o(kOther);
    EXPECT_TRUE(capture.Contains("Parameters: IsAllowed(" + m + ", svc.a, 0x1, 0x1)"));
    EXPECT_TRUE(
        capture.Contains("AuthorizerImpl::IsAllowed(" + m + ", svc.a, 0x1) returns 'true'"));
    EXPECT_TRUE(capture.Contains("Parameters: GetRights(" + m + ", svc.b)"));
    EXPECT_TRUE(capture.Contains("AuthorizerImpl::GetRights(" + m + ", svc.b) returns 0x2"));
    EXPECT_TRUE(capture.Contains("AuthorizerImpl::GetRights(" + o + ", svc.b) returns 0x0"));
}

TEST(AuthorizerTest, EmptyHandleThrowsIllegalState) {
    NodeHome home;
    home.Start();
    Authorizer a;
    static_cast<QmSecCore::Object&>(a) = QmSecCore::Object();
    EXPECT_THROW(a.Update(), QmXplMsg::IllegalStateError_t);
    EXPECT_THROW(a.GetRights(String_t("a"), String_t("b")), QmXplMsg::IllegalStateError_t);
    EXPECT_THROW(a.GetSnapshot(), QmXplMsg::IllegalStateError_t);
}

TEST(AuthorizerTest, ConcurrentReadersSeeOnlyAnswersBeforeOrAfterAnUpdate) {
    NodeHome home;
    home.Config(kMappings);
    home.Policy("p.xml", Header("p", "p.dat"));
    home.Policy("p.dat", Managers(kDefault, kSecondary, kAction));
    home.Start();
    Authorizer a;
    const QmSecAuth::AuthorizerSnapshot whole = a.GetSnapshot();
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0}, calls{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            Authorizer mine;
            while (!stop) {
                unsigned r = mine.GetRights(String_t(kDefault), String_t("svc.a"));
                bool ok = mine.IsAllowed(String_t(kSecondary), String_t("svc.a"), 12u,
                                         Authorizer::CHECK_ALL);
                QmSecAuth::AuthorizerSnapshot tables = mine.GetSnapshot();
                // Before or after an update: the same tables; never a half-built one.
                if (r != 16u || !ok || tables.entities.size() != whole.entities.size() ||
                    tables.consumerRights.size() != whole.consumerRights.size())
                    ++bad;
                ++calls;
            }
        });
    }
    // At least 30 updates, and on until the readers have made a good number of calls in between
    // (on a loaded machine they may start late).
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (int i = 0; i < 30 || (calls < 2000 && std::chrono::steady_clock::now() < deadline); ++i)
        a.Update();
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(calls.load(), 0);
}

}  // namespace
