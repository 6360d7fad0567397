// Parses automaton descriptions and writes their bytes (see
// automaton_builder.h).

#include "automaton_builder.h"

#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "scratch_directory.h"

namespace etiquem::test_support {

namespace {

std::string Unescape(const std::string& t) {
  std::string r;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] != '\\' || i + 1 == t.size()) {
      r += t[i];
      continue;
    }
    char e = t[++i];
    if (e == 's')
      r += ' ';
    else if (e == 't')
      r += '\t';
    else if (e == 'n')
      r += '\n';
    else if (e == 'x' && i + 2 < t.size()) {
      r += char(std::stoi(t.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else
      r += e;
  }
  return r;
}

int32_t ParseSymbol(const AutomatonDescription& a, const std::string& token) {
  if (token == "-") return 0;
  if (token.size() > 1 && token[0] == '#') return std::stoi(token.substr(1));
  if (token.size() > 1 && token[0] == '&') {
    for (auto& [name, code] : a.symbol_names)
      if (name == token.substr(1)) return code;
    throw std::runtime_error("unknown define " + token);
  }
  std::string b = Unescape(token);
  if (b.size() != 1) throw std::runtime_error("bad symbol " + token);
  return uint8_t(b[0]);
}

void AddMove(std::vector<DescribedGroup>& groups, int16_t input_symbol,
             int16_t output_symbol, int32_t target) {
  if (groups.empty() || groups.back().input_symbol != input_symbol)
    groups.push_back({input_symbol, {}});
  groups.back().moves.push_back({output_symbol, target});
}

void Int32(std::string& o, int32_t v) {
  uint32_t u = uint32_t(v);
  for (int i = 0; i < 4; ++i) o += char((u >> (8 * i)) & 0xFF);
}
void Int16(std::string& o, int16_t v) {
  uint16_t u = uint16_t(v);
  o += char(u & 0xFF);
  o += char(u >> 8);
}

void List(std::string& o, const std::vector<DescribedGroup>& groups) {
  Int32(o, int32_t(groups.size()));
  for (const DescribedGroup& g : groups) {
    Int16(o, g.input_symbol);
    Int32(o, int32_t(g.moves.size()));
    for (auto [output_symbol, target] : g.moves) {
      Int16(o, output_symbol);
      Int32(o, target);
    }
  }
}

}  // namespace

AutomatonDescription ParseDescription(const std::string& text) {
  AutomatonDescription a;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    size_t h = line.find(" # ");
    if (h != std::string::npos) line.resize(h);
    std::istringstream ss(line);
    std::string input_number;
    if (!(ss >> input_number)) continue;
    // "#" then a digit or "-" is a numeric symbol; any other "#" a comment.
    if (input_number[0] == '#' &&
        (input_number.size() == 1 ||
         !(isdigit(uint8_t(input_number[1])) || input_number[1] == '-')))
      continue;
    if (input_number == "alfabet") {
      std::string b;
      ss >> b;
      a.alphabet = Unescape(b);
    } else if (input_number == "define") {
      std::string name;
      int32_t code;
      ss >> name >> code;
      a.symbol_names.push_back({name, code});
    } else if (input_number == "estat") {
      int32_t n;
      ss >> n;
      if (n != int32_t(a.states.size()))
        throw std::runtime_error("states must be numbered in order");
      a.states.push_back({n, -32768, {}, {}});
    } else {
      if (a.states.empty()) throw std::runtime_error("move before estat");
      DescribedState& e = a.states.back();
      if (input_number == "fi" || input_number == "parcial" ||
          input_number == "descon") {
        int16_t input_symbol = input_number == "fi"        ? -10000
                               : input_number == "parcial" ? -20000
                                                           : -30000;
        e.groups.push_back({input_symbol, {{0, int32_t(a.states.size() - 1)}}});
      } else if (input_number == "flag") {
        ss >> e.flag;
      } else if (input_number == "estado") {
        ss >> e.file_number;
      } else if (input_number == "eps" || input_number == "eps2") {
        std::string output_symbol;
        int32_t target;
        if (!(ss >> output_symbol >> target))
          throw std::runtime_error("bad line: " + line);
        size_t g = input_number == "eps" ? 0 : 1;
        if (e.epsilon_groups.size() <= g) e.epsilon_groups.resize(g + 1);
        e.epsilon_groups[g].moves.push_back(
            {int16_t(ParseSymbol(a, output_symbol)), target});
      } else {
        std::string output_symbol;
        int32_t target;
        if (!(ss >> output_symbol >> target))
          throw std::runtime_error("bad line: " + line);
        AddMove(e.groups, int16_t(ParseSymbol(a, input_number)),
                int16_t(ParseSymbol(a, output_symbol)), target);
      }
    }
  }
  return a;
}

std::string Bytes(const AutomatonDescription& a) {
  std::string o;
  Int32(o, int32_t(a.alphabet.size()));
  o += a.alphabet;
  Int32(o, int32_t(a.symbol_names.size()));
  for (auto& [name, code] : a.symbol_names) {
    Int32(o, int32_t(name.size()));
    o += name;
    Int32(o, code);
  }
  Int32(o, int32_t(a.states.size()));
  for (const DescribedState& e : a.states) {
    Int32(o, e.file_number);
    int16_t flag =
        e.flag != -32768 ? e.flag : (e.epsilon_groups.empty() ? 0 : 1);
    Int16(o, flag);
    if (flag == 1) List(o, e.epsilon_groups);
    List(o, e.groups);
  }
  return o;
}

std::string WriteFile(const std::string& bytes, const std::string& name) {
  const std::string path = ScratchPath(name);
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), std::streamsize(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
  return path;
}

}  // namespace etiquem::test_support
