// The frame every command shares: help, usage errors (exit status 2), failures (exit status 1)
// printed as message lists, --json and --trace.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>

#include "cli/CliRunner.h"
#include "cli/MiniJson.h"

namespace qmsec_cli {
namespace {

// Every top-level command and group; each must have help of its own.
const char* const kCommands[] = {"init",
                                 "config get",
                                 "config set",
                                 "config unset",
                                 "config list",
                                 "uuid",
                                 "cert show",
                                 "keystore list",
                                 "keystore install",
                                 "keystore export",
                                 "keystore remove",
                                 "keystore genkey",
                                 "digest",
                                 "base64",
                                 "encrypt",
                                 "decrypt",
                                 "seal",
                                 "unseal",
                                 "policy check",
                                 "authz rights",
                                 "authz check",
                                 "authz dump"};

std::vector<std::string> Words(const std::string& path) {
    std::vector<std::string> words;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(' ', start);
        if (end == std::string::npos) end = path.size();
        words.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

// No failure may show C++ internals instead of the library's messages.
void ExpectNoNoise(const Result& r) {
    for (const char* noise : {"terminate called", "what()", "std::", "Aborted", "core dumped"})
        EXPECT_EQ(r.err.find(noise), std::string::npos) << noise << "\n" << r;
}

TEST(CliFrame, HelpAtEveryLevelSucceedsAndNamesTheUsage) {
    Node node;
    Result top = node({"--help"});
    ASSERT_EQ(top.status, 0) << top;
    for (const char* command : kCommands) {
        EXPECT_NE(top.out.find(std::string("  ") + command), std::string::npos) << command;
        std::vector<std::string> args = Words(command);
        args.push_back("--help");
        Result r = node(args);
        EXPECT_EQ(r.status, 0) << command << "\n" << r;
        EXPECT_EQ(r.out.rfind(std::string("usage: qmsec ") + command, 0), 0u) << r;
        EXPECT_NE(r.out.find("Exit status"), std::string::npos) << r;
        EXPECT_TRUE(r.err.empty()) << r;
    }
    Result config = node({"config", "-h"});
    EXPECT_EQ(config.status, 0) << config;
    EXPECT_NE(config.out.find("config list"), std::string::npos) << config;
    EXPECT_EQ(config.out.find("authz dump"), std::string::npos) << config;
}

// Whether text names the option itself, not merely a longer one that begins with it.
bool Mentions(const std::string& text, const std::string& option) {
    for (size_t at = text.find(option); at != std::string::npos; at = text.find(option, at + 1)) {
        char next = at + option.size() < text.size() ? text[at + option.size()] : ' ';
        if (!std::isalnum(static_cast<unsigned char>(next)) && next != '-') return true;
    }
    return false;
}

// The user guide keeps up with the tool: every command that the help lists is described there,
// with every option its own help names.
TEST(CliFrame, GuideDescribesEveryCommandAndOption) {
    std::ifstream in(std::string(QMSEC_SOURCE_DIR) + "/docs/qmsec.md");
    ASSERT_TRUE(in) << "docs/qmsec.md";
    std::string guide((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Node node;
    Result top = node({"--help"});
    ASSERT_EQ(top.status, 0) << top;
    size_t at = top.out.find("Commands:\n");
    ASSERT_NE(at, std::string::npos) << top;
    std::vector<std::string> commands;
    for (size_t line = top.out.find('\n', at) + 1; top.out.compare(line, 2, "  ") == 0;
         line = top.out.find('\n', line) + 1) {
        size_t end = top.out.find("  ", line + 2);
        commands.push_back(top.out.substr(line + 2, end - line - 2));
    }
    EXPECT_GE(commands.size(), std::size(kCommands));
    for (const std::string& command : commands) {
        // "**`qmsec config get ...`**" or, after the first of a group, "**`config set ...`**".
        EXPECT_TRUE(guide.find("`qmsec " + command) != std::string::npos ||
                    guide.find("**`" + command) != std::string::npos)
            << command;
        std::vector<std::string> args = Words(command);
        args.push_back("--help");
        Result help = node(args);
        size_t options = help.out.find("Options:\n"), global = help.out.find("Global options:");
        if (options == std::string::npos) continue;
        for (size_t dash = help.out.find(" --", options); dash < global;
             dash = help.out.find(" --", dash + 1)) {
            size_t end = help.out.find_first_of(" \n=", dash + 1);
            std::string option = help.out.substr(dash + 1, end - dash - 1);
            EXPECT_TRUE(Mentions(guide, option)) << command << " " << option;
        }
    }
}

TEST(CliFrame, VersionNamesToolAndLibrary) {
    Result r = Node()({"--version"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out.rfind("qmsec ", 0), 0u) << r;
    EXPECT_NE(r.out.find("(QmSecCore "), std::string::npos) << r;
}

// Help and version that never reached their reader must not pass for success.
TEST(CliFrame, AFailedWriteOfHelpOrVersionFails) {
    Node node;
    for (const char* args : {"--version", "--help", "keystore --help", "uuid"}) {
        Result r = node.Shell(std::string("\"$QMSEC\" ") + args + " > /dev/full");
        EXPECT_EQ(r.status, 1) << args << "\n" << r;
        EXPECT_NE(r.err.find("could not write the standard output"), std::string::npos) << r;
    }
}

TEST(CliFrame, UsageErrorsExitWithTwoAndShowTheUsage) {
    Node node;
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const Case cases[] = {
        {{}, "usage: qmsec"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"config"}, "'config' needs a command"},
        {{"config", "frob"}, "unknown command 'config frob'"},
        {{"digest", "--bogus"}, "unknown option '--bogus'"},
        {{"--bogus", "digest"}, "unknown option '--bogus'"},
        {{"config", "get", "sec.core"}, "missing arguments"},
        {{"config", "get", "a", "b", "c"}, "unexpected argument 'c'"},
        {{"digest", "--algorithm"}, "needs a value ALG"},
        {{"digest", "--algorithm", "sha3"}, "unknown digest 'sha3'"},
        {{"digest", "--algorithm=md5", "--algorithm=sha1"}, "is given twice"},
        {{"base64", "--decode=yes"}, "takes no value"},
        {{"base64", "--json"}, "--json is not available"},
        {{"--trace", "no-equals-sign", "uuid"}, "is not a trace setting"},
        {{"uuid", "-n", "0"}, "-n wants a number"},
        {{"uuid", "-n", "12x"}, "-n wants a number"},
        {{"authz", "check", "e", "c", "-1"}, "unknown option '-1'"},
        {{"authz", "check", "e", "c", "0x1FFFFFFFF"}, "RIGHTS must be a 32-bit number"},
        {{"encrypt", "--algorithm", "rsa"}, "unknown algorithm 'rsa'"},
        {{"init", "--core-id", "a/b"}, "cannot be part of a file name"},
        {{"init", "--core-id", ".."}, "no valid core id"},
    };
    for (const auto& c : cases) {
        Result r = node(c.args);
        EXPECT_EQ(r.status, 2) << r;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.says << "\n" << r;
        EXPECT_NE(r.err.find("usage: qmsec"), std::string::npos) << r;
        EXPECT_TRUE(r.out.empty()) << r;
        ExpectNoNoise(r);
    }
}

TEST(CliFrame, OptionsMayComeAnywhereAfterTheCommandAndDashDashEndsThem) {
    Node node;
    node.Write("-n", "abc");
    Result r = node.Shell("\"$QMSEC\" digest -- -n");
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, "a9993e364706816aba3e25717850c26c9cd0d89d  -n\n");
    // After "--" even an option's spelling is a file name (here one that does not exist).
    Result viaShell = node.Shell("\"$QMSEC\" digest -- -n --algorithm=md5");
    EXPECT_EQ(viaShell.status, 1) << viaShell;
    EXPECT_NE(viaShell.err.find("--algorithm=md5"), std::string::npos) << viaShell;
    Result mixed = node.Shell("\"$QMSEC\" --json digest --algorithm md5 -- -n");
    ASSERT_EQ(mixed.status, 0) << mixed;
    EXPECT_EQ(Json::Parse(mixed.out)[0]["digest"].Str(), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(CliFrame, FailuresPrintTheMessageListAndExitWithOne) {
    Node node;
    std::string abc = node.Write("abc", "abc");
    Result missing = node({"digest", node.File("no-such-file"), abc});
    EXPECT_EQ(missing.status, 1) << missing;
    // The other files are digested all the same.
    EXPECT_EQ(missing.out, "a9993e364706816aba3e25717850c26c9cd0d89d  " + abc + "\n");
    EXPECT_EQ(missing.err.rfind("ERROR:", 0), 0u) << missing;
    EXPECT_NE(missing.err.find("no-such-file"), std::string::npos) << missing;
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing;
    ExpectNoNoise(missing);

    // A library message carries its catalog number.
    node.Write("not-a-cert.pem", "hello\n");
    Result parse = node({"cert", "show", node.File("not-a-cert.pem")});
    EXPECT_EQ(parse.status, 1) << parse;
    EXPECT_NE(parse.err.find("[sec.core 91] Could not parse encoded X509 Certificate"),
              std::string::npos)
        << parse;
    EXPECT_TRUE(parse.out.empty()) << parse;
    ExpectNoNoise(parse);
}

TEST(CliFrame, TraceWritesTheLibrarysLinesOnlyWhenAsked) {
    Node node;
    Result quiet = node({"digest"}, "abc");
    ASSERT_EQ(quiet.status, 0) << quiet;
    EXPECT_TRUE(quiet.err.empty()) << quiet;
    Result traced = node({"--trace", "sec.core.base=9", "digest"}, "abc");
    ASSERT_EQ(traced.status, 0) << traced;
    EXPECT_NE(traced.err.find("> MessageDigestImpl Constructor"), std::string::npos) << traced;
    EXPECT_EQ(traced.out, quiet.out);
    // Tracing goes where QMXPL_TRACE_FILE says, like every program of the library.
    std::string file = node.File("trace.log");
    Result toFile =
        node({"digest", "--trace", "sec.core.*=0xffffffff"}, "abc", {{"QMXPL_TRACE_FILE", file}});
    ASSERT_EQ(toFile.status, 0) << toFile;
    EXPECT_TRUE(toFile.err.empty()) << toFile;
    EXPECT_NE(node.Read("trace.log").find("MessageDigestImpl::Digest()"), std::string::npos);
}

TEST(CliFrame, JsonOutputIsOneValidDocument) {
    Node node;
    Result r = node({"uuid", "--json", "-n", "3"});
    ASSERT_EQ(r.status, 0) << r;
    Json ids = Json::Parse(r.out);
    ASSERT_EQ(ids.Size(), 3u);
    EXPECT_NE(ids[0].Str(), ids[1].Str());
    Result one = node({"--json", "uuid"});
    ASSERT_EQ(one.status, 0) << one;
    EXPECT_EQ(Json::Parse(one.out).Str().size(), 36u);
}

TEST(CliInstallation, BringsTheKeyProviderForProducts) {
    std::string prefix = QMSEC_CLI_PREFIX;
    EXPECT_TRUE(std::ifstream(prefix + "/include/QmSecKeyProvider/KeyProvider.h").good());
    bool library = false, targets = false;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(prefix)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("libQmSecKeyProvider.so", 0) == 0) library = true;
        if (name == "QmSecCoreTargets.cmake")
            targets =
                qmsec_test::ReadFile(entry.path().string()).find("QmSecCore::QmSecKeyProvider") !=
                std::string::npos;
    }
    EXPECT_TRUE(library);
    EXPECT_TRUE(targets);
}

}  // namespace
}  // namespace qmsec_cli
