// Writes the default instrument: "midisyn.conf" and its raw 16-bit waves at
// 48000 Hz, synthesised here.  gen_instrument DIR writes DIR/midisyn.conf
// and DIR/waves/*.raw.
//
// Only +, -, *, / and sqrt of IEEE doubles and an integer noise generator
// are used (sine and exponential are our own series), so the bytes are the
// same on every build and platform.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr double RATE = 48000.0;
constexpr double PI = 3.14159265358979323846;

// sin(x) by reduction to [-pi/2, pi/2] and an odd series.
double dsin(double x) {
  double k = x / (2 * PI);
  k = static_cast<double>(static_cast<long long>(k >= 0 ? k + 0.5 : k - 0.5));
  x -= k * 2 * PI; // now in [-pi, pi]
  if (x > PI / 2)
    x = PI - x;
  else if (x < -PI / 2)
    x = -PI - x;
  const double x2 = x * x;
  double term = x, sum = x;
  for (int n = 1; n < 12; ++n) {
    term *= -x2 / ((2 * n) * (2 * n + 1));
    sum += term;
  }
  return sum;
}

// e^x for x <= 0 by halving and squaring.
double dexp(double x) {
  int halvings = 0;
  while (x < -0.5) {
    x /= 2;
    ++halvings;
  }
  double term = 1, sum = 1;
  for (int n = 1; n < 16; ++n) {
    term *= x / n;
    sum += term;
  }
  while (halvings-- > 0)
    sum *= sum;
  return sum;
}

// 2^(x/12) by the same route.
double semis(double x) {
  // 2^y = e^(y ln 2); ln 2 as a constant, positive exponents by inversion.
  const double y = x / 12 * 0.69314718055994530942;
  return y <= 0 ? dexp(y) : 1.0 / dexp(-y);
}

double key_hz(double key) { return 440.0 * semis(key - 69); }

// Natural logarithm for x near 1: 2 atanh((x - 1) / (x + 1)) as a series.
double dln(double x) {
  const double y = (x - 1) / (x + 1), y2 = y * y;
  double term = y, sum = 0;
  for (int n = 1; n < 60; n += 2) {
    sum += term / n;
    term *= y2;
  }
  return 2 * sum;
}

// Key (fractional) of a frequency near key_hz(near).
double hz_key(double hz, int near) {
  return near + 12 * dln(hz / key_hz(near)) / 0.69314718055994530942;
}

struct noise {
  std::uint32_t s;
  double next() { // uniform in [-1, 1)
    s = s * 1664525u + 1013904223u;
    return static_cast<double>(static_cast<std::int32_t>(s)) / 2147483648.0;
  }
};

using wave = std::vector<double>;

wave zeros(double seconds) { return wave(static_cast<std::size_t>(seconds * RATE), 0.0); }

// Additive tone: partial n at n * f * (1 + b n^2), amplitude amp(n), each
// decaying at its own rate.
template <typename Amp, typename Decay>
void partials(wave &w, double f, int count, double inharm, Amp amp, Decay decay) {
  for (int n = 1; n <= count; ++n) {
    const double fn = f * n * (1 + inharm * n * n) ;
    if (fn > 20000)
      break;
    const double a = amp(n), d = decay(n);
    const double step = 2 * PI * fn / RATE;
    double env = 1.0;
    const double fall = dexp(-d / RATE);
    for (std::size_t i = 0; i < w.size(); ++i) {
      w[i] += a * env * dsin(step * static_cast<double>(i));
      env *= fall;
    }
  }
}

void normalise(wave &w, double peak) {
  double m = 0;
  for (double v : w)
    m = v > m ? v : -v > m ? -v : m;
  if (m > 0)
    for (double &v : w)
      v *= peak / m;
}

void fade_in(wave &w, int n) {
  for (int i = 0; i < n && i < static_cast<int>(w.size()); ++i)
    w[i] *= static_cast<double>(i) / n;
}

