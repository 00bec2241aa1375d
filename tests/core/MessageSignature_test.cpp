// Message signatures as values: the encoded form read back field by field with the openssl
// command (and its signature bytes verified by openssl), round trips, and parsing of hostile
// records: every truncation, lengths that announce more than the record holds (refused before
// anything is allocated for them), text longer than any real signature (refused before it is
// decoded, the memory measured in a child), bad certificates, bad Base64.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <random>

#include "MessageSignatureImpl.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/MessageSignature.h"
#include "QmSecCore/MessageSignatureException.h"
#include "QmSecCore/Signature.h"
#include "QmSecCore/X509Certificate.h"
#include "support/Bytes.h"
#include "support/Certificates.h"
#include "support/Command.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

// The largest single allocation made through operator new on this thread while watched: shows
// that an announced length is refused before the parser allocates for it. Everything else
// passes straight to malloc and free (kept out of line, so that the compiler never sees a
// new-expression's memory reach free()).
namespace {
thread_local bool g_watchAllocations = false;
thread_local size_t g_largestAllocation = 0;
}  // namespace
[[gnu::noinline]] void* operator new(size_t size) {
    if (g_watchAllocations && size > g_largestAllocation) g_largestAllocation = size;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](size_t size) { return operator new(size); }
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

using QmSecCore::Key;
using QmSecCore::MessageSignature;
using QmSecCore::MessageSignatureException;
using QmSecCore::MessageSignatureImpl;
using QmSecCore::Signature;
using QmSecCore::X509Certificate;
using QmXplArray::CharArray_t;
using QmXplStr::String_t;
using namespace qmsec_test;

std::string Utf8(const String_t& s) { return std::string(QmXplStr::UTF8_t(s).c_str()); }

// Standard Base64 in lines of 64 characters, each ending with a line feed.
std::string Base64Lines(const std::string& bytes) {
    static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string flat;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
        flat += a[v >> 18];
        flat += a[(v >> 12) & 63];
        flat += i + 1 < bytes.size() ? a[(v >> 6) & 63] : '=';
        flat += i + 2 < bytes.size() ? a[v & 63] : '=';
    }
    std::string lines;
    for (size_t i = 0; i < flat.size(); i += 64) lines += flat.substr(i, 64) + "\n";
    return lines;
}

int ParseFailure(const CharArray_t& text) {
    try {
        MessageSignature s(text);
    } catch (const MessageSignatureException& e) {
        return e.GetMessageList().Get(0).GetNumber();
    }
    return -1;
}
int ParseFailure(const std::string& text) { return ParseFailure(Arr(text)); }

// A signer's certificate and an RSA signature over data, made with the library's Signature.
struct Signed {
    TestCertificate test;
    X509Certificate certificate;
    std::string data;
    std::string signature;
    explicit Signed(const std::string& cn = "node-7f3e") {
        test = CertificateBuilder().CommonName(cn).Build();
        certificate = X509Certificate(Arr(test.pem));
        data = "the message that was signed\n";
        Signature s(Signature::eSHA1);
        s.InitSign(Key(Key::eRSAPrivateKey, Arr(test.privateKeyPem)));
        s.Update(data.data(), static_cast<int>(data.size()));
        CharArray_t bytes;
        s.Sign(bytes);
        signature = Str(bytes);
    }
    MessageSignature WithCertificate() const {
        return MessageSignature(new MessageSignatureImpl(Arr(signature), certificate));
    }
    MessageSignature WithName(const String_t& cn) const {
        return MessageSignature(new MessageSignatureImpl(Arr(signature), cn));
    }
};

std::string Encoded(const MessageSignature& s) {
    CharArray_t out;
    return Str(s.GetEncoded(out));
}

// The openssl command decodes the text; the record has the fields in order.
std::string OpensslDecode(const TempDir& dir, const std::string& text) {
    std::string path = dir.Write("sig.b64", text);
    CommandResult r = RunCommand("openssl base64 -d -in " + Quote(path));
    EXPECT_EQ(r.status, 0);
    return r.output;
}

