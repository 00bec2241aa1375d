// The scrambling streams: their format against an independent encoder, round trips between
// every writer and reader, the key rules, closed streams, failures of the wrapped stream, and
// how many calls reach the wrapped stream.
#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "QmSecCore/XORInputStream.h"
#include "QmSecCore/XOROutputStream.h"
#include "QmSecIo/XORBufferedInputStream.h"
#include "QmSecIo/XORBufferedOutputStream.h"
#include "QmSecIo/XORInputStream.h"
#include "QmSecIo/XOROutputStream.h"
#include "support/Bytes.h"
#include "support/Streams.h"
#include "support/TraceCapture.h"

namespace {

using namespace qmsec_test;
using QmXplIo::CharArrayInputStream_t;
using QmXplIo::CharArrayOutputStream_t;
using QmXplIo::IOException_t;

// The built-in key. Streams written anywhere must read back everywhere, so this copy pins it:
// a change of the key in the library fails here.
const std::string kDefaultKey = std::string("Vq3#Lm9!zTe") + "r7@Kp2$wYb" + "X4&nJ8d" +
                                "Hs6*Qa1^Gf5(Uc0)Z" + "kE9-oB3+iN7=t" + "Wd2~y" + "Mg8<Rx4>Pj6?Ch";

// An independent encoder: byte j combined with key[(start + j) mod key length].
std::string Scramble(const std::string& data, const std::string& key, int start) {
    std::string out(data);
    for (size_t j = 0; j < out.size(); ++j)
        out[j] = static_cast<char>(out[j] ^ key[(static_cast<size_t>(start) + j) % key.size()]);
    return out;
}

int UtcMinuteDigit() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    return utc.tm_min % 10;
}

enum class Kind { kIo, kIoBuffered, kCore };
const Kind kKinds[] = {Kind::kIo, Kind::kIoBuffered, Kind::kCore};

const char* Name(Kind k) {
    return k == Kind::kIo           ? "QmSecIo unbuffered"
           : k == Kind::kIoBuffered ? "QmSecIo buffered"
                                    : "QmSecCore";
}

OutputStream_t Writer(Kind k, const OutputStream_t& sink,
                      const std::optional<std::string>& password = std::nullopt) {
    if (password) {
        CharArray_t pw = Arr(*password);
        switch (k) {
            case Kind::kIo:
                return QmSecIo::XOROutputStream(sink, pw);
            case Kind::kIoBuffered:
                return QmSecIo::XORBufferedOutputStream(sink, pw);
            case Kind::kCore:
                return QmSecCore::XOROutputStream(sink, pw);
        }
    }
    switch (k) {
        case Kind::kIo:
            return QmSecIo::XOROutputStream(sink);
        case Kind::kIoBuffered:
            return QmSecIo::XORBufferedOutputStream(sink);
        case Kind::kCore:
            break;
    }
    return QmSecCore::XOROutputStream(sink);
}

InputStream_t Reader(Kind k, const InputStream_t& source,
                     const std::optional<std::string>& password = std::nullopt) {
    if (password) {
        CharArray_t pw = Arr(*password);
        switch (k) {
            case Kind::kIo:
                return QmSecIo::XORInputStream(source, pw);
            case Kind::kIoBuffered:
                return QmSecIo::XORBufferedInputStream(source, pw);
            case Kind::kCore:
                return QmSecCore::XORInputStream(source, pw);
        }
    }
    switch (k) {
        case Kind::kIo:
            return QmSecIo::XORInputStream(source);
        case Kind::kIoBuffered:
            return QmSecIo::XORBufferedInputStream(source);
        case Kind::kCore:
            break;
    }
    return QmSecCore::XORInputStream(source);
}

// Everything written through a fresh writer of kind k, closed.
std::string WriteAll(Kind k, const std::string& data, std::mt19937& rng,
                     const std::optional<std::string>& password = std::nullopt) {
    CharArrayOutputStream_t sink;
    OutputStream_t out = Writer(k, sink, password);
    WriteInPieces(out, data, rng);
    out.Close();
    return Str(sink.ToCharArray());
}

std::string ReadAll(Kind k, const std::string& stream, std::mt19937& rng,
                    const std::optional<std::string>& password = std::nullopt) {
    InputStream_t in = Reader(k, CharArrayInputStream_t(Arr(stream)), password);
    return ReadInPieces(in, rng);
}

}  // namespace

