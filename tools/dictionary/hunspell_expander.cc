// Expansion of a hunspell dictionary into a tagged full-form lexicon.
//
// Everything is done on Latin-1 bytes: the affix file and the word list are
// UTF-8, and a rule or word that Latin-1 cannot carry is skipped (a rule
// keeps its place, since rule positions carry the tags). Three passes: the
// word list through the mapped suffix rules (which also gathers every word
// the speller accepts), the map's own verb paradigms checked against that
// set, then sorting and writing.

#include "dictionary/hunspell_expander.h"

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <unordered_set>

#include "dictionary/encoding.h"

namespace etiquem::dictionary {
namespace {

// ---------------------------------------------------------------- text

std::vector<std::string_view> Lines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  for (size_t start = 0; start < bytes.size();) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
    if (j > i) words.emplace_back(line.substr(i, j - i));
    i = j;
  }
  return words;
}

bool IsUpper(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7);
}

bool EndsWith(std::string_view s, std::string_view end) {
  return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

// Where a message points.
struct Place {
  const std::string& file;
  size_t line;
  std::string& error;
  bool Fail(const std::string& what) {
    error = "Error: ";
    error += file;
    if (line) error.append(":").append(std::to_string(line));
    error.append(": ").append(what);
    return false;
  }
};

// ---------------------------------------------------------------- affixes

// A condition: one byte class per position, matched at the end of the word
// (suffixes) or at its start (prefixes).
using Condition = std::vector<std::bitset<256>>;

struct AffixRule {
  bool usable = false;  // false when Latin-1 cannot carry the rule
  std::string strip;    // removed from the word
  std::string add;      // put in its place
  Condition condition;
};

struct AffixClass {
  bool suffix = true;
  std::vector<AffixRule> rules;  // in file order: positions carry tags
};

struct Affixes {
  enum class FlagKind { kChar, kLong, kNum } flag_kind = FlagKind::kChar;
  std::string forbidden;  // FORBIDDENWORD flag
  std::unordered_map<std::string, AffixClass> classes;
};

bool ParseCondition(std::string_view text, Condition& c) {
  c.clear();
  if (text == ".") return true;
  for (size_t i = 0; i < text.size(); ++i) {
    std::bitset<256> set;
    if (text[i] == '.') {
      set.set();
    } else if (text[i] == '[') {
      size_t end = text.find(']', i);
      if (end == std::string_view::npos) return false;
      bool negate = i + 1 < end && text[i + 1] == '^';
      for (size_t k = i + 1 + (negate ? 1 : 0); k < end; ++k)
        set.set(static_cast<unsigned char>(text[k]));
      if (negate) set.flip();
      i = end;
    } else {
      set.set(static_cast<unsigned char>(text[i]));
    }
    c.push_back(set);
  }
  return true;
}

bool Matches(const AffixRule& r, bool suffix, std::string_view word) {
  if (!r.usable || word.size() < r.strip.size() ||
      word.size() < r.condition.size())
    return false;
  if (suffix ? !EndsWith(word, r.strip) : word.substr(0, r.strip.size()) != r.strip)
    return false;
  const size_t base = suffix ? word.size() - r.condition.size() : 0;
  for (size_t i = 0; i < r.condition.size(); ++i)
    if (!r.condition[i].test(static_cast<unsigned char>(word[base + i])))
      return false;
  return true;
}

std::string Apply(const AffixRule& r, bool suffix, std::string_view word) {
  if (suffix)
    return std::string(word.substr(0, word.size() - r.strip.size())) + r.add;
  return r.add + std::string(word.substr(r.strip.size()));
}

bool ParseAffixes(const NamedText& aff, Affixes& a, std::string& error) {
  Place at{aff.name, 0, error};
  std::string latin1, what;
  for (std::string_view raw : Lines(aff.bytes)) {
    ++at.line;
    std::vector<std::string> w = Words(raw);
    if (w.empty() || w[0][0] == '#') continue;
    if (w[0] == "FLAG" && w.size() >= 2) {
      a.flag_kind = w[1] == "long"  ? Affixes::FlagKind::kLong
                    : w[1] == "num" ? Affixes::FlagKind::kNum
                                    : Affixes::FlagKind::kChar;
    } else if (w[0] == "FORBIDDENWORD" && w.size() >= 2) {
      a.forbidden = w[1];
    } else if (w[0] == "SFX" || w[0] == "PFX") {
      if (w.size() < 4) return at.Fail("affix line with fewer than 4 fields");
      auto found = a.classes.find(w[1]);
      if (found == a.classes.end()) {  // the header: SFX flag Y count
        AffixClass& c = a.classes[w[1]];
        c.suffix = w[0] == "SFX";
        continue;
      }
      AffixRule r;
      if (w.size() >= 5 && ToLatin1(raw, Encoding::kUtf8, latin1, what)) {
        std::vector<std::string> l = Words(latin1);
        r.strip = l[2] == "0" ? "" : l[2];
        std::string add = l[3].substr(0, l[3].find('/'));
        r.add = add == "0" ? "" : add;
        r.usable = ParseCondition(l[4], r.condition);
      }
      found->second.rules.push_back(std::move(r));
    }
  }
  return true;
}

std::vector<std::string> SplitFlags(const Affixes& a, std::string_view f) {
  std::vector<std::string> flags;
  if (a.flag_kind == Affixes::FlagKind::kLong) {
    for (size_t i = 0; i + 1 < f.size(); i += 2)
      flags.emplace_back(f.substr(i, 2));
  } else if (a.flag_kind == Affixes::FlagKind::kNum) {
    for (size_t i = 0; i < f.size();) {
      size_t j = f.find(',', i);
      if (j == std::string_view::npos) j = f.size();
      flags.emplace_back(f.substr(i, j - i));
      i = j + 1;
    }
  } else {
    for (char c : f) flags.emplace_back(1, c);
  }
  return flags;
}

// ---------------------------------------------------------------- tag map

// A list of word endings and whole words, for conditions and genders.
struct WordList {
  std::unordered_set<std::string> words;
  std::vector<std::string> endings;
  int builtin = 0;  // 1: starts with a capital letter; 2: does not
};

// Length of the longest item of `l` matching `lemma` (a whole word counts
// as longer than any ending), or -1.
int MatchLength(const WordList& l, const std::string& lemma) {
  if (l.builtin == 1) return IsUpper(static_cast<unsigned char>(lemma[0])) ? 0 : -1;
  if (l.builtin == 2) return IsUpper(static_cast<unsigned char>(lemma[0])) ? -1 : 0;
  if (l.words.count(lemma)) return int(lemma.size()) + 1;
  int best = -1;
  for (const std::string& e : l.endings)
    if (int(e.size()) > best && EndsWith(lemma, e)) best = int(e.size());
  return best;
}

// One reading a cell may give: tags such as "<n><$g><sg>", given only when
// the lemma matches (or, negated, does not match) each list of `conditions`.
struct ListCondition {
  int list;
  bool negated;
};
struct Reading {
  std::vector<ListCondition> conditions;
  std::string tags;
};
using Cell = std::vector<Reading>;  // empty: no reading

struct Paradigm {
  std::string name;
  std::string ending;  // stripped from the infinitive, selects verbs
  double min_share = 0.6;
  // Each cell: its readings and the alternative endings that replace
  // `ending`.
  std::vector<std::pair<Cell, std::vector<std::string>>> cells;
};

// Flags tried on words the dictionary lists without them (`infer`).
struct Inference {
  double min_share = 1;
  std::vector<std::string> flags;
};

struct TagMap {
  std::vector<std::string> order;  // parts of speech, reading order
  std::vector<WordList> lists;
  std::unordered_map<std::string, int> list_index;
  std::vector<std::pair<std::string, int>> genders;  // tag, list
  std::string default_gender = "m";
  std::unordered_map<std::string, std::vector<Cell>> layouts;
  std::unordered_map<std::string, const std::vector<Cell>*> flag_layout;
  std::unordered_map<std::string, std::string> flag_layout_name;
  std::unordered_map<std::string, Cell> stems;
  Cell bare;
  std::unordered_set<std::string> infinitive_flags;
  std::vector<Paradigm> paradigms;
  Inference verbs;  // tried with the paradigms on bare infinitives
  Inference nouns;  // tried on bare lower-case words left without a reading
  std::string excluded;  // words holding one of these bytes are skipped
};

int ListIndex(TagMap& m, const std::string& name) {
  auto [it, added] = m.list_index.try_emplace(name, int(m.lists.size()));
  if (added) {
    m.lists.emplace_back();
    if (name == "@capital") m.lists.back().builtin = 1;
    if (name == "@lower") m.lists.back().builtin = 2;
  }
  return it->second;
}

// "a.b.c" to "<a><b><c>".
std::string Tags(std::string_view dotted) {
  std::string tags;
  for (size_t i = 0; i <= dotted.size();) {
    size_t j = dotted.find('.', i);
    if (j == std::string_view::npos) j = dotted.size();
    tags.push_back('<');
    tags.append(dotted.substr(i, j - i));
    tags.push_back('>');
    i = j + 1;
  }
  return tags;
}

bool ValidTagText(std::string_view t) {
  if (t.empty() || t.front() == '.' || t.back() == '.' ||
      t.find("..") != std::string_view::npos)
    return false;
  for (char ch : t) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c <= ' ' || c == '<' || c == '>' || c == '&' || c == ';' ||
        c == '?' || c == '|' || c == '*' || c == '!')
      return false;
  }
  return true;
}

