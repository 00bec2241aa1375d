// TLS connections between two ends of this library, over in-memory transports of every shape, with
// TLS 1.2 and TLS 1.3.
#include <atomic>
#include <condition_variable>
#include <future>
#include <random>

#include "QmXpl/ChangedConfiguration_t.h"
#include "QmXpl/CharArrayInputStream_t.h"
#include "QmXpl/ConfigChangeHandler_i.h"
#include "QmXpl/IOException_t.h"
#include "SslCertificateCache.h"
#include "SslSessionCache.h"
#include "ssl/SslTestSupport.h"
#include "support/TraceCapture.h"

namespace ssl_test {
namespace {

using qmsec_test::PipeShape;
using qmsec_test::RandomBytes;
using qmsec_test::ThrownNumber;
using QmSecSsl::SecSslException;
using QmSecSsl::SecSslIOException;

class SslConnectionTest : public testing::TestWithParam<Version> {
  protected:
    SslNode node{GetParam().version};
};
INSTANTIATE_TEST_SUITE_P(Versions, SslConnectionTest, testing::ValuesIn(kVersions), VersionName);

TEST_P(SslConnectionTest, CarriesRandomDataBothWaysOverEveryTransportShape) {
    struct Case {
        PipeShape shape;
        size_t size;
        bool socket = false;
    } cases[] = {{{}, 0},
                 {{}, 1},
                 {{}, 16385},
                 {{}, 1 << 20},
                 {{1, false}, 3000},
                 {{INT_MAX, true}, 1 << 20},
                 {{}, 1 << 20, true}};
    std::mt19937 rng(7);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "size " << c.size << " maxRead " << c.shape.maxRead << " random "
                     << c.shape.randomShort << " socket " << c.socket);
        std::string up = RandomBytes(rng, c.size), down = RandomBytes(rng, c.size / 2 + 3);
        std::string atServer, atClient, serverPeer, clientPeer, serverOwn, serverSuite, clientSuite;
        RunPair(
            [&](Connection_t& t) {
                SslServerConnection s(t, ServerOptions());
                atServer = ReceiveAll(s);
                Send(s, down);
                serverPeer = s.GetPeerId().ToUtf8();
                serverOwn = s.GetOwnId().ToUtf8();
                serverSuite = s.GetCipherSuite().ToUtf8();
                s.Close();
            },
            [&](Connection_t& t) {
                SslClientConnection cl(t, Arr("data"), ClientOptions());
                Send(cl, up);
                atClient = ReceiveAll(cl);
                clientPeer = cl.GetPeerId().ToUtf8();
                EXPECT_EQ(cl.GetProtocol().ToUtf8(),
                          GetParam().version == TLS1_3_VERSION ? "TLSv1.3" : "TLSv1.2");
                clientSuite = cl.GetCipherSuite().ToUtf8();
                cl.Close();
            },
            c.socket ? SocketPair() : qmsec_test::MakeDuplexPair(c.shape));
        EXPECT_TRUE(atServer == up);
        EXPECT_TRUE(atClient == down);
        EXPECT_EQ(serverPeer, "client");
        EXPECT_EQ(serverOwn, "server");
        EXPECT_EQ(clientPeer, "server");
        EXPECT_EQ(clientSuite.rfind("TLS_", 0), 0u) << clientSuite;
        EXPECT_EQ(serverSuite, clientSuite);
    }
}

TEST_P(SslConnectionTest, ResumesBySessionKeyAndStartsAfreshWhenCertificatesChange) {
    using R = std::pair<bool, bool>;
    ChangeWaiter waiter;
    EXPECT_EQ(Connect("host:1", true), R(false, false));
    EXPECT_EQ(Connect("host:1\0ignored"), R(true, true));  // keys end at the first zero byte
    EXPECT_EQ(Connect("host:2"), R(false, false));
    EXPECT_EQ(Connect("host:1"), R(true, true));
    waiter.Change("CERT_INSTALLED");
    EXPECT_EQ(Connect("host:1"), R(false, false));
    EXPECT_EQ(Connect("host:1"), R(true, true));
    waiter.Change("LAST_TRUSTED_CERT_UPDATE");
    EXPECT_EQ(Connect("host:1"), R(false, false));
}

TEST_P(SslConnectionTest, ReadsTheKeyStoreOncePerAliasUntilANewCertificateIsAnnounced) {
    qmsec_test::TraceCapture trace("sec.core.ssl=0xffffffff");
    ChangeWaiter waiter;
    auto reads = [&] {
        return trace
            .Matching("Getting certificate and private key from KeyStore using alias 'server'")
            .size();
    };
    // Both ends present the one identity: the cache keeps a single entry.
    Connect("a", false, "server");
    Connect("b", false, "server");
    EXPECT_EQ(reads(), 1u);
    waiter.Change("CERT_INSTALLED");
    Connect("c", false, "server");
    EXPECT_EQ(reads(), 2u);
}

