// Namespaces read from the node's files: snapshots, resource groups, editing and bad input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <climits>

#include "ConfigTestSupport.h"
#include "QmXpl/IOException_t.h"
#include "QmXpl/Message_t.h"
#include "config/ConfigService.h"
#include "support/TraceCapture.h"

using namespace configtest;
using QmXplIo::IOException_t;
using QmXplMsg::IllegalArgumentError_t;

namespace {

// Built before main, like the static namespaces of a library: that must neither read a file nor
// start a thread. Whether a thread was started is noted right after, still before main.
ConfigNamespace_t staticCore("sec.core");
ConfigNamespace_t staticAuth(String_t("sec.core.auth"), String_t("grp"));
const int threadsAfterStaticConstruction = CountThreadsNamed("qmxpl-config");

std::vector<std::pair<std::string, std::string>> AttrsOf(const Configuration_t& c) {
    std::vector<std::pair<std::string, std::string>> attrs;
    for (int i = 0; i < c.GetAttrCount(); ++i) {
        String_t name, value;
        EXPECT_TRUE(c.GetAttr(i, name, value));
        attrs.emplace_back(name.ToUtf8(), value.ToUtf8());
    }
    return attrs;
}

using Attrs = std::vector<std::pair<std::string, std::string>>;

class ConfigNamespaceTest : public ::testing::Test {
  protected:
    TempHome home;
};

}  // namespace

TEST_F(ConfigNamespaceTest, StaticNamespacesAreLazy) {
    EXPECT_EQ(threadsAfterStaticConstruction, 0);
    Seed(home.DefaultFile(), "[sec.core]\nCORE_ID=static-node\n");
    // Read from the home of this test: nothing was resolved when the object was built.
    EXPECT_EQ(Utf8(staticCore.Open().GetValue("CORE_ID")), "static-node");
    EXPECT_EQ(CountThreadsNamed("qmxpl-config"), 1);
    EXPECT_EQ(staticCore.GetName(), String_t("sec.core"));
    EXPECT_EQ(staticAuth.GetGroup(), String_t("grp"));
}

TEST_F(ConfigNamespaceTest, ValuesDefaultsAndAbsentKeys) {
    Seed(home.DefaultFile(),
         "[sec.core]\nCORE_ID = node-1 \nEMPTY=\n[sec.core.ssl]\nSESSION_TIMEOUT=60\n");
    ConfigNamespace_t ns("sec.core");
    Configuration_t c = ns.Open();
    EXPECT_EQ(Utf8(c.GetValue("CORE_ID")), "node-1");
    EXPECT_EQ(Utf8(c.GetAttrValue("CORE_ID")), "node-1");
    EXPECT_TRUE(c.GetValue("MISSING").IsNull());
    EXPECT_TRUE(c.GetAttrValue("MISSING").IsNull());
    EXPECT_TRUE(c.GetValue("SESSION_TIMEOUT").IsNull());  // another namespace's key
    EXPECT_TRUE(c.GetValue("core_id").IsNull());          // keys are case-sensitive
    EXPECT_EQ(Utf8(c.GetValue("MISSING", "fallback")), "fallback");
    EXPECT_EQ(Utf8(c.GetValue("CORE_ID", "fallback")), "node-1");
    // Present but empty is not absent.
    EXPECT_FALSE(c.GetValue("EMPTY").IsNull());
    EXPECT_TRUE(c.GetValue("EMPTY").IsEmpty());
    EXPECT_EQ(Utf8(c.GetValue("EMPTY", "fallback")), "");
    EXPECT_EQ(Utf8(ConfigNamespace_t::Open("sec.core.ssl").GetValue("SESSION_TIMEOUT")), "60");
}

