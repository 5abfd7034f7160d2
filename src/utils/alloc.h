// alloc.h - the checked allocator and the shared pseudo-random generator.
//
// Every block carries the tag of its allocation site, a guard before the
// data and a copy of it behind, and a place in the list of live blocks.
// A failed check logs at level 1 and aborts the process.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#define ORKA_STR2(x) #x
#define ORKA_STR(x) ORKA_STR2(x)
// The tag of the allocation site: source path and line.
#define XTAG (__FILE__ ":" ORKA_STR(__LINE__))

// Never returns null.  Any thread but the audio thread: one process-wide
// lock serialises every entry of the allocator.
void *xmalloc(std::size_t size, const char *tag);
char *xstrdup(const char *s, const char *tag);
// As xmalloc, but the data are not filled with 0xD0: only for a block that
// the caller overwrites whole before anything reads it (a file read into
// it at once), so that a large block is not written twice.  The guard and
// the generator's steps are those of xmalloc.
void *xmalloc_unfilled(std::size_t size, const char *tag);
// Takes a pointer from xmalloc or xstrdup; null is not accepted.
void xfree(void *p);
// Logs every live block's tag at level 1, newest first.
void xmem_list();
// Number of live blocks (for tests and leak checks).
std::size_t xmem_count();
// Entries examined so far to recognise pointers handed to xfree as live
// (for tests: a release must cost the same whatever the number of live
// blocks).
std::size_t xmem_probes();

// The shared generator: state = state * 1664525 + 1013904223 per step.
// Stepped by every thread (the allocator, the engine's random choices on
// each audio thread): each step replaces the state it read, so concurrent
// callers take distinct consecutive states and no step is lost.  Relaxed
// order: the state orders nothing else.  Any thread, lock-free.
extern std::atomic<std::uint32_t> rnd_state;
inline std::uint32_t rnd_step() {
  std::uint32_t s = rnd_state.load(std::memory_order_relaxed), next;
  do
    next = s * 1664525u + 1013904223u;
  while (!rnd_state.compare_exchange_weak(s, next, std::memory_order_relaxed));
  return next;
}
// One step per byte; each byte is the top 8 bits of the new state.
void rnd_fill(void *buf, std::size_t len);
