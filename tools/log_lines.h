// log_lines.h - the command-line tools' log sink: every finished message
// of the engine code they link kept as one line, line end removed, for the
// tool to print or inspect.  Single-threaded tools only.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

inline std::vector<std::string> &tool_log_lines() {
  static std::vector<std::string> lines;
  return lines;
}

inline void tool_log_collect(const char *bytes, std::size_t n) {
  std::string s(bytes, n);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
    s.pop_back();
  tool_log_lines().push_back(s);
}
