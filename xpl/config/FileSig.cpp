#include "config/FileSig.h"

namespace QmXplConfig::detail {

FileSig SigOf(const struct stat& st) {
    FileSig sig;
    sig.exists = true;
    sig.dev = st.st_dev;
    sig.ino = st.st_ino;
    sig.size = st.st_size;
    sig.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    sig.ctimeNs = static_cast<long long>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec;
    return sig;
}

FileSig StatSig(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? SigOf(st) : FileSig();
}

}  // namespace QmXplConfig::detail
