// AT&T text reader (into the compiler's transducer) and writer (from a
// loaded automaton), and the counts of `etiquem-dic info`.

#include "dic/att.h"

#include <charconv>
#include <cstdio>
#include <unordered_map>

#include "dic/codificacio.h"

namespace etiquem::dic {
namespace {

constexpr const char* kFinParcial = "@fin_parcial@";
constexpr const char* kFinDescon = "@fin_descon@";

// What the reader gathers, with external state numbers made dense.
struct LectorAtt {
  const std::string& nom;
  std::string& error;
  size_t linia = 0;
  AutomatDic a;
  std::unordered_map<long long, int32_t> index;  // external -> dense
  std::vector<long long> externs;                // dense -> external
  std::unordered_map<std::string, int32_t> codi_define;
  int32_t inici = -1;

  bool Falla(const std::string& que) {
    error = "Error: " + nom + ":" + std::to_string(linia) + ": " + que;
    return false;
  }
};

bool Estat(LectorAtt& l, std::string_view camp, int32_t& estat) {
  long long v = -1;
  auto [p, ec] = std::from_chars(camp.data(), camp.data() + camp.size(), v);
  if (ec != std::errc() || p != camp.data() + camp.size() || v < 0 ||
      v > INT32_MAX)
    return l.Falla("bad state number '" + std::string(camp) + "'");
  auto [it, nou] = l.index.try_emplace(v, int32_t(l.externs.size()));
  if (nou) {
    l.externs.push_back(v);
    l.a.estats.emplace_back();
  }
  estat = it->second;
  return true;
}

// A symbol: kEpsilon, a byte, a define code, or (output side only) one of
// the two marker symbols, returned in `marca`.
bool Simbol(LectorAtt& l, std::string_view camp, bool sortida, int32_t& codi,
            uint8_t& marca) {
  marca = 0;
  if (camp == "@0@" || camp == "@_EPSILON_SYMBOL_@" || camp == "<eps>") {
    codi = kEpsilon;
    return true;
  }
  if (camp == "@_SPACE_@" || camp == "@_TAB_@" || camp == "@_LF_@") {
    codi = camp == "@_SPACE_@" ? ' ' : camp == "@_TAB_@" ? '\t' : '\n';
    return true;
  }
  if (sortida && (camp == kFinParcial || camp == kFinDescon)) {
    marca = camp == kFinParcial ? kMarcaParcial : kMarcaDescon;
    codi = kEpsilon;
    return true;
  }
  std::string latin1, que;
  if (!ALatin1(camp, Codificacio::kUtf8, latin1, que))
    return l.Falla("symbol '" + std::string(camp) + "': " + que);
  if (latin1.empty()) return l.Falla("empty symbol");
  if (latin1.size() == 1) {
    codi = static_cast<unsigned char>(latin1[0]);
    if (codi == 0) return l.Falla("NUL character as a symbol");
    return true;
  }
  if (latin1.size() > 2 && latin1.front() == '@' && latin1.back() == '@')
    return l.Falla("special symbol '" + std::string(camp) +
                   "' is not supported");
  if (!sortida)
    return l.Falla("multi-character symbol '" + std::string(camp) +
                   "' on the input side; input is read one character at a "
                   "time");
  std::string nom = latin1;
  if (nom.size() > 2 && nom.front() == '<' && nom.back() == '>')
    nom = nom.substr(1, nom.size() - 2);
  auto [it, nou] = l.codi_define.try_emplace(
      nom, PRIMER_DEFINE + int32_t(l.a.defines.size()));
  if (nou) {
    if (l.a.defines.size() == size_t(32767 - PRIMER_DEFINE + 1))
      return l.Falla("too many multi-character symbols");
    l.a.defines.push_back(nom);
  }
  codi = it->second;
  return true;
}

std::vector<std::string_view> Camps(std::string_view linia) {
  std::vector<std::string_view> camps;
  const bool tabs = linia.find('\t') != std::string_view::npos;
  size_t ini = 0;
  while (ini <= linia.size()) {
    if (!tabs) {
      ini = linia.find_first_not_of(' ', ini);
      if (ini == std::string_view::npos) break;
    }
    size_t fi = linia.find(tabs ? '\t' : ' ', ini);
    if (fi == std::string_view::npos) fi = linia.size();
    camps.push_back(linia.substr(ini, fi - ini));
    ini = fi + 1;
  }
  return camps;
}

bool Linia(LectorAtt& l, std::string_view linia) {
  std::vector<std::string_view> camps = Camps(linia);
  if (camps.size() == 1 && camps[0] == "--")
    return l.Falla("several transducers in one file; give one");
  if (camps.size() == 1 || camps.size() == 2) {
    int32_t e;
    if (!Estat(l, camps[0], e)) return false;
    if (l.inici < 0) l.inici = e;
    l.a.estats[size_t(e)].marques |= kMarcaTraduc;
    return true;
  }
  if (camps.size() != 4 && camps.size() != 5)
    return l.Falla("expected 'src dst input output [weight]' or "
                   "'state [weight]', found " +
                   std::to_string(camps.size()) + " fields");
  int32_t src, dst, lo, lm;
  uint8_t marca_lo, marca;
  if (!Estat(l, camps[0], src) || !Estat(l, camps[1], dst) ||
      !Simbol(l, camps[2], false, lo, marca_lo) ||
      !Simbol(l, camps[3], true, lm, marca))
    return false;
  if (l.inici < 0) l.inici = src;
  if (marca) {
    if (lo != kEpsilon)
      return l.Falla("'" + std::string(camps[3]) +
                     "' needs the epsilon input symbol");
    l.a.estats[size_t(src)].marques |= marca;
    return true;
  }
  if (lo == kEpsilon && lm == '0')
    return l.Falla("an epsilon move cannot write the digit 0 (the matcher "
                   "drops it)");
  l.a.estats[size_t(src)].moviments.push_back(
      {lo, lm == kEpsilon ? 0 : lm, dst});
  return true;
}

// Output symbols of one path, without the empty ones.
void Afegeix(std::vector<int32_t>& sortida, int32_t lm) {
  if (lm != 0) sortida.push_back(lm);
}

// The start state is never closed under epsilon moves, so its epsilon paths
// are folded into a new start state: every consuming move that ends such a
// path leaves the new state, writing the path's first output symbol, and the
// rest of the outputs follow on a chain of epsilon moves.
bool PlegaInici(LectorAtt& l, std::vector<std::string>& avisos) {
  AutomatDic& a = l.a;
  const int32_t s = l.inici;
  bool te_eps = false;
  for (const MovimentDic& m : a.estats[size_t(s)].moviments)
    te_eps = te_eps || m.lo == kEpsilon;
  if (a.estats[size_t(s)].marques)
    avisos.push_back("the start state is final: the analysis of the empty "
                     "word is dropped");
  if (!te_eps) return true;
  const int32_t nou = int32_t(a.estats.size());
  a.estats.emplace_back();
  // Depth-first over epsilon paths (there are no epsilon cycles).
  struct Pas {
    int32_t estat;
    std::vector<int32_t> sortida;
  };
  std::vector<Pas> pila{{s, {}}};
  bool final_per_eps = false;
  while (!pila.empty()) {
    Pas p = std::move(pila.back());
    pila.pop_back();
    if (p.estat != s && a.estats[size_t(p.estat)].marques) final_per_eps = true;
    const std::vector<MovimentDic> moviments =
        a.estats[size_t(p.estat)].moviments;
    for (const MovimentDic& m : moviments) {
      if (m.lo == kEpsilon) continue;
      // A consuming move ends the path: chain its outputs from the new start.
      std::vector<int32_t> sortida = p.sortida;
      Afegeix(sortida, m.lm);
      int32_t des = m.des;
      for (size_t k = sortida.size(); k-- > 1;) {
        if (sortida[k] == '0') {
          l.error = "Error: " + l.nom +
                    ": the start state's epsilon moves would need an epsilon "
                    "move writing the digit 0";
          return false;
        }
        const int32_t pas = int32_t(a.estats.size());
        a.estats.emplace_back();
        a.estats.back().moviments.push_back({kEpsilon, sortida[k], des});
        des = pas;
      }
      a.estats[size_t(nou)].moviments.push_back(
          {m.lo, sortida.empty() ? 0 : sortida[0], des});
    }
    for (auto it = moviments.rbegin(); it != moviments.rend(); ++it) {
      if (it->lo != kEpsilon) continue;
      std::vector<int32_t> sortida = p.sortida;
      Afegeix(sortida, it->lm);
      pila.push_back({it->des, std::move(sortida)});
    }
  }
  if (final_per_eps)
    avisos.push_back("a final state is reached from the start state by "
                     "epsilon moves alone: the analysis of the empty word is "
                     "dropped");
  l.inici = nou;
  return true;
}

}  // namespace

bool CompilaAtt(const std::string& nom, std::string_view bytes, AutomatDic& a,
                std::string& error, std::vector<std::string>& avisos) {
  LectorAtt l{nom, error, 0, {}, {}, {}, {}, -1};
  for (size_t ini = 0; ini < bytes.size();) {
    size_t fi = bytes.find('\n', ini);
    if (fi == std::string_view::npos) fi = bytes.size();
    std::string_view linia = bytes.substr(ini, fi - ini);
    ini = fi + 1;
    ++l.linia;
    if (!linia.empty() && linia.back() == '\r') linia.remove_suffix(1);
    if (linia.find_first_not_of(" \t") == std::string_view::npos) continue;
    if (!Linia(l, linia)) return false;
  }
  if (l.inici < 0) {
    error = "Error: " + nom + ": no states";
    return false;
  }
  int32_t estat;
  if (CicleEpsilon(l.a, estat)) {
    error = "Error: " + nom + ": cycle of epsilon moves through state " +
            std::to_string(l.externs[size_t(estat)]);
    return false;
  }
  if (!PlegaInici(l, avisos)) return false;
  Minimitza(l.a, l.inici);
  l.a.alfabet = AlfabetPerDefecte(l.a);
  std::string que;
  if (!Comprova(l.a, que)) {
    error = "Error: " + nom + ": " + que;
    return false;
  }
  a = std::move(l.a);
  return true;
}

namespace {

std::string SimbolCaracter(int32_t c) {
  if (c == ' ') return "@_SPACE_@";
  if (c == '\t') return "@_TAB_@";
  if (c == '\n') return "@_LF_@";
  return AUtf8(std::string(1, static_cast<char>(c)));
}

bool SimbolSortida(const Transductor& t, int32_t lm, bool epsilon,
                   std::string& s, std::string& error) {
  if (lm == 0 || lm == 256 || (epsilon && lm == '0')) {
    s = "@0@";
  } else if (lm < PRIMER_DEFINE) {
    s = SimbolCaracter(lm & 0xFF);
  } else if (const std::string* nom = CorrespDef(t, lm)) {
    s = "<" + AUtf8(*nom) + ">";
  } else {
    error = "Error: output symbol " + std::to_string(lm) + " has no define";
    return false;
  }
  return true;
}

}  // namespace

bool BolcaAtt(const Transductor& t, std::string& text, std::string& error) {
  text.clear();
  std::string finals, marques, sortida;
  int32_t extra = t.nestats;
  auto arc = [&](int32_t src, int32_t des, const std::string& in,
                 const std::string& out) {
    text += std::to_string(src) + "\t" + std::to_string(des) + "\t" + in +
            "\t" + out + "\n";
  };
  for (int32_t i = 0; i < t.nestats; ++i) {
    const Nodo& n = t.automat[size_t(i)];
    if (n.neps > 0)
      for (int32_t k = 0; k < n.eps[0].nstrans; ++k) {
        const Strans& m = n.eps[0].strans[k];
        if (!SimbolSortida(t, m.lm, true, sortida, error)) return false;
        arc(i, m.des, "@0@", sortida);
      }
    for (int32_t g = 0; g < n.ntrans; ++g) {
      const Trans& grup = n.trans[g];
      if (grup.lo == FIN_TRADUC) {
        finals += std::to_string(i) + "\n";
      } else if (grup.lo == FIN_PARCIAL || grup.lo == FIN_DESCON) {
        const int32_t f = extra++;
        marques += std::to_string(i) + "\t" + std::to_string(f) + "\t@0@\t" +
                   (grup.lo == FIN_PARCIAL ? kFinParcial : kFinDescon) +
                   "\n" + std::to_string(f) + "\n";
      }
      if (grup.lo < 0 || grup.lo > 255) continue;
      for (int32_t k = 0; k < grup.nstrans; ++k) {
        const Strans& m = grup.strans[k];
        if (!SimbolSortida(t, m.lm, false, sortida, error)) return false;
        arc(i, m.des, SimbolCaracter(grup.lo), sortida);
      }
    }
  }
  text += marques;
  text += finals;
  return true;
}

std::string Informa(const Transductor& t, size_t mida_fitxer) {
  size_t grups_car = 0, grups_altres = 0, moviments = 0;
  size_t estats_eps = 0, grups_eps = 0, moviments_eps = 0, eps_morts = 0;
  size_t traduc = 0, parcial = 0, descon = 0;
  for (const Nodo& n : t.automat) {
    if (n.neps > 0) {
      ++estats_eps;
      grups_eps += size_t(n.neps);
      moviments_eps += size_t(n.eps[0].nstrans);
      for (int32_t g = 1; g < n.neps; ++g) eps_morts += size_t(n.eps[g].nstrans);
    }
    for (int32_t g = 0; g < n.ntrans; ++g) {
      const int lo = n.trans[g].lo;
      if (lo == FIN_TRADUC) {
        ++traduc;
      } else if (lo == FIN_PARCIAL) {
        ++parcial;
      } else if (lo == FIN_DESCON) {
        ++descon;
      } else if (lo >= 0 && lo <= 255) {
        ++grups_car;
        moviments += size_t(n.trans[g].nstrans);
      } else {
        ++grups_altres;
      }
    }
  }
  int32_t codi_min = 0, codi_max = 0;
  for (size_t i = 0; i < t.defines.size(); ++i) {
    if (i == 0 || t.defines[i].codi < codi_min) codi_min = t.defines[i].codi;
    if (i == 0 || t.defines[i].codi > codi_max) codi_max = t.defines[i].codi;
  }
  auto linia = [](const char* nom, const std::string& valor) {
    return std::string(nom) + ": " + valor + "\n";
  };
  auto n = [](size_t v) { return std::to_string(v); };
  std::string s;
  s += linia("file bytes", n(mida_fitxer));
  s += linia("states", n(t.automat.size()));
  s += linia("character groups", n(grups_car));
  s += linia("consuming moves", n(moviments));
  if (grups_altres) s += linia("unfollowable groups", n(grups_altres));
  s += linia("states with epsilon moves", n(estats_eps));
  s += linia("epsilon groups", n(grups_eps));
  s += linia("epsilon moves", n(moviments_eps));
  if (eps_morts) s += linia("epsilon moves never followed", n(eps_morts));
  s += linia("complete-analysis markers", n(traduc));
  s += linia("compound-piece markers", n(parcial));
  s += linia("unknown-word markers", n(descon));
  s += linia("defines", n(t.defines.size()) +
                            (t.defines.empty()
                                 ? std::string()
                                 : ", codes " + std::to_string(codi_min) +
                                       "-" + std::to_string(codi_max)));
  std::string alfabet;
  for (char c : t.alfabeto)
    alfabet += (c == ' ' || c == '\t' || c == '\n') ? std::string("\\s")
                                                    : std::string(1, c);
  s += linia("alphabet", n(t.alfabeto.size()) + " bytes: " + AUtf8(alfabet));
  return s;
}

}  // namespace etiquem::dic
