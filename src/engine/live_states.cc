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
// output already holding kMaxOutputSymbols symbols drops the symbol. Sizes are
// counted here rather than asked of the vectors at every move: this runs for
// every move followed.
inline void Follow(LiveStates& v, std::vector<LiveState>& list,
                   const MoveGroup& g, uint32_t node, bool epsilon) {
  const int32_t n = g.move_count;
  const uint32_t length = v.nodes[node].length;
  size_t live_count = list.size();
  size_t nodes = v.nodes.size();
  const bool check_targets = !v.automaton->targets_valid;
  for (int32_t i = 0; i < n; ++i) {
    const Move m = g.moves[i];
    if (live_count++ >= v.max_states) OutOfLiveStateMemory(v);
    if (check_targets && (m.target < 0 || m.target >= v.automaton->state_count))
      MissingTarget(v, m.target);
    uint32_t output = node;
    if (m.output_symbol != 0 && !(epsilon && m.output_symbol == 48) &&
        length < kMaxOutputSymbols) {
      if (nodes >= v.max_nodes) OutOfLiveStateMemory(v);
      v.nodes.push_back(OutputNode{node, m.output_symbol, length + 1});
      output = uint32_t(nodes++);
    }
    list.push_back(LiveState{m.target, output});
  }
}

}  // namespace

void InitLiveStates(LiveStates& v, const Automaton* t) {
  v.automaton = t;
  v.states.clear();
  v.next.clear();
  v.nodes.clear();
  v.nodes.push_back(OutputNode{0, 0, 0});
}

void StartAtInitialState(LiveStates& v) {
  v.nodes.resize(1);
  v.states.clear();
  v.states.push_back(LiveState{0, 0});
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
  v.states.swap(v.next);
  return flag;
}

int CloseOverEpsilons(LiveStates& v) {
  // The list grows while it is walked: new states are visited in the same
  // pass, which makes the closure transitive. Indices stay valid across
  // growth where references would not.
  for (size_t i = 0; i < v.states.size(); ++i) {
    const LiveState s = v.states[i];
    const State& n = v.automaton->states[size_t(s.state)];
    if (n.epsilon_group_count > 0)
      Follow(v, v.states, n.epsilon_groups[0], s.output, true);
  }
  return int(v.states.size());
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
