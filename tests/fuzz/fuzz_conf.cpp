// The definition reader on arbitrary bytes as "midisyn.conf": set-up either
// loads the instrument or refuses it with nothing left of it, never ends
// the process, and set-up with tear-down leaves no block behind.  What is
// loaded keeps its promises: patch names one line each, unique, not the
// drum kit's entry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/os.h"
#include "synth/conf/conf.h"
#include "synth/patch/patch.h"
#include "synth/wave/wave.h"
#include "utils/alloc.h"
#include "utils/log.h"

namespace {

std::filesystem::path g_root, g_conf;

void discard(const char *, std::size_t) {}

void remove_root() { std::filesystem::remove_all(g_root); }

void check_names() {
  for (int i = 0; i < PATCH_MAX; ++i) {
    for (const patch *p : {patch_table[i], drumkey_table[i]}) {
      if (!p)
        continue;
      const std::size_t n = std::strlen(p->name);
      if (n > PATCH_NAMELEN)
        std::abort();
      for (std::size_t k = 0; k < n; ++k)
        if (static_cast<unsigned char>(p->name[k]) < 0x20 || p->name[k] == 0x7F)
          std::abort();
    }
    if (!patch_table[i])
      continue;
    if (std::strcmp(patch_table[i]->name, PATCH_KIT_NAME) == 0)
      std::abort();
    for (int j = 0; j < i; ++j)
      if (patch_table[j] && std::strcmp(patch_table[i]->name, patch_table[j]->name) == 0)
        std::abort();
  }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // An installation whose data folder holds the files the seeds name.
  // Every input is written as a file: memory-backed storage when there is.
  std::error_code ec;
  const auto tmp = std::filesystem::is_directory("/dev/shm", ec)
                       ? std::filesystem::path("/dev/shm")
                       : std::filesystem::temp_directory_path();
  g_root = tmp / ("glimra-fuzz-conf-" + std::to_string(::getpid()));
  const auto data = g_root / "Glimra" / "Synth" / "data";
  for (const char *dir : {"", "waves", "kit", "sub"})
    std::filesystem::create_directories(data / dir);
  for (const char *f : {"a", "a.raw", "kit/tone.raw", "waves/flute_c4.raw", "waves/flute_c6.raw",
                        "waves/kick.raw", "waves/saw_a2.raw", "sub/s.raw"})
    std::ofstream(data / f, std::ios::binary) << std::string(64, '\x11');
  std::ofstream(data / "kit" / "bad.wav", std::ios::binary) << "RIFF";
  std::ofstream(data / "b.conf") << "patch 9 \"Nine\" {\n}\n";
  std::ofstream(data / "sub" / "c.conf") << "wav s {\nmap { data \"s.raw\"\n}\n}\nload \"../b.conf\"\n";
  g_conf = data / "midisyn.conf";
  setenv("PROGRAMFILES", g_root.string().c_str(), 1);
  os_set_default_root("");
  std::atexit(remove_root);
  // Messages are formatted as in the engine, then dropped.
  log_level = 2;
  log_sink = discard;
  conv_register(conv_su16, "su16:%p");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
  {
    std::ofstream out(g_conf, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes), static_cast<std::streamsize>(size));
  }
  const std::size_t live = xmem_count();
  if (conf_setup()) {
    check_names();
  } else {
    for (int i = 0; i < PATCH_MAX; ++i)
      if (patch_table[i] || drumkey_table[i])
        std::abort(); // a refused definition leaves nothing
    if (wave_list)
      std::abort();
  }
  conf_teardown();
  if (xmem_count() != live)
    std::abort(); // a block was left behind
  return 0;
}
