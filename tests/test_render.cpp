// The MIDI file reader and offline rendering through the plug-in.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <dlfcn.h>

#include "probe_plugin.h"
#include "render/render.h"
#include "testutil.h"

using namespace testutil;

namespace {

std::vector<unsigned char> bytes(std::initializer_list<int> b) {
  std::vector<unsigned char> v;
  for (int x : b)
    v.push_back(static_cast<unsigned char>(x));
  return v;
}

// A track chunk around raw event bytes.
std::vector<unsigned char> track(std::vector<unsigned char> body) {
  std::vector<unsigned char> t = {'M', 'T', 'r', 'k', 0, 0, 0, 0};
  const auto n = static_cast<std::uint32_t>(body.size());
  t[4] = static_cast<unsigned char>(n >> 24);
  t[5] = static_cast<unsigned char>(n >> 16);
  t[6] = static_cast<unsigned char>(n >> 8);
  t[7] = static_cast<unsigned char>(n);
  t.insert(t.end(), body.begin(), body.end());
  return t;
}

std::vector<unsigned char> header(int format, int ntracks, int division) {
  return bytes({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, format, 0, ntracks, division >> 8, division & 255});
}

std::vector<unsigned char> cat(std::vector<std::vector<unsigned char>> parts) {
  std::vector<unsigned char> v;
  for (auto &p : parts)
    v.insert(v.end(), p.begin(), p.end());
  return v;
}

TEST(Smf, RunningStatusMetaAndSysex) {
  // Format 0, 96 ticks per quarter: note on, running-status note on after a
  // delta, a meta text event, a SysEx, then note offs by running status.
  const auto file = cat({header(0, 1, 96),
                         track(bytes({0x00, 0x90, 60, 100, 0x60, 62, 90, 0x00, 0xFF, 0x01, 0x02, 'h',
                                      'i', 0x10, 64, 80, 0x00, 0xF0, 0x03, 0x7E, 0x01, 0xF7, 0x81,
                                      0x00, 0x80, 60, 0, 0x00, 62, 0, 0x00, 0xFF, 0x2F, 0x00}))});
  smf_file f;
  std::string err;
  ASSERT_TRUE(smf_parse(file.data(), file.size(), &f, &err)) << err;
  EXPECT_EQ(f.format, 0);
  EXPECT_EQ(f.division, 96);
  ASSERT_EQ(f.events.size(), 6u);
  EXPECT_EQ(f.events[1].tick, 96u);
  EXPECT_EQ(f.events[1].bytes, bytes({0x90, 62, 90}));
  EXPECT_EQ(f.events[2].bytes, bytes({0x90, 64, 80})); // running status over the meta event
  EXPECT_EQ(f.events[3].bytes, bytes({0xF0, 0x7E, 0x01, 0xF7}));
  EXPECT_EQ(f.events[4].tick, 112u + 128u);
  EXPECT_EQ(f.events[5].bytes, bytes({0x80, 62, 0}));
}

TEST(Smf, TracksMergeAndTempoMap) {
  smf_track a, b;
  a.tempo(0, 500000);   // 120 bpm
  a.tempo(960, 250000); // 240 bpm from beat 2
  b.add(480, {0x90, 60, 100});
  b.add(960, {0x91, 61, 100});
  b.add(1440, {0x92, 62, 100});
  const auto image = smf_image(1, 480, {a, b});
  smf_file f;
  std::string err;
  ASSERT_TRUE(smf_parse(image.data(), image.size(), &f, &err)) << err;
  EXPECT_EQ(f.format, 1);
  EXPECT_EQ(f.ntracks, 2);
  const auto frames = smf_frames(f, 48000);
  ASSERT_EQ(f.events.size(), 5u);
  // Tempo at 960 comes before the note at 960 (its track is first).
  EXPECT_EQ(f.events[2].tempo, 250000u);
  EXPECT_EQ(frames[1], 24000u); // half a second
  EXPECT_EQ(frames[3], 48000u);
  EXPECT_EQ(frames[4], 48000u + 12000u); // then a beat is a quarter second
  EXPECT_EQ(smf_frames(f, 44100)[4], 44100u + 11025u);
}

TEST(Smf, RefusesMalformedFiles) {
  const auto good = track(bytes({0x00, 0x90, 60, 100, 0x00, 0xFF, 0x2F, 0x00}));
  auto truncated = cat({header(0, 1, 96), good});
  truncated.resize(truncated.size() - 3);
  auto cut_event = cat({header(0, 1, 96), track(bytes({0x00, 0x90, 60}))});
  struct row {
    std::vector<unsigned char> data;
    const char *message;
  };
  const row rows[] = {
      {bytes({'R', 'I', 'F', 'F', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96}), "not a Standard MIDI File"},
      {bytes({'M', 'T'}), "not a Standard MIDI File"},
      {truncated, "truncated chunk"},
      {cut_event, "ends in the middle of an event"},
      {cat({header(2, 1, 96), good}), "format 2 is not supported"},
      {cat({header(0, 2, 96), good}), "1 of 2 tracks"},
      {cat({header(0, 1, 0), good}), "bad time division"},
      {cat({header(0, 1, 96), track(bytes({0x00, 60, 100}))}), "data byte without a status byte"},
      {cat({header(0, 1, 96), track(bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x90, 60, 1}))}),
       "ends in the middle"},
      {cat({header(0, 1, 96), track(bytes({0x00, 0xF0, 0x7F, 0x01}))}), "ends in the middle"},
  };
  for (const row &r : rows) {
    smf_file f;
    std::string err;
    EXPECT_FALSE(smf_parse(r.data.data(), r.data.size(), &f, &err)) << "case: " << r.message;
    EXPECT_NE(err.find(r.message), std::string::npos) << err;
  }
}

