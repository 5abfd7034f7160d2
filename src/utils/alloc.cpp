// The checked allocator: guarded blocks in a list of live blocks.
//
// Every entry may be called from any thread except the audio thread: one
// process-wide lock serialises them (hosts save and open instances from
// several threads at once).  Freeing costs the same whatever the number of
// live blocks: the list is doubly linked, and a pointer is recognised as
// live through a hash set of live block addresses before its header is
// read, so a pointer that is not live never makes us read memory that may
// have gone back to the system.
#include <cstdlib>
#include <cstring>

#include "platform/os.h"
#include "utils/alloc.h"
#include "utils/log.h"

std::atomic<std::uint32_t> rnd_state{0x1E5A03};

void rnd_fill(void *buf, std::size_t len) {
  auto *b = static_cast<unsigned char *>(buf);
  for (std::size_t i = 0; i < len; ++i)
    b[i] = static_cast<unsigned char>(rnd_step() >> 24);
}

namespace {

// Header of a block; the caller's data follow at offset 48 (keeping the
// system allocator's 16-byte alignment), the guard right before them and
// the trailer (a copy of the guard) right behind.
struct block {
  block *prev, *next; // list of live blocks, newest first
  const char *tag;
  std::size_t size;
  std::size_t spare;
  unsigned char guard[8];
};
static_assert(sizeof(block) == 48, "the header keeps the data aligned");
constexpr std::size_t EXTRA = sizeof(block) + 8;

// Addresses of the live blocks: open addressing with linear probing, at
// most half full, from the system allocator (it must not use itself).
struct live_set {
  block **slot = nullptr;
  std::size_t cap = 0, count = 0; // cap is a power of two
  std::size_t probes = 0;         // entries examined by find

  std::size_t home(const block *b) const {
    auto h = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(b) >> 4);
    return static_cast<std::size_t>((h * 0x9E3779B97F4A7C15ull) >> 20) & (cap - 1);
  }
  std::size_t find(const block *b) { // cap when absent
    if (!cap)
      return 0;
    for (std::size_t i = home(b);; i = (i + 1) & (cap - 1)) {
      ++probes;
      if (slot[i] == b)
        return i;
      if (!slot[i])
        return cap;
    }
  }
  bool grow() {
    const std::size_t ncap = cap ? cap * 2 : 1024;
    auto **ns = static_cast<block **>(std::calloc(ncap, sizeof(block *)));
    if (!ns)
      return false;
    block **old = slot;
    const std::size_t ocap = cap;
    slot = ns;
    cap = ncap;
    for (std::size_t i = 0; i < ocap; ++i)
      if (old[i])
        place(old[i]);
    std::free(old);
    return true;
  }
  void place(block *b) {
    std::size_t i = home(b);
    while (slot[i])
      i = (i + 1) & (cap - 1);
    slot[i] = b;
  }
  bool insert(block *b) {
    if (2 * (count + 1) > cap && !grow())
      return false;
    place(b);
    ++count;
    return true;
  }
  // Removes the entry at i, moving later entries of the same probe run
  // back so that every lookup still finds them.
  void erase(std::size_t i) {
    --count;
    for (std::size_t j = (i + 1) & (cap - 1); slot[j]; j = (j + 1) & (cap - 1)) {
      const std::size_t h = home(slot[j]);
      // slot[j] may move to i when its home does not lie in (i, j].
      if (((j - h) & (cap - 1)) >= ((j - i) & (cap - 1))) {
        slot[i] = slot[j];
        i = j;
      }
    }
    slot[i] = nullptr;
    if (count == 0) { // nothing left: a library being unloaded keeps nothing
      std::free(slot);
      slot = nullptr;
      cap = 0;
    }
  }
};

block *g_live = nullptr;
live_set g_set;

// The lock is created at the first use, thread-safely, and released when
// the library is unloaded; a block released by a later static destructor
// then goes without it (no other thread runs by that time).
struct lock_holder : os_static_mutex {
  lock_holder() {
    if (!get()) {
      log_printf(1, "xmalloc: failed to allocate %zu bytes", sizeof(void *));
      std::abort();
    }
  }
};
os_mutex *lock() {
  static lock_holder h;
  return h.get();
}
struct guard_lock : os_mutex_guard {
  guard_lock() : os_mutex_guard(lock()) {}
};

unsigned char *data_of(block *b) { return reinterpret_cast<unsigned char *>(b + 1); }

[[noreturn]] void out_of_memory(std::size_t report) {
  log_printf(1, "xmalloc: failed to allocate %zu bytes", report);
  std::abort();
}

void *take(std::size_t size, const char *tag, std::size_t report, bool fill = true) {
  block *b = size > SIZE_MAX - EXTRA ? nullptr : static_cast<block *>(std::malloc(size + EXTRA));
  if (!b)
    out_of_memory(report);
  b->tag = tag;
  b->size = size;
  b->spare = 0;
  if (fill)
    std::memset(data_of(b), 0xD0, size);
  guard_lock held;
  for (unsigned char &g : b->guard)
    g = static_cast<unsigned char>(rnd_step() >> 24);
  std::memcpy(data_of(b) + size, b->guard, 8);
  if (!g_set.insert(b)) {
    std::free(b);
    out_of_memory(report);
  }
  b->prev = nullptr;
  b->next = g_live;
  if (g_live)
    g_live->prev = b;
  g_live = b;
  return data_of(b);
}

} // namespace

void *xmalloc(std::size_t size, const char *tag) { return take(size, tag, size); }

void *xmalloc_unfilled(std::size_t size, const char *tag) { return take(size, tag, size, false); }

char *xstrdup(const char *s, const char *tag) {
  std::size_t n = std::strlen(s) + 1;
  char *d = static_cast<char *>(take(n, tag, n));
  std::memcpy(d, s, n);
  return d;
}

void xfree(void *p) {
  block *b = reinterpret_cast<block *>(static_cast<unsigned char *>(p) - sizeof(block));
  {
    guard_lock held;
    const std::size_t at = g_set.find(b);
    if (at == g_set.cap) {
      log_printf(1, "xfree: %s: %p: not allocated (double free?)", "?", p);
      std::abort();
    }
    if (std::memcmp(b->guard, data_of(b) + b->size, 8) != 0) {
      log_printf(1, "xfree: %s: block trailer corrupted", b->tag);
      std::abort();
    }
    g_set.erase(at);
    (b->prev ? b->prev->next : g_live) = b->next;
    if (b->next)
      b->next->prev = b->prev;
  }
  std::memset(data_of(b), 0xDF, b->size);
  std::free(b);
}

void xmem_list() {
  guard_lock held;
  if (!g_live)
    return;
  log_printf(1, "allocated memory blocs: ");
  for (block *b = g_live; b; b = b->next)
    log_printf(1, "%s", b->tag);
}

std::size_t xmem_count() {
  guard_lock held;
  return g_set.count;
}

std::size_t xmem_probes() {
  guard_lock held;
  return g_set.probes;
}