void fade_out(wave &w, int n) {
  const int len = static_cast<int>(w.size());
  for (int i = 0; i < n && i < len; ++i)
    w[len - 1 - i] *= static_cast<double>(i) / n;
}

// One-pole lowpass with coefficient c (0 < c < 1, larger is brighter).
void lowpass(wave &w, double c) {
  double y = 0;
  for (double &v : w) {
    y += c * (v - y);
    v = y;
  }
}

void highpass(wave &w, double c) {
  double y = 0;
  for (double &v : w) {
    y += c * (v - y);
    v -= y;
  }
}

// Sounds ------------------------------------------------------------------

wave piano(double key, bool hard) {
  wave w = zeros(key < 50 ? 3.0 : 2.2);
  const double f = key_hz(key);
  partials(
      w, f, 24, 0.0004,
      [&](int n) { return (hard ? 1.0 : 0.6) / (n * (hard ? 0.9 : 1.6)); },
      [&](int n) { return 1.2 + 0.35 * n * (key / 60.0) + (hard ? 0 : 0.4 * n); });
  noise r{static_cast<std::uint32_t>(key * 7 + hard)};
  for (int i = 0; i < 600; ++i) // hammer
    w[i] += (hard ? 0.25 : 0.08) * r.next() * (1 - i / 600.0);
  fade_in(w, 24);
  fade_out(w, 4800);
  normalise(w, hard ? 0.9 : 0.6);
  return w;
}

wave epiano(double key) {
  wave w = zeros(2.5);
  const double f = key_hz(key);
  double env = 1, menv = 1;
  const double fall = dexp(-1.6 / RATE), mfall = dexp(-6.0 / RATE);
  const double index = 15 * f < 20000 ? 1.8 : 0.0; // the tine, while it stays audible
  for (std::size_t i = 0; i < w.size(); ++i) {
    const double t = static_cast<double>(i) / RATE;
    const double mod = index * menv * dsin(2 * PI * f * 14 * t);
    w[i] = env * (dsin(2 * PI * f * t + mod) + 0.3 * dsin(2 * PI * f * 2 * t));
    env *= fall;
    menv *= mfall;
  }
  fade_in(w, 48);
  fade_out(w, 4800);
  normalise(w, 0.85);
  return w;
}

// Looping waves hold a whole number of cycles of every partial, so their
// partials come from one sine table of the loop's length.
struct sine_table {
  std::vector<double> t;
  explicit sine_table(int len) : t(static_cast<std::size_t>(len)) {
    for (int j = 0; j < len; ++j)
      t[j] = dsin(2 * PI * j / len);
  }
  // Adds amp * sin(2 pi cycles i / len) over the whole loop.
  void add(wave &w, long long cycles, double amp) const {
    const long long len = static_cast<long long>(t.size()), step = cycles % len;
    long long at = 0;
    for (double &v : w) {
      v += amp * t[at];
      at += step;
      if (at >= len)
        at -= len;
    }
  }
};

wave organ(int cycles_per_loop, int loop_len) {
  wave w(static_cast<std::size_t>(loop_len), 0.0);
  const sine_table tab(loop_len);
  const int ratios[] = {1, 2, 3, 4, 6, 8};
  const double amps[] = {1.0, 0.8, 0.5, 0.4, 0.25, 0.2};
  for (int k = 0; k < 6; ++k)
    if (static_cast<double>(cycles_per_loop) * ratios[k] * RATE / loop_len < 20000)
      tab.add(w, static_cast<long long>(cycles_per_loop) * ratios[k], amps[k]);
  normalise(w, 0.8);
  return w;
}

// Band-limited sawtooth ensemble: voices detuned by whole cycles per loop,
// about the same number of cents at every pitch.
wave strings(int cycles, int loop_len) {
  wave w(static_cast<std::size_t>(loop_len), 0.0);
  const sine_table tab(loop_len);
  const int detune[] = {0, 2, -2, 3};
  for (int d : detune) {
    const long long c = cycles + static_cast<long long>(d * cycles / 131.0 + (d < 0 ? -0.5 : 0.5));
    for (long long n = 1; static_cast<double>(n * c) * RATE / loop_len < 12000; ++n)
      tab.add(w, c * n, 1.0 / static_cast<double>(n));
  }
  lowpass(w, 0.5);
  normalise(w, 0.8);
  return w;
}

