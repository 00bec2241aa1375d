#include "Cli.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <set>

#include "QmSecCore/Utils.h"
#include "QmSecCore/Version.h"
#include "QmXpl/TraceObj_t.h"

namespace qmsec {

namespace {

const OptionSpec kGlobalOptions[] = {
    {"--json", "", "", "print the result as JSON on standard output"},
    {"--trace", "", "AREA=MASK", "switch tracing on, e.g. sec.core.*=0xffffffff (repeatable)",
     true},
    {"--help", "-h", "", "show this help"},
};

const OptionSpec* FindOption(const std::vector<OptionSpec>& options, const std::string& name) {
    for (const auto& o : options) {
        if (o.name == name || (!o.shortName.empty() && o.shortName == name)) return &o;
    }
    return nullptr;
}

const OptionSpec* FindGlobal(const std::string& name) {
    for (const auto& o : kGlobalOptions) {
        if (o.name == name || (!o.shortName.empty() && o.shortName == name)) return &o;
    }
    return nullptr;
}

// The columns of the terminal that standard error is, or 0 when it is none: error texts are
// wrapped for a person, never for a script.
int ErrorWidth() {
    if (!::isatty(STDERR_FILENO)) return 0;
    struct winsize ws {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col - 1;
    return 79;
}

void PrintError(const QmXplMsg::MessageList_t& messages) {
    String_t text = messages.Format(QmXplMsg::kFormatNumber | QmXplMsg::kFormatDetails);
    int width = ErrorWidth();
    String_t formatted = QmSecCore::Utils::FormatStdOutput(text, 10, width ? width : 1 << 20,
                                                           QmSecCore::Utils::eError);
    std::fprintf(stderr, "%s\n", formatted.ToUtf8().c_str());
}

// Whether everything printed on standard output has been written; says so on standard error
// when not (a full disk, /dev/full, a closed pipe), since a truncated result must not pass for
// a whole one.
bool StdoutWritten() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    std::fprintf(stderr, "qmsec: could not write the standard output\n");
    return false;
}

void PrintUsageError(const std::string& usage, const std::string& problem,
                     const std::string& helpCommand) {
    std::fprintf(stderr, "qmsec: %s\n%s\nTry '%s --help' for more information.\n", problem.c_str(),
                 usage.c_str(), helpCommand.c_str());
}

std::string OptionColumn(const OptionSpec& o) {
    std::string s = "  ";
    if (!o.shortName.empty()) s += o.shortName + ", ";
    s += o.name;
    if (!o.valueName.empty()) s += " " + o.valueName;
    return s;
}

void AppendOptionTable(std::string& out, const std::vector<OptionSpec>& options) {
    size_t width = 0;
    for (const auto& o : options) width = std::max(width, OptionColumn(o).size());
    for (const auto& o : options) {
        std::string col = OptionColumn(o);
        out += col + std::string(width - col.size() + 3, ' ') + o.help + "\n";
    }
}

}  // namespace

void Fail(const std::string& text, const QmXplMsg::MessageList_t& details) {
    QmXplMsg::CreateError_t message{String_t(text)};
    message.AddDetails(details);
    throw QmXplMsg::RuntimeException_t(message);
}

bool Invocation::Has(const std::string& option) const {
    for (const auto& o : options_) {
        if (o.first == option) return true;
    }
    return false;
}

std::optional<std::string> Invocation::Value(const std::string& option) const {
    for (const auto& o : options_) {
        if (o.first == option) return o.second;
    }
    return std::nullopt;
}

std::vector<std::string> Invocation::Values(const std::string& option) const {
    std::vector<std::string> values;
    for (const auto& o : options_) {
        if (o.first == option) values.push_back(o.second);
    }
    return values;
}

void Invocation::AtMostOne(const std::vector<std::string>& options) const {
    std::string first;
    for (const auto& o : options) {
        if (!Has(o)) continue;
        if (!first.empty()) Usage(first + " and " + o + " cannot be given together");
        first = o;
    }
}

int NumberOption(const Invocation& call, const std::string& option, int low, int high,
                 int fallback) {
    std::optional<std::string> value = call.Value(option);
    if (!value) return fallback;
    char* end = nullptr;
    long n = std::strtol(value->c_str(), &end, 10);
    if (value->empty() || *end || n < low || n > high)
        call.Usage(option + " wants a number from " + std::to_string(low) + " to " +
                   std::to_string(high) + ", not '" + *value + "'");
    return static_cast<int>(n);
}

void PrintResult(const Invocation& call, const JsonValue& json, const std::string& text) {
    if (call.Json()) {
        std::string out = json.Dump();
        std::fprintf(stdout, "%s\n", out.c_str());
    } else if (!text.empty()) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (text.back() != '\n') std::fputc('\n', stdout);
    }
}

