// Processor features, read once.
#include "utils/cpu.h"

#include <atomic>

namespace {
std::atomic<bool> force_portable{false};

bool detect_avx2() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}
} // namespace

bool cpu_avx2() {
  static const bool has = detect_avx2();
  return has && !force_portable.load(std::memory_order_relaxed);
}

void cpu_force_portable(bool on) { force_portable.store(on, std::memory_order_relaxed); }
