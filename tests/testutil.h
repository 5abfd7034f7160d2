// Helpers shared by the tests: temporary folders, environment, log capture.
#pragma once

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

// Captures log messages while alive, at the given level.
class log_capture {
public:
  explicit log_capture(int level = 9);
  ~log_capture();
  const std::vector<std::string> &lines() const;
  std::string all() const;
  bool has(const std::string &line) const;
  void clear();

private:
  int saved_level_;
  void (*saved_sink_)(const char *, std::size_t);
};

// UTF-16 form of an 8-bit path.
std::vector<std::uint16_t> u16(const std::string &s);

} // namespace testutil
