// SSL sockets over loopback TCP: against each other, against the openssl command, beside an
// SslServerConnection, and against hostile peers; their configuration classes.
#include <openssl/pem.h>

#include <random>

#include "QmXpl/SocketTimeoutException_t.h"
#include "SslSocketDefaultConfigImpl.h"
#include "SslSocketImpl.h"
#include "ssl/SslTestSupport.h"
#include "support/Process.h"
#include "support/TraceCapture.h"

namespace ssl_test {
namespace {

using qmsec_test::Process;
using qmsec_test::RandomBytes;
using qmsec_test::Str;
using qmsec_test::ThrownNumber;
using QmSecSsl::SslSocket;
using QmSecSsl::SslSocketConfig;
using QmSecSsl::SslSocketDefaultConfig;
using QmXplIo::IOException_t;
using QmXplNet::ServerSocket_t;
using QmXplNet::Socket_t;

const char* const kPassword = "s3cret pass";

// A file name as the socket classes take it.
CharArray_t Name(const std::string& path) {
    return CharArray_t(path.c_str(), int(path.size() + 1));
}

std::string EncryptedKeyPem(const std::string& pem, const char* password) {
    QmSecCore::ossl::PKey key = qmsec_test::cert_detail::ReadPrivateKey(pem);
    QmSecCore::ossl::Bio bio(BIO_new(BIO_s_mem()));
    EXPECT_EQ(PEM_write_bio_PKCS8PrivateKey(bio.get(), key.get(), EVP_aes_256_cbc(), nullptr, 0,
                                            nullptr, const_cast<char*>(password)),
              1);
    return qmsec_test::BioText(bio.get());
}

// The id texts of the socket classes: UTF-8 and a zero byte, or empty.
std::string Id(const CharArray_t& id) {
    return id.IsEmpty() ? std::string() : Str(id, 0, id.GetSize() - 1);
}

// PEM files of a CA, a server and a client it issued (the client's key encrypted), and the
// default socket configuration set to serve as "server", trusting the CA, demanding peers'
// certificates, limited to one TLS version.
class SslSocketTest : public testing::TestWithParam<Version> {
  protected:
    SslSocketTest() {
        files_.Write("client-enc.key",
                     EncryptedKeyPem(qmsec_test::ReadFile(File("client.key")), kPassword));
        SslSocketDefaultConfig d = SslSocketConfig::GetDefaultConfig();
        d.SetPrivateKeyPassword(Arr(kPassword));
        d.SetCACertificateFilename(Name(File("ca.pem")));
        d.SetOwnCertificateFilename(Name(File("server.pem")));
        d.SetPrivateKeyFilename(Name(File("server.key")));
        d.SetClientVerificationMode(SslSocketConfig::eRequireCertificate);
        d.SetEncryptionLevel(SslSocketConfig::eEncryptionFull);
        SSL_CTX_set_max_proto_version(d->GetCtx(), GetParam().version);
    }
    std::string File(const char* name) const { return files_.File(name); }
    std::string Pin() const { return GetParam().version == TLS1_3_VERSION ? "-tls1_3" : "-tls1_2"; }
    // A socket configuration that presents the client's identity from its encrypted key.
    SslSocketConfig ClientConfig() const {
        SslSocketConfig c(true);
        c.SetOwnCertificateFilename(Name(File("client.pem")));
        c.SetPrivateKeyFilename(Name(File("client-enc.key")));
        return c;
    }

