#include "AuthorizerRebuild.h"
#include "QmSecAuth/AuthNames.h"
#include "QmSecCore/CoreNames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "AuthorizerImpl.h"
#include "PolicyDataReader.h"
#include "PolicyHeaderXmlHandler.h"
#include "QmSecAuth/AuthorizationPolicyException.h"
#include "QmXpl/CharArrayInputStream_t.h"
#include "QmXpl/DirLister_t.h"
#include "QmXpl/FileInputStream_t.h"
#include "QmXpl/File_t.h"
#include "QmXpl/IOException_t.h"
#include "QmXpl/MBS_t.h"
#include "QmXpl/SAXParseException_t.h"
#include "Throw.h"

namespace QmSecAuth {

using QmSecCore::detail::CatalogMessage;
using QmSecCoreTrc::kAuthArea;
using QmXplConfig::ConfigNamespace_t;
using QmXplConfig::Configuration_t;
using QmXplMsg::Exception_t;
using QmXplStr::NumToStr;
using QmXplStr::String_t;

namespace {

constexpr int kHeaderOpenAttempts = 3;
// The largest policy files read; larger ones are refused with a message saying so. Real ones are
// a few kilobytes: the limits only keep a damaged or hostile file from filling the memory.
constexpr int kMaxHeaderBytes = 1 << 20;         // 1 MiB, read whole before parsing
constexpr long long kMaxDataBytes = 64LL << 20;  // 64 MiB
const char* const kNoCoreId = PBLIB_NO_ID;

// The mapping namespaces, created once at load (they touch nothing until used).
const ConfigNamespace_t g_mapManager{String_t(kMappingManagerNamespace)};
const ConfigNamespace_t g_mapSecondary{String_t(kMappingSecondaryNamespace)};
const ConfigNamespace_t g_mapActionAllow{String_t(kMappingActionAllowNamespace)};
const ConfigNamespace_t g_mapDefault{String_t(kMappingDefaultNamespace)};

// A mapping value is read as a leading decimal number; anything else counts 0.
unsigned int DecimalRights(const String_t& value) {
    unsigned long long n = 0;
    for (int i = 0; i < value.GetLength(); ++i) {
        char16_t c = value.GetAt(i);
        if (c < u'0' || c > u'9') break;
        n = n * 10 + static_cast<unsigned>(c - u'0');
        if (n > 0xFFFFFFFFull) return 0xFFFFFFFFu;
    }
    return static_cast<unsigned int>(n);
}

// A data file must lie in the policy directory: a header naming a path elsewhere would make the
// reader parse (and quote in its messages) any file of the system. Its name is a path relative
// to the directory ("site.dat", "sub/site.dat"): not absolute, and without a ".." component.
// Symbolic links are resolved when the file is opened (OpenDataFile).
bool IsNameInsideDirectory(const String_t& name) {
    if (name.IsEmpty() || name.GetAt(0) == u'/') return false;
    const std::u16string& s = name.Str();
    for (size_t start = 0; start <= s.size();) {
        size_t end = s.find(u'/', start);
        if (end == std::u16string::npos) end = s.size();
        if (s.compare(start, end - start, u"..") == 0) return false;
        start = end + 1;
    }
    return true;
}

// The path with every symbolic link resolved; empty when it cannot be resolved (errno says why).
std::string RealPath(const String_t& path) {
    char* resolved = realpath(QmXplStr::MBS_t(path).c_str(), nullptr);
    int error = errno;
    std::string out = resolved ? resolved : "";
    std::free(resolved);
    errno = error;
    return out;
}

// Up to limit bytes of in; false when it holds more.
bool ReadWhole(const QmXplIo::InputStream_t& in, int limit, std::string& out) {
    char chunk[4096];
    for (;;) {
        int n = in.Read(chunk, sizeof chunk);
        if (n <= 0) return true;
        if (static_cast<long long>(out.size()) + n > limit) return false;
        out.append(chunk, static_cast<size_t>(n));
    }
}

}  // namespace

const ConfigNamespace_t AuthorizerRebuild::kCoreNamespace{String_t(QmSecCore::kCoreNamespace)};
const ConfigNamespace_t AuthorizerRebuild::kAuthNamespace{String_t(QmSecAuth::kAuthNamespace)};

AuthorizerRebuild::AuthorizerRebuild(AuthorizerTables& tables, const String_t& policyDirectory,
                                     QmXplSync::Mutex_t& readerMutex)
    : tables_(tables), policyDirectory_(policyDirectory), readerMutex_(readerMutex) {}

void AuthorizerRebuild::Run() {
    tables_.internal.clear();
    tables_.consumer.clear();
    ReadLocalIds();
    try {
        ScanPolicies();
        ApplyMappings();
        Dump();
    } catch (const Exception_t& e) {
        // Anything unforeseen ends the policy work; what was built so far stays.
        Fail(CatalogMessage(8).AddDetails(e.GetMessageList()));
    }
    if (failed_) {
        QMSEC_THROW(kAuthArea, AuthorizationPolicyException, CatalogMessage(8).AddDetails(errors_));
    }
}

void AuthorizerRebuild::Fail(const QmXplMsg::Message_t& m) {
    failed_ = true;
    errors_.Add(m);
}

String_t AuthorizerRebuild::AddInternalEntity(const ConfigNamespace_t& ns, const char* key,
                                              unsigned int rights, const char* role,
                                              const std::string& missing) {
    String_t id = ns.Open().GetValue(String_t(key));
    if (id.IsEmpty()) {
        QMSEC_TRACE(kAuthArea.operation, kProblems, missing.c_str());
        return id;
    }
    tables_.internal[id] = rights;
    QMSEC_TRACE(kAuthArea.operation, kDecisions,
                NumToStr(rights, "Added right 0x%x to internal entity '")
                    << id << "' (" << role << ").");
    return id;
}

void AuthorizerRebuild::ReadLocalIds() {
    using QmSecCore::kCoreIdKey;
    String_t coreId = AddInternalEntity(kCoreNamespace, kCoreIdKey, AuthorizerImpl::RIGHTS_LOCAL,
                                        "the local QmCoreId",
                                        std::string("Could not get QmCoreId (") + kCoreIdKey +
                                            ") of local node from config settings!");
    tables_.localId = coreId.IsEmpty() ? String_t() : coreId;
    AddInternalEntity(kAuthNamespace, kManagerIdKey, AuthorizerImpl::RIGHT_MANAGER,
                      "authorization manager",
                      std::string("Could not get authorization manager id (") + kManagerIdKey +
                          ") from config settings!");
}

void AuthorizerRebuild::ScanPolicies() {
    const String_t& dir = policyDirectory_;
    QMSEC_TRACE(kAuthArea.operation, kDecisions, "Scanning directory '" << dir << "' ...");
    if (!QmXplIo::File_t(dir).Exists()) {
        QMSEC_TRACE(kAuthArea.operation, kDecisions,
                    "No authorization policies will be processed."
                        << " Directory " << dir << " does not exist.");
        return;
    }
    // Whoever may add files to the directory could grant rights of their choosing.
    if (QmXplIo::File_t(dir).IsWritableByOthers()) {
        Fail(CatalogMessage(178) << dir);
        return;
    }
    std::vector<String_t> names;
    try {
        QmXplIo::DirLister_t lister(dir, QmXplIo::Filter_t(String_t(".xml")));
        String_t name;
        while (lister.Next(name)) names.push_back(name);
    } catch (const Exception_t& e) {
        QMSEC_TRACE(kAuthArea.operation, kDecisions,
                    "No authorization policies will be processed."
                        << " Could not open policy directory (Exception '" << e << "')");
        return;
    }
    realDirectory_ = RealPath(dir);
    for (const String_t& name : names)
        ReadPolicy(QmXplIo::File_t(dir + "/" + name).GetAbsolutePath());
}

// Opens a header, trying up to three times; false (with the error recorded) when it never
// opened.
bool AuthorizerRebuild::OpenHeader(const String_t& path, QmXplIo::InputStream_t& in) {
    for (int attempt = 1; attempt <= kHeaderOpenAttempts; ++attempt) {
        try {
            in = QmXplIo::FileInputStream_t(path);
            return true;
        } catch (const QmXplIo::FileNotFoundException_t& e) {
            if (attempt < kHeaderOpenAttempts) {
                QMSEC_TRACE(kAuthArea.operation, kProblems,
                            "Could not open policy header '"
                                << path << "' (Exception '" << e << "'). Trying again ("
                                << kHeaderOpenAttempts - attempt << " more times) ...");
            } else {
                Fail((CatalogMessage(1) << path).AddDetails(e.GetMessageList()));
            }
        }
    }
    return false;
}

void AuthorizerRebuild::ReadPolicy(const String_t& headerPath) {
    PolicyHeaderXmlHandler header;
    QMSEC_TRACE(kAuthArea.operation, kDecisions,
                "Parsing policy header '" << headerPath << "' ...");
    try {
        QmXplIo::InputStream_t in;
        // A header that never opened has no values: its policy is skipped, not guessed at.
        if (!OpenHeader(headerPath, in)) return;
        std::string text;
        bool complete = ReadWhole(in, kMaxHeaderBytes, text);
        in.Close();
        if (!complete) {
            Fail((CatalogMessage(3) << headerPath)
                     .AddDetail(QmXplMsg::CreateWarn_t(NumToStr(
                         kMaxHeaderBytes, "The policy header is larger than %d bytes (1 MiB)."))));
            return;
        }
        parser_.SetContentHandler(&header);
        parser_.Parse(QmXplXml::InputSource_t(
            QmXplIo::CharArrayInputStream_t(text.data(), static_cast<int>(text.size()))));
    } catch (const QmXplXml::SAXParseException_t& e) {
        Fail((CatalogMessage(2) << headerPath << e.GetLineNumber() << e.GetColumnNumber()
                                << e.GetSystemId() << e.GetPublicId())
                 .AddDetails(e.GetMessageList()));
        return;
    } catch (const Exception_t& e) {
        Fail((CatalogMessage(3) << headerPath).AddDetails(e.GetMessageList()));
        return;
    }
    if (!header.IsEnabled()) {
        QMSEC_TRACE(kAuthArea.operation, kSkips,
                    "Skipping disabled policy '" << header.GetPolicyName() << "' (file: "
                                                 << header.GetDataFileName() << ").");
        return;
    }
    String_t path = policyDirectory_ + "/" + header.GetDataFileName();
    if (!IsNameInsideDirectory(header.GetDataFileName())) {
        Fail(CatalogMessage(177) << path << headerPath);
        return;
    }
    ReadDataFile(path, headerPath);
}

// Opens a data file for the reader: a regular file, inside the policy directory once
// symbolic links are resolved (a link in the directory must not lead the reader to a file
// elsewhere), of at most kMaxDataBytes. Null, with the failure recorded, otherwise.
AuthorizerRebuild::FilePtr AuthorizerRebuild::OpenDataFile(const String_t& path,
                                                           const String_t& headerPath) {
    FilePtr none(nullptr, std::fclose);
    std::string file = RealPath(path);
    if (file.empty()) {
        if (errno == ENOENT)
            Fail(CatalogMessage(4) << path << headerPath);
        else
            Fail(CatalogMessage(5) << path);
        return none;
    }
    if (realDirectory_.empty() ||
        file.compare(0, realDirectory_.size() + 1, realDirectory_ + "/") != 0) {
        Fail(CatalogMessage(177) << path << headerPath);
        return none;
    }
    // The resolved path holds no link; one put there since is not followed.
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        Fail(CatalogMessage(5) << path);
        return none;
    }
    if (st.st_size > kMaxDataBytes) {
        ::close(fd);
        Fail((CatalogMessage(5) << path)
                 .AddDetail(QmXplMsg::CreateWarn_t(
                     NumToStr(static_cast<long long>(st.st_size), "The file has %d bytes, ") +
                     NumToStr(kMaxDataBytes,
                              "more than the %d bytes (64 MiB) a policy data file may have."))));
        return none;
    }
    FilePtr in(::fdopen(fd, "r"), std::fclose);
    if (!in) {
        ::close(fd);
        Fail(CatalogMessage(5) << path);
    }
    return in;
}

