// The full-form lexicon compiler: reading order, padding, minimality, the
// layout the matcher needs, the guesser, encodings and error messages.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "dic/lexic.h"
#include "dic_prova.h"

namespace etiquem::dic {
namespace {

using prova::Completes;
using prova::CompilaText;
using prova::Lectures;

// Compiles and returns the statistics, failing the test on an error.
EstadistiquesLexic Estadistiques(const std::string& lexic) {
  AutomatDic a;
  std::string error;
  EstadistiquesLexic est;
  EXPECT_TRUE(CompilaLexic("p.dic", lexic, Codificacio::kDetecta, a, error, &est))
      << error;
  return est;
}

std::string Error(const std::string& lexic,
                  Codificacio c = Codificacio::kDetecta) {
  AutomatDic a;
  std::string error;
  EXPECT_FALSE(CompilaLexic("p.dic", lexic, c, a, error));
  return error;
}

// The layout rules the matcher relies on, checked on a loaded file.
void ComprovaForma(const Transductor& t) {
  ASSERT_GT(t.nestats, 0);
  EXPECT_EQ(t.automat[0].neps, 0) << "state 0 is never closed";
  for (int32_t i = 0; i < t.nestats; ++i) {
    const Nodo& n = t.automat[size_t(i)];
    EXPECT_LE(n.neps, 1) << "state " << i << ": one epsilon group";
    for (int32_t g = 0; g < n.neps; ++g)
      for (int32_t k = 0; k < n.eps[g].nstrans; ++k)
        EXPECT_NE(n.eps[g].strans[k].lm, '0') << "state " << i;
    for (int32_t g = 1; g < n.ntrans; ++g)
      EXPECT_LT(n.trans[g - 1].lo, n.trans[g].lo) << "state " << i;
    for (int32_t g = 0; g < n.ntrans; ++g)
      if (n.trans[g].lo < 0) {
        EXPECT_EQ(n.trans[g].nstrans, 1);
      }
  }
}

// No two states with the same markers and the same moves.
void ComprovaMinim(const Transductor& t) {
  std::set<std::vector<int64_t>> vistos;
  for (int32_t i = 0; i < t.nestats; ++i) {
    const Nodo& n = t.automat[size_t(i)];
    std::vector<int64_t> sig;
    for (int32_t g = 0; g < n.neps; ++g)
      for (int32_t k = 0; k < n.eps[g].nstrans; ++k)
        sig.insert(sig.end(), {-1, n.eps[g].strans[k].lm, n.eps[g].strans[k].des});
    sig.push_back(-99);
    for (int32_t g = 0; g < n.ntrans; ++g) {
      sig.push_back(n.trans[g].lo);
      for (int32_t k = 0; k < n.trans[g].nstrans; ++k) {
        const Strans& m = n.trans[g].strans[k];
        // A marker's dummy entry points at its own state.
        sig.insert(sig.end(), {m.lm, n.trans[g].lo < 0 ? -7 : m.des});
      }
    }
    EXPECT_TRUE(vistos.insert(sig).second) << "state " << i << " has a twin";
  }
}

TEST(OrdreLectures, AnalysesOfAFormComeOutInSourceOrder) {
  auto t = CompilaText(
      "cases\tcasar<vblex><pri><p2><sg>\n"
      "cases\tcasa<n><f><pl>\n"
      "casa\tcasa<n><f><sg>\n"
      "casa\tcasar<vblex><pri><p3><sg>\n");
  EXPECT_EQ(Completes(t, "cases"), "casar&vblex;&pri;&p2;&sg;/casa&n;&f;&pl;/");
  EXPECT_EQ(Completes(t, "casa"), "casa&n;&f;&sg;/casar&vblex;&pri;&p3;&sg;/");
}

TEST(OrdreLectures, ShorterTailsArePaddedToTheLongest) {
  // Without padding the one-tag analysis, one epsilon move shorter, would
  // be listed first.
  const std::string lexic = "x\tx<a><b>\nx\tx<c>\ny\ty<c>\n";
  auto t = CompilaText(lexic);
  EXPECT_EQ(Completes(t, "x"), "x&a;&b;/x&c;/");
  EXPECT_EQ(Completes(t, "y"), "y&c;/");
  auto est = Estadistiques(lexic);
  EXPECT_EQ(est.formes_farcides, 1u);
  EXPECT_EQ(est.moviments_farcits, 1u);
}

TEST(OrdreLectures, AnEarlierFormsBranchDoesNotReorderALaterForm) {
  // Form "a" creates the edges (a:q) then (a:p); form "ab" wants p before q.
  const std::string lexic = "a\tq<t>\na\tp<t>\nab\tpz<u>\nab\tqz<u>\n";
  auto t = CompilaText(lexic);
  EXPECT_EQ(Completes(t, "a"), "q&t;/p&t;/");
  EXPECT_EQ(Completes(t, "ab"), "pz&u;/qz&u;/");
  EXPECT_EQ(Estadistiques(lexic).branques_ordre, 1u);
}

TEST(OrdreLectures, RandomLexiconsKeepSourceOrderAndLayout) {
  std::mt19937 atzar(12345);
  auto paraula = [&](const char* lletres, int max) {
    std::string s;
    int n = 1 + int(atzar() % unsigned(max));
    for (int i = 0; i < n; ++i) s.push_back(lletres[atzar() % 3]);
    return s;
  };
  for (int ronda = 0; ronda < 60; ++ronda) {
    std::map<std::string, std::vector<std::string>> esperat;
    std::string lexic;
    for (int i = 0; i < 40; ++i) {
      std::string forma = paraula("abc", 4);
      std::string lema = paraula("abd", 5);
      std::string etiquetes;
      for (unsigned k = atzar() % 3; k > 0; --k)
        etiquetes += "<t" + std::to_string(atzar() % 3) + ">";
      std::string analisi = lema + etiquetes;
      auto& v = esperat[forma];
      if (std::find(v.begin(), v.end(), analisi) != v.end()) continue;
      v.push_back(analisi);
      lexic += forma + "\t" + analisi + "\n";
    }
    auto t = CompilaText(lexic);
    ComprovaForma(t);
    ComprovaMinim(t);
    for (const auto& [forma, analisis] : esperat) {
      std::string s;
      for (std::string a : analisis) {
        for (size_t p; (p = a.find('<')) != std::string::npos;)
          a.replace(p, 1, "&");
        for (size_t p; (p = a.find('>')) != std::string::npos;)
          a.replace(p, 1, ";");
        s += a + "/";
      }
      ASSERT_EQ(Completes(t, forma), s) << "round " << ronda << "\n" << lexic;
    }
  }
}

TEST(Forma, TagsFollowTheLastConsumingMoveAsDefinesByFrequency) {
  auto t = CompilaText("ab\tab<rar><freq>\nc\tc<freq>\n");
  ASSERT_EQ(t.cdef, 2);
  EXPECT_EQ(t.defines[0].nom, "freq");
  EXPECT_EQ(t.defines[0].codi, 258);
  EXPECT_EQ(t.defines[1].nom, "rar");
  EXPECT_EQ(t.defines[1].codi, 259);
  // a, b on consuming moves; the tags on epsilon moves after b.
  const Nodo& n0 = t.automat[0];
  int g = BuscBin(n0.trans, 'a', n0.ntrans);
  ASSERT_GE(g, 0);
  const Nodo& n1 = t.automat[size_t(n0.trans[g].strans[0].des)];
  EXPECT_EQ(n1.neps, 0);
  g = BuscBin(n1.trans, 'b', n1.ntrans);
  ASSERT_GE(g, 0);
  const Nodo& n2 = t.automat[size_t(n1.trans[g].strans[0].des)];
  ASSERT_EQ(n2.neps, 1);
  EXPECT_EQ(n2.eps[0].strans[0].lm, 259);
}

TEST(Forma, LexicalFormsLongerOrShorterThanTheSurface) {
  auto t = CompilaText("anem\tanar<vblex>\nvaig\tanar<vaux>\nb\tbaba<n>\n");
  EXPECT_EQ(Completes(t, "anem"), "anar&vblex;/");
  EXPECT_EQ(Completes(t, "vaig"), "anar&vaux;/");
  EXPECT_EQ(Completes(t, "b"), "baba&n;/");
  ComprovaForma(t);
}

TEST(Forma, KindsOfReadingBecomeTheirMarkers) {
  auto t = CompilaText(
      "dir-ho\tdir<vblex>\tparcial\ndir-ho\tho<prn>\tparcial\n"
      "hobby\t\tdesconeguda\ncasa\tcasa<n>\tcompleta\n");
  auto l = Lectures(t, "dir-ho");
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0].marca, FIN_PARCIAL);
  EXPECT_EQ(prova::Text(t, l[0].sortida), "dir&vblex;");
  EXPECT_EQ(prova::Text(t, l[1].sortida), "ho&prn;");
  l = Lectures(t, "hobby");
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].marca, FIN_DESCON);
  l = Lectures(t, "casa");
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].marca, FIN_TRADUC);
}

