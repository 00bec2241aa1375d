// The client role of a TLS session: runs a handshake on an established connection.
#pragma once

#include "QmSecSsl/SslConnection.h"

namespace QmSecSsl {

// The client role of a TLS session: runs a handshake on an established connection.
class QMSEC_API SslClientConnection : public SslConnection {
  public:
    // What a connection presents and demands. Values: copies are independent; the connection
    // takes its own copy at construction. Setters return the same object, so calls chain.
    class QMSEC_API Options {
      public:
        // Own certificate from the key store under the node's core id, level and mode from
        // configuration.
        Options();
        Options(const Options& other);
        Options& operator=(const Options& other);
        ~Options();

        // The own certificate and key from the key store under alias.
        Options& SetOwnCertificate(const QmXplStr::String_t& alias);
        // The own certificate and key from PEM files; the key file may be encrypted under
        // password (kept only until the connection has read the key, then wiped).
        // IllegalArgumentError_t 102 when a file name is empty (the options stay unchanged).
        Options& SetOwnCertificate(const QmXplArray::CharArray_t& certificateFile,
                                   const QmXplArray::CharArray_t& privateKeyFile,
                                   const QmXplArray::CharArray_t& privateKeyPassword);
        // One of SslConnection::EncryptionLevel; 0 changes nothing and the level is then still
        // read from "ENCRYPTION_LEVEL" of "sec.core.ssl". IllegalArgumentError_t 103 otherwise.
        Options& SetEncryptionLevel(SslConnection::EncryptionLevel level);
        // The resource group whose configuration and key store are used.
        Options& SetQmResourceGroup(const QmXplStr::String_t& group);

        // The values (library internal).
        SslConnection::OptionsImpl& GetImpl() const noexcept { return *body_; }

      private:
        SslConnection::OptionsImpl* body_;
    };

    // An empty handle.
    SslClientConnection() = default;
    // Runs the client side of a handshake over transport. sessionKey names the server (for example
    // its address and port): connections with equal keys (compared up to the first zero byte)
    // resume one cached session. Fails like SslServerConnection; a missing own certificate is no
    // failure (the client then presents none).
    SslClientConnection(QmXplIo::Connection_t& transport, const QmXplArray::CharArray_t& sessionKey,
                        const Options& options);
    SslClientConnection(QmXplIo::Connection_t& transport,
                        const QmXplArray::CharArray_t& sessionKey);
    ~SslClientConnection() override;
    SslClientConnection(const SslClientConnection&) = default;
    SslClientConnection& operator=(const SslClientConnection&) = default;
};

}  // namespace QmSecSsl
