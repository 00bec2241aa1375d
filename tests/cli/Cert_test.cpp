// cert show against what OpenSSL's own tool reads from the same certificate.
#include <gtest/gtest.h>

#include "cli/CliRunner.h"
#include "cli/MiniJson.h"
#include "support/Certificates.h"
#include "support/Command.h"

namespace qmsec_cli {
namespace {

using qmsec_test::Quote;
using qmsec_test::RunCommand;

std::string OpenSsl(const std::string& args) {
    auto r = RunCommand("openssl " + args + " 2>/dev/null");
    EXPECT_EQ(r.status, 0) << args;
    return r.output;
}

std::string After(const std::string& text, const std::string& head) {
    size_t at = text.find(head);
    if (at == std::string::npos) return "";
    size_t end = text.find('\n', at);
    return text.substr(at + head.size(), end - at - head.size());
}

TEST(CliCert, ShowsWhatOpenSslReads) {
    Node node;
    std::string key = node.File("k.pem"), cert = node.File("c.pem");
    OpenSsl("req -x509 -newkey rsa:2048 -nodes -sha256 -keyout " + Quote(key) + " -out " +
            Quote(cert) + " -days 30 -subj '/O=Acme Corp/CN=node one' -set_serial 0x0123ABCD");
    Result r = node({"--json", "cert", "show", cert});
    ASSERT_EQ(r.status, 0) << r;
    Json j = Json::Parse(r.out);
    EXPECT_EQ(j["file"].Str(), cert);
    EXPECT_EQ(j["subject_cn"].Str(), "node one");
    EXPECT_EQ(j["issuer_cn"].Str(), "node one");
    EXPECT_EQ(j["subject"].Str(), "/O=Acme Corp/CN=node one");
    EXPECT_EQ(j["serial"].Str(), "0123ABCD");
    EXPECT_TRUE(j["valid_now"].Bool());
    EXPECT_TRUE(j["self_signed"].Bool());
    std::string fingerprint =
        After(OpenSsl("x509 -noout -fingerprint -sha1 -in " + Quote(cert)), "Fingerprint=");
    EXPECT_EQ(j["fingerprint"].Str(), fingerprint);
    EXPECT_EQ(j["fingerprint"].Str().size(), 59u);
    EXPECT_NE(j["not_after"].Str().find("GMT"), std::string::npos);

    Result text = node({"cert", "show", cert});
    ASSERT_EQ(text.status, 0) << text;
    EXPECT_NE(text.out.find("subject CN   node one"), std::string::npos) << text;
    EXPECT_NE(text.out.find("fingerprint  " + fingerprint + " (SHA-1)"), std::string::npos) << text;
    // From the standard input too.
    Result stdinShow = node({"cert", "show", "-", "--json"}, node.Read("c.pem"));
    ASSERT_EQ(stdinShow.status, 0) << stdinShow;
    EXPECT_EQ(Json::Parse(stdinShow.out)["fingerprint"].Str(), fingerprint);
}

// The holder of a certificate chooses its names: they must not print lines of their own, nor
// reach the terminal as escape sequences.
TEST(CliCert, ControlCharactersInNamesAreShownEscaped) {
    Node node;
    ASSERT_EQ(node({"init"}).status, 0);
    const std::string cn = "evil\n  valid now    yes\x1b[2J\xc2\x9b";
    Result made = node({"keystore", "genkey", "evil", "--cn", cn, "--bits", "1024"});
    ASSERT_EQ(made.status, 0) << made;
    ASSERT_EQ(node({"keystore", "export", "evil", "-o", node.File("evil.pem")}).status, 0);
    for (const Result& r :
         {node({"cert", "show", node.File("evil.pem")}), node({"keystore", "list"})}) {
        ASSERT_EQ(r.status, 0) << r;
        EXPECT_NE(r.out.find("evil\\n  valid now    yes\\x1b[2J\\u009b"), std::string::npos) << r;
        EXPECT_EQ(r.out.find_first_of("\x1b\x9b"), std::string::npos) << r;
        EXPECT_EQ(r.out.find("\n  valid now    yes"), r.out.rfind("\n  valid now    yes")) << r;
    }
    Result json = node({"--json", "cert", "show", node.File("evil.pem")});
    EXPECT_EQ(Json::Parse(json.out)["subject_cn"].Str(), cn);
}

TEST(CliCert, IssuedAndExpiredCertificatesAreToldApart) {
    Node node;
    using qmsec_test::CertificateBuilder;
    qmsec_test::TestCertificate ca = CertificateBuilder().CommonName("Test CA").Ca().Build();
    qmsec_test::TestCertificate expired = CertificateBuilder()
                                              .CommonName("leaf")
                                              .IssuedBy(ca)
                                              .SerialHex("07")
                                              .ValidFromNow(-10 * 86400, -9 * 86400)
                                              .Build();
    Result r = node({"--json", "cert", "show", node.Write("leaf.pem", expired.pem)});
    ASSERT_EQ(r.status, 0) << r;
    Json j = Json::Parse(r.out);
    EXPECT_EQ(j["subject_cn"].Str(), "leaf");
    EXPECT_EQ(j["issuer_cn"].Str(), "Test CA");
    EXPECT_FALSE(j["self_signed"].Bool());
    EXPECT_FALSE(j["valid_now"].Bool());
    EXPECT_EQ(j["serial"].Str(), "07");
    Result caShow = node({"--json", "cert", "show", node.Write("ca.pem", ca.pem)});
    ASSERT_EQ(caShow.status, 0) << caShow;
    EXPECT_TRUE(Json::Parse(caShow.out)["self_signed"].Bool());
    EXPECT_TRUE(Json::Parse(caShow.out)["valid_now"].Bool());
}

TEST(CliCert, DerOrOversizedInputIsRefused) {
    Node node;
    std::string cert = node.File("c.pem"), der = node.File("c.der");
    OpenSsl("req -x509 -newkey rsa:2048 -nodes -keyout " + Quote(node.File("k.pem")) + " -out " +
            Quote(cert) + " -days 1 -subj '/CN=x'");
    OpenSsl("x509 -in " + Quote(cert) + " -outform DER -out " + Quote(der));
    Result r = node({"cert", "show", der});
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_NE(r.err.find("[sec.core 91]"), std::string::npos) << r;
    std::string big = node.Write("big.pem", std::string(2 << 20, 'A'));
    Result tooBig = node({"cert", "show", big});
    EXPECT_EQ(tooBig.status, 1) << tooBig;
    EXPECT_NE(tooBig.err.find("too large"), std::string::npos) << tooBig;
}

}  // namespace
}  // namespace qmsec_cli
