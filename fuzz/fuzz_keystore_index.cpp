// libFuzzer target: arbitrary bytes as the key store's index file ks.dat, in a store that holds
// real certificate and key files, then listing and queries. The index may be refused only with
// KeyStoreException (38 corrupt, 39 unreadable); every alias that is listed must be a valid
// alias whose entry the queries confirm, and reading its files may fail only with the store's
// documented exceptions. A crash, a leak, an allocation driven by a length in the file, or an
// entry that names a file outside the directory is a finding.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "QmSecCore/CryptImpl.h"
#include "QmSecCore/KeyStore.h"
#include "QmSecCore/KeyStoreException.h"
#include "QmSecCore/SecCoreException.h"
#include "QmXpl/File_t.h"
#include "QmXpl/Message_t.h"
#include "support/Certificates.h"
#include "support/Keys.h"
#include "support/TempDir.h"

namespace {

using QmSecCore::KeyStore;
using QmXplStr::String_t;

void Provider(QmSecCore::Key& key) {
    key = QmSecCore::Key(QmSecCore::Key::eSecretKey, "fuzz-provider-secret", 20);
}

// A store with "a" (certificate and key) and "b" (trusted certificate), made once.
struct Fixture {
    qmsec_test::TempDir home;
    String_t index;
    Fixture() {
        setenv("QMXPL_HOME", home.Path().c_str(), 1);
        QmSecCore::CryptImpl::RegisterFunctionPointer(Provider);
        std::string pem = qmsec_test::CertificateBuilder().CommonName("fuzz").Build().pem;
        QmSecCore::X509Certificate cert(pem.data(), static_cast<int>(pem.size()));
        const std::string& keyPem = qmsec_test::TestRsaKey(2048).privatePem;
        QmSecCore::Key key(QmSecCore::Key::eRSAPrivateKey, keyPem.data(),
                           static_cast<int>(keyPem.size()));
        KeyStore ks;
        ks.InstallCertificate(String_t("a"), cert, key, false, false);
        ks.InstallCertificate(String_t("b"), cert, false, true);
        index = KeyStore::DirectoryOf() + "/ks.dat";
    }
};

[[noreturn]] void Finding(const char* what, const String_t& alias) {
    std::fprintf(stderr, "finding: %s: '%s'\n", what, alias.ToUtf8().c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture fixture;
    if (size > (1u << 20)) return 0;
    QmXplIo::File_t::WriteAtomically(
        fixture.index,
        QmXplArray::CharArray_t(reinterpret_cast<const char*>(data), static_cast<int>(size)));
    try {
        KeyStore ks;
        QmSecCore::StringCollection aliases;
        ks.Aliases(aliases);
        for (aliases.MoveFirst(); !aliases.IsAtEnd(); aliases.Next()) {
            String_t alias = aliases.GetCurrent();
            if (!KeyStore::IsValidAlias(alias)) Finding("invalid alias", alias);
            if (!ks.IsCertEntry(alias)) Finding("listed but no entry", alias);
            (void)ks.IsTrustedCertEntry(alias);
            try {
                QmSecCore::X509Certificate cert;
                ks.GetCertificate(alias, cert);
            } catch (const QmSecCore::SecCoreException&) {
                // EntryNotFoundException 25 (no such file), KeyStoreException 26.
            }
            if (ks.IsPrivateKeyEntry(alias)) {
                try {
                    QmSecCore::Key key;
                    ks.GetPrivateKey(alias, key);
                } catch (const QmSecCore::SecCoreException&) {
                    // EntryNotFoundException 27, BadPaddingException 76, KeyStoreException 30.
                }
            }
        }
    } catch (const QmSecCore::KeyStoreException&) {
        // 38 or 39: a refused index.
    }
    return 0;
}
