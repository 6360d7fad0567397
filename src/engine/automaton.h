// The letter transducer in memory: states, their move groups, the symbol
// table of multi-character symbols and the alphabet, plus the Latin-1 case
// functions the matcher shares.
//
// The model is one plain record (`Automaton`) so that tests can load as
// many as they like. All groups of all states live in one flat vector, and all
// moves in another; a state points into them. The loader parses the file in
// one pass as it reads it, growing the vectors record by record, and sets
// the pointers once they are complete, so pointers stay valid for the life
// of the record. The file format is doc/automaton-format.md.

#ifndef ETIQUEM_ENGINE_AUTOMATON_H_
#define ETIQUEM_ENGINE_AUTOMATON_H_

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace etiquem {

// Input-side markers that end an analysis path when they stand as
// `input_symbol` of a group in a state's transition list.
constexpr int kEndOfAnalysis = -10000;  // complete analysis
constexpr int kEndOfPiece = -20000;     // piece of a compound reading
constexpr int kEndOfUnknown = -30000;   // unknown-word reading

// Symbols of 258 and above name multi-character symbols; below, characters.
constexpr int kFirstNamedSymbol = 258;

// One move of a group.
struct Move {
  int16_t output_symbol;  // output-side symbol written when the move is taken
  int32_t target;  // index of the destination state (unchecked until followed)
};
static_assert(sizeof(Move) == 8, "moves are read in sequence by the step");

// All moves of one state on one input-side symbol. The pointer comes first
// so that the record takes 16 bytes: a dictionary has a few hundred
// thousand groups, and every page of them costs the loader a page fault.
struct MoveGroup {
  const Move* moves;     // the moves, in file order
  int32_t move_count;    // number of moves
  int16_t input_symbol;  // input-side symbol or end marker
};
static_assert(sizeof(MoveGroup) == sizeof(void*) + 8,
              "groups are packed for the loader");

// One state. Pointers first, then the 32-bit fields, so that the record
// takes 56 bytes rather than 64 (the loader writes one per state).
struct State {
  const MoveGroup* groups;  // transition list, file order; null when empty
  const MoveGroup* epsilon_groups;  // epsilon list; null when absent or empty
  // The `input_symbol` of each group of `groups`, packed, so the search for a
  // group reads one or two cache lines instead of the groups themselves.
  const int16_t* keys;
  // For states with many groups (the start state of a dictionary has one per
  // initial letter): the group of each byte 0..255, or -1; null otherwise.
  // Filled with the same search, so it answers as the search would.
  const int32_t* table;
  int32_t file_number;  // state number stored in the file; never consulted
  int32_t epsilon_group_count;  // groups in `epsilon_groups`
  int32_t group_count;          // groups in `groups`
  // Marker groups of `groups`, in list order, so that acceptance need not scan
  // every group of every live state: `marker_count` kinds starting at
  // Automaton::markers[first_marker].
  uint32_t first_marker;
  int32_t marker_count;
  // Whether `keys` is strictly ascending and short enough (at most
  // kMaxScannedGroups) to be compared all at once; see GroupFor.
  bool keys_scannable;
};
static_assert(sizeof(State) == 4 * sizeof(void*) + 24,
              "states are packed for the loader");

// One multi-character symbol.
struct SymbolName {
  std::string name;  // name, up to its first zero byte
  int32_t code;      // symbol code
};

// The allocator of the automaton's large record arrays. Loading writes them
// once, in order, and with 4 KiB pages each page is a fault of its own: in
// this project's 2-core guest a fault costs about 4 us, so the faults were
// half of the load of a 4 MB dictionary (3,300 faults, 13 ms of system
// time). Arrays of kHugeRecordBytes or more are aligned to 2 MiB and
// advised to the kernel for huge pages (the advice changes no byte and may
// be refused); smaller ones are allocated as std::allocator would.
inline constexpr size_t kHugePageBytes = size_t(2) << 20;
inline constexpr size_t kHugeRecordBytes = size_t(4) << 20;
void* AllocateRecords(size_t bytes);
void FreeRecords(void* records, size_t bytes);

template <typename T>
struct RecordAllocator {
  using value_type = T;
  RecordAllocator() = default;
  template <typename U>
  RecordAllocator(const RecordAllocator<U>&) {}
  T* allocate(size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(AllocateRecords(n * sizeof(T)));
  }
  void deallocate(T* p, size_t n) { FreeRecords(p, n * sizeof(T)); }
  template <typename U>
  bool operator==(const RecordAllocator<U>&) const { return true; }
};

template <typename T>
using Records = std::vector<T, RecordAllocator<T>>;

struct Automaton {
  Records<State> states;    // states by index; state 0 starts every word
  std::string alphabet;         // word characters, ascending unsigned
  int32_t alphabet_length = 0;  // bytes in `alphabet`
  std::vector<SymbolName> symbol_names;  // multi-character symbols, file order
  int32_t symbol_name_count = 0;         // entries in `symbol_names`
  int32_t state_count = 0;     // number of states, for the destination test
  // The symbol table names kWholeWordsSymbol: unknown-word readings compete
  // with analyses on length (engine/emission.h).
  bool whole_words = false;
  bool targets_valid = false;  // every move's destination is a state, so
                               // the matcher need not test each one

  // Storage behind the pointers of `states`.
  Records<MoveGroup> groups;
  Records<Move> moves;
  std::vector<int16_t>
      markers;  // marker `input_symbol` values, see State::first_marker
  Records<int16_t>
      group_keys;  // `input_symbol` of every group of `groups`, same index
  std::vector<int32_t> group_tables;  // 256 entries per state with a table
  // Index into `symbol_names` of the first define of each code 0..32767, or -1.
  // Output symbols are 16-bit, so larger codes are never looked up.
  std::vector<int32_t> symbol_name_index;
  // Character membership, one entry per byte: 1 when in `alphabet`.
  uint8_t is_letter[256] = {};

  // For the deterministic walk (engine/lazy_dfa.h), derived at load:
  // bytes that every state treats alike share a class (0 to
  // byte_class_count - 1), so a walk state keeps one transition per class
  // rather than per byte.
  uint8_t byte_class[256] = {};
  int32_t byte_class_count = 0;
  int32_t max_marker_count = 0;  // marker groups of the state with most
};

// A symbol name that no move writes, by which a dictionary asks for unknown
// words to be read whole (see doc/automaton-format.md).
constexpr char kWholeWordsSymbol[] = "@whole-words";

// Resets a model to "no automaton loaded".
void ResetAutomaton(Automaton& t);

// Loads the automaton file at `path` into `t`. On failure returns false and
// sets `error` to a one-line message (with its line end) and `exit_status`
// to the exit status the program must end with. The file is read as it is
// parsed and refused at its first wrong byte, so a device or a pipe that
// never ends costs no more than what it delivered before going wrong.
bool LoadAutomatonFile(Automaton& t, const char* path, std::string& error,
                       int& exit_status);

// The same from bytes already in memory; `name` names the file in messages.
bool LoadAutomatonFromBytes(Automaton& t, const char* name, const uint8_t* data,
                            size_t size, std::string& error);

// The halving search of every lookup in the model: the index in 0..n-1 whose
// key `key(i)` equals `symbol`, or -1. Of two middle entries the upper one
// is probed, so lists with repeated or unsorted keys answer the same way
// whatever they are stored in.
template <typename Key>
inline int HalvingSearch(const Key& key, int32_t symbol, int32_t n) {
  int32_t low = 0;
  int32_t high = n - 1;
  while (low <= high) {
    const int32_t middle = low + (high - low + 1) / 2;
    const int32_t input_symbol = key(middle);
    if (input_symbol == symbol) return middle;
    if (input_symbol < symbol)
      low = middle + 1;
    else
      high = middle - 1;
  }
  return -1;
}

// Index of the group of `groups` (count `n`) whose `input_symbol` equals
// `symbol`; -1 if none.
inline int FindGroup(const MoveGroup* groups, int32_t symbol, int32_t n) {
  return HalvingSearch(
      [groups](int32_t i) { return int32_t(groups[i].input_symbol); }, symbol,
      n);
}

// The same search over a state's packed keys: the same probes, the same
// answer.
inline int FindKey(const int16_t* keys, int32_t symbol, int32_t n) {
  return HalvingSearch([keys](int32_t i) { return int32_t(keys[i]); }, symbol,
                       n);
}

// States with at least this many transition groups get a direct table.
// Measured on a 54,755-state dictionary: only the start state (68 groups)
// qualifies, and it is searched at the start of every attempt.
constexpr int32_t kMinGroupsForTable = 24;

// States with strictly ascending keys and at most this many groups are
// searched by comparing all their keys at once (the key vector is padded so
// the comparison never reads past it). With strictly ascending keys at most
// one key is equal, the one the halving search finds. Measured on a
// 54,755-state dictionary: 96 % of states qualify, and the halving search's
// unpredictable branches were a tenth of all mispredicted branches.
constexpr int32_t kMaxScannedGroups = 16;

// The group of state `n` for input character `c` (0 to 287: a byte, or an
// upper-case letter's code + 32), as FindGroup finds it; -1 if none.
inline int GroupFor(const State& n, int32_t c) {
  if (n.keys_scannable) {
    uint32_t equal_mask = 0;
#if defined(__SSE2__)
    // Sixteen 16-bit compares in two instructions, one bit per key.
    const __m128i cc = _mm_set1_epi16(int16_t(c));
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(n.keys));
    const __m128i b =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(n.keys + 8));
    equal_mask = uint32_t(_mm_movemask_epi8(
        _mm_packs_epi16(_mm_cmpeq_epi16(a, cc), _mm_cmpeq_epi16(b, cc))));
#else
    for (int i = 0; i < kMaxScannedGroups; ++i)
      equal_mask |= uint32_t(n.keys[i] == c) << i;
#endif
    equal_mask &= (uint32_t(1) << n.group_count) - 1;
    return equal_mask != 0 ? std::countr_zero(equal_mask) : -1;
  }
  if (n.table != nullptr) return c < 256 ? n.table[c] : -1;
  return FindKey(n.keys, c, n.group_count);
}

