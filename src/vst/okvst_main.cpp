// The plug-in's entry: loading the engine library for the first instance,
// creating instance records, and tearing them down again.
#include <cstdio>
#include <cstring>
#include <new>

#include "utils/alloc.h"
#include "utils/log.h"
#include "vst/okvst.h"

okvst_global okvst_g = {};

namespace {

constexpr int PATH_UNITS = 260;

// Creating and tearing down instances, the instance count and the library
// with them, one at a time whichever threads the host uses.
os_mutex *life_lock() {
  static os_static_mutex m;
  return m.get();
}

// Undoes the first-instance set-up.
void global_down() {
  if (okvst_g.lib)
    orka_unload(okvst_g.lib);
  okvst_g.lib = nullptr;
  okvst_g.mod = nullptr;
  okvst_g.ui = nullptr;
  log_close();
  conv_unregister(conv_fp);
  conv_unregister(conv_su16);
}

// Loads "<root>\<vendor>\<product>\<library>" for one root and logs the
// path tried with the outcome; null when it does not load.
void *load_below(const os_char16 *root, int len, const char *rel, int n) {
  os_char16 path[PATH_UNITS + 1];
  if (n < 0 || n >= 256 || len + n > PATH_UNITS) {
    log_printf(1, "%s: library path too long", "orka_load");
    return nullptr;
  }
  for (int i = 0; i < len; ++i)
    path[i] = root[i];
  for (int i = 0; i <= n; ++i) // each byte one unit, the terminator too
    path[len + i] = static_cast<unsigned char>(rel[i]);
  void *lib = os_dlopen(path);
  // Every path tried is named, the one that loads too.
  log_printf(1, lib ? "%s: {su16:%p}: library loaded" : "%s: {su16:%p}: couldn't load library",
             "orka_load", static_cast<const void *>(path));
  return lib;
}

} // namespace

void *orka_load(const char *vendor, const char *product, const orka_module **mod,
                const orka_ui **ui) {
  char rel[256];
  const int n = std::snprintf(rel, sizeof rel, "\\%s\\%s\\%s", vendor, product, OKVST_LIBNAME);
  os_char16 root[PATH_UNITS + 1], mine[PATH_UNITS + 1];
  void *lib = nullptr;
  int len, minelen = 0;
  // Without PROGRAMFILES (POSIX) the engine is first looked for beside the
  // folder the plug-in's own file lies in (<prefix>/lib/vst -> <prefix>/lib),
  // so that an installation works wherever it was put.
  if ((minelen = os_progfiles_beside16(2, mine, PATH_UNITS)) > 0 && minelen < PATH_UNITS)
    lib = load_below(mine, minelen, rel, n);
  if (!lib) {
    len = os_progfiles16(root, PATH_UNITS);
    if (len <= 0) {
      log_printf(1, "%s: can't get path to library", "orka_load");
      return nullptr;
    }
    if (len >= PATH_UNITS) {
      log_printf(1, "%s: library path too long", "orka_load");
      return nullptr;
    }
    if (len != minelen || std::memcmp(root, mine, sizeof(os_char16) * static_cast<std::size_t>(len)) != 0)
      lib = load_below(root, len, rel, n);
  }
  if (!lib)
    return nullptr;
  auto entry = reinterpret_cast<orka_entry_fn>(os_dlsym(lib, "orka_entry"));
  if (!entry) {
    log_printf(1, "%s: couldn't get entry point", "orka_load");
    os_dlclose(lib);
    return nullptr;
  }
  *mod = nullptr;
  *ui = nullptr;
  entry(mod, ui);
  if (!*mod) { // a library that hands out no module is of no use
    log_printf(1, "%s: couldn't get entry point", "orka_load");
    os_dlclose(lib);
    return nullptr;
  }
  log_printf(1, "%s: loaded %s-%s shared library", "orka_load", vendor, product);
  return lib;
}

void orka_unload(void *lib) {
  log_printf(1, "%s", "orka_unload");
  os_dlclose(lib);
}

