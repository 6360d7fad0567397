// The live-state set: one entry for every path through the transducer that
// consumes the characters of the current attempt, with the output symbols
// gathered along it.
//
// A live state is a (state, output) pair. Outputs are nodes of a prefix tree
// (parent, symbol, length) kept in an arena that is emptied at the start of
// every attempt: a move appends one node instead of copying a whole string,
// and paths that share a prefix share its nodes. The set is two vectors
// reused from step to step, so a step allocates nothing once they have grown.
// Paths are never merged, and the order of the set is the order in which
// readings are later written, so every step keeps it exactly: successors of
// each live state in list order, those on c before those on c + 32, each
// group in move order; the epsilon closure appends to the list it walks.
//
// Bounds: an output keeps at most 499 symbols (further symbols are dropped);
// a set holds at most `max_vius` states and an attempt at most `max_nodes`
// output nodes; past either the program ends with the live-state memory
// message rather than take the machine's memory.

#ifndef ETIQUEM_MATCHING_VIUS_H_
#define ETIQUEM_MATCHING_VIUS_H_

#include <cstdint>
#include <vector>

#include "automaton/automat.h"
#include "output/sortida.h"

namespace etiquem {

constexpr uint32_t kMaxSimbols = 499;  // symbols an output keeps

// One symbol of an output, linked to the output it extends.
struct NodeSortida {
  uint32_t pare;     // node of the output without this symbol
  int32_t simbol;    // the symbol appended
  uint32_t longitud; // symbols in the output ending here (0 for the root)
};

struct EstViu {
  int32_t estat;    // index of the automaton state reached
  uint32_t traduc;  // node of its output; 0 is the empty output
};

struct Vius {
  const Transductor* t = nullptr;
  std::vector<EstViu> vius;   // the set, in order
  std::vector<EstViu> nous;   // scratch for the next step
  std::vector<NodeSortida> nodes;  // output arena; node 0 is the root
  size_t max_vius = size_t(1) << 20;   // live states at once
  size_t max_nodes = size_t(1) << 22;  // output nodes per attempt
  // Flushed before a fatal exit, so output already produced is not lost.
  Sortida* sortida = nullptr;
  Sortida* desconegudes = nullptr;
};

void IniciaVius(Vius& v, const Transductor* t);

// The set becomes state 0 with an empty output; the arena is emptied.
void Inicialitzacio(Vius& v);

// Replaces every live state by its successors on `c` (and on c + 32 when c
// is upper case). Returns 1 when c is upper case and the set was not empty.
int ComprobarEstatsVius(Vius& v, int c);

// Adds the epsilon successors of every live state, transitively. Returns the
// size of the set.
int ComprobarEstatsNous(Vius& v);

inline void LliurarVius(Vius& v) { v.vius.clear(); }

// The output symbols of `node`, first to last, into `simbols` (room for
// kMaxSimbols); returns how many.
int Simbols(const Vius& v, uint32_t node, int32_t* simbols);

}  // namespace etiquem

#endif  // ETIQUEM_MATCHING_VIUS_H_
