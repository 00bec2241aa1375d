#include "QmSecSsl/SslServerConnection.h"

#include "OptionsImpl.h"
#include "SslConnectionImpl.h"

namespace QmSecSsl {

using Options = SslServerConnection::Options;

QMSEC_SSL_OPTIONS_MEMBERS(Options)
Options& Options::SetClientVerificationMode(SslConnection::ClientVerificationMode mode) {
    body_->SetClientVerificationMode(mode);
    return *this;
}

SslServerConnection::SslServerConnection(QmXplIo::Connection_t& transport, const Options& options)
    : SslConnection(new SslConnectionImpl(transport, options.GetImpl(), true, nullptr)) {}

SslServerConnection::SslServerConnection(QmXplIo::Connection_t& transport)
    : SslServerConnection(transport, Options()) {}

SslServerConnection::~SslServerConnection() = default;

}  // namespace QmSecSsl
