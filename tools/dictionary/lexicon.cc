// Full-form lexicon reader, trie builder and hash-consing minimiser.
//
// Storage is flat: entries keep offsets into one byte pool (surface forms)
// and one symbol pool (lexical forms), and the trie keeps its nodes and
// edges in two vectors with sibling links, so a lexicon costs a handful of
// allocations however large it is.

#include "dictionary/lexicon.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace etiquem::dictionary {
namespace {

constexpr uint32_t kNone = UINT32_MAX;  // no node / no edge

// Longest surface form: a match spans at most 254 input characters.
constexpr size_t kMaxForm = 254;

// One entry line. Lexical symbols: 1..255 a byte, -(t + 1) tag number t.
struct LexiconEntry {
  uint32_t form;          // offset of the surface form in the byte pool
  uint32_t symbols;       // offset of the lexical form in the symbol pool
  uint16_t form_length;   // surface bytes
  uint16_t symbol_count;  // lexical symbols
  uint16_t prefix;        // lexical bytes before the first tag
  uint8_t marker;         // Marker bit of the kind of reading
  uint32_t line;          // line in the source, from 1
};

// What the reader gathers.
struct Lexicon {
  std::string forms;             // surface bytes of all entries
  std::vector<int32_t> symbols;  // lexical symbols of all entries
  std::vector<LexiconEntry> entries;
  std::vector<std::string> tags;  // tag names by tag number
  std::unordered_map<std::string, int32_t> tag_number;
  bool has_alphabet = false;
  std::string alphabet;
  bool has_guesser = false;
  std::string guesser;  // empty: the letters of the alphabet
  bool whole_words = false;  // @whole-words: the kWholeWords symbol is added
};

// The reader's place, for messages.
struct SourcePlace {
  const std::string& name;
  size_t line;
  std::string& error;
  bool Fail(const std::string& problem) {
    error = "Error: " + name + ":" + std::to_string(line) + ": " + problem;
    return false;
  }
};

std::string Shown(std::string_view latin1) { return ToUtf8(latin1); }

// Surface form or directive argument with backslash escapes (\t a tab, any
// other escaped byte itself).
bool Unescape(std::string_view field, std::string& output, SourcePlace& place) {
  output.clear();
  for (size_t i = 0; i < field.size(); ++i) {
    char c = field[i];
    if (c == '\\') {
      if (++i == field.size())
        return place.Fail("backslash at the end of a field");
      c = field[i] == 't' ? '\t' : field[i];
    }
    if (c == '\0') return place.Fail("NUL byte in the line");
    output.push_back(c);
  }
  return true;
}

bool ValidTagName(std::string_view name) {
  if (name.empty()) return false;
  for (char ch : name) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c <= ' ' || c == 0x7F || c == '<' || c == '>' || c == '&' || c == ';')
      return false;
  }
  return true;
}

// Lexical form: bytes (with escapes) and <tag> symbols, appended to the pool.
bool ReadLexicalForm(std::string_view field, Lexicon& lexicon, uint16_t& prefix,
                     SourcePlace& place) {
  bool tag_seen = false;
  prefix = 0;
  for (size_t i = 0; i < field.size(); ++i) {
    char c = field[i];
    if (c == '<') {
      size_t end = field.find('>', i + 1);
      if (end == std::string_view::npos)
        return place.Fail("tag without its closing '>'");
      std::string_view name = field.substr(i + 1, end - i - 1);
      if (!ValidTagName(name))
        return place.Fail("bad tag name <" + Shown(name) +
                          "> (no blanks, '<', '>', '&' or ';')");
      if (name == kWholeWords)
        return place.Fail("the tag name <" + std::string(kWholeWords) +
                          "> is reserved for the @whole-words directive");
      auto [it, inserted] = lexicon.tag_number.try_emplace(
          std::string(name), int32_t(lexicon.tags.size()));
      if (inserted) lexicon.tags.emplace_back(name);
      lexicon.symbols.push_back(-(it->second + 1));
      tag_seen = true;
      i = end;
      continue;
    }
    if (c == '>')
      return place.Fail("'>' outside a tag (write \\> for the character)");
    if (c == '\\') {
      if (++i == field.size())
        return place.Fail("backslash at the end of a field");
      c = field[i] == 't' ? '\t' : field[i];
    }
    if (c == '\0') return place.Fail("NUL byte in the line");
    lexicon.symbols.push_back(static_cast<unsigned char>(c));
    if (!tag_seen) ++prefix;
  }
  return true;
}

