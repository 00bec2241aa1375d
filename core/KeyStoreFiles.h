// The files of a key store's directory: their names, the directory itself, and the certificate
// and private-key files of the entries.
#pragma once

#include <cstdint>
#include <string>

#include "QmSecCore/Key.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/String_t.h"

namespace QmSecCore {

class KeyStoreNodeKey;

// Every file of the store is readable and writable by its owner only, the directory likewise.
// A certificate file holds the PEM text of the certificate; a private-key file the DER PKCS #8
// form of the key, encrypted with Triple-DES in CBC mode under the node key, its IV first.
class KeyStoreFiles {
  public:
    static constexpr int kFileMode = 0600;
    static constexpr int kDirectoryMode = 0700;
    static constexpr const char* kIndexName = "ks.dat";
    static constexpr const char* kNodeKeyName = "nsk.dat";
    static constexpr const char* kLockName = "ks.lock";
    static constexpr const char* kCertificateSuffix = "_cert.pem";
    static constexpr const char* kKeySuffix = "_key.dat";

    // Wipes a secret held in an array when the scope ends, however it ends.
    struct Wiper {
        QmXplArray::CharArray_t& bytes;
        ~Wiper() { bytes.Wipe(); }
    };

    // One version of a file as stat(2) tells it: equal versions have the same inode, size and
    // modification time to the nanosecond.
    struct Version {
        bool exists = false;
        int64_t size = 0;
        int64_t mtimeNs = 0;
        uint64_t inode = 0;
        uint64_t device = 0;
        bool operator==(const Version&) const = default;
    };
    static Version VersionOf(const std::string& path) noexcept;

    // A path as the file system takes it (UTF-8).
    static std::string Fs(const QmXplStr::String_t& path);

    // The whole content of a file into out; false (traced) when it cannot be read.
    static bool ReadData(const QmXplStr::String_t& path, QmXplArray::CharArray_t& out);

    // The unencrypted DER PKCS #8 form of an RSA private key. InvalidKeyException 79 for any
    // other key, KeyStoreException 35 when it cannot be encoded.
    static QmXplArray::CharArray_t EncodePrivateKey(const Key& key);

    explicit KeyStoreFiles(const QmXplStr::String_t& dir);

    const QmXplStr::String_t& GetDirectory() const noexcept { return dir_; }
    // dir + "/" + fileName.
    QmXplStr::String_t PathOf(const QmXplStr::String_t& fileName) const;

    // Creates the directory (and its parent, as private as it) unless it exists.
    // KeyStoreException 22 / 174 when it cannot be created / given its mode.
    void CreateDirectory() const;
    // KeyStoreException 178 when others than the owner may rename entries of the directory.
    void RefuseSharedDirectory() const;
    // Removes the temporaries that writers which died left behind. Called with the store lock
    // held.
    void RemoveTemporaries() const;

    // Replaces the certificate file at path with pem. KeyStoreException 32 when that fails.
    void WriteCertificate(const QmXplStr::String_t& path, const QmXplArray::CharArray_t& pem) const;
    // Replaces the private-key file at path with encodedKey, encrypted under the node key. The
    // file appears only when complete. KeyStoreException 28 / 32 when it cannot be created /
    // written, or what the node key throws.
    void WritePrivateKey(const QmXplStr::String_t& path, const QmXplArray::CharArray_t& encodedKey,
                         KeyStoreNodeKey& nodeKey) const;
    // Reads and decrypts the private-key file at path of alias into out.
    Key& ReadPrivateKey(const QmXplStr::String_t& alias, const QmXplStr::String_t& path,
                        KeyStoreNodeKey& nodeKey, Key& out) const;

  private:
    QmXplStr::String_t dir_;
    std::string dirFs_;
};

}  // namespace QmSecCore
