// The full-form lexicon compiler: reading order, padding, minimality, the
// layout the matcher needs, the guesser, encodings and error messages.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "dictionary/lexicon.h"
#include "dictionary_helper.h"

namespace etiquem::dictionary {
namespace {

using test_support::CompileText;
using test_support::CompleteReadings;
using test_support::Readings;

// Compiles and returns the statistics, failing the test on an error.
LexiconStatistics Statistics(const std::string& lexicon) {
  Transducer a;
  std::string error;
  LexiconStatistics stats;
  EXPECT_TRUE(
      CompileLexicon("p.dic", lexicon, Encoding::kDetect, a, error, &stats))
      << error;
  return stats;
}

std::string Error(const std::string& lexicon, Encoding c = Encoding::kDetect) {
  Transducer a;
  std::string error;
  EXPECT_FALSE(CompileLexicon("p.dic", lexicon, c, a, error));
  return error;
}

// The layout rules the matcher relies on, checked on a loaded file.
void CheckForm(const Automaton& t) {
  ASSERT_GT(t.state_count, 0);
  EXPECT_EQ(t.states[0].epsilon_group_count, 0) << "state 0 is never closed";
  for (int32_t i = 0; i < t.state_count; ++i) {
    const State& n = t.states[size_t(i)];
    EXPECT_LE(n.epsilon_group_count, 1)
        << "state " << i << ": one epsilon group";
    for (int32_t g = 0; g < n.epsilon_group_count; ++g)
      for (int32_t k = 0; k < n.epsilon_groups[g].move_count; ++k)
        EXPECT_NE(n.epsilon_groups[g].moves[k].output_symbol, '0')
            << "state " << i;
    for (int32_t g = 1; g < n.group_count; ++g)
      EXPECT_LT(n.groups[g - 1].input_symbol, n.groups[g].input_symbol)
          << "state " << i;
    for (int32_t g = 0; g < n.group_count; ++g)
      if (n.groups[g].input_symbol < 0) {
        EXPECT_EQ(n.groups[g].move_count, 1);
      }
  }
}

// No two states with the same markers and the same moves.
void CheckMinimal(const Automaton& t) {
  std::set<std::vector<int64_t>> seen;
  for (int32_t i = 0; i < t.state_count; ++i) {
    const State& n = t.states[size_t(i)];
    std::vector<int64_t> sig;
    for (int32_t g = 0; g < n.epsilon_group_count; ++g)
      for (int32_t k = 0; k < n.epsilon_groups[g].move_count; ++k)
        sig.insert(sig.end(), {-1, n.epsilon_groups[g].moves[k].output_symbol,
                               n.epsilon_groups[g].moves[k].target});
    sig.push_back(-99);
    for (int32_t g = 0; g < n.group_count; ++g) {
      sig.push_back(n.groups[g].input_symbol);
      for (int32_t k = 0; k < n.groups[g].move_count; ++k) {
        const Move& m = n.groups[g].moves[k];
        // A marker's dummy entry points at its own state.
        sig.insert(sig.end(), {m.output_symbol,
                               n.groups[g].input_symbol < 0 ? -7 : m.target});
      }
    }
    EXPECT_TRUE(seen.insert(sig).second) << "state " << i << " has a twin";
  }
}

TEST(ReadingOrder, AnalysesOfAFormComeOutInSourceOrder) {
  auto t = CompileText(
      "cases\tcasar<vblex><pri><p2><sg>\n"
      "cases\tcasa<n><f><pl>\n"
      "casa\tcasa<n><f><sg>\n"
      "casa\tcasar<vblex><pri><p3><sg>\n");
  EXPECT_EQ(CompleteReadings(t, "cases"),
            "casar&vblex;&pri;&p2;&sg;/casa&n;&f;&pl;/");
  EXPECT_EQ(CompleteReadings(t, "casa"),
            "casa&n;&f;&sg;/casar&vblex;&pri;&p3;&sg;/");
}

TEST(ReadingOrder, ShorterTailsArePaddedToTheLongest) {
  // Without padding the one-tag analysis, one epsilon move shorter, would
  // be listed first.
  const std::string lexicon = "x\tx<a><b>\nx\tx<c>\ny\ty<c>\n";
  auto t = CompileText(lexicon);
  EXPECT_EQ(CompleteReadings(t, "x"), "x&a;&b;/x&c;/");
  EXPECT_EQ(CompleteReadings(t, "y"), "y&c;/");
  auto stats = Statistics(lexicon);
  EXPECT_EQ(stats.padded_forms, 1u);
  EXPECT_EQ(stats.padding_moves, 1u);
}

TEST(ReadingOrder, AnEarlierFormsBranchDoesNotReorderALaterForm) {
  // Form "a" creates the edges (a:q) then (a:p); form "ab" wants p before q.
  const std::string lexicon = "a\tq<t>\na\tp<t>\nab\tpz<u>\nab\tqz<u>\n";
  auto t = CompileText(lexicon);
  EXPECT_EQ(CompleteReadings(t, "a"), "q&t;/p&t;/");
  EXPECT_EQ(CompleteReadings(t, "ab"), "pz&u;/qz&u;/");
  EXPECT_EQ(Statistics(lexicon).order_branches, 1u);
}

TEST(ReadingOrder, RandomLexiconsKeepSourceOrderAndLayout) {
  std::mt19937 random(12345);
  auto word = [&](const char* letters, int max) {
    std::string s;
    int n = 1 + int(random() % unsigned(max));
    for (int i = 0; i < n; ++i) s.push_back(letters[random() % 3]);
    return s;
  };
  for (int round = 0; round < 60; ++round) {
    std::map<std::string, std::vector<std::string>> expected;
    std::string lexicon;
    for (int i = 0; i < 40; ++i) {
      std::string form = word("abc", 4);
      std::string lemma = word("abd", 5);
      std::string tags;
      for (unsigned k = random() % 3; k > 0; --k)
        tags += "<t" + std::to_string(random() % 3) + ">";
      std::string analysis = lemma + tags;
      auto& v = expected[form];
      if (std::find(v.begin(), v.end(), analysis) != v.end()) continue;
      v.push_back(analysis);
      lexicon += form + "\t" + analysis + "\n";
    }
    auto t = CompileText(lexicon);
    CheckForm(t);
    CheckMinimal(t);
    for (const auto& [form, analyses] : expected) {
      std::string s;
      for (std::string a : analyses) {
        for (size_t p; (p = a.find('<')) != std::string::npos;)
          a.replace(p, 1, "&");
        for (size_t p; (p = a.find('>')) != std::string::npos;)
          a.replace(p, 1, ";");
        s += a + "/";
      }
      ASSERT_EQ(CompleteReadings(t, form), s) << "round " << round << "\n"
                                              << lexicon;
    }
  }
}

TEST(Form, TagsFollowTheLastConsumingMoveAsDefinesByFrequency) {
  auto t = CompileText("ab\tab<rar><freq>\nc\tc<freq>\n");
  ASSERT_EQ(t.symbol_name_count, 2);
  EXPECT_EQ(t.symbol_names[0].name, "freq");
  EXPECT_EQ(t.symbol_names[0].code, 258);
  EXPECT_EQ(t.symbol_names[1].name, "rar");
  EXPECT_EQ(t.symbol_names[1].code, 259);
  // a, b on consuming moves; the tags on epsilon moves after b.
  const State& n0 = t.states[0];
  int g = FindGroup(n0.groups, 'a', n0.group_count);
  ASSERT_GE(g, 0);
  const State& n1 = t.states[size_t(n0.groups[g].moves[0].target)];
  EXPECT_EQ(n1.epsilon_group_count, 0);
  g = FindGroup(n1.groups, 'b', n1.group_count);
  ASSERT_GE(g, 0);
  const State& n2 = t.states[size_t(n1.groups[g].moves[0].target)];
  ASSERT_EQ(n2.epsilon_group_count, 1);
  EXPECT_EQ(n2.epsilon_groups[0].moves[0].output_symbol, 259);
}

TEST(Form, LexicalFormsLongerOrShorterThanTheSurface) {
  auto t = CompileText("anem\tanar<vblex>\nvaig\tanar<vaux>\nb\tbaba<n>\n");
  EXPECT_EQ(CompleteReadings(t, "anem"), "anar&vblex;/");
  EXPECT_EQ(CompleteReadings(t, "vaig"), "anar&vaux;/");
  EXPECT_EQ(CompleteReadings(t, "b"), "baba&n;/");
  CheckForm(t);
}

TEST(Form, KindsOfReadingBecomeTheirMarkers) {
  auto t = CompileText(
      "dir-ho\tdir<vblex>\tparcial\ndir-ho\tho<prn>\tparcial\n"
      "hobby\t\tdesconeguda\ncasa\tcasa<n>\tcompleta\n");
  auto l = Readings(t, "dir-ho");
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0].marker, kEndOfPiece);
  EXPECT_EQ(test_support::Text(t, l[0].output), "dir&vblex;");
  EXPECT_EQ(test_support::Text(t, l[1].output), "ho&prn;");
  l = Readings(t, "hobby");
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].marker, kEndOfUnknown);
  l = Readings(t, "casa");
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].marker, kEndOfAnalysis);
}

