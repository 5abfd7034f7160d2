// The editor bridge: a UI thread per instance, woken by a counting
// semaphore, carries pending changes to the editor window's own thread;
// the editor's own changes reach the host as automation.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "utils/log.h"
#include "vst/okvst.h"

namespace {

void post(okvst_inst *p) {
  if (!os_sem_post(p->sem)) {
    log_printf(1, "%s: couldn't increment semaphore", "os_sem_post");
    std::abort();
  }
}

void ui_thread(void *arg) {
  auto *p = static_cast<okvst_inst *>(arg);
  log_printf(1, "%08x: ui thread started", os_thread_id());
  while (!p->quit) {
    if (p->window)
      os_wnd_run(p->window, okvst_ui_sync, p);
    log_printf(1, "%08x: waiting", os_thread_id());
    os_sem_wait(p->sem);
  }
  log_printf(1, "%08x: ui thread stopped", os_thread_id());
}

// Engine to plug-in, any thread.
void okvst_setctl(void *arg, int i, int v) {
  auto *p = static_cast<okvst_inst *>(arg);
  log_printf(1, "%s: i = %d, v = %d", "okvst_setctl", i, v);
  if (i < 0 || i >= p->info.nctls)
    return;
  p->ctls[i].val = v;
  okvst_ui_post(p);
}

void okvst_setpreset(void *arg, const char *name) {
  auto *p = static_cast<okvst_inst *>(arg);
  log_printf(1, "okvst_setpreset: %s", name ? name : "");
  std::snprintf(p->preset, sizeof p->preset, "%s", name ? name : "");
  p->presetchg = 1;
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
  c.val = c.uival = v; // the editor is not told its own change
  os_mutex_unlock(p->lock);
  const float opt = c.max > 0 ? static_cast<float>(c.val) / static_cast<float>(c.max) : 0.0f;
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
  if (p->sem) // before the UI thread exists the values are simply stored
    post(p);
}

void okvst_ui_open(okvst_inst *p) {
  if (p->editor)
    return;
  int w = 0, h = 0;
  p->editor = okvst_g.ui->create(okvst_g.mod, p->engine, &UICB, p, &w, &h);
  p->rect = {0, 0, static_cast<std::int16_t>(h), static_cast<std::int16_t>(w)};
  p->quit = 0;
  p->wakeup = 0;
  p->sem = os_sem_new(0);
  if (!p->sem) {
    log_printf(1, "%s: couldn't create semaphore", "os_sem_init");
    std::exit(1);
  }
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
    const int v = c.val;
    if (v == c.uival)
      continue;
    log_printf(1, "%08x: ctl[%d] changed", os_thread_id(), i);
    c.uival = v;
    ui->setctl(p->editor, i, v);
  }
  if (p->presetchg) {
    p->presetchg = 0;
    ui->setpreset(p->editor, p->preset);
  }
  if (os_cas32(&p->wakeup, 1, 0) == 1)
    ui->wakeup(p->editor);
}

void okvst_ui_stop(okvst_inst *p) {
  // A window still open would wait for a message its thread may never
  // handle: detach it first.
  if (p->window) {
    okvst_g.ui->detach(p->editor);
    p->window = nullptr;
  }
  p->quit = 1;
  post(p);
  log_printf(1, "waiting for ui thread");
  if (!os_thread_join(p->uithread.thread)) {
    log_printf(1, "%s: couldn't join thread", "os_thread_join");
    std::abort();
  }
  p->uithread.thread = nullptr;
  log_printf(1, "destroying sem");
  if (!os_sem_delete(p->sem)) {
    log_printf(1, "%s: couldn't destroy semaphore", "os_sem_destroy");
    std::abort();
  }
  p->sem = nullptr;
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
  if (p->window) {
    log_printf(1, "editopen: already open");
    return 0;
  }
  okvst_ui_open(p);
  void *w = okvst_g.ui->attach(p->editor, parent);
  if (!w)
    return 0;
  os_wnd_hook(w);
  // The new window shows every value at once; only then may the UI thread
  // use it.
  os_wnd_run(w, okvst_ui_sync, p);
  p->window = w;
  return 1;
}

intptr_t okvst_edit_close(okvst_inst *p) {
  log_printf(1, "%08x: %s:", os_thread_id(), "EditClose");
  if (!p->window) {
    log_printf(1, "editclose: not open");
    return 0;
  }
  p->window = nullptr; // the UI thread stops using it first
  okvst_g.ui->detach(p->editor);
  return 1;
}
