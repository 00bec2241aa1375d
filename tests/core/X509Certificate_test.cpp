// X.509 certificates: PEM parsing, encoding, fingerprint, serial and names against the openssl
// command, public key and signature checks, validity and its text (a vector file of stored
// times), the empty handle, sharing between threads and the certificate failure exception.
#include <gtest/gtest.h>

#include <openssl/err.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <clocale>
#include <ctime>
#include <functional>
#include <thread>

#include "KeyImpl.h"
#include "QmSecCore/CertificateParsingException.h"
#include "QmSecCore/SecCoreCertificateFailureException.h"
#include "QmSecCore/X509Certificate.h"
#include "QmXpl/Message_t.h"
#include "X509CertificateImpl.h"
#include "support/Bytes.h"
#include "support/Certificates.h"
#include "support/Command.h"
#include "support/Kat.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

namespace {

using QmSecCore::CertificateParsingException;
using QmSecCore::Key;
using QmSecCore::X509Certificate;
using QmSecCore::X509CertificateImpl;
using QmXplArray::CharArray_t;
using QmXplStr::String_t;
using namespace qmsec_test;

std::string U8(const String_t& s) { return s.ToUtf8(); }
X509Certificate Parse(const TestCertificate& c) { return X509Certificate(Arr(c.pem)); }

// What `openssl x509 -noout <options>` prints for the certificate.
std::string OpensslPrints(const TestCertificate& c, const std::string& options) {
    TempDir dir;
    std::string path = dir.Write("cert.pem", c.pem);
    CommandResult r = RunCommand("openssl x509 -noout -in " + Quote(path) + " " + options);
    if (r.status != 0) throw std::runtime_error("openssl x509 failed: " + options);
    return r.output;
}

// The value after "<label>=" in one line of openssl's output, without the line feed.
std::string Field(const std::string& output, const std::string& label) {
    size_t at = output.find(label + "=");
    if (at == std::string::npos) return "<missing " + label + ">";
    size_t start = at + label.size() + 1;
    return output.substr(start, output.find('\n', start) - start);
}

// The first CN of a name in the compat one-line form (values here contain no '/').
std::string CnOf(const std::string& oneLine) {
    size_t at = oneLine.find("/CN=");
    if (at == std::string::npos) return "";
    size_t start = at + 4;
    size_t end = oneLine.find('/', start);
    return oneLine.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// --- parsing and encoding ----------------------------------------------------------------------

TEST(X509CertificateTest, PemIsAcceptedAndDerIsRefusedWith91) {
    TestCertificate c = CertificateBuilder().CommonName("der-or-pem").Build();
    X509Certificate pem(Arr(c.pem));
    EXPECT_EQ(U8(pem.GetSubjectCN()), "der-or-pem");

    TraceCapture trace;
    try {
        X509Certificate der(c.der.data(), static_cast<int>(c.der.size()));
        ADD_FAILURE() << "DER was accepted";
    } catch (const CertificateParsingException& e) {
        EXPECT_EQ(e.GetMessageList().Get(0).GetNumber(), 91);
        EXPECT_EQ(U8(e.GetMessageList().Get(0).GetText())
                      .rfind("Could not parse encoded X509 Certificate (error:", 0),
                  0u);
    }
    EXPECT_TRUE(trace.Contains("Throwing exception 'CertificateParsingException': "));
    EXPECT_TRUE(trace.Contains("X509CertificateImpl Constructor"));
}

TEST(X509CertificateTest, TextBeforeTheBlockIsSkippedAndASecondCertificateIgnored) {
    TestCertificate first = CertificateBuilder().CommonName("first").Build();
    TestCertificate second = CertificateBuilder().CommonName("second").SerialHex("02").Build();
    std::string text = "# exported by a tool\nSubject: first\n\n" +
                       TestRsaKey(2048).publicPem +  // a block of another kind comes first
                       first.pem + "between\n" + second.pem;
    X509Certificate cert(Arr(text));
    EXPECT_EQ(U8(cert.GetSubjectCN()), "first");
    EXPECT_EQ(U8(cert.GetSerial()), "01");
}

TEST(X509CertificateTest, InputWithoutACertificateIsRefused) {
    TestCertificate c = CertificateBuilder().Build();
    auto refusedWith91 = [](const std::string& text) {
        return ThrownNumber<CertificateParsingException>(
            [&] { X509Certificate(text.data(), static_cast<int>(text.size())); });
    };
    EXPECT_EQ(refusedWith91(""), 91);
    EXPECT_EQ(refusedWith91("not a certificate"), 91);
    EXPECT_EQ(refusedWith91(c.pem.substr(0, c.pem.size() / 2)), 91);  // cut short
    EXPECT_EQ(refusedWith91(TestRsaKey(2048).publicPem), 91);
    EXPECT_EQ(ThrownNumber<CertificateParsingException>([] { X509Certificate(nullptr, 0); }), 91);
    // Only length bytes count, even when the rest of the certificate follows in memory.
    EXPECT_EQ(ThrownNumber<CertificateParsingException>(
                  [&] { X509Certificate(c.pem.data(), static_cast<int>(c.pem.size()) - 40); }),
              91);
    EXPECT_EQ(
        ThrownNumber<QmXplMsg::IllegalArgumentError_t>([&] { X509Certificate(c.pem.data(), -1); }),
        40);
    // A block that claims to be encrypted fails at once instead of asking for a password.
    std::string header = "-----BEGIN CERTIFICATE-----\n";
    std::string encrypted = c.pem;
    encrypted.insert(header.size(),
                     "Proc-Type: 4,ENCRYPTED\nDEK-Info: AES-128-CBC,"
                     "00112233445566778899AABBCCDDEEFF\n\n");
    EXPECT_EQ(refusedWith91(encrypted), 91);
    EXPECT_EQ(ERR_peek_error(), 0u);  // nothing left behind for the next failure
}

TEST(X509CertificateTest, GetEncodedGivesPemThatOpensslAndTheParserReadAsTheSameCertificate) {
    TestCertificate c = CertificateBuilder().CommonName("round trip").Build();
    // Carriage returns and a comment in the input do not survive; the encoding is canonical.
    std::string messy = "comment\r\n";
    for (char ch : c.pem) messy += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    X509Certificate cert(Arr(messy));
    CharArray_t out(4096);  // larger than needed: resized to exactly the text
    cert.GetEncoded(out);
    EXPECT_EQ(Str(out), c.pem);
    EXPECT_EQ(out.GetData()[out.GetSize() - 1], '\n');

    TempDir dir;
    std::string path = dir.Write("again.pem", Str(out));
    CommandResult printed = RunCommand("openssl x509 -in " + Quote(path));
    EXPECT_EQ(printed.output, Str(out));

    X509Certificate again(out);
    EXPECT_EQ(again.GetFingerprint(), cert.GetFingerprint());
    CharArray_t out2;
    EXPECT_EQ(Str(again.GetEncoded(out2)), Str(out));
}

// --- texts compared with the openssl command -------------------------------------------------

struct Case {
    const char* title;
    CertificateBuilder builder;
};

std::vector<Case> TextCases() {
    TestCertificate ca = CertificateBuilder()
                             .Subject({{"C", "DE"}, {"O", "Acme Test"}, {"CN", "Acme Test CA"}})
                             .SerialHex("7F")
                             .Ca()
                             .Build();
    std::vector<Case> cases;
    cases.push_back({"self-signed", CertificateBuilder().CommonName("node1.example")});
    cases.push_back(
        {"issued by a CA, many fields", CertificateBuilder()
                                            .Subject({{"C", "DE"},
                                                      {"ST", "Bavaria"},
                                                      {"L", "Munich"},
                                                      {"O", "Acme Test"},
                                                      {"OU", "Unit 7"},
                                                      {"CN", "node2"},
                                                      {"emailAddress", "ops@example.com"}})
                                            .SubjectKey(TestRsaKey(2048, 1).privatePem)
                                            .IssuedBy(ca)
                                            .SerialHex("1000")});
    cases.push_back({"serial of 20 bytes (more than 64 bits)",
                     CertificateBuilder().SerialHex("7A1B2C3D4E5F60718293A4B5C6D7E8F901234567")});
    cases.push_back({"serial of 40 bytes (OpenSSL breaks the line)",
                     CertificateBuilder().SerialHex(
                         "0102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F20"
                         "2122232425262728")});
    cases.push_back({"serial with the top bit set", CertificateBuilder().SerialHex("80")});
    cases.push_back({"serial zero", CertificateBuilder().SerialHex("0")});
    cases.push_back({"negative serial", CertificateBuilder().SerialHex("-0123")});
    cases.push_back(
        {"no common name", CertificateBuilder().Subject({{"O", "No CN"}, {"OU", "x"}})});
    cases.push_back(
        {"two common names", CertificateBuilder().Subject({{"CN", "one"}, {"CN", "two"}})});
    cases.push_back(
        {"issuer field chosen freely", CertificateBuilder().CommonName("subject").IssuerName(
                                           {{"O", "Elsewhere"}, {"CN", "Other Issuer"}})});
    cases.push_back({"empty subject and issuer", CertificateBuilder().Subject({})});
    return cases;
}

TEST(X509CertificateTest, FingerprintSerialNamesAndCommonNamesEqualWhatOpensslPrints) {
    // Twenty upper-case hexadecimal pairs joined by nineteen colons.
    auto fingerprintForm = [](const std::string& f) {
        if (f.size() != 59) return false;
        for (size_t i = 0; i < f.size(); ++i) {
            bool colon = i % 3 == 2;
            if (colon
                    ? f[i] != ':'
                    : !std::isdigit(static_cast<unsigned char>(f[i])) && (f[i] < 'A' || f[i] > 'F'))
                return false;
        }
        return true;
    };
    for (Case& c : TextCases()) {
        SCOPED_TRACE(c.title);
        TestCertificate made = c.builder.Build();
        X509Certificate cert = Parse(made);
        std::string printed =
            OpensslPrints(made, "-fingerprint -sha1 -serial -subject -issuer -nameopt compat");

        std::string fingerprint = U8(cert.GetFingerprint());
        EXPECT_EQ(fingerprint.size(), 59u);
        EXPECT_TRUE(fingerprintForm(fingerprint)) << fingerprint;
        EXPECT_EQ(fingerprint, Field(printed, "Fingerprint"));

        // openssl continues a broken serial on the next line; so does GetSerial.
        std::string serial = printed.substr(printed.find("serial=") + 7);
        serial = serial.substr(0, serial.find("\nsubject="));
        EXPECT_EQ(U8(cert.GetSerial()), serial);

        EXPECT_EQ(U8(cert.GetSubjectDN()), Field(printed, "subject"));
        EXPECT_EQ(U8(cert.GetIssuerDN()), Field(printed, "issuer"));
        EXPECT_EQ(U8(cert.GetSubjectCN()), CnOf(Field(printed, "subject")));
        EXPECT_EQ(U8(cert.GetIssuerCN()), CnOf(Field(printed, "issuer")));
        EXPECT_EQ(U8(cert.GetType()), "X509Certificate");
    }
}

TEST(X509CertificateTest, TheTextsOfTheEdgeCasesAreTheExpectedOnes) {
    // The comparisons above hold whatever both sides print; these pin the cases down.
    std::vector<Case> cases = TextCases();
    auto cert = [&](size_t i) { return Parse(cases[i].builder.Build()); };
    EXPECT_EQ(U8(cert(1).GetIssuerCN()), "Acme Test CA");
    EXPECT_EQ(U8(cert(1).GetIssuerDN()), "/C=DE/O=Acme Test/CN=Acme Test CA");
    EXPECT_EQ(U8(cert(2).GetSerial()), "7A1B2C3D4E5F60718293A4B5C6D7E8F901234567");
    EXPECT_EQ(U8(cert(3).GetSerial()),
              "0102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F20212223\\\n"
              "2425262728");
    EXPECT_EQ(U8(cert(4).GetSerial()), "80");
    EXPECT_EQ(U8(cert(5).GetSerial()), "00");
    EXPECT_EQ(U8(cert(6).GetSerial()), "-0123");
    X509Certificate noCn = cert(7);
    EXPECT_EQ(noCn.GetSubjectCN(), String_t(""));
    EXPECT_EQ(U8(noCn.GetSubjectDN()), "/O=No CN/OU=x");
    EXPECT_EQ(U8(cert(8).GetSubjectCN()), "one");
    EXPECT_EQ(U8(cert(9).GetIssuerCN()), "Other Issuer");
    EXPECT_EQ(U8(cert(10).GetSubjectDN()), "");
}

// --- common names beyond plain text ----------------------------------------------------------

TEST(X509CertificateTest, CommonNamesAreReadInTheirStringTypeAndNeverCutAtAZeroByte) {
    // "Grüße" stored as a BMPString (UTF-16BE): read as text, not as bytes up to the first 0.
    std::string bmp(
        "\x00G\x00r\x00\xFC\x00\xDF\x00"
        "e",
        10);
    X509Certificate bmpCert =
        Parse(CertificateBuilder().Subject({{"CN", bmp, V_ASN1_BMPSTRING}}).Build());
    EXPECT_EQ(U8(bmpCert.GetSubjectCN()), "Grüße");

    // A zero byte inside: the name must not pass for the shorter one in front of it.
    std::string withZero("node1\0.attacker.example", 23);
    TestCertificate zero =
        CertificateBuilder().Subject({{"CN", withZero, V_ASN1_UTF8STRING}}).Build();
    X509Certificate zeroCert = Parse(zero);
    EXPECT_NE(U8(zeroCert.GetSubjectCN()), "node1");
    EXPECT_EQ(U8(zeroCert.GetSubjectCN()), "node1\xEF\xBF\xBD.attacker.example");
    EXPECT_EQ(U8(zeroCert.GetSubjectDN()), "/CN=node1\\x00.attacker.example");
    EXPECT_EQ(U8(zeroCert.GetSubjectDN()),
              Field(OpensslPrints(zero, "-subject -nameopt compat"), "subject"));

    // A name that is not valid in its own string type (OpenSSL refuses to parse or write one,
    // but a certificate object made in memory can hold it): its bytes, with no zero kept.
    TestCertificate plain = CertificateBuilder().CommonName("x").Build();
    QmSecCore::ossl::Bio bio(BIO_new_mem_buf(plain.der.data(), static_cast<int>(plain.der.size())));
    QmSecCore::ossl::X509Ptr x(d2i_X509_bio(bio.get(), nullptr));
    ASSERT_NE(x, nullptr);
    X509_NAME_ENTRY* entry = X509_NAME_get_entry(X509_get_subject_name(x.get()), 0);
    ASSERT_EQ(X509_NAME_ENTRY_set_data(entry, V_ASN1_BMPSTRING,
                                       reinterpret_cast<const unsigned char*>("\0A\0"), 3),
              1);  // changed in place: an odd length, which no BMPString can have
    X509Certificate oddBmp = X509CertificateImpl::Wrap(x.get());
    EXPECT_EQ(U8(oddBmp.GetSubjectCN()),
              "\xEF\xBF\xBD"
              "A"
              "\xEF\xBF\xBD");
    EXPECT_EQ(ERR_peek_error(), 0u);

    // Long names are cut to 255 bytes, never inside a character.
    X509Certificate longAscii = Parse(
        CertificateBuilder().Subject({{"CN", std::string(300, 'a'), V_ASN1_UTF8STRING}}).Build());
    EXPECT_EQ(U8(longAscii.GetSubjectCN()), std::string(255, 'a'));
    std::string umlauts;
    for (int i = 0; i < 200; ++i) umlauts += "ä";  // two bytes each
    X509Certificate longUtf8 =
        Parse(CertificateBuilder().Subject({{"CN", umlauts, V_ASN1_UTF8STRING}}).Build());
    EXPECT_EQ(U8(longUtf8.GetSubjectCN()), umlauts.substr(0, 254));
}

// --- public key and signature ------------------------------------------------------------------

TEST(X509CertificateTest, GetPublicKeyIsTheSubjectsKeyAndOutlivesTheCertificate) {
    TestCertificate c = CertificateBuilder().SubjectKey(TestRsaKey(2048, 2).privatePem).Build();
    Key key;
    {
        X509Certificate cert = Parse(c);
        key = cert.GetPublicKey();
    }
    EXPECT_EQ(key.GetType(), Key::eRSAPublicKey);
    CharArray_t pem;
    EXPECT_EQ(Str(key.GetEncoded(pem)), c.publicKeyPem);
    EXPECT_EQ(Str(pem), OpensslPrints(c, "-pubkey"));
}

TEST(X509CertificateTest, KeysThatAreNotRsaOrCannotBeReadAreRefused) {
    X509Certificate ec = Parse(CertificateBuilder().SubjectKey(TestEcKeyPem()).Build());
    EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalArgumentError_t>([&] { ec.GetPublicKey(); }), 69);

    // A key of an algorithm nobody knows: the certificate parses, its key does not.
    TestCertificate ca = CertificateBuilder().CommonName("signer").Build();
    TestCertificate unknown =
        CertificateBuilder()
            .IssuedBy(ca)
            .Modify([](X509* x) {
                X509_PUBKEY* pub = X509_get_X509_PUBKEY(x);
                static const unsigned char bits[] = {1, 2, 3, 4};
                auto* copy = static_cast<unsigned char*>(OPENSSL_memdup(bits, sizeof bits));
                ASSERT_EQ(X509_PUBKEY_set0_param(pub, OBJ_txt2obj("1.3.6.1.4.1.99999.1", 1),
                                                 V_ASN1_UNDEF, nullptr, copy, sizeof bits),
                          1);
            })
            .Build();
    X509Certificate cert = Parse(unknown);
    EXPECT_EQ(ThrownNumber<CertificateParsingException>([&] { cert.GetPublicKey(); }), 93);
    EXPECT_EQ(U8(cert.GetSubjectCN()), "Test Certificate");  // the rest still reads
}

TEST(X509CertificateTest, VerifyTellsWhichKeySignedTheCertificate) {
    TestCertificate ca = CertificateBuilder().CommonName("CA").Ca().Build();
    TestCertificate leaf = CertificateBuilder()
                               .CommonName("leaf")
                               .SubjectKey(TestRsaKey(2048, 3).privatePem)
                               .IssuedBy(ca)
                               .Build();
    X509Certificate caCert = Parse(ca), leafCert = Parse(leaf);
    Key caKey = caCert.GetPublicKey(), leafKey = leafCert.GetPublicKey();
    EXPECT_TRUE(caCert.Verify(caKey));
    EXPECT_TRUE(leafCert.Verify(caKey));
    EXPECT_FALSE(leafCert.Verify(leafKey));
    EXPECT_FALSE(caCert.Verify(leafKey));
    EXPECT_EQ(ERR_peek_error(), 0u);

    // One changed bit in the signature: a bad signature, which is no failure to check.
    std::string der = leaf.der;
    der[der.size() - 5] ^= 0x01;
    TraceCapture trace;
    EXPECT_FALSE(X509Certificate(Arr(CertificatePem(der))).Verify(caKey));
    EXPECT_FALSE(trace.Contains("could not be checked"));

    // Keys that are not RSA public keys are refused.
    Key privateKey(Key::eRSAPrivateKey, Arr(TestRsaKey(2048).privatePem));
    Key secret(Key::eSecretKey, "0123456789abcdef", 16);
    EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalArgumentError_t>([&] { caCert.Verify(privateKey); }),
              94);
    EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalArgumentError_t>([&] { caCert.Verify(secret); }), 94);
    EXPECT_THROW(caCert.Verify(Key()), QmXplMsg::IllegalStateError_t);
}

