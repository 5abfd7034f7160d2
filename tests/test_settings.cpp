// The settings text and value texts over a small module table.
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "module/settings.h"
#include "settings_table.h"
#include "testutil.h"

using testutil::log_capture;

namespace {

using settings_table::MOD;

std::string print(const char *preset, const int *vals) {
  std::size_t n = orka_print(&MOD, preset, vals, nullptr);
  std::string s(n + 4, '@');
  EXPECT_EQ(orka_print(&MOD, preset, vals, s.data()), n);
  EXPECT_EQ(s.substr(n), "@@@@"); // no terminator
  s.resize(n);
  return s;
}

struct scan_result {
  int ok;
  char name[ORKA_TEXTLEN];
  int vals[8];
  std::size_t consumed;
};

scan_result scan(const std::string &text) {
  scan_result r{};
  const char *pos = text.data();
  std::size_t len = text.size();
  r.ok = orka_scan(&MOD, r.name, r.vals, &pos, &len);
  r.consumed = static_cast<std::size_t>(pos - text.data());
  EXPECT_EQ(r.consumed + len, text.size());
  return r;
}

} // namespace

TEST(Settings, WritesEveryControlInOrder) {
  int vals[] = {64, 1, 0, 2, 1};
  EXPECT_EQ(print("pad", vals), "name = \"pad\"\nvolume = 64\nholdmode = Bend-Wheel\nbypass = 0\n"
                                "shape = tanh\npatch = Percussions\n");
}

TEST(Settings, RoundTripsNamesAndValues) {
  const char *names[] = {"", "\"pad\"", "a\\b\"c", "Grand Piano #2",
                         "12345678901234567890123456789012345678901234567"};
  for (const char *nm : names) {
    for (int hold = 0; hold < 3; ++hold) {
      int vals[] = {127, hold, 1, 0, 0};
      scan_result r = scan(print(nm, vals));
      ASSERT_EQ(r.ok, 1) << nm;
      EXPECT_STREQ(r.name, nm);
      for (int i = 0; i < 5; ++i)
        EXPECT_EQ(r.vals[i], vals[i]) << nm << " ctl " << i;
    }
  }
}

TEST(Settings, EmptyTextGivesDefaults) {
  scan_result r = scan("");
  EXPECT_EQ(r.ok, 1);
  EXPECT_EQ(r.consumed, 0u);
  EXPECT_STREQ(r.name, "default");
  EXPECT_EQ(r.vals[0], 100);
  EXPECT_EQ(r.vals[2], 1);
  EXPECT_EQ(r.vals[3], 2);
}

TEST(Settings, AcceptedForms) {
  struct {
    const char *text;
    int ctl, val;
  } cases[] = {
      {"  volume=5\n", 0, 5},
      {"volume = 5   # five\n", 0, 5},
      {"\t# comment only\nvolume = 6\n\n", 0, 6},
      {"volume = 1\nvolume = 2\n", 0, 2}, // the last line wins
      {"shape = soft\r\n", 3, 0},
      {"patch = Grand Piano  \n", 4, 0},
      {"holdmode = Mod-Wheel # mode\n", 1, 2},
      {"holdmode = Pedal # comment\n", 1, 0},
      {"holdmode=Bend-Wheel\n", 1, 1},
      {"holdmode =\t  Pedal\n", 1, 0},
      {"volume = 127\n", 0, 127},
      // The longest value text that a line end follows wins.
      {"patch = E.Piano #2\n", 4, 3},
      {"patch = E.Piano #2 # two\n", 4, 3},
      {"patch = E.Piano # not two\n", 4, 2},
      {"patch = E.Piano #22\n", 4, 2}, // "#22" is a comment after "E.Piano"
      {"patch = Organ \n", 4, 4},      // the writer's form of "Organ "
      {"patch = Organ\n", 4, 8},
      {"patch =  Lead\n", 4, 5},       // one separating blank, then " Lead"
      {"patch = Pad - warm\n", 4, 6},
  };
  for (auto &c : cases) {
    scan_result r = scan(c.text);
    EXPECT_EQ(r.ok, 1) << c.text;
    EXPECT_EQ(r.vals[c.ctl], c.val) << c.text;
  }
}

TEST(Settings, ReaderErrors) {
  struct {
    const char *text;
    const char *message;
  } cases[] = {
      {"volume = 128\n", "volume: 128: out of range"},
      {"volume = -1\n", "expected decmal"},
      {"volume = 2147483648\n", "overflow in decimal"},
      {"volume = 2147483647\n", "volume: 2147483647: out of range"},
      {"volume = 12x\n", "new line expected"},
      {"volume = 12", "new line expected"},
      {"volume 12\n", "expected '=' after 'volume'"},
      {"shape = Tanh\n", "shape: Tanh: bad value"},
      {"shape = softer\n", "shape: softer: bad value"},
      {"shape = soft", "new line expected"},
      {"patch = Lead\n", "patch: Lead: bad value"}, // the text is " Lead"
      {"patch = Organs # x\n", "patch: Organs: bad value"},
      {"patch = E.Pia\n", "patch: E.Pia: bad value"},
      {"name = pad\n", "expected '\"'"},
      {"name = \"pad\n", "missing terminating '\"'"},
      {"name = \"pad", "missing terminating '\"'"},
      {"name = \"a\tb\"\n", "non-ascii char in string"},
      {"name = \"a\xC3\xA9\"\n", "non-ascii char in string"},
      {"name = \"123456789012345678901234567890123456789012345678\"\n", "string too long"},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa = 1\n", "name too long"},
      {"nosuch = 3", "new line expected"},
  };
  for (auto &c : cases) {
    log_capture cap(1);
    scan_result r = scan(c.text);
    EXPECT_EQ(r.ok, 0) << c.text;
    EXPECT_TRUE(cap.has(c.message)) << c.text << " logged:\n" << cap.all();
  }
}

