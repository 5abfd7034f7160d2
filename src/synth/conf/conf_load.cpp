// Reading definition files, and the model's set-up and tear-down.
#include <cstdio>
#include <cstring>

#include "saturator/sat.h"
#include "synth/conf/conf.h"
#include "synth/patch/patch.h"
#include "synth/wave/wave.h"
#include "utils/alloc.h"
#include "utils/appdata.h"
#include "utils/log.h"

const char CONF_DISCARDED[] = "instrument definition discarded: no patches loaded";
conf_fault conf_first_fault;
bool conf_read_toplevel = false;

namespace {

// Builds the loader's path; false after the message when it is too long.
bool make_path(conf_loader *ld, const conf_loader *parent, const char *name) {
  const std::size_t nlen = std::strlen(name);
  const std::size_t dlen = parent ? static_cast<std::size_t>(parent->dirlen) : 0;
  if (dlen + nlen + 1 > CONF_PATHLEN) {
    log_printf(1, "%s: path too long", name);
    return false;
  }
  if (parent)
    std::memcpy(ld->path, parent->path, dlen);
  for (std::size_t i = 0; i <= nlen; ++i)
    ld->path[dlen + i] = parent && name[i] == '/' ? '\\' : name[i];
  const char *sep = std::strrchr(ld->path, '\\');
  ld->dirlen = sep ? static_cast<int>(sep - ld->path + 1) : 0;
  return true;
}

// Once the top-level file is read, the wave table gets the waves in order.
bool fill_wave_table(const conf_loader *ld) {
  std::memset(wave_table, 0, sizeof wave_table);
  int i = 0;
  for (wave *w = wave_list; w; w = w->next) {
    if (i == WAVE_MAX) {
      log_printf(1, "%s: too many waves", ld->path);
      return false;
    }
    wave_table[i++] = w;
  }
  return true;
}

} // namespace

bool conf_load(conf_loader *parent, const char *name) {
  // The record holds the parse stack; zeroing it means no frame owns anything.
  conf_loader ld;
  std::memset(&ld, 0, sizeof ld);
  ld.parent = parent;
  ld.depth = parent ? parent->depth + 1 : 1;
  if (!make_path(&ld, parent, name))
    return false;
  if (ld.depth > CONF_DEPTH) {
    log_printf(1, "%s: load nested too deep", ld.path);
    return false;
  }
  // Every file tried counts, read or not: "load" lines may fan out.
  ld.files = parent ? parent->files : &ld.nfiles;
  if (++*ld.files > CONF_MAXFILES) {
    log_printf(1, "%s: too many files", ld.path);
    return false;
  }
  log_printf(1, "loading %s", ld.path);
  std::size_t size = 0;
  void *bytes = appdata_loadres("Glimra", "Synth", ld.path, &size);
  if (!bytes)
    return true; // the reader has said why; what was defined so far stands
  if (!parent)
    conf_read_toplevel = true;

  conf_lex_init(&ld.lx, conf_parse, &ld);
  ld.stack[0].state = PARSE_PROG;
  ld.top = 0;
  const auto *b = static_cast<const unsigned char *>(bytes);
  for (std::size_t i = 0; i < size && !ld.failed; ++i)
    conf_lex(&ld.lx, b[i]);
  // The end of input ends the last token: a last line without its line
  // feed reads as if it had one.
  if (!ld.failed && size > 0 && b[size - 1] != '\n')
    conf_lex(&ld.lx, '\n');
  if (!ld.failed)
    conf_lex(&ld.lx, -1);
  xfree(bytes);

  if (!ld.failed && ld.lx.state != conf_lexstate::idle) {
    log_printf(1, "bad lexer state");
    ld.failed = true;
  } else if (!ld.failed && ld.top != 0) {
    log_printf(1, "stack not empty");
    ld.failed = true;
  }
  if (ld.failed) {
    conf_release_frames(&ld);
    return false;
  }
  return parent || fill_wave_table(&ld);
}

void conf_init() {
  orka_info info{};
  SAT_MODULE.info(&info);
  fx_nctls = info.nctls;
  std::memset(patch_table, 0, sizeof patch_table);
  std::memset(drumkey_table, 0, sizeof drumkey_table);
  std::memset(wave_table, 0, sizeof wave_table);
  wave_list = nullptr;
}

void conf_done() { patch_free_all(); }

bool conf_setup() {
  conf_init();
  conf_first_fault = conf_fault{};
  conf_read_toplevel = false;
  char path[256];
  std::snprintf(path, sizeof path, "data%c%s", '\\', "midisyn.conf");
  bool ok = conf_load(nullptr, path);
  if (ok) {
    patch_unique_names();
    log_printf(2, "loading waves...");
    for (wave *w = wave_list; w && ok; w = w->next)
      ok = wave_load(w);
    if (ok)
      log_printf(2, "done");
  }
  if (!ok) {
    // Nothing of a definition in error is used: the instrument comes up
    // empty and silent, and the host process goes on.
    patch_free_all();
    wave_free_all();
    log_printf(1, "%s", CONF_DISCARDED);
  }
  return ok;
}

void conf_teardown() {
  conf_done();
  log_printf(2, "unloading waves");
  wave_free_all();
}
