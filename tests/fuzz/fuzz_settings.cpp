// The settings-text reader on arbitrary bytes, over a table whose value
// texts hold blanks, "#" and "-", over the reverb's table with its
// aliases, and over the synthesizer's own table (its 22 controls, the
// effects' under their prefixes) with the patch names of a small
// definition written at start-up.  Whatever it reads, writing that and
// reading it back gives the same name and values, and writing again the
// same text: print, scan, print is a fixed point.  Values written read
// back as themselves: every value of every control once at start-up, and
// values drawn from each input's hash.  The reader never reads past the
// length.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "module/settings.h"
#include "platform/os.h"
#include "rev/rev.h"
#include "settings_table.h"
#include "synth/note/synth.h"

namespace {

// Patch names as definitions give them: "#", "-", "=", quotes and a
// backslash inside, blanks before and after, names that begin other names
// (the drum kit's "Percussions" among them), a number, bytes above 127, the
// longest name a patch may have, and a duplicate the loader makes unique
// ("Lead 30").
const char *const CONF = R"(wav w {
  map { data "w.raw"
  }
}
patch 0 "Grand Piano" {
  layer x {
    wav w
  }
}
patch 1 "E.Piano #2" {
  layer x {
    wav w
  }
}
patch 2 "E.Piano" {
  layer x {
    wav w
  }
}
patch 3 "Organ " {
  layer x {
    wav w
  }
}
patch 4 "Organ" {
  layer x {
    wav w
  }
}
patch 5 " Lead" {
  layer x {
    wav w
  }
}
patch 6 "Lead" {
  layer x {
    wav w
  }
}
patch 7 "Pad - warm # 3 = soft" {
  layer x {
    wav w
  }
}
patch 8 "Say \"hi\" \\ there" {
  layer x {
    wav w
  }
}
patch 9 "Forty-six characters long, with # and - in it." {
  layer x {
    wav w
  }
}
patch 10 "Fl)" "\xC3\xBC" R"(gel" {
  layer x {
    wav w
  }
}
patch 11 "Percussion" {
  layer x {
    wav w
  }
}
patch 12 "12" {
  layer x {
    wav w
  }
}
patch 30 "Lead" {
  layer x {
    wav w
  }
}
drumkey 36 {
  layer x {
    wav w
  }
}
)";
constexpr int NPATCHES = 14; // and the drum kit

void put(const std::string &path, const std::string &bytes) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
    std::abort();
  std::fclose(f);
}

// Writes the definition below a fresh folder and sets the engine up from
// it; the files go again once read.
void setup_synth() {
  char tmpl[] = "/tmp/fuzz_settings.XXXXXX";
  if (!mkdtemp(tmpl))
    std::abort();
  const std::string root = tmpl;
  const std::string data = root + "/Glimra/Synth/data";
  for (const std::string &d : {root + "/Glimra", root + "/Glimra/Synth", data})
    mkdir(d.c_str(), 0700);
  const std::string conf = data + "/midisyn.conf", wave = data + "/w.raw";
  put(conf, CONF);
  put(wave, std::string(64, '\x11'));
  setenv("PROGRAMFILES", root.c_str(), 1);
  setenv("APPDATA", root.c_str(), 1); // no log folder: logging stays off
  os_set_default_root("");
  SYNTH_MODULE.init();
  std::remove(conf.c_str());
  std::remove(wave.c_str());
  for (const std::string &d : {data, root + "/Glimra/Synth", root + "/Glimra", root})
    rmdir(d.c_str());
  orka_ctlinfo ci{};
  SYNTH_MODULE.ctlinfo(0, &ci);
  if (ci.nvals != NPATCHES + 1)
    std::abort(); // the definition did not load: the patch texts would be the fallback's
  std::atexit([] { SYNTH_MODULE.done(); });
}

// The text a module's pair writes for a name and values.
std::string print(const orka_module *mod, const char *name, const int *vals) {
  const std::size_t n = mod->print(nullptr, name, vals, nullptr);
  std::string s(n, '\0');
  if (mod->print(nullptr, name, vals, s.data()) != n)
    std::abort();
  return s;
}

// Values written under a name read back as themselves: no two values of a
// control share a text (a patch name shown cut or tidied would make one
// patch reload as another).
void reads_back(const orka_module *mod, const char *name, const int *vals) {
  orka_info info{};
  mod->info(&info);
  const std::string written = print(mod, name, vals);
  char name2[ORKA_TEXTLEN];
  int back[ORKA_MAXCTLS];
  if (mod->scan(nullptr, name2, back, written.data(), written.size()) != written.size())
    std::abort();
  if (std::strcmp(name, name2) != 0 || std::memcmp(vals, back, sizeof(int) * info.nctls) != 0)
    std::abort();
}

// The module's controls.
std::vector<orka_ctlinfo> controls(const orka_module *mod) {
  orka_info info{};
  mod->info(&info);
  std::vector<orka_ctlinfo> out(static_cast<std::size_t>(info.nctls));
  for (int i = 0; i < info.nctls; ++i)
    mod->ctlinfo(i, &out[static_cast<std::size_t>(i)]);
  return out;
}

// Every value of every control, the others at their defaults.
void every_value_reads_back(const orka_module *mod) {
  orka_info info{};
  mod->info(&info);
  const std::vector<orka_ctlinfo> ctls = controls(mod);
  int vals[ORKA_MAXCTLS];
  for (std::size_t i = 0; i < ctls.size(); ++i)
    vals[i] = ctls[i].def;
  for (std::size_t i = 0; i < ctls.size(); ++i) {
    const int keep = vals[i];
    for (int v = 0; v < ctls[i].nvals; ++v) {
      vals[i] = v;
      reads_back(mod, info.preset ? info.preset : "", vals);
    }
    vals[i] = keep;
  }
}

// Values of all controls at once, drawn from a hash of the input.
void input_values_read_back(const orka_module *mod, const char *name, const char *text,
                            std::size_t size) {
  std::uint32_t h = 2166136261u;
  for (std::size_t k = 0; k < size; ++k)
    h = (h ^ static_cast<unsigned char>(text[k])) * 16777619u;
  const std::vector<orka_ctlinfo> ctls = controls(mod);
  int vals[ORKA_MAXCTLS];
  for (std::size_t i = 0; i < ctls.size(); ++i) {
    h = h * 1664525u + 1013904223u;
    vals[i] = ctls[i].nvals > 0 ? static_cast<int>((h >> 8) % static_cast<std::uint32_t>(ctls[i].nvals)) : 0;
  }
  reads_back(mod, name, vals);
}

void fixed_point(const orka_module *mod, const char *text, std::size_t size) {
  char name[ORKA_TEXTLEN];
  int vals[ORKA_MAXCTLS];
  if (mod->scan(nullptr, name, vals, text, size) > size)
    std::abort();
  if (std::memchr(name, 0, sizeof name) == nullptr)
    std::abort(); // the name is always terminated
  // What was read, written, is read back whole and as it was: print, scan,
  // print is then a fixed point.
  reads_back(mod, name, vals);
  input_values_read_back(mod, name, text, size);
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

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setup_synth();
  for (const orka_module *mod : {&TABLE, &REV_MODULE, &SYNTH_MODULE})
    every_value_reads_back(mod);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const char *text = reinterpret_cast<const char *>(data);
  fixed_point(&TABLE, text, size);
  fixed_point(&REV_MODULE, text, size);
  fixed_point(&SYNTH_MODULE, text, size);
  return 0;
}