TEST(Smf, SurvivesArbitraryBytes) {
  // Random and mutated images never crash the reader.
  std::uint32_t s = 5;
  const auto base = cat({header(1, 2, 96), track(bytes({0x00, 0x90, 60, 100, 0x10, 62, 90, 0x00,
                                                         0xF0, 0x02, 0x01, 0xF7})),
                         track(bytes({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}))});
  for (int k = 0; k < 3000; ++k) {
    auto d = base;
    for (int m = 0; m < 1 + k % 6; ++m) {
      s = s * 1664525u + 1013904223u;
      d[(s >> 8) % d.size()] = static_cast<unsigned char>(s >> 24);
    }
    if (k % 5 == 0)
      d.resize((s >> 4) % (d.size() + 1));
    smf_file f;
    std::string err;
    smf_parse(d.data(), d.size(), &f, &err);
  }
}

class Render : public ::testing::Test {
protected:
  void SetUp() override {
    const std::string synth = dir_.path() + "/Glimra/Synth";
    make_dirs(synth + "/data");
    std::filesystem::copy_file("./liborka.so", synth + "/liborka.so");
    write_file(synth + "/data/midisyn.conf",
               "wav a {\nmap { data \"a.raw\"\nloop 4800\n}\n}\n"
               "wav b {\nmap { data \"b.raw\"\nloop 4800\n}\n}\n"
               "patch 0 \"Sine\" {\nlayer x {\nwav a\nvol.rtime 40\n}\n}\n"
               "patch 7 \"Quiet\" {\nlayer x {\nwav a\nvol.base 109\nvol.rtime 40\n}\n}\n"
               "patch 9 \"Bright\" {\nlayer x {\nwav b\nvol.rtime 40\n}\n}\n"
               "drumkey 36 {\nlayer x {\nwav b\n}\n}\n");
    write_file(synth + "/data/a.raw", raw_sine(48.0, 100, 16000));  // 1000 Hz at key 64
    write_file(synth + "/data/b.raw", raw_sine(24.0, 200, 16000));  // 2000 Hz
    set_env("PROGRAMFILES", dir_.path().c_str());
    set_env("APPDATA", dir_.path().c_str());
    opts_.plugin = "./Glimra-Synth.so";
    opts_.tail = 0.2;
    patches_ = {{0, "Sine"}, {7, "Quiet"}, {9, "Bright"}, {127, "Percussions"}};
  }
  void TearDown() override {
    set_env("PROGRAMFILES", nullptr);
    set_env("APPDATA", nullptr);
  }
  std::vector<float> render(const std::vector<smf_track> &tracks, std::string *err = nullptr) {
    const auto image = smf_image(1, 480, tracks);
    smf_file f;
    std::string e;
    EXPECT_TRUE(smf_parse(image.data(), image.size(), &f, &e)) << e;
    std::vector<float> out;
    render_stats st;
    const bool ok = render_file(
        opts_, f, patches_, [&](const float *x, int n, double) { out.insert(out.end(), x, x + 2 * n); },
        &st, err ? err : &e);
    if (!err) {
      EXPECT_TRUE(ok) << e;
    }
    return ok ? out : std::vector<float>{};
  }
  // A program change at tick 0, then the notes of t.
  static smf_track with_program(int ch, int program, const smf_track &t) {
    smf_track p;
    p.add(0, {static_cast<unsigned char>(0xC0 | ch), static_cast<unsigned char>(program)});
    for (const auto &e : t.events)
      p.events.push_back(e);
    return p;
  }
  static smf_track note(int ch, int key, int from = 0, int to = 2400) {
    smf_track t;
    t.add(static_cast<std::uint64_t>(from), {static_cast<unsigned char>(0x90 | ch), static_cast<unsigned char>(key), 127});
    t.add(static_cast<std::uint64_t>(to), {static_cast<unsigned char>(0x80 | ch), static_cast<unsigned char>(key), 0});
    return t;
  }

