// The installation beside a command-line tool's own program.
#include "tool_root.h"

#include <filesystem>
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
