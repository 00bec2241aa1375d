#include "QmXpl/Dir_t.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "QmXpl/File_t.h"
#include "QmXpl/IOException_t.h"
#include "runtime/Home.h"

namespace QmXplRuntime {

using QmXplStr::String_t;

std::string HomeDirectory() {
    std::string home;
    if (const char* h = std::getenv("QMXPL_HOME"); h && *h) {
        home = h;
    } else if (const char* u = std::getenv("HOME"); u && *u) {
        home = std::string(u) + "/.qm";
    } else {
        home = "/tmp/.qm";
    }
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    return home;
}

namespace {

const char* SubDirectory(int key) {
    switch (key) {
        case Dir_t::eConf:
            return "conf";
        case Dir_t::eLog:
            return "log";
        case Dir_t::eTmp:
            return "tmp";
        case Dir_t::eData:
            return "data";
        default:
            return "";
    }
}

String_t Join(String_t base, int key, const String_t& relative) {
    while (base.GetLength() > 1 && base.EndsWith(String_t("/")))
        base = base.Left(base.GetLength() - 1);
    const char* sub = SubDirectory(key);
    if (*sub) base = base + "/" + sub;
    if (!relative.IsEmpty()) {
        String_t rel = relative;
        while (rel.StartsWith(String_t("/"))) rel = rel.Mid(1);
        base = base + "/" + rel;
    }
    return base;
}

}  // namespace

String_t Dir_t::Path(int key, const String_t& relative) {
    return Join(String_t(HomeDirectory()), key, relative);
}

String_t Dir_t::Path(const String_t& base, int key, const String_t& relative) {
    return base.IsEmpty() ? Path(key, relative) : Join(base, key, relative);
}

bool Dir_t::Create(const String_t& dir, int mode, int parentMode) {
    for (int m : {mode, parentMode}) {
        if (m < 0 || m > 07777) {
            throw QmXplMsg::IllegalArgumentError_t(QmXplMsg::CreateWarn_t(
                String_t("Directory permissions must lie between 0 and 07777")));
        }
    }
    QmXplIo::File_t path(dir);
    auto fail = [](int err, const char* what, const QmXplIo::File_t& part) {
        throw QmXplIo::IOException_t(QmXplMsg::CreateSystemError_t(
            err, String_t(std::string(what) + " '") + part.GetPath() + "'"));
    };
    if (path.GetPath().IsEmpty()) fail(ENOENT, "Could not create directory", path);
    // Walk up to the first part that exists, then create downwards.
    std::vector<QmXplIo::File_t> missing;
    for (QmXplIo::File_t part = path; !part.GetPath().IsNull();
         part = QmXplIo::File_t(part.GetParent())) {
        struct stat st {};
        if (::stat(part.GetPath().ToUtf8().c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) fail(ENOTDIR, "Could not create directory", part);
            break;
        }
        if (errno != ENOENT) fail(errno, "Could not examine", part);
        missing.push_back(part);
    }
    bool made = false;
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        std::string p = it->GetPath().ToUtf8();
        if (::mkdir(p.c_str(), 0700) != 0) {
            if (errno == EEXIST && it->IsDirectory()) continue;  // another process was first
            fail(errno, "Could not create directory", *it);
        }
        made = &*it == &missing.front();
        if (::chmod(p.c_str(), static_cast<mode_t>(made ? mode : parentMode)) != 0)
            fail(errno, "Could not set the permissions of directory", *it);
    }
    return made;
}

int App_t::GetProcessId() noexcept { return static_cast<int>(getpid()); }

}  // namespace QmXplRuntime