TEST(XorStreamTest, DefaultKeyStreamIsTheMinuteDigitThenTheDataCombinedWithTheKey) {
    std::mt19937 rng(11);
    std::string data = RandomBytes(rng, 1000);
    for (Kind k : kKinds) {
        int before = UtcMinuteDigit();
        std::string stream = WriteAll(k, data, rng);
        int after = UtcMinuteDigit();
        ASSERT_EQ(stream.size(), data.size() + 1) << Name(k);
        int digit = stream[0] - '0';
        EXPECT_TRUE(digit == before || digit == after)
            << Name(k) << ": start digit " << stream[0] << ", minute digits " << before << "/"
            << after;
        EXPECT_EQ(stream.substr(1), Scramble(data, kDefaultKey, digit)) << Name(k);
    }
}

TEST(XorStreamTest, PasswordStreamIsTheDataCombinedWithThePasswordOnly) {
    std::mt19937 rng(12);
    std::string data = RandomBytes(rng, 3000);
    for (Kind k : kKinds) {
        for (size_t length : {1u, 2u, 77u, 128u}) {
            std::string password = RandomBytes(rng, length);
            EXPECT_EQ(WriteAll(k, data, rng, password), Scramble(data, password, 0))
                << Name(k) << ", password of " << length;
        }
    }
}

TEST(XorStreamTest, ReadersDecodeHandMadeStreamsForEveryStartDigit) {
    std::mt19937 rng(13);
    std::string data = RandomBytes(rng, 500);
    for (int digit = 0; digit <= 9; ++digit) {
        std::string stream =
            std::string(1, static_cast<char>('0' + digit)) + Scramble(data, kDefaultKey, digit);
        for (Kind k : kKinds) EXPECT_EQ(ReadAll(k, stream, rng), data) << Name(k) << " " << digit;
    }
}

TEST(XorStreamTest, AFirstByteThatIsNoDigitIsDataAtKeyPositionZero) {
    std::mt19937 rng(14);
    std::string plain = "Any text that a default-key stream did not write.";
    std::string stream = Scramble(plain, kDefaultKey, 0);
    ASSERT_FALSE(stream[0] >= '0' && stream[0] <= '9');
    for (Kind k : kKinds) {
        EXPECT_EQ(ReadAll(k, stream, rng), plain) << Name(k);
        // Read as one byte at a time too: the kept first byte is the first one handed out.
        InputStream_t in = Reader(k, CharArrayInputStream_t(Arr("A")));
        EXPECT_EQ(in.Read(), static_cast<unsigned char>('A' ^ kDefaultKey[0])) << Name(k);
        EXPECT_EQ(in.Read(), -1) << Name(k);
    }
}

TEST(XorStreamTest, RandomDataRoundTripsBetweenEveryWriterAndReader) {
    std::mt19937 rng(15);
    std::uniform_int_distribution<size_t> size(0, 1 << 20);
    for (Kind writer : kKinds) {
        for (Kind reader : kKinds) {
            for (bool withPassword : {false, true}) {
                std::string data = RandomBytes(rng, size(rng));
                std::optional<std::string> password;
                if (withPassword) password = RandomBytes(rng, 1 + rng() % 128);
                std::string stream = WriteAll(writer, data, rng, password);
                EXPECT_EQ(ReadAll(reader, stream, rng, password), data)
                    << Name(writer) << " -> " << Name(reader) << ", " << data.size()
                    << " bytes, password " << withPassword;
            }
        }
    }
}

TEST(XorStreamTest, BoundarySizesRoundTrip) {
    std::mt19937 rng(16);
    for (size_t n : {0u, 1u, 76u, 77u, 78u, 8191u, 8192u, 8193u, 1u << 20}) {
        std::string data = RandomBytes(rng, n);
        for (Kind k : kKinds) {
            std::string stream = WriteAll(k, data, rng);
            EXPECT_EQ(stream.size(), n == 0 ? 0 : n + 1) << Name(k);
            EXPECT_EQ(ReadAll(k, stream, rng), data) << Name(k) << " " << n;
        }
    }
}

TEST(XorStreamTest, SeveralWritesCarryOneStartDigitAtTheHead) {
    std::mt19937 rng(17);
    for (Kind k : kKinds) {
        CharArrayOutputStream_t sink;
        OutputStream_t out = Writer(k, sink);
        out.Write("abc", 3);
        out.Write("", 0);
        out.Write("defg", 4);
        out.Write('h');
        out.Close();
        std::string stream = Str(sink.ToCharArray());
        ASSERT_EQ(stream.size(), 9u) << Name(k);
        EXPECT_EQ(stream.substr(1), Scramble("abcdefgh", kDefaultKey, stream[0] - '0')) << Name(k);
        EXPECT_EQ(ReadAll(k, stream, rng), "abcdefgh") << Name(k);
    }
}