// A cell: "-", or readings joined by "|", each "[!]LIST?a.b.c"; `prefix`
// (dotted) goes before every reading's tags. "*N" repeats the cell N times.
bool ParseCell(TagMap& m, std::string_view text, const std::string& prefix,
               std::vector<Cell>& cells, Place& at) {
  size_t repeat = 1;
  if (size_t star = text.rfind('*'); star != std::string_view::npos) {
    repeat = 0;
    for (char c : text.substr(star + 1)) {
      if (c < '0' || c > '9') return at.Fail("bad repeat count in '" + std::string(text) + "'");
      repeat = repeat * 10 + size_t(c - '0');
    }
    if (repeat == 0 || repeat > 1000) return at.Fail("bad repeat count");
    text = text.substr(0, star);
  }
  Cell cell;
  if (text != "-") {
    for (size_t i = 0; i <= text.size();) {
      size_t j = text.find('|', i);
      if (j == std::string_view::npos) j = text.size();
      std::string_view r = text.substr(i, j - i);
      Reading reading;
      for (size_t q; (q = r.find('?')) != std::string_view::npos;) {
        std::string_view list = r.substr(0, q);
        const bool negated = !list.empty() && list[0] == '!';
        if (negated) list.remove_prefix(1);
        if (list.empty()) return at.Fail("empty list name in '" + std::string(text) + "'");
        reading.conditions.push_back({ListIndex(m, std::string(list)), negated});
        r = r.substr(q + 1);
      }
      std::string dotted = prefix.empty() ? std::string(r) : prefix + "." + std::string(r);
      if (!ValidTagText(dotted))
        return at.Fail("bad tags '" + std::string(r) + "'");
      reading.tags = Tags(dotted);
      cell.push_back(std::move(reading));
      i = j + 1;
    }
  }
  for (size_t k = 0; k < repeat; ++k) cells.push_back(cell);
  return true;
}

