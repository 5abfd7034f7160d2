// The definition lexer: tokens, values, line counting and every message.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "synth/conf/conf_lex.h"

namespace {

struct collected {
  std::vector<std::string> toks;
  std::vector<int> lines;
  conf_lexer *lx;
};

void collect(void *ctx, int kind, const conf_tokval *v) {
  auto *c = static_cast<collected *>(ctx);
  std::string s;
  switch (kind) {
  case TOK_EOF: s = "EOF"; break;
  case TOK_NEWLINE: s = "NL"; break;
  case TOK_ERR: s = std::string("ERR:") + v->text; break;
  case TOK_IDENT: s = std::string("ID:") + v->text; break;
  case TOK_STRING: s = std::string("STR:") + v->text; break;
  case TOK_NUM: s = "NUM:" + std::to_string(v->num) + (v->wide ? "w" : ""); break;
  case TOK_FP: s = "FP:" + std::to_string(v->num); break;
  default:
    s = kind < 256 ? std::string(1, static_cast<char>(kind)) : "KW:" + std::to_string(kind);
  }
  c->toks.push_back(s);
  c->lines.push_back(c->lx->line);
}

// Lexes text, then the end of input unless told not to; returns the tokens
// joined by blanks and whether the lexer was idle before the end.
std::string lex(const std::string &text, bool *idle = nullptr) {
  conf_lexer lx;
  collected c{{}, {}, &lx};
  conf_lex_init(&lx, collect, &c);
  for (unsigned char ch : text)
    conf_lex(&lx, ch);
  if (idle)
    *idle = lx.state == conf_lexstate::idle;
  conf_lex(&lx, -1);
  std::string out;
  for (auto &t : c.toks)
    out += (out.empty() ? "" : " ") + t;
  return out;
}

} // namespace

TEST(ConfLex, Tokens) {
  struct {
    const char *in, *out;
  } cases[] = {
      {"a\nb", "ID:a NL ID:b EOF"},
      {"patch Patch", "KW:268 ID:Patch EOF"},
      {"12abc", "NUM:12 ID:abc EOF"},
      {"12#x\n", "NUM:12 NL EOF"},
      {"-7", "NUM:-7 EOF"},
      {"- 7", "ERR:decimal expected after '-' EOF"},
      {"1.5 0.1 -2.25 3.", "FP:1572864 FP:104857 FP:-2359296 FP:3145728 EOF"},
      {".5", ". NUM:5 EOF"},
      {"2047.5", "FP:2146959360 EOF"},
      {"2048.0", "ERR:overflow in integer part EOF"},
      {"2048", "NUM:2048 EOF"},
      {"0.123456", "FP:129452 EOF"},
      {"0.1234567", "ERR:overflow in frac part EOF"},
      {"4294967296", "ERR:overflow in decimal EOF"},
      {"4294967295 2147483648 2147483647", "NUM:-1w NUM:-2147483648w NUM:2147483647 EOF"},
      {"abcdefghijklmnopq", "ID:abcdefghijklmnopq EOF"},
      {"abcdefghijklmnopqr x\ny", "ERR:identifier too long NL ID:y EOF"},
      {"\"a\\\"b\"", "STR:a\"b EOF"},
      {"\"a\\nb\" x\nz", "ERR:unknown escape sequence NL ID:z EOF"},
      {"\"#x\"", "STR:#x EOF"},
      {"\xff", "ERR:character doesn't start any token EOF"},
      {"# \xff\nkey", "NL KW:292 EOF"},
      {"{ } = : / .", "{ } = : / . EOF"},
      {"lfoticks load wav", "KW:283 KW:312 KW:261 EOF"},
      {"\t\r x", "ID:x EOF"},
  };
  for (auto &c : cases)
    EXPECT_EQ(lex(c.in), c.out) << c.in;
}

TEST(ConfLex, LinesAndStrings) {
  conf_lexer lx;
  collected c{{}, {}, &lx};
  conf_lex_init(&lx, collect, &c);
  for (char ch : std::string("a\n\"x\ny\"\nb"))
    conf_lex(&lx, static_cast<unsigned char>(ch));
  conf_lex(&lx, -1);
  ASSERT_EQ(c.toks.size(), 6u);
  EXPECT_EQ(c.toks[2], "STR:x\ny");
  EXPECT_EQ(c.lines[0], 1);
  EXPECT_EQ(c.lines[2], 2); // newlines inside strings are not counted
  EXPECT_EQ(c.lines[4], 3); // b is handled on line 3
  EXPECT_EQ(c.toks[4], "ID:b");
}

TEST(ConfLex, NulIsNeverText) {
  using namespace std::string_literals;
  // A NUL must not end a string early (the rest of it would be lost) nor
  // become part of it: it is refused wherever it stands but in a comment.
  EXPECT_EQ(lex("\"kit/a.raw\0.wav\" x\ny"s), "ERR:character doesn't start any token NL ID:y EOF");
  EXPECT_EQ(lex("\"\0\"\n"s), "ERR:character doesn't start any token NL EOF");
  EXPECT_EQ(lex("a\0"s), "ID:a ERR:character doesn't start any token EOF");
  EXPECT_EQ(lex("# \0\nb"s), "NL ID:b EOF");
}

TEST(ConfLex, LengthLimitsOfStrings) {
  std::string s257(257, 's'), s258(258, 's');
  EXPECT_EQ(lex("\"" + s257 + "\""), "STR:" + s257 + " EOF");
  EXPECT_EQ(lex("\"" + s258 + "\"\nq"), "ERR:string too long NL ID:q EOF");
}

TEST(ConfLex, IdleOnlyBetweenTokens) {
  struct {
    const char *in;
    bool idle;
  } cases[] = {{"x\n", true}, {"x", false}, {"12", false}, {"# c", false},
               {"\"open", false}, {"}", true}, {"1.", false}};
  for (auto &c : cases) {
    bool idle = false;
    lex(c.in, &idle);
    EXPECT_EQ(idle, c.idle) << c.in;
  }
}

TEST(ConfLex, KeywordTable) {
  EXPECT_EQ(conf_keyword("patch"), 268);
  EXPECT_EQ(conf_keyword("rnd"), 298);
  EXPECT_EQ(conf_keyword("main"), 310);
  EXPECT_EQ(conf_keyword("Patch"), 0);
  EXPECT_EQ(conf_keyword(""), 0);
  EXPECT_STREQ(conf_keyword_text(263), nullptr);
  for (int k = 261; k <= 312; ++k)
    if (k != 263) {
      EXPECT_EQ(conf_keyword(conf_keyword_text(k)), k);
    }
}
