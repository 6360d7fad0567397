// Tests of acceptance recording: which record and status a position gets for
// each combination of accepting live states, met in list order, and the text
// that record is written as.
//
// The automata are built so that one step on "x" gives live states in a
// chosen order, each with a one-letter output and one marker. A complete
// analysis then renders as "a/", a piece as "a", so the tables read plainly.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "analisi_prova.h"
#include "automat_prova.h"
#include "automaton/automat.h"
#include "input/lector.h"
#include "matching/accepta.h"
#include "matching/vius.h"

namespace etiquem {
namespace {

// One accepting path: its output text (one token per symbol of the
// description, or "-" for none) and its marker ("fi", "parcial", "descon",
// or several separated by blanks, in list order).
struct Cami {
  std::string sortida;
  std::string marques;
};

struct Prova {
  std::unique_ptr<Transductor> t = std::make_unique<Transductor>();
  Vius v;
  Acceptacio ac;
  PosBuffer e;
  std::string forma;  // the surface of the latest call
};

// The text the position's analysis record is written as.
std::string Anal(Prova& p) {
  std::string text;
  EscriuAnal(p.ac, p.v, p.e.anal, p.forma.data(), text);
  return text;
}
std::string Forma(const Prova& p, const RegTraduc& r) {
  return p.forma.substr(0, r.llarg_forma);
}
std::string Desc(const Prova& p) {
  std::string text;
  EscriuDesc(p.e.desc, p.forma.data(), text);
  return text;
}

// Loads description `d` and steps its live set over one 'x'.
void Camina(Prova& p, const std::string& d) {
  Inicio(*p.t);
  prova::CarregaOFalla(*p.t, prova::Bytes(d));
  IniciaVius(p.v, p.t.get());
  Inicialitzacio(p.v);
  IniciaAcceptacio(p.ac);
  ComprobarEstatsVius(p.v, 'x');
  ComprobarEstatsNous(p.v);
}

void Prepara(Prova& p, const std::vector<Cami>& camins) {
  std::string d = "alfabet x\nestat 0\n";
  for (size_t i = 0; i < camins.size(); ++i)
    d += "  x " + camins[i].sortida + " " + std::to_string(i + 1) + "\n";
  for (size_t i = 0; i < camins.size(); ++i) {
    d += "estat " + std::to_string(i + 1) + "\n";
    std::string m = camins[i].marques;
    size_t pos = 0;
    while (pos < m.size()) {
      size_t fi = m.find(' ', pos);
      if (fi == std::string::npos) fi = m.size();
      if (fi > pos) d += "  " + m.substr(pos, fi - pos) + "\n";
      pos = fi + 1;
    }
  }
  Camina(p, d);
}

void Registra(Prova& p, std::string_view forma, int a = 0, int b = 0,
              int apostrof = 0, int marca = 0) {
  p.forma = std::string(forma);
  CercarEstAccept(p.ac, p.v, p.forma, a, b, p.e, apostrof, marca);
}

struct Fila {
  std::vector<Cami> camins;
  const char* anal;  // null: no record
  int estat;
};

TEST(CercarEstAccept, TaulaDeCombinacions) {
  const Cami T1{"a", "fi"}, T2{"b", "fi"};
  const Cami P1{"a", "parcial"}, P2{"b", "parcial"}, P3{"c", "parcial"};
  const Cami Tb{"b", "fi"}, Pb{"b", "parcial"}, Pc{"c", "parcial"};
  const Cami D{"-", "descon"}, Pbuida{"-", "parcial"};
  const std::vector<Fila> files = {
      {{}, nullptr, 0},
      {{{"a", ""}}, nullptr, 0},
      {{D}, nullptr, 2},
      {{T1}, "a/", 1},
      {{T1, T2}, "a/b/", 1},
      {{P1}, "a", 2},
      {{P1, P2}, "<amb><e>a</e><e>b</e></amb>", 2},
      {{P1, P2, P3}, "<amb><e>a</e><e>b</e><e>c</e></amb>", 2},
      {{T1, Pb}, "a/<e>b</e>", 1},
      {{T1, Pb, Pc}, "<amb><e>a/<e>b</e></e><e>c</e></amb>", 1},
      {{P1, Tb}, "ab/", 1},
      // An unknown-word marker after the last complete analysis: the last
      // kind decides.
      {{T1, D}, "a/", 1},
      {{D, T1}, "a/", 1},
      {{P1, D}, "a", 2},
      {{T1, D, Pbuida}, "a/", 2},
      // An empty piece adds nothing, but counts as the last kind.
      {{Pbuida}, nullptr, 0},
      {{T1, Pbuida}, "a/", 1},
      {{P1, Pbuida, P2}, "<amb><e>a</e><e>b</e></amb>", 2},
  };
  for (size_t i = 0; i < files.size(); ++i) {
    Prova p;
    Prepara(p, files[i].camins);
    Registra(p, "x");
    SCOPED_TRACE("row " + std::to_string(i));
    if (files[i].anal == nullptr) {
      EXPECT_FALSE(p.e.anal.hi_es) << Anal(p);
    } else {
      ASSERT_TRUE(p.e.anal.hi_es);
      EXPECT_EQ(Anal(p), files[i].anal);
      EXPECT_EQ(Forma(p, p.e.anal), "x");
    }
    EXPECT_EQ(p.e.estat, files[i].estat);
  }
}

TEST(CercarEstAccept, MarquesDUnEstatEnOrdreDeLlista) {
  // One state with three marker groups (sorted: unknown, piece, complete).
  Prova p;
  Prepara(p, {{"a", "descon parcial fi"}, {"b", "fi"}});
  Registra(p, "xyz", 0, 0, 0, 1);
  EXPECT_EQ(Anal(p), "aa/b/");
  EXPECT_EQ(p.e.estat, 1);
  ASSERT_TRUE(p.e.desc.hi_es);
  EXPECT_EQ(Desc(p), "<d>xyz</d>");
  EXPECT_EQ(Forma(p, p.e.desc), "xyz");
}

TEST(CercarEstAccept, CapitalsPerPecaIPerEstatViu) {
  // The one-shot capital is given again to every live state and after
  // every piece.
  Prova p;
  Prepara(p, {{"a", "parcial parcial"}, {"b", "parcial fi"}});
  Registra(p, "Xx", 1, 0);
  EXPECT_EQ(Anal(p), "<amb><e>A</e><e>A</e><e>B</e>B/</amb>");
  EXPECT_EQ(p.e.estat, 1);
}

TEST(CercarEstAccept, Desconeguda) {
  Prova p;
  Prepara(p, {{"-", "descon"}});
  Registra(p, "xyz");
  ASSERT_TRUE(p.e.desc.hi_es);
  EXPECT_EQ(Desc(p), "xyz");
  EXPECT_EQ(Forma(p, p.e.desc), "xyz");
  Registra(p, "xyw", 0, 0, 0, 1);
  EXPECT_EQ(Desc(p), "<d>xyw</d>");
  EXPECT_EQ(Forma(p, p.e.desc), "xyw");
  EXPECT_EQ(p.e.estat, 2);
  EXPECT_FALSE(p.e.anal.hi_es);
}

TEST(CercarEstAccept, EspaiDespresDeFormaApostrofada) {
  {
    Prova p;
    Prepara(p, {{"a", "fi"}});
    Registra(p, "l'aigua", 0, 0, 1);
    EXPECT_EQ(Anal(p), "a/ ");
    Registra(p, "l'aigua", 0, 0, 0);  // without -a
    EXPECT_EQ(Anal(p), "a/");
    Registra(p, "aigua", 0, 0, 1);  // no apostrophe
    EXPECT_EQ(Anal(p), "a/");
  }
  {
    Prova p;
    Prepara(p, {{"a", "fi"}, {"b", "parcial"}, {"c", "parcial"}});
    Registra(p, "d'x", 0, 0, 1);
    EXPECT_EQ(Anal(p), "<amb><e>a/<e>b</e></e><e>c</e></amb> ");
  }
  {
    // Only pieces: no blank.
    Prova p;
    Prepara(p, {{"b", "parcial"}, {"c", "parcial"}});
    Registra(p, "d'x", 0, 0, 1);
    EXPECT_EQ(Anal(p), "<amb><e>b</e><e>c</e></amb>");
    Prova q;
    Prepara(q, {{"b", "parcial"}});
    Registra(q, "d'x", 0, 0, 1);
    EXPECT_EQ(Anal(q), "b");
  }
}

// A second call at the same position, later in the same attempt.
TEST(CercarEstAccept, RegistresAnteriors) {
  const std::string d = R"(
alfabet wxyz
estat 0
  x a 1
estat 1
  descon
  fi
  w b 4
  y - 2
  z - 3
estat 2
estat 3
  descon
estat 4
  fi
)";
  for (char segon : {'y', 'z', 'w'}) {
    SCOPED_TRACE(segon);
    Prova p;
    Camina(p, d);
    Registra(p, "x", 0, 0, 0, 1);
    EXPECT_EQ(Anal(p), "a/");
    EXPECT_EQ(Desc(p), "<d>x</d>");
    EXPECT_EQ(p.e.estat, 1);
    ComprobarEstatsVius(p.v, segon);
    ComprobarEstatsNous(p.v);
    Registra(p, std::string("x") + segon, 0, 0, 0, 1);
    if (segon == 'y') {
      // No marker: both records stay, the status is 0.
      EXPECT_EQ(Anal(p), "a/");
      EXPECT_EQ(Forma(p, p.e.anal), "x");
      EXPECT_EQ(Desc(p), "<d>x</d>");
      EXPECT_EQ(p.e.estat, 0);
    } else if (segon == 'z') {
      // Only the unknown-word marker: old analysis, new unknown word.
      EXPECT_EQ(Anal(p), "a/");
      EXPECT_EQ(Forma(p, p.e.anal), "x");
      EXPECT_EQ(Desc(p), "<d>xz</d>");
      EXPECT_EQ(Forma(p, p.e.desc), "xz");
      EXPECT_EQ(p.e.estat, 2);
    } else {
      // A complete analysis replaces the analysis, keeps the unknown word.
      EXPECT_EQ(Anal(p), "ab/");
      EXPECT_EQ(Forma(p, p.e.anal), "xw");
      EXPECT_EQ(Desc(p), "<d>x</d>");
      EXPECT_EQ(p.e.estat, 1);
    }
  }
}

TEST(CercarEstAccept, FormaAmbBytesQualssevol) {
  Prova p;
  Prepara(p, {{"a", "descon fi"}});
  const std::string forma("a\0\x01\xff", 4);
  Registra(p, forma, 0, 0, 0, 1);
  EXPECT_EQ(Forma(p, p.e.anal), forma);
  EXPECT_EQ(Forma(p, p.e.desc), forma);
  EXPECT_EQ(Desc(p), "<d>" + forma + "</d>");
}

}  // namespace
}  // namespace etiquem
