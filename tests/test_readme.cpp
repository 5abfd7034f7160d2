// Every instrument definition that README.md shows loads as it stands, with
// nothing to warn about: the README is what users copy.
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "check_warn.h"
#include "conf_fixture.h"

namespace {

// The README's code blocks (indented by four blanks) that begin with a
// definition statement, comments aside.
std::vector<std::string> readme_definitions() {
  std::ifstream in(ORKA_SOURCE_DIR "/README.md");
  std::vector<std::string> blocks;
  std::string line, block;
  bool prev_blank = true, in_block = false;
  auto finish = [&] {
    if (in_block) {
      // The first line with more than blanks and a comment.
      std::istringstream lines(block);
      std::string l;
      while (std::getline(lines, l) && l.substr(0, l.find('#')).find_first_not_of(' ') ==
                                            std::string::npos) {
      }
      if (std::regex_search(l, std::regex("^\\s*(wav|patch|drumkey|load)\\b")))
        blocks.push_back(block);
    }
    block.clear();
    in_block = false;
  };
  while (std::getline(in, line)) {
    const bool blank = line.find_first_not_of(' ') == std::string::npos;
    if (line.rfind("    ", 0) == 0 && (in_block || prev_blank)) {
      in_block = true;
      block += line.substr(4) + "\n";
    } else if (!blank) {
      finish();
    } else if (in_block) {
      block += "\n";
    }
    prev_blank = blank;
  }
  finish();
  return blocks;
}

TEST_F(ConfTest, ReadmeDefinitionsLoad) {
  const std::vector<std::string> blocks = readme_definitions();
  ASSERT_GE(blocks.size(), 2u) << "no definitions found in " ORKA_SOURCE_DIR "/README.md";
  const std::regex data("data \"([^\"]+)\"");
  for (const std::string &b : blocks) {
    for (std::sregex_iterator it(b.begin(), b.end(), data), end; it != end; ++it)
      put("data/" + (*it)[1].str(), std::string(9600, '\x01'));
    conf(b);
    ASSERT_TRUE(load()) << b << "\n" << log_text();
    bool any = false;
    for (int i = 0; i < PATCH_MAX; ++i)
      any = any || patch_table[i] || drumkey_table[i];
    EXPECT_TRUE(any) << b;
    EXPECT_EQ(check_warnings(), std::vector<std::string>{}) << b;
    conf_teardown();
  }
}

} // namespace