// Cell names for a paradigm row by the number of its endings.
const std::vector<std::string>& RowCells(size_t n) {
  static const std::vector<std::string> k1 = {""};
  static const std::vector<std::string> k4 = {"m.sg", "f.sg", "m.pl", "f.pl"};
  static const std::vector<std::string> k6 = {"p1.sg", "p2.sg", "p3.sg",
                                              "p1.pl", "p2.pl", "p3.pl"};
  static const std::vector<std::string> kNone;
  return n == 1 ? k1 : n == 4 ? k4 : n == 6 ? k6 : kNone;
}

bool ParseTagMap(const NamedText& map, TagMap& m, std::string& error) {
  Place at{map.name, 0, error};
  std::string text, what;
  if (!ToLatin1(map.bytes, DetectEncoding(map.bytes), text, what))
    return at.Fail(what);
  enum class Block { kNone, kRules, kParadigm } block = Block::kNone;
  std::vector<Cell>* layout = nullptr;
  std::string prefix;
  for (std::string_view raw : Lines(text)) {
    ++at.line;
    std::vector<std::string> w = Words(raw);
    if (w.empty() || w[0][0] == '#') continue;
    if (block != Block::kNone) {
      if (w[0] == "end") {
        block = Block::kNone;
        continue;
      }
      if (block == Block::kRules) {
        for (const std::string& c : w)
          if (!ParseCell(m, c, prefix, *layout, at)) return false;
        continue;
      }
      // A paradigm row: dotted tags, then one ending per cell.
      const std::vector<std::string>& names = RowCells(w.size() - 1);
      if (names.empty() || !ValidTagText(w[0]))
        return at.Fail("a paradigm row is TAGS and 1, 4 or 6 endings");
      for (size_t k = 0; k < names.size(); ++k) {
        const std::string& e = w[k + 1];
        if (e == "-") continue;
        std::vector<std::string> alternatives;
        for (size_t i = 0; i <= e.size();) {
          size_t j = e.find(',', i);
          if (j == std::string::npos) j = e.size();
          std::string a = e.substr(i, j - i);
          alternatives.push_back(a == "0" ? "" : a);
          i = j + 1;
        }
        std::string dotted = names[k].empty() ? w[0] : w[0] + "." + names[k];
        m.paradigms.back().cells.push_back(
            {Cell{Reading{{}, Tags(dotted)}}, alternatives});
      }
      continue;
    }
    const std::string& d = w[0];
    if (d == "order") {
      m.order.assign(w.begin() + 1, w.end());
    } else if (d == "list" && w.size() >= 2) {
      WordList& l = m.lists[size_t(ListIndex(m, w[1]))];
      for (size_t i = 2; i < w.size(); ++i) {
        if (w[i][0] == '=')
          l.words.insert(w[i].substr(1));
        else
          l.endings.push_back(w[i]);
      }
    } else if (d == "gender" && w.size() == 3) {
      m.genders.push_back({w[1], ListIndex(m, w[2])});
    } else if (d == "default-gender" && w.size() == 2) {
      m.default_gender = w[1];
    } else if (d == "rules" && (w.size() == 2 || w.size() == 3)) {
      if (m.layouts.count(w[1])) return at.Fail("second layout " + w[1]);
      layout = &m.layouts[w[1]];
      prefix = w.size() == 3 ? w[2] : "";
      block = Block::kRules;
    } else if (d == "flags" && w.size() >= 3) {
      auto it = m.layouts.find(w[1]);
      if (it == m.layouts.end()) return at.Fail("no rules block " + w[1]);
      for (size_t i = 2; i < w.size(); ++i) {
        m.flag_layout[w[i]] = &it->second;
        m.flag_layout_name[w[i]] = w[1];
      }
    } else if (d == "stem" && w.size() == 3) {
      std::vector<Cell> cells;
      if (!ParseCell(m, w[2], "", cells, at)) return false;
      m.stems[w[1]] = cells.front();
    } else if (d == "bare" && w.size() == 2) {
      std::vector<Cell> cells;
      if (!ParseCell(m, w[1], "", cells, at)) return false;
      m.bare = cells.front();
    } else if ((d == "infer-verbs" || d == "infer-nouns") && w.size() >= 3) {
      Inference& i = d == "infer-verbs" ? m.verbs : m.nouns;
      i.min_share = std::atof(w[1].c_str());
      i.flags.assign(w.begin() + 2, w.end());
    } else if (d == "exclude-chars" && w.size() >= 2) {
      for (size_t i = 1; i < w.size(); ++i) m.excluded += w[i];
    } else if (d == "infinitive-flags") {
      m.infinitive_flags.insert(w.begin() + 1, w.end());
    } else if (d == "paradigm" && (w.size() == 3 || w.size() == 4)) {
      Paradigm p;
      p.name = w[1];
      p.ending = w[2];
      if (w.size() == 4) p.min_share = std::atof(w[3].c_str());
      m.paradigms.push_back(std::move(p));
      block = Block::kParadigm;
    } else {
      return at.Fail("unknown or malformed line '" + ToUtf8(w[0]) + "'");
    }
  }
  if (block != Block::kNone) return at.Fail("block without its 'end'");
  return true;
}