TEST(Form, MultiwordUnitsCrossBlanks) {
  auto t = CompileText("a causa de\ta causa de<pr>\na\ta<pr>\n");
  EXPECT_EQ(CompleteReadings(t, "a causa de"), "a causa de&pr;/");
  EXPECT_EQ(t.alphabet.find(' '), std::string::npos);
}

TEST(Form, RepeatedEntriesAreDroppedOnce) {
  auto t = CompileText("a\ta<n>\na\ta<v>\na\ta<n>\n");
  EXPECT_EQ(CompleteReadings(t, "a"), "a&n;/a&v;/");
  EXPECT_EQ(Statistics("a\ta<n>\na\ta<n>\n").repeats, 1u);
}

TEST(Minimisation, SharedEndingsAreMerged) {
  // Three verbs with the same endings and tags: the ending states are shared,
  // so the size grows by the distinct stems only.
  std::string once, thrice;
  for (const char* root : {"cant", "parl", "mir"})
    for (const char* end : {"o", "es", "a", "em", "eu", "en"}) {
      std::string l = std::string(root) + end + "\t" + root + "ar<vblex>\n";
      thrice += l;
      if (std::string(root) == "cant") once += l;
    }
  auto t1 = CompileText(once);
  auto t3 = CompileText(thrice);
  CheckMinimal(t3);
  // "parl" and "mir" add their own stems plus the lexical "ar": few states.
  EXPECT_LE(t3.state_count, t1.state_count + 14);
}

