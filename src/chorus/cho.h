// cho.h - the chorus: eight taps of one delay memory, each moved by its
// own slow piecewise-linear sine.
#pragma once

#include <cstdint>

#include "orka/orka.h"

struct cho_voice {
  std::int32_t gl, gr;   // gains into the left and right output, Q27
  std::int32_t seglen;   // samples per sine step
  std::int32_t phase;    // next sine step, 0 ... 31
  std::int32_t count;    // samples left in the current step
  std::int32_t centre;   // centre delay, Q11 samples
  std::int32_t delay;    // current delay, Q11 samples
  std::int32_t inc;      // change of delay per sample, Q11
  std::int32_t amp;      // sine amplitude, Q11 samples
};

constexpr int CHO_MEMLEN = 65536; // ring of the delay memory, a 16-bit wrap

struct cho_inst {
  orka_hostcb hostcb;
  void *hostarg;
  cho_voice voice[8];
  int rateidx;
  int wpos;           // write position, 0 ... 65535
  std::int32_t dry;   // gain of the inputs passed through, Q27
  std::int32_t wet;   // gain of the chorus signal, Q27
  std::int32_t *mem;  // CHO_MEMLEN samples from the system allocator
  // Rest: once the last `reach` values stored are 0, no tap can read
  // anything else, so a frame of silent input adds 0 to the outputs; such
  // frames only store their zeros and move the voices on.
  int reach; // frames back the taps read at the most (set at start)
  int quiet; // frames since a nonzero value was stored, up to reach
  int rest;  // 1: may rest (set at start; a test clears it to compare)
};

// 32 points of a sine, Q27 (generated).
extern const std::int32_t CHO_SINE[32];
// The chorus's module table.
extern const orka_module CHO_MODULE;
