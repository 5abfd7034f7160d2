// The settings text: writer, reader and the value-text pair.
#include <cstdio>
#include <cstring>

#include "module/settings.h"
#include "utils/log.h"

namespace {

const orka_text_opts DEFAULT_OPTS = {"unknown ctl type", "%s: ignored unknown setting", nullptr};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool is_namechar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

int count_ctls(const orka_module *mod) {
  orka_info info{};
  mod->info(&info);
  int n = info.nctls;
  return n < 0 ? 0 : (n > ORKA_MAXCTLS ? ORKA_MAXCTLS : n);
}

void copy_text(char *dst, const char *src) {
  std::size_t n = src ? std::strlen(src) : 0;
  if (n > ORKA_TEXTLEN - 1)
    n = ORKA_TEXTLEN - 1;
  if (n)
    std::memcpy(dst, src, n);
  dst[n] = 0;
}

struct writer {
  char *buf;
  std::size_t n = 0;
  void put(const char *s, std::size_t len) {
    if (buf)
      std::memcpy(buf + n, s, len);
    n += len;
  }
  void put(const char *s) { put(s, std::strlen(s)); }
  void putc(char c) { put(&c, 1); }
};

// Cursor over the text being read.
struct reader {
  const char *s;
  std::size_t left;
  bool more() const { return left > 0; }
  char peek() const { return left ? *s : 0; }
  void next() { ++s, --left; }
  void skip_blanks_comment() {
    while (more() && is_blank(*s))
      next();
    if (more() && *s == '#')
      while (more() && *s != '\n')
        next();
  }
};

bool read_name_token(reader &r, char out[ORKA_TEXTLEN]) {
  std::size_t n = 0;
  while (r.more() && is_namechar(r.peek())) {
    if (n == ORKA_TEXTLEN - 1) {
      log_printf(1, "name too long");
      return false;
    }
    out[n++] = r.peek();
    r.next();
  }
  out[n] = 0;
  return true;
}

// What follows at r after blanks and an optional comment: 1 a line feed,
// 0 the end of the text, -1 anything else.
int line_end(reader r) {
  r.skip_blanks_comment();
  return !r.more() ? 0 : r.peek() == '\n' ? 1 : -1;
}

// How many blanks the text starts with (bounded by max).
std::size_t leading_blanks(const char *s, std::size_t max) {
  std::size_t n = 0;
  while (n < max && is_blank(s[n]))
    ++n;
  return n;
}

// Where value text t (n bytes) stands in r's text, which begins right
// after the "=": past the separating blanks (at least one when there are
// any, as the writer puts one), with the text's own leading blanks as
// part of it.  Returns the offset, or -1 when t is not there.
long sel_offset(const reader &r, const char *t, std::size_t n) {
  const std::size_t b = leading_blanks(r.s, r.left);
  const std::size_t lead = leading_blanks(t, n);
  const std::size_t sep = b ? 1 : 0;
  std::size_t j = sep;
  if (lead < n) { // the text's first non-blank must meet the line's
    if (lead > b || b - lead < sep)
      return -1;
    j = b - lead;
  }
  if (j + n > r.left || std::memcmp(r.s + j, t, n) != 0)
    return -1;
  return static_cast<long>(j);
}

// The text of a bad selector value, for its message: the rest of the line
// before a comment, without surrounding blanks, at most 47 characters.
void sel_shown(reader r, char out[ORKA_TEXTLEN]) {
  while (r.more() && is_blank(r.peek()))
    r.next();
  std::size_t n = 0, keep = 0;
  while (r.more() && r.peek() != '\n' && r.peek() != '#' && n < ORKA_TEXTLEN - 1) {
    out[n++] = r.peek();
    if (!is_blank(r.peek()))
      keep = n;
    r.next();
  }
  out[keep] = 0;
}

// A selector value, r standing right after the "=".  Value texts may hold
// blanks, "#", "-" or any other character, so each is matched against the
// rest of the line: the longest that the end-of-line rule accepts after
// it wins (the first value of equal texts).  One followed by the end of
// the text is taken too, and the caller reports the missing line feed.
// Next come the module's aliases, read as a name token.  Returns the
// value, or -1 after the "bad value" message.
int read_sel_value(const orka_module *mod, reader &r, int idx, const orka_ctlinfo &ci,
                   const char *key, const orka_text_opts *o) {
  int best = -1, found = -1;
  std::size_t best_end = 0, found_end = 0, best_n = 0, found_n = 0;
  for (int k = 0; k < ci.nvals; ++k) {
    char t[ORKA_TEXTLEN] = "";
    if (mod->selinfo)
      mod->selinfo(idx, k, t);
    t[ORKA_TEXTLEN - 1] = 0;
    const std::size_t n = std::strlen(t);
    const long j = sel_offset(r, t, n);
    if (j < 0)
      continue;
    const std::size_t end = static_cast<std::size_t>(j) + n;
    const int after = line_end(reader{r.s + end, r.left - end});
    if (after == 1 && (best < 0 || n > best_n))
      best = k, best_n = n, best_end = end;
    if (after == 0 && (found < 0 || n > found_n))
      found = k, found_n = n, found_end = end;
  }
  if (best < 0 && found >= 0)
    best = found, best_end = found_end;
  if (best >= 0) {
    r.s += best_end;
    r.left -= best_end;
    return best;
  }
  if (o->alias) {
    reader tok_r = r;
    while (tok_r.more() && is_blank(tok_r.peek()))
      tok_r.next();
    char tok[ORKA_TEXTLEN];
    std::size_t n = 0;
    while (tok_r.more() && is_namechar(tok_r.peek()) && n < ORKA_TEXTLEN - 1) {
      tok[n++] = tok_r.peek();
      tok_r.next();
    }
    tok[n] = 0;
    const int a = n ? o->alias(idx, tok) : -1;
    if (a >= 0) {
      r = tok_r;
      return a;
    }
  }
  char shown[ORKA_TEXTLEN];
  sel_shown(r, shown);
  log_printf(1, "%s: %s: bad value", key, shown);
  return -1;
}

bool read_quoted(reader &r, char preset[ORKA_TEXTLEN]) {
  if (r.peek() != '"' || !r.more()) {
    log_printf(1, "expected '\"'");
    return false;
  }
  r.next();
  char tmp[ORKA_TEXTLEN];
  std::size_t n = 0;
  for (;;) {
    if (!r.more() || r.peek() == '\n' || r.peek() == '\r') {
      log_printf(1, "missing terminating '\"'");
      return false;
    }
    char c = r.peek();
    r.next();
    if (c == '"')
      break;
    if (c == '\\') {
      if (!r.more() || r.peek() == '\n' || r.peek() == '\r') {
        log_printf(1, "missing terminating '\"'");
        return false;
      }
      c = r.peek();
      r.next();
    }
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) {
      log_printf(1, "non-ascii char in string");
      return false;
    }
    if (n == ORKA_TEXTLEN - 1) {
      log_printf(1, "string too long");
      return false;
    }
    tmp[n++] = c;
  }
  tmp[n] = 0;
  std::memcpy(preset, tmp, n + 1);
  return true;
}

