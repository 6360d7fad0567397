// Full-form lexicon reader, trie builder and hash-consing minimiser.
//
// Storage is flat: entries keep offsets into one byte pool (surface forms)
// and one symbol pool (lexical forms), and the trie keeps its nodes and
// edges in two vectors with sibling links, so a lexicon costs a handful of
// allocations however large it is.

#include "dic/lexic.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace etiquem::dic {
namespace {

constexpr uint32_t kCap = UINT32_MAX;  // no node / no edge

// Longest surface form: a match spans at most 254 input characters.
constexpr size_t kMaxForma = 254;

// One entry line. Lexical symbols: 1..255 a byte, -(t + 1) tag number t.
struct Entrada {
  uint32_t forma;      // offset of the surface form in the byte pool
  uint32_t simbols;    // offset of the lexical form in the symbol pool
  uint16_t lforma;     // surface bytes
  uint16_t lsimbols;   // lexical symbols
  uint16_t prefix;     // lexical bytes before the first tag
  uint8_t marca;       // Marca bit of the kind of reading
  uint32_t linia;      // line in the source, from 1
};

// What the reader gathers.
struct Lexic {
  std::string formes;              // surface bytes of all entries
  std::vector<int32_t> simbols;    // lexical symbols of all entries
  std::vector<Entrada> entrades;
  std::vector<std::string> etiquetes;  // tag names by tag number
  std::unordered_map<std::string, int32_t> numero_etiqueta;
  bool te_alfabet = false;
  std::string alfabet;
  bool te_endevinador = false;
  std::string endevinador;  // empty: the letters of the alphabet
};

// The reader's place, for messages.
struct Lloc {
  const std::string& nom;
  size_t linia;
  std::string& error;
  bool Falla(const std::string& que) {
    error = "Error: " + nom + ":" + std::to_string(linia) + ": " + que;
    return false;
  }
};

std::string Mostra(std::string_view latin1) { return AUtf8(latin1); }

// Surface form or directive argument with backslash escapes (\t a tab, any
// other escaped byte itself).
bool Desescapa(std::string_view camp, std::string& sortida, Lloc& lloc) {
  sortida.clear();
  for (size_t i = 0; i < camp.size(); ++i) {
    char c = camp[i];
    if (c == '\\') {
      if (++i == camp.size()) return lloc.Falla("backslash at the end of a field");
      c = camp[i] == 't' ? '\t' : camp[i];
    }
    if (c == '\0') return lloc.Falla("NUL byte in the line");
    sortida.push_back(c);
  }
  return true;
}

bool NomEtiquetaValid(std::string_view nom) {
  if (nom.empty()) return false;
  for (char ch : nom) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c <= ' ' || c == 0x7F || c == '<' || c == '>' || c == '&' || c == ';')
      return false;
  }
  return true;
}

// Lexical form: bytes (with escapes) and <tag> symbols, appended to the pool.
bool LlegeixLexic(std::string_view camp, Lexic& lx, uint16_t& prefix,
                  Lloc& lloc) {
  bool etiqueta_vista = false;
  prefix = 0;
  for (size_t i = 0; i < camp.size(); ++i) {
    char c = camp[i];
    if (c == '<') {
      size_t fi = camp.find('>', i + 1);
      if (fi == std::string_view::npos)
        return lloc.Falla("tag without its closing '>'");
      std::string_view nom = camp.substr(i + 1, fi - i - 1);
      if (!NomEtiquetaValid(nom))
        return lloc.Falla("bad tag name <" + Mostra(nom) +
                          "> (no blanks, '<', '>', '&' or ';')");
      auto [it, nou] = lx.numero_etiqueta.try_emplace(
          std::string(nom), int32_t(lx.etiquetes.size()));
      if (nou) lx.etiquetes.emplace_back(nom);
      lx.simbols.push_back(-(it->second + 1));
      etiqueta_vista = true;
      i = fi;
      continue;
    }
    if (c == '>')
      return lloc.Falla("'>' outside a tag (write \\> for the character)");
    if (c == '\\') {
      if (++i == camp.size()) return lloc.Falla("backslash at the end of a field");
      c = camp[i] == 't' ? '\t' : camp[i];
    }
    if (c == '\0') return lloc.Falla("NUL byte in the line");
    lx.simbols.push_back(static_cast<unsigned char>(c));
    if (!etiqueta_vista) ++prefix;
  }
  return true;
}

