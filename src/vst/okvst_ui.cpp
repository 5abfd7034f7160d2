// The editor bridge: a UI thread per instance, woken by a counting
// semaphore, carries pending changes to the editor window's own thread;
// the editor's own changes reach the host as automation.
//
// The UI thread never waits for a window: it posts its request and goes
// back to its semaphore, so a window's thread that does not handle
// messages (it may be the one closing the instance) holds nothing up.  A
// request names its instance by a serial number; the window's thread looks
// the number up among the instances with an editor, so a request that
// arrives after its instance is gone does nothing, and the stop sequence
// waits only for a sync that is running at that moment.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "utils/log.h"
#include "vst/okvst.h"

namespace {

void post(okvst_inst *p) {
  if (!os_sem_post(p->sem.load())) {
    log_printf(1, "%s: couldn't increment semaphore", "os_sem_post");
    std::abort();
  }
}

// Instances with an editor, and the serial numbers their requests carry.
os_mutex *runs_lock() {
  static os_static_mutex m;
  return m.get();
}
okvst_inst *g_runs = nullptr;   // under runs_lock
std::uintptr_t g_serial = 0;    // under runs_lock

void runs_add(okvst_inst *p) {
  os_mutex_guard held(runs_lock());
  p->uirun.serial = ++g_serial;
  p->uirun.next = g_runs;
  p->uirun.running = p->uirun.waited = false;
  p->uirun.posted.store(0);
  g_runs = p;
}

// After this no request reaches p; a sync running on a window's thread
// has ended.  The UI thread is gone, so its semaphore is free to wait on.
void runs_remove(okvst_inst *p) {
  for (bool first = true;; first = false) {
    {
      os_mutex_guard held(runs_lock());
      for (okvst_inst **link = &g_runs; first && *link; link = &(*link)->uirun.next)
        if (*link == p) {
          *link = p->uirun.next;
          break;
        }
      if (!p->uirun.running)
        return;
      p->uirun.waited = true;
    }
    os_sem_wait(p->sem.load()); // posted when that sync ends
  }
}

// On a window's thread: the sync that a UI thread asked for, when its
// instance still exists.
void run_request(void *serial) {
  okvst_inst *p = nullptr;
  {
    os_mutex_guard held(runs_lock());
    for (p = g_runs; p && p->uirun.serial != reinterpret_cast<std::uintptr_t>(serial);)
      p = p->uirun.next;
    if (!p)
      return;
    p->uirun.running = true;
  }
  p->uirun.posted.exchange(0, std::memory_order_acq_rel); // later changes ask anew
  okvst_ui_sync(p);
  os_mutex_guard held(runs_lock());
  p->uirun.running = false;
  if (p->uirun.waited)
    post(p);
}

// Asks the window's thread for a sync unless a request is on its way;
// never waits for the window.  The lock keeps the window from being
// detached while the request is posted.
void request_sync(okvst_inst *p) {
  os_mutex_guard held(p->lock);
  void *w = p->window.load();
  if (!w || p->uirun.posted.exchange(1, std::memory_order_acq_rel))
    return;
  if (!os_wnd_post(w, run_request, reinterpret_cast<void *>(p->uirun.serial)))
    p->uirun.posted.store(0);
}

// Takes the window away from the UI thread; the caller detaches it.
bool take_window(okvst_inst *p) {
  os_mutex_guard held(p->lock);
  return p->window.exchange(nullptr) != nullptr;
}

void ui_thread(void *arg) {
  auto *p = static_cast<okvst_inst *>(arg);
  log_printf(1, "%08x: ui thread started", os_thread_id());
  while (!p->quit.load()) {
    request_sync(p);
    log_printf(1, "%08x: waiting", os_thread_id());
    os_sem_wait(p->sem.load());
  }
  log_printf(1, "%08x: ui thread stopped", os_thread_id());
}

// Engine to plug-in, any thread.
void okvst_setctl(void *arg, int i, int v) {
  auto *p = static_cast<okvst_inst *>(arg);
  log_printf(1, "%s: i = %d, v = %d", "okvst_setctl", i, v);
  if (i < 0 || i >= p->info.nctls)
    return;
  p->ctls[i].val.store(v, OKVST_RLX);
  okvst_ui_post(p);
}

// The name is written under the lock, as GetChunk and the editor's sync
// read it.  No engine calls back while the dispatcher holds the lock (the
// engine never reports a preset name by itself), so taking it here cannot
// wait on this thread's own caller.
void okvst_setpreset(void *arg, const char *name) {
  auto *p = static_cast<okvst_inst *>(arg);
  log_printf(1, "okvst_setpreset: %s", name ? name : "");
  {
    os_mutex_guard held(p->lock);
    std::snprintf(p->preset, sizeof p->preset, "%s", name ? name : "");
  }
  p->presetchg.store(1, OKVST_RLX);
  okvst_ui_post(p);
}

void okvst_wakeup(void *arg) {
  auto *p = static_cast<okvst_inst *>(arg);
  log_printf(1, "okvst_wakeup:");
  if (os_cas32(&p->wakeup, 0, 1) == 0)
    okvst_ui_post(p);
}

// Editor to plug-in, on the editor window's thread.
void okvst_ui_setctl(void *arg, int i, int v) {
  auto *p = static_cast<okvst_inst *>(arg);
  log_printf(1, "%s: i = %d, v = %d", "okvst_ui_setctl", i, v);
  if (i < 0 || i >= p->info.nctls)
    return;
  okvst_ctl &c = p->ctls[i];
  os_mutex_lock(p->lock);
  c.val.store(v, OKVST_RLX);
  c.uival.store(v, OKVST_RLX); // the editor is not told its own change
  os_mutex_unlock(p->lock);
  const float opt = c.max > 0 ? static_cast<float>(v) / static_cast<float>(c.max) : 0.0f;
  const intptr_t r = p->host ? p->host(&p->effect, VST_HOST_AUTOMATE, i, 0, nullptr, opt) : 0;
  log_printf(1, "%s: automate %d, ret = %d", "okvst_ui_setctl", i, static_cast<int>(r));
}

void okvst_ui_setpreset(void *arg, const char *name) {
  auto *p = static_cast<okvst_inst *>(arg);
  log_printf(1, "%s: %s", "okvst_ui_setpreset", name ? name : "");
  os_mutex_lock(p->lock);
  std::snprintf(p->preset, sizeof p->preset, "%s", name ? name : "");
  os_mutex_unlock(p->lock);
  const intptr_t r = p->host ? p->host(&p->effect, VST_HOST_UPDATE_DISPLAY, 0, 0, nullptr, 0.0f) : 0;
  log_printf(1, "%s: ret = %d", "okvst_ui_setpreset", static_cast<int>(r));
}

void okvst_ui_onclose(void *) { log_printf(1, "%s:", "okvst_ui_onclose"); }

void okvst_ui_onresize(void *arg, int width, int height) {
  auto *p = static_cast<okvst_inst *>(arg);
  p->rect.right = static_cast<std::int16_t>(width);
  p->rect.bottom = static_cast<std::int16_t>(height);
  const intptr_t r =
      p->host ? p->host(&p->effect, VST_HOST_SIZE_WINDOW, width, height, nullptr, 0.0f) : 0;
  log_printf(1, "%s: SizeWindow(%d, %d) return %d", "okvst_ui_onresize", width, height,
             static_cast<int>(r));
}

void okvst_ui_format(char text[ORKA_TEXTLEN]) { std::snprintf(text, ORKA_TEXTLEN, "VST/x86_64"); }

const orka_uicb UICB = {okvst_ui_setctl, okvst_ui_setpreset, okvst_ui_onclose, okvst_ui_onresize,
                        okvst_ui_format};

} // namespace

