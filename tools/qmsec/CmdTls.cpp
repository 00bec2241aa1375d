// tls: a TLS server and client with the node's identity, and telling TLS from other bytes.
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Cli.h"
#include "Io.h"
#include "Names.h"
#include "QmSecCore/CoreNames.h"
#include "QmSecCore/KeyStore.h"
#include "QmSecSsl/QmSecSsl.h"
#include "QmXpl/BufferedInputStream_t.h"
#include "QmXpl/ConfigNamespace_t.h"
#include "QmXpl/ServerSocket_t.h"
#include "QmXpl/Socket_t.h"

namespace qmsec {

using QmSecSsl::SslClientConnection;
using QmSecSsl::SslConnection;
using QmSecSsl::SslServerConnection;

namespace {

constexpr int kBuffer = 16 * 1024;

// The facts of a connection that a person checks: who is at the other end and how the session
// protects the bytes.
struct SessionFacts {
    std::string own, peer, protocol, cipher;
    bool resumed = false;

    explicit SessionFacts(const SslConnection& c)
        : own(c.GetOwnId().ToUtf8()),
          peer(c.GetPeerId().ToUtf8()),
          protocol(c.GetProtocol().ToUtf8()),
          cipher(c.GetCipherSuite().ToUtf8()),
          resumed(c.IsSessionReused()) {}

    std::string Text() const {
        return (peer.empty() ? std::string("no peer certificate") : "peer '" + peer + "'") + ", " +
               protocol + ", " + cipher + ", " + (resumed ? "resumed session" : "new session");
    }
    JsonValue Json() const {
        JsonValue json = JsonValue::Object();
        json.Set("own_id", own)
            .Set("peer_id", peer.empty() ? JsonValue() : JsonValue(peer))
            .Set("protocol", protocol)
            .Set("cipher_suite", cipher)
            .Set("resumed", resumed);
        return json;
    }
};

std::string OneLine(const QmXplMsg::Exception_t& e) {
    return e.GetMessageList()
        .Format(QmXplMsg::kFormatNumber | QmXplMsg::kFormatOneLine | QmXplMsg::kFormatDetails)
        .ToUtf8();
}

// The alias the node presents: --alias, else its core id. Checked before the first peer comes,
// so that a node without its identity fails at once instead of refusing every connection.
std::string IdentityAlias(const Invocation& call, bool required) {
    std::string alias = call.Value("--alias").value_or(
        QmXplConfig::ConfigNamespace_t::Open(String_t(QmSecCore::kCoreNamespace))
            .GetValue(String_t(QmSecCore::kCoreIdKey))
            .ToUtf8());
    if (alias.empty()) {
        if (required)
            Fail("This node has no core id, its TLS identity: give --alias or run 'qmsec init'.");
        return alias;
    }
    CheckAlias(alias, "alias");
    QmSecCore::KeyStore store;
    bool complete = store.IsCertEntry(String_t(alias)) && store.IsPrivateKeyEntry(String_t(alias));
    if (required && !complete)
        Fail("The key store has no certificate and private key '" + alias +
             "' to present: create them with 'qmsec keystore genkey' or install them.");
    return complete ? alias : std::string();
}

// One line of the server's log; lines of concurrent connections never mix.
class Log {
  public:
    void Line(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    void Bytes(const char* data, int size) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::fwrite(data, 1, static_cast<size_t>(size), stdout);
        std::fflush(stdout);
    }

