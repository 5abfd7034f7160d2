// probe_plugin.h - what the probe instrument (probe_plugin.cpp) records:
// its instances and every event each one received, at the frame it
// arrived.  A test that loads the probe's file itself keeps the record
// alive while the code under test opens and closes instances.
#pragma once

#include <cstdint>
#include <vector>

struct probe_event {
  int instance;              // 0 for the first instance created, 1 for the next ...
  std::uint64_t frame;       // frames that instance had rendered when the event came
  std::vector<unsigned char> bytes; // the whole message or SysEx dump
};

struct probe_record {
  int instances = 0; // created by the entry point
  int live = 0;      // not yet closed
  std::vector<probe_event> events;
};

// The probe's export "probe_get_record": its record, valid while the file
// is loaded.
using probe_record_fn = probe_record *(*)();
