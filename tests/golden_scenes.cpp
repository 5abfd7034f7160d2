// The scenes of the golden-render test.  Each covers part of what the
// engine can do, so that a change of any output bit shows in one of them:
// every patch and the drum kit, both program modes, chords and stealing,
// pitch bends and controller sweeps, tempo-locked LFOs, every effect
// control moving, room changes, all fifteen rates.
#include "golden_scenes.h"

#include "orka/orka.h"

int golden_scene::rate() const { return ORKA_RATES[rateidx]; }

golden_scene &golden_scene::midi(std::vector<unsigned char> b) {
  steps.push_back({golden_step::MIDI, std::move(b), {}, {}, 0});
  return *this;
}
golden_scene &golden_scene::ctl(const std::string &name, int value) {
  steps.push_back({golden_step::CTL, {}, name, {}, value});
  return *this;
}
golden_scene &golden_scene::ctl(const std::string &name, const std::string &text) {
  steps.push_back({golden_step::CTL, {}, name, text, 0});
  return *this;
}
golden_scene &golden_scene::run(double seconds) {
  steps.push_back({golden_step::RUN, {}, {}, {}, static_cast<int>(seconds * rate() + 0.5)});
  return *this;
}
golden_scene &golden_scene::note(int chan, int key, int vel, double seconds) {
  const auto c = static_cast<unsigned char>(chan);
  midi({static_cast<unsigned char>(0x90 | c), static_cast<unsigned char>(key),
        static_cast<unsigned char>(vel)});
  run(seconds);
  return midi({static_cast<unsigned char>(0x80 | c), static_cast<unsigned char>(key), 64});
}

void golden_hasher::add(const std::int32_t *left, const std::int32_t *right, int frames) {
  for (int i = 0; i < frames; ++i) {
    for (const std::int32_t v : {left[i], right[i]}) {
      const auto u = static_cast<std::uint32_t>(v);
      for (int k = 0; k < 32; k += 8)
        byte(static_cast<unsigned char>(u >> k));
    }
    if (++filled_ == window_) {
      out_.push_back(h_);
      h_ = 0xCBF29CE484222325ull;
      filled_ = 0;
    }
  }
}

std::vector<std::uint64_t> golden_hasher::finish() {
  std::vector<std::uint64_t> r = out_;
  if (filled_)
    r.push_back(h_);
  return r;
}

