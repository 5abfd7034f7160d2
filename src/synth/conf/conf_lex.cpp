// The push lexer: one character per call, at most one token per call.
#include "synth/conf/conf_lex.h"

#include <cstring>

namespace {

const char *const KEYWORDS[] = {
    "wav",     "map",     nullptr,  "loop",     "data",     "drumkey", "ckey",    "patch",
    "layer",   "shape",   "delay",  "tempo",    "ilevel",   "atime",   "alevel",  "dtime",
    "dlevel",  "stime",   "slevel", "rtime",    "rlevel",   "lfotime", "lfoticks", "lfotype",
    "pitch",   "vol",     "cut",    "res",      "pan",      "base",    "lfo",     "key",
    "vel",     "cat",     "bend",   "mod",      "expr",     "rnd",     "filt",    "off",
    "lowpass", "bandpass", "highpass", "bandrej", "peak",   "release", "noff",    "never",
    "output",  "main",    "fx",     "load",
};
static_assert(sizeof KEYWORDS / sizeof KEYWORDS[0] == KW_LOAD - KW_WAV + 1);

bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_letter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

void emit(conf_lexer *lx, int kind, const char *text = nullptr, std::int64_t num = 0,
          bool wide = false) {
  conf_tokval v{text, num, wide};
  lx->fn(lx->ctx, kind, &v);
}

void fail(conf_lexer *lx, const char *msg) {
  emit(lx, TOK_ERR, msg);
  lx->state = conf_lexstate::error;
}

void emit_integer(conf_lexer *lx) {
  // The token carries the low 32 bits; "wide" tells range checks that the
  // number did not fit a signed 32-bit value.
  const bool wide = lx->value >= 0x80000000u;
  std::int32_t v = static_cast<std::int32_t>(static_cast<std::uint32_t>(lx->value));
  if (lx->negative)
    v = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(v));
  emit(lx, TOK_NUM, nullptr, v, wide);
}

} // namespace

int conf_keyword(const char *text) {
  for (int i = 0; i <= KW_LOAD - KW_WAV; ++i)
    if (KEYWORDS[i] && std::strcmp(KEYWORDS[i], text) == 0)
      return KW_WAV + i;
  return 0;
}

const char *conf_keyword_text(int code) {
  return code >= KW_WAV && code <= KW_LOAD ? KEYWORDS[code - KW_WAV] : nullptr;
}

void conf_lex_init(conf_lexer *lx, conf_tokfn fn, void *ctx) {
  std::memset(lx, 0, sizeof *lx);
  lx->state = conf_lexstate::idle;
  lx->fn = fn;
  lx->ctx = ctx;
  lx->line = 1;
}

void conf_lex(conf_lexer *lx, int c) {
  for (;;) { // a character that ends a token is processed again in the new state
    switch (lx->state) {
    case conf_lexstate::idle:
      switch (c) {
      case -1: emit(lx, TOK_EOF); return;
      case '\n':
        emit(lx, TOK_NEWLINE);
        ++lx->line;
        return;
      case '.': case '/': case ':': case '=': case '{': case '}': emit(lx, c); return;
      case '\t': case '\r': case ' ': return;
      case '#': lx->state = conf_lexstate::comment; return;
      case '-': lx->state = conf_lexstate::minus; return;
      case '"':
        lx->len = 0;
        lx->state = conf_lexstate::string;
        return;
      default:
        if (is_digit(c)) {
          lx->value = 0;
          lx->negative = false;
          lx->state = conf_lexstate::integer;
          continue;
        }
        if (is_letter(c)) {
          lx->text[0] = static_cast<char>(c);
          lx->len = 1;
          lx->state = conf_lexstate::identifier;
          return;
        }
        fail(lx, "character doesn't start any token");
        continue;
      }
    case conf_lexstate::error:
    case conf_lexstate::comment:
      if (c == -1 || c == '\n') {
        lx->state = conf_lexstate::idle;
        continue;
      }
      return;
    case conf_lexstate::minus:
      if (is_digit(c)) {
        lx->value = 0;
        lx->negative = true;
        lx->state = conf_lexstate::integer;
        continue;
      }
      fail(lx, "decimal expected after '-'");
      continue;
    case conf_lexstate::integer:
      if (is_digit(c)) {
        lx->value = lx->value * 10 + static_cast<unsigned>(c - '0');
        if (lx->value >= (std::uint64_t{1} << 32))
          fail(lx, "overflow in decimal");
        return;
      }
      if (c == '.') {
        lx->fnum = 0;
        lx->fdiv = 1;
        lx->state = conf_lexstate::fraction;
        return;
      }
      emit_integer(lx);
      lx->state = conf_lexstate::idle;
      continue;
    case conf_lexstate::fraction:
      if (is_digit(c)) {
        lx->fdiv *= 10;
        if (lx->fdiv > 1048576) {
          fail(lx, "overflow in frac part");
          continue;
        }
        lx->fnum = lx->fnum * 10 + (c - '0');
        return;
      }
      if (lx->value >= 2048) {
        fail(lx, "overflow in integer part");
        continue;
      } else {
        std::int64_t v = static_cast<std::int64_t>(lx->value) * 1048576 +
                         static_cast<std::int64_t>(lx->fnum) * 1048576 / lx->fdiv;
        emit(lx, TOK_FP, nullptr, lx->negative ? -v : v);
        lx->state = conf_lexstate::idle;
        continue;
      }
    case conf_lexstate::identifier:
      if (is_letter(c) || is_digit(c)) {
        if (lx->len == 17) {
          fail(lx, "identifier too long");
          continue;
        }
        lx->text[lx->len++] = static_cast<char>(c);
        return;
      } else {
        lx->text[lx->len] = 0;
        int kw = conf_keyword(lx->text);
        if (kw)
          emit(lx, kw);
        else
          emit(lx, TOK_IDENT, lx->text);
        lx->state = conf_lexstate::idle;
        continue;
      }
    case conf_lexstate::string:
      if (c == '"') {
        lx->text[lx->len] = 0;
        emit(lx, TOK_STRING, lx->text);
        lx->state = conf_lexstate::idle;
        return;
      }
      if (c == '\\') {
        lx->state = conf_lexstate::escape;
        return;
      }
      if (c == -1) { // the input ends inside the string: the loader sees a busy lexer
        return;
      }
      if (c == 0) { // the text would end here for every reader of it
        fail(lx, "character doesn't start any token");
        continue;
      }
      if (lx->len == 257) {
        fail(lx, "string too long");
        continue;
      }
      lx->text[lx->len++] = static_cast<char>(c);
      return;
    case conf_lexstate::escape:
      if (c == '"' || c == '\\') {
        if (lx->len == 257) {
          fail(lx, "string too long");
          continue;
        }
        lx->text[lx->len++] = static_cast<char>(c);
        lx->state = conf_lexstate::string;
        return;
      }
      fail(lx, "unknown escape sequence");
      continue;
    }
    return;
  }
}
