// os.h - the operating-system layer.  Everything the system needs from the
// platform goes through these few operations; os_posix.cpp and
// os_win32.cpp implement them.  Paths are NUL-terminated UTF-16 texts that
// keep "\" as the separator; the POSIX layer maps it to "/" when a file or
// library is opened.
#pragma once

#include <cstddef>
#include <cstdint>

using os_char16 = std::uint16_t;

// Longest path, in UTF-16 units, that the system builds.
constexpr int OS_PATHMAX = 260;

// Reads an environment variable as UTF-16 into buf (cap units, terminator
// included).  Returns its length in units, 0 when it is not set; a result
// of cap or more means it did not fit (buf then holds nothing useful).
int os_getenv16(const char *name, os_char16 *buf, int cap);

// The program-files folder: PROGRAMFILES, or on POSIX the install root
// fixed at configure time when the variable is not set.  Same result rules
// as os_getenv16.
int os_progfiles16(os_char16 *buf, int cap);
// Replaces the POSIX fallback root ("" disables it).  For tests and tools.
void os_set_default_root(const char *root);
// The program-files folder as an installation that was moved finds it
// from its own files: on POSIX, when PROGRAMFILES is not set, the folder
// `up` levels above the file that holds the calling code (see
// os_self_dir16).  0 when PROGRAMFILES is set, and always on Windows,
// where the program-files folder is the system's.  Same result rules as
// os_getenv16.
int os_progfiles_beside16(int up, os_char16 *buf, int cap);
// The program-files folder of the installation a command-line program
// belongs to: installed as "<prefix>/bin/<program>", it is "<prefix>/lib",
// found from the program's own (real) file.  0 when PROGRAMFILES is set,
// and always on Windows.  Same result rules as os_getenv16.
int os_progfiles_tool16(os_char16 *buf, int cap);

// The application-data folder: APPDATA; on POSIX then XDG_CONFIG_HOME,
// then $HOME/.config.  Same result rules as os_getenv16.
int os_appdata16(os_char16 *buf, int cap);

struct os_file;
// Opens an existing file for appending; never creates one.  Null on failure.
os_file *os_open_append(const os_char16 *path);
// Opens an existing file for reading, shared with other readers.
os_file *os_open_read(const os_char16 *path);
// Size in bytes; false on failure.
bool os_file_size(os_file *f, std::int64_t *size);
// One read call; bytes read or -1.
long long os_read(os_file *f, void *buf, std::size_t n);
// One write call; errors are ignored and the thread's error state is kept.
void os_write(os_file *f, const void *buf, std::size_t n);
void os_close(os_file *f);
// One write to the standard error stream; errno is kept.
void os_stderr_write(const void *buf, std::size_t n);

// Shared libraries.
void *os_dlopen(const os_char16 *path);
void *os_dlsym(void *lib, const char *name);
void os_dlclose(void *lib);

// Identifier of the calling thread; no system call after a thread's first.
std::uint32_t os_thread_id();

// Mutual-exclusion lock (not recursive).
struct os_mutex;
os_mutex *os_mutex_new();
void os_mutex_lock(os_mutex *m);
void os_mutex_unlock(os_mutex *m);
void os_mutex_delete(os_mutex *m);
// Holds a lock for the rest of a scope; a null lock is not taken.
class os_mutex_guard {
public:
  explicit os_mutex_guard(os_mutex *m) : m_(m) {
    if (m_)
      os_mutex_lock(m_);
  }
  ~os_mutex_guard() {
    if (m_)
      os_mutex_unlock(m_);
  }
  os_mutex_guard(const os_mutex_guard &) = delete;
  os_mutex_guard &operator=(const os_mutex_guard &) = delete;

private:
  os_mutex *m_;
};
// The lock of some process-wide state, kept as a function-local static:
// created at its first use, thread-safely, and released when the program
// or library is unloaded.  get() is null after that (only static
// destructors run then, on one thread) or when it could not be created.
class os_static_mutex {
public:
  os_static_mutex() : m_(os_mutex_new()) {}
  ~os_static_mutex() {
    if (m_)
      os_mutex_delete(m_);
    m_ = nullptr;
  }
  os_mutex *get() const { return m_; }
  os_static_mutex(const os_static_mutex &) = delete;
  os_static_mutex &operator=(const os_static_mutex &) = delete;

private:
  os_mutex *m_;
};

// Counting semaphore.  Each returns false on failure.
struct os_sem;
os_sem *os_sem_new(int initial);
bool os_sem_post(os_sem *s);
bool os_sem_wait(os_sem *s);
bool os_sem_delete(os_sem *s);

// Threads.
struct os_thread;
os_thread *os_thread_start(void (*fn)(void *), void *arg);
bool os_thread_join(os_thread *t); // waits, then releases the handle

// 32-bit atomic compare-and-swap; returns the value found at p.
std::int32_t os_cas32(volatile std::int32_t *p, std::int32_t expected,
                      std::int32_t desired);

// Converts UTF-16 to UTF-8 (unpaired surrogates encoded as they are) into
// out (cap bytes, terminator included); returns the length needed.
std::size_t os_utf16_to_utf8(const os_char16 *in, char *out, std::size_t cap);
// Widens 8-bit text to UTF-16: valid UTF-8 sequences become their code
// points, any other byte is taken as the code point of the same value.
// Writes at most cap units including the terminator; returns the units
// needed without it.
int os_widen(const char *in, os_char16 *out, int cap);
// Length of a UTF-16 text in units.
int os_strlen16(const os_char16 *s);

// Editor windows.  os_wnd_hook makes a window accept run requests: on
// Windows it replaces the window's procedure and keeps the previous one in
// the window property "orka_wndproc".  os_wnd_run runs fn(arg) on the
// window's own thread and returns when it has run.  os_wnd_post queues
// the same request and returns at once; false when it could not be queued.
// A request queued to a window that is destroyed is dropped.
constexpr unsigned ORKA_MSG_RUN = 1024 + 161;
bool os_wnd_hook(void *window);
bool os_wnd_run(void *window, void (*fn)(void *), void *arg);
bool os_wnd_post(void *window, void (*fn)(void *), void *arg);

#ifndef _WIN32
// The folder `up` levels above the file that holds the calling code (the
// shared library or program it is linked into), symbolic links to that
// file followed: up = 1 is the file's own folder.  Same result rules as
// os_getenv16; 0 when it cannot be told.
int os_self_dir16(int up, os_char16 *buf, int cap);
// The POSIX fallback root for the program-files folder (empty when none).
const char *os_default_root();

// POSIX stand-in for an editor window: an object owned by one thread,
// which handles run requests when it calls os_window_pump.  It queues up
// to 64 posted requests.
struct os_window;
os_window *os_window_new();
void os_window_delete(os_window *w);
// Runs every pending request, posted ones in order; waits up to wait_ms
// for one when none is.
void os_window_pump(os_window *w, int wait_ms);
#endif
