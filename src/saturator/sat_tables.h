// sat_tables.h - the saturator's constant tables (generated data).
#pragma once

#include <cstdint>

// Filter coefficients, Q27, by rate index and control value; negative:
// 1 + coef is the filter's pole.
extern const std::int32_t SAT_COEF[15][128];
// Kernel of the 8x interpolation and decimation, Q27, symmetric about 64.
extern const std::int32_t SAT_FIR[128];
// The kernel by input and phase: phase j of an input's eight oversampled
// values is the sum over the last 16 inputs u = 0 ... 15 (oldest first) of
// input u times SAT_POLY[u][j] = SAT_FIR[8 (15 - u) + j].
extern const std::int32_t SAT_POLY[16][8];
// The fifteen curve tables, Q27: S[2 + k] = y(-1 + k/512), k = 0 ... 1024,
// with guard values S[0], S[1], S[1027] continuing the curve.
extern const std::int32_t SAT_CURVES[15][1028];
