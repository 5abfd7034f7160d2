// The audio calls: sample conversion, control hand-over before each
// block, MIDI events and parameters.  None takes the lock or allocates.
#include <cmath>
#include <cstring>

#include "utils/log.h"
#include "vst/okvst.h"

namespace {

// Status byte to message length, by bits 4 to 6.
constexpr int MIDI_LEN[8] = {3, 3, 3, 3, 2, 2, 3, 0};

void clear_outputs(const okvst_inst *p, float **out, int n) {
  if (!out || n <= 0)
    return;
  for (int j = 0; j < p->info.noutputs; ++j)
    if (out[j])
      for (int i = 0; i < n; ++i)
        out[j][i] = 0.0f;
}

} // namespace

std::int32_t okvst_to_engine(float x) {
  const float v = x * 134217728.0f;
  if (!(v == v)) // not a number
    return 0;
  if (v >= 2147483647.0f)
    return 2147483647;
  if (v <= -2147483648.0f)
    return -2147483647 - 1;
  return static_cast<std::int32_t>(v);
}

float okvst_to_host(std::int32_t v) { return static_cast<float>(v * (1.0 / 134217728.0)); }

// Rounding v x 2^-27 to single precision gives the same bits as scaling the
// single-precision v by 2^-27: a power of two commutes with rounding while
// nothing overflows or turns subnormal, and |v| x 2^-27 lies within
// 2^-27 ... 16.  So the lanes convert in single precision, eight at a time
// (a fixed-length inner loop the compiler turns into vector instructions),
// and the last few go through okvst_to_host.
void okvst_to_host_block(const std::int32_t *src, float *dst, int n) {
  int k = 0;
  for (; k + 8 <= n; k += 8)
    for (int i = 0; i < 8; ++i)
      dst[k + i] = static_cast<float>(src[k + i]) * 0x1p-27f;
  for (; k < n; ++k)
    dst[k] = okvst_to_host(src[k]);
}

void okvst_process(vst_effect *e, float **in, float **out, std::int32_t n) {
  okvst_inst *p = okvst_of(e);
  log_printf(5, "%08x: okvst_process: %d", os_thread_id(), n);
  // Acquire: the bus and block size that "MainsChanged" set before it.
  if (!p->started.load(std::memory_order_acquire)) {
    // The host asked for audio: it gets silence rather than its buffers back.
    log_printf(1, "warning: not started");
    clear_outputs(p, out, n);
    return;
  }
  const orka_module *mod = okvst_g.mod;
  for (int i = 0; i < p->info.nctls; ++i) {
    okvst_ctl &c = p->ctls[i];
    const int v = c.val.load(OKVST_RLX);
    if (v != c.engval.load(OKVST_RLX)) {
      c.engval.store(v, OKVST_RLX);
      mod->onctl(p->engine, i, v);
    }
  }
  if (!p->bus) {
    log_printf(1, "warning: no bus allocated");
    clear_outputs(p, out, n);
    return;
  }
  if (n < 0)
    return;
  if (n == 0) {
    mod->run(p->engine, p->inbus, p->outbus, 0);
    return;
  }
  if (p->blksz == 0) {
    log_printf(1, "%d: block size too small", p->blksz);
    clear_outputs(p, out, n);
    return;
  }
  // A block longer than the host announced is rendered in pieces.
  const int nin = p->info.ninputs, nout = p->info.noutputs;
  for (int done = 0; done < n; done += p->blksz) {
    const int m = n - done < p->blksz ? n - done : p->blksz;
    const auto bytes = sizeof(std::int32_t) * static_cast<std::size_t>(m);
    for (int i = 0; i < nin; ++i) {
      std::int32_t *bus = p->inbus[i];
      if (const float *src = in ? in[i] : nullptr)
        for (int k = 0; k < m; ++k)
          bus[k] = okvst_to_engine(src[done + k]);
      else // a missing input is silence
        std::memset(bus, 0, bytes);
    }
    for (int j = 0; j < nout; ++j)
      std::memset(p->outbus[j], 0, bytes);
    mod->run(p->engine, p->inbus, p->outbus, m);
    for (int j = 0; j < nout; ++j)
      if (float *dst = out ? out[j] : nullptr)
        okvst_to_host_block(p->outbus[j], dst + done, m);
  }
}

intptr_t okvst_midi_in(okvst_inst *p, const vst_events *list) {
  log_printf(2, "%08x: %s:", os_thread_id(), "ProcessEvents");
  if (!list)
    return 0;
  log_printf(2, "%s: count = %u:", "okvst_midi_in", static_cast<unsigned>(list->count));
  const orka_module *mod = okvst_g.mod;
  for (int k = 0; k < list->count; ++k) {
    const vst_event *ev = list->events[k];
    if (!ev)
      continue;
    if (ev->type == VST_EVENT_MIDI) {
      const auto *m = reinterpret_cast<const vst_midi_event *>(ev);
      const int status = m->midi[0];
      const int len = MIDI_LEN[(status >> 4) & 7];
      log_printf(2, "%s: midi ev %02x ..., size = %u", "okvst_midi_in", static_cast<unsigned>(status),
                 static_cast<unsigned>(len));
      if (mod->midi)
        mod->midi(p->engine, m->midi, len);
    } else if (ev->type == VST_EVENT_SYSEX) {
      const auto *x = reinterpret_cast<const vst_sysex_event *>(ev);
      const int count = x->dump && x->dump_bytes > 0 ? x->dump_bytes : 0;
      log_printf(2, "%s: sysex %02x %02x ..., %u bytes", "okvst_midi_in",
                 static_cast<unsigned>(count > 0 ? x->dump[0] : 0),
                 static_cast<unsigned>(count > 1 ? x->dump[1] : 0), static_cast<unsigned>(count));
      if (mod->midi && count > 0)
        mod->midi(p->engine, x->dump, count);
    }
  }
  return 0;
}

float okvst_getparam(vst_effect *e, std::int32_t index) {
  okvst_inst *p = okvst_of(e);
  log_printf(1, "%08x: okvst_getparam: ctl[%d]", os_thread_id(), index);
  if (index < 0 || index >= p->info.nctls)
    return 0.0f;
  const okvst_ctl &c = p->ctls[index];
  if (c.max <= 0) // a control with one value sits at 0
    return 0.0f;
  return static_cast<float>(c.val.load(OKVST_RLX)) / static_cast<float>(c.max);
}

void okvst_setparam(vst_effect *e, std::int32_t index, float x) {
  okvst_inst *p = okvst_of(e);
  if (index < 0 || index >= p->info.nctls)
    return;
  okvst_ctl &c = p->ctls[index];
  if (!(x >= 0.0f)) // below 0, or not a number
    x = 0.0f;
  if (x > 1.0f)
    x = 1.0f;
  const int v = c.max <= 0 ? 0 : static_cast<int>(static_cast<double>(x * static_cast<float>(c.max)) + 0.5);
  log_printf(1, "%08x: okvst_setparam: ctl[%d] -> %d", os_thread_id(), index, v);
  log_printf(1, "%08x: okvst_setparam_do: ctl[%d] -> %d", os_thread_id(), index, v);
  if (v == c.val.load(OKVST_RLX))
    return;
  c.val.store(v, OKVST_RLX);
  okvst_ui_post(p); // when an editor exists
}
