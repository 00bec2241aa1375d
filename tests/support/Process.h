// A child process for tests that need a live peer (the openssl command as a TLS server or
// client): started with arguments, its standard output read line by line with a time limit,
// killed and reaped when the object goes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace qmsec_test {

// A size of process pid (0: this one) from its /proc status in KiB ("VmRSS" resident now,
// "VmHWM" the peak); -1 when it cannot be read.
inline long StatusKiB(const std::string& field, int pid = 0) {
    std::ifstream status(pid ? "/proc/" + std::to_string(pid) + "/status" : "/proc/self/status");
    const std::string prefix = field + ":";
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    }
    return -1;
}

// The number of descriptors process pid holds open; -1 when it cannot be read.
inline long OpenDescriptors(int pid) {
    std::error_code error;
    std::filesystem::directory_iterator fds("/proc/" + std::to_string(pid) + "/fd", error);
    if (error) return -1;
    return std::distance(fds, std::filesystem::directory_iterator());
}

class Process {
  public:
    // Runs argv[0] (looked up in PATH) with input as its standard input (then closed).
    explicit Process(const std::vector<std::string>& argv, const std::string& input = "") {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe failed");
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(out[1], 2);
            close(in[1]);
            close(out[0]);
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        out_ = out[0];
        if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
            // the child went early; its output tells why
        }
        close(in[1]);
    }
    ~Process() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Reads output until a line contains needle; returns that line ("" at the end or after
    // timeoutMs).
    std::string WaitForLine(const std::string& needle, int timeoutMs = 10000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            for (size_t nl; (nl = output_.find('\n', scanned_)) != std::string::npos;) {
                std::string line = output_.substr(scanned_, nl - scanned_);
                scanned_ = nl + 1;
                if (line.find(needle) != std::string::npos) return line;
            }
            if (!ReadSome(deadline)) return "";
        }
    }
    // The port of a server that announces it as "<marker> ...:PORT" (the openssl command's
    // "ACCEPT [::]:PORT"); 0 when no such line came in time.
    int ListeningPort(const std::string& marker = "ACCEPT") {
        std::string line = WaitForLine(marker);
        return line.empty() ? 0 : std::stoi(line.substr(line.rfind(':') + 1));
    }
    // Everything the process writes until it exits (or timeoutMs passes); then its exit status
    // (-1 when it was killed at the time limit).
    int Finish(int timeoutMs = 20000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (ReadSome(deadline)) {
        }
        int status = 0;
        if (std::chrono::steady_clock::now() >= deadline) kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& Output() const { return output_; }
    pid_t Pid() const { return pid_; }

  private:
    bool ReadSome(std::chrono::steady_clock::time_point deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) return false;
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) return false;
        char buffer[4096];
        ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0) return false;
        output_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
    size_t scanned_ = 0;
};

}  // namespace qmsec_test