// Reads an unsigned decimal of at most 2147483647.  Returns 0 on success,
// or the message of the failure.
const char *read_decimal(reader &r, long long *v) {
  if (!r.more() || r.peek() < '0' || r.peek() > '9')
    return "expected decmal";
  long long x = 0;
  while (r.more() && r.peek() >= '0' && r.peek() <= '9') {
    x = x * 10 + (r.peek() - '0');
    if (x > 2147483647)
      return "overflow in decimal";
    r.next();
  }
  *v = x;
  return nullptr;
}

bool scan_value(const orka_module *mod, reader &r, const char *key, int *vals, int nctls,
                const orka_text_opts *o) {
  int idx = -1;
  orka_ctlinfo ci{};
  for (int i = 0; i < nctls; ++i) {
    orka_ctlinfo c{};
    mod->ctlinfo(i, &c);
    if (std::strcmp(c.name, key) == 0) {
      idx = i;
      ci = c;
      break;
    }
  }
  if (idx < 0) {
    log_printf(1, o->unknown_setting, key);
    while (r.more() && r.peek() != '\n')
      r.next();
    return true;
  }
  if (ci.type == ORKA_CTL_SEL) {
    const int v = read_sel_value(mod, r, idx, ci, key, o);
    if (v < 0)
      return false;
    vals[idx] = v;
    return true;
  }
  while (r.more() && is_blank(r.peek()))
    r.next();
  if (ci.type == ORKA_CTL_NUM || ci.type == ORKA_CTL_SWITCH) {
    long long v = 0;
    if (const char *err = read_decimal(r, &v)) {
      log_printf(1, "%s", err);
      return false;
    }
    if (v >= ci.nvals) {
      log_printf(1, "%s: %d: out of range", key, static_cast<int>(v));
      return false;
    }
    vals[idx] = static_cast<int>(v);
    return true;
  }
  log_printf(1, "%s", o->unknown_ctl_type);
  return false;
}

} // namespace

