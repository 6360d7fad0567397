// AT&T text: reading hand-written transducers, dumping automaton files, and
// dump followed by compile keeping the behaviour.

#include <gtest/gtest.h>

#include "dic/att.h"
#include "dic/lexic.h"
#include "dic_prova.h"

namespace etiquem::dic {
namespace {

using prova::Completes;
using prova::Lectures;

Transductor CompilaAttText(const std::string& text,
                           std::vector<std::string>* avisos = nullptr) {
  AutomatDic a;
  std::string error;
  std::vector<std::string> v;
  EXPECT_TRUE(CompilaAtt("p.att", text, a, error, v)) << error;
  if (avisos) *avisos = v;
  return prova::Carrega(Serialitza(a));
}

std::string ErrorAtt(const std::string& text) {
  AutomatDic a;
  std::string error;
  std::vector<std::string> avisos;
  EXPECT_FALSE(CompilaAtt("p.att", text, a, error, avisos));
  return error;
}

TEST(LecturaAtt, HandWrittenTransducer) {
  // gat -> gat<n><m><sg>; gats -> gat<n><m><pl>; weights and blanks as
  // separators are accepted; "@_SPACE_@" is a blank.
  auto t = CompilaAttText(
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
  EXPECT_EQ(Completes(t, "gat"), "gat&n;&m;&sg;/");
  EXPECT_EQ(Completes(t, "gats"), "gat&n;&m;&pl;/");
  EXPECT_EQ(Completes(t, " "), " /");
  EXPECT_EQ(Completes(t, "ga"), "");
  EXPECT_EQ(t.cdef, 4);
  EXPECT_EQ(t.defines[0].nom, "n");
}

TEST(LecturaAtt, EquivalentStatesAreMerged) {
  // Two copies of the same suffix automaton collapse into one.
  auto t = CompilaAttText(
      "0\t1\ta\ta\n0\t2\tb\tb\n"
      "1\t3\tx\tx\n2\t4\tx\tx\n"
      "3\t5\t@0@\t<n>\n4\t6\t@0@\t<n>\n5\n6\n");
  EXPECT_EQ(t.nestats, 4);
  EXPECT_EQ(Completes(t, "ax"), "ax&n;/");
  EXPECT_EQ(Completes(t, "bx"), "bx&n;/");
}

TEST(LecturaAtt, EpsilonMovesAtTheStartAreFoldedIntoItsMoves) {
  std::vector<std::string> avisos;
  auto t = CompilaAttText(
      "0\t1\t@0@\tx\n1\t2\t@0@\ty\n2\t3\ta\tz\n3\n0\t4\tb\tb\n4\n0\n", &avisos);
  EXPECT_EQ(t.automat[0].neps, 0);
  EXPECT_EQ(Completes(t, "a"), "xyz/");
  EXPECT_EQ(Completes(t, "b"), "b/");
  ASSERT_EQ(avisos.size(), 1u);
  EXPECT_NE(avisos[0].find("empty word"), std::string::npos);
}

TEST(LecturaAtt, CyclesOfConsumingMovesAreKept) {
  auto t = CompilaAttText("0\t1\ta\ta\n1\t1\ta\ta\n1\t2\t@0@\t<n>\n2\n");
  EXPECT_EQ(Completes(t, "aaaa"), "aaaa&n;/");
}

TEST(LecturaAtt, Errors) {
  EXPECT_EQ(ErrorAtt("0\t1\ta\n"),
            "Error: p.att:1: expected 'src dst input output [weight]' or "
            "'state [weight]', found 3 fields");
  EXPECT_EQ(ErrorAtt("0\t1\ta\ta\nx\t1\ta\ta\n"),
            "Error: p.att:2: bad state number 'x'");
  EXPECT_EQ(ErrorAtt("0\t1\t<n>\ta\n"),
            "Error: p.att:1: multi-character symbol '<n>' on the input side; "
            "input is read one character at a time");
  EXPECT_EQ(ErrorAtt("0\t1\ta\ta\n1\t2\t@0@\t0\n"),
            "Error: p.att:2: an epsilon move cannot write the digit 0 (the "
            "matcher drops it)");
  EXPECT_EQ(ErrorAtt("0\t1\t\xe2\x82\xac\ta\n"),
            "Error: p.att:1: symbol '\xe2\x82\xac': character U+20AC "
            "(\xe2\x82\xac) is outside Latin-1");
  EXPECT_EQ(ErrorAtt("0\t1\ta\ta\n1\t2\t@0@\tb\n2\t1\t@0@\tc\n2\n"),
            "Error: p.att: cycle of epsilon moves through state 1");
  EXPECT_EQ(ErrorAtt("0\t1\t@_IDENTITY_SYMBOL_@\ta\n"),
            "Error: p.att:1: special symbol '@_IDENTITY_SYMBOL_@' is not "
            "supported");
  EXPECT_EQ(ErrorAtt("0\t1\ta\ta\n--\n"),
            "Error: p.att:2: several transducers in one file; give one");
  EXPECT_EQ(ErrorAtt("\n"), "Error: p.att: no states");
}

TEST(BolcatAtt, TheSmallestFileDumpsAsExpected) {
  // Alphabet "ab", define n = 258: a:a, then epsilon writing <n>, final.
  const std::string fitxer = std::string(
      "\x02\0\0\0ab\x01\0\0\0\x01\0\0\0n\x02\x01\0\0\x03\0\0\0"
      "\0\0\0\0\0\0\x01\0\0\0\x61\0\x01\0\0\0\x61\0\x01\0\0\0"
      "\x01\0\0\0\x01\0\x01\0\0\0\0\0\x01\0\0\0\x02\x01\x02\0\0\0\0\0\0\0"
      "\x02\0\0\0\0\0\x01\0\0\0\xf0\xd8\x01\0\0\0\0\0\x02\0\0\0",
      93);
  auto t = prova::Carrega(fitxer);
  std::string text, error;
  ASSERT_TRUE(BolcaAtt(t, text, error)) << error;
  EXPECT_EQ(text, "0\t1\ta\ta\n1\t2\t@0@\t<n>\n2\n");
}

TEST(BolcatAtt, DumpThenCompileKeepsEveryReadingInOrder) {
  const std::string lexic =
      "@desconegudes\n"
      "cases\tcasar<v><p2>\ncases\tcasa<n><pl>\n"
      "x\tx<a><b>\nx\tx<c>\n"
      "a\tq<t>\na\tp<t>\nab\tpz<u>\nab\tqz<u>\n"
      "dir-ho\tdir<v>\tparcial\ndir-ho\tho<prn>\tparcial\n"
      "a causa de\ta causa de<pr>\n"
      "m\xe0\tm\xe0<n>\n10\t10<num>\n";
  AutomatDic a;
  std::string error, text;
  ASSERT_TRUE(CompilaLexic("p.dic", lexic, Codificacio::kLatin1, a, error));
  auto t = prova::Carrega(Serialitza(a));
  ASSERT_TRUE(BolcaAtt(t, text, error)) << error;
  EXPECT_NE(text.find("\t\xc3\xa0\t\xc3\xa0\n"), std::string::npos)
      << "UTF-8 text";
  auto t2 = CompilaAttText(text);
  for (const char* forma : {"cases", "x", "a", "ab", "dir-ho", "a causa de",
                            "m\xe0", "10", "zzz", "Cases"}) {
    auto l1 = Lectures(t, forma);
    auto l2 = Lectures(t2, forma);
    ASSERT_EQ(l1.size(), l2.size()) << forma;
    for (size_t i = 0; i < l1.size(); ++i) {
      EXPECT_EQ(l1[i].marca, l2[i].marca) << forma;
      EXPECT_EQ(prova::Text(t, l1[i].sortida), prova::Text(t2, l2[i].sortida))
          << forma;
    }
  }
}

TEST(Informe, CountsOfTheSmallestFile) {
  AutomatDic a;
  std::string error;
  ASSERT_TRUE(CompilaLexic("p.dic", "@desconegudes\na\ta<n>\nb\tb\tparcial\n",
                           Codificacio::kLatin1, a, error));
  const std::string fitxer = Serialitza(a);
  EXPECT_EQ(Informa(prova::Carrega(fitxer), fitxer.size()),
            "file bytes: " + std::to_string(fitxer.size()) +
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
}  // namespace etiquem::dic
