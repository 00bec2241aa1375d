// Trace areas, their level masks, and where trace lines go.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "QmXpl/Export.h"

namespace QmXplTrc {

// One trace object: an area name (for example "sec.core.base") and a category number. Its first
// member is the 32-bit mask of enabled levels, so a disabled trace costs one load and a test:
//     if (obj.IsOn(level)) { ...compose the text...; obj.DoTrace(level, text, __FILE__, __LINE__);
//     }
// A line with level L is written only when every bit of L is enabled. Masks come from
// QMXPL_TRACE ("area=mask" pairs separated by commas; a trailing ".*" matches an area and
// everything below it, "*" matches every area; decimal or 0x hexadecimal masks; later pairs win)
// and can be changed at run time with TraceConfig_t::Configure. Trace objects are created once and
// never destroyed.
class QMXPL_API TraceObj_t {
  public:
    std::atomic<uint32_t> mask{0};

    TraceObj_t(const char* area, int category);
    TraceObj_t(const TraceObj_t&) = delete;
    TraceObj_t& operator=(const TraceObj_t&) = delete;

    bool IsOn(uint32_t level) const noexcept {
        return (mask.load(std::memory_order_relaxed) & level) == level;
    }
    // Writes text unconditionally (the caller has tested the level). Never throws: a sink that
    // fails loses the line.
    void DoTrace(uint32_t level, const char* text, const char* file, int line) const noexcept;
    // Tests the level, then writes.
    void Trace(uint32_t level, const char* text, const char* file, int line) const noexcept {
        if (IsOn(level)) DoTrace(level, text, file, line);
    }
    const std::string& GetArea() const noexcept { return area_; }
    int GetCategory() const noexcept { return category_; }

  private:
    std::string area_;
    int category_;
};

// A trace object declared as a static value: the object is registered when the wrapper is
// constructed (at library load) and lives until the process ends.
class QMXPL_API TraceWrapper_t {
  public:
    TraceWrapper_t(const char* area, int category);
    TraceObj_t& Get() const noexcept { return *obj_; }
    operator TraceObj_t&() const noexcept { return *obj_; }

  private:
    TraceObj_t* obj_;
};

// Writes an entry line when constructed and an exit line when destroyed, if the level is on at
// construction: "> name" and "< name". Exit lines are written on exceptions too.
class QMXPL_API BlockTrace_t {
  public:
    BlockTrace_t(const TraceObj_t& obj, const char* name, const char* file, int line,
                 uint32_t level = 9) noexcept
        : obj_(obj.IsOn(level) ? &obj : nullptr),
          name_(name),
          file_(file),
          line_(line),
          level_(level) {
        if (obj_) Enter();
    }
    ~BlockTrace_t() {
        if (obj_) Leave();
    }
    BlockTrace_t(const BlockTrace_t&) = delete;
    BlockTrace_t& operator=(const BlockTrace_t&) = delete;

  private:
    void Enter() noexcept;
    void Leave() noexcept;
    const TraceObj_t* obj_;
    const char* name_;
    const char* file_;
    int line_;
    uint32_t level_;
};

// One written line.
struct TraceRecord_t {
    int64_t timeNs;     // CLOCK_REALTIME
    uint64_t threadId;  // gettid()
    std::string area;
    int category;
    uint32_t level;
    std::string file;  // base name of the source file
    int line;
    std::string text;
};

// Where lines go. The default sink appends formatted lines to QMXPL_TRACE_FILE, or standard
// error when it is not set:
//   2026-12-08T01:02:03.123456Z 12345 sec.core.base/3 L9 MessageDigest.cpp:42 text
class QMXPL_API TraceSink_i {
  public:
    virtual ~TraceSink_i();
    virtual void Write(const TraceRecord_t& record) = 0;
};

// Keeps every line in memory, for tests that read traces back. Thread-safe.
class QMXPL_API MemoryTraceSink_t : public TraceSink_i {
  public:
    MemoryTraceSink_t();
    ~MemoryTraceSink_t() override;
    void Write(const TraceRecord_t& record) override;
    std::vector<TraceRecord_t> GetRecords() const;
    std::vector<std::string> GetTexts() const;  // the text of each record, in order
    void Clear();

  private:
    struct Body;
    std::unique_ptr<Body> body_;
};

class QMXPL_API TraceConfig_t {
  public:
    // Applies "area=mask,..." on top of the current masks (see TraceObj_t). Throws
    // IllegalArgumentError_t for malformed settings, changing nothing.
    static void Configure(const std::string& settings);
    // Sets every mask to 0.
    static void DisableAll();
    // Installs a sink (not owned; null restores the default sink) and returns the previous one
    // (null for the default). The caller keeps the sink alive while it is installed.
    static TraceSink_i* SetSink(TraceSink_i* sink);
    // Formats a record as the default sink does, without the line feed.
    static std::string FormatRecord(const TraceRecord_t& record);
};

}  // namespace QmXplTrc
