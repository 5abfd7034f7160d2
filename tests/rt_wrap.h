// Counts the calls that the audio path must never make: the system
// allocator, locks, and system calls (the thread id among them).  The
// test program is linked with -Wl,--wrap=<each function below>
// (orka_rt_test in CMakeLists.txt); include this in one file of it.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdlib>
#include <pthread.h>
#include <semaphore.h>
#include <sys/types.h>
#include <thread>

#include "platform/os.h"

namespace rtwrap {
// volatile: the compiler assumes the wrapped functions read no globals of
// ours, and would move the counting window.
inline volatile bool counting = false;
inline volatile int allocs = 0, locks = 0, syscalls = 0;
inline void count(volatile int &n) { n = n + (counting ? 1 : 0); }
inline void reset() {
  allocs = 0;
  locks = 0;
  syscalls = 0;
}

// Runs fn on a thread of its own that has never asked for its id, as a
// host's audio thread, counting while it runs.
template <typename F> void counted_on_fresh_thread(F fn) {
  std::thread t([&] {
    counting = true;
    fn();
    counting = false;
  });
  t.join();
}

// True when the counters see one allocation, one lock and one system call
// (a thread's first id; its second comes from the cache).  Leaves them 0.
inline bool probe() {
  static void *volatile block;
  reset();
  counting = true;
  block = std::malloc(8);
  counting = false;
  std::free(block);
  os_mutex *m = os_mutex_new();
  counting = true;
  os_mutex_lock(m);
  counting = false;
  os_mutex_unlock(m);
  os_mutex_delete(m);
  counted_on_fresh_thread([] {
    (void)os_thread_id();
    (void)os_thread_id();
  });
  const bool ok = allocs == 1 && locks == 1 && syscalls == 1;
  reset();
  return ok;
}
} // namespace rtwrap

extern "C" {
void *__real_malloc(std::size_t n);
void *__real_calloc(std::size_t n, std::size_t m);
void *__real_realloc(void *p, std::size_t n);
int __real_pthread_mutex_lock(pthread_mutex_t *m);
long __real_syscall(long number, ...);
pid_t __real_gettid();
ssize_t __real_write(int fd, const void *buf, std::size_t n);
int __real_sem_post(sem_t *s);
int __real_sched_yield();

void *__wrap_malloc(std::size_t n) {
  rtwrap::count(rtwrap::allocs);
  return __real_malloc(n);
}
void *__wrap_calloc(std::size_t n, std::size_t m) {
  rtwrap::count(rtwrap::allocs);
  return __real_calloc(n, m);
}
void *__wrap_realloc(void *p, std::size_t n) {
  rtwrap::count(rtwrap::allocs);
  return __real_realloc(p, n);
}
int __wrap_pthread_mutex_lock(pthread_mutex_t *m) {
  rtwrap::count(rtwrap::locks);
  return __real_pthread_mutex_lock(m);
}
long __wrap_syscall(long number, ...) {
  rtwrap::count(rtwrap::syscalls);
  std::va_list ap;
  va_start(ap, number);
  long a[6];
  for (long &x : a)
    x = va_arg(ap, long);
  va_end(ap);
  return __real_syscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
pid_t __wrap_gettid() {
  rtwrap::count(rtwrap::syscalls);
  return __real_gettid();
}
ssize_t __wrap_write(int fd, const void *buf, std::size_t n) {
  rtwrap::count(rtwrap::syscalls);
  return __real_write(fd, buf, n);
}
int __wrap_sem_post(sem_t *s) {
  rtwrap::count(rtwrap::syscalls);
  return __real_sem_post(s);
}
int __wrap_sched_yield() {
  rtwrap::count(rtwrap::syscalls);
  return __real_sched_yield();
}
}
