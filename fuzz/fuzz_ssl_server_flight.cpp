// libFuzzer target: the server engine fed arbitrary bytes as a client's first flight over the
// in-memory transport, whose input then ends. A handshake may only fail with the library's
// exceptions (a refusal with a message); a crash, a hang, a leak or any other exception is a
// finding. The server presents a test identity from PEM files and asks for no client
// certificate, so the fuzzer reaches as far into the handshake as bytes without keys can.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "QmSecSsl/QmSecSsl.h"
#include "QmXpl/Message_t.h"
#include "support/Certificates.h"
#include "support/DuplexPipe.h"
#include "support/TempDir.h"

namespace {

using QmSecSsl::SslServerConnection;

const SslServerConnection::Options& ServerOptions() {
    static qmsec_test::TempDir dir;
    static const SslServerConnection::Options options = [] {
        // A node directory of its own: the shared context looks for trust in the node's store.
        setenv("QMXPL_HOME", dir.File("node").c_str(), 1);
        qmsec_test::TestCertificate id =
            qmsec_test::CertificateBuilder().CommonName("fuzz server").Build();
        std::string cert = dir.Write("server.pem", id.pem);
        std::string key = dir.Write("server.key", id.privateKeyPem);
        SslServerConnection::Options o;
        auto bytes = [](const std::string& text) {
            return QmXplArray::CharArray_t(text.data(), static_cast<int>(text.size()));
        };
        o.SetOwnCertificate(bytes(cert), bytes(key), QmXplArray::CharArray_t());
        o.SetClientVerificationMode(QmSecSsl::SslConnection::eAnonymous);
        return o;
    }();
    return options;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return 0;
    const SslServerConnection::Options& options = ServerOptions();
    auto [serverEnd, clientEnd] = qmsec_test::MakeDuplexPair();
    {
        QmXplIo::OutputStream_t flight = clientEnd.GetOutputStream();
        if (size) flight.Write(reinterpret_cast<const char*>(data), static_cast<int>(size));
        flight.Close();  // the client says no more; what the server writes piles up unread
    }
    try {
        SslServerConnection server(serverEnd, options);
        // Bytes without the client's keys cannot finish a handshake; should they, the session
        // must still end cleanly with the transport.
        QmXplIo::InputStream_t in = server.GetInputStream();
        char buffer[4096];
        while (in.Read(buffer, sizeof buffer) >= 0) {
        }
        std::abort();
    } catch (const QmXplMsg::Exception_t&) {
        // refused: the expected way out
    }
    serverEnd.Close();
    return 0;
}
