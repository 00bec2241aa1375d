// The values behind SslServerConnection::Options and SslClientConnection::Options.
#pragma once

#include "QmSecSsl/SslConnection.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/String_t.h"

namespace QmSecSsl {

// Plain values; copies are independent. The key password is wiped when replaced or destroyed.
class SslConnection::OptionsImpl {
  public:
    OptionsImpl() = default;
    OptionsImpl(const OptionsImpl& other) = default;
    OptionsImpl& operator=(const OptionsImpl& other);
    ~OptionsImpl();

    void SetOwnCertificate(const QmXplStr::String_t& alias);
    // IllegalArgumentError_t 102 when a file name is empty.
    void SetOwnCertificate(const QmXplArray::CharArray_t& certificateFile,
                           const QmXplArray::CharArray_t& privateKeyFile,
                           const QmXplArray::CharArray_t& privateKeyPassword);
    // IllegalArgumentError_t 103 outside 0..4.
    void SetEncryptionLevel(int level);
    // IllegalArgumentError_t 104 outside 0..2.
    void SetClientVerificationMode(int mode);
    void SetQmResourceGroup(const QmXplStr::String_t& group);

    // The level, from "ENCRYPTION_LEVEL" of "sec.core.ssl" while no setter fixed it.
    int GetEncryptionLevel();
    // The mode, from "CLIENT_VERIFICATION_MODE" while no setter fixed it.
    int GetClientVerificationMode();
    // The alias, "CORE_ID" of "sec.core" when none was set (then kept).
    const QmXplStr::String_t& GetAlias();

    bool UsesKeyStore() const noexcept { return useKeyStore_; }
    const QmXplStr::String_t& GetResourceGroup() const noexcept { return group_; }
    const QmXplArray::CharArray_t& GetCertificateFile() const noexcept { return certificateFile_; }
    const QmXplArray::CharArray_t& GetPrivateKeyFile() const noexcept { return privateKeyFile_; }
    const QmXplArray::CharArray_t& GetPrivateKeyPassword() const noexcept { return password_; }
    // Wipes the password once the key it opens has been read.
    void ForgetPassword() noexcept { password_.Wipe(); }

  private:
    // Reads key of "sec.core.ssl" and maps it through keywords (value i+1 for keywords[i]).
    int ReadFromConfiguration(const char* key, const char* const* keywords, int count, int current,
                              const char* traceLabel);

    QmXplStr::String_t alias_;
    QmXplArray::CharArray_t certificateFile_;
    QmXplArray::CharArray_t privateKeyFile_;
    QmXplArray::CharArray_t password_;
    bool useKeyStore_ = true;
    QmXplStr::String_t group_;
    int level_ = SslConnection::eEncryptionFull;
    bool levelFromConfiguration_ = true;
    int mode_ = SslConnection::eRequireCertificate;
    bool modeFromConfiguration_ = true;
};

}  // namespace QmSecSsl

// The members that SslServerConnection::Options and SslClientConnection::Options share, each a
// forward to the body: written once, expanded in each role's source with its Options class.
#define QMSEC_SSL_OPTIONS_MEMBERS(Options)                                                   \
    Options::Options() : body_(new SslConnection::OptionsImpl()) {}                          \
    Options::Options(const Options& other)                                                   \
        : body_(new SslConnection::OptionsImpl(*other.body_)) {}                             \
    Options& Options::operator=(const Options& other) {                                      \
        *body_ = *other.body_;                                                               \
        return *this;                                                                        \
    }                                                                                        \
    Options::~Options() { delete body_; }                                                    \
    Options& Options::SetOwnCertificate(const QmXplStr::String_t& alias) {                   \
        body_->SetOwnCertificate(alias);                                                     \
        return *this;                                                                        \
    }                                                                                        \
    Options& Options::SetOwnCertificate(const QmXplArray::CharArray_t& certificateFile,      \
                                        const QmXplArray::CharArray_t& privateKeyFile,       \
                                        const QmXplArray::CharArray_t& privateKeyPassword) { \
        body_->SetOwnCertificate(certificateFile, privateKeyFile, privateKeyPassword);       \
        return *this;                                                                        \
    }                                                                                        \
    Options& Options::SetEncryptionLevel(SslConnection::EncryptionLevel level) {             \
        body_->SetEncryptionLevel(level);                                                    \
        return *this;                                                                        \
    }                                                                                        \
    Options& Options::SetQmResourceGroup(const QmXplStr::String_t& group) {                  \
        body_->SetQmResourceGroup(group);                                                    \
        return *this;                                                                        \
    }
