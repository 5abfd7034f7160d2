// cpu.h - which vector paths this processor can run.
//
// The signal paths that have an AVX2 version pick it once, when an
// instance starts, from cpu_avx2(); both versions give the same bits.
#pragma once

// Any thread.  True when the processor and the operating system support
// AVX2 and no test has asked for the portable code.
bool cpu_avx2();
// Any thread; for tests.  While on, cpu_avx2() answers false, so that
// instances started afterwards run the portable code.
void cpu_force_portable(bool on);