  tempdir dir_;
  render_opts opts_;
  std::vector<render_patch> patches_;
};

double peak(const std::vector<float> &v, std::size_t from, std::size_t to) {
  double p = 0;
  for (std::size_t i = from; i < to && i < v.size(); ++i)
    p = std::fmax(p, std::fabs(v[i]));
  return p;
}

TEST_F(Render, BlockSizeDoesNotChangeTheAudio) {
  smf_track t;
  t.add(0, {0x90, 60, 100});
  t.add(333, {0x90, 67, 80});
  t.add(700, {0xE0, 0, 80});
  t.add(1201, {0x80, 60, 0});
  t.add(1900, {0x80, 67, 0});
  std::vector<float> ref;
  for (int block : {1, 64, 4096}) {
    opts_.block = block;
    const auto out = render({t});
    ASSERT_FALSE(out.empty());
    if (ref.empty())
      ref = out;
    else
      EXPECT_TRUE(out == ref) << "block " << block;
  }
  // The last event at 1900 ticks (95000 frames at 120 bpm), plus the tail.
  EXPECT_EQ(ref.size(), 2u * (95000 + 9600));
}

TEST_F(Render, GeneralMidiRouting) {
  opts_.gm = true;
  // Channel 1 on patch 0; channel 2 switched to patch 7 (18 steps quieter);
  // channel 10 plays the drum kit (the 2000 Hz wave), not key 36 of patch 0.
  const auto plain = render({note(0, 64)});
  smf_track quiet;
  quiet.add(0, {0xC1, 7}); // before the note at the same tick
  for (auto &e : note(1, 64).events)
    quiet.events.push_back(e);
  const auto q = render({quiet});
  const auto drums = render({note(9, 36)});
  const std::size_t a = 2 * 12000, b = 2 * 48000;
  EXPECT_NEAR(peak(q, a, b) / peak(plain, a, b), 0.5, 0.02);
  EXPECT_NEAR(frequency_of(drums, a, b, 48000, 2), 2000.0, 2.0);
  EXPECT_NEAR(frequency_of(plain, a, b, 48000, 2), 1000.0, 2.0);
  // An undefined program falls back to the nearest patch below it in its
  // family of eight, else to the lowest patch; it never keeps the channel's
  // patch.  The channel is on "Quiet" before, and each fallback ("Bright"
  // at 9, "Sine" at 0) sounds unlike "Quiet": the render equals that of
  // the patch's own program and differs from keeping "Quiet".
  auto after_quiet = [&](int program) {
    smf_track t = with_program(1, 7, note(1, 64));
    t.events.insert(t.events.begin() + 1, {0, {0xC1, static_cast<unsigned char>(program)}});
    return render({t});
  };
  const auto kept = after_quiet(7);
  struct fallback {
    int program, sounds_as;
  };
  for (const fallback &f : {fallback{13, 9}, // "Bright", below it in 8..15
                            fallback{5, 0},  // "Sine", not "Quiet" above it in 0..7
                            fallback{8, 0},  // nothing in 8..15 up to 8: the lowest, not "Quiet" at 7
                            fallback{99, 0}}) { // nothing in 96..103: the lowest
    const auto got = after_quiet(f.program), want = after_quiet(f.sounds_as);
    ASSERT_FALSE(got.empty());
    EXPECT_TRUE(got == want) << "program " << f.program << " should sound as " << f.sounds_as;
    EXPECT_GT(peak(want, a, b) / peak(kept, a, b), 1.5) << "patch " << f.sounds_as << " is not \"Quiet\"";
  }
  // Without --gm the drum channel is just a channel of the patch.
  opts_.gm = false;
  EXPECT_NEAR(frequency_of(render({note(9, 64)}), a, b, 48000, 2), 1000.0, 2.0);
}

