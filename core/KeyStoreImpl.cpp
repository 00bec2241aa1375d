#include "QmSecCore/KeyStoreImpl.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "KeyImpl.h"
#include "OpenSsl.h"
#include "QmSecCore/AlreadyInstalledException.h"
#include "QmSecCore/BadPaddingException.h"
#include "QmSecCore/Cipher.h"
#include "QmSecCore/CoreNames.h"
#include "QmSecCore/Crypt.h"
#include "QmSecCore/EntryNotFoundException.h"
#include "QmSecCore/InvalidKeyException.h"
#include "QmSecCore/KeyStore.h"
#include "QmSecCore/KeyStoreException.h"
#include "QmSecIo/CipherInputStream.h"
#include "QmSecIo/CipherOutputStream.h"
#include "QmXpl/AtomicFileOutputStream_t.h"
#include "QmXpl/BufferedInputStream_t.h"
#include "QmXpl/CharArrayOutputStream_t.h"
#include "QmXpl/DataInputStream_t.h"
#include "QmXpl/DataOutputStream_t.h"
#include "QmXpl/Dir_t.h"
#include "QmXpl/FileInputStream_t.h"
#include "QmXpl/File_t.h"
#include "QmXpl/IOException_t.h"
#include "QmXpl/UTF8_t.h"
#include "Throw.h"
#include "Trace.h"
#include "X509CertificateImpl.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmSecCoreTrc::kLevelOperation;
using QmSecCoreTrc::kLevelProc;
using QmXplArray::CharArray_t;
using QmXplIo::EOFException_t;
using QmXplIo::File_t;
using QmXplIo::FileNotFoundException_t;
using QmXplIo::IOException_t;
using QmXplMsg::Exception_t;
using QmXplMsg::IllegalArgumentError_t;
using QmXplMsg::RuntimeException_t;
using QmXplStr::String_t;
using QmXplThread::MutexLock_t;
using QmXplThread::ReadLock_t;
using QmXplThread::WriteLock_t;

namespace {

// Every file of the store is readable and writable by its owner only; the directory likewise.
constexpr int kFileMode = 0600;
constexpr int kDirectoryMode = 0700;
constexpr int kNodeKeyLength = 24;  // a Triple-DES key
constexpr int kChunk = 4096;

const char* const kCertificateSuffix = "_cert.pem";
const char* const kKeySuffix = "_key.dat";

std::string Fs(const String_t& path) { return QmXplStr::UTF8_t(path).Str(); }

// Wipes a secret held in an array when the scope ends, however it ends.
struct Wiper {
    CharArray_t& bytes;
    ~Wiper() { bytes.Wipe(); }
};

QmXplMsg::Message_t SystemError(int err, const std::string& what) {
    return QmXplMsg::CreateSystemError_t(err, String_t(what));
}

// Anyone who may rename entries of the store's directory may put a key or certificate of their
// own in place of the node's, or a trusted certificate beside them: such a store is not used.
void RefuseSharedDirectory(const String_t& dir) {
    if (File_t(dir).IsWritableByOthers())
        QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 178, << dir);
}

using Pkcs8 = std::unique_ptr<PKCS8_PRIV_KEY_INFO, ossl::Deleter<PKCS8_PRIV_KEY_INFO_free>>;

}  // namespace

// The exclusive lock that every change of the store holds: flock(2) on "ks.lock" in the store
// directory. Each holder opens the file itself, so the lock excludes other threads of this
// process as well as other processes; the system drops it when the holder closes the file or
// dies, so a crashed writer never blocks the store.
class KeyStoreImpl::StoreLock {
  public:
    explicit StoreLock(const std::string& path) {
        do {
            fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kFileMode);
        } while (fd_ < 0 && errno == EINTR);
        if (fd_ < 0) Fail(errno, path, "Could not open the lock file");
        struct stat st {};
        if (fstat(fd_, &st) == 0 && (st.st_mode & 07777) != kFileMode &&
            fchmod(fd_, kFileMode) != 0) {
            Fail(errno, path, "Could not set the permissions of the lock file");
        }
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) Fail(errno, path, "Could not lock the lock file");
        }
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation, "KeyStoreImpl: locked the store");
    }
    ~StoreLock() {
        ::close(fd_);
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation, "KeyStoreImpl: unlocked the store");
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

  private:
    [[noreturn]] void Fail(int err, const std::string& path, const char* what) {
        if (fd_ >= 0) ::close(fd_);
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(28) << String_t(path))
                        .AddDetail(SystemError(err, std::string(what) + " '" + path + "'")));
    }

    int fd_ = -1;
};