void AuthorizerRebuild::ReadDataFile(const String_t& path, const String_t& headerPath) {
    QMSEC_TRACE(kAuthArea.operation, kDecisions, "Reading file '" << path << "' ...");
    FilePtr in = OpenDataFile(path, headerPath);
    if (!in) return;
    pblib_cfg_list list{};
    pblib_error error{};
    int result;
    {
        QmXplSync::MutexLock_t lock(readerMutex_);
        result = pdc_read_stream(in.get(), &list, &error, -1);
    }
    in.reset();
    // The list is released whatever happens while it is processed.
    struct Release {
        pblib_cfg_list* list;
        ~Release() { pblib_respmgr_cfg_free(list); }
    } release{&list};
    switch (result) {
        case PBLIB_RESPMGR_OK:
            AddManagers(list);
            break;
        case PBLIB_RESPMGR_NO_FILE:
            Fail(CatalogMessage(4) << path << headerPath);
            break;
        case PBLIB_RESPMGR_CANNOT_READ:
            Fail(CatalogMessage(5) << path);
            break;
        case PBLIB_RESPMGR_SYNTAX:
            Fail(CatalogMessage(6) << path << error.line << error.text << error.code);
            break;
        default:
            Fail(CatalogMessage(7) << path);
            break;
    }
}

