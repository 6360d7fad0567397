// A deterministic view of the automaton's input side, built as it is walked:
// the walk that decides where an attempt ends, one table lookup per
// character.
//
// Where an attempt ends and what each of its characters holds (a complete
// analysis, pieces of a compound reading only, an unknown-word reading)
// depend on which automaton states the live-state set holds, and on one bit
// of each path's output: whether it is still empty (a piece with no output
// adds nothing). They do not depend on the symbols written. So an attempt
// can be walked over the sets of (state, output empty) pairs alone, and the
// readings made afterwards by the full walk with outputs over the stretch
// that is written (engine/analysis.h). Sets are discovered as text needs
// them and kept in a bounded cache, as a lazy DFA of a regular-expression
// engine keeps its states: a walk state per distinct set, with a row of
// transitions per byte class, each filled the first time it is taken.
//
// A walk state's set lists each pair once, in the order of the pair's last
// appearance in the live-state list, which holds paths with repetition.
// That order is all the recording needs: what a character holds is decided
// by which marker kinds appear last in the list (engine/acceptance.h), and
// the successors of a list, or its epsilon closure (the list followed by its
// successors, level by level), have their last appearances in an order that
// depends only on the order of the last appearances in the list.
//
// The live-state list also bounds the full walk (the live-state limit and
// its message), so a walk state also counts how many times the list holds
// each pair, and the list's size: the counts of a step and its closure
// follow from the counts before it, so they are exact. The walker adds up
// the sizes over the attempt, which bounds every count the full walk checks
// (live states, output nodes, accepted outputs), and hands the attempt to
// the full walk, which counts them one by one, before the sum could pass a
// limit. A set too large to keep, or a cache that had to be emptied, hands
// the attempt over the same way: the full walk gives the same bytes, only
// more slowly.
//
// Memory: at most `budget_bytes` of states, sets, transitions and their
// indexes (kDfaCacheBytes by default); when a new state or transition does
// not fit, everything is dropped and the walk starts filling the cache
// again.

#ifndef ETIQUEM_ENGINE_LAZY_DFA_H_
#define ETIQUEM_ENGINE_LAZY_DFA_H_

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/automaton.h"
#include "engine/live_states.h"

