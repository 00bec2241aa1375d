// Runs the installed qmsec in a node directory of its own and collects what it printed.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TempDir.h"

extern char** environ;

namespace qmsec_cli {

// The qmsec that `cmake --install` put into the test prefix.
inline std::string QmsecPath() { return std::string(QMSEC_CLI_PREFIX) + "/bin/qmsec"; }

struct Result {
    int status = -1;       // exit status; -1 when killed by a signal
    std::string out, err;  // standard output and standard error
    long maxRssKiB = 0;    // the child's peak resident memory
};

inline std::ostream& operator<<(std::ostream& os, const Result& r) {
    return os << "status " << r.status << "\n--- stdout ---\n"
              << r.out << "\n--- stderr ---\n"
              << r.err;
}

// The environment of the child: this process's, without the settings that would change what
// qmsec does (tracing, another node directory), plus the given ones.
inline std::vector<std::string> ChildEnvironment(const std::map<std::string, std::string>& add) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        std::string name = entry.substr(0, entry.find('='));
        if (name == "QMXPL_HOME" || name == "QMXPL_TRACE" || name == "QMXPL_TRACE_FILE" ||
            add.count(name))
            continue;
        env.push_back(entry);
    }
    for (const auto& [name, value] : add) env.push_back(name + "=" + value);
    return env;
}

// Attributes of every child: a session of its own, so that it has no controlling terminal to ask
// on, and the default action for SIGPIPE, which the test process ignores (a child that exits
// without reading all of its input must not kill the test).
inline void SpawnAttributes(posix_spawnattr_t* attributes) {
    static const bool pipeIgnored = signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    (void)pipeIgnored;
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_init(attributes);
    posix_spawnattr_setsigdefault(attributes, &defaults);
    posix_spawnattr_setflags(attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF);
}