const orka_hostcb OKVST_HOSTCB = {okvst_setctl, okvst_setpreset, okvst_wakeup};

void okvst_ui_post(okvst_inst *p) {
  if (p->sem.load()) // before the UI thread exists the values are simply stored
    post(p);
}

void okvst_ui_open(okvst_inst *p) {
  if (p->editor)
    return;
  int w = 0, h = 0;
  p->editor = okvst_g.ui->create(okvst_g.mod, p->engine, &UICB, p, &w, &h);
  p->rect = {0, 0, static_cast<std::int16_t>(h), static_cast<std::int16_t>(w)};
  p->quit.store(0);
  p->wakeup = 0;
  os_sem *sem = os_sem_new(0);
  if (!sem) {
    log_printf(1, "%s: couldn't create semaphore", "os_sem_init");
    std::exit(1);
  }
  p->sem.store(sem);
  runs_add(p);
  p->uithread.fn = ui_thread;
  p->uithread.arg = p;
  p->uithread.thread = os_thread_start(ui_thread, p);
  if (!p->uithread.thread) {
    log_printf(1, "%s: couldn't spawn thread", "os_thread_spawn");
    std::exit(1);
  }
  log_printf(1, "%08x: spawned ui_thread", os_thread_id());
}

void okvst_ui_sync(void *arg) {
  auto *p = static_cast<okvst_inst *>(arg);
  if (!p->editor)
    return;
  const orka_ui *ui = okvst_g.ui;
  for (int i = 0; i < p->info.nctls; ++i) {
    okvst_ctl &c = p->ctls[i];
    const int v = c.val.load(OKVST_RLX);
    if (v == c.uival.load(OKVST_RLX))
      continue;
    log_printf(1, "%08x: ctl[%d] changed", os_thread_id(), i);
    c.uival.store(v, OKVST_RLX);
    ui->setctl(p->editor, i, v);
  }
  if (p->presetchg.exchange(0, OKVST_RLX)) {
    char name[ORKA_TEXTLEN]; // the dispatcher writes it under the lock
    {
      os_mutex_guard held(p->lock);
      std::memcpy(name, p->preset, sizeof name);
    }
    ui->setpreset(p->editor, name);
  }
  if (os_cas32(&p->wakeup, 1, 0) == 1)
    ui->wakeup(p->editor);
}

