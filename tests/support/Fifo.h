// A FIFO with a reader that never blocks a test: whatever writes to it finds the reader there
// at once, and a writer that never comes leaves the test with nothing read instead of a hang.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace qmsec_test {

class FifoWithReader {
  public:
    explicit FifoWithReader(const std::string& path) {
        if (mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed: " + path);
        // Opening the read end without O_NONBLOCK would wait for a writer.
        fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    }
    ~FifoWithReader() { close(fd_); }
    FifoWithReader(const FifoWithReader&) = delete;
    FifoWithReader& operator=(const FifoWithReader&) = delete;

    // What has been written so far (at most what the pipe holds).
    std::string Drain() const {
        std::string out;
        char buf[4096];
        ssize_t n;
        while ((n = read(fd_, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
        return out;
    }

  private:
    int fd_ = -1;
};

}  // namespace qmsec_test
