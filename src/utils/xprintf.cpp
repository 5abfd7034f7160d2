// The extended formatter: printf conversions plus named conversions in
// braces, served through a lookup function.
#include <cstdio>
#include <cstring>

#include "platform/os.h"
#include "utils/log.h"

namespace {

constexpr char CONV_CHARS[] = "AEFGXacdefginopsux";

bool is_conv(char c) { return c != 0 && std::strchr(CONV_CHARS, c) != nullptr; }

// Output position: bytes are stored only while p < size.
struct out_pos {
  char *buf;
  std::size_t size;
  long long p = 0;

  char *at() const { return room() ? buf + p : nullptr; }
  std::size_t room() const {
    return p < static_cast<long long>(size) ? size - static_cast<std::size_t>(p) : 0;
  }
  void put(char c) {
    if (room())
      buf[p] = c;
    ++p;
  }
  void terminate() {
    if (size == 0)
      return;
    buf[p < static_cast<long long>(size) ? p : size - 1] = 0;
  }
};

enum class len_mod { none, hh, h, l, ll, j, z, t, L };

// One parsed conversion specification.
struct conv_spec {
  int stars = 0;
  len_mod len = len_mod::none;
  char conv = 0;
  const char *end = nullptr; // one past the conversion character
};

// Parses flags, width, precision, length and conversion after a "%".
// Returns false on a conversion character outside the list.
bool parse_spec(const char *s, conv_spec *cs) {
  while (*s == ' ' || *s == '#' || *s == '+' || *s == '-' || *s == '0')
    ++s;
  if (*s == '*') {
    ++cs->stars, ++s;
  } else {
    while (*s >= '0' && *s <= '9')
      ++s;
  }
  if (*s == '.') {
    ++s;
    if (*s == '*') {
      ++cs->stars, ++s;
    } else {
      while (*s >= '0' && *s <= '9')
        ++s;
    }
  }
  switch (*s) {
  case 'h':
    cs->len = s[1] == 'h' ? (++s, len_mod::hh) : len_mod::h;
    ++s;
    break;
  case 'l':
    cs->len = s[1] == 'l' ? (++s, len_mod::ll) : len_mod::l;
    ++s;
    break;
  case 'j': cs->len = len_mod::j, ++s; break;
  case 'z': cs->len = len_mod::z, ++s; break;
  case 't': cs->len = len_mod::t, ++s; break;
  case 'L': cs->len = len_mod::L, ++s; break;
  default: break;
  }
  if (!is_conv(*s))
    return false;
  cs->conv = *s;
  cs->end = s + 1;
  return true;
}

bool is_int_conv(char c) { return std::strchr("diouxX", c) != nullptr; }
bool is_float_conv(char c) { return std::strchr("aAeEfFgG", c) != nullptr; }
bool is_wide(len_mod m) {
  return m == len_mod::ll || m == len_mod::j || m == len_mod::z || m == len_mod::t ||
         m == len_mod::L;
}

// Fetches the argument of one conversion as a 64-bit value.
std::int64_t fetch(std::va_list *ap, const conv_spec &cs) {
  if (is_int_conv(cs.conv)) {
    if (is_wide(cs.len))
      return static_cast<std::int64_t>(va_arg(*ap, long long));
    if (cs.len == len_mod::l)
      return static_cast<std::int64_t>(va_arg(*ap, long));
    return va_arg(*ap, int);
  }
  if (cs.conv == 'c')
    return va_arg(*ap, int);
  if (is_float_conv(cs.conv)) {
    double d = cs.len == len_mod::L ? static_cast<double>(va_arg(*ap, long double))
                                    : va_arg(*ap, double);
    std::int64_t v;
    std::memcpy(&v, &d, sizeof v);
    return v;
  }
  return reinterpret_cast<std::intptr_t>(va_arg(*ap, void *)); // p, s, n
}

template <typename T>
int call_snprintf(char *out, std::size_t room, const char *spec, int nstars, const int *w,
                  T v) {
  switch (nstars) {
  case 0: return std::snprintf(out, room, spec, v);
  case 1: return std::snprintf(out, room, spec, w[0], v);
  default: return std::snprintf(out, room, spec, w[0], w[1], v);
  }
}

// Formats one standard conversion with the C library, from its own text
// rebuilt with a length that matches the value passed.  Returns the
// length written or -1.
int std_format(out_pos &o, const char *from, const conv_spec &cs, const int *stars,
               std::int64_t v) {
  char spec[40];
  std::size_t n = 0;
  // Copy flags, width and precision; drop the length modifier.
  for (const char *s = from; s < cs.end - 1; ++s)
    if (std::strchr("hljztL", *s) == nullptr)
      spec[n++] = *s;
  if (is_int_conv(cs.conv)) {
    spec[n++] = 'l';
    spec[n++] = 'l';
  }
  spec[n++] = cs.conv;
  spec[n] = 0;
  const bool is_signed = cs.conv == 'd' || cs.conv == 'i';
  if (is_int_conv(cs.conv)) {
    long long x = v;
    switch (cs.len) {
    case len_mod::hh: x = is_signed ? (long long)(signed char)v : (long long)(unsigned char)v; break;
    case len_mod::h: x = is_signed ? (long long)(short)v : (long long)(unsigned short)v; break;
    case len_mod::none: x = is_signed ? (long long)(int)v : (long long)(unsigned)v; break;
    case len_mod::l: x = is_signed ? (long long)(long)v : (long long)(unsigned long)v; break;
    default: break;
    }
    return call_snprintf(o.at(), o.room(), spec, cs.stars, stars, x);
  }
  if (is_float_conv(cs.conv)) {
    double d;
    std::memcpy(&d, &v, sizeof d);
    return call_snprintf(o.at(), o.room(), spec, cs.stars, stars, d);
  }
  switch (cs.conv) {
  case 'c': return call_snprintf(o.at(), o.room(), spec, cs.stars, stars, (int)v);
  case 's': {
    const char *s = reinterpret_cast<const char *>(static_cast<std::intptr_t>(v));
    return call_snprintf(o.at(), o.room(), spec, cs.stars, stars, s ? s : "(null)");
  }
  case 'p':
    return call_snprintf(o.at(), o.room(), spec, cs.stars, stars,
                         reinterpret_cast<void *>(static_cast<std::intptr_t>(v)));
  case 'n': {
    // Stores the count so far; written here, never through the C library.
    void *ptr = reinterpret_cast<void *>(static_cast<std::intptr_t>(v));
    if (ptr) {
      switch (cs.len) {
      case len_mod::hh: *static_cast<signed char *>(ptr) = (signed char)o.p; break;
      case len_mod::h: *static_cast<short *>(ptr) = (short)o.p; break;
      case len_mod::l: *static_cast<long *>(ptr) = (long)o.p; break;
      case len_mod::none: *static_cast<int *>(ptr) = (int)o.p; break;
      default: *static_cast<long long *>(ptr) = o.p; break;
      }
    }
    return 0;
  }
  default: return -1;
  }
}

// Tries a named conversion at s (just past the "{").  On success returns
// the position after the "}", with ap advanced; otherwise null and ap as
// it was.
const char *try_named(conv_lookup lookup, out_pos &o, const char *s, std::va_list *ap) {
  char key[64];
  int klen = 0;
  std::int64_t values[8] = {};
  int nvals = 0;
  while (*s && *s != ':' && *s != '}') {
    if (klen >= 62)
      return nullptr;
    key[klen++] = *s++;
  }
  if (!*s)
    return nullptr;
  std::va_list local;
  va_copy(local, *ap);
  bool ok = true;
  if (*s == ':') {
    if (klen + 1 >= 61) {
      ok = false;
    } else {
      key[klen++] = *s++;
      for (;;) {
        conv_spec cs;
        if (*s != '%' || !parse_spec(s + 1, &cs) || nvals == 8 || klen + 2 >= 63) {
          ok = false;
          break;
        }
        for (int k = 0; k < cs.stars; ++k)
          (void)va_arg(local, int);
        values[nvals++] = fetch(&local, cs);
        key[klen++] = '%';
        key[klen++] = cs.conv;
        s = cs.end;
        if (*s == '}')
          break;
        if (*s != ',' || klen + 1 >= 63) {
          ok = false;
          break;
        }
        key[klen++] = *s++;
      }
    }
  }
  if (ok) {
    key[klen] = 0;
    int r = lookup(o.at(), o.room(), key, values);
    if (r != -1) {
      o.p += r;
      va_end(*ap);
      va_copy(*ap, local);
      va_end(local);
      return s + 1;
    }
  }
  va_end(local);
  return nullptr;
}

} // namespace

