// The transducer as the dictionary compiler builds it, before it becomes an
// automaton file: states with an ordered list of moves and a set of end
// markers.
//
// Both sources (full-form lexicons and AT&T text) end up in this one record,
// so the file writer, the checks of what the matcher needs, the minimiser and
// the unknown-word guesser are written once. The order of a state's moves
// matters: the matcher follows the moves of a group in stored order, and the
// order of the readings of a word follows it.

#ifndef ETIQUEM_TOOLS_DIC_AUTOMAT_DIC_H_
#define ETIQUEM_TOOLS_DIC_AUTOMAT_DIC_H_

#include <cstdint>
#include <string>
#include <vector>

namespace etiquem::dic {

// Input side of a move that consumes nothing.
constexpr int32_t kEpsilon = -1;

// End markers a state can hold, as bits of EstatDic::marques.
enum Marca : uint8_t {
  kMarcaTraduc = 1,   // complete analysis (FIN_TRADUC)
  kMarcaParcial = 2,  // piece of a compound reading (FIN_PARCIAL)
  kMarcaDescon = 4,   // unknown-word reading (FIN_DESCON)
};

struct MovimentDic {
  int32_t lo;   // input byte 0..255, or kEpsilon
  int32_t lm;   // output: 0 nothing, 1..255 a byte, 258.. a define code
  int32_t des;  // destination state index
};

struct EstatDic {
  // Moves in matcher order: among the moves with the same `lo`, earlier ones
  // are followed first. Moves with different `lo` may come in any order.
  std::vector<MovimentDic> moviments;
  uint8_t marques = 0;  // Marca bits
};

struct AutomatDic {
  std::string alfabet;               // word characters, Latin-1, any order
  std::vector<std::string> defines;  // define i has code 258 + i
  std::vector<EstatDic> estats;      // state 0 starts every word
};

// Checks what the matcher relies on: destinations in range, input bytes
// 0..255, defines for every output code, no epsilon move at state 0, no
// epsilon move writing the digit 0 (it would write nothing), no cycle of
// epsilon moves, at most 32767 - 258 + 1 defines. Returns false with `que`.
bool Comprova(const AutomatDic& a, std::string& que);

// Whether epsilon moves form a cycle; if so `estat` is a state on it.
bool CicleEpsilon(const AutomatDic& a, int32_t& estat);

// The bytes of the automaton file. Alphabet sorted and deduplicated; groups
// sorted by signed `lo` (markers first, each with one dummy entry); all
// epsilon moves of a state in its one epsilon group.
std::string Serialitza(const AutomatDic& a);

// Merges equivalent states (same markers and the same moves, in the same
// order, to equivalent states), drops states not reachable from `inici` or
// from which no marker can be reached, and numbers the rest depth-first from
// `inici`, which becomes state 0. Works on cyclic transducers too.
void Minimitza(AutomatDic& a, int32_t inici = 0);

// Adds the unknown-word guesser: one new state reached from state 0 by any
// character of `lletres`, looping on them and holding an unknown-word marker.
// An upper-case letter whose lower-case partner (code + 32) is also in
// `lletres` gets no move of its own: the matcher already lets it follow the
// lower-case move, and a second move would double the live paths at every
// upper-case letter.
void AfegeixEndevinador(AutomatDic& a, const std::string& lletres);

// The letters of `alfabet`, for a guesser.
std::string LletresDe(const std::string& alfabet);

// Default alphabet: the letters and digits among the input bytes of the
// transducer's consuming moves, plus apostrophe, hyphen and middle dot.
std::string AlfabetPerDefecte(const AutomatDic& a);

}  // namespace etiquem::dic

#endif  // ETIQUEM_TOOLS_DIC_AUTOMAT_DIC_H_
