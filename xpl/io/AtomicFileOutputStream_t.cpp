#include "QmXpl/AtomicFileOutputStream_t.h"

#include <sys/types.h>

#include <memory>
#include <string>

#include "QmXpl/UTF8_t.h"
#include "XplThrow.h"
#include "io/AtomicFile.h"
#include "io/FileMode.h"

namespace QmXplIo {

using QmXplMsg::detail::ThrowFileClosed;
using QmXplMsg::detail::ThrowIoWarning;
using QmXplStr::String_t;

class AtomicFileOutputStreamImpl_t : public OutputStreamImpl_t {
  public:
    AtomicFileOutputStreamImpl_t(const std::string& path, int mode, detail::AtomicFile::Mode rule)
        : file_(std::make_unique<detail::AtomicFile>(path, static_cast<mode_t>(mode), rule)),
          path_(path) {}
    // The AtomicFile member removes an uncommitted temporary when it goes.
    ~AtomicFileOutputStreamImpl_t() override = default;

    void Write(const char* buf, int len) override {
        CheckUsable();
        try {
            file_->Write(buf, static_cast<size_t>(len));
        } catch (...) {
            broken_ = true;
            file_.reset();
            throw;
        }
    }

    void Close() override {
        if (committed_) return;
        CheckUsable();
        try {
            file_->Commit();
        } catch (...) {
            broken_ = true;
            file_.reset();
            throw;
        }
        committed_ = true;
        file_.reset();
    }

  private:
    void CheckUsable() const {
        if (broken_) {
            ThrowIoWarning("Left unchanged after an earlier failure of its stream",
                           "'" + path_ + "'");
        }
        if (committed_) ThrowFileClosed("AtomicFileOutputStream_t", path_);
    }

    std::unique_ptr<detail::AtomicFile> file_;
    std::string path_;
    bool committed_ = false;
    bool broken_ = false;
};

AtomicFileOutputStream_t::AtomicFileOutputStream_t(const String_t& path, int mode, ModeRule rule)
    : OutputStream_t((detail::CheckFileMode(mode),
                      new AtomicFileOutputStreamImpl_t(QmXplStr::UTF8_t(path).Str(), mode,
                                                       rule == eCreateMode
                                                           ? detail::AtomicFile::Mode::kCreate
                                                           : detail::AtomicFile::Mode::kExact))) {}
AtomicFileOutputStream_t::~AtomicFileOutputStream_t() = default;

}  // namespace QmXplIo