int xvsnprintf(conv_lookup lookup, char *buf, std::size_t size, const char *fmt,
               std::va_list args) {
  out_pos o{buf, size};
  std::va_list ap;
  va_copy(ap, args);
  const char *s = fmt;
  bool failed = false;
  while (*s) {
    if (s[0] == '%' && s[1] == '%') {
      o.put('%');
      s += 2;
    } else if (*s == '%') {
      conv_spec cs;
      if (!parse_spec(s + 1, &cs)) {
        failed = true;
        break;
      }
      int stars[2] = {0, 0};
      for (int k = 0; k < cs.stars; ++k)
        stars[k] = va_arg(ap, int);
      std::int64_t v = fetch(&ap, cs);
      char key[3] = {'%', cs.conv, 0};
      int r = lookup ? lookup(o.at(), o.room(), key, &v) : -1;
      if (r == -1) {
        if (cs.end - s >= 32) {
          failed = true;
          break;
        }
        r = std_format(o, s, cs, stars, v);
        if (r < 0) {
          failed = true;
          break;
        }
      }
      o.p += r;
      s = cs.end;
    } else if (*s == '{') {
      const char *after = lookup ? try_named(lookup, o, s + 1, &ap) : nullptr;
      if (after) {
        s = after;
      } else {
        o.put('{');
        ++s;
      }
    } else {
      o.put(*s++);
    }
  }
  va_end(ap);
  if (failed) {
    std::snprintf(o.at(), o.room(), "(err)");
    o.p += 5;
  }
  o.terminate();
  return static_cast<int>(o.p);
}

