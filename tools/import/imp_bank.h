// imp_bank.h - a SoundFont 2 or DLS bank as the importer sees it: every
// preset with its zones resolved (instrument and preset generators summed,
// defaults filled in) and the samples they play, read through libinstpatch.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Generator numbers of the zones' generator arrays.
enum imp_gen : int {
  GEN_START = 0, GEN_END = 1, GEN_LOOPSTART = 2, GEN_LOOPEND = 3, GEN_COARSESTART = 4,
  GEN_MODLFO_PITCH = 5, GEN_VIBLFO_PITCH = 6, GEN_MODENV_PITCH = 7, GEN_FC = 8, GEN_Q = 9,
  GEN_MODLFO_FC = 10, GEN_MODENV_FC = 11, GEN_COARSEEND = 12, GEN_MODLFO_VOL = 13,
  GEN_CHORUS = 15, GEN_REVERB = 16, GEN_PAN = 17, GEN_MODLFO_DELAY = 21, GEN_MODLFO_FREQ = 22,
  GEN_VIBLFO_DELAY = 23, GEN_VIBLFO_FREQ = 24, GEN_MODENV_DELAY = 25, GEN_MODENV_ATTACK = 26,
  GEN_MODENV_HOLD = 27, GEN_MODENV_DECAY = 28, GEN_MODENV_SUSTAIN = 29, GEN_MODENV_RELEASE = 30,
  GEN_KEY_MODENV_HOLD = 31, GEN_KEY_MODENV_DECAY = 32, GEN_VOLENV_DELAY = 33,
  GEN_VOLENV_ATTACK = 34, GEN_VOLENV_HOLD = 35, GEN_VOLENV_DECAY = 36, GEN_VOLENV_SUSTAIN = 37,
  GEN_VOLENV_RELEASE = 38, GEN_KEY_VOLENV_HOLD = 39, GEN_KEY_VOLENV_DECAY = 40,
  GEN_COARSELOOPSTART = 45, GEN_FIXEDKEY = 46, GEN_FIXEDVEL = 47, GEN_ATTEN = 48,
  GEN_COARSELOOPEND = 50, GEN_COARSETUNE = 51, GEN_FINETUNE = 52, GEN_MODES = 54,
  GEN_SCALETUNE = 56, GEN_EXCLUSIVE = 57, GEN_ROOTKEY = 58, GEN_COUNT = 59
};

// Which channel of a stereo pair a sample holds.
enum imp_side : int { SIDE_MONO = 0, SIDE_LEFT = 1, SIDE_RIGHT = 2 };

struct imp_sample {
  std::string name;
  int rate = 44100;             // frames per second
  std::vector<std::int16_t> data;
  int side = SIDE_MONO;
  int partner = -1;             // the other sample of a stereo pair, or -1
};

// One zone of a preset: what one note in its ranges starts.
struct imp_zone {
  int keylo = 0, keyhi = 127, vello = 0, velhi = 127;
  int sample = -1;              // index into imp_bank::samples
  std::uint32_t loopstart = 0, loopend = 0; // the sample's own loop, frames
  int root = 60;                // the sample's recorded key
  int correction = 0;           // the sample's pitch correction, cents
  std::array<int, GEN_COUNT> gen{}; // generator values, defaults filled in
  int modwheel_vib = 0;         // vibrato depth the modulation wheel adds, cents
  int pressure_vib = 0;         // vibrato depth channel pressure adds, cents
};

struct imp_preset {
  int bank = 0, program = 0;
  std::string name;
  std::vector<imp_zone> zones;
};

struct imp_bank {
  std::vector<imp_sample> samples;
  std::vector<imp_preset> presets;
};

// Reads a SoundFont 2 or DLS file; false with a message.
bool imp_read_bank(const std::string &path, imp_bank *out, std::string *err);

// Generator defaults of a zone that sets nothing.
std::array<int, GEN_COUNT> imp_gen_defaults();
