#include "UuidImpl.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/time.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

#include "QmSecCore/MessageDigest.h"
#include "QmXpl/Dir_t.h"
#include "QmXpl/InetAddress_t.h"
#include "QmXpl/Message_t.h"
#include "QmXpl/Thread_t.h"
#include "QmXpl/UTF8_t.h"
#include "Throw.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmXplStr::String_t;

namespace {

// Deliberate constants of the time value: the seconds are scaled by 1e8 and the offset is this
// word order; identifiers already issued depend on both.
constexpr uint64_t kTimeOffset = 0x1381400001B21DD2ULL;
constexpr uint64_t kSecondsFactor = 100000000ULL;
constexpr int kMaxSameTime = 9999;
constexpr unsigned kClockSequenceModulus = 8191;

void SystemClock(int64_t& seconds, int& milliseconds) {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    seconds = tv.tv_sec;
    milliseconds = static_cast<int>(tv.tv_usec / 1000);
}

// The first non-loopback interface's hardware address, if the host has one.
std::optional<UuidImpl::HardwareAddress> SystemHardwareAddress() {
    std::optional<UuidImpl::HardwareAddress> mac;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return mac;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_PACKET || (i->ifa_flags & IFF_LOOPBACK))
            continue;
        auto* ll = reinterpret_cast<sockaddr_ll*>(i->ifa_addr);
        if (ll->sll_halen != 6) continue;
        UuidImpl::HardwareAddress candidate;
        std::memcpy(candidate.data(), ll->sll_addr, 6);
        if (candidate == UuidImpl::HardwareAddress{}) continue;
        mac = candidate;
        break;
    }
    freeifaddrs(list);
    return mac;
}

struct Generator {
    std::mutex mutex;
    UuidImpl::Clock clock = SystemClock;
    UuidImpl::AddressLookup addressLookup = SystemHardwareAddress;
    bool firstCall = true;
    uint16_t clockSequence = 0;
    uint64_t lastTime = 0;
    int sameTimeCount = 0;
    // Host facts, looked up once per process: resolving the host name on every identifier
    // would make generation as slow as the resolver.
    bool hostKnown = false;
    std::string hostName, hostAddress;
    UuidImpl::HardwareAddress mac{};
    std::optional<MessageDigest> md5;  // reused: a digest restarts after each Digest

    void LearnHost() {
        if (hostKnown) return;
        try {
            QmXplNet::InetAddress_t local = QmXplNet::InetAddress_t::GetLocalHost();
            hostName = QmXplStr::UTF8_t(local.GetHostName()).Str();
            hostAddress = QmXplStr::UTF8_t(local.GetHostAddress()).Str();
        } catch (const QmXplMsg::Exception_t&) {
            // A host without name or address still gets identifiers; the other facts remain.
        }
        // Without a hardware address its part of the hash is six zero bytes.
        mac = addressLookup().value_or(UuidImpl::HardwareAddress{});
        hostKnown = true;
    }

    std::array<unsigned char, 6> Node() {
        LearnHost();
        if (!md5) md5.emplace(MessageDigest::eMD5);
        uint32_t threadId = static_cast<uint32_t>(QmXplThread::Thread_t::CurrentID());
        uint32_t processId = static_cast<uint32_t>(QmXplRuntime::App_t::GetProcessId());
        md5->Update(reinterpret_cast<const char*>(&threadId), 4);
        md5->Update(reinterpret_cast<const char*>(&processId), 4);
        md5->Update(hostName.data(), static_cast<int>(hostName.size()));
        md5->Update(hostAddress.data(), static_cast<int>(hostAddress.size()));
        md5->Update(reinterpret_cast<const char*>(mac.data()), 6);
        QmXplArray::CharArray_t digest;
        md5->Digest(digest);
        std::array<unsigned char, 6> node;
        std::memcpy(node.data(), digest.GetData(), 6);
        node[0] |= 0x80;
        QMSEC_TRACE(kCoreArea.operation, 9,
                    "UuidImpl: Using: ThreadId" << MacText(threadId, processId).c_str());
        return node;
    }