TEST(X509CertificateTest, VerifyIsFalseAndTracedWhenTheSignatureCannotBeCheckedAtAll) {
    Key rsaKey(Key::eRSAPublicKey, Arr(TestRsaKey(2048).publicPem));
    // Signed with an EC key: an RSA key cannot check it.
    X509Certificate ecSigned = Parse(CertificateBuilder().SubjectKey(TestEcKeyPem()).Build());
    // Signed with RSA, but under an algorithm identifier OpenSSL does not know.
    TestCertificate c = CertificateBuilder().Build();
    const std::string sha256WithRsa("\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0B", 11);
    std::string der = c.der;
    int replaced = 0;
    for (size_t at = der.find(sha256WithRsa); at != std::string::npos;
         at = der.find(sha256WithRsa, at + 1), ++replaced) {
        der[at + 10] = 0x7F;
    }
    ASSERT_EQ(replaced, 2);  // the signed part and the outer algorithm
    X509Certificate unknownAlgorithm(Arr(CertificatePem(der)));

    for (X509Certificate* cert : {&ecSigned, &unknownAlgorithm}) {
        ASSERT_EQ(X509_verify(X509CertificateImpl::Of(*cert).GetX509(),
                              QmSecCore::RSAKey::PKeyOf(rsaKey)),
                  -1);  // the case under test: no answer, not a bad signature
        ERR_clear_error();
        TraceCapture trace("sec.core.base=0xffffffff");
        EXPECT_FALSE(cert->Verify(rsaKey));
        EXPECT_EQ(trace
                      .Matching("X509CertificateImpl: Signature of certificate could not be "
                                "checked (error:")
                      .size(),
                  1u);
        EXPECT_EQ(ERR_peek_error(), 0u);
    }
}

