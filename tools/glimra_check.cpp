// glimra-check [DIR]: reads an instrument definition the way the engine's
// set-up does and reports the first error, or warnings and a summary of
// what it defines.
//
// DIR is an installation directory (the folder holding "data"); without it
// the installation the program belongs to is read (beside its own bin
// folder), else the installed one.  Exit status: 0 loaded, 1 an error or
// no definition at all, 2 usage.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "check_warn.h"
#include "synth/conf/conf.h"
#include "synth/patch/patch.h"
#include "synth/wave/wave.h"
#include "utils/appdata.h"
#include "log_lines.h"
#include "tool_root.h"
#include "utils/log.h"

namespace {


// Progress lines are not findings.
bool is_progress(const std::string &s) { return s.rfind("loading ", 0) == 0; }

// The first parser error as the engine logs it, and with the line of the
// value at fault.
std::string fault_line(int line) {
  const conf_fault &f = conf_first_fault;
  if (!f.line)
    return {};
  std::string s = f.path + (": " + std::to_string(line) + ": ") + f.message;
  if (s.size() > 255) // the log's longest message
    s.resize(255);
  return s;
}
std::string logged_fault() { return fault_line(conf_first_fault.line); }
std::string named_fault() { return fault_line(conf_first_fault.value_line); }

int count_layers(const patch *p) {
  int n = 0;
  for (const layer &l : p->layers)
    n += l.wave >= 0;
  return n;
}

void count_maps(const map *m, int *maps, long long *bytes) {
  if (!m)
    return;
  ++*maps;
  *bytes += 2LL * m->nsamples;
  count_maps(m->left, maps, bytes);
  count_maps(m->right, maps, bytes);
}

void list_table(const char *what, patch *const *table, int *count, int *layers) {
  for (int i = 0; i < PATCH_MAX; ++i) {
    const patch *p = table[i];
    if (!p)
      continue;
    const int nl = count_layers(p);
    std::printf("%s %3d \"%s\": %d layer%s%s\n", what, i, p->name, nl, nl == 1 ? "" : "s",
                p->effect == 0 ? ", fx sat" : "");
    ++*count;
    *layers += nl;
  }
}

} // namespace

int main(int argc, char **argv) {
  if (argc > 2 || (argc == 2 && (std::strcmp(argv[1], "-h") == 0 ||
                                 std::strcmp(argv[1], "--help") == 0))) {
    std::fprintf(stderr, "usage: glimra-check [DIR]\n"
                         "Reads DIR/data/midisyn.conf, or DIR/midisyn.conf when DIR has no\n"
                         "data folder (default: the installed instrument), and its wave data\n"
                         "as the synthesizer does.\n");
    return 2;
  }
  if (argc == 2 && !argv[1][0]) {
    std::printf("glimra-check: empty folder name\n");
    return 1;
  }
  std::string mine = argc == 2 ? std::string(argv[1]) : tool_installdir();
  // A definition folder by another name, as glimra-import writes one, is
  // read through a scratch installation whose data folder links to it.
  std::unique_ptr<tool_data_link> link;
  std::error_code ec;
  if (argc == 2 && !std::filesystem::exists(mine + "/data/midisyn.conf", ec) &&
      std::filesystem::is_regular_file(mine + "/midisyn.conf", ec)) {
    link = std::make_unique<tool_data_link>(mine);
    if (!link->root().empty())
      mine = link->root();
  }
  if (!mine.empty())
    appdata_set_installdir(mine.c_str());
  log_level = 1;
  log_sink = tool_log_collect;
  conv_register(conv_su16, "su16:%p");

  const bool ok = conf_setup();
  int status = 0;
  if (!ok || !conf_read_toplevel) {
    // The error and the messages that explain it, as the engine logs them,
    // but for the line of a value found at fault only on the next line.
    const std::string fault = logged_fault(), named = named_fault();
    bool started = false;
    for (const std::string &s : tool_log_lines()) {
      if (s == CONF_DISCARDED)
        break;
      started = started || !is_progress(s);
      if (started)
        std::printf("%s\n", s == fault ? named.c_str() : s.c_str());
    }
    if (ok)
      std::printf("glimra-check: no instrument definition\n");
    status = 1;
  } else {
    for (const std::string &s : tool_log_lines())
      if (!is_progress(s))
        std::fprintf(stderr, "warning: %s\n", s.c_str());
    for (const std::string &s : check_warnings())
      std::fprintf(stderr, "warning: %s\n", s.c_str());
    int nwaves = 0, nmaps = 0, npatches = 0, ndrums = 0, nlayers = 0;
    long long bytes = 0;
    for (const wave *w = wave_list; w; w = w->next, ++nwaves)
      count_maps(w->maps, &nmaps, &bytes);
    list_table("patch", patch_table, &npatches, &nlayers);
    list_table("drumkey", drumkey_table, &ndrums, &nlayers);
    std::printf("waves: %d, maps: %d, patches: %d, drum keys: %d, layers: %d, "
                "sample memory: %lld bytes\n",
                nwaves, nmaps, npatches, ndrums, nlayers, bytes);
  }
  conf_teardown();
  conv_unregister(conv_su16);
  return status;
}
