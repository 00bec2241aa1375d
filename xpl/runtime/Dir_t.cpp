#include "QmXpl/Dir_t.h"

#include <unistd.h>

#include <cstdlib>

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

int App_t::GetProcessId() noexcept { return static_cast<int>(getpid()); }

}  // namespace QmXplRuntime
