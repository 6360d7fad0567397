// The character ring and reader; see lector.h.

#include "input/lector.h"

#include <utility>

namespace etiquem {

namespace {

void Neteja(PosBuffer& p) {
  p.estat = 0;
  p.anal.hi_es = false;
  p.desc.hi_es = false;
}

// Takes a token from the scanner and stores it at the write position.
int Fresc(Lector& l, int& k) {
  Escaner& e = *l.escaner;
  // The token starts at the next byte to scan (a refill moves the block,
  // not this offset).
  const uint64_t ordre = PosicioEntrada(e) + 1;
  int tipus = yylex(e);
  PosBuffer& p = l.buffer[l.indice - 1];
  int codi;
  if (tipus == TOKEN_CARACTER) {
    p.tipus = CARACTER;
    p.car = e.token.caracter;
    codi = p.car;
  } else if (tipus == TOKEN_SUPERBLANC) {
    p.tipus = SUPERBLANC;
    p.car = 1;
    codi = CODI_SUPERBLANC;
    l.superblancs.push_back(Superblanc{});
    std::swap(l.superblancs.back().text, e.token.cadena);
    l.superblancs.back().ordre = ordre;
  } else if (tipus == TOKEN_FINAL) {
    p.tipus = FINAL;
    p.car = 255;
    codi = FI_ENTRADA;
  } else {
    Acaba(255, "Error, entrada inesperada\n", e.abans_de_llegir);
  }
  Neteja(p);
  p.ordre = ordre;
  k = l.indice - 1;
  l.indice = Seguent(l.indice);
  PosBuffer& despres = l.buffer[l.indice - 1];
  despres.tipus = BUIDA;
  despres.car = 0;
  Neteja(despres);
  l.leer = 1;
  return codi;
}

}  // namespace

void IniciaLector(Lector& l, Escaner* e) {
  for (PosBuffer& p : l.buffer) {
    p.car = 0;
    p.tipus = BUIDA;
    p.ordre = 0;
    Neteja(p);
  }
  l.indice = 1;
  l.acceso = 1;
  l.leer = 1;
  l.superblancs.clear();
  l.escaner = e;
}

int DameCaracterFresc(Lector& l, int& k) { return Fresc(l, k); }

void EmiteSuper(Lector& l, Sortida& s) {
  if (l.superblancs.empty()) return;
  const std::string& text = l.superblancs.front().text;
  EscriuGran(s, text);
  if (text.find("<![CDATA[.]]>") != std::string::npos) Buida(s);
  l.superblancs.pop_front();
}

}  // namespace etiquem