TEST_P(SslConnectionTest, RenegotiateObtainsTheClientCertificateWhileDataFlows) {
    std::string serverPeerBefore, serverPeerAfter;
    RunPair(
        [&](Connection_t& t) {
            SslServerConnection s(
                t, ServerOptions().SetClientVerificationMode(SslConnection::eAnonymous));
            serverPeerBefore = s.GetPeerId().ToUtf8();
            s.Renegotiate();
            QmXplIo::InputStream_t in = s.GetInputStream();
            char buffer[5];
            ASSERT_EQ(in.Read(buffer, 5), 5);
            s.GetOutputStream().Write("world", 5);
            EXPECT_EQ(ReceiveAll(s), "done");
            serverPeerAfter = s.GetPeerId().ToUtf8();
            s.Close();
        },
        [&](Connection_t& t) {
            SslClientConnection c(t, Arr("reneg"), ClientOptions());
            c.GetOutputStream().Write("hello", 5);
            char buffer[5];
            ASSERT_EQ(c.GetInputStream().Read(buffer, 5), 5);
            EXPECT_EQ(std::string(buffer, 5), "world");
            Send(c, "done");
            // The server still writes after the new handshake (a TLS 1.3 ticket): the transport
            // stays open until it has closed too.
            EXPECT_EQ(ReceiveAll(c), "");
            c.Close();
        });
    EXPECT_EQ(serverPeerBefore, "");
    EXPECT_EQ(serverPeerAfter, "client");
}

TEST_P(SslConnectionTest, AnonymousClientWithoutCertificateConnectsToAnAnonymousServer) {
    RunPair(
        [&](Connection_t& t) {
            SslServerConnection s(
                t, ServerOptions().SetClientVerificationMode(SslConnection::eAnonymous));
            EXPECT_EQ(s.GetPeerId().ToUtf8(), "");
            Send(s, "hi");
        },
        [&](Connection_t& t) {
            SslClientConnection c(t, Arr("anon"), ClientOptions("no-such-alias"));
            EXPECT_EQ(c.GetOwnId().ToUtf8(), "");
            EXPECT_EQ(ReceiveAll(c), "hi");
        });
}

// A failed handshake: the class and catalog number each end throws (-1: that end need not fail).
struct Failure {
    const char* name;
    const char* serverAlias;
    const char* clientAlias;
    int serverNumber;
    int clientNumber;
    const char* clientText;  // a piece of the client's message
};

TEST_P(SslConnectionTest, HandshakeFailuresNameTheirCause) {
    InstallIdentity("expired", Leaf("expired", &TestCa(), -7200, -3600));
    InstallIdentity("future", Leaf("future", &TestCa(), 3600, 7200));
    InstallIdentity("selfsigned", Leaf("selfsigned", nullptr));
    static const TestCertificate otherCa = CertificateBuilder().CommonName("Other CA").Ca().Build();
    InstallIdentity("foreign", Leaf("foreign", &otherCa));
    const Failure failures[] = {
        {"server without certificate", "missing", "client", 106, -1, ""},
        {"expired", "expired", "client", -1, 113, "The presented peer certificate has expired."},
        {"not yet valid", "future", "client", -1, 113,
         "The presented peer certificate is not yet valid."},
        {"self-signed", "selfsigned", "client", -1, 113,
         "The presented peer certificate is not trusted."},
        {"unknown issuer", "foreign", "client", -1, 113,
         "The presented peer certificate is not trusted. The issuer certificate could not be "
         "found."},
        {"client without certificate", "server", "missing", 114, -1, ""},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.name);
        int serverNumber = 0, clientNumber = 0;
        bool clientFailed = false;
        std::string clientText;
        RunPair(
            [&](Connection_t& t) {
                try {
                    SslServerConnection s(t, ServerOptions(f.serverAlias));
                } catch (const QmXplMsg::Exception_t& e) {
                    serverNumber = qmsec_test::MessageNumber(e);
                    if (serverNumber == 106) {
                        EXPECT_NE(dynamic_cast<const SecSslException*>(&e), nullptr);
                    }
                    t.Close();
                }
            },
            [&](Connection_t& t) {
                try {
                    SslClientConnection c(t, Arr(f.name), ClientOptions(f.clientAlias));
                    ReceiveAll(c);
                } catch (const QmXplMsg::Exception_t& e) {
                    clientFailed = true;
                    clientNumber = qmsec_test::MessageNumber(e);
                    clientText = e.what();
                    EXPECT_NE(dynamic_cast<const QmXplIo::IOException_t*>(&e), nullptr);
                }
            });
        if (f.serverNumber > 0) {
            EXPECT_EQ(serverNumber, f.serverNumber);
        }
        if (f.clientNumber > 0) {
            EXPECT_EQ(clientNumber, f.clientNumber);
            EXPECT_NE(clientText.find(f.clientText), std::string::npos) << clientText;
        }
        EXPECT_TRUE(clientFailed) << "the client connected";
    }
}