// --- validity --------------------------------------------------------------------------------

TEST(X509CertificateTest, CheckValidityIsTrueOnlyInsideThePeriod) {
    auto valid = [](CertificateBuilder b) { return Parse(b.Build()).CheckValidity(); };
    EXPECT_TRUE(valid(CertificateBuilder().ValidFromNow(-3600, 3600)));
    EXPECT_FALSE(valid(CertificateBuilder().ValidFromNow(-7200, -3600)));  // ended
    EXPECT_FALSE(valid(CertificateBuilder().ValidFromNow(3600, 7200)));    // not yet begun
    // Across the two-digit year window: 1950 up to 2049, and up to 2051 in four digits.
    EXPECT_TRUE(valid(CertificateBuilder().NotBefore("500101000000Z").NotAfter("491231235959Z")));
    EXPECT_FALSE(valid(CertificateBuilder().NotBefore("490101000000Z").NotAfter("491231235959Z")));
    EXPECT_TRUE(valid(CertificateBuilder().NotBefore("500101000000Z").NotAfter("20510101000000Z")));
    // One unreadable time: simply not valid.
    EXPECT_FALSE(valid(CertificateBuilder().NotBefore("garbage").NotAfter("20510101000000Z")));
    EXPECT_FALSE(valid(CertificateBuilder().NotBefore("500101000000Z").NotAfter("garbage")));
}

