#include "QmSecSsl/SslServerConnection.h"

#include "OptionsImpl.h"
#include "SslConnectionImpl.h"

namespace QmSecSsl {

using Options = SslServerConnection::Options;

Options::Options() : body_(new SslConnection::OptionsImpl()) {}
Options::Options(const Options& other) : body_(new SslConnection::OptionsImpl(*other.body_)) {}
Options& Options::operator=(const Options& other) {
    *body_ = *other.body_;
    return *this;
}
Options::~Options() { delete body_; }

Options& Options::SetOwnCertificate(const QmXplStr::String_t& alias) {
    body_->SetOwnCertificate(alias);
    return *this;
}
Options& Options::SetOwnCertificate(const QmXplArray::CharArray_t& certificateFile,
                                    const QmXplArray::CharArray_t& privateKeyFile,
                                    const QmXplArray::CharArray_t& privateKeyPassword) {
    body_->SetOwnCertificate(certificateFile, privateKeyFile, privateKeyPassword);
    return *this;
}
Options& Options::SetEncryptionLevel(SslConnection::EncryptionLevel level) {
    body_->SetEncryptionLevel(level);
    return *this;
}
Options& Options::SetClientVerificationMode(SslConnection::ClientVerificationMode mode) {
    body_->SetClientVerificationMode(mode);
    return *this;
}
Options& Options::SetQmResourceGroup(const QmXplStr::String_t& group) {
    body_->SetQmResourceGroup(group);
    return *this;
}

SslServerConnection::SslServerConnection(QmXplIo::Connection_t& transport, const Options& options)
    : SslConnection(new SslConnectionImpl(transport, options.GetImpl(), true, nullptr)) {}

SslServerConnection::SslServerConnection(QmXplIo::Connection_t& transport)
    : SslServerConnection(transport, Options()) {}

SslServerConnection::~SslServerConnection() = default;

}  // namespace QmSecSsl
