// patch.h - patches, drum keys and their layers: what one note starts.
//
// Built once by the definition reader on the set-up thread, then read
// without locks by every instance until tear-down.
#pragma once

#include <cstdint>

#include "orka/orka.h"

constexpr int PATCH_MAX = 128;
constexpr int PATCH_LAYERS = 4;
constexpr int LAYER_DEPS = 8;
constexpr int LAYER_NPARS = 80; // 5 parameters x 16 slots

// Q20 fixed point: 1.0 is 1 << 20.
constexpr std::int32_t Q20_ONE = 1 << 20;
// Q20 level below the engine's gain table: silence.
constexpr std::int32_t PAR_OFF = -376438785;
// Q20 time that passes at once.
constexpr std::int32_t PAR_NOTIME = -1;
// Q20 time that lasts for ever: 127.0 plus one unit.
constexpr std::int32_t PAR_FOREVER = 127 * Q20_ONE + 1;
// Marks never-used dependency entries and unset effect controls.
constexpr std::int32_t CONF_UNSET = static_cast<std::int32_t>(0xDEADBEEFu);

// Parameters and their first slot.
constexpr int PAR_PITCH = 0, PAR_VOL = 16, PAR_CUT = 32, PAR_RES = 48, PAR_PAN = 64;
// Slots within a parameter.
constexpr int MOD_BASE = 0, MOD_ILEVEL = 1, MOD_ATIME = 2, MOD_ALEVEL = 3, MOD_DTIME = 4,
              MOD_DLEVEL = 5, MOD_STIME = 6, MOD_SLEVEL = 7, MOD_RTIME = 8, MOD_RLEVEL = 9,
              MOD_LFO = 10, MOD_LFOTIME = 11, MOD_LFOTYPE = 12, MOD_LFOTICKS = 13;
// MIDI sources of dependencies.
constexpr int SRC_KEY = 0, SRC_VEL = 1, SRC_CAT = 2, SRC_BEND = 3, SRC_MOD = 4, SRC_EXPR = 5;

struct layer_dep {
  std::int32_t source; // SRC_*, CONF_UNSET when never used
  std::int32_t amount; // Q20; 0 marks a free entry
  std::int32_t slot;   // parameter slot moved
};

struct layer {
  int wave;                        // wave table index; -1 marks a free slot
  std::int32_t par[LAYER_NPARS];   // Q20 values, but the lfotype/lfoticks slots
  int output;                      // 0 main, 4 the patch's effect input
  int filter;                      // 0 off, 1 lowpass ... 5 peak
  int release;                     // 0 note-off releases, 1 never
  int shape[4];                    // velocity points
  int delay;                       // start delay in ticks of 1/24 beat
  layer_dep deps[LAYER_DEPS];
};

constexpr int PATCH_NAMELEN = 46; // longest patch or drum-key name, in bytes

struct patch {
  char name[ORKA_TEXTLEN]; // at most PATCH_NAMELEN bytes, no control character
  layer layers[PATCH_LAYERS];
  int tempo;               // microseconds per beat
  int ckey;                // key released when this patch starts a note; -1 none
  int effect;              // -1 none, 0 the saturator
  std::int32_t *fxctl;     // fx_nctls values, in the same block as the record
  unsigned order;          // rises with every patch or drum key made
};

extern patch *patch_table[PATCH_MAX];
extern patch *drumkey_table[PATCH_MAX];
// Number of saturator controls each patch carries.
extern int fx_nctls;

// Set-up thread: all of the functions below except the read-only lookups,
// which any thread may use once set-up is over.
patch *patch_new(int program);
patch *drumkey_new(int key);
// Releases every patch and drum key and empties both tables.
void patch_free_all();
// The first layer without a wave, or null.
layer *patch_addlayer(patch *p);
// The effect module so named ("sat" only), its controls at their defaults;
// null for any other name.
const orka_module *patch_setfx(patch *p, const char *name);
void patch_setfxctl(patch *p, int ctl, int value);

int fx_ctlbyname(const orka_module *mod, const char *name);
int fx_ctltype(const orka_module *mod, int ctl);
int fx_selbyname(const orka_module *mod, int ctl, const char *name);

// Stores a parameter slot; a time of 0 means none and 127.0 for ever, a
// volume level of -127.0 or less is silence.
void layer_setpar(layer *l, int slot, std::int32_t value);
// Sets how much a source moves a slot; false when all entries are in use.
bool layer_setdep(layer *l, int source, int slot, std::int32_t amount);

// The patch selector's last value text, after the patches: the drum kit.
constexpr const char PATCH_KIT_NAME[] = "Percussions";
// Makes every patch's name unique among the patches and the drum kit's
// entry, so that each name selects its own patch when a saved state is
// read back: a patch defined later than another of the same name gets its
// program number appended (cut to fit, " N-2" and so on if that is taken
// too), with a level-1 message.  Returns the number of patches renamed.
int patch_unique_names();
