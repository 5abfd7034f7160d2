// sat_rules.h - the generating rules of the saturator's constant tables.
// Used by the table generator and by the tests that check the rules.
#pragma once

#include <cstdint>

// Number of curves and of values per curve table.
constexpr int SAT_NSHAPES = 15;
constexpr int SAT_CURVELEN = 1028;

// The curve y(x) of a shape, x in -1 ... 1 (and a little beyond for the
// guard values); odd and never falling.
double sat_rule_curve(int shape, double x);
// The filter coefficient for rate index r and control value v (Q27).
std::int32_t sat_rule_coef(int rateidx, int v);
// The 128 taps of the interpolation/decimation kernel (Q27).
void sat_rule_fir(std::int32_t h[128]);
// The shape's table value S[i], i = 0 ... 1027 (Q27).
std::int32_t sat_rule_table(int shape, int i);
