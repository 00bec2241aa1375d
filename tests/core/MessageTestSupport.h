// Shared by the signer and verifier tests: a node installation directory with its configuration
// and key store, and a hierarchy of real certificates made at test time: a trusted authority and
// nodes it issued, self-signed nodes, an expired and a not yet valid certificate, a second
// certificate with the same common name, an expired authority, a forgery that names the trusted
// authority as issuer, and nodes of an authority the store does not trust (one of them trusted
// itself, with a namesake under another key).
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "MessageSignatureImpl.h"
#include "QmSecCore/CryptImpl.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/KeyStore.h"
#include "QmSecCore/MessageSignature.h"
#include "QmSecCore/Signature.h"
#include "QmSecCore/X509Certificate.h"
#include "config/ConfigService.h"
#include "support/Bytes.h"
#include "support/Certificates.h"
#include "support/Keys.h"
#include "support/TempDir.h"

namespace message_test {

using qmsec_test::Arr;
using qmsec_test::BigEndian;
using qmsec_test::Str;
using qmsec_test::TestCertificate;
using QmSecCore::Key;
using QmSecCore::KeyStore;
using QmSecCore::MessageSignature;
using QmSecCore::X509Certificate;
using QmXplArray::CharArray_t;
using QmXplStr::String_t;

inline void NodeProvider(Key& key) { key = Key(Key::eSecretKey, "message-test-node-key", 21); }

// A node installation directory for one test: $QMXPL_HOME points at it, the configuration
// service reads it, and Crypt has a key provider (the key store needs one for its node key).
class NodeHome {
  public:
    // coreId: the CORE_ID of "sec.core"; none when null.
    explicit NodeHome(const char* coreId = nullptr) {
        setenv("QMXPL_HOME", dir_.Path().c_str(), 1);
        mkdir((dir_.Path() + "/conf").c_str(), 0700);
        Config(coreId ? std::string("[sec.core]\nCORE_ID=") + coreId + "\n"
                      : std::string("[sec.other]\nKEY=value\n"));
        QmSecCore::CryptImpl::RegisterFunctionPointer(NodeProvider);
    }
    ~NodeHome() {
        QmSecCore::CryptImpl::RegisterFunctionPointer(nullptr);
        QmXplConfig::ConfigService_t::WaitUntilIdle(10000);
    }
    NodeHome(const NodeHome&) = delete;
    NodeHome& operator=(const NodeHome&) = delete;

    // Replaces config.ini and makes the configuration service read it now.
    void Config(const std::string& text) {
        dir_.Write("conf/config.ini", text);
        QmXplConfig::ConfigService_t::ReloadAll();
        QmXplConfig::ConfigService_t::WaitUntilIdle(10000);
    }
    std::string StoreFile(const std::string& name) const {
        return dir_.Path() + "/data/sec/ks/" + name;
    }
    void WriteStoreFile(const std::string& name, const std::string& bytes) const {
        dir_.Write("data/sec/ks/" + name, bytes);
    }

  private:
    qmsec_test::TempDir dir_;
};

// The certificates, each with its own key where the tests sign with it.
struct Hierarchy {
    TestCertificate ca;       // "Test CA": trusted authority
    TestCertificate oldCa;    // "Old CA": trusted authority whose validity ended
    TestCertificate otherCa;  // "Other CA": an authority the store does not know
    TestCertificate rogueCa;  // also called "Test CA", with another key
    TestCertificate nodeA;    // issued by Test CA; stored plain with its key (the signer)
    TestCertificate nodeB;    // issued by Test CA; not in the store
    TestCertificate selfC;    // self-signed; stored trusted with its key
    TestCertificate selfC2;   // self-signed, also called "selfC", another key
    TestCertificate expired;  // issued by Test CA, validity ended; stored plain
    TestCertificate future;   // issued by Test CA, validity not yet begun; stored plain
    TestCertificate nodeD;    // issued by Old CA; stored plain
    TestCertificate forged;   // issuer "Test CA", signed by the rogue key; stored plain
    TestCertificate nodeE;    // issued by Other CA; stored plain
    TestCertificate nodeF;    // issued by Other CA; stored trusted
    TestCertificate nodeF2;   // issued by Other CA, also called "nodeF", another key

    static const Hierarchy& Get() {
        static const Hierarchy h;
        return h;
    }