  private:
    std::mutex mutex_;
};

struct ServeSettings {
    SslServerConnection::Options options;
    bool echo = false;
    int timeoutMs = 0;
};

// Serves one accepted connection to its end. Every failure is this peer's alone: it is logged and
// the server goes on.
void ServeOne(QmXplNet::Socket_t socket, int number, const ServeSettings& settings, Log& log) {
    std::string tag = "[" + std::to_string(number) + "] ";
    std::string from;
    bool connected = false;
    try {
        from = socket.GetInetAddress().GetHostAddress().ToUtf8() + ":" +
               std::to_string(socket.GetPort());
        // Bounds every read, so a peer that stops sending frees its worker.
        socket.SetSoTimeout(settings.timeoutMs);
        SslServerConnection connection(socket, settings.options);
        connected = true;
        log.Line(tag + from + ": " + SessionFacts(connection).Text());
        QmXplIo::InputStream_t in = connection.GetInputStream();
        QmXplIo::OutputStream_t out = connection.GetOutputStream();
        std::vector<char> buffer(kBuffer);
        long long total = 0;
        bool lineOpen = false;  // printed bytes that did not end with a line feed
        for (int n; (n = in.Read(buffer.data(), kBuffer)) >= 0; total += n) {
            if (settings.echo) {
                out.Write(buffer.data(), n);
                out.Flush();
            } else if (n > 0) {
                log.Bytes(buffer.data(), n);
                lineOpen = buffer[static_cast<size_t>(n) - 1] != '\n';
            }
        }
        out.Close();
        connection.Close();
        log.Line((lineOpen ? "\n" : "") + tag + from + ": closed after " + std::to_string(total) +
                 " bytes" + (settings.echo ? ", echoed" : ""));
    } catch (const QmXplMsg::Exception_t& e) {
        log.Line(tag + from + (connected ? ": failed: " : ": refused: ") + OneLine(e));
    } catch (const std::exception& e) {
        log.Line(tag + from + ": failed: " + e.what());
    }
    try {
        socket.Close();
    } catch (const QmXplMsg::Exception_t&) {
        // already gone
    }
}

// Accepted sockets wait here for a worker. The queue is short, so that a server whose workers
// are all busy stops accepting and lets the system's backlog hold the rest.
class WorkQueue {
  public:
    explicit WorkQueue(size_t limit) : limit_(limit) {}
    void Push(QmXplNet::Socket_t socket, int number) {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [&] { return items_.size() < limit_; });
        items_.emplace_back(std::move(socket), number);
        ready_.notify_one();
    }
    bool Pop(QmXplNet::Socket_t& socket, int& number) {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return !items_.empty() || done_; });
        if (items_.empty()) return false;
        socket = std::move(items_.front().first);
        number = items_.front().second;
        items_.pop_front();
        room_.notify_one();
        return true;
    }
    void Finish() {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
        ready_.notify_all();
    }

  private:
    size_t limit_;
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    std::deque<std::pair<QmXplNet::Socket_t, int>> items_;
    bool done_ = false;
};

int TlsServe(Invocation& call) {
    int port = NumberOption(call, "--port", 0, 65535, 0);
    int threads = NumberOption(call, "--threads", 1, 256, 16);
    int count = NumberOption(call, "--count", 0, INT_MAX, 0);
    ServeSettings settings;
    settings.timeoutMs = NumberOption(call, "--timeout", 1, 3600, 30) * 1000;
    settings.echo = call.Has("--echo");
    std::string alias = IdentityAlias(call, true);
    settings.options.SetOwnCertificate(String_t(alias));
    if (call.Has("--anon")) settings.options.SetClientVerificationMode(SslConnection::eAnonymous);
    std::string bind = call.Value("--bind").value_or("");

    QmXplNet::ServerSocket_t listener(port, String_t(bind));
    Log log;
    log.Line("Serving as '" + alias + "' on " + (bind.empty() ? "*" : bind) + ":" +
             std::to_string(listener.GetLocalPort()) +
             (call.Has("--anon") ? " (client certificates optional)" : "") +
             (settings.echo ? ", echoing" : ""));

    WorkQueue queue(static_cast<size_t>(threads));
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i)
        workers.emplace_back([&] {
            QmXplNet::Socket_t socket;
            int number = 0;
            while (queue.Pop(socket, number)) {
                ServeOne(socket, number, settings, log);
                socket = QmXplNet::Socket_t();
            }
        });
    try {
        for (int number = 1; count == 0 || number <= count; ++number)
            queue.Push(listener.Accept(), number);
    } catch (...) {
        queue.Finish();
        for (auto& w : workers) w.join();
        throw;
    }
    queue.Finish();
    for (auto& w : workers) w.join();
    return kExitOk;
}

std::pair<std::string, int> HostAndPort(const Invocation& call, const std::string& text) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        call.Usage("'" + text + "' is not HOST:PORT");
    std::string host = text.substr(0, colon), port = text.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    char* end = nullptr;
    long n = std::strtol(port.c_str(), &end, 10);
    if (*end || n < 1 || n > 65535) call.Usage("'" + port + "' is not a port from 1 to 65535");
    return {host, static_cast<int>(n)};
}

