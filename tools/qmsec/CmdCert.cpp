// cert and keystore: certificates in files and in the node's key store.
#include "Cli.h"
#include "Io.h"
#include "Names.h"
#include "QmSecCore/X509Certificate.h"

namespace qmsec {

using QmSecCore::X509Certificate;
using QmXplArray::CharArray_t;
using QmXplStr::String_t;

namespace {

// What a person wants to know about a certificate, as JSON members and text lines.
struct CertFacts {
    JsonValue json = JsonValue::Object();
    std::string text;
    void Add(const std::string& key, const std::string& label, JsonValue value,
             const std::string& shown) {
        json.Set(key, std::move(value));
        text += "  " + label + std::string(label.size() < 13 ? 13 - label.size() : 1, ' ') + shown +
                "\n";
    }
};

CertFacts Describe(const X509Certificate& cert) {
    CertFacts f;
    std::string subjectCn = cert.GetSubjectCN().ToUtf8();
    std::string issuerCn = cert.GetIssuerCN().ToUtf8();
    std::string subjectDn = cert.GetSubjectDN().ToUtf8();
    std::string issuerDn = cert.GetIssuerDN().ToUtf8();
    bool valid = cert.CheckValidity();
    bool selfSigned = subjectDn == issuerDn && cert.Verify(cert.GetPublicKey());
    f.Add("subject_cn", "subject CN", subjectCn, subjectCn);
    f.Add("subject", "subject", subjectDn, subjectDn);
    f.Add("issuer_cn", "issuer CN", issuerCn, issuerCn);
    f.Add("issuer", "issuer", issuerDn, issuerDn);
    std::string serial = cert.GetSerial().ToUtf8();
    f.Add("serial", "serial", serial, serial);
    std::string from = cert.GetNotBefore().ToUtf8(), until = cert.GetNotAfter().ToUtf8();
    f.Add("not_before", "valid from", from, from);
    f.Add("not_after", "valid until", until, until);
    f.Add("valid_now", "valid now", valid, valid ? "yes" : "no");
    f.Add("self_signed", "self-signed", selfSigned, selfSigned ? "yes" : "no");
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
    PrintResult(call, facts.json, call.Arg(0) + "\n" + facts.text);
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
}

}  // namespace qmsec
