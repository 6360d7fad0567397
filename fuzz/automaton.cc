// Fuzz target: the automaton loader on arbitrary bytes.
//
// Every input is either refused with one line beginning "Error" or loaded
// into a model whose pointers stay inside its own storage. A loaded model is
// then looked up the way the matcher does (every byte on every state, every
// output symbol's define), so an inconsistent model shows up under the
// sanitizers here rather than in a run.

#include "engine/automaton.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include "common.h"

namespace {

using etiquem::Automaton;
using etiquem::Move;
using etiquem::MoveGroup;
using etiquem::State;
using etiquem::fuzz::Fail;

bool Inside(const MoveGroup* p, int32_t n, const Automaton& t) {
  if (n <= 0) return true;
  if (p == nullptr || t.groups.empty()) return false;
  const MoveGroup* start = t.groups.data();
  return p >= start && p + n <= start + t.groups.size();
}

bool Inside(const Move* p, int32_t n, const Automaton& t) {
  if (n <= 0) return true;
  if (p == nullptr || t.moves.empty()) return false;
  const Move* start = t.moves.data();
  return p >= start && p + n <= start + t.moves.size();
}

void CheckGroups(const Automaton& t, const MoveGroup* g, int32_t n) {
  if (!Inside(g, n, t)) Fail("group list outside the model's storage");
  for (int32_t i = 0; i < n; ++i) {
    if (!Inside(g[i].moves, g[i].move_count, t))
      Fail("move list outside the model's storage");
    for (int32_t j = 0; j < g[i].move_count; ++j) {
      const int16_t output_symbol = g[i].moves[j].output_symbol;
      if (output_symbol >= etiquem::kFirstNamedSymbol)
        (void)etiquem::NameOfSymbol(t, output_symbol);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Automaton t;
  std::string error;
  if (!etiquem::LoadAutomatonFromBytes(t, "fuzz.bin", data, size, error)) {
    etiquem::fuzz::CheckMessage(error);
    if (error.back() != '\n') Fail("refusal without its line end", "", error);
    if (!t.states.empty()) Fail("refused model keeps states");
    return 0;
  }
  if (t.state_count <= 0 || size_t(t.state_count) != t.states.size())
    Fail("state count differs from the states loaded");
  if (t.alphabet_length < 0 || size_t(t.alphabet_length) != t.alphabet.size())
    Fail("alphabet length differs from the alphabet");
  for (const State& n : t.states) {
    CheckGroups(t, n.groups, n.group_count);
    CheckGroups(t, n.epsilon_groups, n.epsilon_group_count);
    if (n.marker_count > 0 &&
        uint64_t(n.first_marker) + uint64_t(n.marker_count) > t.markers.size())
      Fail("marker list outside the model's storage");
  }
  // The lookups of a step, on a bounded number of states.
  const size_t states = t.states.size() < 64 ? t.states.size() : 64;
  for (size_t s = 0; s < states; ++s) {
    const State& n = t.states[s];
    for (int c = 0; c < 256; ++c) {
      int g = etiquem::FindGroup(n.groups, c, n.group_count);
      if (g >= 0 && (g >= n.group_count || n.groups[g].input_symbol != c))
        Fail("BuscBin found a group that does not match");
      (void)etiquem::IsLetter(t, c);
    }
  }
  return 0;
}
