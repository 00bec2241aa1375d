// cert and keystore: certificates in files and in the node's key store.
#include <openssl/crypto.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <set>

#include "Cli.h"
#include "Io.h"
#include "Names.h"
#include "Pki.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/KeyStore.h"
#include "QmSecCore/Signature.h"
#include "QmSecCore/StringCollection.h"
#include "QmSecCore/X509Certificate.h"
#include "QmXpl/ConfigNamespace_t.h"

namespace qmsec {

using QmSecCore::Key;
using QmSecCore::KeyStore;
using QmSecCore::X509Certificate;
using QmXplArray::CharArray_t;
using QmXplStr::String_t;

namespace {

// What a person wants to know about a certificate, as JSON members and text lines.
struct CertFacts {
    JsonValue json = JsonValue::Object();
    std::string text;
    bool brief = false;  // the text leaves out the whole names, the serial and self-signing
    void Add(const std::string& key, const std::string& label, JsonValue value,
             const std::string& shown, bool detail = false) {
        json.Set(key, std::move(value));
        if (brief && detail) return;
        text += "  " + label + std::string(label.size() < 13 ? 13 - label.size() : 1, ' ') +
                Printable(shown) + "\n";
    }
};

CertFacts Describe(const X509Certificate& cert, bool brief = false) {
    CertFacts f;
    f.brief = brief;
    std::string subjectCn = cert.GetSubjectCN().ToUtf8();
    std::string issuerCn = cert.GetIssuerCN().ToUtf8();
    std::string subjectDn = cert.GetSubjectDN().ToUtf8();
    std::string issuerDn = cert.GetIssuerDN().ToUtf8();
    bool valid = cert.CheckValidity();
    bool selfSigned = subjectDn == issuerDn && cert.Verify(cert.GetPublicKey());
    f.Add("subject_cn", "subject CN", subjectCn, subjectCn);
    f.Add("subject", "subject", subjectDn, subjectDn, true);
    f.Add("issuer_cn", "issuer CN", issuerCn, issuerCn);
    f.Add("issuer", "issuer", issuerDn, issuerDn, true);
    std::string serial = cert.GetSerial().ToUtf8();
    f.Add("serial", "serial", serial, serial, true);
    std::string from = cert.GetNotBefore().ToUtf8(), until = cert.GetNotAfter().ToUtf8();
    f.Add("not_before", "valid from", from, from);
    f.Add("not_after", "valid until", until, until);
    f.Add("valid_now", "valid now", valid, valid ? "yes" : "no");
    f.Add("self_signed", "self-signed", selfSigned, selfSigned ? "yes" : "no", true);
    std::string fingerprint = cert.GetFingerprint().ToUtf8();
    f.Add("fingerprint", "fingerprint", fingerprint, fingerprint + " (SHA-1)");
    return f;
}

X509Certificate ReadCertificate(const std::string& path) {
    return X509Certificate(ReadSmallFile(path));
}

int CertShow(Invocation& call) {
    X509Certificate cert = ReadCertificate(call.Arg(0));
    CertFacts facts = Describe(cert);
    facts.json.Set("file", call.Arg(0));
    PrintResult(call, facts.json, Printable(call.Arg(0)) + "\n" + facts.text);
    return kExitOk;
}

// The node's key store. Opening it reads the node-specific key, which takes the key provider's
// secret; when that fails the reason is told in the store's terms, with the library's messages.
KeyStore OpenStore() {
    try {
        return KeyStore();
    } catch (const QmXplMsg::Exception_t& e) {
        Fail("Could not open the key store '" + KeyStore::DirectoryOf().ToUtf8() + "'.",
             e.GetMessageList());
    }
}

// Every alias with a private key but no certificate: Aliases lists certificate aliases only.
std::vector<std::string> KeyOnlyAliases(const KeyStore& store) {
    std::vector<std::string> aliases;
    QmSecCore::StringCollection keys;
    store.KeyAliases(keys);
    for (keys.MoveFirst(); !keys.IsAtEnd(); keys.Next()) {
        String_t alias = keys.GetCurrent();
        if (!store.IsCertEntry(alias)) aliases.push_back(alias.ToUtf8());
    }
    return aliases;
}

int KeystoreList(Invocation& call) {
    KeyStore store = OpenStore();
    QmSecCore::StringCollection aliases;
    store.Aliases(aliases);
    JsonValue json = JsonValue::Array();
    std::string text;
    QmXplMsg::MessageList_t problems;
    int count = 0;
    for (aliases.MoveFirst(); !aliases.IsAtEnd(); aliases.Next()) {
        String_t alias = aliases.GetCurrent();
        bool trusted = store.IsTrustedCertEntry(alias);
        bool key = store.IsPrivateKeyEntry(alias);
        JsonValue entry = JsonValue::Object();
        entry.Set("alias", alias);
        JsonValue kinds = JsonValue::Array();
        kinds.Push(trusted ? "trusted_certificate" : "certificate");
        if (key) kinds.Push("private_key");
        entry.Set("entries", std::move(kinds));
        text += Printable(alias.ToUtf8()) + ": " +
                (trusted ? "trusted certificate" : "certificate") + (key ? ", private key" : "") +
                "\n";
        try {
            X509Certificate cert;
            store.GetCertificate(alias, cert);
            CertFacts facts = Describe(cert, true);
            entry.Set("certificate", std::move(facts.json));
            text += facts.text;
        } catch (const QmXplMsg::Exception_t& e) {
            // One damaged entry must not hide the others.
            entry.Set("certificate", JsonValue());
            entry.Set("problem",
                      e.GetMessageList().Format(QmXplMsg::kFormatNumber | QmXplMsg::kFormatOneLine |
                                                QmXplMsg::kFormatDetails));
            text += "  (the certificate cannot be read)\n";
            problems.Add(e.GetMessageList());
        }
        json.Push(std::move(entry));
        ++count;
    }
    for (const auto& alias : KeyOnlyAliases(store)) {
        JsonValue kinds = JsonValue::Array();
        kinds.Push("private_key");
        json.Push(JsonValue::Object()
                      .Set("alias", alias)
                      .Set("entries", std::move(kinds))
                      .Set("certificate", JsonValue()));
        text += Printable(alias) + ": private key (without certificate)\n";
        ++count;
    }
    text += std::to_string(count) + (count == 1 ? " entry\n" : " entries\n");
    PrintResult(call, json, text);
    if (!problems.IsEmpty()) throw QmXplMsg::RuntimeException_t(problems);
    return kExitOk;
}

// Whether key is the private key of cert's public key: a signature made with the one must
// verify with the other. Installing a mismatched pair would make every signature of the node
// fail to verify.
bool KeyMatches(const Key& key, const X509Certificate& cert) {
    QmSecCore::Signature signer(QmSecCore::Signature::eSHA1);
    signer.InitSign(key);
    signer.Update("qmsec key check");
    QmXplArray::CharArray_t signature;
    signer.Sign(signature);
    QmSecCore::Signature verifier(QmSecCore::Signature::eSHA1);
    verifier.InitVerify(cert.GetPublicKey());
    verifier.Update("qmsec key check");
    return verifier.Verify(signature);
}

// A certificate and its private key as PEM texts for OpenSSL; the key text is a secret that its
// holder wipes.
void ToPem(const X509Certificate& cert, const Key& key, std::string& certPem, std::string& keyPem) {
    CharArray_t pem;
    cert.GetEncoded(pem);
    certPem.assign(pem.GetData(), static_cast<size_t>(pem.GetSize()));
    key.GetEncoded(pem);
    keyPem.assign(pem.GetData(), static_cast<size_t>(pem.GetSize()));
    pem.Wipe();
}

// TLS servers and clients of this node watch "sec.cm.certificates": a new value of
// "CERT_INSTALLED" makes them read their own certificate and key again, one of
// "LAST_TRUSTED_CERT_UPDATE" rebuild their trust, both from their next connection on. The value is
// the time of the change, to the microsecond, so that two changes never leave the same value
// (which would be no change at all).
void AnnounceChange(bool own, bool trust) {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    long micros = static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() %
        1000000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[40];
    std::snprintf(stamp + std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc), 16,
                  ".%06ldZ", micros);
    try {
        QmXplConfig::ConfigNamespace_t certificates(String_t("sec.cm.certificates"));
        if (own) certificates.SetValue(String_t("CERT_INSTALLED"), String_t(stamp));
        if (trust) certificates.SetValue(String_t("LAST_TRUSTED_CERT_UPDATE"), String_t(stamp));
    } catch (const QmXplMsg::Exception_t& e) {
        Fail("The key store has changed, but running servers could not be told so.",
             e.GetMessageList());
    }
}

int KeystoreInstall(Invocation& call) {
    const std::string& alias = call.Arg(0);
    CheckAlias(alias, "alias");
    std::optional<std::string> certFile = call.Value("--cert");
    if (!certFile) call.Usage("--cert FILE is needed");
    X509Certificate cert = ReadCertificate(*certFile);
    bool trusted = call.Has("--trusted"), replace = call.Has("--replace");
    KeyStore store = OpenStore();
    Key key;
    if (auto keyFile = call.Value("--key")) {
        CharArray_t pem = ReadSmallFile(*keyFile, 64 * 1024);
        try {
            key = Key(Key::eRSAPrivateKey, pem);
        } catch (...) {
            pem.Wipe();
            throw;
        }
        pem.Wipe();
        if (!KeyMatches(key, cert))
            Fail("The private key in '" + *keyFile + "' does not belong to the certificate in '" +
                 *certFile + "'.");
    }
    // Checked here, before anything is written: the store would otherwise install the
    // certificate and then refuse a key that is already there.
    if (!replace && (store.IsCertEntry(String_t(alias)) ||
                     (!key.IsNull() && store.IsPrivateKeyEntry(String_t(alias)))))
        Fail("The key store has an entry '" + alias + "' already; give --replace to replace it.");
    // A certificate alone joins the key already stored under its alias (the answer to a request
    // of 'genkey --csr', or a renewal): it must belong to that key, or the node would present a
    // certificate it cannot use and sign what its certificate does not verify.
    if (key.IsNull() && store.IsPrivateKeyEntry(String_t(alias))) {
        Key stored;
        store.GetPrivateKey(String_t(alias), stored);
        if (!KeyMatches(stored, cert))
            Fail("The certificate in '" + *certFile + "' does not belong to the private key '" +
                 alias + "' in the key store.");
    }
    bool wasTrusted = store.IsTrustedCertEntry(String_t(alias));
    if (key.IsNull()) {
        store.InstallCertificate(String_t(alias), cert, replace, trusted);
    } else {
        store.InstallCertificate(String_t(alias), cert, key, replace, trusted);
    }
    AnnounceChange(!trusted, trusted || wasTrusted);
    std::string fingerprint = cert.GetFingerprint().ToUtf8();
    JsonValue json = JsonValue::Object();
    json.Set("alias", alias)
        .Set("trusted", trusted)
        .Set("private_key", !key.IsNull())
        .Set("subject_cn", cert.GetSubjectCN())
        .Set("fingerprint", fingerprint);
    PrintResult(call, json,
                "Installed " + std::string(trusted ? "trusted certificate" : "certificate") +
                    (key.IsNull() ? "" : " and private key") + " as '" + alias + "' (" +
                    fingerprint + ")\n");
    return kExitOk;
}

int KeystoreExport(Invocation& call) {
    const std::string& alias = call.Arg(0);
    CheckAlias(alias, "alias");
    KeyStore store = OpenStore();
    X509Certificate cert;
    store.GetCertificate(String_t(alias), cert);
    CharArray_t pem;
    cert.GetEncoded(pem);
    Sink sink(call.Value("--out"), Sink::Content::kPlain, false);
    sink.Write(pem, pem.GetSize());
    sink.Commit();
    return kExitOk;
}

const std::vector<OptionSpec> kPasswordOptions = {
    {"--password-file", "", "FILE", "the password is the first line of FILE"},
    {"--password-env", "", "VAR", "the password is the value of the environment variable VAR"},
};

// A password as OpenSSL takes it (text), wiped when it goes.
struct PasswordText {
    std::string text;
    PasswordText(const Invocation& call, bool confirm) {
        CharArray_t password = ReadPassword(call, confirm);
        text.assign(password.GetData(), static_cast<size_t>(password.GetSize()));
        password.Wipe();
    }
    PasswordText(const PasswordText&) = delete;
    PasswordText& operator=(const PasswordText&) = delete;
    ~PasswordText() { OPENSSL_cleanse(text.data(), text.size()); }
};

int KeystoreImportP12(Invocation& call) {
    const std::string& alias = call.Arg(0);
    CheckAlias(alias, "alias");
    bool replace = call.Has("--replace");
    CharArray_t file = ReadSmallFile(call.Arg(1));
    KeyAndCertificate found;
    int chain = 0;
    ReadPkcs12(std::string(file.GetData(), static_cast<size_t>(file.GetSize())),
               PasswordText(call, false).text, found, chain);
    X509Certificate cert(found.certPem.data(), static_cast<int>(found.certPem.size()));
    Key key(Key::eRSAPrivateKey, found.keyPem.data(), static_cast<int>(found.keyPem.size()));
    KeyStore store = OpenStore();
    if (!replace &&
        (store.IsCertEntry(String_t(alias)) || store.IsPrivateKeyEntry(String_t(alias))))
        Fail("The key store has an entry '" + alias + "' already; give --replace to replace it.");
    bool wasTrusted = store.IsTrustedCertEntry(String_t(alias));
    store.InstallCertificate(String_t(alias), cert, key, replace, false);
    AnnounceChange(true, wasTrusted);
    CertFacts facts = Describe(cert, true);
    facts.json.Set("alias", alias).Set("chain_certificates_skipped", chain);
    PrintResult(call, facts.json,
                "Imported the private key and certificate of '" + call.Arg(1) + "' as '" + alias +
                    "'\n" + facts.text +
                    (chain ? "  " + std::to_string(chain) +
                                 " further certificate(s) of the file were not installed; install "
                                 "a CA to trust with 'keystore install --trusted'.\n"
                           : std::string()));
    return kExitOk;
}

int KeystoreExportP12(Invocation& call) {
    const std::string& alias = call.Arg(0);
    CheckAlias(alias, "alias");
    std::optional<std::string> out = call.Value("--out");
    if (!out) call.Usage("-o FILE is needed");
    KeyStore store = OpenStore();
    X509Certificate cert;
    store.GetCertificate(String_t(alias), cert);
    Key key;
    store.GetPrivateKey(String_t(alias), key);
    KeyAndCertificate pair;
    ToPem(cert, key, pair.certPem, pair.keyPem);
    std::string p12 = CreatePkcs12(pair.keyPem, pair.certPem, alias, PasswordText(call, true).text);
    // The file carries the private key: only its owner may read it.
    Sink sink(out, Sink::Content::kSecret, true);
    sink.Write(p12.data(), static_cast<int>(p12.size()));
    sink.Commit();
    return kExitOk;
}

int KeystoreRemove(Invocation& call) {
    const std::string& alias = call.Arg(0);
    CheckAlias(alias, "alias");
    call.AtMostOne({"--cert", "--key"});
    bool certOnly = call.Has("--cert"), keyOnly = call.Has("--key");
    KeyStore store = OpenStore();
    bool hasCert = store.IsCertEntry(String_t(alias));
    bool hasKey = store.IsPrivateKeyEntry(String_t(alias));
    if (!hasCert && !hasKey) {
        // Files of an alias that the index does not list were left by an install that was
        // killed; removing the alias removes them.
        bool leftCert = store.HasUnlistedFile(String_t(alias), false);
        bool leftKey = store.HasUnlistedFile(String_t(alias), true);
        if (!(certOnly ? leftCert : keyOnly ? leftKey : leftCert || leftKey))
            Fail("The key store has no entry '" + alias + "'.");
        if (!certOnly) store.RemovePrivateKey(String_t(alias));
        if (!keyOnly) store.RemoveCertificate(String_t(alias));
        JsonValue json = JsonValue::Object();
        json.Set("alias", alias)
            .Set("certificate_removed", false)
            .Set("private_key_removed", false)
            .Set("unlisted_files_removed", true);
        PrintResult(call, json,
                    "Removed the files that an unfinished install left for '" + alias + "'\n");
        return kExitOk;
    }
    if (certOnly && !hasCert) Fail("The key store has no certificate '" + alias + "'.");
    if (keyOnly && !hasKey) Fail("The key store has no private key '" + alias + "'.");
    bool removeCert = hasCert && !keyOnly, removeKey = hasKey && !certOnly;
    bool wasTrusted = store.IsTrustedCertEntry(String_t(alias));
    if (removeKey) store.RemovePrivateKey(String_t(alias));
    if (removeCert) store.RemoveCertificate(String_t(alias));
    AnnounceChange(removeKey || (removeCert && !wasTrusted), removeCert && wasTrusted);
    JsonValue json = JsonValue::Object();
    json.Set("alias", alias)
        .Set("certificate_removed", removeCert)
        .Set("private_key_removed", removeKey);
    std::string what = removeCert && removeKey ? "certificate and private key"
                       : removeCert            ? "certificate"
                                               : "private key";
    PrintResult(call, json, "Removed the " + what + " of '" + alias + "'\n");
    return kExitOk;
}

// The key of 'genkey --csr' goes into the store and the request into requestFile; the key waits
// there alone until 'install --cert' joins the issued certificate to it. The store keeps a key
// only together with a certificate, so it is installed with its self-signed stand-in, which is
// then removed: no certificate that no CA vouches for is ever presented under the alias.
int GenkeyForRequest(Invocation& call, KeyStore& store, const std::string& requestFile,
                     const CertificateRequest& request, const KeyAndCertificate& made,
                     bool wasTrusted) {
    const std::string& alias = call.Arg(0);
    std::string csr = CreateCertificateRequest(made.keyPem, request.commonName);
    Sink sink(requestFile, Sink::Content::kPlain, false);
    sink.Write(csr.data(), static_cast<int>(csr.size()));
    X509Certificate standIn(made.certPem.data(), static_cast<int>(made.certPem.size()));
    Key key(Key::eRSAPrivateKey, made.keyPem.data(), static_cast<int>(made.keyPem.size()));
    store.InstallCertificate(String_t(alias), standIn, key, call.Has("--replace"), false);
    store.RemoveCertificate(String_t(alias));
    sink.Commit();
    AnnounceChange(true, wasTrusted);
    if (requestFile == "-") return kExitOk;
    JsonValue json = JsonValue::Object();
    json.Set("alias", alias)
        .Set("subject_cn", request.commonName)
        .Set("bits", request.bits)
        .Set("request", requestFile);
    PrintResult(call, json,
                "Created a " + std::to_string(request.bits) + "-bit RSA key as '" + alias +
                    "' and wrote a certificate request for CN=" + request.commonName + " to '" +
                    requestFile +
                    "'.\nInstall the issued certificate with 'qmsec keystore install " + alias +
                    " --cert FILE'.\n");
    return kExitOk;
}

int KeystoreGenkey(Invocation& call) {
    const std::string& alias = call.Arg(0);
    CheckAlias(alias, "alias");
    CertificateRequest request;
    request.commonName = call.Value("--cn").value_or(alias);
    if (request.commonName.empty()) call.Usage("the common name must not be empty");
    request.days = NumberOption(call, "--days", 1, 36500, 365);
    request.bits = NumberOption(call, "--bits", 1024, 8192, 2048);
    request.ca = call.Has("--ca");
    bool trusted = call.Has("--trusted"), replace = call.Has("--replace");
    std::optional<std::string> csrFile = call.Value("--csr");
    if (csrFile) {
        for (const char* other : {"--issuer", "--ca", "--trusted", "--days"})
            if (call.Has(other))
                call.Usage(std::string("--csr asks a CA for the certificate; ") + other +
                           " does not go with it");
        request.endEntity = true;
    }

    KeyStore store = OpenStore();
    if (!replace &&
        (store.IsCertEntry(String_t(alias)) || store.IsPrivateKeyEntry(String_t(alias))))
        Fail("The key store has an entry '" + alias + "' already; give --replace to replace it.");
    bool wasTrusted = store.IsTrustedCertEntry(String_t(alias));
    if (auto issuer = call.Value("--issuer")) {
        CheckAlias(*issuer, "issuer alias");
        if (!store.IsCertEntry(String_t(*issuer)) || !store.IsPrivateKeyEntry(String_t(*issuer)))
            Fail("The key store has no certificate and private key '" + *issuer +
                 "' to issue the certificate with.");
        X509Certificate issuerCert;
        store.GetCertificate(String_t(*issuer), issuerCert);
        if (!issuerCert.CheckValidity())
            Fail("The certificate of the issuer '" + *issuer + "' is not valid now.");
        Key issuerKey;
        store.GetPrivateKey(String_t(*issuer), issuerKey);
        ToPem(issuerCert, issuerKey, request.issuerCertPem, request.issuerKeyPem);
    }

    KeyAndCertificate made;
    CreateKeyAndCertificate(request, made);
    X509Certificate cert(made.certPem.data(), static_cast<int>(made.certPem.size()));
    Key key(Key::eRSAPrivateKey, made.keyPem.data(), static_cast<int>(made.keyPem.size()));
    if (csrFile) return GenkeyForRequest(call, store, *csrFile, request, made, wasTrusted);
    store.InstallCertificate(String_t(alias), cert, key, replace, trusted);
    AnnounceChange(!trusted, trusted || wasTrusted);

    CertFacts facts = Describe(cert);
    facts.json.Set("alias", alias).Set("trusted", trusted);
    PrintResult(
        call, facts.json,
        "Created a " + std::to_string(request.bits) + "-bit RSA key and a " +
            (call.Has("--issuer") ? "certificate issued by '" + *call.Value("--issuer") + "'"
                                  : std::string("self-signed CA certificate")) +
            ", installed as '" + alias + "'" + (trusted ? " (trusted)" : "") + "\n" + facts.text);
    return kExitOk;
}

}  // namespace