TEST(MessageSignatureTest, EncodedFormWithCertificateReadsBackWithOpenssl) {
    Signed s;
    TempDir dir;
    std::string text = Encoded(s.WithCertificate());
    // Lines of 64 characters, each ending with a line feed.
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        EXPECT_LE(end - at, 64u);
        if (end + 1 < text.size()) {
            EXPECT_EQ(end - at, 64u);
        }
        at = end + 1;
    }
    std::string record = OpensslDecode(dir, text);
    ASSERT_EQ(record.size(), 1 + 4 + s.signature.size() + 4 + s.test.pem.size());
    EXPECT_EQ(record[0], '\1');
    EXPECT_EQ(record.substr(1, 4), BigEndian(256));
    std::string signature = record.substr(5, 256);
    EXPECT_EQ(signature, s.signature);
    EXPECT_EQ(record.substr(261, 4), BigEndian(static_cast<uint32_t>(s.test.pem.size())));
    EXPECT_EQ(record.substr(265), s.test.pem);

    // The signature bytes are an RSA SHA-1 signature that openssl verifies over the data.
    std::string key = dir.Write("pub.pem", s.test.publicKeyPem);
    std::string sig = dir.Write("sig.bin", signature);
    std::string data = dir.Write("data.bin", s.data);
    CommandResult ok = RunCommand("openssl dgst -sha1 -verify " + Quote(key) + " -signature " +
                                  Quote(sig) + " " + Quote(data));
    EXPECT_EQ(ok.status, 0);
    EXPECT_NE(ok.output.find("Verified OK"), std::string::npos);
    dir.Write("data.bin", s.data + "!");
    EXPECT_NE(RunCommand("openssl dgst -sha1 -verify " + Quote(key) + " -signature " + Quote(sig) +
                         " " + Quote(data))
                  .status,
              0);
}

TEST(MessageSignatureTest, EncodedFormWithNameCarriesModifiedUtf8) {
    Signed s;
    TempDir dir;
    // A NUL, a two-byte character and one beyond U+FFFF (two surrogates of three bytes each).
    std::string cn("n\0d\xC3\xA9-\xF0\x9F\x98\x80", 10);
    std::string record = OpensslDecode(dir, Encoded(s.WithName(String_t(cn.data(), 10))));
    std::string modified(
        "n\xC0\x80"
        "d\xC3\xA9-\xED\xA0\xBD\xED\xB8\x80",
        13);
    ASSERT_EQ(record.size(), 1 + 4 + 256 + 2 + modified.size());
    EXPECT_EQ(record[0], '\0');
    EXPECT_EQ(record.substr(1, 4), BigEndian(256));
    EXPECT_EQ(record.substr(5, 256), s.signature);
    EXPECT_EQ(record.substr(261, 2), std::string("\0\x0d", 2));
    EXPECT_EQ(record.substr(263), modified);

    MessageSignature back(Arr(Base64Lines(record)));
    EXPECT_EQ(Utf8(back.GetSignerCN()), Utf8(String_t(cn.data(), 10)));
    EXPECT_EQ(back.GetSignerCN(), String_t(cn.data(), 10));
}

