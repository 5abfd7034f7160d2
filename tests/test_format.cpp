// The extended formatter, its named conversions and the two printers.
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "utils/log.h"

namespace {

std::string fmt(conv_lookup lk, const char *f, ...) {
  char buf[512];
  std::va_list ap;
  va_start(ap, f);
  int n = xvsnprintf(lk, buf, sizeof buf, f, ap);
  va_end(ap);
  EXPECT_EQ(n, static_cast<int>(std::strlen(buf)));
  return buf;
}

std::string fp(unsigned bits, std::int64_t v) {
  char buf[64];
  int n = fp_snprint(buf, sizeof buf, bits, v);
  EXPECT_EQ(n, static_cast<int>(std::strlen(buf)));
  return buf;
}

int lookup_none(char *, std::size_t, const char *, const std::int64_t *) { return -1; }

int echo_key(char *out, std::size_t size, const std::int64_t *) {
  return std::snprintf(out, size, "<echo>");
}

// Registers the conversions of a running system for one test.
struct registry {
  registry() {
    conv_register(conv_fp, "fp:%u,%d");
    conv_register(conv_su16, "su16:%p");
  }
  ~registry() {
    conv_unregister(conv_su16);
    conv_unregister(conv_fp);
  }
};

} // namespace

TEST(FixedPoint, PrintsListedValues) {
  struct {
    unsigned bits;
    std::int64_t v;
    const char *text;
  } cases[] = {
      {20, 0, "0"},           {20, 1048576, "1"},           {20, -524288, "-0.5"},
      {20, 349525, "0.3333330"}, {20, 1048575, "0.9999990"}, {20, 1, "0.0000009"},
      {20, 72876032, "69.5"}, {27, 100663296, "0.75"},      {16, 98304, "1.5"},
      {0, -42, "-42"},        {20, INT64_MIN, "-8796093022208"},
  };
  for (auto &c : cases)
    EXPECT_EQ(fp(c.bits, c.v), c.text) << c.bits << " " << c.v;
}

TEST(FixedPoint, CutsToBuffer) {
  char buf[4];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(fp_snprint(buf, 3, 20, -524288), 4);
  EXPECT_STREQ(buf, "-0");
  EXPECT_EQ(buf[3], 'x');
  EXPECT_EQ(fp_snprint(nullptr, 0, 20, 1048576), 1);
}

TEST(Formatter, NamedFixedPointSignExtends32BitValue) {
  registry r;
  EXPECT_EQ(fmt(conv_call, "x = {fp:%u,%d}!", 20, -524288), "x = -0.5!");
  EXPECT_EQ(fmt(conv_call, "{fp:%u,%lld}", 20, (long long)(3LL << 40)), "3145728");
}

TEST(Formatter, KeysHoldOnlyConversionCharacters) {
  conv_register(echo_key, "sysex:%p,%u");
  EXPECT_EQ(fmt(conv_call, "[{sysex:%p,%zu}]", (void *)nullptr, (size_t)3), "[<echo>]");
  EXPECT_EQ(fmt(conv_call, "[{sysex:%-8p,%5zu}]", (void *)nullptr, (size_t)3), "[<echo>]");
  conv_unregister(echo_key);
}

TEST(Formatter, UnregisteredNamedConversionPrintsItsOwnText) {
  EXPECT_EQ(fmt(conv_call, "{nobody:%d} then %d", 5, 6), "{nobody:5} then 6");
  EXPECT_EQ(fmt(conv_call, "{plain}"), "{plain}");
  EXPECT_EQ(fmt(conv_call, "a{b"), "a{b");
}

TEST(Formatter, MalformedNamedConversionsPrintLiterally) {
  conv_register(echo_key, "k:%d,%d,%d,%d,%d,%d,%d,%d");
  // eight arguments are served, nine are not
  EXPECT_EQ(fmt(conv_call, "{k:%d,%d,%d,%d,%d,%d,%d,%d}", 1, 2, 3, 4, 5, 6, 7, 8), "<echo>");
  EXPECT_EQ(fmt(conv_call, "{k:%d,%d,%d,%d,%d,%d,%d,%d,%d}", 1, 2, 3, 4, 5, 6, 7, 8, 9),
            "{k:1,2,3,4,5,6,7,8,9}");
  conv_unregister(echo_key);
  conv_register(echo_key, "k");
  EXPECT_EQ(fmt(conv_call, "{k:d}"), "{k:d}");       // spec without "%"
  EXPECT_EQ(fmt(conv_call, "{k:%d;}", 1), "{k:1;}"); // bad separator
  EXPECT_EQ(fmt(conv_call, "{k"), "{k");            // end of format
  EXPECT_EQ(fmt(conv_call, "{k}"), "<echo>");
  conv_unregister(echo_key);
}

TEST(Formatter, KeyLengthLimits) {
  std::string name62(62, 'n'), name63(63, 'n');
  conv_register(echo_key, "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn");
  EXPECT_EQ(fmt(conv_call, ("{" + name62 + "}").c_str()), "<echo>");
  EXPECT_EQ(fmt(conv_call, ("{" + name63 + "}").c_str()), "{" + name63 + "}");
  conv_unregister(echo_key);
  // a name of 60 characters with its colon is refused
  std::string name59(59, 'm'), name60(60, 'm');
  static std::string k59 = name59 + ":%d";
  conv_register(echo_key, k59.c_str());
  EXPECT_EQ(fmt(conv_call, ("{" + name59 + ":%d}").c_str(), 1), "<echo>");
  EXPECT_EQ(fmt(conv_call, ("{" + name60 + ":%d}").c_str(), 1), "{" + name60 + ":1}");
  conv_unregister(echo_key);
}

