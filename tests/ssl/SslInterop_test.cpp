// Our connections against peers nobody here wrote: the openssl command as server and as client,
// with TLS 1.2 and 1.3, over loopback sockets.
#include "QmXpl/ServerSocket_t.h"
#include "QmXpl/Socket_t.h"
#include "ssl/SslTestSupport.h"
#include "support/Process.h"

namespace ssl_test {
namespace {

using qmsec_test::Process;
using QmXplNet::ServerSocket_t;
using QmXplNet::Socket_t;

class SslInteropTest : public testing::TestWithParam<Version> {
  protected:
    std::string File(const char* name) const { return files_.File(name); }
    std::string Pin() const { return GetParam().version == TLS1_3_VERSION ? "-tls1_3" : "-tls1_2"; }

    SslNode node{GetParam().version};
    PemFiles files_;
};
INSTANTIATE_TEST_SUITE_P(Versions, SslInteropTest, testing::ValuesIn(kVersions), VersionName);

TEST_P(SslInteropTest, OurClientTalksToOpensslServerAndResumes) {
    Process server({"openssl", "s_server", "-accept", "0", "-naccept", "3", "-www", Pin(), "-cert",
                    File("server.pem"), "-key", File("server.key"), "-CAfile", File("ca.pem"),
                    "-Verify", "1"});
    int port = server.ListeningPort();
    ASSERT_GT(port, 0) << server.Output();
    auto page = [&](const char* key) {
        Socket_t socket(String_t("127.0.0.1"), port);
        SslClientConnection c(socket, Arr(key), ClientOptions());
        EXPECT_EQ(c.GetPeerId().ToUtf8(), "server");
        std::string request = "GET / HTTP/1.0\r\n\r\n";
        c.GetOutputStream().Write(request.data(), static_cast<int>(request.size()));
        std::string text;
        char buffer[4096];
        QmXplIo::InputStream_t in = c.GetInputStream();
        try {
            for (int n; (n = in.Read(buffer, sizeof buffer)) >= 0;) text.append(buffer, n);
        } catch (const QmXplIo::IOException_t&) {
            // s_server -www may close without close_notify; the page is complete by then.
        }
        return text;
    };
    std::string version = GetParam().version == TLS1_3_VERSION ? "TLSv1.3" : "TLSv1.2";
    EXPECT_NE(page("s_server").find("New, " + version), std::string::npos);
    EXPECT_NE(page("s_server").find("Reused, " + version), std::string::npos);
    EXPECT_NE(page("elsewhere").find("New, " + version), std::string::npos);
}

TEST_P(SslInteropTest, OpensslClientTalksToOurServerAndResumes) {
    ServerSocket_t listener(0, String_t("127.0.0.1"));
    int port = listener.GetLocalPort();
    auto serve = std::async(std::launch::async, [&] {
        for (int i = 0; i < 3; ++i) {
            Socket_t socket = listener.Accept();
            socket.SetSoTimeout(20000);
            SslServerConnection s(socket, ServerOptions());
            // Reads one line and answers it reversed: proof that both directions decrypt.
            QmXplIo::InputStream_t in = s.GetInputStream();
            std::string line;
            char c;
            while (in.Read(&c, 1) == 1 && c != '\n') line += c;
            std::string answer(line.rbegin(), line.rend());
            answer += " from " + s.GetPeerId().ToUtf8() + "\n";
            s.GetOutputStream().Write(answer.data(), static_cast<int>(answer.size()));
            s.Close();
        }
    });
    auto client = [&](const std::vector<std::string>& extra) {
        std::vector<std::string> argv{"openssl",
                                      "s_client",
                                      "-connect",
                                      "127.0.0.1:" + std::to_string(port),
                                      Pin(),
                                      "-CAfile",
                                      File("ca.pem"),
                                      "-cert",
                                      File("client.pem"),
                                      "-key",
                                      File("client.key"),
                                      "-verify_return_error",
                                      "-ign_eof"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        Process p(argv, "olleh\n");
        EXPECT_EQ(p.Finish(), 0) << p.Output();
        return p.Output();
    };
    std::string first = client({"-sess_out", File("session.pem")});
    EXPECT_NE(first.find("hello from client"), std::string::npos) << first;
    EXPECT_NE(first.find("New, "), std::string::npos) << first;
    EXPECT_NE(client({"-sess_in", File("session.pem")}).find("Reused, "), std::string::npos);
    EXPECT_NE(client({}).find("New, "), std::string::npos);
    serve.get();
}

}  // namespace
}  // namespace ssl_test
