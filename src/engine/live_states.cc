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
// bound is reported at the move that passes it.
inline void Follow(LiveStates& v, RecordList<LiveState>& list,
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

int StepLiveStates(LiveStates& v, int c) {
  const int upper = IsFoldedUpper(c);
  int flag = 0;
  v.next.clear();
  for (const LiveState& s : v.states) {
    const State& n = v.automaton->states[size_t(s.state)];
    flag = upper;
    if (n.group_count <= 0) continue;
    int g = GroupFor(n, c);
    if (g >= 0) Follow(v, v.next, n.groups[g], s.output, false);
    if (upper) {
      g = GroupFor(n, c + 32);
      if (g >= 0) Follow(v, v.next, n.groups[g], s.output, false);
    }
  }
  std::swap(v.states, v.next);
  return flag;
}

int CloseOverEpsilons(LiveStates& v) {
  // The list grows while it is walked: new states are visited in the same
  // pass, which makes the closure transitive. Indices stay valid across
  // growth where references would not.
  for (size_t i = 0; i < v.states.count; ++i) {
    const LiveState s = v.states[i];
    const State& n = v.automaton->states[size_t(s.state)];
    if (n.epsilon_group_count > 0)
      Follow(v, v.states, n.epsilon_groups[0], s.output, true);
  }
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
