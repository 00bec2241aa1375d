// init, config and uuid on a node directory of the test's own.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "cli/CliRunner.h"
#include "cli/MiniJson.h"

namespace qmsec_cli {
namespace {

int Mode(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return -1;
    return static_cast<int>(st.st_mode & 07777);
}

// The form of the library's identifiers: 8-4-4-4-12 lower-case hexadecimal digits, the third
// group starting with 7, the fourth group's first byte below 0x40, the fifth's 0x80 or above.
// (Checked by hand: std::regex trips GCC 12's uninitialised-use warning under sanitizers.)
bool IsUuid(const std::string& s) {
    if (s.size() != 36) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        bool hex = (s[i] >= '0' && s[i] <= '9') || (s[i] >= 'a' && s[i] <= 'f');
        if (dash ? s[i] != '-' : !hex) return false;
    }
    return s[14] == '7' && s[19] >= '0' && s[19] <= '3' && (s[24] >= '8');
}

TEST(CliInit, CreatesCoreIdAndProtectedSecretOnce) {
    Node node;
    Result first = node({"init", "--json"});
    ASSERT_EQ(first.status, 0) << first;
    Json j = Json::Parse(first.out);
    EXPECT_EQ(j["home"].Str(), node.Home());
    EXPECT_TRUE(IsUuid(j["core_id"].Str())) << j["core_id"].Str();
    EXPECT_TRUE(j["core_id_set"].Bool());
    EXPECT_TRUE(j["provider_secret_created"].Bool());
    std::string secret = node.Home() + "/conf/sec/provider.key";
    EXPECT_EQ(j["provider_secret"].Str(), secret);
    EXPECT_EQ(Mode(secret), 0600);
    EXPECT_EQ(Mode(node.Home() + "/conf/sec"), 0700);
    std::string secretBytes = qmsec_test::ReadFile(secret);
    EXPECT_EQ(secretBytes.size(), 32u);

    // The core id is in the configuration, where the library reads it.
    Result id = node({"config", "get", "sec.core", "CORE_ID"});
    ASSERT_EQ(id.status, 0) << id;
    EXPECT_EQ(id.out, j["core_id"].Str() + "\n");

    // Again: everything is kept, above all the secret.
    Result again = node({"--json", "init"});
    ASSERT_EQ(again.status, 0) << again;
    Json k = Json::Parse(again.out);
    EXPECT_EQ(k["core_id"].Str(), j["core_id"].Str());
    EXPECT_FALSE(k["core_id_set"].Bool());
    EXPECT_FALSE(k["provider_secret_created"].Bool());
    EXPECT_EQ(qmsec_test::ReadFile(secret), secretBytes);

    Result text = node({"init"});
    ASSERT_EQ(text.status, 0) << text;
    EXPECT_NE(text.out.find("Core id         " + j["core_id"].Str() + " (kept)"), std::string::npos)
        << text;
}

// A umask of 0 must not leave directories that anyone may write, nor 077 ones that nobody else
// may pass; the two "sec" directories hold secrets and are their owner's alone.
TEST(CliInit, NodeDirectoriesGetTheirModesWhateverTheUmask) {
    for (const char* mask : {"000", "077"}) {
        Node node;
        Result r = node.Shell(std::string("umask ") + mask +
                              " && \"$QMSEC\" init && \"$QMSEC\" config set a K v --group g");
        ASSERT_EQ(r.status, 0) << r;
        for (auto [dir, mode] : {std::pair{"", 0755},
                                 {"/conf", 0755},
                                 {"/conf/g", 0755},
                                 {"/conf/sec", 0700},
                                 {"/data", 0755},
                                 {"/data/sec", 0700},
                                 {"/data/policies", 0755},
                                 {"/data/policies/mgrconf", 0755}})
            EXPECT_EQ(Mode(node.Home() + dir), mode) << "umask " << mask << " " << dir;
    }
}

// Whoever may rename entries of the key store or the policy directory could put their own keys,
// trusted certificates or policies there: such a directory is refused, not used.
TEST(CliInit, DirectoriesOthersMayWriteAreRefused) {
    Node node;
    ASSERT_EQ(node({"init"}).status, 0);
    ASSERT_EQ(node({"keystore", "genkey", "a", "--bits", "1024"}).status, 0);
    const std::string store = node.Home() + "/data/sec/ks";
    const std::string policies = node.Home() + "/data/policies/mgrconf";
    for (int mode : {0770, 0707}) {
        ASSERT_EQ(chmod(store.c_str(), static_cast<mode_t>(mode)), 0);
        Result r = node({"keystore", "list"});
        EXPECT_EQ(r.status, 1) << r;
        EXPECT_NE(r.err.find("[sec.core 178]"), std::string::npos) << r;
    }
    ASSERT_EQ(chmod(store.c_str(), 0700), 0);
    EXPECT_EQ(node({"keystore", "list"}).status, 0);
    ASSERT_EQ(chmod(policies.c_str(), 0777), 0);
    Result dump = node({"authz", "dump"});
    EXPECT_NE(dump.out.find("may be changed by others than its owner"), std::string::npos) << dump;
}

TEST(CliInit, TwoNodesGetDifferentSecretsAndIds) {
    Node a, b;
    ASSERT_EQ(a({"init"}).status, 0);
    ASSERT_EQ(b({"init"}).status, 0);
    EXPECT_NE(qmsec_test::ReadFile(a.Home() + "/conf/sec/provider.key"),
              qmsec_test::ReadFile(b.Home() + "/conf/sec/provider.key"));
    EXPECT_NE(a({"config", "get", "sec.core", "CORE_ID"}).out,
              b({"config", "get", "sec.core", "CORE_ID"}).out);
}

TEST(CliInit, GivenCoreIdIsKeptAndChangedOnlyWithForce) {
    Node node;
    ASSERT_EQ(node({"init", "--core-id", "node-one"}).status, 0);
    Result same = node({"init", "--core-id", "node-one"});
    EXPECT_EQ(same.status, 0) << same;
    Result other = node({"init", "--core-id", "node-two"});
    EXPECT_EQ(other.status, 1) << other;
    EXPECT_NE(other.err.find("already has the core id 'node-one'"), std::string::npos) << other;
    EXPECT_EQ(node({"config", "get", "sec.core", "CORE_ID"}).out, "node-one\n");
    Result forced = node({"init", "--core-id", "node-two", "--force"});
    EXPECT_EQ(forced.status, 0) << forced;
    EXPECT_EQ(node({"config", "get", "sec.core", "CORE_ID"}).out, "node-two\n");
}

TEST(CliInit, RefusesASecretOthersMayReadOrOfTheWrongLength) {
    Node node;
    ASSERT_EQ(node({"init"}).status, 0);
    std::string secret = node.Home() + "/conf/sec/provider.key";
    ASSERT_EQ(chmod(secret.c_str(), 0644), 0);
    Result open = node({"init"});
    EXPECT_EQ(open.status, 1) << open;
    EXPECT_NE(open.err.find("may be read or written by others"), std::string::npos) << open;
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    ASSERT_EQ(truncate(secret.c_str(), 31), 0);
    Result shortSecret = node({"init"});
    EXPECT_EQ(shortSecret.status, 1) << shortSecret;
    EXPECT_NE(shortSecret.err.find("must hold exactly 32 bytes"), std::string::npos) << shortSecret;
    // init never replaces it: the node's private keys could not be read any more.
    EXPECT_EQ(qmsec_test::ReadFile(secret).size(), 31u);
}

TEST(CliConfig, SetGetListUnsetRoundTrip) {
    Node node;
    ASSERT_EQ(node({"config", "set", "app.one", "URL", "https://x/?a=b"}).status, 0);
    ASSERT_EQ(node({"config", "set", "app.one", "EMPTY", ""}).status, 0);
    ASSERT_EQ(node({"config", "set", "app.one", "Name", "Zürich"}).status, 0);
    Result get = node({"config", "get", "app.one", "URL"});
    ASSERT_EQ(get.status, 0) << get;
    EXPECT_EQ(get.out, "https://x/?a=b\n");
    Result list = node({"config", "list", "app.one"});
    ASSERT_EQ(list.status, 0) << list;
    EXPECT_EQ(list.out, "URL=https://x/?a=b\nEMPTY=\nName=Zürich\n");
    Result json = node({"config", "list", "app.one", "--json"});
    ASSERT_EQ(json.status, 0) << json;
    Json j = Json::Parse(json.out);
    EXPECT_EQ(j.Size(), 3u);
    EXPECT_EQ(j["EMPTY"].Str(), "");
    EXPECT_EQ(j["Name"].Str(), "Zürich");
    Result one = node({"--json", "config", "get", "app.one", "EMPTY"});
    EXPECT_EQ(Json::Parse(one.out)["value"].Str(), "");

    ASSERT_EQ(node({"config", "unset", "app.one", "URL"}).status, 0);
    Result gone = node({"config", "get", "app.one", "URL"});
    EXPECT_EQ(gone.status, 1) << gone;
    EXPECT_NE(gone.err.find("has no key 'URL'"), std::string::npos) << gone;
    Result unsetAgain = node({"config", "unset", "app.one", "URL"});
    EXPECT_EQ(unsetAgain.status, 1) << unsetAgain;
    Result empty = node({"config", "list", "no.such.ns", "--json"});
    ASSERT_EQ(empty.status, 0) << empty;
    EXPECT_EQ(Json::Parse(empty.out).Size(), 0u);
    // The file is the node's configuration file, readable by every program.
    std::string ini = qmsec_test::ReadFile(node.Home() + "/conf/config.ini");
    EXPECT_NE(ini.find("[app.one]"), std::string::npos) << ini;
}

TEST(CliConfig, ResourceGroupsFallBackToTheNodesFile) {
    Node node;
    ASSERT_EQ(node({"config", "set", "app", "A", "node"}).status, 0);
    ASSERT_EQ(node({"config", "set", "app", "B", "node"}).status, 0);
    ASSERT_EQ(node({"config", "set", "app", "B", "group", "--group", "g1"}).status, 0);
    EXPECT_EQ(node({"config", "get", "app", "B", "--group", "g1"}).out, "group\n");
    EXPECT_EQ(node({"config", "get", "app", "A", "--group", "g1"}).out, "node\n");
    EXPECT_EQ(node({"config", "get", "app", "B"}).out, "node\n");
    EXPECT_EQ(node({"config", "list", "app", "--group", "g1"}).out, "B=group\nA=node\n");
}

TEST(CliConfig, BadNamesAndValuesFailWithTheLayersMessage) {
    Node node;
    Result badNs = node({"config", "get", "a]b", "K"});
    EXPECT_EQ(badNs.status, 1) << badNs;
    EXPECT_EQ(badNs.err.rfind("ERROR:", 0), 0u) << badNs;
    Result badKey = node({"config", "set", "app", "K=V", "x"});
    EXPECT_EQ(badKey.status, 1) << badKey;
    Result badValue = node({"config", "set", "app", "K", "two\nlines"});
    EXPECT_EQ(badValue.status, 1) << badValue;
    Result badGroup = node({"config", "get", "app", "K", "--group", "../x"});
    EXPECT_EQ(badGroup.status, 1) << badGroup;
    // Bytes that are not UTF-8 would be stored as U+FFFD: something else than was given.
    Result notUtf8 = node({"config", "set", "app", "K", "caf\xe9"});
    EXPECT_EQ(notUtf8.status, 2) << notUtf8;
    // conf/sec holds the node's secret, not a resource group's file.
    Result reserved = node({"config", "set", "app", "K", "v", "--group", "sec"});
    EXPECT_EQ(reserved.status, 1) << reserved;
    EXPECT_EQ(node({"config", "list", "app", "--json"}).out, "{}\n");
    // A file that cannot be read is an error, not an empty configuration.
    node.Write("node/conf/config.ini", "[app]\nK=v\n#" + std::string(5 << 20, 'x') + "\n");
    Result big = node({"config", "get", "app", "K"});
    EXPECT_EQ(big.status, 1) << big;
    EXPECT_NE(big.err.find("larger than 4 MiB"), std::string::npos) << big;
}

TEST(CliConfig, MappingValuesThatAreNotDecimalAreSetWithAWarning) {
    Node node;
    const std::string ns = "sec.core.auth.mapping.secondary";
    const std::pair<std::string, std::string> counted[] = {
        {"0x10", "0"}, {"12abc", "12"}, {"", "0"}, {"99999999999", "4294967295"}};
    for (const auto& [value, rights] : counted) {
        Result set = node({"config", "set", ns, "svc", value});
        EXPECT_EQ(set.status, 0) << set;
        EXPECT_EQ(set.err, "qmsec: warning: '" + value +
                               "' is not a decimal number of at most 32 bits; the authorizer "
                               "counts it as " +
                               rights + " rights.\n");
        EXPECT_EQ(node({"config", "get", ns, "svc"}).out, value + "\n");  // set all the same
    }
    for (const char* value : {"12", "0", "4294967295"})
        EXPECT_EQ(node({"config", "set", ns, "svc", value}).err, "") << value;
    EXPECT_EQ(node({"config", "set", "app", "svc", "0x10"}).err, "");  // not a mapping namespace
}

TEST(CliUuid, GeneratesDistinctIdsOfTheRightForm) {
    Node node;
    Result r = node({"uuid", "-n", "500"});
    ASSERT_EQ(r.status, 0) << r;
    std::set<std::string> ids;
    size_t start = 0;
    while (start < r.out.size()) {
        size_t end = r.out.find('\n', start);
        std::string id = r.out.substr(start, end - start);
        EXPECT_TRUE(IsUuid(id)) << id;
        ids.insert(id);
        start = end + 1;
    }
    EXPECT_EQ(ids.size(), 500u);
    Result one = node({"uuid"});
    ASSERT_EQ(one.status, 0) << one;
    EXPECT_EQ(one.out.size(), 37u);
}

}  // namespace
}  // namespace qmsec_cli
