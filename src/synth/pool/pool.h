// pool.h - fixed-size object pools for what the audio path creates and
// destroys (notes, voices, voice events).  Filled once at set-up; getting
// and putting an item never calls the system allocator.
#pragma once

#include <cstddef>
#include <cstdint>

struct pool {
  void *block;       // the pool's memory, one xmalloc block
  void *free;        // head of the free list, linked through each item
  std::uint32_t used; // items handed out
  std::uint32_t count;
  std::size_t itemsize;
  const char *name;  // static text for messages
};

// Set-up thread.  Item size is rounded up to a multiple of 8, at least 8.
void pool_init(pool *p, const char *name, std::size_t itemsize, std::uint32_t count);
// Audio thread of the owning instance.  Aborts when the pool is empty.
void *pool_get(pool *p);
// Audio thread of the owning instance.  Aborts when nothing is handed out.
void pool_put(pool *p, void *item);
// Set-up thread.  Warns about items still handed out.
void pool_done(pool *p);
