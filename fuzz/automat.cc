// Fuzz target: the automaton loader on arbitrary bytes.
//
// Every input is either refused with one line beginning "Error" or loaded
// into a model whose pointers stay inside its own storage. A loaded model is
// then looked up the way the matcher does (every byte on every state, every
// output symbol's define), so an inconsistent model shows up under the
// sanitizers here rather than in a run.

#include <cstddef>
#include <cstdint>
#include <string>

#include "automaton/automat.h"
#include "comu.h"

namespace {

using etiquem::Nodo;
using etiquem::Strans;
using etiquem::Trans;
using etiquem::Transductor;
using etiquem::fuzz::Falla;

bool Dins(const Trans* p, int32_t n, const Transductor& t) {
  if (n <= 0) return true;
  if (p == nullptr || t.grups.empty()) return false;
  const Trans* ini = t.grups.data();
  return p >= ini && p + n <= ini + t.grups.size();
}

bool Dins(const Strans* p, int32_t n, const Transductor& t) {
  if (n <= 0) return true;
  if (p == nullptr || t.moviments.empty()) return false;
  const Strans* ini = t.moviments.data();
  return p >= ini && p + n <= ini + t.moviments.size();
}

void ComprovaGrups(const Transductor& t, const Trans* g, int32_t n) {
  if (!Dins(g, n, t)) Falla("group list outside the model's storage");
  for (int32_t i = 0; i < n; ++i) {
    if (!Dins(g[i].strans, g[i].nstrans, t))
      Falla("move list outside the model's storage");
    for (int32_t j = 0; j < g[i].nstrans; ++j) {
      const int16_t lm = g[i].strans[j].lm;
      if (lm >= etiquem::PRIMER_DEFINE) (void)etiquem::CorrespDef(t, lm);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dades, size_t mida) {
  Transductor t;
  std::string error;
  if (!etiquem::GenautoDeMemoria(t, "fuzz.bin", dades, mida, error)) {
    etiquem::fuzz::ComprovaMissatge(error);
    if (error.back() != '\n') Falla("refusal without its line end", "", error);
    if (!t.automat.empty()) Falla("refused model keeps states");
    return 0;
  }
  if (t.nestats <= 0 || size_t(t.nestats) != t.automat.size())
    Falla("state count differs from the states loaded");
  if (t.longalf < 0 || size_t(t.longalf) != t.alfabeto.size())
    Falla("alphabet length differs from the alphabet");
  for (const Nodo& n : t.automat) {
    ComprovaGrups(t, n.trans, n.ntrans);
    ComprovaGrups(t, n.eps, n.neps);
    if (n.nmarques > 0 &&
        uint64_t(n.marques) + uint64_t(n.nmarques) > t.marques.size())
      Falla("marker list outside the model's storage");
  }
  // The lookups of a step, on a bounded number of states.
  const size_t estats = t.automat.size() < 64 ? t.automat.size() : 64;
  for (size_t s = 0; s < estats; ++s) {
    const Nodo& n = t.automat[s];
    for (int c = 0; c < 256; ++c) {
      int g = etiquem::BuscBin(n.trans, c, n.ntrans);
      if (g >= 0 && (g >= n.ntrans || n.trans[g].lo != c))
        Falla("BuscBin found a group that does not match");
      (void)etiquem::Noalfa(t, c);
    }
  }
  return 0;
}