// --- handle ----------------------------------------------------------------------------------

KeyStore::KeyStore() : Object(new KeyStoreImpl(String_t::Null)) {}
KeyStore::KeyStore(const String_t& baseDir) : Object(new KeyStoreImpl(baseDir)) {}
KeyStore::~KeyStore() = default;

KeyStoreImpl* KeyStore::operator->() const noexcept {
    return static_cast<KeyStoreImpl*>(Object::operator->());
}
KeyStoreImpl* KeyStore::Body() const { return GetBody<KeyStoreImpl>("KeyStore"); }

StringCollection& KeyStore::Aliases(StringCollection& out) const { return Body()->Aliases(out); }
X509Certificate& KeyStore::GetCertificate(const String_t& alias, X509Certificate& out) const {
    return Body()->GetCertificate(alias, out);
}
Key& KeyStore::GetPrivateKey(const String_t& alias, Key& out) const {
    return Body()->GetPrivateKey(alias, out);
}
bool KeyStore::IsCertEntry(const String_t& alias) const { return Body()->IsCertEntry(alias); }
bool KeyStore::IsTrustedCertEntry(const String_t& alias) const {
    return Body()->IsTrustedCertEntry(alias);
}
bool KeyStore::IsPrivateKeyEntry(const String_t& alias) const {
    return Body()->IsPrivateKeyEntry(alias);
}
void KeyStore::InstallCertificate(const String_t& alias, const X509Certificate& cert, bool replace,
                                  bool trusted) const {
    Body()->InstallCertificate(alias, cert, replace, trusted);
}
void KeyStore::InstallCertificate(const String_t& alias, const X509Certificate& cert,
                                  const Key& privateKey, bool replace, bool trusted) const {
    Body()->InstallCertificate(alias, cert, privateKey, replace, trusted);
}
void KeyStore::RemoveCertificate(const String_t& alias) const { Body()->RemoveCertificate(alias); }
void KeyStore::RemovePrivateKey(const String_t& alias) const { Body()->RemovePrivateKey(alias); }

// --- body: life cycle and paths ----------------------------------------------------------------

KeyStoreImpl::KeyStoreImpl(const String_t& baseDir) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:Constructor");
    Initializer::Ensure();
    Init(baseDir);
}

KeyStoreImpl::~KeyStoreImpl() {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:Destructor");
    nodeKey_.Wipe();
}

void KeyStoreImpl::DestroyThis() {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:DestroyThis()");
    delete this;
}

void KeyStoreImpl::Init(const String_t& baseDir) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:Init");
    using QmXplRuntime::Dir_t;
    auto path = [&](const char* relative) {
        if (baseDir.IsNull()) return Dir_t::Path(Dir_t::eData, String_t(relative));
        return Dir_t::Path(baseDir.IsEmpty() ? String_t::Null : baseDir, Dir_t::eData,
                           String_t(relative));
    };
    dir_ = path(kKeyStoreDirectory);
    nodeKeyPath_ = path(kNodeKeyFile);
    indexPath_ = path(kKeyStoreIndexFile);
    dirFs_ = Fs(dir_);
    nodeKeyFs_ = Fs(nodeKeyPath_);
    indexFs_ = Fs(indexPath_);
    lockFs_ = dirFs_ + "/ks.lock";
    QMSEC_TRACE(kCoreArea.init, kLevelProc, "KeyStoreImpl: key store directory: '" << dir_ << "'");
    {
        MutexLock_t lock(nodeKeyMutex_);
        ReadNodeKey();
    }
    ReadIndexFile();
}

KeyStoreImpl::FileVersion KeyStoreImpl::VersionOf(const std::string& path) noexcept {
    FileVersion v;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return v;
    v.exists = true;
    v.size = static_cast<int64_t>(st.st_size);
    v.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    v.inode = static_cast<uint64_t>(st.st_ino);
    v.device = static_cast<uint64_t>(st.st_dev);
    return v;
}

