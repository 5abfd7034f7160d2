// Writing the definition and its sample files; the check through the
// engine's reader.
#include "import/imp_write.h"

#include <cstdio>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <vector>

#include "synth/conf/conf.h"
#include "utils/appdata.h"
#include "log_lines.h"
#include "tool_root.h"
#include "utils/log.h"

namespace fs = std::filesystem;

namespace {

bool write_bytes(const fs::path &p, const void *data, std::size_t n, std::string *err) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char *>(data), static_cast<std::streamsize>(n));
  out.close();
  if (!out) {
    *err = p.string() + ": cannot write";
    return false;
  }
  return true;
}


} // namespace

bool imp_write(const def_instrument &inst, const imp_bank &bank, const std::string &dir,
               const std::string &source, const imp_progress &progress, std::string *err) {
  std::error_code ec;
  fs::create_directories(fs::path(dir) / "waves", ec);
  if (ec) {
    *err = dir + ": " + ec.message();
    return false;
  }
  const std::string text = imp_conf_text(inst, source);
  if (!write_bytes(fs::path(dir) / "midisyn.conf", text.data(), text.size(), err))
    return false;
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i < inst.files.size(); ++i) {
    const std::vector<std::int16_t> s = imp_file_data(bank, inst.files[i]);
    bytes.resize(2 * s.size());
    for (std::size_t k = 0; k < s.size(); ++k) { // little-endian on every host
      const auto u = static_cast<std::uint16_t>(s[k]);
      bytes[2 * k] = static_cast<unsigned char>(u & 0xFF);
      bytes[2 * k + 1] = static_cast<unsigned char>(u >> 8);
    }
    if (!write_bytes(fs::path(dir) / inst.files[i].path, bytes.data(), bytes.size(), err))
      return false;
    if (progress)
      progress(i + 1, inst.files.size());
  }
  return true;
}

bool imp_check(const std::string &dir, std::string *err) {
  const tool_data_link link(dir);
  if (link.root().empty()) {
    *err = link.error();
    return false;
  }
  appdata_set_installdir(link.root().c_str());
  void (*sink)(const char *, std::size_t) = log_sink;
  const int level = log_level;
  log_level = 1;
  log_sink = tool_log_collect;
  tool_log_lines().clear();
  const bool ok = conf_setup();
  conf_teardown();
  log_level = level;
  log_sink = sink;
  appdata_set_installdir(nullptr);
  if (!ok) {
    *err = "";
    for (const std::string &s : tool_log_lines())
      if (s.rfind("loading ", 0) != 0 && s != CONF_DISCARDED)
        *err += (err->empty() ? "" : "; ") + s;
  }
  return ok;
}
