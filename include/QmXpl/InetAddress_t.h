// IPv4 and IPv6 addresses with an optional host name.
#pragma once

#include <vector>

#include "QmXpl/Export.h"
#include "QmXpl/String_t.h"

namespace QmXplNet {

using QmXplStr::String_t;

struct InetAddressAccess_t;

// An IP address (IPv4 or IPv6, with the scope of a link-local IPv6 address) and the host name it
// was found by, if any. A value: copies are independent; a default-constructed address is null
// and answers IsNull(). An IPv4 address seen through an IPv6 socket (::ffff:a.b.c.d) is kept as
// the plain IPv4 address, so it reads and compares the same on every kind of socket.
class QMXPL_API InetAddress_t {
  public:
    InetAddress_t() noexcept;

    // This machine: its host name and the first address the name resolves to. Never throws for
    // a name that does not resolve (or a machine without one): the address is then the first
    // non-loopback interface address that is up (IPv4 preferred), or 127.0.0.1; the name is
    // the host name, or "localhost" when the machine has none.
    static InetAddress_t GetLocalHost();
    // The first address of host (a name or a numeric IPv4 or IPv6 text). A name is kept as the
    // address's host name; a numeric text keeps none. Throws IllegalArgumentError_t for a null
    // or empty host and UnknownHostException_t when it cannot be resolved.
    static InetAddress_t GetByName(const String_t& host);
    // Every address of host, in the resolver's order of preference (no duplicates). Throws as
    // GetByName.
    static std::vector<InetAddress_t> GetAllByName(const String_t& host);

    // The host name: the one the address was found by, else the result of a reverse lookup,
    // else the numeric text. A null address gives the null string.
    String_t GetHostName() const;
    // The numeric text: dotted IPv4 ("127.0.0.1") or IPv6 ("::1", "fe80::1%eth0"). A null
    // address gives the null string.
    String_t GetHostAddress() const;
    // The raw address in network order: 4 bytes for IPv4, 16 for IPv6, none when null.
    std::vector<unsigned char> GetAddress() const;
    // AF_INET or AF_INET6; 0 for a null address.
    int GetFamily() const noexcept { return family_; }
    // 127.0.0.0/8 or ::1.
    bool IsLoopback() const noexcept;
    // The wildcard address (0.0.0.0 or ::).
    bool IsAnyLocal() const noexcept;
    bool IsNull() const noexcept { return family_ == 0; }

    // Equal when family, address and scope are equal; the host names do not count.
    bool operator==(const InetAddress_t& o) const noexcept;
    bool operator!=(const InetAddress_t& o) const noexcept { return !(*this == o); }

  private:
    friend struct InetAddressAccess_t;
    int family_;
    unsigned int scope_;
    unsigned char bytes_[16];
    String_t name_;
};

}  // namespace QmXplNet
