#include "SslSessionCache.h"

#include <cstring>

#include "Trace.h"

namespace QmSecSsl {

using QmSecCore::ossl::SslSession;
using QmSecCoreTrc::kLevelOperation;
using QmSecCoreTrc::kSslArea;

SslSessionCache& SslSessionCache::GetInstance() {
    QMSEC_BLOCK(kSslArea.proc, "SslSessionCache::GetInstance()");
    // Made on first use and never destroyed: connections on other threads and the configuration
    // service may still use it while the process ends.
    static SslSessionCache* instance = new SslSessionCache();
    return *instance;
}

SslSessionCache::SslSessionCache() { QMSEC_BLOCK(kSslArea.proc, "SslSessionCache Constructor"); }

SslSessionCache::~SslSessionCache() {
    QMSEC_BLOCK(kSslArea.proc, "SslSessionCache Destructor");
    Clear();
}

std::string SslSessionCache::KeyOf(const QmXplArray::CharArray_t& key) {
    const char* data = key.GetData();
    size_t size = static_cast<size_t>(key.GetSize());
    const void* zero = size ? std::memchr(data, 0, size) : nullptr;
    return std::string(data, zero ? static_cast<const char*>(zero) - data : size);
}

SslSession SslSessionCache::GetSession(const QmXplArray::CharArray_t& key) {
    QMSEC_BLOCK(kSslArea.proc, "SslSessionCache::GetSession()");
    QmXplSync::MutexLock_t lock(mutex_);
    auto it = sessions_.find(KeyOf(key));
    if (it == sessions_.end()) return nullptr;
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "SslSessionCache::GetSession: got stored session");
    SslSession session = std::move(it->second);
    sessions_.erase(it);
    return session;
}

void SslSessionCache::SetSession(const QmXplArray::CharArray_t& key, SslSession session) {
    QMSEC_BLOCK(kSslArea.proc, "SslSessionCache::SetSession()");
    SslSession old;  // released outside the lock
    QmXplSync::MutexLock_t lock(mutex_);
    auto [it, inserted] = sessions_.try_emplace(KeyOf(key));
    old = std::exchange(it->second, std::move(session));
    if (inserted)
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "SslSessionCache::SetSession(): Set operation succeeded");
    else
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "SslSessionCache::SetSession(): Replaced old session with new one");
}

void SslSessionCache::Clear() {
    QMSEC_BLOCK(kSslArea.proc, "SslSessionCache::Clear()");
    std::map<std::string, SslSession> old;
    QmXplSync::MutexLock_t lock(mutex_);
    old.swap(sessions_);
}

}  // namespace QmSecSsl
