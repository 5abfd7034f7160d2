// render_install.h - where the renderer finds the plug-in and the engine
// of an installation, and a scratch installation that plays the instrument
// of another folder.
#pragma once

#include <string>
#include <vector>

// The plug-in files to try, in order: "<exe>/../lib/vst/<name>" beside the
// renderer's own (real) file, then the path configured at build time.
std::vector<std::string> render_plugin_paths(const std::string &configured);

// The engine files the plug-in at plugin tries when PROGRAMFILES is not
// set: "../Glimra/Synth/<lib>" beside its real folder, then the configured
// root; with PROGRAMFILES only the one below it.
std::vector<std::string> render_engine_paths(const std::string &plugin);

// A scratch installation: "<tmp>/Glimra/Synth" holding links to an engine
// and to the definition folder dir (the folder with midisyn.conf, or an
// installation folder holding data/midisyn.conf).  PROGRAMFILES points at
// it while the object lives.
class render_instrument {
public:
  render_instrument() = default;
  ~render_instrument();
  render_instrument(const render_instrument &) = delete;
  render_instrument &operator=(const render_instrument &) = delete;
  // False with a message.
  bool open(const std::string &dir, const std::string &plugin, std::string *err);

private:
  std::string root_, saved_;
  bool had_ = false, set_ = false;
};

// "a, b, c"
std::string render_join(const std::vector<std::string> &paths);
