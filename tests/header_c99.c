/* The module contract compiles as plain C99. */
#include "orka/orka.h"

int orka_header_c99_rates(void);
int orka_header_c99_rates(void) {
  orka_module m = {0};
  orka_ctlinfo ci = {ORKA_CTL_SEL, 0, 3, 0, "holdmode", "Hold mode"};
  return (int)sizeof m + ci.nvals + ORKA_RATES[ORKA_NRATES - 1];
}
