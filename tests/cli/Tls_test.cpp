// tls serve, connect and sniff between node directories and against the openssl command; the
// certificate lifecycle (request, issue, install, renew) while a server runs; PKCS #12 files.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "cli/CliRunner.h"
#include "cli/MiniJson.h"
#include "support/Certificates.h"
#include "support/Command.h"
#include "support/Process.h"

namespace qmsec_cli {
namespace {

using qmsec_test::CertificateBuilder;
using qmsec_test::Quote;
using qmsec_test::RunCommand;
using qmsec_test::TestCertificate;

// A CA made by the test, with its key in a file so that `openssl x509 -req` can sign requests.
class TestCa {
  public:
    explicit TestCa(const std::string& cn = "Test CA")
        : cert_(CertificateBuilder().CommonName(cn).Ca().Build()) {
        dir_.Write("ca.pem", cert_.pem);
        dir_.Write("ca.key", cert_.privateKeyPem);
    }
    std::string CertFile() const { return dir_.File("ca.pem"); }
    // Signs the request in csrFile with serial, writes the certificate to outFile.
    void Sign(const std::string& csrFile, const std::string& outFile, int serial) const {
        auto r =
            RunCommand("openssl x509 -req -in " + Quote(csrFile) + " -CA " + Quote(CertFile()) +
                       " -CAkey " + Quote(dir_.File("ca.key")) + " -set_serial " +
                       std::to_string(serial) + " -days 2 -out " + Quote(outFile) + " 2>&1");
        ASSERT_EQ(r.status, 0) << r.output;
    }
    // A certificate and key in files for the openssl command, issued by this CA.
    std::pair<std::string, std::string> Leaf(const std::string& cn) const {
        TestCertificate leaf = CertificateBuilder()
                                   .CommonName(cn)
                                   .IssuedBy(cert_)
                                   .SerialHex("0A")
                                   .SubjectKey(qmsec_test::TestRsaKey(2048, 3).privatePem)
                                   .Build();
        return {dir_.Write(cn + ".pem", leaf.pem), dir_.Write(cn + ".key", leaf.privateKeyPem)};
    }

