// What identifies one state of a configuration file, so that a change is seen without reading it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace QmXplConfig::detail {

// A change in place alters size or times, a replacement by rename alters the inode.
struct FileSig {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long long mtimeNs = 0;
    long long ctimeNs = 0;

    bool operator==(const FileSig&) const = default;
};

FileSig SigOf(const struct stat& st);
// The signature of the file at path; that of a missing file when it cannot be examined.
FileSig StatSig(const std::string& path);

}  // namespace QmXplConfig::detail
