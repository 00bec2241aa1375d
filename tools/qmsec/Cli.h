// The command frame of qmsec: command table, argument parsing, usage errors and help.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Json.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/Message_t.h"
#include "QmXpl/String_t.h"

namespace qmsec {

// Every command works in the layer's arrays and strings.
using QmXplArray::CharArray_t;
using QmXplStr::String_t;

// Exit statuses: success, a failure of the operation, a mistake in how the tool was called.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// A mistake in how the tool was called (exit status 2). The text says what is wrong; the frame
// adds the command's usage line.
class UsageError {
  public:
    explicit UsageError(std::string text) : text_(std::move(text)) {}
    const std::string& Text() const noexcept { return text_; }

  private:
    std::string text_;
};

// Reports a failure that the tool finds itself (exit status 1) the way the library reports its
// own: an exception with a message list, which the frame prints. details are attached to the
// message.
[[noreturn]] void Fail(const std::string& text,
                       const QmXplMsg::MessageList_t& details = QmXplMsg::MessageList_t());

struct OptionSpec {
    std::string name;       // "--cert"
    std::string shortName;  // "-o", or empty
    std::string valueName;  // "FILE" for an option with a value, empty for a flag
    std::string help;
    bool repeatable = false;
};

class Invocation;

struct CommandSpec {
    std::string path;      // the words that name the command: "keystore install"
    std::string synopsis;  // what follows the options in the usage line: "ALIAS --cert FILE ..."
    int minArgs = 0;       // positional arguments
    int maxArgs = 0;       // -1: any number
    std::vector<OptionSpec> options;
    std::string summary;      // one line for the command list
    std::string description;  // the help text, paragraphs separated by blank lines
    bool json = false;        // whether --json applies
    int (*run)(Invocation&) = nullptr;
};

// One call of a command: its parsed arguments and the global settings.
class Invocation {
  public:
    Invocation(const CommandSpec& cmd, std::vector<std::string> args,
               std::vector<std::pair<std::string, std::string>> options, bool json)
        : spec_(cmd), args_(std::move(args)), options_(std::move(options)), json_(json) {}

    const CommandSpec& Spec() const noexcept { return spec_; }
    const std::vector<std::string>& Args() const noexcept { return args_; }
    const std::string& Arg(size_t i) const { return args_.at(i); }
    bool Json() const noexcept { return json_; }

    bool Has(const std::string& option) const;
    // The value of an option given once, if given.
    std::optional<std::string> Value(const std::string& option) const;
    // Every value of a repeatable option, in order.
    std::vector<std::string> Values(const std::string& option) const;

    // Throws the usage error for this command.
    [[noreturn]] void Usage(const std::string& problem) const { throw UsageError(problem); }
    // At most one of the options may be given; throws the usage error otherwise.
    void AtMostOne(const std::vector<std::string>& options) const;

  private:
    const CommandSpec& spec_;
    std::vector<std::string> args_;
    std::vector<std::pair<std::string, std::string>> options_;
    bool json_;
};

// The commands of the tool, registered by each command group at start.
class CommandTable {
  public:
    void Add(CommandSpec cmd) { commands_.push_back(std::move(cmd)); }
    const std::vector<CommandSpec>& All() const noexcept { return commands_; }
    // Runs the tool on argv and returns the exit status; prints results, errors and help.
    int Main(int argc, char** argv) const;

  private:
    const CommandSpec* Find(const std::string& path) const;
    bool IsGroup(const std::string& path) const;
    std::string UsageLine(const CommandSpec& cmd) const;
    std::string Help(const CommandSpec& cmd) const;
    std::string GroupHelp(const std::string& group) const;
    std::string ToolHelp() const;
    std::vector<CommandSpec> commands_;
};

// The value of option as a whole number from low to high, fallback when it is not given; a usage
// error for anything else.
int NumberOption(const Invocation& call, const std::string& option, int low, int high,
                 int fallback);

// Each command group adds its commands.
void AddNodeCommands(CommandTable& table);     // init, config, uuid
void AddDataCommands(CommandTable& table);     // digest, base64, encrypt, decrypt
void AddCertCommands(CommandTable& table);     // cert, keystore
void AddMessageCommands(CommandTable& table);  // sign, verify, seal, unseal
void AddPolicyCommands(CommandTable& table);   // policy, authz
void AddTlsCommands(CommandTable& table);      // tls serve, connect, sniff

// Prints the result of a command: JSON on standard output when --json was given, the text
// otherwise.
void PrintResult(const Invocation& call, const JsonValue& json, const std::string& text);

}  // namespace qmsec
