// MIDI input: the byte parser, the single-note tuning message and the
// channel controllers, which reach sounding voices through their
// modulator entries; in program-change mode also program changes, the
// reset of all controllers and the General MIDI system-on message.
// Audio thread of the instance.
#include <cstdlib>

#include "synth/note/synth.h"
#include "utils/log.h"

namespace {

constexpr int SYSEX_MAX = 519; // bytes kept before 0xF7

int midi_length(int status) {
  static constexpr int LEN[8] = {3, 3, 3, 3, 2, 2, 3, 0};
  return LEN[(status >> 4) & 7];
}

// Applies the change of one source to every voice of the channel:
// destinations of that source's entries move by (amount * delta) >> 27.
void apply_delta(synth *s, synth_chan &ch, int source, std::int64_t delta) {
  const tone_ctx c = synth_tctx(s);
  for (note *n = ch.list; n; n = n->next)
    for (int i = 0; i < PATCH_LAYERS; ++i) {
      tone *t = n->tones[i];
      if (!t)
        continue;
      synth_apply_deps(t, n->patch->layers[i], source, delta);
      tone_parchanged(&c, t);
    }
}

// A controller whose value moves modulator destinations; value in source
// units with 20 fraction bits.
void chan_update(synth *s, synth_chan &ch, int source, int *field, int v,
                 std::int64_t (*units)(int)) {
  if (v == *field)
    return;
  apply_delta(s, ch, source, units(v) - units(*field));
  *field = v;
}

std::int64_t units_plain(int v) { return std::int64_t{v} << 20; }
std::int64_t units_bend(int v) { return (std::int64_t{v} - 8192) << 14; }

void clear_follow(synth_chan &ch) {
  for (note *n = ch.list; n; n = n->next)
    n->follow = 0;
}

void chan_sustain(synth *s, int c, bool on) {
  synth_chan &ch = s->chan[c];
  ch.hold = on;
  if (on)
    clear_follow(ch);
  else
    synth_chan_release_held(s, c);
}

void chan_hold(synth *s, int c, bool on) {
  s->chan[c].hold = on;
  if (on)
    synth_chan_release_held(s, c);
}

// A wheel used as hold pedal: far from rest engages, near releases.
void wheel_hold(synth *s, int c, bool far) {
  synth_chan &ch = s->chan[c];
  if (ch.hold && !far) {
    chan_sustain(s, c, false);
  } else if (!ch.hold && far) {
    ch.hold = 1;
    clear_follow(ch);
  }
}

void chan_bend(synth *s, int c, int v) {
  if (s->holdmode == 1) {
    wheel_hold(s, c, std::abs(v - 8192) >= 4096);
    return;
  }
  chan_update(s, s->chan[c], SRC_BEND, &s->chan[c].bend, v, units_bend);
}

void chan_modwheel(synth *s, int c, int v) {
  if (s->holdmode == 2) {
    wheel_hold(s, c, v >= 64);
    return;
  }
  chan_update(s, s->chan[c], SRC_MOD, &s->chan[c].mod, v, units_plain);
}

void chan_breath(synth *s, int c, int v) {
  synth_chan &ch = s->chan[c];
  if (v == ch.breath)
    return;
  const tone_ctx tc = synth_tctx(s);
  for (note *n = ch.list; n; n = n->next) {
    if (!n->follow)
      continue;
    for (int i = 0; i < PATCH_LAYERS; ++i)
      if (n->tones[i])
        n->tones[i]->weight = synth_weight(n, i, v);
    const std::int64_t delta = std::int64_t{v - n->vel} << 20;
    for (int i = 0; i < PATCH_LAYERS; ++i) {
      tone *t = n->tones[i];
      if (!t)
        continue;
      synth_apply_deps(t, n->patch->layers[i], SRC_VEL, delta);
      tone_parchanged(&tc, t);
    }
    n->vel = v;
  }
  ch.breath = v;
}

void tuning(synth *s) {
  const unsigned char *b = s->midi_buf;
  const std::size_t len = static_cast<std::size_t>(s->midi_count);
  if (len < 12 || b[1] != 0x7F || b[3] != 0x08 || b[4] != 0x02 || b[5] != 0x00)
    return;
  log_printf(3, "Tuning change");
  const unsigned n = b[6];
  if (len != 4 * n + 8) {
    log_printf(1, "wrong tuning sysex size, len = %zu, count = %u", len, n);
    return;
  }
  for (unsigned j = 0; j < n; ++j) {
    const unsigned char *g = b + 7 + 4 * j;
    const int key = g[0] & 0x7F;
    s->tune[key] = (g[1] * 16384 + g[2] * 128 + g[3] - key * 16384) * 64;
    log_printf(3, "Tuning key = 0x%x, pitch = {fp:%u,%d}", static_cast<unsigned>(key), 20u,
               s->tune[key]);
  }
}

// F0 7E dev 09 01 F7, any device number.
void gm_system_on(synth *s) {
  const unsigned char *b = s->midi_buf;
  if (s->programs == SYNTH_PROGCHANGE && s->midi_count == 6 && b[1] == 0x7E && b[3] == 0x09 &&
      b[4] == 0x01)
    synth_gm_reset(s);
}

void dispatch(synth *s) {
  const unsigned char *m = s->midi_buf;
  const int c = m[0] & 15;
  switch (m[0] >> 4) {
  case 0x8: synth_noteoff(s, c, m[1]); break;
  case 0x9:
    if (m[2] == 0)
      synth_noteoff(s, c, m[1]);
    else
      synth_noteon(s, c, m[1], m[2]);
    break;
  case 0xB:
    switch (m[1]) {
    case 1: chan_modwheel(s, c, m[2]); break;
    case 2: chan_breath(s, c, m[2]); break;
    case 11: chan_update(s, s->chan[c], SRC_EXPR, &s->chan[c].expr, m[2], units_plain); break;
    case 64: chan_sustain(s, c, m[2] >= 64); break;
    case 65: chan_hold(s, c, m[2] >= 64); break;
    case 121: // reset all controllers
      if (s->programs == SYNTH_PROGCHANGE)
        synth_chan_resetctls(s, c);
      break;
    default: break; // bank select (0, 32) among them: there is one bank
    }
    break;
  case 0xC:
    if (s->programs == SYNTH_PROGCHANGE)
      synth_chan_program(s, c, m[1]);
    break;
  case 0xD: chan_update(s, s->chan[c], SRC_CAT, &s->chan[c].pressure, m[1], units_plain); break;
  case 0xE: chan_bend(s, c, m[2] * 128 + m[1]); break;
  default: break; // polyphonic pressure does nothing
  }
}

void midi_byte(synth *s, int b) {
  if (b >= 0xF8)
    return; // real time
  if (b == 0xF7) {
    if (s->midi_status == 0xF0) {
      s->midi_buf[s->midi_count++] = static_cast<unsigned char>(b);
      log_printf(3, "received sysex: {sysex:%p,%zu}", static_cast<const void *>(s->midi_buf),
                 static_cast<std::size_t>(s->midi_count));
      tuning(s);
      gm_system_on(s);
    }
    s->midi_status = s->midi_running;
    if (s->midi_status)
      s->midi_need = midi_length(s->midi_status);
    s->midi_count = 0;
    return;
  }
  if (b == 0xF0) {
    s->midi_status = 0xF0;
    s->midi_need = 0;
    s->midi_count = 0;
    return;
  }
  if (b > 0xF0) {
    s->midi_status = 0;
    return;
  }
  if (b >= 0x80) {
    s->midi_buf[0] = static_cast<unsigned char>(b);
    s->midi_status = s->midi_running = b;
    s->midi_count = 1;
    s->midi_need = midi_length(b);
    return;
  }
  if (s->midi_status == 0)
    return;
  if (s->midi_count == 0) {
    s->midi_buf[0] = static_cast<unsigned char>(s->midi_status);
    s->midi_count = 1;
  }
  if (s->midi_count >= SYSEX_MAX) {
    s->midi_status = 0;
    return;
  }
  s->midi_buf[s->midi_count++] = static_cast<unsigned char>(b);
  if (s->midi_count == s->midi_need) {
    log_printf(3, "midi voice event: {midiev:%p}", static_cast<const void *>(s->midi_buf));
    dispatch(s);
    s->midi_count = 0;
  }
}

} // namespace