// Any host thread; instances are created and torn down one at a time.
extern "C" ORKA_EXPORT vst_effect *VSTPluginMain(vst_hostcb host) {
  os_mutex_guard held(life_lock());
  if (okvst_g.ninst == 0) {
    conv_register(conv_fp, "fp:%u,%d");
    conv_register(conv_su16, "su16:%p");
    log_open(OKVST_VENDOR, OKVST_PRODUCT);
    okvst_g.lib = orka_load(OKVST_VENDOR, OKVST_PRODUCT, &okvst_g.mod, &okvst_g.ui);
    const intptr_t ver =
        okvst_g.lib && host ? host(nullptr, VST_HOST_VERSION, 0, 0, nullptr, 0.0f) : 0;
    if (!okvst_g.lib || ver == 0) {
      global_down();
      return nullptr;
    }
    log_printf(1, "vst host ver: %zd", static_cast<std::ptrdiff_t>(ver));
    if (okvst_g.mod->init)
      okvst_g.mod->init();
  }
  ++okvst_g.ninst;
  log_printf(1, "%08x: --- vstmain ---", os_thread_id());

  auto *p = ::new (xmalloc(sizeof(okvst_inst), XTAG)) okvst_inst{}; // all zero
  const orka_module *mod = okvst_g.mod;
  mod->info(&p->info);
  if (p->info.nctls > ORKA_MAXCTLS)
    p->info.nctls = ORKA_MAXCTLS;
  if (p->info.ninputs > ORKA_MAXBUS)
    p->info.ninputs = ORKA_MAXBUS;
  if (p->info.noutputs > ORKA_MAXBUS)
    p->info.noutputs = ORKA_MAXBUS;
  if (okvst_g.ninst == 1) { // the same for every instance: not written while others read it
    okvst_g.ver_major = p->info.ver_major;
    okvst_g.ver_minor = p->info.ver_minor;
    okvst_g.ver_patch = p->info.ver_patch;
  }
  p->engine = mod->new_(&OKVST_HOSTCB, p);
  p->rateidx = -1;
  p->blknext = -1;
  p->host = host;
  p->lock = os_mutex_new();

  vst_effect &e = p->effect;
  e.magic = VST_MAGIC;
  e.dispatcher = okvst_dispatch;
  e.set_parameter = okvst_setparam;
  e.get_parameter = okvst_getparam;
  e.process_replacing = okvst_process;
  e.num_programs = 1;
  e.num_params = p->info.nctls;
  e.num_inputs = p->info.ninputs;
  e.num_outputs = p->info.noutputs;
  e.flags = VST_FLAG_CAN_REPLACING | VST_FLAG_PROGRAM_CHUNKS |
            (okvst_g.ui ? VST_FLAG_HAS_EDITOR : 0) | (p->info.ninputs == 0 ? VST_FLAG_IS_SYNTH : 0);
  e.initial_delay = p->info.latency;
  e.object = p;
  e.unique_id = OKVST_UNIQUE_ID;
  e.version = ((p->info.ver_major * 10 + p->info.ver_minor) * 10 + p->info.ver_patch) * 10;
  log_printf(1, "latency = %d", p->info.latency);

  std::snprintf(p->preset, sizeof p->preset, "%s", p->info.preset ? p->info.preset : "");
  for (int i = 0; i < p->info.nctls; ++i) {
    orka_ctlinfo ci{};
    mod->ctlinfo(i, &ci);
    p->ctls[i].max = ci.nvals - 1;
    p->ctls[i].val.store(ci.def, OKVST_RLX);
    p->ctls[i].uival.store(-1, OKVST_RLX);
  }
  return &p->effect;
}

void okvst_teardown(okvst_inst *p) {
  if (p->editor) // waits for the window's thread: not under the life lock
    okvst_ui_stop(p);
  os_mutex_guard held(life_lock());
  const orka_module *mod = okvst_g.mod;
  mod->del(p->engine);
  if (p->bus) {
    log_printf(1, "freeing bus");
    xfree(p->bus);
    p->bus = nullptr;
  }
  os_mutex_delete(p->lock);
  --okvst_g.ninst;
  if (okvst_g.ninst == 0 && mod->done)
    mod->done();
  if (p->chunk)
    xfree(p->chunk);
  xfree(p);
  if (okvst_g.ninst == 0)
    global_down();
}
