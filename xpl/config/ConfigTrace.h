// The trace area of the configuration service.
#pragma once

#include <cstdint>
#include <string>

#include "QmXpl/TraceObj_t.h"
#include "XplThrow.h"

namespace QmXplConfig::detail {

// Levels written on "qmxpl.config": problems that cost the caller something (a skipped line, an
// unreadable file, a failing handler) and the service's activity (reloads, deliveries).
constexpr uint32_t kTraceProblem = 2;
constexpr uint32_t kTraceActivity = 8;

QmXplTrc::TraceObj_t& ConfigTrace();

}  // namespace QmXplConfig::detail

// Traces the std::string expression text at level; text is only composed when the level is on.
#define QMXPL_CONFIG_TRACE(level, text)                                                 \
    do {                                                                                \
        QmXplTrc::TraceObj_t& qmxplTraceObj = ::QmXplConfig::detail::ConfigTrace();     \
        if (qmxplTraceObj.IsOn(level)) {                                                \
            const std::string qmxplTraceText = (text);                                  \
            qmxplTraceObj.DoTrace((level), qmxplTraceText.c_str(), __FILE__, __LINE__); \
        }                                                                               \
    } while (0)

// The service's failures are traced as problems before they are thrown (see XplThrow.h).
#define QMXPL_CONFIG_THROW_TRACE \
    QMXPL_THROW_TRACE(::QmXplConfig::detail::ConfigTrace(), ::QmXplConfig::detail::kTraceProblem)
