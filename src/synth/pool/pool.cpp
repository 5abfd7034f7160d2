// Object pools: a free list over one checked block, last in first out.
#include <cstdlib>
#include <cstring>

#include "synth/pool/pool.h"
#include "utils/alloc.h"
#include "utils/log.h"

void pool_init(pool *p, const char *name, std::size_t itemsize, std::uint32_t count) {
  itemsize = (itemsize + 7) & ~std::size_t{7};
  if (itemsize < 8)
    itemsize = 8;
  p->block = xmalloc(itemsize * count, XTAG);
  // Each item points to the one before it, so the head is the last item.
  void *prev = nullptr;
  auto *base = static_cast<unsigned char *>(p->block);
  for (std::uint32_t i = 0; i < count; ++i) {
    void *item = base + i * itemsize;
    std::memcpy(item, &prev, sizeof prev);
    prev = item;
  }
  p->free = prev;
  p->used = 0;
  p->count = count;
  p->itemsize = itemsize;
  p->name = name;
}

void *pool_get(pool *p) {
  if (!p->free) {
    log_printf(1, "%s: pool empty", p->name);
    std::abort();
  }
  void *item = p->free;
  std::memcpy(&p->free, item, sizeof p->free);
  ++p->used;
  std::memset(item, 0xD0, p->itemsize);
  return item;
}

void pool_put(pool *p, void *item) {
  if (p->used == 0) {
    log_printf(1, "%s: pool is full", p->name);
    std::abort();
  }
  --p->used;
  std::memset(item, 0xDF, p->itemsize);
  std::memcpy(item, &p->free, sizeof p->free);
  p->free = item;
}

void pool_done(pool *p) {
  xfree(p->block);
  if (p->used != 0)
    log_printf(1, "%s: WARNING: %u items still allocated", p->name, p->used);
  p->block = nullptr;
  p->free = nullptr;
}