// The alias is the start of a file name in the store directory: "", "." and ".." give
// "_cert.pem", "._cert.pem" and ".._cert.pem", and a backslash is an ordinary character here, so
// all of them stay inside the directory, and other components sharing the store may have
// written them. Only what cannot be part of a file name is refused. A null string has no text
// to name a file (and an index record could not give it back).
bool KeyStoreImpl::IsValidAlias(const String_t& alias) noexcept {
    if (alias.IsNull()) return false;
    const std::u16string& s = alias.Str();
    for (size_t i = 0; i < s.size(); ++i) {
        char16_t c = s[i];
        if (c == u'/' || c == u'\0') return false;
        // A lone surrogate has no UTF-8 form: on the file system it would become U+FFFD, and two
        // different aliases would share one file.
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

void KeyStoreImpl::CheckAlias(const String_t& alias) const {
    if (!IsValidAlias(alias)) QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 175, << alias);
}

String_t KeyStoreImpl::PathOf(const String_t& fileName) const { return dir_ + "/" + fileName; }

// --- body: the index -------------------------------------------------------------------------

void KeyStoreImpl::ReadIndexFile() {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:ReadIndexFile()");
    RefuseSharedDirectory(dir_);
    FileVersion version = VersionOf(indexFs_);
    if (!version.exists) {
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation, "KeyStoreImpl: no index file found");
        {
            ReadLock_t read(lock_);
            if (indexCurrent_ && !indexVersion_.exists) return;  // empty already
        }
        WriteLock_t write(lock_);
        certificates_.clear();
        keys_.clear();
        // Forgetting the version makes a file that appears later new, whatever its time.
        indexVersion_ = FileVersion();
        indexCurrent_ = true;
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation, "KeyStoreImpl: cleared entry maps");
        return;
    }
    {
        ReadLock_t read(lock_);
        if (indexCurrent_ && version == indexVersion_) {
            QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                        "KeyStoreImpl: index file has not changed, skipping read.");
            return;
        }
    }
    WriteLock_t write(lock_);
    if (indexCurrent_ && version == indexVersion_) return;  // another thread has just read it
    LoadIndex(version);
}

// Called with the write lock held. The version is taken before the file is opened: should the
// file be replaced in between, the newer content is read under the older version, and the next
// call reads it again, never the other way round.
void KeyStoreImpl::LoadIndex(const FileVersion& version) {
    QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                "KeyStoreImpl: reading index file: '" << indexPath_ << "'...");
    certificates_.clear();
    keys_.clear();
    indexCurrent_ = false;
    std::optional<QmXplIo::FileInputStream_t> file;
    try {
        file.emplace(indexPath_);
    } catch (const FileNotFoundException_t& e) {
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: index file not found: " << e);
        return;
    }
    QmXplIo::DataInputStream_t in{QmXplIo::BufferedInputStream_t(*file, 2048)};
    const String_t certificateSuffix(kCertificateSuffix), keySuffix(kKeySuffix);
    try {
        for (;;) {
            String_t alias = in.ReadJavaUTF();
            String_t fileName = in.ReadJavaUTF();
            int32_t type = in.ReadInt32();
            // A record is taken only when its file name is the one its alias and type give: a
            // file name from the index is joined to the directory, and must never reach outside
            // it or name another file of the store.
            bool key = type == ePrivateKey;
            bool known = key || type == eCertificate || type == eTrustedCertificate;
            if (!known || !IsValidAlias(alias) ||
                fileName != alias + (key ? keySuffix : certificateSuffix)) {
                QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                            "KeyStoreImpl: index record of type "
                                << static_cast<int>(type) << " for alias '" << alias
                                << "' with file '" << fileName << "' is not valid");
                QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 38, );
            }
            (key ? keys_ : certificates_)[alias] = Entry{fileName, type};
        }
    } catch (const EOFException_t&) {
        // The regular end: after the last record, or inside a record cut short, which is dropped.
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation, "KeyStoreImpl: Caught EOFException_t");
    } catch (const IOException_t& e) {
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(39) << indexPath_).AddDetails(e.GetMessageList()));
    }
    indexVersion_ = version;
    indexCurrent_ = true;
}

