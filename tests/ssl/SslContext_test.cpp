// The shared context's configuration, trust from a file, credentials from PEM files, encryption
// levels, and transports that misbehave.
#include <openssl/pem.h>
#include <time.h>

#include <chrono>

#include "QmXpl/ServerSocket_t.h"
#include "QmXpl/Socket_t.h"
#include "ssl/SslTestSupport.h"
#include "support/TraceCapture.h"

namespace ssl_test {
namespace {

using qmsec_test::ThrownNumber;
using QmSecSsl::SecSslException;
using QmSecSsl::SecSslIOException;
using QmSecSsl::SslContext;

// Whether a connection with these options connects; the client's failure number otherwise.
int Handshake(const SslServerConnection::Options& server,
              const SslClientConnection::Options& client, std::string* cipher = nullptr) {
    int number = 0;
    RunPair(
        [&](Connection_t& t) {
            try {
                SslServerConnection s(t, server);
                Send(s, "x");
            } catch (const QmXplMsg::Exception_t&) {
                t.Close();
            }
        },
        [&](Connection_t& t) {
            try {
                SslClientConnection c(t, Arr("k"), client);
                EXPECT_EQ(ReceiveAll(c), "x");
                if (cipher) *cipher = SSL_get_cipher_name(SslOf(c));
            } catch (const QmXplMsg::Exception_t& e) {
                number = std::max(1, qmsec_test::MessageNumber(e));
            }
        });
    return number;
}

TEST(SslContextTest, ReadsItsConfigurationOnceWithWarningsForBadValues) {
    qmsec_test::TraceCapture trace("sec.core.ssl=0xffffffff");
    qmsec_test::TempDir dir;
    std::string random = dir.Write("random", std::string(5000, 'r'));
    SslNode node(TLS1_3_VERSION,
                 "[sec.core.ssl]\nSESSION_TIMEOUT=abc\nSESSION_CACHE_SIZE=12x\n"
                 "SESSION_CACHING=disabled\nCERTIFICATE_CACHING=maybe\nENCRYPTION_LEVEL=none\n"
                 "RANDOM_FILENAME=" +
                     random + "\n");
    EXPECT_TRUE(
        trace.Contains("SslConnectionImpl: Put 1024 bytes into Rand_seed from file " + random));
    SslServerConnection::Options options;
    EXPECT_EQ(options.GetImpl().GetEncryptionLevel(), 1);  // from the configuration
    options.SetEncryptionLevel(SslConnection::EncryptionLevel(0));
    EXPECT_EQ(options.GetImpl().GetEncryptionLevel(), 1);
    options.SetEncryptionLevel(SslConnection::eEncryptionFull);
    EXPECT_EQ(options.GetImpl().GetEncryptionLevel(), 3);  // no longer read
    SSL_CTX* ctx = SslContext::GetInstance().GetCtx();
    EXPECT_EQ(SSL_CTX_get_timeout(ctx), 7200);
    EXPECT_EQ(SSL_CTX_sess_get_cache_size(ctx), 12);
    EXPECT_EQ(SSL_CTX_get_session_cache_mode(ctx), SSL_SESS_CACHE_OFF);
    EXPECT_FALSE(SslContext::GetInstance().IsSessionCaching());
    EXPECT_TRUE(SslContext::GetInstance().IsCertificateCaching());
    EXPECT_TRUE(trace.Contains(
        "Read invalid value for << SESSION_TIMEOUT: abc. The default value (7200) will be used."));
    EXPECT_TRUE(trace.Contains(
        "Read unknown keyword for CERTIFICATE_CACHING: maybe. Defaulting to TRUE ..."));
    EXPECT_TRUE(trace.Contains("SSL context: Set SslSessionCaching to: disabled"));
    EXPECT_GE(SSL_CTX_get_min_proto_version(ctx), TLS1_2_VERSION);
}

TEST(SslContextTest, TrustFromAFileStaysWhenTheKeyStoreAnnouncesNewAnchors) {
    SslNode node(TLS1_3_VERSION);
    qmsec_test::TempDir dir;
    EXPECT_EQ(ThrownNumber<SecSslException>([&] {
                  SslConnection::SetTrustedCertificatesFilename(
                      Arr(dir.Write("empty.pem", "no certificate\n")));
              }),
              147);
    static const TestCertificate otherCa = CertificateBuilder().CommonName("Other CA").Ca().Build();
    SslConnection::SetTrustedCertificatesFilename(Arr(dir.Write("other.pem", otherCa.pem)));
    EXPECT_FALSE(SslContext::GetInstance().IsTrustedFromKeyStore());
    EXPECT_EQ(Handshake(ServerOptions(), ClientOptions()), 113);
    ChangeWaiter().Change("LAST_TRUSTED_CERT_UPDATE");  // names the key store's anchors: no effect
    EXPECT_EQ(Handshake(ServerOptions(), ClientOptions()), 113);
    SslConnection::SetTrustedCertificatesFilename(Arr(dir.Write("ca.pem", TestCa().pem)));
    EXPECT_EQ(Handshake(ServerOptions(), ClientOptions()), 0);
}

// The server's store has room for the three sessions (OpenSSL keeps one less than its size).
// Client sessions of the same process take none of it: were they stored beside, OpenSSL would
// evict some and mark them unusable, and the server would find the client's view of a session
// under their shared id.
TEST(SslContextTest, ClientSessionsTakeNoRoomInTheServersStore) {
    SslNode node(TLS1_2_VERSION, "[sec.core.ssl]\nSESSION_CACHE_SIZE=4\n");
    Connect("a");
    Connect("b");
    Connect("c");
    EXPECT_EQ(Connect("a"), std::make_pair(true, true));
    EXPECT_EQ(Connect("b"), std::make_pair(true, true));
}

TEST(SslContextTest, AnnouncedTrustChangesReachTheNextConnection) {
    SslNode node(TLS1_2_VERSION);
    ChangeWaiter waiter;
    QmSecCore::KeyStore().RemoveCertificate(String_t("ca"));
    EXPECT_EQ(Handshake(ServerOptions(), ClientOptions()), 0);  // nothing announced yet
    waiter.Change("LAST_TRUSTED_CERT_UPDATE");
    EXPECT_EQ(Handshake(ServerOptions(), ClientOptions()), 113);
    QmSecCore::KeyStore().InstallCertificate(
        String_t("ca"), QmSecCore::X509Certificate(Arr(TestCa().pem)), true, true);
    waiter.Change("LAST_TRUSTED_CERT_UPDATE");
    EXPECT_EQ(Handshake(ServerOptions(), ClientOptions()), 0);
}

TEST(SslContextTest, CredentialsFromPemFilesWithAnEncryptedKey) {
    SslNode node(TLS1_2_VERSION);
    qmsec_test::TempDir dir;
    TestCertificate server = Leaf("file-server");
    std::string certFile = dir.Write("server.pem", server.pem);
    {
        auto key = qmsec_test::cert_detail::ReadPrivateKey(server.privateKeyPem);
        BIO* out = BIO_new_file(dir.File("server.key").c_str(), "w");
        ASSERT_EQ(PEM_write_bio_PrivateKey(out, key.get(), EVP_aes_256_cbc(), nullptr, 0, nullptr,
                                           const_cast<char*>("secret")),
                  1);
        BIO_free(out);
    }
    auto files = [&](const std::string& cert, const char* password) {
        SslServerConnection::Options o;
        o.SetOwnCertificate(Arr(cert), Arr(dir.File("server.key")), Arr(password));
        return o;
    };
    EXPECT_EQ(Handshake(files(certFile, "secret"), ClientOptions()), 0);
    struct Case {
        std::string cert;
        const char* password;
        int number;
    } cases[] = {{certFile, "wrong", 111}, {dir.File("missing.pem"), "secret", 110}};
    for (const auto& c : cases) {
        auto [serverEnd, clientEnd] = qmsec_test::MakeDuplexPair();
        EXPECT_EQ(ThrownNumber<SecSslException>(
                      [&] { SslServerConnection s(serverEnd, files(c.cert, c.password)); }),
                  c.number);
    }
}

TEST(SslContextTest, EncryptionLevelsChooseTheirSuites) {
    qmsec_test::TraceCapture trace("sec.core.ssl=0xffffffff");
    SslNode node(TLS1_3_VERSION);
    auto level = [](SslConnection::EncryptionLevel l) {
        return std::make_pair(ServerOptions().SetEncryptionLevel(l),
                              ClientOptions().SetEncryptionLevel(l));
    };
    std::string cipher;
    auto [noneServer, noneClient] = level(SslConnection::eEncryptionNone);
    EXPECT_EQ(Handshake(noneServer, noneClient, &cipher), 0);
    EXPECT_NE(cipher.find("NULL"), std::string::npos) << cipher;
    auto [exportServer, exportClient] = level(SslConnection::eEncryptionExport);
    EXPECT_EQ(Handshake(exportServer, exportClient, &cipher), 0);
    EXPECT_TRUE(trace.Contains(
        "Warning: encryption level EXPORT has no cipher suites any more; using the FULL list"));
    auto [bestServer, bestClient] = level(SslConnection::eEncryptionBest);
    EXPECT_EQ(Handshake(bestServer, bestClient, &cipher), 0);
    // Only one end choosing NONE finds no common suite.
    EXPECT_NE(Handshake(noneServer, ClientOptions(), &cipher), 0);
}

// A transport whose reads answer "no bytes" for a while before the data comes.
class StutteringInput : public QmXplIo::InputStreamImpl_t {
  public:
    StutteringInput(QmXplIo::InputStream_t in, int zeros) : in_(std::move(in)), zeros_(zeros) {}
    int Read(char* buffer, int length) override {
        return zeros_-- > 0 ? 0 : in_.Read(buffer, length);
    }