wave saw(int cycles, int loop_len, int maxharm) {
  wave w(static_cast<std::size_t>(loop_len), 0.0);
  const sine_table tab(loop_len);
  for (int n = 1; n <= maxharm && static_cast<double>(n) * cycles * RATE / loop_len < 16000; ++n)
    tab.add(w, static_cast<long long>(cycles) * n, 1.0 / n);
  normalise(w, 0.85);
  return w;
}

// A plucked string; its period is a whole number of samples, at or below
// the key's, so it sounds at RATE / pluck_period(key).
int pluck_period(double key) { return static_cast<int>(RATE / key_hz(key)); }

wave pluck(double key) {
  const int period = pluck_period(key);
  wave w = zeros(2.0);
  noise r{static_cast<std::uint32_t>(key * 13)};
  std::vector<double> line(static_cast<std::size_t>(period));
  for (double &v : line)
    v = r.next();
  for (std::size_t i = 0; i < w.size(); ++i) {
    const std::size_t k = i % period, k1 = (i + 1) % period;
    const double v = 0.5 * (line[k] + line[k1]) * 0.996;
    w[i] = line[k];
    line[k] = v;
  }
  fade_out(w, 2400);
  normalise(w, 0.85);
  return w;
}

wave bell(double key) {
  wave w = zeros(3.5);
  const double f = key_hz(key);
  const double ratios[] = {1.0, 2.76, 5.4, 8.93, 0.5};
  const double amps[] = {1.0, 0.6, 0.4, 0.25, 0.3};
  const double decays[] = {1.0, 1.8, 2.6, 3.5, 0.7};
  for (int k = 0; k < 5; ++k) {
    if (f * ratios[k] > 20000)
      continue;
    double env = 1;
    const double fall = dexp(-decays[k] / RATE);
    for (std::size_t i = 0; i < w.size(); ++i) {
      w[i] += amps[k] * env * dsin(2 * PI * f * ratios[k] * i / RATE);
      env *= fall;
    }
  }
  fade_in(w, 48);
  fade_out(w, 4800);
  normalise(w, 0.8);
  return w;
}

// Drums.
wave kick() {
  wave w = zeros(0.6);
  double phase = 0;
  noise r{1};
  for (std::size_t i = 0; i < w.size(); ++i) {
    const double t = static_cast<double>(i) / RATE;
    const double f = 45 + 110 * dexp(-t * 30);
    phase += 2 * PI * f / RATE;
    w[i] = dsin(phase) * dexp(-t * 6) + (i < 200 ? 0.3 * r.next() : 0.0);
  }
  normalise(w, 0.95);
  return w;
}

wave snare(std::uint32_t seed, double snap) {
  wave w = zeros(0.4);
  noise r{seed};
  for (std::size_t i = 0; i < w.size(); ++i) {
    const double t = static_cast<double>(i) / RATE;
    w[i] = snap * r.next() * dexp(-t * 14) + 0.5 * dsin(2 * PI * 190 * t) * dexp(-t * 25);
  }
  highpass(w, snap > 0.8 ? 0.15 : 0.05);
  normalise(w, 0.9);
  return w;
}

wave hat(double seconds, double decay, std::uint32_t seed) {
  wave w = zeros(seconds);
  noise r{seed};
  for (std::size_t i = 0; i < w.size(); ++i)
    w[i] = r.next() * dexp(-static_cast<double>(i) / RATE * decay);
  highpass(w, 0.35);
  highpass(w, 0.35);
  fade_out(w, 480);
  normalise(w, 0.6);
  return w;
}

