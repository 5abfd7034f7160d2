// tone_rules.h - the generating rules of the voice's constant tables.
// Each returns the integers the tables store; host programs only.
#pragma once

#include <cstdint>
#include <vector>

namespace tone_rules {

// 2^27 * 2^((v - 127)/18) for v = -359 ... 127, rounded down.
std::vector<std::int64_t> gain();
// 2^16 * 2^((i - 8)/12), i = 0 ... 151, rounded down.
std::vector<std::int64_t> pitch();
// 48000 * 2^((i - 79)/6), i = 0 ... 127, rounded down.
std::vector<std::int64_t> time();
// Per rate index: 12 log2(48000 / rate) and 6 log2(rate / 48000), Q20, rounded.
std::vector<std::int64_t> pitchofs();
std::vector<std::int64_t> timeofs();
// 32 LFO points: (2^27 - 1) sin(2 pi s / 32), cut toward zero, and
// (2^27 - 1) exp(-(5 d / 8)^2), d = min(s, 32 - s), rounded down.
std::vector<std::int64_t> sine();
std::vector<std::int64_t> gauss();
// Filter coefficients for cutoff row r and resonance column c, Q27 rounded:
// f at [2 (128 r + c)], q at [2 (128 r + c) + 1].
std::vector<std::int64_t> filt();
// The exact (f, q) pair, for checks.
void filt_exact(int row, int col, double *f, double *q);
// 513 entries of the windowed-sinc kernel, rounded down, 0 at both ends.
std::vector<std::int64_t> kernel();
// The kernel's exact value at entry k.
double kernel_exact(int k);
// The kernel as the eight taps at normal speed and below read it: for each
// phase e = 0 ... 63 the entries e + 64 j (j = 0 ... 7), then their
// differences to the next entry.
std::vector<std::int64_t> kernel_taps();
// The kernel as pairs (entry e, entry e + 1 - entry e), e = 0 ... 511.
std::vector<std::int64_t> kernel_pairs();

} // namespace tone_rules
