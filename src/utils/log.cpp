// Logging: level from the log file's name, one sink call per message,
// and the registry of named conversions.
//
// Printing takes no lock: it may run on the audio thread, and the
// allocator prints while holding its own lock.  Opening, closing and the
// registry's changes are serialised by the set-up lock; what they take
// away (a registry node, the log file) is released only once no message
// is being formatted or written (the in-flight count is 0).  Lock order:
// set-up lock, then the allocator's (the listing of live blocks); nothing
// that prints ever takes the set-up lock.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/os.h"
#include "utils/alloc.h"
#include "utils/log.h"

namespace {

int g_open_count = 0; // under the set-up lock
std::atomic<os_file *> g_file{nullptr};

os_mutex *setup_lock() {
  static os_static_mutex m;
  return m.get();
}
struct setup_guard : os_mutex_guard {
  setup_guard() : os_mutex_guard(setup_lock()) {}
};

// Messages and lookups in progress, on any thread.
std::atomic<int> g_inflight{0};
struct inflight {
  inflight() { g_inflight.fetch_add(1); }
  ~inflight() { g_inflight.fetch_sub(1); }
  inflight(const inflight &) = delete;
  inflight &operator=(const inflight &) = delete;
};
// Set-up side: waits until every message and lookup that may still see
// what was just taken away has ended.
void wait_quiet() {
  while (g_inflight.load() != 0)
    std::this_thread::yield();
}

void stderr_sink(const char *bytes, std::size_t n) { os_stderr_write(bytes, n); }
void drop_sink(const char *, std::size_t) {}
void file_sink(const char *bytes, std::size_t n) {
  if (os_file *f = g_file.load())
    os_write(f, bytes, n);
}

struct conv_node {
  const char *key;
  conv_func fn;
  std::atomic<conv_node *> next;
};
std::atomic<conv_node *> g_convs{nullptr};

int conv_str(char *out, std::size_t size, const std::int64_t *values) {
  const char *s = reinterpret_cast<const char *>(static_cast<std::intptr_t>(values[0]));
  if (!s)
    s = "(null)";
  std::size_t n = std::strlen(s);
  if (size > 0) {
    std::size_t c = n < size - 1 ? n : size - 1;
    std::memcpy(out, s, c);
    out[c] = 0;
  }
  return static_cast<int>(n);
}

int conv_ptr(char *out, std::size_t size, const std::int64_t *values) {
  char tmp[20];
  int n = 0;
  std::uint64_t v = static_cast<std::uint64_t>(values[0]);
  do {
    tmp[n++] = "0123456789abcdef"[v & 15];
    v >>= 4;
  } while (v);
  for (int k = 0; k < n && static_cast<std::size_t>(k) + 1 < size; ++k)
    out[k] = tmp[n - 1 - k];
  if (size > 0)
    out[static_cast<std::size_t>(n) < size ? n : size - 1] = 0;
  return n;
}

} // namespace

std::atomic<int> log_level{0};
std::atomic<log_sink_fn> log_sink{stderr_sink};

namespace {

void *register_locked(conv_func fn, const char *key) {
  auto *node = static_cast<conv_node *>(std::malloc(sizeof(conv_node)));
  if (!node)
    return nullptr;
  node->key = key;
  node->fn = fn;
  node->next.store(g_convs.load());
  g_convs.store(node); // whole before it is seen
  return node;
}

void unregister_locked(conv_func fn) {
  for (std::atomic<conv_node *> *link = &g_convs; conv_node *n = link->load(); link = &n->next) {
    if (n->fn == fn) {
      link->store(n->next.load());
      wait_quiet(); // a lookup may still be standing on it
      std::free(n);
      return;
    }
  }
}

} // namespace

void *conv_register(conv_func fn, const char *key) {
  setup_guard held;
  return register_locked(fn, key);
}

void conv_unregister(conv_func fn) {
  setup_guard held;
  unregister_locked(fn);
}

int conv_call(char *out, std::size_t size, const char *key, const std::int64_t *values) {
  inflight busy;
  for (conv_node *n = g_convs.load(); n; n = n->next.load())
    if (std::strcmp(n->key, key) == 0)
      return n->fn(out, size, values);
  return -1;
}

void log_write(int level, const char *fmt, ...) {
  inflight busy;
  if (level > log_level.load()) // again once counted: log_close may have begun
    return;
  char buf[256];
  std::va_list ap;
  va_start(ap, fmt);
  int n = xvsnprintf(conv_call, buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n > 255)
    n = 255;
  if (n < 0)
    n = 0;
  buf[n] = '\n';
  log_sink.load()(buf, static_cast<std::size_t>(n) + 1);
}

void log_open(const char *vendor, const char *product) {
  setup_guard held;
  if (g_open_count++ > 0)
    return;
  os_char16 dir[OS_PATHMAX + 1];
  int dlen = os_appdata16(dir, OS_PATHMAX + 1);
  if (dlen > 0 && dlen <= OS_PATHMAX) {
    char rel[256];
    for (int n = 9; n >= 1; --n) {
      int rlen = std::snprintf(rel, sizeof rel, "\\%s-%s\\log%d", vendor, product, n);
      if (rlen < 0 || rlen >= static_cast<int>(sizeof rel))
        break;
      os_char16 path[OS_PATHMAX + 1];
      std::memcpy(path, dir, sizeof(os_char16) * static_cast<std::size_t>(dlen));
      int wlen = os_widen(rel, path + dlen, OS_PATHMAX + 1 - dlen);
      if (dlen + wlen > OS_PATHMAX)
        break;
      os_file *f = os_open_append(path);
      if (f) {
        g_file.store(f);
        log_sink.store(file_sink);
        log_level.store(n);
        break;
      }
    }
  }
  register_locked(conv_su16, "su16:%p");
  register_locked(conv_ptr, "%p");
  register_locked(conv_str, "%s");
  log_printf(2, "log open");
}

void log_close() {
  setup_guard held;
  if (--g_open_count > 0)
    return;
  if (g_open_count < 0)
    g_open_count = 0;
  if (log_level.load() >= 1)
    xmem_list();
  log_printf(2, "log closed");
  unregister_locked(conv_str);
  unregister_locked(conv_ptr);
  unregister_locked(conv_su16);
  // A message that passed the level test before it fell goes nowhere
  // rather than to the standard error stream.
  log_level.store(0);
  log_sink.store(drop_sink);
  os_file *f = g_file.exchange(nullptr);
  wait_quiet(); // a message may still be on its way to the file
  if (f)
    os_close(f);
  log_sink.store(stderr_sink);
}
