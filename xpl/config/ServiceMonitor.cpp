#include "config/ServiceMonitor.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "config/ConfigTrace.h"

namespace QmXplConfig::detail {

void ServiceMonitor::Wake() const {
    int fd = wakeFd.load();
    if (fd >= 0) {
        uint64_t one = 1;
        // A full counter already wakes the thread; nothing else can fail here.
        if (write(fd, &one, sizeof one) < 0 && errno != EAGAIN)
            QMXPL_CONFIG_TRACE(kTraceProblem, std::string("Could not wake the configuration "
                                                          "service: ") +
                                                  std::strerror(errno));
    }
}

}  // namespace QmXplConfig::detail
