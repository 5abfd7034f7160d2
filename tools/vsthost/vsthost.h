// vsthost.h - a small VST 2 host: loads a plug-in file, creates an
// instance through its entry point, and drives its dispatcher, processing
// and parameters.  It answers the host opcodes a plug-in asks and records
// them.  Used by the tests and the offline renderer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vst/vst2.h"

struct vsthost_call {
  int opcode, index;
  intptr_t value;
  float opt;
};

struct vsthost {
  void *lib = nullptr;
  vst_effect *eff = nullptr;
  intptr_t version = 2400;         // the answer to the version question
  std::vector<vsthost_call> calls; // every host opcode the plug-in sent
};

// Loads the plug-in file (8-bit path) and creates one instance; false when
// the file or its entry point is missing or the entry point answers null.
bool vsthost_open(vsthost *h, const std::string &path);
// Closes the instance ("Close") and unloads the file.
void vsthost_close(vsthost *h);
intptr_t vsthost_dispatch(vsthost *h, int opcode, int index = 0, intptr_t value = 0,
                          void *ptr = nullptr, float opt = 0.0f);
// Sends MIDI messages (each 1 to 3 bytes) and SysEx dumps as one event list.
void vsthost_events(vsthost *h, const std::vector<std::vector<unsigned char>> &messages);
// Renders n frames into the output buffers (one vector per output).
void vsthost_process(vsthost *h, std::vector<std::vector<float>> &out, int n);
