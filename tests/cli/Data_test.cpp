// digest, base64, encrypt and decrypt, checked against independent tools.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "cli/CliRunner.h"
#include "cli/MiniJson.h"
#include "support/Bytes.h"
#include "support/Command.h"

namespace qmsec_cli {
namespace {

using qmsec_test::Hex;
using qmsec_test::Quote;
using qmsec_test::RandomBytes;
using qmsec_test::RunCommand;

TEST(CliDigest, KnownAnswersFromFilesAndStandardInput) {
    Node node;
    std::string abc = node.Write("abc", "abc");
    std::string empty = node.Write("empty", "");
    Result r = node({"digest", abc, empty});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, "a9993e364706816aba3e25717850c26c9cd0d89d  " + abc +
                         "\nda39a3ee5e6b4b0d3255bfef95601890afd80709  " + empty + "\n");
    Result md5 = node({"digest", "--algorithm", "md5"}, "abc");
    ASSERT_EQ(md5.status, 0) << md5;
    EXPECT_EQ(md5.out, "900150983cd24fb0d6963f7d28e17f72  -\n");
    Result json =
        node({"--json", "digest", "-", abc}, "The quick brown fox jumps over the lazy dog");
    ASSERT_EQ(json.status, 0) << json;
    Json j = Json::Parse(json.out);
    ASSERT_EQ(j.Size(), 2u);
    EXPECT_EQ(j[0]["file"].Str(), "-");
    EXPECT_EQ(j[0]["digest"].Str(), "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12");
    EXPECT_EQ(j[1]["algorithm"].Str(), "sha1");
}

TEST(CliDigest, LongFilesMatchSha1sumAndItsCheckMode) {
    Node node;
    // Several chunks and a piece of one.
    std::string file = node.Write("long.bin", RandomBytes(3 * 65536 + 4321, 7));
    // A name with a line feed and a backslash: written escaped, as sha1sum does, so that it
    // cannot print a line of its own.
    std::string odd = node.Write("odd\nname\\x", "odd");
    Result r = node({"digest", file, odd});
    ASSERT_EQ(r.status, 0) << r;
    auto reference = RunCommand("sha1sum " + Quote(file) + " " + Quote(odd));
    ASSERT_EQ(reference.status, 0);
    EXPECT_EQ(r.out, reference.output);
    node.Write("sums", r.out);
    auto check = RunCommand("sha1sum --check --status " + Quote(node.File("sums")));
    EXPECT_EQ(check.status, 0);
    Result md5 = node({"digest", "--algorithm", "md5", file});
    EXPECT_EQ(md5.out, RunCommand("md5sum " + Quote(file)).output);
}

TEST(CliDigest, ProgressBarOnlyOnATerminal) {
    Node node;
    // A sparse file: long enough to take a while, yet no room on the disk.
    std::string file = node.File("sparse.bin");
    {
        int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 256LL << 20), 0);
        close(fd);
    }
    Result piped = node({"digest", file});
    ASSERT_EQ(piped.status, 0) << piped;
    EXPECT_TRUE(piped.err.empty()) << piped;
    std::string terminal = node.OnTerminal({"digest", file}).terminal;
    EXPECT_NE(terminal.find("\rdigest ["), std::string::npos) << terminal;
    EXPECT_NE(terminal.find("% "), std::string::npos) << terminal;
    EXPECT_NE(terminal.find("256.0 MiB"), std::string::npos) << terminal;
    // The bar is wiped at the end, so what follows starts on a clean line.
    EXPECT_EQ(terminal.substr(terminal.size() - 4), "\r\033[K") << terminal;
}

TEST(CliBase64, EncodesInLinesAndDecodesWithOrWithoutThem) {
    Node node;
    Result abc = node({"base64"}, "abc");
    ASSERT_EQ(abc.status, 0) << abc;
    EXPECT_EQ(abc.out, "YWJj\n");
    std::string data = RandomBytes(1000, 3);
    std::string file = node.Write("data", data);
    Result encoded = node({"base64", file});
    ASSERT_EQ(encoded.status, 0) << encoded;
    // The same text as OpenSSL's encoder: 64 characters a line.
    EXPECT_EQ(encoded.out, RunCommand("openssl base64 -in " + Quote(file)).output);
    Result decoded = node({"base64", "-d"}, encoded.out);
    ASSERT_EQ(decoded.status, 0) << decoded;
    EXPECT_EQ(decoded.out, data);
    std::string oneLine;
    for (char c : encoded.out)
        if (c != '\n') oneLine.push_back(c);
    Result decodedOneLine = node({"base64", "--decode", "-o", node.File("out.bin")}, oneLine);
    ASSERT_EQ(decodedOneLine.status, 0) << decodedOneLine;
    EXPECT_TRUE(decodedOneLine.out.empty());
    EXPECT_EQ(node.Read("out.bin"), data);
    Result empty = node({"base64"});
    ASSERT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "");
}

