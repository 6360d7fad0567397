// A file analysed in trams on several threads must give exactly what the
// sequential loop gives: the same bytes on standard output and in the
// unknown-words file, the same failure at the same place, whatever the
// trams' size, the window, the number of workers and where the cuts fall
// (inside words, multiword stretches and superblanks). Checked in process
// on generated dictionaries and texts with trams of a few bytes, and on
// whole runs of the program: a file on standard input or by -f is analysed
// in trams, a pipe sequentially.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "analisi_prova.h"
#include "automat_prova.h"
#include "driver/trams.h"
#include "proces.h"

namespace etiquem {
namespace {

using prova::AnalitzaEnProces;
using prova::AnalitzaEnTramsProva;
using prova::CarregaOFalla;
using prova::Resultat;
using prova::Sortides;

ParametresTrams Petits(std::mt19937& g) {
  ParametresTrams p;
  p.mida = 1 + g() % 48;
  p.finestra = 1 + g() % (p.mida + 16);
  p.fils = 1 + int(g() % 4);  // one worker takes every tram over in turn
  p.avancats = 2 + g() % 3;
  return p;
}

// ETIQUEM_LLAVOR=n runs other cases (for long hunts).
uint32_t Llavor() {
  const char* l = std::getenv("ETIQUEM_LLAVOR");
  return l ? uint32_t(std::strtoul(l, nullptr, 10)) : 7122026u;
}

TEST(Trams, EscriuenElMateixQueLaLecturaSeguida) {
  std::mt19937 g(Llavor());
  int amb_superblancs = 0;
  for (int cas = 0; cas < 150; ++cas) {
    const std::string desc = prova::DiccionariAtzar(g);
    Transductor t;
    CarregaOFalla(t, prova::Bytes(desc));
    const std::string text = prova::TextAtzar(g, 100 + g() % 1500);
    const int s = int(g() % 2), a = int(g() % 2), m = int(g() % 2);
    const Sortides seguida = AnalitzaEnProces(t, text, s, a, m, true);
    for (int prova = 0; prova < 3; ++prova) {
      const ParametresTrams p = Petits(g);
      const Sortides trams = AnalitzaEnTramsProva(t, text, s, a, m, p);
      ASSERT_EQ(seguida.text, trams.text)
          << desc << "\ntrams of " << p.mida << ", window " << p.finestra
          << ", " << p.fils << " workers";
      ASSERT_EQ(seguida.desconegudes, trams.desconegudes) << desc;
    }
    amb_superblancs += seguida.text.find("<![CDATA[") != std::string::npos;
  }
  EXPECT_GT(amb_superblancs, 50);
}

TEST(Trams, LongitudsExtremes) {
  Transductor t;
  CarregaOFalla(t, prova::Bytes("alfabet ab\nestat 0\n  a a 1\n  b b 0\n"
                                "estat 1\n  fi\n  \\s x 0\n"));
  ParametresTrams p;
  p.mida = 3;
  p.finestra = 1;
  for (const std::string& text :
       {std::string(), std::string("a"), std::string("ab a b"),
        std::string(500, 'a'), std::string(300, 'b') + " a",
        "a <![CDATA[" + std::string(100, 'a') + "]]> a",
        "a <![CDATA[" + std::string(100, 'a')}) {
    EXPECT_EQ(AnalitzaEnProces(t, text, 0, 0, 0, true).text,
              AnalitzaEnTramsProva(t, text, 0, 0, 0, p).text)
        << text;
  }
}

// The input may start anywhere in the file: where the descriptor stands.
TEST(Trams, ComencenOnEsTrobaElDescriptor) {
  std::mt19937 g(5);
  Transductor t;
  CarregaOFalla(t, prova::Bytes(prova::DiccionariAtzar(g)));
  const std::string abans = prova::TextAtzar(g, 300);
  const std::string text = prova::TextAtzar(g, 700);
  ParametresTrams p;
  p.mida = 16;
  EXPECT_EQ(AnalitzaEnProces(t, text, 0, 0, 0, true).text,
            AnalitzaEnTramsProva(t, text, 0, 0, 0, p, abans).text);
}

// --- Whole runs: a file read in trams against the same bytes piped ---

std::string Llegeix(const std::string& cami) {
  std::ifstream f(cami, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// Runs the program on `text` from a file and from a pipe, with `args`
// after the program's name; both must agree in every byte and the status.
// Returns the file run.
Resultat IgualEnFitxerIEnCanonada(const std::vector<std::string>& args,
                                  const std::string& text,
                                  const std::string& nom) {
  std::vector<std::string> tots = {ETIQUEM_BIN};
  tots.insert(tots.end(), args.begin(), args.end());
  const std::string fitxer = prova::EscriuFitxer(text, nom);
  prova::OpcionsExecucio op;
  op.segons = 120;
  const Resultat f = prova::ExecutaAmbFitxer(tots, fitxer, op);
  const Resultat c = prova::Executa(tots, text, op);
  EXPECT_EQ(f.estat, c.estat) << f.errors;
  EXPECT_EQ(f.errors, c.errors);
  EXPECT_TRUE(f.sortida == c.sortida)
      << "outputs of " << f.sortida.size() << " and " << c.sortida.size()
      << " bytes differ";
  return f;
}

constexpr char kDoble[] = R"(alfabet ab
estat 0
  fi
  a a 0
  a b 0
)";

// Every 'a' doubles the paths: a long run of them stops the program with
// the live-state message. Wherever it falls against the trams (the first
// tram is 64 KiB), what was written before it and the message are those of
// the sequential loop.
TEST(TramsPrograma, LaFallaEsLaMateixaOnSigui) {
  const std::string bin = prova::EscriuFitxer(prova::Bytes(kDoble), "doble.bin");
  for (size_t lloc : {size_t(1000), size_t(65530), size_t(65536),
                      size_t(65540), size_t(200000)}) {
    std::string text;
    while (text.size() < lloc) text += "b b ";
    text.resize(lloc);
    text += std::string(64, 'a') + "\n";
    while (text.size() < 400000) text += "b b ";
    const Resultat r =
        IgualEnFitxerIEnCanonada({"-b", bin}, text, "doble.txt");
    EXPECT_EQ(r.estat, 1) << lloc;
    EXPECT_EQ(r.errors,
              "Error: No queda memoria para crear nuevos estados vivos\n");
  }
}

// A run of 'a' inside a superblank is never analysed; but a tram that
// starts inside the superblank does not know it, and its own run fails.
// That run is given up: the output is whole and the status 0.
TEST(TramsPrograma, UnaFallaQueNoEsDeLEntradaNoCompta) {
  const std::string bin = prova::EscriuFitxer(prova::Bytes(kDoble), "doble.bin");
  std::string text;
  while (text.size() < 65000) text += "b b ";
  text += "<![CDATA[" + std::string(2000, 'a') + "]]>";
  while (text.size() < 300000) text += "b b ";
  const Resultat r = IgualEnFitxerIEnCanonada({"-b", bin}, text, "doble.txt");
  EXPECT_EQ(r.estat, 0) << r.errors;
  EXPECT_EQ(r.sortida.size(), text.size());
}

// A superblank longer than several trams.
TEST(TramsPrograma, SuperblancMesLlargQueDiversosTrams) {
  const std::string bin = prova::EscriuFitxer(prova::Bytes(kDoble), "doble.bin");
  std::string text = "b b <![CDATA[";
  while (text.size() < 500000) text += "a b ]] > <![CDATA[ ";
  text += "]]> b b b\n";
  const Resultat r = IgualEnFitxerIEnCanonada({"-b", bin}, text, "sb.txt");
  EXPECT_EQ(r.estat, 0) << r.errors;
}

// The shared corpora, with every option, from a file (in trams) and piped.
TEST(TramsPrograma, Corpus) {
  const std::string shared = ETIQUEM_SHARED;
  struct Cas {
    std::string bin, text;
    size_t maxim;
  } casos[] = {
      {"/lexicon/ca.bin", "/corpus/ca-sb.txt", size_t(1) << 21},
      {"/lexicon/es.bin", "/corpus/es.txt", size_t(1) << 20},
  };
  int fets = 0;
  for (const Cas& cas : casos) {
    const std::string bin = shared + cas.bin;
    const std::string corpus = shared + cas.text;
    if (access(bin.c_str(), R_OK) != 0 || access(corpus.c_str(), R_OK) != 0)
      continue;
    std::string text = Llegeix(corpus);
    if (text.size() > cas.maxim) text.resize(cas.maxim);
    const std::string d1 = prova::EscriuFitxer("", "desc-fitxer.txt");
    const std::string d2 = prova::EscriuFitxer("", "desc-canonada.txt");
    const std::string fitxer = prova::EscriuFitxer(text, "corpus.txt");
    prova::OpcionsExecucio op;
    op.segons = 300;
    const Resultat f = prova::Executa(
        {ETIQUEM_BIN, "-s", "-m", "-a", "-d", d1, "-b", bin, "-f", fitxer},
        "", op);
    const Resultat c = prova::Executa(
        {ETIQUEM_BIN, "-s", "-m", "-a", "-d", d2, "-b", bin}, text, op);
    ASSERT_EQ(f.estat, 0) << f.errors;
    ASSERT_EQ(c.estat, 0) << c.errors;
    EXPECT_TRUE(f.sortida == c.sortida) << cas.text;
    EXPECT_GT(f.sortida.size(), text.size());
    const std::string u1 = Llegeix(d1), u2 = Llegeix(d2);
    EXPECT_TRUE(u1 == u2) << cas.text;
    IgualEnFitxerIEnCanonada({"-b", bin}, text, "corpus2.txt");
    ++fets;
  }
  if (fets == 0) GTEST_SKIP() << "no shared lexicons or corpora";
}

// Standard input already partly read by someone else: the program reads
// from where the descriptor stands.
TEST(TramsPrograma, EntradaJaComencada) {
  const std::string bin = prova::EscriuFitxer(prova::Bytes(kDoble), "doble.bin");
  std::string text;
  while (text.size() < 300000) text += "b ab b aab ";
  const std::string fitxer = prova::EscriuFitxer(text, "comencada.txt");
  const Resultat f = prova::ExecutaAmbFitxer(
      {"/bin/sh", "-c",
       "dd bs=1001 count=1 of=/dev/null 2>/dev/null; exec " +
           std::string(ETIQUEM_BIN) + " -b " + bin},
      fitxer);
  const Resultat c = prova::Executa({ETIQUEM_BIN, "-b", bin}, text.substr(1001));
  ASSERT_EQ(f.estat, 0) << f.errors;
  EXPECT_TRUE(f.sortida == c.sortida);
}

}  // namespace
}  // namespace etiquem