bool LlegeixMarca(std::string_view camp, uint8_t& marca, Lloc& lloc) {
  if (camp == "completa") {
    marca = kMarcaTraduc;
  } else if (camp == "parcial") {
    marca = kMarcaParcial;
  } else if (camp == "desconeguda") {
    marca = kMarcaDescon;
  } else {
    return lloc.Falla("unknown kind of reading '" + Mostra(camp) +
                      "' (completa, parcial or desconeguda)");
  }
  return true;
}

// "@alfabet CHARS" (several lines add up) or "@desconegudes [CHARS]";
// blanks are skipped.
bool LlegeixDirectiva(std::string_view linia, Lexic& lx, Lloc& lloc) {
  size_t fi = linia.find_first_of(" \t");
  std::string_view nom = linia.substr(0, fi);
  std::string arg;
  if (fi != std::string_view::npos) {
    std::string_view resta = linia.substr(fi);
    for (size_t i = 0; i < resta.size(); ++i) {
      char c = resta[i];
      if (c == ' ' || c == '\t') continue;
      if (c == '\\') {
        if (++i == resta.size())
          return lloc.Falla("backslash at the end of a field");
        c = resta[i] == 't' ? '\t' : resta[i];
      }
      if (c == '\0') return lloc.Falla("NUL byte in the line");
      arg.push_back(c);
    }
  }
  if (nom == "@alfabet") {
    if (arg.empty()) return lloc.Falla("@alfabet without characters");
    lx.te_alfabet = true;
    lx.alfabet += arg;
  } else if (nom == "@desconegudes") {
    if (lx.te_endevinador) return lloc.Falla("second @desconegudes directive");
    lx.te_endevinador = true;
    lx.endevinador = arg;
  } else {
    return lloc.Falla("unknown directive '" + Mostra(nom) +
                      "' (@alfabet or @desconegudes)");
  }
  return true;
}

bool LlegeixEntrada(std::string_view linia, Lexic& lx, Lloc& lloc) {
  std::string_view camps[3];
  size_t ncamps = 0;
  for (size_t ini = 0;;) {
    size_t tab = linia.find('\t', ini);
    if (ncamps == 3) return lloc.Falla("more than 3 tab-separated columns");
    camps[ncamps++] = linia.substr(ini, tab - ini);
    if (tab == std::string_view::npos) break;
    ini = tab + 1;
  }
  if (ncamps < 2)
    return lloc.Falla("expected 'surface<TAB>lexical[<TAB>kind]'");
  Entrada e{};
  e.linia = uint32_t(lloc.linia);
  e.marca = kMarcaTraduc;
  if (ncamps == 3 && !LlegeixMarca(camps[2], e.marca, lloc)) return false;
  std::string forma;
  if (!Desescapa(camps[0], forma, lloc)) return false;
  if (forma.empty()) return lloc.Falla("empty surface form");
  if (forma.size() > kMaxForma)
    return lloc.Falla("surface form longer than " + std::to_string(kMaxForma) +
                      " bytes");
  e.forma = uint32_t(lx.formes.size());
  e.lforma = uint16_t(forma.size());
  lx.formes += forma;
  e.simbols = uint32_t(lx.simbols.size());
  if (!LlegeixLexic(camps[1], lx, e.prefix, lloc)) return false;
  const size_t n = lx.simbols.size() - e.simbols;
  if (n == 0 && e.marca != kMarcaDescon) return lloc.Falla("empty lexical form");
  if (n > 400) return lloc.Falla("lexical form longer than 400 symbols");
  e.lsimbols = uint16_t(n);
  // Bytes past the surface length go on epsilon moves, where the digit 0
  // would be dropped by the matcher.
  for (size_t i = std::min<size_t>(e.lforma, e.prefix); i < n; ++i)
    if (lx.simbols[e.simbols + i] == '0')
      return lloc.Falla(
          "the lexical digit 0 at position " + std::to_string(i + 1) +
          " lies past the surface form, on an epsilon move, which cannot "
          "write it");
  lx.entrades.push_back(e);
  return true;
}

