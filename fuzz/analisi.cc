// Fuzz target: the whole analysis, in process, from text to output bytes.
//
// The input holds three things. Its first byte gives the options (-s, -d,
// -a, -m) and the read block size. The next bytes describe a small
// transducer (up to eight states over a pool of awkward symbols: upper-case
// letters, apostrophe, blank, "<", bytes 0, 1 and 255, Latin-1 letters; output
// symbols that include defines, 0, 48, 256 and 257), which the test helper
// writes as an automaton file and the loader reads back. The rest is the
// text, fed through a memfd; the output and the unknown-words file gather in
// two more.
//
// A run must never go past the live-state bounds, which end the program by
// design: before running, the number of live paths that the text could make
// is bounded from above (counting every attempt from every start at once),
// and inputs that could come near the bounds are skipped.
//
// Checked on every run: the analysis in trams on several threads writes the
// same bytes; every superblank comes out whole and in input order.
// With a transducer that accepts nothing, or whose only readings are
// unknown-word readings (without -s and -m, and with no path that reads a
// superblank's marker as a blank), the output equals the input byte for
// byte, with the "]]>" that closes a superblank left open at the end.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automat_prova.h"
#include "automaton/automat.h"
#include "comu.h"
#include "driver/analisis.h"
#include "driver/trams.h"
#include "input/escaner.h"
#include "input/lector.h"
#include "output/sortida.h"

