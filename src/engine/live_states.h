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
// a set holds at most `max_states` states and an attempt at most `max_nodes`
// output nodes; past either the analysis fails with the live-state memory
// message rather than take the machine's memory.

#ifndef ETIQUEM_ENGINE_LIVE_STATES_H_
#define ETIQUEM_ENGINE_LIVE_STATES_H_

#include <cstdint>
#include <vector>

#include "engine/automaton.h"

namespace etiquem {

constexpr uint32_t kMaxOutputSymbols = 499;  // symbols an output keeps

// One symbol of an output, linked to the output it extends.
struct OutputNode {
  uint32_t parent;  // node of the output without this symbol
  int32_t symbol;   // the symbol appended
  uint32_t length;  // symbols in the output ending here (0 for the root)
};

struct LiveState {
  int32_t state;    // index of the automaton state reached
  uint32_t output;  // node of its output; 0 is the empty output
};
static_assert(sizeof(OutputNode) == 12 && sizeof(LiveState) == 8,
              "the step copies these by the million");

struct LiveStates {
  const Automaton* automaton = nullptr;
  std::vector<LiveState> states;        // the set, in order
  std::vector<LiveState> next;          // scratch for the next step
  std::vector<OutputNode> nodes;        // output arena; node 0 is the root
  size_t max_states = size_t(1) << 20;  // live states at once
  size_t max_nodes = size_t(1) << 22;   // output nodes per attempt
};

void InitLiveStates(LiveStates& v, const Automaton* t);

// The set becomes state 0 with an empty output; the arena is emptied.
void StartAtInitialState(LiveStates& v);

// Replaces every live state by its successors on `c` (and on c + 32 when c
// is upper case). Returns 1 when c is upper case and the set was not empty.
int StepLiveStates(LiveStates& v, int c);

// Adds the epsilon successors of every live state, transitively. Returns the
// size of the set.
int CloseOverEpsilons(LiveStates& v);

inline void ClearLiveStates(LiveStates& v) { v.states.clear(); }

// The output symbols of `node`, first to last, into `symbols` (room for
// kMaxOutputSymbols); returns how many.
int OutputSymbols(const LiveStates& v, uint32_t node, int32_t* symbols);

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_LIVE_STATES_H_
