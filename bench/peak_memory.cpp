#include "peak_memory.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <malloc.h>
#include <string>

namespace bench {
namespace {

// A "Vm...:" line of /proc/self/status, in KiB.
std::optional<long> statusKib(const char *key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t keyLength = std::strlen(key);
    while (std::getline(status, line)) {
        if (line.compare(0, keyLength, key) == 0 && line.size() > keyLength &&
            line[keyLength] == ':')
            return std::stol(line.substr(keyLength + 1));
    }
    return std::nullopt;
}

// Writing 5 to clear_refs sets the peak resident size back to the current one.
bool resetHighWaterMark() {
    std::FILE *f = std::fopen("/proc/self/clear_refs", "w");
    if (!f)
        return false;
    const bool written = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && written;
}

} // namespace

std::optional<long> peakGrowthKib(const std::function<void()> &work) {
    malloc_trim(0);
    if (!resetHighWaterMark())
        return std::nullopt;
    const auto before = statusKib("VmRSS");
    work();
    const auto peak = statusKib("VmHWM");
    if (!before || !peak)
        return std::nullopt;
    return *peak > *before ? *peak - *before : 0;
}

} // namespace bench
