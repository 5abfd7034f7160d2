// glimra-import's command line, run as a program on the test bank: the
// options that choose what is imported, the quiet flag, the summary line
// and the refusals.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "import_rig.h"
#include "testutil.h"

using namespace testutil;

namespace {

struct run_result {
  int status = -1;
  std::string out, err, conf; // conf: the written midisyn.conf, if any
};

// Runs glimra-import on the test bank with args, writing to dir/out.
run_result run_import(const tempdir &dir, const std::string &args) {
  const std::string bank = dir.file("test.sf2"), out = dir.file("out");
  std::filesystem::remove_all(out);
  const std::string cmd = std::string("'") + ORKA_IMPORT_EXE + "' '" + bank + "' -o '" + out + "' " +
                          args + " >'" + dir.file("stdout") + "' 2>'" + dir.file("stderr") + "'";
  run_result r;
  const int rc = std::system(cmd.c_str());
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = read_file(dir.file("stdout"));
  r.err = read_file(dir.file("stderr"));
  if (std::filesystem::exists(out + "/midisyn.conf"))
    r.conf = read_file(out + "/midisyn.conf");
  return r;
}

int count_of(const std::string &text, const std::string &what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

// Lines of the definition that start with what.
int lines_starting(const std::string &conf, const std::string &what) {
  return count_of("\n" + conf, "\n" + what);
}

class ImportCli : public ::testing::Test {
protected:
  void SetUp() override { write_file(dir_.file("test.sf2"), test_bank()); }
  tempdir dir_;
};

// What each option imports: the patches and drum keys of the written
// definition, and the summary that counts them.
TEST_F(ImportCli, OptionsChooseWhatIsImported) {
  struct row {
    const char *args;
    int patches, drums;
    std::vector<std::string> has, lacks; // lines of the definition
  };
  const row rows[] = {
      {"", 4, 4, {"patch 0 \"Lead\" {", "patch 3 \"Shaped\" {", "drumkey 42 \"HatC\" {"}, {"drumkey 38"}},
      {"--presets 1,3", 2, 0, {"patch 1 \"Pad\" {", "patch 3 \"Shaped\" {"}, {"patch 0", "patch 2", "drumkey"}},
      {"--presets 0-1,drums", 2, 4, {"patch 0 \"Lead\" {", "patch 1 \"Pad\" {", "drumkey 36"}, {"patch 2"}},
      {"--presets drums", 0, 4, {"drumkey 46 \"HatO\" {"}, {"patch "}},
      {"--kit 8", 4, 1, {"drumkey 38 \"Kick\" {"}, {"drumkey 36", "drumkey 42"}},
      {"--bank 1 --presets 0", 1, 0, {"patch 0 \"Bright\" {"}, {"\"Lead\"", "drumkey"}},
  };
  const std::regex summary(
      "(.*): ([0-9]+) patches, ([0-9]+) drum keys, ([0-9]+) waves, ([0-9]+) maps, sample memory "
      "[0-9]+\\.[0-9] MB, ([0-9]+) warnings, [0-9]+\\.[0-9] s\n");
  for (const row &w : rows) {
    const run_result r = run_import(dir_, w.args);
    ASSERT_EQ(r.status, 0) << w.args << ": " << r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.out, m, summary)) << w.args << ": " << r.out;
    EXPECT_EQ(m[1].str(), dir_.file("out")) << w.args;
    EXPECT_EQ(std::stoi(m[2].str()), w.patches) << w.args;
    EXPECT_EQ(std::stoi(m[3].str()), w.drums) << w.args;
    EXPECT_EQ(lines_starting(r.conf, "patch "), w.patches) << w.args;
    EXPECT_EQ(lines_starting(r.conf, "drumkey "), w.drums) << w.args;
    EXPECT_EQ(std::stoi(m[4].str()), lines_starting(r.conf, "wav ")) << w.args;
    EXPECT_EQ(std::stoi(m[5].str()), lines_starting(r.conf, "  map ")) << w.args;
    // Every warning counted is printed, one line each.
    EXPECT_EQ(std::stoi(m[6].str()), count_of(r.err, "warning: ")) << w.args << ": " << r.err;
    for (const std::string &line : w.has)
      EXPECT_EQ(lines_starting(r.conf, line), 1) << w.args << ": " << line;
    for (const std::string &line : w.lacks)
      EXPECT_EQ(lines_starting(r.conf, line), 0) << w.args << ": " << line;
  }
}

TEST_F(ImportCli, WarningsArePrintedUnlessQuiet) {
  const run_result loud = run_import(dir_, "");
  ASSERT_EQ(loud.status, 0) << loud.err;
  EXPECT_NE(loud.err.find("warning: preset 3 Shaped: envelope delay starts the sample late\n"),
            std::string::npos)
      << loud.err;
  EXPECT_NE(loud.err.find("warning: kit 0 Drums: exclusive class 1: "), std::string::npos) << loud.err;
  // The summary without its time.
  auto counts = [](const std::string &s) { return std::regex_replace(s, std::regex(", [0-9.]+ s\n$"), ""); };
  for (const char *q : {"--quiet", "-q"}) {
    const run_result quiet = run_import(dir_, q);
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "") << q;
    EXPECT_EQ(counts(quiet.out), counts(loud.out)) << q;
    EXPECT_NE(counts(quiet.out), quiet.out) << q;
    EXPECT_EQ(quiet.conf, loud.conf) << q;
  }
}

// Bad input: a message on the error stream, a non-zero status and no
// definition written.
TEST_F(ImportCli, BadArgumentsAreRefused) {
  struct row {
    const char *args;
    const char *message;
  };
  const row rows[] = {
      {"--presets 0-200", "glimra-import: --presets: '0-200' is neither a program, a range A-B of 0...127 nor 'drums'\n"},
      {"--presets 7-3", "--presets: '7-3' is neither"},
      {"--presets 1,,2", "--presets: '' is neither"},
      {"--bank 5 --presets 0-127", "test.sf2: no preset of bank 5 to import\n"},
      {"--bank x", "--bank"},
      {"--frobnicate", "--frobnicate"},
  };
  for (const row &w : rows) {
    const run_result r = run_import(dir_, w.args);
    EXPECT_NE(r.status, 0) << w.args;
    EXPECT_NE(r.err.find(w.message), std::string::npos) << w.args << ": " << r.err;
    EXPECT_EQ(r.conf, "") << w.args;
  }
  // A bank that is not there, and no output folder.
  const std::string missing = dir_.file("missing.sf2");
  const std::string cmd = std::string("'") + ORKA_IMPORT_EXE + "' '" + missing + "' -o '" + dir_.file("m") +
                          "' 2>'" + dir_.file("stderr") + "'";
  int rc = std::system(cmd.c_str());
  EXPECT_EQ(WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, 1);
  EXPECT_NE(read_file(dir_.file("stderr")).find("glimra-import: " + missing), std::string::npos);
  rc = std::system((std::string("'") + ORKA_IMPORT_EXE + "' '" + dir_.file("test.sf2") + "' 2>/dev/null").c_str());
  EXPECT_NE(WIFEXITED(rc) ? WEXITSTATUS(rc) : 0, 0) << "-o is required";
}

} // namespace