const CommandSpec* CommandTable::Find(const std::string& path) const {
    for (const auto& c : commands_) {
        if (c.path == path) return &c;
    }
    return nullptr;
}

bool CommandTable::IsGroup(const std::string& path) const {
    for (const auto& c : commands_) {
        if (c.path.size() > path.size() && c.path.compare(0, path.size(), path) == 0 &&
            c.path[path.size()] == ' ')
            return true;
    }
    return false;
}

std::string CommandTable::UsageLine(const CommandSpec& cmd) const {
    std::string line = "usage: qmsec " + cmd.path;
    if (!cmd.synopsis.empty()) line += " " + cmd.synopsis;
    return line;
}

std::string CommandTable::Help(const CommandSpec& cmd) const {
    std::string out = UsageLine(cmd) + "\n\n" + cmd.description + "\n";
    if (!cmd.options.empty()) {
        out += "\nOptions:\n";
        AppendOptionTable(out, cmd.options);
    }
    out += "\nGlobal options:\n";
    std::vector<OptionSpec> globals;
    for (const auto& o : kGlobalOptions) {
        if (o.name == "--json" && !cmd.json) continue;
        globals.push_back(o);
    }
    AppendOptionTable(out, globals);
    out += "\nExit status: 0 success, 1 failure, 2 usage error.\n";
    return out;
}

std::string CommandTable::GroupHelp(const std::string& group) const {
    std::string out = "usage: qmsec " + group + " COMMAND [ARGS...]\n\nCommands:\n";
    size_t width = 0;
    for (const auto& c : commands_) {
        if (c.path.compare(0, group.size() + 1, group + " ") == 0)
            width = std::max(width, c.path.size());
    }
    for (const auto& c : commands_) {
        if (c.path.compare(0, group.size() + 1, group + " ") != 0) continue;
        out += "  " + c.path + std::string(width - c.path.size() + 3, ' ') + c.summary + "\n";
    }
    out += "\nRun 'qmsec " + group + " COMMAND --help' for the options of a command.\n";
    return out;
}

std::string CommandTable::ToolHelp() const {
    std::string out =
        "qmsec operates a node of QmSecCore: its configuration, key store and certificates,\n"
        "digests and ciphers, signed and sealed files, policies and the authorizer.\n\n"
        "usage: qmsec [--json] [--trace AREA=MASK] COMMAND [ARGS...]\n\nCommands:\n";
    size_t width = 0;
    for (const auto& c : commands_) width = std::max(width, c.path.size());
    for (const auto& c : commands_)
        out += "  " + c.path + std::string(width - c.path.size() + 3, ' ') + c.summary + "\n";
    out +=
        "\nGlobal options:\n"
        "  --json              print structured results as JSON on standard output\n"
        "  --trace AREA=MASK   switch tracing on (repeatable); areas sec.core.base, sec.core.io,\n"
        "                      sec.core.ssl, sec.core.auth, sec.core.exception; see QMXPL_TRACE\n"
        "  -h, --help          show help; 'qmsec COMMAND --help' for a command\n"
        "  --version           show the version of the tool and the library\n"
        "\nThe node directory is $QMXPL_HOME ($HOME/.qm when it is not set).\n"
        "Exit status: 0 success, 1 failure, 2 usage error.\n";
    return out;
}

