// AT&T text: reading hand-written transducers, dumping automaton files, and
// dump followed by compile keeping the behaviour.

#include "dictionary/att.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "dictionary/lexicon.h"
#include "dictionary_helper.h"

namespace etiquem::dictionary {
namespace {

using test_support::CompleteReadings;
using test_support::Readings;

Automaton CompileAttText(const std::string& text,
                         std::vector<std::string>* warnings = nullptr) {
  Transducer a;
  std::string error;
  std::vector<std::string> v;
  EXPECT_TRUE(CompileAtt("p.att", text, a, error, v)) << error;
  if (warnings) *warnings = v;
  return test_support::Load(Serialise(a));
}

std::string AttError(const std::string& text) {
  Transducer a;
  std::string error;
  std::vector<std::string> warnings;
  EXPECT_FALSE(CompileAtt("p.att", text, a, error, warnings));
  return error;
}

TEST(AttReading, HandWrittenTransducer) {
  // gat -> gat<n><m><sg>; gats -> gat<n><m><pl>; weights and blanks as
  // separators are accepted; "@_SPACE_@" is a blank.
  auto t = CompileAttText(
      "0\t1\tg\tg\t0.5\n"
      "1\t2\ta\ta\n"
      "2\t3\tt\tt\n"
      "3\t4\t@0@\t<n>\n"
      "4\t5\t@_EPSILON_SYMBOL_@\t<m>\n"
      "5\t6\t<eps>\t<sg>\n"
      "3\t7\ts\t@0@\n"
      "7\t8\t@0@\t<n>\n"
      "8\t9\t@0@\t<m>\n"
      "9 10 @0@ <pl>\n"
      "6\t0.0\n"
      "10\n"
      "0\t11\t@_SPACE_@\t@_SPACE_@\n"
      "11\n");
  EXPECT_EQ(CompleteReadings(t, "gat"), "gat&n;&m;&sg;/");
  EXPECT_EQ(CompleteReadings(t, "gats"), "gat&n;&m;&pl;/");
  EXPECT_EQ(CompleteReadings(t, " "), " /");
  EXPECT_EQ(CompleteReadings(t, "ga"), "");
  EXPECT_EQ(t.symbol_name_count, 4);
  EXPECT_EQ(t.symbol_names[0].name, "n");
}

TEST(AttReading, EquivalentStatesAreMerged) {
  // Two copies of the same suffix automaton collapse into one.
  auto t = CompileAttText(
      "0\t1\ta\ta\n0\t2\tb\tb\n"
      "1\t3\tx\tx\n2\t4\tx\tx\n"
      "3\t5\t@0@\t<n>\n4\t6\t@0@\t<n>\n5\n6\n");
  EXPECT_EQ(t.state_count, 4);
  EXPECT_EQ(CompleteReadings(t, "ax"), "ax&n;/");
  EXPECT_EQ(CompleteReadings(t, "bx"), "bx&n;/");
}

TEST(AttReading, EpsilonMovesAtTheStartAreFoldedIntoItsMoves) {
  std::vector<std::string> warnings;
  auto t = CompileAttText(
      "0\t1\t@0@\tx\n1\t2\t@0@\ty\n2\t3\ta\tz\n3\n0\t4\tb\tb\n4\n0\n",
      &warnings);
  EXPECT_EQ(t.states[0].epsilon_group_count, 0);
  EXPECT_EQ(CompleteReadings(t, "a"), "xyz/");
  EXPECT_EQ(CompleteReadings(t, "b"), "b/");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("empty word"), std::string::npos);
}

TEST(AttReading, CyclesOfConsumingMovesAreKept) {
  auto t = CompileAttText("0\t1\ta\ta\n1\t1\ta\ta\n1\t2\t@0@\t<n>\n2\n");
  EXPECT_EQ(CompleteReadings(t, "aaaa"), "aaaa&n;/");
}

TEST(AttReading, Errors) {
  EXPECT_EQ(AttError("0\t1\ta\n"),
            "Error: p.att:1: expected 'src dst input output [weight]' or "
            "'state [weight]', found 3 fields");
  EXPECT_EQ(AttError("0\t1\ta\ta\nx\t1\ta\ta\n"),
            "Error: p.att:2: bad state number 'x'");
  EXPECT_EQ(AttError("0\t1\t<n>\ta\n"),
            "Error: p.att:1: multi-character symbol '<n>' on the input side; "
            "input is read one character at a time");
  EXPECT_EQ(AttError("0\t1\ta\ta\n1\t2\t@0@\t0\n"),
            "Error: p.att:2: an epsilon move cannot write the digit 0 (the "
            "matcher drops it)");
  EXPECT_EQ(AttError("0\t1\t\xe2\x82\xac\ta\n"),
            "Error: p.att:1: symbol '\xe2\x82\xac': character U+20AC "
            "(\xe2\x82\xac) is outside Latin-1");
  EXPECT_EQ(AttError("0\t1\ta\ta\n1\t2\t@0@\tb\n2\t1\t@0@\tc\n2\n"),
            "Error: p.att: cycle of epsilon moves through state 1");
  EXPECT_EQ(AttError("0\t1\t@_IDENTITY_SYMBOL_@\ta\n"),
            "Error: p.att:1: special symbol '@_IDENTITY_SYMBOL_@' is not "
            "supported");
  EXPECT_EQ(AttError("0\t1\ta\ta\n--\n"),
            "Error: p.att:2: several transducers in one file; give one");
  EXPECT_EQ(AttError("\n"), "Error: p.att: no states");
}

// A carriage return ends a line (CRLF) or is refused with the line's number:
// a symbol holding one would be dumped raw and read back as a line end. So
// whatever the position of one or two carriage returns in a text, the text
// is refused or its dump compiles back to the same readings.
TEST(AttReading, CarriageReturnIsALineEndOrRefused) {
  // Found by the fuzzer (fuzz/regressions/att/carriage_return.att).
  EXPECT_EQ(AttError("0\t1\t~\t\r\r\n"),
            "Error: p.att:1: carriage return inside the line");
  EXPECT_EQ(CompleteReadings(CompileAttText("0\t1\ta\tb\r\n1\r\n"), "a"), "b/");
  const std::string base = "0\t1\ta\tb\n1\t2\t@0@\t<n>\n2\n";
  for (const char* inserted : {"\r", "\r\r"})
    for (size_t at = 0; at <= base.size(); ++at) {
      const std::string text = base.substr(0, at) + inserted + base.substr(at);
      SCOPED_TRACE(testing::PrintToString(text));
      Transducer a;
      std::string error, dump;
      std::vector<std::string> warnings;
      if (!CompileAtt("p.att", text, a, error, warnings)) {
        const size_t line = 1 + size_t(std::count(base.begin(), base.begin() + at, '\n'));
        EXPECT_EQ(error, "Error: p.att:" + std::to_string(line) +
                             ": carriage return inside the line");
        continue;
      }
      const Automaton t = test_support::Load(Serialise(a));
      ASSERT_TRUE(DumpAtt(t, dump, error)) << error;
      EXPECT_EQ(CompleteReadings(CompileAttText(dump), "a"),
                CompleteReadings(t, "a"));
      EXPECT_EQ(CompleteReadings(t, "a"), "b&n;/");
    }
}

TEST(AttDump, TheSmallestFileDumpsAsExpected) {
  // Alphabet "ab", define n = 258: a:a, then epsilon writing <n>, final.
  const std::string path = std::string(
      "\x02\0\0\0ab\x01\0\0\0\x01\0\0\0n\x02\x01\0\0\x03\0\0\0"
      "\0\0\0\0\0\0\x01\0\0\0\x61\0\x01\0\0\0\x61\0\x01\0\0\0"
      "\x01\0\0\0\x01\0\x01\0\0\0\0\0\x01\0\0\0\x02\x01\x02\0\0\0\0\0\0\0"
      "\x02\0\0\0\0\0\x01\0\0\0\xf0\xd8\x01\0\0\0\0\0\x02\0\0\0",
      93);
  auto t = test_support::Load(path);
  std::string text, error;
  ASSERT_TRUE(DumpAtt(t, text, error)) << error;
  EXPECT_EQ(text, "0\t1\ta\ta\n1\t2\t@0@\t<n>\n2\n");
}

TEST(AttDump, DumpThenCompileKeepsEveryReadingInOrder) {
  const std::string lexicon =
      "@desconegudes\n"
      "cases\tcasar<v><p2>\ncases\tcasa<n><pl>\n"
      "x\tx<a><b>\nx\tx<c>\n"
      "a\tq<t>\na\tp<t>\nab\tpz<u>\nab\tqz<u>\n"
      "dir-ho\tdir<v>\tparcial\ndir-ho\tho<prn>\tparcial\n"
      "a causa de\ta causa de<pr>\n"
      "m\xe0\tm\xe0<n>\n10\t10<num>\n";
  Transducer a;
  std::string error, text;
  ASSERT_TRUE(CompileLexicon("p.dic", lexicon, Encoding::kLatin1, a, error));
  auto t = test_support::Load(Serialise(a));
  ASSERT_TRUE(DumpAtt(t, text, error)) << error;
  EXPECT_NE(text.find("\t\xc3\xa0\t\xc3\xa0\n"), std::string::npos)
      << "UTF-8 text";
  auto t2 = CompileAttText(text);
  for (const char* form : {"cases", "x", "a", "ab", "dir-ho", "a causa de",
                           "m\xe0", "10", "zzz", "Cases"}) {
    auto l1 = Readings(t, form);
    auto l2 = Readings(t2, form);
    ASSERT_EQ(l1.size(), l2.size()) << form;
    for (size_t i = 0; i < l1.size(); ++i) {
      EXPECT_EQ(l1[i].marker, l2[i].marker) << form;
      EXPECT_EQ(test_support::Text(t, l1[i].output),
                test_support::Text(t2, l2[i].output))
          << form;
    }
  }
}

TEST(Report, CountsOfTheSmallestFile) {
  Transducer a;
  std::string error;
  ASSERT_TRUE(CompileLexicon("p.dic", "@desconegudes\na\ta<n>\nb\tb\tparcial\n",
                             Encoding::kLatin1, a, error));
  const std::string path = Serialise(a);
  EXPECT_EQ(CountsReport(test_support::Load(path), path.size()),
            "file bytes: " + std::to_string(path.size()) +
                "\n"
                "states: 5\n"
                "character groups: 4\n"
                "consuming moves: 6\n"
                "states with epsilon moves: 1\n"
                "epsilon groups: 1\n"
                "epsilon moves: 1\n"
                "complete-analysis markers: 1\n"
                "compound-piece markers: 1\n"
                "unknown-word markers: 1\n"
                "defines: 1, codes 258-258\n"
                "alphabet: 5 bytes: '-ab\xc2\xb7\n");
}

}  // namespace
}  // namespace etiquem::dictionary
