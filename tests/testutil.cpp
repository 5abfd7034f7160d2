#include <cmath>
#include "testutil.h"

#include <atomic>
#include <thread>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/os.h"
#include "utils/log.h"

namespace fs = std::filesystem;

namespace testutil {

namespace {
// Lines from any thread; a spin lock, as the counting of locks in the
// real-time tests must not see the capture.
std::vector<std::string> g_lines;
std::atomic_flag g_busy = ATOMIC_FLAG_INIT;
struct lines_guard {
  lines_guard() {
    while (g_busy.test_and_set(std::memory_order_acquire))
      std::this_thread::yield();
  }
  ~lines_guard() { g_busy.clear(std::memory_order_release); }
};
void capture_sink(const char *bytes, std::size_t n) {
  std::string s(bytes, n);
  if (!s.empty() && s.back() == '\n')
    s.pop_back();
  lines_guard held;
  g_lines.push_back(s);
}
unsigned g_counter = 0;
} // namespace

tempdir::tempdir() {
  fs::path base = fs::temp_directory_path();
  for (;;) {
    fs::path p = base / ("orka-test-" + std::to_string(os_thread_id()) + "-" +
                         std::to_string(++g_counter) + "-" + std::to_string(std::rand()));
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p.string();
      return;
    }
  }
}

tempdir::~tempdir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string tempdir::file(const std::string &rel) const { return (fs::path(path_) / rel).string(); }

void write_file(const std::string &path, const std::string &bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void make_dirs(const std::string &path) { fs::create_directories(path); }

void set_env(const char *name, const char *value) {
#ifdef _WIN32
  auto n = u16(name);
  if (value) {
    auto v = u16(value);
    SetEnvironmentVariableW(reinterpret_cast<LPCWSTR>(n.data()), reinterpret_cast<LPCWSTR>(v.data()));
  } else {
    SetEnvironmentVariableW(reinterpret_cast<LPCWSTR>(n.data()), nullptr);
  }
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

log_capture::log_capture(int level) : saved_level_(log_level), saved_sink_(log_sink) {
  clear();
  log_level = level;
  log_sink = capture_sink;
}

log_capture::~log_capture() {
  log_level = saved_level_;
  log_sink = saved_sink_;
}

const std::vector<std::string> &log_capture::lines() const { return g_lines; }

std::string log_capture::all() const {
  lines_guard held;
  std::string s;
  for (auto &l : g_lines)
    s += l + "\n";
  return s;
}

bool log_capture::has(const std::string &line) const {
  lines_guard held;
  for (auto &l : g_lines)
    if (l == line)
      return true;
  return false;
}

void log_capture::clear() {
  lines_guard held;
  g_lines.clear();
}

std::string raw_sine(double period, int cycles, double amp) {
  std::string s;
  const int n = static_cast<int>(std::lround(period * cycles));
  for (int i = 0; i < n; ++i) {
    const auto v = static_cast<std::int16_t>(std::lround(amp * std::sin(2 * TEST_PI * i / period)));
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
  }
  return s;
}

std::vector<std::uint16_t> u16(const std::string &s) {
  std::vector<std::uint16_t> v(s.size() * 2 + 1);
  os_widen(s.c_str(), v.data(), static_cast<int>(v.size()));
  return v;
}

} // namespace testutil
