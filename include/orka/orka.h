/*
 * orka.h - the module contract of the Glimra engine.
 *
 * Every signal-processing unit (the synthesizer and the effects it hosts)
 * presents the same table of seventeen functions, orka_module.  The engine
 * library exports one function, orka_entry, which hands out the
 * synthesizer's table and an optional editor table.  Everything that
 * crosses this interface is plain data; each side frees only what it
 * allocated, and no exception ever crosses it.
 *
 * Plain C: compiles as C99 and as C++.
 */
#ifndef ORKA_ORKA_H
#define ORKA_ORKA_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define ORKA_EXPORT __declspec(dllexport)
#elif defined(__GNUC__)
#define ORKA_EXPORT __attribute__((visibility("default")))
#else
#define ORKA_EXPORT
#endif

#if defined(__GNUC__)
#define ORKA_MAYBE_UNUSED __attribute__((unused))
#else
#define ORKA_MAYBE_UNUSED
#endif

/* Length of every name and display-text buffer, terminator included. */
#define ORKA_TEXTLEN 48

/* Control types (orka_ctlinfo.type). */
#define ORKA_CTL_NUM 1    /* a level */
#define ORKA_CTL_SWITCH 2 /* off/on */
#define ORKA_CTL_SEL 3    /* one of several named values */

/* Highest bus and control counts a module may report. */
#define ORKA_MAXBUS 8
#define ORKA_MAXCTLS 256

/* The supported sample rates; modules receive a rate as an index into it. */
#define ORKA_NRATES 15
static const int ORKA_RATES[ORKA_NRATES] ORKA_MAYBE_UNUSED = {
    8000,  11025, 12000, 16000,  22050,  24000,  32000, 44100,
    48000, 64000, 88200, 96000, 128000, 176400, 192000};

/* Module descriptor, filled by info. */
typedef struct orka_info {
  int ninputs;         /* audio input buses, at most 8 */
  int noutputs;        /* audio output buses, at most 8 */
  int nctls;           /* controls, at most 256 */
  const char *preset;  /* name of the preset the defaults make up */
  int latency;         /* processing delay in frames */
  int tail_ms;         /* output after input ends, milliseconds */
  const char *vendor;  /* may be null */
  const char *product; /* may be null */
  int ver_major;
  int ver_minor;
  int ver_patch;
} orka_info;

/* Control description, filled by ctlinfo. */
typedef struct orka_ctlinfo {
  int type;                 /* ORKA_CTL_NUM, ORKA_CTL_SWITCH or ORKA_CTL_SEL */
  int flags;                /* always 0 in this system */
  int nvals;                /* values are 0 ... nvals - 1 */
  int def;                  /* default value */
  char name[ORKA_TEXTLEN];  /* key in the settings text */
  char label[ORKA_TEXTLEN]; /* display name; empty: show name */
} orka_ctlinfo;

/* Callbacks that whoever creates an instance hands to new_; each receives
 * the opaque argument first.  Any entry may be null. */
typedef struct orka_hostcb {
  void (*setctl)(void *arg, int ctl, int val);
  void (*setpreset)(void *arg, const char *name);
  void (*wakeup)(void *arg);
} orka_hostcb;

/* The module table: seventeen slots in this order.  An empty slot is null.
 * Slot 5 is the "new" function; it carries a trailing underscore so that the
 * header also compiles as C++. */
typedef struct orka_module {
  void (*info)(orka_info *out);                                   /* 0 */
  void (*ctlinfo)(int ctl, orka_ctlinfo *out);                    /* 1 */
  void (*selinfo)(int ctl, int val, char text[ORKA_TEXTLEN]);     /* 2 */
  void (*init)(void);                                             /* 3 */
  void (*done)(void);                                             /* 4 */
  void *(*new_)(const orka_hostcb *cb, void *arg);                /* 5 */
  void (*del)(void *inst);                                        /* 6 */
  int (*start)(void *inst, int rateidx, int blksz);               /* 7 */
  void (*stop)(void *inst);                                       /* 8 */
  void (*reset)(void *inst);                                      /* 9 */
  void (*run)(void *inst, int32_t *const *in, int32_t *const *out,
              int nframes);                                       /* 10 */
  void (*onctl)(void *inst, int ctl, int val);                    /* 11 */
  void (*midi)(void *inst, const unsigned char *bytes, int count); /* 12 */
  size_t (*print)(void *inst, const char *preset, const int *vals,
                  char *buf);                                     /* 13 */
  size_t (*scan)(void *inst, char preset[ORKA_TEXTLEN], int *vals,
                 const char *text, size_t len);                   /* 14 */
  void (*printval)(int ctl, int val, char text[ORKA_TEXTLEN]);    /* 15 */
  int (*scanval)(int ctl, int *val, const char *text);            /* 16 */
} orka_module;

/* Editor callbacks, handed by the plug-in to the editor's create. */
typedef struct orka_uicb {
  void (*setctl)(void *arg, int ctl, int val);
  void (*setpreset)(void *arg, const char *name);
  void (*onclose)(void *arg);
  void (*onresize)(void *arg, int width, int height);
  void (*format)(char text[ORKA_TEXTLEN]);
} orka_uicb;

/* Editor table: seven slots in this order. */
typedef struct orka_ui {
  void *(*create)(const orka_module *mod, void *engine, const orka_uicb *cb,
                  void *arg, int *width, int *height);
  void (*destroy)(void *editor);
  void (*setctl)(void *editor, int ctl, int val);
  void (*setpreset)(void *editor, const char *name);
  void *(*attach)(void *editor, void *parent);
  void (*detach)(void *editor);
  void (*wakeup)(void *editor);
} orka_ui;

/* The engine library's only export: stores the synthesizer's module table
 * and the editor table (null: the library has no editor). */
typedef void (*orka_entry_fn)(const orka_module **mod, const orka_ui **ui);
ORKA_EXPORT void orka_entry(const orka_module **mod, const orka_ui **ui);

#ifdef __cplusplus
}
#endif

#endif /* ORKA_ORKA_H */
