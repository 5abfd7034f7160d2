// smf.h - Standard MIDI File reader (formats 0 and 1).
//
// Every track's events are merged into one list ordered by tick (events at
// the same tick keep file order: track by track, then event by event).
// Bounds are checked everywhere; a malformed file is refused with a message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct smf_event {
  std::uint64_t tick;
  int track;
  // A channel message (status and data bytes), a system-exclusive message
  // (0xF0 ... as sent on the wire), or empty for a tempo change.
  std::vector<unsigned char> bytes;
  std::uint32_t tempo; // microseconds per quarter note; 0 unless a tempo change
};

struct smf_file {
  int format = 0;
  int ntracks = 0;
  int division = 0; // ticks per quarter note, or < 0 for SMPTE timing
  std::vector<smf_event> events;
};

// Reads a whole file image; false with a message in *err.
bool smf_parse(const unsigned char *data, std::size_t n, smf_file *out, std::string *err);
bool smf_read(const std::string &path, smf_file *out, std::string *err);

// Frame positions of every event at a sample rate, following the tempo map
// (120 beats per minute until the first tempo change).
std::vector<std::uint64_t> smf_frames(const smf_file &f, int rate);

// Writing, for tools and tests: one track's events by absolute tick.
struct smf_track {
  std::vector<std::pair<std::uint64_t, std::vector<unsigned char>>> events; // raw: status... or FF/F0 forms
  void add(std::uint64_t tick, std::vector<unsigned char> bytes) { events.push_back({tick, std::move(bytes)}); }
  void tempo(std::uint64_t tick, std::uint32_t us) {
    add(tick, {0xFF, 0x51, 0x03, static_cast<unsigned char>(us >> 16),
               static_cast<unsigned char>(us >> 8), static_cast<unsigned char>(us)});
  }
};
// A file image; events are ordered by tick (stable), each track ends with
// an end-of-track event.  SysEx events are given as F0 ... F7 and written
// with their length.
std::vector<unsigned char> smf_image(int format, int division, const std::vector<smf_track> &tracks);