void AuthorizerRebuild::AddManagers(const pblib_cfg_list& list) {
    for (int i = 0; i < list.count; ++i) {
        const pblib_respmgr_cfg& cfg = *list.items[i];
        AddNode(cfg.default_manager, AuthorizerImpl::RIGHT_DEFAULT);
        for (int j = 0; j < cfg.secondary.count; ++j) {
            AddNode(cfg.secondary.items[j]->node, AuthorizerImpl::RIGHT_SECONDARY);
        }
        for (int j = 0; j < cfg.action_allowed.count; ++j) {
            AddNode(cfg.action_allowed.items[j]->node, AuthorizerImpl::RIGHT_ACTIONALLOW);
        }
    }
}

void AuthorizerRebuild::AddNode(const pblib_node& node, unsigned int right) {
    const char* name = node.name ? node.name : "";
    if (node.core_id[0] == '\0' || std::string_view(node.core_id) == kNoCoreId) {
        QMSEC_TRACE(kAuthArea.operation, kProblems,
                    "Skippend node '" << name
                                      << NumToStr(node.address, "' with IP 0x%x. No ID is defined")
                                      << NumToStr(right, " (right 0x%x)!"));
        return;
    }
    String_t id(node.core_id);
    tables_.internal[id] |= right;
    QMSEC_TRACE(kAuthArea.operation, kDecisions,
                NumToStr(right, "Added right 0x%x to internal entity '")
                    << id << "' (node '" << name << NumToStr(node.address, "', IP 0x%x)."));
}

