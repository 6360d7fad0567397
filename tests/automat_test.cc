// The automaton loader and the lookups on the loaded model: the worked
// example of the file format byte for byte, every way a file can be broken
// (with the exact one-line refusal), what a valid file may look like at its
// edges (trailing bytes, epsilon flags other than 1, empty lists and groups,
// negative group counts), epsilon cycles, and BuscBin, Noalfa, Mayus,
// mayusculas and CorrespDef at their edges. A real dictionary is loaded too
// when ../shared holds one.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "automat_prova.h"
#include "automaton/automat.h"

namespace etiquem {
namespace {

using prova::Bytes;
using prova::EscriuFitxer;

// The 93 bytes of the format's worked example, as listed field by field.
const unsigned char kExemple[] = {
    0x02, 0x00, 0x00, 0x00, 0x61, 0x62,                          // alphabet
    0x01, 0x00, 0x00, 0x00,                                      // 1 define
    0x01, 0x00, 0x00, 0x00, 0x6E, 0x02, 0x01, 0x00, 0x00,        // n = 258
    0x03, 0x00, 0x00, 0x00,                                      // 3 states
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,                          // state 0
    0x01, 0x00, 0x00, 0x00, 0x61, 0x00, 0x01, 0x00, 0x00, 0x00,  //
    0x61, 0x00, 0x01, 0x00, 0x00, 0x00,                          //
    0x01, 0x00, 0x00, 0x00, 0x01, 0x00,                          // state 1
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,  //
    0x02, 0x01, 0x02, 0x00, 0x00, 0x00,                          //
    0x00, 0x00, 0x00, 0x00,                                      //
    0x02, 0x00, 0x00, 0x00, 0x00, 0x00,                          // state 2
    0x01, 0x00, 0x00, 0x00, 0xF0, 0xD8, 0x01, 0x00, 0x00, 0x00,  //
    0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
};

const char kDescripcioExemple[] = R"(
alfabet ab
define n 258
estat 0
  a a 1
estat 1
  eps &n 2
estat 2
  fi
)";

std::string Exemple() {
  return std::string(reinterpret_cast<const char*>(kExemple), sizeof kExemple);
}

// Writes a little-endian field.
std::string I32(int32_t v) {
  std::string o;
  for (int i = 0; i < 4; ++i) o += char((uint32_t(v) >> (8 * i)) & 0xFF);
  return o;
}
std::string I16(int16_t v) {
  return std::string{char(uint16_t(v) & 0xFF), char(uint16_t(v) >> 8)};
}

// One state 0 with the given groups (the description's "#N" symbols cannot
// be used after a blank, where " #" starts a comment).
std::string UnEstat(std::vector<prova::GrupProva> trans,
                    std::vector<prova::GrupProva> eps = {},
                    std::vector<std::pair<std::string, int32_t>> defines = {}) {
  prova::AutomatProva a;
  a.defines = std::move(defines);
  a.estats.push_back({0, -32768, std::move(eps), std::move(trans)});
  return Bytes(a);
}

struct Carrega {
  std::unique_ptr<Transductor> t = std::make_unique<Transductor>();
  bool ok = false;
  std::string error;
};

const char kNom[] = "prova.bin";

Carrega DeMemoria(const std::string& bytes) {
  Carrega c;
  c.ok = GenautoDeMemoria(*c.t, kNom,
                          reinterpret_cast<const uint8_t*>(bytes.data()),
                          bytes.size(), c.error);
  return c;
}

Carrega DeDescripcio(const std::string& descripcio) {
  return DeMemoria(Bytes(descripcio));
}

// The refusal of a broken file named kNom.
std::string Refus(const std::string& que, size_t byte) {
  return std::string("Error: El fichero binario prova.bin no es v\xe1lido: ") +
         que + " (byte " + std::to_string(byte) + ")\n";
}

void EsperaModelBuit(const Transductor& t) {
  EXPECT_EQ(t.nestats, 0);
  EXPECT_TRUE(t.automat.empty());
  EXPECT_EQ(t.cdef, 0);
  EXPECT_EQ(t.longalf, 0);
}

// ---------------------------------------------------------------------------
// The worked example.

TEST(Exemple, ElsBytesDeLaDescripcioSonElsDelFormat) {
  EXPECT_EQ(sizeof kExemple, 93u);
  EXPECT_EQ(Bytes(kDescripcioExemple), Exemple());
}

void ComprovaExemple(const Transductor& t) {
  EXPECT_EQ(t.longalf, 2);
  EXPECT_EQ(t.alfabeto, "ab");
  ASSERT_EQ(t.cdef, 1);
  ASSERT_EQ(t.defines.size(), 1u);
  EXPECT_EQ(t.defines[0].nom, "n");
  EXPECT_EQ(t.defines[0].codi, 258);
  ASSERT_EQ(t.nestats, 3);
  ASSERT_EQ(t.automat.size(), 3u);

  const Nodo& s0 = t.automat[0];
  EXPECT_EQ(s0.estado, 0);
  EXPECT_EQ(s0.eps, nullptr);
  EXPECT_EQ(s0.neps, 0);
  ASSERT_EQ(s0.ntrans, 1);
  EXPECT_EQ(s0.trans[0].lo, 97);
  ASSERT_EQ(s0.trans[0].nstrans, 1);
  EXPECT_EQ(s0.trans[0].strans[0].lm, 97);
  EXPECT_EQ(s0.trans[0].strans[0].des, 1);
  EXPECT_EQ(s0.nmarques, 0);

  const Nodo& s1 = t.automat[1];
  EXPECT_EQ(s1.estado, 1);
  ASSERT_EQ(s1.neps, 1);
  ASSERT_NE(s1.eps, nullptr);
  EXPECT_EQ(s1.eps[0].lo, 0);
  ASSERT_EQ(s1.eps[0].nstrans, 1);
  EXPECT_EQ(s1.eps[0].strans[0].lm, 258);
  EXPECT_EQ(s1.eps[0].strans[0].des, 2);
  EXPECT_EQ(s1.ntrans, 0);
  EXPECT_EQ(s1.trans, nullptr);

  const Nodo& s2 = t.automat[2];
  EXPECT_EQ(s2.estado, 2);
  EXPECT_EQ(s2.neps, 0);
  EXPECT_EQ(s2.eps, nullptr);
  ASSERT_EQ(s2.ntrans, 1);
  EXPECT_EQ(s2.trans[0].lo, FIN_TRADUC);
  ASSERT_EQ(s2.trans[0].nstrans, 1);
  EXPECT_EQ(s2.trans[0].strans[0].lm, 0);
  EXPECT_EQ(s2.trans[0].strans[0].des, 2);
  ASSERT_EQ(s2.nmarques, 1);
  EXPECT_EQ(t.marques[s2.marques], FIN_TRADUC);

  ASSERT_NE(CorrespDef(t, 258), nullptr);
  EXPECT_EQ(*CorrespDef(t, 258), "n");
  EXPECT_EQ(Noalfa(t, 'a'), 0);
  EXPECT_EQ(Noalfa(t, 'b'), 0);
  EXPECT_EQ(Noalfa(t, 'c'), 1);
}

TEST(Exemple, DesDeMemoria) {
  Carrega c = DeMemoria(Exemple());
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.error, "");
  ComprovaExemple(*c.t);
}