std::string Gender(const TagMap& m, const std::string& lemma) {
  int best = -1;
  std::string gender = m.default_gender;
  for (const auto& [tag, list] : m.genders) {
    int len = MatchLength(m.lists[size_t(list)], lemma);
    if (len > best) {
      best = len;
      gender = tag;
    }
  }
  return gender;
}

// ---------------------------------------------------------------- entries

struct Entry {
  std::string surface;
  std::string lemma;
  std::string tags;  // "<n><f><sg>"
  uint32_t rank;     // part of speech in the map's order
  uint32_t seq;      // order of making
};

struct Generator {
  const TagMap& map;
  std::vector<Entry> entries;
  std::unordered_set<std::string> accepted;  // every form the speller knows

  uint32_t Rank(const std::string& tags) const {
    const size_t end = tags.find('>');
    const std::string pos = tags.substr(1, end - 1);
    for (size_t i = 0; i < map.order.size(); ++i)
      if (map.order[i] == pos) return uint32_t(i);
    return uint32_t(map.order.size());
  }

  void Add(const std::string& surface, const std::string& lemma,
           const std::string& tags) {
    entries.push_back({surface, lemma, tags, Rank(tags), uint32_t(entries.size())});
  }

  // Adds the readings of `cell` for `surface`; returns how many.
  size_t AddCell(const Cell& cell, const std::string& surface,
                 const std::string& lemma) {
    size_t n = 0;
    for (const Reading& r : cell) {
      bool given = true;
      for (const ListCondition& c : r.conditions)
        given = given &&
                (MatchLength(map.lists[size_t(c.list)], lemma) >= 0) != c.negated;
      if (!given) continue;
      std::string tags = r.tags;
      if (size_t g = tags.find("<$g>"); g != std::string::npos)
        tags.replace(g + 1, 2, Gender(map, lemma));
      Add(surface, lemma, tags);
      ++n;
    }
    return n;
  }
};