    std::string MacText(uint32_t threadId, uint32_t processId) const {
        char head[80];
        std::snprintf(head, sizeof head, " '%d', ProcessId '%d', Hostname '",
                      static_cast<int>(threadId), static_cast<int>(processId));
        char macText[16];
        std::snprintf(macText, sizeof macText, "%02x%02x%02x%02x%02x%02x", mac[0], mac[1], mac[2],
                      mac[3], mac[4], mac[5]);
        return head + hostName + "', Hostaddress '" + hostAddress + "', MAC address '0x" + macText +
               "'.";
    }

    uint64_t ReadTime(int64_t* secondsOut = nullptr, int* millisOut = nullptr) {
        int64_t seconds;
        int millis;
        clock(seconds, millis);
        if (secondsOut) *secondsOut = seconds;
        if (millisOut) *millisOut = millis;
        return static_cast<uint64_t>(seconds) * kSecondsFactor +
               static_cast<uint64_t>(millis) * 1000 * 10 + kTimeOffset;
    }

    String_t Next() {
        std::lock_guard<std::mutex> lock(mutex);
        if (firstCall) {
            firstCall = false;
            int64_t t;
            int m;
            ReadTime(&t, &m);
            uint32_t ms = static_cast<uint32_t>(m) * 1000;
            uint32_t secs = static_cast<uint32_t>(t);
            uint32_t x = ((secs >> 16) ^ secs ^ ms ^ (ms >> 16)) & 0xFFFF;
            uint32_t pid = static_cast<uint32_t>(QmXplRuntime::App_t::GetProcessId());
            uint32_t v = ((pid & 0xFFFF) + x) * 978u + 191281u;
            clockSequence = static_cast<uint16_t>((v ^ (v >> 16)) & 0x1FFF);
        }
        uint64_t now;
        for (;;) {
            now = ReadTime();
            if (now < lastTime) {
                clockSequence = static_cast<uint16_t>((clockSequence + 1) % kClockSequenceModulus);
                if (clockSequence == 0) clockSequence = 1;
                sameTimeCount = 0;
                break;
            }
            if (now == lastTime) {
                if (sameTimeCount == kMaxSameTime) continue;  // wait for the clock to move on
                ++sameTimeCount;
                break;
            }
            sameTimeCount = 0;
            break;
        }
        lastTime = now;
        uint64_t value = now + static_cast<uint64_t>(sameTimeCount);
        uint32_t high = static_cast<uint32_t>(value >> 32);
        std::array<unsigned char, 6> node = Node();
        char text[37];
        std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                      static_cast<unsigned>(value & 0xFFFFFFFFu), high & 0xFFFFu,
                      (high >> 16) | 0x7000u, (clockSequence >> 8) & 0x3Fu, clockSequence & 0xFFu,
                      node[0], node[1], node[2], node[3], node[4], node[5]);
        return String_t(text);
    }
};

Generator& TheGenerator() {
    static Generator* generator = new Generator;  // process-wide, never destroyed
    return *generator;
}

}  // namespace

Uuid UuidImpl::Generate() {
    QMSEC_BLOCK(kCoreArea.proc, "UuidImpl::GenerateUuid()");
    return Uuid(TheGenerator().Next());
}

void UuidImpl::SetAddressLookupForTesting(AddressLookup lookup) {
    Generator& g = TheGenerator();
    std::lock_guard<std::mutex> lock(g.mutex);
    g.addressLookup = lookup ? lookup : SystemHardwareAddress;
    g.hostKnown = false;
}

void UuidImpl::SetClockForTesting(Clock clock) {
    Generator& g = TheGenerator();
    std::lock_guard<std::mutex> lock(g.mutex);
    g.clock = clock ? clock : SystemClock;
    g.firstCall = true;
    g.clockSequence = 0;
    g.lastTime = 0;
    g.sameTimeCount = 0;
}

Uuid::Uuid(const String_t& text) : Object(new UuidImpl(text)) {}
Uuid::~Uuid() = default;
UuidImpl* Uuid::Body() const { return GetBody<UuidImpl>("Uuid"); }
Uuid Uuid::GenerateUuid() { return UuidImpl::Generate(); }
String_t Uuid::ToString() const { return Body()->GetText(); }
bool Uuid::operator==(const Uuid& other) const {
    return Body()->GetText() == other.Body()->GetText();
}
bool Uuid::operator<(const Uuid& other) const {
    return Body()->GetText() < other.Body()->GetText();
}

}  // namespace QmSecCore
