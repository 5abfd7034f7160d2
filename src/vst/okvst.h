// okvst.h - the VST 2 plug-in: one instance record per host instance,
// the engine library loaded while any instance exists, and the bridge to
// an editor when the library has one.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "orka/orka.h"
#include "platform/os.h"
#include "vst/vst2.h"

constexpr const char *OKVST_VENDOR = "Glimra";
constexpr const char *OKVST_PRODUCT = "Synth";
constexpr int OKVST_UNIQUE_ID = 0x64697163;

// Words that several threads read and write (the host's, the audio
// thread, the UI and window threads) are relaxed atomics: each is read and
// written whole and orders nothing else.
constexpr std::memory_order OKVST_RLX = std::memory_order_relaxed;

struct okvst_ctl {
  int max;                 // nvals - 1
  std::atomic<int> val;    // the value the host, the editor and the chunk see
  std::atomic<int> engval; // the value last sent to the engine
  std::atomic<int> uival;  // the value last shown in the editor; -1 before the first
};

struct okvst_uithread {
  void (*fn)(void *);
  void *arg;
  os_thread *thread;
};

struct okvst_inst;
// What lets a window's thread find the instance that asked it to sync,
// when the request arrives after it was posted (okvst_ui.cpp).
struct okvst_uirun {
  std::uintptr_t serial;   // names the instance in its requests
  okvst_inst *next;        // in the list of instances with an editor
  bool running, waited;    // under that list's lock
  std::atomic<int> posted; // a request is on its way to the window
};

struct okvst_inst {
  vst_effect effect; // first: the host's pointer is also the record's
  vst_rect rect;
  int rateidx; // -1 until a valid rate is set
  int blksz;   // the size of the bus buffers, and of the engine's blocks
  int blknext; // a size set while started, for the next start; -1 none
  std::atomic<int> started;
  orka_info info;
  okvst_ctl ctls[ORKA_MAXCTLS];
  void *engine;
  void *editor;
  std::atomic<void *> window;
  std::int32_t *bus;
  std::int32_t *inbus[ORKA_MAXBUS], *outbus[ORKA_MAXBUS];
  vst_hostcb host;
  char *chunk;
  std::size_t chunksz;
  char preset[ORKA_TEXTLEN];
  std::atomic<int> presetchg;
  os_mutex *lock;
  okvst_uithread uithread;
  std::atomic<os_sem *> sem; // set once the UI thread's semaphore exists
  std::atomic<int> quit;
  volatile std::int32_t wakeup; // changed only by compare-and-swap
  okvst_uirun uirun;
};

// Process-wide state (instances are created and closed one at a time).
struct okvst_global {
  int ninst;
  void *lib;
  const orka_module *mod;
  const orka_ui *ui;
  int ver_major, ver_minor, ver_patch;
};
extern okvst_global okvst_g;

// The file name of the engine library in the installation directory.
#ifdef _WIN32
#define OKVST_LIBNAME "liborka.dll"
#else
#define OKVST_LIBNAME "liborka.so"
#endif

// Set-up thread.  Loads the engine library; null after the message.
void *orka_load(const char *vendor, const char *product, const orka_module **mod,
                const orka_ui **ui);
void orka_unload(void *lib);
// The index of a rate in ORKA_RATES after rounding to a multiple of 25, or -1.
int orka_rateidx(double rate);

inline okvst_inst *okvst_of(vst_effect *e) { return static_cast<okvst_inst *>(e->object); }

// Host thread.  Frees everything of an instance after "Close"; instances
// are created and torn down one at a time, whatever threads the host uses.
void okvst_teardown(okvst_inst *p);
intptr_t okvst_dispatch(vst_effect *e, std::int32_t opcode, std::int32_t index, intptr_t value,
                        void *ptr, float opt);
// Audio thread: no allocation, no lock.
void okvst_process(vst_effect *e, float **in, float **out, std::int32_t n);
intptr_t okvst_midi_in(okvst_inst *p, const vst_events *list);
// Any thread.
float okvst_getparam(vst_effect *e, std::int32_t index);
void okvst_setparam(vst_effect *e, std::int32_t index, float value);
// Sends every control to the engine (after start).
void okvst_send_all(okvst_inst *p);

// Sample conversion.
std::int32_t okvst_to_engine(float x);
float okvst_to_host(std::int32_t v);
// n engine samples to host samples, each as okvst_to_host gives it.
void okvst_to_host_block(const std::int32_t *src, float *dst, int n);

// The editor bridge.
extern const orka_hostcb OKVST_HOSTCB;
void okvst_ui_open(okvst_inst *p);
void okvst_ui_stop(okvst_inst *p);
void okvst_ui_sync(void *arg);
// Wakes the UI thread when it exists.  Any thread, the audio thread
// included: one semaphore post, no lock.
void okvst_ui_post(okvst_inst *p);
intptr_t okvst_edit_getrect(okvst_inst *p, void *ptr);
intptr_t okvst_edit_open(okvst_inst *p, void *parent);
intptr_t okvst_edit_close(okvst_inst *p);