TEST(XorStreamTest, WritingNothingWritesNotEvenTheDigit) {
    for (Kind k : kKinds) {
        auto* sink = new RecordingOutputImpl;
        OutputStream_t bottom(sink);
        OutputStream_t out = Writer(k, bottom);
        out.Write("x", 0);
        // The body itself, below the handle's own check, takes a zero length as nothing too.
        out.GetImpl()->Write("x", 0);
        out.Flush();
        out.Close();
        EXPECT_EQ(sink->data, "") << Name(k);
        EXPECT_EQ(sink->closes, 1) << Name(k);
    }
}

TEST(XorStreamTest, PasswordsOfOneTo128BytesAreTakenLongerOrEmptyOnesRefused) {
    std::mt19937 rng(18);
    std::string data = RandomBytes(rng, 1000);
    std::string longest = RandomBytes(rng, 128);
    CharArrayOutputStream_t sink;
    CharArrayInputStream_t source(Arr("x"));
    for (Kind k : kKinds) {
        EXPECT_EQ(ReadAll(k, WriteAll(k, data, rng, longest), rng, longest), data) << Name(k);

        for (const std::string& bad : {longest + "!", std::string()}) {
            int number = bad.empty() ? 176 : 99;
            std::string text = bad.empty()
                                   ? "Password must not be empty."
                                   : "Password too long. Only 128 characters are supported.";
            Thrown w = ThrownBy<IOException_t>([&] { Writer(k, sink, bad); });
            EXPECT_EQ(w.number, number) << Name(k);
            EXPECT_EQ(w.text, text) << Name(k);
            Thrown r = ThrownBy<IOException_t>([&] { Reader(k, source, bad); });
            EXPECT_EQ(r.number, number) << Name(k);
            EXPECT_EQ(r.text, text) << Name(k);
        }
    }
    EXPECT_EQ(sink.GetSize(), 0);
}

TEST(XorStreamTest, AWrongPasswordReadsAsManyBytesDifferently) {
    std::mt19937 rng(19);
    std::string data = RandomBytes(rng, 5000);
    for (Kind k : kKinds) {
        std::string stream = WriteAll(k, data, rng, std::string("right password"));
        std::string wrong = ReadAll(k, stream, rng, std::string("wrong password"));
        EXPECT_EQ(wrong.size(), data.size()) << Name(k);
        EXPECT_NE(wrong, data) << Name(k);
        EXPECT_EQ(ReadAll(k, stream, rng, std::string("right password")), data) << Name(k);
    }
}

TEST(XorStreamTest, ClosedStreamsThrowTheirCatalogMessages) {
    struct Expect {
        Kind kind;
        int inNumber;
        std::string inText;
        int outNumber;
        std::string outText;
        std::string area;
    };
    const Expect expects[] = {
        {Kind::kIo, 100, "XORInputStream is already closed.", 101,
         "XOROutputStream is already closed.", "sec.core.io"},
        {Kind::kIoBuffered, 0, "XORBufferedInputStream is already closed.", 0,
         "XORBufferedOutputStream is already closed.", "sec.core.io"},
        {Kind::kCore, 100, "XORInputStream is already closed.", 101,
         "XOROutputStream is already closed.", "sec.core.base"},
    };
    for (const Expect& e : expects) {
        auto* sink = new RecordingOutputImpl;
        OutputStream_t bottom(sink);
        OutputStream_t out = Writer(e.kind, bottom);
        out.Write("data", 4);
        out.Close();
        out.Close();  // a second Close does nothing
        EXPECT_EQ(sink->closes, 1) << Name(e.kind);
        EXPECT_EQ(sink->data.size(), 5u) << Name(e.kind);

        qmsec_test::TraceCapture capture;
        for (auto op : {std::function<void()>([&] { out.Write("x", 1); }),
                        std::function<void()>([&] { out.Write('x'); }),
                        std::function<void()>([&] { out.Flush(); })}) {
            Thrown t = ThrownBy<IOException_t>(op);
            EXPECT_EQ(t.number, e.outNumber) << Name(e.kind);
            EXPECT_EQ(t.text, e.outText) << Name(e.kind);
        }
        auto records = capture.Records();
        auto throwing = std::count_if(records.begin(), records.end(), [&](const auto& r) {
            return r.area == e.area &&
                   r.text.rfind("Throwing exception 'QmXplIo::IOException_t': ", 0) == 0 &&
                   r.text.find(e.outText) != std::string::npos;
        });
        EXPECT_EQ(throwing, 3) << Name(e.kind);

        auto* source = new ScriptedInputImpl("0abc");
        InputStream_t raw(source);
        InputStream_t in = Reader(e.kind, raw);
        in.Close();
        in.Close();
        EXPECT_EQ(source->closes, 1) << Name(e.kind);
        char buf[4];
        for (auto op :
             {std::function<void()>([&] { in.Read(buf, 4); }),
              std::function<void()>([&] { in.Read(); }), std::function<void()>([&] { in.Skip(2); }),
              std::function<void()>([&] { in.Available(); })}) {
            Thrown t = ThrownBy<IOException_t>(op);
            EXPECT_EQ(t.number, e.inNumber) << Name(e.kind);
            EXPECT_EQ(t.text, e.inText) << Name(e.kind);
        }
        EXPECT_EQ(source->reads, 0) << Name(e.kind);
    }
}

