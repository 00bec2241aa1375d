#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <utility>

#include "QmXpl/Message_t.h"
#include "QmXpl/TraceObj_t.h"

namespace QmXplTrc {

namespace {

struct Rule {
    std::string pattern;
    uint32_t mask;
};

bool Matches(const std::string& pattern, const std::string& area) {
    if (pattern == "*") return true;
    if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0) {
        std::string stem = pattern.substr(0, pattern.size() - 2);
        return area == stem ||
               (area.size() > stem.size() && area.compare(0, stem.size(), stem) == 0 &&
                area[stem.size()] == '.');
    }
    return pattern == area;
}

std::vector<Rule> ParseSettings(const std::string& settings) {
    std::vector<Rule> rules;
    size_t pos = 0;
    while (pos <= settings.size()) {
        size_t comma = settings.find(',', pos);
        std::string item =
            settings.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        pos = comma == std::string::npos ? settings.size() + 1 : comma + 1;
        // Blanks around items are allowed.
        size_t b = item.find_first_not_of(" \t"), e = item.find_last_not_of(" \t");
        if (b == std::string::npos) continue;
        item = item.substr(b, e - b + 1);
        size_t eq = item.find('=');
        std::string area = eq == std::string::npos ? "" : item.substr(0, eq);
        std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        char* end = nullptr;
        errno = 0;
        unsigned long long mask = value.empty() ? 0 : std::strtoull(value.c_str(), &end, 0);
        if (area.empty() || value.empty() || *end != '\0' || errno != 0 || mask > 0xFFFFFFFFull) {
            throw QmXplMsg::IllegalArgumentError_t(
                QmXplMsg::CreateWarn_t(QmXplStr::String_t("Malformed trace setting '") +
                                       QmXplStr::String_t(item) + "': expected area=mask"));
        }
        rules.push_back({area, static_cast<uint32_t>(mask)});
    }
    return rules;
}

class FileSink : public TraceSink_i {
  public:
    void Write(const TraceRecord_t& record) override {
        std::string line = TraceConfig_t::FormatRecord(record);
        line.push_back('\n');
        std::lock_guard<std::mutex> lock(mutex_);
        if (!file_) Open();
        std::fwrite(line.data(), 1, line.size(), file_);
        std::fflush(file_);
    }

  private:
    void Open() {
        const char* path = std::getenv("QMXPL_TRACE_FILE");
        if (path && *path) file_ = std::fopen(path, "ae");
        if (!file_) file_ = stderr;
    }
    std::mutex mutex_;
    FILE* file_ = nullptr;
};

struct Registry {
    std::mutex mutex;  // objects and rules
    std::vector<TraceObj_t*> objects;
    std::vector<Rule> rules;
    std::shared_mutex sinkMutex;  // writers hold it shared; SetSink exclusively
    TraceSink_i* sink = nullptr;  // null: the default sink
    FileSink defaultSink;

    Registry() {
        if (const char* settings = std::getenv("QMXPL_TRACE"); settings && *settings) {
            try {
                rules = ParseSettings(settings);
            } catch (const QmXplMsg::Exception_t& e) {
                std::fprintf(stderr, "QMXPL_TRACE ignored: %s\n", e.what());
            }
        }
    }

    uint32_t MaskFor(const std::string& area) const {
        uint32_t mask = 0;
        for (const auto& r : rules) {
            if (Matches(r.pattern, area)) mask = r.mask;
        }
        return mask;
    }
};

Registry& GetRegistry() {
    static Registry* registry = new Registry;  // never destroyed: traces may run at exit
    return *registry;
}

uint64_t ThreadId() noexcept { return static_cast<uint64_t>(syscall(SYS_gettid)); }

const char* BaseName(const char* file) {
    if (!file) return "";
    const char* slash = std::strrchr(file, '/');
    return slash ? slash + 1 : file;
}

}  // namespace

TraceObj_t::TraceObj_t(const char* area, int category)
    : area_(area ? area : ""), category_(category) {
    Registry& r = GetRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    mask.store(r.MaskFor(area_), std::memory_order_relaxed);
    r.objects.push_back(this);
}

