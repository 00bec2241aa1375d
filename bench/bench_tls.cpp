// TLS over loopback TCP: our client and server connections beside OpenSSL's own SSL_read and
// SSL_write on a socket (SSL_set_fd), with the same certificates, verification and suite, side by
// side in one run, for TLS 1.2 and 1.3. Bulk transfer of 256 MiB, full handshakes, resumed ones.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "OpenSsl.h"
#include "QmSecCore/CryptImpl.h"
#include "QmSecCore/KeyStore.h"
#include "QmSecSsl/QmSecSsl.h"
#include "QmXpl/ServerSocket_t.h"
#include "QmXpl/Socket_t.h"
#include "SslConnectionImpl.h"
#include "SslContext.h"
#include "bench/support/RatioMain.h"
#include "support/Certificates.h"
#include "support/TempDir.h"

namespace {

namespace ossl = QmSecCore::ossl;
using qmsec_test::CertificateBuilder;
using qmsec_test::TestCertificate;
using QmXplArray::CharArray_t;
using QmXplStr::String_t;

constexpr long long kBulkBytes = 256LL << 20;
constexpr int kChunk = 64 * 1024;

struct Pki {
    TestCertificate ca = CertificateBuilder().CommonName("Bench CA").Ca().Build();
    TestCertificate server = CertificateBuilder().CommonName("server").IssuedBy(ca).Build();
    TestCertificate client = CertificateBuilder().CommonName("client").IssuedBy(ca).Build();
};

void NodeKey(QmSecCore::Key& key) {
    key = QmSecCore::Key(QmSecCore::Key::eSecretKey, "bench-node-secret!!!", 20);
}

// One node for the whole run: its key store holds the CA (trusted) and both identities.
const Pki& Node() {
    static qmsec_test::TempDir home;
    static const Pki pki = [] {
        setenv("QMXPL_HOME", home.Path().c_str(), 1);
        QmSecCore::CryptImpl::RegisterFunctionPointer(NodeKey);
        Pki p;
        QmSecCore::KeyStore store;
        auto arr = [](const std::string& s) { return CharArray_t(s); };
        store.InstallCertificate(String_t("ca"), QmSecCore::X509Certificate(arr(p.ca.pem)), true,
                                 true);
        for (auto [alias, c] : {std::pair{"server", &p.server}, std::pair{"client", &p.client}})
            store.InstallCertificate(
                String_t(alias), QmSecCore::X509Certificate(arr(c->pem)),
                QmSecCore::Key(QmSecCore::Key::eRSAPrivateKey, arr(c->privateKeyPem)), true, false);
        return p;
    }();
    return pki;
}

void PinVersion(int version) {
    Node();
    QmSecSsl::SslContext& context = QmSecSsl::SslContext::GetInstance();
    for (SSL_CTX* ctx : {context.GetCtx(), context.GetClientCtx()}) {
        SSL_CTX_set_min_proto_version(ctx, version);
        SSL_CTX_set_max_proto_version(ctx, version);
    }
}

// --- raw OpenSSL on file descriptors ---------------------------------------------------------

int Listen(int& port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd, 64);
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    port = ntohs(a.sin_port);
    return fd;
}

// Small answers go out at once on every socket of the run (no Nagle delay on either side).
void NoDelay(int fd) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int Connect(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    NoDelay(fd);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}

ossl::SslCtx RawContext(int version, const TestCertificate& own) {
    const Pki& pki = Node();
    ossl::SslCtx ctx(SSL_CTX_new(TLS_method()));
    SSL_CTX_set_min_proto_version(ctx.get(), version);
    SSL_CTX_set_max_proto_version(ctx.get(), version);
    SSL_CTX_set_cipher_list(
        ctx.get(), "HIGH:MEDIUM:!DH:!ADH:!SSLv2:+SHA:+MD5:+RSA:+DSS:+RC4:+IDEA:+3DES:+RC2:+DES");
    auto cert = qmsec_test::cert_detail::ReadCertificate(own.pem);
    auto key = qmsec_test::cert_detail::ReadPrivateKey(own.privateKeyPem);
    SSL_CTX_use_certificate(ctx.get(), cert.get());
    SSL_CTX_use_PrivateKey(ctx.get(), key.get());
    auto ca = qmsec_test::cert_detail::ReadCertificate(pki.ca.pem);
    X509_STORE_add_cert(SSL_CTX_get_cert_store(ctx.get()), ca.get());
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    // Sessions as the library keeps them: in the server's store, one ticket per handshake.
    SSL_CTX_set_options(ctx.get(), SSL_OP_NO_TICKET);
    SSL_CTX_set_num_tickets(ctx.get(), 1);
    return ctx;
}

