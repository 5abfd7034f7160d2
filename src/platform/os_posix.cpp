// POSIX implementation of the operating-system layer (Linux).
#include "platform/os.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef ORKA_DEFAULT_ROOT
#define ORKA_DEFAULT_ROOT "/usr/local/lib"
#endif

namespace {
std::string g_default_root = ORKA_DEFAULT_ROOT;

// A UTF-16 system path as a POSIX file name: UTF-8, "\" mapped to "/".
std::string native_path(const os_char16 *path) {
  std::size_t n = os_utf16_to_utf8(path, nullptr, 0);
  std::string s(n, '\0');
  os_utf16_to_utf8(path, s.data(), n + 1);
  for (char &c : s)
    if (c == '\\')
      c = '/';
  return s;
}

int from_utf8(const char *v, os_char16 *buf, int cap) {
  if (!v)
    return 0;
  return os_widen(v, buf, cap);
}
} // namespace

struct os_file {
  int fd;
};

int os_getenv16(const char *name, os_char16 *buf, int cap) {
  const char *v = std::getenv(name);
  if (!v || !*v)
    return 0;
  return from_utf8(v, buf, cap);
}

void os_set_default_root(const char *root) { g_default_root = root ? root : ""; }

int os_progfiles16(os_char16 *buf, int cap) {
  // A variable that is set wins, even when empty (then there is no path);
  // only an unset one falls back to the configured root.
  if (std::getenv("PROGRAMFILES") || g_default_root.empty())
    return os_getenv16("PROGRAMFILES", buf, cap);
  return from_utf8(g_default_root.c_str(), buf, cap);
}

const char *os_default_root() { return g_default_root.c_str(); }

int os_progfiles_beside16(int up, os_char16 *buf, int cap) {
  return std::getenv("PROGRAMFILES") ? 0 : os_self_dir16(up, buf, cap);
}

int os_progfiles_tool16(os_char16 *buf, int cap) {
  const int n = os_progfiles_beside16(2, buf, cap);
  if (n <= 0 || n >= cap)
    return n;
  static const char lib[] = "/lib";
  if (n + 4 >= cap)
    return n + 4;
  for (int i = 0; i <= 4; ++i)
    buf[n + i] = static_cast<unsigned char>(lib[i]);
  return n + 4;
}

// The real path of the file this code was loaded from, found once: the
// file does not move under a loaded module, and the search (dladdr, then
// realpath's walk over every folder of the path) would otherwise run for
// every installed file the engine reads.  Empty when it cannot be found.
static const std::string &self_file() {
  static const std::string path = [] {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void *>(&os_self_dir16), &info) || !info.dli_fname)
      return std::string();
    // The main program's name may be bare; the kernel knows its file.
    char *real = realpath(std::strchr(info.dli_fname, '/') ? info.dli_fname : "/proc/self/exe", nullptr);
    if (!real)
      return std::string();
    std::string p = real;
    std::free(real);
    return p;
  }();
  return path;
}

int os_self_dir16(int up, os_char16 *buf, int cap) {
  std::string dir = self_file();
  if (dir.empty())
    return 0;
  for (int i = 0; i < up; ++i) {
    const std::size_t slash = dir.rfind('/');
    if (slash == std::string::npos)
      return 0;
    dir.resize(slash);
  }
  if (dir.empty())
    dir.push_back('/');
  return from_utf8(dir.c_str(), buf, cap);
}

int os_appdata16(os_char16 *buf, int cap) {
  int n = os_getenv16("APPDATA", buf, cap);
  if (n > 0)
    return n;
  n = os_getenv16("XDG_CONFIG_HOME", buf, cap);
  if (n > 0)
    return n;
  const char *home = std::getenv("HOME");
  if (!home || !*home)
    return 0;
  std::string s = std::string(home) + "/.config";
  return from_utf8(s.c_str(), buf, cap);
}

