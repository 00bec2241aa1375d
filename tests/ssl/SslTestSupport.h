// Shared by the TLS tests: a node directory whose key store holds a trusted CA, a server and a
// client identity it issued; both ends of a connection run in one process, one thread each.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <string>

#include "QmSecSsl/QmSecSsl.h"
#include "QmXpl/ChangedConfiguration_t.h"
#include "QmXpl/ConfigChangeHandler_i.h"
#include "QmXpl/ConfigNamespace_t.h"
#include "QmXpl/ServerSocket_t.h"
#include "QmXpl/Socket_t.h"
#include "SslConnectionImpl.h"
#include "SslContext.h"
#include "core/KeyStoreTestSupport.h"
#include "support/DuplexPipe.h"
#include "support/TempDir.h"

namespace ssl_test {

using qmsec_test::Arr;
using qmsec_test::CertificateBuilder;
using qmsec_test::TestCertificate;
using QmSecSsl::SslClientConnection;
using QmSecSsl::SslConnection;
using QmSecSsl::SslServerConnection;
using QmXplArray::CharArray_t;
using QmXplIo::Connection_t;
using QmXplStr::String_t;

inline const TestCertificate& TestCa() {
    static const TestCertificate ca = CertificateBuilder().CommonName("Test CA").Ca().Build();
    return ca;
}

// A leaf issued by the test CA (or self-signed when issuer is null), valid as given.
inline TestCertificate Leaf(const std::string& cn, const TestCertificate* issuer = &TestCa(),
                            long from = -3600, long to = 86400, int keyVariant = 0) {
    CertificateBuilder b;
    b.CommonName(cn).ValidFromNow(from, to).SubjectKey(
        qmsec_test::TestRsaKey(2048, keyVariant).privatePem);
    if (issuer) b.IssuedBy(*issuer);
    return b.Build();
}

inline void InstallIdentity(const std::string& alias, const TestCertificate& c) {
    QmSecCore::KeyStore().InstallCertificate(
        String_t(alias), QmSecCore::X509Certificate(Arr(c.pem)),
        QmSecCore::Key(QmSecCore::Key::eRSAPrivateKey, Arr(c.privateKeyPem)), true, false);
}

// TLS versions the tests run with.
struct Version {
    const char* name;
    int version;
};
inline std::string VersionName(const testing::TestParamInfo<Version>& info) {
    return info.param.name;
}
inline const Version kVersions[] = {{"TLS12", TLS1_2_VERSION}, {"TLS13", TLS1_3_VERSION}};

// A node whose store holds "ca" (trusted), "server" and "client"; the shared context is limited to
// the test's TLS version. Build it before the context is first used (it reads the trust then).
class SslNode {
  public:
    // configIni: the node's configuration file, in place before the context reads it.
    explicit SslNode(int version, const std::string& configIni = "") {
        if (!configIni.empty()) {
            std::filesystem::create_directories(home_.Root() + "/conf");
            std::ofstream(home_.Root() + "/conf/config.ini") << configIni;
        }
        QmSecCore::KeyStore().InstallCertificate(
            String_t("ca"), QmSecCore::X509Certificate(Arr(TestCa().pem)), true, true);
        InstallIdentity("server", Leaf("server"));
        InstallIdentity("client", Leaf("client"));
        QmSecSsl::SslContext& context = QmSecSsl::SslContext::GetInstance();
        for (SSL_CTX* role : {context.GetCtx(), context.GetClientCtx()})
            SSL_CTX_set_max_proto_version(role, version);
    }
    const keystore_test::StoreHome& Home() const { return home_; }

  private:
    keystore_test::StoreHome home_;
};

inline SslServerConnection::Options ServerOptions(const char* alias = "server") {
    SslServerConnection::Options o;
    o.SetOwnCertificate(String_t(alias));
    return o;
}
inline SslClientConnection::Options ClientOptions(const char* alias = "client") {
    SslClientConnection::Options o;
    o.SetOwnCertificate(String_t(alias));
    return o;
}

// Runs server(serverEnd) on a thread of its own while client(clientEnd) runs here; rethrows what
// either end threw (the client's first). Each end is closed when it throws, so that the other
// never waits for an answer that cannot come.
template <class End>
void RunEnds(End serverEnd, End clientEnd, const std::function<void(End&)>& server,
             const std::function<void(End&)>& client) {
    auto serverDone = std::async(std::launch::async, [&, end = serverEnd]() mutable {
        try {
            server(end);
        } catch (...) {
            end.Close();
            throw;
        }
    });
    std::exception_ptr clientFailure;
    try {
        client(clientEnd);
    } catch (...) {
        clientFailure = std::current_exception();
        clientEnd.Close();
    }
    try {
        serverDone.get();
    } catch (const std::exception& e) {
        if (!clientFailure) throw;
        ADD_FAILURE() << "the server failed too: " << e.what();
    }
    if (clientFailure) std::rethrow_exception(clientFailure);
}

// Waits until the configuration service has delivered a change of "sec.cm.certificates" to every
// handler registered before this one (they are called in the order of registration).
class ChangeWaiter : public QmXplConfig::ConfigChangeHandler_i {
  public:
    ChangeWaiter() { ns_.Register(this); }
    ~ChangeWaiter() override { ns_.Unregister(this); }
    void Update(const QmXplConfig::ChangedConfiguration_t&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++seen_;
        cv_.notify_all();
    }
    // Sets key to a new value and waits for its delivery.
    void Change(const char* key) {
        std::unique_lock<std::mutex> lock(mutex_);
        int before = seen_;
        lock.unlock();
        ns_.SetValue(String_t(key), String_t(std::to_string(++counter_)));
        lock.lock();
        ASSERT_TRUE(cv_.wait_for(lock, std::chrono::seconds(10), [&] { return seen_ > before; }));
    }