TEST(MessageSignatureTest, RoundTripsKeepBytesFlagNameAndCertificate) {
    Signed s("signer one");
    MessageSignature with(Arr(Encoded(s.WithCertificate())));
    EXPECT_TRUE(with.ContainsCertificate());
    CharArray_t bytes;
    EXPECT_EQ(Str(with.GetSignature(bytes)), s.signature);
    EXPECT_EQ(with.GetCertificate().GetFingerprint(), s.certificate.GetFingerprint());
    EXPECT_EQ(Utf8(with.GetSignerCN()), "signer one");
    EXPECT_EQ(Encoded(with), Encoded(s.WithCertificate()));

    for (const char* cn : {"", "node", "\xE2\x82\xAC uro"}) {
        MessageSignature without(Arr(Encoded(s.WithName(String_t(cn)))));
        EXPECT_FALSE(without.ContainsCertificate());
        EXPECT_EQ(Str(without.GetSignature(bytes)), s.signature);
        EXPECT_EQ(Utf8(without.GetSignerCN()), cn);
    }
    // The text is read with or without its line feeds, and with carriage returns.
    std::string text = Encoded(s.WithCertificate()), flat, crlf;
    for (char c : text) {
        if (c != '\n') flat += c;
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    EXPECT_EQ(MessageSignature(Arr(flat)).GetCertificate().GetFingerprint(),
              s.certificate.GetFingerprint());
    EXPECT_TRUE(MessageSignature(Arr(crlf)).ContainsCertificate());
}

TEST(MessageSignatureTest, SignerNameComesFromTheCertificateWhenThereIsOne) {
    Signed s("name in certificate");
    MessageSignature with = s.WithCertificate();
    EXPECT_EQ(Utf8(with.GetSignerCN()), "name in certificate");
    MessageSignature without = s.WithName(String_t("another name"));
    EXPECT_EQ(Utf8(without.GetSignerCN()), "another name");
    try {
        without.GetCertificate();
        FAIL();
    } catch (const MessageSignatureException& e) {
        EXPECT_EQ(e.GetMessageList().Get(0).GetNumber(), 46);
        EXPECT_EQ(e.GetMessageList().Get(0).GetText(),
                  String_t("This message signature does not contain a certificate."));
    }
}

TEST(MessageSignatureTest, EveryTruncationOfARecordIsRefused) {
    Signed s;
    TempDir dir;
    for (const MessageSignature& value : {s.WithCertificate(), s.WithName(String_t("node"))}) {
        std::string record = OpensslDecode(dir, Encoded(value));
        ASSERT_EQ(MessageSignature(Arr(Base64Lines(record))).GetSignerCN(), value.GetSignerCN());
        for (size_t cut = 0; cut < record.size(); ++cut) {
            // A certificate cut inside its PEM text after the end line would still parse; the
            // announced length makes every cut show.
            EXPECT_EQ(ParseFailure(Base64Lines(record.substr(0, cut))), 45) << cut;
        }
        // Bytes after the record are ignored.
        EXPECT_EQ(MessageSignature(Arr(Base64Lines(record + "trailing"))).GetSignerCN(),
                  value.GetSignerCN());
    }
}

TEST(MessageSignatureTest, AnnouncedLengthsAreCheckedBeforeAnythingIsAllocated) {
    Signed s;
    std::string pem = s.test.pem;
    auto record = [&](char flag, uint32_t n, const std::string& rest) {
        return std::string(1, flag) + BigEndian(n) + rest;
    };
    std::string sig = s.signature;
    struct Case {
        const char* what;
        std::string record;
    };
    const Case cases[] = {
        {"signature length 0", record(1, 0, BigEndian(4) + "abcd")},
        {"negative signature length", record(0, 0x80000000u, "")},
        {"signature length -1", record(0, 0xFFFFFFFFu, std::string(300, 'x'))},
        {"signature longer than the rest", record(0, 301, std::string(300, 'x'))},
        {"huge signature length", record(0, 0x7FFFFFFFu, std::string(300, 'x'))},
        {"certificate length 0", record(1, 256, sig + BigEndian(0) + pem)},
        {"negative certificate length", record(1, 256, sig + BigEndian(0xFFFFFFF0u) + pem)},
        {"certificate longer than the rest",
         record(1, 256, sig + BigEndian(static_cast<uint32_t>(pem.size() + 1)) + pem)},
        {"huge certificate length", record(1, 256, sig + BigEndian(0x7FFFFFFFu) + pem)},
        {"name longer than the rest", record(0, 256, sig + std::string("\xFF\xFF", 2) + "node")},
        {"name count cut", record(0, 256, sig + std::string(1, '\0'))},
        {"no name", record(0, 256, sig)},
    };
    // The watch sees the parser's allocations: a good record needs room for its signature.
    g_largestAllocation = 0;
    g_watchAllocations = true;
    MessageSignature good(
        Arr(Base64Lines(record(1, 256, sig + BigEndian(static_cast<uint32_t>(pem.size())) + pem))));
    g_watchAllocations = false;
    EXPECT_GE(g_largestAllocation, pem.size());

    for (const Case& c : cases) {
        std::string text = Base64Lines(c.record);
        g_largestAllocation = 0;
        g_watchAllocations = true;
        int number = ParseFailure(text);
        g_watchAllocations = false;
        EXPECT_EQ(number, 45) << c.what;
        // A few copies of the text and the record, nothing of the announced size.
        EXPECT_LE(g_largestAllocation, 4 * text.size() + 8192) << c.what;
    }
}

long PeakKiB() { return StatusKiB("VmHWM"); }

TEST(MessageSignatureTest, TextLongerThanAnyRealSignatureIsRefusedBeforeItIsDecoded) {
    const long kAllowedGrowthKiB = 16 * 1024;
    for (int length : {MessageSignature::kMaxEncodedLength + 1, 1 << 20, 64 << 20}) {
        // Measured in a child, whose peak is its own: the text is made, the peak is set back to
        // what is resident now, and the parse must not raise it by much.
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            CharArray_t text(length);
            std::memset(text.GetData(), 'A', static_cast<size_t>(length));
            std::ofstream("/proc/self/clear_refs") << "5";
            long before = PeakKiB();
            long result[2] = {ParseFailure(text), PeakKiB() - before};
            if (before < 0) result[1] = -1;
            (void)!write(fds[1], result, sizeof result);
            _exit(0);
        }
        close(fds[1]);
        long result[2] = {0, 0};
        ASSERT_EQ(read(fds[0], result, sizeof result), static_cast<ssize_t>(sizeof result));
        close(fds[0]);
        waitpid(pid, nullptr, 0);
        EXPECT_EQ(result[0], 45) << length;
        EXPECT_GE(result[1], 0) << "no peak resident size in /proc/self/status";
        EXPECT_LT(result[1], kAllowedGrowthKiB) << length;
    }
}