  private:
    QmXplIo::InputStream_t in_;
    int zeros_;
};
class StutteringConnection : public QmXplIo::ConnectionImpl_t {
  public:
    StutteringConnection(Connection_t inner, int zeros) : inner_(std::move(inner)), zeros_(zeros) {}
    QmXplIo::InputStream_t GetInputStream() override {
        return QmXplIo::InputStream_t(new StutteringInput(inner_.GetInputStream(), zeros_));
    }
    QmXplIo::OutputStream_t GetOutputStream() override { return inner_.GetOutputStream(); }
    void Close() override { inner_.Close(); }

  private:
    Connection_t inner_;
    int zeros_;
};

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

TEST(SslContextTest, ATransportThatKeepsReadingNothingDoesNotSpin) {
    SslNode node(TLS1_3_VERSION);
    double cpu = CpuSeconds();
    auto wall = std::chrono::steady_clock::now();
    RunPair(
        [&](Connection_t& t) {
            Connection_t stuttering(new StutteringConnection(t, 40));
            SslServerConnection s(stuttering, ServerOptions());
            Send(s, "x");
        },
        [&](Connection_t& t) {
            SslClientConnection c(t, Arr("k"), ClientOptions());
            EXPECT_EQ(ReceiveAll(c), "x");
        });
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    EXPECT_GT(waited, 0.3);                     // the empty reads were waited out...
    EXPECT_LT(CpuSeconds() - cpu, waited / 2);  // ...without burning a core
}

TEST(SslContextTest, SilentPeerOnASocketFailsWithinItsTimeout) {
    SslNode node(TLS1_3_VERSION);
    QmXplNet::ServerSocket_t listener(0, String_t("127.0.0.1"));
    QmXplNet::Socket_t silent(String_t("127.0.0.1"), listener.GetLocalPort());
    QmXplNet::Socket_t accepted = listener.Accept();
    accepted.SetSoTimeout(300);
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(SslServerConnection s(accepted, ServerOptions()), QmXplIo::IOException_t);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace ssl_test
