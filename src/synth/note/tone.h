// tone.h - one sounding layer of a note: a voice.
//
// A voice plays one map of a wave through a band-limited resampler and a
// two-pole filter, with five modulated parameters (pitch, vol, cut, res,
// pan).  Parameters are evaluated only at events kept in a short sorted
// list; between events the five render values move along straight lines.
// Every function here runs on the audio thread of the owning instance
// (tone_start also at note start inside MIDI handling) and allocates
// nothing: events come from the instance's "hook" pool.
#pragma once

#include <cstdint>

#include "synth/pool/pool.h"
#include "synth/wave/wave.h"

constexpr int TONE_NPARS = 80;        // 5 parameters x 16 values
constexpr int TONE_RING = 512;        // resampler ring, a power of two
constexpr std::int32_t TONE_ONE = 1 << 22; // Q22: one wave sample of phase

enum : int { HOOK_ENV = 0, HOOK_LFO = 1, HOOK_GLIDE = 2, HOOK_AMP = 3 };
enum : int { FILT_OFF, FILT_LOWPASS, FILT_HIGHPASS, FILT_BANDPASS, FILT_BANDREJ, FILT_PEAK };

// A future event of a voice.
struct hook {
  hook *next;
  int dt;   // samples after the previous event (the first: from now)
  int kind; // HOOK_*
  int idx;  // parameter 0 ... 4 (unused for HOOK_AMP)
};

// A value moving in a straight line: value when the segment began, its
// length in samples and its change per sample.
struct tone_glide {
  std::int32_t value, time, slope, target;
};
struct tone_lfo {
  std::int32_t value, time, slope; // Q27, -2^27 ... 2^27
  std::int32_t step;               // next point, 0 ... 31
  std::int32_t steplen, frac, fracmod, fracacc; // step length with spread remainder
};
struct tone_env {
  std::int32_t value, time, slope;
  std::int32_t stage; // 0 attack, 1 decay, 2 sustain, 3 release
};
// The render values due at the first event, where the sample loop's
// straight lines end.
struct tone_aim {
  std::int32_t inc, gainl, gainr, filtf, filtq;
};

struct tone {
  hook *events;
  int delay;      // output frames still to wait
  int pos;        // next wave sample to read
  int bus;        // 0 main, 4 the effect chain
  const ::map *map; // the zone played
  std::int32_t phase;   // Q22: distance of the output point past the newest sample
  int ringpos;          // index of the newest sample in ring
  // Q20 wave samples, newest at ringpos, older above; each also stored
  // TONE_RING entries further on, so that a frame's taps are consecutive.
  std::int32_t ring[2 * TONE_RING];
  std::int32_t fa, fb;  // filter: input two samples back, its last first difference
  std::int64_t fp, fq;  // filter integrators, 47 fraction bits
  std::int32_t inc, incslope;     // Q22 phase increment per output sample
  std::int32_t gainl, gainlslope; // Q27
  std::int32_t gainr, gainrslope; // Q27
  std::int32_t filtf, filtfslope; // Q27 filter coefficients
  std::int32_t filtq, filtqslope;
  tone_aim aim;
  std::int32_t revgain, chogain;  // Q27 send gains
  std::uint32_t lpmask, bpmask, hpmask; // filter inputs: all ones or zero
  int filt;                       // FILT_*
  tone_glide glide[5];            // bases as heard, Q20
  tone_lfo lfo[5];
  tone_env env[5];                // Q20
  tone_glide amp;                 // Q27 amplitude factor, ramping toward weight
  std::int32_t par[TONE_NPARS];   // Q20 parameter block, but lfotype/lfoticks
  std::int32_t weight;            // Q27 velocity weight
  int muted;                      // 1 while the channel is off: amp goes to exactly 0
  int released;
  int lfowarned;                  // a bad LFO shape has been reported
};

// What a voice needs of its instance.
struct tone_ctx {
  pool *hooks;
  int rateidx;  // index into ORKA_RATES
  int vec = 0;  // 1: the AVX2 loop (the processor has it), same bits
};

// Lookups; x, t with 20 fraction bits.
std::int32_t tone_pitch2inc(std::int64_t x);
std::int32_t tone_gain(std::int64_t x);
std::int32_t tone_samples(const tone_ctx *c, std::int64_t t);

// Starts a voice whose block, weight, bus, gains, delay, map and filter
// type are set; tempo in microseconds per beat.
void tone_start(const tone_ctx *c, tone *t, int tempo);
// Recomputes the render values' targets and slopes.
void tone_update(const tone_ctx *c, tone *t);
// Handles the first event, which is due: 1 while the voice goes on.
int tone_event(const tone_ctx *c, tone *t);
// Note-off: 1 while the voice goes on, 0 when it ends at once.
int tone_release(const tone_ctx *c, tone *t);
// After values were added into the block.
void tone_parchanged(const tone_ctx *c, tone *t);
// Returns every pending event to the pool.
void tone_clear_events(const tone_ctx *c, tone *t);
// Adds an event n samples from now.
void tone_schedule(const tone_ctx *c, tone *t, int kind, int idx, int n);
// Removes the pending event of that kind and parameter; false when none.
// *due receives the samples from now to it.
bool tone_unschedule(const tone_ctx *c, tone *t, int kind, int idx, int *due);
// The next LFO point of parameter p.
std::int32_t tone_lfonext(tone *t, int p);

// Filter type and masks; a type outside 0 ... 5 is logged and taken as off.
void tone_setfilt(tone *t, int type);
// Coefficients for cut and res (Q20).
void tone_filtcoef(const tone_ctx *c, const tone *t, std::int32_t *f, std::int32_t *q,
                   std::int64_t cut, std::int64_t res);

// Renders n frames added into bus {left, right, reverb send, chorus send}:
// 1 while the voice goes on, 0 when it has ended.
// The loop the context asks for: AVX2 or portable.
int tone_run(const tone_ctx *c, tone *t, std::int32_t *const bus[4], int n);
// The two loops by name (same bits; the AVX2 one only where cpu_avx2()).
int tone_run_portable(const tone_ctx *c, tone *t, std::int32_t *const bus[4], int n);
int tone_run_avx2(const tone_ctx *c, tone *t, std::int32_t *const bus[4], int n);
// For tests: the loop in its plain form, frame by frame, which the fast
// loops must match bit for bit.
int tone_run_plain(const tone_ctx *c, tone *t, std::int32_t *const bus[4], int n);
// For measurements only: the plain loop reading the ring as 256 entries,
// so that above an increment of 32 the kernel's taps wrap round to the
// newest samples.
int tone_run_ring256(const tone_ctx *c, tone *t, std::int32_t *const bus[4], int n);