TEST(Alphabet, DefaultIsTheLettersOfTheFormsPlusThreeSigns) {
  auto t = CompileText("l'\tel<det>\n.\t.<sent>\nàb1\tx<n>\n");
  EXPECT_EQ(t.alphabet, std::string("'-1bl\xb7\xe0"));
}

TEST(Alphabet, DirectiveReplacesTheDefault) {
  auto t = CompileText("@alfabet zy x\n@alfabet \\ \nab\tab<n>\n");
  EXPECT_EQ(t.alphabet, " xyz");
}

TEST(Guesser, UnknownRunsOfLettersGetAnUnknownReading) {
  auto t = CompileText("@alfabet abcsxyz\n@desconegudes\ncasa\tcasa<n>\n");
  auto l = Readings(t, "xyzzy");
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].marker, kEndOfUnknown);
  // A known word keeps its analysis, and also the guess.
  l = Readings(t, "casa");
  ASSERT_EQ(l.size(), 2u);
  EXPECT_TRUE(Readings(t, "casa.").empty());
  CheckForm(t);
}

TEST(Guesser, UpperCaseInputDoesNotMultiplyLivePaths) {
  auto t = CompileText("@desconegudes\nAb\tAb<np>\nab\tab<n>\n");
  size_t max_live = 0;
  auto l = Readings(t, "ABABABABABABABAB", &max_live);
  ASSERT_EQ(l.size(), 1u);
  // At most: the two stored words, their tag states, and the guess.
  EXPECT_LE(max_live, 5u);
}

TEST(Guesser, CharactersCanBeGiven) {
  auto t = CompileText("@desconegudes ab\nc\tc<n>\n");
  EXPECT_EQ(Readings(t, "abba").size(), 1u);
  EXPECT_TRUE(Readings(t, "abc").empty());
}

