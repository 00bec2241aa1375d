#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "QmXpl/IOException_t.h"
#include "QmXpl/InetAddress_t.h"
#include "QmXpl/Message_t.h"
#include "QmXpl/ServerSocket_t.h"
#include "QmXpl/SocketTimeoutException_t.h"
#include "QmXpl/Socket_t.h"

using QmXplIo::InputStream_t;
using QmXplIo::IOException_t;
using QmXplIo::OutputStream_t;
using QmXplNet::InetAddress_t;
using QmXplNet::ServerSocket_t;
using QmXplNet::Socket_t;
using QmXplNet::SocketTimeoutException_t;
using QmXplStr::String_t;

namespace {

struct Pair {
    ServerSocket_t server;
    Socket_t client;    // the end that connected
    Socket_t accepted;  // the end the server accepted
};

// The kernel completes the handshake from its backlog, so no thread is needed.
Pair MakePair(const char* bindAddress, const char* connectHost) {
    Pair p;
    p.server = ServerSocket_t(0, String_t(bindAddress));
    p.client = Socket_t(String_t(connectHost), p.server.GetLocalPort());
    p.accepted = p.server.Accept();
    return p;
}

bool Ipv6LoopbackAvailable() {
    try {
        ServerSocket_t s(0, String_t("::1"));
        return true;
    } catch (const IOException_t&) {
        return false;
    }
}

std::string Pattern(size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (auto& c : s) c = static_cast<char>(gen());
    return s;
}

// Reads until the stream ends or want bytes have come.
std::string ReadUpTo(const InputStream_t& in, size_t want) {
    std::string out;
    std::vector<char> buf(65536);
    while (out.size() < want) {
        int n = in.Read(buf.data(), static_cast<int>(std::min(buf.size(), want - out.size())));
        if (n < 0) break;
        out.append(buf.data(), static_cast<size_t>(n));
    }
    return out;
}

void WriteAll(const OutputStream_t& out, const std::string& data) {
    // Uneven pieces, so the receiver sees writes that do not line up with its reads.
    size_t pos = 0;
    size_t piece = 1;
    while (pos < data.size()) {
        size_t n = std::min(piece, data.size() - pos);
        out.Write(data.data() + pos, static_cast<int>(n));
        pos += n;
        piece = piece * 3 + 7;
        if (piece > 200000) piece = 1;
    }
}

// Sends data from a to b on one thread while b reads it on this one.
void Transfer(const Socket_t& from, const Socket_t& to, const std::string& data) {
    std::thread writer([&] { WriteAll(from.GetOutputStream(), data); });
    std::string got = ReadUpTo(to.GetInputStream(), data.size());
    writer.join();
    ASSERT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data) << "transferred bytes differ";
}

void SetAndReadBackEveryOption(const Socket_t& s) {
    s.SetKeepAlive(true);
    EXPECT_TRUE(s.GetKeepAlive());
    s.SetKeepAlive(false);
    EXPECT_FALSE(s.GetKeepAlive());
    s.SetKeepAlive(true);
    EXPECT_TRUE(s.GetKeepAlive());

    s.SetTcpNoDelay(true);
    EXPECT_TRUE(s.GetTcpNoDelay());
    s.SetTcpNoDelay(false);
    EXPECT_FALSE(s.GetTcpNoDelay());
    s.SetTcpNoDelay(true);
    EXPECT_TRUE(s.GetTcpNoDelay());

    // The kernel doubles the sizes (and clamps to its limits, which are far above these).
    s.SetReceiveBufferSize(96 * 1024);
    EXPECT_GE(s.GetReceiveBufferSize(), 96 * 1024);
    s.SetSendBufferSize(80 * 1024);
    EXPECT_GE(s.GetSendBufferSize(), 80 * 1024);

    EXPECT_EQ(s.GetSoLinger(), -1);  // off by default
    s.SetSoLinger(true, 7);
    EXPECT_EQ(s.GetSoLinger(), 7);
    s.SetSoLinger(true, 100000);
    EXPECT_EQ(s.GetSoLinger(), 65535);
    s.SetSoLinger(false, 3);
    EXPECT_EQ(s.GetSoLinger(), -1);

    EXPECT_EQ(s.GetSoTimeout(), 0);
    s.SetSoTimeout(60000);
    EXPECT_EQ(s.GetSoTimeout(), 60000);
}

