// The importer's test bank and rendering rig.
#include "import_rig.h"

#include <cmath>
#include <filesystem>

#include "sf2_image.h"
#include "synth/patch/patch.h"

using namespace testutil;

namespace {

std::vector<std::int16_t> sine(double hz, int rate, int frames, double amp) {
  std::vector<std::int16_t> v(static_cast<std::size_t>(frames));
  for (int i = 0; i < frames; ++i)
    v[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(std::lround(amp * std::sin(2 * TEST_PI * hz * i / rate)));
  return v;
}

std::vector<std::int16_t> constant(int v, int frames) {
  return std::vector<std::int16_t>(static_cast<std::size_t>(frames), static_cast<std::int16_t>(v));
}

} // namespace

std::string test_bank() {
  using namespace sf2;
  std::vector<sample> s(9);
  s[0] = {"Sine440", sine(440, 44100, 44100, 12000), 44100, 69, 0, 4410, 44100, 1, 0};
  s[1] = {"Low", sine(130.8128, 22050, 22050, 12000), 22050, 48, 0, 8, 22040, 1, 0};
  // The pad's sides differ in sign so that the test can tell them apart.
  std::vector<std::int16_t> l = sine(261.6256, 48000, 48000, 12000), r = l;
  l[100] = 1000;
  r[100] = -1000;
  s[2] = {"PadL", l, 48000, 60, 0, 24000, 48000, 4, 3};
  s[3] = {"PadR", r, 48000, 60, 0, 24000, 48000, 2, 2};
  s[4] = {"Kick", constant(8000, 4410), 44100, 60, 0, 8, 4400, 1, 0};
  s[5] = {"HatC", constant(4000, 2205), 44100, 60, 0, 8, 2200, 1, 0};
  s[6] = {"HatO", constant(4000, 22050), 44100, 60, 0, 11025, 22050, 1, 0};
  s[7] = {"Soft", sine(220, 44100, 44100, 6000), 44100, 57, 0, 4410, 44100, 1, 0};
  s[8] = {"Loud", sine(220, 44100, 44100, 12000), 44100, 57, 0, 4410, 44100, 1, 0};
  const zone env = {{34, 0}, {36, -1200}, {37, 60}, {38, 1200}};
  auto with = [](zone z, const zone &more) {
    z.insert(z.end(), more.begin(), more.end());
    return z;
  };
  std::vector<instrument> insts = {
      {"Lead",
       {with(with({{43, range(0, 59)}, {51, 1}, {52, -30}, {48, 60}}, env), {{53, 1}}),
        with(with({{43, range(60, 127)}, {54, 1}}, env), {{53, 0}})},
       {}},
      {"Pad",
       {{{43, range(0, 127)}, {17, -500}, {54, 1}, {53, 2}},
        {{43, range(0, 127)}, {17, 500}, {54, 1}, {53, 3}}},
       {}},
      {"Kit",
       {{{43, range(36, 36)}, {58, 36}, {53, 4}},
        {{43, range(42, 42)}, {57, 1}, {53, 5}},
        {{43, range(44, 44)}, {57, 1}, {53, 5}},
        {{43, range(46, 46)}, {57, 1}, {54, 1}, {53, 6}}},
       {}},
      {"Vel",
       {{{43, range(0, 127)}, {44, range(0, 63)}, {54, 1}, {53, 7}},
        {{43, range(0, 127)}, {44, range(64, 127)}, {54, 1}, {53, 8}}},
       {}},
      // Delay 0.5 s, hold 1 s, a low-pass at key 69 with 10 dB of
      // resonance, 50 cents of vibrato at 4.088 Hz, and the wheel's
      // vibrato raised from the default 50 to 100 cents.
      {"Shaped",
       {{{43, range(0, 127)}, {33, -1200}, {35, 0}, {8, 6900}, {9, 100}, {6, 50}, {24, -1200},
         {54, 1}, {53, 0}}},
       {{{0x0081, 6, 100, 0, 0}}}},
      {"Kit2", {{{43, range(38, 38)}, {53, 4}}}, {}},
  };
  std::vector<preset> presets = {
      {"Lead", 0, 0, {{{52, 10}, {41, 0}}}},
      {"Pad", 1, 0, {{{41, 1}}}},
      {"Drums", 0, 128, {{{41, 2}}}},
      {"Layers", 2, 0, {{{41, 3}}}},
      {"Shaped", 3, 0, {{{41, 4}}}},
      {"Room", 8, 128, {{{41, 5}}}},
      {"Bright", 0, 1, {{{41, 0}}}},
  };
  return image(s, insts, presets);
}

double pitch_of(const std::vector<float> &x, std::size_t from, std::size_t n, double rate) {
  const std::size_t tmin = static_cast<std::size_t>(rate / 2500), tmax = static_cast<std::size_t>(rate / 25);
  if (from + n > x.size() || n <= 2 * tmax)
    return 0;
  const std::size_t w = n - tmax - 1;
  std::vector<double> d(tmax + 2, 0.0), dn(tmax + 2, 1.0);
  double sum = 0;
  for (std::size_t tau = 1; tau <= tmax + 1; ++tau) {
    double acc = 0;
    for (std::size_t i = 0; i < w; ++i) {
      const double e = static_cast<double>(x[from + i]) - x[from + i + tau];
      acc += e * e;
    }
    d[tau] = acc;
    sum += acc;
    dn[tau] = sum > 0 ? acc * static_cast<double>(tau) / sum : 1.0;
  }
  std::size_t best = 0;
  for (std::size_t tau = tmin; tau <= tmax; ++tau)
    if (dn[tau] < 0.15) {
      while (tau + 1 <= tmax && dn[tau + 1] < dn[tau])
        ++tau;
      best = tau;
      break;
    }
  if (!best) {
    best = tmin;
    for (std::size_t tau = tmin; tau <= tmax; ++tau)
      if (dn[tau] < dn[best])
        best = tau;
  }
  const double a = dn[best - 1], b = dn[best], c = dn[best + 1];
  const double den = a - 2 * b + c;
  const double t = static_cast<double>(best) + (den != 0 ? 0.5 * (a - c) / den : 0.0);
  return rate / t;
}

import_rig::import_rig(const std::string &data) {
  // The engine of the build as an installation; the instrument from data.
  const std::string synth = dir_.path() + "/Glimra/Synth";
  make_dirs(synth);
  std::error_code ec;
  std::filesystem::copy_file("./liborka.so", synth + "/liborka.so", ec);
  set_env("PROGRAMFILES", dir_.path().c_str());
  set_env("APPDATA", dir_.path().c_str());
  inst_ = std::make_unique<render_instrument>();
  ok_ = inst_->open(data, "./Glimra-Synth.so", &err_);
  opts_.plugin = "./Glimra-Synth.so";
  opts_.gm = true;
  opts_.tail = 0.3;
  for (int i = 0; i < PATCH_MAX - 1; ++i)
    if (patch_table[i])
      patches_.push_back({i, patch_table[i]->name});
  patches_.push_back({127, "Percussions"});
}

import_rig::~import_rig() {
  inst_.reset();
  set_env("PROGRAMFILES", nullptr);
  set_env("APPDATA", nullptr);
}

std::vector<float> import_rig::render(const std::vector<smf_track> &tracks) {
  const auto image = smf_image(1, 480, tracks);
  smf_file f;
  std::vector<float> out;
  if (!smf_parse(image.data(), image.size(), &f, &err_))
    return out;
  render_stats st;
  const bool ok = render_file(
      opts_, f, patches_,
      [&](const float *x, int n, double) {
        for (int i = 0; i < n; ++i)
          out.push_back(0.5f * (x[2 * i] + x[2 * i + 1]));
      },
      &st, &err_);
  return ok ? out : std::vector<float>{};
}

std::vector<float> import_rig::note(int program, int key, double seconds) {
  smf_track t;
  const int ch = program < 0 ? 9 : 0;
  const auto off = static_cast<std::uint64_t>(seconds * 960); // 120 beats per minute
  if (program >= 0)
    t.add(0, {0xC0, static_cast<unsigned char>(program)});
  t.add(10, {static_cast<unsigned char>(0x90 | ch), static_cast<unsigned char>(key), 100});
  t.add(10 + off, {static_cast<unsigned char>(0x80 | ch), static_cast<unsigned char>(key), 0});
  return render({t});
}
