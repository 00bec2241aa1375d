// init, config and uuid: setting a node up and looking at its configuration.
#include <cstdio>
#include <cstdlib>

#include "Cli.h"
#include "Names.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/KeyStore.h"
#include "QmSecCore/Uuid.h"
#include "QmSecKeyProvider/KeyProvider.h"
#include "QmXpl/ConfigNamespace_t.h"
#include "QmXpl/Dir_t.h"
#include "QmXpl/File_t.h"

namespace qmsec {

using QmXplConfig::ConfigNamespace_t;
using QmXplRuntime::Dir_t;
using QmXplStr::String_t;

namespace {

const String_t kCoreNamespace("sec.core");
const String_t kCoreIdKey("CORE_ID");

void MakeDirectory(const String_t& path, int mode) {
    if (!QmXplIo::File_t(path).Mkdirs(mode))
        Fail("Could not create the directory '" + path.ToUtf8() + "'.");
}

int Init(Invocation& call) {
    String_t home = Dir_t::Path(Dir_t::eRoot);
    std::optional<std::string> wanted = call.Value("--core-id");
    if (wanted) CheckAlias(*wanted, "core id");

    // Secrets live under the two "sec" directories: nobody else may even list them.
    MakeDirectory(Dir_t::Path(Dir_t::eConf), 0755);
    MakeDirectory(Dir_t::Path(Dir_t::eConf, String_t("sec")), 0700);
    MakeDirectory(QmXplIo::File_t(QmSecCore::KeyStore::DirectoryOf()).GetParent(), 0700);
    MakeDirectory(Dir_t::Path(Dir_t::eData, String_t("policies/mgrconf")), 0755);

    // The secret first: without it the key store cannot protect a private key, and it is never
    // replaced, since the keys already stored can only be read with it. Nor is one made for a
    // store whose node key exists: that key was encrypted under a secret that has gone, which a
    // new one cannot stand in for.
    std::string secretFile = QmSecKeyProvider::KeyProvider::GetSecretPath().ToUtf8();
    std::string nodeKeyFile = QmSecCore::KeyStore::NodeKeyFileOf().ToUtf8();
    bool nodeKeyExists = QmXplIo::File_t(String_t(nodeKeyFile)).Exists();
    if (nodeKeyExists && !QmXplIo::File_t(String_t(secretFile)).Exists())
        Fail("The key store's node key '" + nodeKeyFile +
             "' exists, but the key provider's secret '" + secretFile +
             "' does not. A new secret would not open the node key and every private key of the "
             "store would be lost: restore the secret from a backup.");
    bool secretCreated = QmSecKeyProvider::KeyProvider::CreateSecret();
    QmSecCore::Key probe;
    QmSecKeyProvider::KeyProvider::ProvideKey(probe);  // an unusable secret fails here, not later
    if (nodeKeyExists) {
        try {
            QmSecCore::KeyStore store;  // reads the node key with the secret
        } catch (const QmXplMsg::Exception_t& e) {
            Fail("The key provider's secret '" + secretFile +
                     "' does not open the key store's node key '" + nodeKeyFile + "'.",
                 e.GetMessageList());
        }
    }

    ConfigNamespace_t core(kCoreNamespace);
    String_t existing = core.Open().GetValue(kCoreIdKey);
    std::string coreId;
    bool coreIdSet = false;
    if (wanted) {
        if (!existing.IsEmpty() && existing.ToUtf8() != *wanted && !call.Has("--force"))
            Fail("This node already has the core id '" + existing.ToUtf8() +
                 "'. Give --force to change it; certificates and keys stored under the old id "
                 "keep their alias.");
        coreId = *wanted;
    } else if (!existing.IsEmpty()) {
        coreId = existing.ToUtf8();
    } else {
        coreId = QmSecCore::Uuid::GenerateUuid().ToString().ToUtf8();
    }
    if (existing.ToUtf8() != coreId) {
        core.SetValue(kCoreIdKey, String_t(coreId));
        coreIdSet = true;
    }

    String_t secretPath = QmSecKeyProvider::KeyProvider::GetSecretPath();
    JsonValue json = JsonValue::Object();
    json.Set("home", home)
        .Set("core_id", coreId)
        .Set("core_id_set", coreIdSet)
        .Set("provider_secret", secretPath)
        .Set("provider_secret_created", secretCreated);
    std::string text = "Node directory  " + Printable(home.ToUtf8()) + "\n" + "Core id         " +
                       Printable(coreId) + (coreIdSet ? " (set)" : " (kept)") + "\n" +
                       "Key provider    " + Printable(secretPath.ToUtf8()) +
                       (secretCreated ? " (created)" : " (kept)") + "\n";
    PrintResult(call, json, text);
    return kExitOk;
}

ConfigNamespace_t Namespace(const Invocation& call) {
    return ConfigNamespace_t(String_t(call.Arg(0)), String_t(call.Value("--group").value_or("")));
}

int ConfigGet(Invocation& call) {
    String_t value = Namespace(call).Open().GetValue(String_t(call.Arg(1)));
    if (value.IsNull())
        Fail("The namespace '" + call.Arg(0) + "' has no key '" + call.Arg(1) + "'.");
    JsonValue json = JsonValue::Object();
    json.Set("namespace", call.Arg(0)).Set("key", call.Arg(1)).Set("value", value);
    PrintResult(call, json, Printable(value.ToUtf8()) + "\n");
    return kExitOk;
}

// The authorizer reads a value of its mapping namespaces as a decimal rights mask: its leading
// digits, capped at 32 bits, and 0 without any. A value it would read otherwise than written
// (0x10, 12abc) is set all the same, with a warning that says what it counts as.
void WarnOfMappingValue(const std::string& ns, const std::string& value) {
    if (ns.rfind("sec.core.auth.mapping.", 0) != 0) return;
    unsigned long long rights = 0;
    bool capped = false;
    size_t digits = 0;
    for (; digits < value.size() && value[digits] >= '0' && value[digits] <= '9'; ++digits) {
        rights = rights * 10 + static_cast<unsigned>(value[digits] - '0');
        if (rights > 0xFFFFFFFFull) {
            rights = 0xFFFFFFFFull;
            capped = true;
        }
    }
    if (digits > 0 && digits == value.size() && !capped) return;
    std::fprintf(stderr,
                 "qmsec: warning: '%s' is not a decimal number of at most 32 bits; the authorizer "
                 "counts it as %llu rights.\n",
                 value.c_str(), rights);
}

int ConfigSet(Invocation& call) {
    // The layer would store U+FFFD in place of each malformed sequence: not what was given.
    for (size_t i = 0; i < call.Args().size(); ++i) {
        if (!IsUtf8(call.Arg(i)))
            call.Usage("'" + Printable(call.Arg(i)) + "' is not valid UTF-8 text");
    }
    Namespace(call).SetValue(String_t(call.Arg(1)), String_t(call.Arg(2)));
    WarnOfMappingValue(call.Arg(0), call.Arg(2));
    return kExitOk;
}

int ConfigUnset(Invocation& call) {
    ConfigNamespace_t ns = Namespace(call);
    if (ns.Open().GetValue(String_t(call.Arg(1))).IsNull())
        Fail("The namespace '" + call.Arg(0) + "' has no key '" + call.Arg(1) + "'.");
    ns.RemoveValue(String_t(call.Arg(1)));
    return kExitOk;
}

int ConfigList(Invocation& call) {
    QmXplConfig::Configuration_t config = Namespace(call).Open();
    JsonValue json = JsonValue::Object();
    std::string text;
    for (int i = 0; i < config.GetAttrCount(); ++i) {
        String_t name, value;
        if (!config.GetAttr(i, name, value)) continue;
        json.Set(name.ToUtf8(), value);
        text += Printable(name.ToUtf8()) + "=" + Printable(value.ToUtf8()) + "\n";
    }
    PrintResult(call, json, text);
    return kExitOk;
}

int Uuid(Invocation& call) {
    long count = 1;
    if (auto n = call.Value("-n")) {
        char* end = nullptr;
        count = std::strtol(n->c_str(), &end, 10);
        if (n->empty() || *end || count < 1 || count > 100000)
            call.Usage("-n wants a number from 1 to 100000, not '" + *n + "'");
    }
    JsonValue json = JsonValue::Array();
    std::string text;
    for (long i = 0; i < count; ++i) {
        std::string id = QmSecCore::Uuid::GenerateUuid().ToString().ToUtf8();
        json.Push(id);
        text += id + "\n";
    }
    PrintResult(call, call.Value("-n") ? json : JsonValue(text.substr(0, text.size() - 1)), text);
    return kExitOk;
}

const OptionSpec kGroup{"--group", "", "GROUP",
                        "the resource group's file conf/GROUP/config.ini (default: the node's)"};

}  // namespace

void AddNodeCommands(CommandTable& table) {
    table.Add(
        {"init",
         "[--core-id ID] [--force]",
         0,
         0,
         {{"--core-id", "", "ID", "the node's core id (default: the one set, else a new uuid)"},
          {"--force", "", "", "change the core id of a node that has one"}},
         "prepare the node directory: core id and key provider secret",
         "Prepares the node directory $QMXPL_HOME ($HOME/.qm when it is not set): the\n"
         "configuration with the node's core id (sec.core CORE_ID; a new uuid unless one is\n"
         "set or given) and the key provider's secret conf/sec/provider.key (32 random\n"
         "bytes, mode 0600) under which the key store protects its private keys. Running it\n"
         "again keeps what is there; an existing secret is never replaced, no secret is\n"
         "made for a key store that has its node key already, and a secret that does not\n"
         "open that node key is reported.",
         true,
         Init});
    table.Add({"config get",
               "NAMESPACE KEY [--group GROUP]",
               2,
               2,
               {kGroup},
               "print one configuration value",
               "Prints the value of KEY in the configuration namespace NAMESPACE (a section of\n"
               "$QMXPL_HOME/conf/config.ini). Fails when the key is not set.",
               true,
               ConfigGet});
    table.Add({"config set",
               "NAMESPACE KEY VALUE [--group GROUP]",
               3,
               3,
               {kGroup},
               "set a configuration value",
               "Sets KEY to VALUE in the namespace NAMESPACE. The file is rewritten in one step,\n"
               "keeping every other line and comment; running programs see the change. In the\n"
               "mapping namespaces sec.core.auth.mapping.* a value is a decimal rights mask; one\n"
               "that is not (0x10, 12abc) is set with a warning of what it counts as.",
               false,
               ConfigSet});
    table.Add({"config unset",
               "NAMESPACE KEY [--group GROUP]",
               2,
               2,
               {kGroup},
               "remove a configuration value",
               "Removes KEY from the namespace NAMESPACE. Fails when the key is not set.",
               false,
               ConfigUnset});
    table.Add({"config list",
               "NAMESPACE [--group GROUP]",
               1,
               1,
               {kGroup},
               "print every value of a namespace",
               "Prints every KEY=value of the namespace NAMESPACE in file order; for a resource\n"
               "group its own keys first, then those it takes from the node's file.",
               true,
               ConfigList});
    table.Add({"uuid",
               "[-n N]",
               0,
               0,
               {{"-n", "", "N", "how many (1 to 100000; default 1)"}},
               "generate new uuids",
               "Prints N new identifiers in the 8-4-4-4-12 form, one a line. With --json: the\n"
               "identifier as a JSON string, or with -n an array of them.",
               true,
               Uuid});
}

}  // namespace qmsec
