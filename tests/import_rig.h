// import_rig.h - for the importer's tests: the small bank they import, and
// a renderer that plays an imported instrument through the plug-in.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "render/render.h"
#include "render/render_install.h"
#include "testutil.h"

// A SoundFont 2 image: "Lead" (two key zones: 22050 Hz and a looped 44100 Hz
// sine, tuned), "Pad" (a stereo pair), "Layers" (two velocity zones),
// "Shaped" (delay, hold, low-pass, vibrato and the wheel's vibrato), a
// drum kit whose hi-hats share an exclusive class, a second kit (program
// 8: key 38 only) and "Bright" in bank 1 (program 0, the lead's zones).
std::string test_bank();

// Fundamental frequency of frames from ... from + n (difference function
// with cumulative mean normalisation, interpolated), 0 when none.
double pitch_of(const std::vector<float> &x, std::size_t from, std::size_t n, double rate);

class import_rig {
public:
  // data: the folder holding the imported midisyn.conf.  The patch list
  // comes from the definition model loaded in this process.
  explicit import_rig(const std::string &data);
  ~import_rig();
  bool ok() const { return ok_; }
  const std::string &error() const { return err_; }
  // One note of a program on channel 1 (or the kit on 10), mono.
  std::vector<float> note(int program, int key, double seconds);
  // Any tracks, one instance per channel; mono.
  std::vector<float> render(const std::vector<smf_track> &tracks);

private:
  testutil::tempdir dir_;
  std::unique_ptr<render_instrument> inst_;
  render_opts opts_;
  std::vector<render_patch> patches_;
  bool ok_ = false;
  std::string err_;
};