static os_file *open_fd(const os_char16 *path, int flags) {
  int fd = ::open(native_path(path).c_str(), flags | O_CLOEXEC);
  if (fd < 0)
    return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  auto *f = static_cast<os_file *>(std::malloc(sizeof(os_file)));
  if (!f) {
    ::close(fd);
    return nullptr;
  }
  f->fd = fd;
  return f;
}

os_file *os_open_append(const os_char16 *path) { return open_fd(path, O_WRONLY | O_APPEND); }
os_file *os_open_read(const os_char16 *path) { return open_fd(path, O_RDONLY); }

bool os_file_size(os_file *f, std::int64_t *size) {
  struct stat st;
  if (fstat(f->fd, &st) != 0)
    return false;
  *size = st.st_size;
  return true;
}

long long os_read(os_file *f, void *buf, std::size_t n) {
  ssize_t r = ::read(f->fd, buf, n);
  return r < 0 ? -1 : static_cast<long long>(r);
}

void os_write(os_file *f, const void *buf, std::size_t n) {
  int saved = errno;
  ssize_t r = ::write(f->fd, buf, n);
  (void)r;
  errno = saved;
}

void os_close(os_file *f) {
  ::close(f->fd);
  std::free(f);
}

void os_stderr_write(const void *buf, std::size_t n) {
  int saved = errno;
  ssize_t r = ::write(2, buf, n);
  (void)r;
  errno = saved;
}

void *os_dlopen(const os_char16 *path) {
  return dlopen(native_path(path).c_str(), RTLD_NOW | RTLD_LOCAL);
}
void *os_dlsym(void *lib, const char *name) { return dlsym(lib, name); }
void os_dlclose(void *lib) { dlclose(lib); }

namespace {
// The calling thread's identifier, asked of the system once per thread
// (it is a system call, and log lines of the audio thread carry it).
thread_local std::uint32_t t_thread_id = 0;
// A forked child is a new thread with its parent's copy of the cache.
const int g_fork_reset = pthread_atfork(nullptr, nullptr, [] { t_thread_id = 0; });
} // namespace

std::uint32_t os_thread_id() {
  if (!t_thread_id)
    t_thread_id = static_cast<std::uint32_t>(syscall(SYS_gettid));
  return t_thread_id;
}

struct os_mutex {
  pthread_mutex_t m;
};
os_mutex *os_mutex_new() {
  auto *m = static_cast<os_mutex *>(std::malloc(sizeof(os_mutex)));
  if (m)
    pthread_mutex_init(&m->m, nullptr);
  return m;
}
void os_mutex_lock(os_mutex *m) { pthread_mutex_lock(&m->m); }
void os_mutex_unlock(os_mutex *m) { pthread_mutex_unlock(&m->m); }
void os_mutex_delete(os_mutex *m) {
  pthread_mutex_destroy(&m->m);
  std::free(m);
}

struct os_sem {
  sem_t s;
};
os_sem *os_sem_new(int initial) {
  auto *s = static_cast<os_sem *>(std::malloc(sizeof(os_sem)));
  if (!s)
    return nullptr;
  if (sem_init(&s->s, 0, static_cast<unsigned>(initial)) != 0) {
    std::free(s);
    return nullptr;
  }
  return s;
}
bool os_sem_post(os_sem *s) { return sem_post(&s->s) == 0; }
bool os_sem_wait(os_sem *s) {
  while (sem_wait(&s->s) != 0)
    if (errno != EINTR)
      return false;
  return true;
}
bool os_sem_delete(os_sem *s) {
  bool ok = sem_destroy(&s->s) == 0;
  std::free(s);
  return ok;
}