// Called with the store lock held, so the file changes only here while this runs.
void KeyStoreImpl::WriteIndexFile() {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:WriteIndexFile()");
    FileVersion before = VersionOf(indexFs_);
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
        File_t::WriteAtomically(indexPath_, bytes.ToCharArray(), kFileMode);
    } catch (const Exception_t& e) {
        {
            // The maps hold a change the file does not: the next call reads the file again.
            WriteLock_t write(lock_);
            indexCurrent_ = false;
        }
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(24) << indexPath_).AddDetails(e.GetMessageList()));
    }
    // Readers know a version of the index by its time, size and inode. The clock that stamps a
    // file may not advance between two quick writes, and an inode may be reused, so a write
    // whose time is not later than the one before moves its time just past it: every version
    // written under the store lock has a later time than the one it replaces.
    FileVersion after = VersionOf(indexFs_);
    if (after.exists && before.exists && after.mtimeNs <= before.mtimeNs) {
        int64_t ns = before.mtimeNs + 1;
        struct timespec times[2] = {{0, UTIME_OMIT}, {ns / 1000000000, ns % 1000000000}};
        if (utimensat(AT_FDCWD, indexFs_.c_str(), times, 0) != 0) {
            QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                        "KeyStoreImpl: could not advance the time of the index file (errno "
                            << errno << "); its inode tells the versions apart");
        }
        after = VersionOf(indexFs_);
    }
    WriteLock_t write(lock_);
    indexVersion_ = after;
    indexCurrent_ = after.exists;
}

void KeyStoreImpl::AddItem(const String_t& alias, const String_t& fileName, int32_t type) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:AddItem()");
    {
        WriteLock_t write(lock_);
        (type == ePrivateKey ? keys_ : certificates_)[alias] = Entry{fileName, type};
    }
    WriteIndexFile();
}

bool KeyStoreImpl::Lookup(const EntryMap& map, const String_t& alias, Entry& out) {
    ReadLock_t read(lock_);
    auto it = map.find(alias);
    if (it == map.end()) return false;
    out = it->second;
    return true;
}

// --- body: directory, node key and files ------------------------------------------------------

void KeyStoreImpl::CreateStoreDirectory() {
    File_t dir(dir_);
    if (dir.IsDirectory()) return;
    // The store's parent ("sec") holds nothing but the store: as private as the store itself.
    File_t(dir.GetParent()).Mkdirs(kDirectoryMode);
    if (!dir.Mkdirs(kDirectoryMode)) QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 22, << dir_);
    // Mkdirs leaves the mode to the umask; the store's directory is its owner's alone.
    try {
        dir.SetPermissions(kDirectoryMode);
    } catch (const Exception_t& e) {
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(174) << dir_).AddDetails(e.GetMessageList()));
    }
    QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                "KeyStoreImpl: created directory '" << dir_ << "'");
}

// Called with the store lock held, so that one directory gets exactly one node key: a process
// that finds nsk.dat under the lock uses it, and only one that finds none creates it.
void KeyStoreImpl::EnsureNodeKey() {
    MutexLock_t lock(nodeKeyMutex_);
    if (VersionOf(nodeKeyFs_).exists) {
        ReadNodeKey();
        return;
    }
    CharArray_t key;
    Wiper wipeKey{key};
    if (!nodeKey_.IsEmpty()) {
        // The file has gone, but the key it held is known: every key file of the store is
        // encrypted under it, so it is written back rather than replaced by a new one.
        key.Copy(nodeKey_);
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: node specific key file missing, writing the known key again");
    } else {
        // Every key file the index lists is encrypted under the key that was in the file; a new
        // one would make them all unreadable for good. The file has to come back instead.
        bool keysStored;
        {
            ReadLock_t read(lock_);
            keysStored = !keys_.empty();
        }
        if (keysStored) QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 182, << nodeKeyPath_);
        key.Resize(kNodeKeyLength);
        unsigned char* bytes = reinterpret_cast<unsigned char*>(key.GetData());
        if (RAND_bytes(bytes, kNodeKeyLength) != 1) {
            QMSEC_THROW(kCoreArea, KeyStoreException,
                        (detail::CatalogMessage(24) << nodeKeyPath_)
                            .AddDetail(QmXplMsg::CreateWarn_t(String_t(
                                "The random generator failed (" + ossl::ErrorText() + ")."))));
        }
        for (int i = 0; i < kNodeKeyLength; ++i) {
            if (bytes[i] == 0) bytes[i] = 0x23;
        }
    }
    CharArray_t text;
    Crypt().Encrypt(key, text);
    try {
        File_t::WriteAtomically(nodeKeyPath_, text, kFileMode);
    } catch (const Exception_t& e) {
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(24) << nodeKeyPath_).AddDetails(e.GetMessageList()));
    }
    nodeKey_.Wipe();
    nodeKey_.Copy(key);
    nodeKeyVersion_ = VersionOf(nodeKeyFs_);
    QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                "KeyStoreImpl: wrote node specific key file '" << nodeKeyPath_ << "'");
}

