// The plug-in's audio-thread calls allocate nothing, take no lock and make
// no system call: the system allocator, the mutex and the system calls
// are counted while they run.
#include <gtest/gtest.h>

#include "rt_wrap.h"
#include "testutil.h"
#include "vst_fake.h"

namespace {

using namespace vstfake;

// One round of what a host's audio thread does, n_rounds times.
void audio_rounds(vst_effect *e, int n_rounds) {
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
  for (int k = 0; k < n_rounds; ++k) {
    e->dispatcher(e, VST_EFF_PROCESS_EVENTS, 0, 0, &list, 0.0f);
    for (int c = 0; c < 4; ++c) {
      e->set_parameter(e, c, (k % 7) / 6.0f);
      (void)e->get_parameter(e, c);
    }
    e->process_replacing(e, nullptr, out, k % 2 ? 300 : 128);
  }
}

TEST(VstRealTime, CountersSeeWhatTheyCount) { EXPECT_TRUE(rtwrap::probe()); }

TEST(VstRealTime, AudioCallsNeitherAllocateNorLockNorCallTheSystem) {
  vst_effect *e = start_fake(128);
  rtwrap::reset();
  rtwrap::counted_on_fresh_thread([e] { audio_rounds(e, 50); });
  EXPECT_EQ(rtwrap::allocs, 0);
  EXPECT_EQ(rtwrap::locks, 0);
  EXPECT_EQ(rtwrap::syscalls, 0); // with logging off, not even the thread id
  EXPECT_GT(g_rec.onctl.size(), 10u);
  close_fake(e);
}

TEST(VstRealTime, ThreadIdAskedOncePerThread) {
  // Logging every block: the thread id in each line comes from the cache.
  vst_effect *e = start_fake(128);
  testutil::log_capture cap(5);
  rtwrap::reset();
  rtwrap::counted_on_fresh_thread([e] { audio_rounds(e, 20); });
  EXPECT_EQ(rtwrap::syscalls, 1);
  EXPECT_GT(cap.lines().size(), 100u);
  close_fake(e);
}

} // namespace
