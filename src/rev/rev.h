// rev.h - the reverb "Room": direct sound, 24 early reflections from a
// table of room configurations, and a 2 x 16-line feedback tail.
// Samples, gains, coefficients and crossfade positions are Q27.
#pragma once

#include <cstdint>

#include "orka/orka.h"

// A smoothed parameter: cur moves by inc per sample toward tgt; req is the
// value asked for the next segment.
struct rev_ramp {
  std::int32_t cur, inc, tgt, req;
};

// A read delay in samples: the one in use, the one faded in, the one asked.
struct rev_delay {
  std::int32_t old, new_, req;
};

struct rev_lpf {
  std::int32_t lp;     // filter state
  std::int32_t lpcoef; // Q27; 1.0 passes the input
};

struct rev_line {
  std::int32_t *buf[2];
  int size[2];
  int pos[2];
  rev_delay dly[2];
  rev_lpf filt[2];     // damping, channel 0 then channel 1
  std::int32_t out[2]; // this sample's outputs, after the swap of lines 8-15
  rev_ramp gain[2];    // signed feedback gains
};

struct rev_stage {
  int size, pos;
  std::int32_t *buf[2]; // mid, side
  rev_lpf filt[2];      // absorption of mid and side (stages 1 and 2)
};

struct rev_tap {
  rev_ramp gain[4]; // mid->L, mid->R, side->L, side->R
  rev_delay dly[2]; // left (A) and right (B)
};

struct rev_xfade {
  std::int32_t cur, inc, start, end;
};

struct rev_inst {
  orka_hostcb hostcb;
  void *hostarg;
  rev_line line[16];
  rev_stage stage[3];
  rev_tap tap[25];
  const std::int32_t *room; // current record of REV_ROOMS
  std::int32_t lc_coef;
  std::int32_t lc_state[2];
  std::int32_t lc_prev[2];
  rev_ramp out_gain;
  rev_ramp byp_gain;
  std::int32_t norm[2]; // 17 fraction bits
  rev_ramp late[2];
  rev_ramp direct;
  rev_xfade xfade;
  int seg;
  int rateidx;
  int decay, hi_freq, depth, model, pan, dist, bypass, lo_cut, mix;
  int dirty;
  // Rest: once every buffer and filter state is 0 (checked at segment
  // starts after a silent segment), silent input gives silent output and
  // leaves the state at 0, so silent frames only move positions and ramps.
  int rest;  // 1: may rest (set at start; a test clears it to compare)
  int idle;  // 1: at rest, silent input is skipped
  int heard; // nonzero: some input in the current segment
  int vec;   // 1: the AVX2 kernels (chosen at start)
};

// Most frames processed at once.  The stages' rings are longer than the
// largest tap delay by this much, so that a stretch's inputs can be stored
// before its taps are read; every line is longer than it.
constexpr int REV_CHUNK = 64;

// Pending recomputations (rev_inst.dirty).
enum : int {
  REV_DIRTY_RESET = 0x01,
  REV_DIRTY_MODEL = 0x02,
  REV_DIRTY_T60 = 0x04,
  REV_DIRTY_ERGAIN = 0x08,
  REV_DIRTY_ERFILT = 0x10,
  REV_DIRTY_TAPS = 0x20,
  REV_DIRTY_LATE = 0x40,
  REV_DIRTY_DIRECT = 0x80,
  REV_DIRTY_OUT = 0x100, // lo-cut coefficient and output gains (rate change)
  REV_DIRTY_ALL = 0x1FF,
};

// The reverb's module table.
extern const orka_module REV_MODULE;

// Audio thread.  Applies pending recomputations, then stores n frames.
void rev_run(void *inst, std::int32_t *const *in, std::int32_t *const *out, int n);
// Audio thread (or while not running): records one control change.
void rev_onctl(void *inst, int ctl, int val);
// Applies the pending recomputations (start of every run).
void rev_update(rev_inst *r);
// Clears the processing history; control values stay.
void rev_reset(void *inst);

// The three levels of direct sound, reflections and tail (Q27).
struct rev_level {
  std::int32_t dir, ref, dif;
};
rev_level rev_levels(const rev_inst *r);
