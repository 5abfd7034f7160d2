// A VST 2 instrument for the renderer's tests that is not the engine's
// plug-in: no parameters, no state chunk, no synthesis (silent output).
// It records each instance it creates and every event an instance
// receives, so that a test can see which instance got what and when.
#include <cstring>

#include "orka/orka.h"
#include "probe_plugin.h"
#include "vst/vst2.h"

namespace {

probe_record g_record;

struct probe {
  vst_effect effect;
  int index;
  std::uint64_t frames;
};

// The length of a channel message by its status byte.
int message_length(unsigned char status) {
  switch (status & 0xF0) {
  case 0xC0:
  case 0xD0: return 2;
  default: return status >= 0x80 && status < 0xF0 ? 3 : 1;
  }
}

void receive(probe *p, const vst_events *list) {
  for (int i = 0; list && i < list->count; ++i) {
    const vst_event *e = list->events[i];
    probe_event rec{p->index, p->frames + static_cast<std::uint64_t>(e->delta_frames), {}};
    if (e->type == VST_EVENT_MIDI) {
      const auto *m = reinterpret_cast<const vst_midi_event *>(e);
      rec.bytes.assign(m->midi, m->midi + message_length(m->midi[0]));
    } else if (e->type == VST_EVENT_SYSEX) {
      const auto *x = reinterpret_cast<const vst_sysex_event *>(e);
      rec.bytes.assign(x->dump, x->dump + x->dump_bytes);
    }
    g_record.events.push_back(rec);
  }
}

intptr_t VST_CALL dispatch(vst_effect *e, std::int32_t op, std::int32_t, intptr_t, void *ptr,
                           float) {
  auto *p = static_cast<probe *>(e->object);
  switch (op) {
  case VST_EFF_CLOSE:
    --g_record.live;
    delete p;
    return 1;
  case VST_EFF_PROCESS_EVENTS:
    receive(p, static_cast<const vst_events *>(ptr));
    return 1;
  case VST_EFF_GET_PLUG_CATEGORY: return VST_CATEGORY_SYNTH;
  case VST_EFF_GET_VST_VERSION: return VST_VERSION;
  default: return 0; // no chunk, no names: what a minimal instrument answers
  }
}

void VST_CALL process(vst_effect *e, float **, float **out, std::int32_t n) {
  auto *p = static_cast<probe *>(e->object);
  for (int c = 0; c < 2; ++c)
    std::memset(out[c], 0, sizeof(float) * static_cast<std::size_t>(n));
  p->frames += static_cast<std::uint64_t>(n);
}

void VST_CALL set_parameter(vst_effect *, std::int32_t, float) {}
float VST_CALL get_parameter(vst_effect *, std::int32_t) { return 0.0f; }

} // namespace

extern "C" ORKA_EXPORT probe_record *probe_get_record() { return &g_record; }

extern "C" ORKA_EXPORT vst_effect *VSTPluginMain(vst_hostcb) {
  auto *p = new probe{};
  p->index = g_record.instances++;
  ++g_record.live;
  vst_effect &e = p->effect;
  e.magic = VST_MAGIC;
  e.dispatcher = dispatch;
  e.set_parameter = set_parameter;
  e.get_parameter = get_parameter;
  e.process_replacing = process;
  e.num_programs = 1;
  e.num_outputs = 2;
  e.flags = VST_FLAG_CAN_REPLACING | VST_FLAG_IS_SYNTH;
  e.object = p;
  e.unique_id = 0x70726F62;
  return &e;
}
