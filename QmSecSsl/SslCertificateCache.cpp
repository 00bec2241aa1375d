#include "SslCertificateCache.h"

namespace QmSecSsl {

using QmSecCore::Key;
using QmSecCore::X509Certificate;
using QmXplStr::String_t;

SslCertificateCache& SslCertificateCache::GetInstance() {
    // Never destroyed: handshakes on other threads may use it while the process ends.
    static SslCertificateCache* instance = new SslCertificateCache();
    return *instance;
}

bool SslCertificateCache::Get(const String_t& group, const String_t& alias,
                              X509Certificate& certificate, Key& key) {
    QmXplSync::ReadLock_t lock(lock_);
    if (!valid_ || alias_ != alias || group_ != group) return false;
    certificate = certificate_;
    key = key_;
    return true;
}

void SslCertificateCache::Put(const String_t& group, const String_t& alias,
                              const X509Certificate& certificate, const Key& key) {
    QmXplSync::WriteLock_t lock(lock_);
    group_ = group;
    alias_ = alias;
    certificate_ = certificate;
    key_ = key;
    valid_ = true;
}

void SslCertificateCache::Invalidate() {
    QmXplSync::WriteLock_t lock(lock_);
    valid_ = false;
    certificate_ = X509Certificate();
    key_ = Key();
}

}  // namespace QmSecSsl
