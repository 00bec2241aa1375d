#include "QmXpl/InetAddress_t.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "QmXpl/Message_t.h"
#include "QmXpl/SocketTimeoutException_t.h"
#include "QmXpl/UTF8_t.h"
#include "QmXpl/UnknownHostException_t.h"
#include "net/Net.h"

namespace QmXplNet {

using QmXplMsg::CreateError_t;
using QmXplMsg::CreateSystemError_t;

// --- conversions --------------------------------------------------------------------------------

InetAddress_t InetAddressAccess_t::FromSockaddr(const sockaddr* sa, socklen_t len, int* port) {
    InetAddress_t a;
    if (port) *port = 0;
    if (!sa) return a;
    if (sa->sa_family == AF_INET && len >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
        sockaddr_in in;
        std::memcpy(&in, sa, sizeof in);
        a.family_ = AF_INET;
        std::memcpy(a.bytes_, &in.sin_addr, 4);
        if (port) *port = ntohs(in.sin_port);
    } else if (sa->sa_family == AF_INET6 && len >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
        sockaddr_in6 in6;
        std::memcpy(&in6, sa, sizeof in6);
        if (port) *port = ntohs(in6.sin6_port);
        if (IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr)) {
            a.family_ = AF_INET;
            std::memcpy(a.bytes_, in6.sin6_addr.s6_addr + 12, 4);
        } else {
            a.family_ = AF_INET6;
            std::memcpy(a.bytes_, in6.sin6_addr.s6_addr, 16);
            a.scope_ = in6.sin6_scope_id;
        }
    }
    return a;
}

socklen_t InetAddressAccess_t::ToSockaddr(const InetAddress_t& address, int port,
                                          sockaddr_storage& out) {
    std::memset(&out, 0, sizeof out);
    if (address.family_ == AF_INET) {
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_port = htons(static_cast<uint16_t>(port));
        std::memcpy(&in.sin_addr, address.bytes_, 4);
        std::memcpy(&out, &in, sizeof in);
        return sizeof in;
    }
    if (address.family_ == AF_INET6) {
        sockaddr_in6 in6{};
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(static_cast<uint16_t>(port));
        std::memcpy(in6.sin6_addr.s6_addr, address.bytes_, 16);
        in6.sin6_scope_id = address.scope_;
        std::memcpy(&out, &in6, sizeof in6);
        return sizeof in6;
    }
    ThrowArgument("A null InetAddress_t has no socket address");
}

// --- InetAddress_t --------------------------------------------------------------------------

InetAddress_t::InetAddress_t() noexcept : family_(0), scope_(0), bytes_{} {}

bool InetAddress_t::operator==(const InetAddress_t& o) const noexcept {
    return family_ == o.family_ && scope_ == o.scope_ &&
           std::memcmp(bytes_, o.bytes_, family_ == AF_INET ? 4 : 16) == 0;
}

