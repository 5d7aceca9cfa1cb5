#pragma once

#include <functional>
#include <optional>

namespace bench {

// How far the process's resident memory rose above where it stood when `work` began, in KiB, at
// its highest point while `work` ran. Freed heap memory is handed back first and the kernel's
// high-water mark is reset, so memory held from earlier work does not hide what `work` needs.
// Nothing when the kernel does not allow the mark to be reset.
std::optional<long> peakGrowthKib(const std::function<void()> &work);

} // namespace bench
