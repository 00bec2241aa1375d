#include "KeyStoreIndex.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>

#include "QmSecCore/KeyStore.h"
#include "QmSecCore/KeyStoreException.h"
#include "QmXpl/BufferedInputStream_t.h"
#include "QmXpl/CharArrayOutputStream_t.h"
#include "QmXpl/DataInputStream_t.h"
#include "QmXpl/DataOutputStream_t.h"
#include "QmXpl/FileInputStream_t.h"
#include "QmXpl/File_t.h"
#include "QmXpl/IOException_t.h"
#include "Throw.h"
#include "Trace.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmSecCoreTrc::kLevelOperation;
using QmXplIo::EOFException_t;
using QmXplIo::FileNotFoundException_t;
using QmXplIo::IOException_t;
using QmXplMsg::Exception_t;
using QmXplStr::String_t;
using QmXplThread::ReadLock_t;
using QmXplThread::WriteLock_t;
using Version = KeyStoreFiles::Version;

KeyStoreIndex::KeyStoreIndex(const String_t& path)
    : path_(path), pathFs_(KeyStoreFiles::Fs(path)) {}

String_t KeyStoreIndex::FileNameOf(const String_t& alias, Kind kind) {
    return alias + (kind == eKeys ? KeyStoreFiles::kKeySuffix : KeyStoreFiles::kCertificateSuffix);
}

void KeyStoreIndex::Read() {
    Version version = KeyStoreFiles::VersionOf(pathFs_);
    if (!version.exists) {
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation, "KeyStoreImpl: no index file found");
        {
            ReadLock_t read(lock_);
            if (current_ && !version_.exists) return;  // empty already
        }
        WriteLock_t write(lock_);
        certificates_.clear();
        keys_.clear();
        // Forgetting the version makes a file that appears later new, whatever its time.
        version_ = Version();
        current_ = true;
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation, "KeyStoreImpl: cleared entry maps");
        return;
    }
    {
        ReadLock_t read(lock_);
        if (current_ && version == version_) {
            QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                        "KeyStoreImpl: index file has not changed, skipping read.");
            return;
        }
    }
    WriteLock_t write(lock_);
    if (current_ && version == version_) return;  // another thread has just read it
    Load(version);
}

// Called with the write lock held. The version is taken before the file is opened: should the
// file be replaced in between, the newer content is read under the older version, and the next
// call reads it again, never the other way round.
void KeyStoreIndex::Load(const Version& version) {
    QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                "KeyStoreImpl: reading index file: '" << path_ << "'...");
    certificates_.clear();
    keys_.clear();
    current_ = false;
    std::optional<QmXplIo::FileInputStream_t> file;
    try {
        file.emplace(path_);
    } catch (const FileNotFoundException_t& e) {
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: index file not found: " << e);
        return;
    }
    QmXplIo::DataInputStream_t in{QmXplIo::BufferedInputStream_t(*file, 2048)};
    try {
        for (;;) {
            String_t alias = in.ReadJavaUTF();
            String_t fileName = in.ReadJavaUTF();
            int32_t type = in.ReadInt32();
            // A record is taken only when its file name is the one its alias and type give: a
            // file name from the index is joined to the directory, and must never reach outside
            // it or name another file of the store.
            Kind kind = type == ePrivateKey ? eKeys : eCertificates;
            bool known = kind == eKeys || type == eCertificate || type == eTrustedCertificate;
            if (!known || !KeyStore::IsValidAlias(alias) || fileName != FileNameOf(alias, kind)) {
                QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                            "KeyStoreImpl: index record of type "
                                << static_cast<int>(type) << " for alias '" << alias
                                << "' with file '" << fileName << "' is not valid");
                QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 38, );
            }
            Map(kind)[alias] = Entry{fileName, type};
        }
    } catch (const EOFException_t&) {
        // The regular end: after the last record, or inside a record cut short, which is dropped.
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation, "KeyStoreImpl: Caught EOFException_t");
    } catch (const IOException_t& e) {
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(39) << path_).AddDetails(e.GetMessageList()));
    }
    version_ = version;
    current_ = true;
}

