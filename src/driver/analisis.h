// The analysis loop: the one loop that turns the input into annotated
// output. It pulls characters from the reader, walks all paths of the
// transducer in parallel over the current attempt, records what they accept
// at each position, and when no path goes on writes the longest accepted
// stretch and starts the next attempt right after it, re-reading from the
// ring what it had already taken from the input.
//
// Attempts whose characters were seen before are answered from a memory of
// finished attempts (driver/memoria.h): while the characters follow a stored
// path nothing is stepped; at the first character off the stored paths the
// attempt is stepped from its start, and its outcome is stored when it ends.

#ifndef ETIQUEM_DRIVER_ANALISIS_H_
#define ETIQUEM_DRIVER_ANALISIS_H_

#include <string>

#include "automaton/automat.h"
#include "driver/memoria.h"
#include "input/lector.h"
#include "matching/accepta.h"
#include "matching/vius.h"
#include "output/sortida.h"

namespace etiquem {

struct Treball;  // driver/trams.h

// Characters an attempt may step; an attempt still alive after that many
// ends there, so the attempt, the position before it and the empty position
// after it always fit in the ring.
constexpr int kMaxPassos = 254;

struct Analisi {
  const Transductor* t = nullptr;
  Lector* l = nullptr;
  Sortida* sortida = nullptr;       // standard output
  Sortida* desconegudes = nullptr;  // unknown-words file, or null
  Vius v;
  Acceptacio ac;
  int prim = 1;   // 1: the next character starts an attempt
  int ban = 0;    // upper-case flag of the attempt's first character
  int ban1 = 0;   // upper-case flag of its latest character
  char superficie[kMaxPassos + 2];  // the attempt's characters
  int n = 0;      // characters in `superficie`
  int inici = 0;  // entry index of the attempt's first character
  // Options of the run: -s, -d, -a, -m.
  int opcio_s = 0, opcio_d = 0, opcio_a = 0, opcio_m = 0;
  MemoriaIntents memoria;
  bool amb_memoria = true;    // answer repeated attempts from the memory
  bool de_memoria = false;    // the attempt so far follows a stored path
  uint32_t node_memoria = 0;  // its node in the memory
  std::string contingut;      // bytes of the position being written
  // Set when this analysis runs one stretch of a file beside others
  // (driver/trams.h): after an attempt whose stretch ends at a position of
  // `ordre` `vigila` or later, the driver is told where the next attempt
  // starts (CompteTall), and it may set `atura` to end the run there.
  Treball* treball = nullptr;
  uint64_t vigila = UINT64_MAX;
  bool atura = false;
};

// Where the next attempt of `an` starts, told to the driver after the
// attempt that ended at position `p`. `x` is its input offset. `net` says
// whether the analysis from there on depends on the input from `x` alone:
// no superblank waits, and what was read after `x` is plain characters
// (the scanner is then outside a superblank as well).
struct Tall {
  uint64_t x = 0;
  bool net = false;
};
Tall TallDespres(const Analisi& an, int p);

// Wires an analysis to its model, reader and outputs.
void IniciaAnalisi(Analisi& an, const Transductor* t, Lector* l,
                   Sortida* sortida, Sortida* desconegudes);

// Runs over the whole input. Options: -s, -d, -a, -m (each 0 or 1).
void Analisis(Analisi& an, int superficie, int desc, int apostrof, int marca);

}  // namespace etiquem

#endif  // ETIQUEM_DRIVER_ANALISIS_H_
