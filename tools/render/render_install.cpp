// Installation paths of the renderer, the plug-in and the engine.
#include "render/render_install.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/os.h"

namespace fs = std::filesystem;

namespace {

std::string real_or_same(const std::string &p) {
  std::error_code ec;
  const fs::path r = fs::canonical(p, ec);
  return ec ? p : r.string();
}

const char *engine_file() { return "liborka.so"; }

} // namespace

std::vector<std::string> render_plugin_paths(const std::string &configured) {
  std::vector<std::string> out;
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec)
    out.push_back((exe.parent_path().parent_path() / "lib" / "vst" / "Glimra-Synth.so").string());
  if (!configured.empty() && (out.empty() || out[0] != configured))
    out.push_back(configured);
  return out;
}

std::vector<std::string> render_engine_paths(const std::string &plugin) {
  std::vector<std::string> out;
  const char *pf = std::getenv("PROGRAMFILES");
  if (pf) {
    out.push_back(std::string(pf) + "/Glimra/Synth/" + engine_file());
    return out;
  }
  const fs::path mine = fs::path(real_or_same(plugin)).parent_path().parent_path() / "Glimra" / "Synth" / engine_file();
  out.push_back(mine.string());
  const std::string root = os_default_root();
  if (!root.empty()) {
    const std::string conf = root + "/Glimra/Synth/" + engine_file();
    if (conf != out[0])
      out.push_back(conf);
  }
  return out;
}

std::string render_join(const std::vector<std::string> &paths) {
  std::string s;
  for (const std::string &p : paths)
    s += (s.empty() ? "" : ", ") + p;
  return s;
}

bool render_instrument::open(const std::string &dir, const std::string &plugin, std::string *err) {
  std::error_code ec;
  fs::path data = fs::absolute(dir, ec);
  if (!fs::exists(data / "midisyn.conf") && fs::exists(data / "data" / "midisyn.conf"))
    data /= "data";
  if (!fs::exists(data / "midisyn.conf")) {
    *err = dir + ": no midisyn.conf in it (nor in its data folder)";
    return false;
  }
  std::string engine;
  const std::vector<std::string> tried = render_engine_paths(plugin);
  for (const std::string &e : tried)
    if (fs::exists(e)) {
      engine = real_or_same(e);
      break;
    }
  if (engine.empty()) {
    *err = "no engine found for --instrument (tried " + render_join(tried) + ")";
    return false;
  }
  root_ = (fs::temp_directory_path(ec) / ("glimra-render-" + std::to_string(::getpid()))).string();
  const fs::path synth = fs::path(root_) / "Glimra" / "Synth";
  fs::create_directories(synth, ec);
  if (!ec)
    fs::create_symlink(engine, synth / engine_file(), ec);
  if (!ec)
    fs::create_directory_symlink(data, synth / "data", ec);
  if (ec) {
    *err = root_ + ": " + ec.message();
    return false;
  }
  const char *old = std::getenv("PROGRAMFILES");
  had_ = old != nullptr;
  if (old)
    saved_ = old;
  setenv("PROGRAMFILES", root_.c_str(), 1);
  set_ = true;
  return true;
}

render_instrument::~render_instrument() {
  if (set_) {
    if (had_)
      setenv("PROGRAMFILES", saved_.c_str(), 1);
    else
      unsetenv("PROGRAMFILES");
  }
  if (!root_.empty()) {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
}
