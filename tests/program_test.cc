// Whole runs of the built etiquem as users meet it: exact output bytes,
// unknown-words files, messages and exit statuses, for the analysis loop,
// longest-match selection, emission and superblanks.
//
// The dictionaries are small automata built here from word lists (each entry
// its own path from state 0, with the lexical characters beyond the surface
// and the tags on epsilon moves, as a compiled dictionary lays them out),
// optionally with an unknown-word path that loops over given bytes. Besides
// fixed cases there are random inputs checked against the rule they must
// obey, a streaming run through a pipe, and a run over the shared Catalan
// corpus when it is present.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "analysis_helper.h"
#include "automaton_builder.h"
#include "engine/analysis.h"
#include "engine/automaton.h"
#include "engine/reader.h"
#include "engine/scanner.h"
#include "process.h"

namespace etiquem {
namespace {

using test_support::Result;

// One dictionary entry: its surface, its lexical characters, its tags and
// the marker that ends its path.
struct Entry {
  std::string surface;
  std::string lexicon;
  std::vector<std::string> tags;
  int16_t marker = kEndOfAnalysis;
};

struct Dictionary {
  std::string alphabet;
  std::vector<Entry> entries;
  std::string unknown_loop;     // bytes of a looping unknown-word path
  bool unknown_accepts = true;  // false: the loop accepts nothing
};

std::string FileFor(const Dictionary& d, const std::string& name) {
  test_support::AutomatonDescription a;
  std::string alphabet = d.alphabet;
  std::sort(alphabet.begin(), alphabet.end(),
            [](char x, char y) { return uint8_t(x) < uint8_t(y); });
  a.alphabet = alphabet;
  std::map<std::string, int32_t> codes;
  for (const Entry& e : d.entries)
    for (const std::string& t : e.tags)
      if (!codes.count(t)) {
        int32_t c = 258 + int32_t(codes.size());
        codes[t] = c;
        a.symbol_names.push_back({t, c});
      }
  // Moves per state and input symbol, groups sorted when written out.
  std::vector<std::map<int16_t, test_support::DescribedGroup>> groups(1);
  std::vector<test_support::DescribedGroup> epsilon_groups(1);
  auto NewState = [&]() {
    groups.emplace_back();
    epsilon_groups.emplace_back();
    return int32_t(groups.size() - 1);
  };
  auto AddMove = [&](int32_t from, int16_t input_symbol, int16_t output_symbol,
                     int32_t target) {
    test_support::DescribedGroup& g = groups[size_t(from)][input_symbol];
    g.input_symbol = input_symbol;
    g.moves.push_back({output_symbol, target});
  };
  for (const Entry& e : d.entries) {
    int32_t s = 0;
    for (size_t i = 0; i < e.surface.size(); ++i) {
      int32_t n = NewState();
      int16_t output_symbol =
          i < e.lexicon.size() ? int16_t(uint8_t(e.lexicon[i])) : 0;
      AddMove(s, int16_t(uint8_t(e.surface[i])), output_symbol, n);
      s = n;
    }
    std::vector<int16_t> queue;
    for (size_t i = e.surface.size(); i < e.lexicon.size(); ++i)
      queue.push_back(int16_t(uint8_t(e.lexicon[i])));
    for (const std::string& t : e.tags) queue.push_back(int16_t(codes[t]));
    for (int16_t output_symbol : queue) {
      int32_t n = NewState();
      epsilon_groups[size_t(s)].moves.push_back({output_symbol, n});
      s = n;
    }
    AddMove(s, e.marker, 0, s);
  }
  if (!d.unknown_loop.empty()) {
    int32_t u = NewState();
    for (char c : d.unknown_loop) {
      AddMove(0, int16_t(uint8_t(c)), 0, u);
      AddMove(u, int16_t(uint8_t(c)), 0, u);
    }
    if (d.unknown_accepts) AddMove(u, kEndOfUnknown, 0, u);
  }
  for (size_t i = 0; i < groups.size(); ++i) {
    test_support::DescribedState e;
    e.file_number = int32_t(i);
    if (!epsilon_groups[i].moves.empty())
      e.epsilon_groups.push_back(epsilon_groups[i]);
    for (auto& [input_symbol, g] : groups[i]) e.groups.push_back(g);
    a.states.push_back(e);
  }
  return test_support::WriteFile(test_support::Bytes(a), name);
}

const char kLetters[] = "abcdefghijklmnopqrstuvwxyz";

// casa, casamiento, the full stop, and a few more.
const Dictionary& HouseDictionary() {
  static const Dictionary d{
      std::string(kLetters) + "'",
      {{"casa", "casa", {"n"}},
       {"casamiento", "casamiento", {"n"}},
       {".", ".", {"punt"}},
       {"l'", "el", {"det"}},
       {"aigua", "aigua", {"n"}},
       {"mi", "mi", {"adj"}},
       {"e", "e", {"cnj"}}},
      "",
  };
  return d;
}

// The same words plus unknown words made of lower-case letters.
const Dictionary& HouseDictionaryWithUnknown() {
  static const Dictionary d{HouseDictionary().alphabet,
                            HouseDictionary().entries, kLetters};
  return d;
}

Result RunWith(const Dictionary& d, const std::vector<std::string>& options,
               const std::string& input) {
  static std::map<const Dictionary*, std::string> files;
  std::string& f = files[&d];
  if (f.empty())
    f = FileFor(d, "program_" + std::to_string(files.size()) + ".bin");
  std::vector<std::string> args = {ETIQUEM_BIN, "-b", f};
  args.insert(args.end(), options.begin(), options.end());
  return test_support::RunCommand(args, input);
}

// Output of a run that must succeed silently.
std::string OutputOf(const Dictionary& d,
                     const std::vector<std::string>& options,
                     const std::string& input) {
  Result r = RunWith(d, options, input);
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.errors, "");
  return r.output;
}
std::string OutputOf(const Dictionary& d, const std::string& input) {
  return OutputOf(d, {}, input);
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// --- The analysis loop ---

TEST(Program, HouseFullStop) {
  EXPECT_EQ(OutputOf(HouseDictionary(), "casa."), "casa&n;/.&punt;/");
  EXPECT_EQ(OutputOf(HouseDictionary(), "casa.\n"), "casa&n;/.&punt;/\n");
  EXPECT_EQ(OutputOf(HouseDictionary(), {"-s"}, "casa."),
            "casa/casa&n;/./.&punt;/");
}

TEST(Program, CasamWithCasaAndCasamiento) {
  EXPECT_EQ(OutputOf(HouseDictionary(), "casam"), "casa&n;/m");
  EXPECT_EQ(OutputOf(HouseDictionary(), "casamiento"), "casamiento&n;/");
  EXPECT_EQ(OutputOf(HouseDictionary(), "casamiento\n"), "casamiento&n;/\n");
  EXPECT_EQ(OutputOf(HouseDictionary(), "casamient\n"),
            "casa&n;/mi&adj;/e&cnj;/nt\n");
}

TEST(Program, Capitals) {
  EXPECT_EQ(OutputOf(HouseDictionary(), "Casa CASA cASA\n"),
            "Casa&n;/ CASA&n;/ cASA&n;/\n");
  EXPECT_EQ(OutputOf(HouseDictionary(), "L'aigua\n"), "El&det;/aigua&n;/\n");
}

TEST(Program, WordFollowedByABlank) {
  EXPECT_EQ(OutputOf(HouseDictionary(), "casa casa\n"), "casa&n;/ casa&n;/\n");
  EXPECT_EQ(OutputOf(HouseDictionary(), "  casa  "), "  casa&n;/  ");
}

TEST(Program, CharactersThatStartNoPath) {
  const std::string t = "xyz 123 ,;:!? \t\r\n\xe7\xe0\n";
  EXPECT_EQ(OutputOf(HouseDictionary(), t), t);
}

TEST(Program, EmptyInput) {
  Result r = RunWith(HouseDictionary(), {}, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.errors, "");
  r = RunWith(HouseDictionary(), {"-s", "-m", "-a"}, "");
  EXPECT_EQ(r.output, "");
}

// Pieces of compound readings stand only at the end of a word.
TEST(Program, PiecesBeforeALetterOrOther) {
  const Dictionary d{"abcx",
                     {{"ab", "ab", {"p"}, kEndOfPiece},
                      {"ab", "", {}, kEndOfUnknown},
                      {"abcd", "abcd", {"n"}}},
                     ""};
  // Before a character that is not a letter the pieces stay.
  EXPECT_EQ(OutputOf(d, "ab.\n"), "ab&p;.\n");
  EXPECT_EQ(OutputOf(d, "ab"), "ab&p;");
  // Before a letter they are dropped; the unknown-word reading stays.
  EXPECT_EQ(OutputOf(d, "abx\n"), "abx\n");
  EXPECT_EQ(OutputOf(d, {"-m"}, "abx\n"), "<d>ab</d>x\n");
  EXPECT_EQ(OutputOf(d, {"-m"}, "abc\n"), "<d>ab</d>c\n");
  EXPECT_EQ(OutputOf(d, {"-m"}, "abcd ab\n"), "abcd&n;/ ab&p;\n");
  // With capitals, the one-shot capital.
  EXPECT_EQ(OutputOf(d, "Ab AB\n"), "Ab&p; AB&P;\n");
  // Repeated in one run, every time the same.
  std::string in, out;
  for (int i = 0; i < 3; ++i) {
    in += "ab.\nabx\nabc\nab\n";
    out += "ab&p;.\n<d>ab</d>x\n<d>ab</d>c\nab&p;\n";
  }
  EXPECT_EQ(OutputOf(d, {"-m"}, in), out);
}

// --- Options ---

TEST(Program, OptionS) {
  EXPECT_EQ(OutputOf(HouseDictionaryWithUnknown(), {"-s"}, "casa xyz, casam\n"),
            "casa/casa&n;/ xyz/xyz, casa/casa&n;/m/m\n");
}

TEST(Program, OptionM) {
  EXPECT_EQ(
      OutputOf(HouseDictionaryWithUnknown(), {"-m"}, "casa xyz, Xyz casam\n"),
      "casa&n;/ <d>xyz</d>, <d>Xyz</d> casa&n;/<d>m</d>\n");
  EXPECT_EQ(OutputOf(HouseDictionaryWithUnknown(), "casa xyz, Xyz casam\n"),
            "casa&n;/ xyz, Xyz casa&n;/m\n");
}

TEST(Program, OptionA) {
  EXPECT_EQ(OutputOf(HouseDictionary(), {"-a"}, "l'aigua\n"),
            "el&det;/ aigua&n;/\n");
  EXPECT_EQ(OutputOf(HouseDictionary(), "l'aigua\n"), "el&det;/aigua&n;/\n");
  EXPECT_EQ(OutputOf(HouseDictionary(), {"-a"}, "aigua casa\n"),
            "aigua&n;/ casa&n;/\n");
}

TEST(Program, OptionD) {
  const std::string f = test_support::WriteFile("", "unknown_d.txt");
  EXPECT_EQ(OutputOf(HouseDictionaryWithUnknown(), {"-d", f},
                     "xyz casa abc xyz casam\n"),
            "xyz casa&n;/ abc xyz casa&n;/m\n");
  EXPECT_EQ(ReadFile(f), "xyz\nabc\nxyz\nm\n");
  // Appended: what the file held stays.
  EXPECT_EQ(OutputOf(HouseDictionaryWithUnknown(), {"-d", f}, "casa qq"),
            "casa&n;/ qq");
  EXPECT_EQ(ReadFile(f), "xyz\nabc\nxyz\nm\nqq\n");
}

TEST(Program, AllOptions) {
  const std::string f =
      test_support::WriteFile("vella\n", "unknown_all_options.txt");
  EXPECT_EQ(OutputOf(HouseDictionaryWithUnknown(), {"-s", "-m", "-a", "-d", f},
                     "l'aigua xyz Casa\n"),
            "l'/el&det;/ aigua/aigua&n;/ xyz/<d>xyz</d> Casa/Casa&n;/\n");
  EXPECT_EQ(ReadFile(f), "vella\nxyz\n");
  EXPECT_EQ(OutputOf(HouseDictionaryWithUnknown(), {"-smad", f}, "qu'e"),
            "qu/<d>qu</d>'e/e&cnj;/");
  EXPECT_EQ(ReadFile(f), "vella\nxyz\nqu\n");
}

// --- Superblanks ---

const Dictionary& MultiwordDictionary() {
  static const Dictionary d{kLetters,
                            {{"a", "a", {"pr"}},
                             {"casa", "casa", {"n"}},
                             {"a casa", "a_casa", {"adv"}},
                             {"a casa nova", "a_casa_nova", {"adv"}},
                             {"x", "x", {"s"}},
                             {"x y z", "x_y_z", {"s"}}},
                            ""};
  return d;
}

TEST(Program, SuperblankBetweenWords) {
  EXPECT_EQ(OutputOf(HouseDictionary(), "casa<![CDATA[<b>]]>casa\n"),
            "casa&n;/<![CDATA[<b>]]>casa&n;/\n");
  EXPECT_EQ(OutputOf(HouseDictionary(), "casa <![CDATA[<b>]]> casa"),
            "casa&n;/ <![CDATA[<b>]]> casa&n;/");
}

TEST(Program, AdjacentSuperblanks) {
  EXPECT_EQ(OutputOf(HouseDictionary(), "<![CDATA[a]]>casa.<![CDATA[b]]>"),
            "<![CDATA[a]]>casa&n;/.&punt;/<![CDATA[b]]>");
  EXPECT_EQ(OutputOf(HouseDictionary(),
                     "<![CDATA[1]]><![CDATA[2]]>casa<![CDATA[3]]>"),
            "<![CDATA[1]]><![CDATA[2]]>casa&n;/<![CDATA[3]]>");
  EXPECT_EQ(OutputOf(HouseDictionary(), "<![CDATA[]]>"), "<![CDATA[]]>");
}

TEST(Program, SuperblankInsideAMultiwordStretch) {
  EXPECT_EQ(OutputOf(MultiwordDictionary(), "a<![CDATA[<i>]]>casa\n"),
            "a_casa&adv;/<![CDATA[<i>]]>\n");
  EXPECT_EQ(OutputOf(MultiwordDictionary(), {"-s"}, "a<![CDATA[<i>]]>casa\n"),
            "a casa/a_casa&adv;/<![CDATA[<i>]]>\n");
  EXPECT_EQ(OutputOf(MultiwordDictionary(), "a<![CDATA[<i>]]>casa"),
            "a_casa&adv;/<![CDATA[<i>]]>");
}

TEST(Program, TwoSuperblanksInOneAttempt) {
  EXPECT_EQ(
      OutputOf(MultiwordDictionary(), "a<![CDATA[1]]>casa<![CDATA[2]]>nova\n"),
      "a_casa_nova&adv;/<![CDATA[1]]><![CDATA[2]]>\n");
  // The attempt reads through both markers but writes a shorter stretch:
  // each superblank comes out at its own place.
  EXPECT_EQ(
      OutputOf(MultiwordDictionary(), "a<![CDATA[1]]>casa<![CDATA[2]]>nov\n"),
      "a_casa&adv;/<![CDATA[1]]><![CDATA[2]]>nov\n");
  EXPECT_EQ(OutputOf(MultiwordDictionary(), "a<![CDATA[1]]>cas<![CDATA[2]]>\n"),
            "a&pr;/<![CDATA[1]]>ca&pr;/s<![CDATA[2]]>\n");
}

TEST(Program, SuperblankDoesNotMoveBeforeTheTextBeforeIt) {
  EXPECT_EQ(OutputOf(MultiwordDictionary(), "x y<![CDATA[S]]>w\n"),
            "x&s;/ y<![CDATA[S]]>w\n");
  EXPECT_EQ(OutputOf(MultiwordDictionary(), "x y<![CDATA[S]]>"),
            "x&s;/ y<![CDATA[S]]>");
}

TEST(Program, SuperblankWithDot) {
  EXPECT_EQ(OutputOf(HouseDictionary(), "casa<![CDATA[.]]>casa\n"),
            "casa&n;/<![CDATA[.]]>casa&n;/\n");
  EXPECT_EQ(OutputOf(HouseDictionary(), "<![CDATA[x<![CDATA[.]]>y]]>casa"),
            "<![CDATA[x<![CDATA[.]]>y]]>casa&n;/");
}

// --- The ring and long attempts ---

TEST(Program, LongInputWrapsAroundTheRing) {
  // 60 words of 5 characters: the 52nd word starts at position 256.
  std::string in, out;
  for (int i = 0; i < 60; ++i) {
    in += "casa ";
    out += "casa&n;/ ";
  }
  EXPECT_EQ(OutputOf(HouseDictionary(), in), out);
  // Shifted by every offset, with longer words and unknown words.
  for (int shift = 0; shift < 12; ++shift) {
    std::string in2(size_t(shift), ',');
    std::string out2 = in2;
    for (int i = 0; i < 40; ++i) {
      in2 += "casamiento qwerty casam.";
      out2 += "casamiento&n;/ <d>qwerty</d> casa&n;/<d>m</d>.&punt;/";
    }
    EXPECT_EQ(OutputOf(HouseDictionaryWithUnknown(), {"-m"}, in2), out2)
        << shift;
  }
}

TEST(Program, AttemptOfMoreThan254Characters) {
  const std::string f = test_support::WriteFile("", "unknown_long.txt");
  const std::string a300(300, 'q');
  EXPECT_EQ(
      OutputOf(HouseDictionaryWithUnknown(), {"-m", "-d", f}, a300 + "\n"),
      "<d>" + a300.substr(0, 254) + "</d><d>" + a300.substr(0, 46) + "</d>\n");
  EXPECT_EQ(ReadFile(f),
            a300.substr(0, 254) + "\n" + a300.substr(0, 46) + "\n");
  // Exactly 254 and 255, ending the input.
  EXPECT_EQ(
      OutputOf(HouseDictionaryWithUnknown(), {"-m"}, std::string(254, 'q')),
      "<d>" + std::string(254, 'q') + "</d>");
  EXPECT_EQ(
      OutputOf(HouseDictionaryWithUnknown(), {"-m"}, std::string(255, 'q')),
      "<d>" + std::string(254, 'q') + "</d><d>q</d>");
  // A known word inside the long unknown stretch.
  EXPECT_EQ(OutputOf(HouseDictionaryWithUnknown(), {"-m"},
                     std::string(252, 'q') + "casa\n"),
            "<d>" + std::string(252, 'q') + "ca</d><d>sa</d>\n");
}

TEST(Program, EndOfTheInput) {
  // 0, 1, 2 and more characters after the longest match.
  EXPECT_EQ(OutputOf(HouseDictionary(), "casa"), "casa&n;/");
  EXPECT_EQ(OutputOf(HouseDictionary(), "casam"), "casa&n;/m");
  EXPECT_EQ(OutputOf(HouseDictionary(), "casami"), "casa&n;/mi&adj;/");
  EXPECT_EQ(OutputOf(HouseDictionary(), "casamie"), "casa&n;/mi&adj;/e&cnj;/");
  EXPECT_EQ(OutputOf(HouseDictionary(), "casamien"),
            "casa&n;/mi&adj;/e&cnj;/n");
  EXPECT_EQ(OutputOf(HouseDictionary(), "casamient"),
            "casa&n;/mi&adj;/e&cnj;/nt");
  EXPECT_EQ(OutputOf(HouseDictionary(), "casamcasam"), "casa&n;/mcasa&n;/m");
  // Nothing accepted in the attempt the input ends.
  EXPECT_EQ(OutputOf(HouseDictionary(), "cas"), "cas");
  EXPECT_EQ(OutputOf(HouseDictionary(), "x c"), "x c");
  EXPECT_EQ(OutputOf(HouseDictionaryWithUnknown(), {"-m"}, "casamx"),
            "casa&n;/<d>mx</d>");
  EXPECT_EQ(OutputOf(HouseDictionaryWithUnknown(), {"-m"}, "x"), "<d>x</d>");
}

// --- Invariants: no text is lost, duplicated or moved ---

// Random text: bytes of every value, superblanks, long lines, with or
// without a final line end.
std::string RandomInput(std::mt19937& g, size_t size) {
  std::string s;
  std::uniform_int_distribution<int> kind(0, 9), byte(0, 255), letter(0, 25),
      length(1, 40);
  while (s.size() < size) {
    switch (kind(g)) {
      case 0: {
        std::string body;
        for (int i = length(g); i > 0; --i) {
          char c = char(byte(g));
          body += c == ']' ? 'x' : c;
        }
        s += "<![CDATA[" + body + "]]>";
        break;
      }
      case 1:
        s += std::string(size_t(length(g)) * 15, char('a' + letter(g)));
        break;
      case 2:
        s += '\n';
        break;
      case 3:
        s += std::string("\0\x01\xff", 3);
        break;
      case 4:
      case 5:
        for (int i = length(g); i > 0; --i) s += char(byte(g));
        break;
      default:
        for (int i = length(g) / 4 + 1; i > 0; --i) s += char('a' + letter(g));
        s += ' ';
    }
  }
  if (kind(g) < 5) s += '\n';
  return s;
}

std::string AllBytes(bool with_blank) {
  std::string s;
  for (int c = 0; c < 256; ++c)
    if (!IsFoldedUpper(c) && (with_blank || c != ' ')) s += char(c);
  return s;
}

TEST(Program, AutomatonAcceptingNothingLeavesTheInputAlone) {
  // Paths over every byte, the blank included, that never accept: every
  // attempt runs as far as it can and then writes its first character.
  Dictionary d{kLetters, {{"ab c", "x", {}}}, AllBytes(true)};
  d.unknown_accepts = false;
  d.entries[0].marker = -5;  // no marker: the path accepts nothing
  std::mt19937 g(7);
  for (int i = 0; i < 3; ++i) {
    const std::string in = RandomInput(g, 1000);
    ASSERT_EQ(OutputOf(d, {"-s", "-m"}, in), in) << i;
  }
}

TEST(Program, OnlyUnknownWordsLeavesTheInputAlone) {
  const Dictionary d{kLetters, {}, AllBytes(false)};
  std::mt19937 g(11);
  for (int i = 0; i < 8; ++i) {
    const std::string in = RandomInput(g, 3000);
    ASSERT_EQ(OutputOf(d, {"-a"}, in), in) << i;
  }
}

// Random text of words, checked against the rule of the longest match:
// a known word gives its reading, an unknown run of letters its unknown-word
// reading, 254 letters at most at a time.
TEST(Program, RandomTextWithKnownAndUnknownWords) {
  std::mt19937 g(3);
  const std::vector<std::pair<std::string, std::string>> words = {
      {"casa", "casa&n;/"},
      {"Casa", "Casa&n;/"},
      {"casamiento", "casamiento&n;/"},
      {".", ".&punt;/"},
      {"aigua", "aigua&n;/"},
      {"AIGUA", "AIGUA&n;/"}};
  std::uniform_int_distribution<int> pick(0, 9), letter(0, 5), length(1, 12);
  for (int round = 0; round < 4; ++round) {
    std::string in, out;
    while (in.size() < 4000) {
      int t = pick(g);
      if (t < 5) {
        const auto& [w, r] = words[size_t(t) % words.size()];
        in += w;
        out += r;
      } else if (t < 8) {
        std::string w;
        for (int i = length(g) * (t == 7 ? 30 : 1); i > 0; --i)
          w += "bdfghj"[letter(g)];
        in += w;
        for (size_t i = 0; i < w.size(); i += 254)
          out += "<d>" + w.substr(i, 254) + "</d>";
      } else if (t == 8) {
        in += "<![CDATA[<p class=\"x\">]]>";
        out += "<![CDATA[<p class=\"x\">]]>";
        continue;
      }
      const char* seps[] = {" ", "\n", ", "};
      const char* sep = seps[pick(g) % 3];
      in += sep;
      out += sep;
    }
    ASSERT_EQ(OutputOf(HouseDictionaryWithUnknown(), {"-m"}, in), out) << round;
  }
}

// --- The deterministic walk and the memory of stretches ---

// What a run in this process writes (output, unknown words), with or without
// the deterministic walk and the memory of stretches, the memory bounded to
// `max_nodes` stretches.
std::pair<std::string, std::string> InProcess(const std::string& bin,
                                              const std::string& input,
                                              bool memory, size_t max_nodes,
                                              int s, int a, int m) {
  auto t = std::make_unique<Automaton>();
  ResetAutomaton(*t);
  std::string error;
  int status = 0;
  EXPECT_TRUE(LoadAutomatonFile(*t, bin.c_str(), error, status)) << error;
  const test_support::Outputs r = test_support::AnalyseInProcess(
      *t, ReadFile(input), s, a, m, memory, max_nodes);
  return {r.text, r.unknown_output};
}

TEST(Program, TheFastWalkChangesNothing) {
  // Random text with pieces, unknown words, capitals and superblanks.
  const Dictionary d{std::string(kLetters) + "'",
                     {{"ab", "ab", {"p"}, kEndOfPiece},
                      {"abcd", "abcd", {"n"}},
                      {"casa", "casa", {"n"}},
                      {"casamiento", "casamiento", {"n"}},
                      {"l'", "el", {"det"}},
                      {"a casa", "a_casa", {"adv"}}},
                     "abcdefghijklmnopqrst"};
  const std::string bin = FileFor(d, "program_memory.bin");
  std::mt19937 g(5);
  const char* chunks[] = {"ab",
                          "abc",
                          "abcd",
                          "Ab",
                          "AB",
                          "casa",
                          "Casa",
                          "casam",
                          "l'",
                          "L'",
                          "a casa",
                          "a",
                          "<![CDATA[x]]>",
                          " ",
                          "\n",
                          ".",
                          "'",
                          "zz",
                          "qrst",
                          "xyz"};
  std::uniform_int_distribution<int> pick(0, 19);
  std::string text;
  while (text.size() < 6000) text += chunks[pick(g)];
  const std::string input = test_support::WriteFile(text, "memory.txt");
  for (int options = 0; options < 8; ++options) {
    const int s = options & 1, a = (options >> 1) & 1, m = (options >> 2) & 1;
    SCOPED_TRACE(options);
    const auto without_memory = InProcess(bin, input, false, 1 << 18, s, a, m);
    EXPECT_EQ(InProcess(bin, input, true, 1 << 18, s, a, m), without_memory);
    // A small memory, emptied again and again.
    EXPECT_EQ(InProcess(bin, input, true, 40, s, a, m), without_memory);
  }
}

TEST(Program, TheFastWalkChangesNothingOnTheCorpus) {
  const std::string shared = ETIQUEM_SHARED;
  const std::string bin = shared + "/lexicon/ca.bin";
  if (access(bin.c_str(), R_OK) != 0) GTEST_SKIP() << "no shared lexicon";
  for (const char* name : {"/corpus/ca-sb.txt", "/corpus/ca.txt"}) {
    std::string text = ReadFile(shared + name);
    if (text.empty()) continue;
    text.resize(std::min(text.size(), size_t(100000)));
    const std::string input =
        test_support::WriteFile(text, "memory_corpus.txt");
    const auto without_memory = InProcess(bin, input, false, 1 << 18, 1, 1, 1);
    EXPECT_EQ(InProcess(bin, input, true, 1 << 18, 1, 1, 1), without_memory)
        << name;
    EXPECT_EQ(InProcess(bin, input, true, 500, 1, 1, 1), without_memory)
        << name;
  }
}

// --- Streaming ---

// Reads from `fd` until `buf` ends with `suffix` or the time is over.
bool ReadUntil(int fd, std::string& buf, const std::string& suffix, int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (buf.size() < suffix.size() ||
         buf.compare(buf.size() - suffix.size(), suffix.size(), suffix) != 0) {
    int rest = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                       end - std::chrono::steady_clock::now())
                       .count());
    if (rest <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, rest) <= 0) return false;
    char b[4096];
    ssize_t n = read(fd, b, sizeof b);
    if (n <= 0) return false;
    buf.append(b, size_t(n));
  }
  return true;
}