// Name of the first define with code `code`, or null.
const std::string* NameOfSymbol(const Automaton& t, int32_t code);

// when `c` is an alphabet byte (otherwise also for -1 and out of range).
inline bool IsLetter(const Automaton& t, int32_t c) {
  if (c < 0 || c > 255) return false;
  return t.is_letter[c] != 0;
}

// The Latin-1 upper-case letters the matcher folds, by byte: a table, as
// the test runs on every character stepped with outputs and every
// transition built (five ranges compared cost ten instructions).
constexpr auto kFoldedUpper = [] {
  std::array<bool, 256> upper{};
  for (int c = 0; c < 256; ++c)
    upper[size_t(c)] = (c >= 65 && c <= 90) || (c >= 192 && c <= 197) ||
                       (c >= 199 && c <= 207) || (c >= 209 && c <= 214) ||
                       (c >= 217 && c <= 220);
  return upper;
}();

// Whether `c` is one of the Latin-1 upper-case letters the matcher folds.
inline bool IsFoldedUpper(int32_t c) {
  return uint32_t(c) < 256 && kFoldedUpper[size_t(c)];
}

// Upper-case form of the low byte of `c` used for symbol names: a-z and
// thirteen accented letters; every other byte unchanged.
int UpperForSymbolName(int32_t c);

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_AUTOMATON_H_
