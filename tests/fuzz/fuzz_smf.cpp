// The MIDI file reader on arbitrary bytes: it either refuses with a message
// or yields events whose frame positions can be computed at every rate.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "render/smf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  smf_file f;
  std::string err;
  if (!smf_parse(data, size, &f, &err)) {
    if (err.empty())
      std::abort(); // a refusal always says why
    return 0;
  }
  if (f.events.empty())
    return 0;
  for (int rate : {8000, 48000, 192000}) {
    const auto frames = smf_frames(f, rate);
    if (frames.size() != f.events.size())
      std::abort();
    for (std::size_t i = 1; i < frames.size(); ++i)
      if (frames[i] < frames[i - 1] || f.events[i].tick < f.events[i - 1].tick)
        std::abort(); // events stay in time order
  }
  return 0;
}
