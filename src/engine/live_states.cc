// The live-state set; see live_states.h.

#include "engine/live_states.h"

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
  for (size_t i = 0; i < n; ++i) {
    const Move m = g.moves[i];
    uint32_t output = node;
    if (m.output_symbol != 0 && !(epsilon && m.output_symbol == 48) &&
        length < kMaxOutputSymbols) {
      k.arena[nodes] = OutputNode{node, m.output_symbol, length + 1};
      output = uint32_t(nodes++);
    }
    out[i] = LiveState{m.target, output};
  }
  k.count += n;
  k.nodes = nodes;
}

// Adds the epsilon successors of the list's records from `first` on,
// transitively, through the cursor.
inline void CloseFrom(LiveStates& v, RecordList<LiveState>& list, Cursor& k,
                      size_t first) {
  // The list grows while it is walked: new states are visited in the same
  // pass, which makes the closure transitive. Indices stay valid across
  // growth where pointers would not.
  const State* states = v.automaton->states.data();
  for (size_t i = first; i < k.count; ++i) {
    const LiveState s = k.out[i];
    const State& n = states[size_t(s.state)];
    if (n.epsilon_group_count > 0)
      FollowGroup(v, list, k, n.epsilon_groups[0], s.output, true);
  }
}

// The step, and the closure when `close`.
inline int Step(LiveStates& v, int c, bool close) {
  const State* states = v.automaton->states.data();
  const int upper = IsFoldedUpper(c);
  const int flag = v.states.empty() ? 0 : upper;
  v.next.clear();
  Cursor k = Open(v, v.next);
  for (const LiveState& s : v.states) {
    const State& n = states[size_t(s.state)];
    if (n.group_count <= 0) continue;
    int g = StepGroupFor(n, c);
    if (g >= 0) FollowGroup(v, v.next, k, n.groups[g], s.output, false);
    if (upper) {
      g = StepGroupFor(n, c + 32);
      if (g >= 0) FollowGroup(v, v.next, k, n.groups[g], s.output, false);
    }
  }
  if (close) CloseFrom(v, v.next, k, 0);
  Shut(v, v.next, k);
  std::swap(v.states, v.next);
  return flag;
}

}  // namespace

void InitLiveStates(LiveStates& v, const Automaton* t) {
  v.automaton = t;
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
