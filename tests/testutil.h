// Helpers shared by the tests: temporary folders, environment, log capture.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

// Pi, for test signals (TEST_PI is not standard).
constexpr double TEST_PI = 3.14159265358979323846;

namespace testutil {

// A fresh empty folder below the system's temporary folder, removed when
// the object goes.
class tempdir {
public:
  tempdir();
  ~tempdir();
  const std::string &path() const { return path_; }
  // Path of a file inside, with the platform's separator.
  std::string file(const std::string &rel) const;

private:
  std::string path_;
};

void write_file(const std::string &path, const std::string &bytes);
std::string read_file(const std::string &path);
void make_dirs(const std::string &path);

// Sets (value non-null) or clears an environment variable, as the
// platform layer reads it.
void set_env(const char *name, const char *value);

// Captures log messages while alive, at the given level, from any thread.
class log_capture {
public:
  explicit log_capture(int level = 9);
  ~log_capture();
  // Read it once no other thread logs; all, has and clear may be used at
  // any time.
  const std::vector<std::string> &lines() const;
  std::string all() const;
  bool has(const std::string &line) const;
  void clear();

private:
  int saved_level_;
  void (*saved_sink_)(const char *, std::size_t);
};

// Raw 16-bit little-endian data of a sine: period in samples, whole cycles.
std::string raw_sine(double period, int cycles, double amp);

// Frequency of a signal from its rising zero crossings (interpolated),
// over samples from ... to of every stride-th value.
template <typename T>
double frequency_of(const std::vector<T> &s, std::size_t from, std::size_t to, double rate,
                    std::size_t stride = 1) {
  double first = -1, last = -1;
  int count = 0;
  if (to > s.size())
    to = s.size();
  for (std::size_t i = from + stride; i < to; i += stride) {
    const double a = static_cast<double>(s[i - stride]), b = static_cast<double>(s[i]);
    if (a < 0 && b >= 0) {
      const double x = static_cast<double>(i - stride) / stride + (-a) / (b - a);
      if (first < 0)
        first = x;
      else
        ++count;
      last = x;
    }
  }
  return count > 0 ? rate * count / (last - first) : 0.0;
}

// Amplitude of the component at frequency f (cycles per sample), measured
// over a whole number of its periods at the end of a signal.
template <typename T> double amplitude_at(const std::vector<T> &x, double f, int periods) {
  const std::size_t len = static_cast<std::size_t>(std::lround(periods / f));
  double c = 0, s = 0;
  for (std::size_t i = x.size() - len; i < x.size(); ++i) {
    c += static_cast<double>(x[i]) * std::cos(2 * TEST_PI * f * static_cast<double>(i));
    s += static_cast<double>(x[i]) * std::sin(2 * TEST_PI * f * static_cast<double>(i));
  }
  return 2 * std::hypot(c, s) / static_cast<double>(len);
}

// UTF-16 form of an 8-bit path.
std::vector<std::uint16_t> u16(const std::string &s);

} // namespace testutil