// Starts program with args in a session of its own with the given file actions (which it then
// destroys); -1 when it cannot be started.
inline pid_t StartChild(const std::string& program, const std::vector<std::string>& args,
                        const std::map<std::string, std::string>& env,
                        posix_spawn_file_actions_t* actions) {
    std::vector<std::string> argvStrings{program};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<std::string> envStrings = ChildEnvironment(env);
    std::vector<char*> argv, envp;
    for (auto& a : argvStrings) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawnattr_t attributes;
    SpawnAttributes(&attributes);
    pid_t pid;
    int rc = posix_spawn(&pid, program.c_str(), actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(actions);
    return rc == 0 ? pid : -1;
}

// Runs program with args, feeding input to its standard input (or, with feed, whatever feed
// writes to the descriptor before closing it), and collects its output. With sink, standard
// output is handed to sink piece by piece instead of being collected.
inline Result Spawn(const std::string& program, const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env, const std::string& input,
                    const std::function<void(const char*, size_t)>& sink = nullptr) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t pid = StartChild(program, args, env, &actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        close(err[0]);
        throw std::runtime_error("cannot start " + program);
    }

    Result result;
    size_t written = 0;
    int inFd = in[1];
    if (input.empty()) {
        close(inFd);
        inFd = -1;
    } else {
        fcntl(inFd, F_SETFL, O_NONBLOCK);
    }
    bool outOpen = true, errOpen = true;
    char buf[65536];
    while (outOpen || errOpen) {
        pollfd fds[3];
        int n = 0;
        int outIndex = -1, errIndex = -1, inIndex = -1;
        if (outOpen) fds[outIndex = n++] = {out[0], POLLIN, 0};
        if (errOpen) fds[errIndex = n++] = {err[0], POLLIN, 0};
        if (inFd >= 0) fds[inIndex = n++] = {inFd, POLLOUT, 0};
        if (poll(fds, static_cast<nfds_t>(n), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (inIndex >= 0 && fds[inIndex].revents) {
            ssize_t w = write(inFd, input.data() + written, input.size() - written);
            if (w > 0) written += static_cast<size_t>(w);
            if (w < 0 && errno != EAGAIN) written = input.size();  // the child stopped reading
            if (written == input.size()) {
                close(inFd);
                inFd = -1;
            }
        }
        auto drain = [&](int index, int fd, bool& open, bool isOut) {
            if (index < 0 || !fds[index].revents) return;
            ssize_t r = read(fd, buf, sizeof buf);
            if (r <= 0) {
                open = false;
                return;
            }
            if (isOut && sink) {
                sink(buf, static_cast<size_t>(r));
            } else {
                (isOut ? result.out : result.err).append(buf, static_cast<size_t>(r));
            }
        };
        drain(outIndex, out[0], outOpen, true);
        drain(errIndex, err[0], errOpen, false);
    }
    if (inFd >= 0) close(inFd);
    close(out[0]);
    close(err[0]);
    int status = 0;
    struct rusage usage {};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.maxRssKiB = usage.ru_maxrss;
    return result;
}

struct TerminalRun {
    int status = -1;
    std::string terminal;  // everything written to the terminal
};

// Runs program in a session whose controlling terminal is a pseudo-terminal that the test reads,
// with standard error (and standard output, when stdoutOnTerminal) on it, standard input from
// the file inputFile (or /dev/null) and standard output otherwise to /dev/null. Each time the
// terminal shows another "Password" prompt, the next of answers is typed, with a line feed.
inline TerminalRun SpawnOnTerminal(const std::string& program, const std::vector<std::string>& args,
                                   const std::map<std::string, std::string>& env,
                                   const std::vector<std::string>& answers,
                                   const std::string& inputFile, bool stdoutOnTerminal) {
    TerminalRun run;
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    std::string slavePath = ptsname(master);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The first terminal a session leader opens becomes its controlling terminal (/dev/tty).
    posix_spawn_file_actions_addopen(&actions, 2, slavePath.c_str(), O_RDWR, 0);
    posix_spawn_file_actions_addopen(
        &actions, 0, inputFile.empty() ? "/dev/null" : inputFile.c_str(), O_RDONLY, 0);
    if (stdoutOnTerminal) {
        posix_spawn_file_actions_adddup2(&actions, 2, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = StartChild(program, args, env, &actions);
    if (pid < 0) {
        close(master);
        throw std::runtime_error("cannot start " + program);
    }
    size_t answered = 0;
    char buf[4096];
    for (;;) {
        ssize_t n = read(master, buf, sizeof buf);  // EIO once the child has closed the terminal
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        run.terminal.append(buf, static_cast<size_t>(n));
        size_t prompts = 0;
        for (size_t at = run.terminal.find("Password"); at != std::string::npos;
             at = run.terminal.find("Password", at + 1))
            ++prompts;
        while (answered < prompts && answered < answers.size()) {
            std::string line = answers[answered++] + "\n";
            (void)!write(master, line.data(), line.size());
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    close(master);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A node directory of its own for one test, removed afterwards, in which qmsec runs.
class Node {
  public:
    Node() : home_(dir_.File("node")) {}
    const std::string& Home() const { return home_; }
    std::string File(const std::string& name) const { return dir_.File(name); }
    std::string Write(const std::string& name, const std::string& bytes) const {
        return dir_.Write(name, bytes);
    }
    std::string Read(const std::string& name) const { return qmsec_test::ReadFile(File(name)); }

    Result operator()(const std::vector<std::string>& args, const std::string& input = "",
                      std::map<std::string, std::string> env = {}) const {
        env["QMXPL_HOME"] = home_;
        return Spawn(QmsecPath(), args, env, input);
    }
    // The same, for a call that must succeed.
    Result Ok(const std::vector<std::string>& args, const std::string& input = "") const {
        Result r = (*this)(args, input);
        EXPECT_EQ(r.status, 0) << r;
        return r;
    }
    // Runs qmsec with the terminal as SpawnOnTerminal describes.
    TerminalRun OnTerminal(const std::vector<std::string>& args,
                           const std::vector<std::string>& answers = {},
                           const std::string& inputFile = "", bool stdoutOnTerminal = false,
                           std::map<std::string, std::string> env = {}) const {
        env["QMXPL_HOME"] = home_;
        return SpawnOnTerminal(QmsecPath(), args, env, answers, inputFile, stdoutOnTerminal);
    }
    // Runs a shell command line in the test directory with this node's QMXPL_HOME.
    Result Shell(const std::string& command) const {
        return Spawn("/bin/sh", {"-c", "cd " + dir_.Path() + " && " + command},
                     {{"QMXPL_HOME", home_}, {"QMSEC", QmsecPath()}}, "");
    }

  private:
    qmsec_test::TempDir dir_;
    std::string home_;
};

}  // namespace qmsec_cli
