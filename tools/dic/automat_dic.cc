// Writer, checks, minimiser and guesser for the compiler's transducer.

#include "dic/automat_dic.h"

#include <algorithm>
#include <unordered_map>

#include "automaton/automat.h"
#include "dic/codificacio.h"

namespace etiquem::dic {
namespace {

void Int32(std::string& s, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  for (int k = 0; k < 4; ++k) s.push_back(static_cast<char>((u >> (8 * k)) & 0xFF));
}

void Int16(std::string& s, int32_t v) {
  const uint16_t u = static_cast<uint16_t>(v);
  s.push_back(static_cast<char>(u & 0xFF));
  s.push_back(static_cast<char>(u >> 8));
}

// One group: `lo`, then the entries (lm, des).
void Grup(std::string& s, int32_t lo,
          const std::vector<const MovimentDic*>& moviments) {
  Int16(s, lo);
  Int32(s, static_cast<int32_t>(moviments.size()));
  for (const MovimentDic* m : moviments) {
    Int16(s, m->lm);
    Int32(s, m->des);
  }
}

void Estat(std::string& s, int32_t index, const EstatDic& e) {
  std::vector<const MovimentDic*> eps;
  std::vector<const MovimentDic*> cons;
  for (const MovimentDic& m : e.moviments)
    (m.lo == kEpsilon ? eps : cons).push_back(&m);
  std::stable_sort(cons.begin(), cons.end(),
                   [](const MovimentDic* a, const MovimentDic* b) {
                     return a->lo < b->lo;
                   });
  Int32(s, index);
  Int16(s, eps.empty() ? 0 : 1);
  if (!eps.empty()) {
    Int32(s, 1);
    Grup(s, 0, eps);
  }
  // Markers first: their codes are negative and groups go by signed `lo`.
  static const std::pair<Marca, int32_t> kMarques[] = {
      {kMarcaDescon, FIN_DESCON},
      {kMarcaParcial, FIN_PARCIAL},
      {kMarcaTraduc, FIN_TRADUC}};
  int32_t grups = 0;
  for (const auto& [bit, lo] : kMarques) grups += (e.marques & bit) ? 1 : 0;
  for (size_t i = 0; i < cons.size(); ++i)
    grups += (i == 0 || cons[i]->lo != cons[i - 1]->lo) ? 1 : 0;
  Int32(s, grups);
  const MovimentDic dummy{0, 0, index};
  for (const auto& [bit, lo] : kMarques)
    if (e.marques & bit) Grup(s, lo, {&dummy});
  for (size_t i = 0; i < cons.size();) {
    size_t j = i;
    while (j < cons.size() && cons[j]->lo == cons[i]->lo) ++j;
    Grup(s, cons[i]->lo, {cons.begin() + i, cons.begin() + j});
    i = j;
  }
}

}  // namespace

bool CicleEpsilon(const AutomatDic& a, int32_t& estat) {
  // Iterative depth-first search, so long chains do not exhaust the stack.
  const size_t n = a.estats.size();
  std::vector<uint8_t> color(n, 0);  // 0 unseen, 1 on the path, 2 done
  std::vector<std::pair<size_t, size_t>> pila;  // (state, next move)
  for (size_t arrel = 0; arrel < n; ++arrel) {
    if (color[arrel]) continue;
    color[arrel] = 1;
    pila.push_back({arrel, 0});
    while (!pila.empty()) {
      auto& [e, seguent] = pila.back();
      const auto& ms = a.estats[e].moviments;
      while (seguent < ms.size() && ms[seguent].lo != kEpsilon) ++seguent;
      if (seguent == ms.size()) {
        color[e] = 2;
        pila.pop_back();
        continue;
      }
      const size_t des = size_t(ms[seguent++].des);
      if (des >= n) continue;  // reported by Comprova
      if (color[des] == 1) {
        estat = int32_t(des);
        return true;
      }
      if (color[des] == 0) {
        color[des] = 1;
        pila.push_back({des, 0});
      }
    }
  }
  return false;
}

bool Comprova(const AutomatDic& a, std::string& que) {
  const size_t n = a.estats.size();
  if (n == 0) {
    que = "the transducer has no states";
    return false;
  }
  if (a.defines.size() > size_t(32767 - PRIMER_DEFINE + 1)) {
    que = "too many multi-character symbols (" +
          std::to_string(a.defines.size()) + "; at most " +
          std::to_string(32767 - PRIMER_DEFINE + 1) + ")";
    return false;
  }
  for (size_t i = 0; i < n; ++i) {
    for (const MovimentDic& m : a.estats[i].moviments) {
      const std::string on = " (state " + std::to_string(i) + ")";
      if (m.des < 0 || size_t(m.des) >= n) {
        que = "move to a state that does not exist" + on;
        return false;
      }
      if (m.lo != kEpsilon && (m.lo < 0 || m.lo > 255)) {
        que = "input symbol " + std::to_string(m.lo) + " is not a byte" + on;
        return false;
      }
      if (m.lm < 0 || m.lm == 256 || m.lm == 257 ||
          (m.lm >= PRIMER_DEFINE &&
           size_t(m.lm - PRIMER_DEFINE) >= a.defines.size())) {
        que = "output symbol " + std::to_string(m.lm) + " is undefined" + on;
        return false;
      }
      if (m.lo == kEpsilon && i == 0) {
        que = "the start state has an epsilon move; the matcher never "
              "follows it";
        return false;
      }
      if (m.lo == kEpsilon && m.lm == '0') {
        que = "an epsilon move writes the digit 0, which the matcher drops" +
              on;
        return false;
      }
    }
  }
  int32_t estat;
  if (CicleEpsilon(a, estat)) {
    que = "cycle of epsilon moves through state " + std::to_string(estat);
    return false;
  }
  return true;
}

std::string Serialitza(const AutomatDic& a) {
  std::string alfabet = a.alfabet;
  std::sort(alfabet.begin(), alfabet.end(), [](char x, char y) {
    return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  });
  alfabet.erase(std::unique(alfabet.begin(), alfabet.end()), alfabet.end());
  std::string s;
  Int32(s, static_cast<int32_t>(alfabet.size()));
  s += alfabet;
  Int32(s, static_cast<int32_t>(a.defines.size()));
  for (size_t i = 0; i < a.defines.size(); ++i) {
    Int32(s, static_cast<int32_t>(a.defines[i].size()));
    s += a.defines[i];
    Int32(s, PRIMER_DEFINE + static_cast<int32_t>(i));
  }
  Int32(s, static_cast<int32_t>(a.estats.size()));
  for (size_t i = 0; i < a.estats.size(); ++i)
    Estat(s, static_cast<int32_t>(i), a.estats[i]);
  return s;
}

namespace {

// States reachable from `inici` that can reach a marker.
std::vector<uint8_t> Utils(const AutomatDic& a, int32_t inici) {
  const size_t n = a.estats.size();
  std::vector<uint8_t> endavant(n, 0), enrere(n, 0);
  std::vector<int32_t> cua{inici};
  endavant[size_t(inici)] = 1;
  while (!cua.empty()) {
    int32_t e = cua.back();
    cua.pop_back();
    for (const MovimentDic& m : a.estats[size_t(e)].moviments)
      if (!endavant[size_t(m.des)]) {
        endavant[size_t(m.des)] = 1;
        cua.push_back(m.des);
      }
  }
  std::vector<std::vector<int32_t>> predecessors(n);
  for (size_t i = 0; i < n; ++i)
    for (const MovimentDic& m : a.estats[i].moviments)
      predecessors[size_t(m.des)].push_back(int32_t(i));
  for (size_t i = 0; i < n; ++i)
    if (a.estats[i].marques) {
      enrere[i] = 1;
      cua.push_back(int32_t(i));
    }
  while (!cua.empty()) {
    int32_t e = cua.back();
    cua.pop_back();
    for (int32_t p : predecessors[size_t(e)])
      if (!enrere[size_t(p)]) {
        enrere[size_t(p)] = 1;
        cua.push_back(p);
      }
  }
  for (size_t i = 0; i < n; ++i) endavant[i] = endavant[i] && enrere[i];
  endavant[size_t(inici)] = 1;
  return endavant;
}

}  // namespace

void Minimitza(AutomatDic& a, int32_t inici) {
  const size_t n = a.estats.size();
  std::vector<uint8_t> util = Utils(a, inici);
  for (size_t i = 0; i < n; ++i) {
    auto& ms = a.estats[i].moviments;
    ms.erase(std::remove_if(ms.begin(), ms.end(),
                            [&](const MovimentDic& m) {
                              return !util[size_t(m.des)];
                            }),
             ms.end());
  }
  // Moore refinement: a state's class is refined by the classes of its
  // moves' destinations until no class splits.
  std::vector<int32_t> classe(n, -1);
  for (size_t i = 0; i < n; ++i)
    if (util[i]) classe[i] = a.estats[i].marques;
  size_t nclasses = 0;
  std::string clau;
  for (;;) {
    std::unordered_map<std::string, int32_t> noves;
    std::vector<int32_t> nova(n, -1);
    for (size_t i = 0; i < n; ++i) {
      if (!util[i]) continue;
      clau.clear();
      auto afegeix = [&clau](int32_t v) {
        clau.append(reinterpret_cast<const char*>(&v), sizeof v);
      };
      afegeix(classe[i]);
      for (const MovimentDic& m : a.estats[i].moviments) {
        afegeix(m.lo);
        afegeix(m.lm);
        afegeix(classe[size_t(m.des)]);
      }
      auto [it, nou] = noves.try_emplace(clau, int32_t(noves.size()));
      nova[i] = it->second;
    }
    classe.swap(nova);
    if (noves.size() == nclasses) break;
    nclasses = noves.size();
  }
  // One representative per class; number classes depth-first from the start.
  std::vector<int32_t> representant(nclasses, -1);
  for (size_t i = 0; i < n; ++i)
    if (util[i] && representant[size_t(classe[i])] < 0)
      representant[size_t(classe[i])] = int32_t(i);
  std::vector<int32_t> numero(nclasses, -1);
  std::vector<int32_t> ordre;
  std::vector<int32_t> pila{classe[size_t(inici)]};
  while (!pila.empty()) {
    int32_t c = pila.back();
    pila.pop_back();
    if (numero[size_t(c)] >= 0) continue;
    numero[size_t(c)] = int32_t(ordre.size());
    ordre.push_back(c);
    const auto& ms = a.estats[size_t(representant[size_t(c)])].moviments;
    for (auto it = ms.rbegin(); it != ms.rend(); ++it)
      if (numero[size_t(classe[size_t(it->des)])] < 0)
        pila.push_back(classe[size_t(it->des)]);
  }
  std::vector<EstatDic> estats(ordre.size());
  for (size_t k = 0; k < ordre.size(); ++k) {
    EstatDic& e = a.estats[size_t(representant[size_t(ordre[k])])];
    estats[k].marques = e.marques;
    estats[k].moviments = std::move(e.moviments);
    for (MovimentDic& m : estats[k].moviments)
      m.des = numero[size_t(classe[size_t(m.des)])];
  }
  a.estats = std::move(estats);
}

void AfegeixEndevinador(AutomatDic& a, const std::string& lletres) {
  bool hi_es[256] = {};
  for (char c : lletres) hi_es[static_cast<unsigned char>(c)] = true;
  if (a.estats.empty()) a.estats.emplace_back();
  const int32_t g = static_cast<int32_t>(a.estats.size());
  a.estats.emplace_back();
  a.estats.back().marques = kMarcaDescon;
  for (int c = 1; c < 256; ++c) {
    if (!hi_es[c] || (Mayus(c) && c + 32 < 256 && hi_es[c + 32])) continue;
    a.estats[0].moviments.push_back({c, 0, g});
    a.estats[size_t(g)].moviments.push_back({c, 0, g});
  }
}

std::string LletresDe(const std::string& alfabet) {
  std::string s;
  for (char c : alfabet)
    if (EsLletra(static_cast<unsigned char>(c))) s.push_back(c);
  return s;
}

std::string AlfabetPerDefecte(const AutomatDic& a) {
  bool hi_es[256] = {};
  for (const EstatDic& e : a.estats)
    for (const MovimentDic& m : e.moviments)
      if (m.lo >= 0 && m.lo < 256) hi_es[m.lo] = true;
  hi_es[static_cast<unsigned char>('\'')] = true;
  hi_es[static_cast<unsigned char>('-')] = true;
  hi_es[0xB7] = true;
  std::string s;
  for (int c = 1; c < 256; ++c)
    if (hi_es[c] && (EsLletra(static_cast<unsigned char>(c)) ||
                     (c >= '0' && c <= '9') || c == '\'' || c == '-' ||
                     c == 0xB7))
      s.push_back(static_cast<char>(c));
  return s;
}

}  // namespace etiquem::dic