bool Llegeix(const std::string& nom, std::string_view bytes,
             Codificacio codificacio, Lexic& lx, std::string& error) {
  Lloc lloc{nom, 0, error};
  if (codificacio == Codificacio::kUtf8 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
    bytes.remove_prefix(3);
  std::string linia;
  std::string que;
  for (size_t ini = 0; ini < bytes.size();) {
    size_t fi = bytes.find('\n', ini);
    if (fi == std::string_view::npos) fi = bytes.size();
    std::string_view cru = bytes.substr(ini, fi - ini);
    ini = fi + 1;
    ++lloc.linia;
    if (!cru.empty() && cru.back() == '\r') cru.remove_suffix(1);
    // A carriage return is a line end or nothing: AT&T text, which dumps
    // write, could not carry one inside a symbol.
    if (cru.find('\r') != std::string_view::npos)
      return lloc.Falla("carriage return inside the line");
    if (!ALatin1(cru, codificacio, linia, que)) return lloc.Falla(que);
    size_t primer = linia.find_first_not_of(" \t");
    if (primer == std::string::npos || linia[primer] == '#') continue;
    if (linia[0] == '@') {
      if (!LlegeixDirectiva(linia, lx, lloc)) return false;
    } else if (!LlegeixEntrada(linia, lx, lloc)) {
      return false;
    }
  }
  if (lx.formes.size() > UINT32_MAX / 2 || lx.simbols.size() > UINT32_MAX / 2) {
    error = "Error: " + nom + ": lexicon too large";
    return false;
  }
  return true;
}

// Define codes by falling frequency of the tags (ties: first seen first),
// so the most frequent names are found first by a linear search.
std::vector<int32_t> CodisEtiquetes(const Lexic& lx, AutomatDic& a) {
  std::vector<size_t> freq(lx.etiquetes.size(), 0);
  for (int32_t s : lx.simbols)
    if (s < 0) ++freq[size_t(-s - 1)];
  std::vector<int32_t> ordre(lx.etiquetes.size());
  for (size_t i = 0; i < ordre.size(); ++i) ordre[i] = int32_t(i);
  std::stable_sort(ordre.begin(), ordre.end(), [&](int32_t x, int32_t y) {
    return freq[size_t(x)] > freq[size_t(y)];
  });
  std::vector<int32_t> codi(lx.etiquetes.size());
  a.defines.clear();
  for (size_t r = 0; r < ordre.size(); ++r) {
    codi[size_t(ordre[r])] = 258 + int32_t(r);
    a.defines.push_back(lx.etiquetes[size_t(ordre[r])]);
  }
  return codi;
}

// The trie over (input, output) pairs. Siblings are linked in insertion
// order, which is the order the matcher follows them in.
struct Aresta {
  int32_t lo;        // input byte, or kEpsilon
  int32_t lm;        // output symbol (final code), 0 for nothing
  uint32_t fill;     // child node
  uint32_t seguent;  // next sibling edge, or kCap
  uint32_t ordre;    // position among the parent's edges
};

struct NodeTrie {
  uint32_t primera = kCap;  // first edge
  uint32_t darrera = kCap;  // last edge, for appending
  uint32_t nfills = 0;      // number of edges
  uint8_t marques = 0;      // Marca bits
};

struct Trie {
  std::vector<NodeTrie> nodes{NodeTrie{}};
  std::vector<Aresta> arestes;
};

// First edge of `node` with the pair (lo, lm) at position `des_de` or later.
uint32_t Busca(const Trie& t, uint32_t node, int32_t lo, int32_t lm,
               uint32_t des_de) {
  for (uint32_t e = t.nodes[node].primera; e != kCap; e = t.arestes[e].seguent) {
    const Aresta& a = t.arestes[e];
    if (a.lo == lo && a.lm == lm && a.ordre >= des_de) return e;
  }
  return kCap;
}

uint32_t Afegeix(Trie& t, uint32_t node, int32_t lo, int32_t lm) {
  const uint32_t fill = uint32_t(t.nodes.size());
  t.nodes.emplace_back();
  const uint32_t e = uint32_t(t.arestes.size());
  NodeTrie& pare = t.nodes[node];
  t.arestes.push_back({lo, lm, fill, kCap, pare.nfills++});
  if (pare.darrera == kCap)
    pare.primera = e;
  else
    t.arestes[pare.darrera].seguent = e;
  pare.darrera = e;
  return e;
}

// The (input, output) pairs of one analysis, its epsilon tail padded to
// `cua` moves. Padding goes first in the tail, so that the tails of padded
// and unpadded forms still share their ends.
void Parells(const Lexic& lx, const Entrada& e, const std::vector<int32_t>& codi,
             size_t cua, std::vector<std::pair<int32_t, int32_t>>& p) {
  auto simbol = [&](size_t i) {
    int32_t s = lx.simbols[e.simbols + i];
    return s < 0 ? codi[size_t(-s - 1)] : s;
  };
  const size_t consumits = std::min<size_t>(e.lforma, e.prefix);
  p.clear();
  for (size_t i = 0; i < e.lforma; ++i)
    p.push_back({static_cast<unsigned char>(lx.formes[e.forma + i]),
                 i < consumits ? simbol(i) : 0});
  const size_t propia = e.lsimbols - consumits;
  for (size_t i = propia; i < cua; ++i) p.push_back({kEpsilon, 0});
  for (size_t i = consumits; i < e.lsimbols; ++i)
    p.push_back({kEpsilon, simbol(i)});
}

bool MateixaAnalisi(const Lexic& lx, const Entrada& x, const Entrada& y) {
  return x.marca == y.marca && x.lsimbols == y.lsimbols &&
         std::equal(lx.simbols.begin() + x.simbols,
                    lx.simbols.begin() + x.simbols + x.lsimbols,
                    lx.simbols.begin() + y.simbols);
}

// Inserts the analyses of one form, in source order. Each analysis follows
// its predecessor's edges while their pairs agree; where they part, it takes
// an edge placed after the predecessor's, making a new one if needed.
void InsereixForma(Trie& t, const Lexic& lx, const std::vector<int32_t>& codi,
                   const std::vector<const Entrada*>& analisis,
                   EstadistiquesLexic& est) {
  size_t cua = 0;
  for (const Entrada* e : analisis)
    cua = std::max(cua, size_t(e->lsimbols) -
                            std::min<size_t>(e->lforma, e->prefix));
  bool farcida = false;
  std::vector<std::pair<int32_t, int32_t>> parells;
  std::vector<uint32_t> cami, anterior;
  for (size_t j = 0; j < analisis.size(); ++j) {
    const Entrada& e = *analisis[j];
    const size_t propia = e.lsimbols - std::min<size_t>(e.lforma, e.prefix);
    if (propia < cua) {
      farcida = true;
      est.moviments_farcits += cua - propia;
    }
    Parells(lx, e, codi, cua, parells);
    cami.assign(parells.size(), kCap);
    uint32_t node = 0;
    bool separat = j == 0;
    for (size_t p = 0; p < parells.size(); ++p) {
      const auto [lo, lm] = parells[p];
      uint32_t aresta;
      if (!separat && t.arestes[anterior[p]].lo == lo &&
          t.arestes[anterior[p]].lm == lm) {
        aresta = anterior[p];
      } else if (!separat) {
        separat = true;
        aresta = Busca(t, node, lo, lm, t.arestes[anterior[p]].ordre + 1);
        if (aresta == kCap && Busca(t, node, lo, lm, 0) != kCap)
          ++est.branques_ordre;
      } else {
        aresta = Busca(t, node, lo, lm, 0);
      }
      if (aresta == kCap) aresta = Afegeix(t, node, lo, lm);
      cami[p] = aresta;
      node = t.arestes[aresta].fill;
    }
    t.nodes[node].marques |= e.marca;
    anterior.swap(cami);
  }
  if (farcida) ++est.formes_farcides;
}

uint64_t Barreja(uint64_t h, uint64_t v) {
  h ^= v + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
  return h * 0xFF51AFD7ED558CCDULL;
}

uint64_t Resum(const Trie& t, uint32_t n) {
  uint64_t h = Barreja(0, t.nodes[n].marques);
  for (uint32_t e = t.nodes[n].primera; e != kCap; e = t.arestes[e].seguent) {
    const Aresta& a = t.arestes[e];
    h = Barreja(h, (uint64_t(uint32_t(a.lo)) << 32) | uint32_t(a.lm));
    h = Barreja(h, a.fill);
  }
  return h;
}

bool Iguals(const Trie& t, uint32_t x, uint32_t y) {
  if (t.nodes[x].marques != t.nodes[y].marques ||
      t.nodes[x].nfills != t.nodes[y].nfills)
    return false;
  uint32_t ex = t.nodes[x].primera, ey = t.nodes[y].primera;
  for (; ex != kCap; ex = t.arestes[ex].seguent, ey = t.arestes[ey].seguent) {
    const Aresta& a = t.arestes[ex];
    const Aresta& b = t.arestes[ey];
    if (a.lo != b.lo || a.lm != b.lm || a.fill != b.fill) return false;
  }
  return true;
}

// Merges equal subtrees bottom-up (a child is always numbered after its
// parent) and returns each node's representative.
std::vector<uint32_t> Uneix(Trie& t) {
  const size_t n = t.nodes.size();
  std::vector<uint32_t> canonic(n);
  size_t mida = 1;
  while (mida < 2 * n) mida <<= 1;
  std::vector<uint32_t> taula(mida, kCap);
  for (size_t v = n; v-- > 0;) {
    for (uint32_t e = t.nodes[v].primera; e != kCap; e = t.arestes[e].seguent)
      t.arestes[e].fill = canonic[t.arestes[e].fill];
    size_t lloc = Resum(t, uint32_t(v)) & (mida - 1);
    while (taula[lloc] != kCap && !Iguals(t, taula[lloc], uint32_t(v)))
      lloc = (lloc + 1) & (mida - 1);
    if (taula[lloc] == kCap) taula[lloc] = uint32_t(v);
    canonic[v] = taula[lloc];
  }
  return canonic;
}

// The merged trie as the compiler's transducer, states numbered depth-first.
void Converteix(const Trie& t, AutomatDic& a) {
  std::vector<int32_t> numero(t.nodes.size(), -1);
  std::vector<uint32_t> ordre;
  std::vector<uint32_t> pila{0};
  std::vector<uint32_t> fills;
  while (!pila.empty()) {
    uint32_t v = pila.back();
    pila.pop_back();
    if (numero[v] >= 0) continue;
    numero[v] = int32_t(ordre.size());
    ordre.push_back(v);
    fills.clear();
    for (uint32_t e = t.nodes[v].primera; e != kCap; e = t.arestes[e].seguent)
      fills.push_back(t.arestes[e].fill);
    for (auto it = fills.rbegin(); it != fills.rend(); ++it)
      if (numero[*it] < 0) pila.push_back(*it);
  }
  a.estats.assign(ordre.size(), EstatDic{});
  for (size_t k = 0; k < ordre.size(); ++k) {
    const NodeTrie& node = t.nodes[ordre[k]];
    EstatDic& e = a.estats[k];
    e.marques = node.marques;
    e.moviments.reserve(node.nfills);
    for (uint32_t x = node.primera; x != kCap; x = t.arestes[x].seguent)
      e.moviments.push_back(
          {t.arestes[x].lo, t.arestes[x].lm, numero[t.arestes[x].fill]});
  }
}

}  // namespace