TEST(Exemple, DesDUnFitxer) {
  std::string cami = EscriuFitxer(Exemple(), "exemple.bin");
  Transductor t;
  std::string error;
  int estat = -7;
  ASSERT_TRUE(Genauto(t, cami.c_str(), error, estat)) << error;
  ComprovaExemple(t);
}

TEST(Exemple, BytesSobrantsSIgnoren) {
  for (const std::string& cua : {std::string("\0", 1), std::string("x"),
                                I32(-1) + I32(99) + "brossa",
                                std::string(100000, '\xff')}) {
    Carrega c = DeMemoria(Exemple() + cua);
    ASSERT_TRUE(c.ok) << c.error;
    ComprovaExemple(*c.t);
  }
}

// ---------------------------------------------------------------------------
// Broken files.

TEST(FitxerTrencat, TerminaAbansDeTempsEnQualsevolByte) {
  const std::string b = Exemple();
  for (size_t n = 0; n < b.size(); ++n) {
    Carrega c = DeMemoria(b.substr(0, n));
    ASSERT_FALSE(c.ok) << n;
    const std::string inici = Refus("termina antes de tiempo", 0).substr(0, 70);
    EXPECT_EQ(c.error.rfind(inici, 0), 0u) << n << ": " << c.error;
    // "(byte N)" points into the file, at or before where it ends.
    size_t p = c.error.rfind("(byte ");
    ASSERT_NE(p, std::string::npos) << c.error;
    EXPECT_LE(std::stoul(c.error.substr(p + 6)), n) << c.error;
    EXPECT_EQ(c.error.find('\n'), c.error.size() - 1) << c.error;
    EsperaModelBuit(*c.t);
  }
}