TEST(Encoding, Latin1AndUtf8SourcesGiveTheSameFile) {
  Transducer a, b;
  std::string error;
  ASSERT_TRUE(CompileLexicon("u.dic", "m\xc3\xa0\tm\xc3\xa0<n><f>\n",
                             Encoding::kDetect, a, error));
  ASSERT_TRUE(CompileLexicon("l.dic", "m\xe0\tm\xe0<n><f>\n", Encoding::kDetect,
                             b, error));
  EXPECT_EQ(Serialise(a), Serialise(b));
  // Forced Latin-1 reads the two UTF-8 bytes as two characters.
  ASSERT_TRUE(CompileLexicon("u.dic", "m\xc3\xa0\tm<n>\n", Encoding::kLatin1, a,
                             error));
  EXPECT_EQ(CompleteReadings(test_support::Load(Serialise(a)), "m\xc3\xa0"),
            "m&n;/");
}

TEST(Errors, MessagesNameFileLineAndFault) {
  EXPECT_EQ(Error("a\ta<n>\nb\n"),
            "Error: p.dic:2: expected 'surface<TAB>lexical[<TAB>kind]'");
  EXPECT_EQ(Error("# c\na\ta<n>\tfoo\n"),
            "Error: p.dic:2: unknown kind of reading 'foo' (completa, parcial "
            "or desconeguda)");
  EXPECT_EQ(Error("a\ta<n\n"), "Error: p.dic:1: tag without its closing '>'");
  EXPECT_EQ(
      Error("a\ta<>\n"),
      "Error: p.dic:1: bad tag name <> (no blanks, '<', '>', '&' or ';')");
  EXPECT_EQ(Error("a\ta>\n"),
            "Error: p.dic:1: '>' outside a tag (write \\> for the character)");
  EXPECT_EQ(Error("\ta<n>\n"), "Error: p.dic:1: empty surface form");
  EXPECT_EQ(Error("a\t<n>\n\nb\t\n"), "Error: p.dic:3: empty lexical form");
  EXPECT_EQ(Error("a\tb\tc\td\n"),
            "Error: p.dic:1: more than 3 tab-separated columns");
  EXPECT_EQ(Error("@foo\n"),
            "Error: p.dic:1: unknown directive '@foo' (@alfabet or "
            "@desconegudes)");
  EXPECT_EQ(Error("@desconegudes\n@desconegudes ab\n"),
            "Error: p.dic:2: second @desconegudes directive");
  EXPECT_EQ(Error("@alfabet\n"), "Error: p.dic:1: @alfabet without characters");
  EXPECT_EQ(Error("a\tb\\"), "Error: p.dic:1: backslash at the end of a field");
  // A CRLF line end is fine; any other carriage return is refused.
  EXPECT_EQ(Error("a\ta<n>\r\nab\tab\r\r\n"),
            "Error: p.dic:2: carriage return inside the line");
}

TEST(Errors, DigitZeroPastTheSurfaceIsRefused) {
  EXPECT_EQ(Error("x\tx0<num>\n"),
            "Error: p.dic:1: the lexical digit 0 at position 2 lies past the "
            "surface form, on an epsilon move, which cannot write it");
  // Within the surface length the 0 rides a consuming move: fine.
  auto t = CompileText("10\t10<num>\n");
  EXPECT_EQ(CompleteReadings(t, "10"), "10&num;/");
}

TEST(Errors, CharactersOutsideLatin1) {
  EXPECT_EQ(
      Error("a\ta<n>\n\xe2\x82\xac\teuro<n>\n"),
      "Error: p.dic:2: character U+20AC (\xe2\x82\xac) is outside Latin-1");
  EXPECT_EQ(Error("a\ta<n>\n\xff\tb<n>\n", Encoding::kUtf8),
            "Error: p.dic:2: malformed UTF-8 at byte 1");
}

TEST(Errors, FormsTooLongForOneMatch) {
  EXPECT_EQ(Error(std::string(255, 'a') + "\ta<n>\n"),
            "Error: p.dic:1: surface form longer than 254 bytes");
}

}  // namespace
}  // namespace etiquem::dictionary
