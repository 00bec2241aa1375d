#include "OptionsImpl.h"

#include "QmSecCore/CoreNames.h"
#include "QmSecSsl/SslNames.h"
#include "QmXpl/ConfigNamespace_t.h"
#include "QmXpl/IOException_t.h"
#include "SslPolicy.h"
#include "Throw.h"

namespace QmSecSsl {

using QmSecCoreTrc::kLevelOperation;
using QmSecCoreTrc::kSslArea;
using QmXplArray::CharArray_t;
using QmXplMsg::IllegalArgumentError_t;
using QmXplStr::String_t;

SslConnection::OptionsImpl& SslConnection::OptionsImpl::operator=(const OptionsImpl& other) {
    if (this != &other) {
        password_.Wipe();
        alias_ = other.alias_;
        certificateFile_ = other.certificateFile_;
        privateKeyFile_ = other.privateKeyFile_;
        password_ = other.password_;
        useKeyStore_ = other.useKeyStore_;
        group_ = other.group_;
        level_ = other.level_;
        levelFromConfiguration_ = other.levelFromConfiguration_;
        mode_ = other.mode_;
        modeFromConfiguration_ = other.modeFromConfiguration_;
    }
    return *this;
}

SslConnection::OptionsImpl::~OptionsImpl() { password_.Wipe(); }

void SslConnection::OptionsImpl::SetOwnCertificate(const String_t& alias) {
    QMSEC_BLOCK(kSslArea.proc, "SslConnection::OptionsImpl::SetOwnCertificate()");
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "Parameters: SetOwnCertificate(" << alias << ")");
    alias_ = alias;
    useKeyStore_ = true;
}

void SslConnection::OptionsImpl::SetOwnCertificate(const CharArray_t& certificateFile,
                                                   const CharArray_t& privateKeyFile,
                                                   const CharArray_t& privateKeyPassword) {
    QMSEC_BLOCK(kSslArea.proc, "SslConnection::OptionsImpl::SetOwnCertificate()");
    // The password is never traced.
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "Parameters: SetOwnCertificate(" << certificateFile << ", " << privateKeyFile
                                                 << ", *****)");
    if (certificateFile.IsEmpty() || privateKeyFile.IsEmpty() || !certificateFile[0] ||
        !privateKeyFile[0])
        QMSEC_THROW_MSG(kSslArea, IllegalArgumentError_t, 102, );
    certificateFile_ = certificateFile;
    privateKeyFile_ = privateKeyFile;
    password_.Wipe();
    password_ = privateKeyPassword;
    useKeyStore_ = false;
}

void SslConnection::OptionsImpl::SetEncryptionLevel(int level) {
    QMSEC_BLOCK(kSslArea.proc, "SslConnection::OptionsImpl::SetEncryptionLevel()");
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "Parameters: SetEncryptionLevel(" << level << ")");
    if (static_cast<unsigned>(level) > 4u)
        QMSEC_THROW_MSG(kSslArea, IllegalArgumentError_t, 103, << level);
    if (level == 0) return;
    level_ = level;
    levelFromConfiguration_ = false;
}

void SslConnection::OptionsImpl::SetClientVerificationMode(int mode) {
    QMSEC_BLOCK(kSslArea.proc, "SslConnection::OptionsImpl::SetClientVerificationMode()");
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "Parameters: SetClientVerificationMode(" << mode << ")");
    if (static_cast<unsigned>(mode) > 2u)
        QMSEC_THROW_MSG(kSslArea, IllegalArgumentError_t, 104, << mode);
    if (mode == 0) return;
    mode_ = mode;
    modeFromConfiguration_ = false;
}

void SslConnection::OptionsImpl::SetQmResourceGroup(const String_t& group) {
    QMSEC_BLOCK(kSslArea.proc, "SslConnection::OptionsImpl::SetQmResourceGroup()");
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "Parameters: SetQmResourceGroup(" << group << ")");
    group_ = group;
}

int SslConnection::OptionsImpl::ReadFromConfiguration(const char* key, const char* const* keywords,
                                                      int count, int current,
                                                      const char* traceLabel) {
    String_t value = QmXplConfig::ConfigNamespace_t::Open(String_t(kSslNamespace), group_)
                         .GetValue(String_t(key));
    int result = current;
    if (!value.IsNull() && !value.IsEmpty()) {
        int i = 0;
        while (i < count && !policy::IsKeyword(value, keywords[i])) ++i;
        if (i < count)
            result = i + 1;
        else
            QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                        "Read unknown keyword for " << key << ": " << value);
    }
    QMSEC_TRACE(kSslArea.operation, kLevelOperation, traceLabel << result);
    return result;
}

int SslConnection::OptionsImpl::GetEncryptionLevel() {
    static const char* const kLevels[] = {"NONE", "EXPORT", "FULL", "BEST"};
    if (levelFromConfiguration_)
        level_ =
            ReadFromConfiguration("ENCRYPTION_LEVEL", kLevels, 4, level_, "Encryption Level is: ");
    return level_;
}

int SslConnection::OptionsImpl::GetClientVerificationMode() {
    static const char* const kModes[] = {"ANONYMOUS", "REQUIRECERTIFICATE"};
    if (modeFromConfiguration_)
        mode_ = ReadFromConfiguration("CLIENT_VERIFICATION_MODE", kModes, 2, mode_,
                                      "Client Verification Mode is: ");
    return mode_;
}

const String_t& SslConnection::OptionsImpl::GetAlias() {
    if (alias_.IsNull() || alias_.IsEmpty())
        alias_ = QmXplConfig::ConfigNamespace_t::Open(String_t(QmSecCore::kCoreNamespace), group_)
                     .GetValue(String_t(QmSecCore::kCoreIdKey));
    return alias_;
}

}  // namespace QmSecSsl
