// Test main: death tests fork cleanly, and on Windows an abort neither
// opens a dialog nor writes the runtime's banner.
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
#ifdef _WIN32
  _set_abort_behavior(0, _WRITE_ABORT_MSG | _CALL_REPORTFAULT);
#endif
  ::testing::InitGoogleTest(&argc, argv);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  return RUN_ALL_TESTS();
}