  private:
    Hierarchy() {
        using qmsec_test::CertificateBuilder;
        auto key = [](int variant) { return qmsec_test::TestRsaKey(1024, variant).privatePem; };
        const long day = 86400;
        ca = CertificateBuilder().CommonName("Test CA").Ca().SubjectKey(key(1)).Build();
        oldCa = CertificateBuilder()
                    .CommonName("Old CA")
                    .Ca()
                    .SubjectKey(key(2))
                    .ValidFromNow(-30 * day, -day)
                    .Build();
        otherCa = CertificateBuilder().CommonName("Other CA").Ca().SubjectKey(key(3)).Build();
        rogueCa = CertificateBuilder().CommonName("Test CA").Ca().SubjectKey(key(4)).Build();
        auto issued = [&](const char* cn, const TestCertificate& by, int variant) {
            return CertificateBuilder()
                .Subject({{"O", "Nodes"}, {"CN", cn}})
                .IssuedBy(by)
                .SerialHex("1234")
                .SubjectKey(key(variant));
        };
        nodeA = issued("nodeA", ca, 5).Build();
        nodeB = issued("nodeB", ca, 6).Build();
        selfC = CertificateBuilder().CommonName("selfC").SubjectKey(key(7)).Build();
        selfC2 = CertificateBuilder().CommonName("selfC").SubjectKey(key(8)).Build();
        expired = issued("expired", ca, 6).ValidFromNow(-10 * day, -60).Build();
        future = issued("future", ca, 6).ValidFromNow(3600, 10 * day).Build();
        nodeD = issued("nodeD", oldCa, 6).Build();
        forged = issued("forged", rogueCa, 6).Build();
        nodeE = issued("nodeE", otherCa, 6).Build();
        nodeF = issued("nodeF", otherCa, 9).Build();
        nodeF2 = issued("nodeF", otherCa, 10).Build();
    }
};

inline X509Certificate Cert(const TestCertificate& c) { return X509Certificate(Arr(c.pem)); }
inline Key PrivateKey(const TestCertificate& c) {
    return Key(Key::eRSAPrivateKey, Arr(c.privateKeyPem));
}

// Installs the hierarchy's entries into the node's key store.
inline void InstallHierarchy() {
    const Hierarchy& h = Hierarchy::Get();
    KeyStore store;
    store.InstallCertificate(String_t("Test CA"), Cert(h.ca), false, true);
    store.InstallCertificate(String_t("Old CA"), Cert(h.oldCa), false, true);
    store.InstallCertificate(String_t("nodeA"), Cert(h.nodeA), PrivateKey(h.nodeA), false, false);
    store.InstallCertificate(String_t("selfC"), Cert(h.selfC), PrivateKey(h.selfC), false, true);
    store.InstallCertificate(String_t("expired"), Cert(h.expired), false, false);
    store.InstallCertificate(String_t("future"), Cert(h.future), false, false);
    store.InstallCertificate(String_t("nodeD"), Cert(h.nodeD), false, false);
    store.InstallCertificate(String_t("forged"), Cert(h.forged), false, false);
    store.InstallCertificate(String_t("nodeE"), Cert(h.nodeE), false, false);
    store.InstallCertificate(String_t("nodeF"), Cert(h.nodeF), false, true);
}

// SHA-1 RSA signature bytes over data with the certificate's key, made with Signature alone.
inline CharArray_t SignatureBytes(const TestCertificate& c, const std::string& data) {
    QmSecCore::Signature s(QmSecCore::Signature::eSHA1);
    s.InitSign(PrivateKey(c));
    s.Update(data.data(), static_cast<int>(data.size()));
    CharArray_t bytes;
    s.Sign(bytes);
    return bytes;
}
// A signature value over data by the certificate's key, carrying the certificate.
inline MessageSignature WithCertificate(const TestCertificate& c, const std::string& data) {
    return MessageSignature(new QmSecCore::MessageSignatureImpl(SignatureBytes(c, data), Cert(c)));
}
// The same carrying only a name.
inline MessageSignature WithName(const TestCertificate& c, const std::string& name,
                                 const std::string& data) {
    return MessageSignature(
        new QmSecCore::MessageSignatureImpl(SignatureBytes(c, data), String_t(name)));
}

}  // namespace message_test