bool CompilaLexic(const std::string& nom, std::string_view bytes,
                  Codificacio codificacio, AutomatDic& a, std::string& error,
                  EstadistiquesLexic* estadistiques) {
  EstadistiquesLexic est;
  if (codificacio == Codificacio::kDetecta) codificacio = Detecta(bytes);
  est.codificacio = codificacio;
  Lexic lx;
  if (!Llegeix(nom, bytes, codificacio, lx, error)) return false;
  a = AutomatDic{};
  const std::vector<int32_t> codi = CodisEtiquetes(lx, a);
  if (a.defines.size() > size_t(32767 - 258 + 1)) {
    error = "Error: " + nom + ": more than " + std::to_string(32767 - 258 + 1) +
            " distinct tags";
    return false;
  }
  est.entrades = lx.entrades.size();

  // Forms in byte order, the analyses of each in source order.
  std::vector<uint32_t> ordre(lx.entrades.size());
  for (size_t i = 0; i < ordre.size(); ++i) ordre[i] = uint32_t(i);
  auto forma = [&](uint32_t i) {
    const Entrada& e = lx.entrades[i];
    return std::string_view(lx.formes).substr(e.forma, e.lforma);
  };
  std::stable_sort(ordre.begin(), ordre.end(),
                   [&](uint32_t x, uint32_t y) { return forma(x) < forma(y); });
  Trie t;
  t.nodes.reserve(lx.formes.size() + lx.simbols.size() / 2 + 1);
  t.arestes.reserve(lx.formes.size() + lx.simbols.size() / 2 + 1);
  std::vector<const Entrada*> analisis;
  for (size_t i = 0; i < ordre.size();) {
    size_t j = i;
    analisis.clear();
    for (; j < ordre.size() && forma(ordre[j]) == forma(ordre[i]); ++j) {
      const Entrada* e = &lx.entrades[ordre[j]];
      bool repetida = false;
      for (const Entrada* f : analisis)
        repetida = repetida || MateixaAnalisi(lx, *e, *f);
      if (repetida)
        ++est.repetides;
      else
        analisis.push_back(e);
    }
    InsereixForma(t, lx, codi, analisis, est);
    ++est.formes;
    i = j;
  }
  est.nodes_trie = t.nodes.size();
  std::vector<uint32_t> canonic = Uneix(t);
  (void)canonic;
  Converteix(t, a);

  a.alfabet = lx.te_alfabet ? lx.alfabet : AlfabetPerDefecte(a);
  if (lx.te_endevinador)
    AfegeixEndevinador(
        a, lx.endevinador.empty() ? LletresDe(a.alfabet) : lx.endevinador);
  std::string que;
  if (!Comprova(a, que)) {
    error = "Error: " + nom + ": " + que;
    return false;
  }
  if (estadistiques) *estadistiques = est;
  return true;
}

}  // namespace etiquem::dic