// Called with the node key mutex held. Reads nsk.dat unless the key in memory came from this
// very version of it; false when there is no such file.
bool KeyStoreImpl::ReadNodeKey() {
    FileVersion version = VersionOf(nodeKeyFs_);
    if (!version.exists) return false;
    if (!nodeKey_.IsEmpty() && version == nodeKeyVersion_) return true;
    CharArray_t text;
    if (!ReadDataFromFile(nodeKeyPath_, text) || text.IsEmpty())
        QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 21, << nodeKeyPath_);
    CharArray_t key;
    Wiper wipeKey{key};
    try {
        Crypt().Decrypt(text, key);
    } catch (const BadPaddingException& e) {
        // Said in the store's terms, and only so: the provider's key is not the one the file
        // was made with (another node's secret, a secret made anew), or the file is damaged; a
        // padding error would send the operator after the wrong thing.
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: node specific key file does not decrypt: " << e);
        QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 183, << nodeKeyPath_);
    }
    if (key.GetSize() != kNodeKeyLength)
        QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 183, << nodeKeyPath_);
    nodeKey_.Wipe();
    nodeKey_.Copy(key);
    nodeKeyVersion_ = version;
    QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                "KeyStoreImpl: read node specific key file '" << nodeKeyPath_ << "'");
    return true;
}

// A copy of the node key for one use (the caller wipes it), read when needed.
CharArray_t KeyStoreImpl::NodeKey() {
    MutexLock_t lock(nodeKeyMutex_);
    if (!ReadNodeKey() && nodeKey_.IsEmpty()) {
        QMSEC_THROW(
            kCoreArea, KeyStoreException,
            detail::CatalogMessage(29).AddDetail(detail::CatalogMessage(21) << nodeKeyPath_));
    }
    return nodeKey_;
}

bool KeyStoreImpl::ReadDataFromFile(const String_t& path, CharArray_t& out) const {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:ReadDataFromFile()");
    if (path.IsEmpty()) return false;
    try {
        out = File_t::ReadAll(path);
        return true;
    } catch (const Exception_t& e) {
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: could not read '" << path << "': " << e);
        return false;
    }
}

// --- body: queries ---------------------------------------------------------------------------

StringCollection& KeyStoreImpl::Aliases(StringCollection& out) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:Aliases()");
    (void)out.IsEmpty();  // an empty collection handle fails here, whatever the store holds
    ReadIndexFile();
    std::vector<String_t> aliases;
    {
        ReadLock_t read(lock_);
        aliases.reserve(certificates_.size());
        for (const auto& entry : certificates_) aliases.push_back(entry.first);
    }
    for (const String_t& alias : aliases) out.Add(alias);
    return out;
}

bool KeyStoreImpl::IsCertEntry(const String_t& alias) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:IsCertEntry()");
    ReadIndexFile();
    ReadLock_t read(lock_);
    return certificates_.find(alias) != certificates_.end();
}

bool KeyStoreImpl::IsTrustedCertEntry(const String_t& alias) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:IsTrustedCertEntry()");
    ReadIndexFile();
    ReadLock_t read(lock_);
    auto it = certificates_.find(alias);
    return it != certificates_.end() && it->second.type == eTrustedCertificate;
}

bool KeyStoreImpl::IsPrivateKeyEntry(const String_t& alias) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:IsPrivateKeyEntry()");
    ReadIndexFile();
    ReadLock_t read(lock_);
    return keys_.find(alias) != keys_.end();
}

X509Certificate& KeyStoreImpl::GetCertificate(const String_t& alias, X509Certificate& out) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:GetCertificate()");
    CheckAlias(alias);
    ReadIndexFile();
    Entry entry;
    if (!Lookup(certificates_, alias, entry))
        QMSEC_THROW_MSG(kCoreArea, EntryNotFoundException, 25, << alias);
    String_t path = PathOf(entry.fileName);
    if (!File_t(path).Exists()) QMSEC_THROW_MSG(kCoreArea, EntryNotFoundException, 25, << alias);
    CharArray_t pem;
    if (!ReadDataFromFile(path, pem)) QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 26, << path);
    try {
        out = X509Certificate(pem);
    } catch (const Exception_t& e) {
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(26) << path).AddDetails(e.GetMessageList()));
    }
    return out;
}

