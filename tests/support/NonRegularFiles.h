// Devices, FIFOs and links for tests of what writing to a name does to what the name is.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace qmsec_test {

// A copy of /dev/null (character device 1,3) at path; false when it cannot be made.
inline bool MakeNullDevice(const std::string& path) {
    return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
}

// What path itself is (a link is not followed): "null device", "character device", "fifo",
// "link", "file", "directory", "other" or "missing".
inline std::string KindOf(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return "missing";
    if (S_ISCHR(st.st_mode))
        return st.st_rdev == makedev(1, 3) ? "null device" : "character device";
    if (S_ISFIFO(st.st_mode)) return "fifo";
    if (S_ISLNK(st.st_mode)) return "link";
    if (S_ISREG(st.st_mode)) return "file";
    return S_ISDIR(st.st_mode) ? "directory" : "other";
}

// A FIFO with a reader that never blocks a test: whatever writes to it finds the reader there
// at once, and a writer that never comes leaves the test with nothing read instead of a hang.
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