namespace {

using bytes = std::vector<unsigned char>;
unsigned char u8(int v) { return static_cast<unsigned char>(v); }

// A phrase that every melodic patch plays: a chord with a bend and the
// modulation wheel, then single notes from low to high at rising
// velocities, two of them held by the sustain pedal, then the release.
void phrase(golden_scene &s, int chan) {
  const unsigned char on = u8(0x90 | chan), off = u8(0x80 | chan), cc = u8(0xB0 | chan),
                      bend = u8(0xE0 | chan);
  s.midi({on, 60, 100, 64, 90, 67, 80}); // running status
  s.run(0.3);
  for (int b = 8192; b <= 8192 + 4096; b += 512)
    s.midi({bend, u8(b & 127), u8(b >> 7)}).run(0.02);
  s.midi({cc, 1, 100}).run(0.2).midi({cc, 1, 0});
  s.midi({bend, 0, 64}).midi({off, 60, 0, 64, 0, 67, 0}).run(0.1);
  const int keys[] = {36, 48, 72, 84}, vels[] = {30, 64, 100, 127};
  for (int i = 0; i < 4; ++i) {
    if (i == 1)
      s.midi({cc, 64, 127});
    s.note(chan, keys[i], vels[i], 0.15);
    if (i == 2)
      s.midi({cc, 64, 0});
  }
  s.run(0.8);
}

golden_scene patch_scene(int v, int patches) {
  golden_scene s;
  s.name = "patch_" + std::to_string(v);
  s.ctl("patch", v);
  if (v == patches - 1) { // the drum kit: every key at two velocities
    for (int key = 35; key <= 81; ++key)
      s.note(0, key, key % 2 ? 127 : 70, 0.04);
    for (int key = 35; key <= 57; ++key)
      s.note(9, key, 40, 0.03);
    s.run(0.8);
  } else {
    phrase(s, 0);
  }
  return s;
}

golden_scene programs_scene() {
  golden_scene s;
  s.name = "programs";
  s.block = 64;
  s.ctl("programs", "Program change");
  s.midi({0xC0, 0}).midi({0xC1, 33}).midi({0xC2, 48}).midi({0xC3, 30}).midi({0xC4, 7});
  s.midi({0xB1, 0, 1}).midi({0xB1, 32, 0}); // bank select: accepted, no effect
  s.midi({0x90, 60, 100}).midi({0x91, 36, 110}).midi({0x92, 64, 70, 67, 70});
  s.midi({0x93, 72, 120}).midi({0x94, 55, 90}).midi({0x99, 36, 127, 42, 90});
  s.run(0.5);
  s.midi({0xE1, 0, 0x60}).run(0.2).midi({0xB1, 121, 0}).run(0.3); // reset all controllers
  s.midi({0x99, 38, 100}).midi({0xC9, 5}).midi({0x99, 38, 100}).run(0.3); // kit stays
  s.midi({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}).run(0.1); // general MIDI system on
  s.midi({0x91, 48, 100}).midi({0x93, 50, 100}).run(0.6);
  s.midi({0xB0, 123, 0}).midi({0x80, 60, 0}).midi({0x91, 36, 0, 48, 0});
  s.midi({0x92, 64, 0, 67, 0}).midi({0x93, 72, 0, 50, 0}).midi({0x94, 55, 0});
  s.run(1.0);
  return s;
}

golden_scene controllers_scene() {
  golden_scene s;
  s.name = "controllers";
  s.block = 100;
  s.ctl("patch", 3); // the fourth defined patch, whatever it is
  s.midi({0x90, 57, 100, 61, 100, 64, 100});
  for (int i = 0; i <= 32; ++i) { // bend down and up over the whole range
    const int b = i < 16 ? 8192 - i * 512 : (i - 16) * 1023;
    s.midi({0xE0, u8(b & 127), u8(b >> 7 & 127)}).run(0.01);
  }
  for (int v = 0; v <= 127; v += 8)
    s.midi({0xB0, 1, u8(v)}).midi({0xB0, 2, u8(127 - v)}).midi({0xB0, 11, u8(v)}).run(0.01);
  for (int v = 0; v <= 127; v += 16)
    s.midi({0xD0, u8(v)}).run(0.01);
  // single-note tuning: key 64 a quarter tone up
  s.midi({0xF0, 0x7F, 0x7F, 0x08, 0x02, 0x00, 0x01, 64, 64, 0x20, 0x00, 0xF7}).run(0.2);
  s.ctl("holdmode", "Mod-Wheel").midi({0xB0, 1, 127}).midi({0x80, 57, 0}).run(0.2);
  s.midi({0xB0, 1, 0}).ctl("holdmode", "Bend-Wheel").run(0.2);
  s.midi({0xB0, 65, 127}).midi({0x80, 61, 0}).run(0.2).midi({0xB0, 65, 0});
  s.midi({0x80, 64, 0}).run(1.0);
  return s;
}

golden_scene lfo_scene() {
  golden_scene s;
  s.name = "lfo";
  s.block = 1000;
  for (int v : {1, 8, 7}) { // tremolo, vibrato by wheel, pan LFO, in any instrument
    s.ctl("patch", v);
    s.midi({0x90, 62, 90, 69, 90}).midi({0xB0, 1, 90}).run(1.2);
    s.midi({0x80, 62, 0, 69, 0}).midi({0xB0, 1, 0}).run(0.3);
  }
  return s;
}

// Every effect control through several of its values while a patch with an
// effect chain and one without play, then the room sizes one after the
// other under a long tail.
golden_scene effects_scene(int patches) {
  golden_scene s;
  s.name = "effects";
  s.block = 1024;
  s.ctl("patch", patches - 2); // the last defined patch
  s.midi({0x90, 48, 110, 55, 100, 60, 90});
  const char *num[] = {"sat_level", "sat_prehp", "sat_prelp",  "sat_postlp", "rev_mix",
                       "rev_depth", "rev_decay", "rev_hi_freq", "rev_lo_cut", "cho_wet_level",
                       "volume",    "pan",       "reverb",      "chorus"};
  for (const char *c : num)
    for (int v : {0, 31, 127, 64})
      s.ctl(c, v).run(0.03);
  for (const char *shape : {"atan", "tanh", "soft_30", "med_42", "hard_54", "hard_66", "poly"})
    s.ctl("sat_wave_shape", shape).run(0.04);
  for (int pan : {0, 16, 3, 8}) // selectors, by position
    s.ctl("rev_pan", pan).run(0.05);
  for (int d : {4, 2, 0})
    s.ctl("rev_dist", d).run(0.05);
  s.ctl("rev_bypass", 1).run(0.05).ctl("rev_bypass", 0);
  s.midi({0x80, 48, 0, 55, 0, 60, 0});
  s.ctl("patch", 0).ctl("rev_decay", 127).midi({0x90, 72, 127}).run(0.1).midi({0x80, 72, 0});
  for (const char *room : {"small", "large", "medium"})
    s.ctl("rev_model", room).run(0.4);
  s.run(1.5);
  return s;
}

golden_scene polyphony_scene() {
  golden_scene s;
  s.name = "polyphony";
  s.block = 333;
  s.ctl("patch", 0);
  for (int i = 0; i < 72; ++i) // past 64 notes: the oldest are stolen
    s.midi({u8(0x90 | (i % 3)), u8(30 + i), u8(40 + i)}).run(0.01);
  s.run(0.3).midi({0xB0, 123, 0}).midi({0xB1, 123, 0}).midi({0xB2, 123, 0});
  for (int c = 0; c < 3; ++c)
    for (int i = c; i < 72; i += 3)
      s.midi({u8(0x80 | c), u8(30 + i), 0});
  s.run(1.0);
  return s;
}

// The short phrase at one rate: a chord through reverb and chorus, a drum
// note on channel 10 in program-change mode, a bend.
golden_scene rate_scene(int rateidx) {
  golden_scene s;
  s.rateidx = rateidx;
  s.name = "rate_" + std::to_string(s.rate());
  s.block = 512;
  s.ctl("programs", "Program change").midi({0xC0, 48}).midi({0xC1, 0});
  s.midi({0x90, 64, 100, 71, 90}).midi({0x91, 40, 100}).midi({0x99, 38, 110});
  s.run(0.25).midi({0xE0, 0, 0x50}).run(0.25);
  s.midi({0x80, 64, 0, 71, 0}).midi({0x81, 40, 0}).run(0.5);
  return s;
}

// The long passage: four channels of chords and a bass line with drums,
// program changes along the way, eight bars at 120 beats per minute.
golden_scene long_scene(int rateidx) {
  golden_scene s;
  s.rateidx = rateidx;
  s.name = "long_" + std::to_string(s.rate());
  s.block = rateidx == 11 ? 4096 : 128;
  s.ctl("programs", "Program change").ctl("reverb", 90).ctl("chorus", 40);
  s.midi({0xC0, 0}).midi({0xC1, 33}).midi({0xC2, 48}).midi({0xC3, 81});
  const int roots[] = {48, 53, 55, 50, 48, 57, 53, 55};
  for (int bar = 0; bar < 8; ++bar) {
    const int r = roots[bar];
    if (bar == 4)
      s.midi({0xC3, 30}).midi({0xC0, 4});
    s.midi({0x90, u8(r + 12), 80, u8(r + 16), 80, u8(r + 19), 80});
    s.midi({0x92, u8(r), 60, u8(r + 7), 60});
    for (int beat = 0; beat < 4; ++beat) {
      s.midi({0x91, u8(r - 12 + (beat % 2) * 12), 100});
      s.midi({0x99, u8(beat % 2 ? 38 : 36), 110, 42, 70});
      s.midi({0x93, u8(r + 24 + beat * 2), u8(60 + beat * 15)});
      s.midi({0xB3, 1, u8(beat * 30)});
      s.run(0.25);
      s.midi({0x81, u8(r - 12 + (beat % 2) * 12), 0}).midi({0x93, u8(r + 24 + beat * 2), 0});
      s.run(0.25);
    }
    s.midi({0x80, u8(r + 12), 0, u8(r + 16), 0, u8(r + 19), 0}).midi({0x92, u8(r), 0, u8(r + 7), 0});
  }
  s.run(2.0);
  return s;
}

} // namespace

std::vector<golden_scene> golden_scenes(int patches) {
  std::vector<golden_scene> all;
  for (int v = 0; v < patches; ++v)
    all.push_back(patch_scene(v, patches));
  all.push_back(programs_scene());
  all.push_back(controllers_scene());
  all.push_back(lfo_scene());
  all.push_back(effects_scene(patches));
  all.push_back(polyphony_scene());
  for (int r = 0; r < ORKA_NRATES; ++r)
    all.push_back(rate_scene(r));
  for (int r : {7, 8, 11})
    all.push_back(long_scene(r));
  return all;
}
