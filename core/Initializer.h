// One-time preparation of OpenSSL for the whole process, and OpenSSL error texts.
#pragma once

#include <atomic>

#include <cstdint>

#include "QmXpl/CharArray_t.h"
#include "QmXpl/TraceObj_t.h"

namespace QmSecCore {

// Prepares OpenSSL once per process, on the first construction of any body that uses it: error
// strings, the algorithm tables with the default and legacy providers (Blowfish and DES live in
// the legacy one), the seeding of the random generator, and the SSL library. Not exported.
class Initializer {
  public:
    // Runs the initialisation unless it has run; concurrent callers wait until it is complete.
    // Each step traces on the core Init object. If a step throws, nothing is marked done and a
    // later call runs the whole sequence again.
    static void DoGlobalInit();
    // Feeds four sources to OpenSSL's generator: the local time text, host name and address, a
    // random UUID text and 1024 values of rand(); traces each count and the total.
    static void SeedRandomGenerator();
    // The same sources for another component: each count and the total traced on obj at level
    // as "<who>: Put N bytes into Rand_seed." and "<who>: Put N total bytes into Rand_seed.".
    // Returns the total.
    static int SeedRandomGenerator(const QmXplTrc::TraceWrapper_t& obj, uint32_t level,
                                   const char* who);
    // The text of the oldest error of this thread's OpenSSL error queue ("error:..."), written
    // zero-terminated into text, which is first grown to 256 bytes if it is smaller (a larger
    // array keeps its size). The rest of the queue is cleared, so that errors of this failure do
    // not show up in the next one. An empty queue gives OpenSSL's text for error code 0.
    static void GetOpenSslError(QmXplArray::CharArray_t& text);
    // Whether the legacy provider could be loaded (false before initialisation).
    static bool HasLegacyProvider() noexcept;

    // What every body calls before it touches OpenSSL.
    static void Ensure() {
        if (!initialised_.load(std::memory_order_acquire)) DoGlobalInit();
    }

  private:
    static std::atomic<bool> initialised_;
};

}  // namespace QmSecCore
