// AT&T text reader (into the compiler's transducer) and writer (from a
// loaded automaton), and the counts of `etiquem-dictionary info`.

#include "dictionary/att.h"

#include <charconv>
#include <cstdio>
#include <unordered_map>

#include "dictionary/encoding.h"

namespace etiquem::dictionary {
namespace {

constexpr const char* kPieceMarkerSymbol = "@fin_parcial@";
constexpr const char* kUnknownMarkerSymbol = "@fin_descon@";

// What the reader gathers, with external state numbers made dense.
struct AttReader {
  const std::string& name;
  std::string& error;
  size_t line = 0;
  Transducer a;
  std::unordered_map<long long, int32_t> index;  // external -> dense
  std::vector<long long> external_numbers;       // dense -> external
  std::unordered_map<std::string, int32_t> name_code;
  int32_t start = -1;

  bool Fail(const std::string& problem) {
    error = "Error: " + name + ":" + std::to_string(line) + ": " + problem;
    return false;
  }
};

bool StateNumber(AttReader& l, std::string_view field, int32_t& state) {
  long long v = -1;
  auto [p, ec] = std::from_chars(field.data(), field.data() + field.size(), v);
  if (ec != std::errc() || p != field.data() + field.size() || v < 0 ||
      v > INT32_MAX)
    return l.Fail("bad state number '" + std::string(field) + "'");
  auto [it, inserted] =
      l.index.try_emplace(v, int32_t(l.external_numbers.size()));
  if (inserted) {
    l.external_numbers.push_back(v);
    l.a.states.emplace_back();
  }
  state = it->second;
  return true;
}

// A symbol: kEpsilon, a byte, a define code, or (output side only) one of
// the two marker symbols, returned in `marker`.
bool ParseSymbol(AttReader& l, std::string_view field, bool output,
                 int32_t& code, uint8_t& marker) {
  marker = 0;
  if (field == "@0@" || field == "@_EPSILON_SYMBOL_@" || field == "<eps>") {
    code = kEpsilon;
    return true;
  }
  if (field == "@_SPACE_@" || field == "@_TAB_@" || field == "@_LF_@") {
    code = field == "@_SPACE_@" ? ' ' : field == "@_TAB_@" ? '\t' : '\n';
    return true;
  }
  if (output &&
      (field == kPieceMarkerSymbol || field == kUnknownMarkerSymbol)) {
    marker = field == kPieceMarkerSymbol ? kPieceMarker : kUnknownMarker;
    code = kEpsilon;
    return true;
  }
  std::string latin1, problem;
  if (!ToLatin1(field, Encoding::kUtf8, latin1, problem))
    return l.Fail("symbol '" + std::string(field) + "': " + problem);
  if (latin1.empty()) return l.Fail("empty symbol");
  if (latin1.size() == 1) {
    code = static_cast<unsigned char>(latin1[0]);
    if (code == 0) return l.Fail("NUL character as a symbol");
    return true;
  }
  if (latin1.size() > 2 && latin1.front() == '@' && latin1.back() == '@')
    return l.Fail("special symbol '" + std::string(field) +
                  "' is not supported");
  if (!output)
    return l.Fail("multi-character symbol '" + std::string(field) +
                  "' on the input side; input is read one character at a "
                  "time");
  std::string name = latin1;
  if (name.size() > 2 && name.front() == '<' && name.back() == '>')
    name = name.substr(1, name.size() - 2);
  auto [it, inserted] = l.name_code.try_emplace(
      name, kFirstNamedSymbol + int32_t(l.a.symbol_names.size()));
  if (inserted) {
    if (l.a.symbol_names.size() == size_t(32767 - kFirstNamedSymbol + 1))
      return l.Fail("too many multi-character symbols");
    l.a.symbol_names.push_back(name);
  }
  code = it->second;
  return true;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  const bool tabs = line.find('\t') != std::string_view::npos;
  size_t start = 0;
  while (start <= line.size()) {
    if (!tabs) {
      start = line.find_first_not_of(' ', start);
      if (start == std::string_view::npos) break;
    }
    size_t end = line.find(tabs ? '\t' : ' ', start);
    if (end == std::string_view::npos) end = line.size();
    fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

bool ParseLine(AttReader& l, std::string_view line) {
  std::vector<std::string_view> fields = SplitFields(line);
  if (fields.size() == 1 && fields[0] == "--")
    return l.Fail("several transducers in one file; give one");
  if (fields.size() == 1 || fields.size() == 2) {
    int32_t e;
    if (!StateNumber(l, fields[0], e)) return false;
    if (l.start < 0) l.start = e;
    l.a.states[size_t(e)].markers |= kAnalysisMarker;
    return true;
  }
  if (fields.size() != 4 && fields.size() != 5)
    return l.Fail(
        "expected 'src dst input output [weight]' or "
        "'state [weight]', found " +
        std::to_string(fields.size()) + " fields");
  int32_t src, dst, input_symbol, output_symbol;
  uint8_t input_marker, marker;
  if (!StateNumber(l, fields[0], src) || !StateNumber(l, fields[1], dst) ||
      !ParseSymbol(l, fields[2], false, input_symbol, input_marker) ||
      !ParseSymbol(l, fields[3], true, output_symbol, marker))
    return false;
  if (l.start < 0) l.start = src;
  if (marker) {
    if (input_symbol != kEpsilon)
      return l.Fail("'" + std::string(fields[3]) +
                    "' needs the epsilon input symbol");
    l.a.states[size_t(src)].markers |= marker;
    return true;
  }
  if (input_symbol == kEpsilon && output_symbol == '0')
    return l.Fail(
        "an epsilon move cannot write the digit 0 (the matcher "
        "drops it)");
  l.a.states[size_t(src)].moves.push_back(
      {input_symbol, output_symbol == kEpsilon ? 0 : output_symbol, dst});
  return true;
}

// Output symbols of one path, without the empty ones.
void AppendSymbol(std::vector<int32_t>& output, int32_t output_symbol) {
  if (output_symbol != 0) output.push_back(output_symbol);
}

// The start state is never closed under epsilon moves, so its epsilon paths
// are folded into a new start state: every consuming move that ends such a
// path leaves the new state, writing the path's first output symbol, and the
// rest of the outputs follow on a chain of epsilon moves.
bool FoldStart(AttReader& l, std::vector<std::string>& warnings) {
  Transducer& a = l.a;
  const int32_t s = l.start;
  bool has_epsilon = false;
  for (const TransducerMove& m : a.states[size_t(s)].moves)
    has_epsilon = has_epsilon || m.input_symbol == kEpsilon;
  if (a.states[size_t(s)].markers)
    warnings.push_back(
        "the start state is final: the analysis of the empty "
        "word is dropped");
  if (!has_epsilon) return true;
  const int32_t folded_start = int32_t(a.states.size());
  a.states.emplace_back();
  // Depth-first over epsilon paths (there are no epsilon cycles).
  struct PathStep {
    int32_t state;
    std::vector<int32_t> output;
  };
  std::vector<PathStep> stack{{s, {}}};
  bool final_by_epsilon = false;
  while (!stack.empty()) {
    PathStep p = std::move(stack.back());
    stack.pop_back();
    if (p.state != s && a.states[size_t(p.state)].markers)
      final_by_epsilon = true;
    const std::vector<TransducerMove> moves = a.states[size_t(p.state)].moves;
    for (const TransducerMove& m : moves) {
      if (m.input_symbol == kEpsilon) continue;
      // A consuming move ends the path: chain its outputs from the new start.
      std::vector<int32_t> output = p.output;
      AppendSymbol(output, m.output_symbol);
      int32_t target = m.target;
      for (size_t k = output.size(); k-- > 1;) {
        if (output[k] == '0') {
          l.error = "Error: " + l.name +
                    ": the start state's epsilon moves would need an epsilon "
                    "move writing the digit 0";
          return false;
        }
        const int32_t step_state = int32_t(a.states.size());
        a.states.emplace_back();
        a.states.back().moves.push_back({kEpsilon, output[k], target});
        target = step_state;
      }
      a.states[size_t(folded_start)].moves.push_back(
          {m.input_symbol, output.empty() ? 0 : output[0], target});
    }
    for (auto it = moves.rbegin(); it != moves.rend(); ++it) {
      if (it->input_symbol != kEpsilon) continue;
      std::vector<int32_t> output = p.output;
      AppendSymbol(output, it->output_symbol);
      stack.push_back({it->target, std::move(output)});
    }
  }
  if (final_by_epsilon)
    warnings.push_back(
        "a final state is reached from the start state by "
        "epsilon moves alone: the analysis of the empty word is "
        "dropped");
  l.start = folded_start;
  return true;
}

}  // namespace

bool CompileAtt(const std::string& name, std::string_view bytes, Transducer& a,
                std::string& error, std::vector<std::string>& warnings) {
  AttReader l{name, error, 0, {}, {}, {}, {}, -1};
  for (size_t start = 0; start < bytes.size();) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(start, end - start);
    start = end + 1;
    ++l.line;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // A carriage return is a line end or nothing: a symbol holding one would
    // be dumped raw and read back as a line end, as the lexicon reader knows.
    if (line.find('\r') != std::string_view::npos)
      return l.Fail("carriage return inside the line");
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    if (!ParseLine(l, line)) return false;
  }
  if (l.start < 0) {
    error = "Error: " + name + ": no states";
    return false;
  }
  int32_t state;
  if (EpsilonCycle(l.a, state)) {
    error = "Error: " + name + ": cycle of epsilon moves through state " +
            std::to_string(l.external_numbers[size_t(state)]);
    return false;
  }
  if (!FoldStart(l, warnings)) return false;
  Minimise(l.a, l.start);
  l.a.alphabet = DefaultAlphabet(l.a);
  std::string problem;
  if (!Check(l.a, problem)) {
    error = "Error: " + name + ": " + problem;
    return false;
  }
  a = std::move(l.a);
  return true;
}

namespace {

std::string CharacterSymbol(int32_t c) {
  if (c == ' ') return "@_SPACE_@";
  if (c == '\t') return "@_TAB_@";
  if (c == '\n') return "@_LF_@";
  return ToUtf8(std::string(1, static_cast<char>(c)));
}

bool OutputSymbolText(const Automaton& t, int32_t output_symbol, bool epsilon,
                      std::string& s, std::string& error) {
  if (output_symbol == 0 || output_symbol == 256 ||
      (epsilon && output_symbol == '0')) {
    s = "@0@";
  } else if (output_symbol < kFirstNamedSymbol) {
    s = CharacterSymbol(output_symbol & 0xFF);
  } else if (const std::string* name = NameOfSymbol(t, output_symbol)) {
    s = "<" + ToUtf8(*name) + ">";
  } else {
    error = "Error: output symbol " + std::to_string(output_symbol) +
            " has no define";
    return false;
  }
  return true;
}

}  // namespace

bool DumpAtt(const Automaton& t, std::string& text, std::string& error) {
  text.clear();
  std::string finals, markers, output;
  int32_t extra = t.state_count;
  auto arc = [&](int32_t src, int32_t target, const std::string& in,
                 const std::string& out) {
    text += std::to_string(src) + "\t" + std::to_string(target) + "\t" + in +
            "\t" + out + "\n";
  };
  for (int32_t i = 0; i < t.state_count; ++i) {
    const State& n = t.states[size_t(i)];
    if (n.epsilon_group_count > 0)
      for (int32_t k = 0; k < n.epsilon_groups[0].move_count; ++k) {
        const Move& m = n.epsilon_groups[0].moves[k];
        if (!OutputSymbolText(t, m.output_symbol, true, output, error))
          return false;
        arc(i, m.target, "@0@", output);
      }
    for (int32_t g = 0; g < n.group_count; ++g) {
      const MoveGroup& group = n.groups[g];
      if (group.input_symbol == kEndOfAnalysis) {
        finals += std::to_string(i) + "\n";
      } else if (group.input_symbol == kEndOfPiece ||
                 group.input_symbol == kEndOfUnknown) {
        const int32_t f = extra++;
        markers += std::to_string(i) + "\t" + std::to_string(f) + "\t@0@\t" +
                   (group.input_symbol == kEndOfPiece ? kPieceMarkerSymbol
                                                      : kUnknownMarkerSymbol) +
                   "\n" + std::to_string(f) + "\n";
      }
      if (group.input_symbol < 0 || group.input_symbol > 255) continue;
      for (int32_t k = 0; k < group.move_count; ++k) {
        const Move& m = group.moves[k];
        if (!OutputSymbolText(t, m.output_symbol, false, output, error))
          return false;
        arc(i, m.target, CharacterSymbol(group.input_symbol), output);
      }
    }
  }
  text += markers;
  text += finals;
  return true;
}

std::string CountsReport(const Automaton& t, size_t file_size) {
  size_t character_groups = 0, other_groups = 0, moves = 0;
  size_t epsilon_states = 0, epsilon_group_total = 0, epsilon_moves = 0,
         dead_epsilon_moves = 0;
  size_t output = 0, piece = 0, unknown = 0;
  for (const State& n : t.states) {
    if (n.epsilon_group_count > 0) {
      ++epsilon_states;
      epsilon_group_total += size_t(n.epsilon_group_count);
      epsilon_moves += size_t(n.epsilon_groups[0].move_count);
      for (int32_t g = 1; g < n.epsilon_group_count; ++g)
        dead_epsilon_moves += size_t(n.epsilon_groups[g].move_count);
    }
    for (int32_t g = 0; g < n.group_count; ++g) {
      const int input_symbol = n.groups[g].input_symbol;
      if (input_symbol == kEndOfAnalysis) {
        ++output;
      } else if (input_symbol == kEndOfPiece) {
        ++piece;
      } else if (input_symbol == kEndOfUnknown) {
        ++unknown;
      } else if (input_symbol >= 0 && input_symbol <= 255) {
        ++character_groups;
        moves += size_t(n.groups[g].move_count);
      } else {
        ++other_groups;
      }
    }
  }
  int32_t min_code = 0, max_code = 0;
  for (size_t i = 0; i < t.symbol_names.size(); ++i) {
    if (i == 0 || t.symbol_names[i].code < min_code)
      min_code = t.symbol_names[i].code;
    if (i == 0 || t.symbol_names[i].code > max_code)
      max_code = t.symbol_names[i].code;
  }
  auto line = [](const char* name, const std::string& value) {
    return std::string(name) + ": " + value + "\n";
  };
  auto n = [](size_t v) { return std::to_string(v); };
  std::string s;
  s += line("file bytes", n(file_size));
  s += line("states", n(t.states.size()));
  s += line("character groups", n(character_groups));
  s += line("consuming moves", n(moves));
  if (other_groups) s += line("unfollowable groups", n(other_groups));
  s += line("states with epsilon moves", n(epsilon_states));
  s += line("epsilon groups", n(epsilon_group_total));
  s += line("epsilon moves", n(epsilon_moves));
  if (dead_epsilon_moves)
    s += line("epsilon moves never followed", n(dead_epsilon_moves));
  s += line("complete-analysis markers", n(output));
  s += line("compound-piece markers", n(piece));
  s += line("unknown-word markers", n(unknown));
  s += line("defines", n(t.symbol_names.size()) +
                           (t.symbol_names.empty()
                                ? std::string()
                                : ", codes " + std::to_string(min_code) + "-" +
                                      std::to_string(max_code)));
  std::string alphabet;
  for (char c : t.alphabet)
    alphabet += (c == ' ' || c == '\t' || c == '\n') ? std::string("\\s")
                                                     : std::string(1, c);
  s += line("alphabet", n(t.alphabet.size()) + " bytes: " + ToUtf8(alphabet));
  return s;
}

}  // namespace etiquem::dictionary
