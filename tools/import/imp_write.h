// imp_write.h - writing an imported instrument to its folder and checking
// it with the engine's own definition reader.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "import/imp_model.h"

// Called after each sample file with the count written and the total.
using imp_progress = std::function<void(std::size_t done, std::size_t total)>;

// Writes dir/midisyn.conf and dir/waves/*.raw (signed 16-bit little-endian
// mono); source names the bank in the definition's header.  False with a
// message.
bool imp_write(const def_instrument &inst, const imp_bank &bank, const std::string &dir,
               const std::string &source, const imp_progress &progress, std::string *err);

// Reads dir/midisyn.conf and its waves as the engine does; false with the
// engine's message.
bool imp_check(const std::string &dir, std::string *err);
