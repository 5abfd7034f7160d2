// appdata.h - reading whole installed files into checked blocks.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads "<program-files>\<vendor>\<product>\<path>" whole.  Returns an
// xmalloc block of exactly the file's size (the caller frees it) and
// stores the size; null after a level-1 message on failure.  Set-up thread.
void *appdata_loadres(const char *vendor, const char *product, const char *path,
                      std::size_t *size);
// Command-line tools: read installed files from the folder dir (8-bit path)
// instead of "<program-files>\<vendor>\<product>"; null restores the
// installation.  Set-up thread, before any reading.
void appdata_set_installdir(const char *dir);
// The same for a full UTF-16 path.
void *appdata_readfile(const std::uint16_t *path, std::size_t *size);
