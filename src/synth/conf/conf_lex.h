// conf_lex.h - the push lexer of the instrument-definition language.
// The loader feeds one character at a time; each complete token leaves
// through the token function, in input order.
#pragma once

#include <cstdint>

// Token kinds; keywords have the codes 261 ... 312 (263 is not used).
enum : int {
  TOK_EOF = -1,
  TOK_NEWLINE = 10,
  TOK_ERR = 256,
  TOK_IDENT = 257,
  TOK_NUM = 258,
  TOK_FP = 259,
  TOK_STRING = 260,
};

enum : int {
  KW_WAV = 261, KW_MAP, KW_UNUSED_263, KW_LOOP, KW_DATA, KW_DRUMKEY, KW_CKEY, KW_PATCH,
  KW_LAYER, KW_SHAPE, KW_DELAY, KW_TEMPO, KW_ILEVEL, KW_ATIME, KW_ALEVEL, KW_DTIME,
  KW_DLEVEL, KW_STIME, KW_SLEVEL, KW_RTIME, KW_RLEVEL, KW_LFOTIME, KW_LFOTICKS, KW_LFOTYPE,
  KW_PITCH, KW_VOL, KW_CUT, KW_RES, KW_PAN, KW_BASE, KW_LFO, KW_KEY, KW_VEL, KW_CAT,
  KW_BEND, KW_MOD, KW_EXPR, KW_RND, KW_FILT, KW_OFF, KW_LOWPASS, KW_BANDPASS, KW_HIGHPASS,
  KW_BANDREJ, KW_PEAK, KW_RELEASE, KW_NOFF, KW_NEVER, KW_OUTPUT, KW_MAIN, KW_FX, KW_LOAD,
};

// The value handed with a token.  Texts point into the lexer and are
// valid only during the call.
struct conf_tokval {
  const char *text;  // TOK_ERR message, TOK_IDENT or TOK_STRING text
  std::int64_t num;  // TOK_NUM (low 32 bits, signed), TOK_FP (Q20)
  bool wide;         // TOK_NUM whose magnitude is 2^31 or more
};

using conf_tokfn = void (*)(void *ctx, int kind, const conf_tokval *val);

enum class conf_lexstate { idle, error, comment, minus, integer, fraction, identifier, string, escape };

struct conf_lexer {
  conf_lexstate state;
  int len;             // characters in text
  char text[258];      // identifier or string being read
  std::uint64_t value; // magnitude of the integer part
  bool negative;
  int fnum, fdiv;      // fraction numerator and power-of-ten divisor
  conf_tokfn fn;
  void *ctx;
  int line;            // current line, 1 at the start
};

void conf_lex_init(conf_lexer *lx, conf_tokfn fn, void *ctx);
// Feeds one character: 0 ... 255, or -1 for the end of input.
void conf_lex(conf_lexer *lx, int c);
// The keyword with that text, or 0.
int conf_keyword(const char *text);
// The text of a keyword code, or null.
const char *conf_keyword_text(int code);