std::string Escape(std::string_view s, bool lexical) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '\\' || (lexical && (c == '<' || c == '>')) ||
        (i == 0 && (c == '#' || c == '@')))
      out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// The surface form of a lexicon entry line (escapes resolved), or empty for
// comments, directives and blank lines.
std::string SurfaceOf(std::string_view line) {
  const size_t first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos || line[first] == '#' || line[0] == '@')
    return "";
  std::string surface;
  for (size_t i = 0; i < line.size() && line[i] != '\t'; ++i) {
    char c = line[i];
    if (c == '\\' && i + 1 < line.size()) c = line[++i] == 't' ? '\t' : line[i];
    surface.push_back(c);
  }
  return line.find('\t') == std::string_view::npos ? "" : surface;
}

// The forms one way of inflecting a word would make, with their cells.
using Forms = std::vector<std::pair<std::string, const Cell*>>;

void ParadigmForms(const Paradigm& p, const std::string& word, Forms& forms) {
  forms.clear();
  if (!EndsWith(word, p.ending)) return;
  const std::string stem = word.substr(0, word.size() - p.ending.size());
  for (const auto& [cell, endings] : p.cells)
    for (const std::string& e : endings) forms.push_back({stem + e, &cell});
}

void FlagForms(const Affixes& a, const TagMap& m, const std::string& flag,
               const std::string& word, Forms& forms) {
  forms.clear();
  auto c = a.classes.find(flag);
  auto l = m.flag_layout.find(flag);
  if (c == a.classes.end() || l == m.flag_layout.end()) return;
  if (auto s = m.stems.find(flag); s != m.stems.end())
    forms.push_back({word, &s->second});
  for (size_t i = 0; i < c->second.rules.size(); ++i)
    if (Matches(c->second.rules[i], c->second.suffix, word))
      forms.push_back({Apply(c->second.rules[i], c->second.suffix, word),
                       &(*l->second)[i]});
}

// Share of the distinct forms other than `word` that `known` accepts, and
// how many it accepts.
std::pair<double, size_t> Share(const Forms& forms, const std::string& word,
                                const std::function<bool(const std::string&)>& known) {
  std::unordered_set<std::string> distinct;
  for (const auto& f : forms)
    if (f.first != word) distinct.insert(f.first);
  size_t n = 0;
  for (const std::string& f : distinct) n += known(f) ? 1 : 0;
  return {distinct.empty() ? 0 : double(n) / double(distinct.size()), n};
}

