// The node's own certificate and key for TLS, read from the key store once and kept.
#pragma once

#include "QmSecCore/Key.h"
#include "QmSecCore/X509Certificate.h"
#include "QmXpl/Mutex_t.h"
#include "QmXpl/RwLock_t.h"
#include "QmXpl/String_t.h"

namespace QmSecSsl {

// One entry per process: the certificate and private key last read for (resource group, alias).
// Reading the key store decrypts the key file, which is the costly part of a connection's set-up;
// the entry is dropped when the configuration announces a new own certificate. Any thread.
class SslCertificateCache {
  public:
    static SslCertificateCache& GetInstance();

    // The cached pair for group and alias, false when the cache holds another or none.
    bool Get(const QmXplStr::String_t& group, const QmXplStr::String_t& alias,
             QmSecCore::X509Certificate& certificate, QmSecCore::Key& key);
    // Makes the pair the one entry (whether or not caching is on, as the next reader decides).
    void Put(const QmXplStr::String_t& group, const QmXplStr::String_t& alias,
             const QmSecCore::X509Certificate& certificate, const QmSecCore::Key& key);
    void Invalidate();

    // Serialises reads of the key store by connections, so that concurrent handshakes do not
    // decrypt the same key file at once.
    QmXplSync::Mutex_t& LoadLock() noexcept { return loadLock_; }

  private:
    SslCertificateCache() = default;

    QmXplSync::RwLock_t lock_;
    QmXplSync::Mutex_t loadLock_;
    QmXplStr::String_t group_;
    QmXplStr::String_t alias_;
    QmSecCore::X509Certificate certificate_;
    QmSecCore::Key key_;
    bool valid_ = false;
};

}  // namespace QmSecSsl
