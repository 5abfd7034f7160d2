// sf2_image.h - builds small SoundFont 2 files for the importer's tests:
// a RIFF writer of the records a bank needs, nothing more.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sf2 {

struct sample {
  std::string name;
  std::vector<std::int16_t> data;
  int rate = 44100, root = 60, correction = 0;
  std::uint32_t loopstart = 0, loopend = 0; // relative to the sample's start
  int type = 1;                              // 1 mono, 2 right, 4 left
  int link = 0;                              // the other side's sample index
};

// A zone: generators (number, amount) in file order; a range is lo | hi << 8.
using zone = std::vector<std::pair<int, int>>;

// A modulator of a zone: source, destination generator, amount, amount
// source and transform, as the file stores them.
struct mod {
  int src = 0, dest = 0, amount = 0, amtsrc = 0, trans = 0;
};

struct instrument {
  std::string name;
  std::vector<zone> zones;             // each ends with generator 53 (the sample)
  std::vector<std::vector<mod>> mods;  // per zone, in zone order; may be shorter
};

struct preset {
  std::string name;
  int program = 0, bank = 0;
  std::vector<zone> zones; // each ends with generator 41 (the instrument)
};

inline int range(int lo, int hi) { return lo | hi << 8; }

std::string image(const std::vector<sample> &samples, const std::vector<instrument> &insts,
                  const std::vector<preset> &presets);

} // namespace sf2