TEST(FitxerTrencat, MissatgesExactesDeFinalPrematur) {
  EXPECT_EQ(DeMemoria("").error, Refus("termina antes de tiempo", 0));
  EXPECT_EQ(DeMemoria("\x02\x00").error, Refus("termina antes de tiempo", 0));
  // Inside the alphabet: the file's end.
  EXPECT_EQ(DeMemoria(Exemple().substr(0, 5)).error,
            Refus("termina antes de tiempo", 5));
  // Inside the state count, which starts at byte 19.
  EXPECT_EQ(DeMemoria(Exemple().substr(0, 21)).error,
            Refus("termina antes de tiempo", 19));
}

TEST(FitxerTrencat, LongitudDAlfabetNegativa) {
  Carrega c = DeMemoria(I32(-1) + Exemple().substr(4));
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.error, Refus("longitud de alfabeto negativa", 4));
  EsperaModelBuit(*c.t);
}

TEST(FitxerTrencat, NombreDeDefinesNegatiu) {
  std::string b = Exemple();
  b.replace(6, 4, I32(-2));
  EXPECT_EQ(DeMemoria(b).error,
            Refus("n\xfamero de s\xedmbolos negativo", 10));
}

TEST(FitxerTrencat, LongitudDeNomNegativa) {
  std::string b = Exemple();
  b.replace(10, 4, I32(-1));
  EXPECT_EQ(DeMemoria(b).error, Refus("longitud de nombre negativa", 14));
}

TEST(FitxerTrencat, NombreDEstatsNegatiu) {
  std::string b = Exemple();
  b.replace(19, 4, I32(-3));
  EXPECT_EQ(DeMemoria(b).error, Refus("n\xfamero de estados negativo", 23));
}

TEST(FitxerTrencat, CapEstat) {
  Carrega c = DeMemoria(I32(0) + I32(0) + I32(0));
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.error, Refus("no tiene ning\xfan estado", 12));
}

TEST(FitxerTrencat, SubrecompteNegatiu) {
  // The sub-count of state 1's epsilon group.
  std::string b = Exemple();
  b.replace(57, 4, I32(-1));
  EXPECT_EQ(DeMemoria(b).error,
            Refus("n\xfamero de transiciones negativo en el estado 1", 61));
  // ...and of a marker group, which is never followed: still refused.
  b = Exemple();
  b.replace(83, 4, I32(-1));
  EXPECT_EQ(DeMemoria(b).error,
            Refus("n\xfamero de transiciones negativo en el estado 2", 87));
}

TEST(FitxerTrencat, RecomptesEnormesNoEsCreuen) {
  // Counts far beyond what the bytes could hold are refused at once,
  // without trying to allocate for them.
  const int32_t gran = 0x7fffffff;
  std::string b = Exemple();
  b.replace(19, 4, I32(gran));
  EXPECT_EQ(DeMemoria(b).error, Refus("termina antes de tiempo", 93));
  b = Exemple();
  b.replace(6, 4, I32(gran));
  EXPECT_EQ(DeMemoria(b).error, Refus("termina antes de tiempo", 93));
  b = Exemple();
  b.replace(0, 4, I32(gran));
  EXPECT_EQ(DeMemoria(b).error, Refus("termina antes de tiempo", 93));
  b = Exemple();
  b.replace(29, 4, I32(gran));  // state 0's group count
  EXPECT_EQ(DeMemoria(b).error, Refus("termina antes de tiempo", 93));
  b = Exemple();
  b.replace(35, 4, I32(gran));  // state 0's sub-count
  EXPECT_EQ(DeMemoria(b).error, Refus("termina antes de tiempo", 93));
  b = Exemple();
  b.replace(10, 4, I32(gran));  // name length
  EXPECT_EQ(DeMemoria(b).error, Refus("termina antes de tiempo", 93));
}

TEST(FitxerTrencat, SimbolSenseDefineEnUnGrupQueEsPotSeguir) {
  // In a character group.
  Carrega c = DeMemoria(UnEstat({{'a', {{259, 0}}}}, {}, {{"n", 258}}));
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.error.rfind(
                "Error: El fichero binario prova.bin no es v\xe1lido: el "
                "s\xedmbolo 259 no est\xe1 definido (estado 0) (byte ",
                0),
            0u)
      << c.error;
  EsperaModelBuit(*c.t);
  // In the first epsilon group.
  prova::AutomatProva a = prova::Descriu("estat 0\n  a a 1\nestat 1\n");
  a.estats[1].eps.push_back({0, {{258, 0}}});
  c = DeMemoria(Bytes(a));
  EXPECT_FALSE(c.ok);
  EXPECT_NE(c.error.find("el s\xedmbolo 258 no est\xe1 definido (estado 1)"),
            std::string::npos)
      << c.error;
  // The largest code, in a group for byte 255 and byte 0.
  EXPECT_FALSE(DeMemoria(UnEstat({{255, {{32767, 0}}}})).ok);
  EXPECT_FALSE(DeMemoria(UnEstat({{0, {{'a', 0}, {300, 0}}}})).ok);
}