TEST(XorStreamTest, UnbufferedStreamsMoveEveryByteByItsOwnCallBufferedOnesBatch) {
    std::mt19937 rng(20);
    const int n = 20000;
    std::string data = RandomBytes(rng, n);
    for (Kind k : kKinds) {
        auto* sink = new RecordingOutputImpl;
        OutputStream_t bottom(sink);
        OutputStream_t out = Writer(k, bottom);
        out.Write(data.data(), n);
        out.Close();
        auto* source = new ScriptedInputImpl(sink->data);
        InputStream_t raw(source);
        InputStream_t in = Reader(k, raw);
        std::string back(static_cast<size_t>(n), '\0');
        int got = 0;
        while (got < n) {
            int r = in.Read(back.data() + got, n - got);
            ASSERT_GT(r, 0);
            got += r;
        }
        EXPECT_EQ(back, data);
        if (k == Kind::kIoBuffered) {
            EXPECT_LE(sink->writes, 3) << "20001 bytes through an 8192-byte buffer";
            EXPECT_LE(source->reads, 3);
        } else {
            EXPECT_EQ(sink->writes, n + 1) << Name(k) << ": the digit and every byte";
            EXPECT_EQ(source->reads, n + 1) << Name(k);
        }
    }
}

TEST(XorStreamTest, BufferedReadReturnsWhatItHasRatherThanWaitForMore) {
    std::mt19937 rng(21);
    std::string data = RandomBytes(rng, 1000);
    std::string stream = WriteAll(Kind::kIoBuffered, data, rng);
    auto* source = new ScriptedInputImpl(stream, 100);  // a socket handing out 100 bytes
    InputStream_t raw(source);
    QmSecIo::XORBufferedInputStream in(raw);
    char buf[1000];
    EXPECT_EQ(in.Read(buf, 1000), 99) << "the digit and 99 data bytes came in";
    EXPECT_EQ(source->reads, 1);
    EXPECT_EQ(std::string(buf, 99), data.substr(0, 99));
}

TEST(XorStreamTest, AFailingSourceLosesNoByteAndLeavesTheKeyInStep) {
    std::mt19937 rng(22);
    std::string data = RandomBytes(rng, 300);
    std::string password = "in step";
    std::string stream = Scramble(data, password, 0);
    for (Kind k : kKinds) {
        for (bool once : {true, false}) {
            auto* source = new ScriptedInputImpl(stream, 64);
            source->failAt = 128;
            source->failOnce = once;
            InputStream_t raw(source);
            InputStream_t in = Reader(k, raw, password);
            std::string got;
            char buf[400];
            int failures = 0;
            // A single failure is read past; a lasting one ends the reading.
            for (int i = 0; i < 20 && failures < 2; ++i) {
                try {
                    int n = in.Read(buf, sizeof buf);
                    if (n < 0) break;
                    got.append(buf, static_cast<size_t>(n));
                } catch (const IOException_t&) {
                    ++failures;
                }
            }
            if (once) {
                // The failure may be seen or absorbed, but every byte arrives, decoded right.
                EXPECT_LE(failures, 1) << Name(k);
                EXPECT_EQ(got, data) << Name(k);
            } else {
                EXPECT_EQ(failures, 2) << Name(k);
                EXPECT_EQ(got, data.substr(0, 128)) << Name(k) << ": bytes taken are delivered";
            }
        }
    }
}

