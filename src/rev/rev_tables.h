// rev_tables.h - the reverb's constant tables (generated data, except
// the sign matrix).  Log-time values: 2^20 x 64 log2(t) / log2(1000).
#pragma once

#include <cstdint>

// Per room size, channel and line: the log-time value of the nominal
// delay, then the length in samples at each of the 15 rates.
extern const std::int32_t REV_LINES[3][2][16][16];
// Signs of the 16 x 16 Hadamard matrix: bit k of word j is + for line k
// entering line j.
extern const std::uint16_t REV_SIGNS[16];
extern const std::int32_t REV_DECAY[128];    // log-time of the decay time
extern const std::int32_t REV_BRIGHT[128];   // log-time of (1 - b) / b; row 127 unused
extern const std::int32_t REV_FBGAIN[128];   // Q27 feedback gain per ratio row
extern const std::int32_t REV_DAMP[15][128]; // Q27 damping coefficient per rate and row
extern const std::int32_t REV_NORM[1024];    // 17 fraction bits: sqrt((1024 - i) / i)
extern const std::int32_t REV_MIXCURVE[128]; // Q27 sqrt of the mix share
extern const std::int32_t REV_CIRCLE[132];   // Q27 sqrt(1 - (k/128)^2), then zeros

struct rev_locut {
  std::int32_t coef; // Q27
  std::int32_t gain; // Q27
};
extern const rev_locut REV_LOCUT[128][15];

// Room configurations, record (model x 17 + pan) x 5 + dist, 284 values:
// tap counts of the 3 stages; 25 taps of {delay A, delay B (Q27 seconds),
// gains mid->L, mid->R, side->L, side->R (Q27)}; 129 points of the
// reflection curve (Q27); the absorption reference delay (log-time);
// dist_corr (Q27).
extern const std::int32_t REV_ROOMS[255][284];

// One row of a value-text table.
struct rev_valtext {
  const char *text;
  float value;
};
extern const rev_valtext REV_TEXT_MIX[128]; // also depth
extern const rev_valtext REV_TEXT_DECAY[128];
extern const rev_valtext REV_TEXT_HIFREQ[128];
extern const rev_valtext REV_TEXT_LOCUT[128];
extern const rev_valtext REV_TEXT_PAN[17];
extern const rev_valtext REV_TEXT_DIST[5];