  private:
    QmXplConfig::ConfigNamespace_t ns_{String_t("sec.cm.certificates")};
    std::mutex mutex_;
    std::condition_variable cv_;
    int seen_ = 0;
    int counter_ = 0;
};

// RunEnds over the two ends given (server end first).
inline void RunPair(const std::function<void(Connection_t&)>& server,
                    const std::function<void(Connection_t&)>& client,
                    std::pair<Connection_t, Connection_t> ends) {
    RunEnds<Connection_t>(ends.first, ends.second, server, client);
}

// RunEnds over a fresh duplex pair.
inline void RunPair(const std::function<void(Connection_t&)>& server,
                    const std::function<void(Connection_t&)>& client,
                    qmsec_test::PipeShape shape = {}) {
    RunPair(server, client, qmsec_test::MakeDuplexPair(shape));
}

// Two ends of a fresh loopback TCP connection (server end first).
inline std::pair<QmXplNet::Socket_t, QmXplNet::Socket_t> SocketEnds() {
    QmXplNet::ServerSocket_t listener(0, String_t("127.0.0.1"));
    QmXplNet::Socket_t client(String_t("127.0.0.1"), listener.GetLocalPort());
    QmXplNet::Socket_t server = listener.Accept();
    listener.Close();
    return {server, client};
}
inline std::pair<Connection_t, Connection_t> SocketPair() {
    auto [server, client] = SocketEnds();
    return {server, client};
}

// RunEnds over a fresh loopback TCP connection whose reads time out after 20 s.
inline void RunSockets(const std::function<void(QmXplNet::Socket_t&)>& server,
                       const std::function<void(QmXplNet::Socket_t&)>& client) {
    auto [serverEnd, clientEnd] = SocketEnds();
    for (auto* end : {&clientEnd, &serverEnd}) end->SetSoTimeout(20000);
    RunEnds<QmXplNet::Socket_t>(serverEnd, clientEnd, server, client);
}

// PEM files of the test CA and of a "server" and a "client" identity it issued.
class PemFiles {
  public:
    PemFiles() {
        dir_.Write("ca.pem", TestCa().pem);
        for (const char* name : {"server", "client"}) {
            TestCertificate c = Leaf(name);
            dir_.Write(std::string(name) + ".pem", c.pem);
            dir_.Write(std::string(name) + ".key", c.privateKeyPem);
        }
    }
    std::string File(const char* name) const { return dir_.File(name); }
    void Write(const std::string& name, const std::string& bytes) const { dir_.Write(name, bytes); }

  private:
    qmsec_test::TempDir dir_;
};

inline SSL* SslOf(const SslConnection& c) { return c->GetSsl(); }

// Writes all of data, then closes the output stream.
inline void Send(const SslConnection& c, const std::string& data) {
    QmXplIo::OutputStream_t out = c.GetOutputStream();
    out.Write(data.data(), static_cast<int>(data.size()));
    out.Close();
}

// Reads until the peer's close_notify.
inline std::string ReceiveAll(const SslConnection& c) {
    QmXplIo::InputStream_t in = c.GetInputStream();
    std::string data;
    char buffer[16384];
    for (int n; (n = in.Read(buffer, sizeof buffer)) >= 0;)
        data.append(buffer, static_cast<size_t>(n));
    return data;
}

// One connection with key; returns whether server and client resumed. writeOnly: the client
// never reads (it waits until the server's handshake is done, so that tickets are on the wire).
inline std::pair<bool, bool> Connect(const char* key, bool writeOnly = false,
                                     const char* clientAlias = "client") {
    bool serverReused = false, clientReused = false;
    std::promise<void> accepted;
    std::shared_future<void> acceptedFuture = accepted.get_future().share();
    RunPair(
        [&](Connection_t& t) {
            SslServerConnection s(t, ServerOptions());
            accepted.set_value();
            serverReused = s.IsSessionReused();
            EXPECT_EQ(ReceiveAll(s), "ping");
            if (!writeOnly) Send(s, "pong");
            s.Close();
        },
        [&](Connection_t& t) {
            SslClientConnection c(t, Arr(key), ClientOptions(clientAlias));
            clientReused = c.IsSessionReused();
            acceptedFuture.wait();
            Send(c, "ping");
            if (!writeOnly) {
                EXPECT_EQ(ReceiveAll(c), "pong");
            }
            c.Close();
        });
    return {serverReused, clientReused};
}

}  // namespace ssl_test