TEST(FitxerTrencat, SimbolSenseDefineOnMaiNoEsSegueixEsCarrega) {
  // Under a marker, in a group whose lo is no input character, in a second
  // epsilon group: never followed, so accepted.
  for (int16_t lo : {FIN_TRADUC, FIN_PARCIAL, FIN_DESCON, 256, 258, -5}) {
    Carrega c = DeMemoria(UnEstat({{lo, {{300, 0}}}}));
    EXPECT_TRUE(c.ok) << lo << c.error;
  }
  Carrega c = DeMemoria(UnEstat({}, {{0, {}}, {0, {{999, 0}}}}));
  EXPECT_TRUE(c.ok) << c.error;
}

TEST(FitxerTrencat, Lm256I257SonCaracters) {
  prova::AutomatProva a = prova::Descriu("estat 0\nestat 1\n");
  a.estats[0].trans = {{'a', {{256, 1}}}, {'b', {{257, 1}}}};
  a.estats[1].eps = {{0, {{256, 0}, {257, 0}}}};
  Carrega c = DeMemoria(Bytes(a));
  EXPECT_TRUE(c.ok) << c.error;
}

TEST(FitxerTrencat, DefinidaAlDarrereAmbCodiRepetit) {
  // A define may come after others of other codes; duplicates are fine.
  Carrega c = DeDescripcio(R"(
define x 258
define y 300
define z 300
estat 0
  a &z 0
)");
  EXPECT_TRUE(c.ok) << c.error;
}

TEST(FitxerTrencat, GenautoDonaEstat255) {
  struct Cas {
    std::string bytes;
    std::string que;
  };
  std::string b = Exemple();
  b.replace(19, 4, I32(0));
  std::vector<Cas> casos = {
      {Exemple().substr(0, 40), "termina antes de tiempo"},
      {I32(-1), "longitud de alfabeto negativa"},
      {b, "no tiene ning\xfan estado"},
      {Bytes("estat 0\n  eps - 0\n"), "ciclo"},
      {UnEstat({{'a', {{400, 0}}}}), "no est\xe1 definido"},
  };
  for (const Cas& cas : casos) {
    std::string cami = EscriuFitxer(cas.bytes, "trencat.bin");
    Transductor t;
    std::string error;
    int estat = 0;
    EXPECT_FALSE(Genauto(t, cami.c_str(), error, estat));
    EXPECT_EQ(estat, 255);
    EXPECT_EQ(error.rfind("Error: El fichero binario " + cami +
                              " no es v\xe1lido: ",
                          0),
              0u)
        << error;
    EXPECT_NE(error.find(cas.que), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), error.size() - 1);
  }
}

TEST(FitxerTrencat, FitxerQueNoExisteix) {
  Transductor t;
  std::string error;
  int estat = 0;
  EXPECT_FALSE(Genauto(t, "/no/existeix/automat.bin", error, estat));
  EXPECT_EQ(estat, 255);
  EXPECT_EQ(error,
            "Error: El fichero binario /no/existeix/automat.bin no existe o "
            "no se puedo abrir\n");
}

TEST(FitxerTrencat, UnDirectoriNoEsPotLlegir) {
  Transductor t;
  std::string error;
  int estat = 0;
  EXPECT_FALSE(Genauto(t, "/", error, estat));
  EXPECT_EQ(estat, 255);
  EXPECT_EQ(error.rfind("Error", 0), 0u) << error;
  EXPECT_EQ(error.find('\n'), error.size() - 1) << error;
}

TEST(FitxerTrencat, UnaCarregaFallidaNoDeixaModel) {
  Carrega c = DeMemoria(Exemple());
  ASSERT_TRUE(c.ok);
  const std::string b = Exemple().substr(0, 60);
  EXPECT_FALSE(GenautoDeMemoria(*c.t, kNom,
                                reinterpret_cast<const uint8_t*>(b.data()),
                                b.size(), c.error));
  EsperaModelBuit(*c.t);
}

// ---------------------------------------------------------------------------
// Valid files at their edges.

TEST(Epsilon, NomesElFlag1PortaLlista) {
  for (int16_t flag : {0, 2, -1, 256, -32767}) {
    // The transition list follows the flag directly.
    std::string b = I32(0) + I32(0) + I32(1) + I32(7) + I16(flag) + I32(1) +
                    I16('a') + I32(1) + I16('b') + I32(0);
    Carrega c = DeMemoria(b);
    ASSERT_TRUE(c.ok) << flag << c.error;
    const Nodo& n = c.t->automat[0];
    EXPECT_EQ(n.estado, 7);
    EXPECT_EQ(n.neps, 0);
    EXPECT_EQ(n.eps, nullptr);
    ASSERT_EQ(n.ntrans, 1) << flag;
    EXPECT_EQ(n.trans[0].lo, 'a');
    EXPECT_EQ(n.trans[0].strans[0].lm, 'b');
  }
}