bool ReadKind(std::string_view field, uint8_t& marker, SourcePlace& place) {
  if (field == "completa") {
    marker = kAnalysisMarker;
  } else if (field == "parcial") {
    marker = kPieceMarker;
  } else if (field == "desconeguda") {
    marker = kUnknownMarker;
  } else {
    return place.Fail("unknown kind of reading '" + Shown(field) +
                      "' (completa, parcial or desconeguda)");
  }
  return true;
}

// "@alphabet CHARS" (several lines add up) or "@unknown_output [CHARS]";
// blanks are skipped.
bool ReadDirective(std::string_view line, Lexicon& lexicon,
                   SourcePlace& place) {
  size_t end = line.find_first_of(" \t");
  std::string_view name = line.substr(0, end);
  std::string arg;
  if (end != std::string_view::npos) {
    std::string_view rest = line.substr(end);
    for (size_t i = 0; i < rest.size(); ++i) {
      char c = rest[i];
      if (c == ' ' || c == '\t') continue;
      if (c == '\\') {
        if (++i == rest.size())
          return place.Fail("backslash at the end of a field");
        c = rest[i] == 't' ? '\t' : rest[i];
      }
      if (c == '\0') return place.Fail("NUL byte in the line");
      arg.push_back(c);
    }
  }
  if (name == "@alfabet") {
    if (arg.empty()) return place.Fail("@alfabet without characters");
    lexicon.has_alphabet = true;
    lexicon.alphabet += arg;
  } else if (name == kWholeWords) {
    if (!arg.empty()) return place.Fail("@whole-words takes no argument");
    lexicon.whole_words = true;
  } else if (name == "@desconegudes") {
    if (lexicon.has_guesser)
      return place.Fail("second @desconegudes directive");
    lexicon.has_guesser = true;
    lexicon.guesser = arg;
  } else {
    return place.Fail("unknown directive '" + Shown(name) +
                      "' (@alfabet or @desconegudes)");
  }
  return true;
}