void KeyStoreIndex::Write() {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:WriteIndexFile()");
    Version before = KeyStoreFiles::VersionOf(pathFs_);
    try {
        QmXplIo::CharArrayOutputStream_t bytes(8192);
        QmXplIo::DataOutputStream_t out(bytes);
        {
            ReadLock_t read(lock_);
            for (const EntryMap* map : {&certificates_, &keys_}) {
                for (const auto& [alias, entry] : *map) {
                    out.WriteJavaUTF(alias);
                    out.WriteJavaUTF(entry.fileName);
                    out.WriteInt32(entry.type);
                }
            }
        }
        out.Close();
        QmXplIo::File_t::WriteAtomically(path_, bytes.ToCharArray(), KeyStoreFiles::kFileMode);
    } catch (const Exception_t& e) {
        {
            // The maps hold a change the file does not: the next call reads the file again.
            WriteLock_t write(lock_);
            current_ = false;
        }
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(24) << path_).AddDetails(e.GetMessageList()));
    }
    // Readers know a version of the index by its time, size and inode. The clock that stamps a
    // file may not advance between two quick writes, and an inode may be reused, so a write
    // whose time is not later than the one before moves its time just past it: every version
    // written under the store lock has a later time than the one it replaces.
    Version after = KeyStoreFiles::VersionOf(pathFs_);
    if (after.exists && before.exists && after.mtimeNs <= before.mtimeNs) {
        int64_t ns = before.mtimeNs + 1;
        struct timespec times[2] = {{0, UTIME_OMIT}, {ns / 1000000000, ns % 1000000000}};
        if (utimensat(AT_FDCWD, pathFs_.c_str(), times, 0) != 0) {
            QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                        "KeyStoreImpl: could not advance the time of the index file (errno "
                            << errno << "); its inode tells the versions apart");
        }
        after = KeyStoreFiles::VersionOf(pathFs_);
    }
    WriteLock_t write(lock_);
    version_ = after;
    current_ = after.exists;
}

void KeyStoreIndex::Add(const String_t& alias, const String_t& fileName, int32_t type) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:AddItem()");
    Put(type == ePrivateKey ? eKeys : eCertificates, alias, Entry{fileName, type});
    Write();
}

void KeyStoreIndex::Put(Kind kind, const String_t& alias, const Entry& entry) {
    WriteLock_t write(lock_);
    Map(kind)[alias] = entry;
}

void KeyStoreIndex::Erase(Kind kind, const String_t& alias) {
    WriteLock_t write(lock_);
    Map(kind).erase(alias);
}

bool KeyStoreIndex::Lookup(Kind kind, const String_t& alias, Entry& out) const {
    ReadLock_t read(lock_);
    const EntryMap& map = Map(kind);
    auto it = map.find(alias);
    if (it == map.end()) return false;
    out = it->second;
    return true;
}

bool KeyStoreIndex::Has(Kind kind, const String_t& alias) const {
    ReadLock_t read(lock_);
    return Map(kind).count(alias) != 0;
}

bool KeyStoreIndex::IsTrusted(const String_t& alias) const {
    ReadLock_t read(lock_);
    auto it = certificates_.find(alias);
    return it != certificates_.end() && it->second.type == eTrustedCertificate;
}

bool KeyStoreIndex::HasKeys() const {
    ReadLock_t read(lock_);
    return !keys_.empty();
}

std::vector<String_t> KeyStoreIndex::Aliases(Kind kind) const {
    std::vector<String_t> aliases;
    ReadLock_t read(lock_);
    const EntryMap& map = Map(kind);
    aliases.reserve(map.size());
    for (const auto& entry : map) aliases.push_back(entry.first);
    return aliases;
}

}  // namespace QmSecCore
