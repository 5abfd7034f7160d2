// Installed resources: the engine's only way of reading files.
#include <cstdio>
#include <cstring>

#include "platform/os.h"
#include "utils/alloc.h"
#include "utils/appdata.h"
#include "utils/log.h"

void *appdata_loadres(const char *vendor, const char *product, const char *path,
                      std::size_t *size) {
  char rel[256];
  int n = std::snprintf(rel, sizeof rel, "\\%s\\%s\\%s", vendor, product, path);
  os_char16 full[OS_PATHMAX + 1];
  int len = os_progfiles16(full, OS_PATHMAX + 1);
  if (len <= 0) {
    log_printf(1, "%s: can't get path to library", "appdata_loadres");
    return nullptr;
  }
  if (n < 0 || len + n > OS_PATHMAX) {
    log_printf(1, "%s: library path too long", "appdata_loadres");
    return nullptr;
  }
  os_widen(rel, full + len, OS_PATHMAX + 1 - len);
  return appdata_readfile(full, size);
}

void *appdata_readfile(const std::uint16_t *path, std::size_t *size) {
  os_file *f = os_open_read(path);
  if (!f) {
    log_printf(1, "{su16:%p}: can't open file for reading", static_cast<const void *>(path));
    return nullptr;
  }
  std::int64_t sz = 0;
  if (!os_file_size(f, &sz)) {
    log_printf(1, "{su16:%p}: can't get file size", static_cast<const void *>(path));
    os_close(f);
    return nullptr;
  }
  if (sz >= 2147483647) {
    log_printf(1, "{su16:%p}: file too large", static_cast<const void *>(path));
    os_close(f);
    return nullptr;
  }
  auto n = static_cast<std::size_t>(sz);
  void *block = xmalloc(n, XTAG);
  long long got = os_read(f, block, n);
  if (got < 0 || static_cast<std::size_t>(got) < n) {
    log_printf(1, got < 0 ? "{su16:%p}: can't read" : "{su16:%p}: short read",
               static_cast<const void *>(path));
    xfree(block);
    os_close(f);
    return nullptr;
  }
  os_close(f);
  *size = n;
  return block;
}
