// policy and authz: manager-configuration policies and the authorizer's answers.
#include <arpa/inet.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "Cli.h"
#include "Names.h"
#include "QmSecAuth/Authorizer.h"
#include "QmSecAuth/AuthorizerSnapshot.h"
#include "QmSecAuth/PolicyData.h"
#include "QmSecCore/Catalog.h"

namespace qmsec {

using QmSecAuth::Authorizer;
using QmXplStr::String_t;

namespace {

std::string HexMask(unsigned int rights) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", rights);
    return buf;
}

const char* ErrorCodeMeaning(int code) {
    switch (code) {
        case PBLIB_ERR_FILE:
            return "the file as a whole";
        case PBLIB_ERR_TIME_TEMPLATES:
            return "time templates";
        case PBLIB_ERR_TIME_CONDITIONS:
            return "time template conditions";
        case PBLIB_ERR_CONFIGS:
            return "manager configurations";
        case PBLIB_ERR_SECONDARY:
            return "secondary managers";
        case PBLIB_ERR_ACTION_ALLOWED:
            return "action-allowed managers";
        case PBLIB_ERR_TARGET_MANAGERS:
            return "message target managers";
        case PBLIB_ERR_TARGET_RULES:
            return "message target rules";
        case PBLIB_ERR_RULE_CONDITIONS:
            return "message target rule conditions";
        case PBLIB_ERR_CONDITION_NODES:
            return "the node list of a NODE condition";
        case PBLIB_ERR_OPERATIONS:
            return "message operations";
        case PBLIB_ERR_STATUS_VARIABLES:
            return "condition status variables";
        default:
            return "unknown";
    }
}

// Frees the reader's list on every path.
struct ConfigList {
    pblib_cfg_list list{0, nullptr};
    ~ConfigList() { pblib_respmgr_cfg_free(&list); }
};

// What policy check reports on one file: JSON for --json, else text, never both, so that a
// file with many managers costs the memory of the one form that is printed.
struct PolicyReport {
    explicit PolicyReport(bool asJson) : json(asJson) {}
    bool json;
    JsonValue value = JsonValue::Object();
    std::string text;
};

// A node as JSON (when the report is JSON) or as text appended to the report's text.
JsonValue DescribeNode(const pblib_node& node, PolicyReport& report) {
    std::string name = node.name ? node.name : "";
    bool hasIp = node.addr_kind == PBLIB_ADDR_IP || node.address;
    char ip[INET_ADDRSTRLEN] = "";
    if (hasIp) {
        in_addr a{htonl(node.address)};
        inet_ntop(AF_INET, &a, ip, sizeof ip);
    }
    bool hasId = std::strcmp(node.core_id, PBLIB_NO_ID) != 0;
    if (!report.json) {
        report.text += name.empty() ? "(no name)" : Printable(name);
        if (hasIp) report.text += std::string(" (") + ip + ")";
        report.text +=
            hasId ? " id " + Printable(node.core_id) : " without id (ignored by the authorizer)";
        return JsonValue();
    }
    JsonValue json = JsonValue::Object();
    json.Set("name", node.name ? JsonValue(name) : JsonValue());
    if (hasIp) json.Set("ip", ip);
    json.Set("core_id", hasId ? JsonValue(node.core_id) : JsonValue());
    return json;
}

// Checks one policy data file into report; returns whether it is valid.
bool CheckPolicy(const std::string& path, PolicyReport& report, QmXplMsg::MessageList_t& errors) {
    ConfigList configs;
    pblib_error error{};
    int result = pblib_respmgr_cfg_read(path.c_str(), &configs.list, &error);
    const QmXplMsg::MessageCatalog_t& catalog = QmSecCore::Catalog::GetCatalog();
    JsonValue& json = report.value;
    std::string& text = report.text;
    json.Set("file", path);
    if (result != PBLIB_RESPMGR_OK) {
        json.Set("valid", false);
        if (result == PBLIB_RESPMGR_SYNTAX) {
            json.Set("error", JsonValue::Object()
                                  .Set("line", static_cast<int>(error.line))
                                  .Set("token", error.text)
                                  .Set("code", static_cast<int>(error.code))
                                  .Set("meaning", ErrorCodeMeaning(error.code)));
            QmXplMsg::CreateError_t m(catalog, 6,
                                      "Could not read policy data file '%1'. Syntax error in line "
                                      "%2 near '%3' (error code: %4).");
            m << String_t(path) << static_cast<int>(error.line) << String_t(error.text)
              << static_cast<int>(error.code);
            errors.Add(m);
        } else if (result == PBLIB_RESPMGR_NO_FILE) {
            json.Set("error", "no such file");
            errors.Add(QmXplMsg::CreateError_t(
                String_t("Could not read policy data file '" + path + "'. No such file.")));
        } else if (result == PBLIB_RESPMGR_CANNOT_READ) {
            json.Set("error", "cannot open");
            errors.Add(QmXplMsg::CreateError_t(
                           catalog, 5, "Could not read policy data file '%1'. Failed to open file.")
                       << String_t(path));
        } else {
            json.Set("error", "unexpected error");
            errors.Add(QmXplMsg::CreateError_t(
                           catalog, 7, "Could not read policy data file '%1'. Unexpected error.")
                       << String_t(path));
        }
        return false;
    }
    json.Set("valid", true);
    JsonValue list = JsonValue::Array();
    int count = configs.list.count;
    if (!report.json) {
        text += Printable(path) + ": valid, " + std::to_string(count) + " manager configuration" +
                (count == 1 ? "" : "s") + "\n";
    }
    for (int i = 0; i < count; ++i) {
        const pblib_respmgr_cfg& cfg = *configs.list.items[i];
        bool hasId = std::strcmp(cfg.cfg_id, PBLIB_NO_ID) != 0;
        bool hasDefault = cfg.default_manager.addr_kind != PBLIB_ADDR_NONE ||
                          cfg.default_manager.name ||
                          std::strcmp(cfg.default_manager.core_id, PBLIB_NO_ID) != 0;
        JsonValue entry = JsonValue::Object();
        if (report.json) {
            entry.Set("id", hasId ? JsonValue(cfg.cfg_id) : JsonValue());
            entry.Set("description", cfg.description ? JsonValue(cfg.description) : JsonValue());
            entry.Set("default_manager",
                      hasDefault ? DescribeNode(cfg.default_manager, report) : JsonValue());
        } else {
            text += "  configuration " + std::to_string(i + 1);
            if (hasId) text += " (" + Printable(cfg.cfg_id) + ")";
            if (cfg.description) text += ": " + Printable(cfg.description);
            text += "\n";
            if (hasDefault) {
                text += "    default manager  ";
                DescribeNode(cfg.default_manager, report);
                text += "\n";
            }
        }
        auto managers = [&](const pblib_ref_list& refs, const char* key, const char* label) {
            JsonValue array = JsonValue::Array();
            for (int j = 0; j < refs.count; ++j) {
                if (!report.json) text += std::string("    ") + label;
                JsonValue node = DescribeNode(refs.items[j]->node, report);
                if (report.json) {
                    array.Push(std::move(node));
                } else {
                    text += "\n";
                }
            }
            if (report.json) entry.Set(key, std::move(array));
        };
        managers(cfg.secondary, "secondary_managers", "secondary        ");
        managers(cfg.action_allowed, "action_allowed_managers", "action allowed   ");
        if (report.json) list.Push(std::move(entry));
    }
    json.Set("configurations", std::move(list));
    return true;
}

int PolicyCheck(Invocation& call) {
    std::vector<JsonValue> results;
    std::string text;
    QmXplMsg::MessageList_t errors;
    for (const auto& file : call.Args()) {
        PolicyReport report(call.Json());
        CheckPolicy(file, report, errors);
        text += report.text;
        results.push_back(std::move(report.value));
    }
    // One file gives one object, several an array of them.
    JsonValue all = JsonValue::Array();
    if (results.size() > 1) {
        for (auto& r : results) all.Push(std::move(r));
    }
    PrintResult(call, results.size() == 1 ? results.front() : all, text);
    if (!errors.IsEmpty()) throw QmXplMsg::RuntimeException_t(errors);
    return kExitOk;
}

unsigned int ParseRights(const Invocation& call, const std::string& text) {
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || text[0] == '-' || *end || errno || value > 0xFFFFFFFFull)
        call.Usage("RIGHTS must be a 32-bit number (decimal or 0x hexadecimal), not '" + text +
                   "'");
    return static_cast<unsigned int>(value);
}