TEST_F(Render, GeneralMidiChannelsShareOneInstance) {
  // Four channels at once through one instance sound as the same file did
  // when every channel had an instance of its own: each channel rendered
  // alone, in "Patch control" mode on the patch its program names (the
  // kit on channel 10), and the results summed.  Reverb and chorus are off,
  // since their shared state would mix the channels; then the sum is exact.
  opts_.sets = {{"reverb", "0"}, {"chorus", "0"}};
  struct part {
    smf_track track;
    const char *patch; // what the channel played in an instance of its own
  };
  const std::vector<part> parts = {{note(0, 64), "Sine"},
                                   {with_program(1, 7, note(1, 76, 240, 1800)), "Quiet"},
                                   {with_program(2, 9, note(2, 57, 720, 1500)), "Bright"},
                                   {note(9, 36, 480, 2000), "Percussions"}};
  std::vector<smf_track> tracks;
  for (const part &p : parts)
    tracks.push_back(p.track);
  opts_.gm = true;
  const auto all = render(tracks);
  ASSERT_FALSE(all.empty());

  std::vector<double> sum(all.size());
  for (const part &p : parts) {
    render_opts keep = opts_;
    opts_.gm = false;
    opts_.patch = p.patch;
    smf_track end; // the same length for each
    end.tempo(2400, 500000);
    const auto one = render({p.track, end});
    opts_ = keep;
    ASSERT_EQ(one.size(), all.size()) << p.patch;
    EXPECT_GT(peak(one, 0, one.size()), 0.05) << p.patch << " is heard alone";
    for (std::size_t i = 0; i < one.size(); ++i)
      sum[i] += one[i];
  }
  double worst = 0;
  for (std::size_t i = 0; i < all.size(); ++i)
    worst = std::fmax(worst, std::fabs(all[i] - sum[i]));
  EXPECT_LT(worst, 1e-6);
}

TEST_F(Render, GeneralMidiOpensOneInstance) {
  // Four channels, one instance: counted in the plug-in's own log, which at
  // level 1 has a line for every instance's "Open".
  make_dirs(dir_.path() + "/Glimra-Synth");
  const std::string log = dir_.path() + "/Glimra-Synth/log1";
  write_file(log, "");
  opts_.gm = true;
  render({note(0, 64), with_program(1, 7, note(1, 76, 240, 1800)), note(2, 60, 100, 900),
          note(9, 36, 480, 2000)});
  int opens = 0;
  std::size_t at = 0;
  const std::string text = read_file(log);
  while ((at = text.find(": Open:\n", at)) != std::string::npos) {
    ++opens;
    ++at;
  }
  EXPECT_EQ(opens, 1) << text.size() << " bytes of log";
}

