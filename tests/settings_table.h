// A small module table for the settings text: a level, a switch and
// selectors whose texts hold what patch names may hold.
#pragma once

#include <cstdio>

#include "orka/orka.h"

namespace settings_table {

inline const orka_ctlinfo CTLS[] = {
    {ORKA_CTL_NUM, 0, 128, 100, "volume", "Volume"},
    {ORKA_CTL_SEL, 0, 3, 0, "holdmode", "Hold mode"},
    {ORKA_CTL_SWITCH, 0, 2, 1, "bypass", ""},
    {ORKA_CTL_SEL, 0, 3, 2, "shape", "Shape"},
    {ORKA_CTL_SEL, 0, 9, 0, "patch", "Patch"},
};
constexpr int NCTLS = 5;
inline const char *const HOLD[] = {"Pedal", "Bend-Wheel", "Mod-Wheel"};
inline const char *const SHAPE[] = {"soft", "hard", "tanh"};
// Patch names as a definition may give them: blanks, "#" and "-" inside,
// texts that begin other texts, the longest name a patch may have.
inline const char *const PATCH[] = {"Grand Piano", "Percussions", "E.Piano",    "E.Piano #2",
                                    "Organ ",      " Lead",       "Pad - warm",
                                    "Forty-six characters long, with # and - in it.", "Organ"};
inline int badtype = 0; // when set, control 2 reports an unknown type

inline void info(orka_info *o) {
  *o = {};
  o->nctls = NCTLS;
  o->preset = "default";
}
inline void ctlinfo(int i, orka_ctlinfo *o) {
  *o = CTLS[i];
  if (badtype && i == 2)
    o->type = 7;
}
inline void selinfo(int i, int v, char t[ORKA_TEXTLEN]) {
  const char *s = i == 1 ? HOLD[v] : i == 3 ? SHAPE[v] : PATCH[v];
  std::snprintf(t, ORKA_TEXTLEN, "%s", s);
}
inline orka_module make_table() {
  orka_module m{};
  m.info = info;
  m.ctlinfo = ctlinfo;
  m.selinfo = selinfo;
  return m;
}
inline const orka_module MOD = make_table();

} // namespace settings_table
