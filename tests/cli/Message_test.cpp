// sign, verify, seal and unseal between nodes, and signatures checked by openssl dgst.
#include <gtest/gtest.h>

#include <random>

#include "cli/CliRunner.h"
#include "cli/MiniJson.h"
#include "support/Certificates.h"
#include "support/Command.h"

namespace qmsec_cli {
namespace {

using qmsec_test::Quote;
using qmsec_test::RunCommand;

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen());
    return s;
}

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

[[maybe_unused]] Record Decode(const std::string& encoded) {
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

}  // namespace
}  // namespace qmsec_cli