void synth_midi(void *inst, const unsigned char *bytes, int count) {
  auto *s = static_cast<synth *>(inst);
  for (int i = 0; i < count; ++i)
    midi_byte(s, bytes[i]);
}

void synth_chan_reset(synth *s, int c) {
  synth_chan &ch = s->chan[c];
  while (note *n = ch.list) {
    ch.list = n->next;
    for (tone *&t : n->tones)
      if (t) {
        synth_tone_delete(s, t);
        t = nullptr;
      }
    synth_note_removed(s, n);
  }
  ch.bend = 8192;
  ch.pressure = 0;
  ch.mod = 0;
  ch.expr = 127;
  ch.hold = 0;
  ch.breath = 0;
}

void synth_chan_resetctls(synth *s, int c) {
  synth_chan &ch = s->chan[c];
  // The wheels go back to rest even while one works as hold pedal, so a
  // later change of hold mode finds them there.
  chan_update(s, ch, SRC_BEND, &ch.bend, 8192, units_bend);
  chan_update(s, ch, SRC_MOD, &ch.mod, 0, units_plain);
  chan_update(s, ch, SRC_CAT, &ch.pressure, 0, units_plain);
  chan_update(s, ch, SRC_EXPR, &ch.expr, 127, units_plain);
  chan_breath(s, c, 0);
  chan_sustain(s, c, false); // releases what the pedal or a wheel held
}