int AuthzRights(Invocation& call) {
    Authorizer authorizer;
    unsigned int rights = authorizer.GetRights(String_t(call.Arg(0)), String_t(call.Arg(1)));
    JsonValue json = JsonValue::Object();
    json.Set("entity", call.Arg(0))
        .Set("consumer", call.Arg(1))
        .Set("rights", rights)
        .Set("rights_hex", HexMask(rights));
    PrintResult(call, json, HexMask(rights) + "\n");
    return kExitOk;
}

int AuthzCheck(Invocation& call) {
    unsigned int rights = ParseRights(call, call.Arg(2));
    bool any = call.Has("--any");
    Authorizer authorizer;
    bool allowed = authorizer.IsAllowed(String_t(call.Arg(0)), String_t(call.Arg(1)), rights,
                                        any ? Authorizer::CHECK_ANY : Authorizer::CHECK_ALL);
    JsonValue json = JsonValue::Object();
    json.Set("entity", call.Arg(0))
        .Set("consumer", call.Arg(1))
        .Set("rights", rights)
        .Set("mode", any ? "any" : "all")
        .Set("allowed", allowed);
    PrintResult(call, json, allowed ? "allowed\n" : "denied\n");
    return allowed ? kExitOk : kExitFailure;
}

std::string Roles(unsigned int rights) {
    if (rights == 0xFFFFFFFFu) return "this node";
    std::string roles;
    auto add = [&](unsigned int bit, const char* name) {
        if (!(rights & bit)) return;
        if (!roles.empty()) roles += ", ";
        roles += name;
    };
    add(0x01, "authorization manager");
    add(0x10, "default manager");
    add(0x20, "secondary manager");
    add(0x40, "action-allowed manager");
    return roles;
}

