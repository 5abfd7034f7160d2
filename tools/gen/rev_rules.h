// rev_rules.h - the generating rules of the reverb's constant tables.
#pragma once

#include <cstdint>
#include <string>

// Log-time value of t seconds: 2^20 x 64 log2(t) / log2(1000), rounded.
std::int32_t rev_rule_logtime(double seconds);
// Nominal delay in seconds of line k, channel c, room size m.
double rev_rule_line_delay(int m, int c, int k);
// Length in samples of that line at rate index r.
std::int32_t rev_rule_line_len(int m, int c, int k, int r);

// Control rules: decay time, brightness ratio, mix/depth share, lo-cut
// frequency (0 for row 0).
double rev_rule_t60(int v);
double rev_rule_bright(int v);
double rev_rule_mix(int v);
double rev_rule_locut(int v);

std::int32_t rev_rule_decay(int v);
std::int32_t rev_rule_brightlog(int v);
std::int32_t rev_rule_fbgain(int i);
std::int32_t rev_rule_damp(int rateidx, int i);
std::int32_t rev_rule_norm(int i);
std::int32_t rev_rule_mixcurve(int v);
std::int32_t rev_rule_circle(int k);
void rev_rule_lowcut(int v, int rateidx, std::int32_t *coef, std::int32_t *gain);

// Value texts and their values, by control name ("mix", "decay",
// "hi_freq", "lo_cut", "pan", "dist") and row.
std::string rev_rule_text(const char *ctl, int v);
double rev_rule_textval(const char *ctl, int v);