// Inflects each of `words` the way under which the largest share of its
// forms is known (at least the way's minimum; ties go to more known forms,
// then to the longer paradigm ending, then to the first way listed), and
// writes the known forms. Returns how many words were inflected.
size_t Infer(Generator& g, const Affixes& a, const std::vector<std::string>& words,
             bool verbs, const std::function<bool(const std::string&)>& known) {
  const TagMap& m = g.map;
  const Inference& inference = verbs ? m.verbs : m.nouns;
  size_t inflected = 0;
  Forms forms, best;
  for (const std::string& word : words) {
    double best_share = -1;
    size_t best_known = 0, best_ending = 0;
    auto consider = [&](double min_share, size_t ending) {
      auto [share, n] = Share(forms, word, known);
      if (share < min_share || n == 0) return;
      if (share > best_share ||
          (share == best_share &&
           (n > best_known || (n == best_known && ending > best_ending)))) {
        best_share = share;
        best_known = n;
        best_ending = ending;
        best.swap(forms);
      }
    };
    if (verbs)
      for (const Paradigm& p : m.paradigms) {
        ParadigmForms(p, word, forms);
        consider(p.min_share, p.ending.size());
      }
    for (const std::string& flag : inference.flags) {
      FlagForms(a, m, flag, word, forms);
      consider(inference.min_share, 0);
    }
    if (best_share < 0) continue;
    ++inflected;
    for (const auto& [form, cell] : best)
      if (form == word || known(form)) g.AddCell(*cell, form, word);
  }
  return inflected;
}

}  // namespace

