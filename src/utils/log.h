// log.h - diagnostic logging and the extended printf formatter.
//
// Format strings take the standard printf conversions plus named
// conversions in braces, "{name:%spec,...}", served by functions that
// modules register under a key at set-up.  Every module of a deliverable
// shares one log state and one registry.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#if defined(__MINGW32__)
#define ORKA_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#elif defined(__GNUC__)
#define ORKA_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define ORKA_PRINTF(f, a)
#endif

// A conversion function: writes at most size bytes (NUL included) into out
// from up to eight 64-bit argument values and returns the length its whole
// output needs, as snprintf does; -1 declines the call.
using conv_func = int (*)(char *out, std::size_t size, const std::int64_t *values);

// The lookup a formatter uses: the length written, or -1 when the key is
// not served.
using conv_lookup = int (*)(char *out, std::size_t size, const char *key,
                            const std::int64_t *values);

// Log state of this deliverable.  A message of level L is produced only
// when L <= log_level.  Both are read by every thread and changed only by
// log_open and log_close (and by tests): whole-word relaxed atomics.
extern std::atomic<int> log_level;
// Receives each finished message (newline included) in one call.
using log_sink_fn = void (*)(const char *bytes, std::size_t n);
extern std::atomic<log_sink_fn> log_sink;

// Opens the log: the first of nested calls looks for the file
// "<appdata>\<vendor>-<product>\logN", N = 9 ... 1, and registers "%s",
// "%p" and "su16:%p".  Set-up thread; calls are serialised.
void log_open(const char *vendor, const char *product);
// Ends one log_open; the last lists live allocations and closes the file
// once no message is being written any more.
void log_close();
// Formats and writes one message of at most 255 characters plus a newline.
// Any thread, the audio thread included: no allocation, no lock, one sink
// call.  Call it through log_printf.
void log_write(int level, const char *fmt, ...) ORKA_PRINTF(2, 3);
// Tests the level before anything else, arguments included, so that a
// disabled message costs one comparison.
#define log_printf(level, ...)                                                                  \
  do {                                                                                           \
    const int log_lv_ = (level);                                                                 \
    if (log_lv_ <= log_level.load(std::memory_order_relaxed))                                    \
      log_write(log_lv_, __VA_ARGS__);                                                           \
  } while (0)

// Registry of named conversions, newest first.  Set-up threads; changes
// are serialised, and a removed node is freed only once no lookup is in
// flight, so any thread may print meanwhile.
void *conv_register(conv_func fn, const char *key);
void conv_unregister(conv_func fn);
// The registry as a lookup; any thread.
int conv_call(char *out, std::size_t size, const char *key, const std::int64_t *values);

// The extended formatter.  Never writes past size; returns the length the
// complete output needs, without the NUL.
int xvsnprintf(conv_lookup lookup, char *buf, std::size_t size, const char *fmt,
               std::va_list args);
int xsnprintf(conv_lookup lookup, char *buf, std::size_t size, const char *fmt, ...);

// Fixed-point number with fracbits fraction bits, digits cut, not rounded.
int fp_snprint(char *out, std::size_t size, unsigned fracbits, std::int64_t value);
// UTF-16 text (NUL-terminated) written as UTF-8.
int su16_snprint(char *out, std::size_t size, const std::uint16_t *text);

// The registered forms of the two printers above ("fp:%u,%d", "su16:%p").
int conv_fp(char *out, std::size_t size, const std::int64_t *values);
int conv_su16(char *out, std::size_t size, const std::int64_t *values);