int TlsConnect(Invocation& call) {
    auto [host, port] = HostAndPort(call, call.Arg(0));
    std::string key = call.Value("--session-key").value_or(call.Arg(0));
    if (key.empty()) call.Usage("the session key must not be empty");
    int repeat = NumberOption(call, "--repeat", 1, 10000, 1);
    int timeoutMs = NumberOption(call, "--timeout", 1, 3600, 30) * 1000;
    SslClientConnection::Options options;
    // Without an identity the client presents none; a server that demands one then refuses.
    std::string alias = IdentityAlias(call, call.Has("--alias"));
    if (!alias.empty()) options.SetOwnCertificate(String_t(alias));

    // Standard input is read once and sent on every connection.
    std::string request;
    Source input("-");
    std::vector<char> buffer(kBuffer);
    for (int n; (n = input.Read(buffer.data(), kBuffer)) >= 0;)
        request.append(buffer.data(), static_cast<size_t>(n));

    JsonValue json = JsonValue::Array();
    for (int i = 0; i < repeat; ++i) {
        std::string answer;
        std::unique_ptr<SessionFacts> facts;
        try {
            QmXplNet::Socket_t socket(String_t(host), port, timeoutMs);
            socket.SetSoTimeout(timeoutMs);
            SslClientConnection connection(
                socket, CharArray_t(key.data(), static_cast<int>(key.size())), options);
            facts = std::make_unique<SessionFacts>(connection);
            QmXplIo::OutputStream_t out = connection.GetOutputStream();
            out.Write(request.data(), static_cast<int>(request.size()));
            // close_notify ends the request; the answer follows until the server's.
            out.Close();
            QmXplIo::InputStream_t in = connection.GetInputStream();
            for (int n; (n = in.Read(buffer.data(), kBuffer)) >= 0;)
                answer.append(buffer.data(), static_cast<size_t>(n));
            connection.Close();
        } catch (const QmXplMsg::Exception_t& e) {
            std::fflush(stdout);
            Fail("The TLS connection to '" + call.Arg(0) + "' failed.", e.GetMessageList());
        }
        if (call.Json()) {
            json.Push(facts->Json().Set("answer", answer));
        } else {
            std::string line = "Connected to " + call.Arg(0) + ": " + facts->Text() + "\n";
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fwrite(answer.data(), 1, answer.size(), stdout);
        }
    }
    if (call.Json()) PrintResult(call, json, "");
    return kExitOk;
}

int TlsSniff(Invocation& call) {
    Source source(call.Arg(0));
    QmXplIo::BufferedInputStream_t in(source.Stream(), 64);
    bool hello = SslConnection::IsSsl(in);
    JsonValue json = JsonValue::Object();
    json.Set("file", source.Name()).Set("tls_client_hello", hello);
    PrintResult(call, json,
                source.Name() + (hello ? ": starts a TLS client hello"
                                       : ": does not start a TLS client hello"));
    return kExitOk;
}

const OptionSpec kTimeout{"--timeout", "", "SECONDS",
                          "give up on a peer that sends nothing for this long (default 30)"};

}  // namespace

void AddTlsCommands(CommandTable& table) {
    table.Add({"tls serve",
               "[--port P] [--bind ADDR] [--anon] [--echo] [--alias A] [--threads N] [--count N] "
               "[--timeout S]",
               0,
               0,
               {{"--port", "", "P", "the port to listen on (default: a free one, shown at start)"},
                {"--bind", "", "ADDR", "the address to listen on (default: every interface)"},
                {"--anon", "", "", "accept clients without a certificate"},
                {"--echo", "", "", "send every client's bytes back instead of printing them"},
                {"--alias", "", "A", "present this key-store entry (default: the core id)"},
                {"--threads", "", "N", "serve up to N clients at once, 1 to 256 (default 16)"},
                {"--count", "", "N", "stop after N connections (default: never)"},
                kTimeout},
               "serve TLS with the node's identity",
               "Listens for TLS clients and serves each with the node's certificate and key\n"
               "(the key-store entry of the core id). A client must present a certificate that\n"
               "the node trusts unless --anon is given. For every client one line shows its\n"
               "address, the common name of its certificate, the protocol, the cipher suite and\n"
               "whether the session was resumed; a refused client is shown with the reason.\n"
               "What a client sends is printed, or with --echo sent back.\n"
               "\n"
               "A certificate installed or renewed with the key-store commands while the server\n"
               "runs is presented, and a newly trusted CA accepted, from the next connection on.",
               false,
               TlsServe});
    table.Add({"tls connect",
               "HOST:PORT [--session-key K] [--repeat N] [--alias A] [--timeout S]",
               1,
               1,
               {{"--session-key", "", "K",
                 "connections with one key resume one session (default: HOST:PORT)"},
                {"--repeat", "", "N", "connect N times, resuming the session (default 1)"},
                {"--alias", "", "A",
                 "present this key-store entry (default: the core id's, if the store has it)"},
                kTimeout},
               "connect to a TLS server with the node's identity",
               "Connects to HOST:PORT, presents the node's certificate, verifies the server's\n"
               "against the node's trusted certificates, sends the standard input and prints\n"
               "the protocol, the cipher suite, the server's common name, whether the session\n"
               "was resumed, and the server's answer. With --repeat the later connections\n"
               "resume the first one's session.",
               true,
               TlsConnect});
    table.Add({"tls sniff",
               "FILE",
               1,
               1,
               {},
               "tell whether bytes start a TLS client hello",
               "Tells whether FILE ('-' for the standard input) starts with the client hello of\n"
               "TLS or SSL, the test a server makes to tell a TLS client from a plain one.",
               true,
               TlsSniff});
}

}  // namespace qmsec