TEST(Settings, NulInsideAValueIsAnError) {
  using namespace std::string_literals;
  for (const std::string &text : {"patch = Grand Piano\0\n"s, "patch = Grand\0 Piano\n"s,
                                  "shape = so\0ft\n"s, "volume = 5\0\n"s, "name = \"a\0b\"\n"s,
                                  "holdmode = Pedal\0 # x\n"s}) {
    log_capture cap(1);
    scan_result r = scan(text);
    EXPECT_EQ(r.ok, 0) << text;
    EXPECT_FALSE(cap.lines().empty()) << text;
  }
}

TEST(Settings, EverySelectorTextReadsBack) {
  // Whatever the texts hold, what the writer wrote is read as it was.
  for (int k = 0; k < 9; ++k) {
    for (int hold = 0; hold < 3; ++hold) {
      int vals[] = {5, hold, 0, 1, k};
      const std::string text = print("E.Piano #2 ", vals);
      scan_result r = scan(text);
      ASSERT_EQ(r.ok, 1) << text;
      EXPECT_STREQ(r.name, "E.Piano #2 ");
      for (int i = 0; i < 5; ++i)
        EXPECT_EQ(r.vals[i], vals[i]) << text;
      EXPECT_EQ(print(r.name, r.vals), text);
    }
  }
}

TEST(Settings, UnknownKeysAreSkipped) {
  log_capture cap(1);
  scan_result r = scan("nosuch = 3 4 5\nvolume = 9\n");
  EXPECT_EQ(r.ok, 1);
  EXPECT_EQ(r.vals[0], 9);
  EXPECT_TRUE(cap.has("nosuch: ignored unknown setting"));
}

TEST(Settings, BracketEndsTheText) {
  std::string text = "volume = 3\n  [next section]\nvolume = 4\n";
  scan_result r = scan(text);
  EXPECT_EQ(r.ok, 1);
  EXPECT_EQ(r.vals[0], 3);
  EXPECT_EQ(r.consumed, text.find('['));
}

TEST(Settings, FailureKeepsWhatWasReadBefore) {
  log_capture cap(1);
  scan_result r = scan("name = \"kept\"\nvolume = 7\nshape = bad\nbypass = 0\n");
  EXPECT_EQ(r.ok, 0);
  EXPECT_STREQ(r.name, "kept");
  EXPECT_EQ(r.vals[0], 7);
  EXPECT_EQ(r.vals[2], 1); // default: its line came after the error
  // an error inside the quoted name keeps the previous name whole
  r = scan("name = \"first\"\nname = \"sec\tond\"\n");
  EXPECT_EQ(r.ok, 0);
  EXPECT_STREQ(r.name, "first");
}

TEST(Settings, UnknownControlType) {
  settings_table::badtype = 1;
  log_capture cap(1);
  int vals[] = {1, 1, 1, 1, 1};
  EXPECT_EQ(orka_print(&MOD, "x", vals, nullptr), 0u);
  EXPECT_TRUE(cap.has("orka_print: unknown ctl type"));
  scan_result r = scan("bypass = 1\n");
  EXPECT_EQ(r.ok, 0);
  EXPECT_TRUE(cap.has("orka_scan: unknown ctl type"));
  settings_table::badtype = 0;
}

TEST(Settings, ValueTexts) {
  char t[ORKA_TEXTLEN];
  orka_printval(&MOD, 0, 7, t);
  EXPECT_STREQ(t, "007");
  orka_printval(&MOD, 0, 1234, t);
  EXPECT_STREQ(t, "1234");
  orka_printval(&MOD, 1, 1, t);
  EXPECT_STREQ(t, "Bend-Wheel");
  struct {
    int ctl;
    const char *text;
    int ok, val;
  } cases[] = {
      {0, "42", 1, 42},    {0, "  +42", 1, 42}, {0, "-5", 1, 0},        {0, "999", 1, 127},
      {0, "99999999999999", 1, 127}, {0, "x", 0, -1}, {0, "", 0, -1},  {2, "7", 1, 1},
      {1, "Mod-Wheel", 1, 2}, {1, "mod-wheel", 0, -1}, {3, "hard", 1, 1},
  };
  for (auto &c : cases) {
    int v = -1;
    EXPECT_EQ(orka_scanval(&MOD, c.ctl, &v, c.text), c.ok) << c.text;
    EXPECT_EQ(v, c.val) << c.text;
  }
}

TEST(Settings, NeverReadsPastTheLength) {
  // Every prefix of a valid text is read without touching the bytes after it.
  int vals[] = {64, 2, 0, 1, 1};
  std::string full = print("a \"quoted\" name", vals);
  for (std::size_t n = 0; n <= full.size(); ++n) {
    std::string cut = full.substr(0, n);
    std::vector<char> heap(cut.begin(), cut.end());
    scan_result r{};
    const char *pos = heap.data();
    std::size_t len = heap.size();
    log_capture cap(0);
    r.ok = orka_scan(&MOD, r.name, r.vals, &pos, &len);
    if (n == full.size()) {
      EXPECT_EQ(r.ok, 1);
    }
    EXPECT_LE(pos, heap.data() + heap.size());
  }
}
