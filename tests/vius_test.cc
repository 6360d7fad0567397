// Tests of the live-state set: which live states a step and the epsilon
// closure produce, in which order, with which outputs, and how the set ends
// the program on a broken automaton or when it grows without bound.
//
// Automata are written from readable descriptions (automat_prova.h) and
// loaded from memory; each live state is shown as (state, output text) with
// characters as themselves and multi-character symbols as "&code".

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "automat_prova.h"
#include "automaton/automat.h"
#include "matching/vius.h"
#include "proces.h"

namespace etiquem {
namespace {

std::unique_ptr<Transductor> Carrega(const std::string& descripcio) {
  auto t = std::make_unique<Transductor>();
  Inicio(*t);
  const std::string bytes = prova::Bytes(descripcio);
  std::string error;
  const bool ok = GenautoDeMemoria(
      *t, "prova", reinterpret_cast<const uint8_t*>(bytes.data()),
      bytes.size(), error);
  EXPECT_TRUE(ok) << error;
  return t;
}

using Estats = std::vector<std::pair<int, std::string>>;

std::string Text(const Vius& v, uint32_t node) {
  int32_t s[kMaxSimbols];
  const int n = Simbols(v, node, s);
  std::string r;
  for (int i = 0; i < n; ++i) {
    if (s[i] >= PRIMER_DEFINE)
      r += "&" + std::to_string(s[i]);
    else
      r += char(s[i] & 0xFF);
  }
  return r;
}

Estats Llista(const Vius& v) {
  Estats e;
  for (const EstViu& s : v.vius) e.push_back({s.estat, Text(v, s.traduc)});
  return e;
}

// Starts an attempt and steps (with closure) over `entrada`; returns the
// flag of the last step.
int Camina(Vius& v, const std::string& entrada) {
  Inicialitzacio(v);
  int flag = 0;
  for (char c : entrada) {
    flag = ComprobarEstatsVius(v, uint8_t(c));
    ComprobarEstatsNous(v);
  }
  return flag;
}

TEST(ViusPas, MajusculaSegueixElSeuGrupIElDeMinuscula) {
  auto t = Carrega(R"(
alfabet Aab
estat 0
  b 1 1
  b 2 2
estat 1
  A P 3
  a q 4
estat 2
  A r 5
  a s 6
estat 3
estat 4
estat 5
estat 6
)");
  Vius v;
  IniciaVius(v, t.get());
  EXPECT_EQ(Camina(v, "bA"), 1);
  // For each live state in order: its own group first, then the lower-case.
  EXPECT_EQ(Llista(v), (Estats{{3, "1P"}, {4, "1q"}, {5, "2r"}, {6, "2s"}}));
  EXPECT_EQ(Camina(v, "ba"), 0);
  EXPECT_EQ(Llista(v), (Estats{{4, "1q"}, {6, "2s"}}));
}

TEST(ViusPas, MajusculaLatin1) {
  auto t = Carrega(R"(
alfabet \xc0\xe0
estat 0
  \xc0 X 1
  \xe0 y 2
estat 1
estat 2
)");
  Vius v;
  IniciaVius(v, t.get());
  EXPECT_EQ(Camina(v, "\xc0"), 1);
  EXPECT_EQ(Llista(v), (Estats{{1, "X"}, {2, "y"}}));
  EXPECT_EQ(Camina(v, "\xe0"), 0);
  EXPECT_EQ(Llista(v), (Estats{{2, "y"}}));
}

TEST(ViusPas, PasSobreConjuntBuitDonaZero) {
  auto t = Carrega(R"(
alfabet Aa
estat 0
  a a 0
)");
  Vius v;
  IniciaVius(v, t.get());
  Inicialitzacio(v);
  EXPECT_EQ(ComprobarEstatsVius(v, 'x'), 0);
  EXPECT_TRUE(v.vius.empty());
  EXPECT_EQ(ComprobarEstatsVius(v, 'A'), 0);  // upper case, but nothing live
  EXPECT_TRUE(v.vius.empty());
}

TEST(ViusPas, TresMovimentsAlMateixEstatSonTresCamins) {
  auto t = Carrega(R"(
alfabet a
estat 0
  a x 1
  a x 1
  a y 1
estat 1
  a z 1
)");
  Vius v;
  IniciaVius(v, t.get());
  Camina(v, "a");
  EXPECT_EQ(Llista(v), (Estats{{1, "x"}, {1, "x"}, {1, "y"}}));
  ComprobarEstatsVius(v, 'a');
  EXPECT_EQ(Llista(v), (Estats{{1, "xz"}, {1, "xz"}, {1, "yz"}}));
}

TEST(ViusSimbols, ZeroIQuarantaVuitEnPasIClausura) {
  auto t = Carrega(R"(
alfabet ab
estat 0
  a - 1
  b 0 1
estat 1
  eps 0 2
  eps - 3
  eps z 4
estat 2
estat 3
estat 4
)");
  Vius v;
  IniciaVius(v, t.get());
  // Step: lm 0 writes nothing; closure: lm 48 and lm 0 write nothing.
  Camina(v, "a");
  EXPECT_EQ(Llista(v), (Estats{{1, ""}, {2, ""}, {3, ""}, {4, "z"}}));
  // Step: lm 48 writes the digit zero.
  Camina(v, "b");
  EXPECT_EQ(Llista(v), (Estats{{1, "0"}, {2, "0"}, {3, "0"}, {4, "0z"}}));
}

TEST(ViusClausura, NomesElPrimerGrupEpsilon) {
  auto t = Carrega(R"(
alfabet a
estat 0
  a - 1
estat 1
  eps x 2
  eps2 y 3
estat 2
estat 3
)");
  Vius v;
  IniciaVius(v, t.get());
  Camina(v, "a");
  EXPECT_EQ(Llista(v), (Estats{{1, ""}, {2, "x"}}));
}

TEST(ViusClausura, EsTransitivaIEnOrdreDeLlista) {
  auto t = Carrega(R"(
alfabet a
define n 300
estat 0
  a - 1
estat 1
  eps p 2
  eps q 3
estat 2
  eps r 4
estat 3
  eps &n 5
estat 4
  eps - 6
estat 5
estat 6
)");
  Vius v;
  IniciaVius(v, t.get());
  Camina(v, "a");
  EXPECT_EQ(Llista(v), (Estats{{1, ""},
                               {2, "p"},
                               {3, "q"},
                               {4, "pr"},
                               {5, "q&300"},
                               {6, "pr"}}));
}

TEST(ViusClausura, LEstatInicialNoEsTanca) {
  // State 0's own epsilon move is not followed at an attempt's first
  // character; it is once a transition comes back to state 0.
  auto t = Carrega(R"(
alfabet ab
estat 0
  eps z 1
  a a 2
estat 1
  a y 3
estat 2
  b b 0
estat 3
)");
  Vius v;
  IniciaVius(v, t.get());
  Camina(v, "a");
  EXPECT_EQ(Llista(v), (Estats{{2, "a"}}));
  Camina(v, "ab");
  EXPECT_EQ(Llista(v), (Estats{{0, "ab"}, {1, "abz"}}));
  ComprobarEstatsVius(v, 'a');
  ComprobarEstatsNous(v);
  EXPECT_EQ(Llista(v), (Estats{{2, "aba"}, {3, "abzy"}}));
}

TEST(ViusSimbols, SortidaLimitadaA499Simbols) {
  // An epsilon chain of 600 moves, each writing one letter.
  std::string d = "alfabet a\nestat 0\n  a - 1\n";
  std::string esperat;
  for (int i = 1; i <= 600; ++i) {
    const char c = char('a' + i % 26);
    d += "estat " + std::to_string(i) + "\n";
    if (i < 600) d += std::string("  eps ") + c + " " + std::to_string(i + 1) + "\n";
    if (i < 600) esperat += c;
  }
  d += "  a q 600\n";  // a step from the end appends nothing more
  auto t = Carrega(d);
  Vius v;
  IniciaVius(v, t.get());
  Camina(v, "a");
  ASSERT_EQ(v.vius.size(), 600u);
  EXPECT_EQ(Text(v, v.vius[499].traduc), esperat.substr(0, 499));
  EXPECT_EQ(Text(v, v.vius[599].traduc), esperat.substr(0, 499));
  EXPECT_EQ(Text(v, v.vius[300].traduc), esperat.substr(0, 300));
  ComprobarEstatsVius(v, 'a');
  ASSERT_EQ(v.vius.size(), 1u);
  EXPECT_EQ(Text(v, v.vius[0].traduc), esperat.substr(0, 499));
}

TEST(ViusSimbols, ArenaBuidadaEnCadaIntent) {
  auto t = Carrega(R"(
alfabet ab
estat 0
  a x 0
  b y 0
)");
  Vius v;
  IniciaVius(v, t.get());
  Camina(v, "aaaa");
  EXPECT_EQ(Llista(v), (Estats{{0, "xxxx"}}));
  Camina(v, "b");
  EXPECT_EQ(Llista(v), (Estats{{0, "y"}}));
}

using ViusDeathTest = testing::Test;

TEST(ViusDeathTest, DestiForaDeRang) {
  auto t = Carrega(R"(
alfabet ab
estat 0
  a - 7
  b - -3
estat 1
)");
  Vius v;
  IniciaVius(v, t.get());
  Inicialitzacio(v);
  EXPECT_EXIT(ComprobarEstatsVius(v, 'a'), testing::ExitedWithCode(255),
              "^Error: L'estat dest. 7 no existeix a l'automat "
              "\\(automat mal constru.t\\)\n$");
  EXPECT_EXIT(ComprobarEstatsVius(v, 'b'), testing::ExitedWithCode(255),
              "^Error: L'estat dest. -3 no existeix");
}

TEST(ViusDeathTest, DestiForaDeRangEnLaClausura) {
  auto t = Carrega(R"(
alfabet a
estat 0
  a - 1
estat 1
  eps - 2
)");
  Vius v;
  IniciaVius(v, t.get());
  Inicialitzacio(v);
  ComprobarEstatsVius(v, 'a');
  EXPECT_EXIT(ComprobarEstatsNous(v), testing::ExitedWithCode(255),
              "^Error: L'estat dest. 2 no existeix");
}

TEST(ViusDeathTest, MassaEstatsVius) {
  auto t = Carrega(R"(
alfabet a
estat 0
  a - 0
  a - 0
)");
  Vius v;
  IniciaVius(v, t.get());
  v.max_vius = 16;
  Camina(v, "aaaa");
  EXPECT_EQ(v.vius.size(), 16u);
  EXPECT_EXIT(ComprobarEstatsVius(v, 'a'), testing::ExitedWithCode(1),
              "^Error: No queda memoria para crear nuevos estados vivos\n$");
}

TEST(ViusDeathTest, MassaNodesDeSortida) {
  auto t = Carrega(R"(
alfabet a
estat 0
  a x 0
)");
  Vius v;
  IniciaVius(v, t.get());
  v.max_nodes = 10;
  Camina(v, "aaaaaaaaa");  // ten nodes with the root: full
  EXPECT_EXIT(ComprobarEstatsVius(v, 'a'), testing::ExitedWithCode(1),
              "^Error: No queda memoria para crear nuevos estados vivos\n$");
}

TEST(ViusCicles, CicleEpsilonRebutjatEnCarregar) {
  for (const char* d : {R"(
alfabet a
estat 0
  a - 1
estat 1
  eps x 2
estat 2
  eps y 3
estat 3
  eps - 1
)",
                        R"(
alfabet a
estat 0
  a - 1
estat 1
  eps - 1
)"}) {
    Transductor t;
    Inicio(t);
    const std::string bytes = prova::Bytes(d);
    std::string error;
    EXPECT_FALSE(GenautoDeMemoria(
        t, "x.bin", reinterpret_cast<const uint8_t*>(bytes.data()),
        bytes.size(), error));
    EXPECT_EQ(error.rfind("Error: El fichero binario x.bin no es v\xe1lido: "
                          "ciclo de transiciones vac\xed" "as en el estado ",
                          0),
              0u)
        << error;
    EXPECT_EQ(error.back(), '\n');
  }
}

TEST(ViusCicles, CicleEnElSegonGrupNoEsSegueix) {
  // Only the first epsilon group is followed, so a loop in the second one
  // is harmless.
  auto t = Carrega(R"(
alfabet a
estat 0
  a - 1
estat 1
  eps x 2
  eps2 - 1
estat 2
)");
  Vius v;
  IniciaVius(v, t.get());
  Camina(v, "a");
  EXPECT_EQ(Llista(v), (Estats{{1, ""}, {2, "x"}}));
}

// The same failures as a user meets them.
TEST(ViusPrograma, CicleIDestiInexistent) {
  const std::string cicle = prova::EscriuFitxer(prova::Bytes(R"(
alfabet a
estat 0
  a - 1
estat 1
  eps - 2
estat 2
  eps - 1
)"),
                                                "vius_cicle.bin");
  prova::Resultat r = prova::Executa({ETIQUEM_BIN, "-b", cicle}, "a\n");
  EXPECT_EQ(r.estat, 255);
  EXPECT_EQ(r.sortida, "");
  EXPECT_EQ(r.errors.rfind("Error: El fichero binario " + cicle +
                               " no es v\xe1lido: ciclo de transiciones vac\xed"
                               "as en el estado ",
                           0),
            0u)
      << r.errors;
  EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1);

