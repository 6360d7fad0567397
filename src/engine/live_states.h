// The live-state set: one entry for every path through the transducer that
// consumes the characters of the current attempt, with the output symbols
// gathered along it.
//
// A live state is a (state, output) pair. Outputs are nodes of a prefix tree
// (parent, symbol, length) kept in an arena that is emptied at the start of
// every attempt: a move appends one node instead of copying a whole string,
// and paths that share a prefix share its nodes. The set is two lists
// reused from step to step, so a step allocates nothing once they have grown.
// Paths are never merged, and the order of the set is the order in which
// readings are later written, so every step keeps it exactly: successors of
// each live state in list order, those on c before those on c + 32, each
// group in move order; the epsilon closure appends to the list it walks.
//
// A step over a list seen before on the same character can follow a plan
// made the first time (StepPlans, below): the same groups in the same
// order, so the same list, without looking each state's group up again.
//
// Bounds: an output keeps at most 499 symbols (further symbols are dropped);
// a set holds at most `max_states` states and an attempt at most `max_nodes`
// output nodes; past either the analysis fails with the live-state memory
// message rather than take the machine's memory.

#ifndef ETIQUEM_ENGINE_LIVE_STATES_H_
#define ETIQUEM_ENGINE_LIVE_STATES_H_

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <memory>
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

// A growable array of plain records that the step fills through a
// pointer: it makes room for a group's moves at once and writes them
// without a check each (std::vector checks for room and stores its end at
// every push_back, which was a third of the step). Read like a vector.
template <typename T>
struct RecordList {
  std::unique_ptr<T[]> records;
  size_t count = 0;  // records in use
  size_t room = 0;   // records allocated

  RecordList() = default;
  RecordList(RecordList&&) noexcept = default;
  RecordList& operator=(RecordList&&) noexcept = default;
  // A copy holds the records in use, with room for them alone (a worker's
  // analysis starts from a copy of another's caches).
  RecordList(const RecordList& other)
      : records(other.count == 0
                    ? nullptr
                    : std::make_unique_for_overwrite<T[]>(other.count)),
        count(other.count),
        room(other.count) {
    std::copy(other.begin(), other.end(), records.get());
  }
  RecordList& operator=(const RecordList& other) {
    if (this != &other) *this = RecordList(other);
    return *this;
  }

  size_t size() const { return count; }
  bool empty() const { return count == 0; }
  void clear() { count = 0; }
  T* begin() { return records.get(); }
  T* end() { return records.get() + count; }
  const T* begin() const { return records.get(); }
  const T* end() const { return records.get() + count; }
  T& operator[](size_t i) {
    assert(i < count);
    return records[i];
  }
  const T& operator[](size_t i) const {
    assert(i < count);
    return records[i];
  }
};

// Gives `list` room for at least `n` records, keeping those in use; room
// grows by doubling. Apart from MakeRoom, so that its check stays inline.
template <typename T>
[[gnu::noinline]] void GrowRoom(RecordList<T>& list, size_t n) {
  const size_t room = std::max(n, list.room * 2);
  std::unique_ptr<T[]> records = std::make_unique_for_overwrite<T[]>(room);
  std::copy(list.begin(), list.end(), records.get());
  list.records = std::move(records);
  list.room = room;
}

// Makes room for at least `n` records in `list`, keeping those in use.
template <typename T>
inline void MakeRoom(RecordList<T>& list, size_t n) {
  if (n > list.room) [[unlikely]]
    GrowRoom(list, n);
}

template <typename T>
inline void Append(RecordList<T>& list, const T& record) {
  MakeRoom(list, list.count + 1);
  list.records[list.count++] = record;
}

// GroupFor, with a state of one or two groups (most states a path goes
// through) answered by comparing its keys directly, as the halving search
// probes them (the upper one first): the same answer, without the vector
// compare and its mask.
inline int StepGroupFor(const State& n, int32_t c) {
  if (n.group_count == 1) return n.keys[0] == c ? 0 : -1;
  if (n.group_count == 2) {
    if (n.keys[1] == c) return 1;
    if (n.keys[1] < c) return -1;
    return n.keys[0] == c ? 0 : -1;
  }
  return GroupFor(n, c);
}

