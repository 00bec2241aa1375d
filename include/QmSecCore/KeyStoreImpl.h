// Body of KeyStore. Its installing and removing members are exported for programs that manage
// the store through KeyStore::operator->; everything else is the library's own.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "QmSecCore/Export.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/ObjectImpl.h"
#include "QmSecCore/StringCollection.h"
#include "QmSecCore/X509Certificate.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/Mutex_t.h"
#include "QmXpl/RwLock_t.h"
#include "QmXpl/String_t.h"

namespace QmSecCore {

// See KeyStore for what each operation does and throws.
//
// Files of the store directory D: "ks.dat" (the index), "nsk.dat" (the node key, encrypted with
// Crypt), alias + "_cert.pem", alias + "_key.dat", and "ks.lock", which every change holds with
// an exclusive flock(2) while it works. The index is a sequence of records (alias and file name
// as Java modified UTF-8 behind a big-endian 16-bit length, then the entry type as a big-endian
// 32-bit integer: 1 certificate, 2 trusted certificate, 3 private key), the certificates in
// ascending alias order first, then the keys; no header, no count.
class KeyStoreImpl : public ObjectImpl {
  public:
    enum EntryType : int32_t { eCertificate = 1, eTrustedCertificate = 2, ePrivateKey = 3 };

    // The store below baseDir (null or empty: the node's installation directory). Reads the
    // node key, when nsk.dat exists, and the index, when ks.dat exists.
    explicit KeyStoreImpl(const QmXplStr::String_t& baseDir);
    ~KeyStoreImpl() override;
    void DestroyThis() override;

    QMSEC_API void InstallCertificate(const QmXplStr::String_t& alias, const X509Certificate& cert,
                                      bool replace, bool trusted);
    QMSEC_API void InstallCertificate(const QmXplStr::String_t& alias, const X509Certificate& cert,
                                      const Key& privateKey, bool replace, bool trusted);
    QMSEC_API void RemoveCertificate(const QmXplStr::String_t& alias);
    QMSEC_API void RemovePrivateKey(const QmXplStr::String_t& alias);

    StringCollection& Aliases(StringCollection& out);
    X509Certificate& GetCertificate(const QmXplStr::String_t& alias, X509Certificate& out);
    Key& GetPrivateKey(const QmXplStr::String_t& alias, Key& out);
    bool IsCertEntry(const QmXplStr::String_t& alias);
    bool IsTrustedCertEntry(const QmXplStr::String_t& alias);
    bool IsPrivateKeyEntry(const QmXplStr::String_t& alias);

    // The store directory D, the node key file and the index file.
    const QmXplStr::String_t& GetDirectory() const noexcept { return dir_; }
    const QmXplStr::String_t& GetNodeKeyPath() const noexcept { return nodeKeyPath_; }
    const QmXplStr::String_t& GetIndexPath() const noexcept { return indexPath_; }

    // Whether alias may name an entry (see KeyStore).
    static bool IsValidAlias(const QmXplStr::String_t& alias) noexcept;

  private:
    struct Entry {
        QmXplStr::String_t fileName;  // relative to D
        int32_t type = 0;
    };
    using EntryMap = std::map<QmXplStr::String_t, Entry>;

    // One version of a file as stat(2) tells it: equal versions have the same inode, size and
    // modification time to the nanosecond.
    struct FileVersion {
        bool exists = false;
        int64_t size = 0;
        int64_t mtimeNs = 0;
        uint64_t inode = 0;
        uint64_t device = 0;
        bool operator==(const FileVersion&) const = default;
    };
    class StoreLock;

    void Init(const QmXplStr::String_t& baseDir);
    static FileVersion VersionOf(const std::string& path) noexcept;
    void CheckAlias(const QmXplStr::String_t& alias) const;
    QmXplStr::String_t PathOf(const QmXplStr::String_t& fileName) const;

    void ReadIndexFile();
    void LoadIndex(const FileVersion& version);
    void WriteIndexFile();
    void AddItem(const QmXplStr::String_t& alias, const QmXplStr::String_t& fileName, int32_t type);
    void CreateStoreDirectory();
    void EnsureNodeKey();
    bool ReadNodeKey();
    QmXplArray::CharArray_t NodeKey();
    bool ReadDataFromFile(const QmXplStr::String_t& path, QmXplArray::CharArray_t& out) const;

    // What an alias held before an install of a certificate with its key.
    struct Previous {
        bool hadCertificate = false;
        bool hadKey = false;
        Entry certificate;
        Entry key;
        QmXplArray::CharArray_t pem;  // the certificate file's bytes
    };

    void RemoveTemporaries();
    void BeginChange();
    void StoreCertificate(const QmXplStr::String_t& alias, const QmXplArray::CharArray_t& pem,
                          bool trusted);
    void InstallPrivateKey(const QmXplStr::String_t& alias,
                           const QmXplArray::CharArray_t& encodedKey);
    void Restore(const QmXplStr::String_t& alias, const Previous& previous) noexcept;
    void Remove(const QmXplStr::String_t& alias, bool certificate);
    bool Lookup(const EntryMap& map, const QmXplStr::String_t& alias, Entry& out);

    QmXplStr::String_t dir_, nodeKeyPath_, indexPath_;
    std::string dirFs_, nodeKeyFs_, indexFs_, lockFs_;  // the same as file system (UTF-8) paths

    // The clear node key (wiped when it goes), and the version of nsk.dat it came from.
    QmXplThread::Mutex_t nodeKeyMutex_;
    QmXplArray::CharArray_t nodeKey_;
    FileVersion nodeKeyVersion_;

    // Guards the maps and the version of the index they were read from (or last written as).
    QmXplThread::RwLock_t lock_;
    FileVersion indexVersion_;
    bool indexCurrent_ = false;  // the maps hold all of indexVersion_
    EntryMap certificates_;
    EntryMap keys_;
};

}  // namespace QmSecCore
