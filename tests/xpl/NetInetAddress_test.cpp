#include <sys/socket.h>

#include <gtest/gtest.h>

#include "QmXpl/InetAddress_t.h"
#include "QmXpl/Message_t.h"
#include "QmXpl/UnknownHostException_t.h"
#include "net/Net.h"

using QmXplNet::InetAddress_t;
using QmXplStr::String_t;

TEST(InetAddressTest, LocalHostHasANameAndAnAddress) {
    InetAddress_t local = InetAddress_t::GetLocalHost();
    EXPECT_FALSE(local.IsNull());
    EXPECT_FALSE(local.GetHostName().IsEmpty());
    String_t text = local.GetHostAddress();
    ASSERT_FALSE(text.IsEmpty());
    // The text is a valid numeric address of the same value.
    EXPECT_EQ(InetAddress_t::GetByName(text), local);
    EXPECT_TRUE(local.GetFamily() == AF_INET || local.GetFamily() == AF_INET6);
}

TEST(InetAddressTest, LocalHostWhoseNameDoesNotResolveFallsBack) {
    InetAddress_t a = QmXplNet::LocalHostFor("no-such-host.invalid");
    EXPECT_FALSE(a.IsNull());
    EXPECT_FALSE(a.GetHostAddress().IsEmpty());
    EXPECT_EQ(a.GetHostName(), String_t("no-such-host.invalid"));
    // Prefers an interface address over the loopback when there is one.
    InetAddress_t itf = QmXplNet::FirstInterfaceAddress();
    if (!itf.IsNull()) {
        EXPECT_EQ(a, itf);
        EXPECT_FALSE(itf.IsLoopback());
    } else {
        EXPECT_EQ(a.GetHostAddress(), String_t("127.0.0.1"));
    }
    // No host name at all still gives a name.
    EXPECT_FALSE(QmXplNet::LocalHostFor("").GetHostName().IsEmpty());
}

TEST(InetAddressTest, NumericIPv4) {
    InetAddress_t a = InetAddress_t::GetByName(String_t("127.0.0.1"));
    EXPECT_TRUE(a.IsLoopback());
    EXPECT_FALSE(a.IsAnyLocal());
    EXPECT_EQ(a.GetFamily(), AF_INET);
    EXPECT_EQ(a.GetHostAddress(), String_t("127.0.0.1"));
    EXPECT_EQ(a.GetAddress(), (std::vector<unsigned char>{127, 0, 0, 1}));
    InetAddress_t b = InetAddress_t::GetByName(String_t("192.0.2.77"));
    EXPECT_FALSE(b.IsLoopback());
    EXPECT_EQ(b.GetAddress(), (std::vector<unsigned char>{192, 0, 2, 77}));
    EXPECT_EQ(b.GetHostAddress(), String_t("192.0.2.77"));
    EXPECT_NE(a, b);
    EXPECT_TRUE(InetAddress_t::GetByName(String_t("127.8.9.10")).IsLoopback());
    EXPECT_TRUE(InetAddress_t::GetByName(String_t("0.0.0.0")).IsAnyLocal());
}

TEST(InetAddressTest, NumericIPv6) {
    InetAddress_t a = InetAddress_t::GetByName(String_t("::1"));
    EXPECT_EQ(a.GetFamily(), AF_INET6);
    EXPECT_TRUE(a.IsLoopback());
    EXPECT_EQ(a.GetHostAddress(), String_t("::1"));
    InetAddress_t b = InetAddress_t::GetByName(String_t("2001:db8:0:0:0:0:0:1"));
    EXPECT_EQ(b.GetHostAddress(), String_t("2001:db8::1"));
    EXPECT_FALSE(b.IsLoopback());
    ASSERT_EQ(b.GetAddress().size(), 16u);
    EXPECT_EQ(b.GetAddress()[0], 0x20);
    EXPECT_EQ(b.GetAddress()[15], 0x01);
    // An IPv4-mapped address is the IPv4 address.
    InetAddress_t m = InetAddress_t::GetByName(String_t("::ffff:127.0.0.1"));
    EXPECT_EQ(m, InetAddress_t::GetByName(String_t("127.0.0.1")));
}

TEST(InetAddressTest, NamesAreKeptAndDoNotCountForEquality) {
    InetAddress_t byName = InetAddress_t::GetByName(String_t("localhost"));
    EXPECT_TRUE(byName.IsLoopback());
    EXPECT_EQ(byName.GetHostName(), String_t("localhost"));
    bool hasV4 = false;
    for (const auto& a : InetAddress_t::GetAllByName(String_t("localhost"))) {
        EXPECT_TRUE(a.IsLoopback());
        hasV4 = hasV4 || a == InetAddress_t::GetByName(String_t("127.0.0.1"));
    }
    EXPECT_TRUE(hasV4);
}

TEST(InetAddressTest, FailuresAndNullAddress) {
    EXPECT_THROW(InetAddress_t::GetByName(String_t("no-such-host.invalid")),
                 QmXplNet::UnknownHostException_t);
    EXPECT_THROW(InetAddress_t::GetByName(String_t("")), QmXplMsg::IllegalArgumentError_t);
    EXPECT_THROW(InetAddress_t::GetByName(String_t()), QmXplMsg::IllegalArgumentError_t);
    InetAddress_t null;
    EXPECT_TRUE(null.IsNull());
    EXPECT_TRUE(null.GetHostAddress().IsNull());
    EXPECT_TRUE(null.GetHostName().IsNull());
    EXPECT_TRUE(null.GetAddress().empty());
    EXPECT_FALSE(null.IsLoopback());
    EXPECT_EQ(null, InetAddress_t());
    EXPECT_NE(null, InetAddress_t::GetByName(String_t("0.0.0.0")));
}
