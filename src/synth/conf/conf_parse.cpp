// The definition parser: a pushdown state machine that takes one token per
// call.  Each state either consumes the token or changes the stack and
// hands the same token on to the new top state.
#include <cstring>

#include "synth/conf/conf.h"
#include "synth/patch/patch.h"
#include "synth/wave/wave.h"
#include "utils/alloc.h"
#include "utils/log.h"

namespace {

enum class act { consume, again, stop };

const char *const LFO_TYPES[] = {"sine", "dirac", "rand", "randpeak", "randbin", "gauss"};

// Reports msg on the current line; value_line is the line of the value at
// fault when the error is found only after that value's line has ended.
act fail(conf_loader *ld, const char *msg, int value_line = 0) {
  log_printf(1, "%s: %d: %s", ld->path, ld->lx.line, msg);
  if (!conf_first_fault.line) {
    std::memcpy(conf_first_fault.path, ld->path, sizeof ld->path);
    conf_first_fault.line = ld->lx.line;
    conf_first_fault.value_line = value_line ? value_line : ld->lx.line;
    conf_first_fault.message = msg;
  }
  ld->stack[0].state = PARSE_ERR;
  ld->failed = true;
  return act::stop;
}

bool is_int(int kind, const conf_tokval *v, std::int64_t lo, std::int64_t hi) {
  return kind == TOK_NUM && !v->wide && v->num >= lo && v->num <= hi;
}

// The value kinds a parameter line may start with, and the MIDI sources.
int par_base(int kind) {
  switch (kind) {
  case KW_PITCH: return PAR_PITCH;
  case KW_VOL: return PAR_VOL;
  case KW_CUT: return PAR_CUT;
  case KW_RES: return PAR_RES;
  case KW_PAN: return PAR_PAN;
  default: return -1;
  }
}

int dep_source(int kind) {
  switch (kind) {
  case KW_KEY: return SRC_KEY;
  case KW_VEL: return SRC_VEL;
  case KW_CAT: return SRC_CAT;
  case KW_BEND: return SRC_BEND;
  case KW_MOD: return SRC_MOD;
  case KW_EXPR: return SRC_EXPR;
  default: return -1;
  }
}

// Modulators that take a number, in slot order.
int mod_index(int kind) {
  static constexpr int MODS[] = {KW_BASE,   KW_ILEVEL, KW_ATIME, KW_ALEVEL,
                                 KW_DTIME,  KW_DLEVEL, KW_STIME, KW_SLEVEL,
                                 KW_RTIME,  KW_RLEVEL, KW_LFO,   KW_LFOTIME};
  for (int i = 0; i < 12; ++i)
    if (MODS[i] == kind)
      return i;
  return -1;
}

// Keywords that start a parameter line inside a layer (a few of them only
// to be refused by the parameter rule).
bool starts_par(int kind) {
  switch (kind) {
  case KW_ILEVEL: case KW_ATIME: case KW_ALEVEL: case KW_DTIME: case KW_DLEVEL:
  case KW_STIME: case KW_SLEVEL: case KW_RTIME: case KW_RLEVEL: case KW_LFOTIME:
  case KW_LFOTICKS: case KW_LFOTYPE: case KW_PITCH: case KW_VOL: case KW_CUT:
  case KW_RES: case KW_PAN:
    return true;
  default:
    return false;
  }
}

int filter_type(int kind) {
  switch (kind) {
  case KW_OFF: return 0;
  case KW_LOWPASS: return 1;
  case KW_HIGHPASS: return 2;
  case KW_BANDPASS: return 3;
  case KW_BANDREJ: return 4;
  case KW_PEAK: return 5;
  default: return -1;
  }
}

// The parser proper.  f is the top frame, c the frame just popped (whose
// result the parent takes), below(n) the frame n under the top.
struct parser {
  conf_loader *ld;
  int kind;
  const conf_tokval *val;

  conf_frame &f() const { return ld->stack[ld->top]; }
  conf_frame &c() const { return ld->stack[ld->top + 1]; }
  conf_frame &below(int n) const { return ld->stack[ld->top - n]; }
  patch *pat(int n) const { return static_cast<patch *>(below(n).v.ptr); }
  layer *lay() const { return static_cast<layer *>(f().v.ptr); }
  map *mp() const { return static_cast<map *>(f().v.ptr); }