int AuthzDump(Invocation& call) {
    Authorizer authorizer;  // the first of the process builds the tables
    const QmSecAuth::AuthorizerSnapshot tables = authorizer.GetSnapshot();
    std::vector<std::pair<std::string, unsigned int>> internal;
    for (const auto& e : tables.entities) internal.emplace_back(e.id.ToUtf8(), e.rights);

    // Columns as wide as their widest entry.
    auto pad = [](const std::string& name, size_t width) {
        std::string s = Printable(name);
        return s + std::string(width > s.size() ? width - s.size() : 0, ' ');
    };
    size_t entityWidth = 0, rightsWidth = 0;
    for (const auto& [id, rights] : internal) {
        entityWidth = std::max(entityWidth, Printable(id).size());
        rightsWidth = std::max(rightsWidth, HexMask(rights).size());
    }
    std::string text = "Entities (" + std::to_string(internal.size()) + "):\n";
    JsonValue entities = JsonValue::Array();
    for (const auto& [id, rights] : internal) {
        entities.Push(JsonValue::Object()
                          .Set("entity", id)
                          .Set("rights", rights)
                          .Set("rights_hex", HexMask(rights))
                          .Set("roles", Roles(rights)));
        text += "  " + pad(id, entityWidth) + "  " + pad(HexMask(rights), rightsWidth) + "  " +
                Roles(rights) + "\n";
    }
    struct Row {
        std::string entity, consumer;
        unsigned int rights;
    };
    std::vector<Row> rows;
    size_t consumerWidth = 0;
    for (const auto& c : tables.consumerRights) {
        rows.push_back({c.entity.ToUtf8(), c.consumer.ToUtf8(), c.rights});
        consumerWidth = std::max(consumerWidth, Printable(rows.back().consumer).size());
    }
    text += "Rights on consumers (" + std::to_string(rows.size()) + "):\n";
    JsonValue rightsJson = JsonValue::Array();
    for (const auto& row : rows) {
        rightsJson.Push(JsonValue::Object()
                            .Set("entity", row.entity)
                            .Set("consumer", row.consumer)
                            .Set("rights", row.rights)
                            .Set("rights_hex", HexMask(row.rights)));
        text += "  " + pad(row.entity, entityWidth) + "  " + pad(row.consumer, consumerWidth) +
                "  " + HexMask(row.rights) + "\n";
    }
    JsonValue problemJson = JsonValue::Array();
    if (!tables.problems.empty()) text += "Problems while reading the policies:\n";
    for (const auto& problem : tables.problems) {
        std::string p = problem.ToUtf8();
        problemJson.Push(p);
        text += "  " + Printable(p) + "\n";
    }
    JsonValue json = JsonValue::Object();
    json.Set("policy_directory", tables.policyDirectory)
        .Set("entities", std::move(entities))
        .Set("consumer_rights", std::move(rightsJson))
        .Set("problems", std::move(problemJson));
    PrintResult(call, json, text);
    return kExitOk;
}

}  // namespace

void AddPolicyCommands(CommandTable& table) {
    table.Add({"policy check",
               "FILE...",
               1,
               -1,
               {},
               "check policy data files",
               "Reads each manager-configuration policy data FILE as the authorizer does and\n"
               "shows its manager configurations, or the line, token and error code of the last\n"
               "syntax error. Fails when a file is not valid.",
               true,
               PolicyCheck});
    table.Add({"authz rights",
               "ENTITY CONSUMER",
               2,
               2,
               {},
               "print the rights of an entity on a consumer",
               "Prints the rights mask that the authorizer maps to ENTITY (a core id) on CONSUMER\n"
               "(a namespace), from the configuration and the installed policies. There is no\n"
               "shortcut for this node itself: it holds what its mappings grant.",
               true,
               AuthzRights});
    table.Add({"authz check",
               "ENTITY CONSUMER RIGHTS [--any]",
               3,
               3,
               {{"--any", "", "", "one of the RIGHTS bits suffices (default: all are needed)"}},
               "ask whether an entity holds rights on a consumer",
               "Asks the authorizer whether ENTITY holds RIGHTS (decimal or 0x hexadecimal) on\n"
               "CONSUMER; this node itself holds every right. Prints 'allowed' (exit status 0) or\n"
               "'denied' (exit status 1).",
               true,
               AuthzCheck});
    table.Add({"authz dump",
               "",
               0,
               0,
               {},
               "show the authorizer's tables",
               "Shows the tables the authorizer builds: each entity with its rights (this node,\n"
               "the authorization manager, the managers of the enabled policies) and the rights\n"
               "mapped to each entity on each consumer, and the problems met while reading the\n"
               "policies in $QMXPL_HOME/data/policies/mgrconf.",
               true,
               AuthzDump});
}

}  // namespace qmsec
