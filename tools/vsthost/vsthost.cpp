// The test and render host: one process may hold several hosts.
#include "vsthost/vsthost.h"

#include <mutex>

#include "platform/os.h"

namespace {

std::mutex g_mutex;
std::vector<vsthost *> g_hosts;   // hosts with a live instance
vsthost *g_loading = nullptr;     // the host whose entry point is running

vsthost *find(vst_effect *e) {
  std::lock_guard<std::mutex> lk(g_mutex);
  for (vsthost *h : g_hosts)
    if (h->eff == e)
      return h;
  return g_loading;
}

intptr_t VST_CALL host_cb(vst_effect *e, std::int32_t opcode, std::int32_t index, intptr_t value,
                          void *, float opt) {
  vsthost *h = find(e);
  if (!h)
    return 0;
  {
    std::lock_guard<std::mutex> lk(g_mutex);
    h->calls.push_back({opcode, index, value, opt});
  }
  switch (opcode) {
  case VST_HOST_VERSION: return h->version;
  case VST_HOST_SIZE_WINDOW: return 1;
  default: return 0;
  }
}

std::vector<std::uint16_t> widen(const std::string &s) {
  std::vector<std::uint16_t> v(s.size() * 2 + 1);
  os_widen(s.c_str(), v.data(), static_cast<int>(v.size()));
  return v;
}

} // namespace

bool vsthost_open(vsthost *h, const std::string &path) {
  h->lib = os_dlopen(widen(path).data());
  if (!h->lib)
    return false;
  auto entry = reinterpret_cast<vst_main_fn>(os_dlsym(h->lib, "VSTPluginMain"));
  if (!entry) {
    os_dlclose(h->lib);
    h->lib = nullptr;
    return false;
  }
  g_loading = h;
  h->eff = entry(host_cb);
  g_loading = nullptr;
  if (!h->eff || h->eff->magic != VST_MAGIC) {
    h->eff = nullptr;
    os_dlclose(h->lib);
    h->lib = nullptr;
    return false;
  }
  std::lock_guard<std::mutex> lk(g_mutex);
  g_hosts.push_back(h);
  return true;
}

void vsthost_close(vsthost *h) {
  if (h->eff)
    h->eff->dispatcher(h->eff, VST_EFF_CLOSE, 0, 0, nullptr, 0.0f);
  {
    std::lock_guard<std::mutex> lk(g_mutex);
    for (auto it = g_hosts.begin(); it != g_hosts.end(); ++it)
      if (*it == h) {
        g_hosts.erase(it);
        break;
      }
  }
  h->eff = nullptr;
  if (h->lib)
    os_dlclose(h->lib);
  h->lib = nullptr;
}

intptr_t vsthost_dispatch(vsthost *h, int opcode, int index, intptr_t value, void *ptr, float opt) {
  return h->eff->dispatcher(h->eff, opcode, index, value, ptr, opt);
}

void vsthost_events(vsthost *h, const std::vector<std::vector<unsigned char>> &messages) {
  std::vector<vst_midi_event> midi(messages.size());
  std::vector<vst_sysex_event> sysex(messages.size());
  std::vector<std::vector<unsigned char>> copies = messages;
  // The list: count, reserved, then one pointer per event.
  std::vector<unsigned char> storage(sizeof(vst_events) + sizeof(vst_event *) * messages.size());
  auto *list = reinterpret_cast<vst_events *>(storage.data());
  list->count = static_cast<std::int32_t>(messages.size());
  list->reserved = 0;
  auto **slots = reinterpret_cast<vst_event **>(storage.data() + offsetof(vst_events, events));
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const auto &m = copies[i];
    if (!m.empty() && m[0] == 0xF0) {
      vst_sysex_event &x = sysex[i];
      x = {};
      x.type = VST_EVENT_SYSEX;
      x.byte_size = sizeof x;
      x.dump_bytes = static_cast<std::int32_t>(m.size());
      x.dump = copies[i].data();
      slots[i] = reinterpret_cast<vst_event *>(&x);
    } else {
      vst_midi_event &e = midi[i];
      e = {};
      e.type = VST_EVENT_MIDI;
      e.byte_size = sizeof e;
      for (std::size_t k = 0; k < m.size() && k < 3; ++k)
        e.midi[k] = m[k];
      slots[i] = reinterpret_cast<vst_event *>(&e);
    }
  }
  vsthost_dispatch(h, VST_EFF_PROCESS_EVENTS, 0, 0, list);
}

void vsthost_process(vsthost *h, std::vector<std::vector<float>> &out, int n) {
  out.resize(static_cast<std::size_t>(h->eff->num_outputs));
  std::vector<float *> ptrs;
  for (auto &o : out) {
    o.assign(static_cast<std::size_t>(n), 0.0f);
    ptrs.push_back(o.data());
  }
  h->eff->process_replacing(h->eff, nullptr, ptrs.data(), n);
}
