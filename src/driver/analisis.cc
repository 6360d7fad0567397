// The analysis loop; see analisis.h.

#include "driver/analisis.h"

#include <string_view>

#include "output/emissio.h"

namespace etiquem {

namespace {

// Writes the longest stretch of the attempt and points the reader at the
// character after it. Returns the stretch's last position.
int Emet(Analisi& an, int superficie, int desc) {
  Lector& l = *an.l;
  const int p = BuscaAccep(l, an.inici, an.n);
  const Lectures lec{&an.v, &an.ac, an.superficie};
  Emitir(l, lec, *an.sortida, an.desconegudes, superficie, p, desc);
  l.acceso = Seguent(p);
  l.leer = 0;
  an.prim = 1;
  an.n = 0;
  LliurarVius(an.v);
  return p;
}

// Drops the compound-only analysis of the position before `k` when a letter
// follows it: compound readings stand only at the end of a word.
void TreuPeces(Lector& l, int k) {
  PosBuffer& abans = l.buffer[(k + 255) & 255];
  if (abans.estat == 2 && abans.anal.hi_es) abans.anal.hi_es = false;
}

}  // namespace

void IniciaAnalisi(Analisi& an, const Transductor* t, Lector* l,
                   Sortida* sortida, Sortida* desconegudes) {
  an.t = t;
  an.l = l;
  an.sortida = sortida;
  an.desconegudes = desconegudes;
  IniciaVius(an.v, t);
  an.v.sortida = sortida;
  an.v.desconegudes = desconegudes;
  an.prim = 1;
  an.ban = an.ban1 = 0;
  an.n = 0;
  an.inici = 0;
}

void Analisis(Analisi& an, int superficie, int desc, int apostrof, int marca) {
  Lector& l = *an.l;
  l.leer = 1;
  an.prim = 1;
  an.n = 0;
  an.inici = 0;
  for (;;) {
    int k = 0;
    const int c = ObtenerCaracter(l, k);
    if (Noalfa(*an.t, c) == 0) TreuPeces(l, k);
    if (c == FI_ENTRADA) {
      if (an.prim == 1) return;
      // The input ended inside an attempt: write its longest stretch; what
      // stands after it is analysed like any other input, re-read from the
      // ring up to the end mark.
      const int p = Emet(an, superficie, desc);
      if (l.buffer[Seguent(p) - 1].tipus == FINAL) return;
      continue;
    }
    an.superficie[an.n++] = char(c);
    PosBuffer& entrada = l.buffer[k];
    // Records left here by an earlier attempt belong to text already
    // written; only this attempt's count.
    entrada.estat = 0;
    entrada.anal.hi_es = false;
    entrada.desc.hi_es = false;
    if (an.prim == 1) {
      Inicialitzacio(an.v);
      IniciaAcceptacio(an.ac);
      an.inici = k;
      an.ban = ComprobarEstatsVius(an.v, c);
      an.ban1 = an.ban;
      an.prim = 0;
    } else {
      an.ban1 = ComprobarEstatsVius(an.v, c);
    }
    ComprobarEstatsNous(an.v);
    CercarEstAccept(an.ac, an.v, std::string_view(an.superficie, size_t(an.n)),
                    an.ban, an.ban1, entrada, apostrof, marca);
    if (an.v.vius.empty() || an.n == kMaxPassos) Emet(an, superficie, desc);
  }
}

}  // namespace etiquem
