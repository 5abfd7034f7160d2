// tool_root.h - the installation a command-line tool reads when it is
// given no folder.
#pragma once

#include <string>

// "<prefix>/lib/Glimra/Synth" when the running program lies in
// "<prefix>/bin", PROGRAMFILES is not set and a definition lies there, so
// that an installation moved as a whole reads its own instrument.  Empty
// otherwise: the installation's own rules then apply (PROGRAMFILES, else
// the root configured at build time).
std::string tool_installdir();
