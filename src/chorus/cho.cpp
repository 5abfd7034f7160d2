// The chorus module.
#include "chorus/cho.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "utils/fixed.h"

namespace {

const orka_info INFO = {2, 2, 1, "default", 0, 0, nullptr, nullptr, 0, 0, 0};
const orka_ctlinfo CTL = {ORKA_CTL_NUM, 0, 128, 127, "wet_level", "Level"};

void cho_info(orka_info *out) { *out = INFO; }
void cho_ctlinfo(int ctl, orka_ctlinfo *out) {
  if (ctl == 0)
    *out = CTL;
}

// Set-up thread.  The record is cleared so that nothing is undefined
// before start and onctl.
void *cho_new(const orka_hostcb *cb, void *arg) {
  auto *c = static_cast<cho_inst *>(std::calloc(1, sizeof(cho_inst)));
  if (!c)
    return nullptr;
  if (cb)
    c->hostcb = *cb;
  c->hostarg = arg;
  return c;
}

void cho_stop(void *inst) {
  auto *c = static_cast<cho_inst *>(inst);
  std::free(c->mem);
  c->mem = nullptr;
}

void cho_del(void *inst) {
  cho_stop(inst);
  std::free(inst);
}

// Set-up thread.  Takes the delay memory and places the voices at their
// centre delays; 0 when the memory cannot be had.
int cho_start(void *inst, int rateidx, int) {
  auto *c = static_cast<cho_inst *>(inst);
  cho_stop(inst); // a start without stop keeps no second memory
  c->rateidx = rateidx < 0 ? 0 : (rateidx >= ORKA_NRATES ? ORKA_NRATES - 1 : rateidx);
  c->mem = static_cast<std::int32_t *>(std::calloc(CHO_MEMLEN, sizeof(std::int32_t)));
  if (!c->mem)
    return 0;
  c->wpos = 0;
  c->reach = 0;
  const double fs = ORKA_RATES[c->rateidx];
  for (int i = 0; i < 8; ++i) {
    cho_voice &v = c->voice[i];
    v.gl = i & 1 ? 1 << 25 : 0;
    v.gr = i & 1 ? 0 : 1 << 25;
    v.phase = v.count = v.inc = 0;
    v.centre = v.delay =
        static_cast<std::int32_t>((400 * i * i / 64 + 100) * (fs / 500 * 2048) / 100);
    v.seglen = static_cast<std::int32_t>(fs / (i * 2.12 * i * 0.015625 + 0.73) * 0.03125);
    if (v.seglen < 1)
      v.seglen = 1;
    v.amp = static_cast<std::int32_t>(fs / 1050 * 2048);
    // The delay stays between the targets, centre +- amp: a read reaches
    // back delay >> 11 frames and one more.
    c->reach = std::max(c->reach, ((v.centre + v.amp) >> 11) + 2);
  }
  c->quiet = c->reach; // the memory is clear
  c->rest = 1;
  return 1;
}

void cho_reset(void *) {}

// The voice's next sine step: its target and the change per sample.
inline void voice_step(cho_voice &v) {
  const std::int32_t target =
      static_cast<std::int32_t>((static_cast<std::int64_t>(v.amp) * CHO_SINE[v.phase]) >> 27) + v.centre;
  v.phase = (v.phase + 1) & 31;
  v.count = v.seglen;
  v.inc = (target - v.delay) / v.seglen;
}

// Skips k frames of silent input at rest: their zeros are stored and the
// voices move on as k frames would move them.
void skip_quiet(std::int32_t *mem, unsigned &wpos, cho_voice *voice, int k) {
  const int first = std::min<int>(k, CHO_MEMLEN - static_cast<int>(wpos));
  std::memset(mem + wpos, 0, sizeof(std::int32_t) * first);
  std::memset(mem, 0, sizeof(std::int32_t) * (k - first));
  wpos = (wpos + k) & (CHO_MEMLEN - 1);
  for (int i = 0; i < 8; ++i) {
    cho_voice &v = voice[i];
    for (int left = k; left > 0;) {
      if (v.count == 0)
        voice_step(v);
      const int s = std::min(left, v.count);
      v.delay += s * v.inc;
      v.count -= s;
      left -= s;
    }
  }
}

// Audio thread.  Adds into the outputs, saturating; does nothing without
// the delay memory (before start, after stop).
void cho_run(void *inst, std::int32_t *const *in, std::int32_t *const *out, int n) {
  auto *c = static_cast<cho_inst *>(inst);
  std::int32_t *mem = c->mem;
  if (!mem)
    return;
  const std::int32_t *inl = in[0], *inr = in[1];
  std::int32_t *outl = out[0], *outr = out[1];
  const std::int64_t wet = c->wet, dry = c->dry;
  cho_voice voice[8];
  std::memcpy(voice, c->voice, sizeof voice);
  unsigned wpos = static_cast<unsigned>(c->wpos);
  int quiet = c->quiet;
  const int reach = c->rest ? c->reach : CHO_MEMLEN + 1;
  for (int f = 0; f < n; ++f) {
    const std::int32_t L = inl[f], R = inr[f];
    if (quiet >= reach && (L | R) == 0) {
      int z = f + 1;
      while (z < n && (inl[z] | inr[z]) == 0)
        ++z;
      skip_quiet(mem, wpos, voice, z - f);
      f = z - 1;
      continue;
    }
    const std::int32_t stored = q32_sat(std::int64_t{L} + R);
    mem[wpos] = stored;
    quiet = stored ? 0 : std::min(quiet + 1, c->reach);
    wpos = (wpos + 1) & (CHO_MEMLEN - 1);
    std::int64_t accl = 0, accr = 0;
    for (cho_voice &v : voice) {
      if (v.count == 0)
        voice_step(v);
      const unsigned k = (wpos - static_cast<unsigned>(v.delay >> 11)) & (CHO_MEMLEN - 1);
      const std::int64_t a = mem[k], b = mem[(k - 1) & (CHO_MEMLEN - 1)];
      const std::int64_t x = a + (((b - a) * (v.delay & 0x7FF)) >> 11);
      v.delay += v.inc;
      --v.count;
      accl += v.gl * x;
      accr += v.gr * x;
    }
    // Four taps of 0.25 each: accl >> 27 and accr >> 27 lie within the
    // range of the samples read.
    const std::int64_t l = (wet * static_cast<std::int32_t>(accl >> 27) + dry * L) >> 27;
    const std::int64_t r = (dry * R + wet * static_cast<std::int32_t>(accr >> 27)) >> 27;
    outl[f] = q32_sat(outl[f] + l);
    outr[f] = q32_sat(outr[f] + r);
  }
  std::memcpy(c->voice, voice, sizeof voice);
  c->wpos = static_cast<int>(wpos);
  c->quiet = quiet;
}

// Audio thread.  Control 0 sets the balance of dry and chorus signal.
void cho_onctl(void *inst, int ctl, int val) {
  if (ctl != 0)
    return;
  auto *c = static_cast<cho_inst *>(inst);
  c->wet = val * 528416;
  c->dry = (127 - val) * 1056832;
}

} // namespace

const orka_module CHO_MODULE = {
    cho_info, cho_ctlinfo, nullptr,   nullptr, nullptr,   cho_new,
    cho_del,  cho_start,   cho_stop,  cho_reset, cho_run, cho_onctl,
    nullptr,  nullptr,     nullptr,   nullptr, nullptr,
};
