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

// A scratch installation folder whose "data" is a link to dir, so that a
// definition folder of any name (an imported bank, say) reads as the
// engine reads an installation.  Removed again with the object.
class tool_data_link {
public:
  explicit tool_data_link(const std::string &dir);
  ~tool_data_link();
  tool_data_link(const tool_data_link &) = delete;
  tool_data_link &operator=(const tool_data_link &) = delete;
  // The folder to give appdata_set_installdir; empty when the link could
  // not be made, and then error() says why.
  const std::string &root() const { return root_; }
  const std::string &error() const { return error_; }

private:
  std::string root_, error_;
};