namespace etiquem {

// The cache budget of one analysis, in bytes. Measured on the Catalan and
// Spanish corpora (bench/README.md): the states their text needs fit in a
// fraction of it.
constexpr size_t kDfaCacheBytes = size_t(4) << 20;

// Pairs a walk state may list; a larger set is not kept (the attempt is
// handed to the full walk).
constexpr uint32_t kMaxWalkStateElements = uint32_t(1) << 12;

// Walk states with fixed places, kept across flushes.
constexpr uint32_t kNoWalkState = 0;  // unused, so a zero transition is unset
constexpr uint32_t kDeadState = 1;    // no live state: the attempt is over
constexpr uint32_t kStartState = 2;   // state 0 with an empty output

// A transition: the next walk state in the low 20 bits, what that state's
// live states accept (kWalk* flags) in the next 3, and from bit 24 the size
// of its live-state list (0 to 254), or kLargeList: 255 or more (the size
// is then its state's `live_count`). kGiveUp (the large mark with no state)
// hands the attempt to the full walk: the set was too large to keep, or the
// cache was emptied to make room.
constexpr uint32_t kWalkStateBits = 20;
constexpr uint32_t kWalkStateMask = (uint32_t(1) << kWalkStateBits) - 1;
constexpr uint32_t kWalkFlagsShift = 20;
constexpr uint32_t kListSizeShift = 24;
constexpr uint32_t kLargeList = 255;
constexpr uint32_t kGiveUp = kLargeList << kListSizeShift;

// What a walk state's live states accept (engine/acceptance.h).
constexpr uint8_t kWalkAnalysis = 1;    // an analysis record is made
constexpr uint8_t kWalkUnknown = 2;     // an unknown-word record is made
constexpr uint8_t kWalkPiecesOnly = 4;  // recorded as pieces-or-unknown: the
                                        // analysis is dropped if a letter
                                        // follows

struct WalkState {
  uint32_t first_element;  // its pairs, each with how many times the list
                           // holds it: elements[first_element, + count)
  uint32_t element_count;
  uint32_t live_count;     // the list's size: the sum of the counts
  uint8_t flags;           // kWalkAnalysis | kWalkUnknown | kWalkPiecesOnly
};

// A kept transition in the table of LazyDfa::transitions: `key` is
// TransitionKey(state, class), 0 when the slot is empty. The key comes
// first so that a probe compares it in place and loads the transition
// only on a match.
struct KeptTransition {
  uint32_t key;
  uint32_t entry;
};

// Counts past this are not kept (the attempt is handed to the full walk,
// whose limits are far below).
constexpr uint32_t kMaxPairCount = uint32_t(1) << 30;

struct LazyDfa {
  const Automaton* automaton = nullptr;
  size_t budget_bytes = kDfaCacheBytes;
  uint8_t byte_class[256] = {};  // the automaton's, kept here for the step
  std::vector<WalkState> states;
  // Pairs (automaton state << 1 | output not empty), state after state,
  // each with how many times the list holds it: pair << 32 | count.
  std::vector<uint64_t> elements;
  // The transitions taken so far, by open addressing, at most half full.
  // Most walk states are left by one or two of the classes only, so rows
  // of every class would waste the budget.
  std::vector<KeptTransition> transitions;
  size_t transition_count = 0;
  // Open addressing over the sets: a walk state's index, 0 when empty. At
  // most half full.
  std::vector<uint32_t> slots;
  // The start state's transitions by byte, 0 until taken: every attempt
  // starts there, so this row stays in the first-level cache.
  uint32_t start_row[256] = {};
  // TransitionInto(kStartState), where every attempt starts.
  uint32_t start_into = kStartState;
  uint64_t flushes = 0;  // times the cache was emptied
  bool broken = false;   // memory ran out while it grew: reset before use
  // Scratch for building a set, bounded by kMaxWalkStateElements.
  // Pairs with their counts, packed (pair << 32 | count).
  RecordList<uint64_t> level, next_level, gathered, merged;
  std::vector<uint32_t> seen_keys, seen_marks, seen_places;
  uint32_t mark = 0;
};

// Prepares `d` for `t` with an empty cache.
void ResetDfa(LazyDfa& d, const Automaton* t);

// Whether the deterministic walk can stand for the full walk on `t`: it
// cannot when some move leads to no state (the full walk reports it).
inline bool DfaUsable(const Automaton& t) { return t.targets_valid; }

// Fills the transition of walk state `state` on matching byte `c` (0 to
// 255) and returns it; kGiveUp when the cache was emptied to make room
// (every walk state index held by the caller is then stale).
uint32_t BuildTransition(LazyDfa& d, uint32_t state, int c);

// The slot key of the transition on byte class `byte_class` from the walk
// state that transition `into` leads to: its state and flags, and the
// class. The flags are the state's own, so the key stands for the state
// and the class as well; taking it from the transition saves masking the
// state out in the walk's loop. Never 0, the mark of an empty slot, as
// transitions leave walk states from kStartState on.
inline uint32_t TransitionKey(uint32_t into, uint32_t byte_class) {
  assert((into & kWalkStateMask) >= kStartState && byte_class < 256);
  return into << 8 | byte_class;  // the list size shifted out
}

// The part of a transition into walk state `state` that TransitionKey
// reads.
inline uint32_t TransitionInto(const LazyDfa& d, uint32_t state) {
  return uint32_t(d.states[state].flags) << kWalkFlagsShift | state;
}

inline size_t TransitionSlot(uint32_t key, size_t mask) {
  return size_t((key * 0x9E3779B1u) >> 7) & mask;
}

// The transition on matching byte `c` from the walk state that transition
// `into` leads to.
inline uint32_t WalkStepFrom(LazyDfa& d, uint32_t into, int c) {
  const uint32_t state = into & kWalkStateMask;
  assert(state >= kStartState && state < d.states.size());
  assert(c >= 0 && c < 256);
  assert(TransitionKey(into, 0) == TransitionKey(TransitionInto(d, state), 0));
  const uint32_t key = TransitionKey(into, d.byte_class[c]);
  const KeptTransition* slots = d.transitions.data();
  const size_t mask = d.transitions.size() - 1;
  for (size_t h = TransitionSlot(key, mask);; h = (h + 1) & mask) {
    if (slots[h].key == key) return slots[h].entry;
    if (slots[h].key == 0) return BuildTransition(d, state, c);
  }
}

// The transition of walk state `state` on matching byte `c`.
inline uint32_t WalkStep(LazyDfa& d, uint32_t state, int c) {
  assert(state < d.states.size());
  return WalkStepFrom(d, TransitionInto(d, state), c);
}

// WalkStep for the walks over a block, which keep the table and its mask
// in locals (in registers): they are read again after a transition was
// built, which may move the table. From the walk state that transition
// `into` leads to.
[[gnu::always_inline]] inline uint32_t WalkStepIn(LazyDfa& d,
                                                  const KeptTransition*& table,
                                                  size_t& mask,
                                                  uint32_t into, size_t c) {
  assert(table == d.transitions.data() && mask == d.transitions.size() - 1);
  const uint32_t state = into & kWalkStateMask;
  assert(TransitionKey(into, 0) == TransitionKey(TransitionInto(d, state), 0));
  const uint32_t key = TransitionKey(into, d.byte_class[c]);
  for (size_t h = TransitionSlot(key, mask);; h = (h + 1) & mask) {
    if (table[h].key == key) [[likely]]
      return table[h].entry;
    if (table[h].key == 0) {
      const uint32_t step = BuildTransition(d, state, int(c));
      table = d.transitions.data();
      mask = d.transitions.size() - 1;
      return step;
    }
  }
}

// The transition of the start state on matching byte `c`.
inline uint32_t StartStep(LazyDfa& d, int c) {
  assert(c >= 0 && c < 256);
  uint32_t entry = d.start_row[c];
  if (entry == 0) [[unlikely]] {
    entry = WalkStep(d, kStartState, c);
    if (entry != kGiveUp) d.start_row[c] = entry;
  }
  return entry;
}

// Bytes the cache holds now, as counted against the budget.
size_t DfaCacheBytes(const LazyDfa& d);

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_LAZY_DFA_H_
