// A recording module table and a test editor for driving the plug-in's
// code linked in directly.  The editor's window belongs to the test thread.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "module/settings.h"
#include "vst/okvst.h"

extern "C" vst_effect *VSTPluginMain(vst_hostcb host);

namespace vstfake {

// A module with four controls: a 128-value level, a switch, a 3-value
// selector and one with a single value.
struct recorder {
  std::vector<std::pair<int, int>> onctl;
  // Fixed records, space reserved in advance: the module allocates nothing.
  struct midi_rec {
    int n;
    unsigned char b[32];
  };
  std::vector<midi_rec> midi;
  int runs = 0;
  int last_n = -1;
  const std::int32_t *last_out = nullptr; // the first output bus of the last run
  std::vector<std::pair<int, int>> starts; // rate index and block size
  int stops = 0;
  const int *scan_vals = nullptr; // when set, what scan yields instead of reading
  const orka_hostcb *cb = nullptr;
  void *cbarg = nullptr;
};
inline recorder g_rec;

inline void m_info(orka_info *o) {
  std::memset(o, 0, sizeof *o);
  o->noutputs = 2;
  o->nctls = 4;
  o->preset = "init";
}
inline void m_ctlinfo(int i, orka_ctlinfo *o) {
  static const orka_ctlinfo C[4] = {{ORKA_CTL_NUM, 0, 128, 100, "level", "Level"},
                                    {ORKA_CTL_SWITCH, 0, 2, 0, "on", ""},
                                    {ORKA_CTL_SEL, 0, 3, 1, "mode", "Mode"},
                                    {ORKA_CTL_NUM, 0, 1, 0, "fixed", ""}};
  if (i >= 0 && i < 4)
    *o = C[i];
}
inline void m_selinfo(int, int v, char t[ORKA_TEXTLEN]) { std::snprintf(t, ORKA_TEXTLEN, "m%d", v); }
inline void *m_new(const orka_hostcb *cb, void *arg) {
  g_rec.cb = cb;
  g_rec.cbarg = arg;
  return &g_rec;
}
inline void m_del(void *) {}
inline int m_start(void *, int rate, int blksz) {
  g_rec.starts.push_back({rate, blksz});
  return 1;
}
inline void m_stop(void *) { ++g_rec.stops; }
inline void m_nop(void *) {}
inline void m_run(void *, std::int32_t *const *, std::int32_t *const *out, int n) {
  ++g_rec.runs;
  g_rec.last_n = n;
  g_rec.last_out = out[0];
  for (int i = 0; i < n; ++i) {
    out[0][i] = 134217728;       // 1.0
    out[1][i] = -134217728 / 2;  // -0.5
  }
}
inline void m_onctl(void *, int c, int v) { g_rec.onctl.push_back({c, v}); }
inline void m_midi(void *, const unsigned char *b, int n) {
  recorder::midi_rec r{n, {}};
  std::memcpy(r.b, b, n < 32 ? static_cast<std::size_t>(n) : 32);
  g_rec.midi.push_back(r);
}

extern const orka_module FAKE;
inline std::size_t m_print(void *, const char *preset, const int *vals, char *buf) {
  return orka_print(&FAKE, preset, vals, buf);
}
inline std::size_t m_scan(void *, char preset[ORKA_TEXTLEN], int *vals, const char *text,
                          std::size_t len) {
  const char *pos = text;
  std::size_t left = len;
  const int ok = orka_scan(&FAKE, preset, vals, &pos, &left);
  if (g_rec.scan_vals)
    std::memcpy(vals, g_rec.scan_vals, 4 * sizeof(int));
  return ok ? static_cast<std::size_t>(pos - text) : 0;
}

inline const orka_module FAKE = {m_info,  m_ctlinfo, m_selinfo, nullptr, nullptr, m_new,
                          m_del,   m_start,   m_stop,    m_nop,   m_run,   m_onctl,
                          m_midi,  m_print,   m_scan,    nullptr, nullptr};

// The test editor: its window is a platform window owned by this thread.
struct editor_log {
  std::vector<std::pair<int, int>> setctl;
  std::vector<std::string> presets;
  int wakeups = 0, creates = 0, attaches = 0, detaches = 0, destroys = 0;
  const orka_uicb *cb = nullptr;
  void *cbarg = nullptr;
  void *window = nullptr;
};
inline editor_log g_ed;

inline void *e_create(const orka_module *, void *, const orka_uicb *cb, void *arg, int *w, int *h) {
  ++g_ed.creates;
  g_ed.cb = cb;
  g_ed.cbarg = arg;
  *w = 320;
  *h = 200;
  return &g_ed;
}
inline void e_destroy(void *) { ++g_ed.destroys; }
inline void e_setctl(void *, int c, int v) { g_ed.setctl.push_back({c, v}); }
inline void e_setpreset(void *, const char *n) { g_ed.presets.emplace_back(n); }
inline void *e_attach(void *, void *) {
  ++g_ed.attaches;
  return g_ed.window;
}
inline void e_detach(void *) { ++g_ed.detaches; }
inline void e_wakeup(void *) { ++g_ed.wakeups; }

inline const orka_ui FAKE_UI = {e_create, e_destroy, e_setctl, e_setpreset, e_attach, e_detach, e_wakeup};


// Host opcodes the plug-in sent.
inline std::vector<std::pair<int, float>> g_host_calls;
inline intptr_t VST_CALL host_cb(vst_effect *, std::int32_t op, std::int32_t index, intptr_t,
                                 void *, float opt) {
  g_host_calls.push_back({op * 1000 + index, opt});
  return op == VST_HOST_VERSION ? 2400 : 1;
}

// An instance over the fake module, as if the library were loaded.
inline vst_effect *open_fake(bool with_editor) {
  g_rec = recorder{};
  g_rec.onctl.reserve(65536);
  g_rec.midi.reserve(4096);
  g_ed = editor_log{};
  g_host_calls.clear();
  g_host_calls.reserve(4096);
  okvst_g = okvst_global{};
  okvst_g.ninst = 1; // the library counts as loaded by another instance
  okvst_g.lib = &okvst_g;
  okvst_g.mod = &FAKE;
  okvst_g.ui = with_editor ? &FAKE_UI : nullptr;
  return VSTPluginMain(host_cb);
}

inline void close_fake(vst_effect *e) {
  e->dispatcher(e, VST_EFF_CLOSE, 0, 0, nullptr, 0.0f);
  okvst_g = okvst_global{};
}

// Switched on at 48000 Hz with a block size.
inline vst_effect *start_fake(int blksz = 64) {
  vst_effect *e = open_fake(false);
  e->dispatcher(e, VST_EFF_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f);
  e->dispatcher(e, VST_EFF_SET_BLOCK_SIZE, 0, blksz, nullptr, 0.0f);
  e->dispatcher(e, VST_EFF_MAINS_CHANGED, 0, 1, nullptr, 0.0f);
  return e;
}

} // namespace vstfake
