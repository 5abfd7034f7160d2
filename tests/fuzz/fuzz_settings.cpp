// The settings-text reader on arbitrary bytes, over a table whose value
// texts hold blanks, "#" and "-", and over the reverb's table with its
// aliases.  Whatever it reads, writing that and reading it back gives the
// same name and values, and writing again the same text: print, scan,
// print is a fixed point.  The reader never reads past the length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "module/settings.h"
#include "rev/rev.h"
#include "settings_table.h"

namespace {

// The text a module's pair writes for a name and values.
std::string print(const orka_module *mod, const char *name, const int *vals) {
  const std::size_t n = mod->print(nullptr, name, vals, nullptr);
  std::string s(n, '\0');
  if (mod->print(nullptr, name, vals, s.data()) != n)
    std::abort();
  return s;
}

void fixed_point(const orka_module *mod, const char *text, std::size_t size) {
  orka_info info{};
  mod->info(&info);
  char name[ORKA_TEXTLEN];
  int vals[ORKA_MAXCTLS];
  if (mod->scan(nullptr, name, vals, text, size) > size)
    std::abort();
  if (std::memchr(name, 0, sizeof name) == nullptr)
    std::abort(); // the name is always terminated
  const std::string once = print(mod, name, vals);
  char name2[ORKA_TEXTLEN];
  int vals2[ORKA_MAXCTLS];
  // The written text is read whole, and as it was written.
  if (mod->scan(nullptr, name2, vals2, once.data(), once.size()) != once.size())
    std::abort();
  if (std::strcmp(name, name2) != 0 || std::memcmp(vals, vals2, sizeof(int) * info.nctls) != 0)
    std::abort();
  if (print(mod, name2, vals2) != once)
    std::abort();
}

// The test table with the library's own pair of print and scan.
std::size_t table_print(void *, const char *preset, const int *vals, char *buf) {
  return orka_print(&settings_table::MOD, preset, vals, buf);
}
std::size_t table_scan(void *, char preset[ORKA_TEXTLEN], int *vals, const char *text,
                       std::size_t len) {
  const char *pos = text;
  std::size_t left = len;
  return orka_scan(&settings_table::MOD, preset, vals, &pos, &left)
             ? static_cast<std::size_t>(pos - text)
             : 0;
}
orka_module with_pair() {
  orka_module m = settings_table::MOD;
  m.print = table_print;
  m.scan = table_scan;
  return m;
}
const orka_module TABLE = with_pair();

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const char *text = reinterpret_cast<const char *>(data);
  fixed_point(&TABLE, text, size);
  fixed_point(&REV_MODULE, text, size);
  return 0;
}