class SocketPairTest : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        if (std::string(GetParam()) == "::1" && !Ipv6LoopbackAvailable())
            GTEST_SKIP() << "no IPv6 loopback on this machine";
    }
};

}  // namespace

TEST_P(SocketPairTest, OptionsReadBackAndDataFlowsBothWays) {
    Pair p = MakePair(GetParam(), GetParam());
    SetAndReadBackEveryOption(p.client);
    SetAndReadBackEveryOption(p.accepted);

    // One byte each way, including a byte with the top bit set.
    p.client.GetOutputStream().Write(0xA5);
    EXPECT_EQ(p.accepted.GetInputStream().Read(), 0xA5);
    p.accepted.GetOutputStream().Write(0x01);
    EXPECT_EQ(p.client.GetInputStream().Read(), 0x01);

    // 1 MiB each way: far more than the socket buffers hold, so writes must loop.
    std::string up = Pattern(1 << 20, 1);
    std::string down = Pattern(1 << 20, 2);
    Transfer(p.client, p.accepted, up);
    Transfer(p.accepted, p.client, down);
}

TEST_P(SocketPairTest, AddressesAndPortsMatchAcrossThePair) {
    Pair p = MakePair(GetParam(), GetParam());
    InetAddress_t expected = InetAddress_t::GetByName(String_t(GetParam()));
    EXPECT_EQ(p.client.GetPort(), p.server.GetLocalPort());
    EXPECT_EQ(p.accepted.GetLocalPort(), p.server.GetLocalPort());
    EXPECT_EQ(p.accepted.GetPort(), p.client.GetLocalPort());
    EXPECT_NE(p.client.GetLocalPort(), 0);
    EXPECT_EQ(p.client.GetInetAddress(), expected);
    EXPECT_EQ(p.client.GetLocalAddress(), expected);
    EXPECT_EQ(p.accepted.GetInetAddress(), expected);
    EXPECT_EQ(p.accepted.GetLocalAddress(), expected);
    EXPECT_EQ(p.accepted.GetRemoteAddress(), p.client.GetLocalAddress());
    EXPECT_EQ(p.accepted.GetRemotePort(), p.client.GetLocalPort());
    EXPECT_EQ(p.client.GetInetAddress().GetHostAddress(), String_t(GetParam()));
    EXPECT_TRUE(p.client.GetInetAddress().IsLoopback());
    EXPECT_EQ(p.server.GetInetAddress(), expected);
}

INSTANTIATE_TEST_SUITE_P(Loopback, SocketPairTest, ::testing::Values("127.0.0.1", "::1"),
                         [](const auto& info) {
                             return std::string(info.param) == "::1" ? "IPv6" : "IPv4";
                         });

TEST(SocketTest, ShutdownOutputIsEndOfStreamForThePeerOnly) {
    Pair p = MakePair("127.0.0.1", "127.0.0.1");
    OutputStream_t out = p.client.GetOutputStream();
    out.Write("abc", 3);
    p.client.ShutdownOutput();
    p.client.ShutdownOutput();  // repeating does nothing
    EXPECT_TRUE(p.client.IsOutputShutdown());
    EXPECT_EQ(ReadUpTo(p.accepted.GetInputStream(), 100), "abc");
    char c;
    EXPECT_EQ(p.accepted.GetInputStream().Read(&c, 1), -1);  // stays at the end
    EXPECT_THROW(out.Write("x", 1), IOException_t);

    // The other direction still works.
    p.accepted.GetOutputStream().Write("back", 4);
    p.accepted.GetOutputStream().Close();  // closing the stream shuts the output down
    EXPECT_EQ(ReadUpTo(p.client.GetInputStream(), 100), "back");
    EXPECT_FALSE(p.accepted.IsClosed());
}

TEST(SocketTest, ShutdownInputEndsReads) {
    Pair p = MakePair("127.0.0.1", "127.0.0.1");
    p.client.GetOutputStream().Write("pending", 7);
    p.accepted.GetInputStream().Close();
    EXPECT_TRUE(p.accepted.IsInputShutdown());
    char buf[16];
    EXPECT_EQ(p.accepted.GetInputStream().Read(buf, sizeof buf), -1);
    EXPECT_EQ(p.accepted.GetInputStream().Available(), 0);
}

