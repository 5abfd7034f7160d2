// Win32 implementation of the operating-system layer (64-bit Windows).
#include "platform/os.h"

#include <cerrno>
#include <cstdlib>
#include <io.h>
#include <windows.h>

struct os_file {
  HANDLE h;
};

int os_getenv16(const char *name, os_char16 *buf, int cap) {
  wchar_t wname[64];
  int i = 0;
  for (; name[i] && i < 63; ++i)
    wname[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
  wname[i] = 0;
  DWORD n = GetEnvironmentVariableW(wname, reinterpret_cast<wchar_t *>(buf),
                                    static_cast<DWORD>(cap));
  // When the buffer is too small the call reports the size it needs,
  // terminator included, which is at least cap + 1 > cap.
  return static_cast<int>(n);
}

void os_set_default_root(const char *) {}

int os_progfiles16(os_char16 *buf, int cap) { return os_getenv16("PROGRAMFILES", buf, cap); }
int os_appdata16(os_char16 *buf, int cap) { return os_getenv16("APPDATA", buf, cap); }
int os_progfiles_beside16(int, os_char16 *, int) { return 0; }

int os_progfiles_tool16(os_char16 *, int) { return 0; }

static os_file *wrap(HANDLE h) {
  if (h == INVALID_HANDLE_VALUE)
    return nullptr;
  auto *f = static_cast<os_file *>(std::malloc(sizeof(os_file)));
  if (!f) {
    CloseHandle(h);
    return nullptr;
  }
  f->h = h;
  return f;
}

os_file *os_open_append(const os_char16 *path) {
  return wrap(CreateFileW(reinterpret_cast<LPCWSTR>(path), FILE_APPEND_DATA,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

os_file *os_open_read(const os_char16 *path) {
  return wrap(CreateFileW(reinterpret_cast<LPCWSTR>(path), GENERIC_READ, FILE_SHARE_READ,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool os_file_size(os_file *f, std::int64_t *size) {
  LARGE_INTEGER li;
  if (!GetFileSizeEx(f->h, &li))
    return false;
  *size = li.QuadPart;
  return true;
}

long long os_read(os_file *f, void *buf, std::size_t n) {
  DWORD got = 0;
  if (!ReadFile(f->h, buf, static_cast<DWORD>(n), &got, nullptr))
    return -1;
  return got;
}

void os_write(os_file *f, const void *buf, std::size_t n) {
  DWORD saved = GetLastError();
  DWORD put = 0;
  WriteFile(f->h, buf, static_cast<DWORD>(n), &put, nullptr);
  SetLastError(saved);
}

void os_close(os_file *f) {
  CloseHandle(f->h);
  std::free(f);
}

void os_stderr_write(const void *buf, std::size_t n) {
  int saved = errno;
  DWORD savedw = GetLastError();
  _write(2, buf, static_cast<unsigned>(n));
  SetLastError(savedw);
  errno = saved;
}

void *os_dlopen(const os_char16 *path) {
  return reinterpret_cast<void *>(LoadLibraryW(reinterpret_cast<LPCWSTR>(path)));
}
void *os_dlsym(void *lib, const char *name) {
  return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(lib), name));
}
void os_dlclose(void *lib) { FreeLibrary(static_cast<HMODULE>(lib)); }

std::uint32_t os_thread_id() { return GetCurrentThreadId(); }

struct os_mutex {
  CRITICAL_SECTION cs;
};
os_mutex *os_mutex_new() {
  auto *m = static_cast<os_mutex *>(std::malloc(sizeof(os_mutex)));
  if (m)
    InitializeCriticalSection(&m->cs);
  return m;
}
void os_mutex_lock(os_mutex *m) { EnterCriticalSection(&m->cs); }
void os_mutex_unlock(os_mutex *m) { LeaveCriticalSection(&m->cs); }
void os_mutex_delete(os_mutex *m) {
  DeleteCriticalSection(&m->cs);
  std::free(m);
}

struct os_sem {
  HANDLE h;
};
os_sem *os_sem_new(int initial) {
  HANDLE h = CreateSemaphoreW(nullptr, initial, 2147483647, nullptr);
  if (!h)
    return nullptr;
  auto *s = static_cast<os_sem *>(std::malloc(sizeof(os_sem)));
  if (!s) {
    CloseHandle(h);
    return nullptr;
  }
  s->h = h;
  return s;
}
bool os_sem_post(os_sem *s) { return ReleaseSemaphore(s->h, 1, nullptr) != 0; }
bool os_sem_wait(os_sem *s) { return WaitForSingleObject(s->h, INFINITE) == WAIT_OBJECT_0; }
bool os_sem_delete(os_sem *s) {
  bool ok = CloseHandle(s->h) != 0;
  std::free(s);
  return ok;
}

struct os_thread {
  HANDLE h;
  void (*fn)(void *);
  void *arg;
};
static DWORD WINAPI thread_main(LPVOID p) {
  auto *t = static_cast<os_thread *>(p);
  t->fn(t->arg);
  return 0;
}
os_thread *os_thread_start(void (*fn)(void *), void *arg) {
  auto *t = static_cast<os_thread *>(std::malloc(sizeof(os_thread)));
  if (!t)
    return nullptr;
  t->fn = fn;
  t->arg = arg;
  t->h = CreateThread(nullptr, 0, thread_main, t, 0, nullptr);
  if (!t->h) {
    std::free(t);
    return nullptr;
  }
  return t;
}
bool os_thread_join(os_thread *t) {
  bool ok = WaitForSingleObject(t->h, INFINITE) == WAIT_OBJECT_0;
  ok = CloseHandle(t->h) != 0 && ok;
  std::free(t);
  return ok;
}

std::int32_t os_cas32(volatile std::int32_t *p, std::int32_t expected, std::int32_t desired) {
  return InterlockedCompareExchange(reinterpret_cast<volatile LONG *>(p), desired, expected);
}

static const wchar_t WNDPROP[] = L"orka_wndproc";

static LRESULT CALLBACK orka_wndproc(HWND w, UINT msg, WPARAM a, LPARAM b) {
  if (msg == ORKA_MSG_RUN) {
    reinterpret_cast<void (*)(void *)>(a)(reinterpret_cast<void *>(b));
    return 0;
  }
  auto prev = reinterpret_cast<WNDPROC>(GetPropW(w, WNDPROP));
  return prev ? CallWindowProcW(prev, w, msg, a, b) : DefWindowProcW(w, msg, a, b);
}

bool os_wnd_hook(void *window) {
  HWND w = static_cast<HWND>(window);
  LONG_PTR prev =
      SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&orka_wndproc));
  if (!prev)
    return false;
  return SetPropW(w, WNDPROP, reinterpret_cast<HANDLE>(prev)) != 0;
}

bool os_wnd_run(void *window, void (*fn)(void *), void *arg) {
  SendMessageW(static_cast<HWND>(window), ORKA_MSG_RUN, reinterpret_cast<WPARAM>(fn),
               reinterpret_cast<LPARAM>(arg));
  return true;
}

bool os_wnd_post(void *window, void (*fn)(void *), void *arg) {
  return PostMessageW(static_cast<HWND>(window), ORKA_MSG_RUN, reinterpret_cast<WPARAM>(fn),
                      reinterpret_cast<LPARAM>(arg)) != 0;
}
