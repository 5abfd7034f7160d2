// render.h - rendering a MIDI file through a VST 2 instrument, offline.
//
// Events reach the instrument at their exact frames: blocks are split at
// event positions, so the result does not depend on the block size.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "render/smf.h"

struct render_opts {
  std::string plugin;                 // plug-in file
  int rate = 48000;
  int block = 512;                    // largest block handed to the plug-in
  std::string patch;                  // name or program number; empty: keep
  std::vector<std::pair<std::string, std::string>> sets; // control = value
  std::string state;                  // a settings text given through SetChunk
  double tail = -1;                   // seconds after the last event; < 0: until quiet
  double max_length = 24 * 3600.0;    // seconds: longer files (with an explicit tail) are refused
  bool gm = false;                    // General MIDI: program changes, drums on channel 10
};

// Patches of the instrument definition, for names and program numbers.
struct render_patch {
  int number;
  std::string name;
};

struct render_stats {
  double seconds = 0, peak = 0, sumsq = 0;
  std::uint64_t frames = 0;
};

// Receives each rendered block of interleaved stereo frames; the second
// argument is the fraction of the file rendered so far.
using render_sink = std::function<void(const float *frames, int n, double progress)>;

// Renders the file; false with a message.
bool render_file(const render_opts &o, const smf_file &midi,
                 const std::vector<render_patch> &patches, const render_sink &sink,
                 render_stats *stats, std::string *err);

// The controls of a plug-in instance as the settings text names them, with
// their current value texts, read through its state chunk.
bool render_controls(const std::string &plugin, std::vector<std::pair<std::string, std::string>> *out,
                     std::vector<std::vector<std::string>> *values, std::string *err);