Key& KeyStoreImpl::GetPrivateKey(const String_t& alias, Key& out) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:GetPrivateKey()");
    CheckAlias(alias);
    ReadIndexFile();
    Entry entry;
    if (!Lookup(keys_, alias, entry))
        QMSEC_THROW_MSG(kCoreArea, EntryNotFoundException, 27, << alias);
    String_t path = PathOf(entry.fileName);
    std::optional<QmXplIo::FileInputStream_t> file;
    try {
        file.emplace(path);
    } catch (const Exception_t& e) {
        if (!File_t(path).Exists())
            QMSEC_THROW_MSG(kCoreArea, EntryNotFoundException, 27, << alias);
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(28) << path).AddDetails(e.GetMessageList()));
    }

    CharArray_t nodeKey = NodeKey();
    Wiper wipeNodeKey{nodeKey};
    Cipher cipher(Cipher::eDecrypt, Key(Key::eSecretKey, nodeKey), Key::eDES3);
    QmSecIo::CipherInputStream in(*file, cipher);
    // The decrypted key passes through these buffers only, each wiped when it is left.
    QmXplIo::CharArrayOutputStream_t collected(kChunk);
    CharArray_t chunk(kChunk);
    Wiper wipeChunk{chunk};
    try {
        for (;;) {
            int n = in.Read(chunk.GetData(), kChunk);
            if (n <= 0) break;
            collected.Write(chunk.GetData(), n);
        }
        in.Close();
    } catch (...) {
        collected.Reset();
        throw;
    }
    CharArray_t der = collected.ToCharArray();
    Wiper wipeDer{der};
    collected.Reset();

    ossl::Bio bio = ossl::MemoryReader(der.GetData(), der.GetSize());
    if (!bio) QMSEC_THROW_MSG(kCoreArea, RuntimeException_t, 34, );
    Pkcs8 info(d2i_PKCS8_PRIV_KEY_INFO_bio(bio.get(), nullptr));
    ossl::PKey key(info ? EVP_PKCS82PKEY(info.get()) : nullptr);
    if (!key) {
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: not a PKCS #8 key: " << ossl::ErrorText());
        QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 30, );
    }
    out = Key(new RSAKey(key.get(), Key::eRSAPrivateKey));
    return out;
}

// --- body: changes ---------------------------------------------------------------------------

namespace {

// The unencrypted DER PKCS #8 form of an RSA private key, made before anything is stored so
// that a key that cannot be stored leaves the store as it was.
CharArray_t EncodePrivateKey(const Key& key) {
    if (key.GetType() != Key::eRSAPrivateKey) QMSEC_THROW_MSG(kCoreArea, InvalidKeyException, 79, );
    EVP_PKEY* pkey = RSAKey::PKeyOf(key);
    if (!pkey) QMSEC_THROW_MSG(kCoreArea, InvalidKeyException, 79, );
    // A secure-heap buffer, wiped when it is freed.
    ossl::Bio bio(BIO_new(BIO_s_secmem()));
    if (!bio) QMSEC_THROW_MSG(kCoreArea, RuntimeException_t, 34, );
    if (i2d_PKCS8PrivateKey_bio(bio.get(), pkey, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 35, << ossl::ErrorText());
    return ossl::Contents(bio.get());
}

// The public key of the certificate and the private key must be one pair: stored together they
// are what the node signs and proves itself with, and a key of another certificate would make
// all of that fail (or, worse, pass for the wrong certificate).
void CheckKeyOfCertificate(const String_t& alias, const X509Certificate& cert, const Key& key) {
    EVP_PKEY* certificateKey = X509_get0_pubkey(X509CertificateImpl::Of(cert).GetX509());
    if (!certificateKey || EVP_PKEY_eq(certificateKey, RSAKey::PKeyOf(key)) != 1) {
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: key and certificate differ: " << ossl::ErrorText());
        QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 184, << alias);
    }
}

// A temporary that AtomicFile leaves beside its target while it writes: "." + name + ".tmp-"
// and a random tail of letters and digits (six or more).
bool IsTemporaryName(const char* name) {
    std::string_view n(name);
    size_t at = n.rfind(".tmp-");
    if (n.size() < 2 || n[0] != '.' || at == std::string_view::npos || at == 0) return false;
    std::string_view tail = n.substr(at + 5);
    return tail.size() >= 6 && std::all_of(tail.begin(), tail.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c));
           });
}

}  // namespace

