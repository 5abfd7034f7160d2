// Text conversions shared by both platform implementations.
#include "platform/os.h"

std::size_t os_utf16_to_utf8(const os_char16 *in, char *out, std::size_t cap) {
  std::size_t p = 0;
  auto put = [&](unsigned v) {
    if (p < cap)
      out[p] = static_cast<char>(v);
    ++p;
  };
  for (std::size_t i = 0;; ++i) {
    std::uint32_t u = in[i];
    if (u >= 0xD800 && u <= 0xDBFF && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (in[i + 1] - 0xDC00u);
      ++i;
    }
    if (u == 0)
      break;
    if (u < 0x80) {
      put(u);
    } else if (u < 0x800) {
      put(0xC0 | (u >> 6));
      put(0x80 | (u & 0x3F));
    } else if (u < 0x10000) {
      put(0xE0 | (u >> 12));
      put(0x80 | ((u >> 6) & 0x3F));
      put(0x80 | (u & 0x3F));
    } else {
      put(0xF0 | (u >> 18));
      put(0x80 | ((u >> 12) & 0x3F));
      put(0x80 | ((u >> 6) & 0x3F));
      put(0x80 | (u & 0x3F));
    }
  }
  if (cap > 0)
    out[p < cap ? p : cap - 1] = 0;
  return p;
}

namespace {
// Decodes one UTF-8 sequence at s; returns its length (0 when s does not
// start a valid, shortest-form sequence) and stores the code point.
int utf8_seq(const unsigned char *s, std::uint32_t *cp) {
  unsigned c = s[0];
  int n;
  std::uint32_t v, min;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, v = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, v = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, v = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  for (int k = 1; k < n; ++k) {
    if ((s[k] & 0xC0) != 0x80)
      return 0;
    v = (v << 6) | (s[k] & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
    return 0;
  *cp = v;
  return n;
}
} // namespace

int os_widen(const char *in, os_char16 *out, int cap) {
  const auto *s = reinterpret_cast<const unsigned char *>(in);
  int p = 0;
  auto put = [&](std::uint32_t u) {
    if (p < cap)
      out[p] = static_cast<os_char16>(u);
    ++p;
  };
  while (*s) {
    std::uint32_t cp = *s;
    int n = cp >= 0x80 ? utf8_seq(s, &cp) : 1;
    if (n == 0) {
      cp = *s;
      n = 1;
    }
    s += n;
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  if (cap > 0)
    out[p < cap ? p : cap - 1] = 0;
  return p;
}

int os_strlen16(const os_char16 *s) {
  int n = 0;
  while (s[n])
    ++n;
  return n;
}