bool ExpandHunspell(const NamedText& aff, const NamedText& dic,
                    const NamedText& map,
                    const std::vector<NamedText>& lexicons, std::string& out,
                    std::string& error, ExpansionStats* stats) {
  ExpansionStats st;
  Affixes affixes;
  if (!ParseAffixes(aff, affixes, error)) return false;
  TagMap tag_map;
  if (!ParseTagMap(map, tag_map, error)) return false;
  for (const auto& [flag, layout] : tag_map.flag_layout) {
    auto it = affixes.classes.find(flag);
    if (it == affixes.classes.end()) {
      Place at{map.name, 0, error};
      return at.Fail("flag " + flag + " is not in " + aff.name);
    }
    if (it->second.rules.size() != layout->size()) {
      Place at{map.name, 0, error};
      return at.Fail("flag " + flag + " has " +
                     std::to_string(it->second.rules.size()) +
                     " rule lines but rules " + tag_map.flag_layout_name[flag] +
                     " has " + std::to_string(layout->size()) + " cells");
    }
  }

  Generator g{tag_map, {}, {}};
  std::vector<std::string> infinitives, bare;
  std::unordered_set<std::string> forbidden;  // words the speller refuses
  std::string word, what;
  bool first = true;
  for (std::string_view raw : Lines(dic.bytes)) {
    if (raw.empty()) continue;
    if (first) {  // the word count
      first = false;
      if (raw.find_first_not_of("0123456789 ") == std::string_view::npos) continue;
    }
    ++st.dictionary_words;
    std::string_view entry = raw.substr(0, raw.find_first_of(" \t"));
    const size_t slash = entry.find('/');
    std::string_view flags_text =
        slash == std::string_view::npos ? "" : entry.substr(slash + 1);
    if (!ToLatin1(entry.substr(0, slash), Encoding::kUtf8, word, what) ||
        word.empty() ||
        word.find_first_of(tag_map.excluded) != std::string::npos) {
      ++st.skipped_words;
      continue;
    }
    const std::vector<std::string> flags = SplitFlags(affixes, flags_text);
    if (!affixes.forbidden.empty() &&
        std::find(flags.begin(), flags.end(), affixes.forbidden) != flags.end()) {
      forbidden.insert(word);
      ++st.skipped_words;
      continue;
    }
    g.accepted.insert(word);
    bool mapped = false, infinitive = false;
    size_t made = 0;
    for (const std::string& f : flags) {
      infinitive = infinitive || tag_map.infinitive_flags.count(f);
      if (auto s = tag_map.stems.find(f); s != tag_map.stems.end()) {
        mapped = true;
        made += g.AddCell(s->second, word, word);
      }
      auto l = tag_map.flag_layout.find(f);
      if (l == tag_map.flag_layout.end()) continue;
      mapped = true;
      const AffixClass& c = affixes.classes.at(f);
      for (size_t i = 0; i < c.rules.size(); ++i) {
        if (!Matches(c.rules[i], c.suffix, word)) continue;
        const std::string form = Apply(c.rules[i], c.suffix, word);
        g.accepted.insert(form);
        made += g.AddCell((*l->second)[i], form, word);
      }
    }
    if (!mapped) made += g.AddCell(tag_map.bare, word, word);
    if (!mapped && infinitive) infinitives.push_back(word);
    if (!mapped && made == 0 && !IsUpper(static_cast<unsigned char>(word[0])))
      bare.push_back(word);
  }
  // A form the speller forbids is never written, whatever made it.
  for (const std::string& w : forbidden) g.accepted.erase(w);
  std::sort(infinitives.begin(), infinitives.end());
  infinitives.erase(std::unique(infinitives.begin(), infinitives.end()),
                    infinitives.end());
  st.paradigm_verbs = Infer(g, affixes, infinitives, true, [&](const std::string& f) {
    return g.accepted.count(f) > 0;
  });
  // Nouns and adjectives among the words still without a reading: their
  // other forms must be words without a reading too.
  std::unordered_set<std::string> read;
  for (const Entry& e : g.entries) read.insert(e.surface);
  std::vector<std::string> left;
  for (const std::string& w : bare)
    if (!read.count(w)) left.push_back(w);
  st.inferred_words = Infer(g, affixes, left, false, [&](const std::string& f) {
    return g.accepted.count(f) > 0 && !read.count(f);
  });
  read.clear();
  for (const Entry& e : g.entries) read.insert(e.surface);
  for (const std::string& w : g.accepted)
    if (!read.count(w)) ++st.unmapped_words;

  // Hand-written lexicons, and the forms they take over.
  std::unordered_set<std::string> handwritten;
  std::string head;
  for (const NamedText& lx : lexicons) {
    std::string text;
    if (!ToLatin1(lx.bytes, DetectEncoding(lx.bytes), text, what)) {
      Place at{lx.name, 0, error};
      return at.Fail(what);
    }
    head += "# From " + lx.name + ".\n";
    for (std::string_view line : Lines(text)) {
      std::string surface = SurfaceOf(line);
      if (!surface.empty()) {
        handwritten.insert(surface);
        ++st.handwritten;
      }
      head += ToUtf8(line);
      head += '\n';
    }
  }

  std::vector<Entry>& e = g.entries;
  std::sort(e.begin(), e.end(), [](const Entry& x, const Entry& y) {
    if (x.surface != y.surface) return x.surface < y.surface;
    if (x.rank != y.rank) return x.rank < y.rank;
    if (x.lemma != y.lemma) return x.lemma < y.lemma;
    return x.seq < y.seq;
  });
  out = "# A full-form lexicon made by etiquem-dic hunspell from " + aff.name +
        ", " + dic.name + " and " + map.name + ". Do not edit: regenerate.\n";
  out += head;
  out += "# Generated entries.\n";
  std::unordered_set<std::string> seen;
  for (size_t i = 0; i < e.size(); ++i) {
    if (i > 0 && e[i].surface != e[i - 1].surface) seen.clear();
    if (!seen.insert(e[i].lemma + e[i].tags).second) continue;
    if (forbidden.count(e[i].surface)) continue;
    if (handwritten.count(e[i].surface)) {
      ++st.overridden;
      continue;
    }
    out += ToUtf8(Escape(e[i].surface, false));
    out += '\t';
    out += ToUtf8(Escape(e[i].lemma, true));
    out += e[i].tags;
    out += '\n';
    ++st.generated;
  }
  if (stats) *stats = st;
  return true;
}

}  // namespace etiquem::dictionary
