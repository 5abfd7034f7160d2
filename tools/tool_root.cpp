// The installation beside a command-line tool's own program.
#include "tool_root.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/os.h"

std::string tool_installdir() {
  os_char16 root[OS_PATHMAX + 1];
  const int n = os_progfiles_tool16(root, OS_PATHMAX + 1);
  if (n <= 0 || n > OS_PATHMAX)
    return {};
  std::vector<char> utf8(static_cast<std::size_t>(n) * 3 + 1);
  os_utf16_to_utf8(root, utf8.data(), utf8.size());
  const std::string dir = std::string(utf8.data()) + "/Glimra/Synth";
  std::error_code ec;
  return std::filesystem::is_regular_file(dir + "/data/midisyn.conf", ec) ? dir : std::string();
}

tool_data_link::tool_data_link(const std::string &dir) {
  namespace fs = std::filesystem;
  static std::atomic<int> serial{0};
  std::error_code ec;
  const fs::path target = fs::absolute(dir, ec);
  const fs::path root = fs::temp_directory_path(ec) /
                        ("glimra-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
  fs::remove_all(root, ec);
  fs::create_directories(root, ec);
  if (!ec)
    fs::create_directory_symlink(target, root / "data", ec);
  if (ec) {
    error_ = root.string() + ": " + ec.message();
    fs::remove_all(root, ec);
    return;
  }
  root_ = root.string();
}

tool_data_link::~tool_data_link() {
  std::error_code ec;
  if (!root_.empty())
    std::filesystem::remove_all(root_, ec); // the link, not what it points to
}
