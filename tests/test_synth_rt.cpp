// The audio path allocates nothing: every call of the system allocator
// while run, midi and onctl execute is counted.
#include <cstdlib>

#include "synth_rig.h"

extern "C" {
void *__real_malloc(std::size_t n);
void *__real_calloc(std::size_t n, std::size_t m);
void *__real_realloc(void *p, std::size_t n);
}

namespace {
volatile bool g_counting = false; // volatile: malloc is assumed not to read globals
volatile int g_calls = 0;
} // namespace

extern "C" {
void *__wrap_malloc(std::size_t n) {
  g_calls = g_calls + (g_counting ? 1 : 0);
  return __real_malloc(n);
}
void *__wrap_calloc(std::size_t n, std::size_t m) {
  g_calls = g_calls + (g_counting ? 1 : 0);
  return __real_calloc(n, m);
}
void *__wrap_realloc(void *p, std::size_t n) {
  g_calls = g_calls + (g_counting ? 1 : 0);
  return __real_realloc(p, n);
}
}

namespace {

class RealTime : public SynthTest {};

TEST_F(RealTime, RunMidiAndOnctlDoNotAllocate) {
  // The counter sees the allocator.
  static void *volatile probe;
  g_counting = true;
  probe = std::malloc(8);
  g_counting = false;
  std::free(probe);
  ASSERT_EQ(g_calls, 1);
  synth *s = make(8, 256);
  testutil::log_capture cap(3); // logging on: messages must not allocate either
  std::vector<std::int32_t> l(256), r(256);
  std::int32_t *o[2] = {l.data(), r.data()};
  orka_info info{};
  SYNTH_MODULE.info(&info);
  g_counting = true;
  g_calls = 0;
  for (int round = 0; round < 40; ++round) {
    const unsigned char msgs[] = {0x90, static_cast<unsigned char>(30 + round), 100,
                                  0xE0, 0, static_cast<unsigned char>(round * 3),
                                  0xB0, 64, static_cast<unsigned char>(round % 2 ? 127 : 0),
                                  0x80, static_cast<unsigned char>(29 + round), 0,
                                  0xF0, 0x7F, 0, 8, 2, 0, 1, 60, 60, 0, 0, 0xF7,
                                  // in program-change mode from the second round
                                  0xC1, static_cast<unsigned char>(round), 0xB1, 121, 0,
                                  0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    SYNTH_MODULE.midi(s, msgs, sizeof msgs);
    for (int c = 0; c < info.nctls; ++c)
      SYNTH_MODULE.onctl(s, c, round % 4);
    SYNTH_MODULE.run(s, nullptr, o, 256);
  }
  for (int k = 0; k < 70; ++k) { // stealing
    const unsigned char on[] = {0x93, static_cast<unsigned char>(k), 100};
    SYNTH_MODULE.midi(s, on, 3);
  }
  SYNTH_MODULE.run(s, nullptr, o, 256);
  g_counting = false;
  EXPECT_EQ(g_calls, 0);
  EXPECT_GT(cap.lines().size(), 10u);
}

} // namespace
