// The server role of a TLS session: accepts a handshake on an established connection.
#pragma once

#include "QmSecSsl/SslConnection.h"

namespace QmSecSsl {

// The server role of a TLS session: accepts a handshake on an established connection.
class QMSEC_API SslServerConnection : public SslConnection {
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
        // eAnonymous or eRequireCertificate; 0 changes nothing and the mode is then still read from
        // "CLIENT_VERIFICATION_MODE" of "sec.core.ssl". IllegalArgumentError_t 104 for other
        // values.
        Options& SetClientVerificationMode(SslConnection::ClientVerificationMode mode);
        // The resource group whose configuration and key store are used.
        Options& SetQmResourceGroup(const QmXplStr::String_t& group);

        // The values (library internal).
        SslConnection::OptionsImpl& GetImpl() const noexcept { return *body_; }

      private:
        SslConnection::OptionsImpl* body_;
    };

    // An empty handle.
    SslServerConnection() = default;
    // Runs the server side of a handshake over transport with options (default options: the
    // node's own certificate, settings from "sec.core.ssl"). SecSslException 105-112 when the
    // session cannot be set up (106: no certificate for the alias), SecSslIOException 113 when the
    // peer's certificate does not verify, 114 for other handshake failures, 116 when the transport
    // ends first; exceptions of the transport pass through. The transport is not closed on failure.
    SslServerConnection(QmXplIo::Connection_t& transport, const Options& options);
    explicit SslServerConnection(QmXplIo::Connection_t& transport);
    ~SslServerConnection() override;
    SslServerConnection(const SslServerConnection&) = default;
    SslServerConnection& operator=(const SslServerConnection&) = default;
};

}  // namespace QmSecSsl
