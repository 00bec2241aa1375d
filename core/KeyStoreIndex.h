// The index of a key store, "ks.dat": which aliases have a certificate (plain or trusted) and
// which a private key, and the file of each.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "KeyStoreFiles.h"
#include "QmXpl/RwLock_t.h"
#include "QmXpl/String_t.h"

namespace QmSecCore {

// The file is a sequence of records (alias and file name as Java modified UTF-8 behind a
// big-endian 16-bit length, then the entry type as a big-endian 32-bit integer: 1 certificate,
// 2 trusted certificate, 3 private key), the certificates in ascending alias order first, then
// the keys; no header, no count. The object keeps the entries in memory and reads the file again
// when it has changed; one object may be used from several threads at once.
class KeyStoreIndex {
  public:
    enum EntryType : int32_t { eCertificate = 1, eTrustedCertificate = 2, ePrivateKey = 3 };
    // The two lists of entries: an alias has at most one entry in each.
    enum Kind { eCertificates, eKeys };

    struct Entry {
        QmXplStr::String_t fileName;  // relative to the store directory
        int32_t type = 0;
    };

    explicit KeyStoreIndex(const QmXplStr::String_t& path);

    // Reads the file unless the entries in memory came from this version of it.
    // KeyStoreException 38 for a record it does not understand, 39 when it cannot be read.
    void Read();
    // Replaces the file with the entries in memory. Called with the store lock held.
    // KeyStoreException 24 when it cannot be written.
    void Write();
    // Adds (or replaces) the alias's entry, into the keys for type ePrivateKey, and writes the
    // file.
    void Add(const QmXplStr::String_t& alias, const QmXplStr::String_t& fileName, int32_t type);
    // Puts back or drops an entry in memory only; the caller writes the file.
    void Put(Kind kind, const QmXplStr::String_t& alias, const Entry& entry);
    void Erase(Kind kind, const QmXplStr::String_t& alias);

    bool Lookup(Kind kind, const QmXplStr::String_t& alias, Entry& out) const;
    bool Has(Kind kind, const QmXplStr::String_t& alias) const;
    bool IsTrusted(const QmXplStr::String_t& alias) const;
    bool HasKeys() const;
    // The aliases of one kind, ascending.
    std::vector<QmXplStr::String_t> Aliases(Kind kind) const;

    // The file name an entry of alias has: alias + "_cert.pem" or alias + "_key.dat".
    static QmXplStr::String_t FileNameOf(const QmXplStr::String_t& alias, Kind kind);

  private:
    using EntryMap = std::map<QmXplStr::String_t, Entry>;

    void Load(const KeyStoreFiles::Version& version);
    EntryMap& Map(Kind kind) { return kind == eKeys ? keys_ : certificates_; }
    const EntryMap& Map(Kind kind) const { return kind == eKeys ? keys_ : certificates_; }

    QmXplStr::String_t path_;
    std::string pathFs_;

    // Guards the maps and the version of the file they were read from (or last written as).
    mutable QmXplThread::RwLock_t lock_;
    KeyStoreFiles::Version version_;
    bool current_ = false;  // the maps hold all of version_
    EntryMap certificates_;
    EntryMap keys_;
};

}  // namespace QmSecCore
