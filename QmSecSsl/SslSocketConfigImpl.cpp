#include "SslSocketConfigImpl.h"

#include <string>

#include "QmSecSsl/SslSocketConfig.h"
#include "SecretWiper.h"
#include "SslPolicy.h"

namespace QmSecSsl {

using QmSecCoreTrc::kLevelOperation;
using QmSecCoreTrc::kSslArea;
using QmXplArray::CharArray_t;
using QmXplStr::String_t;
using QmXplSync::MutexLock_t;

namespace {

// The number of the keyword value of key names (i + 1 for keywords[i]); 0 when absent, empty
// or unknown (traced).
int KeywordValue(const QmXplConfig::Configuration_t& config, const CharArray_t& key,
                 const CharArray_t* const* keywords, int count) {
    String_t value = config.GetAttrValue(String_t(policy::FileName(key)));
    if (value.IsNull() || value.IsEmpty()) return 0;
    for (int i = 0; i < count; ++i)
        if (policy::IsKeyword(value, policy::FileName(*keywords[i]).c_str())) return i + 1;
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "Read unknown Keyword for " << policy::FileName(key).c_str() << ": " << value);
    return 0;
}

}  // namespace

SslSocketConfigImpl::~SslSocketConfigImpl() = default;

CharArray_t SslSocketConfigImpl::ReadFileName(const QmXplConfig::Configuration_t& config,
                                              const CharArray_t& key) {
    String_t value = config.GetAttrValue(String_t(policy::FileName(key)));
    if (value.IsNull() || value.IsEmpty()) return {};
    std::string text = value.ToUtf8();
    CharArray_t result(text.c_str(), static_cast<int>(text.size() + 1));
    // The default reads its key password this way too.
    QmSecCore::detail::WipeSecret(text);
    return result;
}

int SslSocketConfigImpl::SetOwnCertificateFilename(const CharArray_t& fileName) {
    MutexLock_t lock(lock_);
    ownCertificateFile_ = fileName;
    return 0;
}

int SslSocketConfigImpl::SetPrivateKeyFilename(const CharArray_t& fileName) {
    MutexLock_t lock(lock_);
    privateKeyFile_ = fileName;
    return 0;
}

int SslSocketConfigImpl::SetEncryptionLevel(int level) {
    MutexLock_t lock(lock_);
    level_ = level;
    return 0;
}

int SslSocketConfigImpl::SetClientVerificationMode(int mode) {
    MutexLock_t lock(lock_);
    mode_ = mode;
    return 0;
}

int SslSocketConfigImpl::ReadConfig(const QmXplConfig::Configuration_t& config) {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketConfigImpl::ReadConfig()");
    CharArray_t file = ReadFileName(config, SslSocketConfig::SSL_OWN_CERTIFICATE_FILENAME);
    if (!file.IsEmpty()) SetOwnCertificateFilename(file);
    // In the order of the levels' numbers.
    static const CharArray_t* const kLevels[] = {
        &SslSocketConfig::SSL_EL_NONE, &SslSocketConfig::SSL_EL_EXPORT,
        &SslSocketConfig::SSL_EL_FULL, &SslSocketConfig::SSL_EL_BEST};
    if (int level = KeywordValue(config, SslSocketConfig::SSL_ENCRYPTION_LEVEL, kLevels, 4))
        SetEncryptionLevel(level);
    static const CharArray_t* const kModes[] = {&SslSocketConfig::SSL_CVM_ANONYMOUS,
                                                &SslSocketConfig::SSL_CVM_REQUIRECERTIFICATE};
    if (int mode = KeywordValue(config, SslSocketConfig::SSL_CLIENT_VERIFICATION_MODE, kModes, 2))
        SetClientVerificationMode(mode);
    file = ReadFileName(config, SslSocketConfig::SSL_PRIVATE_KEY_FILENAME);
    if (!file.IsEmpty()) SetPrivateKeyFilename(file);
    return 0;
}

CharArray_t SslSocketConfigImpl::GetOwnCertificateFilename() const {
    MutexLock_t lock(lock_);
    return ownCertificateFile_;
}

CharArray_t SslSocketConfigImpl::GetPrivateKeyFilename() const {
    MutexLock_t lock(lock_);
    return privateKeyFile_;
}

int SslSocketConfigImpl::GetEncryptionLevel() const {
    MutexLock_t lock(lock_);
    return level_;
}

int SslSocketConfigImpl::GetClientVerificationMode() const {
    MutexLock_t lock(lock_);
    return mode_;
}

}  // namespace QmSecSsl