bool ReadEntry(std::string_view line, Lexicon& lexicon, SourcePlace& place) {
  std::string_view fields[3];
  size_t field_count = 0;
  for (size_t start = 0;;) {
    size_t tab = line.find('\t', start);
    if (field_count == 3)
      return place.Fail("more than 3 tab-separated columns");
    fields[field_count++] = line.substr(start, tab - start);
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  if (field_count < 2)
    return place.Fail("expected 'surface<TAB>lexical[<TAB>kind]'");
  LexiconEntry e{};
  e.line = uint32_t(place.line);
  e.marker = kAnalysisMarker;
  if (field_count == 3 && !ReadKind(fields[2], e.marker, place)) return false;
  std::string form;
  if (!Unescape(fields[0], form, place)) return false;
  if (form.empty()) return place.Fail("empty surface form");
  if (form.size() > kMaxForm)
    return place.Fail("surface form longer than " + std::to_string(kMaxForm) +
                      " bytes");
  e.form = uint32_t(lexicon.forms.size());
  e.form_length = uint16_t(form.size());
  lexicon.forms += form;
  e.symbols = uint32_t(lexicon.symbols.size());
  if (!ReadLexicalForm(fields[1], lexicon, e.prefix, place)) return false;
  const size_t n = lexicon.symbols.size() - e.symbols;
  if (n == 0 && e.marker != kUnknownMarker)
    return place.Fail("empty lexical form");
  if (n > 400) return place.Fail("lexical form longer than 400 symbols");
  e.symbol_count = uint16_t(n);
  // Bytes past the surface length go on epsilon moves, where the digit 0
  // would be dropped by the matcher.
  for (size_t i = std::min<size_t>(e.form_length, e.prefix); i < n; ++i)
    if (lexicon.symbols[e.symbols + i] == '0')
      return place.Fail(
          "the lexical digit 0 at position " + std::to_string(i + 1) +
          " lies past the surface form, on an epsilon move, which cannot "
          "write it");
  lexicon.entries.push_back(e);
  return true;
}

bool ReadLexicon(const std::string& name, std::string_view bytes,
                 Encoding encoding, Lexicon& lexicon, std::string& error) {
  SourcePlace place{name, 0, error};
  if (encoding == Encoding::kUtf8 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
    bytes.remove_prefix(3);
  std::string line;
  std::string problem;
  for (size_t start = 0; start < bytes.size();) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view raw = bytes.substr(start, end - start);
    start = end + 1;
    ++place.line;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    // A carriage return is a line end or nothing: AT&T text, which dumps
    // write, could not carry one inside a symbol.
    if (raw.find('\r') != std::string_view::npos)
      return place.Fail("carriage return inside the line");
    if (!ToLatin1(raw, encoding, line, problem)) return place.Fail(problem);
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    if (line[0] == '@') {
      if (!ReadDirective(line, lexicon, place)) return false;
    } else if (!ReadEntry(line, lexicon, place)) {
      return false;
    }
  }
  if (lexicon.forms.size() > UINT32_MAX / 2 ||
      lexicon.symbols.size() > UINT32_MAX / 2) {
    error = "Error: " + name + ": lexicon too large";
    return false;
  }
  return true;
}

// Define codes by falling frequency of the tags (ties: first seen first),
// so the most frequent names are found first by a linear search.
std::vector<int32_t> TagCodes(const Lexicon& lexicon, Transducer& a) {
  std::vector<size_t> frequency(lexicon.tags.size(), 0);
  for (int32_t s : lexicon.symbols)
    if (s < 0) ++frequency[size_t(-s - 1)];
  std::vector<int32_t> input_number(lexicon.tags.size());
  for (size_t i = 0; i < input_number.size(); ++i) input_number[i] = int32_t(i);
  std::stable_sort(input_number.begin(), input_number.end(),
                   [&](int32_t x, int32_t y) {
                     return frequency[size_t(x)] > frequency[size_t(y)];
                   });
  std::vector<int32_t> code(lexicon.tags.size());
  a.symbol_names.clear();
  for (size_t r = 0; r < input_number.size(); ++r) {
    code[size_t(input_number[r])] = 258 + int32_t(r);
    a.symbol_names.push_back(lexicon.tags[size_t(input_number[r])]);
  }
  return code;
}

// The trie over (input, output) pairs. Siblings are linked in insertion
// order, which is the order the matcher follows them in.
struct TrieEdge {
  int32_t input_symbol;   // input byte, or kEpsilon
  int32_t output_symbol;  // output symbol (final code), 0 for nothing
  uint32_t child;         // child node
  uint32_t next;          // next sibling edge, or kNone
  uint32_t position;      // position among the parent's edges
};

struct TrieNode {
  uint32_t first_edge = kNone;  // first edge
  uint32_t last_edge = kNone;   // last edge, for appending
  uint32_t edge_count = 0;      // number of edges
  uint8_t markers = 0;          // Marker bits
};

struct Trie {
  std::vector<TrieNode> nodes{TrieNode{}};
  std::vector<TrieEdge> edges;
};

// First edge of `node` with the pair (input_symbol, output_symbol) at position
// `from` or later.
uint32_t FindEdge(const Trie& t, uint32_t node, int32_t input_symbol,
                  int32_t output_symbol, uint32_t from) {
  for (uint32_t e = t.nodes[node].first_edge; e != kNone; e = t.edges[e].next) {
    const TrieEdge& a = t.edges[e];
    if (a.input_symbol == input_symbol && a.output_symbol == output_symbol &&
        a.position >= from)
      return e;
  }
  return kNone;
}

uint32_t AddEdge(Trie& t, uint32_t node, int32_t input_symbol,
                 int32_t output_symbol) {
  const uint32_t child = uint32_t(t.nodes.size());
  t.nodes.emplace_back();
  const uint32_t e = uint32_t(t.edges.size());
  TrieNode& parent = t.nodes[node];
  t.edges.push_back(
      {input_symbol, output_symbol, child, kNone, parent.edge_count++});
  if (parent.last_edge == kNone)
    parent.first_edge = e;
  else
    t.edges[parent.last_edge].next = e;
  parent.last_edge = e;
  return e;
}

// The (input, output) pairs of one analysis, its epsilon tail padded to
// `tail_length` moves. Padding goes first in the tail, so that the tails of
// padded and unpadded forms still share their ends.
void Pairs(const Lexicon& lexicon, const LexiconEntry& e,
           const std::vector<int32_t>& code, size_t tail_length,
           std::vector<std::pair<int32_t, int32_t>>& p) {
  auto symbol = [&](size_t i) {
    int32_t s = lexicon.symbols[e.symbols + i];
    return s < 0 ? code[size_t(-s - 1)] : s;
  };
  const size_t consumed = std::min<size_t>(e.form_length, e.prefix);
  p.clear();
  for (size_t i = 0; i < e.form_length; ++i)
    p.push_back({static_cast<unsigned char>(lexicon.forms[e.form + i]),
                 i < consumed ? symbol(i) : 0});
  const size_t own_tail = e.symbol_count - consumed;
  for (size_t i = own_tail; i < tail_length; ++i) p.push_back({kEpsilon, 0});
  for (size_t i = consumed; i < e.symbol_count; ++i)
    p.push_back({kEpsilon, symbol(i)});
}

bool SameAnalysis(const Lexicon& lexicon, const LexiconEntry& x,
                  const LexiconEntry& y) {
  return x.marker == y.marker && x.symbol_count == y.symbol_count &&
         std::equal(lexicon.symbols.begin() + x.symbols,
                    lexicon.symbols.begin() + x.symbols + x.symbol_count,
                    lexicon.symbols.begin() + y.symbols);
}

// Inserts the analyses of one form, in source order. Each analysis follows
// its predecessor's edges while their pairs agree; where they part, it takes
// an edge placed after the predecessor's, making a new one if needed.
void InsertForm(Trie& t, const Lexicon& lexicon,
                const std::vector<int32_t>& code,
                const std::vector<const LexiconEntry*>& analyses,
                LexiconStatistics& stats) {
  size_t tail_length = 0;
  for (const LexiconEntry* e : analyses)
    tail_length =
        std::max(tail_length, size_t(e->symbol_count) -
                                  std::min<size_t>(e->form_length, e->prefix));
  bool padded = false;
  std::vector<std::pair<int32_t, int32_t>> pairs;
  std::vector<uint32_t> path, previous;
  for (size_t j = 0; j < analyses.size(); ++j) {
    const LexiconEntry& e = *analyses[j];
    const size_t own_tail =
        e.symbol_count - std::min<size_t>(e.form_length, e.prefix);
    if (own_tail < tail_length) {
      padded = true;
      stats.padding_moves += tail_length - own_tail;
    }
    Pairs(lexicon, e, code, tail_length, pairs);
    path.assign(pairs.size(), kNone);
    uint32_t node = 0;
    bool parted = j == 0;
    for (size_t p = 0; p < pairs.size(); ++p) {
      const auto [input_symbol, output_symbol] = pairs[p];
      uint32_t edge;
      if (!parted && t.edges[previous[p]].input_symbol == input_symbol &&
          t.edges[previous[p]].output_symbol == output_symbol) {
        edge = previous[p];
      } else if (!parted) {
        parted = true;
        edge = FindEdge(t, node, input_symbol, output_symbol,
                        t.edges[previous[p]].position + 1);
        if (edge == kNone &&
            FindEdge(t, node, input_symbol, output_symbol, 0) != kNone)
          ++stats.order_branches;
      } else {
        edge = FindEdge(t, node, input_symbol, output_symbol, 0);
      }
      if (edge == kNone) edge = AddEdge(t, node, input_symbol, output_symbol);
      path[p] = edge;
      node = t.edges[edge].child;
    }
    t.nodes[node].markers |= e.marker;
    previous.swap(path);
  }
  if (padded) ++stats.padded_forms;
}

uint64_t Mix(uint64_t h, uint64_t v) {
  h ^= v + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
  return h * 0xFF51AFD7ED558CCDULL;
}

uint64_t NodeHash(const Trie& t, uint32_t n) {
  uint64_t h = Mix(0, t.nodes[n].markers);
  for (uint32_t e = t.nodes[n].first_edge; e != kNone; e = t.edges[e].next) {
    const TrieEdge& a = t.edges[e];
    h = Mix(h, (uint64_t(uint32_t(a.input_symbol)) << 32) |
                   uint32_t(a.output_symbol));
    h = Mix(h, a.child);
  }
  return h;
}

bool SameNode(const Trie& t, uint32_t x, uint32_t y) {
  if (t.nodes[x].markers != t.nodes[y].markers ||
      t.nodes[x].edge_count != t.nodes[y].edge_count)
    return false;
  uint32_t ex = t.nodes[x].first_edge, ey = t.nodes[y].first_edge;
  for (; ex != kNone; ex = t.edges[ex].next, ey = t.edges[ey].next) {
    const TrieEdge& a = t.edges[ex];
    const TrieEdge& b = t.edges[ey];
    if (a.input_symbol != b.input_symbol ||
        a.output_symbol != b.output_symbol || a.child != b.child)
      return false;
  }
  return true;
}

// Merges equal subtrees bottom-up (a child is always numbered after its
// parent) and returns each node's representative.
std::vector<uint32_t> MergeSubtrees(Trie& t) {
  const size_t n = t.nodes.size();
  std::vector<uint32_t> canonical(n);
  size_t size = 1;
  while (size < 2 * n) size <<= 1;
  std::vector<uint32_t> table(size, kNone);
  for (size_t v = n; v-- > 0;) {
    for (uint32_t e = t.nodes[v].first_edge; e != kNone; e = t.edges[e].next)
      t.edges[e].child = canonical[t.edges[e].child];
    size_t place = NodeHash(t, uint32_t(v)) & (size - 1);
    while (table[place] != kNone && !SameNode(t, table[place], uint32_t(v)))
      place = (place + 1) & (size - 1);
    if (table[place] == kNone) table[place] = uint32_t(v);
    canonical[v] = table[place];
  }
  return canonical;
}

// The merged trie as the compiler's transducer, states numbered depth-first.
void ToTransducer(const Trie& t, Transducer& a) {
  std::vector<int32_t> number(t.nodes.size(), -1);
  std::vector<uint32_t> input_number;
  std::vector<uint32_t> stack{0};
  std::vector<uint32_t> children;
  while (!stack.empty()) {
    uint32_t v = stack.back();
    stack.pop_back();
    if (number[v] >= 0) continue;
    number[v] = int32_t(input_number.size());
    input_number.push_back(v);
    children.clear();
    for (uint32_t e = t.nodes[v].first_edge; e != kNone; e = t.edges[e].next)
      children.push_back(t.edges[e].child);
    for (auto it = children.rbegin(); it != children.rend(); ++it)
      if (number[*it] < 0) stack.push_back(*it);
  }
  a.states.assign(input_number.size(), TransducerState{});
  for (size_t k = 0; k < input_number.size(); ++k) {
    const TrieNode& node = t.nodes[input_number[k]];
    TransducerState& e = a.states[k];
    e.markers = node.markers;
    e.moves.reserve(node.edge_count);
    for (uint32_t x = node.first_edge; x != kNone; x = t.edges[x].next)
      e.moves.push_back({t.edges[x].input_symbol, t.edges[x].output_symbol,
                         number[t.edges[x].child]});
  }
}

}  // namespace

