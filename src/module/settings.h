// settings.h - a module's preset name and control values as a short
// line-oriented text ("key = value" lines), over any module table.
#pragma once

#include <cstddef>

#include "orka/orka.h"

// Variations of the text that a module may ask for (the reverb's pair).
struct orka_text_opts {
  const char *unknown_ctl_type; // message for a control of unknown type
  const char *unknown_setting;  // message for an unknown key, "%s" = key
  // Selector values beyond the control's own texts; -1 when none matches.
  int (*alias)(int ctl, const char *text);
};

// Writes the text into buf (may be null: count only).  No terminator is
// written or counted; 0 on a control of unknown type.  Any thread.
std::size_t orka_print(const orka_module *mod, const char *preset, const int *vals, char *buf);
// Reads text from *pos with *len bytes remaining, moving both past what it
// consumed.  Starts from the module's preset name and defaults.  1 on
// success, 0 on error.  Any thread.
int orka_scan(const orka_module *mod, char preset[ORKA_TEXTLEN], int *vals, const char **pos,
              std::size_t *len);
// The same with variations.
std::size_t orka_print_ex(const orka_module *mod, const char *preset, const int *vals, char *buf,
                          const orka_text_opts *opts);
int orka_scan_ex(const orka_module *mod, char preset[ORKA_TEXTLEN], int *vals,
                 const char **pos, std::size_t *len, const orka_text_opts *opts);

// Display text of one value: a selector's text, otherwise "%03d".
void orka_printval(const orka_module *mod, int ctl, int val, char text[ORKA_TEXTLEN]);
// The reverse; 1 on success, 0 on failure.
int orka_scanval(const orka_module *mod, int ctl, int *val, const char *text);