TEST(Forma, MultiwordUnitsCrossBlanks) {
  auto t = CompilaText("a causa de\ta causa de<pr>\na\ta<pr>\n");
  EXPECT_EQ(Completes(t, "a causa de"), "a causa de&pr;/");
  EXPECT_EQ(t.alfabeto.find(' '), std::string::npos);
}

TEST(Forma, RepeatedEntriesAreDroppedOnce) {
  auto t = CompilaText("a\ta<n>\na\ta<v>\na\ta<n>\n");
  EXPECT_EQ(Completes(t, "a"), "a&n;/a&v;/");
  EXPECT_EQ(Estadistiques("a\ta<n>\na\ta<n>\n").repetides, 1u);
}

TEST(Minimitzacio, SharedEndingsAreMerged) {
  // Three verbs with the same endings and tags: the ending states are shared,
  // so the size grows by the distinct stems only.
  std::string una, tres;
  for (const char* arrel : {"cant", "parl", "mir"})
    for (const char* fi : {"o", "es", "a", "em", "eu", "en"}) {
      std::string l = std::string(arrel) + fi + "\t" + arrel + "ar<vblex>\n";
      tres += l;
      if (std::string(arrel) == "cant") una += l;
    }
  auto t1 = CompilaText(una);
  auto t3 = CompilaText(tres);
  ComprovaMinim(t3);
  // "parl" and "mir" add their own stems plus the lexical "ar": few states.
  EXPECT_LE(t3.nestats, t1.nestats + 14);
}