TEST(X509CertificateTest, CheckValidityThrows95WhenNeitherTimeCanBeRead) {
    X509Certificate cert = Parse(CertificateBuilder().NotBefore("abc").NotAfter("").Build());
    EXPECT_EQ(ThrownNumber<CertificateParsingException>([&] { cert.CheckValidity(); }), 95);
}

// The form of a time, its stored bytes, what the getters show and the true weekday: see the
// vector file.
TEST(X509CertificateTest, ValidityTimesAreShownAsStored) {
    std::string previousLocale = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C.utf8");  // a process locale of the caller's is left alone
    for (const KatLine& v : ReadKatFile(QMSEC_TEST_DATA_DIR "/x509_times.txt")) {
        ASSERT_EQ(v.size(), 4u);
        SCOPED_TRACE(v[1]);
        TimeForm form = v[0] == "generalized" ? TimeForm::kGeneralized : TimeForm::kUtc;
        std::string stored = KatBytes(v[1]);
        TestCertificate made = CertificateBuilder()
                                   .NotBefore(stored, form)
                                   .NotAfter(v[2] == "unreadable" ? "20510101000000Z" : stored,
                                             v[2] == "unreadable" ? TimeForm::kGeneralized : form)
                                   .Build();
        X509Certificate cert = Parse(made);
        if (v[2] == "unreadable") {
            EXPECT_EQ(ThrownNumber<CertificateParsingException>([&] { cert.GetNotBefore(); }), 95);
            EXPECT_EQ(U8(cert.GetNotAfter()), "01/01/2051 00:00:00 GMT");
            continue;
        }
        EXPECT_EQ(U8(cert.GetNotBefore()), KatBytes(v[2]));
        EXPECT_EQ(U8(cert.GetNotAfter()), KatBytes(v[2]));

        auto read = QmSecCore::detail::ReadCertificateTime(
            X509_get0_notBefore(X509CertificateImpl::Of(cert).GetX509()));
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(read->fourDigitYear, form == TimeForm::kGeneralized);
        EXPECT_EQ(read->tm.tm_yday, 0);
        EXPECT_EQ(read->tm.tm_isdst, 0);
        if (v[3] == "-") continue;
        EXPECT_EQ(read->tm.tm_wday, std::stoi(v[3]));

        // For canonical times openssl's own text names the same date, year in full.
        if (stored.size() == (form == TimeForm::kGeneralized ? 15u : 13u)) {
            std::string shown = Field(OpensslPrints(made, "-startdate"), "notBefore");
            std::tm t{};
            ASSERT_NE(strptime(shown.c_str(), "%b %d %H:%M:%S %Y GMT", &t), nullptr) << shown;
            EXPECT_EQ(t.tm_year, read->tm.tm_year);
            EXPECT_EQ(t.tm_mon, read->tm.tm_mon);
            EXPECT_EQ(t.tm_mday, read->tm.tm_mday);
            EXPECT_EQ(t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec,
                      read->tm.tm_hour * 3600 + read->tm.tm_min * 60 + read->tm.tm_sec);
        }
    }
    EXPECT_EQ(std::string(std::setlocale(LC_ALL, nullptr)), "C.utf8");
    std::setlocale(LC_ALL, previousLocale.c_str());
}

