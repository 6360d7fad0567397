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
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

#include "analisi_prova.h"
#include "automat_prova.h"
#include "automaton/automat.h"
#include "driver/analisis.h"
#include "input/escaner.h"
#include "input/lector.h"
#include "output/sortida.h"
#include "proces.h"

namespace etiquem {
namespace {

using prova::Resultat;

// One dictionary entry: its surface, its lexical characters, its tags and
// the marker that ends its path.
struct Entrada {
  std::string superficie;
  std::string lexic;
  std::vector<std::string> etiquetes;
  int16_t marca = FIN_TRADUC;
};

struct Diccionari {
  std::string alfabet;
  std::vector<Entrada> entrades;
  std::string desconeguda;  // bytes of a looping unknown-word path
  bool desconeguda_accepta = true;  // false: the loop accepts nothing
};

std::string Fitxer(const Diccionari& d, const std::string& nom) {
  prova::AutomatProva a;
  std::string alf = d.alfabet;
  std::sort(alf.begin(), alf.end(),
            [](char x, char y) { return uint8_t(x) < uint8_t(y); });
  a.alfabet = alf;
  std::map<std::string, int32_t> codis;
  for (const Entrada& e : d.entrades)
    for (const std::string& t : e.etiquetes)
      if (!codis.count(t)) {
        int32_t c = 258 + int32_t(codis.size());
        codis[t] = c;
        a.defines.push_back({t, c});
      }
  // Moves per state and input symbol, groups sorted when written out.
  std::vector<std::map<int16_t, prova::GrupProva>> trans(1);
  std::vector<prova::GrupProva> eps(1);
  auto Nou = [&]() {
    trans.emplace_back();
    eps.emplace_back();
    return int32_t(trans.size() - 1);
  };
  auto Mou = [&](int32_t de, int16_t lo, int16_t lm, int32_t a_) {
    prova::GrupProva& g = trans[size_t(de)][lo];
    g.lo = lo;
    g.moviments.push_back({lm, a_});
  };
  for (const Entrada& e : d.entrades) {
    int32_t s = 0;
    for (size_t i = 0; i < e.superficie.size(); ++i) {
      int32_t n = Nou();
      int16_t lm = i < e.lexic.size() ? int16_t(uint8_t(e.lexic[i])) : 0;
      Mou(s, int16_t(uint8_t(e.superficie[i])), lm, n);
      s = n;
    }
    std::vector<int16_t> cua;
    for (size_t i = e.superficie.size(); i < e.lexic.size(); ++i)
      cua.push_back(int16_t(uint8_t(e.lexic[i])));
    for (const std::string& t : e.etiquetes) cua.push_back(int16_t(codis[t]));
    for (int16_t lm : cua) {
      int32_t n = Nou();
      eps[size_t(s)].moviments.push_back({lm, n});
      s = n;
    }
    Mou(s, e.marca, 0, s);
  }
  if (!d.desconeguda.empty()) {
    int32_t u = Nou();
    for (char c : d.desconeguda) {
      Mou(0, int16_t(uint8_t(c)), 0, u);
      Mou(u, int16_t(uint8_t(c)), 0, u);
    }
    if (d.desconeguda_accepta) Mou(u, FIN_DESCON, 0, u);
  }
  for (size_t i = 0; i < trans.size(); ++i) {
    prova::EstatProva e;
    e.estado = int32_t(i);
    if (!eps[i].moviments.empty()) e.eps.push_back(eps[i]);
    for (auto& [lo, g] : trans[i]) e.trans.push_back(g);
    a.estats.push_back(e);
  }
  return prova::EscriuFitxer(prova::Bytes(a), nom);
}

const char kLletres[] = "abcdefghijklmnopqrstuvwxyz";

// casa, casamiento, the full stop, and a few more.
const Diccionari& Casa() {
  static const Diccionari d{
      std::string(kLletres) + "'",
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
const Diccionari& CasaDesc() {
  static const Diccionari d{Casa().alfabet, Casa().entrades, kLletres};
  return d;
}

Resultat Corre(const Diccionari& d, const std::vector<std::string>& opcions,
               const std::string& entrada) {
  static std::map<const Diccionari*, std::string> fitxers;
  std::string& f = fitxers[&d];
  if (f.empty())
    f = Fitxer(d, "programa_" + std::to_string(fitxers.size()) + ".bin");
  std::vector<std::string> args = {ETIQUEM_BIN, "-b", f};
  args.insert(args.end(), opcions.begin(), opcions.end());
  return prova::Executa(args, entrada);
}

// Output of a run that must succeed silently.
std::string Surt(const Diccionari& d, const std::vector<std::string>& opcions,
                 const std::string& entrada) {
  Resultat r = Corre(d, opcions, entrada);
  EXPECT_EQ(r.estat, 0) << r.errors;
  EXPECT_EQ(r.errors, "");
  return r.sortida;
}
std::string Surt(const Diccionari& d, const std::string& entrada) {
  return Surt(d, {}, entrada);
}

std::string Llegeix(const std::string& cami) {
  std::ifstream f(cami, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// --- The analysis loop ---

TEST(Programa, CasaPunt) {
  EXPECT_EQ(Surt(Casa(), "casa."), "casa&n;/.&punt;/");
  EXPECT_EQ(Surt(Casa(), "casa.\n"), "casa&n;/.&punt;/\n");
  EXPECT_EQ(Surt(Casa(), {"-s"}, "casa."), "casa/casa&n;/./.&punt;/");
}

TEST(Programa, CasamAmbCasaICasamiento) {
  EXPECT_EQ(Surt(Casa(), "casam"), "casa&n;/m");
  EXPECT_EQ(Surt(Casa(), "casamiento"), "casamiento&n;/");
  EXPECT_EQ(Surt(Casa(), "casamiento\n"), "casamiento&n;/\n");
  EXPECT_EQ(Surt(Casa(), "casamient\n"), "casa&n;/mi&adj;/e&cnj;/nt\n");
}

TEST(Programa, Majuscules) {
  EXPECT_EQ(Surt(Casa(), "Casa CASA cASA\n"),
            "Casa&n;/ CASA&n;/ cASA&n;/\n");
  EXPECT_EQ(Surt(Casa(), "L'aigua\n"), "El&det;/aigua&n;/\n");
}

TEST(Programa, ParaulaSeguidaDUnBlanc) {
  EXPECT_EQ(Surt(Casa(), "casa casa\n"), "casa&n;/ casa&n;/\n");
  EXPECT_EQ(Surt(Casa(), "  casa  "), "  casa&n;/  ");
}

TEST(Programa, CaractersQueNoComencenCapCami) {
  const std::string t = "xyz 123 ,;:!? \t\r\n\xe7\xe0\n";
  EXPECT_EQ(Surt(Casa(), t), t);
}

TEST(Programa, EntradaBuida) {
  Resultat r = Corre(Casa(), {}, "");
  EXPECT_EQ(r.estat, 0);
  EXPECT_EQ(r.sortida, "");
  EXPECT_EQ(r.errors, "");
  r = Corre(Casa(), {"-s", "-m", "-a"}, "");
  EXPECT_EQ(r.sortida, "");
}

// Pieces of compound readings stand only at the end of a word.
TEST(Programa, PecesDavantDUnaLletraODAltre) {
  const Diccionari d{
      "abcx",
      {{"ab", "ab", {"p"}, FIN_PARCIAL},
       {"ab", "", {}, FIN_DESCON},
       {"abcd", "abcd", {"n"}}},
      ""};
  // Before a character that is not a letter the pieces stay.
  EXPECT_EQ(Surt(d, "ab.\n"), "ab&p;.\n");
  EXPECT_EQ(Surt(d, "ab"), "ab&p;");
  // Before a letter they are dropped; the unknown-word reading stays.
  EXPECT_EQ(Surt(d, "abx\n"), "abx\n");
  EXPECT_EQ(Surt(d, {"-m"}, "abx\n"), "<d>ab</d>x\n");
  EXPECT_EQ(Surt(d, {"-m"}, "abc\n"), "<d>ab</d>c\n");
  EXPECT_EQ(Surt(d, {"-m"}, "abcd ab\n"), "abcd&n;/ ab&p;\n");
  // With capitals, the one-shot capital.
  EXPECT_EQ(Surt(d, "Ab AB\n"), "Ab&p; AB&P;\n");
  // Repeated in one run, every time the same.
  std::string in, out;
  for (int i = 0; i < 3; ++i) {
    in += "ab.\nabx\nabc\nab\n";
    out += "ab&p;.\n<d>ab</d>x\n<d>ab</d>c\nab&p;\n";
  }
  EXPECT_EQ(Surt(d, {"-m"}, in), out);
}

// --- Options ---

TEST(Programa, OpcioS) {
  EXPECT_EQ(Surt(CasaDesc(), {"-s"}, "casa xyz, casam\n"),
            "casa/casa&n;/ xyz/xyz, casa/casa&n;/m/m\n");
}

TEST(Programa, OpcioM) {
  EXPECT_EQ(Surt(CasaDesc(), {"-m"}, "casa xyz, Xyz casam\n"),
            "casa&n;/ <d>xyz</d>, <d>Xyz</d> casa&n;/<d>m</d>\n");
  EXPECT_EQ(Surt(CasaDesc(), "casa xyz, Xyz casam\n"),
            "casa&n;/ xyz, Xyz casa&n;/m\n");
}

TEST(Programa, OpcioA) {
  EXPECT_EQ(Surt(Casa(), {"-a"}, "l'aigua\n"), "el&det;/ aigua&n;/\n");
  EXPECT_EQ(Surt(Casa(), "l'aigua\n"), "el&det;/aigua&n;/\n");
  EXPECT_EQ(Surt(Casa(), {"-a"}, "aigua casa\n"), "aigua&n;/ casa&n;/\n");
}

TEST(Programa, OpcioD) {
  const std::string f = prova::EscriuFitxer("", "desconegudes_d.txt");
  EXPECT_EQ(Surt(CasaDesc(), {"-d", f}, "xyz casa abc xyz casam\n"),
            "xyz casa&n;/ abc xyz casa&n;/m\n");
  EXPECT_EQ(Llegeix(f), "xyz\nabc\nxyz\nm\n");
  // Appended: what the file held stays.
  EXPECT_EQ(Surt(CasaDesc(), {"-d", f}, "casa qq"), "casa&n;/ qq");
  EXPECT_EQ(Llegeix(f), "xyz\nabc\nxyz\nm\nqq\n");
}

TEST(Programa, TotesLesOpcions) {
  const std::string f = prova::EscriuFitxer("vella\n", "desconegudes_tot.txt");
  EXPECT_EQ(Surt(CasaDesc(), {"-s", "-m", "-a", "-d", f},
                 "l'aigua xyz Casa\n"),
            "l'/el&det;/ aigua/aigua&n;/ xyz/<d>xyz</d> Casa/Casa&n;/\n");
  EXPECT_EQ(Llegeix(f), "vella\nxyz\n");
  EXPECT_EQ(Surt(CasaDesc(), {"-smad", f}, "qu'e"), "qu/<d>qu</d>'e/e&cnj;/");
  EXPECT_EQ(Llegeix(f), "vella\nxyz\nqu\n");
}

// --- Superblanks ---

const Diccionari& Multi() {
  static const Diccionari d{
      kLletres,
      {{"a", "a", {"pr"}},
       {"casa", "casa", {"n"}},
       {"a casa", "a_casa", {"adv"}},
       {"a casa nova", "a_casa_nova", {"adv"}},
       {"x", "x", {"s"}},
       {"x y z", "x_y_z", {"s"}}},
      ""};
  return d;
}

TEST(Programa, SuperblancEntreParaules) {
  EXPECT_EQ(Surt(Casa(), "casa<![CDATA[<b>]]>casa\n"),
            "casa&n;/<![CDATA[<b>]]>casa&n;/\n");
  EXPECT_EQ(Surt(Casa(), "casa <![CDATA[<b>]]> casa"),
            "casa&n;/ <![CDATA[<b>]]> casa&n;/");
}

TEST(Programa, SuperblancsEnganxats) {
  EXPECT_EQ(Surt(Casa(), "<![CDATA[a]]>casa.<![CDATA[b]]>"),
            "<![CDATA[a]]>casa&n;/.&punt;/<![CDATA[b]]>");
  EXPECT_EQ(Surt(Casa(), "<![CDATA[1]]><![CDATA[2]]>casa<![CDATA[3]]>"),
            "<![CDATA[1]]><![CDATA[2]]>casa&n;/<![CDATA[3]]>");
  EXPECT_EQ(Surt(Casa(), "<![CDATA[]]>"), "<![CDATA[]]>");
}

TEST(Programa, SuperblancDinsDUnTramDeDiversesParaules) {
  EXPECT_EQ(Surt(Multi(), "a<![CDATA[<i>]]>casa\n"),
            "a_casa&adv;/<![CDATA[<i>]]>\n");
  EXPECT_EQ(Surt(Multi(), {"-s"}, "a<![CDATA[<i>]]>casa\n"),
            "a casa/a_casa&adv;/<![CDATA[<i>]]>\n");
  EXPECT_EQ(Surt(Multi(), "a<![CDATA[<i>]]>casa"),
            "a_casa&adv;/<![CDATA[<i>]]>");
}

TEST(Programa, DosSuperblancsEnUnIntent) {
  EXPECT_EQ(Surt(Multi(), "a<![CDATA[1]]>casa<![CDATA[2]]>nova\n"),
            "a_casa_nova&adv;/<![CDATA[1]]><![CDATA[2]]>\n");
  // The attempt reads through both markers but writes a shorter stretch:
  // each superblank comes out at its own place.
  EXPECT_EQ(Surt(Multi(), "a<![CDATA[1]]>casa<![CDATA[2]]>nov\n"),
            "a_casa&adv;/<![CDATA[1]]><![CDATA[2]]>nov\n");
  EXPECT_EQ(Surt(Multi(), "a<![CDATA[1]]>cas<![CDATA[2]]>\n"),
            "a&pr;/<![CDATA[1]]>ca&pr;/s<![CDATA[2]]>\n");
}

TEST(Programa, SuperblancNoEsMouAbansDelTextQueElPrecedeix) {
  EXPECT_EQ(Surt(Multi(), "x y<![CDATA[S]]>w\n"), "x&s;/ y<![CDATA[S]]>w\n");
  EXPECT_EQ(Surt(Multi(), "x y<![CDATA[S]]>"), "x&s;/ y<![CDATA[S]]>");
}

TEST(Programa, SuperblancAmbPunt) {
  EXPECT_EQ(Surt(Casa(), "casa<![CDATA[.]]>casa\n"),
            "casa&n;/<![CDATA[.]]>casa&n;/\n");
  EXPECT_EQ(Surt(Casa(), "<![CDATA[x<![CDATA[.]]>y]]>casa"),
            "<![CDATA[x<![CDATA[.]]>y]]>casa&n;/");
}

// --- The ring and long attempts ---

TEST(Programa, EntradaLlargaDonaLaVoltaAlRing) {
  // 60 words of 5 characters: the 52nd word starts at position 256.
  std::string in, out;
  for (int i = 0; i < 60; ++i) {
    in += "casa ";
    out += "casa&n;/ ";
  }
  EXPECT_EQ(Surt(Casa(), in), out);
  // Shifted by every offset, with longer words and unknown words.
  for (int despl = 0; despl < 12; ++despl) {
    std::string in2(size_t(despl), ',');
    std::string out2 = in2;
    for (int i = 0; i < 40; ++i) {
      in2 += "casamiento qwerty casam.";
      out2 += "casamiento&n;/ <d>qwerty</d> casa&n;/<d>m</d>.&punt;/";
    }
    EXPECT_EQ(Surt(CasaDesc(), {"-m"}, in2), out2) << despl;
  }
}

TEST(Programa, IntentDeMesDe254Caracters) {
  const std::string f = prova::EscriuFitxer("", "desconegudes_llarg.txt");
  const std::string a300(300, 'q');
  EXPECT_EQ(Surt(CasaDesc(), {"-m", "-d", f}, a300 + "\n"),
            "<d>" + a300.substr(0, 254) + "</d><d>" + a300.substr(0, 46) +
                "</d>\n");
  EXPECT_EQ(Llegeix(f), a300.substr(0, 254) + "\n" + a300.substr(0, 46) + "\n");
  // Exactly 254 and 255, ending the input.
  EXPECT_EQ(Surt(CasaDesc(), {"-m"}, std::string(254, 'q')),
            "<d>" + std::string(254, 'q') + "</d>");
  EXPECT_EQ(Surt(CasaDesc(), {"-m"}, std::string(255, 'q')),
            "<d>" + std::string(254, 'q') + "</d><d>q</d>");
  // A known word inside the long unknown stretch.
  EXPECT_EQ(Surt(CasaDesc(), {"-m"}, std::string(252, 'q') + "casa\n"),
            "<d>" + std::string(252, 'q') + "ca</d><d>sa</d>\n");
}

TEST(Programa, FinalDeLEntrada) {
  // 0, 1, 2 and more characters after the longest match.
  EXPECT_EQ(Surt(Casa(), "casa"), "casa&n;/");
  EXPECT_EQ(Surt(Casa(), "casam"), "casa&n;/m");
  EXPECT_EQ(Surt(Casa(), "casami"), "casa&n;/mi&adj;/");
  EXPECT_EQ(Surt(Casa(), "casamie"), "casa&n;/mi&adj;/e&cnj;/");
  EXPECT_EQ(Surt(Casa(), "casamien"), "casa&n;/mi&adj;/e&cnj;/n");
  EXPECT_EQ(Surt(Casa(), "casamient"), "casa&n;/mi&adj;/e&cnj;/nt");
  EXPECT_EQ(Surt(Casa(), "casamcasam"), "casa&n;/mcasa&n;/m");
  // Nothing accepted in the attempt the input ends.
  EXPECT_EQ(Surt(Casa(), "cas"), "cas");
  EXPECT_EQ(Surt(Casa(), "x c"), "x c");
  EXPECT_EQ(Surt(CasaDesc(), {"-m"}, "casamx"), "casa&n;/<d>mx</d>");
  EXPECT_EQ(Surt(CasaDesc(), {"-m"}, "x"), "<d>x</d>");
}

// --- Invariants: no text is lost, duplicated or moved ---

// Random text: bytes of every value, superblanks, long lines, with or
// without a final line end.
std::string Aleatori(std::mt19937& g, size_t mida) {
  std::string s;
  std::uniform_int_distribution<int> tipus(0, 9), byte(0, 255), lletra(0, 25),
      llarg(1, 40);
  while (s.size() < mida) {
    switch (tipus(g)) {
      case 0: {
        std::string cos;
        for (int i = llarg(g); i > 0; --i) {
          char c = char(byte(g));
          cos += c == ']' ? 'x' : c;
        }
        s += "<![CDATA[" + cos + "]]>";
        break;
      }
      case 1:
        s += std::string(size_t(llarg(g)) * 15, char('a' + lletra(g)));
        break;
      case 2:
        s += '\n';
        break;
      case 3:
        s += std::string("\0\x01\xff", 3);
        break;
      case 4:
      case 5:
        for (int i = llarg(g); i > 0; --i) s += char(byte(g));
        break;
      default:
        for (int i = llarg(g) / 4 + 1; i > 0; --i) s += char('a' + lletra(g));
        s += ' ';
    }
  }
  if (tipus(g) < 5) s += '\n';
  return s;
}

std::string Tots(bool amb_blanc) {
  std::string s;
  for (int c = 0; c < 256; ++c)
    if (!Mayus(c) && (amb_blanc || c != ' ')) s += char(c);
  return s;
}

TEST(Programa, AutomatQueNoAcceptaResDeixaLEntradaIgual) {
  // Paths over every byte, the blank included, that never accept: every
  // attempt runs as far as it can and then writes its first character.
  Diccionari d{kLletres, {{"ab c", "x", {}}}, Tots(true)};
  d.desconeguda_accepta = false;
  d.entrades[0].marca = -5;  // no marker: the path accepts nothing
  std::mt19937 g(7);
  for (int i = 0; i < 3; ++i) {
    const std::string in = Aleatori(g, 1000);
    ASSERT_EQ(Surt(d, {"-s", "-m"}, in), in) << i;
  }
}

TEST(Programa, NomesDesconegudesDeixaLEntradaIgual) {
  const Diccionari d{kLletres, {}, Tots(false)};
  std::mt19937 g(11);
  for (int i = 0; i < 8; ++i) {
    const std::string in = Aleatori(g, 3000);
    ASSERT_EQ(Surt(d, {"-a"}, in), in) << i;
  }
}

// Random text of words, checked against the rule of the longest match:
// a known word gives its reading, an unknown run of letters its unknown-word
// reading, 254 letters at most at a time.
TEST(Programa, TextAleatoriAmbParaulesConegudesIDesconegudes) {
  std::mt19937 g(3);
  const std::vector<std::pair<std::string, std::string>> paraules = {
      {"casa", "casa&n;/"},         {"Casa", "Casa&n;/"},
      {"casamiento", "casamiento&n;/"}, {".", ".&punt;/"},
      {"aigua", "aigua&n;/"},       {"AIGUA", "AIGUA&n;/"}};
  std::uniform_int_distribution<int> tria(0, 9), lletra(0, 5), llarg(1, 12);
  for (int prova_n = 0; prova_n < 4; ++prova_n) {
    std::string in, out;
    while (in.size() < 4000) {
      int t = tria(g);
      if (t < 5) {
        const auto& [w, r] = paraules[size_t(t) % paraules.size()];
        in += w;
        out += r;
      } else if (t < 8) {
        std::string w;
        for (int i = llarg(g) * (t == 7 ? 30 : 1); i > 0; --i)
          w += "bdfghj"[lletra(g)];
        in += w;
        for (size_t i = 0; i < w.size(); i += 254)
          out += "<d>" + w.substr(i, 254) + "</d>";
      } else if (t == 8) {
        in += "<![CDATA[<p class=\"x\">]]>";
        out += "<![CDATA[<p class=\"x\">]]>";
        continue;
      }
      const char* seps[] = {" ", "\n", ", "};
      const char* sep = seps[tria(g) % 3];
      in += sep;
      out += sep;
    }
    ASSERT_EQ(Surt(CasaDesc(), {"-m"}, in), out) << prova_n;
  }
}

// --- Repeated attempts answered from memory ---

// What a run in this process writes (output, unknown words), with or without
// the memory of finished attempts, the memory bounded to `max_nodes`.
std::pair<std::string, std::string> EnProces(const std::string& bin,
                                             const std::string& entrada,
                                             bool memoria, size_t max_nodes,
                                             int s, int a, int m) {
  auto t = std::make_unique<Transductor>();
  Inicio(*t);
  std::string error;
  int estat = 0;
  EXPECT_TRUE(Genauto(*t, bin.c_str(), error, estat)) << error;
  const prova::Sortides r = prova::AnalitzaEnProces(*t, Llegeix(entrada), s,
                                                     a, m, memoria, max_nodes);
  return {r.text, r.desconegudes};
}

TEST(Programa, LaMemoriaDIntentsNoCanviaRes) {
  // Random text with pieces, unknown words, capitals and superblanks.
  const Diccionari d{
      std::string(kLletres) + "'",
      {{"ab", "ab", {"p"}, FIN_PARCIAL},
       {"abcd", "abcd", {"n"}},
       {"casa", "casa", {"n"}},
       {"casamiento", "casamiento", {"n"}},
       {"l'", "el", {"det"}},
       {"a casa", "a_casa", {"adv"}}},
      "abcdefghijklmnopqrst"};
  const std::string bin = Fitxer(d, "programa_memoria.bin");
  std::mt19937 g(5);
  const char* trossos[] = {"ab", "abc", "abcd", "Ab", "AB", "casa", "Casa",
                           "casam", "l'", "L'", "a casa", "a",
                           "<![CDATA[x]]>", " ", "\n", ".", "'", "zz",
                           "qrst", "xyz"};
  std::uniform_int_distribution<int> tria(0, 19);
  std::string text;
  while (text.size() < 6000) text += trossos[tria(g)];
  const std::string entrada = prova::EscriuFitxer(text, "memoria.txt");
  for (int opcions = 0; opcions < 8; ++opcions) {
    const int s = opcions & 1, a = (opcions >> 1) & 1, m = (opcions >> 2) & 1;
    SCOPED_TRACE(opcions);
    const auto sense = EnProces(bin, entrada, false, 1 << 18, s, a, m);
    EXPECT_EQ(EnProces(bin, entrada, true, 1 << 18, s, a, m), sense);
    // A small memory, emptied again and again.
    EXPECT_EQ(EnProces(bin, entrada, true, 40, s, a, m), sense);
  }
}

TEST(Programa, LaMemoriaDIntentsNoCanviaResAlCorpus) {
  const std::string shared = ETIQUEM_SHARED;
  const std::string bin = shared + "/lexicon/ca.bin";
  if (access(bin.c_str(), R_OK) != 0) GTEST_SKIP() << "no shared lexicon";
  for (const char* nom : {"/corpus/ca-sb.txt", "/corpus/ca.txt"}) {
    std::string text = Llegeix(shared + nom);
    if (text.empty()) continue;
    text.resize(std::min(text.size(), size_t(100000)));
    const std::string entrada = prova::EscriuFitxer(text, "memoria_corpus.txt");
    const auto sense = EnProces(bin, entrada, false, 1 << 18, 1, 1, 1);
    EXPECT_EQ(EnProces(bin, entrada, true, 1 << 18, 1, 1, 1), sense) << nom;
    EXPECT_EQ(EnProces(bin, entrada, true, 500, 1, 1, 1), sense) << nom;
  }
}

// --- Streaming ---

// Reads from `fd` until `buf` ends with `final` or the time is over.
bool LlegeixFins(int fd, std::string& buf, const std::string& final,
                 int ms) {
  auto fi = std::chrono::steady_clock::now() +
            std::chrono::milliseconds(ms);
  while (buf.size() < final.size() ||
         buf.compare(buf.size() - final.size(), final.size(), final) != 0) {
    int resta = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                        fi - std::chrono::steady_clock::now())
                        .count());
    if (resta <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, resta) <= 0) return false;
    char b[4096];
    ssize_t n = read(fd, b, sizeof b);
    if (n <= 0) return false;
    buf.append(b, size_t(n));
  }
  return true;
}

TEST(Programa, LaSortidaSegueixLEntradaEnUnaCanonada) {
  const std::string bin = Fitxer(Casa(), "programa_canonada.bin");
  int in[2], out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  signal(SIGPIPE, SIG_IGN);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[0]);
    close(in[1]);
    close(out[0]);
    close(out[1]);
    execl(ETIQUEM_BIN, ETIQUEM_BIN, "-b", bin.c_str(), (char*)nullptr);
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  const std::vector<std::pair<std::string, std::string>> linies = {
      {"casa\n", "casa&n;/\n"},
      {"Casa casa.\n", "Casa&n;/ casa&n;/.&punt;/\n"},
      {"x<![CDATA[.]]>casa\n", "x<![CDATA[.]]>casa&n;/\n"},
      {"casa", "casa"},  // the word may still go on: nothing yet
  };
  std::string rebut, esperat;
  for (const auto& [l, s] : linies) {
    ASSERT_EQ(write(in[1], l.data(), l.size()), ssize_t(l.size()));
    if (l == "casa") break;
    esperat += s;
    EXPECT_TRUE(LlegeixFins(out[0], rebut, s, 10000))
        << "after writing " << l << " got " << rebut;
    EXPECT_EQ(rebut, esperat);
  }
  close(in[1]);
  esperat += "casa&n;/";
  EXPECT_TRUE(LlegeixFins(out[0], rebut, "casa&n;/", 10000));
  EXPECT_EQ(rebut, esperat);
  close(out[0]);
  int estat = 0;
  ASSERT_EQ(waitpid(pid, &estat, 0), pid);
  EXPECT_TRUE(WIFEXITED(estat));
  EXPECT_EQ(WEXITSTATUS(estat), 0);
}

// --- A real dictionary over real text ---

TEST(Programa, CorpusCatala) {
  const std::string shared = ETIQUEM_SHARED;
  const std::string bin = shared + "/lexicon/ca.bin";
  const std::string corpus = shared + "/corpus/ca.txt";
  if (access(bin.c_str(), R_OK) != 0 || access(corpus.c_str(), R_OK) != 0)
    GTEST_SKIP() << "no shared Catalan lexicon or corpus";
#if defined(__SANITIZE_ADDRESS__)
  const size_t limit = size_t(1) << 20;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  const size_t limit = size_t(1) << 20;
#else
  const size_t limit = size_t(8) << 20;
#endif
#else
  const size_t limit = size_t(8) << 20;
#endif
  std::string text = Llegeix(corpus);
  ASSERT_FALSE(text.empty());
  if (text.size() > limit) text.resize(text.rfind('\n', limit) + 1);
  const std::string entrada = prova::EscriuFitxer(text, "corpus_ca.txt");
  prova::OpcionsExecucio op;
  op.segons = 120;
  Resultat r = prova::ExecutaAmbFitxer({ETIQUEM_BIN, "-b", bin}, entrada, op);
  ASSERT_EQ(r.estat, 0) << r.errors;
  EXPECT_EQ(r.errors, "");
  // Line ends are no word characters: every one is written as itself.
  EXPECT_EQ(std::count(r.sortida.begin(), r.sortida.end(), '\n'),
            std::count(text.begin(), text.end(), '\n'));
  EXPECT_NE(r.sortida.find(" de&nf;/ "), std::string::npos);
  EXPECT_NE(r.sortida.find("aigua&nf;/"), std::string::npos);
  EXPECT_NE(r.sortida.find("casa&nf;/casar&fl00;/"), std::string::npos);
  EXPECT_GT(r.sortida.size(), text.size() * 2);
  // The first line, analysed alone, comes out as the start of the whole run.
  const std::string primera = text.substr(0, text.find('\n') + 1);
  Resultat u = prova::Executa({ETIQUEM_BIN, "-b", bin}, primera);
  EXPECT_EQ(r.sortida.compare(0, u.sortida.size(), u.sortida), 0);
}

}  // namespace
}  // namespace etiquem