void AddCertCommands(CommandTable& table) {
    table.Add({"cert show",
               "FILE",
               1,
               1,
               {},
               "show a certificate file",
               "Shows the certificate in FILE (PEM; '-' for the standard input): subject and\n"
               "issuer, serial number, validity, whether it is self-signed, and its SHA-1\n"
               "fingerprint, the text by which the key store compares certificates.",
               true,
               CertShow});
    table.Add({"keystore list",
               "",
               0,
               0,
               {},
               "list the key store's entries",
               "Lists every entry of the node's key store ($QMXPL_HOME/data/sec/ks): alias, kind\n"
               "(certificate or trusted certificate, private key), subject and issuer, validity\n"
               "and fingerprint. An entry whose certificate cannot be read is shown as such and\n"
               "makes the command fail after the listing.",
               true,
               KeystoreList});
    table.Add(
        {"keystore install",
         "ALIAS --cert FILE [--key FILE] [--trusted] [--replace]",
         1,
         1,
         {{"--cert", "", "FILE", "the certificate (PEM)"},
          {"--key", "", "FILE", "its RSA private key (PEM, unencrypted), stored encrypted"},
          {"--trusted", "", "", "install as a trusted certificate (a signer or issuer to trust)"},
          {"--replace", "", "", "replace an entry of the same alias"}},
         "install a certificate, and its private key",
         "Installs the certificate in FILE under ALIAS, with --key also its private key,\n"
         "which must belong to it. Signers and their issuers are found by common name, so\n"
         "the alias is normally the certificate's CN. An existing entry is kept unless\n"
         "--replace is given. A certificate without --key joins the private key already\n"
         "stored under ALIAS (see 'keystore genkey --csr'), which it must belong to.\n"
         "\n"
         "Running TLS servers and clients of the node hear of every change to the key\n"
         "store's certificates and use the new ones from their next connection on.",
         true,
         KeystoreInstall});
    table.Add({"keystore export",
               "ALIAS [-o FILE]",
               1,
               1,
               {{"--out", "-o", "FILE", "write to FILE instead of the standard output"}},
               "write a certificate of the key store as PEM",
               "Writes the certificate stored under ALIAS as PEM text. Private keys never leave\n"
               "the store.",
               false,
               KeystoreExport});
    std::vector<OptionSpec> importOptions = kPasswordOptions;
    importOptions.push_back({"--replace", "", "", "replace an entry of the same alias"});
    table.Add({"keystore import-p12",
               "ALIAS FILE [--password-file FILE|--password-env VAR] [--replace]", 2, 2,
               importOptions, "install a private key and its certificate from a PKCS #12 file",
               "Installs the RSA private key and its certificate from the PKCS #12 file FILE\n"
               "(as the openssl command, Java key stores and 'keystore export-p12' write them)\n"
               "under ALIAS. The file's password is asked on the terminal, without echo, unless\n"
               "--password-file or --password-env gives it. Further certificates of the file\n"
               "(its chain) are not installed: trust is given only with 'keystore install\n"
               "--trusted'.",
               true, KeystoreImportP12});
    std::vector<OptionSpec> exportOptions = kPasswordOptions;
    exportOptions.insert(exportOptions.begin(),
                         {"--out", "-o", "FILE", "the PKCS #12 file to write (mode 0600)"});
    table.Add({"keystore export-p12", "ALIAS -o FILE [--password-file FILE|--password-env VAR]", 1,
               1, exportOptions, "write a private key and its certificate as a PKCS #12 file",
               "Writes the private key and certificate stored under ALIAS to FILE as PKCS #12,\n"
               "encrypted under a password (AES-256, PBKDF2) that is asked twice on the\n"
               "terminal, without echo, unless --password-file or --password-env gives it. The\n"
               "key leaves the store only this way, to move the node's identity to another node,\n"
               "the openssl command or a Java key store.",
               false, KeystoreExportP12});
    table.Add({"keystore remove",
               "ALIAS [--cert|--key]",
               1,
               1,
               {{"--cert", "", "", "remove only the certificate"},
                {"--key", "", "", "remove only the private key"}},
               "remove an entry",
               "Removes the certificate and the private key stored under ALIAS, or only the one\n"
               "named; for an alias without entries, the files an unfinished install left.\n"
               "Fails when there is nothing to remove.",
               true,
               KeystoreRemove});
    table.Add(
        {"keystore genkey",
         "ALIAS [--cn CN] [--issuer ALIAS|--csr FILE] [--days N] [--bits N] [--ca] [--trusted] "
         "[--replace]",
         1,
         1,
         {{"--cn", "", "CN", "the subject's common name (default: ALIAS)"},
          {"--issuer", "", "ALIAS",
           "issue with this entry's key and certificate (default: self-signed)"},
          {"--days", "", "N", "validity from now, 1 to 36500 days (default 365)"},
          {"--bits", "", "N", "RSA key size, 1024 to 8192 (default 2048)"},
          {"--ca", "", "",
           "an issued certificate that may issue others (self-signed ones always may)"},
          {"--trusted", "", "", "install the certificate as trusted"},
          {"--csr", "", "FILE",
           "write a certificate request for a CA instead of making the certificate"},
          {"--replace", "", "", "replace an entry of the same alias"}},
         "create a key and a certificate in the key store",
         "Creates a new RSA key and a certificate for it with the subject CN, self-signed (a\n"
         "CA certificate) or issued by the key-store entry --issuer, which needs a private\n"
         "key and a certificate valid now. Both are installed under ALIAS; the key never\n"
         "leaves the store.\n"
         "\n"
         "With --csr the key alone is stored under ALIAS and a PKCS #10 request for the\n"
         "subject CN goes to FILE for a CA to sign; 'keystore install ALIAS --cert FILE'\n"
         "then joins the issued certificate to the key.",
         true,
         KeystoreGenkey});
}

}  // namespace qmsec
