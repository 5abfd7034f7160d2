// Wave data: decoding, the raw-only rule, load order over the tree, and
// what a missing or refused file does.
#include <string>

#include "conf_fixture.h"

namespace {

TEST(WaveDecode, LittleEndianInPlace) {
  unsigned char b[] = {0x34, 0x12, 0xff, 0xff, 0x00, 0x80, 0xff, 0x7f, 0x99};
  EXPECT_EQ(wave_decode(b, sizeof b), 4);
  const auto *s = reinterpret_cast<const std::int16_t *>(b);
  EXPECT_EQ(s[0], 0x1234);
  EXPECT_EQ(s[1], -1);
  EXPECT_EQ(s[2], -32768);
  EXPECT_EQ(s[3], 32767);
  EXPECT_EQ(wave_decode(b, 0), 0);
  EXPECT_EQ(wave_decode(b, 1), 0);
}

// One map per data path, each in its own key.
std::string one_wave(const std::vector<std::string> &paths) {
  std::string s = "wav w {\n";
  for (std::size_t i = 0; i < paths.size(); ++i)
    s += "map key = " + std::to_string(i) + " {\ndata \"" + paths[i] + "\"\n}\n";
  return s + "}\n";
}

TEST_F(ConfTest, SampleCountsAndEndings) {
  const std::vector<std::string> paths = {"five", "empty", "kit/snare.WAV", "kit/snare.raw",
                                          "kit/snare", "set1.5/snare"};
  conf(one_wave(paths));
  put("data/five", std::string("\x34\x12\xff\xff\x01", 5));
  put("data/empty", "");
  for (std::size_t i = 2; i < paths.size(); ++i)
    put("data/" + paths[i], "xy");
  ASSERT_TRUE(load()) << log_text();
  EXPECT_TRUE(logged("loading waves..."));
  EXPECT_TRUE(logged("done"));
  int key = 0;
  for (const std::string &p : paths) {
    const map *m = map_find(wave_table[0], key++, 64);
    ASSERT_NE(m, nullptr) << p;
    EXPECT_EQ(std::string(m->path), "data\\" + p);
    ASSERT_NE(m->samples, nullptr) << p;
    const int want = p == "five" ? 2 : p == "empty" ? 0 : 1;
    EXPECT_EQ(m->nsamples, want) << p;
  }
  const map *five = map_find(wave_table[0], 0, 0);
  EXPECT_EQ(five->samples[0], 0x1234);
  EXPECT_EQ(five->samples[1], -1);
}

TEST_F(ConfTest, WavFilesAreRefused) {
  conf(one_wave({"a.raw", "kit/snare.wav"}));
  put("data/a.raw", "ab");
  put("data/kit/snare.wav", "RIFF");
  EXPECT_FALSE(load());
  EXPECT_TRUE(logged("data\\kit/snare.wav: .wav files not supported")) << log_text();
  EXPECT_TRUE(logged("data\\kit/snare.wav: couldn't load wave"));
  EXPECT_FALSE(logged("done"));
  expect_empty();
}

TEST_F(ConfTest, MissingDataFileMessagesInOrder) {
  conf("patch 0 {\n}\n" + one_wave({"gone.raw"}));
  EXPECT_FALSE(load());
  // The reader's own message, then the wave loader's two.
  std::vector<std::string> errors;
  for (const std::string &l : lines_)
    if (l.find("gone.raw") != std::string::npos && l.rfind("loading ", 0) != 0)
      errors.push_back(l);
  ASSERT_EQ(errors.size(), 3u) << log_text();
  EXPECT_NE(errors[0].find(": can't open file for reading"), std::string::npos);
  EXPECT_EQ(errors[1], "data\\gone.raw: failed to open for reading");
  EXPECT_EQ(errors[2], "data\\gone.raw: couldn't load wave");
  expect_empty();
}

TEST_F(ConfTest, TreeShapeAndPostOrderLoading) {
  conf(one_wave({"m0", "m1", "m2", "m3", "m4"}));
  for (int i = 0; i < 5; ++i)
    put("data/m" + std::to_string(i), "..");
  ASSERT_TRUE(load());
  std::string order;
  for (const std::string &l : lines_)
    if (l.rfind("loading data\\m", 0) == 0 && l.size() == 15)
      order += l.back();
  EXPECT_EQ(order, "10432");
  const map *root = wave_table[0]->maps;
  EXPECT_EQ(root->keylo, 2);
  EXPECT_EQ(root->left->keylo, 0);
  EXPECT_EQ(root->left->right->keylo, 1);
  EXPECT_EQ(root->right->keylo, 3);
  EXPECT_EQ(root->right->right->keylo, 4);
  EXPECT_EQ(root->right->left, nullptr);
}

TEST_F(ConfTest, SameFileLoadsOneCopyPerMap) {
  conf(one_wave({"x", "x"}));
  put("data/x", "abcd");
  ASSERT_TRUE(load());
  const map *a = map_find(wave_table[0], 0, 0);
  const map *b = map_find(wave_table[0], 1, 0);
  EXPECT_NE(a->samples, b->samples);
  EXPECT_EQ(a->nsamples, 2);
  EXPECT_EQ(b->nsamples, 2);
}

} // namespace
