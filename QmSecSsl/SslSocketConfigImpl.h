// The body of SslSocketConfig: the values a socket sets over the default configuration.
#pragma once

#include "QmSecCore/ObjectImpl.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/Configuration_t.h"
#include "QmXpl/Mutex_t.h"
#include "Trace.h"

namespace QmSecSsl {

// Plain values; the setters only store them (the default configuration's also apply them).
// Every member may be called from any thread.
class SslSocketConfigImpl : public QmSecCore::ObjectImpl {
  public:
    SslSocketConfigImpl() = default;
    ~SslSocketConfigImpl() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kSslArea.proc, "SslSocketConfigImpl::DestroyThis()")

    virtual int SetOwnCertificateFilename(const QmXplArray::CharArray_t& fileName);
    virtual int SetPrivateKeyFilename(const QmXplArray::CharArray_t& fileName);
    virtual int SetEncryptionLevel(int level);
    virtual int SetClientVerificationMode(int mode);
    // The keys of SslSocketConfig, each through the setters above.
    virtual int ReadConfig(const QmXplConfig::Configuration_t& config);

    QmXplArray::CharArray_t GetOwnCertificateFilename() const;
    QmXplArray::CharArray_t GetPrivateKeyFilename() const;
    int GetEncryptionLevel() const;
    int GetClientVerificationMode() const;

  protected:
    // The value of key as a zero-terminated file name; empty when absent or empty.
    static QmXplArray::CharArray_t ReadFileName(const QmXplConfig::Configuration_t& config,
                                                const QmXplArray::CharArray_t& key);

    // Guards the fields here and those of derived bodies. Not recursive.
    mutable QmXplSync::Mutex_t lock_;
    QmXplArray::CharArray_t privateKeyFile_;
    QmXplArray::CharArray_t ownCertificateFile_;
    int level_ = 0;
    int mode_ = 0;
};

}  // namespace QmSecSsl