wave tom(double f0) {
  wave w = zeros(0.7);
  double phase = 0;
  for (std::size_t i = 0; i < w.size(); ++i) {
    const double t = static_cast<double>(i) / RATE;
    phase += 2 * PI * f0 * (1 + 0.5 * dexp(-t * 20)) / RATE;
    w[i] = dsin(phase) * dexp(-t * 5);
  }
  normalise(w, 0.9);
  return w;
}

wave clap() {
  wave w = zeros(0.4);
  noise r{77};
  for (std::size_t i = 0; i < w.size(); ++i) {
    const double t = static_cast<double>(i) / RATE;
    double env = dexp(-t * 18);
    for (double burst : {0.0, 0.011, 0.022})
      if (t >= burst && t < burst + 0.01)
        env += dexp(-(t - burst) * 300);
    w[i] = r.next() * env;
  }
  highpass(w, 0.1);
  lowpass(w, 0.6);
  normalise(w, 0.8);
  return w;
}

wave cymbal(double seconds, double decay, std::uint32_t seed, double ping) {
  wave w = zeros(seconds);
  noise r{seed};
  const double fm[] = {3120, 4210, 5430, 6950};
  for (std::size_t i = 0; i < w.size(); ++i) {
    const double t = static_cast<double>(i) / RATE;
    double metal = 0;
    for (double f : fm)
      metal += dsin(2 * PI * f * t + 2 * dsin(2 * PI * f * 1.41 * t));
    w[i] = (r.next() + ping * metal / 4) * dexp(-t * decay);
  }
  highpass(w, 0.2);
  fade_out(w, 4800);
  normalise(w, 0.6);
  return w;
}

// x with three decimals, rounded half away from zero, by integer steps so
// the text is the same wherever it is built.
std::string decimal3(double x) {
  const long long m = static_cast<long long>(x < 0 ? x * 1000 - 0.5 : x * 1000 + 0.5);
  const long long a = m < 0 ? -m : m;
  std::string frac = std::to_string(a % 1000);
  frac.insert(0, 3 - frac.size(), '0');
  while (!frac.empty() && frac.back() == '0')
    frac.pop_back();
  return (m < 0 ? "-" : "") + std::to_string(a / 1000) + (frac.empty() ? "" : "." + frac);
}