  const std::string desti = prova::EscriuFitxer(prova::Bytes(R"(
alfabet ab
estat 0
  a - 1
estat 1
  b - 9
)"),
                                                "vius_desti.bin");
  // What was written before the failure is not lost.
  r = prova::Executa({ETIQUEM_BIN, "-b", desti}, "x ab\n");
  EXPECT_EQ(r.estat, 255);
  EXPECT_EQ(r.sortida, "x ");
  EXPECT_EQ(r.errors,
            "Error: L'estat dest\xed 9 no existeix a l'automat (automat mal "
            "constru\xeft)\n");
}

TEST(ViusPrograma, CreixementExponencialAcabaAmbMissatge) {
  // Every a doubles the paths: the bound on live states ends the run.
  const std::string bin = prova::EscriuFitxer(prova::Bytes(R"(
alfabet a
estat 0
  a - 0
  a - 0
)"),
                                              "vius_doble.bin");
  prova::Resultat r =
      prova::Executa({ETIQUEM_BIN, "-b", bin}, "b " + std::string(40, 'a'));
  EXPECT_EQ(r.estat, 1);
  EXPECT_EQ(r.sortida, "b ");
  EXPECT_EQ(r.errors, "Error: No queda memoria para crear nuevos estados vivos\n");
}

}  // namespace
}  // namespace etiquem
