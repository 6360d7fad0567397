// The deterministic walk's cache; see lazy_dfa.h.

#include "engine/lazy_dfa.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>

namespace etiquem {

namespace {

constexpr size_t kInitialSlots = 1 << 10;

// Pairs gathered over the closure's levels before they are merged; past
// this the set is not kept.
constexpr size_t kMaxGathered = size_t(kMaxWalkStateElements) * 4;

// Sets up to this size are made unique by comparing pairs: most sets hold
// a few pairs, where hashing costs more.
constexpr size_t kMaxCompared = 16;

inline uint32_t Pair(int32_t state, bool not_empty) {
  return uint32_t(state) << 1 | uint32_t(not_empty);
}
inline int32_t StateOf(uint32_t pair) { return int32_t(pair >> 1); }
inline bool NotEmpty(uint32_t pair) { return (pair & 1) != 0; }

// A pair with its count, packed.
inline uint64_t Counted(uint32_t pair, uint64_t count) {
  return uint64_t(pair) << 32 | std::min<uint64_t>(count, kMaxPairCount);
}
inline uint32_t PairOf(uint64_t counted) { return uint32_t(counted >> 32); }
inline uint32_t CountOf(uint64_t counted) { return uint32_t(counted); }

// A pair and its count folded in at once, a multiplication each.
uint32_t HashPairs(const uint64_t* counted, size_t n) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
  for (size_t i = 0; i < n; ++i)
    h = (h ^ counted[i]) * 0xFF51AFD7ED558CCDull ^ (h >> 29);
  return uint32_t(h ^ (h >> 32));
}

// Starts a new "seen" set for up to `n` pairs.
void ClearSeen(LazyDfa& d, size_t n) {
  size_t size = 64;
  while (size < 2 * n) size *= 2;
  if (d.seen_keys.size() < size) {
    d.seen_keys.assign(size, 0);
    d.seen_marks.assign(size, 0);
    d.seen_places.assign(size, 0);
    d.mark = 0;
  }
  if (++d.mark == 0) {
    std::fill(d.seen_marks.begin(), d.seen_marks.end(), 0);
    d.mark = 1;
  }
}

// The place in the output of `pair` if it was seen since ClearSeen;
// otherwise notes it at place `place` and returns -1.
int64_t SeenAt(LazyDfa& d, uint32_t pair, uint32_t place) {
  const size_t mask = d.seen_keys.size() - 1;
  for (size_t h = (pair * 0x9E3779B1u) & mask;; h = (h + 1) & mask) {
    if (d.seen_marks[h] != d.mark) {
      d.seen_marks[h] = d.mark;
      d.seen_keys[h] = pair;
      d.seen_places[h] = place;
      return -1;
    }
    if (d.seen_keys[h] == pair) return d.seen_places[h];
  }
}

// Whether the `n` pairs of `counted` may hold a pair twice: false when a
// bit per pair, chosen by a hash of it, is set once each (most levels of
// most sets: then they are kept as they are).
inline bool MayRepeat(const uint64_t* counted, size_t n) {
  uint64_t seen = 0;
  bool repeated = false;
  for (size_t i = 0; i < n; ++i) {
    const uint64_t bit = uint64_t(1)
                         << ((PairOf(counted[i]) * 0x9E3779B1u) >> 26);
    repeated |= (seen & bit) != 0;
    seen |= bit;
  }
  return repeated;
}

// KeepLast of two pairs or more.
[[gnu::noinline]] void KeepLastOfMany(LazyDfa& d,
                                      const RecordList<uint64_t>& in,
                                      RecordList<uint64_t>& out) {
  const size_t n = in.count;
  assert(n >= 2 && out.room >= n);
  uint64_t* const kept = out.records.get();
  const uint64_t* const given = in.records.get();
  size_t m = 0;  // pairs kept so far, last appearance first
  const bool compare = n <= kMaxCompared;
  if (compare && !MayRepeat(given, n)) {
    std::copy(given, given + n, kept);
    out.count = n;
    return;
  }
  if (!compare) ClearSeen(d, n);
  for (size_t i = n; i-- > 0;) {
    const uint32_t pair = PairOf(given[i]);
    size_t at = m;
    if (compare) {
      for (size_t k = 0; k < m; ++k)
        if (PairOf(kept[k]) == pair) {
          at = k;
          break;
        }
    } else {
      const int64_t seen = SeenAt(d, pair, uint32_t(m));
      if (seen >= 0) at = size_t(seen);
    }
    if (at == m)
      kept[m++] = given[i];
    else
      kept[at] = Counted(pair, uint64_t(CountOf(kept[at])) + CountOf(given[i]));
  }
  std::reverse(kept, kept + m);
  out.count = m;
}

// `in` with each pair once, at its last appearance, counted as many times
// as all its appearances together, into `out`. A level of one pair (most
// levels of most sets) is copied here.
inline void KeepLast(LazyDfa& d, const RecordList<uint64_t>& in,
                     RecordList<uint64_t>& out) {
  const size_t n = in.count;
  MakeRoom(out, n);
  if (n <= 1) {
    if (n == 1) out.records[0] = in.records[0];
    out.count = n;
    return;
  }
  KeepLastOfMany(d, in, out);
}

// Appends the epsilon successors of `pairs`, in order, to `out`, as the
// closure follows them (a state's first epsilon group; symbols 0 and 48
// write nothing there), each as many times as its predecessor.
void EpsilonSuccessors(const Automaton& t, const RecordList<uint64_t>& pairs,
                       RecordList<uint64_t>& out) {
  for (const uint64_t counted : pairs) {
    const uint32_t pair = PairOf(counted);
    const State& n = t.states[size_t(StateOf(pair))];
    if (n.epsilon_group_count <= 0) continue;
    const MoveGroup& g = n.epsilon_groups[0];
    MakeRoom(out, out.count + size_t(g.move_count));
    uint64_t* const to = out.records.get() + out.count;
    for (int32_t i = 0; i < g.move_count; ++i) {
      const Move& m = g.moves[i];
      const bool writes = m.output_symbol != 0 && m.output_symbol != 48;
      to[i] =
          Counted(Pair(m.target, NotEmpty(pair) || writes), CountOf(counted));
    }
    out.count += size_t(g.move_count);
  }
}

// Appends the successors of `counted` through group `g`.
inline void FollowGroup(uint64_t counted, const MoveGroup& g,
                        RecordList<uint64_t>& out) {
  const uint32_t pair = PairOf(counted);
  MakeRoom(out, out.count + size_t(g.move_count));
  uint64_t* const to = out.records.get() + out.count;
  for (int32_t i = 0; i < g.move_count; ++i) {
    const Move& m = g.moves[i];
    to[i] = Counted(Pair(m.target, NotEmpty(pair) || m.output_symbol != 0),
                    CountOf(counted));
  }
  out.count += size_t(g.move_count);
}

// What the pairs accept, as RecordAcceptances decides it: the kinds of the
// markers, and which of them came last.
uint8_t AcceptanceFlags(const Automaton& t, const uint64_t* counted,
                        size_t n) {
  bool unknown = false, pushed = false, complete = false;
  bool last_complete = false;  // of the analysis and piece markers
  for (size_t k = 0; k < n; ++k) {
    const uint32_t pair = PairOf(counted[k]);
    const State& s = t.states[size_t(StateOf(pair))];
    for (int32_t i = 0; i < s.marker_count; ++i) {
      const int marker = t.markers[s.first_marker + uint32_t(i)];
      if (marker == kEndOfUnknown) {
        unknown = true;
        complete = false;
      } else if (marker == kEndOfAnalysis) {
        last_complete = true;
        complete = true;
        pushed = true;
      } else {
        last_complete = false;
        if (NotEmpty(pair)) pushed = true;
      }
    }
  }
  uint8_t flags = unknown ? kWalkUnknown : 0;
  if (pushed) {
    flags |= kWalkAnalysis;
    if (!complete && !last_complete) flags |= kWalkPiecesOnly;
  }
  return flags;
}

// Empties the cache but for the dead and the start state.
void Flush(LazyDfa& d) {
  const Automaton& t = *d.automaton;
  d.states.clear();
  d.elements.clear();
  d.states.push_back(WalkState{0, 0, 0, 0});  // kNoWalkState
  d.states.push_back(WalkState{0, 0, 0, 0});  // kDeadState
  d.elements.push_back(Counted(Pair(0, false), 1));
  d.states.push_back(
      WalkState{0, 1, 1, AcceptanceFlags(t, d.elements.data(), 1)});
  d.transitions.assign(kInitialSlots, KeptTransition{0, 0});
  d.transition_count = 0;
  std::fill(std::begin(d.start_row), std::end(d.start_row), 0);
  d.start_into = TransitionInto(d, kStartState);
  d.slots.assign(kInitialSlots, 0);
  const uint32_t h = HashPairs(d.elements.data(), 1);
  d.slots[h & (kInitialSlots - 1)] = kStartState;
}

bool SamePairs(const LazyDfa& d, uint32_t state,
               const RecordList<uint64_t>& counted) {
  const WalkState& s = d.states[state];
  if (s.element_count != counted.count) return false;
  const uint64_t* const kept = d.elements.data() + s.first_element;
  for (size_t k = 0; k < counted.count; ++k)
    if (kept[k] != counted.records[k]) return false;
  return true;
}

// Doubles the index when it would be more than half full.
void GrowSlots(LazyDfa& d) {
  if ((d.states.size() + 1) * 2 <= d.slots.size()) return;
  d.slots.assign(d.slots.size() * 2, 0);
  const size_t mask = d.slots.size() - 1;
  for (uint32_t s = kStartState; s < d.states.size(); ++s) {
    const WalkState& w = d.states[s];
    size_t h = HashPairs(d.elements.data() + w.first_element,
                         w.element_count) &
               mask;
    while (d.slots[h] != 0) h = (h + 1) & mask;
    d.slots[h] = s;
  }
}

// The walk state of the set `counted` (pairs with their counts), whose
// list holds `live` states, made when missing; kNoWalkState when it does
// not fit beside the cache (which is then emptied).
uint32_t StateOfPairs(LazyDfa& d, const RecordList<uint64_t>& counted,
                      uint32_t live) {
  const size_t mask = d.slots.size() - 1;
  const uint32_t hash = HashPairs(counted.begin(), counted.size());
  size_t h = hash & mask;
  for (; d.slots[h] != 0; h = (h + 1) & mask)
    if (SamePairs(d, d.slots[h], counted)) return d.slots[h];
  const bool grows = (d.states.size() + 1) * 2 > d.slots.size();
  const size_t more = sizeof(WalkState) + counted.size() * sizeof(uint64_t) +
                      (grows ? d.slots.size() * sizeof(uint32_t) : 0);
  if (DfaCacheBytes(d) + more > d.budget_bytes ||
      d.states.size() > kWalkStateMask) {
    Flush(d);
    ++d.flushes;
    return kNoWalkState;
  }
  const uint32_t index = uint32_t(d.states.size());
  d.states.push_back(WalkState{
      uint32_t(d.elements.size()), uint32_t(counted.size()), live,
      AcceptanceFlags(*d.automaton, counted.begin(), counted.size())});
  d.elements.insert(d.elements.end(), counted.begin(), counted.end());
  if (grows)
    GrowSlots(d);
  else
    d.slots[h] = index;
  return index;
}

// Keeps a transition; false when it did not fit (the cache was emptied).
bool AddTransition(LazyDfa& d, uint32_t key, uint32_t entry) {
  if ((d.transition_count + 1) * 2 > d.transitions.size()) {
    if (DfaCacheBytes(d) + d.transitions.size() * sizeof(KeptTransition) >
        d.budget_bytes) {
      Flush(d);
      ++d.flushes;
      return false;
    }
    std::vector<KeptTransition> old(d.transitions.size() * 2,
                                    KeptTransition{0, 0});
    old.swap(d.transitions);
    const size_t mask = d.transitions.size() - 1;
    for (const KeptTransition& slot : old) {
      if (slot.key == 0) continue;
      size_t h = TransitionSlot(slot.key, mask);
      while (d.transitions[h].key != 0) h = (h + 1) & mask;
      d.transitions[h] = slot;
    }
  }
  const size_t mask = d.transitions.size() - 1;
  size_t h = TransitionSlot(key, mask);
  while (d.transitions[h].key != 0) h = (h + 1) & mask;
  d.transitions[h] = KeptTransition{key, entry};
  ++d.transition_count;
  return true;
}

// The set after a step from walk state `from` on byte `c` and its closure,
// into d.merged; false when it is too large to keep.
bool StepAndClose(LazyDfa& d, const WalkState& from, int c) {
  const Automaton& t = *d.automaton;
  const bool upper = IsFoldedUpper(c);
  // The step: successors of each pair on c, then on c + 32 for a capital.
  d.next_level.clear();
  for (uint32_t k = 0; k < from.element_count; ++k) {
    const uint64_t counted = d.elements[from.first_element + k];
    const State& n = t.states[size_t(StateOf(PairOf(counted)))];
    if (n.group_count <= 0) continue;
    int g = StepGroupFor(n, c);
    if (g >= 0) FollowGroup(counted, n.groups[g], d.next_level);
    if (upper) {
      g = StepGroupFor(n, c + 32);
      if (g >= 0) FollowGroup(counted, n.groups[g], d.next_level);
    }
    if (d.next_level.size() > kMaxGathered) return false;
  }
  // The closure, level by level, each level with its pairs once.
  d.gathered.clear();
  KeepLast(d, d.next_level, d.level);
  if (d.level.size() > kMaxGathered) return false;
  while (!d.level.empty()) {
    d.next_level.clear();
    EpsilonSuccessors(t, d.level, d.next_level);
    if (d.gathered.empty() && d.next_level.empty()) {
      // One level, which holds each pair once already: most sets.
      std::swap(d.merged, d.level);
      return d.merged.size() <= kMaxWalkStateElements;
    }
    MakeRoom(d.gathered, d.gathered.count + d.level.count);
    std::copy(d.level.begin(), d.level.end(), d.gathered.end());
    d.gathered.count += d.level.count;
    if (d.gathered.size() > kMaxGathered) return false;
    if (d.next_level.size() > kMaxGathered) return false;
    KeepLast(d, d.next_level, d.level);
  }
  KeepLast(d, d.gathered, d.merged);
  return d.merged.size() <= kMaxWalkStateElements;
}

// BuildTransition, which may run out of memory.
uint32_t AddStep(LazyDfa& d, uint32_t state, int c) {
  const WalkState from = d.states[state];
  uint32_t entry = kGiveUp;
  if (!StepAndClose(d, from, c)) {
    // Too large to keep: the full walk takes such attempts.
  } else if (d.merged.empty()) {
    entry = kDeadState;
  } else {
    uint64_t live = 0;
    for (const uint64_t counted : d.merged) live += CountOf(counted);
    if (live < kMaxPairCount) {
      const uint32_t next = StateOfPairs(d, d.merged, uint32_t(live));
      if (next == kNoWalkState) return kGiveUp;  // the cache was emptied
      entry = uint32_t(std::min<uint64_t>(live, kLargeList)) << kListSizeShift |
              uint32_t(d.states[next].flags) << kWalkFlagsShift | next;
    }
  }
  if (!AddTransition(
          d, TransitionKey(TransitionInto(d, state), d.byte_class[c]),
          entry))
    return kGiveUp;
  return entry;
}

}  // namespace

void ResetDfa(LazyDfa& d, const Automaton* t) {
  d.automaton = t;
  std::memcpy(d.byte_class, t->byte_class, sizeof d.byte_class);
  d.flushes = 0;
  d.broken = false;
  Flush(d);
}

size_t DfaCacheBytes(const LazyDfa& d) {
  return d.states.size() * sizeof(WalkState) +
         d.elements.size() * sizeof(uint64_t) +
         d.transitions.size() * sizeof(KeptTransition) +
         d.slots.size() * sizeof(uint32_t);
}

uint32_t BuildTransition(LazyDfa& d, uint32_t state, int c) {
  try {
    return AddStep(d, state, c);
  } catch (const std::bad_alloc&) {
    // The walk only makes the analysis faster: without room for it, the
    // full walk takes every attempt (the cache is reset before reuse).
    d.broken = true;
    return kGiveUp;
  }
}

}  // namespace etiquem