namespace {

using etiquem::Transductor;
using etiquem::fuzz::Falla;
using etiquem::prova::AutomatProva;
using etiquem::prova::EstatProva;
using etiquem::prova::GrupProva;

// Input-side symbols a move can consume.
constexpr uint8_t kEntrades[16] = {'a',  'b',  'c',  'A', 'B', 0xe9, 0xc9, '\'',
                                   ' ',  '<',  0x00, 0x01, 0xff, '-', '.', '0'};
// Output-side symbols a move can write; 261 names no define (the loader
// refuses it where it can be followed).
constexpr int16_t kSortides[16] = {0,   'a', 'b', 'A', '<', '/', '0', 256,
                                   257, 258, 259, 260, '%', 0xe9, ' ', 261};
constexpr size_t kBlocs[8] = {1, 2, 3, 5, 9, 17, 64, 1 << 16};

// Reads the description bytes in order; past the end every byte is 0.
struct Lectura {
  const uint8_t* p;
  size_t n;
  size_t pos = 0;
  uint8_t Byte() { return pos < n ? p[pos++] : 0; }
};

AutomatProva Genera(Lectura& r, bool desordenat) {
  AutomatProva a;
  const int nestats = 1 + (r.Byte() & 7);
  const unsigned alfabet = unsigned(r.Byte()) | unsigned(r.Byte()) << 8;
  for (int i = 0; i < 16; ++i)
    if (alfabet >> i & 1) a.alfabet.push_back(char(kEntrades[i]));
  std::sort(a.alfabet.begin(), a.alfabet.end(),
            [](char x, char y) { return uint8_t(x) < uint8_t(y); });
  a.defines = {{"n", 258}, {"vblex", 259}, {"<%s>", 260}};
  for (int s = 0; s < nestats; ++s) {
    EstatProva e;
    e.estado = s;
    const uint8_t cap = r.Byte();
    const int ngrups = cap >> 3 & 3;
    const int neps = cap >> 5 & 3;
    for (int g = 0; g < ngrups; ++g) {
      const uint8_t b = r.Byte();
      GrupProva grup;
      grup.lo = kEntrades[b & 15];
      const int nmov = 1 + (b >> 4 & 1);
      for (int m = 0; m < nmov; ++m) {
        const uint8_t lm = r.Byte();
        grup.moviments.push_back({kSortides[lm & 15], r.Byte() % nestats});
      }
      e.trans.push_back(grup);
    }
    if (!desordenat) {
      std::stable_sort(e.trans.begin(), e.trans.end(),
                       [](const GrupProva& x, const GrupProva& y) {
                         return x.lo < y.lo;
                       });
      // One group per symbol, its moves in the order written.
      std::vector<GrupProva> unics;
      for (GrupProva& g : e.trans) {
        if (!unics.empty() && unics.back().lo == g.lo)
          unics.back().moviments.insert(unics.back().moviments.end(),
                                        g.moviments.begin(), g.moviments.end());
        else
          unics.push_back(g);
      }
      e.trans = unics;
    }
    // Markers: before the symbols (their place in a sorted list), or after
    // them in an unsorted one.
    std::vector<GrupProva> marques;
    if (cap & 1) marques.push_back({int16_t(etiquem::FIN_TRADUC), {{0, s}}});
    if (cap & 2) marques.push_back({int16_t(etiquem::FIN_PARCIAL), {{0, s}}});
    if (cap & 4) marques.push_back({int16_t(etiquem::FIN_DESCON), {{0, s}}});
    if (desordenat)
      e.trans.insert(e.trans.end(), marques.begin(), marques.end());
    else
      e.trans.insert(e.trans.begin(), marques.rbegin(), marques.rend());
    if (neps > 0) {
      GrupProva eps;
      for (int m = 0; m < neps; ++m) {
        const uint8_t lm = r.Byte();
        eps.moviments.push_back({kSortides[lm & 15], r.Byte() % nestats});
      }
      e.eps.push_back(eps);
      if (cap & 0x80) e.eps.push_back(eps);  // a second group, never followed
    }
    a.estats.push_back(e);
  }
  return a;
}

// What the analysis must stay within.
struct Fites {
  double vius;    // live states at once
  double nodes;   // output nodes of one attempt
  double llista;  // accepted outputs of one attempt
};

// Upper bounds of the live-state set over the text `codis` (one symbol per
// position: a byte, or 32 for a superblank): the sum over all attempts
// starting anywhere, of the paths alive at each position. The matcher's set
// of one attempt is never larger.
bool DinsFites(const Transductor& t, const std::vector<int>& codis,
               const Fites& f) {
  const size_t n = t.automat.size();
  std::vector<double> v(n, 0), nou(n, 0), tancat(n, 0), seg(n, 0);
  std::vector<double> finestra;  // per position: live paths, accepted outputs
  std::vector<double> acc_finestra;
  double suma_vius = 0, suma_acc = 0;
  for (size_t i = 0; i < codis.size(); ++i) {
    const int c = codis[i];
    v[0] += 1;  // an attempt may start here
    std::fill(nou.begin(), nou.end(), 0);
    for (size_t s = 0; s < n; ++s) {
      if (v[s] == 0) continue;
      const etiquem::Nodo& node = t.automat[s];
      if (node.ntrans <= 0) continue;
      for (int simbol : {c, c + 32}) {
        if (simbol == c + 32 && !etiquem::Mayus(c)) break;
        const int g = etiquem::BuscBin(node.trans, simbol, node.ntrans);
        if (g < 0) continue;
        for (int32_t m = 0; m < node.trans[g].nstrans; ++m)
          nou[size_t(node.trans[g].strans[m].des)] += v[s];
      }
    }
    // The epsilon closure: no epsilon cycles (the loader refuses them), so n
    // rounds reach every chain.
    tancat = nou;
    for (size_t ronda = 0; ronda < n; ++ronda) {
      seg = nou;
      for (size_t s = 0; s < n; ++s) {
        const etiquem::Nodo& node = t.automat[s];
        if (tancat[s] == 0 || node.neps <= 0) continue;
        for (int32_t m = 0; m < node.eps[0].nstrans; ++m)
          seg[size_t(node.eps[0].strans[m].des)] += tancat[s];
      }
      tancat.swap(seg);
    }
    v.swap(tancat);
    double vius = 0, acc = 0;
    for (size_t s = 0; s < n; ++s) {
      vius += v[s];
      acc += v[s] * std::max(0, t.automat[s].nmarques);
    }
    if (vius > f.vius) return false;
    finestra.push_back(vius);
    acc_finestra.push_back(acc);
    suma_vius += vius;
    suma_acc += acc;
    if (finestra.size() > size_t(etiquem::kMaxPassos)) {
      suma_vius -= finestra[finestra.size() - 1 - etiquem::kMaxPassos];
      suma_acc -= acc_finestra[acc_finestra.size() - 1 - etiquem::kMaxPassos];
    }
    if (suma_vius > f.nodes || suma_acc > f.llista) return false;
  }
  return true;
}

int entrada = -1, sortida = -1, desconegudes = -1;
int sortida2 = -1, desconegudes2 = -1;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dades, size_t mida) {
  if (mida < 2) return 0;
  const uint8_t opcions = dades[0];
  const int s = opcions & 1, d = opcions >> 1 & 1, a = opcions >> 2 & 1,
            m = opcions >> 3 & 1;
  const size_t bloc = kBlocs[opcions >> 4 & 7];
  const bool desordenat = opcions >> 7;

  Lectura r{dades + 1, mida - 1};
  const AutomatProva descrit = Genera(r, desordenat);
  const std::string bytes = etiquem::prova::Bytes(descrit);
  auto t = std::make_unique<Transductor>();
  std::string error;
  if (!etiquem::GenautoDeMemoria(*t, "fuzz.bin",
                                 reinterpret_cast<const uint8_t*>(bytes.data()),
                                 bytes.size(), error))
    return 0;  // undefined output symbols or an epsilon cycle: refused
  const std::string_view text(reinterpret_cast<const char*>(dades) + 1 + r.pos,
                              mida - 1 - r.pos);

  // The text as the scanner cuts it: the symbols the matcher will see, the
  // superblanks, and the output expected where it must equal the input.
  const int fe = etiquem::fuzz::Memfd(entrada, "entrada");
  etiquem::fuzz::Posa(fe, text);
  std::vector<int> codis;
  std::vector<std::string> superblancs;
  std::string refet;
  {
    etiquem::Escaner e;
    etiquem::IniciaEscaner(e, fe, bloc);
    for (int tipus; (tipus = etiquem::yylex(e)) != etiquem::TOKEN_FINAL;) {
      if (tipus == etiquem::TOKEN_SUPERBLANC) {
        codis.push_back(32);
        superblancs.push_back(e.token.cadena);
        refet += e.token.cadena;
      } else {
        codis.push_back(e.token.caracter);
        refet.push_back(char(e.token.caracter));
      }
    }
  }
  // Far below the program's own bounds (so they are never met), and low
  // enough that no single input takes long: the bounds themselves are
  // exercised by the hostile-input tests.
  etiquem::Vius mostra;
  if (mostra.max_vius < (1u << 12) || mostra.max_nodes < (1u << 16) ||
      etiquem::Acceptacio{}.max_llista < (1u << 16))
    Falla("the live-state bounds are lower than this target assumes");
  if (!DinsFites(*t, codis, Fites{1 << 12, 1 << 16, 1 << 16})) return 0;

  const int fs = etiquem::fuzz::Memfd(sortida, "sortida");
  const int fd = etiquem::fuzz::Memfd(desconegudes, "desconegudes");
  etiquem::fuzz::Buida(fs);
  etiquem::fuzz::Buida(fd);
  etiquem::fuzz::Posa(fe, text);
  {
    etiquem::Sortida so;
    so.fd = fs;
    etiquem::Sortida sd;
    sd.fd = fd;
    auto e = std::make_unique<etiquem::Escaner>();
    etiquem::IniciaEscaner(*e, fe, bloc);
    e->abans_de_llegir = &so;
    auto l = std::make_unique<etiquem::Lector>();
    etiquem::IniciaLector(*l, e.get());
    auto an = std::make_unique<etiquem::Analisi>();
    etiquem::IniciaAnalisi(*an, t.get(), l.get(), &so, d ? &sd : nullptr);
    etiquem::Analisis(*an, s, d, a, m);
    etiquem::Buida(so);
    etiquem::Buida(sd);
  }
  const std::string obtingut = etiquem::fuzz::Contingut(fs);
  const std::string desc = etiquem::fuzz::Contingut(fd);

  // The same text in trams of a few bytes on two workers, joined: the same
  // bytes in both outputs.
  {
    const int fs2 = etiquem::fuzz::Memfd(sortida2, "sortida2");
    const int fd2 = etiquem::fuzz::Memfd(desconegudes2, "desconegudes2");
    etiquem::fuzz::Buida(fs2);
    etiquem::fuzz::Buida(fd2);
    etiquem::Sortida so;
    so.fd = fs2;
    etiquem::Sortida sd;
    sd.fd = fd2;
    etiquem::ParametresTrams p;
    p.mida = 1 + mida % 29;
    p.finestra = 1 + mida / 29 % 17;
    etiquem::AnalitzaEnTrams(t.get(), fe, 0, text.size(),
                             etiquem::OpcionsAnalisi{s, d, a, m}, p, so,
                             d ? &sd : nullptr);
    etiquem::Buida(so);
    etiquem::Buida(sd);
    if (etiquem::fuzz::Contingut(fs2) != obtingut)
      Falla("the analysis in trams wrote other bytes", obtingut,
            etiquem::fuzz::Contingut(fs2));
    if (etiquem::fuzz::Contingut(fd2) != desc)
      Falla("the analysis in trams wrote other unknown words", desc,
            etiquem::fuzz::Contingut(fd2));
  }

  size_t pos = 0;
  for (const std::string& sb : superblancs) {
    size_t on = obtingut.find(sb, pos);
    if (on == std::string::npos)
      Falla("a superblank lost or out of order", sb, obtingut);
    pos = on + sb.size();
  }
  if (!d && !desc.empty()) Falla("unknown words written without -d", "", desc);
  if (!desc.empty() && desc.back() != '\n')
    Falla("unknown-words file does not end with a line end", "", desc);

  int traduc = 0, parcial = 0, descon = 0, blancs = 0;
  for (const EstatProva& e : descrit.estats)
    for (const GrupProva& g : e.trans) {
      traduc += g.lo == etiquem::FIN_TRADUC;
      parcial += g.lo == etiquem::FIN_PARCIAL;
      descon += g.lo == etiquem::FIN_DESCON;
      blancs += g.lo == ' ';
    }
  const bool res = traduc + parcial + descon == 0;
  // An unknown word read through a superblank's marker (a path on the blank
  // it reads as) is written with a blank in the marker's place and the
  // superblank after it; then the output is not the input.
  const bool nomes_desc =
      traduc + parcial == 0 && !s && !m && (blancs == 0 || superblancs.empty());
  if ((res || nomes_desc) && obtingut != refet)
    Falla(res ? "output differs from the input (nothing accepted)"
              : "output differs from the input (unknown words only)",
          refet, obtingut);
  return 0;
}