TEST_F(ConfigNamespaceTest, MissingFileAndMissingSectionAreEmpty) {
    Configuration_t none = ConfigNamespace_t("sec.core").Open();
    EXPECT_EQ(none.GetAttrCount(), 0);
    EXPECT_TRUE(none.GetValue("CORE_ID").IsNull());
    Configuration_t defaulted;
    EXPECT_EQ(defaulted.GetAttrCount(), 0);
    String_t n("untouched"), v("untouched");
    EXPECT_FALSE(defaulted.GetAttr(0, n, v));
    EXPECT_EQ(Utf8(n), "untouched");

    Seed(home.DefaultFile(), "[other]\nK=v\n");
    EXPECT_EQ(ConfigNamespace_t::Open("sec.core").GetAttrCount(), 0);
    EXPECT_EQ(ConfigNamespace_t::Open("other").GetAttrCount(), 1);
}

TEST_F(ConfigNamespaceTest, AttributesInFileOrderAndAbsentIndices) {
    Seed(home.DefaultFile(), "[sec.core.auth.mapping.manager]\nzeta=1\nalpha=2\nmid=4\nalpha=8\n");
    Configuration_t c = ConfigNamespace_t::Open("sec.core.auth.mapping.manager");
    ASSERT_EQ(c.GetAttrCount(), 3);
    EXPECT_EQ(AttrsOf(c), (Attrs{{"zeta", "1"}, {"alpha", "8"}, {"mid", "4"}}));
    for (int bad : {-1, 3, 4, INT_MAX, INT_MIN}) {
        String_t name("keep"), value("keep");
        EXPECT_FALSE(c.GetAttr(bad, name, value)) << bad;
        EXPECT_EQ(Utf8(name), "keep");
        EXPECT_EQ(Utf8(value), "keep");
    }
}

TEST_F(ConfigNamespaceTest, GroupFallsBackToTheDefaultFileKeyByKey) {
    Seed(home.DefaultFile(),
         "[sec.core.ssl]\nENCRYPTION_LEVEL=FULL\nSESSION_TIMEOUT=7200\nCACHE=on\n"
         "[sec.core]\nCORE_ID=default-id\n");
    Seed(home.GroupFile("web"), "[sec.core.ssl]\nSESSION_TIMEOUT=60\nGROUP_ONLY=g\n");
    Configuration_t web = ConfigNamespace_t::Open("sec.core.ssl", "web");
    // The group's keys first, in its order, then what it takes from the default file.
    EXPECT_EQ(AttrsOf(web), (Attrs{{"SESSION_TIMEOUT", "60"},
                                   {"GROUP_ONLY", "g"},
                                   {"ENCRYPTION_LEVEL", "FULL"},
                                   {"CACHE", "on"}}));
    // A namespace the group file does not have comes entirely from the default file.
    EXPECT_EQ(Utf8(ConfigNamespace_t::Open("sec.core", "web").GetValue("CORE_ID")), "default-id");
    // A group without a file is the default.
    EXPECT_EQ(Utf8(ConfigNamespace_t::Open("sec.core.ssl", "nofile").GetValue("SESSION_TIMEOUT")),
              "7200");
    // The default namespace never sees the group's keys.
    Configuration_t def = ConfigNamespace_t::Open("sec.core.ssl");
    EXPECT_EQ(Utf8(def.GetValue("SESSION_TIMEOUT")), "7200");
    EXPECT_TRUE(def.GetValue("GROUP_ONLY").IsNull());
    // Null and empty group name the default.
    EXPECT_EQ(AttrsOf(ConfigNamespace_t::Open("sec.core.ssl", "")), AttrsOf(def));
}

TEST_F(ConfigNamespaceTest, SnapshotsDoNotChangeAfterTheyAreTaken) {
    Seed(home.DefaultFile(), "[s]\nA=1\nB=2\n");
    ConfigNamespace_t ns("s");
    Configuration_t before = ns.Open();
    Configuration_t copy = before;
    ns.SetValue("A", "changed");
    ns.RemoveValue("B");
    EXPECT_EQ(Utf8(before.GetValue("A")), "1");
    EXPECT_EQ(Utf8(copy.GetValue("B")), "2");
    EXPECT_EQ(before.GetAttrCount(), 2);
    // The namespace itself shows the change as soon as the call has returned.
    Configuration_t after = ns.Open();
    EXPECT_EQ(Utf8(after.GetValue("A")), "changed");
    EXPECT_TRUE(after.GetValue("B").IsNull());
    EXPECT_EQ(after.GetAttrCount(), 1);
}

