// Shared by the key store tests: a temporary node directory, the Crypt key provider, test
// certificates and keys, and the bytes of index records.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "QmSecCore/Crypt.h"
#include "QmSecCore/CryptImpl.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/KeyStore.h"
#include "QmSecCore/KeyStoreImpl.h"
#include "QmSecCore/StringCollection.h"
#include "QmSecCore/X509Certificate.h"
#include "QmXpl/Message_t.h"
#include "support/Bytes.h"
#include "support/Certificates.h"
#include "support/Keys.h"
#include "support/TempDir.h"

namespace keystore_test {

using qmsec_test::ThrownNumber;
using QmSecCore::Key;
using QmSecCore::KeyStore;
using QmSecCore::StringCollection;
using QmSecCore::X509Certificate;
using QmXplArray::CharArray_t;
using QmXplStr::String_t;

using qmsec_test::Arr;
using qmsec_test::Str;

// The Crypt key of this "node" (20 bytes; Blowfish uses 16).
inline void NodeProvider(Key& key) { key = Key(Key::eSecretKey, "node-provider-secret", 20); }
inline void OtherNodeProvider(Key& key) { key = Key(Key::eSecretKey, "another-node-secret!", 20); }

// A node installation directory for one test: $QMXPL_HOME points at it and Crypt has a key
// provider for as long as it lives.
class StoreHome {
  public:
    StoreHome() {
        setenv("QMXPL_HOME", dir_.Path().c_str(), 1);
        QmSecCore::CryptImpl::RegisterFunctionPointer(NodeProvider);
    }
    ~StoreHome() { QmSecCore::CryptImpl::RegisterFunctionPointer(nullptr); }
    StoreHome(const StoreHome&) = delete;
    StoreHome& operator=(const StoreHome&) = delete;

    const std::string& Root() const { return dir_.Path(); }
    std::string StoreDir() const { return dir_.Path() + "/data/sec/ks"; }
    std::string File(const std::string& name) const { return StoreDir() + "/" + name; }
    std::string Read(const std::string& name) const { return qmsec_test::ReadFile(File(name)); }
    void Write(const std::string& name, const std::string& bytes) const {
        dir_.Write("data/sec/ks/" + name, bytes);
    }
    bool Exists(const std::string& name) const {
        struct stat st {};
        return ::stat(File(name).c_str(), &st) == 0;
    }
    // Permission bits of a file of the store ("" for the directory), -1 when missing.
    int Mode(const std::string& name) const {
        struct stat st {};
        std::string p = name.empty() ? StoreDir() : File(name);
        return ::stat(p.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
    }

  private:
    qmsec_test::TempDir dir_;
};

// Certificate number n: its own serial and common name "node<n>", signed by the cached 2048-bit
// test key. Made on first use; call it before threads start.
inline const qmsec_test::TestCertificate& TestCert(int n) {
    static std::vector<qmsec_test::TestCertificate> made;
    while (static_cast<int>(made.size()) <= n) {
        int i = static_cast<int>(made.size());
        made.push_back(qmsec_test::CertificateBuilder()
                           .CommonName("node" + std::to_string(i))
                           .SerialHex(std::to_string(1000 + i))
                           .Build());
    }
    return made[static_cast<size_t>(n)];
}
inline X509Certificate Cert(int n) { return X509Certificate(Arr(TestCert(n).pem)); }
inline std::string Pem(const X509Certificate& c) {
    CharArray_t out;
    return Str(c.GetEncoded(out));
}

// The private key of every test certificate.
inline Key PrivateKey() {
    const std::string& pem = qmsec_test::TestRsaKey(2048).privatePem;
    return Key(Key::eRSAPrivateKey, pem.data(), static_cast<int>(pem.size()));
}

// One index record: alias and file name as Java modified UTF-8 behind a big-endian 16-bit
// length (plain UTF-8 for the texts used here, which hold no zero character and nothing beyond
// U+FFFF), then the type as a big-endian 32-bit integer.
inline std::string JavaUtf(const std::string& utf8) {
    std::string out;
    out.push_back(static_cast<char>(utf8.size() >> 8));
    out.push_back(static_cast<char>(utf8.size() & 0xff));
    return out + utf8;
}
inline std::string Int32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}
inline std::string Record(const std::string& alias, const std::string& file, uint32_t type) {
    return JavaUtf(alias) + JavaUtf(file) + Int32(type);
}
inline std::string CertRecord(const std::string& alias, uint32_t type = 1) {
    return Record(alias, alias + "_cert.pem", type);
}
inline std::string KeyRecord(const std::string& alias) {
    return Record(alias, alias + "_key.dat", 3);
}

// Every element of a collection, from the first.
inline std::vector<std::string> Elements(const StringCollection& c) {
    std::vector<std::string> out;
    c.MoveFirst();
    for (; !c.IsAtEnd(); c.Next()) out.push_back(c.GetCurrent().ToUtf8());
    return out;
}
inline std::vector<std::string> AliasesOf(const KeyStore& ks) {
    StringCollection c;
    return Elements(ks.Aliases(c));
}

// The catalog number of the first message of what f throws as E, -1 when it throws nothing.
}  // namespace keystore_test