std::size_t orka_print_ex(const orka_module *mod, const char *preset, const int *vals, char *buf,
                          const orka_text_opts *o) {
  writer w{buf};
  w.put("name = \"");
  for (const char *p = preset; *p; ++p) {
    if (*p == '"' || *p == '\\')
      w.putc('\\');
    w.putc(*p);
  }
  w.put("\"\n");
  int n = count_ctls(mod);
  for (int i = 0; i < n; ++i) {
    orka_ctlinfo ci{};
    mod->ctlinfo(i, &ci);
    char line[3 * ORKA_TEXTLEN];
    if (ci.type == ORKA_CTL_NUM || ci.type == ORKA_CTL_SWITCH) {
      std::snprintf(line, sizeof line, "%s = %d\n", ci.name, vals[i]);
    } else if (ci.type == ORKA_CTL_SEL) {
      char t[ORKA_TEXTLEN] = "";
      if (mod->selinfo)
        mod->selinfo(i, vals[i], t);
      t[ORKA_TEXTLEN - 1] = 0;
      std::snprintf(line, sizeof line, "%s = %s\n", ci.name, t);
    } else {
      log_printf(1, "%s", o->unknown_ctl_type);
      return 0;
    }
    w.put(line);
  }
  return w.n;
}

std::size_t orka_print(const orka_module *mod, const char *preset, const int *vals, char *buf) {
  orka_text_opts o = DEFAULT_OPTS;
  o.unknown_ctl_type = "orka_print: unknown ctl type";
  return orka_print_ex(mod, preset, vals, buf, &o);
}

int orka_scan_ex(const orka_module *mod, char preset[ORKA_TEXTLEN], int *vals,
                 const char **pos, std::size_t *len, const orka_text_opts *o) {
  orka_info info{};
  mod->info(&info);
  copy_text(preset, info.preset);
  int n = count_ctls(mod);
  for (int i = 0; i < n; ++i) {
    orka_ctlinfo ci{};
    mod->ctlinfo(i, &ci);
    vals[i] = ci.def;
  }
  reader r{*pos, *len};
  bool ok = true;
  r.skip_blanks_comment();
  while (ok && r.more()) {
    if (r.peek() == '[')
      break;
    if (r.peek() == '\n') {
      r.next();
      r.skip_blanks_comment();
      continue;
    }
    char key[ORKA_TEXTLEN];
    if (!read_name_token(r, key)) {
      ok = false;
      break;
    }
    while (r.more() && is_blank(r.peek()))
      r.next();
    if (!r.more() || r.peek() != '=') {
      log_printf(1, "expected '=' after '%s'", key);
      ok = false;
      break;
    }
    r.next();
    if (std::strcmp(key, "name") == 0) {
      while (r.more() && is_blank(r.peek()))
        r.next();
      ok = read_quoted(r, preset);
    } else {
      ok = scan_value(mod, r, key, vals, n, o);
    }
    if (!ok)
      break;
    r.skip_blanks_comment();
    if (!r.more() || r.peek() != '\n') {
      log_printf(1, "new line expected");
      ok = false;
      break;
    }
    r.next();
    r.skip_blanks_comment();
  }
  *pos = r.s;
  *len = r.left;
  return ok ? 1 : 0;
}

int orka_scan(const orka_module *mod, char preset[ORKA_TEXTLEN], int *vals, const char **pos,
              std::size_t *len) {
  orka_text_opts o = DEFAULT_OPTS;
  o.unknown_ctl_type = "orka_scan: unknown ctl type";
  return orka_scan_ex(mod, preset, vals, pos, len, &o);
}

void orka_printval(const orka_module *mod, int ctl, int val, char text[ORKA_TEXTLEN]) {
  orka_ctlinfo ci{};
  mod->ctlinfo(ctl, &ci);
  if (ci.type == ORKA_CTL_SEL && mod->selinfo) {
    text[0] = 0;
    mod->selinfo(ctl, val, text);
    text[ORKA_TEXTLEN - 1] = 0;
  } else {
    std::snprintf(text, ORKA_TEXTLEN, "%03d", val);
  }
}

int orka_scanval(const orka_module *mod, int ctl, int *val, const char *text) {
  orka_ctlinfo ci{};
  mod->ctlinfo(ctl, &ci);
  if (ci.type == ORKA_CTL_SEL) {
    for (int k = 0; k < ci.nvals; ++k) {
      char t[ORKA_TEXTLEN] = "";
      if (mod->selinfo)
        mod->selinfo(ctl, k, t);
      if (std::strcmp(t, text) == 0) {
        *val = k;
        return 1;
      }
    }
    return 0;
  }
  // A decimal as "%d" reads it: leading blanks and a sign allowed; the
  // value saturates instead of overflowing.
  const char *s = text;
  while (*s == ' ' || (*s >= '\t' && *s <= '\r'))
    ++s;
  bool neg = false;
  if (*s == '+' || *s == '-')
    neg = *s++ == '-';
  if (*s < '0' || *s > '9')
    return 0;
  long long v = 0;
  for (; *s >= '0' && *s <= '9'; ++s)
    if (v < 4000000000LL)
      v = v * 10 + (*s - '0');
  if (neg)
    v = -v;
  long long hi = ci.nvals > 0 ? ci.nvals - 1 : 0;
  *val = static_cast<int>(v < 0 ? 0 : (v > hi ? hi : v));
  return 1;
}