struct os_thread {
  pthread_t t;
  void (*fn)(void *);
  void *arg;
};
static void *thread_main(void *p) {
  auto *t = static_cast<os_thread *>(p);
  t->fn(t->arg);
  return nullptr;
}
os_thread *os_thread_start(void (*fn)(void *), void *arg) {
  auto *t = static_cast<os_thread *>(std::malloc(sizeof(os_thread)));
  if (!t)
    return nullptr;
  t->fn = fn;
  t->arg = arg;
  if (pthread_create(&t->t, nullptr, thread_main, t) != 0) {
    std::free(t);
    return nullptr;
  }
  return t;
}
bool os_thread_join(os_thread *t) {
  bool ok = pthread_join(t->t, nullptr) == 0;
  std::free(t);
  return ok;
}

std::int32_t os_cas32(volatile std::int32_t *p, std::int32_t expected, std::int32_t desired) {
  return __sync_val_compare_and_swap(p, expected, desired);
}

struct os_window {
  pthread_mutex_t m;
  pthread_cond_t cv;
  pthread_t owner;
  void (*fn)(void *); // the request of a waiting os_wnd_run
  void *arg;
  unsigned long posted, done;
  struct request {
    void (*fn)(void *);
    void *arg;
  } queue[64]; // os_wnd_post's, a ring
  unsigned head, count;
};

os_window *os_window_new() {
  auto *w = static_cast<os_window *>(std::calloc(1, sizeof(os_window)));
  if (!w)
    return nullptr;
  pthread_mutex_init(&w->m, nullptr);
  pthread_cond_init(&w->cv, nullptr);
  w->owner = pthread_self();
  return w;
}

void os_window_delete(os_window *w) {
  pthread_cond_destroy(&w->cv);
  pthread_mutex_destroy(&w->m);
  std::free(w);
}

void os_window_pump(os_window *w, int wait_ms) {
  pthread_mutex_lock(&w->m);
  if (w->posted == w->done && w->count == 0 && wait_ms > 0) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    ts.tv_sec += wait_ms / 1000;
    ts.tv_nsec += (wait_ms % 1000) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
      ts.tv_sec += 1;
      ts.tv_nsec -= 1000000000L;
    }
    pthread_cond_timedwait(&w->cv, &w->m, &ts);
  }
  for (unsigned n = w->count; n > 0; --n) { // those queued now, in order
    const os_window::request r = w->queue[w->head];
    w->head = (w->head + 1) % 64;
    --w->count;
    pthread_mutex_unlock(&w->m);
    r.fn(r.arg);
    pthread_mutex_lock(&w->m);
  }
  if (w->posted != w->done) {
    void (*fn)(void *) = w->fn;
    void *arg = w->arg;
    pthread_mutex_unlock(&w->m);
    fn(arg);
    pthread_mutex_lock(&w->m);
    w->done = w->posted;
    pthread_cond_broadcast(&w->cv);
  }
  pthread_mutex_unlock(&w->m);
}

bool os_wnd_hook(void *window) { return window != nullptr; }

bool os_wnd_run(void *window, void (*fn)(void *), void *arg) {
  auto *w = static_cast<os_window *>(window);
  if (pthread_equal(w->owner, pthread_self())) {
    fn(arg);
    return true;
  }
  pthread_mutex_lock(&w->m);
  while (w->posted != w->done) // one request at a time
    pthread_cond_wait(&w->cv, &w->m);
  w->fn = fn;
  w->arg = arg;
  unsigned long ticket = ++w->posted;
  pthread_cond_broadcast(&w->cv);
  while (w->done < ticket)
    pthread_cond_wait(&w->cv, &w->m);
  pthread_mutex_unlock(&w->m);
  return true;
}

bool os_wnd_post(void *window, void (*fn)(void *), void *arg) {
  auto *w = static_cast<os_window *>(window);
  pthread_mutex_lock(&w->m);
  const bool room = w->count < 64;
  if (room) {
    w->queue[(w->head + w->count) % 64] = {fn, arg};
    ++w->count;
    pthread_cond_broadcast(&w->cv);
  }
  pthread_mutex_unlock(&w->m);
  return room;
}
