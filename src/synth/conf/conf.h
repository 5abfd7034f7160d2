// conf.h - reading the instrument definition.
//
// The definition is "data\midisyn.conf" below the installation directory
// and whatever it loads.  The reader is a pushdown state machine fed one
// token at a time by the lexer; statements build the patch and wave model.
// Every error stops reading after one level-1 message naming the file and
// the line, and everything the definition produced is discarded: the
// instrument then has no patches and stays silent, and the process goes
// on.  All of it runs on the set-up thread, before any instance exists.
#pragma once

#include <cstdint>

#include "synth/conf/conf_lex.h"

// Parser states.
enum conf_state : int {
  PARSE_PROG, PARSE_LOAD, PARSE_LOAD_1, PARSE_PROG_WAV, PARSE_WAV, PARSE_WAV_1, PARSE_WAV_2,
  PARSE_WAV_MAP, PARSE_MAP, PARSE_MAP_1, PARSE_MAP_2, PARSE_MAP_KEY, PARSE_MAP_KEY_1,
  PARSE_MAP_VEL, PARSE_MAP_VEL_1, PARSE_MAP_RND, PARSE_MAP_RND_1, PARSE_MAP_LOOP,
  PARSE_MAP_DATA, PARSE_MAP_PITCH, PARSE_MAP_VOL, PARSE_DRUMKEY, PARSE_PATCH, PARSE_PATCH_1,
  PARSE_PATCH_2, PARSE_PATCH_3, PARSE_PATCH_CKEY, PARSE_PATCH_TEMPO, PARSE_PATCH_FX, PARSE_FX,
  PARSE_FX_1, PARSE_FX_2, PARSE_FX_CTL, PARSE_FX_CTL_NUM, PARSE_FX_CTL_SEL, PARSE_SHAPE,
  PARSE_SHAPE_1, PARSE_SHAPE_2, PARSE_SHAPE_3, PARSE_LAYER, PARSE_LAYER_1, PARSE_LAYER_2,
  PARSE_LAYER_WAV, PARSE_LAYER_FILT, PARSE_LAYER_RELEASE, PARSE_LAYER_SHAPE, PARSE_LAYER_PAR,
  PARSE_LAYER_DEP, PARSE_LAYER_DELAY, PARSE_LAYER_OUTPUT, PARSE_DEP, PARSE_DEP_1,
  PARSE_DEP_PAR, PARSE_PAR, PARSE_PAR_FP, PARSE_PAR_MOD, PARSE_MOD, PARSE_MOD_1,
  PARSE_MOD_FP, PARSE_MOD_LFOTICKS, PARSE_MOD_LFOTYPE, PARSE_RANGE, PARSE_RANGE_1,
  PARSE_RANGE_2, PARSE_FP, PARSE_FP_1, PARSE_FP_2, PARSE_INT, PARSE_REF, PARSE_REF_ENDL,
  PARSE_PATH, PARSE_LFOTYPE, PARSE_FILT, PARSE_RELEASE, PARSE_OUTPUT, PARSE_ENDL, PARSE_ERR,
  PARSE_NSTATES
};
static_assert(PARSE_NSTATES == 77);

constexpr int CONF_STACK = 64;    // parse frames per file
constexpr int CONF_PATHLEN = 255; // longest definition file path
constexpr int CONF_DEPTH = 16;    // most files open at once through "load"
constexpr int CONF_MAXFILES = 1024; // most definition files one set-up tries to read

// What a frame owns and must release if reading stops early.
enum class conf_own : std::uint8_t { none, text, map };

// One rule being matched.  Its result stays in the frame after it is
// popped; the parent takes it on the next token.
struct conf_frame {
  int state;
  union {
    void *ptr;           // object the rule works on, or its copied text
    std::int32_t num[2]; // the rule's number (a range: low, high)
  } v;
  std::int32_t x, y; // further numbers (shape points, dependency amount)
  conf_own own;
};

// One definition file being read.  Nested files get their own record.
struct conf_loader {
  conf_loader *parent;
  int depth;                   // 1 for the top-level file
  char path[CONF_PATHLEN + 1]; // relative to the installation, "\" separated
  int dirlen;                  // length of the directory part, "\" included
  conf_lexer lx;
  conf_frame stack[CONF_STACK];
  int top;                     // index of the top frame
  bool failed;                 // an error was reported; stop reading
  int nfiles;                  // top-level file: files this set-up has tried
  int *files;                  // the top-level file's count
  int prev_line;               // line of the token before the current one
};

// Reads one definition file: the top-level one (parent null) or one named
// by a "load" statement of parent.  False after the error message when the
// file or a file it loads is in error; a file that cannot be read is
// skipped and is not an error.
bool conf_load(conf_loader *parent, const char *name);
// The lexer's token function; ctx is the conf_loader.
void conf_parse(void *ctx, int kind, const conf_tokval *val);
// Releases whatever the parse frames still own.
void conf_release_frames(conf_loader *ld);

// The model's life: conf_init empties it and takes the saturator's control
// count; conf_done releases every patch and drum key.
void conf_init();
void conf_done();
// The level-1 line that follows an error once everything is discarded.
extern const char CONF_DISCARDED[];

// The first error the parser or lexer reported in the last set-up, for
// tools.  The log names the line the reader was on; a value checked once
// its line has ended (a tempo, a wave name, a map's ranges) is reported on
// the next line there, and value_line names its own line.  line is 0 when
// no such error was reported.
struct conf_fault {
  char path[CONF_PATHLEN + 1];
  int line;
  int value_line;
  const char *message; // a static text
};
extern conf_fault conf_first_fault;
// True when the last set-up read the top-level definition file; a missing
// one leaves an empty instrument without an error.
extern bool conf_read_toplevel;

// Library set-up: the model, then "data\midisyn.conf", then every wave's
// data.  False when the definition or its data are in error; the model is
// then empty.
bool conf_setup();
// Library tear-down: patches, drum keys, then every wave.
void conf_teardown();
