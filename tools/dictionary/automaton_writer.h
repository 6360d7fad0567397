// The transducer as the dictionary compiler builds it, before it becomes an
// automaton file: states with an ordered list of moves and a set of end
// markers.
//
// Both sources (full-form lexicons and AT&T text) end up in this one record,
// so the file writer, the checks of what the matcher needs, the minimiser and
// the unknown-word guesser are written once. The order of a state's moves
// matters: the matcher follows the moves of a group in stored order, and the
// order of the readings of a word follows it.

#ifndef ETIQUEM_TOOLS_DICTIONARY_AUTOMATON_WRITER_H_
#define ETIQUEM_TOOLS_DICTIONARY_AUTOMATON_WRITER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace etiquem::dictionary {

// Input side of a move that consumes nothing.
constexpr int32_t kEpsilon = -1;

// End markers a state can hold, as bits of TransducerState::markers.
enum Marker : uint8_t {
  kAnalysisMarker = 1,  // complete analysis (kEndOfAnalysis)
  kPieceMarker = 2,     // piece of a compound reading (kEndOfPiece)
  kUnknownMarker = 4,   // unknown-word reading (kEndOfUnknown)
};

struct TransducerMove {
  int32_t input_symbol;  // input byte 0..255, or kEpsilon
  int32_t
      output_symbol;  // output: 0 nothing, 1..255 a byte, 258.. a define code
  int32_t target;     // destination state index
};

struct TransducerState {
  // Moves in matcher order: among the moves with the same `input_symbol`,
  // earlier ones are followed first. Moves with different `input_symbol` may
  // come in any order.
  std::vector<TransducerMove> moves;
  uint8_t markers = 0;  // Marker bits
};

struct Transducer {
  std::string alphabet;                   // word characters, Latin-1, any order
  std::vector<std::string> symbol_names;  // define i has code 258 + i
  std::vector<TransducerState> states;    // state 0 starts every word
};

// Checks what the matcher relies on: destinations in range, input bytes
// 0..255, defines for every output code, no epsilon move at state 0, no
// epsilon move writing the digit 0 (it would write nothing), no cycle of
// epsilon moves, at most 32767 - 258 + 1 defines. Returns false with `problem`.
bool Check(const Transducer& a, std::string& problem);

// Whether epsilon moves form a cycle; if so `state` is a state on it.
bool EpsilonCycle(const Transducer& a, int32_t& state);

// The bytes of the automaton file. Alphabet sorted and deduplicated; groups
// sorted by signed `input_symbol` (markers first, each with one dummy entry);
// all epsilon moves of a state in its one epsilon group.
std::string Serialise(const Transducer& a);

// Merges equivalent states (same markers and the same moves, in the same
// order, to equivalent states), drops states not reachable from `start` or
// from which no marker can be reached, and numbers the rest depth-first from
// `start`, which becomes state 0. Works on cyclic transducers too.
void Minimise(Transducer& a, int32_t start = 0);

// Adds the unknown-word guesser: one new state reached from state 0 by any
// character of `letters`, looping on them and holding an unknown-word marker.
// An upper-case letter whose lower-case partner (code + 32) is also in
// `letters` gets no move of its own: the matcher already lets it follow the
// lower-case move, and a second move would double the live paths at every
// upper-case letter.
void AddUnknownWordGuesser(Transducer& a, const std::string& letters);

// The letters of `alphabet`, for a guesser.
std::string LettersOf(const std::string& alphabet);

// Default alphabet: the letters and digits among the input bytes of the
// transducer's consuming moves, plus apostrophe, hyphen and middle dot.
std::string DefaultAlphabet(const Transducer& a);

}  // namespace etiquem::dictionary

#endif  // ETIQUEM_TOOLS_DICTIONARY_AUTOMATON_WRITER_H_