// Called with the store lock held. Every file of the store is written under that lock, so a
// temporary found now belongs to a writer that died before it could finish or remove it.
void KeyStoreImpl::RemoveTemporaries() {
    DIR* dir = ::opendir(dirFs_.c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
        if (IsTemporaryName(e->d_name)) names.emplace_back(e->d_name);
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        int rc = ::unlink((dirFs_ + "/" + name).c_str());
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: removing the temporary '" << name << "' of an unfinished write"
                                                             << (rc == 0 ? "" : " failed"));
    }
}

// The start of every install, with the store lock held: the index as it is now, and the node key
// (made with the first install).
void KeyStoreImpl::BeginChange() {
    RemoveTemporaries();
    ReadIndexFile();
    EnsureNodeKey();
}

void KeyStoreImpl::InstallCertificate(const String_t& alias, const X509Certificate& cert,
                                      bool replace, bool trusted) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:InstallCertificate()");
    CheckAlias(alias);
    CharArray_t pem;
    cert.GetEncoded(pem);
    ReadIndexFile();
    CreateStoreDirectory();
    StoreLock lock(lockFs_);
    BeginChange();
    Entry entry;
    if (!replace && Lookup(certificates_, alias, entry))
        QMSEC_THROW_MSG(kCoreArea, AlreadyInstalledException, 31, << alias);
    if (Lookup(keys_, alias, entry)) {
        // A new certificate for a stored key (a renewal) must be of that key. A key that cannot
        // be read cannot be compared; its alias is not held hostage by it.
        Key stored;
        bool readable = true;
        try {
            GetPrivateKey(alias, stored);
        } catch (const Exception_t& e) {
            readable = false;
            QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                        "KeyStoreImpl: the stored key of alias '"
                            << alias << "' cannot be compared with the certificate: " << e);
        }
        if (readable) CheckKeyOfCertificate(alias, cert, stored);
    }
    StoreCertificate(alias, pem, trusted);
}

void KeyStoreImpl::InstallCertificate(const String_t& alias, const X509Certificate& cert,
                                      const Key& privateKey, bool replace, bool trusted) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:InstallCertificate()");
    CheckAlias(alias);
    CharArray_t pem;
    cert.GetEncoded(pem);
    CharArray_t der = EncodePrivateKey(privateKey);
    Wiper wipeDer{der};
    CheckKeyOfCertificate(alias, cert, privateKey);
    ReadIndexFile();
    CreateStoreDirectory();
    StoreLock lock(lockFs_);
    BeginChange();
    // Every check before the first write: a refused install changes nothing.
    Previous previous;
    previous.hadCertificate = Lookup(certificates_, alias, previous.certificate);
    previous.hadKey = Lookup(keys_, alias, previous.key);
    if (!replace && previous.hadCertificate)
        QMSEC_THROW_MSG(kCoreArea, AlreadyInstalledException, 31, << alias);
    if (!replace && previous.hadKey)
        QMSEC_THROW_MSG(kCoreArea, AlreadyInstalledException, 33, << alias);
    if (previous.hadCertificate &&
        !ReadDataFromFile(PathOf(previous.certificate.fileName), previous.pem)) {
        previous.pem = CharArray_t();
    }
    try {
        // The old key leaves the index before the new certificate arrives, and the new key
        // joins it last: whenever this process stops, the alias lists no certificate beside a
        // key that is not its own.
        if (previous.hadKey) {
            {
                WriteLock_t write(lock_);
                keys_.erase(alias);
            }
            WriteIndexFile();
        }
        StoreCertificate(alias, pem, trusted);
        InstallPrivateKey(alias, der);
    } catch (...) {
        Restore(alias, previous);
        throw;
    }
}

// After an install of a certificate with its key failed: the alias as it was before, as far as
// the store allows. The previous key file was never touched (a key file is replaced only when
// complete), so listing it again brings it back; the previous certificate is written back, or
// the new one removed. The caller reports the install's own failure, not this one's.
void KeyStoreImpl::Restore(const String_t& alias, const Previous& previous) noexcept {
    try {
        String_t certificateFile = alias + kCertificateSuffix;
        bool certificateBack = previous.hadCertificate && !previous.pem.IsEmpty();
        if (certificateBack)
            File_t::WriteAtomically(PathOf(certificateFile), previous.pem, kFileMode);
        {
            WriteLock_t write(lock_);
            if (certificateBack) {
                certificates_[alias] = previous.certificate;
            } else {
                certificates_.erase(alias);
            }
            if (previous.hadKey) keys_[alias] = previous.key;
        }
        WriteIndexFile();
        if (!certificateBack) ::unlink(Fs(PathOf(certificateFile)).c_str());
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: install of alias '" << alias << "' undone");
    } catch (const Exception_t& e) {
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: could not undo the install of alias '" << alias << "': " << e);
    } catch (...) {
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: could not undo the install of alias '" << alias << "'");
    }
}

