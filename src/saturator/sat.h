// sat.h - the saturator: a mono distortion module with 8x oversampling.
#pragma once

#include <cstdint>

#include "orka/orka.h"

// One-pole filter: state is sample x 2^27 (64-bit), coef Q27.
struct sat_filter {
  std::int64_t state;
  std::int32_t prev; // previous input (high-pass only)
  std::int32_t coef;
};

struct sat_inst {
  orka_hostcb hostcb;
  void *hostarg;
  int rateidx;
  int started;              // 1 from the first start on: run does nothing before
  int hpos;                 // input sample counter; history slot hpos & 15
  int rpos;                 // ring position, +8 per input sample, used mod 256
  std::int32_t hist[16];    // last 16 filtered input samples, Q27
  std::int64_t ring[256];   // shaped oversampled signal, sample x 2^27
  std::int32_t level;       // output gain, Q27
  const std::int32_t *shape; // current curve table (1028 values, Q27)
  sat_filter prehp, prelp, postlp;
  // Rest: once the state no longer changes under silent input (checked
  // every SAT_GRID frames after a silent stretch), silent frames only move
  // the positions on.
  int rest;  // 1: may rest (set at start; a test clears it to compare)
  int idle;  // 1: at rest, silent input is skipped
  int clock; // frames since start, mod SAT_GRID
  int heard; // nonzero: some input since the last grid point
  int vec;   // 1: the AVX2 kernels (chosen at start)
};

// Frames per grid step of the rest check; also the longest stretch the
// signal path processes at once.
constexpr int SAT_GRID = 64;

// The saturator's module table.
extern const orka_module SAT_MODULE;

// Shape names, the texts of control 4.
extern const char *const SAT_SHAPE_NAMES[15];

// Audio thread (or while not running).  Controls: 0 level, 1 prehp,
// 2 prelp, 3 postlp, 4 wave_shape.
void sat_onctl(void *inst, int ctl, int val);
// Audio thread.  Adds the processed input into out.
void sat_run(void *inst, std::int32_t *const *in, std::int32_t *const *out, int n);