void write_raw(const std::filesystem::path &p, const wave &w) {
  std::string bytes;
  bytes.reserve(w.size() * 2);
  for (double v : w) {
    double s = v * 32767.0;
    s = s > 32767 ? 32767 : s < -32768 ? -32768 : s;
    const auto q = static_cast<std::int16_t>(s >= 0 ? s + 0.5 : s - 0.5);
    bytes += static_cast<char>(q & 0xFF);
    bytes += static_cast<char>((q >> 8) & 0xFF);
  }
  std::FILE *f = std::fopen(p.string().c_str(), "wb");
  if (!f)
    return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gen_instrument DIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::filesystem::remove_all(dir / "waves"); // no wave of an earlier set is left
  std::filesystem::create_directories(dir / "waves");
  auto put = [&](const char *name, const wave &w) { write_raw(dir / "waves" / name, w); };

  // Melodic waves: one recording per octave, each at the top of its zone,
  // so no note in keys 21 ... 108 plays above its recording and a layer an
  // octave up plays at most an octave above.
  std::string text = "# The default instrument of Glimra Synth, written by gen_instrument.\n"
                     "# Waves are raw 16-bit mono at 48000 Hz in waves/.\n";
  struct zone_wave {
    const char *name;
    int loop; // 0, or the loop length in samples (the whole recording)
    std::function<wave(int key, double *pitch)> make;
  };
  // Loops of a whole number of cycles, rounded up: the recording's pitch is
  // at or above its key and written as it is.
  auto looped = [](int key, int seconds, double *pitch, auto &&make) {
    const double hz = key_hz(key);
    const int cycles = static_cast<int>(hz * seconds) + 1;
    *pitch = hz_key(static_cast<double>(cycles) / seconds, key);
    return make(cycles, static_cast<int>(RATE) * seconds);
  };
  const zone_wave melodic[] = {
      {"piano_soft", 0, [](int key, double *p) { *p = key; return piano(key, false); }},
      {"piano_hard", 0, [](int key, double *p) { *p = key; return piano(key, true); }},
      {"epiano", 0, [](int key, double *p) { *p = key; return epiano(key); }},
      {"organ", 1, [&](int key, double *p) { return looped(key, 1, p, organ); }},
      // Low strings loop over several seconds: enough cycles for a detune
      // of whole cycles to stay a few cents.
      {"strings", 1, [&](int key, double *p) {
         const int seconds = key_hz(key) < 128 ? static_cast<int>(128 / key_hz(key)) + 1 : 1;
         return looped(key, seconds, p, strings);
       }},
      {"bass", 1, [&](int key, double *p) {
         return looped(key, 1, p, [](int c, int len) { return saw(c, len, 60); });
       }},
      {"lead", 1, [&](int key, double *p) {
         return looped(key, 1, p, [](int c, int len) { return saw(c, len, 70); });
       }},
      {"pluck", 0, [](int key, double *p) {
         *p = hz_key(RATE / pluck_period(key), key);
         return pluck(key);
       }},
      {"bell", 0, [](int key, double *p) { *p = key; return bell(key); }},
  };
  constexpr int TOPS[] = {24, 36, 48, 60, 72, 84, 96, 108, 120};
  constexpr int NZONES = sizeof TOPS / sizeof TOPS[0];
  for (const zone_wave &z : melodic) {
    text += std::string("wav ") + z.name + " {\n";
    for (int i = 0; i < NZONES; ++i) {
      const int key = TOPS[i];
      double pitch = key;
      const wave w = z.make(key, &pitch);
      const std::string file = std::string(z.name) + "_" + std::to_string(key) + ".raw";
      put(file.c_str(), w);
      const int lo = i == 0 ? 0 : TOPS[i - 1] + 1, hi = i == NZONES - 1 ? 127 : key;
      text += "  map key = " + std::to_string(lo) + ":" + std::to_string(hi) + " { data \"waves/" +
              file + "\"\n    pitch " + decimal3(pitch) + "\n";
      if (z.loop)
        text += "    loop " + std::to_string(w.size()) + "\n";
      text += "  }\n";
    }
    text += "}\n";
  }
  // Drums.
  put("kick.raw", kick());
  put("snare_a.raw", snare(11, 0.7));
  put("snare_b.raw", snare(12, 0.7));
  put("snare_hard.raw", snare(13, 1.0));
  put("hat_closed.raw", hat(0.12, 40, 21));
  put("hat_open.raw", hat(0.9, 4, 22));
  put("tom.raw", tom(110));
  put("clap.raw", clap());
  put("crash.raw", cymbal(2.5, 1.6, 31, 0.3));
  put("ride.raw", cymbal(2.0, 1.2, 32, 1.0));

  std::FILE *f = std::fopen((dir / "midisyn.conf").string().c_str(), "wb");
  if (!f)
    return 1;
  std::fputs(text.c_str(), f);
  std::fputs(R"(wav kick {
  map { data "waves/kick.raw"
  }
}
wav snare {
  # softer hits: two recordings taken at random; hard hits: a brighter one
  map vel = 0:95 rnd = 0:63 { data "waves/snare_a.raw"
  }
  map vel = 0:95 rnd = 64:127 { data "waves/snare_b.raw"
  }
  map vel = 96:127 { data "waves/snare_hard.raw"
  }
}
wav hat_closed {
  map { data "waves/hat_closed.raw"
  }
}
wav hat_open {
  map { data "waves/hat_open.raw"
  }
}
wav tom {
  map { data "waves/tom.raw"
    pitch 45
  }
}
wav clap {
  map { data "waves/clap.raw"
  }
}
wav crash {
  map { data "waves/crash.raw"
  }
}
wav ride {
  map { data "waves/ride.raw"
  }
}

# Two layers cross-faded by velocity.
patch 0 "Grand Piano" {
  layer soft {
    wav piano_soft
    shape 0 0 60 100
    vol.rtime 62
  }
  layer hard {
    wav piano_hard
    shape 60 100 127 127
    vol.rtime 62
  }
}

patch 4 "Electric Piano" {
  layer tine {
    wav epiano
    vol.rtime 64
    vol.lfo 1.5
    vol.lfoticks 12
  }
}

patch 16 "Drawbar Organ" {
  layer pipes {
    wav organ
    vol.ilevel -127
    vol.atime 40
    vol.rtime 50
    pitch.lfo 0.08
    pitch.lfotime 50
  }
}

patch 48 "Warm Strings" {
  layer ensemble {
    wav strings
    vol.ilevel -127
    vol.atime 76
    vol.rtime 78
    filt lowpass
    cut.base 100
    res.base 20
  }
  layer shimmer {
    wav strings
    delay 6
    pitch.base 76
    vol.base 112
    vol.ilevel -127
    vol.atime 82
    vol.rtime 80
    pan.lfo 40
    pan.lfotime 70
  }
}

patch 33 "Synth Bass" {
  layer body {
    wav bass
    filt lowpass
    cut.base 70
    cut.ilevel 40
    cut.atime 0
    cut.alevel 40
    cut.dtime 60
    cut.dlevel 0
    res.base 60
    vel.cut.base 24
    vol.rtime 52
  }
}

patch 81 "Saw Lead" {
  layer saw {
    wav lead
    filt lowpass
    cut.base 104
    res.base 40
    pitch.lfo 0.25
    pitch.lfotime 55
    mod.pitch.lfo 2
    vol.rtime 58
  }
}

patch 25 "Nylon Pluck" {
  layer string {
    wav pluck
    vol.rtime 60
    filt highpass
    cut.base 30
  }
}

patch 14 "Tubular Bell" {
  layer bell {
    wav bell
    release never
  }
}

# The saturator drives this one.
patch 30 "Drive Lead" {
  fx sat {
    level 110
    wave_shape tanh
    prehp 30
  }
  layer drive {
    wav lead
    output fx
    filt bandpass
    cut.base 88
    res.base 50
    vol.rtime 56
  }
}

# The drum kit, on the General MIDI keys.
drumkey 35 "Kick 2" {
  layer a {
    wav kick
    pitch.base 60
  }
}
drumkey 36 "Kick" {
  layer a {
    wav kick
  }
}
drumkey 38 "Snare" {
  layer a {
    wav snare
  }
}
drumkey 39 "Clap" {
  layer a {
    wav clap
  }
}
drumkey 40 "Snare 2" {
  layer a {
    wav snare
    pitch.base 68
  }
}
drumkey 41 "Low Floor Tom" {
  layer a {
    wav tom
    pitch.base 38
  }
}
drumkey 42 "Closed Hi-Hat" {
  ckey 46
  layer a {
    wav hat_closed
  }
}
drumkey 43 "High Floor Tom" {
  layer a {
    wav tom
    pitch.base 41
  }
}
drumkey 44 "Pedal Hi-Hat" {
  ckey 46
  layer a {
    wav hat_closed
    vol.base 120
  }
}
drumkey 45 "Low Tom" {
  layer a {
    wav tom
    pitch.base 45
  }
}
drumkey 46 "Open Hi-Hat" {
  layer a {
    wav hat_open
  }
}
drumkey 47 "Mid Tom" {
  layer a {
    wav tom
    pitch.base 48
  }
}
drumkey 48 "High Tom" {
  layer a {
    wav tom
    pitch.base 52
  }
}
drumkey 49 "Crash" {
  layer a {
    wav crash
  }
}
drumkey 51 "Ride" {
  layer a {
    wav ride
    vol.base 122
  }
}
drumkey 57 "Crash 2" {
  layer a {
    wav crash
    pitch.base 67
  }
}
)",
             f);
  std::fclose(f);
  return 0;
}