void TraceObj_t::DoTrace(uint32_t level, const char* text, const char* file,
                         int line) const noexcept {
    try {
        TraceRecord_t rec;
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        rec.timeNs = static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
        rec.threadId = ThreadId();
        rec.area = area_;
        rec.category = category_;
        rec.level = level;
        rec.file = BaseName(file);
        rec.line = line;
        rec.text = text ? text : "";
        Registry& r = GetRegistry();
        std::shared_lock<std::shared_mutex> lock(r.sinkMutex);
        (r.sink ? r.sink : &r.defaultSink)->Write(rec);
    } catch (...) {
        // A trace that cannot be written is lost; it never changes what the caller does.
    }
}

TraceWrapper_t::TraceWrapper_t(const char* area, int category)
    : obj_(new TraceObj_t(area, category)) {}

void BlockTrace_t::Enter() noexcept {
    try {
        std::string t = std::string("> ") + (name_ ? name_ : "");
        obj_->DoTrace(level_, t.c_str(), file_, line_);
    } catch (...) {
    }
}

void BlockTrace_t::Leave() noexcept {
    try {
        std::string t = std::string("< ") + (name_ ? name_ : "");
        obj_->DoTrace(level_, t.c_str(), file_, line_);
    } catch (...) {
    }
}

TraceSink_i::~TraceSink_i() = default;

struct MemoryTraceSink_t::Body {
    mutable std::mutex mutex;
    std::vector<TraceRecord_t> records;
};

MemoryTraceSink_t::MemoryTraceSink_t() : body_(std::make_unique<Body>()) {}
MemoryTraceSink_t::~MemoryTraceSink_t() = default;

void MemoryTraceSink_t::Write(const TraceRecord_t& record) {
    std::lock_guard<std::mutex> lock(body_->mutex);
    body_->records.push_back(record);
}

std::vector<TraceRecord_t> MemoryTraceSink_t::GetRecords() const {
    std::lock_guard<std::mutex> lock(body_->mutex);
    return body_->records;
}

std::vector<std::string> MemoryTraceSink_t::GetTexts() const {
    std::lock_guard<std::mutex> lock(body_->mutex);
    std::vector<std::string> texts;
    texts.reserve(body_->records.size());
    for (const auto& r : body_->records) texts.push_back(r.text);
    return texts;
}

void MemoryTraceSink_t::Clear() {
    std::lock_guard<std::mutex> lock(body_->mutex);
    body_->records.clear();
}

void TraceConfig_t::Configure(const std::string& settings) {
    std::vector<Rule> parsed = ParseSettings(settings);
    Registry& r = GetRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.rules.insert(r.rules.end(), parsed.begin(), parsed.end());
    for (TraceObj_t* obj : r.objects)
        obj->mask.store(r.MaskFor(obj->GetArea()), std::memory_order_relaxed);
}

void TraceConfig_t::DisableAll() {
    Registry& r = GetRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.rules.clear();
    for (TraceObj_t* obj : r.objects) obj->mask.store(0, std::memory_order_relaxed);
}

TraceSink_i* TraceConfig_t::SetSink(TraceSink_i* sink) {
    Registry& r = GetRegistry();
    std::unique_lock<std::shared_mutex> lock(r.sinkMutex);
    return std::exchange(r.sink, sink);
}

std::string TraceConfig_t::FormatRecord(const TraceRecord_t& rec) {
    time_t secs = static_cast<time_t>(rec.timeNs / 1000000000);
    tm utc{};
    gmtime_r(&secs, &utc);
    char head[96];
    std::snprintf(head, sizeof head, "%04d-%02d-%02dT%02d:%02d:%02d.%06ldZ %llu ",
                  utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                  utc.tm_sec, static_cast<long>((rec.timeNs % 1000000000) / 1000),
                  static_cast<unsigned long long>(rec.threadId));
    return head + rec.area + "/" + std::to_string(rec.category) + " L" + std::to_string(rec.level) +
           " " + rec.file + ":" + std::to_string(rec.line) + " " + rec.text;
}

}  // namespace QmXplTrc
