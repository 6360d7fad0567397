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

void Forma(std::string& text, const Lectures& lec, const RegTraduc& r,
           int superficie) {
  if (superficie == 1) {
    text.append(lec.superficie, r.llarg_forma);
    text.push_back('/');
  }
}

}  // namespace

bool ContingutPosicio(const Lector& l, const Lectures& lec, int superficie,
                      int p, std::string& text) {
  const PosBuffer& pos = l.buffer[p - 1];
  if (pos.anal.hi_es) {
    Forma(text, lec, pos.anal, superficie);
    EscriuAnal(*lec.ac, *lec.v, pos.anal, lec.superficie, text);
    return false;
  }
  if (pos.desc.hi_es) {
    Forma(text, lec, pos.desc, superficie);
    EscriuDesc(pos.desc, lec.superficie, text);
    return true;
  }
  // A superblank's marker writes nothing itself: its text follows.
  if (pos.tipus == CARACTER) text.push_back(char(pos.car));
  return false;
}

void EmetSuperblancs(Lector& l, Sortida& sortida, uint64_t ordre) {
  while (!l.superblancs.empty() && l.superblancs.front().ordre <= ordre)
    EmiteSuper(l, sortida);
}

void Emitir(Lector& l, const Lectures& lec, Sortida& sortida,
            Sortida* desconegudes, int superficie, int p, int opcio_desc) {
  const PosBuffer& pos = l.buffer[p - 1];
  const bool desc = ContingutPosicio(l, lec, superficie, p, sortida.buf);
  if (sortida.buf.size() >= sortida.llindar) Buida(sortida);
  if (desc && opcio_desc == 1 && desconegudes != nullptr) {
    Escriu(*desconegudes,
           std::string_view(lec.superficie, pos.desc.llarg_forma));
    EscriuByte(*desconegudes, '\n');
  }
  EmetSuperblancs(l, sortida, pos.ordre);
}

}  // namespace etiquem