  act push(int state) {
    if (ld->top + 1 >= CONF_STACK)
      return fail(ld, "parse stack overflow");
    ++ld->top;
    f() = conf_frame{state, {nullptr}, 0, 0, conf_own::none};
    return act::consume;
  }
  act become(int state) {
    f().state = state;
    return act::consume;
  }
  act become_push(int state, int child) {
    f().state = state;
    return push(child);
  }
  act become_push_again(int state, int child) {
    return become_push(state, child) == act::stop ? act::stop : act::again;
  }
  act pop() {
    --ld->top;
    return act::consume;
  }
  act pop_again() {
    --ld->top;
    return act::again;
  }
  act again(int state) {
    f().state = state;
    return act::again;
  }
  // Takes the text the popped frame owns.
  char *take_text() {
    c().own = conf_own::none;
    return static_cast<char *>(c().v.ptr);
  }
  act err(const char *msg) { return fail(ld, msg); }
  // An error in the value that a finished child rule read: it ended with
  // the token before this one.
  act err_value(const char *msg) { return fail(ld, msg, ld->prev_line); }

  act step();
  act step_wave();
  act step_patch();
  act step_layer();
  act step_value();
};

act parser::step_wave() {
  conf_frame &fr = f();
  switch (fr.state) {
  case PARSE_WAV:
    if (kind != TOK_IDENT)
      return err("name expected after 'wav'");
    fr.v.ptr = wave_new(val->text);
    return become(PARSE_WAV_1);
  case PARSE_WAV_1:
    return kind == '{' ? become(PARSE_WAV_2) : err("'{' expected");
  case PARSE_WAV_2:
    if (kind == TOK_NEWLINE)
      return act::consume;
    if (kind == KW_MAP)
      return become_push(PARSE_WAV_MAP, PARSE_MAP);
    return kind == '}' ? pop() : err("'}' expected");
  case PARSE_WAV_MAP: {
    auto *m = static_cast<map *>(c().v.ptr);
    // The map is at fault: name the line it starts on.
    if (!m->path)
      return fail(ld, "'data' path expected", c().x);
    if (!wave_addmap(static_cast<wave *>(fr.v.ptr), m))
      return fail(ld, "incompatible map ranges", c().x);
    c().own = conf_own::none;
    return again(PARSE_WAV_2);
  }
  case PARSE_MAP:
    fr.v.ptr = map_new();
    fr.own = conf_own::map;
    fr.x = ld->lx.line; // where the map starts
    return again(PARSE_MAP_1);
  case PARSE_MAP_1:
    switch (kind) {
    case KW_KEY: return become(PARSE_MAP_KEY);
    case KW_VEL: return become(PARSE_MAP_VEL);
    case KW_RND: return become(PARSE_MAP_RND);
    case '{': return become(PARSE_MAP_2);
    default: return err("'{' expected");
    }
  case PARSE_MAP_2:
    switch (kind) {
    case TOK_NEWLINE: return act::consume;
    case KW_LOOP: return become_push(PARSE_MAP_LOOP, PARSE_INT);
    case KW_DATA: return become_push(PARSE_MAP_DATA, PARSE_PATH);
    case KW_PITCH: return become_push(PARSE_MAP_PITCH, PARSE_FP);
    case KW_VOL: return become_push(PARSE_MAP_VOL, PARSE_FP);
    case '}': return pop();
    default: return err("'}' expected");
    }
  case PARSE_MAP_KEY:
  case PARSE_MAP_VEL:
  case PARSE_MAP_RND:
    return kind == '=' ? become_push(fr.state + 1, PARSE_RANGE) : err("'=' expected");
  case PARSE_MAP_KEY_1:
    mp()->keylo = c().v.num[0];
    mp()->keyhi = c().v.num[1];
    return again(PARSE_MAP_1);
  case PARSE_MAP_VEL_1:
    mp()->vello = c().v.num[0];
    mp()->velhi = c().v.num[1];
    return again(PARSE_MAP_1);
  case PARSE_MAP_RND_1:
    mp()->rndlo = c().v.num[0];
    mp()->rndhi = c().v.num[1];
    return again(PARSE_MAP_1);
  case PARSE_MAP_LOOP:
    mp()->loop = c().v.num[0];
    return again(PARSE_MAP_2);
  case PARSE_MAP_DATA: {
    char *path = take_text();
    if (mp()->path) {
      xfree(path);
      return err_value("map file already set");
    }
    mp()->path = path;
    return again(PARSE_MAP_2);
  }
  case PARSE_MAP_PITCH:
    mp()->pitch = c().v.num[0];
    return again(PARSE_MAP_2);
  case PARSE_MAP_VOL:
    mp()->volume = c().v.num[0];
    return again(PARSE_MAP_2);
  default:
    return err("bad parser state");
  }
}

act parser::step_patch() {
  conf_frame &fr = f();
  switch (fr.state) {
  case PARSE_DRUMKEY:
  case PARSE_PATCH: {
    const bool drum = fr.state == PARSE_DRUMKEY;
    if (is_int(kind, val, 0, 127)) {
      const int n = static_cast<int>(val->num);
      fr.v.ptr = drum ? drumkey_new(n) : patch_new(n);
      return become(PARSE_PATCH_1);
    }
    if (kind == TOK_NUM)
      return err(drum ? "key not in 0..127 range" : "patch not in 0..127 range");
    return err("number expected after 'patch'");
  }
  case PARSE_PATCH_1:
    if (kind != TOK_STRING)
      return again(PARSE_PATCH_2);
    if (std::strlen(val->text) > PATCH_NAMELEN)
      return err("patch name too long");
    for (const char *t = val->text; *t; ++t)
      if (static_cast<unsigned char>(*t) < 0x20 || *t == 0x7F)
        return err("control character in patch name");
    std::memset(pat(0)->name, 0, sizeof pat(0)->name);
    std::strcpy(pat(0)->name, val->text);
    return act::consume;
  case PARSE_PATCH_2:
    return kind == '{' ? become(PARSE_PATCH_3) : err("'{' expected");
  case PARSE_PATCH_3:
    switch (kind) {
    case TOK_NEWLINE: return act::consume;
    case KW_CKEY: return become_push(PARSE_PATCH_CKEY, PARSE_INT);
    case KW_TEMPO: return become_push(PARSE_PATCH_TEMPO, PARSE_INT);
    case KW_LAYER: return push(PARSE_LAYER);
    case KW_FX: return push(PARSE_FX);
    case '}': return pop();
    default: return err("'}' expected");
    }
  case PARSE_PATCH_CKEY:
    pat(0)->ckey = c().v.num[0];
    return again(PARSE_PATCH_3);
  case PARSE_PATCH_TEMPO: {
    const std::int32_t bpm = c().v.num[0];
    if (bpm < 20 || bpm > 480)
      return err_value("tempo out of range");
    pat(0)->tempo = 1440000000 / (bpm * 24);
    return again(PARSE_PATCH_3);
  }
  case PARSE_FX: {
    if (kind != TOK_IDENT)
      return err("name expected after 'fx'");
    const orka_module *mod = patch_setfx(pat(1), val->text);
    if (!mod)
      return err("unknown fx");
    fr.v.ptr = const_cast<orka_module *>(mod);
    return become(PARSE_FX_1);
  }
  case PARSE_FX_1:
    return kind == '{' ? become(PARSE_FX_2) : err("'{' expected");
  case PARSE_FX_2:
    if (kind == TOK_NEWLINE)
      return act::consume;
    if (kind == '}')
      return pop();
    if (kind == TOK_IDENT)
      return push(PARSE_FX_CTL) == act::stop ? act::stop : act::again;
    return err("fx param or '}' expected");
  case PARSE_FX_CTL: {
    const auto *mod = static_cast<const orka_module *>(below(1).v.ptr);
    const int ctl = fx_ctlbyname(mod, val->text);
    if (ctl < 0)
      return err("bad fx control name");
    fr.v.num[0] = ctl;
    switch (fx_ctltype(mod, ctl)) {
    case ORKA_CTL_NUM: return become_push(PARSE_FX_CTL_NUM, PARSE_INT);
    case ORKA_CTL_SEL: return become_push(PARSE_FX_CTL_SEL, PARSE_REF);
    default: return err("unsupported fx control type");
    }
  }
  case PARSE_FX_CTL_NUM:
    patch_setfxctl(pat(2), fr.v.num[0], c().v.num[0]);
    return pop_again();
  case PARSE_FX_CTL_SEL: {
    const auto *mod = static_cast<const orka_module *>(below(1).v.ptr);
    char *name = take_text();
    const int sel = fx_selbyname(mod, fr.v.num[0], name);
    xfree(name);
    if (sel < 0)
      return err_value("bad fx selector entry");
    patch_setfxctl(pat(2), fr.v.num[0], sel);
    return pop_again();
  }
  default:
    return step_layer();
  }
}

act parser::step_layer() {
  conf_frame &fr = f();
  switch (fr.state) {
  case PARSE_LAYER: {
    if (kind != TOK_IDENT)
      return err("name expected after 'layer'");
    layer *l = patch_addlayer(pat(1));
    if (!l)
      return err("too many layers");
    fr.v.ptr = l;
    return become(PARSE_LAYER_1);
  }
  case PARSE_LAYER_1:
    return kind == '{' ? become(PARSE_LAYER_2) : err("'{' expected");
  case PARSE_LAYER_2:
    switch (kind) {
    case TOK_NEWLINE: return act::consume;
    case KW_WAV: return become_push(PARSE_LAYER_WAV, PARSE_REF);
    case KW_FILT: return become_push(PARSE_LAYER_FILT, PARSE_FILT);
    case KW_RELEASE: return become_push(PARSE_LAYER_RELEASE, PARSE_RELEASE);
    case KW_OUTPUT: return become_push(PARSE_LAYER_OUTPUT, PARSE_OUTPUT);
    case KW_SHAPE: return become_push(PARSE_LAYER_SHAPE, PARSE_SHAPE);
    case KW_DELAY: return become_push(PARSE_LAYER_DELAY, PARSE_INT);
    case '}': return pop();
    default:
      if (starts_par(kind))
        return become_push_again(PARSE_LAYER_PAR, PARSE_PAR);
      if (dep_source(kind) >= 0)
        return become_push_again(PARSE_LAYER_DEP, PARSE_DEP);
      return err("'}' expected");
    }
  case PARSE_LAYER_WAV: {
    char *name = take_text();
    const int w = wave_find(name);
    xfree(name);
    if (w < 0)
      return err_value("no such wave");
    lay()->wave = w;
    return again(PARSE_LAYER_2);
  }
  case PARSE_LAYER_FILT:
    lay()->filter = c().v.num[0];
    return again(PARSE_LAYER_2);
  case PARSE_LAYER_RELEASE:
    lay()->release = c().v.num[0];
    return again(PARSE_LAYER_2);
  case PARSE_LAYER_DELAY:
    lay()->delay = c().v.num[0];
    return again(PARSE_LAYER_2);
  case PARSE_LAYER_OUTPUT:
    lay()->output = c().v.num[0];
    return again(PARSE_LAYER_2);
  case PARSE_LAYER_SHAPE: {
    const conf_frame &s = c();
    int *shape = lay()->shape;
    shape[0] = s.v.num[0];
    shape[1] = s.v.num[1];
    shape[2] = s.x;
    shape[3] = s.y;
    return again(PARSE_LAYER_2);
  }
  case PARSE_LAYER_PAR:
    layer_setpar(lay(), c().v.num[0], c().v.num[1]);
    return again(PARSE_LAYER_2);
  case PARSE_LAYER_DEP:
    if (!layer_setdep(lay(), c().v.num[0], c().v.num[1], c().x))
      return err_value("too many controls");
    return again(PARSE_LAYER_2);
  case PARSE_DEP: {
    const int src = dep_source(kind);
    if (src < 0)
      return err("control not implemented");
    fr.v.num[0] = src;
    return become(PARSE_DEP_1);
  }
  case PARSE_DEP_1:
    return kind == '.' ? become_push(PARSE_DEP_PAR, PARSE_PAR) : err("'.' expected");
  case PARSE_DEP_PAR:
    fr.v.num[1] = c().v.num[0]; // slot
    fr.x = c().v.num[1];        // amount
    return pop_again();
  case PARSE_PAR: {
    const int base = par_base(kind);
    if (base < 0)
      return err("parameter not implemented");
    fr.v.num[0] = base;
    return become_push(PARSE_PAR_MOD, PARSE_MOD);
  }
  case PARSE_PAR_FP:
    return pop_again();
  case PARSE_PAR_MOD:
    fr.v.num[0] += c().v.num[0];
    fr.v.num[1] = c().v.num[1];
    return pop_again();
  case PARSE_MOD:
    return kind == '.' ? become(PARSE_MOD_1) : err("'.' expected");
  case PARSE_MOD_1: {
    const int idx = mod_index(kind);
    if (idx >= 0) {
      fr.v.num[0] = idx;
      return become_push(PARSE_MOD_FP, PARSE_FP);
    }
    if (kind == KW_LFOTYPE) {
      fr.v.num[0] = MOD_LFOTYPE;
      return become_push(PARSE_MOD_LFOTYPE, PARSE_LFOTYPE);
    }
    if (kind == KW_LFOTICKS) {
      fr.v.num[0] = MOD_LFOTICKS;
      return become_push(PARSE_MOD_LFOTICKS, PARSE_INT);
    }
    return err("modulator not implemented");
  }
  case PARSE_MOD_FP:
  case PARSE_MOD_LFOTYPE:
    fr.v.num[1] = c().v.num[0];
    return pop_again();
  case PARSE_MOD_LFOTICKS:
    if (c().v.num[0] < 0 || c().v.num[0] > 9600)
      return err_value("lfo ticks out of range");
    fr.v.num[1] = c().v.num[0];
    return pop_again();
  default:
    return step_value();
  }
}

// Rules for single values; each leaves its result in its own frame.
act parser::step_value() {
  conf_frame &fr = f();
  switch (fr.state) {
  case PARSE_SHAPE:
  case PARSE_SHAPE_1:
  case PARSE_SHAPE_2:
  case PARSE_SHAPE_3: {
    if (!is_int(kind, val, 0, 127))
      return err("not a number in 0..127 range");
    const auto n = static_cast<std::int32_t>(val->num);
    switch (fr.state) {
    case PARSE_SHAPE: fr.v.num[0] = n; return become(PARSE_SHAPE_1);
    case PARSE_SHAPE_1: fr.v.num[1] = n; return become(PARSE_SHAPE_2);
    case PARSE_SHAPE_2: fr.x = n; return become(PARSE_SHAPE_3);
    default: break;
    }
    fr.y = n;
    if (fr.v.num[0] > fr.v.num[1] || fr.v.num[1] > fr.x || fr.x > fr.y)
      return err("bad shape definition");
    return become(PARSE_ENDL);
  }
  case PARSE_RANGE:
    if (!is_int(kind, val, 0, 127))
      return err("not a number in 0..127 range");
    fr.v.num[0] = static_cast<std::int32_t>(val->num);
    return become(PARSE_RANGE_1);
  case PARSE_RANGE_1:
    if (kind == ':')
      return become(PARSE_RANGE_2);
    fr.v.num[1] = fr.v.num[0];
    return pop_again();
  case PARSE_RANGE_2:
    if (!is_int(kind, val, 0, 127))
      return err("not a number in 0..127 range");
    fr.v.num[1] = static_cast<std::int32_t>(val->num);
    return pop();
  case PARSE_FP:
    if (kind == TOK_FP) {
      fr.v.num[0] = static_cast<std::int32_t>(val->num);
      return become(PARSE_ENDL);
    }
    if (!is_int(kind, val, -256, 256))
      return err("number not in -256..256 range");
    fr.v.num[0] = static_cast<std::int32_t>(val->num) * Q20_ONE;
    return become(PARSE_FP_1);
  case PARSE_FP_1:
    return kind == '/' ? become(PARSE_FP_2) : again(PARSE_ENDL);
  case PARSE_FP_2:
    if (!is_int(kind, val, 1, 128))
      return err("divisor not in 1..128 range");
    fr.v.num[0] /= static_cast<std::int32_t>(val->num); // cut toward zero
    return become(PARSE_ENDL);
  case PARSE_INT:
    // Numbers that do not fit a signed 32-bit value are refused here, so no
    // field ever holds a wrapped value.
    if (kind != TOK_NUM || val->wide)
      return err("number expected");
    fr.v.num[0] = static_cast<std::int32_t>(val->num);
    return become(PARSE_ENDL);
  case PARSE_REF:
    if (kind != TOK_IDENT)
      return err("name expected");
    fr.v.ptr = xstrdup(val->text, XTAG);
    fr.own = conf_own::text;
    return become(PARSE_REF_ENDL);
  case PARSE_REF_ENDL:
    if (kind == TOK_NEWLINE)
      return pop();
    xfree(fr.v.ptr);
    fr.own = conf_own::none;
    return err("endline expected after name");
  case PARSE_PATH: {
    if (kind != TOK_STRING)
      return err("string expected");
    const std::size_t n = std::strlen(val->text);
    auto *p = static_cast<char *>(xmalloc(ld->dirlen + n + 1, XTAG));
    std::memcpy(p, ld->path, ld->dirlen);
    std::memcpy(p + ld->dirlen, val->text, n + 1);
    fr.v.ptr = p;
    fr.own = conf_own::text;
    return become(PARSE_ENDL);
  }
  case PARSE_LFOTYPE:
    if (kind != TOK_IDENT)
      return err("lfo type expected");
    for (int i = 0; i < 6; ++i)
      if (std::strcmp(LFO_TYPES[i], val->text) == 0) {
        fr.v.num[0] = i;
        return become(PARSE_ENDL);
      }
    return err("no such lfo type");
  case PARSE_FILT: {
    const int t = filter_type(kind);
    if (t < 0)
      return err("wrong filter type");
    fr.v.num[0] = t;
    return become(PARSE_ENDL);
  }
  case PARSE_RELEASE:
    if (kind != KW_NOFF && kind != KW_NEVER)
      return err("wrong release type");
    fr.v.num[0] = kind == KW_NEVER ? 1 : 0;
    return become(PARSE_ENDL);
  case PARSE_OUTPUT:
    if (kind == KW_MAIN) {
      fr.v.num[0] = 0;
      return become(PARSE_ENDL);
    }
    if (kind != KW_FX)
      return err("wrong output destination");
    if (pat(2)->effect == -1)
      return err("no fx for this patch");
    fr.v.num[0] = 4;
    return become(PARSE_ENDL);
  case PARSE_ENDL:
    return kind == TOK_NEWLINE ? pop() : err("endline expected");
  default:
    return err("bad parser state");
  }
}

act parser::step() {
  conf_frame &fr = f();
  switch (fr.state) {
  case PARSE_PROG:
    switch (kind) {
    case TOK_NEWLINE: return act::consume;
    case KW_LOAD: return push(PARSE_LOAD);
    case KW_WAV: return push(PARSE_WAV);
    case KW_PATCH: return push(PARSE_PATCH);
    case KW_DRUMKEY: return push(PARSE_DRUMKEY);
    default: return err("definition expected");
    }
  case PARSE_LOAD:
    if (kind != TOK_STRING)
      return err("string expected after 'load'");
    fr.v.ptr = xstrdup(val->text, XTAG);
    fr.own = conf_own::text;
    return become(PARSE_LOAD_1);
  case PARSE_LOAD_1: {
    if (kind != TOK_NEWLINE)
      return err("endline expected after 'load'");
    const bool ok = conf_load(ld, static_cast<const char *>(fr.v.ptr));
    xfree(fr.v.ptr);
    fr.own = conf_own::none;
    if (!ok) { // the nested file has reported its error
      ld->stack[0].state = PARSE_ERR;
      ld->failed = true;
      return act::stop;
    }
    return pop();
  }
  case PARSE_ERR:
    return act::stop;
  default:
    if (fr.state >= PARSE_WAV && fr.state <= PARSE_MAP_VOL)
      return step_wave();
    return step_patch();
  }
}

} // namespace

void conf_parse(void *ctx, int kind, const conf_tokval *val) {
  auto *ld = static_cast<conf_loader *>(ctx);
  if (ld->failed || kind == TOK_EOF) // the loader checks what is left open
    return;
  if (kind == TOK_ERR) {
    fail(ld, val->text);
    return;
  }
  parser p{ld, kind, val};
  while (p.step() == act::again) {
  }
  ld->prev_line = ld->lx.line;
}

void conf_release_frames(conf_loader *ld) {
  for (conf_frame &fr : ld->stack) {
    if (fr.own == conf_own::text)
      xfree(fr.v.ptr);
    else if (fr.own == conf_own::map)
      map_delete(static_cast<map *>(fr.v.ptr));
    fr.own = conf_own::none;
  }
}
