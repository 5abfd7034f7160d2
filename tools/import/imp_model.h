// imp_model.h - turning a bank's presets into an instrument definition:
// patches and drum keys of at most four layers, waves of maps, and the raw
// sample files the maps name.  Everything the engine cannot express is
// approximated and reported as a warning.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "import/imp_bank.h"

struct imp_options {
  int bank = 0;                 // the bank whose presets become patches
  int kit = -1;                 // program of the percussion bank; -1: the lowest
  std::vector<int> programs;    // patches to import; empty: all
  bool drums = true;            // import the percussion kit
};

// A raw sample file: frames begin..end of a sample, or of two mixed to mono.
struct def_file {
  std::string path;             // relative to the definition's folder
  int sample = -1, mix = -1;    // mix: the sample added to it, or -1
  std::uint32_t begin = 0, end = 0, mixbegin = 0;
  std::size_t frames() const { return end - begin; }
};

struct def_map {
  int keylo = 0, keyhi = 127, vello = 0, velhi = 127;
  int file = -1;
  double pitch = 64, vol = 127;
  double tune = 0;              // the part of pitch the zone's tuning generators give
  std::uint32_t loop = 0;
};

struct def_wave {
  std::string name;
  std::vector<def_map> maps;    // in the order the engine keeps them
};

struct def_layer {
  int wave = -1;
  std::vector<std::string> lines; // the layer's body lines
};

struct def_patch {
  bool drum = false;
  int number = 0;
  std::string name;
  int ckey = -1;
  bool fast_tempo = false;       // layer delays count in ticks at 480 beats per minute
  std::vector<def_layer> layers;
};

struct def_instrument {
  std::vector<def_file> files;
  std::vector<def_wave> waves;
  std::vector<def_patch> patches;
  std::vector<std::string> warnings;
  std::uint64_t sample_bytes() const; // what the engine loads: every map its own copy
  std::size_t map_count() const;
};

constexpr int IMP_MAX_WAVES = 128;
constexpr int IMP_MAX_LAYERS = 4;
constexpr std::size_t IMP_MAX_NAME = 46;
// Largest magnitude a number may have in every form the definition reader
// accepts (it refuses whole numbers beyond 256).
constexpr double IMP_MAX_NUMBER = 256.0;

// The conversion rules, each on the language's scales.
// Time in timecents -> time value (79 = one second, 6 per doubling).
double imp_time(double timecents);
// Decibels -> volume steps (18 per doubling of amplitude).
double imp_steps(double db);
// Pitch of a recording on the key scale: root key, tuning in cents, the
// key scale in cents per key, the sample's rate.
double imp_map_pitch(int root, double tune_cents, int scale, int rate);
// Filter resonance in centibels -> resonance value 0...127.
double imp_resonance(int centibels);
// An LFO frequency in absolute cents -> its period as a time value.
double imp_lfo_time(int cents);
// A patch name as a definition string: quoted, escaped, at most 46 bytes.
std::string imp_quote_name(const std::string &name, bool *cut);

// Whether a map fits a wave's maps by the engine's ordering rule; when it
// does, it is inserted in place.
bool imp_add_map(std::vector<def_map> *maps, const def_map &m);

def_instrument imp_convert(const imp_bank &bank, const imp_options &opts);

// The definition text (midisyn.conf).
std::string imp_conf_text(const def_instrument &inst, const std::string &source);
// A number as the definition writes it: at most four decimals, no
// trailing zeros.
std::string imp_number(double v);
// The 16-bit samples of one file.
std::vector<std::int16_t> imp_file_data(const imp_bank &bank, const def_file &f);