bool CompileLexicon(const std::string& name, std::string_view bytes,
                    Encoding encoding, Transducer& a, std::string& error,
                    LexiconStatistics* statistics) {
  LexiconStatistics stats;
  if (encoding == Encoding::kDetect) encoding = DetectEncoding(bytes);
  stats.encoding = encoding;
  Lexicon lexicon;
  if (!ReadLexicon(name, bytes, encoding, lexicon, error)) return false;
  a = Transducer{};
  const std::vector<int32_t> code = TagCodes(lexicon, a);
  if (a.symbol_names.size() > size_t(32767 - 258 + 1)) {
    error = "Error: " + name + ": more than " +
            std::to_string(32767 - 258 + 1) + " distinct tags";
    return false;
  }
  stats.entries = lexicon.entries.size();

  // Forms in byte order, the analyses of each in source order.
  std::vector<uint32_t> input_number(lexicon.entries.size());
  for (size_t i = 0; i < input_number.size(); ++i)
    input_number[i] = uint32_t(i);
  auto form = [&](uint32_t i) {
    const LexiconEntry& e = lexicon.entries[i];
    return std::string_view(lexicon.forms).substr(e.form, e.form_length);
  };
  std::stable_sort(input_number.begin(), input_number.end(),
                   [&](uint32_t x, uint32_t y) { return form(x) < form(y); });
  Trie t;
  t.nodes.reserve(lexicon.forms.size() + lexicon.symbols.size() / 2 + 1);
  t.edges.reserve(lexicon.forms.size() + lexicon.symbols.size() / 2 + 1);
  std::vector<const LexiconEntry*> analyses;
  for (size_t i = 0; i < input_number.size();) {
    size_t j = i;
    analyses.clear();
    for (; j < input_number.size() &&
           form(input_number[j]) == form(input_number[i]);
         ++j) {
      const LexiconEntry* e = &lexicon.entries[input_number[j]];
      bool repeated = false;
      for (const LexiconEntry* f : analyses)
        repeated = repeated || SameAnalysis(lexicon, *e, *f);
      if (repeated)
        ++stats.repeats;
      else
        analyses.push_back(e);
    }
    InsertForm(t, lexicon, code, analyses, stats);
    ++stats.forms;
    i = j;
  }
  // The switch is a symbol of its own that no move carries; it comes after
  // the tags, so their codes do not depend on it.
  if (lexicon.whole_words) a.symbol_names.push_back(kWholeWords);
  stats.trie_nodes = t.nodes.size();
  std::vector<uint32_t> canonical = MergeSubtrees(t);
  (void)canonical;
  ToTransducer(t, a);

  a.alphabet = lexicon.has_alphabet ? lexicon.alphabet : DefaultAlphabet(a);
  if (lexicon.has_guesser)
    AddUnknownWordGuesser(
        a, lexicon.guesser.empty() ? LettersOf(a.alphabet) : lexicon.guesser);
  std::string problem;
  if (!Check(a, problem)) {
    error = "Error: " + name + ": " + problem;
    return false;
  }
  if (statistics) *statistics = stats;
  return true;
}

}  // namespace etiquem::dictionary