TEST(SocketTest, PeerCloseReadsAsEndOfStream) {
    Pair p = MakePair("127.0.0.1", "127.0.0.1");
    p.accepted.GetOutputStream().Write("last", 4);
    p.accepted.Close();
    EXPECT_EQ(ReadUpTo(p.client.GetInputStream(), 100), "last");
}

TEST(SocketTest, AvailableCountsWhatHasArrived) {
    Pair p = MakePair("127.0.0.1", "127.0.0.1");
    InputStream_t in = p.accepted.GetInputStream();
    EXPECT_EQ(in.Available(), 0);
    p.client.GetOutputStream().Write("0123456789", 10);
    EXPECT_EQ(in.Read(), '0');  // blocks until the data is there
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (in.Available() < 9 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(in.Available(), 9);
}

TEST(SocketTest, ReadTimeoutThrowsAndTheSocketStaysUsable) {
    Pair p = MakePair("127.0.0.1", "127.0.0.1");
    p.accepted.SetSoTimeout(300);
    InputStream_t in = p.accepted.GetInputStream();
    char buf[8];
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(in.Read(buf, sizeof buf), SocketTimeoutException_t);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(290));
    EXPECT_LT(elapsed, std::chrono::seconds(60));
    // The timeout is an IOException_t for callers that do not tell them apart.
    EXPECT_THROW(in.Read(buf, sizeof buf), IOException_t);

    p.client.GetOutputStream().Write("ok", 2);
    EXPECT_EQ(ReadUpTo(in, 2), "ok");
}

TEST(SocketTest, ConnectingToAClosedPortFails) {
    int port;
    {
        ServerSocket_t s(0, String_t("127.0.0.1"));
        port = s.GetLocalPort();
        s.Close();
    }
    try {
        Socket_t s(String_t("127.0.0.1"), port);
        FAIL() << "connected to a closed port";
    } catch (const IOException_t& e) {
        EXPECT_NE(std::string(e.what()).find("refused"), std::string::npos) << e.what();
    }
    EXPECT_THROW(Socket_t(String_t("127.0.0.1"), port, 5000), IOException_t);
}

TEST(SocketTest, NameWithSeveralAddressesTriesEachOne) {
    // "localhost" may resolve to ::1 first; the listener takes only IPv4, so an IPv6 attempt is
    // refused and the next address must be tried.
    ServerSocket_t server(0, String_t("127.0.0.1"));
    Socket_t c(String_t("localhost"), server.GetLocalPort(), 20000);
    Socket_t a = server.Accept();
    EXPECT_EQ(c.GetInetAddress().GetHostAddress(), String_t("127.0.0.1"));
    EXPECT_EQ(c.GetInetAddress().GetHostName(), String_t("localhost"));
    c.GetOutputStream().Write(7);
    EXPECT_EQ(a.GetInputStream().Read(), 7);
}

