// Round trips through the built programs: a lexicon compiled by etiquem-dic,
// then every surface form given to etiquem on a line of its own, must come
// back as exactly its analyses, in the order of the lexicon.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "dic/codificacio.h"
#include "dic_prova.h"

namespace etiquem::dic {
namespace {

using prova::Cometes;
using prova::Executa;

const std::string kEtiquem = ETIQUEM_BIN;
const std::string kEina = ETIQUEM_DIC;
const std::string kMostra = ETIQUEM_DIC_MOSTRA;
const std::string kShared = ETIQUEM_DIC_SHARED;

struct Analisi {
  std::string lexic;  // Latin-1, tags as <tag>
  std::string tipus;  // "completa", "parcial" or "desconeguda"
};

// Surface forms in order of first appearance, with their analyses.
struct Lexic {
  std::vector<std::string> formes;
  std::map<std::string, std::vector<Analisi>> analisis;
};

// Reads the entry lines of a lexicon (comments and directives skipped).
Lexic LlegeixLexic(const std::string& bytes) {
  std::string text = bytes, que;
  if (Detecta(bytes) == Codificacio::kUtf8) {
    EXPECT_TRUE(ALatin1(bytes, Codificacio::kUtf8, text, que)) << que;
  }
  Lexic lx;
  std::istringstream in(text);
  for (std::string linia; std::getline(in, linia);) {
    if (linia.empty() || linia[0] == '#' || linia[0] == '@') continue;
    std::vector<std::string> camps;
    std::istringstream c(linia);
    for (std::string camp; std::getline(c, camp, '\t');) camps.push_back(camp);
    if (camps.size() == 2 && linia.back() == '\t') camps.push_back("");
    if (camps.size() < 2) continue;
    auto& v = lx.analisis[camps[0]];
    if (v.empty()) lx.formes.push_back(camps[0]);
    v.push_back({camps[1], camps.size() > 2 ? camps[2] : "completa"});
  }
  return lx;
}

bool Exempt(int c) {
  return c == '+' || c == '_' || c == '-' || c == 0xB7 || c == '\'';
}

// A complete analysis as etiquem writes it for a word whose first and last
// characters have the case flags a and b.
std::string Completa(const std::string& lexic, bool a, bool b) {
  std::string s;
  int i = 0;
  for (size_t p = 0; p < lexic.size(); ++i) {
    if (lexic[p] == '<') {
      size_t fi = lexic.find('>', p);
      s += "&" + lexic.substr(p + 1, fi - p - 1) + ";";
      p = fi + 1;
      continue;
    }
    const int c = static_cast<unsigned char>(lexic[p++]);
    const bool puja = !prova::Majuscula(c) && !Exempt(c) &&
                      ((i == 0 && a) || (i > 0 && b));
    s.push_back(static_cast<char>(puja ? prova::AMajuscula(c) : c));
  }
  return s + "/";
}

// What etiquem -m writes for a line holding only `forma`.
std::string Esperat(const std::string& forma, const std::vector<Analisi>& v) {
  const bool a = prova::Majuscula(static_cast<unsigned char>(forma.front()));
  const bool b = prova::Majuscula(static_cast<unsigned char>(forma.back()));
  std::string text;
  int peces = 0;
  bool desconeguda = false;
  for (const Analisi& x : v) {
    if (x.tipus == "completa") {
      text += Completa(x.lexic, a, b);
    } else if (x.tipus == "parcial") {
      std::string p = Completa(x.lexic, false, false);
      p.pop_back();  // pieces have no closing "/"
      ++peces;
      if (text.empty())
        text = p;
      else if (peces == 2)
        text = "<e>" + text + "</e><e>" + p + "</e>";
      else
        text += "<e>" + p + "</e>";
    } else {
      desconeguda = true;
    }
  }
  if (peces >= 2) text = "<amb>" + text + "</amb>";
  if (text.empty() && desconeguda) text = "<d>" + forma + "</d>";
  return text;
}

// Whether another form of the lexicon also matches `forma` when its
// upper-case letters follow lower-case moves too.
bool TeVariants(const Lexic& lx, const std::string& forma) {
  std::vector<size_t> posicions;
  for (size_t i = 0; i < forma.size(); ++i)
    if (prova::Majuscula(static_cast<unsigned char>(forma[i])))
      posicions.push_back(i);
  if (posicions.size() > 12) return true;
  for (size_t m = 1; m < (size_t(1) << posicions.size()); ++m) {
    std::string f = forma;
    for (size_t k = 0; k < posicions.size(); ++k)
      if (m & (size_t(1) << k)) f[posicions[k]] = char(f[posicions[k]] + 32);
    if (lx.analisis.count(f)) return true;
  }
  return false;
}

// Compiles `font` with etiquem-dic, runs etiquem -m over all its forms, and
// checks every line. Forms that other forms match through case folding only
// need their own readings, in order, among the line's readings.
void AnadaITornada(const std::string& font, const std::string& nom) {
  const std::string d = prova::DirectoriNou(nom);
  auto r = Executa(kEina + " compile " + Cometes(font) + " -o " +
                   Cometes(d + "/a.bin"));
  ASSERT_EQ(r.estat, 0) << r.errors;
  const Lexic lx = LlegeixLexic(prova::LlegeixFitxer(font));
  ASSERT_FALSE(lx.formes.empty());
  std::string entrada;
  for (const std::string& f : lx.formes) entrada += f + "\n";
  r = Executa(kEtiquem + " -m -b " + Cometes(d + "/a.bin"), entrada);
  ASSERT_EQ(r.estat, 0) << r.errors;
  std::istringstream sortida(r.sortida);
  size_t errors = 0, amb_variants = 0;
  for (const std::string& f : lx.formes) {
    std::string linia;
    ASSERT_TRUE(std::getline(sortida, linia)) << "output ends before " << f;
    const std::string esperat = Esperat(f, lx.analisis.at(f));
    if (TeVariants(lx, f)) {
      ++amb_variants;
      // Own readings, in order, as a subsequence of the line's.
      size_t p = 0;
      bool be = true;
      for (const Analisi& x : lx.analisis.at(f)) {
        const bool a = prova::Majuscula(static_cast<unsigned char>(f.front()));
        const bool b = prova::Majuscula(static_cast<unsigned char>(f.back()));
        std::string lectura = Completa(x.lexic, a, b);
        size_t q = ("/" + linia).find("/" + lectura, p);
        be = be && x.tipus == "completa" && q != std::string::npos;
        if (be) p = q + lectura.size();
      }
      if (!be && ++errors <= 10)
        ADD_FAILURE() << "form " << AUtf8(f) << ": " << AUtf8(linia);
    } else if (linia != esperat && ++errors <= 10) {
      ADD_FAILURE() << "form " << AUtf8(f) << "\n  expected " << AUtf8(esperat)
                    << "\n  got      " << AUtf8(linia);
    }
  }
  EXPECT_EQ(errors, 0u) << "of " << lx.formes.size() << " forms ("
                        << amb_variants << " with case variants)";
}

TEST(AnadaITornada, SampleDictionary) {
  if (!prova::Existeix(kMostra)) GTEST_SKIP() << kMostra << " is absent";
  AnadaITornada(kMostra, "mostra");
}

TEST(AnadaITornada, SharedCatalanLexicon) {
  const std::string tsv = kShared + "/lexicon/ca.tsv";
  if (!prova::Existeix(tsv)) GTEST_SKIP() << tsv << " is absent";
  AnadaITornada(tsv, "ca");
}

TEST(AnadaITornada, SampleSentence) {
  if (!prova::Existeix(kMostra)) GTEST_SKIP() << kMostra << " is absent";
  const std::string d = prova::DirectoriNou("frase");
  auto r = Executa(kEina + " compile " + Cometes(kMostra) + " -o " +
                   Cometes(d + "/a.bin"));
  ASSERT_EQ(r.estat, 0) << r.errors;
  r = Executa(kEtiquem + " -m -b " + Cometes(d + "/a.bin"),
              "l'home diu que vindr\xe0 a causa del fred, per\xf2 xyz no.\n");
  EXPECT_EQ(r.sortida,
            "el&det;&def;&m;&sg;/el&det;&def;&f;&sg;/el&prn;&pro;&p3;&m;&sg;/"
            "el&prn;&pro;&p3;&f;&sg;/home&n;&m;&sg;/ dir&vblex;&pri;&p3;&sg;/ "
            "que&rel;&an;&mf;&sp;/que&cnjsub;/ venir&vblex;&fti;&p3;&sg;/ "
            "a causa de&pr;+el&det;&def;&m;&sg;/ fred&n;&m;&sg;/"
            "fred&adj;&m;&sg;/,&cm;/ per\xf2&cnjcoo;/ <d>xyz</d> no&adv;/."
            "&sent;/\n");
}

}  // namespace
}  // namespace etiquem::dic