bool InetAddress_t::IsLoopback() const noexcept {
    if (family_ == AF_INET) return bytes_[0] == 127;
    if (family_ == AF_INET6) {
        static const unsigned char loop[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        return std::memcmp(bytes_, loop, 16) == 0;
    }
    return false;
}

bool InetAddress_t::IsAnyLocal() const noexcept {
    if (family_ == 0) return false;
    static const unsigned char zero[16] = {};
    return std::memcmp(bytes_, zero, family_ == AF_INET ? 4 : 16) == 0;
}

std::vector<unsigned char> InetAddress_t::GetAddress() const {
    if (family_ == 0) return {};
    return std::vector<unsigned char>(bytes_, bytes_ + (family_ == AF_INET ? 4 : 16));
}

namespace {

// getnameinfo on the address; flags NI_NUMERICHOST for the text, NI_NAMEREQD for a name.
bool NameInfo(const InetAddress_t& a, int flags, std::string& out) {
    sockaddr_storage ss;
    socklen_t len = InetAddressAccess_t::ToSockaddr(a, 0, ss);
    char host[NI_MAXHOST];
    int rc = getnameinfo(reinterpret_cast<const sockaddr*>(&ss), len, host, sizeof host, nullptr, 0,
                         flags);
    if (rc != 0) return false;
    out = host;
    return true;
}

}  // namespace

String_t InetAddress_t::GetHostAddress() const {
    if (family_ == 0) return String_t();
    std::string text;
    if (NameInfo(*this, NI_NUMERICHOST, text)) return String_t(text);
    // getnameinfo cannot fail for a numeric conversion of a valid address; inet_ntop as a net.
    char buf[INET6_ADDRSTRLEN] = "";
    inet_ntop(family_, bytes_, buf, sizeof buf);
    return String_t(buf);
}

String_t InetAddress_t::GetHostName() const {
    if (family_ == 0) return String_t();
    if (!name_.IsEmpty()) return name_;
    std::string text;
    if (NameInfo(*this, NI_NAMEREQD, text)) return String_t(text);
    return GetHostAddress();
}

std::vector<InetAddress_t> InetAddress_t::GetAllByName(const String_t& host) {
    if (host.IsEmpty()) {
        ThrowArgument("InetAddress_t: empty host name");
    }
    QmXplStr::UTF8_t name(host);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address, not one per socket type
    addrinfo* res = nullptr;
    int rc = getaddrinfo(name.c_str(), nullptr, &hints, &res);
    if (rc != 0) {
        String_t what = String_t("Could not resolve host '") + host + "'";
        if (rc == EAI_SYSTEM) throw UnknownHostException_t(CreateSystemError_t(errno, what));
        throw UnknownHostException_t(CreateError_t(what + ": " + gai_strerror(rc)));
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(res, &freeaddrinfo);
    // A numeric text is an address, not a name to keep.
    in6_addr probe;
    bool numeric = inet_pton(AF_INET, name.c_str(), &probe) == 1 ||
                   inet_pton(AF_INET6, name.c_str(), &probe) == 1 ||
                   std::strchr(name.c_str(), '%') != nullptr;
    std::vector<InetAddress_t> out;
    for (addrinfo* ai = res; ai; ai = ai->ai_next) {
        InetAddress_t a = InetAddressAccess_t::FromSockaddr(ai->ai_addr, ai->ai_addrlen);
        if (a.IsNull()) continue;
        if (!numeric) a.name_ = host;
        bool seen = false;
        for (const auto& b : out) seen = seen || b == a;
        if (!seen) out.push_back(a);
    }
    if (out.empty()) {
        throw UnknownHostException_t(
            CreateError_t(String_t("Could not resolve host '") + host + "': no IP address"));
    }
    return out;
}

InetAddress_t InetAddress_t::GetByName(const String_t& host) { return GetAllByName(host).front(); }

InetAddress_t FirstInterfaceAddress() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        TraceFailure(std::string("getifaddrs failed: ") + std::strerror(errno), __FILE__, __LINE__);
        return InetAddress_t();
    }
    std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, &freeifaddrs);
    InetAddress_t best;
    int bestRank = 0;  // 3: IPv4, 2: global IPv6, 1: link-local IPv6
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || !(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
        socklen_t len =
            i->ifa_addr->sa_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        InetAddress_t a = InetAddressAccess_t::FromSockaddr(i->ifa_addr, len);
        if (a.IsNull() || a.IsLoopback() || a.IsAnyLocal()) continue;
        int rank = 3;
        if (a.GetFamily() == AF_INET6) {
            std::vector<unsigned char> b = a.GetAddress();
            rank = (b[0] == 0xfe && (b[1] & 0xc0) == 0x80) ? 1 : 2;
        }
        if (rank > bestRank) {
            best = a;
            bestRank = rank;
        }
    }
    return best;
}

InetAddress_t LocalHostFor(const std::string& hostName) {
    String_t name(hostName.empty() ? std::string("localhost") : hostName);
    try {
        InetAddress_t a = InetAddress_t::GetByName(name);
        InetAddressAccess_t::SetName(a, name);
        return a;
    } catch (const QmXplMsg::Exception_t& e) {
        TraceFailure(
            std::string("Host name does not resolve, using an interface address: ") + e.what(),
            __FILE__, __LINE__);
    }
    InetAddress_t a = FirstInterfaceAddress();
    if (a.IsNull()) {
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a = InetAddressAccess_t::FromSockaddr(reinterpret_cast<const sockaddr*>(&in), sizeof in);
    }
    InetAddressAccess_t::SetName(a, name);
    return a;
}

InetAddress_t InetAddress_t::GetLocalHost() {
    char buf[256] = "";
    if (gethostname(buf, sizeof buf - 1) != 0) {
        TraceFailure(std::string("gethostname failed: ") + std::strerror(errno), __FILE__,
                     __LINE__);
        buf[0] = '\0';
    }
    buf[sizeof buf - 1] = '\0';
    return LocalHostFor(buf);
}

}  // namespace QmXplNet
