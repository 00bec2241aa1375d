// Reads trace lines back in tests: installs an in-memory sink and enables areas for the life of
// the object, restoring the previous state afterwards.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "QmXpl/TraceObj_t.h"

namespace qmsec_test {

class TraceCapture {
  public:
    explicit TraceCapture(const std::string& settings = "*=0xffffffff") {
        QmXplTrc::TraceConfig_t::DisableAll();
        QmXplTrc::TraceConfig_t::Configure(settings);
        previous_ = QmXplTrc::TraceConfig_t::SetSink(&sink_);
    }
    ~TraceCapture() {
        QmXplTrc::TraceConfig_t::SetSink(previous_);
        QmXplTrc::TraceConfig_t::DisableAll();
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::vector<std::string> Texts() const { return sink_.GetTexts(); }
    std::vector<QmXplTrc::TraceRecord_t> Records() const { return sink_.GetRecords(); }
    void Clear() { sink_.Clear(); }
    // Texts that contain needle.
    std::vector<std::string> Matching(const std::string& needle) const {
        std::vector<std::string> out;
        for (auto& t : Texts()) {
            if (t.find(needle) != std::string::npos) out.push_back(t);
        }
        return out;
    }
    bool Contains(const std::string& needle) const { return !Matching(needle).empty(); }
    // Index of the first text equal to text, or -1.
    int IndexOf(const std::string& text) const {
        auto texts = Texts();
        auto it = std::find(texts.begin(), texts.end(), text);
        return it == texts.end() ? -1 : static_cast<int>(it - texts.begin());
    }

  private:
    QmXplTrc::MemoryTraceSink_t sink_;
    QmXplTrc::TraceSink_i* previous_ = nullptr;
};

}  // namespace qmsec_test