// A server fed hostile bytes: each ends in the exception named, never a connection.
TEST_P(SslConnectionTest, ServerRefusesGarbageAndCutHandshakes) {
    struct Case {
        const char* name;
        std::function<std::string()> bytes;
        int number;
    } cases[] = {
        {"plain text", [] { return std::string("GET / HTTP/1.0\r\n\r\n"); }, 114},
        // Record headers refused as they stand, the peer still connected: nothing waits for
        // the body they announce.
        {"oversized record", [] { return std::string("\x16\x03\x01\xff\xff", 5); }, 114},
        {"not version 3", [] { return std::string("\x16\x02\x00\x00\x40", 5); }, 114},
        {"cut hello",
         [] { return std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11); }, 116},
        {"nothing", [] { return std::string(); }, 116},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto [serverEnd, clientEnd] = qmsec_test::MakeDuplexPair();
        std::string bytes = c.bytes();
        if (!bytes.empty())
            clientEnd.GetOutputStream().Write(bytes.data(), static_cast<int>(bytes.size()));
        if (c.number == 116) clientEnd.GetOutputStream().Close();
        EXPECT_EQ(ThrownNumber<SecSslIOException>(
                      [&] { SslServerConnection s(serverEnd, ServerOptions()); }),
                  c.number);
    }
}

TEST_P(SslConnectionTest, StreamsRefuseMisuseAndNeverMistakeACutForAnEnd) {
    RunPair(
        [&](Connection_t& t) {
            SslServerConnection s(t, ServerOptions());
            QmXplIo::OutputStream_t out = s.GetOutputStream();
            out.Write("x", 1);
            out.Close();
            out.Close();  // a second close does nothing
            EXPECT_EQ(ThrownNumber<SecSslIOException>([&] { out.Write("y", 1); }), 140);
            EXPECT_EQ(ThrownNumber<SecSslIOException>([&] { out.Flush(); }), 140);
            QmXplIo::InputStream_t in = s.GetInputStream();
            in.Close();
            char b;
            EXPECT_EQ(ThrownNumber<SecSslIOException>([&] { in.Read(&b, 1); }), 143);
            // The client now drops the transport without close_notify: an error, not an end.
            QmXplIo::InputStream_t in2 = s.GetInputStream();
            EXPECT_THROW(in2.Read(&b, 1), QmXplIo::IOException_t);
        },
        [&](Connection_t& t) {
            SslClientConnection c(t, Arr("misuse"), ClientOptions());
            QmXplIo::InputStream_t in = c.GetInputStream();
            char b[2];
            EXPECT_EQ(in.Read(b, 2), 1);
            EXPECT_EQ(in.Read(b, 2), -1);  // close_notify
            t.Close();
        });
}

// Close sends close_notify and returns: it never waits for the peer to read it or to answer,
// whether or not the client wrote after reading.
TEST_P(SslConnectionTest, CloseNeverWaitsForThePeer) {
    for (bool writes : {false, true}) {
        SCOPED_TRACE(writes ? "client wrote" : "client wrote nothing");
        std::promise<void> closed;
        bool closedInTime = false;
        std::string atServer;
        RunPair(
            [&](Connection_t& t) {
                SslServerConnection s(t, ServerOptions());
                s.GetOutputStream().Write("hi", 2);  // and the output stays open
                closedInTime = closed.get_future().wait_for(std::chrono::seconds(5)) ==
                               std::future_status::ready;
                atServer = ReceiveAll(s);
                s.Close();
            },
            [&](Connection_t& t) {
                SslClientConnection c(t, Arr("close"), ClientOptions());
                char hi[2];
                ASSERT_EQ(c.GetInputStream().Read(hi, 2), 2);  // TLS 1.3 tickets came first
                if (writes) Send(c, "bye");
                c.Close();
                closed.set_value();
            },
            SocketPair());
        EXPECT_TRUE(closedInTime);
        EXPECT_EQ(atServer, writes ? "bye" : "");
    }
}