TEST(Alfabet, DefaultIsTheLettersOfTheFormsPlusThreeSigns) {
  auto t = CompilaText("l'\tel<det>\n.\t.<sent>\nàb1\tx<n>\n");
  EXPECT_EQ(t.alfabeto, std::string("'-1bl\xb7\xe0"));
}

TEST(Alfabet, DirectiveReplacesTheDefault) {
  auto t = CompilaText("@alfabet zy x\n@alfabet \\ \nab\tab<n>\n");
  EXPECT_EQ(t.alfabeto, " xyz");
}

TEST(Endevinador, UnknownRunsOfLettersGetAnUnknownReading) {
  auto t = CompilaText("@alfabet abcsxyz\n@desconegudes\ncasa\tcasa<n>\n");
  auto l = Lectures(t, "xyzzy");
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].marca, FIN_DESCON);
  // A known word keeps its analysis, and also the guess.
  l = Lectures(t, "casa");
  ASSERT_EQ(l.size(), 2u);
  EXPECT_TRUE(Lectures(t, "casa.").empty());
  ComprovaForma(t);
}

TEST(Endevinador, UpperCaseInputDoesNotMultiplyLivePaths) {
  auto t = CompilaText("@desconegudes\nAb\tAb<np>\nab\tab<n>\n");
  size_t vius = 0;
  auto l = Lectures(t, "ABABABABABABABAB", &vius);
  ASSERT_EQ(l.size(), 1u);
  // At most: the two stored words, their tag states, and the guess.
  EXPECT_LE(vius, 5u);
}

TEST(Endevinador, CharactersCanBeGiven) {
  auto t = CompilaText("@desconegudes ab\nc\tc<n>\n");
  EXPECT_EQ(Lectures(t, "abba").size(), 1u);
  EXPECT_TRUE(Lectures(t, "abc").empty());
}

TEST(Codificacio, Latin1AndUtf8SourcesGiveTheSameFile) {
  AutomatDic a, b;
  std::string error;
  ASSERT_TRUE(CompilaLexic("u.dic", "m\xc3\xa0\tm\xc3\xa0<n><f>\n",
                           Codificacio::kDetecta, a, error));
  ASSERT_TRUE(CompilaLexic("l.dic", "m\xe0\tm\xe0<n><f>\n",
                           Codificacio::kDetecta, b, error));
  EXPECT_EQ(Serialitza(a), Serialitza(b));
  // Forced Latin-1 reads the two UTF-8 bytes as two characters.
  ASSERT_TRUE(CompilaLexic("u.dic", "m\xc3\xa0\tm<n>\n", Codificacio::kLatin1,
                           a, error));
  EXPECT_EQ(Completes(prova::Carrega(Serialitza(a)), "m\xc3\xa0"), "m&n;/");
}

TEST(Errors, MessagesNameFileLineAndFault) {
  EXPECT_EQ(Error("a\ta<n>\nb\n"),
            "Error: p.dic:2: expected 'surface<TAB>lexical[<TAB>kind]'");
  EXPECT_EQ(Error("# c\na\ta<n>\tfoo\n"),
            "Error: p.dic:2: unknown kind of reading 'foo' (completa, parcial "
            "or desconeguda)");
  EXPECT_EQ(Error("a\ta<n\n"), "Error: p.dic:1: tag without its closing '>'");
  EXPECT_EQ(Error("a\ta<>\n"),
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
  auto t = CompilaText("10\t10<num>\n");
  EXPECT_EQ(Completes(t, "10"), "10&num;/");
}

TEST(Errors, CharactersOutsideLatin1) {
  EXPECT_EQ(Error("a\ta<n>\n\xe2\x82\xac\teuro<n>\n"),
            "Error: p.dic:2: character U+20AC (\xe2\x82\xac) is outside Latin-1");
  EXPECT_EQ(Error("a\ta<n>\n\xff\tb<n>\n", Codificacio::kUtf8),
            "Error: p.dic:2: malformed UTF-8 at byte 1");
}

TEST(Errors, FormsTooLongForOneMatch) {
  EXPECT_EQ(Error(std::string(255, 'a') + "\ta<n>\n"),
            "Error: p.dic:1: surface form longer than 254 bytes");
}

}  // namespace
}  // namespace etiquem::dic
