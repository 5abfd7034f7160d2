// Logging: level from the log file's name, one sink call per message,
// and the registry of named conversions.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/os.h"
#include "utils/alloc.h"
#include "utils/log.h"

namespace {

int g_open_count = 0;
os_file *g_file = nullptr;

void stderr_sink(const char *bytes, std::size_t n) { os_stderr_write(bytes, n); }
void file_sink(const char *bytes, std::size_t n) {
  if (g_file)
    os_write(g_file, bytes, n);
}

struct conv_node {
  const char *key;
  conv_func fn;
  conv_node *next;
};
conv_node *g_convs = nullptr;

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

int log_level = 0;
void (*log_sink)(const char *bytes, std::size_t n) = stderr_sink;

void *conv_register(conv_func fn, const char *key) {
  auto *node = static_cast<conv_node *>(std::malloc(sizeof(conv_node)));
  if (!node)
    return nullptr;
  node->key = key;
  node->fn = fn;
  node->next = g_convs;
  g_convs = node;
  return node;
}

void conv_unregister(conv_func fn) {
  for (conv_node **link = &g_convs; *link; link = &(*link)->next) {
    if ((*link)->fn == fn) {
      conv_node *dead = *link;
      *link = dead->next;
      std::free(dead);
      return;
    }
  }
}

int conv_call(char *out, std::size_t size, const char *key, const std::int64_t *values) {
  for (conv_node *n = g_convs; n; n = n->next)
    if (std::strcmp(n->key, key) == 0)
      return n->fn(out, size, values);
  return -1;
}

void log_printf(int level, const char *fmt, ...) {
  if (level > log_level)
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
  log_sink(buf, static_cast<std::size_t>(n) + 1);
}

void log_open(const char *vendor, const char *product) {
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
        g_file = f;
        log_level = n;
        log_sink = file_sink;
        break;
      }
    }
  }
  conv_register(conv_su16, "su16:%p");
  conv_register(conv_ptr, "%p");
  conv_register(conv_str, "%s");
  log_printf(2, "log open");
}

void log_close() {
  if (--g_open_count > 0)
    return;
  if (g_open_count < 0)
    g_open_count = 0;
  if (log_level >= 1)
    xmem_list();
  log_printf(2, "log closed");
  conv_unregister(conv_str);
  conv_unregister(conv_ptr);
  conv_unregister(conv_su16);
  if (g_file) {
    os_close(g_file);
    g_file = nullptr;
  }
  log_level = 0;
  log_sink = stderr_sink;
}