TEST(SslOptionsTest, SettersCheckTheirArgumentsAndCopiesAreIndependent) {
    using QmXplMsg::IllegalArgumentError_t;
    SslServerConnection::Options o;
    EXPECT_EQ(ThrownNumber<IllegalArgumentError_t>(
                  [&] { o.SetEncryptionLevel(SslConnection::EncryptionLevel(5)); }),
              103);
    EXPECT_EQ(ThrownNumber<IllegalArgumentError_t>(
                  [&] { o.SetEncryptionLevel(SslConnection::EncryptionLevel(-1)); }),
              103);
    EXPECT_EQ(ThrownNumber<IllegalArgumentError_t>(
                  [&] { o.SetClientVerificationMode(SslConnection::ClientVerificationMode(3)); }),
              104);
    EXPECT_EQ(ThrownNumber<IllegalArgumentError_t>(
                  [&] { o.SetOwnCertificate(Arr("c.pem"), CharArray_t(), Arr("pw")); }),
              102);
    EXPECT_TRUE(o.GetImpl().UsesKeyStore());
    o.SetEncryptionLevel(SslConnection::eEncryptionBest);
    SslServerConnection::Options copy = o;
    copy.SetEncryptionLevel(SslConnection::eEncryptionNone).SetOwnCertificate(String_t("other"));
    EXPECT_EQ(o.GetImpl().GetEncryptionLevel(), 4);
    EXPECT_EQ(copy.GetImpl().GetEncryptionLevel(), 1);
    EXPECT_EQ(o.GetImpl().GetAlias().ToUtf8(), "");
}

TEST(SslIsSslTest, RecognisesClientHellosByTheirFirstBytes) {
    struct Case {
        std::string bytes;
        bool ssl;
    } cases[] = {
        {std::string("\x16\x03\x01\x00\x2f\x01\x00\x00\x2b\x03\x01", 11), true},
        {std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11), true},
        {std::string("\x80\x2e\x01\x03\x01", 5), true},
        {"GET / HTTP/1.0\r\n", false},
        {std::string("\x16\x03", 2), false},
        {"", false},
    };
    for (const auto& c : cases) {
        QmXplIo::BufferedInputStream_t in(QmXplIo::CharArrayInputStream_t(Arr(c.bytes)));
        EXPECT_EQ(SslConnection::IsSsl(in), c.ssl) << c.bytes;
        std::string back(c.bytes.size(), '\0');
        if (!c.bytes.empty()) {
            EXPECT_EQ(in.Read(back.data(), static_cast<int>(back.size())),
                      static_cast<int>(back.size()));
        }
        EXPECT_EQ(back, c.bytes) << "the peeked bytes stay in the stream";
    }
}

TEST(SslSessionCacheTest, HandsEachSessionOutOnceAndForgetsOnClear) {
    auto& cache = QmSecSsl::SslSessionCache::GetInstance();
    auto session = [] { return QmSecCore::ossl::SslSession(SSL_SESSION_new()); };
    EXPECT_EQ(cache.GetSession(Arr("never")), nullptr);
    QmSecCore::ossl::SslSession first = session();
    SSL_SESSION* second = nullptr;
    cache.SetSession(Arr("a"), std::move(first));
    {
        auto s = session();
        second = s.get();
        cache.SetSession(Arr("a"), std::move(s));
    }
    EXPECT_EQ(cache.GetSession(Arr(std::string("a\0more", 6))).get(), second);
    EXPECT_EQ(cache.GetSession(Arr("a")), nullptr);
    cache.SetSession(Arr("b"), session());
    cache.Clear();
    EXPECT_EQ(cache.GetSession(Arr("b")), nullptr);
}

// Client threads, each with its own session key, against a server thread per connection, while
// the trust is reloaded midway: every byte arrives, and sessions resume around the reload.
TEST(SslConnectionThreadTest, ClientsOnManyThreadsResumeWhileTrustIsReloaded) {
    SslNode node(TLS1_3_VERSION);
    ChangeWaiter waiter;
    constexpr int kThreads = 8, kConnections = 100;
    std::atomic<int> delivered{0}, resumed{0}, done{0};
    auto worker = [&](int id) {
        std::string key = "thread " + std::to_string(id);
        for (int i = 0; i < kConnections; ++i, ++done) {
            std::string data = key + " message " + std::to_string(i), echoed;
            bool reused = false;
            RunPair(
                [&](Connection_t& t) {
                    SslServerConnection s(t, ServerOptions());
                    Send(s, ReceiveAll(s));
                },
                [&](Connection_t& t) {
                    SslClientConnection c(t, Arr(key), ClientOptions());
                    reused = SSL_session_reused(SslOf(c));
                    Send(c, data);
                    echoed = ReceiveAll(c);
                });
            delivered += echoed == data;
            resumed += reused;
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) threads.emplace_back(worker, i);
    while (done < kThreads * kConnections / 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    waiter.Change("LAST_TRUSTED_CERT_UPDATE");
    for (auto& t : threads) t.join();
    EXPECT_EQ(delivered, kThreads * kConnections);
    EXPECT_GT(resumed, kThreads * kConnections / 2);
}

}  // namespace
}  // namespace ssl_test