int CommandTable::Main(int argc, char** argv) const {
    std::vector<std::string> tokens(argv + 1, argv + argc);
    bool json = false, help = false, version = false;
    std::vector<std::string> traces;
    std::string path;
    const CommandSpec* cmd = nullptr;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> options;
    std::string helpCommand = "qmsec";

    try {
        bool positionalOnly = false;
        for (size_t i = 0; i < tokens.size(); ++i) {
            const std::string& token = tokens[i];
            bool isOption = !positionalOnly && token.size() > 1 && token[0] == '-';
            if (!positionalOnly && token == "--") {
                positionalOnly = true;
                continue;
            }
            if (!isOption) {
                if (!cmd) {
                    std::string candidate = path.empty() ? token : path + " " + token;
                    if (const CommandSpec* found = Find(candidate); found && !IsGroup(candidate)) {
                        cmd = found;
                        path = candidate;
                        helpCommand = "qmsec " + path;
                        continue;
                    }
                    if (IsGroup(candidate)) {
                        path = candidate;
                        helpCommand = "qmsec " + path;
                        continue;
                    }
                    if (help) break;  // "qmsec --help whatever": the help of what is known
                    if (path.empty()) throw UsageError("unknown command '" + token + "'");
                    throw UsageError("unknown command '" + candidate + "'");
                }
                args.push_back(token);
                continue;
            }
            std::string name = token, value;
            bool hasValue = false;
            if (token.rfind("--", 0) == 0) {
                size_t eq = token.find('=');
                if (eq != std::string::npos) {
                    name = token.substr(0, eq);
                    value = token.substr(eq + 1);
                    hasValue = true;
                }
            }
            if (name == "--version" && !cmd) {
                version = true;
                continue;
            }
            const OptionSpec* option = cmd ? FindOption(cmd->options, name) : nullptr;
            bool global = false;
            if (!option) {
                option = FindGlobal(name);
                global = option != nullptr;
            }
            if (!option) {
                if (!cmd && !help)
                    throw UsageError("unknown option '" + name + "' (options follow the command)");
                if (help) continue;
                throw UsageError("unknown option '" + name + "'");
            }
            if (option->valueName.empty()) {
                if (hasValue) throw UsageError("option " + option->name + " takes no value");
            } else if (!hasValue) {
                if (i + 1 >= tokens.size())
                    throw UsageError("option " + option->name + " needs a value " +
                                     option->valueName);
                value = tokens[++i];
            }
            if (global) {
                if (option->name == "--json") json = true;
                if (option->name == "--help") help = true;
                if (option->name == "--trace") traces.push_back(value);
                continue;
            }
            if (!option->repeatable) {
                for (const auto& o : options) {
                    if (o.first == option->name)
                        throw UsageError("option " + option->name + " is given twice");
                }
            }
            options.emplace_back(option->name, value);
        }

        if (version) {
            std::printf("qmsec %s (QmSecCore %s)\n", QMSECCORE_VERSION_STRING,
                        QmSecCore::GetVersion());
            return StdoutWritten() ? kExitOk : kExitFailure;
        }
        if (help || (path.empty() && !cmd)) {
            std::string text = cmd ? Help(*cmd) : path.empty() ? ToolHelp() : GroupHelp(path);
            std::fputs(text.c_str(), help ? stdout : stderr);
            if (!help) return kExitUsage;
            return StdoutWritten() ? kExitOk : kExitFailure;
        }
        if (!cmd) {
            PrintUsageError("usage: qmsec " + path + " COMMAND [ARGS...]",
                            "'" + path + "' needs a command", helpCommand);
            return kExitUsage;
        }
        if (static_cast<int>(args.size()) < cmd->minArgs)
            throw UsageError(args.empty() ? "missing arguments"
                                          : "missing arguments after '" + args.back() + "'");
        if (cmd->maxArgs >= 0 && static_cast<int>(args.size()) > cmd->maxArgs)
            throw UsageError("unexpected argument '" + args[static_cast<size_t>(cmd->maxArgs)] +
                             "'");
        if (json && !cmd->json)
            throw UsageError("--json is not available for 'qmsec " + cmd->path +
                             "', whose output is not structured");
        for (const auto& t : traces) {
            try {
                QmXplTrc::TraceConfig_t::Configure(t);
            } catch (const QmXplMsg::Exception_t&) {
                throw UsageError("'" + t + "' is not a trace setting AREA=MASK");
            }
        }

        Invocation call(*cmd, std::move(args), std::move(options), json);
        int status = cmd->run(call);
        return StdoutWritten() ? status : kExitFailure;
    } catch (const UsageError& e) {
        std::string usage = cmd ? UsageLine(*cmd)
                            : path.empty()
                                ? "usage: qmsec [--json] [--trace AREA=MASK] COMMAND [ARGS...]"
                                : "usage: qmsec " + path + " COMMAND [ARGS...]";
        PrintUsageError(usage, e.Text(), helpCommand);
        return kExitUsage;
    } catch (const QmXplMsg::Exception_t& e) {
        std::fflush(stdout);
        PrintError(e.GetMessageList());
        return kExitFailure;
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        PrintError(QmXplMsg::MessageList_t(QmXplMsg::CreateError_t(String_t("Out of memory."))));
        return kExitFailure;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        PrintError(QmXplMsg::MessageList_t(
            QmXplMsg::CreateError_t(String_t(std::string("Unexpected failure: ") + e.what()))));
        return kExitFailure;
    }
}

}  // namespace qmsec
