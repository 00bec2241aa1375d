// sign, verify, seal and unseal between nodes, and signatures checked by openssl dgst.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "cli/CliRunner.h"
#include "cli/MiniJson.h"
#include "support/Bytes.h"
#include "support/Certificates.h"
#include "support/Command.h"

namespace qmsec_cli {
namespace {

using qmsec_test::Quote;
using qmsec_test::RandomBytes;
using qmsec_test::RunCommand;

// A node named by its core id, with a trusted CA and a certificate and key issued by it.
class SigningNode : public Node {
  public:
    explicit SigningNode(const std::string& id = "node-1") : id_(id) {
        Ok({"init", "--core-id", id});
        Ok({"keystore", "genkey", "Demo CA", "--trusted", "--bits", "2048"});
        Ok({"keystore", "genkey", id, "--issuer", "Demo CA", "--bits", "2048"});
    }
    Result Ok(const std::vector<std::string>& args, const std::string& input = "") const {
        Result r = (*this)(args, input);
        EXPECT_EQ(r.status, 0) << r;
        return r;
    }
    const std::string& Id() const { return id_; }

  private:
    std::string id_;
};

std::string Base64Decode(const std::string& text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned acc = 0;
    int bits = 0;
    for (char c : text) {
        size_t v = alphabet.find(c);
        if (v == std::string::npos) continue;  // line feeds and padding
        acc = (acc << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

// The fields of an encoded message signature: a flag byte, the signature behind a big-endian
// 32-bit length, then the certificate behind such a length or the signer's name behind a 16-bit
// one.
struct Record {
    bool withCert = false;
    std::string signature, certificate, cn;
};

uint32_t Be32(const std::string& s, size_t at) {
    return (static_cast<uint32_t>(static_cast<unsigned char>(s.at(at))) << 24) |
           (static_cast<uint32_t>(static_cast<unsigned char>(s.at(at + 1))) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(s.at(at + 2))) << 8) |
           static_cast<uint32_t>(static_cast<unsigned char>(s.at(at + 3)));
}

Record Decode(const std::string& encoded) {
    std::string raw = Base64Decode(encoded);
    Record r;
    r.withCert = raw.at(0) == 1;
    uint32_t n = Be32(raw, 1);
    r.signature = raw.substr(5, n);
    size_t at = 5 + n;
    if (r.withCert) {
        uint32_t m = Be32(raw, at);
        r.certificate = raw.substr(at + 4, m);
        EXPECT_EQ(at + 4 + m, raw.size());
    } else {
        size_t len = (static_cast<unsigned char>(raw.at(at)) << 8) |
                     static_cast<unsigned char>(raw.at(at + 1));
        r.cn = raw.substr(at + 2, len);
        EXPECT_EQ(at + 2 + len, raw.size());
    }
    return r;
}

TEST(CliSign, SignaturesVerifyHereAndWithOpenSslDgst) {
    SigningNode node;
    std::string data = RandomBytes(150000, 5);
    std::string file = node.Write("data.bin", data);
    Result sign = node.Ok({"sign", file});
    // Base64 text in lines of 64 characters.
    EXPECT_EQ(sign.out.find('\n'), 64u) << sign.out;
    node.Write("data.sig", sign.out);
    Result verify = node.Ok({"verify", file, "--signature", node.File("data.sig")});
    EXPECT_EQ(verify.out, "Verified OK: '" + file + "' was signed by 'node-1'\n");

    Record record = Decode(sign.out);
    EXPECT_FALSE(record.withCert);
    EXPECT_EQ(record.cn, "node-1");
    ASSERT_EQ(record.signature.size(), 256u);
    node.Write("sig.bin", record.signature);
    node.Ok({"keystore", "export", "node-1", "-o", node.File("node.pem")});
    auto pub = RunCommand("openssl x509 -pubkey -noout -in " + Quote(node.File("node.pem")) +
                          " -out " + Quote(node.File("pub.pem")));
    ASSERT_EQ(pub.status, 0);
    auto dgst = RunCommand("openssl dgst -sha1 -verify " + Quote(node.File("pub.pem")) +
                           " -signature " + Quote(node.File("sig.bin")) + " " + Quote(file));
    EXPECT_EQ(dgst.status, 0) << dgst.output;
    EXPECT_EQ(dgst.output, "Verified OK\n");

    Result json = node.Ok({"--json", "verify", file, "--signature", node.File("data.sig")});
    Json j = Json::Parse(json.out);
    EXPECT_TRUE(j["verified"].Bool());
    EXPECT_EQ(j["signer"].Str(), "node-1");
    EXPECT_FALSE(j["certificate_included"].Bool());
}

TEST(CliSign, SameSignatureAsOpenSslMakesWithTheSameKey) {
    // PKCS #1 v1.5 is deterministic: with a key installed from outside, what openssl dgst -sign
    // makes must be byte for byte what the record carries.
    SigningNode node;
    qmsec_test::TestCertificate peer = qmsec_test::CertificateBuilder()
                                           .CommonName("peer")
                                           .SubjectKey(qmsec_test::TestRsaKey(2048, 7).privatePem)
                                           .Build();
    node.Ok({"keystore", "install", "peer", "--trusted", "--cert", node.Write("peer.pem", peer.pem),
             "--key", node.Write("peer.key", peer.privateKeyPem)});
    for (size_t size : {size_t{0}, size_t{1}, size_t{65536}, size_t{65537}, size_t{300000}}) {
        SCOPED_TRACE(size);
        std::string file = node.Write("data", RandomBytes(size, static_cast<unsigned>(size) + 11));
        Result sign = node.Ok({"sign", file, "--signer", "peer"});
        Record record = Decode(sign.out);
        EXPECT_EQ(record.cn, "peer");
        auto dgst = RunCommand("openssl dgst -sha1 -sign " + Quote(node.File("peer.key")) +
                               " -out " + Quote(node.File("openssl.sig")) + " " + Quote(file));
        ASSERT_EQ(dgst.status, 0) << dgst.output;
        EXPECT_EQ(qmsec_test::Hex(record.signature), qmsec_test::Hex(node.Read("openssl.sig")));
        node.Write("data.sig", sign.out);
        node.Ok({"verify", file, "--signature", node.File("data.sig")});
    }
}

TEST(CliSign, SignatureWithCertificateIsTrustedWhereItsIssuerIs) {
    SigningNode signer("signer");
    std::string file = signer.Write("msg.txt", "a message from the signer\n");
    Result sign = signer.Ok({"sign", file, "--with-cert", "-o", signer.File("msg.sig")});
    EXPECT_TRUE(sign.out.empty());
    Record record = Decode(signer.Read("msg.sig"));
    EXPECT_TRUE(record.withCert);
    EXPECT_EQ(record.certificate, signer.Ok({"keystore", "export", "signer"}).out);

    // A receiver that trusts the signer's CA, and knows nothing of the signer itself.
    Node receiver;
    ASSERT_EQ(receiver({"init"}).status, 0);
    std::string ca = receiver.Write("ca.pem", signer.Ok({"keystore", "export", "Demo CA"}).out);
    receiver.Write("msg.txt", signer.Read("msg.txt"));
    receiver.Write("msg.sig", signer.Read("msg.sig"));
    Result untrusted =
        receiver({"verify", receiver.File("msg.txt"), "--signature", receiver.File("msg.sig")});
    EXPECT_EQ(untrusted.status, 1) << untrusted;
    EXPECT_NE(untrusted.err.find("[sec.core 62] Signer and issuer of signer certificate are not "
                                 "trusted."),
              std::string::npos)
        << untrusted;
    ASSERT_EQ(receiver({"keystore", "install", "Demo CA", "--cert", ca, "--trusted"}).status, 0);
    Result ok = receiver(
        {"--json", "verify", receiver.File("msg.txt"), "--signature", receiver.File("msg.sig")});
    ASSERT_EQ(ok.status, 0) << ok;
    Json j = Json::Parse(ok.out);
    EXPECT_TRUE(j["verified"].Bool());
    EXPECT_TRUE(j["certificate_included"].Bool());
    EXPECT_EQ(j["signer"].Str(), "signer");

    // Without the certificate in the signature the receiver would need the signer's entry.
    Result bare = signer.Ok({"sign", file});
    receiver.Write("bare.sig", bare.out);
    Result unknown =
        receiver({"verify", receiver.File("msg.txt"), "--signature", receiver.File("bare.sig")});
    EXPECT_EQ(unknown.status, 1) << unknown;
    EXPECT_NE(unknown.err.find("[sec.core 65]"), std::string::npos) << unknown;
}

TEST(CliSign, ChangedFilesAndSignaturesFail) {
    SigningNode node;
    std::string file = node.Write("report.txt", "Quarterly report: all systems nominal.\n");
    node.Ok({"sign", file, "-o", node.File("report.sig")});
    std::string tampered = node.Write("tampered.txt", "Quarterly report: all systems nominal!\n");
    Result bad = node({"verify", tampered, "--signature", node.File("report.sig")});
    EXPECT_EQ(bad.status, 1) << bad;
    EXPECT_NE(bad.err.find("does not match '" + tampered + "'"), std::string::npos) << bad;
    Result badJson = node({"--json", "verify", tampered, "--signature", node.File("report.sig")});
    EXPECT_EQ(badJson.status, 1) << badJson;
    EXPECT_FALSE(Json::Parse(badJson.out)["verified"].Bool());

    // One signature byte changed (the record and its Base64 stay well-formed).
    std::string sig = node.Read("report.sig");
    sig[20] = sig[20] == 'A' ? 'B' : 'A';
    node.Write("changed.sig", sig);
    Result changed = node({"verify", file, "--signature", node.File("changed.sig")});
    EXPECT_EQ(changed.status, 1) << changed;
    node.Write("garbage.sig", "this is no signature\n");
    Result garbage = node({"verify", file, "--signature", node.File("garbage.sig")});
    EXPECT_EQ(garbage.status, 1) << garbage;
    EXPECT_NE(garbage.err.find("Could not verify '" + file + "'"), std::string::npos) << garbage;
    EXPECT_NE(garbage.err.find("[sec.core 45]"), std::string::npos) << garbage;
    Result noSig = node({"verify", file});
    EXPECT_EQ(noSig.status, 2) << noSig;
    Result bothStdin = node({"verify", "-", "--signature", "-"}, sig);
    EXPECT_EQ(bothStdin.status, 2) << bothStdin;
    EXPECT_NE(bothStdin.err.find("cannot both come from the standard input"), std::string::npos)
        << bothStdin;
    // The signature from a pipe, the file named.
    node.Ok({"verify", file, "--signature", "-"}, node.Read("report.sig"));
    EXPECT_EQ(node({"verify", tampered, "--signature", "-"}, node.Read("report.sig")).status, 1);
}

TEST(CliSign, SignerMustHaveAKey) {
    SigningNode node;
    std::string file = node.Write("f", "x");
    Result unknown = node({"sign", file, "--signer", "nobody"});
    EXPECT_EQ(unknown.status, 1) << unknown;
    EXPECT_NE(unknown.err.find("[sec.core 50]"), std::string::npos) << unknown;
    Node bare;
    Result noId = bare({"sign", bare.Write("f", "x")});
    EXPECT_EQ(noId.status, 1) << noId;
    EXPECT_NE(noId.err.find("[sec.core 48]"), std::string::npos) << noId;
    // A key whose certificate was removed signs by name, but cannot carry the certificate; the
    // output file is not made.
    node.Ok({"keystore", "genkey", "lonely"});
    node.Ok({"keystore", "remove", "lonely", "--cert"});
    Result noCert =
        node({"sign", file, "--signer", "lonely", "--with-cert", "-o", node.File("l.sig")});
    EXPECT_EQ(noCert.status, 1) << noCert;
    EXPECT_NE(noCert.err.find("[sec.core 53] No certificate for signer 'lonely'"),
              std::string::npos)
        << noCert;
    EXPECT_FALSE(std::filesystem::exists(node.File("l.sig")));
    node.Ok({"sign", file, "--signer", "lonely", "-o", node.File("l.sig")});
    Result unverifiable = node({"verify", file, "--signature", node.File("l.sig")});
    EXPECT_EQ(unverifiable.status, 1) << unverifiable;
    EXPECT_NE(unverifiable.err.find("[sec.core 65]"), std::string::npos) << unverifiable;
    EXPECT_EQ(node({"sign", file, "--signer", ""}).status, 2);
    EXPECT_EQ(node({"sign"}).status, 2);

    Result fromStdin = node.Ok({"sign", "-", "--signer", "Demo CA"}, "from a pipe");
    node.Write("pipe.sig", fromStdin.out);
    node.Write("pipe.txt", "from a pipe");
    node.Ok({"verify", node.File("pipe.txt"), "--signature", node.File("pipe.sig")});
}

TEST(CliSeal, RoundTripsEveryAlgorithmAndSize) {
    SigningNode node;
    for (const char* alg : {"blowfish", "des", "des3"}) {
        for (size_t size : {size_t{0}, size_t{1}, size_t{65536}, size_t{200001}}) {
            SCOPED_TRACE(std::string(alg) + " " + std::to_string(size));
            std::string data = RandomBytes(size, static_cast<unsigned>(size));
            std::string file = node.Write("plain", data);
            node.Ok({"seal", file, "--to-alias", "node-1", "--algorithm", alg, "-o",
                     node.File("sealed")});
            std::string sealed = node.Read("sealed");
            // Header length, an RSA-2048 header, the vector and the padded body.
            ASSERT_GE(sealed.size(), 4u);
            EXPECT_EQ(Be32(sealed, 0), 256u);
            EXPECT_EQ(sealed.size(), 4 + 256 + 8 + (size / 8 + 1) * 8);
            Result back = node.Ok({"unseal", node.File("sealed")});
            EXPECT_TRUE(back.out == data);
        }
    }
}

TEST(CliSeal, OnlyTheRecipientUnseals) {
    SigningNode alice("alice"), bob("bob");
    std::string bobCert = alice.Write("bob.pem", bob.Ok({"keystore", "export", "bob"}).out);
    std::string file = alice.Write("secret.txt", "for bob only\n");
    alice.Ok({"seal", file, "--to", bobCert, "-o", alice.File("secret.sealed")});
    bob.Write("secret.sealed", alice.Read("secret.sealed"));
    bob.Ok({"unseal", bob.File("secret.sealed"), "-o", bob.File("secret.txt")});
    EXPECT_EQ(bob.Read("secret.txt"), "for bob only\n");
    // Alice's own key does not fit, and the output file is left alone.
    std::string out = alice.Write("out.txt", "unchanged");
    Result atAlice = alice({"unseal", alice.File("secret.sealed"), "-o", out});
    EXPECT_EQ(atAlice.status, 1) << atAlice;
    EXPECT_NE(atAlice.err.find("[sec.core 72]"), std::string::npos) << atAlice;
    EXPECT_EQ(alice.Read("out.txt"), "unchanged");
    Result wrongAlias = bob({"unseal", bob.File("secret.sealed"), "--key-alias", "Demo CA"});
    EXPECT_EQ(wrongAlias.status, 1) << wrongAlias;
    Result noKey = bob({"unseal", bob.File("secret.sealed"), "--key-alias", "nobody"});
    EXPECT_EQ(noKey.status, 1) << noKey;
    EXPECT_NE(noKey.err.find("[sec.core 27] No private key for alias 'nobody'"), std::string::npos)
        << noKey;
    // Without a core id there is no default key to unseal with.
    Node bare;
    Result noId = bare({"unseal", bob.File("secret.sealed")});
    EXPECT_EQ(noId.status, 1) << noId;
    EXPECT_NE(noId.err.find("has no core id"), std::string::npos) << noId;
    EXPECT_EQ(bob({"unseal"}).status, 2);
    EXPECT_EQ(bob({"unseal", "a", "b"}).status, 2);
}

TEST(CliSeal, DamagedInputAndBadRecipientsFail) {
    SigningNode node;
    std::string file = node.Write("plain", RandomBytes(5000, 1));
    node.Ok({"seal", file, "--to-alias", "node-1", "-o", node.File("sealed")});
    std::string sealed = node.Read("sealed");
    std::string out = node.Write("out", "unchanged");
    Result cut = node({"unseal", "-", "-o", out}, sealed.substr(0, 100));
    EXPECT_EQ(cut.status, 1) << cut;
    EXPECT_NE(cut.err.find("[sec.core 56] Unexpected end of input data."), std::string::npos)
        << cut;
    Result badLength = node({"unseal", "-", "-o", out}, std::string("\x00\x00\x27\x11", 4) + "x");
    EXPECT_EQ(badLength.status, 1) << badLength;
    EXPECT_NE(badLength.err.find("[sec.core 57] Malformed input data."), std::string::npos)
        << badLength;
    std::string flipped = sealed;
    flipped[flipped.size() - 3] ^= 0x55;
    Result damaged = node({"unseal", "-", "-o", out}, flipped);
    EXPECT_EQ(damaged.status, 1) << damaged;
    EXPECT_EQ(node.Read("out"), "unchanged");

    qmsec_test::TestCertificate expired =
        qmsec_test::CertificateBuilder().CommonName("old").ValidFromNow(-86400 * 3, -86400).Build();
    Result old = node({"seal", file, "--to", node.Write("old.pem", expired.pem)});
    EXPECT_EQ(old.status, 1) << old;
    EXPECT_NE(old.err.find("is not valid now"), std::string::npos) << old;
    Result notACert = node({"seal", file, "--to", file});
    EXPECT_EQ(notACert.status, 1) << notACert;
    EXPECT_NE(notACert.err.find("[sec.core 91]"), std::string::npos) << notACert;
    Result none = node({"seal", file});
    EXPECT_EQ(none.status, 2) << none;
    Result algorithm = node({"seal", file, "--to-alias", "node-1", "--algorithm", "rc4"});
    EXPECT_EQ(algorithm.status, 2) << algorithm;
    EXPECT_NE(algorithm.err.find("unknown algorithm 'rc4'"), std::string::npos) << algorithm;
    Result both = node({"seal", file, "--to", "a", "--to-alias", "b"});
    EXPECT_EQ(both.status, 2) << both;
    Result missing = node({"seal", file, "--to-alias", "nobody"});
    EXPECT_EQ(missing.status, 1) << missing;
    EXPECT_NE(missing.err.find("[sec.core 25]"), std::string::npos) << missing;
}

TEST(CliMessage, ProgressBarOnATerminalForLongFiles) {
    SigningNode node;
    // A sparse file: long enough for the bar, yet no room on the disk.
    std::string file = node.File("sparse.bin");
    {
        std::ofstream out(file, std::ios::binary);
        out.seekp((32LL << 20) - 1);
        out.put('x');
    }
    std::vector<std::vector<std::string>> commands = {
        {"sign", file, "-o", node.File("sparse.sig")},
        {"verify", file, "--signature", node.File("sparse.sig")},
        {"seal", file, "--to-alias", "node-1", "-o", node.File("sparse.sealed")},
        {"unseal", node.File("sparse.sealed"), "-o", node.File("sparse.out")}};
    for (const auto& args : commands) {
        SCOPED_TRACE(args[0]);
        TerminalRun run = node.OnTerminal(args);
        const std::string& terminal = run.terminal;
        EXPECT_EQ(run.status, 0) << terminal;
        EXPECT_NE(terminal.find("\r" + args[0] + " ["), std::string::npos) << terminal;
        EXPECT_NE(terminal.find("32.0 MiB"), std::string::npos) << terminal;
        ASSERT_GE(terminal.size(), 4u);
        EXPECT_EQ(terminal.substr(terminal.size() - 4), "\r\033[K") << terminal;
        // Piped, nothing but results: no bar.
        Result piped = node(args);
        EXPECT_EQ(piped.status, 0) << piped;
        EXPECT_TRUE(piped.err.empty()) << piped;
    }
    EXPECT_EQ(node.Read("sparse.out"), qmsec_test::ReadFile(file));
}

}  // namespace
}  // namespace qmsec_cli
