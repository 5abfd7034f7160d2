// The plug-in's audio-thread calls allocate nothing and take no lock: the
// system allocator and the mutex are counted while they run.
#include <gtest/gtest.h>

#include <pthread.h>

#include "vst_fake.h"

extern "C" {
void *__real_malloc(std::size_t n);
void *__real_calloc(std::size_t n, std::size_t m);
void *__real_realloc(void *p, std::size_t n);
int __real_pthread_mutex_lock(pthread_mutex_t *m);
}

namespace {
// volatile: the compiler assumes malloc reads no globals of ours.
volatile bool g_counting = false;
volatile int g_allocs = 0, g_locks = 0;
} // namespace

extern "C" {
void *__wrap_malloc(std::size_t n) {
  g_allocs = g_allocs + (g_counting ? 1 : 0);
  return __real_malloc(n);
}
void *__wrap_calloc(std::size_t n, std::size_t m) {
  g_allocs = g_allocs + (g_counting ? 1 : 0);
  return __real_calloc(n, m);
}
void *__wrap_realloc(void *p, std::size_t n) {
  g_allocs = g_allocs + (g_counting ? 1 : 0);
  return __real_realloc(p, n);
}
int __wrap_pthread_mutex_lock(pthread_mutex_t *m) {
  g_locks = g_locks + (g_counting ? 1 : 0);
  return __real_pthread_mutex_lock(m);
}
}

namespace {

using namespace vstfake;

TEST(VstRealTime, AudioCallsNeitherAllocateNorLock) {
  // The counters see what they count.
  static void *volatile probe;
  g_counting = true;
  probe = std::malloc(8);
  os_mutex *m = nullptr;
  g_counting = false;
  m = os_mutex_new();
  g_counting = true;
  os_mutex_lock(m);
  g_counting = false;
  os_mutex_unlock(m);
  os_mutex_delete(m);
  std::free(probe);
  ASSERT_EQ(g_allocs, 1);
  ASSERT_EQ(g_locks, 1);
  g_allocs = 0;
  g_locks = 0;

  vst_effect *e = start_fake(128);
  std::vector<float> l(300), r(300);
  float *out[2] = {l.data(), r.data()};
  unsigned char dump[] = {0xF0, 0x7E, 0xF7};
  vst_sysex_event sx{};
  sx.type = VST_EVENT_SYSEX;
  sx.dump_bytes = 3;
  sx.dump = dump;
  vst_midi_event on{};
  on.type = VST_EVENT_MIDI;
  on.midi[0] = 0x90, on.midi[1] = 60, on.midi[2] = 100;
  vst_events list{};
  list.count = 2;
  list.events[0] = reinterpret_cast<vst_event *>(&sx);
  list.events[1] = reinterpret_cast<vst_event *>(&on);
  g_counting = true;
  for (int k = 0; k < 50; ++k) {
    e->dispatcher(e, VST_EFF_PROCESS_EVENTS, 0, 0, &list, 0.0f);
    for (int c = 0; c < 4; ++c) {
      e->set_parameter(e, c, (k % 7) / 6.0f);
      (void)e->get_parameter(e, c);
    }
    e->process_replacing(e, nullptr, out, k % 2 ? 300 : 128);
  }
  g_counting = false;
  EXPECT_EQ(g_allocs, 0);
  EXPECT_EQ(g_locks, 0);
  EXPECT_GT(g_rec.onctl.size(), 10u);
  close_fake(e);
}

} // namespace