TEST(X509CertificateTest, WeekdayIsTheTrueOneForEveryDayOfBothCenturiesAndBeyond) {
    auto check = [](int year) {
        for (int month = 1; month <= 12; ++month) {
            for (int day = 1; day <= 31; ++day) {
                std::tm t{};
                t.tm_year = year - 1900;
                t.tm_mon = month - 1;
                t.tm_mday = day;
                time_t seconds = timegm(&t);  // normalises, so check it is still the same day
                std::tm back{};
                gmtime_r(&seconds, &back);
                if (back.tm_mday != day) continue;
                ASSERT_EQ(QmSecCore::detail::Weekday(year, month, day), back.tm_wday)
                    << year << "-" << month << "-" << day;
            }
        }
    };
    for (int year = 1950; year <= 2049; ++year) check(year);
    for (int year : {1, 100, 400, 1600, 1900, 2050, 2100, 2400, 9999}) check(year);
    EXPECT_EQ(QmSecCore::detail::Weekday(0, 1, 1), 6);  // proleptic: 1 January of year 0
    EXPECT_EQ(QmSecCore::detail::Weekday(2049, 13, 1), 0);
    EXPECT_EQ(QmSecCore::detail::Weekday(2049, 0, 1), 0);
}

TEST(X509CertificateTest, TimesFromNowReadTheSameAsTheDateCommandInTheCLocale) {
    // Times OpenSSL writes itself for a period around now, in years on both sides of 2000.
    for (long offset : {-20L * 365 * 86400, -86400L, 0L, 86400L * 400, 20L * 365 * 86400}) {
        SCOPED_TRACE(offset);
        time_t before = time(nullptr);
        X509Certificate cert =
            Parse(CertificateBuilder().ValidFromNow(offset, offset + 60).Build());
        time_t after = time(nullptr);
        std::string shown = U8(cert.GetNotBefore());
        // The certificate's clock read some second between the two readings of ours.
        std::vector<std::string> expected;
        for (time_t t = before; t <= after; ++t) {
            std::string text =
                RunCommand("LC_ALL=C date -u -d @" + std::to_string(static_cast<long>(t) + offset) +
                           " '+%x %X GMT'")
                    .output;
            expected.push_back(text.substr(0, text.find('\n')));
        }
        EXPECT_NE(std::find(expected.begin(), expected.end(), shown), expected.end())
            << shown << " vs " << expected.front();
    }
}

