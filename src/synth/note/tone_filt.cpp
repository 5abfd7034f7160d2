// Filter set-up and coefficients; the per-sample filter is in tone_run.
#include "synth/note/tone.h"
#include "synth/note/tone_tables.h"
#include "utils/log.h"

namespace {
// Which inputs drive the two-integrator loop, per type: lowpass, bandpass,
// highpass.
constexpr bool FILT_INPUTS[6][3] = {
    {true, false, false}, {true, false, false}, {false, false, true},
    {false, true, false}, {true, false, true},  {true, true, true},
};
} // namespace

void tone_setfilt(tone *t, int type) {
  if (type < 0 || type > FILT_PEAK) {
    log_printf(1, "tone_setfilt: wrong filter type");
    type = FILT_OFF;
  }
  t->filt = type;
  t->lpmask = FILT_INPUTS[type][0] ? ~0u : 0u;
  t->bpmask = FILT_INPUTS[type][1] ? ~0u : 0u;
  t->hpmask = FILT_INPUTS[type][2] ? ~0u : 0u;
}

void tone_filtcoef(const tone_ctx *c, const tone *t, std::int32_t *f, std::int32_t *q,
                   std::int64_t cut, std::int64_t res) {
  if (t->filt == FILT_OFF) { // a plain three-sample delay
    *f = 1 << 27;
    *q = 1 << 28;
    return;
  }
  constexpr std::int64_t TOP = (127LL << 20) - 1;
  std::int64_t h = cut + TONE_PITCHOFS[c->rateidx]; // keeps the cutoff in hertz
  h = h < 0 ? 0 : h > TOP ? TOP : h;
  const auto r = static_cast<int>(h >> 20);
  const std::int64_t a = h & 0xFFFFF;
  std::int64_t g = res < 0 ? 0 : res;
  int col;
  std::int64_t b;
  if (g > TOP) {
    col = 126;
    b = 0xFFFFF;
  } else {
    col = static_cast<int>(g >> 20);
    b = g & 0xFFFFF;
  }
  for (int k = 0; k < 2; ++k) {
    const std::int64_t v = TONE_FILT[r][col][k];
    const std::int64_t dr = ((TONE_FILT[r + 1][col][k] - v) * a) >> 20;
    const std::int64_t dc = ((TONE_FILT[r][col + 1][k] - v) * b) >> 20;
    (k == 0 ? *f : *q) = static_cast<std::int32_t>(v + dr + dc);
  }
}