    SslNode node{GetParam().version};
    PemFiles files_;
};
INSTANTIATE_TEST_SUITE_P(Versions, SslSocketTest, testing::ValuesIn(kVersions), VersionName);

void Send(SslSocket& s, const std::string& data) {
    s.GetOutputStream().Write(data.data(), static_cast<int>(data.size()));
    s.ShutdownOutput();
}

std::string ReceiveAll(SslSocket& s) {
    QmXplIo::InputStream_t in = s.GetInputStream();
    std::string data;
    char buffer[16384];
    for (int n; (n = in.Read(buffer, sizeof buffer)) >= 0;) data.append(buffer, size_t(n));
    return data;
}

TEST_P(SslSocketTest, CarriesRandomDataBothWaysAndNamesBothEnds) {
    std::mt19937 rng(11);
    for (size_t size : {size_t(0), size_t(1), size_t(16385), size_t(1) << 20}) {
        SCOPED_TRACE(size);
        std::string up = RandomBytes(rng, size), down = RandomBytes(rng, size);
        std::string atServer, atClient, serverPeer, serverOwn, clientPeer, clientOwn;
        RunSockets(
            [&](Socket_t& t) {
                SslSocket s(t, true);
                atServer = ReceiveAll(s);
                Send(s, down);
                serverPeer = Id(s.GetPeerId());
                serverOwn = Id(s.GetOwnId());
                s.Close();
            },
            [&](Socket_t& t) {
                SslSocket c(t, false, ClientConfig());
                EXPECT_EQ(SSL_version(c->GetSsl()), GetParam().version);
                Send(c, up);
                atClient = ReceiveAll(c);
                clientPeer = Id(c.GetPeerId());
                clientOwn = Id(c.GetOwnId());
            });
        EXPECT_TRUE(atServer == up);
        EXPECT_TRUE(atClient == down);
        EXPECT_EQ(serverPeer, "client");
        EXPECT_EQ(serverOwn, "server");
        EXPECT_EQ(clientPeer, "server");
        EXPECT_EQ(clientOwn, "client");
    }
}

// ShutdownOutput sends close_notify and half-closes; Close cuts without it; stream misuse.
TEST_P(SslSocketTest, ShutdownOutputEndsTheStreamAndCloseCutsIt) {
    for (bool shutdown : {true, false}) {
        SCOPED_TRACE(shutdown ? "ShutdownOutput" : "Close");
        RunSockets(
            [&](Socket_t& t) {
                SslSocket s(t, true);
                QmXplIo::InputStream_t in = s.GetInputStream();
                char b[8];
                EXPECT_EQ(in.Read(b, 8), 5);
                if (shutdown) {
                    EXPECT_EQ(in.Read(b, 8), -1);
                    EXPECT_EQ(in.Read(b, 8), -1);
                    // The other direction is still open: the answer arrives.
                    Send(s, "answer");
                } else {
                    EXPECT_THROW(in.Read(b, 8), IOException_t);
                }
            },
            [&](Socket_t& t) {
                SslSocket c(t, false, ClientConfig());
                QmXplIo::OutputStream_t out = c.GetOutputStream();
                out.Write("hello", 5);
                out.Flush();
                if (!shutdown) {
                    c.Close();
                    c.Close();  // a second close does nothing
                    return;
                }
                out.Close();
                out.Close();  // a second close does nothing
                EXPECT_EQ(ThrownNumber<IOException_t>([&] { out.Write("x", 1); }), 152);
                EXPECT_EQ(ThrownNumber<IOException_t>([&] { out.Flush(); }), 152);
                c.ShutdownOutput();  // repeated: only the socket's part again
                EXPECT_EQ(ReceiveAll(c), "answer");
                // The peer's close_notify came first: our own shutdown is still clean.
                QmXplIo::InputStream_t in = c.GetInputStream();
                in.Close();
                in.Close();
                char b;
                EXPECT_EQ(ThrownNumber<IOException_t>([&] { in.Read(&b, 1); }), 150);
                EXPECT_EQ(t.IsInputShutdown(), true);
            });
    }
}

TEST_P(SslSocketTest, ShutdownAfterThePeersCloseNotifyIsNoFailure) {
    RunSockets(
        [&](Socket_t& t) {
            SslSocket s(t, true);
            s.ShutdownOutput();
            EXPECT_EQ(ReceiveAll(s), "");
        },
        [&](Socket_t& t) {
            SslSocket c(t, false, ClientConfig());
            EXPECT_EQ(ReceiveAll(c), "");
            EXPECT_NO_THROW(c.ShutdownOutput());
        });
}

TEST_P(SslSocketTest, WriteTracesTheCountNeverThePlaintext) {
    qmsec_test::TraceCapture trace("sec.core.ssl=0xffffffff");
    RunSockets(
        [&](Socket_t& t) {
            SslSocket s(t, true);
            EXPECT_EQ(ReceiveAll(s), "top secret text");
        },
        [&](Socket_t& t) {
            SslSocket c(t, false, ClientConfig());
            Send(c, "top secret text");
        });
    EXPECT_TRUE(trace.Contains("SocketOutStreamImpl: SSL: WriteNB(15)"));
    EXPECT_FALSE(trace.Contains("top secret"));
    EXPECT_FALSE(trace.Contains(kPassword));
}

// A failed handshake: the number each end throws (-1: that end need not fail).
TEST_P(SslSocketTest, HandshakeFailuresNameTheirCause) {
    static const TestCertificate otherCa = CertificateBuilder().CommonName("Other CA").Ca().Build();
    TestCertificate foreign = Leaf("foreign", &otherCa),
                    expired = Leaf("expired", &TestCa(), -7200, -3600);
    files_.Write("foreign.pem", foreign.pem);
    files_.Write("foreign.key", foreign.privateKeyPem);
    files_.Write("expired.pem", expired.pem);
    files_.Write("expired.key", expired.privateKeyPem);
    struct Case {
        const char* name;
        const char* serverIdentity;  // files presented by the server ("" the default's)
        bool socketClient;           // else a connection that presents no certificate
        int serverNumber, clientNumber;
    } cases[] = {
        {"client without certificate", "", false, 155, -1},
        {"server from a foreign CA", "foreign", true, -1, 156},
        {"expired server", "expired", true, -1, 156},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        int serverNumber = 0, clientNumber = 0;
        RunSockets(
            [&](Socket_t& t) {
                SslSocketConfig config(true);
                if (*k.serverIdentity) {
                    config.SetOwnCertificateFilename(
                        Name(File((k.serverIdentity + std::string(".pem")).c_str())));
                    config.SetPrivateKeyFilename(
                        Name(File((k.serverIdentity + std::string(".key")).c_str())));
                }
                serverNumber = ThrownNumber<IOException_t>([&] {
                    SslSocket s(t, true, config);
                    ReceiveAll(s);
                });
                t.Close();
            },
            [&](Socket_t& t) {
                clientNumber = ThrownNumber<IOException_t>([&] {
                    if (k.socketClient) {
                        SslSocket c(t, false, ClientConfig());
                        ReceiveAll(c);
                        return;
                    }
                    SslClientConnection c(t, Arr("none"), ClientOptions("missing"));
                    EXPECT_EQ(c.GetOwnId().ToUtf8(), "");
                    char b;
                    c.GetInputStream().Read(&b, 1);
                });
            });
        if (k.serverNumber > 0) {
            EXPECT_EQ(serverNumber, k.serverNumber);
        }
        if (k.clientNumber > 0) {
            EXPECT_EQ(clientNumber, k.clientNumber);
        }
        EXPECT_NE(clientNumber, -1) << "the client connected";
    }
    // A new CA file replaces the trust: the test CA's server is no longer trusted.
    files_.Write("other-ca.pem", otherCa.pem);
    SslSocketConfig::GetDefaultConfig().SetCACertificateFilename(Name(File("other-ca.pem")));
    int clientNumber = 0;
    RunSockets(
        [&](Socket_t& t) {
            ThrownNumber<IOException_t>([&] { SslSocket s(t, true); });
            t.Close();
        },
        [&](Socket_t& t) {
            clientNumber =
                ThrownNumber<IOException_t>([&] { SslSocket c(t, false, ClientConfig()); });
        });
    EXPECT_EQ(clientNumber, 156);
    SslSocketConfig::GetDefaultConfig().SetCACertificateFilename(Name(File("ca.pem")));

    // A server that asks for no certificate takes a client without one.
    RunSockets(
        [&](Socket_t& t) {
            SslSocketConfig anonymous(true);
            anonymous.SetClientVerificationMode(SslSocketConfig::eAnonymous);
            SslSocket s(t, true, anonymous);
            EXPECT_EQ(Id(s.GetPeerId()), "");
            Send(s, "hi");
        },
        [&](Socket_t& t) {
            SslSocket c(t);
            EXPECT_EQ(Id(c.GetOwnId()), "server");  // the default's identity
            EXPECT_EQ(ReceiveAll(c), "hi");
        });
}

// Hostile peers: each ends in an exception of the number named (or a timeout), never a socket.
TEST_P(SslSocketTest, RefusesGarbageCutHandshakesAndSilence) {
    struct Case {
        const char* name;
        std::string bytes;
        bool closeAfter;
        int number;  // 0: a SocketTimeoutException_t
    } cases[] = {
        {"plain text", "GET / HTTP/1.0\r\n\r\n", false, 114},
        {"cut hello", std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11), true, 158},
        {"nothing", "", true, 158},
        {"silence", "", false, 0},
    };
    for (const Case& k : cases) {
        for (bool server : {true, false}) {
            SCOPED_TRACE(testing::Message()
                         << k.name << (server ? " to a server" : " to a client"));
            RunSockets(
                [&](Socket_t& t) {
                    if (!server) {
                        // Waits for the client's hello, then answers with the hostile bytes.
                        char b[512];
                        t.GetInputStream().Read(b, sizeof b);
                    }
                    if (!k.bytes.empty())
                        t.GetOutputStream().Write(k.bytes.data(), int(k.bytes.size()));
                    if (k.closeAfter) t.ShutdownOutput();
                    // Until our end goes (which may reset the connection).
                    try {
                        char b[4096];
                        while (t.GetInputStream().Read(b, sizeof b) > 0) {
                        }
                    } catch (const IOException_t&) {
                    }
                },
                [&](Socket_t& t) {
                    t.SetSoTimeout(300);
                    try {
                        SslSocket s(t, server);
                        ADD_FAILURE() << "a socket was made";
                    } catch (const QmXplNet::SocketTimeoutException_t&) {
                        EXPECT_EQ(k.number, 0);
                    } catch (const IOException_t& e) {
                        EXPECT_EQ(qmsec_test::MessageNumber(e), k.number) << e.what();
                    }
                    t.Close();
                });
        }
    }
}

// A session the peer breaks after the handshake: every later operation names its failure.
TEST_P(SslSocketTest, BrokenSessionsFailWithTheirNumbers) {
    using QmXplMsg::IllegalArgumentError_t;
    struct Case {
        const char* name;
        std::string raw;  // what the peer writes past TLS
        bool cut;         // then shuts its output down
    } cases[] = {
        {"bad record", std::string("\x17\x03\x03\x00\x05hello", 10), false},
        {"cut record", std::string("\x17\x03\x03\x00\x40half", 9), true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        RunSockets(
            [&](Socket_t& t) {
                SslSocket s(t, true);
                t.GetOutputStream().Write(k.raw.data(), static_cast<int>(k.raw.size()));
                if (k.cut) t.ShutdownOutput();
                try {
                    char b[4096];
                    while (t.GetInputStream().Read(b, sizeof b) > 0) {
                    }
                } catch (const IOException_t&) {
                }
            },
            [&](Socket_t& t) {
                SslSocket c(t, false, ClientConfig());
                int status = 0;
                EXPECT_EQ(ThrownNumber<IllegalArgumentError_t>(
                              [&] { c->SslOp(9, nullptr, nullptr, 0, status); }),
                          157);
                QmXplIo::InputStream_t in = c.GetInputStream();
                QmXplIo::OutputStream_t out = c.GetOutputStream();
                char b[16];
                if (k.cut) {
                    EXPECT_EQ(ThrownNumber<IOException_t>([&] { in.Read(b, sizeof b); }), 158);
                    EXPECT_EQ(ThrownNumber<IOException_t>([&] { out.Flush(); }), 154);
                    return;
                }
                EXPECT_EQ(ThrownNumber<QmXplIo::EOFException_t>([&] { in.Read(b, sizeof b); }),
                          151);
                EXPECT_EQ(ThrownNumber<IOException_t>([&] { in.Read(b, sizeof b); }), 150);
                EXPECT_EQ(ThrownNumber<IOException_t>([&] { c.ShutdownOutput(); }), 118);
                EXPECT_EQ(ThrownNumber<QmXplIo::EOFException_t>([&] { out.Write("x", 1); }), 153);
                EXPECT_EQ(ThrownNumber<IOException_t>([&] { out.Write("x", 1); }), 152);
            });
    }
    // A socket whose own files cannot be used fails before any byte is sent.
    RunSockets(
        [&](Socket_t& t) {
            char b[16];
            EXPECT_EQ(t.GetInputStream().Read(b, sizeof b), -1);
        },
        [&](Socket_t& t) {
            SslSocketConfig config(true);
            config.SetOwnCertificateFilename(Name(File("missing.pem")));
            EXPECT_THROW(SslSocket(t, false, config), QmXplMsg::RuntimeException_t);
            t.Close();
        });
}

TEST_P(SslSocketTest, OurClientWithAnEncryptedKeyTalksToOpensslServer) {
    Process server({"openssl", "s_server", "-accept", "0", "-naccept", "1", "-rev", Pin(), "-cert",
                    File("server.pem"), "-key", File("server.key"), "-CAfile", File("ca.pem"),
                    "-Verify", "1"});
    int port = server.ListeningPort();
    ASSERT_GT(port, 0) << server.Output();
    Socket_t socket(String_t("127.0.0.1"), port);
    socket.SetSoTimeout(20000);
    SslSocket c(socket, false, ClientConfig());
    EXPECT_EQ(Id(c.GetPeerId()), "server");
    EXPECT_EQ(SSL_version(c->GetSsl()), GetParam().version);
    c.GetOutputStream().Write("olleh\n", 6);
    std::string line;
    char ch;
    QmXplIo::InputStream_t in = c.GetInputStream();
    while (line.find('\n') == std::string::npos && in.Read(&ch, 1) == 1) line += ch;
    EXPECT_EQ(line, "hello\n");
    c.ShutdownOutput();
}

// Reads a line and answers it reversed, followed by " from " and peerId().
template <class Server>
void ServeReversed(Server& s, const std::function<std::string()>& peerId) {
    QmXplIo::InputStream_t in = s.GetInputStream();
    std::string line;
    char c;
    while (in.Read(&c, 1) == 1 && c != '\n') line += c;
    std::string answer(line.rbegin(), line.rend());
    answer += " from " + peerId() + "\n";
    s.GetOutputStream().Write(answer.data(), static_cast<int>(answer.size()));
}

// s_client with the client's identity against port; its output.
std::string OpensslClient(int port, const std::string& pin,
                          const std::function<std::string(const char*)>& file) {
    Process p({"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(port), pin,
               "-CAfile", file("ca.pem"), "-cert", file("client.pem"), "-key", file("client.key"),
               "-verify_return_error", "-ign_eof"},
              "olleh\n");
    EXPECT_EQ(p.Finish(), 0) << p.Output();
    return p.Output();
}

// Our socket and an SslServerConnection serve the same client at the same time, each with its
// own trust (a CA file for the socket, the key store for the connection).
TEST_P(SslSocketTest, SocketAndConnectionServeOpensslClientsSideBySide) {
    ServerSocket_t socketListener(0, String_t("127.0.0.1")),
        connectionListener(0, String_t("127.0.0.1"));
    std::promise<void> socketReady, connectionReady;
    std::shared_future<void> bothReady[] = {socketReady.get_future().share(),
                                            connectionReady.get_future().share()};
    auto waitBoth = [&] {
        for (auto& f : bothReady)
            ASSERT_EQ(f.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    };
    auto socketSide = std::async(std::launch::async, [&] {
        Socket_t t = socketListener.Accept();
        t.SetSoTimeout(20000);
        SslSocket s(t, true);
        socketReady.set_value();
        waitBoth();
        ServeReversed(s, [&] { return "socket " + Id(s.GetPeerId()); });
        s.ShutdownOutput();
    });
    auto connectionSide = std::async(std::launch::async, [&] {
        Socket_t t = connectionListener.Accept();
        t.SetSoTimeout(20000);
        SslServerConnection s(t, ServerOptions());
        connectionReady.set_value();
        waitBoth();
        ServeReversed(s, [&] { return "connection " + s.GetPeerId().ToUtf8(); });
        s.Close();
    });
    auto file = [&](const char* name) { return File(name); };
    auto first = std::async(std::launch::async, [&] {
        return OpensslClient(socketListener.GetLocalPort(), Pin(), file);
    });
    std::string second = OpensslClient(connectionListener.GetLocalPort(), Pin(), file);
    EXPECT_NE(first.get().find("hello from socket client"), std::string::npos);
    EXPECT_NE(second.find("hello from connection client"), std::string::npos) << second;
    socketSide.get();
    connectionSide.get();
}

TEST(SslSocketHandleTest, NullHandlesThrowNamingTheirClass) {
    SslSocket s;
    SslSocketConfig c;
    SslSocketDefaultConfig d;
    EXPECT_TRUE(s.IsNull());
    EXPECT_TRUE(c.IsNull());
    CharArray_t a = Arr("x");
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"SslSocket", [&] { s.GetInputStream(); }},
        {"SslSocket", [&] { s.GetOutputStream(); }},
        {"SslSocket", [&] { s.GetOwnId(); }},
        {"SslSocket", [&] { s.GetPeerId(); }},
        {"SslSocket", [&] { s.GetInetAddress(); }},
        {"SslSocket", [&] { s.GetLocalAddress(); }},
        {"SslSocket", [&] { s.GetPort(); }},
        {"SslSocket", [&] { s.GetLocalPort(); }},
        {"SslSocket", [&] { s.GetKeepAlive(); }},
        {"SslSocket", [&] { s.GetTcpNoDelay(); }},
        {"SslSocket", [&] { s.GetReceiveBufferSize(); }},
        {"SslSocket", [&] { s.GetSendBufferSize(); }},
        {"SslSocket", [&] { s.GetSoLinger(); }},
        {"SslSocket", [&] { s.GetSoTimeout(); }},
        {"SslSocket", [&] { s.SetKeepAlive(true); }},
        {"SslSocket", [&] { s.SetTcpNoDelay(true); }},
        {"SslSocket", [&] { s.SetReceiveBufferSize(1); }},
        {"SslSocket", [&] { s.SetSendBufferSize(1); }},
        {"SslSocket", [&] { s.SetSoTimeout(1); }},
        {"SslSocket", [&] { s.SetSoLinger(true, 1); }},
        {"SslSocket", [&] { s.ShutdownInput(); }},
        {"SslSocket", [&] { s.ShutdownOutput(); }},
        {"SslSocket", [&] { s.Close(); }},
        {"SslSocket", [&] { s.operator->(); }},
        {"SslSocketConfig", [&] { c.SetOwnCertificateFilename(a); }},
        {"SslSocketConfig", [&] { c.GetOwnCertificateFilename(); }},
        {"SslSocketConfig", [&] { c.SetPrivateKeyFilename(a); }},
        {"SslSocketConfig", [&] { c.GetPrivateKeyFilename(); }},
        {"SslSocketConfig", [&] { c.SetEncryptionLevel(SslSocketConfig::eEncryptionBest); }},
        {"SslSocketConfig", [&] { c.GetEncryptionLevel(); }},
        {"SslSocketConfig", [&] { c.SetClientVerificationMode(SslSocketConfig::eAnonymous); }},
        {"SslSocketConfig", [&] { c.GetClientVerificationMode(); }},
        {"SslSocketConfig", [&] { c.ReadConfig(QmXplConfig::Configuration_t()); }},
        {"SslSocketDefaultConfig", [&] { d.FeedRandomFile(a, 1); }},
        {"SslSocketDefaultConfig", [&] { d.GetLastRandomFilename(); }},
        {"SslSocketDefaultConfig", [&] { d.SetCACertificateFilename(a); }},
        {"SslSocketDefaultConfig", [&] { d.SetOwnCertificateFilename(a); }},
        {"SslSocketDefaultConfig", [&] { d.SetPrivateKeyFilename(a); }},
        {"SslSocketDefaultConfig",
         [&] { d.SetClientVerificationMode(SslSocketConfig::eAnonymous); }},
        {"SslSocketConfig", [&] { d.SetPrivateKeyPassword(a); }},
        {"SslSocketConfig", [&] { d.GetPrivateKeyPassword(); }},
        {"SslSocketConfig", [&] { d.ReadConfig(QmXplConfig::Configuration_t()); }},
    };
    for (const auto& [name, call] : calls) {
        try {
            call();
            ADD_FAILURE() << name << ": nothing thrown";
        } catch (const QmXplMsg::IllegalStateError_t& e) {
            EXPECT_EQ(e.GetMessageList().Get(0).GetText().ToUtf8(), name);
        }
    }
}

TEST(SslSocketConfigTest, ReadsKeysAndKeywordsAndTheDefaultReportsFailures) {
    SslNode node(TLS1_3_VERSION);
    qmsec_test::TempDir files;
    TestCertificate leaf = Leaf("leaf");
    files.Write("leaf.pem", leaf.pem);
    files.Write("enc.key", EncryptedKeyPem(leaf.privateKeyPem, kPassword));
    files.Write("empty.pem", "no certificate here\n");
    files.Write("random.bin", std::string(5000, 'r'));
    qmsec_test::TraceCapture trace("sec.core.ssl=0xffffffff");

    QmXplConfig::ConfigNamespace_t ns(String_t("test.sslsocket"));
    EXPECT_EQ(Str(SslSocketConfig::SSL_ENCRYPTION_LEVEL), std::string("SSL_ENCRYPTION_LEVEL", 21));
    ns.SetValue(String_t("SSL_OWN_CERTIFICATE_FILENAME"), String_t(files.File("leaf.pem")));
    ns.SetValue(String_t("SSL_PRIVATE_KEY_FILENAME"), String_t(files.File("enc.key")));
    ns.SetValue(String_t("SSL_ENCRYPTION_LEVEL"), String_t("full"));
    ns.SetValue(String_t("SSL_CLIENT_VERIFICATION_MODE"), String_t("Anonymous"));
    SslSocketConfig c(QmXplConfig::ConfigNamespace_t::Open(String_t("test.sslsocket")));
    EXPECT_EQ(qmsec_test::Str(c.GetOwnCertificateFilename()), files.File("leaf.pem") + '\0');
    EXPECT_EQ(qmsec_test::Str(c.GetPrivateKeyFilename()), files.File("enc.key") + '\0');
    EXPECT_EQ(c.GetEncryptionLevel(), SslSocketConfig::eEncryptionFull);
    EXPECT_EQ(c.GetClientVerificationMode(), SslSocketConfig::eAnonymous);
    // Unknown keywords are traced and change nothing; copies share the body.
    ns.SetValue(String_t("SSL_ENCRYPTION_LEVEL"), String_t("STRONG"));
    ns.SetValue(String_t("SSL_CLIENT_VERIFICATION_MODE"), String_t(""));
    SslSocketConfig copy = c;
    copy.ReadConfig(QmXplConfig::ConfigNamespace_t::Open(String_t("test.sslsocket")));
    EXPECT_EQ(c.GetEncryptionLevel(), SslSocketConfig::eEncryptionFull);
    EXPECT_EQ(c.GetClientVerificationMode(), SslSocketConfig::eAnonymous);
    EXPECT_TRUE(trace.Contains("Read unknown Keyword for SSL_ENCRYPTION_LEVEL: STRONG"));

    // A plain configuration stores any mode; the default checks it (below).
    EXPECT_EQ(copy.SetClientVerificationMode(SslSocketConfig::ClientVerificationMode(3)), 0);
    EXPECT_EQ(c.GetClientVerificationMode(), 3);

    SslSocketDefaultConfig d = SslSocketConfig::GetDefaultConfig();
    EXPECT_TRUE(d == SslSocketConfig::GetDefaultConfig());
    using QmXplMsg::RuntimeException_t;
    const std::pair<int, std::function<void()>> failures[] = {
        {160, [&] { d.SetOwnCertificateFilename(Name(files.File("missing.pem"))); }},
        {0, [&] { d.SetPrivateKeyFilename(Name(files.File("enc.key"))); }},  // no password yet
        {159, [&] { d.SetCACertificateFilename(Name(files.File("empty.pem"))); }},
        {161, [&] { d.SetClientVerificationMode(SslSocketConfig::ClientVerificationMode(3)); }},
    };
    d.SetPrivateKeyPassword(Arr("wrong"));
    for (const auto& [number, call] : failures) {
        SCOPED_TRACE(number);
        EXPECT_EQ(ThrownNumber<QmXplMsg::Exception_t>(call), number);
    }
    EXPECT_THROW(d.SetPrivateKeyFilename(Name(files.File("enc.key"))), RuntimeException_t);

    // The default's keys: the password first, so that the encrypted key opens.
    ns.SetValue(String_t("SSL_PRIVATE_KEY_PASSWORD"), String_t(kPassword));
    ns.SetValue(String_t("SSL_ENCRYPTION_LEVEL"), String_t("FULL"));
    ns.SetValue(String_t("SSL_RANDOM_FILENAME"), String_t(files.File("random.bin")));
    ns.SetValue(String_t("SSL_CA_CERTIFICATE_FILENAME"), String_t(files.File("leaf.pem")));
    EXPECT_EQ(d.ReadConfig(QmXplConfig::ConfigNamespace_t::Open(String_t("test.sslsocket"))), 0);
    EXPECT_EQ(Str(d.GetPrivateKeyPassword()), kPassword);
    EXPECT_EQ(Str(d.GetLastRandomFilename()), files.File("random.bin") + '\0');
    EXPECT_EQ(d.FeedRandomFile(Name(files.File("random.bin")), 1024), 1024u);
    EXPECT_EQ(d.FeedRandomFile(Name(files.File("absent.bin")), 1024), 0u);
    EXPECT_EQ(Str(d.GetLastRandomFilename()), files.File("absent.bin") + '\0');
    EXPECT_FALSE(trace.Contains(kPassword));
    EXPECT_FALSE(trace.Contains("wrong"));
}

}  // namespace
}  // namespace ssl_test

namespace ssl_test {
namespace {

// The first requests of the default configuration, from many threads at once, all get one body.
TEST(SslSocketConfigThreadTest, DefaultConfigIsMadeOnceWhenManyThreadsAskFirst) {
    constexpr int kThreads = 16;
    std::vector<QmSecSsl::SslSocketDefaultConfig> got(kThreads);
    std::atomic<int> waiting{kThreads};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            for (--waiting; waiting > 0;) std::this_thread::yield();
            got[i] = QmSecSsl::SslSocketConfig::GetDefaultConfig();
        });
    for (auto& t : threads) t.join();
    for (const auto& c : got) EXPECT_TRUE(c == got[0]);
    EXPECT_FALSE(got[0].IsNull());
}

}  // namespace
}  // namespace ssl_test