TEST(SocketTest, WritingToAClosedPeerThrowsInsteadOfKillingTheProcess) {
    // Nothing here ignores SIGPIPE: without MSG_NOSIGNAL the process would die.
    Pair p = MakePair("127.0.0.1", "127.0.0.1");
    p.accepted.Close();
    std::string block(64 * 1024, 'x');
    OutputStream_t out = p.client.GetOutputStream();
    bool threw = false;
    for (int i = 0; i < 1000 && !threw; ++i) {
        try {
            out.Write(block.data(), static_cast<int>(block.size()));
        } catch (const IOException_t&) {
            threw = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(threw);
}

TEST(SocketTest, CloseIsIdempotentAndLaterCallsFail) {
    Pair p = MakePair("127.0.0.1", "127.0.0.1");
    InputStream_t in = p.client.GetInputStream();
    OutputStream_t out = p.client.GetOutputStream();
    Socket_t copy = p.client;
    p.client.Close();
    copy.Close();
    EXPECT_TRUE(copy.IsClosed());
    char c;
    EXPECT_THROW(in.Read(&c, 1), IOException_t);
    EXPECT_THROW(out.Write("x", 1), IOException_t);
    EXPECT_THROW(p.client.SetTcpNoDelay(true), IOException_t);
    EXPECT_THROW(p.client.GetKeepAlive(), IOException_t);
    EXPECT_THROW(p.client.GetSoTimeout(), IOException_t);
    EXPECT_THROW(p.client.GetInputStream(), IOException_t);
    EXPECT_THROW(p.client.ShutdownOutput(), IOException_t);
    // Closing streams of a closed socket is harmless.
    in.Close();
    out.Close();
    // The addresses stay readable.
    EXPECT_EQ(p.client.GetPort(), p.server.GetLocalPort());
    // The peer sees the end of the stream.
    EXPECT_EQ(p.accepted.GetInputStream().Read(&c, 1), -1);
}

TEST(SocketTest, CloseFromAnotherThreadEndsABlockedRead) {
    Pair p = MakePair("127.0.0.1", "127.0.0.1");
    std::atomic<int> outcome{0};  // 1: IOException_t, 2: returned
    std::thread reader([&] {
        char c;
        try {
            p.accepted.GetInputStream().Read(&c, 1);
            outcome = 2;
        } catch (const IOException_t&) {
            outcome = 1;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    p.accepted.Close();
    reader.join();
    EXPECT_EQ(outcome.load(), 1);
}

TEST(SocketTest, StreamsKeepTheSocketAlive) {
    InputStream_t in;
    OutputStream_t peerOut;
    {
        Pair p = MakePair("127.0.0.1", "127.0.0.1");
        in = p.client.GetInputStream();
        peerOut = p.accepted.GetOutputStream();
    }
    peerOut.Write("alive", 5);
    peerOut.Close();
    EXPECT_EQ(ReadUpTo(in, 100), "alive");
}

// The socket descriptors this process holds open.
std::vector<int> SocketDescriptors() {
    std::vector<int> fds;
    DIR* d = opendir("/proc/self/fd");
    if (!d) return fds;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::string link = std::string("/proc/self/fd/") + e->d_name;
        char target[256] = "";
        ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::strncmp(target, "socket:", 7) == 0) fds.push_back(std::atoi(e->d_name));
    }
    closedir(d);
    return fds;
}

TEST(SocketTest, DescriptorsAreCloseOnExec) {
    Pair p = MakePair("127.0.0.1", "127.0.0.1");
    std::vector<int> sockets = SocketDescriptors();
    for (int fd : sockets) EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << "socket fd " << fd;
    EXPECT_GE(sockets.size(), 3u);  // listener, client, accepted
}

// Calls on several threads race a Close from another: each call either runs on the open socket
// or is told it is closed, and the descriptor is released once the last call has left.
TEST(SocketTest, CallsOnManyThreadsRaceACloseFromAnotherThread) {
    size_t before = SocketDescriptors().size();
    for (int round = 0; round < 20; ++round) {
        Pair p = MakePair("127.0.0.1", "127.0.0.1");
        std::atomic<int> toldClosed{0};
        std::vector<std::thread> callers;
        for (int i = 0; i < 4; ++i)
            callers.emplace_back([&] {
                try {
                    for (;;) p.accepted.GetInputStream().Available();
                } catch (const IOException_t&) {
                    ++toldClosed;
                }
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 3));
        p.accepted.Close();
        for (auto& t : callers) t.join();
        EXPECT_EQ(toldClosed.load(), 4);
        EXPECT_EQ(SocketDescriptors().size(), before + 2);  // the listener and the client
    }
    EXPECT_EQ(SocketDescriptors().size(), before);
}

TEST(SocketTest, BadArgumentsAndNullHandles) {
    EXPECT_THROW(Socket_t(String_t("127.0.0.1"), 0), QmXplMsg::IllegalArgumentError_t);
    EXPECT_THROW(Socket_t(String_t("127.0.0.1"), 65536), QmXplMsg::IllegalArgumentError_t);
    EXPECT_THROW(Socket_t(String_t(""), 80), QmXplMsg::IllegalArgumentError_t);
    EXPECT_THROW(Socket_t(String_t("127.0.0.1"), 80, -1), QmXplMsg::IllegalArgumentError_t);
    EXPECT_THROW(ServerSocket_t(-1), QmXplMsg::IllegalArgumentError_t);
    EXPECT_THROW(ServerSocket_t(65536), QmXplMsg::IllegalArgumentError_t);

    Pair p = MakePair("127.0.0.1", "127.0.0.1");
    EXPECT_THROW(p.client.SetReceiveBufferSize(0), QmXplMsg::IllegalArgumentError_t);
    EXPECT_THROW(p.client.SetSendBufferSize(-5), QmXplMsg::IllegalArgumentError_t);
    EXPECT_THROW(p.client.SetSoTimeout(-1), QmXplMsg::IllegalArgumentError_t);
    EXPECT_THROW(p.client.SetSoLinger(true, -1), QmXplMsg::IllegalArgumentError_t);
    EXPECT_THROW(p.server.SetSoTimeout(-1), QmXplMsg::IllegalArgumentError_t);

    Socket_t nullSocket;
    EXPECT_TRUE(nullSocket.IsNull());
    EXPECT_THROW(nullSocket.GetPort(), QmXplMsg::IllegalStateError_t);
    EXPECT_THROW(nullSocket.GetInputStream(), QmXplMsg::IllegalStateError_t);
    EXPECT_THROW(static_cast<const QmXplIo::Connection_t&>(nullSocket).Close(),
                 QmXplMsg::IllegalStateError_t);
    ServerSocket_t nullServer;
    EXPECT_THROW(nullServer.Accept(), QmXplMsg::IllegalStateError_t);
}

TEST(ServerSocketTest, PortInUseIsRefused) {
    ServerSocket_t first(0, String_t("127.0.0.1"));
    EXPECT_THROW(ServerSocket_t(first.GetLocalPort(), String_t("127.0.0.1")), IOException_t);
}

TEST(ServerSocketTest, AllInterfacesTakeIPv4AndIPv6) {
    ServerSocket_t server(0);
    EXPECT_TRUE(server.GetInetAddress().IsAnyLocal());
    Socket_t c4(String_t("127.0.0.1"), server.GetLocalPort());
    Socket_t a4 = server.Accept();
    // An IPv4 peer of a dual-stack listener reads as plain IPv4.
    EXPECT_EQ(a4.GetInetAddress().GetHostAddress(), String_t("127.0.0.1"));
    EXPECT_EQ(a4.GetInetAddress().GetFamily(), c4.GetLocalAddress().GetFamily());
    EXPECT_EQ(a4.GetPort(), c4.GetLocalPort());
    if (Ipv6LoopbackAvailable()) {
        Socket_t c6(String_t("::1"), server.GetLocalPort());
        Socket_t a6 = server.Accept();
        EXPECT_EQ(a6.GetInetAddress().GetHostAddress(), String_t("::1"));
    }
}

TEST(ServerSocketTest, AcceptTimeoutAndCloseFromAnotherThread) {
    ServerSocket_t server(0, String_t("127.0.0.1"));
    server.SetSoTimeout(200);
    EXPECT_EQ(server.GetSoTimeout(), 200);
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(server.Accept(), SocketTimeoutException_t);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));

    server.SetSoTimeout(0);
    std::atomic<int> outcome{0};
    std::thread acceptor([&] {
        try {
            server.Accept();
            outcome = 2;
        } catch (const IOException_t&) {
            outcome = 1;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    server.Close();
    acceptor.join();
    EXPECT_EQ(outcome.load(), 1);
    EXPECT_TRUE(server.IsClosed());
    server.Close();
    EXPECT_THROW(server.Accept(), IOException_t);
}

TEST(ConnectionTest, SocketIsAConnection) {
    Pair p = MakePair("127.0.0.1", "127.0.0.1");
    QmXplIo::Connection_t c = p.client;  // shares the socket
    c.GetOutputStream().Write("via", 3);
    c.GetOutputStream().Close();
    EXPECT_EQ(ReadUpTo(p.accepted.GetInputStream(), 10), "via");
    c.Close();
    EXPECT_TRUE(p.client.IsClosed());
    QmXplIo::Connection_t empty;
    EXPECT_THROW(empty.GetInputStream(), QmXplMsg::IllegalStateError_t);
}
