// wave.h - recorded waves, their key maps and their sample data.
//
// A wave is a named list of maps, each one zone of keys, velocities and
// random numbers with its own recording.  The definition reader builds the
// list in sorted order; wave_load turns it into a balanced search tree and
// reads every map's samples, after which the whole structure is read-only
// until wave_free.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int WAVE_MAX = 128; // wave table entries

// One zone of a wave.
struct map {
  int keylo, keyhi; // MIDI keys served, inclusive
  int vello, velhi; // velocities served, inclusive
  int rndlo, rndhi; // random numbers 0 ... 127 served, inclusive
  map *left;        // search tree links; right is the list link while
  map *right;       // the definition is read
  int nsamples;     // 16-bit samples loaded
  int loop;         // loop length in samples; 0 plays the data once
  std::int16_t *samples; // owned; decoded in place from the file's bytes
  char *path;       // owned data file path, relative to the installation
  std::int32_t pitch;  // Q20: key of the recording (default 64.0)
  std::int32_t volume; // Q20: level of the recording (default 127.0)
};

struct wave {
  wave *next;
  map *maps; // sorted list while reading, tree root after wave_load
  char *name;
  // While the definition is read: bounds that let a map sorting after all
  // others be appended without a walk.  The key run is the trailing maps
  // with the last map's key range, the velocity run the trailing maps of it
  // with the last map's velocity range.
  map *last;        // last map of the list
  map *keyrun;      // first map of the key run
  int before_keyhi; // no map before the key run has a higher key high
  int before_velhi; // no map of the key run before the velocity run has a higher velocity high
  int run_rndhi;    // no map of the velocity run has a higher random high
};

// All waves in definition order, and the table that layers index (filled
// from the list once the top-level definition file has been read).
extern wave *wave_list;
extern wave *wave_table[WAVE_MAX];

// Set-up thread.  A new wave with a copy of name, appended to the list.
wave *wave_new(const char *name);
// Set-up thread.  Position in the list of the first wave so named, or -1.
int wave_find(const char *name);
// Number of waves in the list.
int wave_count();
// Links of the wave and map lists followed so far while waves were added
// and maps inserted (for tests: building a definition must stay linear).
std::size_t wave_steps();

// Set-up thread.  A map with default ranges, pitch and volume.
map *map_new();
// Set-up thread.  Releases a map that belongs to no wave, with its path and
// samples.
void map_delete(map *m);
// Set-up thread.  Inserts m in range order; false (m untouched) when its
// ranges overlap another map's without sharing a bound as required.
bool wave_addmap(wave *w, map *m);

// Audio thread of the playing instance.  Steps the shared generator once,
// then returns the map for key and velocity, or null.
const map *map_find(const wave *w, int key, int velocity);

// Set-up thread.  Builds the map tree and loads every map's samples in
// post-order.  False after the level-1 messages when a data file cannot be
// read or is refused; the maps read so far keep their data (wave_free
// releases them).
bool wave_load(wave *w);
// Set-up thread.  Releases the wave, its maps, paths, samples and name.
void wave_free(wave *w);
// Set-up thread.  Releases every wave of the list and empties the list and
// the table.
void wave_free_all();

// Decodes n bytes of little-endian 16-bit samples in place; returns the
// sample count (an odd last byte is ignored).
int wave_decode(void *bytes, std::size_t n);