TEST(MessageSignatureTest, BadTextAndBadCertificatesAreRefusedWithTheCauseAttached) {
    Signed s;
    EXPECT_EQ(ParseFailure(""), 45);
    EXPECT_EQ(ParseFailure("\n"), 45);
    EXPECT_EQ(ParseFailure("AQ"), 45) << "a group of two characters without padding";
    EXPECT_EQ(ParseFailure("!!!!"), 45);
    std::string good = Encoded(s.WithCertificate());
    EXPECT_EQ(ParseFailure(good.substr(0, 10) + "*" + good.substr(10)), 45);

    // A certificate field that is not a certificate: the parser's reason is in the details.
    std::string der = s.test.der;
    std::string record = std::string(1, '\1') + BigEndian(256) + s.signature +
                         BigEndian(static_cast<uint32_t>(der.size())) + der;
    try {
        MessageSignature m(Arr(Base64Lines(record)));
        FAIL();
    } catch (const MessageSignatureException& e) {
        const auto& message = e.GetMessageList().Get(0);
        EXPECT_EQ(message.GetNumber(), 45);
        EXPECT_EQ(message.GetText(), String_t("Could not parse encoded message signature."));
        ASSERT_GE(message.GetDetails().GetCount(), 1);
        EXPECT_EQ(message.GetDetails().Get(0).GetNumber(), 91);
    }
    // An early end: the data stream's end-of-file is attached.
    try {
        MessageSignature m(Arr(Base64Lines(std::string(1, '\1'))));
        FAIL();
    } catch (const MessageSignatureException& e) {
        EXPECT_GE(e.GetMessageList().Get(0).GetDetails().GetCount(), 1);
    }
}

TEST(MessageSignatureTest, NamesTooLongToEncodeAreRefusedWithTheCauseAttached) {
    Signed s;
    String_t longName(std::string(65536, 'n'));
    try {
        CharArray_t out("unchanged", 9);
        s.WithName(longName).GetEncoded(out);
        FAIL();
    } catch (const MessageSignatureException& e) {
        EXPECT_EQ(e.GetMessageList().Get(0).GetNumber(), 47);
        EXPECT_GE(e.GetMessageList().Get(0).GetDetails().GetCount(), 1);
    }
    // 65535 bytes still fit.
    String_t longest(std::string(65535, 'n'));
    EXPECT_EQ(MessageSignature(Arr(Encoded(s.WithName(longest)))).GetSignerCN(), longest);
}

TEST(MessageSignatureTest, EmptyHandlesThrowAndTracesAreWritten) {
    MessageSignature empty;
    CharArray_t out;
    for (auto call : std::vector<std::function<void()>>{
             [&] { empty.ContainsCertificate(); }, [&] { empty.GetEncoded(out); },
             [&] { empty.GetSignature(out); }, [&] { empty.GetCertificate(); },
             [&] { empty.GetSignerCN(); }}) {
        try {
            call();
            ADD_FAILURE();
        } catch (const QmXplMsg::IllegalStateError_t& e) {
            EXPECT_EQ(e.GetMessageList().Get(0).GetText(), String_t("MessageSignature"));
        }
    }

    Signed s;
    TraceCapture capture("sec.core.base=9");
    {
        MessageSignature m(Arr(Encoded(s.WithCertificate())));
        m.ContainsCertificate();
        m.GetSignature(out);
        m.GetCertificate();
        m.GetSignerCN();
        m.GetEncoded(out);
    }
    for (const char* line :
         {"> MessageSignatureImpl Constructor", "> MessageSignatureImpl::ContainsCertificate()",
          "> MessageSignatureImpl::GetEncoded(CharArray_t)",
          "> MessageSignatureImpl::GetSignature(CharArray_t)",
          "> MessageSignatureImpl::GetCertificate()", "> MessageSignatureImpl::GetSignerCN()",
          "> MessageSignatureImpl::DestroyThis()", "> MessageSignatureImpl Destructor"}) {
        EXPECT_NE(capture.IndexOf(line), -1) << line;
    }
    TraceCapture throws("sec.core.base=2");
    EXPECT_EQ(ParseFailure("AAAAAAAA"), 45);
    EXPECT_TRUE(throws.Contains("Throwing exception 'MessageSignatureException': [sec.core 45]"));
}

}  // namespace
