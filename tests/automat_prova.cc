// Parses automaton descriptions and writes their bytes (see automat_prova.h).

#include "automat_prova.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace etiquem::prova {

namespace {

std::string Desescapa(const std::string& t) {
  std::string r;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] != '\\' || i + 1 == t.size()) {
      r += t[i];
      continue;
    }
    char e = t[++i];
    if (e == 's') r += ' ';
    else if (e == 't') r += '\t';
    else if (e == 'n') r += '\n';
    else if (e == 'x' && i + 2 < t.size()) {
      r += char(std::stoi(t.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else r += e;
  }
  return r;
}

int32_t Simbol(const AutomatProva& a, const std::string& tok) {
  if (tok == "-") return 0;
  if (tok.size() > 1 && tok[0] == '#') return std::stoi(tok.substr(1));
  if (tok.size() > 1 && tok[0] == '&') {
    for (auto& [nom, codi] : a.defines)
      if (nom == tok.substr(1)) return codi;
    throw std::runtime_error("unknown define " + tok);
  }
  std::string b = Desescapa(tok);
  if (b.size() != 1) throw std::runtime_error("bad symbol " + tok);
  return uint8_t(b[0]);
}

void Afegeix(std::vector<GrupProva>& grups, int16_t lo, int16_t lm,
             int32_t des) {
  if (grups.empty() || grups.back().lo != lo) grups.push_back({lo, {}});
  grups.back().moviments.push_back({lm, des});
}

void Int32(std::string& o, int32_t v) {
  uint32_t u = uint32_t(v);
  for (int i = 0; i < 4; ++i) o += char((u >> (8 * i)) & 0xFF);
}
void Int16(std::string& o, int16_t v) {
  uint16_t u = uint16_t(v);
  o += char(u & 0xFF);
  o += char(u >> 8);
}

void Llista(std::string& o, const std::vector<GrupProva>& grups) {
  Int32(o, int32_t(grups.size()));
  for (const GrupProva& g : grups) {
    Int16(o, g.lo);
    Int32(o, int32_t(g.moviments.size()));
    for (auto [lm, des] : g.moviments) {
      Int16(o, lm);
      Int32(o, des);
    }
  }
}

}  // namespace

AutomatProva Descriu(const std::string& text) {
  AutomatProva a;
  std::istringstream linies(text);
  std::string linia;
  while (std::getline(linies, linia)) {
    size_t h = linia.find(" # ");
    if (h != std::string::npos) linia.resize(h);
    std::istringstream ss(linia);
    std::string ordre;
    if (!(ss >> ordre)) continue;
    // "#" then a digit or "-" is a numeric symbol; any other "#" a comment.
    if (ordre[0] == '#' &&
        (ordre.size() == 1 || !(isdigit(uint8_t(ordre[1])) || ordre[1] == '-')))
      continue;
    if (ordre == "alfabet") {
      std::string b;
      ss >> b;
      a.alfabet = Desescapa(b);
    } else if (ordre == "define") {
      std::string nom;
      int32_t codi;
      ss >> nom >> codi;
      a.defines.push_back({nom, codi});
    } else if (ordre == "estat") {
      int32_t n;
      ss >> n;
      if (n != int32_t(a.estats.size()))
        throw std::runtime_error("states must be numbered in order");
      a.estats.push_back({n, -32768, {}, {}});
    } else {
      if (a.estats.empty()) throw std::runtime_error("move before estat");
      EstatProva& e = a.estats.back();
      if (ordre == "fi" || ordre == "parcial" || ordre == "descon") {
        int16_t lo = ordre == "fi" ? -10000 : ordre == "parcial" ? -20000 : -30000;
        e.trans.push_back({lo, {{0, int32_t(a.estats.size() - 1)}}});
      } else if (ordre == "flag") {
        ss >> e.flag;
      } else if (ordre == "estado") {
        ss >> e.estado;
      } else if (ordre == "eps" || ordre == "eps2") {
        std::string lm;
        int32_t des;
        if (!(ss >> lm >> des)) throw std::runtime_error("bad line: " + linia);
        size_t g = ordre == "eps" ? 0 : 1;
        if (e.eps.size() <= g) e.eps.resize(g + 1);
        e.eps[g].moviments.push_back({int16_t(Simbol(a, lm)), des});
      } else {
        std::string lm;
        int32_t des;
        if (!(ss >> lm >> des)) throw std::runtime_error("bad line: " + linia);
        Afegeix(e.trans, int16_t(Simbol(a, ordre)), int16_t(Simbol(a, lm)), des);
      }
    }
  }
  return a;
}

std::string Bytes(const AutomatProva& a) {
  std::string o;
  Int32(o, int32_t(a.alfabet.size()));
  o += a.alfabet;
  Int32(o, int32_t(a.defines.size()));
  for (auto& [nom, codi] : a.defines) {
    Int32(o, int32_t(nom.size()));
    o += nom;
    Int32(o, codi);
  }
  Int32(o, int32_t(a.estats.size()));
  for (const EstatProva& e : a.estats) {
    Int32(o, e.estado);
    int16_t flag = e.flag != -32768 ? e.flag : (e.eps.empty() ? 0 : 1);
    Int16(o, flag);
    if (flag == 1) Llista(o, e.eps);
    Llista(o, e.trans);
  }
  return o;
}

std::string EscriuFitxer(const std::string& bytes, const std::string& nom) {
  const char* tmp = getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/etiquem-prova-" +
                    std::to_string(getpid());
  mkdir(dir.c_str(), 0700);
  std::string cami = dir + "/" + nom;
  std::ofstream f(cami, std::ios::binary);
  f.write(bytes.data(), std::streamsize(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + cami);
  return cami;
}

}  // namespace etiquem::prova
