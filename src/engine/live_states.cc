// The live-state set; see live_states.h.

#include "engine/live_states.h"

#include <cassert>
#include <cstddef>
#include <string>

#include "engine/failure.h"
#include "engine/messages.h"

namespace etiquem {

namespace {

[[noreturn]] void OutOfLiveStateMemory(LiveStates&) {
  FailAnalysis(messages::kStatusFailure, messages::kLiveStateLimit);
}

[[noreturn]] void MissingTarget(LiveStates&, int32_t target) {
  FailAnalysis(messages::kStatusBadAutomaton,
               messages::TargetOutOfRange(target));
}

// Appends to `list` one live state per move of `g`, from output `node`.
// In a step an output_symbol of 0 writes nothing; in the closure an
// output_symbol of 48 does not either (and 0 appends nothing there too). An
// output already holding kMaxOutputSymbols symbols drops the symbol. This
// runs for every move followed: when the group's moves fit within the
// bounds whatever they write, room is made for them at once and they are
// written through pointers; otherwise each is checked as it is added, so a
// bound is reported at the move that passes it. Out of line: the step
// takes it only for a group that does not fit its cursor (below).
[[gnu::noinline]] void Follow(LiveStates& v, RecordList<LiveState>& list,
                              const MoveGroup& g, uint32_t node, bool epsilon) {
  const size_t n = size_t(g.move_count);
  const uint32_t length = v.nodes[node].length;
  size_t live_count = list.count;
  size_t nodes = v.nodes.count;
  const bool check_targets = !v.automaton->targets_valid;
  if (!check_targets && live_count + n <= v.max_states &&
      nodes + n <= v.max_nodes) [[likely]] {
    MakeRoom(list, live_count + n);
    MakeRoom(v.nodes, nodes + n);
    LiveState* out = list.records.get() + live_count;
    OutputNode* arena = v.nodes.records.get();
    for (size_t i = 0; i < n; ++i) {
      const Move m = g.moves[i];
      uint32_t output = node;
      if (m.output_symbol != 0 && !(epsilon && m.output_symbol == 48) &&
          length < kMaxOutputSymbols) {
        arena[nodes] = OutputNode{node, m.output_symbol, length + 1};
        output = uint32_t(nodes++);
      }
      out[i] = LiveState{m.target, output};
    }
    list.count = live_count + n;
    v.nodes.count = nodes;
    return;
  }
  for (size_t i = 0; i < n; ++i) {
    const Move m = g.moves[i];
    if (live_count++ >= v.max_states) OutOfLiveStateMemory(v);
    if (check_targets && (m.target < 0 || m.target >= v.automaton->state_count))
      MissingTarget(v, m.target);
    uint32_t output = node;
    if (m.output_symbol != 0 && !(epsilon && m.output_symbol == 48) &&
        length < kMaxOutputSymbols) {
      if (nodes >= v.max_nodes) OutOfLiveStateMemory(v);
      Append(v.nodes, OutputNode{node, m.output_symbol, length + 1});
      output = uint32_t(nodes++);
    }
    Append(list, LiveState{m.target, output});
  }
}

// The ends of the list being filled and of the output arena, kept in
// locals through a step and its closure rather than loaded and stored at
// every group (7 % of the step on Spanish text, where a character
// follows about ten groups).
struct Cursor {
  LiveState* out;     // the list's records
  size_t count;       // records in use
  size_t fits;        // up to this many records, a group needs no check
                      // (0 when targets are checked one by one)
  OutputNode* arena;  // the output nodes
  size_t nodes;       // nodes in use
  size_t nodes_fit;   // up to this many nodes, a group needs no check
};

inline Cursor Open(LiveStates& v, RecordList<LiveState>& list) {
  Cursor k;
  k.out = list.records.get();
  k.count = list.count;
  k.fits = v.automaton->targets_valid ? std::min(list.room, v.max_states) : 0;
  k.arena = v.nodes.records.get();
  k.nodes = v.nodes.count;
  k.nodes_fit = std::min(v.nodes.room, v.max_nodes);
  return k;
}

inline void Shut(LiveStates& v, RecordList<LiveState>& list, const Cursor& k) {
  list.count = k.count;
  v.nodes.count = k.nodes;
}

// Follow through the cursor: a group that fits whatever its moves write
// is written through it; any other goes through Follow, which makes room
// and checks each move.
[[gnu::always_inline]] inline void FollowGroup(LiveStates& v,
                                               RecordList<LiveState>& list,
                                               Cursor& k, const MoveGroup& g,
                                               uint32_t node, bool epsilon) {
  const size_t n = size_t(g.move_count);
  if (k.count + n > k.fits || k.nodes + n > k.nodes_fit) [[unlikely]] {
    Shut(v, list, k);
    Follow(v, list, g, node, epsilon);
    k = Open(v, list);
    return;
  }
  const uint32_t length = k.arena[node].length;
  LiveState* out = k.out + k.count;
  size_t nodes = k.nodes;
  if (length >= kMaxOutputSymbols) [[unlikely]] {
    // Further symbols are dropped.
    for (size_t i = 0; i < n; ++i) out[i] = LiveState{g.moves[i].target, node};
    k.count += n;
    return;
  }
  // Each move's node is written whether or not the move writes a symbol,
  // and kept only when it does (room for n nodes is there): no branch per
  // move.
  for (size_t i = 0; i < n; ++i) {
    const Move m = g.moves[i];
    k.arena[nodes] = OutputNode{node, m.output_symbol, length + 1};
    const bool writes =
        m.output_symbol != 0 && !(epsilon && m.output_symbol == 48);
    out[i] = LiveState{m.target, writes ? uint32_t(nodes) : node};
    nodes += writes;
  }
  k.count += n;
  k.nodes = nodes;
}

// Notes that the entry `entry` of a list follows group `g` (for a plan).
inline void NoteGroup(const LiveStates& v, std::vector<uint32_t>& recorded,
                      size_t entry, const MoveGroup& g) {
  recorded.push_back(uint32_t(entry));
  recorded.push_back(uint32_t(&g - v.automaton->groups.data()));
}

// Adds the epsilon successors of the list's records from `first` on,
// transitively, through the cursor. When kRecord, notes each (entry,
// group) followed in `recorded`.
template <bool kRecord = false>
inline void CloseFrom(LiveStates& v, RecordList<LiveState>& list, Cursor& k,
                      size_t first, std::vector<uint32_t>* recorded = nullptr) {
  // The list grows while it is walked: new states are visited in the same
  // pass, which makes the closure transitive. Indices stay valid across
  // growth where pointers would not.
  const State* states = v.automaton->states.data();
  for (size_t i = first; i < k.count; ++i) {
    const LiveState s = k.out[i];
    const State& n = states[size_t(s.state)];
    if (n.epsilon_group_count > 0) {
      if constexpr (kRecord) NoteGroup(v, *recorded, i, n.epsilon_groups[0]);
      FollowGroup(v, list, k, n.epsilon_groups[0], s.output, true);
    }
  }
}

// The step, and the closure when `close`. When kRecord, notes in
// `recorded` each (entry, group) followed by the step, then those of the
// closure, and in `step_groups` how many the step followed.
template <bool kRecord = false>
inline int Step(LiveStates& v, int c, bool close,
                std::vector<uint32_t>* recorded = nullptr,
                size_t* step_groups = nullptr) {
  const State* states = v.automaton->states.data();
  const int upper = IsFoldedUpper(c);
  const int flag = v.states.empty() ? 0 : upper;
  [[maybe_unused]] size_t recorded_before = 0;
  if constexpr (kRecord) recorded_before = recorded->size();
  v.next.clear();
  Cursor k = Open(v, v.next);
  for (const LiveState& s : v.states) {
    const State& n = states[size_t(s.state)];
    if (n.group_count <= 0) continue;
    int g = StepGroupFor(n, c);
    if (g >= 0) {
      if constexpr (kRecord)
        NoteGroup(v, *recorded, size_t(&s - v.states.begin()), n.groups[g]);
      FollowGroup(v, v.next, k, n.groups[g], s.output, false);
    }
    if (upper) {
      g = StepGroupFor(n, c + 32);
      if (g >= 0) {
        if constexpr (kRecord)
          NoteGroup(v, *recorded, size_t(&s - v.states.begin()), n.groups[g]);
        FollowGroup(v, v.next, k, n.groups[g], s.output, false);
      }
    }
  }
  if constexpr (kRecord) *step_groups = (recorded->size() - recorded_before) / 2;
  if (close) CloseFrom<kRecord>(v, v.next, k, 0, recorded);
  Shut(v, v.next, k);
  std::swap(v.states, v.next);
  return flag;
}

// Plans past this many words are not kept (lists of hundreds of states,
// which few steps repeat).
constexpr size_t kMaxPlanWords = size_t(1) << 12;

constexpr size_t kInitialPlanSlots = size_t(1) << 10;

inline uint32_t PlanKey(uint32_t name, int c) {
  assert(name < (uint32_t(1) << 24));
  return name << 8 | uint32_t(c);
}

inline size_t PlanSlot(uint32_t key, size_t mask) {
  return size_t((key * 0x9E3779B1u) >> 7) & mask;
}

// The slot of `key`: the one holding it, or the empty one where it goes.
inline size_t FindPlanSlot(const StepPlans& p, uint32_t key) {
  const size_t mask = p.slots.size() - 1;
  size_t h = PlanSlot(key, mask);
  while (p.slots[h] != 0 && uint32_t(p.slots[h] >> 32) != key)
    h = (h + 1) & mask;
  return h;
}

// Whether the list holds the states `plan` was made for, in order. Four
// states at a time, their differences gathered and tested once (lists of
// about sixty states on Spanish text, where this was a sixth of a planned
// step).
inline bool PlanFits(const LiveStates& v, const uint32_t* plan) {
  const size_t m = plan[0];
  if (v.states.count != m) return false;
  const LiveState* s = v.states.records.get();
  const uint32_t* expected = plan + 3;
  size_t i = 0;
  uint32_t differ = 0;
#if defined(__SSE2__)
  static_assert(offsetof(LiveState, state) == 0 && sizeof(LiveState) == 8);
  __m128i differences = _mm_setzero_si128();
  for (; i + 4 <= m; i += 4) {
    const __m128 low = _mm_loadu_ps(reinterpret_cast<const float*>(s + i));
    const __m128 high = _mm_loadu_ps(reinterpret_cast<const float*>(s + i + 2));
    const __m128i states = _mm_castps_si128(
        _mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i want =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(expected + i));
    differences = _mm_or_si128(differences, _mm_xor_si128(states, want));
  }
  differ = uint32_t(_mm_movemask_epi8(
               _mm_cmpeq_epi32(differences, _mm_setzero_si128()))) ^ 0xFFFF;
#endif
  for (; i < m; ++i) differ |= uint32_t(s[i].state) ^ expected[i];
  return differ == 0;
}

// Step(v, c, true) by `plan`, which PlanFits.
inline int StepByPlan(LiveStates& v, int c, const uint32_t* plan) {
  const size_t m = plan[0], a = plan[1], b = plan[2];
  const MoveGroup* groups = v.automaton->groups.data();
  const int flag = m == 0 ? 0 : IsFoldedUpper(c);
  v.next.clear();
  Cursor k = Open(v, v.next);
  const LiveState* from = v.states.records.get();
  const uint32_t* pair = plan + 3 + m;
  for (size_t i = 0; i < a; ++i, pair += 2)
    FollowGroup(v, v.next, k, groups[pair[1]], from[pair[0]].output, false);
  for (size_t i = 0; i < b; ++i, pair += 2)
    FollowGroup(v, v.next, k, groups[pair[1]], k.out[pair[0]].output, true);
  Shut(v, v.next, k);
  std::swap(v.states, v.next);
  return flag;
}

// Doubles the slots when one more plan would make them more than half
// full; false when that does not fit the budget.
bool RoomForPlan(StepPlans& p, size_t words) {
  const bool grows = (p.plan_count + 1) * 2 > p.slots.size();
  const size_t more = words * sizeof(uint32_t) +
                      (grows ? p.slots.size() * sizeof(uint64_t) : 0);
  if (StepPlanBytes(p) + more > p.budget_bytes) return false;
  if (!grows) return true;
  std::vector<uint64_t> old(p.slots.size() * 2, 0);
  old.swap(p.slots);
  const size_t mask = p.slots.size() - 1;
  for (const uint64_t slot : old) {
    if (slot == 0) continue;
    size_t h = PlanSlot(uint32_t(slot >> 32), mask);
    while (p.slots[h] != 0) h = (h + 1) & mask;
    p.slots[h] = slot;
  }
  return true;
}

// Keeps the plan in `p.recorded` (its counts of groups still to fill in)
// under `key`, in place of any plan kept under it.
void KeepPlan(StepPlans& p, uint32_t key, size_t step_groups) {
  std::vector<uint32_t>& plan = p.recorded;
  const size_t m = plan[0];
  const size_t words = plan.size();
  if (words > kMaxPlanWords) return;
  plan[1] = uint32_t(step_groups);
  plan[2] = uint32_t((words - 3 - m) / 2 - step_groups);
  if (!RoomForPlan(p, words)) {
    ClearStepPlans(p);
    ++p.flushes;
    if (!RoomForPlan(p, words)) return;
  }
  const size_t place = p.words.size();
  p.words.insert(p.words.end(), plan.begin(), plan.end());
  const size_t h = FindPlanSlot(p, key);
  if (p.slots[h] == 0) ++p.plan_count;
  p.slots[h] = uint64_t(key) << 32 | uint64_t(place + 1);
}

}  // namespace

void InitLiveStates(LiveStates& v, const Automaton* t) {
  v.automaton = t;
  ClearStepPlans(v.plans);
  v.states.clear();
  v.next.clear();
  v.nodes.clear();
  Append(v.nodes, OutputNode{0, 0, 0});
}

void StartAtInitialState(LiveStates& v) {
  MakeRoom(v.nodes, 1);
  v.nodes.records[0] = OutputNode{0, 0, 0};
  v.nodes.count = 1;
  v.states.clear();
  Append(v.states, LiveState{0, 0});
}

int StepLiveStates(LiveStates& v, int c) { return Step(v, c, false); }

int StepAndCloseLiveStates(LiveStates& v, int c) { return Step(v, c, true); }

int StepAndCloseByPlan(LiveStates& v, uint32_t name, int c) {
  if (name == 0 || c < 0 || c > 255) return Step(v, c, true);
  StepPlans& p = v.plans;
  const uint32_t key = PlanKey(name, c);
  const uint64_t slot = p.slots[FindPlanSlot(p, key)];
  if (slot != 0) {
    const uint32_t* plan = p.words.data() + (uint32_t(slot) - 1);
    if (PlanFits(v, plan)) return StepByPlan(v, c, plan);
  }
  // A plan for the next time: the list's states, then what the step
  // follows.
  const size_t m = v.states.count;
  if (3 + m > kMaxPlanWords) return Step(v, c, true);
  std::vector<uint32_t>& plan = p.recorded;
  plan.resize(3 + m);
  plan[0] = uint32_t(m);
  for (size_t i = 0; i < m; ++i) plan[3 + i] = uint32_t(v.states.records[i].state);
  size_t step_groups = 0;
  const int flag = Step<true>(v, c, true, &plan, &step_groups);
  KeepPlan(p, key, step_groups);
  return flag;
}

size_t StepPlanBytes(const StepPlans& p) {
  return p.slots.size() * sizeof(uint64_t) + p.words.size() * sizeof(uint32_t);
}

void ClearStepPlans(StepPlans& p) {
  p.slots.assign(kInitialPlanSlots, 0);
  p.plan_count = 0;
  p.words.clear();
}

int CloseOverEpsilons(LiveStates& v) {
  Cursor k = Open(v, v.states);
  CloseFrom(v, v.states, k, 0);
  Shut(v, v.states, k);
  return int(v.states.count);
}

int OutputSymbols(const LiveStates& v, uint32_t node, int32_t* symbols) {
  const int n = int(v.nodes[node].length);
  for (int i = n - 1; i >= 0; --i) {
    symbols[i] = v.nodes[node].symbol;
    node = v.nodes[node].parent;
  }
  return n;
}

}  // namespace etiquem
