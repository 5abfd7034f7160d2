// golden_scenes.h - fixed performances played through the engine's module
// table for the golden-render test: notes, controllers and control changes
// at given frames, rendered in blocks of a given size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct golden_step {
  enum kind { MIDI, CTL, RUN } what;
  std::vector<unsigned char> bytes; // MIDI
  std::string ctl, text;            // CTL: control name, value text ("" = use value)
  int value = 0;                    // CTL value, or RUN frames
};

struct golden_scene {
  std::string name;
  int rateidx = 8; // 48000 Hz
  int block = 256;
  std::vector<golden_step> steps;

  int rate() const;
  golden_scene &midi(std::vector<unsigned char> b);
  golden_scene &ctl(const std::string &name, int value);
  golden_scene &ctl(const std::string &name, const std::string &text);
  golden_scene &run(double seconds);
  // Note on, then after `seconds` its note off.
  golden_scene &note(int chan, int key, int vel, double seconds);
};

// Every scene the test renders, in a fixed order; `patches` is the number
// of values of the patch control (the defined patches and the drum kit).
std::vector<golden_scene> golden_scenes(int patches);

// A 64-bit FNV-1a hash of every `window` frames of stereo output (left
// then right sample of each frame, little-endian), independent of how the
// frames were split into blocks.
class golden_hasher {
public:
  explicit golden_hasher(int window = 4096) : window_(window) {}
  void add(const std::int32_t *left, const std::int32_t *right, int frames);
  // The hashes so far, the last one over the frames of an unfinished window.
  std::vector<std::uint64_t> finish();

private:
  void byte(unsigned char b) { h_ = (h_ ^ b) * 0x100000001B3ull; }
  int window_, filled_ = 0;
  std::uint64_t h_ = 0xCBF29CE484222325ull;
  std::vector<std::uint64_t> out_;
};
