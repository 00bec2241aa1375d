#include "QmSecSsl/SslSocketConfig.h"

#include <string_view>

#include "QmSecSsl/SslSocketDefaultConfig.h"
#include "SslSocketConfigImpl.h"
#include "SslSocketDefaultConfigImpl.h"

namespace QmSecSsl {

using QmXplArray::CharArray_t;

namespace {

// A published text: its characters and a terminating zero byte, so that it also reads as C text.
CharArray_t Text(std::string_view text) {
    return CharArray_t(text.data(), static_cast<int>(text.size() + 1));
}

}  // namespace

const CharArray_t SslSocketConfig::SSL_ENCRYPTION_LEVEL = Text("SSL_ENCRYPTION_LEVEL");
const CharArray_t SslSocketConfig::SSL_EL_NONE = Text("NONE");
const CharArray_t SslSocketConfig::SSL_EL_EXPORT = Text("EXPORT");
const CharArray_t SslSocketConfig::SSL_EL_FULL = Text("FULL");
const CharArray_t SslSocketConfig::SSL_EL_BEST = Text("BEST");
const CharArray_t SslSocketConfig::SSL_CLIENT_VERIFICATION_MODE =
    Text("SSL_CLIENT_VERIFICATION_MODE");
const CharArray_t SslSocketConfig::SSL_CVM_ANONYMOUS = Text("ANONYMOUS");
const CharArray_t SslSocketConfig::SSL_CVM_REQUIRECERTIFICATE = Text("REQUIRECERTIFICATE");
const CharArray_t SslSocketConfig::SSL_OWN_CERTIFICATE_FILENAME =
    Text("SSL_OWN_CERTIFICATE_FILENAME");
const CharArray_t SslSocketConfig::SSL_PRIVATE_KEY_FILENAME = Text("SSL_PRIVATE_KEY_FILENAME");
const CharArray_t SslSocketDefaultConfig::SSL_PRIVATE_KEY_PASSWORD =
    Text("SSL_PRIVATE_KEY_PASSWORD");
const CharArray_t SslSocketDefaultConfig::SSL_RANDOM_FILENAME = Text("SSL_RANDOM_FILENAME");
const CharArray_t SslSocketDefaultConfig::SSL_CA_CERTIFICATE_FILENAME =
    Text("SSL_CA_CERTIFICATE_FILENAME");

SslSocketConfig::SslSocketConfig(bool) : Object(new SslSocketConfigImpl()) {}

SslSocketConfig::SslSocketConfig(const QmXplConfig::Configuration_t& config)
    : SslSocketConfig(true) {
    // The base reading, also for a derived handle: the body is a plain one here.
    Impl("SslSocketConfig")->ReadConfig(config);
}

SslSocketConfig::SslSocketConfig(SslSocketConfigImpl* body) noexcept : Object(body) {}

SslSocketConfig::~SslSocketConfig() = default;

SslSocketConfigImpl* SslSocketConfig::Impl(const char* className) const {
    return GetBody<SslSocketConfigImpl>(className, eSslArea);
}

SslSocketConfigImpl* SslSocketConfig::operator->() const { return Impl("SslSocketConfig"); }

int SslSocketConfig::SetOwnCertificateFilename(const CharArray_t& fileName) {
    return Impl("SslSocketConfig")->SetOwnCertificateFilename(fileName);
}
CharArray_t SslSocketConfig::GetOwnCertificateFilename() const {
    return Impl("SslSocketConfig")->GetOwnCertificateFilename();
}
int SslSocketConfig::SetPrivateKeyFilename(const CharArray_t& fileName) {
    return Impl("SslSocketConfig")->SetPrivateKeyFilename(fileName);
}
CharArray_t SslSocketConfig::GetPrivateKeyFilename() const {
    return Impl("SslSocketConfig")->GetPrivateKeyFilename();
}
int SslSocketConfig::SetEncryptionLevel(EncryptionLevel level) {
    return Impl("SslSocketConfig")->SetEncryptionLevel(level);
}
SslSocketConfig::EncryptionLevel SslSocketConfig::GetEncryptionLevel() const {
    return static_cast<EncryptionLevel>(Impl("SslSocketConfig")->GetEncryptionLevel());
}
int SslSocketConfig::SetClientVerificationMode(ClientVerificationMode mode) {
    return Impl("SslSocketConfig")->SetClientVerificationMode(mode);
}
SslSocketConfig::ClientVerificationMode SslSocketConfig::GetClientVerificationMode() const {
    return static_cast<ClientVerificationMode>(
        Impl("SslSocketConfig")->GetClientVerificationMode());
}
int SslSocketConfig::ReadConfig(const QmXplConfig::Configuration_t& config) {
    return Impl("SslSocketConfig")->ReadConfig(config);
}

SslSocketDefaultConfig SslSocketConfig::GetDefaultConfig() {
    QMSEC_BLOCK(QmSecCoreTrc::kSslArea.proc, "SslSocketConfigImpl::GetDefaultConfig()");
    // Made once, also when several threads ask at once; kept for the life of the process, as
    // sockets on other threads may still make sessions while it ends.
    static const SslSocketDefaultConfig* const instance = new SslSocketDefaultConfig(true);
    return *instance;
}

}  // namespace QmSecSsl
