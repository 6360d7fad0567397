// Writer, checks, minimiser and guesser for the compiler's transducer.
//
// The writer lays the file out as doc/automaton-format.md describes it,
// field by field; that document is the contract with etiquem's loader.

#include "dictionary/automaton_writer.h"

#include <algorithm>
#include <unordered_map>

#include "dictionary/encoding.h"
#include "engine/automaton.h"

namespace etiquem::dictionary {
namespace {

void Int32(std::string& s, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  for (int k = 0; k < 4; ++k)
    s.push_back(static_cast<char>((u >> (8 * k)) & 0xFF));
}

void Int16(std::string& s, int32_t v) {
  const uint16_t u = static_cast<uint16_t>(v);
  s.push_back(static_cast<char>(u & 0xFF));
  s.push_back(static_cast<char>(u >> 8));
}

// One group: `input_symbol`, then the entries (output_symbol, target).
void WriteGroup(std::string& s, int32_t input_symbol,
                const std::vector<const TransducerMove*>& moves) {
  Int16(s, input_symbol);
  Int32(s, static_cast<int32_t>(moves.size()));
  for (const TransducerMove* m : moves) {
    Int16(s, m->output_symbol);
    Int32(s, m->target);
  }
}

void WriteState(std::string& s, int32_t index, const TransducerState& e) {
  std::vector<const TransducerMove*> epsilon_moves;
  std::vector<const TransducerMove*> consuming;
  for (const TransducerMove& m : e.moves)
    (m.input_symbol == kEpsilon ? epsilon_moves : consuming).push_back(&m);
  std::stable_sort(consuming.begin(), consuming.end(),
                   [](const TransducerMove* a, const TransducerMove* b) {
                     return a->input_symbol < b->input_symbol;
                   });
  Int32(s, index);
  Int16(s, epsilon_moves.empty() ? 0 : 1);
  if (!epsilon_moves.empty()) {
    Int32(s, 1);
    WriteGroup(s, 0, epsilon_moves);
  }
  // Markers first: their codes are negative and groups go by signed
  // `input_symbol`.
  static const std::pair<Marker, int32_t> kMarkers[] = {
      {kUnknownMarker, kEndOfUnknown},
      {kPieceMarker, kEndOfPiece},
      {kAnalysisMarker, kEndOfAnalysis}};
  int32_t groups = 0;
  for (const auto& [bit, input_symbol] : kMarkers)
    groups += (e.markers & bit) ? 1 : 0;
  for (size_t i = 0; i < consuming.size(); ++i)
    groups +=
        (i == 0 || consuming[i]->input_symbol != consuming[i - 1]->input_symbol)
            ? 1
            : 0;
  Int32(s, groups);
  const TransducerMove dummy{0, 0, index};
  for (const auto& [bit, input_symbol] : kMarkers)
    if (e.markers & bit) WriteGroup(s, input_symbol, {&dummy});
  for (size_t i = 0; i < consuming.size();) {
    size_t j = i;
    while (j < consuming.size() &&
           consuming[j]->input_symbol == consuming[i]->input_symbol)
      ++j;
    WriteGroup(s, consuming[i]->input_symbol,
               {consuming.begin() + i, consuming.begin() + j});
    i = j;
  }
}

}  // namespace

bool EpsilonCycle(const Transducer& a, int32_t& state) {
  // Iterative depth-first search, so long chains do not exhaust the stack.
  const size_t n = a.states.size();
  std::vector<uint8_t> color(n, 0);  // 0 unseen, 1 on the path, 2 done
  std::vector<std::pair<size_t, size_t>> stack;  // (state, next move)
  for (size_t root = 0; root < n; ++root) {
    if (color[root]) continue;
    color[root] = 1;
    stack.push_back({root, 0});
    while (!stack.empty()) {
      auto& [e, next] = stack.back();
      const auto& ms = a.states[e].moves;
      while (next < ms.size() && ms[next].input_symbol != kEpsilon) ++next;
      if (next == ms.size()) {
        color[e] = 2;
        stack.pop_back();
        continue;
      }
      const size_t target = size_t(ms[next++].target);
      if (target >= n) continue;  // reported by Check
      if (color[target] == 1) {
        state = int32_t(target);
        return true;
      }
      if (color[target] == 0) {
        color[target] = 1;
        stack.push_back({target, 0});
      }
    }
  }
  return false;
}

bool Check(const Transducer& a, std::string& problem) {
  const size_t n = a.states.size();
  if (n == 0) {
    problem = "the transducer has no states";
    return false;
  }
  if (a.symbol_names.size() > size_t(32767 - kFirstNamedSymbol + 1)) {
    problem = "too many multi-character symbols (" +
              std::to_string(a.symbol_names.size()) + "; at most " +
              std::to_string(32767 - kFirstNamedSymbol + 1) + ")";
    return false;
  }
  for (size_t i = 0; i < n; ++i) {
    for (const TransducerMove& m : a.states[i].moves) {
      const std::string on = " (state " + std::to_string(i) + ")";
      if (m.target < 0 || size_t(m.target) >= n) {
        problem = "move to a state that does not exist" + on;
        return false;
      }
      if (m.input_symbol != kEpsilon &&
          (m.input_symbol < 0 || m.input_symbol > 255)) {
        problem = "input symbol " + std::to_string(m.input_symbol) +
                  " is not a byte" + on;
        return false;
      }
      if (m.output_symbol < 0 || m.output_symbol == 256 ||
          m.output_symbol == 257 ||
          (m.output_symbol >= kFirstNamedSymbol &&
           size_t(m.output_symbol - kFirstNamedSymbol) >=
               a.symbol_names.size())) {
        problem = "output symbol " + std::to_string(m.output_symbol) +
                  " is undefined" + on;
        return false;
      }
      if (m.input_symbol == kEpsilon && i == 0) {
        problem =
            "the start state has an epsilon move; the matcher never "
            "follows it";
        return false;
      }
      if (m.input_symbol == kEpsilon && m.output_symbol == '0') {
        problem =
            "an epsilon move writes the digit 0, which the matcher drops" + on;
        return false;
      }
    }
  }
  int32_t state;
  if (EpsilonCycle(a, state)) {
    problem = "cycle of epsilon moves through state " + std::to_string(state);
    return false;
  }
  return true;
}

std::string Serialise(const Transducer& a) {
  std::string alphabet = a.alphabet;
  std::sort(alphabet.begin(), alphabet.end(), [](char x, char y) {
    return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  });
  alphabet.erase(std::unique(alphabet.begin(), alphabet.end()), alphabet.end());
  std::string s;
  Int32(s, static_cast<int32_t>(alphabet.size()));
  s += alphabet;
  Int32(s, static_cast<int32_t>(a.symbol_names.size()));
  for (size_t i = 0; i < a.symbol_names.size(); ++i) {
    Int32(s, static_cast<int32_t>(a.symbol_names[i].size()));
    s += a.symbol_names[i];
    Int32(s, kFirstNamedSymbol + static_cast<int32_t>(i));
  }
  Int32(s, static_cast<int32_t>(a.states.size()));
  for (size_t i = 0; i < a.states.size(); ++i)
    WriteState(s, static_cast<int32_t>(i), a.states[i]);
  return s;
}

namespace {

// States reachable from `start` that can reach a marker.
std::vector<uint8_t> UsefulStates(const Transducer& a, int32_t start) {
  const size_t n = a.states.size();
  std::vector<uint8_t> forward(n, 0), backward(n, 0);
  std::vector<int32_t> queue{start};
  forward[size_t(start)] = 1;
  while (!queue.empty()) {
    int32_t e = queue.back();
    queue.pop_back();
    for (const TransducerMove& m : a.states[size_t(e)].moves)
      if (!forward[size_t(m.target)]) {
        forward[size_t(m.target)] = 1;
        queue.push_back(m.target);
      }
  }
  std::vector<std::vector<int32_t>> predecessors(n);
  for (size_t i = 0; i < n; ++i)
    for (const TransducerMove& m : a.states[i].moves)
      predecessors[size_t(m.target)].push_back(int32_t(i));
  for (size_t i = 0; i < n; ++i)
    if (a.states[i].markers) {
      backward[i] = 1;
      queue.push_back(int32_t(i));
    }
  while (!queue.empty()) {
    int32_t e = queue.back();
    queue.pop_back();
    for (int32_t p : predecessors[size_t(e)])
      if (!backward[size_t(p)]) {
        backward[size_t(p)] = 1;
        queue.push_back(p);
      }
  }
  for (size_t i = 0; i < n; ++i) forward[i] = forward[i] && backward[i];
  forward[size_t(start)] = 1;
  return forward;
}

}  // namespace

void Minimise(Transducer& a, int32_t start) {
  const size_t n = a.states.size();
  std::vector<uint8_t> useful = UsefulStates(a, start);
  for (size_t i = 0; i < n; ++i) {
    auto& ms = a.states[i].moves;
    ms.erase(std::remove_if(ms.begin(), ms.end(),
                            [&](const TransducerMove& m) {
                              return !useful[size_t(m.target)];
                            }),
             ms.end());
  }
  // Moore refinement: a state's class is refined by the classes of its
  // moves' destinations until no class splits.
  std::vector<int32_t> class_id(n, -1);
  for (size_t i = 0; i < n; ++i)
    if (useful[i]) class_id[i] = a.states[i].markers;
  size_t class_count = 0;
  std::string key;
  for (;;) {
    std::unordered_map<std::string, int32_t> signatures;
    std::vector<int32_t> refined(n, -1);
    for (size_t i = 0; i < n; ++i) {
      if (!useful[i]) continue;
      key.clear();
      auto add = [&key](int32_t v) {
        key.append(reinterpret_cast<const char*>(&v), sizeof v);
      };
      add(class_id[i]);
      for (const TransducerMove& m : a.states[i].moves) {
        add(m.input_symbol);
        add(m.output_symbol);
        add(class_id[size_t(m.target)]);
      }
      auto [it, is_new] =
          signatures.try_emplace(key, int32_t(signatures.size()));
      refined[i] = it->second;
    }
    class_id.swap(refined);
    if (signatures.size() == class_count) break;
    class_count = signatures.size();
  }
  // One representative per class; number classes depth-first from the start.
  std::vector<int32_t> representative(class_count, -1);
  for (size_t i = 0; i < n; ++i)
    if (useful[i] && representative[size_t(class_id[i])] < 0)
      representative[size_t(class_id[i])] = int32_t(i);
  std::vector<int32_t> number(class_count, -1);
  std::vector<int32_t> input_number;
  std::vector<int32_t> stack{class_id[size_t(start)]};
  while (!stack.empty()) {
    int32_t c = stack.back();
    stack.pop_back();
    if (number[size_t(c)] >= 0) continue;
    number[size_t(c)] = int32_t(input_number.size());
    input_number.push_back(c);
    const auto& ms = a.states[size_t(representative[size_t(c)])].moves;
    for (auto it = ms.rbegin(); it != ms.rend(); ++it)
      if (number[size_t(class_id[size_t(it->target)])] < 0)
        stack.push_back(class_id[size_t(it->target)]);
  }
  std::vector<TransducerState> states(input_number.size());
  for (size_t k = 0; k < input_number.size(); ++k) {
    TransducerState& e =
        a.states[size_t(representative[size_t(input_number[k])])];
    states[k].markers = e.markers;
    states[k].moves = std::move(e.moves);
    for (TransducerMove& m : states[k].moves)
      m.target = number[size_t(class_id[size_t(m.target)])];
  }
  a.states = std::move(states);
}

void AddUnknownWordGuesser(Transducer& a, const std::string& letters) {
  bool present[256] = {};
  for (char c : letters) present[static_cast<unsigned char>(c)] = true;
  if (a.states.empty()) a.states.emplace_back();
  const int32_t g = static_cast<int32_t>(a.states.size());
  a.states.emplace_back();
  a.states.back().markers = kUnknownMarker;
  for (int c = 1; c < 256; ++c) {
    if (!present[c] || (IsFoldedUpper(c) && c + 32 < 256 && present[c + 32]))
      continue;
    a.states[0].moves.push_back({c, 0, g});
    a.states[size_t(g)].moves.push_back({c, 0, g});
  }
}

std::string LettersOf(const std::string& alphabet) {
  std::string s;
  for (char c : alphabet)
    if (IsLatin1Letter(static_cast<unsigned char>(c))) s.push_back(c);
  return s;
}

std::string DefaultAlphabet(const Transducer& a) {
  bool present[256] = {};
  for (const TransducerState& e : a.states)
    for (const TransducerMove& m : e.moves)
      if (m.input_symbol >= 0 && m.input_symbol < 256)
        present[m.input_symbol] = true;
  present[static_cast<unsigned char>('\'')] = true;
  present[static_cast<unsigned char>('-')] = true;
  present[0xB7] = true;
  std::string s;
  for (int c = 1; c < 256; ++c)
    if (present[c] &&
        (IsLatin1Letter(static_cast<unsigned char>(c)) ||
         (c >= '0' && c <= '9') || c == '\'' || c == '-' || c == 0xB7))
      s.push_back(static_cast<char>(c));
  return s;
}

}  // namespace etiquem::dictionary
