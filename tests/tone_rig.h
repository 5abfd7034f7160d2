// A voice on its own: a map over samples in memory, a parameter block with
// the definition's defaults, the event pool and four output buffers.
#pragma once

#include <cmath>
#include <cstring>
#include <vector>

#include "synth/conf/conf.h"
#include "testutil.h"
#include "synth/note/tone.h"
#include "synth/patch/patch.h"

constexpr std::int32_t Q20 = 1 << 20;
constexpr std::int32_t Q27 = 1 << 27;

// Rate indices used by the tests.
constexpr int R44100 = 7, R48000 = 8, R96000 = 11;

struct tone_rig {
  pool hooks;
  tone_ctx ctx;
  tone t;
  ::map m;
  std::vector<std::int16_t> data;
  std::vector<std::int32_t> out[4];
  std::int32_t defaults[TONE_NPARS];

  explicit tone_rig(int rateidx = R48000) {
    pool_init(&hooks, "hook", sizeof(hook), 3840);
    ctx = {&hooks, rateidx};
    conf_init();
    std::memcpy(defaults, patch_new(0)->layers[0].par, sizeof defaults);
    conf_done();
    std::memset(&t, 0, sizeof t);
    std::memset(&m, 0, sizeof m);
    std::memcpy(t.par, defaults, sizeof defaults);
    m.pitch = 64 * Q20;
    m.volume = 127 * Q20;
    t.map = &m;
    t.weight = Q27;
    tone_setfilt(&t, FILT_OFF);
  }
  ~tone_rig() {
    tone_clear_events(&ctx, &t);
    pool_done(&hooks);
  }
  tone_rig(const tone_rig &) = delete;
  tone_rig &operator=(const tone_rig &) = delete;

  void set_wave(std::vector<std::int16_t> samples, int loop = 0) {
    data = std::move(samples);
    m.samples = data.data();
    m.nsamples = static_cast<int>(data.size());
    m.loop = loop;
  }
  void constant(std::int16_t v, int n = 4800) { set_wave(std::vector<std::int16_t>(n, v), n); }
  // A looping sine of the given period in samples and amplitude.
  void sine(double period, int cycles, double amp = 30000.0) {
    const int n = static_cast<int>(std::lround(period * cycles));
    std::vector<std::int16_t> s(n);
    for (int i = 0; i < n; ++i)
      s[i] = static_cast<std::int16_t>(std::lround(amp * std::sin(2.0 * TEST_PI * i / period)));
    set_wave(std::move(s), n);
  }
  std::int32_t &par(int slot) { return t.par[slot]; }
  void start(int tempo = 500000) { tone_start(&ctx, &t, tempo); }

  // Renders frames in blocks; returns false once the voice has ended.
  // Output is appended to out[0..3].
  bool render(int frames, int block = 256) {
    while (frames > 0) {
      const int n = frames < block ? frames : block;
      std::vector<std::int32_t> b[4];
      std::int32_t *p[4];
      for (int k = 0; k < 4; ++k) {
        b[k].assign(n, 0);
        p[k] = b[k].data();
      }
      const int alive = tone_run(&ctx, &t, p, n);
      for (int k = 0; k < 4; ++k)
        out[k].insert(out[k].end(), b[k].begin(), b[k].end());
      frames -= n;
      if (!alive)
        return false;
    }
    return true;
  }
};
