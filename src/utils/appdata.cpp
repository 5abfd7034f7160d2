// Installed resources: the engine's only way of reading files.
#include <cstdio>
#include <cstring>

#include "platform/os.h"
#include "utils/alloc.h"
#include "utils/appdata.h"
#include "utils/log.h"

namespace {
// Folder that replaces the installation directory, when set (tools only).
os_char16 g_installdir[OS_PATHMAX + 1];
bool g_installdir_long = false; // it did not fit: every read fails
// Without PROGRAMFILES (POSIX), an engine that lies in its installation
// folder "<root>/<vendor>/<product>" reads its files from there, wherever
// that root is.  0 when that does not apply.
int engine_root(const char *vendor, const char *product, os_char16 *buf) {
  os_char16 dir[OS_PATHMAX + 1];
  const int len = os_progfiles_beside16(1, dir, OS_PATHMAX + 1);
  char tail[128];
  const int t = std::snprintf(tail, sizeof tail, "/%s/%s", vendor, product);
  if (len <= t || len > OS_PATHMAX || t <= 0 || t >= static_cast<int>(sizeof tail))
    return 0;
  for (int i = 0; i < t; ++i)
    if (dir[len - t + i] != static_cast<unsigned char>(tail[i]))
      return 0;
  return os_progfiles_beside16(3, buf, OS_PATHMAX + 1);
}
} // namespace

void appdata_set_installdir(const char *dir) {
  g_installdir[0] = 0;
  g_installdir_long = dir && os_widen(dir, g_installdir, OS_PATHMAX + 1) > OS_PATHMAX;
}

void *appdata_loadres(const char *vendor, const char *product, const char *path,
                      std::size_t *size) {
  char rel[256];
  os_char16 full[OS_PATHMAX + 1];
  int n, len;
  if (g_installdir_long) {
    log_printf(1, "%s: library path too long", "appdata_loadres");
    return nullptr;
  }
  if (g_installdir[0]) {
    n = std::snprintf(rel, sizeof rel, "\\%s", path);
    len = os_strlen16(g_installdir);
    std::memcpy(full, g_installdir, sizeof(os_char16) * (len + 1));
  } else {
    n = std::snprintf(rel, sizeof rel, "\\%s\\%s\\%s", vendor, product, path);
    len = engine_root(vendor, product, full);
    if (len == 0)
      len = os_progfiles16(full, OS_PATHMAX + 1);
  }
  if (len <= 0) {
    log_printf(1, "%s: can't get path to library", "appdata_loadres");
    return nullptr;
  }
  if (n < 0 || n >= static_cast<int>(sizeof rel) || len + n > OS_PATHMAX) {
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
  void *block = xmalloc_unfilled(n, XTAG); // the read fills it, or it goes unseen
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
