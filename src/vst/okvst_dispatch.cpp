// The dispatcher: every host opcode the engine's model can serve, answered
// on the instance record under its lock (but for the editor and event
// opcodes), with one log line per call.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "utils/alloc.h"
#include "utils/log.h"
#include "vst/okvst.h"

namespace {

const char *const OPNAMES[VST_EFF_NOPCODES] = {
    "Open", "Close", "SetProgram", "GetProgram", "SetProgramName", "GetProgramName",
    "GetParamLabel", "GetParamDisplay", "GetParamName", "GetVu", "SetSampleRate",
    "SetBlockSize", "MainsChanged", "EditGetRect", "EditOpen", "EditClose", "EditDraw",
    "EditMouse", "EditKey", "EditIdle", "EditTop", "EditSleep", "Identify", "GetChunk",
    "SetChunk", "ProcessEvents", "CanBeAutomated", "String2Parameter",
    "GetNumProgramCategories", "GetProgramNameIndexed", "CopyProgram", "ConnectInput",
    "ConnectOutput", "GetInputProperties", "GetOutputProperties", "GetPlugCategory",
    "GetCurrentPosition", "GetDestinationBuffer", "OfflineNotify", "OfflinePrepare",
    "OfflineRun", "ProcessVarIo", "SetSpeakerArrangement", "SetBlockSizeAndSampleRate",
    "SetBypass", "GetEffectName", "GetErrorText", "GetVendorString", "GetProductString",
    "GetVendorVersion", "VendorSpecific", "CanDo", "GetTailSize", "Idle", "GetIcon",
    "SetViewPosition", "GetParameterProperties", "KeysRequired", "GetVstVersion",
    "EditKeyDown", "EditKeyUp", "SetEditKnobMode", "GetMidiProgramName",
    "GetCurrentMidiProgram", "GetMidiProgramCategory", "HasMidiProgramsChanged",
    "GetMidiKeyName", "BeginSetProgram", "EndSetProgram", "GetSpeakerArrangement",
    "ShellGetNextPlugin", "StartProcess", "StopProcess", "SetTotalSampleToProcess",
    "SetPanLaw", "BeginLoadBank", "BeginLoadProgram", "SetProcessPrecision",
    "GetNumMidiInputChannels", "GetNumMidiOutputChannels",
};

const char *opname(int op) { return op >= 0 && op < VST_EFF_NOPCODES ? OPNAMES[op] : "unknown"; }

// Copies text into a host buffer of size bytes, cut to fit.
void put_text(void *ptr, std::size_t size, const char *text) {
  if (!ptr || size == 0)
    return;
  auto *out = static_cast<char *>(ptr);
  std::size_t n = 0;
  for (; n + 1 < size && text[n]; ++n)
    out[n] = text[n];
  out[n] = 0;
}

bool valid_ctl(const okvst_inst *p, int i) { return i >= 0 && i < p->info.nctls; }

// (Re)allocates the bus buffers for a block size.
void set_block_size(okvst_inst *p, int blksz) {
  if (p->bus)
    xfree(p->bus);
  p->bus = nullptr;
  p->blksz = blksz < 0 ? 0 : blksz;
  const int nbus = p->info.ninputs + p->info.noutputs;
  p->bus = static_cast<std::int32_t *>(
      xmalloc(sizeof(std::int32_t) * static_cast<std::size_t>(nbus) * p->blksz, XTAG));
  log_printf(1, "buf = %p", static_cast<void *>(p->bus));
  std::int32_t *slice = p->bus;
  for (int i = 0; i < ORKA_MAXBUS; ++i)
    p->inbus[i] = p->outbus[i] = nullptr;
  for (int i = 0; i < p->info.ninputs; ++i, slice += p->blksz) {
    p->inbus[i] = slice;
    log_printf(1, "in[%d] = %p", i, static_cast<void *>(slice));
  }
  for (int i = 0; i < p->info.noutputs; ++i, slice += p->blksz) {
    p->outbus[i] = slice;
    log_printf(1, "out[%d] = %p", i, static_cast<void *>(slice));
  }
}

void engine_start(okvst_inst *p) {
  const orka_module *mod = okvst_g.mod;
  if (p->blknext >= 0) { // set while the engine ran
    set_block_size(p, p->blknext);
    p->blknext = -1;
  }
  mod->start(p->engine, p->rateidx, p->blksz);
  okvst_send_all(p);
  mod->reset(p->engine);
  p->started.store(1, std::memory_order_release); // with the bus and size
}

void param_display(okvst_inst *p, int i, char *out) {
  const orka_module *mod = okvst_g.mod;
  char text[ORKA_TEXTLEN] = {};
  const int v = p->ctls[i].val.load(OKVST_RLX);
  if (mod->printval) {
    mod->printval(i, v, text);
  } else {
    orka_ctlinfo ci{};
    mod->ctlinfo(i, &ci);
    if (ci.type == ORKA_CTL_SEL && mod->selinfo)
      mod->selinfo(i, v, text);
    else
      std::snprintf(text, sizeof text, "%d", v);
  }
  text[ORKA_TEXTLEN - 1] = 0;
  put_text(out, 8, text);
}

void param_name(int i, char *out) {
  orka_ctlinfo ci{};
  okvst_g.mod->ctlinfo(i, &ci);
  ci.name[ORKA_TEXTLEN - 1] = ci.label[ORKA_TEXTLEN - 1] = 0;
  put_text(out, 8, ci.label[0] ? ci.label : ci.name);
}

intptr_t param_props(okvst_inst *p, int i, vst_param_props *pp) {
  if (!valid_ctl(p, i) || !pp)
    return 0;
  orka_ctlinfo ci{};
  okvst_g.mod->ctlinfo(i, &ci);
  ci.name[ORKA_TEXTLEN - 1] = ci.label[ORKA_TEXTLEN - 1] = 0;
  if (ci.type == ORKA_CTL_NUM) {
    const float step = ci.nvals > 1 ? static_cast<float>(1.0 / (ci.nvals - 1)) : 1.0f;
    pp->step = pp->small_step = pp->large_step = step;
    pp->flags = 0;
  } else if (ci.type == ORKA_CTL_SWITCH || ci.type == ORKA_CTL_SEL) {
    pp->min_integer = 0;
    pp->max_integer = ci.nvals - 1;
    pp->step_integer = pp->large_step_integer = 1;
    pp->flags = VST_PARAM_USES_INT_MINMAX | VST_PARAM_USES_INT_STEP;
  } else {
    pp->flags = 0;
  }
  put_text(pp->label, sizeof pp->label, ci.label[0] ? ci.label : ci.name);
  return 1;
}

intptr_t get_chunk(okvst_inst *p, void *ptr) {
  const orka_module *mod = okvst_g.mod;
  char name[ORKA_TEXTLEN];
  std::memcpy(name, p->preset, sizeof name);
  int vals[ORKA_MAXCTLS] = {};
  for (int i = 0; i < p->info.nctls; ++i)
    vals[i] = p->ctls[i].val.load(OKVST_RLX);
  if (p->chunk)
    xfree(p->chunk);
  p->chunk = nullptr;
  p->chunksz = 0;
  const std::size_t len = mod->print ? mod->print(p->engine, name, vals, nullptr) : 0;
  p->chunk = static_cast<char *>(xmalloc(len ? len : 1, XTAG));
  if (len)
    mod->print(p->engine, name, vals, p->chunk);
  p->chunksz = len;
  if (ptr)
    *static_cast<void **>(ptr) = p->chunk;
  return static_cast<intptr_t>(len);
}

// The longest state text taken; a longer length is a host's mistake, and
// reading as far would run past its buffer.
constexpr intptr_t CHUNK_MAX = 1 << 20;

void set_chunk(okvst_inst *p, const void *ptr, intptr_t len) {
  const orka_module *mod = okvst_g.mod;
  // Nothing to read: the state stays as it is.
  if (!ptr || len < 0 || len > CHUNK_MAX) {
    log_printf(1, "setchunk: %s: state kept", !ptr ? "no text" : "bad size");
    return;
  }
  if (!mod->scan)
    return;
  char name[ORKA_TEXTLEN] = {};
  int vals[ORKA_MAXCTLS] = {};
  mod->scan(p->engine, name, vals, static_cast<const char *>(ptr), static_cast<std::size_t>(len));
  name[ORKA_TEXTLEN - 1] = 0;
  std::memcpy(p->preset, name, sizeof p->preset);
  p->presetchg.store(1, OKVST_RLX);
  for (int i = 0; i < p->info.nctls; ++i) { // whatever the module read, within range
    const int v = vals[i];
    p->ctls[i].val.store(v < 0 ? 0 : v > p->ctls[i].max ? p->ctls[i].max : v, OKVST_RLX);
  }
  okvst_ui_post(p); // when an editor exists
}

intptr_t can_do(okvst_inst *, const char *text) {
  if (!text)
    return 0;
  if (!std::strcmp(text, "receiveVstMidiEvent") || !std::strcmp(text, "receiveVstMidiEvents") ||
      !std::strcmp(text, "receiveVstEvents")) {
    log_printf(1, "%08x: checking midiin", os_thread_id());
    return okvst_g.mod->midi ? 1 : -1;
  }
  if (!std::strcmp(text, "supportsViewDpiScaling"))
    return 1;
  return 0;
}

// Every opcode answered under the lock.
intptr_t locked(okvst_inst *p, int op, int index, intptr_t value, void *ptr, float opt) {
  const orka_module *mod = okvst_g.mod;
  const unsigned tid = os_thread_id();
  const char *name = opname(op);
  switch (op) {
  case VST_EFF_OPEN:
  case VST_EFF_GET_PROGRAM:
  case VST_EFF_SET_BYPASS:
    log_printf(1, "%08x: %s:", tid, name);
    return 0;
  case VST_EFF_CLOSE:
    log_printf(1, "%08x: %s:", tid, name);
    return 1;
  case VST_EFF_SET_PROGRAM:
    log_printf(1, "%08x: %s: %zd", tid, name, static_cast<std::ptrdiff_t>(value));
    return 0;
  case VST_EFF_SET_PROGRAM_NAME:
    log_printf(1, "%08x: %s: <%s>", tid, name, ptr ? static_cast<const char *>(ptr) : "");
    return 0;
  case VST_EFF_GET_PROGRAM_NAME:
    log_printf(1, "%08x: %s:", tid, name);
    put_text(ptr, 24, p->preset);
    return 1;
  case VST_EFF_GET_PROGRAM_NAME_INDEXED:
    log_printf(1, "%08x: %s: index = %d, value = %zd", tid, name, index,
               static_cast<std::ptrdiff_t>(value));
    if (index == 0)
      put_text(ptr, 24, p->preset);
    return 1;
  case VST_EFF_GET_PARAM_LABEL:
    log_printf(1, "%08x: %s:", tid, name);
    put_text(ptr, 8, "");
    return 0;
  case VST_EFF_GET_PARAM_DISPLAY:
    log_printf(1, "%08x: %s:", tid, name);
    if (valid_ctl(p, index) && ptr)
      param_display(p, index, static_cast<char *>(ptr));
    return 0;
  case VST_EFF_GET_PARAM_NAME:
    log_printf(1, "%08x: %s:", tid, name);
    if (valid_ctl(p, index) && ptr)
      param_name(index, static_cast<char *>(ptr));
    return 0;
  case VST_EFF_GET_PARAMETER_PROPERTIES:
    log_printf(1, "%08x: %s: %p", tid, name, ptr);
    return param_props(p, index, static_cast<vst_param_props *>(ptr));
  case VST_EFF_CAN_BE_AUTOMATED:
    log_printf(1, "%08x: %s:", tid, name);
    return 1;
  case VST_EFF_SET_SAMPLE_RATE:
    log_printf(1, "%08x: %s: %g", tid, name, static_cast<double>(opt));
    if (p->started.load(OKVST_RLX))
      log_printf(1, "setsamplerate: busy");
    else
      p->rateidx = orka_rateidx(std::trunc(static_cast<double>(opt)));
    return 0;
  case VST_EFF_SET_BLOCK_SIZE: {
    log_printf(1, "%08x: %s: %zd", tid, name, static_cast<std::ptrdiff_t>(value));
    const int n = value < 0 ? 0 : value > (1 << 20) ? (1 << 20) : static_cast<int>(value);
    if (p->started.load(OKVST_RLX)) {
      // The audio thread may be in the buffers and the engine runs on its
      // tails: the new size waits for the next start.
      log_printf(1, "setblocksize: busy, %d from the next start", n);
      p->blknext = n;
    } else {
      set_block_size(p, n);
      p->blknext = -1;
    }
    return 0;
  }
  case VST_EFF_MAINS_CHANGED:
    log_printf(1, "%08x: %s: %zd", tid, name, static_cast<std::ptrdiff_t>(value));
    if (value) {
      if (p->started.load(OKVST_RLX))
        log_printf(1, "mainschanged: already started");
      else if (p->rateidx == -1)
        log_printf(1, "mainschanged: no valid rate");
      else
        engine_start(p);
    } else if (!p->started.load(OKVST_RLX)) {
      log_printf(1, "mainschanged: not started");
    } else {
      p->started.store(0, OKVST_RLX);
      mod->stop(p->engine);
    }
    return 0;
  case VST_EFF_GET_CHUNK:
    log_printf(1, "%08x: %s: ispreset = %d", tid, name, index);
    return get_chunk(p, ptr);
  case VST_EFF_SET_CHUNK:
    log_printf(1, "%08x: %s: size = %zd, ispreset = %d", tid, name,
               static_cast<std::ptrdiff_t>(value), index);
    set_chunk(p, ptr, value);
    return 0;
  case VST_EFF_GET_PLUG_CATEGORY:
    log_printf(1, "%08x: %s:", tid, name);
    return p->info.ninputs == 0 ? VST_CATEGORY_SYNTH : VST_CATEGORY_EFFECT;
  case VST_EFF_GET_EFFECT_NAME:
    log_printf(1, "%08x: %s:", tid, name);
    put_text(ptr, 32, OKVST_PRODUCT);
    return 1;
  case VST_EFF_GET_VENDOR_STRING:
    log_printf(1, "%08x: %s:", tid, name);
    put_text(ptr, 64, OKVST_VENDOR);
    return 1;
  case VST_EFF_GET_PRODUCT_STRING:
    log_printf(1, "%08x: %s:", tid, name);
    put_text(ptr, 64, OKVST_PRODUCT);
    return 1;
  case VST_EFF_GET_VENDOR_VERSION:
    log_printf(1, "%08x: %s:", tid, name);
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(okvst_g.ver_major) << 24) |
                                     (static_cast<std::uint32_t>(okvst_g.ver_minor) << 16) |
                                     (static_cast<std::uint32_t>(okvst_g.ver_patch) << 8));
  case VST_EFF_CAN_DO:
    log_printf(1, "%08x: %s: %s", tid, name, ptr ? static_cast<const char *>(ptr) : "");
    return can_do(p, static_cast<const char *>(ptr));
  case VST_EFF_GET_TAIL_SIZE:
    log_printf(1, "%08x: %s:", tid, name);
    if (p->rateidx < 0) // no rate yet: no tail to speak of
      return 0;
    return static_cast<intptr_t>(static_cast<long long>(p->info.tail_ms) *
                                 ORKA_RATES[p->rateidx] / 1000);
  case VST_EFF_GET_VST_VERSION:
    log_printf(1, "%08x: %s:", tid, name);
    return VST_VERSION;
  case VST_EFF_EDIT_IDLE:
  case VST_EFF_IDLE:
  case VST_EFF_EDIT_KEY_DOWN:
  case VST_EFF_EDIT_KEY_UP:
    return 0;
  default:
    log_printf(1, "%08x: %d (%s): unhandled opcode, index = %d, value = %zd, ptr = %p, opt = %g",
               tid, op, name, index, static_cast<std::ptrdiff_t>(value), ptr,
               static_cast<double>(opt));
    return 0;
  }
}

} // namespace