void AuthorizerRebuild::ApplyMappings() {
    Configuration_t core = kCoreNamespace.Open(), manager = g_mapManager.Open(),
                    secondary = g_mapSecondary.Open();
    Configuration_t actionAllow = g_mapActionAllow.Open(), byDefault = g_mapDefault.Open();
    for (const auto& entry : tables_.internal) {
        const String_t& entity = entry.first;
        const unsigned int rights = entry.second;
        if (rights == AuthorizerImpl::RIGHTS_LOCAL) Map(entity, kCoreNamespace.GetName(), core);
        if (rights & AuthorizerImpl::RIGHT_MANAGER) Map(entity, g_mapManager.GetName(), manager);
        if (rights & AuthorizerImpl::RIGHT_SECONDARY)
            Map(entity, g_mapSecondary.GetName(), secondary);
        if (rights & AuthorizerImpl::RIGHT_ACTIONALLOW)
            Map(entity, g_mapActionAllow.GetName(), actionAllow);
        if (rights & AuthorizerImpl::RIGHT_DEFAULT) Map(entity, g_mapDefault.GetName(), byDefault);
    }
}

void AuthorizerRebuild::Map(const String_t& entity, const String_t& ns,
                            const Configuration_t& config) {
    int count = config.GetAttrCount();
    if (count == 0) {
        QMSEC_TRACE(kAuthArea.operation, kProblems,
                    "No attributes in mapping namespace '" << ns << "' found!");
    }
    for (int i = 0; i < count; ++i) {
        String_t name, value;
        if (!config.GetAttr(i, name, value) || name.IsEmpty()) continue;
        unsigned int rights = DecimalRights(value);
        tables_.consumer[ConsumerKey(entity, name)] |= rights;
        QMSEC_TRACE(kAuthArea.operation, kDecisions,
                    NumToStr(rights, "Added rights 0x%x to consumer entity '")
                        << entity << "' for namespace '" << name << "'.");
    }
}

void AuthorizerRebuild::Dump() {
    if (!kAuthArea.operation.Get().IsOn(kDumps)) return;
    QMSEC_TRACE(kAuthArea.operation, kDumps, "*** Starting dump of internal rights map... '");
    for (const auto& entry : tables_.internal) {
        const String_t& id = entry.first;
        const unsigned int rights = entry.second;
        QMSEC_TRACE(kAuthArea.operation, kDumps,
                    "Internal entitiy '" << id << NumToStr(rights, "' has rights 0x%x"));
    }
    QMSEC_TRACE(kAuthArea.operation, kDumps,
                "*** End of internal rights map dump" << NumToStr(
                    static_cast<long long>(tables_.internal.size()), " (%d internal entities)"));
    QMSEC_TRACE(kAuthArea.operation, kDumps, "*** Starting dump of consumer rights map... '");
    for (const auto& entry : tables_.consumer) {
        const ConsumerKey& key = entry.first;
        const unsigned int rights = entry.second;
        QMSEC_TRACE(kAuthArea.operation, kDumps,
                    "Consumer entitiy '" << key.first << key.second
                                         << NumToStr(rights, "' has rights 0x%x"));
    }
    QMSEC_TRACE(kAuthArea.operation, kDumps,
                "*** End of consumer rights map dump"
                    << NumToStr(static_cast<long long>(tables_.consumer.size()), " (%d entries)"));
}

}  // namespace QmSecAuth