TEST(Epsilon, Flag1AmbLlistaBuidaIGrupsBuits) {
  Carrega c = DeMemoria(I32(0) + I32(0) + I32(2) +
                        // state 0: flag 1, empty epsilon list, no groups
                        I32(0) + I16(1) + I32(0) + I32(0) +
                        // state 1: flag 1, one group with no moves, and a
                        // transition group with no moves
                        I32(1) + I16(1) + I32(1) + I16(0) + I32(0) + I32(1) +
                        I16('z') + I32(0));
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.t->automat[0].neps, 0);
  EXPECT_EQ(c.t->automat[0].eps, nullptr);
  EXPECT_EQ(c.t->automat[0].ntrans, 0);
  EXPECT_EQ(c.t->automat[0].trans, nullptr);
  ASSERT_EQ(c.t->automat[1].neps, 1);
  EXPECT_EQ(c.t->automat[1].eps[0].nstrans, 0);
  ASSERT_EQ(c.t->automat[1].ntrans, 1);
  EXPECT_EQ(c.t->automat[1].trans[0].lo, 'z');
  EXPECT_EQ(c.t->automat[1].trans[0].nstrans, 0);
}

TEST(Epsilon, SegonGrupEsCarregaIElSeuCicleNoCompta) {
  Carrega c = DeDescripcio(R"(
estat 0
  eps x 1
  eps2 y 0
estat 1
  a b 0
)");
  ASSERT_TRUE(c.ok) << c.error;
  ASSERT_EQ(c.t->automat[0].neps, 2);
  EXPECT_EQ(c.t->automat[0].eps[1].strans[0].lm, 'y');
  EXPECT_EQ(c.t->automat[0].eps[1].strans[0].des, 0);
}

TEST(Epsilon, CiclesEsRefusen) {
  EXPECT_EQ(DeDescripcio("estat 0\n  eps - 0\n").error,
            "Error: El fichero binario prova.bin no es v\xe1lido: ciclo de "
            "transiciones vac\xed" "as en el estado 0\n");
  Carrega c = DeDescripcio(R"(
estat 0
  a a 1
estat 1
  eps - 2
estat 2
  eps x 3
  eps y 4
estat 3
  fi
estat 4
  eps - 1
)");
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.error.rfind("Error: El fichero binario prova.bin no es "
                          "v\xe1lido: ciclo de transiciones vac\xed" "as",
                          0),
            0u)
      << c.error;
  EsperaModelBuit(*c.t);
}

TEST(Epsilon, CadenesLlarguesIDiamantsNoSonCicles) {
  // A chain of 200000 epsilon moves (deep, but no cycle) and a diamond in
  // which two paths reach the same state.
  std::string d;
  const int n = 200000;
  for (int i = 0; i < n; ++i) {
    d += "estat " + std::to_string(i) + "\n";
    if (i + 1 < n) d += "  eps - " + std::to_string(i + 1) + "\n";
  }
  Carrega c = DeDescripcio(d);
  EXPECT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.t->nestats, n);
  c = DeDescripcio(R"(
estat 0
  eps - 1
  eps - 2
estat 1
  eps - 3
estat 2
  eps - 3
estat 3
  fi
)");
  EXPECT_TRUE(c.ok) << c.error;
}

TEST(Epsilon, DestinacioForaDeRangNoEsComprovaEnCarregar) {
  Carrega c = DeDescripcio("estat 0\n  eps - 5\n  a a -3\n  b b 99\n");
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.t->automat[0].eps[0].strans[0].des, 5);
  EXPECT_EQ(c.t->automat[0].trans[0].strans[0].des, -3);
}

TEST(Llistes, RecompteDeGrupsNegatiuEsUnaLlistaBuida) {
  // State 0: flag 1 with -4 epsilon groups, then -1 transition groups;
  // state 1 follows at once.
  Carrega c = DeMemoria(I32(0) + I32(0) + I32(2) + I32(0) + I16(1) + I32(-4) +
                        I32(-1) + I32(1) + I16(0) + I32(1) + I16('q') +
                        I32(1) + I16('r') + I32(0));
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.t->automat[0].neps, 0);
  EXPECT_EQ(c.t->automat[0].eps, nullptr);
  EXPECT_EQ(c.t->automat[0].ntrans, 0);
  EXPECT_EQ(c.t->automat[0].trans, nullptr);
  EXPECT_EQ(c.t->automat[1].estado, 1);
  ASSERT_EQ(c.t->automat[1].ntrans, 1);
  EXPECT_EQ(c.t->automat[1].trans[0].strans[0].lm, 'r');
}

