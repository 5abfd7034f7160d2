// The audio path allocates nothing and makes no system call: every call
// of the system allocator and of the system while run, midi and onctl
// execute is counted.
#include "rt_wrap.h"
#include "synth_rig.h"

namespace {

class RealTime : public SynthTest {};

TEST_F(RealTime, RunMidiAndOnctlDoNotAllocate) {
  ASSERT_TRUE(rtwrap::probe());
  synth *s = make(8, 256);
  // Logging on (into memory): messages must not allocate or call the
  // system either.
  testutil::log_capture cap(3);
  std::vector<std::int32_t> l(256), r(256);
  std::int32_t *o[2] = {l.data(), r.data()};
  orka_info info{};
  SYNTH_MODULE.info(&info);
  rtwrap::reset();
  rtwrap::counting = true;
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
  rtwrap::counting = false;
  EXPECT_EQ(rtwrap::allocs, 0);
  EXPECT_EQ(rtwrap::locks, 0);
  EXPECT_EQ(rtwrap::syscalls, 0);
  EXPECT_GT(cap.lines().size(), 10u);
}

} // namespace
