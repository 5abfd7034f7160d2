// Program-change mode: a patch per channel chosen by program changes,
// the drum kit on channel 10, and the reset to program 0 with every
// controller at rest.  Audio thread of the instance.
#include "synth/note/synth.h"
#include "utils/log.h"

namespace {

bool defined(int n) { return n >= 0 && n < SYNTH_PERCUSSION && patch_table[n] != nullptr; }

} // namespace

int synth_program_patch(int program) {
  program &= 127;
  // Programs come in families of eight sounds of one kind (pianos, organs,
  // basses, ...): a missing one falls back to a relative below it.
  for (int n = program; n >= (program & ~7); --n)
    if (defined(n))
      return n;
  for (int n = 0; n < SYNTH_PERCUSSION; ++n)
    if (defined(n))
      return n;
  return 0; // no patch at all: notes are ignored
}

void synth_chan_program(synth *s, int c, int program) {
  if (c == SYNTH_DRUMCHAN)
    return;
  synth_chan_setpatch(s, c, synth_program_patch(program));
}

void synth_set_programs(synth *s, int mode) {
  if (mode == s->programs)
    return;
  s->programs = mode;
  if (mode == SYNTH_PROGCHANGE) {
    synth_chan_setpatch(s, SYNTH_DRUMCHAN, SYNTH_PERCUSSION);
    return;
  }
  if (s->patchctl >= 0)
    for (int c = 0; c < SYNTH_CHANNELS; ++c)
      synth_chan_setpatch(s, c, s->patchctl);
}

void synth_patchctl_programs(synth *s, int n) {
  if (n == s->patchctl)
    return;
  s->patchctl = n;
  for (int c = 0; c < SYNTH_CHANNELS; ++c)
    if (c != SYNTH_DRUMCHAN)
      synth_chan_setpatch(s, c, n);
}

void synth_gm_reset(synth *s) {
  log_printf(3, "synth_gm_reset: programs and controllers");
  const int piano = synth_program_patch(0);
  for (int c = 0; c < SYNTH_CHANNELS; ++c) {
    synth_chan_resetctls(s, c);
    synth_chan_setpatch(s, c, c == SYNTH_DRUMCHAN ? SYNTH_PERCUSSION : piano);
  }
}
