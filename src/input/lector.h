// The character ring and reader: hands the analysis loop one character at a
// time, fresh from the scanner or re-read from the ring of the last 256
// input positions.
//
// Positions are numbered 1 to 256 (position p is entry p-1; after 256 comes
// 1), and every character is reported with its entry index, 0 to 255. Each
// position keeps what kind of thing it holds apart from its byte, so input
// bytes 0, 1 and 255 are ordinary characters, a superblank is told apart by
// its kind, and re-reading the end-of-input position gives end of input
// again. Superblanks wait in input order, each with its marker position,
// until the emission writes them right after the stretch that covers their
// marker.
//
// Positions are small plain records, so the whole ring stays in the first
// level of the cache.

#ifndef ETIQUEM_INPUT_LECTOR_H_
#define ETIQUEM_INPUT_LECTOR_H_

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "input/escaner.h"
#include "output/sortida.h"

namespace etiquem {

// What a ring position holds.
enum TipusPos : uint8_t {
  BUIDA = 0,       // nothing stored since the write position last reached it
  CARACTER = 1,    // an input byte, in `car`
  SUPERBLANC = 2,  // the marker of a superblank
  FINAL = 3,       // the end of the input
};

// DameCaracter's code for a superblank marker (input bytes are 0 to 255).
constexpr int CODI_SUPERBLANC = 256;
constexpr int FI_ENTRADA = -1;

// A reading recorded at a position. It names what was accepted rather than
// holding the text: the accepting outputs are entries [primer, primer +
// nombre) of the attempt's acceptance list (see matching/accepta.h), and the
// surface form is the first `llarg_forma` characters of the attempt. Texts
// are rendered only for the record that is written, and records are plain
// values, so recording allocates nothing.
struct RegTraduc {
  bool hi_es = false;      // whether the record is present
  uint8_t a = 0;           // case flag of the attempt's first character
  uint8_t b = 0;           // case flag of the latest character
  uint8_t opcio = 0;       // -a for an analysis, -m for an unknown word
  uint16_t llarg_forma = 0;  // bytes of the surface form
  uint32_t primer = 0;     // first acceptance entry of the reading
  uint32_t nombre = 0;     // acceptance entries of the reading
};

struct PosBuffer {
  uint8_t car = 0;      // the input byte (for CARACTER)
  uint8_t tipus = BUIDA;
  int32_t estat = 0;    // 0 nothing, 1 complete analysis, 2 pieces/unknown
  uint64_t ordre = 0;   // number in the input of the position's first byte,
                        // from 1 (strictly increasing along the input)
  RegTraduc anal;       // the analysis recorded here
  RegTraduc desc;       // the unknown-word reading recorded here
};

// A superblank waiting to be written.
struct Superblanc {
  std::string text;    // its complete text, opener and closer included
  uint64_t ordre = 0;  // `ordre` of its marker
};

struct Lector {
  PosBuffer buffer[256];
  int indice = 1;  // write position: where the next fresh character goes
  int acceso = 1;  // re-read position (meaningful while leer is 0)
  int leer = 1;    // 1: next character from the scanner; 0: from the ring
  std::deque<Superblanc> superblancs;  // waiting, in input order
  Escaner* escaner = nullptr;
};

inline int Seguent(int p) { return (p & 255) + 1; }  // p in 1..256

// Empties every position and the superblank queue; reads from `e`.
void IniciaLector(Lector& l, Escaner* e);

// Takes a token from the scanner and stores it at the write position; the
// slow path of DameCaracter, for when the ring holds nothing to re-read.
int DameCaracterFresc(Lector& l, int& k);

// Stores plain input byte `c`, number `ordre` of the input, at the write
// position as a fresh character is stored, but leaves the position after it
// as it is: for a run of bytes stored one after the other, only the position
// after the last must be emptied (NetejaSeguent). Everything is loaded
// before the first store, since byte stores may alias any field and would
// force reloads.
inline int GuardaEnTira(Lector& l, uint8_t c, uint64_t ordre) {
  const int i = l.indice;
  PosBuffer& p = l.buffer[i - 1];
  l.indice = Seguent(i);
  l.leer = 1;
  p.tipus = CARACTER;
  p.car = c;
  p.estat = 0;
  p.anal.hi_es = false;
  p.desc.hi_es = false;
  p.ordre = ordre;
  return i - 1;
}

// Empties the write position, which stops a re-read there.
inline void NetejaSeguent(Lector& l) {
  PosBuffer& despres = l.buffer[l.indice - 1];
  despres.tipus = BUIDA;
  despres.car = 0;
  despres.estat = 0;
  despres.anal.hi_es = false;
  despres.desc.hi_es = false;
}

// Stores plain input byte `c`, number `ordre` of the input, just taken from
// the scanner's buffer, at the write position, as a fresh character is
// stored, and returns its entry index.
inline int GuardaFresc(Lector& l, uint8_t c, uint64_t ordre) {
  const int k = GuardaEnTira(l, c, ordre);
  NetejaSeguent(l);
  return k;
}

// Next character: 0..255, CODI_SUPERBLANC or FI_ENTRADA; `k` gets its entry
// index. Inline, with the two common cases first: a character re-read from
// the ring, and a plain byte already in the scanner's buffer.
inline int DameCaracter(Lector& l, int& k) {
  if (l.leer == 0) {
    const PosBuffer& p = l.buffer[l.acceso - 1];
    if (p.tipus != BUIDA) {
      k = l.acceso - 1;
      l.acceso = Seguent(l.acceso);
      return p.tipus == CARACTER     ? p.car
             : p.tipus == SUPERBLANC ? CODI_SUPERBLANC
                                     : FI_ENTRADA;
    }
  }
  // A plain byte: what yylex would deliver, stored as Fresc would store it.
  // The scanner's token is left alone: nothing reads it after the reader
  // has taken its byte.
  Escaner& e = *l.escaner;
  const size_t pos = e.pos;
  if (pos < e.fi && e.condicio == INITIAL) {
    const uint8_t c = uint8_t(e.buf[pos]);
    if (c != '<') {
      e.pos = pos + 1;
      k = GuardaFresc(l, c, e.inici_buf + pos + 1);
      return c;
    }
  }
  return DameCaracterFresc(l, k);
}

// As DameCaracter, with a superblank delivered as a blank (32).
inline int LeerCaracter(Lector& l, int& k) {
  int c = DameCaracter(l, k);
  return c == CODI_SUPERBLANC ? 32 : c;
}

inline int ObtenerCaracter(Lector& l, int& k) { return LeerCaracter(l, k); }

// Writes the oldest waiting superblank unchanged and drops it; flushes at
// once when its text holds "<![CDATA[.]]>".
void EmiteSuper(Lector& l, Sortida& s);

}  // namespace etiquem

#endif  // ETIQUEM_INPUT_LECTOR_H_
