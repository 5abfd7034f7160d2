// The engine library's only export.
#include "orka/orka.h"
#include "synth/note/synth.h"

// Any thread; the plug-in calls it once after loading the library.
extern "C" ORKA_EXPORT void orka_entry(const orka_module **mod, const orka_ui **ui) {
  if (mod)
    *mod = &SYNTH_MODULE;
  if (ui)
    *ui = nullptr; // no editor
}
