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

void Registre(Sortida& s, const RegTraduc& r, int superficie) {
  if (superficie == 1) {
    Escriu(s, r.forma);
    EscriuByte(s, '/');
  }
  Escriu(s, r.text);
}

}  // namespace

void Emitir(Lector& l, Sortida& sortida, Sortida* desconegudes,
            int superficie, int p, int opcio_desc) {
  const PosBuffer& pos = l.buffer[p - 1];
  if (pos.anal.hi_es) {
    Registre(sortida, pos.anal, superficie);
  } else if (pos.desc.hi_es) {
    Registre(sortida, pos.desc, superficie);
    if (opcio_desc == 1 && desconegudes != nullptr) {
      Escriu(*desconegudes, pos.desc.forma);
      EscriuByte(*desconegudes, '\n');
    }
  } else if (pos.tipus == CARACTER) {
    EscriuByte(sortida, char(pos.car));
  }
  while (!l.superblancs.empty() && l.superblancs.front().ordre <= pos.ordre)
    EmiteSuper(l, sortida);
}

}  // namespace etiquem