// --- handles, sharing, threads ------------------------------------------------------------------

TEST(X509CertificateTest, EveryMethodOfAnEmptyHandleThrowsIllegalStateError) {
    X509Certificate empty;
    CharArray_t out;
    Key key(Key::eRSAPublicKey, Arr(TestRsaKey(2048).publicPem));
    std::vector<std::function<void()>> calls = {
        [&] { empty.GetEncoded(out); }, [&] { empty.GetFingerprint(); },
        [&] { empty.GetPublicKey(); },  [&] { empty.GetType(); },
        [&] { empty.Verify(key); },     [&] { empty.CheckValidity(); },
        [&] { empty.GetNotBefore(); },  [&] { empty.GetNotAfter(); },
        [&] { empty.GetIssuerCN(); },   [&] { empty.GetSubjectCN(); },
        [&] { empty.GetIssuerDN(); },   [&] { empty.GetSubjectDN(); },
        [&] { empty.GetSerial(); },     [&] { X509CertificateImpl::Of(empty); },
    };
    TraceCapture trace;
    for (auto& call : calls) {
        try {
            call();
            ADD_FAILURE() << "no exception";
        } catch (const QmXplMsg::IllegalStateError_t& e) {
            EXPECT_EQ(U8(e.GetMessageList().Get(0).GetText()), "X509Certificate");
        }
    }
    EXPECT_EQ(trace.Matching("Throwing exception 'IllegalStateError_t': ").size(), calls.size());
}