TEST_F(Render, GeneralMidiWithAnotherPlugin) {
  // An instrument without a "programs" control (the probe, which records
  // what it receives) gets the whole file in one instance, with or without
  // --gm: every channel's messages, program changes and SysEx included, at
  // their frames and in file order.
  void *lib = dlopen("./probe-plugin.so", RTLD_NOW); // keeps its record alive
  ASSERT_NE(lib, nullptr) << dlerror();
  auto get = reinterpret_cast<probe_record_fn>(dlsym(lib, "probe_get_record"));
  ASSERT_NE(get, nullptr);
  probe_record *rec = get();
  std::vector<smf_track> tracks;
  smf_track reset;
  reset.add(0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}); // GM System On
  tracks.push_back(reset);
  for (int ch = 0; ch < 16; ++ch) { // programs this instrument may or may not define
    smf_track t = with_program(ch, (ch * 37 + 99) % 128, note(ch, 40 + ch, 100 + 30 * ch, 1200 + ch));
    t.add(static_cast<std::uint64_t>(600 + ch), {static_cast<unsigned char>(0xC0 | ch), static_cast<unsigned char>(ch)});
    t.add(static_cast<std::uint64_t>(700 + ch), {static_cast<unsigned char>(0xB0 | ch), 7, 90});
    tracks.push_back(t);
  }
  const auto image = smf_image(1, 480, tracks);
  smf_file f;
  std::string err;
  ASSERT_TRUE(smf_parse(image.data(), image.size(), &f, &err)) << err;
  const auto frames = smf_frames(f, opts_.rate);
  opts_.plugin = "./probe-plugin.so";
  for (bool gm : {true, false}) {
    opts_.gm = gm;
    const int before = rec->instances;
    rec->events.clear();
    render(tracks);
    EXPECT_EQ(rec->instances - before, 1) << "gm " << gm;
    EXPECT_EQ(rec->live, 0);
    std::size_t k = 0, programs = 0;
    for (std::size_t i = 0; i < f.events.size(); ++i) {
      if (f.events[i].bytes.empty())
        continue; // a tempo change
      ASSERT_LT(k, rec->events.size()) << "gm " << gm << ": event " << i << " did not arrive";
      const probe_event &got = rec->events[k++];
      EXPECT_EQ(got.instance, before);
      EXPECT_EQ(got.frame, frames[i]) << "event " << i;
      EXPECT_EQ(got.bytes, f.events[i].bytes) << "event " << i;
      programs += !got.bytes.empty() && (got.bytes[0] & 0xF0) == 0xC0;
    }
    EXPECT_EQ(k, rec->events.size()) << "gm " << gm;
    EXPECT_EQ(programs, 32u);
  }
  dlclose(lib);
}

TEST_F(Render, TailEndsAtTheSameFrameForAnyBlockSize) {
  opts_.tail = -1; // until quiet, with the reverb's tail
  std::vector<float> ref;
  for (int block : {64, 1000, 4096}) {
    opts_.block = block;
    const auto out = render({note(0, 64, 0, 480)});
    if (ref.empty())
      ref = out;
    else
      EXPECT_TRUE(out == ref) << "block " << block << ": " << out.size() / 2 << " frames, not "
                              << ref.size() / 2;
  }
  // The last tenth of a second is quiet, the frame before it is not.
  ASSERT_GT(ref.size(), 2u * 4800);
  EXPECT_LT(peak(ref, ref.size() - 2 * 4800, ref.size()), 3.2e-5);
  EXPECT_GE(peak(ref, ref.size() - 2 * 4801, ref.size() - 2 * 4800), 3.1e-5);
}