// The budget of the plans of one analysis, in bytes. Measured on the
// first 2 MB of the Spanish corpus (bench/README.md): its plans fit in
// 1 MiB, and half of it costs a twentieth of their gain.
constexpr size_t kStepPlanBytes = size_t(1) << 20;

// Lists of fewer states are stepped the usual way: on the Catalan corpus,
// where most lists hold one to three states, finding a plan and making it
// cost more than finding their groups (bench/README.md: measured from 4 to
// 14, 8 did best on both corpora).
constexpr uint32_t kMinPlannedList = 8;

// Plans of steps with outputs. Which groups a step and its closure follow,
// and from which entries of the lists, depends only on the automaton states
// of the list before the step, in order, and on the character, not on the
// outputs. A plan notes them once, so that a later step over the same
// states on the same character follows those groups without looking for
// them again (each state's record, its keys, its epsilon list). A plan is
// found by a name the caller gives the list (nonzero, below 2^24: the walk
// state it is in, engine/lazy_dfa.h) and the character, and followed only
// when the list holds exactly the states it was made for, in order; so a
// wrong or stale name costs a step made the usual way (which makes the plan
// again), never a different list. Bounded: at most `budget_bytes` of slots
// and plans, all dropped when a new plan does not fit.
struct StepPlans {
  // Open addressing: (name << 8 | character) in the high half, the plan's
  // place in `words` plus one in the low half; 0 when empty. At most half
  // full.
  std::vector<uint64_t> slots;
  size_t plan_count = 0;
  // The plans, one after another: the size m of the list before the step,
  // the count a of the step's groups followed, the count b of the
  // closure's, the m states, then a + b (entry, group) pairs: the entry of
  // the list before the step (of the list being closed, for b) and the
  // group's index in Automaton::groups.
  std::vector<uint32_t> words;
  size_t budget_bytes = kStepPlanBytes;
  uint32_t min_list = kMinPlannedList;  // for the caller: smaller lists
                                        // are not worth a plan
  uint64_t flushes = 0;  // times the plans were dropped for room
  std::vector<uint32_t> recorded;  // the pairs of the step being made
};

struct LiveStates {
  const Automaton* automaton = nullptr;
  RecordList<LiveState> states;         // the set, in order
  RecordList<LiveState> next;           // scratch for the next step
  RecordList<OutputNode> nodes;         // output arena; node 0 is the root
  size_t max_states = size_t(1) << 20;  // live states at once
  size_t max_nodes = size_t(1) << 22;   // output nodes per attempt
  StepPlans plans;                      // of StepAndCloseByPlan
};

void InitLiveStates(LiveStates& v, const Automaton* t);

// The set becomes state 0 with an empty output; the arena is emptied.
void StartAtInitialState(LiveStates& v);

// Replaces every live state by its successors on `c` (and on c + 32 when c
// is upper case). Returns 1 when c is upper case and the set was not empty.
int StepLiveStates(LiveStates& v, int c);

// StepLiveStates, then CloseOverEpsilons, in one pass over the lists.
int StepAndCloseLiveStates(LiveStates& v, int c);

// StepAndCloseLiveStates, following the plan made under `name` for `c`
// when the list holds the states it was made for, else stepping as usual
// and making that plan. `name` (1 to 2^24 - 1) should most often mean the
// same list of states; `c` is a byte.
int StepAndCloseByPlan(LiveStates& v, uint32_t name, int c);

// Bytes the plans take now, as counted against their budget.
size_t StepPlanBytes(const StepPlans& p);

// Drops every plan.
void ClearStepPlans(StepPlans& p);

// Adds the epsilon successors of every live state, transitively. Returns the
// size of the set.
int CloseOverEpsilons(LiveStates& v);

inline void ClearLiveStates(LiveStates& v) { v.states.clear(); }

// The output symbols of `node`, first to last, into `symbols` (room for
// kMaxOutputSymbols); returns how many.
int OutputSymbols(const LiveStates& v, uint32_t node, int32_t* symbols);

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_LIVE_STATES_H_