TEST(X509CertificateTest, HandlesShareOneBodyAndTheWrapperKeepsItsOwnReference) {
    TestCertificate c = CertificateBuilder().CommonName("shared").Build();
    X509Certificate a = Parse(c);
    X509Certificate b = a;
    EXPECT_TRUE(a == b);
    EXPECT_EQ(X509CertificateImpl::Of(a).GetX509(), X509CertificateImpl::Of(b).GetX509());

    QmSecCore::ossl::Bio bio(BIO_new_mem_buf(c.pem.data(), static_cast<int>(c.pem.size())));
    X509* raw = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
    ASSERT_NE(raw, nullptr);
    X509Certificate wrapped = X509CertificateImpl::Wrap(raw);
    X509_free(raw);  // the caller's reference goes; the body keeps its own
    EXPECT_EQ(wrapped.GetFingerprint(), a.GetFingerprint());
    EXPECT_EQ(U8(wrapped.GetSubjectCN()), "shared");
    EXPECT_THROW(X509CertificateImpl::Wrap(nullptr), QmXplMsg::IllegalArgumentError_t);
}

TEST(X509CertificateTest, BodiesTraceTheirLifeButTheGettersDoNotTraceTheirEntry) {
    TestCertificate c = CertificateBuilder().Build();
    TraceCapture trace;
    {
        X509Certificate cert = Parse(c);
        cert.GetSerial();
        cert.GetSubjectDN();
        cert.GetFingerprint();
    }
    EXPECT_GE(trace.IndexOf("> X509CertificateImpl Constructor"), 0);
    int destroy = trace.IndexOf("> X509CertificateImpl::DestroyThis()");
    int destructor = trace.IndexOf("> X509CertificateImpl Destructor");
    EXPECT_GE(destroy, 0);
    EXPECT_GT(destructor, destroy);
    EXPECT_GT(trace.IndexOf("< X509CertificateImpl::DestroyThis()"), destructor);
    EXPECT_TRUE(trace.Matching("X509CertificateImpl::Get").empty());
}