TEST(Llistes, EnOrdreDeFitxerSenseOrdenar) {
  // The loader keeps groups and moves as they come.
  Carrega c = DeDescripcio(R"(
estat 0
  z z 0
  a x 0
  a y 0
  descon
  fi
)");
  ASSERT_TRUE(c.ok) << c.error;
  const Nodo& n = c.t->automat[0];
  ASSERT_EQ(n.ntrans, 4);
  EXPECT_EQ(n.trans[0].lo, 'z');
  EXPECT_EQ(n.trans[1].lo, 'a');
  ASSERT_EQ(n.trans[1].nstrans, 2);
  EXPECT_EQ(n.trans[1].strans[0].lm, 'x');
  EXPECT_EQ(n.trans[1].strans[1].lm, 'y');
  EXPECT_EQ(n.trans[2].lo, FIN_DESCON);
  EXPECT_EQ(n.trans[3].lo, FIN_TRADUC);
  ASSERT_EQ(n.nmarques, 2);
  EXPECT_EQ(c.t->marques[n.marques], FIN_DESCON);
  EXPECT_EQ(c.t->marques[n.marques + 1], FIN_TRADUC);
}

TEST(Llistes, CampsSencersLittleEndian) {
  Carrega c = DeDescripcio(R"(
define llarg 32767
estat 0
  estado 305419896
  \xe0 &llarg -2
)");
  ASSERT_TRUE(c.ok) << c.error;
  const Nodo& n = c.t->automat[0];
  EXPECT_EQ(n.estado, 305419896);
  EXPECT_EQ(DeMemoria(UnEstat({{-32768, {{0, 0}}}})).t->automat[0].trans[0].lo,
            -32768);
  EXPECT_EQ(n.trans[0].lo, 224);
  EXPECT_EQ(n.trans[0].strans[0].lm, 32767);
  EXPECT_EQ(n.trans[0].strans[0].des, -2);
}

TEST(Simbols, TaulaBuidaIAlfabetBuit) {
  Carrega c = DeDescripcio("estat 0\n");
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.t->cdef, 0);
  EXPECT_EQ(c.t->longalf, 0);
  EXPECT_EQ(CorrespDef(*c.t, 258), nullptr);
  for (int ch = -1; ch <= 256; ++ch) EXPECT_EQ(Noalfa(*c.t, ch), 1) << ch;
}

TEST(Simbols, NomsFinsAlPrimerZeroIBuits) {
  Carrega c = DeMemoria(I32(0) + I32(3) + I32(4) + std::string("ab\0c", 4) +
                        I32(258) + I32(0) + I32(259) + I32(10) + "&amp;llarg" +
                        I32(260) + I32(1) + I32(0) + I16(0) + I32(0));
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.t->defines[0].nom, "ab");
  EXPECT_EQ(c.t->defines[1].nom, "");
  EXPECT_EQ(c.t->defines[2].nom, "&amp;llarg");
  ASSERT_NE(CorrespDef(*c.t, 259), nullptr);
  EXPECT_EQ(*CorrespDef(*c.t, 259), "");
  EXPECT_EQ(*CorrespDef(*c.t, 260), "&amp;llarg");
}

// ---------------------------------------------------------------------------
// Lookups.

TEST(CorrespDef, PrimerDelCodiINoTrobat) {
  Carrega c = DeDescripcio(R"(
define u 300
define dos 258
define tres 300
define gran 40000
define neg -7
define zero 0
estat 0
)");
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(*CorrespDef(*c.t, 300), "u");
  EXPECT_EQ(*CorrespDef(*c.t, 258), "dos");
  EXPECT_EQ(*CorrespDef(*c.t, 40000), "gran");
  EXPECT_EQ(*CorrespDef(*c.t, -7), "neg");
  EXPECT_EQ(*CorrespDef(*c.t, 0), "zero");
  EXPECT_EQ(CorrespDef(*c.t, 259), nullptr);
  EXPECT_EQ(CorrespDef(*c.t, 32767), nullptr);
  EXPECT_EQ(CorrespDef(*c.t, 40000 - 65536), nullptr) << "whole 32-bit codes";
  EXPECT_EQ(CorrespDef(*c.t, 300 + 65536), nullptr);
  EXPECT_EQ(CorrespDef(*c.t, -1), nullptr);
}