TEST(Formatter, RegisteredStringIgnoresWidth) {
  log_open("NoVendor", "NoProduct");
  EXPECT_EQ(fmt(conv_call, "[%8s][%.2s][%s]", "ab", "abcdef", (const char *)nullptr),
            "[ab][abcdef][(null)]");
  EXPECT_EQ(fmt(conv_call, "%p", (void *)0xAB12), "ab12");
  log_close();
  EXPECT_EQ(fmt(conv_call, "[%4s]", "ab"), "[  ab]");
}

TEST(Formatter, StandardConversions) {
  EXPECT_EQ(fmt(lookup_none, "%d %u %x %X %o %i", -5, 7u, 255u, 255u, 8u, 3), "-5 7 ff FF 10 3");
  EXPECT_EQ(fmt(lookup_none, "%05d|%-4d|%+d", 42, 7, 9), "00042|7   |+9");
  EXPECT_EQ(fmt(lookup_none, "%lld %zu %hhd %hu", -1234567890123LL, (size_t)77, 300, 70000),
            "-1234567890123 77 44 4464");
  EXPECT_EQ(fmt(lookup_none, "%.3f %g %e", 1.5, 0.25, 100.0), "1.500 0.25 1.000000e+02");
  EXPECT_EQ(fmt(lookup_none, "%c%c", 'o', 'k'), "ok");
  EXPECT_EQ(fmt(lookup_none, "%*d|%.*f", 4, 1, 2, 3.14159), "   1|3.14");
  EXPECT_EQ(fmt(lookup_none, "100%%"), "100%");
  int count = 0;
  EXPECT_EQ(fmt(lookup_none, "abc%n!", &count), "abc!");
  EXPECT_EQ(count, 3);
}

TEST(Formatter, StarArgumentsAreSkippedInNamedConversions) {
  registry r;
  EXPECT_EQ(fmt(conv_call, "{fp:%*u,%d} %d", 99, 20, 1048576, 7), "1 7");
}

TEST(Formatter, ErrorsEndTheMessage) {
  EXPECT_EQ(fmt(lookup_none, "a %y b %d", 1), "a (err)");
  EXPECT_EQ(fmt(lookup_none, "a %"), "a (err)");
  // a specification of 32 characters is refused, 31 is formatted
  std::string spec32 = "%" + std::string(29, '0') + "1d";
  std::string spec31 = "%" + std::string(28, '0') + "1d";
  ASSERT_EQ(spec32.size(), 32u);
  EXPECT_EQ(fmt(lookup_none, spec32.c_str(), 5), "(err)");
  EXPECT_EQ(fmt(lookup_none, spec31.c_str(), 5), "5");
  char buf[4];
  EXPECT_EQ(xsnprintf(lookup_none, buf, sizeof buf, "ab%y"), 7);
  EXPECT_STREQ(buf, "ab(");
}

TEST(Formatter, NeverWritesPastSize) {
  registry r;
  const char *f = "{fp:%u,%d} %s %d {fp:%u,%d}";
  char full[128];
  int need = xsnprintf(conv_call, full, sizeof full, f, 20, -524288, "text", 12345, 27, 1);
  for (std::size_t size = 0; size <= static_cast<std::size_t>(need) + 1; ++size) {
    char buf[128];
    std::memset(buf, '#', sizeof buf);
    int n = xsnprintf(conv_call, size ? buf : nullptr, size, f, 20, -524288, "text", 12345, 27, 1);
    EXPECT_EQ(n, need);
    for (std::size_t k = size; k < sizeof buf; ++k)
      ASSERT_EQ(buf[k], '#') << "size " << size << " byte " << k;
    if (size) {
      EXPECT_EQ(std::strlen(buf), size - 1 < (std::size_t)need ? size - 1 : (std::size_t)need);
      EXPECT_EQ(std::strncmp(buf, full, std::strlen(buf)), 0);
    }
  }
}

int decline(char *, std::size_t, const std::int64_t *) { return -1; }

TEST(Formatter, DecliningConversionPrintsLiterally) {
  conv_register(decline, "fp:%u,%d");
  EXPECT_EQ(fmt(conv_call, "{fp:%u,%d}", 20, 1), "{fp:20,1}");
  // the newest node shadows; removing it shows the older one again
  conv_register(conv_fp, "fp:%u,%d");
  EXPECT_EQ(fmt(conv_call, "{fp:%u,%d}", 20, 1048576), "1");
  conv_unregister(conv_fp);
  EXPECT_EQ(fmt(conv_call, "{fp:%u,%d}", 20, 1048576), "{fp:20,1048576}");
  conv_unregister(decline);
  EXPECT_EQ(conv_call(nullptr, 0, "fp:%u,%d", nullptr), -1);
}

TEST(Utf16, SurrogatesAndLoneUnits) {
  const std::uint16_t pair[] = {'a', 0xD83D, 0xDE00, 'b', 0};
  char buf[16];
  EXPECT_EQ(su16_snprint(buf, sizeof buf, pair), 6);
  EXPECT_STREQ(buf, "a\xF0\x9F\x98\x80" "b");
  const std::uint16_t lone[] = {0xD800, 'x', 0x00E9, 0x20AC, 0};
  EXPECT_EQ(su16_snprint(buf, sizeof buf, lone), 9);
  EXPECT_STREQ(buf, "\xED\xA0\x80x\xC3\xA9\xE2\x82\xAC");
  registry r;
  EXPECT_EQ(fmt(conv_call, "{su16:%p}!", (const void *)pair), "a\xF0\x9F\x98\x80" "b!");
}