// A server that accepts until stopped, handling each connection with serve on its thread.
class Server {
  public:
    explicit Server(std::function<void(int)> serve) : serve_(std::move(serve)) {
        listener_ = Listen(port_);
        thread_ = std::thread([this] {
            for (;;) {
                int fd = accept(listener_, nullptr, nullptr);
                if (fd >= 0) NoDelay(fd);
                if (stop_ || fd < 0) {
                    if (fd >= 0) close(fd);
                    return;
                }
                serve_(fd);
            }
        });
    }
    ~Server() {
        stop_ = true;
        close(Connect(port_));
        thread_.join();
        close(listener_);
    }
    int Port() const { return port_; }

  private:
    std::function<void(int)> serve_;
    int listener_ = -1, port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void RawServe(SSL_CTX* ctx, int fd) {
    ossl::Ssl ssl(SSL_new(ctx));
    SSL_set_fd(ssl.get(), fd);
    if (SSL_accept(ssl.get()) != 1) {
        ERR_print_errors_fp(stderr);
    } else {
        SSL_write(ssl.get(), "k", 1);  // a first answer: TLS 1.3 tickets travel before it
        static thread_local std::vector<char> buffer(kChunk);
        while (SSL_read(ssl.get(), buffer.data(), kChunk) > 0) {
        }
        SSL_shutdown(ssl.get());
    }
    close(fd);
}

// One raw client connection: handshake, bytes written, close_notify.
void RawClient(SSL_CTX* ctx, int port, long long bytes, ossl::SslSession* session) {
    int fd = Connect(port);
    ossl::Ssl ssl(SSL_new(ctx));
    SSL_set_fd(ssl.get(), fd);
    if (session && *session) SSL_set_session(ssl.get(), session->get());
    if (SSL_connect(ssl.get()) != 1) {
        ERR_print_errors_fp(stderr);
        abort();
    }
    char answer;
    if (bytes == 0 && SSL_read(ssl.get(), &answer, 1) != 1) abort();
    static std::vector<char> chunk(kChunk, 'x');
    for (long long sent = 0; sent < bytes; sent += kChunk)
        SSL_write(ssl.get(), chunk.data(), kChunk);
    SSL_shutdown(ssl.get());
    if (session) {
        session->reset(SSL_get1_session(ssl.get()));
    }
    close(fd);
}

// --- the library ----------------------------------------------------------------------------

class LibraryServer {
  public:
    LibraryServer() : listener_(0, String_t("127.0.0.1")) {
        thread_ = std::thread([this] {
            QmSecSsl::SslServerConnection::Options options;
            options.SetOwnCertificate(String_t("server"));
            std::vector<char> buffer(kChunk);
            for (;;) {
                QmXplNet::Socket_t socket = listener_.Accept();
                socket.SetTcpNoDelay(true);
                if (stop_) return;
                try {
                    QmSecSsl::SslServerConnection connection(socket, options);
                    connection.GetOutputStream().Write("k", 1);
                    QmXplIo::InputStream_t in = connection.GetInputStream();
                    while (in.Read(buffer.data(), kChunk) >= 0) {
                    }
                    connection.Close();
                } catch (const std::exception&) {
                }
            }
        });
    }
    ~LibraryServer() {
        stop_ = true;
        QmXplNet::Socket_t(String_t("127.0.0.1"), Port()).Close();
        thread_.join();
    }
    int Port() const { return listener_.GetLocalPort(); }

