// The checked allocator: guarded blocks in a list of live blocks.
#include <cstdlib>
#include <cstring>

#include "utils/alloc.h"
#include "utils/log.h"

std::uint32_t rnd_state = 0x1E5A03;

void rnd_fill(void *buf, std::size_t len) {
  auto *b = static_cast<unsigned char *>(buf);
  for (std::size_t i = 0; i < len; ++i)
    b[i] = static_cast<unsigned char>(rnd_step() >> 24);
}

namespace {

// Header of a block; the caller's data follow at offset 32, the trailer
// (a copy of the guard) right behind the data.
struct block {
  block *next;
  const char *tag;
  std::size_t size;
  unsigned char guard[8];
};
static_assert(sizeof(block) == 32, "the header keeps the data aligned");

block *g_live = nullptr;
std::size_t g_count = 0;

unsigned char *data_of(block *b) { return reinterpret_cast<unsigned char *>(b + 1); }

void *take(std::size_t size, const char *tag, std::size_t report) {
  block *b = size > SIZE_MAX - 40 ? nullptr : static_cast<block *>(std::malloc(size + 40));
  if (!b) {
    log_printf(1, "xmalloc: failed to allocate %zu bytes", report);
    std::abort();
  }
  b->tag = tag;
  b->size = size;
  for (unsigned char &g : b->guard)
    g = static_cast<unsigned char>(rnd_step() >> 24);
  std::memset(data_of(b), 0xD0, size);
  std::memcpy(data_of(b) + size, b->guard, 8);
  b->next = g_live;
  g_live = b;
  ++g_count;
  return data_of(b);
}

} // namespace

void *xmalloc(std::size_t size, const char *tag) { return take(size, tag, size); }

char *xstrdup(const char *s, const char *tag) {
  std::size_t n = std::strlen(s) + 1;
  char *d = static_cast<char *>(take(n, tag, n));
  std::memcpy(d, s, n);
  return d;
}

void xfree(void *p) {
  // Find the block by address first: the header of a pointer that is not
  // live may lie in memory already given back, so it is never read then.
  block **link = &g_live;
  while (*link && data_of(*link) != p)
    link = &(*link)->next;
  if (!*link) {
    log_printf(1, "xfree: %s: %p: not allocated (double free?)", "?", p);
    std::abort();
  }
  block *b = *link;
  if (std::memcmp(b->guard, data_of(b) + b->size, 8) != 0) {
    log_printf(1, "xfree: %s: block trailer corrupted", b->tag);
    std::abort();
  }
  std::memset(data_of(b), 0xDF, b->size);
  *link = b->next;
  --g_count;
  std::free(b);
}

void xmem_list() {
  if (!g_live)
    return;
  log_printf(1, "allocated memory blocs: ");
  for (block *b = g_live; b; b = b->next)
    log_printf(1, "%s", b->tag);
}

std::size_t xmem_count() { return g_count; }
