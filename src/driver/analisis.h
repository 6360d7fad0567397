// The analysis loop: the one loop that turns the input into annotated
// output. It pulls characters from the reader, walks all paths of the
// transducer in parallel over the current attempt, records what they accept
// at each position, and when no path goes on writes the longest accepted
// stretch and starts the next attempt right after it, re-reading from the
// ring what it had already taken from the input.

#ifndef ETIQUEM_DRIVER_ANALISIS_H_
#define ETIQUEM_DRIVER_ANALISIS_H_

#include "automaton/automat.h"
#include "input/lector.h"
#include "matching/accepta.h"
#include "matching/vius.h"
#include "output/sortida.h"

namespace etiquem {

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
};

// Wires an analysis to its model, reader and outputs.
void IniciaAnalisi(Analisi& an, const Transductor* t, Lector* l,
                   Sortida* sortida, Sortida* desconegudes);

// Runs over the whole input. Options: -s, -d, -a, -m (each 0 or 1).
void Analisis(Analisi& an, int superficie, int desc, int apostrof, int marca);

}  // namespace etiquem

#endif  // ETIQUEM_DRIVER_ANALISIS_H_
