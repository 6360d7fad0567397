// The input scanner: cuts the input into character tokens and whole
// superblank tokens ("<![CDATA[" up to the next "]]>").
//
// A hand-written matcher over a block buffer filled by read(2). Outside a
// superblank every byte is a token of its own, except that "<![CDATA[" opens
// a superblank; an opener begun but not finished falls back to a "<" token
// and the following bytes are scanned afresh. Inside, bytes gather until the
// first "]]>" (or the end of the input, which closes the block). A read
// returns whatever is available, so the scanner never waits for input beyond
// what it needs to decide the current token; just before every read it
// flushes the pending output, so what was written for the input consumed so
// far has left the program before it may block.

#ifndef ETIQUEM_INPUT_ESCANER_H_
#define ETIQUEM_INPUT_ESCANER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "output/sortida.h"

namespace etiquem {

// Token kinds returned by yylex.
constexpr int TOKEN_CARACTER = -11;
constexpr int TOKEN_SUPERBLANC = -10;
constexpr int TOKEN_FINAL = -1;

// Start conditions.
constexpr int INITIAL = 0;
constexpr int CDATA = 1;

struct Token {
  uint8_t caracter = 0;  // the byte of a character token; 0 otherwise
  std::string cadena;    // text of a superblank token (NUL bytes kept)
  bool te_cadena = false;  // whether `cadena` holds the last token's text
};

struct Escaner {
  int fd = 0;                        // input descriptor
  std::vector<char> buf;             // input block; [pos, fi) not yet scanned
  size_t pos = 0;
  size_t fi = 0;
  uint64_t inici_buf = 0;            // input bytes before buf[0]
  int64_t desplacament = -1;         // >= 0: read with pread(2) from this
                                     // file offset instead of read(2)
  // When set and true, the input ends at the next refill: a worker whose
  // stretch of the input was given up stops there.
  const std::atomic<bool>* abandona = nullptr;
  bool final = false;                // a read returned end of input
  int condicio = INITIAL;            // INITIAL or CDATA
  std::string lexbuffer;             // superblank being gathered
  Token token;                       // last token delivered
  Sortida* abans_de_llegir = nullptr;  // flushed before every read
  uint64_t lectures = 0;             // read(2) calls made, for measurements
};

// Prepares `e` to read from `fd` with blocks of `mida` bytes.
void IniciaEscaner(Escaner& e, int fd, size_t mida = 1 << 16);

// Prepares `e`, reusing its block, to read a regular file `fd` in blocks of
// 64 KiB with pread(2) from file offset `desplacament`, which is input
// offset `inici` (the input began at file offset desplacament - inici).
void IniciaEscanerA(Escaner& e, int fd, int64_t desplacament, uint64_t inici);

// Input offset of the next byte to scan.
inline uint64_t PosicioEntrada(const Escaner& e) { return e.inici_buf + e.pos; }

void reset_token(Escaner& e);

// The slow path of yylex: refills, openers and superblanks.
int yylexLent(Escaner& e);

// Delivers the next token: TOKEN_CARACTER, TOKEN_SUPERBLANC or TOKEN_FINAL
// (repeated on every call after the end). A read error ends the program with
// status 2.
inline int yylex(Escaner& e) {
  // Fast path: a plain byte already in the buffer.
  if (e.pos < e.fi && e.condicio == INITIAL && e.buf[e.pos] != '<') {
    if (e.token.te_cadena) reset_token(e);
    e.token.caracter = uint8_t(e.buf[e.pos++]);
    return TOKEN_CARACTER;
  }
  return yylexLent(e);
}

}  // namespace etiquem

#endif  // ETIQUEM_INPUT_ESCANER_H_
