// The live-state set; see vius.h.

#include "matching/vius.h"

#include <string>

namespace etiquem {

namespace {

[[noreturn]] void SenseMemoria(Vius& v) {
  Acaba(1, "Error: No queda memoria para crear nuevos estados vivos\n",
        v.sortida, v.desconegudes);
}

[[noreturn]] void DestiInexistent(Vius& v, int32_t des) {
  std::string m = "Error: L'estat dest\xed " + std::to_string(des) +
                  " no existeix a l'automat (automat mal constru\xeft)\n";
  Acaba(255, m, v.sortida, v.desconegudes);
}

// Appends to `llista` one live state per move of `g`, from output `node`.
// In a step an lm of 0 writes nothing; in the closure an lm of 48 does not
// either (and 0 appends nothing there too). An output already holding
// kMaxSimbols symbols drops the symbol. Sizes are counted here rather than
// asked of the vectors at every move: this runs for every move followed.
inline void Segueix(Vius& v, std::vector<EstViu>& llista, const Trans& g,
                    uint32_t node, bool epsilon) {
  const int32_t n = g.nstrans;
  const uint32_t llarg = v.nodes[node].longitud;
  size_t vius = llista.size();
  size_t nodes = v.nodes.size();
  const bool comprova = !v.t->destins_valids;
  for (int32_t i = 0; i < n; ++i) {
    const Strans m = g.strans[i];
    if (vius++ >= v.max_vius) SenseMemoria(v);
    if (comprova && (m.des < 0 || m.des >= v.t->nestats))
      DestiInexistent(v, m.des);
    uint32_t sortida = node;
    if (m.lm != 0 && !(epsilon && m.lm == 48) && llarg < kMaxSimbols) {
      if (nodes >= v.max_nodes) SenseMemoria(v);
      v.nodes.push_back(NodeSortida{node, m.lm, llarg + 1});
      sortida = uint32_t(nodes++);
    }
    llista.push_back(EstViu{m.des, sortida});
  }
}

}  // namespace

void IniciaVius(Vius& v, const Transductor* t) {
  v.t = t;
  v.vius.clear();
  v.nous.clear();
  v.nodes.clear();
  v.nodes.push_back(NodeSortida{0, 0, 0});
}

void Inicialitzacio(Vius& v) {
  v.nodes.resize(1);
  v.vius.clear();
  v.vius.push_back(EstViu{0, 0});
}

int ComprobarEstatsVius(Vius& v, int c) {
  const int majuscula = Mayus(c);
  int flag = 0;
  v.nous.clear();
  for (const EstViu& s : v.vius) {
    const Nodo& n = v.t->automat[size_t(s.estat)];
    flag = majuscula;
    if (n.ntrans <= 0) continue;
    int g = GrupDe(n, c);
    if (g >= 0) Segueix(v, v.nous, n.trans[g], s.traduc, false);
    if (majuscula) {
      g = GrupDe(n, c + 32);
      if (g >= 0) Segueix(v, v.nous, n.trans[g], s.traduc, false);
    }
  }
  v.vius.swap(v.nous);
  return flag;
}

int ComprobarEstatsNous(Vius& v) {
  // The list grows while it is walked: new states are visited in the same
  // pass, which makes the closure transitive. Indices stay valid across
  // growth where references would not.
  for (size_t i = 0; i < v.vius.size(); ++i) {
    const EstViu s = v.vius[i];
    const Nodo& n = v.t->automat[size_t(s.estat)];
    if (n.neps > 0) Segueix(v, v.vius, n.eps[0], s.traduc, true);
  }
  return int(v.vius.size());
}

int Simbols(const Vius& v, uint32_t node, int32_t* simbols) {
  const int n = int(v.nodes[node].longitud);
  for (int i = n - 1; i >= 0; --i) {
    simbols[i] = v.nodes[node].simbol;
    node = v.nodes[node].pare;
  }
  return n;
}

}  // namespace etiquem