int xsnprintf(conv_lookup lookup, char *buf, std::size_t size, const char *fmt, ...) {
  std::va_list ap;
  va_start(ap, fmt);
  int r = xvsnprintf(lookup, buf, size, fmt, ap);
  va_end(ap);
  return r;
}

int fp_snprint(char *out, std::size_t size, unsigned fracbits, std::int64_t value) {
  out_pos o{out, size};
  // Beyond 60 bits the digit loop would overflow 64 bits; such numbers
  // are printed as if they had 60 fraction bits.
  if (fracbits > 60)
    fracbits = 60;
  std::uint64_t v = static_cast<std::uint64_t>(value);
  if (value < 0) {
    o.put('-');
    v = 0 - v;
  }
  char digits[24];
  int nd = 0;
  std::uint64_t ip = v >> fracbits;
  do {
    digits[nd++] = static_cast<char>('0' + ip % 10);
    ip /= 10;
  } while (ip);
  while (nd)
    o.put(digits[--nd]);
  const std::uint64_t mask = (std::uint64_t{1} << fracbits) - 1;
  std::uint64_t frac = v & mask;
  if (frac) {
    o.put('.');
    const std::uint32_t maxd = (static_cast<std::uint32_t>(fracbits) * 5050446u + 16777215u) >> 24;
    for (std::uint32_t k = 0; k < maxd && frac; ++k) {
      frac *= 10;
      o.put(static_cast<char>('0' + (frac >> fracbits)));
      frac &= mask;
    }
  }
  o.terminate();
  return static_cast<int>(o.p);
}

int su16_snprint(char *out, std::size_t size, const std::uint16_t *text) {
  return static_cast<int>(os_utf16_to_utf8(text, out, size));
}

int conv_fp(char *out, std::size_t size, const std::int64_t *values) {
  return fp_snprint(out, size, static_cast<unsigned>(values[0]), values[1]);
}

int conv_su16(char *out, std::size_t size, const std::int64_t *values) {
  const auto *t = reinterpret_cast<const std::uint16_t *>(static_cast<std::intptr_t>(values[0]));
  if (!t)
    return -1;
  return su16_snprint(out, size, t);
}