  private:
    QmXplNet::ServerSocket_t listener_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void LibraryClient(int port, const char* sessionKey, long long bytes) {
    QmXplNet::Socket_t socket(String_t("127.0.0.1"), port);
    socket.SetTcpNoDelay(true);
    QmSecSsl::SslClientConnection::Options options;
    // A node presents one identity in both roles, so the certificate cache holds it.
    options.SetOwnCertificate(String_t("server"));
    QmSecSsl::SslClientConnection connection(socket, CharArray_t(std::string_view(sessionKey)),
                                             options);
    static std::vector<char> chunk(kChunk, 'x');
    char answer;
    if (bytes == 0 && connection.GetInputStream().Read(&answer, 1) != 1) abort();
    QmXplIo::OutputStream_t out = connection.GetOutputStream();
    for (long long sent = 0; sent < bytes; sent += kChunk) out.Write(chunk.data(), kChunk);
    connection.Close();
}

// --- benchmarks -------------------------------------------------------------------------------

void Bulk_Baseline(benchmark::State& state) {
    signal(SIGPIPE, SIG_IGN);  // the library's sockets never raise it; raw ones must not either
    int version = static_cast<int>(state.range(0));
    auto serverCtx = RawContext(version, Node().server),
         clientCtx = RawContext(version, Node().server);
    Server server([&](int fd) { RawServe(serverCtx.get(), fd); });
    for (auto _ : state) RawClient(clientCtx.get(), server.Port(), kBulkBytes, nullptr);
    state.SetBytesProcessed(state.iterations() * kBulkBytes);
}

void Bulk_Library(benchmark::State& state) {
    PinVersion(static_cast<int>(state.range(0)));
    LibraryServer server;
    int n = 0;
    for (auto _ : state) LibraryClient(server.Port(), std::to_string(++n).c_str(), kBulkBytes);
    state.SetBytesProcessed(state.iterations() * kBulkBytes);
}

void FullHandshake_Baseline(benchmark::State& state) {
    int version = static_cast<int>(state.range(0));
    auto serverCtx = RawContext(version, Node().server),
         clientCtx = RawContext(version, Node().server);
    SSL_CTX_set_session_cache_mode(serverCtx.get(), SSL_SESS_CACHE_OFF);
    Server server([&](int fd) { RawServe(serverCtx.get(), fd); });
    for (auto _ : state) RawClient(clientCtx.get(), server.Port(), 0, nullptr);
}

void FullHandshake_Library(benchmark::State& state) {
    PinVersion(static_cast<int>(state.range(0)));
    LibraryServer server;
    // A new session key each time, across the runs that Google Benchmark makes of this function
    // too: nothing to resume.
    static int n = 0;
    for (auto _ : state) LibraryClient(server.Port(), ("full " + std::to_string(++n)).c_str(), 0);
}

void ResumedHandshake_Library(benchmark::State& state) {
    PinVersion(static_cast<int>(state.range(0)));
    LibraryServer server;
    LibraryClient(server.Port(), "resumed", 0);
    for (auto _ : state) LibraryClient(server.Port(), "resumed", 0);
}

void ResumedHandshake_Baseline(benchmark::State& state) {
    int version = static_cast<int>(state.range(0));
    auto serverCtx = RawContext(version, Node().server),
         clientCtx = RawContext(version, Node().server);
    static const unsigned char kContext = 0x31;
    SSL_CTX_set_session_id_context(serverCtx.get(), &kContext, 1);
    Server server([&](int fd) { RawServe(serverCtx.get(), fd); });
    ossl::SslSession session;
    RawClient(clientCtx.get(), server.Port(), 0, &session);
    for (auto _ : state) RawClient(clientCtx.get(), server.Port(), 0, &session);
}

// Wall time (both ends work), the least disturbed of five repetitions: on a shared machine the
// others measure the neighbours.
#define QMSEC_TLS_BENCH(fn, name, iterations)  \
    BENCHMARK(fn)                              \
        ->Name(name)                           \
        ->Arg(TLS1_2_VERSION)                  \
        ->Arg(TLS1_3_VERSION)                  \
        ->UseRealTime()                        \
        ->Repetitions(5)                       \
        ->Apply(qmsec_bench::MinOfRepetitions) \
        ->ReportAggregatesOnly(true)           \
        ->Unit(benchmark::kMillisecond) iterations

QMSEC_TLS_BENCH(Bulk_Baseline, "Bulk256MiB/Baseline", ->Iterations(4));
QMSEC_TLS_BENCH(Bulk_Library, "Bulk256MiB/Library", ->Iterations(4));
QMSEC_TLS_BENCH(FullHandshake_Baseline, "FullHandshake/Baseline", );
QMSEC_TLS_BENCH(FullHandshake_Library, "FullHandshake/Library", );
QMSEC_TLS_BENCH(ResumedHandshake_Baseline, "ResumedHandshake/Baseline", );
QMSEC_TLS_BENCH(ResumedHandshake_Library, "ResumedHandshake/Library", );
// What resumption saves: full handshakes take this many times as long as resumed ones.
const bool kSpeedups = [] {
    for (const char* role : {"Library", "Baseline"})
        for (auto [version, label] : {std::pair{"771", "TLS 1.2"}, std::pair{"772", "TLS 1.3"}})
            qmsec_bench::Compare(std::string("full/resumed (") + role + ", " + label + ")",
                                 std::string("FullHandshake/") + role + "/" + version,
                                 std::string("ResumedHandshake/") + role + "/" + version);
    return true;
}();

}  // namespace

QMSEC_BENCHMARK_MAIN()