std::vector<Trans> Grups(const std::vector<int16_t>& los) {
  std::vector<Trans> g;
  for (int16_t lo : los) g.push_back(Trans{lo, nullptr, 0});
  return g;
}

TEST(BuscBin, RecompteZeroONegatiuNoLlegeix) {
  EXPECT_EQ(BuscBin(nullptr, 'a', 0), -1);
  EXPECT_EQ(BuscBin(nullptr, 'a', -5), -1);
}

TEST(BuscBin, MarquesAbansDelsCaracters) {
  std::vector<Trans> g = Grups({-30000, -20000, -10000, 0, 'a', 'b', 255, 258,
                                32767});
  const int n = int(g.size());
  EXPECT_EQ(BuscBin(g.data(), 'a', n), 4);
  EXPECT_EQ(BuscBin(g.data(), 'b', n), 5);
  EXPECT_EQ(BuscBin(g.data(), 0, n), 3);
  EXPECT_EQ(BuscBin(g.data(), 255, n), 6);
  EXPECT_EQ(BuscBin(g.data(), 258, n), 7);
  EXPECT_EQ(BuscBin(g.data(), -10000, n), 2);
  EXPECT_EQ(BuscBin(g.data(), -30000, n), 0);
  EXPECT_EQ(BuscBin(g.data(), 'c', n), -1);
  EXPECT_EQ(BuscBin(g.data(), 'a' + 65536, n), -1) << "no 16-bit wrap";
  EXPECT_EQ(BuscBin(g.data(), -1, n), -1);
  // Only the first groups counted.
  EXPECT_EQ(BuscBin(g.data(), 'b', 5), -1);
  EXPECT_EQ(BuscBin(g.data(), 'a', 5), 4);
}

TEST(BuscBin, TotesLesMidesIPosicions) {
  for (int n = 1; n <= 40; ++n) {
    std::vector<int16_t> los;
    for (int i = 0; i < n; ++i) los.push_back(int16_t(3 * i - 30));
    std::vector<Trans> g = Grups(los);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(BuscBin(g.data(), los[size_t(i)], n), i) << n;
      ASSERT_EQ(BuscBin(g.data(), los[size_t(i)] + 1, n), -1) << n;
      ASSERT_EQ(BuscBin(g.data(), los[size_t(i)] - 1, n), -1) << n;
    }
  }
}

TEST(BuscBin, DeDosMigsProvaElDeDalt) {
  // With equal neighbours the halving order decides which one is found.
  std::vector<Trans> g = Grups({5, 5});
  EXPECT_EQ(BuscBin(g.data(), 5, 2), 1);
  g = Grups({1, 5, 5, 5});
  EXPECT_EQ(BuscBin(g.data(), 5, 4), 2);
  g = Grups({1, 2, 3, 9});
  EXPECT_EQ(BuscBin(g.data(), 9, 4), 3);
}

Carrega AmbAlfabet(const std::string& alfabet) {
  return DeMemoria(I32(int32_t(alfabet.size())) + alfabet + I32(0) + I32(1) +
                   I32(0) + I16(0) + I32(0));
}

TEST(Noalfa, ExtremsDeLAlfabet) {
  // The greatest byte belongs, whatever the alphabet's length.
  std::string alfabet;
  for (int n = 1; n <= 40; ++n) {
    alfabet += char('A' + n);
    Carrega c = AmbAlfabet(alfabet);
    ASSERT_TRUE(c.ok) << c.error;
    for (char ch : alfabet) ASSERT_EQ(Noalfa(*c.t, uint8_t(ch)), 0) << n;
    EXPECT_EQ(Noalfa(*c.t, 'A'), 1);
    EXPECT_EQ(Noalfa(*c.t, 'A' + n + 1), 1);
  }
}

TEST(Noalfa, UnByteIFinalDEntrada) {
  Carrega c = AmbAlfabet("\xe0");
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(Noalfa(*c.t, 224), 0);
  EXPECT_EQ(Noalfa(*c.t, -32), 1) << "bytes count unsigned";
  EXPECT_EQ(Noalfa(*c.t, -1), 1);
  EXPECT_EQ(Noalfa(*c.t, 224 + 256), 1);
  EXPECT_EQ(Noalfa(*c.t, 0), 1);
}

TEST(Noalfa, Bytes0I255) {
  Carrega c = AmbAlfabet(std::string("\0a\xff", 3));
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(Noalfa(*c.t, 0), 0);
  EXPECT_EQ(Noalfa(*c.t, 'a'), 0);
  EXPECT_EQ(Noalfa(*c.t, 255), 0);
  EXPECT_EQ(Noalfa(*c.t, -1), 1);
  EXPECT_EQ(Noalfa(*c.t, 1), 1);
}