  private:
    qmsec_test::TempDir dir_;
    TestCertificate cert_;
};

// A node that trusts ca and whose own identity (alias = core id) was requested with
// `genkey --csr` and issued by ca through `openssl x509 -req`.
class TlsNode : public Node {
  public:
    TlsNode(const std::string& coreId, const TestCa& ca) {
        Ok({"init", "--core-id", coreId});
        Ok({"keystore", "install", "Test CA", "--cert", ca.CertFile(), "--trusted"});
        Ok({"keystore", "genkey", coreId, "--csr", File("request.pem")});
        ca.Sign(File("request.pem"), File("issued.pem"), 1);
        Ok({"keystore", "install", coreId, "--cert", File("issued.pem")});
    }
};

// `qmsec tls serve` of node on a free loopback port, running until the test ends.
class Server {
  public:
    Server(const Node& node, std::vector<std::string> args)
        : process_(Command(node, std::move(args))) {
        std::string line = process_.WaitForLine("Serving as", 30000);
        size_t at = line.find("127.0.0.1:");
        if (at == std::string::npos) throw std::runtime_error("no server: " + process_.Output());
        port_ = std::stoi(line.substr(at + 10));
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    // The next line of the server's log that contains needle ("" after 30 s).
    std::string Next(const std::string& needle, int timeoutMs = 30000) {
        return process_.WaitForLine(needle, timeoutMs);
    }
    const std::string& Log() const { return process_.Output(); }
    // The descriptors the server holds open.
    long Descriptors() const { return qmsec_test::OpenDescriptors(process_.Pid()); }

  private:
    static std::vector<std::string> Command(const Node& node, std::vector<std::string> args) {
        std::vector<std::string> argv{
            "env", "QMXPL_HOME=" + node.Home(), QmsecPath(), "tls", "serve", "--bind", "127.0.0.1"};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
    qmsec_test::Process process_;
    int port_ = 0;
};

TEST(CliTls, NodesConnectResumeAndRefuseStrangersWithTheReason) {
    TestCa ca;
    TlsNode server("server-node", ca), client("client-node", ca);
    Server serve(server, {"--echo"});

    Result r = client.Ok({"--json", "tls", "connect", serve.Address(), "--repeat", "3"},
                         "ping over TLS\n");
    Json runs = Json::Parse(r.out);
    ASSERT_EQ(runs.Size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(runs[i]["peer_id"].Str(), "server-node");
        EXPECT_EQ(runs[i]["own_id"].Str(), "client-node");
        EXPECT_EQ(runs[i]["protocol"].Str(), "TLSv1.3");
        EXPECT_EQ(runs[i]["cipher_suite"].Str().rfind("TLS_", 0), 0u);
        EXPECT_EQ(runs[i]["answer"].Str(), "ping over TLS\n");
    }
    // The client closes its half right after the request, so a TLS 1.3 ticket that arrives
    // later than that is lost to it (see the load run): one of the later connections resumes.
    EXPECT_FALSE(runs[0]["resumed"].Bool());
    EXPECT_TRUE(runs[1]["resumed"].Bool() || runs[2]["resumed"].Bool()) << r;
    EXPECT_NE(serve.Next("[1]").find("peer 'client-node', TLSv1.3"), std::string::npos)
        << serve.Log();
    EXPECT_NE(serve.Next("resumed session"), "") << serve.Log();

    // A node whose identity the server's CA did not issue is refused, and both ends say why.
    TestCa other("Other CA");
    TlsNode stranger("stranger", other);
    stranger.Ok({"keystore", "install", "Server CA", "--cert", ca.CertFile(), "--trusted"});
    Result refused = stranger({"tls", "connect", serve.Address()}, "x");
    EXPECT_EQ(refused.status, 1) << refused;
    EXPECT_NE(refused.err.find("The TLS connection to '" + serve.Address() + "' failed."),
              std::string::npos)
        << refused;
    EXPECT_NE(serve.Next("refused").find("[sec.core 113]"), std::string::npos) << serve.Log();

    // The server has gone on serving.
    Result after = client.Ok({"tls", "connect", serve.Address()}, "still there");
    EXPECT_NE(after.out.find("peer 'server-node'"), std::string::npos) << after;
    EXPECT_NE(after.out.find("still there"), std::string::npos) << after;
}

TEST(CliTls, InteroperatesWithTheOpenSslCommandOnTls12And13) {
    TestCa ca;
    TlsNode node("node-1", ca);
    auto [peerCert, peerKey] = ca.Leaf("openssl-peer");
    for (const char* version : {"-tls1_2", "-tls1_3"}) {
        SCOPED_TRACE(version);
        std::string name = std::string(version) == "-tls1_2" ? "TLSv1.2" : "TLSv1.3";
        {
            // openssl s_client against qmsec tls serve: the server prints what it decrypted.
            Server serve(node, {});
            std::string sessionFile = node.File("session.pem");
            auto run = [&](const std::string& session) {
                return RunCommand("(printf 'from openssl'; sleep 1) | openssl s_client " +
                                  std::string(version) + " -connect " + serve.Address() +
                                  " -CAfile " + Quote(ca.CertFile()) + " -cert " + Quote(peerCert) +
                                  " -key " + Quote(peerKey) + " " + session +
                                  " -verify_return_error 2>&1");
            };
            auto first = run("-sess_out " + Quote(sessionFile));
            EXPECT_EQ(first.status, 0) << first.output;
            EXPECT_NE(first.output.find("CN = node-1"), std::string::npos) << first.output;
            EXPECT_NE(serve.Next("[1]").find("peer 'openssl-peer', " + name), std::string::npos)
                << serve.Log();
            EXPECT_NE(serve.Next("closed after 12 bytes"), "") << serve.Log();
            EXPECT_NE(serve.Log().find("from openssl"), std::string::npos) << serve.Log();
            auto second = run("-sess_in " + Quote(sessionFile));
            EXPECT_NE(second.output.find("Reused, " + name), std::string::npos) << second.output;
            EXPECT_NE(serve.Next("[2]").find("resumed session"), std::string::npos) << serve.Log();
        }
        {
            // qmsec tls connect against openssl s_server, which answers each line reversed.
            qmsec_test::Process s_server({"openssl", "s_server", "-accept", "0", version, "-cert",
                                          peerCert, "-key", peerKey, "-CAfile", ca.CertFile(),
                                          "-Verify", "1", "-rev", "-naccept", "1"});
            int listening = s_server.ListeningPort();
            ASSERT_GT(listening, 0) << s_server.Output();
            std::string port = std::to_string(listening);
            Result r = node.Ok({"--json", "tls", "connect", "127.0.0.1:" + port}, "abc\n");
            Json runs = Json::Parse(r.out);
            ASSERT_EQ(runs.Size(), 1u) << r;
            EXPECT_EQ(runs[0]["protocol"].Str(), name);
            EXPECT_EQ(runs[0]["peer_id"].Str(), "openssl-peer");
            EXPECT_NE(runs[0]["answer"].Str().find("cba"), std::string::npos) << r;
        }
    }
}

// The serial number of the certificate that the server at address presents to a client of ca.
std::string PresentedSerial(const std::string& address, const TestCa& ca) {
    auto [cert, key] = ca.Leaf("openssl-peer");
    auto r = RunCommand("openssl s_client -connect " + address + " -CAfile " +
                        Quote(ca.CertFile()) + " -cert " + Quote(cert) + " -key " + Quote(key) +
                        " </dev/null 2>/dev/null | openssl x509 -noout -serial");
    return r.output;
}

TEST(CliTls, RenewalsAndNewTrustReachARunningServerAtItsNextConnection) {
    TestCa ca;
    TlsNode node("node-1", ca);
    Server serve(node, {});
    EXPECT_EQ(PresentedSerial(serve.Address(), ca), "serial=01\n");

    // The same key, a new certificate from the CA: the renewal of a running node.
    ca.Sign(node.File("request.pem"), node.File("renewed.pem"), 2);
    node.Ok({"keystore", "install", "node-1", "--cert", node.File("renewed.pem"), "--replace"});
    std::string serial;
    for (int i = 0; i < 100 && (serial = PresentedSerial(serve.Address(), ca)) != "serial=02\n";
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(serial, "serial=02\n") << serve.Log();

    // A certificate that does not belong to the stored key is refused, and nothing changes.
    TestCa other("Other CA");
    auto [foreignCert, foreignKey] = other.Leaf("node-1");
    Result wrongKey = node({"keystore", "install", "node-1", "--cert", foreignCert, "--replace"});
    EXPECT_EQ(wrongKey.status, 1) << wrongKey;
    EXPECT_NE(wrongKey.err.find("does not belong to the private key 'node-1'"), std::string::npos)
        << wrongKey;

    // A client of a CA the node does not trust yet is accepted once the CA is installed.
    auto tryForeign = [&] {
        return RunCommand("openssl s_client -connect " + serve.Address() + " -cert " +
                          Quote(foreignCert) + " -key " + Quote(foreignKey) +
                          " </dev/null 2>&1; echo")
            .output;
    };
    (void)tryForeign();
    EXPECT_NE(serve.Next("refused").find("[sec.core 113]"), std::string::npos) << serve.Log();
    node.Ok({"keystore", "install", "Other CA", "--cert", other.CertFile(), "--trusted"});
    bool accepted = false;
    for (int i = 0; i < 50 && !accepted; ++i) {
        tryForeign();
        accepted = serve.Next("peer 'node-1', TLSv1.3", 200) != "";
    }
    EXPECT_TRUE(accepted) << serve.Log();
}

TEST(CliTls, Pkcs12FilesRoundTripWithTheOpenSslCommand) {
    TestCa ca;
    TlsNode node("node-1", ca);
    std::map<std::string, std::string> env{{"P12PASS", "s3cret pass"}};
    std::string p12 = node.File("node.p12");
    Result exported =
        node({"keystore", "export-p12", "node-1", "-o", p12, "--password-env", "P12PASS"}, "", env);
    ASSERT_EQ(exported.status, 0) << exported;
    auto opened = RunCommand("P12PASS='s3cret pass' openssl pkcs12 -in " + Quote(p12) +
                             " -passin env:P12PASS -nodes 2>&1");
    ASSERT_EQ(opened.status, 0) << opened.output;
    EXPECT_NE(opened.output.find("BEGIN PRIVATE KEY"), std::string::npos);
    EXPECT_NE(opened.output.find(node.Read("issued.pem").substr(0, 80)), std::string::npos)
        << opened.output;
    EXPECT_NE(opened.output.find("friendlyName: node-1"), std::string::npos) << opened.output;

    // The openssl command repacks it; a fresh node imports it and presents the same identity.
    std::string repacked = node.File("repacked.p12");
    std::string pem = node.File("unpacked.pem");
    auto repack = RunCommand("export P12PASS='s3cret pass'; openssl pkcs12 -in " + Quote(p12) +
                             " -passin env:P12PASS -nodes -out " + Quote(pem) +
                             " && openssl pkcs12 -export -in " + Quote(pem) +
                             " -passout env:P12PASS -out " + Quote(repacked) + " 2>&1");
    ASSERT_EQ(repack.status, 0) << repack.output;
    Node fresh;
    ASSERT_EQ(fresh({"init", "--core-id", "node-1"}).status, 0);
    Result wrong =
        fresh({"keystore", "import-p12", "node-1", repacked, "--password-env", "P12PASS"}, "",
              {{"P12PASS", "wrong"}});
    EXPECT_EQ(wrong.status, 1) << wrong;
    EXPECT_NE(wrong.err.find("Could not read the PKCS #12 file"), std::string::npos) << wrong;
    Result imported =
        fresh({"keystore", "import-p12", "node-1", repacked, "--password-env", "P12PASS"}, "", env);
    ASSERT_EQ(imported.status, 0) << imported;
    Result cert = fresh({"keystore", "export", "node-1"});
    EXPECT_EQ(cert.out, node.Read("issued.pem"));
    ASSERT_EQ(
        fresh({"keystore", "install", "Test CA", "--cert", ca.CertFile(), "--trusted"}).status, 0);
    Server serve(fresh, {"--echo"});
    Result r = node.Ok({"tls", "connect", serve.Address()}, "hi");
    EXPECT_NE(r.out.find("peer 'node-1'"), std::string::npos) << r;

    Result again =
        fresh({"keystore", "import-p12", "node-1", repacked, "--password-env", "P12PASS"}, "", env);
    EXPECT_EQ(again.status, 1) << again;
    EXPECT_NE(again.err.find("give --replace"), std::string::npos) << again;
}

// A raw TCP peer that misbehaves on purpose.
class RawPeer {
  public:
    explicit RawPeer(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect");
    }
    ~RawPeer() { Close(); }
    void Send(const std::string& bytes) const { (void)!write(fd_, bytes.data(), bytes.size()); }
    // With reset, the connection ends with RST instead of FIN.
    void Close(bool reset = false) {
        if (fd_ < 0) return;
        if (reset) {
            linger hard{1, 0};
            setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        }
        close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
};

TEST(CliTls, TheServerOutlivesPeersThatVanishStallOrReset) {
    TestCa ca;
    TlsNode server("server-node", ca), client("client-node", ca);
    Server serve(server, {"--echo", "--threads", "4", "--timeout", "3"});
    int port = std::stoi(serve.Address().substr(serve.Address().rfind(':') + 1));
    // The start of a client hello whose record promises more bytes than ever come.
    std::string hello = qmsec_test::ReadFile(std::string(QMSEC_SOURCE_DIR) +
                                             "/fuzz/corpus/ssl_server_flight/tls13_client_hello");
    ASSERT_GT(hello.size(), 100u);
    auto served = [&](const std::string& what) {
        Result r = client({"tls", "connect", serve.Address()}, what);
        EXPECT_EQ(r.status, 0) << r << serve.Log();
        EXPECT_NE(r.out.find(what), std::string::npos) << r;
    };

    RawPeer vanishing(port);
    vanishing.Send(hello.substr(0, 60));
    vanishing.Close();
    EXPECT_NE(serve.Next("[1]").find("refused"), std::string::npos) << serve.Log();
    served("after a vanished peer");

    RawPeer resetting(port);
    resetting.Send(hello.substr(0, 60));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    resetting.Close(true);
    EXPECT_NE(serve.Next("[3]").find("refused"), std::string::npos) << serve.Log();
    served("after a reset");

    // A peer that trickles one byte a second holds one worker, not the server; once it stops
    // for longer than the timeout it is dropped.
    RawPeer trickling(port);
    for (int i = 0; i < 3; ++i) {
        trickling.Send(hello.substr(static_cast<size_t>(i), 1));
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    served("while a peer trickles");
    EXPECT_NE(serve.Next("[5]").find("refused"), std::string::npos) << serve.Log();
    EXPECT_NE(serve.Log().find("timed out"), std::string::npos) << serve.Log();
    served("after a stalled peer");
}

// The load run in small: more clients at once than the server has threads; every one is answered
// and no descriptor of a finished connection stays open.
TEST(CliTls, ManyClientsAtOnceAreAllAnsweredAndLeaveNoDescriptorBehind) {
    TestCa ca;
    TlsNode server("server-node", ca), client("client-node", ca);
    Server serve(server, {"--echo", "--threads", "4"});
    long before = serve.Descriptors();
    std::vector<std::future<Result>> runs;
    for (int i = 0; i < 16; ++i)
        runs.push_back(std::async(std::launch::async, [&, i] {
            return client({"--json", "tls", "connect", serve.Address(), "--repeat", "3"},
                          "client " + std::to_string(i));
        }));
    for (int i = 0; i < 16; ++i) {
        Result r = runs[static_cast<size_t>(i)].get();
        ASSERT_EQ(r.status, 0) << r << serve.Log();
        Json answers = Json::Parse(r.out);
        ASSERT_EQ(answers.Size(), 3u);
        for (size_t j = 0; j < 3; ++j)
            EXPECT_EQ(answers[j]["answer"].Str(), "client " + std::to_string(i));
    }
    EXPECT_NE(serve.Next("[48]"), "") << serve.Log();
    long after = serve.Descriptors();
    for (int i = 0; i < 50 && after > before; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        after = serve.Descriptors();
    }
    EXPECT_EQ(after, before);
}

TEST(CliTls, SniffTellsClientHellosFromOtherBytes) {
    Node node;
    struct Case {
        std::string bytes;
        bool hello;
    } cases[] = {
        {std::string("\x16\x03\x01\x00\xc8\x01\x00\x00\xc4\x03\x03", 11), true},
        {std::string("\x80\x2e\x01\x00\x02", 5), true},  // an SSL 2.0 CLIENT-HELLO
        {"GET / HTTP/1.0\r\n\r\n", false},
        {std::string("\x16\x03\x01\x00\xc8\x02\x00\x00\xc4\x03\x03", 11), false},  // server hello
        {"", false},
    };
    for (const Case& c : cases) {
        std::string file = node.Write("bytes", c.bytes);
        Result r = node({"--json", "tls", "sniff", file});
        ASSERT_EQ(r.status, 0) << r;
        EXPECT_EQ(Json::Parse(r.out)["tls_client_hello"].Bool(), c.hello)
            << qmsec_test::Hex(c.bytes);
    }
    Result missing = node({"tls", "sniff", node.File("none")});
    EXPECT_EQ(missing.status, 1) << missing;
}

}  // namespace
}  // namespace qmsec_cli
