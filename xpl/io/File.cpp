#include <dirent.h>
#include <fcntl.h>
#include <string.h>  // explicit_bzero
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "QmXpl/DirLister_t.h"
#include "QmXpl/Dir_t.h"
#include "QmXpl/File_t.h"
#include "QmXpl/IOException_t.h"
#include "QmXpl/UTF8_t.h"
#include "io/AtomicFile.h"
#include "io/IoTrace.h"

namespace QmXplIo {

using QmXplArray::CharArray_t;
using QmXplMsg::CreateSystemError_t;
using QmXplMsg::CreateWarn_t;
using QmXplMsg::IllegalArgumentError_t;
using QmXplStr::String_t;

namespace {

std::string Utf8(const String_t& s) { return QmXplStr::UTF8_t(s).Str(); }

String_t Quoted(const char* what, const std::string& path) {
    return String_t(std::string(what) + " '" + path + "'");
}

String_t Normalize(const String_t& path) {
    std::u16string out;
    out.reserve(static_cast<size_t>(path.GetLength()));
    for (char16_t c : path.Str()) {
        if (c == u'/' && !out.empty() && out.back() == u'/') continue;
        out.push_back(c);
    }
    if (out.size() > 1 && out.back() == u'/') out.pop_back();
    return String_t(std::move(out));
}

void TraceErrno(const char* what, int err, const std::string& path) {
    if (detail::IoTrace().IsOn(2)) {
        std::string text = std::string(what) + " '" + path + "'";
        detail::TraceIgnoredErrno(text.c_str(), err, __FILE__, __LINE__);
    }
}

}  // namespace

File_t::File_t(const String_t& path) : path_(Normalize(path)) {}

String_t File_t::GetName() const {
    int slash = path_.ReverseFind(u'/');
    return slash < 0 ? path_ : path_.Mid(slash + 1);
}

String_t File_t::GetParent() const {
    int slash = path_.ReverseFind(u'/');
    if (slash < 0 || path_.GetLength() == 1) return String_t::Null;
    return slash == 0 ? String_t("/") : path_.Left(slash);
}

String_t File_t::GetAbsolutePath() const {
    if (path_.StartsWith(String_t("/"))) return path_;
    std::unique_ptr<char, decltype(&free)> cwd(getcwd(nullptr, 0), &free);
    if (!cwd) {
        throw IOException_t(
            CreateSystemError_t(errno, String_t("Could not determine the working directory")));
    }
    String_t base(cwd.get());
    if (path_.IsEmpty()) return base;
    return base == String_t("/") ? base + path_ : base + "/" + path_;
}

File_t::Stat_t File_t::Stat() const {
    Stat_t r;
    struct stat st {};
    if (::stat(Utf8(path_).c_str(), &st) != 0) return r;
    r.exists = true;
    r.size = static_cast<int64_t>(st.st_size);
    r.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    r.inode = static_cast<uint64_t>(st.st_ino);
    r.device = static_cast<uint64_t>(st.st_dev);
    r.mode = static_cast<int>(st.st_mode);
    return r;
}

bool File_t::Exists() const { return Stat().exists; }
bool File_t::IsDirectory() const {
    Stat_t s = Stat();
    return s.exists && S_ISDIR(s.mode);
}
bool File_t::IsFile() const {
    Stat_t s = Stat();
    return s.exists && S_ISREG(s.mode);
}
int64_t File_t::Length() const { return Stat().size; }
int64_t File_t::LastModified() const { return Stat().mtimeNs; }

bool File_t::Delete() const {
    std::string p = Utf8(path_);
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return false;
    // A symbolic link is removed itself, never what it points to.
    int rc = S_ISDIR(st.st_mode) ? ::rmdir(p.c_str()) : ::unlink(p.c_str());
    if (rc != 0) {
        TraceErrno("File_t::Delete: could not remove", errno, p);
        return false;
    }
    return true;
}

bool File_t::Mkdirs(int mode) const {
    if (path_.IsEmpty()) return false;
    try {
        QmXplRuntime::Dir_t::Create(path_, mode & 07777);
    } catch (const IOException_t&) {
        detail::TraceIgnored("File_t::Mkdirs", __FILE__, __LINE__);
        return false;
    }
    return IsDirectory();
}

bool File_t::IsWritableByOthers() const {
    Stat_t s = Stat();
    return s.exists && (s.mode & (S_IWGRP | S_IWOTH)) != 0 && (s.mode & S_ISVTX) == 0;
}

void File_t::SetPermissions(int mode) const {
    if (mode < 0 || mode > 07777) {
        throw IllegalArgumentError_t(
            CreateWarn_t(String_t("File permissions must lie between 0 and 07777")));
    }
    std::string p = Utf8(path_);
    if (::chmod(p.c_str(), static_cast<mode_t>(mode)) != 0)
        throw IOException_t(CreateSystemError_t(errno, Quoted("Could not set permissions of", p)));
}

void File_t::WriteAtomically(const String_t& path, const CharArray_t& data, int mode) {
    if (mode < 0 || mode > 07777) {
        throw IllegalArgumentError_t(
            CreateWarn_t(String_t("File permissions must lie between 0 and 07777")));
    }
    detail::WriteFileAtomically(Utf8(path), data.View(), static_cast<mode_t>(mode));
}

CharArray_t File_t::ReadAll(const String_t& path) {
    std::string p = Utf8(path);
    int fd;
    do {
        fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw FileNotFoundException_t(CreateSystemError_t(errno, Quoted("Could not open file", p)));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (fstat(fd, &st) != 0)
        throw IOException_t(CreateSystemError_t(errno, Quoted("Could not query file", p)));
    if (S_ISDIR(st.st_mode))
        throw FileNotFoundException_t(
            CreateSystemError_t(EISDIR, Quoted("Could not open file", p)));

    // Sized from fstat, one byte more to see the end in the same pass; files whose size is not
    // known in advance (or that grow) take the slower path of growing the array, wiping what it
    // leaves behind.
    long long hint = S_ISREG(st.st_mode) ? static_cast<long long>(st.st_size) + 1 : 4096;
    if (hint > INT_MAX)
        throw IOException_t(CreateWarn_t(Quoted("File too large to read whole:", p)));
    CharArray_t data(static_cast<int>(hint));
    int used = 0;
    for (;;) {
        if (used == data.GetSize()) {
            if (data.GetSize() == INT_MAX)
                throw IOException_t(CreateWarn_t(Quoted("File too large to read whole:", p)));
            long long grown = std::min<long long>(2LL * data.GetSize(), INT_MAX);
            CharArray_t bigger(static_cast<int>(grown));
            std::memcpy(bigger.GetData(), data.GetData(), static_cast<size_t>(used));
            data.Wipe();
            data = std::move(bigger);
        }
        ssize_t n = ::read(fd, data.GetData() + used, static_cast<size_t>(data.GetSize() - used));
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            data.Wipe();
            throw IOException_t(CreateSystemError_t(err, Quoted("Could not read file", p)));
        }
        if (n == 0) break;
        used += static_cast<int>(n);
    }
    data.Resize(used);
    return data;
}

// --- directory listing -------------------------------------------------------------------------

DirLister_t::Filter_t::Filter_t(const String_t& suffix) : suffix_(suffix) {}
DirLister_t::Filter_t::~Filter_t() = default;

bool DirLister_t::Filter_t::Accept(const String_t& name) const {
    return suffix_.IsEmpty() || name.EndsWith(suffix_);
}

DirLister_t::DirLister_t(const String_t& dir) : DirLister_t(dir, Filter_t()) {}

DirLister_t::DirLister_t(const String_t& dir, const Filter_t& filter) {
    std::string p = Utf8(dir);
    int fd;
    do {
        fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw IOException_t(CreateSystemError_t(errno, Quoted("Could not list directory", p)));
    std::unique_ptr<DIR, int (*)(DIR*)> d(fdopendir(fd), &closedir);
    if (!d) {
        int err = errno;
        ::close(fd);
        throw IOException_t(CreateSystemError_t(err, Quoted("Could not list directory", p)));
    }
    for (;;) {
        errno = 0;
        dirent* e = readdir(d.get());
        if (!e) {
            if (errno != 0) {
                throw IOException_t(
                    CreateSystemError_t(errno, Quoted("Could not read directory", p)));
            }
            break;
        }
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        String_t name(e->d_name);
        if (filter.Accept(name)) names_.push_back(std::move(name));
    }
    std::sort(names_.begin(), names_.end());
}

DirLister_t::~DirLister_t() = default;

bool DirLister_t::Next(String_t& name) {
    if (next_ >= names_.size()) return false;
    name = names_[next_++];
    return true;
}

}  // namespace QmXplIo
