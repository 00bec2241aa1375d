// Load on `qmsec tls serve`: its thread pool under many concurrent clients for a while, on the
// loopback interface only. Every client connects, sends a request, checks the echo and closes;
// every other connection resumes the client's session, the rest run full handshakes. Reports
// full and resumed handshakes per second, and the server's resident memory and open descriptors
// after a warm-up and after the run; fails when a request went unanswered or descriptors leaked.
//
//   bench_tls_load [SECONDS [CLIENTS]]     (default 60 seconds, 64 clients)

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "QmSecSsl/QmSecSsl.h"
#include "QmXpl/Socket_t.h"
#include "support/Certificates.h"
#include "support/Command.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

using QmSecSsl::SslClientConnection;
using QmXplArray::CharArray_t;

CharArray_t Bytes(const std::string& text) {
    return CharArray_t(text.data(), static_cast<int>(text.size()));
}

void Must(const std::string& command) {
    auto r = qmsec_test::RunCommand(command + " 2>&1");
    if (r.status != 0) {
        std::fprintf(stderr, "failed: %s\n%s", command.c_str(), r.output.c_str());
        std::exit(2);
    }
}

struct Counters {
    std::atomic<long> full{0}, resumed{0}, failed{0};
};

// One client's loop until the deadline.
void Client(int id, int port, const SslClientConnection::Options& options,
            std::chrono::steady_clock::time_point deadline, Counters& counters,
            std::atomic<bool>& counting) {
    const std::string request = "request of client " + std::to_string(id) + std::string(40, '.');
    for (long i = 0; std::chrono::steady_clock::now() < deadline; ++i) {
        // Odd rounds resume the client's session; even ones name a new server and so start afresh.
        static std::atomic<long> fresh{0};
        std::string key =
            i % 2 ? "resume-" + std::to_string(id) : "full-" + std::to_string(++fresh);
        try {
            QmXplNet::Socket_t socket(QmXplStr::String_t("127.0.0.1"), port, 10000);
            socket.SetSoTimeout(30000);
            SslClientConnection c(socket, Bytes(key), options);
            QmXplIo::OutputStream_t out = c.GetOutputStream();
            out.Write(request.data(), static_cast<int>(request.size()));
            out.Flush();
            // The echo first, then close_notify: TLS 1.3 tickets come after the handshake and
            // are lost when they arrive after this end's close_notify, so a client that closed at
            // once would resume only when its ticket happened to be early (about three in four
            // here under full load).
            QmXplIo::InputStream_t in = c.GetInputStream();
            std::string answer;
            char buffer[256];
            while (answer.size() < request.size()) {
                int n = in.Read(buffer, sizeof buffer);
                if (n < 0) break;
                answer.append(buffer, static_cast<size_t>(n));
            }
            out.Close();
            for (int n; (n = in.Read(buffer, sizeof buffer)) >= 0;)
                answer.append(buffer, static_cast<size_t>(n));
            bool reused = c.IsSessionReused();
            c.Close();
            if (answer != request) throw std::runtime_error("wrong answer");
            if (counting) ++(reused ? counters.resumed : counters.full);
        } catch (const std::exception& e) {
            if (counters.failed++ < 5) std::fprintf(stderr, "client %d: %s\n", id, e.what());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Options of the benchmark programs (./run bench passes --benchmark_filter) do not apply.
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind("--", 0) != 0) args.push_back(argv[i]);
    int seconds = args.size() > 0 ? std::atoi(args[0].c_str()) : 60;
    int clients = args.size() > 1 ? std::atoi(args[1].c_str()) : 64;
    int threads = args.size() > 2 ? std::atoi(args[2].c_str()) : 16;
    if (seconds < 1 || clients < 1) {
        std::fprintf(stderr, "usage: %s [SECONDS [CLIENTS]]\n", argv[0]);
        return 2;
    }
    qmsec_test::TempDir dir;
    std::string home = dir.File("node");
    std::string tool = QMSEC_TOOL;
    qmsec_test::TestCertificate ca =
        qmsec_test::CertificateBuilder().CommonName("Load CA").Ca().Build();
    auto leaf = [&](const std::string& cn, int key) {
        return qmsec_test::CertificateBuilder()
            .CommonName(cn)
            .IssuedBy(ca)
            .SubjectKey(qmsec_test::TestRsaKey(2048, key).privatePem)
            .Build();
    };
    qmsec_test::TestCertificate server = leaf("server", 1), client = leaf("client", 2);
    std::string caFile = dir.Write("ca.pem", ca.pem);
    std::string env = "env QMXPL_HOME=" + qmsec_test::Quote(home) + " " + qmsec_test::Quote(tool);
    Must(env + " init --core-id server");
    // The server's default store of 100 sessions is overrun by this many clients' handshakes
    // before their sessions come back; a session it evicts cannot be resumed. The store grows
    // up to this size, and the server's memory with it (a few KiB a session, the client's
    // certificate included).
    Must(env + " config set sec.core.ssl SESSION_CACHE_SIZE 20000");
    Must(env + " keystore install CA --trusted --cert " + qmsec_test::Quote(caFile));
    Must(env + " keystore install server --cert " +
         qmsec_test::Quote(dir.Write("server.pem", server.pem)) + " --key " +
         qmsec_test::Quote(dir.Write("server.key", server.privateKeyPem)));

    // The server's log goes to a file: a pipe nobody reads would stop it once full. exec keeps
    // the process id the server's.
    std::string log = dir.File("serve.log");
    qmsec_test::Process serve({"sh", "-c",
                               "exec " + env + " tls serve --bind 127.0.0.1 --echo --threads " +
                                   std::to_string(threads) + " > " + qmsec_test::Quote(log) +
                                   " 2>&1"});
    int port = 0;
    for (int i = 0; i < 300 && !port; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::string first = qmsec_test::ReadFile(log);
        size_t at = first.find("127.0.0.1:");
        if (at != std::string::npos) port = std::atoi(first.c_str() + at + 10);
    }
    if (!port) {
        std::fprintf(stderr, "the server did not start:\n%s\n", qmsec_test::ReadFile(log).c_str());
        return 2;
    }
    int pid = serve.Pid();

    // The clients' process reads the same node configuration as the server (its session cache).
    setenv("QMXPL_HOME", home.c_str(), 1);
    QmSecSsl::SslConnection::SetTrustedCertificatesFilename(Bytes(caFile));
    SslClientConnection::Options options;
    options.SetOwnCertificate(Bytes(dir.Write("client.pem", client.pem)),
                              Bytes(dir.Write("client.key", client.privateKeyPem)), CharArray_t());

    // A warm-up fills the server's pools and caches, so that what follows measures growth.
    Counters counters;
    std::atomic<bool> counting{false};
    auto run = [&](int forSeconds) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(forSeconds);
        std::vector<std::thread> workers;
        for (int i = 0; i < clients; ++i)
            workers.emplace_back(Client, i, port, std::cref(options), deadline, std::ref(counters),
                                 std::ref(counting));
        for (auto& t : workers) t.join();
    };
    run(3);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    long rssBefore = qmsec_test::StatusKiB("VmRSS", pid);
    long fdsBefore = qmsec_test::OpenDescriptors(pid);
    long failedInWarmUp = counters.failed;
    counting = true;
    auto start = std::chrono::steady_clock::now();
    run(seconds);
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    long rssAfter = qmsec_test::StatusKiB("VmRSS", pid);
    long fdsAfter = qmsec_test::OpenDescriptors(pid);

    long full = counters.full, resumed = counters.resumed, failed = counters.failed;
    std::printf("clients                 %d for %.1f s (server: %d threads)\n", clients, elapsed,
                threads);
    std::printf("requests answered       %ld (%ld failed, %ld in the warm-up)\n", full + resumed,
                failed - failedInWarmUp, failedInWarmUp);
    std::printf("full handshakes/s       %.1f\n", full / elapsed);
    std::printf("resumed handshakes/s    %.1f\n", resumed / elapsed);
    std::printf("server RSS              %ld KiB before, %ld KiB after\n", rssBefore, rssAfter);
    std::printf("server descriptors      %ld before, %ld after\n", fdsBefore, fdsAfter);
    bool ok = failed == 0 && fdsAfter <= fdsBefore && resumed > 0 && full > 0;
    std::printf("%s\n", ok ? "OK" : "FAILED");
    return ok ? 0 : 1;
}