// Called with the store lock held and the checks done. Any file of the alias that the index
// does not list (left by an install that was killed) is replaced.
void KeyStoreImpl::StoreCertificate(const String_t& alias, const CharArray_t& pem, bool trusted) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:StoreCertificate()");
    String_t fileName = alias + kCertificateSuffix;
    String_t path = PathOf(fileName);
    try {
        File_t::WriteAtomically(path, pem, kFileMode);
    } catch (const Exception_t& e) {
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(32) << path).AddDetails(e.GetMessageList()));
    }
    AddItem(alias, fileName, trusted ? eTrustedCertificate : eCertificate);
}

void KeyStoreImpl::InstallPrivateKey(const String_t& alias, const CharArray_t& encodedKey) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:InstallPrivateKey()");
    String_t fileName = alias + kKeySuffix;
    String_t path = PathOf(fileName);
    CharArray_t nodeKey = NodeKey();
    Wiper wipeNodeKey{nodeKey};
    Cipher cipher(Cipher::eEncrypt, Key(Key::eSecretKey, nodeKey), Key::eDES3);
    std::optional<QmXplIo::AtomicFileOutputStream_t> file;
    try {
        file.emplace(path, kFileMode);
    } catch (const Exception_t& e) {
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(28) << path).AddDetails(e.GetMessageList()));
    }
    // The file appears only when Close has written all of it; a failure leaves any earlier
    // file of the alias as it was.
    try {
        QmSecIo::CipherOutputStream out(*file, cipher);
        out.Write(encodedKey.GetData(), encodedKey.GetSize());
        out.Close();
    } catch (const IOException_t& e) {
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(32) << path).AddDetails(e.GetMessageList()));
    }
    AddItem(alias, fileName, ePrivateKey);
}

void KeyStoreImpl::RemoveCertificate(const String_t& alias) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:RemoveCertificate()");
    Remove(alias, true);
}

void KeyStoreImpl::RemovePrivateKey(const String_t& alias) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:RemovePrivateKey()");
    Remove(alias, false);
}

void KeyStoreImpl::Remove(const String_t& alias, bool certificate) {
    CheckAlias(alias);
    if (!File_t(dir_).IsDirectory()) {
        // No directory, no entries: nothing to lock and nothing to remove.
        ReadIndexFile();
        return;
    }
    StoreLock lock(lockFs_);
    RemoveTemporaries();
    ReadIndexFile();
    EntryMap& map = certificate ? certificates_ : keys_;
    Entry entry;
    if (!Lookup(map, alias, entry)) {
        // The index is what is installed; a file it does not list was left by an install that
        // was killed half way, and goes with the alias.
        String_t path = PathOf(alias + (certificate ? kCertificateSuffix : kKeySuffix));
        bool removed = ::unlink(Fs(path).c_str()) == 0;
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: no entry for alias '"
                        << alias << "'"
                        << (removed ? ", removed the file of an unfinished install"
                                    : ", nothing to remove"));
        return;
    }
    String_t path = PathOf(entry.fileName);
    bool missing = false;
    if (::unlink(Fs(path).c_str()) != 0) {
        int err = errno;
        if (err != ENOENT) {
            QMSEC_THROW(kCoreArea, KeyStoreException,
                        (detail::CatalogMessage(certificate ? 36 : 37) << path)
                            .AddDetail(SystemError(err, "Could not delete '" + Fs(path) + "'")));
        }
        missing = true;
    }
    {
        WriteLock_t write(lock_);
        map.erase(alias);
    }
    WriteIndexFile();
    // An entry whose file had gone is dropped all the same, so that the store does not keep an
    // entry that nothing can remove; the caller learns that there was nothing to delete.
    if (missing) QMSEC_THROW_MSG(kCoreArea, KeyStoreException, certificate ? 25 : 27, << alias);
}

}  // namespace QmSecCore
