// A temporary directory for one test, removed with everything in it afterwards, and plain POSIX
// file access that is independent of the classes under test.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace qmsec_test {

inline std::string ReadFile(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot read " + path);
    std::string out;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fd);
    return out;
}

// Writes bytes to path (its folders made as needed) with mode for a new file.
inline void WriteFile(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    bool ok =
        fd >= 0 && write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    if (fd < 0 || close(fd) != 0 || !ok) throw std::runtime_error("cannot write " + path);
}

inline int PermissionsOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

// Sets the umask for a scope.
class UmaskScope {
  public:
    explicit UmaskScope(mode_t m) : old_(umask(m)) {}
    ~UmaskScope() { umask(old_); }

  private:
    mode_t old_;
};

class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "qmsec-test.XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        Unlock(path_);
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::string operator/(const std::string& name) const { return File(name); }

    // Writes bytes to name below the directory and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        WriteFile(File(name), bytes);
        return File(name);
    }

    // Names in the directory itself.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_))
            names.push_back(e.path().filename().string());
        return names;
    }

  private:
    // Folders a test made unreadable or unwritable are opened up again, so that they can go.
    static void Unlock(const std::filesystem::path& p) {
        std::error_code ec;
        if (!std::filesystem::is_directory(std::filesystem::symlink_status(p, ec))) return;
        std::filesystem::permissions(p, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        for (const auto& e : std::filesystem::directory_iterator(p, ec)) Unlock(e.path());
    }
    std::string path_;
};

}  // namespace qmsec_test