// Starts the program with `option`, when not null, and -b `bin` on two
// pipes: its input's writing end goes to `to_program`, its output's
// reading end to `from_program`.
pid_t StartOnPipes(const std::string& bin, const char* option, int& to_program,
                   int& from_program) {
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return -1;
  signal(SIGPIPE, SIG_IGN);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[0]);
    close(in[1]);
    close(out[0]);
    close(out[1]);
    if (option != nullptr)
      execl(ETIQUEM_BIN, ETIQUEM_BIN, option, "-b", bin.c_str(),
            (char*)nullptr);
    else
      execl(ETIQUEM_BIN, ETIQUEM_BIN, "-b", bin.c_str(), (char*)nullptr);
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  to_program = in[1];
  from_program = out[0];
  return pid;
}

TEST(Program, OutputKeepsPaceWithInputInAPipe) {
  const std::string bin = FileFor(HouseDictionary(), "program_pipe.bin");
  int in[2], out[2];
  const pid_t pid = StartOnPipes(bin, nullptr, in[1], out[0]);
  ASSERT_GE(pid, 0);
  const std::vector<std::pair<std::string, std::string>> lines = {
      {"casa\n", "casa&n;/\n"},
      {"Casa casa.\n", "Casa&n;/ casa&n;/.&punt;/\n"},
      {"x<![CDATA[.]]>casa\n", "x<![CDATA[.]]>casa&n;/\n"},
      {"casa", "casa"},  // the word may still go on: nothing yet
  };
  std::string received, expected;
  for (const auto& [l, s] : lines) {
    ASSERT_EQ(write(in[1], l.data(), l.size()), ssize_t(l.size()));
    if (l == "casa") break;
    expected += s;
    EXPECT_TRUE(ReadUntil(out[0], received, s, 10000))
        << "after writing " << l << " got " << received;
    EXPECT_EQ(received, expected);
  }
  close(in[1]);
  expected += "casa&n;/";
  EXPECT_TRUE(ReadUntil(out[0], received, "casa&n;/", 10000));
  EXPECT_EQ(received, expected);
  close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// --json too: its lines are made on a thread of their own, which writes
// what the analysis hands over while the analysis waits for input.
TEST(Program, JsonLinesKeepPaceWithInputInAPipe) {
  const std::string bin = FileFor(HouseDictionary(), "program_pipe.bin");
  int to_program = -1, from_program = -1;
  const pid_t pid = StartOnPipes(bin, "--json", to_program, from_program);
  ASSERT_GE(pid, 0);
  const std::vector<std::pair<std::string, std::string>> lines = {
      {"casa\n",
       R"({"kind":"plain","start":4,"end":5,"surface":"\n","text":"\n"})"
       "\n"},
      {"Casa casa.\n",
       R"({"kind":"plain","start":15,"end":16,"surface":"\n","text":"\n"})"
       "\n"},
  };
  std::string received;
  for (const auto& [l, last_line] : lines) {
    ASSERT_EQ(write(to_program, l.data(), l.size()), ssize_t(l.size()));
    EXPECT_TRUE(ReadUntil(from_program, received, last_line, 10000))
        << "after writing " << l << " got " << received;
  }
  EXPECT_NE(received.find(R"("surface":"Casa","text":"Casa&n;/")"),
            std::string::npos)
      << received;
  close(to_program);
  char rest[64];
  EXPECT_EQ(read(from_program, rest, sizeof rest), 0);  // nothing more
  close(from_program);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// --- A real dictionary over real text ---

TEST(Program, CatalanCorpus) {
  const std::string shared = ETIQUEM_SHARED;
  const std::string bin = shared + "/lexicon/ca.bin";
  const std::string corpus = shared + "/corpus/ca.txt";
  if (access(bin.c_str(), R_OK) != 0 || access(corpus.c_str(), R_OK) != 0)
    GTEST_SKIP() << "no shared Catalan lexicon or corpus";
  const size_t limit = test_support::kWithSanitizer ? size_t(1) << 20
                                                   : size_t(8) << 20;
  std::string text = ReadFile(corpus);
  ASSERT_FALSE(text.empty());
  if (text.size() > limit) text.resize(text.rfind('\n', limit) + 1);
  const std::string input = test_support::WriteFile(text, "corpus_ca.txt");
  test_support::RunOptions op;
  op.seconds = 120;
  Result r =
      test_support::RunWithInputFile({ETIQUEM_BIN, "-b", bin}, input, op);
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.errors, "");
  // Line ends are no word characters: every one is written as itself.
  EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'),
            std::count(text.begin(), text.end(), '\n'));
  EXPECT_NE(r.output.find(" de&nf;/ "), std::string::npos);
  EXPECT_NE(r.output.find("aigua&nf;/"), std::string::npos);
  EXPECT_NE(r.output.find("casa&nf;/casar&fl00;/"), std::string::npos);
  EXPECT_GT(r.output.size(), text.size() * 2);
  // The first line, analysed alone, comes out as the start of the whole run.
  const std::string first = text.substr(0, text.find('\n') + 1);
  Result u = test_support::RunCommand({ETIQUEM_BIN, "-b", bin}, first);
  EXPECT_EQ(r.output.compare(0, u.output.size(), u.output), 0);
}

}  // namespace
}  // namespace etiquem