TEST(CliBase64, InvalidTextFailsWithTheCodecsMessage) {
    Node node;
    Result bad = node({"base64", "-d"}, "!!!!\n");
    EXPECT_EQ(bad.status, 1) << bad;
    EXPECT_NE(bad.err.find("[sec.core 10]"), std::string::npos) << bad;
    Result cut = node({"base64", "-d", "-o", node.File("cut.bin")}, "YWJ");
    EXPECT_EQ(cut.status, 1) << cut;
    EXPECT_NE(cut.err.find("[sec.core 13] Error during decoding."), std::string::npos) << cut;
    // Nothing half-written is left where the output was to go.
    EXPECT_FALSE(std::ifstream(node.File("cut.bin")).good());
}

// The key qmsec derives from a password, by the independent reference of the derivation.
std::string DerivedKeyHex(const std::string& password, int length) {
    auto r = RunCommand("python3 " +
                        Quote(std::string(QMSEC_SOURCE_DIR) + "/tests/tools/pkcs12_kdf.py") + " " +
                        Hex(password));
    std::string marker = " | " + std::to_string(length) + " | ";
    size_t at = r.output.find(marker);
    if (at == std::string::npos) return "";
    return r.output.substr(at + marker.size(), static_cast<size_t>(length) * 2);
}

TEST(CliCrypt, RoundTripsEveryAlgorithmAndOpenSslReadsTheFormat) {
    Node node;
    std::string plain = RandomBytes(200000, 11);
    std::string file = node.Write("plain.bin", plain);
    struct Alg {
        const char* name;
        const char* openssl;
        int keyLength;
    };
    for (Alg alg : {Alg{"blowfish", "-bf-cbc -provider legacy -provider default", 16},
                    Alg{"des", "-des-cbc -provider legacy -provider default", 8},
                    Alg{"des3", "-des-ede3-cbc", 24}}) {
        SCOPED_TRACE(alg.name);
        std::string enc = node.File(std::string("plain.") + alg.name);
        Result e =
            node({"encrypt", "--algorithm", alg.name, "--password-env", "PW", file, "-o", enc}, "",
                 {{"PW", "pass phrase"}});
        ASSERT_EQ(e.status, 0) << e;
        std::string cipher = qmsec_test::ReadFile(enc);
        // The random vector in front, then whole blocks of CBC with PKCS #5 padding.
        EXPECT_EQ(cipher.size(), 8 + (plain.size() / 8 + 1) * 8);
        Result d = node({"decrypt", "--algorithm", alg.name, "--password-env", "PW", enc}, "",
                        {{"PW", "pass phrase"}});
        ASSERT_EQ(d.status, 0) << d;
        EXPECT_TRUE(d.out == plain);

        std::string key = DerivedKeyHex("pass phrase", alg.keyLength);
        ASSERT_FALSE(key.empty());
        node.Write("body", cipher.substr(8));
        auto ref =
            RunCommand(std::string("openssl enc -d ") + alg.openssl + " -K " + key + " -iv " +
                       Hex(cipher.substr(0, 8)) + " -in " + Quote(node.File("body")));
        ASSERT_EQ(ref.status, 0);
        EXPECT_TRUE(ref.output == plain);
    }
}

TEST(CliCrypt, SameInputEncryptsDifferentlyAndPipesWork) {
    Node node;
    std::map<std::string, std::string> env{{"PW", "x"}};
    Result a = node({"encrypt", "--password-env", "PW"}, "same text", env);
    Result b = node({"encrypt", "--password-env", "PW"}, "same text", env);
    ASSERT_EQ(a.status, 0) << a;
    ASSERT_EQ(b.status, 0) << b;
    EXPECT_NE(a.out, b.out);
    Result back = node({"decrypt", "--password-env", "PW"}, a.out, env);
    ASSERT_EQ(back.status, 0) << back;
    EXPECT_EQ(back.out, "same text");
    Result empty = node({"encrypt", "--password-env", "PW"}, "", env);
    ASSERT_EQ(empty.status, 0) << empty;
    EXPECT_EQ(empty.out.size(), 16u);
    EXPECT_EQ(node({"decrypt", "--password-env", "PW"}, empty.out, env).out, "");
}

TEST(CliCrypt, PasswordFileHoldsTheFirstLine) {
    Node node;
    std::string pwFile = node.Write("pw", "line one\nline two\n");
    Result e = node({"encrypt", "--password-file", pwFile}, "secret data");
    ASSERT_EQ(e.status, 0) << e;
    Result d = node({"decrypt", "--password-env", "PW"}, e.out, {{"PW", "line one"}});
    ASSERT_EQ(d.status, 0) << d;
    EXPECT_EQ(d.out, "secret data");
}