TEST(Noalfa, AlfabetDesordenatRespondComLaCercaPerMeitats) {
  // "ba": the search probes 'a' first, so 'b' is never reached.
  Carrega c = AmbAlfabet("ba");
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(Noalfa(*c.t, 'a'), 0);
  EXPECT_EQ(Noalfa(*c.t, 'b'), 1);
}

TEST(Mayus, RangsExactes) {
  auto majuscula = [](int c) {
    return (c >= 65 && c <= 90) || (c >= 192 && c <= 197) ||
           (c >= 199 && c <= 207) || (c >= 209 && c <= 214) ||
           (c >= 217 && c <= 220);
  };
  for (int c = -300; c < 600; ++c) ASSERT_EQ(Mayus(c), majuscula(c) ? 1 : 0) << c;
  EXPECT_EQ(Mayus(199), 1);  // Ç
  for (int c : {64, 91, 198, 208, 215, 216, 221, 222, 223, int('a'), 231, -191,
                65 + 256})
    EXPECT_EQ(Mayus(c), 0) << c;
}

TEST(Mayusculas, TaulaSencera) {
  const int accents[][2] = {{0xE0, 0xC0}, {0xE1, 0xC1}, {0xE8, 0xC8},
                            {0xE9, 0xC9}, {0xEC, 0xCC}, {0xED, 0xCD},
                            {0xEF, 0xCF}, {0xF1, 0xD1}, {0xF2, 0xD2},
                            {0xF3, 0xD3}, {0xF9, 0xD9}, {0xFA, 0xDA},
                            {0xFC, 0xDC}};
  for (int b = 0; b < 256; ++b) {
    int esperat = b >= 'a' && b <= 'z' ? b - 32 : b;
    for (auto& [de, a] : accents)
      if (b == de) esperat = a;
    ASSERT_EQ(mayusculas(b), esperat) << b;
    ASSERT_EQ(mayusculas(b + 256), esperat) << b;
    ASSERT_EQ(mayusculas(b - 256), esperat) << b;
  }
  EXPECT_EQ(mayusculas(231), 231);  // ç stays
  EXPECT_EQ(mayusculas(353), 65);   // only the low byte, 97, counts
  EXPECT_EQ(mayusculas(-159), 65);
  EXPECT_EQ(mayusculas(0xFF), 0xFF);
}

// ---------------------------------------------------------------------------
// A real dictionary.

TEST(Diccionari, CatalaDeShared) {
  const std::string cami = std::string(ETIQUEM_SHARED) + "/lexicon/ca.bin";
  if (access(cami.c_str(), R_OK) != 0) GTEST_SKIP() << cami << " is absent";
  Transductor t;
  std::string error;
  int estat = 0;
  auto inici = std::chrono::steady_clock::now();
  ASSERT_TRUE(Genauto(t, cami.c_str(), error, estat)) << error;
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - inici)
                .count();
  RecordProperty("load_ms", int(ms));
  EXPECT_EQ(t.nestats, 54755);
  EXPECT_EQ(t.cdef, 54);
  EXPECT_EQ(t.longalf, 76);
  for (int codi = 258; codi <= 311; ++codi)
    EXPECT_NE(CorrespDef(t, codi), nullptr) << codi;
  EXPECT_EQ(CorrespDef(t, 312), nullptr);
  EXPECT_EQ(Noalfa(t, '\''), 0);
  EXPECT_EQ(Noalfa(t, 0xB7), 0);  // middle dot
  EXPECT_EQ(Noalfa(t, ' '), 1);
  EXPECT_EQ(Noalfa(t, '0'), 1);

  int64_t grups_car = 0, moviments_car = 0, moviments_eps = 0, amb_eps = 0,
          finals = 0;
  for (const Nodo& n : t.automat) {
    if (n.neps > 0) {
      ++amb_eps;
      moviments_eps += n.eps[0].nstrans;
    }
    for (int g = 0; g < n.ntrans; ++g) {
      if (n.trans[g].lo >= 0 && n.trans[g].lo <= 255) {
        ++grups_car;
        moviments_car += n.trans[g].nstrans;
      }
      if (n.trans[g].lo == FIN_TRADUC) ++finals;
      if (g > 0) {
        ASSERT_LT(n.trans[g - 1].lo, n.trans[g].lo);
      }
    }
  }
  EXPECT_EQ(grups_car, 158598);
  EXPECT_EQ(moviments_car, 173885);
  EXPECT_EQ(moviments_eps, 12412);
  EXPECT_EQ(amb_eps, 10530);
  EXPECT_EQ(finals, 1);
  std::cout << "[ note ] ca.bin loaded in " << ms << " ms\n";
}

}  // namespace
}  // namespace etiquem
