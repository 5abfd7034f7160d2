// synth.h - the synthesizer module: instance, channels, notes and the
// three hosted effects.
//
// The instrument definition is module-wide and read-only once init has
// run; everything that changes while playing lives in the instance.  One
// instance must not be entered from two threads at once.  run, midi and
// onctl allocate nothing, take no locks and touch no files.
#pragma once

#include <cstdint>

#include "orka/orka.h"
#include "synth/note/tone.h"
#include "synth/patch/patch.h"
#include "synth/pool/pool.h"

constexpr int SYNTH_CHANNELS = 16;
constexpr int SYNTH_MAXNOTES = 64;
constexpr int SYNTH_NTONES = 256;  // 64 notes x 4 layers
constexpr int SYNTH_NHOOKS = 4096; // 256 voices x 16 pending events
constexpr int SYNTH_OWNCTLS = 6;
constexpr int SYNTH_MIDIBUF = 520;
constexpr int SYNTH_PERCUSSION = 127; // the patch value of the drum kit
constexpr int SYNTH_DRUMCHAN = 9;     // MIDI channel 10, the drums in program-change mode
// Values of the "programs" control: one patch for every channel from the
// patch control, or a patch per channel chosen by program changes.
enum : int { SYNTH_PATCHCTL = 0, SYNTH_PROGCHANGE = 1 };
// Q20 volume just below the gain table: silence.
constexpr std::int32_t VOL_OFF = -0x16700001;

enum : int { NOTE_ON = 0, NOTE_HELD = 1, NOTE_RELEASED = 2 };

struct note {
  note *next;           // the next, older note of the channel
  tone *tones[PATCH_LAYERS]; // slot i plays layer i of the patch
  const ::patch *patch;
  int state;            // NOTE_*
  int key;
  int vel;              // note-on velocity, or the breath value it follows
  int follow;           // 1 while the velocity follows the breath controller
};

struct synth_chan {
  note *list; // newest first
  int bend;   // 0 ... 16383
  int pressure, mod, pan, expr, volume, hold, patch, reverb, chorus, breath;
};

// One hosted effect and the buffers it runs on.
struct synth_fx {
  const orka_module *table;
  const char *name; // "sat", "rev" or "cho"
  void *inst;
  int level, revsend, chosend; // chain gains 0 ... 128 (saturator only)
  int ninputs, noutputs;
  std::int32_t *in[ORKA_MAXBUS], *out[ORKA_MAXBUS];
  std::int32_t level_q, revsend_q, chosend_q; // Q27
};

struct synth {
  // MIDI input.
  int midi_status, midi_running, midi_count, midi_need;
  unsigned char midi_buf[SYNTH_MIDIBUF];
  pool notes;
  synth_chan chan[SYNTH_CHANNELS];
  std::int32_t tune[128]; // Q20 semitones per key
  int mastervol;          // volume steps
  int nnotes, maxnotes, nkilled;
  int rateidx;
  int vec; // voices run the AVX2 loop; chosen at start
  pool tones, hooks;
  synth_fx *sat, *rev, *cho;
  void *hostarg;
  orka_hostcb hostcb;
  int holdmode; // 0 pedal, 1 bend wheel, 2 modulation wheel
  int started;
  int blksz; // most frames per run block, from start
  int programs; // SYNTH_PATCHCTL or SYNTH_PROGCHANGE
  int patchctl; // patch number the patch control selected last; -1 before
};

// The voice context of an instance.
inline tone_ctx synth_tctx(synth *s) { return tone_ctx{&s->hooks, s->rateidx, s->vec}; }

// Frame (set-up thread unless noted).
void synth_info(orka_info *out);
void synth_init();
void synth_done();
void *synth_new(const orka_hostcb *cb, void *arg);
void synth_del(void *inst);
int synth_start(void *inst, int rateidx, int blksz);
void synth_stop(void *inst);
void synth_reset(void *inst);
// Audio thread.
void synth_run(void *inst, std::int32_t *const *in, std::int32_t *const *out, int n);
void synth_fx_gain(synth *s, int volume_steps, int *g, std::int32_t *q);
// Sets the chain's level and sends from a channel; a channel value of 0
// (volume, reverb or chorus) is off, gain 0.
void synth_chain_gains(synth *s, const synth_chan *ch);
// Deletes a voice: its events go back, then the record.
void synth_tone_delete(synth *s, tone *t);
// Counts a removed note; logs the stealing summary when the last one goes.
void synth_note_removed(synth *s, note *n);

// MIDI (audio thread).
void synth_midi(void *inst, const unsigned char *bytes, int count);
void synth_chan_reset(synth *s, int c);

// Notes (audio thread).
void synth_noteon(synth *s, int c, int key, int vel);
void synth_noteoff(synth *s, int c, int key);
// Releases the note *link points to; returns the link to go on from: the
// note's own next field when it stays, link when it was removed.
note **synth_noterelease(synth *s, note **link, bool force);
note *synth_notealloc(synth *s);
std::int32_t synth_weight(const note *n, int layer, int vel);
// A voice's send gain (Q27) for a channel's reverb or chorus value
// 0 ... 127: (value - 127) volume steps, exactly 0 for 0.
std::int32_t synth_send_gain(int value);
// Moves every destination of the layer's entries for source by
// (amount * value) >> 27, value in source units with 20 fraction bits.
void synth_apply_deps(tone *t, const layer &l, int source, std::int64_t value);
// Releases every held note of a channel.
void synth_chan_release_held(synth *s, int c);

// Controls (any thread unless noted).
void synth_ctlinfo(int ctl, orka_ctlinfo *out);
void synth_selinfo(int ctl, int val, char text[ORKA_TEXTLEN]);
void synth_onctl(void *inst, int ctl, int val); // audio thread
void synth_printval(int ctl, int val, char text[ORKA_TEXTLEN]);
int synth_scanval(int ctl, int *val, const char *text);
std::size_t synth_print(void *inst, const char *preset, const int *vals, char *buf);
std::size_t synth_scan(void *inst, char preset[ORKA_TEXTLEN], int *vals, const char *text,
                       std::size_t len);
// The patch number of position v of the patch list (127 at the end).
int synth_patch_at(int v);
int synth_patch_count();
// Index of the "programs" control, after the hosted effects' controls.
int synth_programs_ctl();
// Gives channel c the patch numbered n (127: the drum kit); a patch with
// an effect chain sets the saturator and takes the chain gains from c.
// Audio thread.
void synth_chan_setpatch(synth *s, int c, int n);
// The patch a program change selects: the program's own, else the nearest
// defined one below it in its family of eight, else the lowest defined
// patch; never the drum kit.
int synth_program_patch(int program);
// Audio thread.  The "programs" control: switching to program changes
// puts channel 10 on the drum kit; switching back gives every channel the
// patch control's patch again.
void synth_set_programs(synth *s, int mode);
// The patch control in program-change mode: every channel but 10 takes
// patch n, unless n is what the control selected last (a host re-sending
// every control after a restart keeps the channels' programs).
void synth_patchctl_programs(synth *s, int n);
// Program-change mode: a program change on channel c (channel 10 keeps the
// drum kit), and the reset of every channel's programs and controllers.
void synth_chan_program(synth *s, int c, int program);
void synth_gm_reset(synth *s);
// Resets the channel's MIDI controllers to their rest values; sounding
// voices follow and held notes are released.  Audio thread.
void synth_chan_resetctls(synth *s, int c);

extern const orka_module SYNTH_MODULE;