int orka_rateidx(double rate) {
  // Rates beyond any table entry (or not a number) convert to no index.
  int r = rate >= 0 && rate < 1e7 ? static_cast<int>(rate + 12.5) : -1;
  r = r / 25 * 25;
  for (int i = 0; i < ORKA_NRATES; ++i)
    if (ORKA_RATES[i] == r)
      return i;
  log_printf(1, "orka_rateidx: %g (%d): not found", rate, r);
  return -1;
}

void okvst_send_all(okvst_inst *p) {
  for (int i = 0; i < p->info.nctls; ++i) {
    const int v = p->ctls[i].val.load(OKVST_RLX);
    p->ctls[i].engval.store(v, OKVST_RLX);
    okvst_g.mod->onctl(p->engine, i, v);
  }
}

intptr_t okvst_dispatch(vst_effect *e, std::int32_t op, std::int32_t index, intptr_t value,
                        void *ptr, float opt) {
  if (!e || !e->object)
    return 0;
  okvst_inst *p = okvst_of(e);
  switch (op) {
  case VST_EFF_EDIT_GET_RECT: return okvst_edit_getrect(p, ptr);
  case VST_EFF_EDIT_OPEN: return okvst_edit_open(p, ptr);
  case VST_EFF_EDIT_CLOSE: return okvst_edit_close(p);
  case VST_EFF_PROCESS_EVENTS: return okvst_midi_in(p, static_cast<const vst_events *>(ptr));
  case VST_EFF_STRING2PARAMETER:
    log_printf(1, "%08x: %s: code disabled", os_thread_id(), opname(op));
    return 0;
  default: break;
  }
  os_mutex_lock(p->lock);
  const intptr_t r = locked(p, op, index, value, ptr, opt);
  os_mutex_unlock(p->lock);
  if (op == VST_EFF_CLOSE)
    okvst_teardown(p);
  return r;
}