TEST(X509CertificateTest, OneCertificateIsReadFromSeveralThreadsAtOnce) {
    TestCertificate ca = CertificateBuilder().CommonName("CA").Build();
    X509Certificate cert = Parse(CertificateBuilder()
                                     .CommonName("threads")
                                     .SubjectKey(TestRsaKey(2048, 1).privatePem)
                                     .IssuedBy(ca)
                                     .Build());
    Key caKey = Parse(ca).GetPublicKey();
    const std::string expected = U8(cert.GetFingerprint()) + U8(cert.GetSerial()) +
                                 U8(cert.GetSubjectDN()) + U8(cert.GetIssuerCN()) +
                                 U8(cert.GetNotAfter());
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, copy = cert] {
            for (int i = 0; i < 50; ++i) {
                std::string seen = U8(copy.GetFingerprint()) + U8(copy.GetSerial()) +
                                   U8(copy.GetSubjectDN()) + U8(copy.GetIssuerCN()) +
                                   U8(copy.GetNotAfter());
                CharArray_t pem;
                copy.GetEncoded(pem);
                if (seen != expected || !copy.Verify(caKey) || !copy.CheckValidity() ||
                    copy.GetPublicKey().IsNull())
                    ++mismatches;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(mismatches.load(), 0);
}

// --- the certificate failure exception
// -------------------------------------------------------------

TEST(X509CertificateTest, CertificateFailureExceptionCarriesItsTextsAndTheCertificate) {
    using QmSecCore::SecCoreCertificateFailureException;
    TestCertificate c = CertificateBuilder().CommonName("rejected").Build();
    QmXplMsg::CreateWarn_t reason(String_t("issuer unknown"));
    QmXplMsg::CreateWarn_t message(String_t("certificate rejected"));
    QmXplMsg::CreateWarn_t certificate(String_t(c.pem));
    try {
        throw SecCoreCertificateFailureException(reason, message, certificate);
    } catch (const QmSecCore::SecCoreException& base) {
        EXPECT_EQ(U8(base.GetMessageList().Get(0).GetText()), "certificate rejected");
        auto& e = dynamic_cast<const SecCoreCertificateFailureException&>(base);
        EXPECT_EQ(U8(e.GetReasonText()), "issuer unknown");
        EXPECT_EQ(U8(e.GetMessageText()), "certificate rejected");
        EXPECT_EQ(U8(e.GetIssuerName()), "Unable to extract the IssuerName");
        EXPECT_EQ(U8(e.GetSubjectName()), "Unable to extract the SubjectName");
        EXPECT_EQ(U8(e.GetCertificate().GetSubjectCN()), "rejected");
        SecCoreCertificateFailureException copy(e);
        EXPECT_TRUE(copy.GetCertificate() == e.GetCertificate());
    }
    EXPECT_EQ(ThrownNumber<CertificateParsingException>(
                  [&] { SecCoreCertificateFailureException(reason, message, reason); }),
              91);
}

}  // namespace
