// Helpers shared by the policy data reader tests: reading a file into an owned list and
// comparing records field by field.
#pragma once

#include <gtest/gtest.h>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "PolicyDataReader.h"
#include "PolicyDataTokens.h"
#include "QmSecAuth/PolicyData.h"
#include "support/TempDir.h"

namespace policytest {

inline std::string DataPath(const std::string& relative) {
    return std::string(QMSEC_TEST_DATA_DIR) + "/policy/" + relative;
}

inline std::string ReadBytes(const std::string& path) {
    return qmsec_test::ReadFile(path);
}

// The result of one read: the list (freed with the object), the result code and the error
// record, which starts filled with a marker so that a test sees whether it was written.
struct ReadResult {
    int result = 1;
    pblib_cfg_list list{0, nullptr};
    pblib_error error{};

    ReadResult() {
        std::memset(&error, 0x5A, sizeof error);
        // A list that is not empty on entry shows that the reader empties it first.
        list.count = 7;
        list.items = reinterpret_cast<pblib_respmgr_cfg**>(&list);
    }
    ~ReadResult() { pblib_respmgr_cfg_free(&list); }
    ReadResult(const ReadResult&) = delete;
    ReadResult& operator=(const ReadResult&) = delete;

    int count() const { return list.count; }
    const pblib_respmgr_cfg& operator[](int i) const { return *list.items[i]; }
    bool ErrorUntouched() const {
        pblib_error marker;
        std::memset(&marker, 0x5A, sizeof marker);
        return std::memcmp(&marker, &error, sizeof error) == 0;
    }
    std::string ErrorText() const {
        return std::string(error.text, strnlen(error.text, sizeof error.text));
    }
};

inline void ReadFile(const std::string& path, ReadResult& r) {
    r.result = pblib_respmgr_cfg_read(path.c_str(), &r.list, &r.error);
}

inline void ReadText(const std::string& text, ReadResult& r) {
    r.result = pdc_read_memory(text.data(), text.size(), &r.list, &r.error);
}

// --- expected records --------------------------------------------------------------------------

struct ExpectedNode {
    std::string coreId = PBLIB_NO_ID;
    int kind = PBLIB_ADDR_NONE;
    uint32_t address = 0;
    const char* name = nullptr;
};

struct ExpectedRef {
    std::string mgrId = PBLIB_NO_ID;
    ExpectedNode node;
};

struct ExpectedConfig {
    std::string id = PBLIB_NO_ID;
    const char* description = nullptr;
    ExpectedNode defaultManager;
    const char* defaultDescription = nullptr;
    std::vector<ExpectedRef> secondary;
    std::vector<ExpectedRef> actionAllowed;
};

inline void ExpectString(const char* actual, const char* expected, const char* what) {
    if (!expected) {
        EXPECT_EQ(actual, nullptr) << what << " is \"" << (actual ? actual : "") << "\"";
    } else {
        ASSERT_NE(actual, nullptr) << what;
        EXPECT_STREQ(actual, expected) << what;
    }
}

// An id array holds its text and then zeros only.
inline void ExpectId(const char (&actual)[PBLIB_ID_SIZE], const std::string& expected,
                     const char* what) {
    ASSERT_LE(expected.size(), 36u) << what;
    EXPECT_EQ(std::string(actual, strnlen(actual, PBLIB_ID_SIZE)), expected) << what;
    for (size_t i = expected.size(); i < PBLIB_ID_SIZE; ++i) {
        EXPECT_EQ(actual[i], '\0') << what << " byte " << i;
    }
}

inline void ExpectNode(const pblib_node& actual, const ExpectedNode& expected) {
    ExpectId(actual.core_id, expected.coreId, "core id");
    EXPECT_EQ(actual.addr_kind, expected.kind);
    EXPECT_EQ(actual.address, expected.address);
    ExpectString(actual.name, expected.name, "node name");
}

inline void ExpectRefs(const pblib_ref_list& actual, const std::vector<ExpectedRef>& expected,
                       int kind) {
    ASSERT_EQ(actual.count, static_cast<int32_t>(expected.size()));
    if (expected.empty()) {
        EXPECT_EQ(actual.items, nullptr);
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(testing::Message()
                     << (kind == PBLIB_MGR_SECONDARY ? "secondary " : "action ") << i);
        const pblib_respmgr_ref& ref = *actual.items[i];
        ExpectId(ref.mgr_id, expected[i].mgrId, "manager id");
        EXPECT_EQ(ref.list_kind, kind);
        EXPECT_EQ(ref.description, nullptr);
        EXPECT_EQ(ref.flag, 0);
        ExpectNode(ref.node, expected[i].node);
    }
}

// Positions count from 0 in each list of the file, so they are given apart from the records.
inline void ExpectPositions(const pblib_ref_list& actual, const std::vector<int>& positions) {
    ASSERT_EQ(actual.count, static_cast<int32_t>(positions.size()));
    for (size_t i = 0; i < positions.size(); ++i) {
        EXPECT_EQ(actual.items[i]->position, positions[i]) << "item " << i;
    }
}

inline void ExpectConfig(const pblib_respmgr_cfg& actual, const ExpectedConfig& expected) {
    ExpectId(actual.cfg_id, expected.id, "configuration id");
    ExpectString(actual.description, expected.description, "description");
    {
        SCOPED_TRACE("default manager");
        ExpectNode(actual.default_manager, expected.defaultManager);
    }
    ExpectString(actual.default_description, expected.defaultDescription,
                 "default manager description");
    ExpectRefs(actual.secondary, expected.secondary, PBLIB_MGR_SECONDARY);
    ExpectRefs(actual.action_allowed, expected.actionAllowed, PBLIB_MGR_ACTION_ALLOWED);
    EXPECT_EQ(actual.reserved1.count, 0);
    EXPECT_EQ(actual.reserved1.items, nullptr);
    EXPECT_EQ(actual.reserved2.count, 0);
    EXPECT_EQ(actual.reserved2.items, nullptr);
}

// Every field of a list as text, to compare whole results.
inline std::string Dump(const pblib_cfg_list& list) {
    std::ostringstream out;
    auto node = [&out](const pblib_node& n) {
        out << " node(" << n.core_id << "," << int(n.addr_kind) << "," << n.address << ","
            << (n.name ? n.name : "<null>") << ")";
    };
    auto refs = [&](const pblib_ref_list& l) {
        for (int32_t i = 0; i < l.count; ++i) {
            const pblib_respmgr_ref& r = *l.items[i];
            out << "  ref(" << r.mgr_id << "," << int(r.list_kind) << "," << r.position << ","
                << (r.description ? r.description : "<null>") << "," << int(r.flag) << ")";
            node(r.node);
            out << "\n";
        }
    };
    for (int32_t i = 0; i < list.count; ++i) {
        const pblib_respmgr_cfg& c = *list.items[i];
        out << "cfg(" << c.cfg_id << "," << (c.description ? c.description : "<null>") << ","
            << (c.default_description ? c.default_description : "<null>") << ")";
        node(c.default_manager);
        out << "\n";
        refs(c.secondary);
        refs(c.action_allowed);
    }
    return out.str();
}

// --- scanning --------------------------------------------------------------------------------

struct Token {
    int code;
    long long number;
    unsigned address;
    bool hasValue;
    std::string value;
    std::string text;
    int line;
};

inline std::vector<Token> Scan(const std::string& input) {
    std::vector<Token> tokens;
    int count = pdc_scan_memory(
        input.data(), input.size(),
        [](void* user, const PdcTokenInfo* t) {
            static_cast<std::vector<Token>*>(user)->push_back(
                {t->code, t->number, t->address, t->value != nullptr,
                 t->value ? std::string(t->value) : std::string(), t->text, t->line});
        },
        &tokens);
    EXPECT_EQ(count, static_cast<int>(tokens.size()));
    return tokens;
}

}  // namespace policytest