void okvst_ui_stop(okvst_inst *p) {
  // A window still open is closed first, as "EditClose" would.
  if (take_window(p))
    okvst_g.ui->detach(p->editor);
  p->quit.store(1);
  post(p);
  log_printf(1, "waiting for ui thread");
  if (!os_thread_join(p->uithread.thread)) {
    log_printf(1, "%s: couldn't join thread", "os_thread_join");
    std::abort();
  }
  p->uithread.thread = nullptr;
  runs_remove(p);
  log_printf(1, "destroying sem");
  if (!os_sem_delete(p->sem.exchange(nullptr))) {
    log_printf(1, "%s: couldn't destroy semaphore", "os_sem_destroy");
    std::abort();
  }
  log_printf(1, "destrying ui");
  okvst_g.ui->destroy(p->editor);
  p->editor = nullptr;
}

intptr_t okvst_edit_getrect(okvst_inst *p, void *ptr) {
  if (!okvst_g.ui) {
    log_printf(1, "getwinsize: no ui");
    return 0;
  }
  log_printf(1, "%08x: %s:", os_thread_id(), "EditGetRect");
  okvst_ui_open(p);
  if (ptr)
    *static_cast<vst_rect **>(ptr) = &p->rect;
  return 1;
}

intptr_t okvst_edit_open(okvst_inst *p, void *parent) {
  if (!okvst_g.ui) {
    log_printf(1, "editopen: no ui");
    return 0;
  }
  log_printf(1, "%08x: %s:", os_thread_id(), "EditOpen");
  if (p->window.load()) {
    log_printf(1, "editopen: already open");
    return 0;
  }
  okvst_ui_open(p);
  void *w = okvst_g.ui->attach(p->editor, parent);
  if (!w)
    return 0;
  os_wnd_hook(w);
  // The new window shows every value at once; only then may the UI thread
  // use it.  A request to an earlier window may have been lost with it.
  os_wnd_run(w, okvst_ui_sync, p);
  os_mutex_guard held(p->lock);
  p->uirun.posted.store(0);
  p->window.store(w);
  return 1;
}

intptr_t okvst_edit_close(okvst_inst *p) {
  log_printf(1, "%08x: %s:", os_thread_id(), "EditClose");
  if (!take_window(p)) { // the UI thread stops using it first
    log_printf(1, "editclose: not open");
    return 0;
  }
  okvst_g.ui->detach(p->editor);
  return 1;
}
