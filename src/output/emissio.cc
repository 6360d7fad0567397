// Longest-match selection and emission; see emissio.h.

#include "output/emissio.h"

namespace etiquem {

int BuscaAccep(const Lector& l, int inici, int passos) {
  // Entry indices of the stepped characters are inici, inici+1, ... mod 256.
  for (int i = passos - 1; i >= 1; --i) {
    const int e = (inici + i) & 255;
    if (l.buffer[e].anal.hi_es) return e + 1;
  }
  for (int i = passos - 1; i >= 1; --i) {
    const int e = (inici + i) & 255;
    if (l.buffer[e].desc.hi_es) return e + 1;
  }
  return inici + 1;
}

namespace {

void Forma(Sortida& s, const Lectures& lec, const RegTraduc& r,
           int superficie) {
  if (superficie == 1) {
    Escriu(s, std::string_view(lec.superficie, r.llarg_forma));
    EscriuByte(s, '/');
  }
}

}  // namespace

void Emitir(Lector& l, const Lectures& lec, Sortida& sortida,
            Sortida* desconegudes, int superficie, int p, int opcio_desc) {
  const PosBuffer& pos = l.buffer[p - 1];
  if (pos.anal.hi_es) {
    Forma(sortida, lec, pos.anal, superficie);
    EscriuAnal(*lec.ac, *lec.v, pos.anal, lec.superficie, sortida.buf);
    if (sortida.buf.size() >= sortida.llindar) Buida(sortida);
  } else if (pos.desc.hi_es) {
    Forma(sortida, lec, pos.desc, superficie);
    EscriuDesc(pos.desc, lec.superficie, sortida.buf);
    if (sortida.buf.size() >= sortida.llindar) Buida(sortida);
    if (opcio_desc == 1 && desconegudes != nullptr) {
      Escriu(*desconegudes,
             std::string_view(lec.superficie, pos.desc.llarg_forma));
      EscriuByte(*desconegudes, '\n');
    }
  } else if (pos.tipus == CARACTER) {
    EscriuByte(sortida, char(pos.car));
  }
  while (!l.superblancs.empty() && l.superblancs.front().ordre <= pos.ordre)
    EmiteSuper(l, sortida);
}

}  // namespace etiquem
