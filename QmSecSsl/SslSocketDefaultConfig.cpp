#include "QmSecSsl/SslSocketDefaultConfig.h"

#include "SslSocketDefaultConfigImpl.h"

namespace QmSecSsl {

using QmXplArray::CharArray_t;

SslSocketDefaultConfig::SslSocketDefaultConfig(bool)
    : SslSocketConfig(new SslSocketDefaultConfigImpl()) {}

SslSocketDefaultConfig::SslSocketDefaultConfig(SslSocketDefaultConfigImpl* body) noexcept
    : SslSocketConfig(body) {}

SslSocketDefaultConfig::~SslSocketDefaultConfig() = default;

SslSocketDefaultConfigImpl* SslSocketDefaultConfig::DefaultImpl(const char* className) const {
    return static_cast<SslSocketDefaultConfigImpl*>(Impl(className));
}

SslSocketDefaultConfigImpl* SslSocketDefaultConfig::operator->() const {
    return DefaultImpl("SslSocketDefaultConfig");
}

int SslSocketDefaultConfig::ReadConfig(const QmXplConfig::Configuration_t& config) {
    return DefaultImpl("SslSocketConfig")->ReadConfig(config);
}
int SslSocketDefaultConfig::SetOwnCertificateFilename(const CharArray_t& fileName) {
    return DefaultImpl("SslSocketDefaultConfig")->SetOwnCertificateFilename(fileName);
}
int SslSocketDefaultConfig::SetPrivateKeyFilename(const CharArray_t& fileName) {
    return DefaultImpl("SslSocketDefaultConfig")->SetPrivateKeyFilename(fileName);
}
int SslSocketDefaultConfig::SetClientVerificationMode(ClientVerificationMode mode) {
    return DefaultImpl("SslSocketDefaultConfig")->SetClientVerificationMode(mode);
}
int SslSocketDefaultConfig::SetCACertificateFilename(const CharArray_t& fileName) {
    return DefaultImpl("SslSocketDefaultConfig")->SetCACertificateFilename(fileName);
}
int SslSocketDefaultConfig::SetPrivateKeyPassword(const CharArray_t& password) {
    return DefaultImpl("SslSocketConfig")->SetPrivateKeyPassword(password);
}
CharArray_t SslSocketDefaultConfig::GetPrivateKeyPassword() const {
    return DefaultImpl("SslSocketConfig")->GetPrivateKeyPassword();
}
unsigned long SslSocketDefaultConfig::FeedRandomFile(const CharArray_t& fileName,
                                                     unsigned long maxBytes) {
    return DefaultImpl("SslSocketDefaultConfig")->FeedRandomFile(fileName, maxBytes);
}
CharArray_t SslSocketDefaultConfig::GetLastRandomFilename() const {
    return DefaultImpl("SslSocketDefaultConfig")->GetLastRandomFilename();
}

}  // namespace QmSecSsl