TEST(XorStreamTest, AFailingSinkLeavesTheKeyInStepWithWhatItAccepted) {
    std::mt19937 rng(23);
    std::string data = RandomBytes(rng, 100);
    for (Kind k : {Kind::kIo, Kind::kCore}) {
        auto* sink = new RecordingOutputImpl;
        sink->failAfter = 41;  // the digit and 40 data bytes
        OutputStream_t bottom(sink);
        OutputStream_t out = Writer(k, bottom);
        EXPECT_THROW(out.Write(data.data(), 100), IOException_t);
        ASSERT_EQ(sink->data.size(), 41u);
        sink->failAfter = -1;
        out.Write(data.data() + 40, 60);
        out.Close();
        EXPECT_EQ(sink->data.substr(1), Scramble(data, kDefaultKey, sink->data[0] - '0'))
            << Name(k);
    }
}

TEST(XorStreamTest, AvailableLeavesOutTheStartDigit) {
    std::string stream = "3" + Scramble("0123456789", kDefaultKey, 3);
    for (Kind k : kKinds) {
        InputStream_t in = Reader(k, CharArrayInputStream_t(Arr(stream)));
        EXPECT_EQ(in.Available(), 10) << Name(k);
        char buf[4];
        ASSERT_EQ(in.Read(buf, 4), 4);
        EXPECT_EQ(std::string(buf, 4), "0123");
        EXPECT_EQ(in.Available(), 6) << Name(k);
    }
}

TEST(XorStreamTest, SingleBytesAndSkipsGoThroughTheKey) {
    std::string stream = "7" + Scramble("abcdefghij", kDefaultKey, 7);
    for (Kind k : kKinds) {
        InputStream_t in = Reader(k, CharArrayInputStream_t(Arr(stream)));
        EXPECT_EQ(in.Read(), 'a') << Name(k);
        EXPECT_EQ(in.Skip(5), 5) << Name(k);
        EXPECT_EQ(in.Read(), 'g') << Name(k);
        char buf[10];
        EXPECT_EQ(in.Read(buf, 10), 3);
        EXPECT_EQ(std::string(buf, 3), "hij");
        EXPECT_EQ(in.Read(buf, 10), -1);
        EXPECT_EQ(in.Read(), -1);
    }
}

TEST(XorStreamTest, EmptyAndDigitOnlyStreamsEndAtOnce) {
    for (Kind k : kKinds) {
        char buf[8];
        EXPECT_EQ(Reader(k, CharArrayInputStream_t(Arr(""))).Read(buf, 8), -1) << Name(k);
        EXPECT_EQ(Reader(k, CharArrayInputStream_t(Arr("5"))).Read(buf, 8), -1) << Name(k);
        EXPECT_EQ(Reader(k, CharArrayInputStream_t(Arr("")), std::string("pw")).Read(buf, 8), -1)
            << Name(k);
    }
}

TEST(XorStreamTest, ABufferedStreamDroppedWithoutCloseStillDeliversItsBytes) {
    auto* sink = new RecordingOutputImpl;
    OutputStream_t bottom(sink);
    {
        QmSecIo::XORBufferedOutputStream out(bottom, Arr("pw"));
        out.Write("dropped", 7);
        EXPECT_EQ(sink->data, "");
    }
    EXPECT_EQ(sink->data, Scramble("dropped", "pw", 0));
}

TEST(XorStreamTest, EmptyHandlesAndEmptyWrappedStreamsAreRefused) {
    QmSecIo::XORInputStream none;
    EXPECT_THROW(none.Read(), QmXplMsg::IllegalStateError_t);
    QmSecCore::XOROutputStream noOut;
    EXPECT_THROW(noOut.Write('x'), QmXplMsg::IllegalStateError_t);
    QmSecIo::XORBufferedInputStream noBuffered;
    EXPECT_THROW(noBuffered.Peek(), QmXplMsg::IllegalStateError_t);
    InputStream_t emptyIn;
    OutputStream_t emptyOut;
    for (Kind k : kKinds) {
        EXPECT_THROW(Reader(k, emptyIn), QmXplMsg::IllegalArgumentError_t) << Name(k);
        EXPECT_THROW(Writer(k, emptyOut), QmXplMsg::IllegalArgumentError_t) << Name(k);
    }
}

// Streams on different threads share no state: each thread's streams, of every kind and key,
// round-trip its own data while the others run.
TEST(XorStreamThreadTest, StreamsOnSeveralThreadsShareNothing) {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            std::mt19937 rng(static_cast<unsigned>(100 + t));
            for (int round = 0; round < 20; ++round) {
                std::string data = RandomBytes(rng, rng() % 20000);
                std::optional<std::string> password;
                if (round % 2) password = RandomBytes(rng, 1 + rng() % 128);
                Kind writer = kKinds[rng() % 3], reader = kKinds[rng() % 3];
                if (ReadAll(reader, WriteAll(writer, data, rng, password), rng, password) != data)
                    ++failures;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}