TEST_F(Render, RefusesFilesLongerThanTheLimit) {
  // 36 bytes: the slowest tempo, one tick per beat, and a note after the
  // longest delta a file can hold: 1251000 hours in.
  const auto forever = bytes({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 1,
                              'M', 'T', 'r', 'k', 0, 0, 0, 14, 0x00, 0xFF, 0x51, 0x03, 0xFF, 0xFF,
                              0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x90, 60, 100});
  ASSERT_EQ(forever.size(), 36u);
  struct row {
    std::vector<unsigned char> image;
    double max_length, tail;
    const char *message; // null: rendered
  };
  const auto short_note = smf_image(1, 480, {note(0, 64, 0, 960)}); // one second
  const row rows[] = {
      {forever, 24 * 3600.0, -1, "the file lasts 1250999.8 hours, longer than the limit of 24.0 hours"},
      {short_note, 0.9, -1, "the file lasts 1.0 seconds, longer than the limit of 0.9 seconds"},
      {short_note, 1.1, 0.2, "the file and its tail last 1.2 seconds"},
      {short_note, 1.0, -1, nullptr},
      {short_note, 0, -1, "the length limit must be above 0 seconds"},
  };
  for (const row &r : rows) {
    smf_file f;
    std::string err;
    ASSERT_TRUE(smf_parse(r.image.data(), r.image.size(), &f, &err)) << err;
    opts_.max_length = r.max_length;
    opts_.tail = r.tail;
    render_stats st;
    std::size_t frames = 0;
    const bool ok = render_file(
        opts_, f, patches_,
        [&](const float *, int n, double) {
          frames += static_cast<std::size_t>(n);
          if (r.message) // a refusal must come before any audio
            throw std::runtime_error("rendering began");
        },
        &st, &err);
    EXPECT_EQ(ok, r.message == nullptr) << err;
    if (r.message) {
      EXPECT_NE(err.find(r.message), std::string::npos) << err;
    }
    else
      EXPECT_GT(frames, 48000u);
  }
}

TEST_F(Render, PatchesControlsAndErrors) {
  opts_.patch = "7";
  const auto q = render({note(0, 64)});
  opts_.patch = "Sine";
  const auto s = render({note(0, 64)});
  EXPECT_NEAR(peak(q, 24000, 96000) / peak(s, 24000, 96000), 0.5, 0.02);
  opts_.patch.clear();
  opts_.sets = {{"volume", "0"}};
  EXPECT_LT(peak(render({note(0, 64)}), 24000, 96000), 1e-4);
  std::vector<std::pair<std::function<void(render_opts &)>, const char *>> bad = {
      {[](render_opts &o) { o.patch = "12"; }, "no patch numbered 12"},
      {[](render_opts &o) { o.patch = "Tuba"; }, "no patch named 'Tuba'"},
      {[](render_opts &o) { o.sets = {{"loudness", "3"}}; }, "unknown control 'loudness'"},
      {[](render_opts &o) { o.sets = {{"rev_model", "huge"}}; }, "unknown value 'huge' for control 'rev_model'"},
      {[](render_opts &o) { o.plugin = "./nothing.so"; }, "the plug-in fails to load"},
      {[](render_opts &o) { o.block = 0; }, "block size"},
  };
  for (auto &[change, message] : bad) {
    render_opts keep = opts_;
    opts_.sets.clear();
    change(opts_);
    std::string err;
    render({note(0, 64)}, &err);
    EXPECT_NE(err.find(message), std::string::npos) << err;
    opts_ = keep;
  }
}

TEST_F(Render, TailUntilQuiet) {
  opts_.tail = -1;
  opts_.sets = {{"reverb", "0"}, {"chorus", "0"}};
  const auto out = render({note(0, 64, 0, 480)});
  // The release (time 40: about 11 ms) ends at once; 0.1 s of quiet ends it.
  const double seconds = out.size() / 2.0 / 48000;
  EXPECT_GT(seconds, 0.25 + 0.1);
  EXPECT_LT(seconds, 0.25 + 0.5);
}

} // namespace