TEST_F(ConfigNamespaceTest, SetValueKeepsEveryOtherLineAndReplacesTheFileWhole) {
    const std::string original =
        "# Node configuration - edit with care\n"
        "[sec.core]\n"
        "CORE_ID = abc\n"
        "; historic setting\n"
        "LEGACY=1\n"
        "\n"
        "[sec.core.auth]\n"
        "MANAGER_ID=mgr-1\n";
    Seed(home.DefaultFile(), original);
    chmod(home.DefaultFile().c_str(), 0640);
    // A reader that has the old file open keeps reading the old file, whole.
    const int oldFile = open(home.DefaultFile().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(oldFile, 0);
    ConfigNamespace_t ns("sec.core.auth");
    ns.SetValue("MANAGER_ID", "mgr-2");
    ns.SetValue("NEW_KEY", "x=y");
    EXPECT_EQ(ReadFile(home.DefaultFile()),
              "# Node configuration - edit with care\n"
              "[sec.core]\n"
              "CORE_ID = abc\n"
              "; historic setting\n"
              "LEGACY=1\n"
              "\n"
              "[sec.core.auth]\n"
              "MANAGER_ID=mgr-2\n"
              "NEW_KEY=x=y\n");
    // Replaced by a new file (never rewritten in place), with the old permissions, and no
    // temporary left beside it.
    std::string oldText(original.size() + 16, '\0');
    oldText.resize(static_cast<size_t>(
        std::max<ssize_t>(0, pread(oldFile, oldText.data(), oldText.size(), 0))));
    struct stat oldSt {};
    ASSERT_EQ(fstat(oldFile, &oldSt), 0);
    close(oldFile);
    EXPECT_EQ(oldText, original);
    EXPECT_NE(oldSt.st_ino, InodeOf(home.DefaultFile()));
    struct stat st {};
    ASSERT_EQ(stat(home.DefaultFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    for (const std::string& name : ListDirectory(home.Conf()))
        EXPECT_TRUE(name == "config.ini" || name == ".config.ini.lock") << name;
    // Setting what is already there writes nothing.
    const ino_t inodeNow = InodeOf(home.DefaultFile());
    ns.SetValue("MANAGER_ID", "mgr-2");
    EXPECT_EQ(InodeOf(home.DefaultFile()), inodeNow);
}

TEST_F(ConfigNamespaceTest, SetValueCreatesMissingDirectoriesAndFile) {
    ASSERT_FALSE(Exists(home.Conf()));
    ConfigNamespace_t ns("sec.core");
    EXPECT_EQ(ns.Open().GetAttrCount(), 0);
    ns.SetValue("CORE_ID", "\xE2\x82\xAC-node");  // a UTF-8 value
    EXPECT_EQ(ReadFile(home.DefaultFile()), "[sec.core]\nCORE_ID=\xE2\x82\xAC-node\n");
    EXPECT_EQ(ns.Open().GetValue("CORE_ID"), String_t(u"\u20AC-node"));

    ConfigNamespace_t group("sec.core.ssl", "batch");
    group.SetValue("SESSION_TIMEOUT", "30");
    EXPECT_EQ(ReadFile(home.GroupFile("batch")), "[sec.core.ssl]\nSESSION_TIMEOUT=30\n");
    // The default file is not touched by a group's value.
    EXPECT_EQ(ReadFile(home.DefaultFile()), "[sec.core]\nCORE_ID=\xE2\x82\xAC-node\n");
}

TEST_F(ConfigNamespaceTest, RemovingAGroupValueFallsBackToTheDefault) {
    Seed(home.DefaultFile(), "[sec.core.ssl]\nENCRYPTION_LEVEL=FULL\n");
    Seed(home.GroupFile("g"), "[sec.core.ssl]\nENCRYPTION_LEVEL=BEST\n");
    ConfigNamespace_t group("sec.core.ssl", "g");
    EXPECT_EQ(Utf8(group.Open().GetValue("ENCRYPTION_LEVEL")), "BEST");
    group.RemoveValue("ENCRYPTION_LEVEL");
    EXPECT_EQ(Utf8(group.Open().GetValue("ENCRYPTION_LEVEL")), "FULL");
    EXPECT_EQ(ReadFile(home.GroupFile("g")), "[sec.core.ssl]\n");
    EXPECT_EQ(ReadFile(home.DefaultFile()), "[sec.core.ssl]\nENCRYPTION_LEVEL=FULL\n");
    // Removing what is not there leaves the file alone.
    const ino_t inode = InodeOf(home.GroupFile("g"));
    group.RemoveValue("ENCRYPTION_LEVEL");
    EXPECT_EQ(InodeOf(home.GroupFile("g")), inode);
}

TEST_F(ConfigNamespaceTest, BadNamesKeysAndValuesAreRefusedAndNothingIsWritten) {
    Seed(home.DefaultFile(), "[s]\nA=1\n");
    const std::string before = ReadFile(home.DefaultFile());
    ConfigNamespace_t ns("s");
    for (const String_t& key :
         {String_t(""), String_t(" A"), String_t("A "), String_t("A=B"), String_t("#A"),
          String_t(";A"), String_t("[A"), String_t("A\nB"), String_t("A\tB")}) {
        EXPECT_THROW(ns.SetValue(key, "v"), IllegalArgumentError_t) << Utf8(key);
        EXPECT_THROW(ns.RemoveValue(key), IllegalArgumentError_t) << Utf8(key);
    }
    // A line break would smuggle a section or key of its own into the file.
    for (const String_t& value : {String_t("1\n[sec.core]\nCORE_ID=evil"), String_t("a\rb"),
                                  String_t(" padded"), String_t("padded\t"), String_t()}) {
        EXPECT_THROW(ns.SetValue("A", value), IllegalArgumentError_t) << Utf8(value);
    }
    EXPECT_THROW(ns.SetValue("A", String_t(std::u16string(u"a\0b", 3))), IllegalArgumentError_t);
    EXPECT_EQ(ReadFile(home.DefaultFile()), before);
    EXPECT_EQ(Utf8(ns.Open().GetValue("A")), "1");

    // Names are checked on first use, not when the object is built.
    for (const char* name : {"", "a]b", "[a", " a", "a\n"}) {
        ConfigNamespace_t bad(name);
        EXPECT_THROW(bad.Open(), IllegalArgumentError_t) << name;
        EXPECT_THROW(ConfigNamespace_t::Open(name), IllegalArgumentError_t) << name;
    }
    // A group is a directory under conf/ and must stay there.
    for (const char* group : {"..", ".", "../outside", "a/b", "/abs"}) {
        ConfigNamespace_t bad("s", group);
        EXPECT_THROW(bad.Open(), IllegalArgumentError_t) << group;
        EXPECT_THROW(bad.SetValue("K", "v"), IllegalArgumentError_t) << group;
    }
    EXPECT_FALSE(Exists(home.Path() + "/config.ini"));
    EXPECT_FALSE(Exists(home.Conf() + "/a"));
    EXPECT_THROW(ns.Register(nullptr), IllegalArgumentError_t);
}

TEST_F(ConfigNamespaceTest, SetValueFailureThrowsWithTheSystemErrorAndChangesNothing) {
    // conf is a file here, so no directory or file can be made in it.
    Seed(home.Conf(), "not a directory\n");
    ConfigNamespace_t ns("s");
    EXPECT_EQ(ns.Open().GetAttrCount(), 0);
    try {
        ns.SetValue("K", "v");
        FAIL() << "SetValue wrote into a file";
    } catch (const IOException_t& e) {
        EXPECT_NE(std::string(e.what()).find("Not a directory"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadFile(home.Conf()), "not a directory\n");
    EXPECT_EQ(ns.Open().GetAttrCount(), 0);
}

TEST_F(ConfigNamespaceTest, AFileThatCannotBeReadIsAnErrorNeverAnEmptyConfiguration) {
    qmsec_test::TraceCapture trace("qmxpl.config=2");
    // A directory where the file should be, a FIFO as a group's file (a reader must not wait for
    // a writer that never comes), and a file over the size limit.
    ASSERT_EQ(mkdir(home.Conf().c_str(), 0755), 0);
    ASSERT_EQ(mkdir(home.DefaultFile().c_str(), 0755), 0);
    ASSERT_EQ(mkdir((home.Conf() + "/fifo").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(home.GroupFile("fifo").c_str(), 0644), 0);
    WriteFile(home.GroupFile("big"), "[s]\nK=v\n# " + std::string(4 * 1024 * 1024, 'x') + "\n");
    Reread();
    for (const char* group : {"", "fifo", "big"}) {
        EXPECT_THROW(ConfigNamespace_t::Open("s", group), IOException_t) << group;
        // Editing refuses to replace what it could not read.
        EXPECT_THROW(ConfigNamespace_t("s", group).SetValue("K", "w"), IOException_t) << group;
    }
    EXPECT_TRUE(trace.Contains("not a regular file"));
    EXPECT_TRUE(trace.Contains("larger than 4 MiB"));
}

TEST_F(ConfigNamespaceTest, ARunningProcessKeepsTheLastGoodConfiguration) {
    qmsec_test::TraceCapture trace("qmxpl.config=2");
    Seed(home.DefaultFile(), "[s]\nK=v\n");
    ConfigNamespace_t ns("s");
    EXPECT_EQ(Utf8(ns.Open().GetValue("K")), "v");
    WriteFile(home.DefaultFile(), "[s]\n# " + std::string(4 * 1024 * 1024, 'x') + "\n");
    ASSERT_TRUE(WaitFor([&] { return trace.Contains("keeping the configuration"); }));
    EXPECT_EQ(Utf8(ns.Open().GetValue("K")), "v");
    WriteFile(home.DefaultFile(), "[s]\nK=w\n");
    EXPECT_TRUE(WaitFor([&] { return Utf8(ns.Open().GetValue("K")) == "w"; }));
}

TEST_F(ConfigNamespaceTest, SymbolicLinkToTheFileStaysALink) {
    const std::string real = home.Path() + "/managed/real.ini";
    WriteFile(real, "[s]\nA=1\n");
    ASSERT_EQ(mkdir(home.Conf().c_str(), 0755), 0);
    ASSERT_EQ(symlink(real.c_str(), home.DefaultFile().c_str()), 0);
    Reread();
    ConfigNamespace_t ns("s");
    EXPECT_EQ(Utf8(ns.Open().GetValue("A")), "1");
    ns.SetValue("A", "2");
    struct stat st {};
    ASSERT_EQ(lstat(home.DefaultFile().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(real), "[s]\nA=2\n");
    EXPECT_EQ(Utf8(ns.Open().GetValue("A")), "2");
}

TEST_F(ConfigNamespaceTest, ReloadAllReadsTheNewHome) {
    Seed(home.DefaultFile(), "[s]\nA=first\n");
    ConfigNamespace_t ns("s");
    EXPECT_EQ(Utf8(ns.Open().GetValue("A")), "first");
    {
        TempHome other;  // switches $QMXPL_HOME and reloads
        WriteFile(other.DefaultFile(), "[s]\nA=second\n");
        QmXplConfig::ConfigService_t::ReloadAll();
        EXPECT_EQ(Utf8(ns.Open().GetValue("A")), "second");
    }
    Reread();
    EXPECT_EQ(Utf8(ns.Open().GetValue("A")), "first");
}
