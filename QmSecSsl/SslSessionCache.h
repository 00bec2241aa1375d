// The client side's cache of TLS sessions, keyed by the caller's session key.
#pragma once

#include <map>
#include <string>

#include "OpenSsl.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/Mutex_t.h"

namespace QmSecSsl {

// One per process. Maps a session key (the bytes up to the first zero byte) to at most one
// resumable session. A stored session is handed out once: the connection that resumes it stores
// the session it ends with. Every member may be called from any thread; none blocks on the network.
class SslSessionCache {
  public:
    static SslSessionCache& GetInstance();

    // Takes the session stored under key out of the cache; null when there is none.
    QmSecCore::ossl::SslSession GetSession(const QmXplArray::CharArray_t& key);
    // Stores session under key, releasing the session stored there before.
    void SetSession(const QmXplArray::CharArray_t& key, QmSecCore::ossl::SslSession session);
    // Forgets every session (certificates changed: the next connections shake hands in full).
    void Clear();

  private:
    SslSessionCache();
    ~SslSessionCache();
    static std::string KeyOf(const QmXplArray::CharArray_t& key);

    QmXplSync::Mutex_t mutex_;
    std::map<std::string, QmSecCore::ossl::SslSession> sessions_;
};

}  // namespace QmSecSsl
