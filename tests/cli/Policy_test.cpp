// policy check and the authorizer's answers on a node with configuration and policies.
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "cli/CliRunner.h"
#include "cli/MiniJson.h"

namespace qmsec_cli {
namespace {

const std::string kPolicies = std::string(QMSEC_SOURCE_DIR) + "/tests/auth/data/policy/";

TEST(CliPolicy, ValidFileShowsItsManagers) {
    Node node;
    std::string file = node.Write("site.dat",
                                  "RESPMGRCONFIGS\n"
                                  "  RESPMGRCONFIG RESPMGRCFGID \"cfg-1\" DESCRIPTION \"site\"\n"
                                  "    DEFAULTMANAGER NODE IP 10.0.0.1 \"mgr-a\" ID \"id-a\"\n"
                                  "    SECONDARYMANAGERS\n"
                                  "      SECONDARYMANAGER NODE IP 10.0.0.2 \"mgr-b\" ID \"id-b\"\n"
                                  "    ACTIONALLOWMANAGERS\n"
                                  "      ACTIONALLOWMANAGER NODE DEC \"vax\"\n");
    Result r = node({"--json", "policy", "check", file});
    ASSERT_EQ(r.status, 0) << r;
    Json j = Json::Parse(r.out);
    EXPECT_TRUE(j["valid"].Bool());
    ASSERT_EQ(j["configurations"].Size(), 1u);
    const Json& cfg = j["configurations"][0];
    EXPECT_EQ(cfg["id"].Str(), "cfg-1");
    EXPECT_EQ(cfg["description"].Str(), "site");
    EXPECT_EQ(cfg["default_manager"]["name"].Str(), "mgr-a");
    EXPECT_EQ(cfg["default_manager"]["ip"].Str(), "10.0.0.1");
    EXPECT_EQ(cfg["default_manager"]["core_id"].Str(), "id-a");
    EXPECT_EQ(cfg["secondary_managers"][0]["core_id"].Str(), "id-b");
    EXPECT_TRUE(cfg["action_allowed_managers"][0]["core_id"].IsNull());
    EXPECT_EQ(cfg["action_allowed_managers"][0]["name"].Str(), "vax");

    Result text = node({"policy", "check", file});
    ASSERT_EQ(text.status, 0) << text;
    EXPECT_NE(text.out.find(file + ": valid, 1 manager configuration\n"), std::string::npos)
        << text;
    EXPECT_NE(text.out.find("default manager  mgr-a (10.0.0.1) id id-a"), std::string::npos)
        << text;
    EXPECT_NE(text.out.find("vax without id"), std::string::npos) << text;

    Result empty = node({"policy", "check", kPolicies + "edge/empty.dat"});
    EXPECT_EQ(empty.status, 0) << empty;
    EXPECT_NE(empty.out.find("valid, 0 manager configurations"), std::string::npos) << empty;
}

TEST(CliPolicy, SyntaxErrorsNameLineTokenAndCode) {
    Node node;
    std::string file = kPolicies + "errors/err_secondary.dat";
    Result r = node({"policy", "check", file});
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_TRUE(r.out.empty()) << r;
    EXPECT_NE(r.err.find("[sec.core 6] Could not read policy data file '" + file +
                         "'. Syntax error in line 6 near '0x0A000002' (error code: 6)."),
              std::string::npos)
        << r;
    Result json = node({"--json", "policy", "check", file});
    EXPECT_EQ(json.status, 1) << json;
    Json j = Json::Parse(json.out);
    EXPECT_FALSE(j["valid"].Bool());
    EXPECT_EQ(j["error"]["line"].Number(), 6);
    EXPECT_EQ(j["error"]["token"].Str(), "0x0A000002");
    EXPECT_EQ(j["error"]["code"].Number(), 6);
    EXPECT_EQ(j["error"]["meaning"].Str(), "secondary managers");

    // Of two errors the last is reported.
    Result two = node({"--json", "policy", "check", kPolicies + "edge/two_errors.dat"});
    EXPECT_EQ(two.status, 1) << two;
    EXPECT_EQ(Json::Parse(two.out)["error"]["line"].Number(), 7);
}

TEST(CliPolicy, SeveralFilesAreAllCheckedAndAnyFailureFails) {
    Node node;
    std::string good = kPolicies + "edge/node_without_id.dat";
    std::string bad = kPolicies + "errors/err_status_vars.dat";
    std::string missing = node.File("missing.dat");
    Result r = node({"--json", "policy", "check", good, bad, missing});
    EXPECT_EQ(r.status, 1) << r;
    Json j = Json::Parse(r.out);
    ASSERT_EQ(j.Size(), 3u);
    EXPECT_TRUE(j[0]["valid"].Bool());
    EXPECT_FALSE(j[1]["valid"].Bool());
    EXPECT_EQ(j[1]["error"]["code"].Number(), 14);
    EXPECT_FALSE(j[2]["valid"].Bool());
    EXPECT_EQ(j[2]["error"].Str(), "no such file");
    EXPECT_NE(r.err.find("Could not read policy data file '" + missing + "'. No such file."),
              std::string::npos)
        << r;
}

TEST(CliPolicy, OnlyTheFormThatIsPrintedIsBuilt) {
    // Memory that a file of many managers adds to a run, with text and with --json: the text run
    // must not pay for the JSON it does not print.
    Node node;
    auto policy = [&](const std::string& name, int managers) {
        std::string text =
            "RESPMGRCONFIGS\nRESPMGRCONFIG RESPMGRCFGID \"c\" DESCRIPTION \"big\"\n"
            "DEFAULTMANAGER NODE IP 10.1.0.1 \"d\" ID \"d\"\nSECONDARYMANAGERS\n";
        for (int i = 0; i < managers; ++i) {
            text += "SECONDARYMANAGER NODE IP 10.0.0.1 \"m\" ID \"" + std::to_string(i) + "\"\n";
        }
        return node.Write(name, text +
                                    "ACTIONALLOWMANAGERS\nACTIONALLOWMANAGER NODE IP 10.1.0.2 "
                                    "\"a\" ID \"a\"\n");
    };
    std::string small = policy("small.dat", 1), large = policy("large.dat", 20000);
    long growth[2];
    for (bool json : {false, true}) {
        std::vector<std::string> args = {"policy", "check"};
        if (json) args.insert(args.begin(), "--json");
        args.push_back(small);
        Result a = node(args);
        args.back() = large;
        Result b = node(args);
        ASSERT_EQ(a.status, 0) << a;
        ASSERT_EQ(b.status, 0) << b;
        EXPECT_NE(b.out.find(json ? "\"core_id\": \"19999\"" : "m (10.0.0.1) id 19999"),
                  std::string::npos);
        growth[json] = b.maxRssKiB - a.maxRssKiB;
    }
    // Sanitizers keep freed memory and add their own, so the sizes say nothing there.
    if (std::string(QMSEC_SANITIZE).empty()) {
        EXPECT_LT(growth[0] * 4, growth[1])
            << growth[0] << " KiB with text, " << growth[1] << " KiB with JSON";
    }
}

// A node whose configuration the test sets through the tool.
class ConfigNode : public Node {
  public:
    void Set(const std::string& ns, const std::string& key, const std::string& value) {
        Result r = (*this)({"config", "set", ns, key, value});
        ASSERT_EQ(r.status, 0) << r;
    }
};

// A node with this node's id, an authorization manager, mappings and one enabled policy.
class AuthzNode : public ConfigNode {
  public:
    AuthzNode() {
        Set("sec.core", "CORE_ID", kSelf);
        Set("sec.core.auth", "MANAGER_ID", kManager);
        Set("sec.core.auth.mapping.manager", "app.admin", "255");
        Set("sec.core.auth.mapping.default", "app.agent", "12");
        Set("sec.core.auth.mapping.secondary", "app.agent", "3");
        Set("sec.core.auth.mapping.actionallow", "app.actions", "64");
        Write("node/data/policies/mgrconf/site.xml",
              "<header><policy><name>site</name><status>enabled</status><files><data>"
              "<file_name>site.dat</file_name></data></files></policy></header>");
        Write("node/data/policies/mgrconf/site.dat",
              "RESPMGRCONFIGS RESPMGRCONFIG DESCRIPTION \"site\"\n"
              "  DEFAULTMANAGER NODE IP 10.0.0.1 \"a\" ID \"" +
                  kDefault +
                  "\"\n"
                  "  SECONDARYMANAGERS SECONDARYMANAGER NODE IP 10.0.0.2 \"b\" ID \"" +
                  kSecondary +
                  "\"\n"
                  "  ACTIONALLOWMANAGERS ACTIONALLOWMANAGER NODE IP 10.0.0.3 \"c\" ID \"" +
                  kSecondary + "\"\n");
        Write("node/data/policies/mgrconf/off.xml",
              "<header><policy><name>off</name><status>Disabled</status><files><data>"
              "<file_name>off.dat</file_name></data></files></policy></header>");
    }
    const std::string kSelf = "5f0c6a8e-1b2d-4c3e-8f9a-0b1c2d3e4f50";
    const std::string kManager = "2a7d4c1e-9b8f-4e6d-a5c3-1f2e3d4c5b6a";
    const std::string kDefault = "11111111-1111-1111-1111-111111111111";
    const std::string kSecondary = "22222222-2222-2222-2222-222222222222";
};

TEST(CliAuthz, RightsAndChecksFollowRolesAndMappings) {
    AuthzNode node;
    Result manager = node({"authz", "rights", node.kManager, "app.admin"});
    ASSERT_EQ(manager.status, 0) << manager;
    EXPECT_EQ(manager.out, "0xff\n");
    Result json = node({"--json", "authz", "rights", node.kSecondary, "app.agent"});
    ASSERT_EQ(json.status, 0) << json;
    Json j = Json::Parse(json.out);
    EXPECT_EQ(j["rights"].Number(), 3);
    EXPECT_EQ(j["rights_hex"].Str(), "0x3");
    // The secondary manager is also action-allowed: both roles' rights are there.
    EXPECT_EQ(node({"authz", "rights", node.kSecondary, "app.actions"}).out, "0x40\n");
    EXPECT_EQ(node({"authz", "rights", node.kDefault, "app.agent"}).out, "0xc\n");
    EXPECT_EQ(node({"authz", "rights", "nobody", "app.agent"}).out, "0x0\n");

    Result all = node({"authz", "check", node.kDefault, "app.agent", "12"});
    EXPECT_EQ(all.status, 0) << all;
    EXPECT_EQ(all.out, "allowed\n");
    Result partly = node({"authz", "check", node.kDefault, "app.agent", "0x6"});
    EXPECT_EQ(partly.status, 1) << partly;
    EXPECT_EQ(partly.out, "denied\n");
    EXPECT_TRUE(partly.err.empty()) << partly;
    Result any = node({"--json", "authz", "check", node.kDefault, "app.agent", "0x6", "--any"});
    EXPECT_EQ(any.status, 0) << any;
    Json a = Json::Parse(any.out);
    EXPECT_TRUE(a["allowed"].Bool());
    EXPECT_EQ(a["mode"].Str(), "any");
    // The node itself may do anything, mapped or not.
    EXPECT_EQ(node({"authz", "check", node.kSelf, "no.such.consumer", "0xffffffff"}).status, 0);
}

TEST(CliAuthz, DumpShowsTablesRolesAndPolicyProblems) {
    AuthzNode node;
    node.Write("node/data/policies/mgrconf/broken.xml", "<header><policy>");
    Result r = node({"--json", "authz", "dump"});
    ASSERT_EQ(r.status, 0) << r;
    Json j = Json::Parse(r.out);
    EXPECT_EQ(j["policy_directory"].Str(), node.Home() + "/data/policies/mgrconf");
    std::map<std::string, std::pair<long long, std::string>> entities;
    for (size_t i = 0; i < j["entities"].Size(); ++i) {
        const Json& e = j["entities"][i];
        entities[e["entity"].Str()] = {e["rights"].Number(), e["roles"].Str()};
    }
    ASSERT_EQ(entities.size(), 4u) << r.out;
    EXPECT_EQ(entities[node.kSelf].first, 0xffffffffLL);
    EXPECT_EQ(entities[node.kSelf].second, "this node");
    EXPECT_EQ(entities[node.kManager].second, "authorization manager");
    EXPECT_EQ(entities[node.kDefault].first, 0x10);
    EXPECT_EQ(entities[node.kSecondary].first, 0x60);
    EXPECT_EQ(entities[node.kSecondary].second, "secondary manager, action-allowed manager");
    bool found = false;
    for (size_t i = 0; i < j["consumer_rights"].Size(); ++i) {
        const Json& c = j["consumer_rights"][i];
        if (c["entity"].Str() == node.kSecondary && c["consumer"].Str() == "app.agent") {
            EXPECT_EQ(c["rights"].Number(), 3);
            found = true;
        }
    }
    EXPECT_TRUE(found) << r.out;
    ASSERT_EQ(j["problems"].Size(), 1u) << r.out;
    EXPECT_NE(j["problems"][0].Str().find("broken.xml"), std::string::npos) << r.out;
    // The dump writes no trace lines that were not asked for.
    EXPECT_TRUE(r.err.empty()) << r;

    Result text = node({"authz", "dump"});
    ASSERT_EQ(text.status, 0) << text;
    EXPECT_NE(text.out.find("Entities (4):"), std::string::npos) << text;
    // One line per entity and consumer, in columns.
    size_t line = text.out.find("  " + node.kManager + "  app.admin ");
    ASSERT_NE(line, std::string::npos) << text;
    std::string row = text.out.substr(line, text.out.find('\n', line) - line);
    EXPECT_EQ(row.substr(row.size() - 6), "  0xff") << row;
    EXPECT_NE(text.out.find("Problems while reading the policies:"), std::string::npos) << text;
}

TEST(CliAuthz, DumpPassesOnTheTraceLinesThatWereAskedFor) {
    AuthzNode node;
    Result r = node({"--trace", "sec.core.auth=9", "authz", "dump"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_NE(r.err.find("Added right 0x1 to internal entity '" + node.kManager), std::string::npos)
        << r;
    // The dump's own lines were not asked for.
    EXPECT_EQ(r.err.find("Starting dump"), std::string::npos) << r;
    Result all = node({"--trace", "sec.core.auth=0x19", "authz", "dump"});
    EXPECT_NE(all.err.find("Starting dump"), std::string::npos) << all;
}

TEST(CliAuthz, DumpKeepsEntityAndConsumerApart) {
    // This node "a" holds "bc", the manager "ab" holds "c": both rows join to "abc", yet each
    // keeps its own entity and consumer.
    ConfigNode node;
    node.Set("sec.core", "CORE_ID", "a");
    node.Set("sec.core", "bc", "3");
    node.Set("sec.core.auth", "MANAGER_ID", "ab");
    node.Set("sec.core.auth.mapping.manager", "c", "5");
    Result r = node({"--json", "authz", "dump"});
    ASSERT_EQ(r.status, 0) << r;
    Json j = Json::Parse(r.out);
    std::set<std::tuple<std::string, std::string, long long>> rows;
    for (size_t i = 0; i < j["consumer_rights"].Size(); ++i) {
        const Json& c = j["consumer_rights"][i];
        rows.emplace(c["entity"].Str(), c["consumer"].Str(), c["rights"].Number());
    }
    EXPECT_TRUE(rows.count({"a", "bc", 3})) << r.out;
    EXPECT_TRUE(rows.count({"ab", "c", 5})) << r.out;

    // In text, the columns keep the two apart (entity 2 wide, consumer as wide as "CORE_ID").
    Result text = node({"authz", "dump"});
    ASSERT_EQ(text.status, 0) << text;
    EXPECT_NE(text.out.find("\n  a   bc       0x3\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("\n  ab  c        0x5\n"), std::string::npos) << text.out;
}

TEST(CliAuthz, EmptyNodeHasNoEntitiesAndNoProblems) {
    Node node;
    Result r = node({"--json", "authz", "dump"});
    ASSERT_EQ(r.status, 0) << r;
    Json j = Json::Parse(r.out);
    EXPECT_EQ(j["entities"].Size(), 0u);
    EXPECT_EQ(j["problems"].Size(), 0u);
    Result check = node({"authz", "check", "x", "y", "0"});
    EXPECT_EQ(check.status, 1) << check;
}

}  // namespace
}  // namespace qmsec_cli
