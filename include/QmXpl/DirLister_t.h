// The names in a directory.
#pragma once

#include <vector>

#include "QmXpl/Export.h"
#include "QmXpl/String_t.h"

namespace QmXplIo {

// Lists the names of the entries of one directory (names only, not paths; "." and ".." never
// appear) that a filter accepts, in ascending String_t order, so that every run sees the same
// order. The directory is read once, when the lister is constructed.
class QMXPL_API DirLister_t {
  public:
    // Keeps the names that end with a suffix; the empty (or null) suffix keeps every name.
    // Derive from it and override Accept for other choices.
    class QMXPL_API Filter_t {
      public:
        explicit Filter_t(const QmXplStr::String_t& suffix = QmXplStr::String_t(""));
        virtual ~Filter_t();
        Filter_t(const Filter_t&) = default;
        Filter_t& operator=(const Filter_t&) = default;
        // True to list name (a name without its directory).
        virtual bool Accept(const QmXplStr::String_t& name) const;

      private:
        QmXplStr::String_t suffix_;
    };

    // Reads the directory dir (UTF-8 on the file system). IOException_t with the directory and
    // the system's error text when it is missing, not a directory or cannot be read; the
    // filter's exceptions pass through.
    DirLister_t(const QmXplStr::String_t& dir, const Filter_t& filter);
    // Every name of dir.
    explicit DirLister_t(const QmXplStr::String_t& dir);
    ~DirLister_t();

    // The next name into name; false (name unchanged) when every name has been given.
    bool Next(QmXplStr::String_t& name);
    // How many names the listing holds.
    int GetCount() const noexcept { return static_cast<int>(names_.size()); }

  private:
    std::vector<QmXplStr::String_t> names_;
    size_t next_ = 0;
};

// The suffix filter under the name callers of the lister use.
using Filter_t = DirLister_t::Filter_t;

}  // namespace QmXplIo
