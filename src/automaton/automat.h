// The letter transducer in memory: states, their move groups, the symbol
// table of multi-character symbols and the alphabet, plus the Latin-1 case
// functions the matcher shares.
//
// The model is one plain record (`Transductor`) so that tests can load as
// many as they like. All groups of all states live in one flat vector, and all
// moves in another; a state points into them. The loader reads the whole file
// into memory and parses it twice: the first pass checks the layout and
// counts, the second fills vectors that were sized exactly, so pointers into
// them stay valid for the life of the record.

#ifndef ETIQUEM_AUTOMATON_AUTOMAT_H_
#define ETIQUEM_AUTOMATON_AUTOMAT_H_

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace etiquem {

// Input-side markers that end an analysis path when they stand as `lo` of a
// group in a state's transition list.
constexpr int FIN_TRADUC = -10000;   // complete analysis
constexpr int FIN_PARCIAL = -20000;  // piece of a compound reading
constexpr int FIN_DESCON = -30000;   // unknown-word reading

// Symbols of 258 and above name multi-character symbols; below, characters.
constexpr int PRIMER_DEFINE = 258;

// One move of a group.
struct Strans {
  int16_t lm;   // output-side symbol written when the move is taken
  int32_t des;  // index of the destination state (unchecked until followed)
};

// All moves of one state on one input-side symbol.
struct Trans {
  int16_t lo;            // input-side symbol or end marker
  const Strans* strans;  // the moves, in file order
  int32_t nstrans;       // number of moves
};

// One state.
struct Nodo {
  int32_t estado;      // state number stored in the file; never consulted
  const Trans* trans;  // transition list, file order; null when empty
  const Trans* eps;    // epsilon list; null when absent or empty
  int32_t neps;        // groups in `eps`
  int32_t ntrans;      // groups in `trans`
  // Marker groups of `trans`, in list order, so that acceptance need not scan
  // every group of every live state: `nmarques` kinds starting at
  // Transductor::marques[marques].
  uint32_t marques;
  int32_t nmarques;
  // The `lo` of each group of `trans`, packed, so the search for a group
  // reads one or two cache lines instead of the groups themselves.
  const int16_t* claus;
  // For states with many groups (the start state of a dictionary has one per
  // initial letter): the group of each byte 0..255, or -1; null otherwise.
  // Filled with the same search, so it answers as the search would.
  const int32_t* taula;
  // Whether `claus` is strictly ascending and short enough (at most
  // kGrupsEscombrats) to be compared all at once; see GrupDe.
  bool escombra;
};

// One multi-character symbol.
struct Def {
  std::string nom;  // name, up to its first zero byte
  int32_t codi;     // symbol code
};

struct Transductor {
  std::vector<Nodo> automat;     // states by index; state 0 starts every word
  std::string alfabeto;          // word characters, ascending unsigned
  int32_t longalf = 0;           // bytes in `alfabeto`
  std::vector<Def> defines;      // multi-character symbols, file order
  int32_t cdef = 0;              // entries in `defines`
  int32_t nestats = 0;           // number of states, for the destination test
  bool destins_valids = false;   // every move's destination is a state, so
                                 // the matcher need not test each one

  // Storage behind the pointers of `automat`.
  std::vector<Trans> grups;
  std::vector<Strans> moviments;
  std::vector<int16_t> marques;  // marker `lo` values, see Nodo::marques
  std::vector<int16_t> claus;    // `lo` of every group of `grups`, same index
  std::vector<int32_t> taules;   // 256 entries per state with a table
  // Index into `defines` of the first define of each code 0..32767, or -1.
  // Output symbols are 16-bit, so larger codes are never looked up.
  std::vector<int32_t> nom_de_codi;
  // Character membership, one entry per byte: 1 when in `alfabeto`.
  uint8_t es_lletra[256] = {};
};

// Resets a model to "no automaton loaded".
void Inicio(Transductor& t);

// Loads the automaton file at `fitxer` into `t`. On failure returns false and
// sets `error` to a one-line message (with its line end) and `estat_sortida`
// to the exit status the program must end with.
bool Genauto(Transductor& t, const char* fitxer, std::string& error,
             int& estat_sortida);

// The same from bytes already in memory; `nom` names the file in messages.
bool GenautoDeMemoria(Transductor& t, const char* nom, const uint8_t* dades,
                      size_t mida, std::string& error);

// The halving search of every lookup in the model: the index in 0..n-1 whose
// key `clau(i)` equals `simbol`, or -1. Of two middle entries the upper one
// is probed, so lists with repeated or unsorted keys answer the same way
// whatever they are stored in.
template <typename Clau>
inline int Meitats(const Clau& clau, int32_t simbol, int32_t n) {
  int32_t baix = 0;
  int32_t alt = n - 1;
  while (baix <= alt) {
    const int32_t mig = baix + (alt - baix + 1) / 2;
    const int32_t lo = clau(mig);
    if (lo == simbol) return mig;
    if (lo < simbol)
      baix = mig + 1;
    else
      alt = mig - 1;
  }
  return -1;
}

// Index of the group of `grups` (count `n`) whose `lo` equals `simbol`; -1 if
// none.
inline int BuscBin(const Trans* grups, int32_t simbol, int32_t n) {
  return Meitats([grups](int32_t i) { return int32_t(grups[i].lo); }, simbol,
                 n);
}

// The same search over a state's packed keys: the same probes, the same
// answer.
inline int BuscClau(const int16_t* claus, int32_t simbol, int32_t n) {
  return Meitats([claus](int32_t i) { return int32_t(claus[i]); }, simbol, n);
}

// States with at least this many transition groups get a direct table.
// Measured on a 54,755-state dictionary: only the start state (68 groups)
// qualifies, and it is searched at the start of every attempt.
constexpr int32_t kGrupsAmbTaula = 24;

// States with strictly ascending keys and at most this many groups are
// searched by comparing all their keys at once (the key vector is padded so
// the comparison never reads past it). With strictly ascending keys at most
// one key is equal, the one the halving search finds. Measured on a
// 54,755-state dictionary: 96 % of states qualify, and the halving search's
// unpredictable branches were a tenth of all mispredicted branches.
constexpr int32_t kGrupsEscombrats = 16;

// The group of state `n` for input character `c` (0 to 287: a byte, or an
// upper-case letter's code + 32), as BuscBin finds it; -1 if none.
inline int GrupDe(const Nodo& n, int32_t c) {
  if (n.escombra) {
    uint32_t iguals = 0;
#if defined(__SSE2__)
    // Sixteen 16-bit compares in two instructions, one bit per key.
    const __m128i cc = _mm_set1_epi16(int16_t(c));
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(n.claus));
    const __m128i b =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(n.claus + 8));
    iguals = uint32_t(_mm_movemask_epi8(
        _mm_packs_epi16(_mm_cmpeq_epi16(a, cc), _mm_cmpeq_epi16(b, cc))));
#else
    for (int i = 0; i < kGrupsEscombrats; ++i)
      iguals |= uint32_t(n.claus[i] == c) << i;
#endif
    iguals &= (uint32_t(1) << n.ntrans) - 1;
    return iguals != 0 ? std::countr_zero(iguals) : -1;
  }
  if (n.taula != nullptr) return c < 256 ? n.taula[c] : -1;
  return BuscClau(n.claus, c, n.ntrans);
}

// Name of the first define with code `codi`, or null.
const std::string* CorrespDef(const Transductor& t, int32_t codi);

// 0 when `c` is an alphabet byte, 1 otherwise (also for -1 and out of range).
inline int Noalfa(const Transductor& t, int32_t c) {
  if (c < 0 || c > 255) return 1;
  return t.es_lletra[c] ? 0 : 1;
}

// 1 for the Latin-1 upper-case letters the matcher folds, else 0.
inline int Mayus(int32_t c) {
  return (c >= 65 && c <= 90) || (c >= 192 && c <= 197) ||
                 (c >= 199 && c <= 207) || (c >= 209 && c <= 214) ||
                 (c >= 217 && c <= 220)
             ? 1
             : 0;
}

// Upper-case form of the low byte of `c` used for symbol names: a-z and
// thirteen accented letters; every other byte unchanged.
int mayusculas(int32_t c);

}  // namespace etiquem

#endif  // ETIQUEM_AUTOMATON_AUTOMAT_H_
