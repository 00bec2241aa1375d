// The policy data reader as its callers see it: result codes, the record layout, the entries
// built from a realistic corpus, syntax errors and their recovery in every list, and the
// reader's behaviour on hostile input, failed allocations and many threads.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "PolicyDataParser.h"
#include "tests/auth/PolicyDataTestSupport.h"

using policytest::DataPath;
using policytest::ExpectConfig;
using policytest::ExpectedConfig;
using policytest::ExpectedNode;
using policytest::ExpectedRef;
using policytest::ExpectPositions;
using policytest::ReadBytes;
using policytest::ReadFile;
using policytest::ReadResult;
using policytest::ReadText;
using qmsec_test::TempDir;

namespace {

const char kNoId[] = PBLIB_NO_ID;

// --- results and records ----------------------------------------------------------------------

TEST(PolicyDataReaderTest, ArgumentsAndFilesGiveTheirResults) {
    pblib_error error;
    EXPECT_EQ(pblib_respmgr_cfg_read(DataPath("edge/empty.dat").c_str(), nullptr, &error), -1);

    ReadResult null_path;
    null_path.result = pblib_respmgr_cfg_read(nullptr, &null_path.list, &null_path.error);
    EXPECT_EQ(null_path.result, PBLIB_RESPMGR_BAD_ARGUMENT);
    EXPECT_EQ(null_path.count(), 0);
    EXPECT_EQ(null_path.list.items, nullptr);

    TempDir dir;
    ReadResult missing;
    ReadFile(dir.Path() + "/no-such-file.dat", missing);
    EXPECT_EQ(missing.result, -9);
    EXPECT_EQ(missing.count(), 0);
    EXPECT_EQ(missing.list.items, nullptr);
    EXPECT_TRUE(missing.ErrorUntouched());

    ReadResult missing_dir;
    ReadFile(dir.Path() + "/no-such-dir/file.dat", missing_dir);
    EXPECT_EQ(missing_dir.result, -9);

    // A path that cannot be opened for another reason: a plain file used as a directory.
    std::string file = dir.Write("plain.dat", "RESPMGRCONFIGS\n");
    ReadResult not_dir;
    ReadFile(file + "/inner.dat", not_dir);
    EXPECT_EQ(not_dir.result, -10);
    EXPECT_EQ(not_dir.count(), 0);
    EXPECT_TRUE(not_dir.ErrorUntouched());

    ReadResult empty;
    ReadFile(DataPath("edge/empty.dat"), empty);
    EXPECT_EQ(empty.result, 0);
    EXPECT_EQ(empty.count(), 0);
    EXPECT_EQ(empty.list.items, nullptr);
    EXPECT_TRUE(empty.ErrorUntouched());
}

TEST(PolicyDataReaderTest, FileThatOpensButCannotBeReadIsNotAnEmptyPolicy) {
    // A directory opens for reading, but every read fails: that is no empty file.
    TempDir dir;
    ReadResult r;
    ReadFile(dir.Path(), r);
    EXPECT_EQ(r.result, PBLIB_RESPMGR_CANNOT_READ);
    EXPECT_EQ(r.count(), 0);
    EXPECT_EQ(r.list.items, nullptr);
    EXPECT_TRUE(r.ErrorUntouched());
}

TEST(PolicyDataReaderTest, SharedLibraryExportsThePlainCNames) {
    void* library = dlopen(QMSEC_BINARY_DIR "/libQmSecCore.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    using Read = int (*)(const char*, pblib_cfg_list*, pblib_error*);
    using Free = int (*)(pblib_cfg_list*);
    auto read = reinterpret_cast<Read>(dlsym(library, "pblib_respmgr_cfg_read"));
    auto free_list = reinterpret_cast<Free>(dlsym(library, "pblib_respmgr_cfg_free"));
    ASSERT_NE(read, nullptr);
    ASSERT_NE(free_list, nullptr);
    // The helpers behind them stay hidden.
    EXPECT_EQ(dlsym(library, "pdc_read_stream"), nullptr);
    EXPECT_EQ(dlsym(library, "pd_parse"), nullptr);
    pblib_cfg_list list;
    pblib_error error;
    EXPECT_EQ(read(DataPath("corpus/site_full.dat").c_str(), &list, &error), 0);
    EXPECT_EQ(list.count, 3);
    EXPECT_EQ(free_list(&list), 0);
    EXPECT_EQ(list.count, 0);
    dlclose(library);
}

TEST(PolicyDataReaderTest, RecordsHaveTheirFieldsInOrder) {
    EXPECT_EQ(offsetof(pblib_list, count), 0u);
    EXPECT_LT(offsetof(pblib_list, count), offsetof(pblib_list, items));
    EXPECT_EQ(sizeof(pblib_list::count), 4u);

    EXPECT_EQ(offsetof(pblib_node, core_id), 0u);
    EXPECT_EQ(sizeof(pblib_node::core_id), 37u);
    EXPECT_LT(offsetof(pblib_node, core_id), offsetof(pblib_node, addr_kind));
    EXPECT_LT(offsetof(pblib_node, addr_kind), offsetof(pblib_node, address));
    EXPECT_LT(offsetof(pblib_node, address), offsetof(pblib_node, name));
    EXPECT_EQ(sizeof(pblib_node::addr_kind), 1u);
    EXPECT_EQ(sizeof(pblib_node::address), 4u);

    EXPECT_EQ(offsetof(pblib_respmgr_ref, mgr_id), 0u);
    EXPECT_EQ(sizeof(pblib_respmgr_ref::mgr_id), 37u);
    EXPECT_LT(offsetof(pblib_respmgr_ref, mgr_id), offsetof(pblib_respmgr_ref, list_kind));
    EXPECT_LT(offsetof(pblib_respmgr_ref, list_kind), offsetof(pblib_respmgr_ref, position));
    EXPECT_LT(offsetof(pblib_respmgr_ref, position), offsetof(pblib_respmgr_ref, description));
    EXPECT_LT(offsetof(pblib_respmgr_ref, description), offsetof(pblib_respmgr_ref, node));
    EXPECT_LT(offsetof(pblib_respmgr_ref, node), offsetof(pblib_respmgr_ref, flag));
    EXPECT_EQ(sizeof(pblib_respmgr_ref::list_kind), 1u);
    EXPECT_EQ(sizeof(pblib_respmgr_ref::position), 2u);
    EXPECT_EQ(sizeof(pblib_respmgr_ref::flag), 1u);

    using Cfg = pblib_respmgr_cfg;
    EXPECT_EQ(offsetof(Cfg, cfg_id), 0u);
    EXPECT_EQ(sizeof(Cfg::cfg_id), 37u);
    std::vector<size_t> order = {offsetof(Cfg, cfg_id),
                                 offsetof(Cfg, description),
                                 offsetof(Cfg, secondary),
                                 offsetof(Cfg, action_allowed),
                                 offsetof(Cfg, reserved1),
                                 offsetof(Cfg, default_manager),
                                 offsetof(Cfg, default_description),
                                 offsetof(Cfg, reserved2)};
    for (size_t i = 1; i < order.size(); ++i) {
        EXPECT_LT(order[i - 1], order[i]) << "field " << i;
    }

    EXPECT_EQ(offsetof(pblib_error, text), 0u);
    EXPECT_EQ(sizeof(pblib_error::text), 2048u);
    EXPECT_LT(offsetof(pblib_error, text), offsetof(pblib_error, line));
    EXPECT_LT(offsetof(pblib_error, line), offsetof(pblib_error, code));
    EXPECT_EQ(sizeof(pblib_error::line), 4u);
    EXPECT_EQ(sizeof(pblib_error::code), 4u);
}

TEST(PolicyDataReaderTest, FreeEmptiesTheListAndAcceptsNull) {
    EXPECT_EQ(pblib_respmgr_cfg_free(nullptr), 0);
    ReadResult r;
    ReadFile(DataPath("corpus/site_full.dat"), r);
    ASSERT_EQ(r.result, 0);
    ASSERT_EQ(r.count(), 3);
    EXPECT_EQ(pblib_respmgr_cfg_free(&r.list), 0);
    EXPECT_EQ(r.count(), 0);
    EXPECT_EQ(r.list.items, nullptr);
    EXPECT_EQ(pblib_respmgr_cfg_free(&r.list), 0);
}

// --- the corpus, field by field -----------------------------------------------------------------

TEST(PolicyDataReaderTest, FullSitePolicyGivesEveryManager) {
    ReadResult r;
    ReadFile(DataPath("corpus/site_full.dat"), r);
    ASSERT_EQ(r.result, 0);
    EXPECT_TRUE(r.ErrorUntouched());
    ASSERT_EQ(r.count(), 3);

    ExpectedConfig hamburg;
    hamburg.id = "9f0b6f8e-2d1a-4c63-9b1e-7a5d3c2e1f00";
    hamburg.description = "Primary responsibility: Hamburg operations";
    hamburg.defaultManager = {"3a9e7c52-1b6d-4f0e-8c2a-5d4b3a291e10", PBLIB_ADDR_IP, 0x0A140105,
                              "mgmt-hh-01.example.net"};
    hamburg.defaultDescription = "Hamburg primary management server";
    hamburg.secondary = {
        {"sec-hh-02",
         {"4b0f8d63-2c7e-4a1f-9d3b-6e5c4b3a2f21", PBLIB_ADDR_IP, 0x0A140106,
          "mgmt-hh-02.example.net"}},
        {kNoId, {"5c1a9e74-3d8f-4b2a-8e4c-7f6d5c4b3a32", PBLIB_ADDR_IP, 0xC0A8280C, nullptr}},
        {"sec-legacy-dec", {kNoId, PBLIB_ADDR_DEC, 0, "VAXHH1"}},
    };
    hamburg.actionAllowed = {
        {"act-helpdesk",
         {"6d2b0f85-4e9a-4c3b-9f5d-8a7e6d5c4b43", PBLIB_ADDR_IP, 0xAC100014,
          "helpdesk.example.net"}},
        {kNoId, {"7e3c1a96-5fab-4d4c-8a6e-9b8f7e6d5c54", PBLIB_ADDR_SNA, 0, "NETA.HOST7"}},
        {kNoId, {kNoId, PBLIB_ADDR_NOVELL, 0, "NW-FS-03"}},
        {kNoId, {"8f4d2ba7-60bc-4e5d-9b7f-ac90f8e7d665", PBLIB_ADDR_OTHER, 0, "appliance-17"}},
    };
    {
        SCOPED_TRACE("Hamburg");
        ExpectConfig(r[0], hamburg);
        ExpectPositions(r[0].secondary, {0, 1, 2});
        ExpectPositions(r[0].action_allowed, {0, 1, 2, 3});
    }

    ExpectedConfig branches;
    branches.id = "0a1b2c3d-4e5f-4061-8273-8495a6b7c8d9";
    branches.description = "Branch offices: follow the sun";
    branches.secondary = {
        {kNoId,
         {"bc7a5ed0-93ef-4b80-8ea2-dfc3212b0998", PBLIB_ADDR_IP, 0x0A1E0001,
          "mgmt-ny.example.net"}},
        {kNoId,
         {"cd8b6fe1-a4f0-4c91-9fb3-e0d4323c1aa9", PBLIB_ADDR_IP, 0x0A280001,
          "mgmt-sg.example.net"}},
    };
    {
        SCOPED_TRACE("branches");
        ExpectConfig(r[1], branches);
        ExpectPositions(r[1].secondary, {0, 1});
    }

    ExpectedConfig routing;
    routing.description = "Message routing only";
    {
        SCOPED_TRACE("routing");
        ExpectConfig(r[2], routing);
    }
}

TEST(PolicyDataReaderTest, LaterGroupsReplaceAndManagersAccumulate) {
    ReadResult r;
    ReadFile(DataPath("corpus/multi_group.dat"), r);
    ASSERT_EQ(r.result, 0);
    ASSERT_EQ(r.count(), 3);

    ExpectedConfig two_groups;
    two_groups.id = "group-two-with-an-id-far-longer-than";  // cut to 36 characters
    two_groups.description = "second group";
    two_groups.defaultManager = {kNoId, PBLIB_ADDR_OTHER, 0, "second-default"};
    two_groups.defaultDescription = nullptr;  // the new default manager has none
    two_groups.secondary = {
        {kNoId, {"22222222-2222-2222-2222-222222222222", PBLIB_ADDR_IP, 0x0A000002, nullptr}},
        {kNoId, {"33333333-3333-3333-3333-333333333333", PBLIB_ADDR_IP, 0x0A000003, nullptr}},
        {"s-five", {"55555555-5555-5555-5555-555555555555", PBLIB_ADDR_IP, 0x0A000005, nullptr}},
    };
    two_groups.actionAllowed = {
        {kNoId, {"44444444-4444-4444-4444-444444444444", PBLIB_ADDR_IP, 0x0A000004, nullptr}},
    };
    {
        SCOPED_TRACE("two groups");
        ExpectConfig(r[0], two_groups);
        ExpectPositions(r[0].secondary, {0, 1, 0});
    }
    {
        SCOPED_TRACE("empty body");
        ExpectConfig(r[1], ExpectedConfig{});
    }

    ExpectedConfig kinds;
    kinds.description = "addresses of every kind";
    // An IP node with a name and the address 0 has no address kind.
    kinds.defaultManager = {"66666666-6666-6666-6666-666666666666", PBLIB_ADDR_NONE, 0,
                            "unresolved-host"};
    kinds.secondary = {
        {kNoId, {"77777777-7777-7777-7777-777777777777", PBLIB_ADDR_IP, 0, nullptr}},
        {kNoId, {kNoId, PBLIB_ADDR_IP, 0xFFFFFFFF, "broadcast"}},
        {kNoId, {kNoId, PBLIB_ADDR_NONE, 0, "out-of-range"}},
        {kNoId, {kNoId, PBLIB_ADDR_IP, 0x0A010009, nullptr}},
        {kNoId, {kNoId, PBLIB_ADDR_NONE, 0, nullptr}},         // a clause without any node
        {kNoId, {kNoId, PBLIB_ADDR_IP, 0x0A000009, "later"}},  // the last node of a clause wins
    };
    kinds.actionAllowed = {
        {"\xC3\x9Cn\xC3\xAF"
         "c\xC3\xB8"
         "d\xC3\xA9-\xC3\xAF"
         "d",
         {"\xC3\x84\xC3\x96\xC3\x9C\xC3\xA4\xC3\xB6\xC3\xBC-0123456789-0123456789-0",
          PBLIB_ADDR_SNA, 0, "Z\xC3\xBCrich Gro\xC3\x9Frechner"}},
    };
    {
        SCOPED_TRACE("address kinds");
        ExpectConfig(r[2], kinds);
        ExpectPositions(r[2].secondary, {0, 1, 2, 3, 4, 5});
    }
}

TEST(PolicyDataReaderTest, WindowsLineEndsAndEscapes) {
    ReadResult r;
    ReadFile(DataPath("corpus/windows_crlf.dat"), r);
    ASSERT_EQ(r.result, 0) << r.ErrorText() << " line " << r.error.line;
    ASSERT_EQ(r.count(), 2);
    ExpectedConfig first;
    first.description = "Quotes \"inside\", a tab\there,\na new line, a backslash \\ and q";
    first.defaultManager = {"abcdefab-cdef-abcd-efab-cdefabcdefab", PBLIB_ADDR_IP, 0x0A090807,
                            "C:\\Hosts\\mgr"};
    first.defaultDescription = "spans\ntwo lines";  // CR LF inside a string is a line feed
    ExpectConfig(r[0], first);
    ExpectedConfig second;
    second.id = "no-blank-before-strings";
    second.description = "tight";
    ExpectConfig(r[1], second);
}

TEST(PolicyDataReaderTest, MemoryAndFileReadsAgree) {
    for (const char* name : {"corpus/site_full.dat", "corpus/multi_group.dat",
                             "corpus/windows_crlf.dat", "errors/err_secondary.dat"}) {
        ReadResult from_file;
        ReadFile(DataPath(name), from_file);
        ReadResult from_memory;
        ReadText(ReadBytes(DataPath(name)), from_memory);
        EXPECT_EQ(from_file.result, from_memory.result) << name;
        EXPECT_EQ(policytest::Dump(from_file.list), policytest::Dump(from_memory.list)) << name;
    }
}

// --- edge cases --------------------------------------------------------------------------------

TEST(PolicyDataReaderTest, FilesWithoutConfigurationsAreValid) {
    for (const char* name :
         {"edge/empty.dat", "edge/comments_only.dat", "edge/dates_and_times.dat"}) {
        ReadResult r;
        ReadFile(DataPath(name), r);
        EXPECT_EQ(r.result, 0) << name;
        EXPECT_EQ(r.count(), 0) << name;
        EXPECT_TRUE(r.ErrorUntouched()) << name;
    }
    // The dates and times of that file, as the scanner reads them.
    std::vector<long long> values;
    for (const policytest::Token& t :
         policytest::Scan(ReadBytes(DataPath("edge/dates_and_times.dat")))) {
        if (t.code == DATE_VALUE || t.code == TIME_VALUE) {
            values.push_back(t.number);
        }
    }
    EXPECT_EQ(values, (std::vector<long long>{19991231, 20050102, 20050102, 102, 37800,
                                              23 * 3600 + 59 * 60}));
}

TEST(PolicyDataReaderTest, NodesWithoutIdKeepTheNoIdPattern) {
    ReadResult r;
    ReadFile(DataPath("edge/node_without_id.dat"), r);
    ASSERT_EQ(r.result, 0);
    ASSERT_EQ(r.count(), 1);
    ExpectedConfig expected;
    expected.description = "managers without ids";
    expected.defaultManager = {kNoId, PBLIB_ADDR_IP, 0x0A010101, "dm-host"};
    expected.secondary = {{kNoId, {kNoId, PBLIB_ADDR_DEC, 0, "vax"}}};
    expected.actionAllowed = {{kNoId, {kNoId, PBLIB_ADDR_IP, 0x0A010102, nullptr}}};
    ExpectConfig(r[0], expected);
}

TEST(PolicyDataReaderTest, IdsAreCutToThirtySixCharacters) {
    ReadResult r;
    ReadFile(DataPath("edge/long_ids.dat"), r);
    ASSERT_EQ(r.result, 0);
    ASSERT_EQ(r.count(), 1);
    ExpectedConfig expected;
    expected.id = "0123456789abcdef0123456789abcdef0123";
    expected.description = "ids longer than 36 characters";
    expected.defaultManager = {"aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee", PBLIB_ADDR_IP, 0x0A000001,
                               nullptr};
    std::string exact = "exactly-thirty-six-characters-long!!";
    ASSERT_EQ(exact.size(), 36u);
    expected.secondary = {
        {"ssssssss-ssss-ssss-ssss-ssssssssssss", {exact, PBLIB_ADDR_IP, 0x0A000002, nullptr}}};
    // A two-byte character across the cut is left out whole rather than split.
    expected.actionAllowed = {
        {kNoId, {"01234567890123456789012345678901234", PBLIB_ADDR_IP, 0x0A000003, nullptr}}};
    ExpectConfig(r[0], expected);
}

TEST(PolicyDataReaderTest, HexadecimalAddressIsASyntaxError) {
    ReadResult r;
    ReadFile(DataPath("edge/hex_address.dat"), r);
    EXPECT_EQ(r.result, PBLIB_RESPMGR_SYNTAX);
    EXPECT_EQ(r.ErrorText(), "0x0A010101");
    EXPECT_EQ(r.error.line, 4);
    EXPECT_EQ(r.error.code, PBLIB_ERR_CONFIGS);
    ASSERT_EQ(r.count(), 1);
    ExpectedConfig expected;
    expected.description = "hex";
    ExpectConfig(r[0], expected);
}

TEST(PolicyDataReaderTest, ValueWordsAreCaseSensitive) {
    ReadResult r;
    ReadFile(DataPath("edge/value_case.dat"), r);
    EXPECT_EQ(r.result, PBLIB_RESPMGR_SYNTAX);
    EXPECT_EQ(r.ErrorText(), "NORMAL");
    EXPECT_EQ(r.error.line, 4);
    EXPECT_EQ(r.error.code, PBLIB_ERR_RULE_CONDITIONS);
    EXPECT_EQ(r.count(), 1);
}

TEST(PolicyDataReaderTest, TwoErrorsReportTheSecond) {
    ReadResult r;
    ReadFile(DataPath("edge/two_errors.dat"), r);
    EXPECT_EQ(r.result, PBLIB_RESPMGR_SYNTAX);
    EXPECT_EQ(r.ErrorText(), "critical");
    EXPECT_EQ(r.error.line, 7);
    EXPECT_EQ(r.error.code, PBLIB_ERR_RULE_CONDITIONS);
    ASSERT_EQ(r.count(), 2);
    EXPECT_STREQ(r[0].cfg_id, "one");
    EXPECT_EQ(r[0].secondary.count, 1);  // the broken manager, with nothing of its node
    EXPECT_STREQ(r[1].cfg_id, "two");
}

TEST(PolicyDataReaderTest, UnknownFirstWordIsReportedNotSwallowed) {
    // A file that starts with no section keyword is no valid policy: it is a syntax error of
    // the file as a whole, not an empty success.
    ReadResult r;
    ReadFile(DataPath("edge/unknown_first_word.dat"), r);
    EXPECT_EQ(r.result, PBLIB_RESPMGR_SYNTAX);
    EXPECT_EQ(r.ErrorText(), "RESPMGRCONFIG");
    EXPECT_EQ(r.error.line, 1);
    EXPECT_EQ(r.error.code, PBLIB_ERR_FILE);
    EXPECT_EQ(r.count(), 0);

    ReadResult xml;
    ReadFile(DataPath("errors/err_file.dat"), xml);
    EXPECT_EQ(xml.result, PBLIB_RESPMGR_SYNTAX);
    EXPECT_EQ(xml.ErrorText(), "<?xml");
    EXPECT_EQ(xml.error.line, 2);
    EXPECT_EQ(xml.error.code, PBLIB_ERR_FILE);
    EXPECT_EQ(xml.count(), 0);

    // Reading resumes at the first section keyword after the garbage.
    ReadResult recovered;
    ReadFile(DataPath("errors/err_file_recovered.dat"), recovered);
    EXPECT_EQ(recovered.result, PBLIB_RESPMGR_SYNTAX);
    EXPECT_EQ(recovered.ErrorText(), "VERSION");
    EXPECT_EQ(recovered.error.line, 1);
    EXPECT_EQ(recovered.error.code, PBLIB_ERR_FILE);
    ASSERT_EQ(recovered.count(), 1);
    EXPECT_STREQ(recovered[0].cfg_id, "after");
}

TEST(PolicyDataReaderTest, NullErrorRecordIsAllowedOnSyntaxErrors) {
    pblib_cfg_list list;
    EXPECT_EQ(pblib_respmgr_cfg_read(DataPath("edge/two_errors.dat").c_str(), &list, nullptr),
              PBLIB_RESPMGR_SYNTAX);
    EXPECT_EQ(list.count, 2);
    pblib_respmgr_cfg_free(&list);
}

// --- syntax errors in every list ----------------------------------------------------------------

struct ErrorCase {
    const char* file;
    int code;
    int line;
    const char* text;
    std::vector<std::string> ids;  // configuration ids of the entries still returned
};

TEST(PolicyDataReaderTest, EveryListRecoversWithItsCode) {
    const std::vector<ErrorCase> cases = {
        {"errors/err_status_vars.dat", 14, 4, "maybe", {"after"}},
        {"errors/err_template_list.dat", 2, 3, "\"description keyword missing\"", {"after"}},
        {"errors/err_template_options.dat", 2, 4, "Summer", {"after"}},
        {"errors/err_time_condition_list.dat", 3, 4, "WEEKDAY", {"after"}},
        {"errors/err_time_condition_items.dat", 3, 5, "8", {"after"}},
        {"errors/err_config_list.dat", 4, 2, "CONFIG", {"after"}},
        {"errors/err_config_body.dat", 4, 5, "RESPMGRCONFIG", {"before", "broken", "after"}},
        {"errors/err_default_manager.dat", 4, 3, "mgmt.example.net", {"cfg", "after"}},
        {"errors/err_secondary.dat", 6, 6, "0x0A000002", {"before", "cfg", "after"}},
        {"errors/err_action_allowed.dat", 7, 6, "ID", {"cfg", "after"}},
        {"errors/err_target_managers.dat", 8, 8, "VEXMGR", {"cfg", "after"}},
        {"errors/err_target_rules.dat", 9, 6, "MSGTARGETRULEID", {"before", "cfg", "after"}},
        {"errors/err_rule_conditions.dat", 10, 7, "Fatal", {"cfg", "after"}},
        {"errors/err_condition_nodes.dat", 11, 7, "10.0.0.x", {"cfg", "after"}},
        {"errors/err_operations.dat", 13, 7, "LOGONLY", {"cfg", "after"}},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.file);
        ReadResult r;
        ReadFile(DataPath(c.file), r);
        EXPECT_EQ(r.result, PBLIB_RESPMGR_SYNTAX);
        EXPECT_EQ(r.error.code, c.code);
        EXPECT_EQ(r.error.line, c.line);
        EXPECT_EQ(r.ErrorText(), c.text);
        std::vector<std::string> ids;
        for (int i = 0; i < r.count(); ++i) {
            ids.emplace_back(r[i].cfg_id);
        }
        EXPECT_EQ(ids, c.ids);
        // Every entry read around an error is complete: its description is there.
        for (int i = 0; i < r.count(); ++i) {
            EXPECT_NE(r[i].description, nullptr) << ids[i];
        }
    }
}

TEST(PolicyDataReaderTest, ManagersAroundAnErrorAreKept) {
    ReadResult secondary;
    ReadFile(DataPath("errors/err_secondary.dat"), secondary);
    ASSERT_EQ(secondary.count(), 3);
    ExpectedConfig cfg;
    cfg.id = "cfg";
    cfg.description = "hexadecimal address";
    cfg.secondary = {
        {kNoId, {"s0", PBLIB_ADDR_IP, 0x0A000001, nullptr}},
        {kNoId, {}},  // the broken manager: nothing of a previous node leaks into it
        {kNoId, {"s2", PBLIB_ADDR_IP, 0x0A000003, nullptr}},
    };
    cfg.actionAllowed = {{kNoId, {"a0", PBLIB_ADDR_IP, 0x0A000004, nullptr}}};
    ExpectConfig(secondary[1], cfg);
    ExpectPositions(secondary[1].secondary, {0, 1, 2});

    // An error in the default manager skips to the managers of the same group.
    ReadResult dm;
    ReadFile(DataPath("errors/err_default_manager.dat"), dm);
    ASSERT_EQ(dm.count(), 2);
    ExpectedConfig bad_dm;
    bad_dm.id = "cfg";
    bad_dm.description = "bad default manager";
    bad_dm.secondary = {{kNoId, {"sec", PBLIB_ADDR_IP, 0x0A000002, nullptr}}};
    bad_dm.actionAllowed = {{kNoId, {"act", PBLIB_ADDR_IP, 0x0A000003, nullptr}}};
    ExpectConfig(dm[0], bad_dm);

    // A manager whose id came before the error keeps it; its node is the one read before.
    ReadResult act;
    ReadFile(DataPath("errors/err_action_allowed.dat"), act);
    ASSERT_EQ(act.count(), 2);
    ExpectedConfig late;
    late.id = "cfg";
    late.description = "manager id in the wrong place";
    late.actionAllowed = {
        {kNoId, {"a0", PBLIB_ADDR_IP, 0x0A000001, nullptr}},
        {"late", {kNoId, PBLIB_ADDR_IP, 0x0A000002, nullptr}},
        {"a2-mgr", {"a2", PBLIB_ADDR_SNA, 0, "host"}},
    };
    ExpectConfig(act[0], late);

    // A configuration cut short by the next one keeps what it had.
    ReadResult body;
    ReadFile(DataPath("errors/err_config_body.dat"), body);
    ASSERT_EQ(body.count(), 3);
    ExpectedConfig broken;
    broken.id = "broken";
    broken.description = "no managers";
    broken.defaultManager = {"dm-broken", PBLIB_ADDR_IP, 0x0A000001, nullptr};
    ExpectConfig(body[1], broken);
}

TEST(PolicyDataReaderTest, EndOfFileInsideAConfigurationKeepsIt) {
    // Each file ends in the middle of a list that cannot end there.
    const char* head =
        "RESPMGRCONFIGS RESPMGRCONFIG RESPMGRCFGID \"first\" DESCRIPTION \"d\" MSGTARGETRULES\n"
        "RESPMGRCONFIG RESPMGRCFGID \"cut\" DESCRIPTION \"cut short\"\n";
    const std::vector<std::pair<std::string, int>> tails = {
        {"SECONDARYMANAGERS SECONDARYMANAGER NODE IP 10.0.0.1 ID \"s\"", PBLIB_ERR_SECONDARY},
        {"DEFAULTMANAGER NODE IP 10.0.0.1", PBLIB_ERR_CONFIGS},
        {"DEFAULTMANAGER NODE", PBLIB_ERR_CONFIGS},
        {"MSGTARGETRULES MSGTARGETRULE DESCRIPTION \"r\" MSGTARGETRULECONDS",
         PBLIB_ERR_RULE_CONDITIONS},
        {"MSGTARGETRULES MSGTARGETRULE DESCRIPTION \"r\" MSGTARGETRULECONDS MSGTARGETRULECOND "
         "DESCRIPTION \"c\" NODE IP 10.0.0.1",
         PBLIB_ERR_CONDITION_NODES},
        {"MSGTARGETRULES MSGTARGETRULE", PBLIB_ERR_TARGET_RULES},
    };
    for (const auto& [tail, code] : tails) {
        SCOPED_TRACE(tail);
        ReadResult r;
        ReadText(std::string(head) + tail + "\n\n", r);
        EXPECT_EQ(r.result, PBLIB_RESPMGR_SYNTAX);
        EXPECT_EQ(r.error.code, code);
        // At the end of the file the error points at the last token before it.
        EXPECT_EQ(r.error.line, 3);
        ASSERT_EQ(r.count(), 2);
        EXPECT_STREQ(r[0].cfg_id, "first");
        EXPECT_STREQ(r[1].cfg_id, "cut");
        EXPECT_STREQ(r[1].description, "cut short");
    }
    ReadResult secondary;
    ReadText(std::string(head) + tails[0].first, secondary);
    ASSERT_EQ(secondary.count(), 2);
    ASSERT_EQ(secondary[1].secondary.count, 1);
    EXPECT_STREQ(secondary[1].secondary.items[0]->node.core_id, "s");
}

TEST(PolicyDataReaderTest, OverlongTokenIsASyntaxErrorAtItsLine) {
    std::string word(20000, 'X');
    ReadResult r;
    ReadText(
        "RESPMGRCONFIGS\nRESPMGRCONFIG DESCRIPTION \"d\"\n  DEFAULTMANAGER NODE OTHER \"o\"\n" +
            word + "\nMSGTARGETRULES\nRESPMGRCONFIG DESCRIPTION \"after\" MSGTARGETRULES\n",
        r);
    EXPECT_EQ(r.result, PBLIB_RESPMGR_SYNTAX);
    EXPECT_EQ(r.error.line, 4);
    EXPECT_EQ(r.ErrorText(), word.substr(0, PBLIB_ERROR_TEXT_SIZE - 1));
    EXPECT_EQ(r.count(), 2);

    ReadResult comment;
    ReadText("RESPMGRCONFIGS\n#" + word + "\nRESPMGRCONFIG DESCRIPTION \"x\" MSGTARGETRULES\n",
             comment);
    EXPECT_EQ(comment.result, PBLIB_RESPMGR_SYNTAX);
    EXPECT_EQ(comment.error.line, 2);
    EXPECT_EQ(comment.ErrorText(), ("#" + word).substr(0, PBLIB_ERROR_TEXT_SIZE - 1));
    EXPECT_EQ(comment.count(), 1);
}

TEST(PolicyDataReaderTest, DescriptionAfterAnActionAllowedNodeIsTheManagers) {
    // The next group after the action-allowed managers therefore starts with RESPMGRCFGID.
    ReadResult r;
    ReadText(
        "RESPMGRCONFIGS RESPMGRCONFIG DESCRIPTION \"g1\" SECONDARYMANAGERS ACTIONALLOWMANAGERS\n"
        "  ACTIONALLOWMANAGER NODE IP 10.0.0.1 DESCRIPTION \"manager's\"\n"
        "  RESPMGRCFGID \"g2\" DESCRIPTION \"second group\" MSGTARGETRULES\n",
        r);
    ASSERT_EQ(r.result, 0);
    ASSERT_EQ(r.count(), 1);
    EXPECT_STREQ(r[0].cfg_id, "g2");
    EXPECT_STREQ(r[0].description, "second group");
    EXPECT_EQ(r[0].action_allowed.count, 1);
}

TEST(PolicyDataReaderTest, UnusedKeywordsAreSyntaxErrors) {
    for (const char* word : {"RESPMGRCFG", "TIMETEMPLATENAME"}) {
        ReadResult r;
        ReadText(std::string("RESPMGRCONFIGS RESPMGRCONFIG ") + word +
                     " \"x\" DESCRIPTION \"d\" MSGTARGETRULES",
                 r);
        EXPECT_EQ(r.result, PBLIB_RESPMGR_SYNTAX) << word;
        EXPECT_EQ(r.ErrorText(), word);
    }
}

TEST(PolicyDataReaderTest, StringsWithZeroBytesAreRefused) {
    // A name with a zero byte would be cut short where it is used as a C string.
    std::string text =
        "RESPMGRCONFIGS RESPMGRCONFIG DESCRIPTION \"d\" DEFAULTMANAGER NODE IP 10.0.0.1 "
        "ID \"trusted";
    text += '\0';
    text += "-suffix\" MSGTARGETRULES";
    ReadResult r;
    ReadText(text, r);
    EXPECT_EQ(r.result, PBLIB_RESPMGR_SYNTAX);
    EXPECT_EQ(r.ErrorText(), "\"trusted-suffix\"");
    ASSERT_EQ(r.count(), 1);
    EXPECT_STREQ(r[0].default_manager.core_id, kNoId);
}

TEST(PolicyDataReaderTest, LongListsKeepEveryItem) {
    std::string text = "RESPMGRCONFIGS\n";
    const int configs = 130;
    const int managers = 260;
    for (int c = 0; c < configs; ++c) {
        text += "RESPMGRCONFIG RESPMGRCFGID \"c" + std::to_string(c) +
                "\" DESCRIPTION \"d\" SECONDARYMANAGERS\n";
        for (int m = 0; m < (c == 0 ? managers : 1); ++m) {
            text += " SECONDARYMANAGER NODE IP 10.0." + std::to_string(m / 256) + "." +
                    std::to_string(m % 256) + " ID \"m" + std::to_string(m) + "\"\n";
        }
        text += "ACTIONALLOWMANAGERS\n";
    }
    ReadResult r;
    ReadText(text, r);
    ASSERT_EQ(r.result, 0);
    ASSERT_EQ(r.count(), configs);
    for (int c = 0; c < configs; ++c) {
        EXPECT_EQ(r[c].cfg_id, "c" + std::to_string(c));
    }
    ASSERT_EQ(r[0].secondary.count, managers);
    for (int m = 0; m < managers; ++m) {
        EXPECT_EQ(r[0].secondary.items[m]->position, m);
        EXPECT_EQ(r[0].secondary.items[m]->node.core_id, "m" + std::to_string(m));
        EXPECT_EQ(r[0].secondary.items[m]->node.address, 0x0A000000u + m);
    }
}

// --- failures and threads -----------------------------------------------------------------------

std::vector<std::string> AllPolicyFiles() {
    std::vector<std::string> files = {
        "corpus/site_full.dat",
        "corpus/multi_group.dat",
        "corpus/windows_crlf.dat",
        "edge/long_ids.dat",
        "edge/two_errors.dat",
        "edge/unknown_first_word.dat",
        "errors/err_config_body.dat",
        "errors/err_default_manager.dat",
        "errors/err_secondary.dat",
        "errors/err_condition_nodes.dat",
        "errors/err_template_options.dat",
        "errors/err_file_recovered.dat",
    };
    return files;
}

TEST(PolicyDataReaderTest, EveryFailedAllocationIsReportedAndLeaksNothing) {
    // Fail the first, second, third ... allocation of a run until the run needs no more. Each
    // failure ends the run with its own result, a consistent list and no leak.
    for (const std::string& name : AllPolicyFiles()) {
        SCOPED_TRACE(name);
        std::string text = ReadBytes(DataPath(name));
        ReadResult full;
        ReadText(text, full);
        std::string expected = policytest::Dump(full.list);
        int failures = 0;
        for (long budget = 0;; ++budget) {
            FILE* in = fmemopen(text.data(), text.size(), "r");
            ASSERT_NE(in, nullptr);
            ReadResult r;
            r.result = pdc_read_stream(in, &r.list, &r.error, budget);
            fclose(in);
            if (r.result != PBLIB_RESPMGR_NO_MEMORY) {
                EXPECT_EQ(r.result, full.result) << "budget " << budget;
                EXPECT_EQ(policytest::Dump(r.list), expected);
                break;
            }
            ++failures;
            EXPECT_TRUE(r.ErrorUntouched()) << "budget " << budget;
            // What was built is a prefix of the full result, entry by entry.
            EXPECT_LE(r.count(), full.count());
            for (int i = 0; i + 1 < r.count(); ++i) {
                EXPECT_STREQ(r[i].cfg_id, full[i].cfg_id);
            }
            ASSERT_LT(budget, 100000);
        }
        EXPECT_GT(failures, 3);
    }
}

TEST(PolicyDataReaderTest, ConcurrentReadsDoNotInterfere) {
    struct Expected {
        std::string path;
        int result;
        std::string dump;
        std::string error;
    };
    std::vector<Expected> expected;
    for (const std::string& name : AllPolicyFiles()) {
        ReadResult r;
        ReadFile(DataPath(name), r);
        std::string error = r.result == PBLIB_RESPMGR_SYNTAX
                                ? r.ErrorText() + "@" + std::to_string(r.error.line) + "#" +
                                      std::to_string(r.error.code)
                                : "";
        expected.push_back({DataPath(name), r.result, policytest::Dump(r.list), error});
    }
    const int threads = 4;
    const int rounds = 25;
    std::vector<int> mismatches(threads, 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int round = 0; round < rounds; ++round) {
                for (size_t i = 0; i < expected.size(); ++i) {
                    // Each thread walks the files in its own order.
                    const Expected& e =
                        expected[(i + static_cast<size_t>(t) * 5) % expected.size()];
                    ReadResult r;
                    ReadFile(e.path, r);
                    std::string error = r.result == PBLIB_RESPMGR_SYNTAX
                                            ? r.ErrorText() + "@" + std::to_string(r.error.line) +
                                                  "#" + std::to_string(r.error.code)
                                            : "";
                    if (r.result != e.result || policytest::Dump(r.list) != e.dump ||
                        error != e.error) {
                        ++mismatches[t];
                    }
                }
            }
        });
    }
    for (std::thread& w : workers) {
        w.join();
    }
    for (int t = 0; t < threads; ++t) {
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
    }
}

}  // namespace