TEST(CliCrypt, WrongPasswordFailsAndLeavesTheOutputFileAlone) {
    Node node;
    std::map<std::string, std::string> env{{"PW", "right"}};
    Result e = node({"encrypt", "--password-env", "PW"}, std::string(1000, 'x'), env);
    ASSERT_EQ(e.status, 0) << e;
    std::string out = node.Write("out.txt", "previous contents");
    Result d = node({"decrypt", "--password-env", "PW", "-o", out}, e.out, {{"PW", "wrong"}});
    EXPECT_EQ(d.status, 1) << d;
    EXPECT_NE(d.err.find("[sec.core 76] Could not decrypt data. Incorrect padding."),
              std::string::npos)
        << d;
    EXPECT_EQ(node.Read("out.txt"), "previous contents");
    Result truncated =
        node({"decrypt", "--password-env", "PW", "-o", out}, e.out.substr(0, 12), env);
    EXPECT_EQ(truncated.status, 1) << truncated;
    EXPECT_EQ(node.Read("out.txt"), "previous contents");
}

TEST(CliCrypt, PasswordIsAskedOnTheTerminalWithoutEcho) {
    Node node;
    std::string plain = node.Write("plain.txt", "typed on a terminal\n");
    TerminalRun e =
        node.OnTerminal({"encrypt", "-o", node.File("plain.enc")}, {"s3cret", "s3cret"}, plain);
    ASSERT_EQ(e.status, 0) << e.terminal;
    EXPECT_NE(e.terminal.find("Password: "), std::string::npos) << e.terminal;
    EXPECT_NE(e.terminal.find("Password again: "), std::string::npos) << e.terminal;
    EXPECT_EQ(e.terminal.find("s3cret"), std::string::npos) << e.terminal;
    Result d =
        node({"decrypt", "--password-env", "PW", node.File("plain.enc")}, "", {{"PW", "s3cret"}});
    ASSERT_EQ(d.status, 0) << d;
    EXPECT_EQ(d.out, "typed on a terminal\n");
    // Decrypting asks once.
    TerminalRun once =
        node.OnTerminal({"decrypt", node.File("plain.enc"), "-o", node.File("back")}, {"s3cret"});
    ASSERT_EQ(once.status, 0) << once.terminal;
    EXPECT_EQ(once.terminal.find("again"), std::string::npos) << once.terminal;
    EXPECT_EQ(node.Read("back"), "typed on a terminal\n");

    TerminalRun mismatch =
        node.OnTerminal({"encrypt", "-o", node.File("x.enc")}, {"one", "two"}, plain);
    EXPECT_EQ(mismatch.status, 1) << mismatch.terminal;
    EXPECT_NE(mismatch.terminal.find("The passwords do not match."), std::string::npos)
        << mismatch.terminal;
    EXPECT_FALSE(std::ifstream(node.File("x.enc")).good());
}

TEST(CliCrypt, BinaryOutputIsNotWrittenToATerminal) {
    Node node;
    std::string plain = node.Write("plain.txt", "x");
    TerminalRun r =
        node.OnTerminal({"encrypt", "--password-env", "PW"}, {}, plain, true, {{"PW", "p"}});
    EXPECT_EQ(r.status, 2) << r.terminal;
    EXPECT_NE(r.terminal.find("the output is binary and the standard output is a terminal"),
              std::string::npos)
        << r.terminal;
}

TEST(CliCrypt, MissingOrEmptyPasswordsAreRefused) {
    Node node;
    Result unset = node({"encrypt", "--password-env", "NOT_SET_ANYWHERE"}, "x");
    EXPECT_EQ(unset.status, 2) << unset;
    EXPECT_NE(unset.err.find("NOT_SET_ANYWHERE is not set"), std::string::npos) << unset;
    Result both =
        node({"encrypt", "--password-env", "PW", "--password-file", "f"}, "x", {{"PW", "p"}});
    EXPECT_EQ(both.status, 2) << both;
    Result empty = node({"encrypt", "--password-env", "PW"}, "x", {{"PW", ""}});
    EXPECT_EQ(empty.status, 1) << empty;
    EXPECT_NE(empty.err.find("The password is empty."), std::string::npos) << empty;
    // No terminal to ask on: the runner gives the child none.
    Result none = node({"encrypt"}, "x");
    EXPECT_EQ(none.status, 2) << none;
    EXPECT_NE(none.err.find("no password"), std::string::npos) << none;
}

}  // namespace
}  // namespace qmsec_cli
