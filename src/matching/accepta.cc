// Acceptance recording; see accepta.h.

#include "matching/accepta.h"

#include "matching/traduccio.h"

namespace etiquem {

void CercarEstAccept(Acceptacio& ac, const Vius& v, std::string_view forma,
                     int a, int b, PosBuffer& entrada, int apostrof,
                     int marca) {
  const Transductor& t = *v.t;
  entrada.estat = 0;
  const size_t primer = ac.llista.size();
  int darrer = 0;  // 1: the last complete-or-partial marker was complete
  for (const EstViu& s : v.vius) {
    const Nodo& n = t.automat[size_t(s.estat)];
    for (int32_t i = 0; i < n.nmarques; ++i) {
      const int marque = t.marques[n.marques + uint32_t(i)];
      if (marque == FIN_DESCON) {
        RegTraduc& r = entrada.desc;
        r.hi_es = true;
        r.opcio = uint8_t(marca != 0);
        r.llarg_forma = uint16_t(forma.size());
        entrada.estat = 2;
        continue;
      }
      if (marque == FIN_TRADUC) {
        darrer = 1;
        entrada.estat = 1;
      } else {
        darrer = 0;
        // A piece with no output adds nothing to the reading.
        if (s.traduc == 0) continue;
      }
      if (ac.llista.size() >= ac.max_llista)
        Acaba(1, "Error: No queda memoria para crear nuevos estados vivos\n",
              v.sortida, v.desconegudes);
      ac.llista.push_back(Acceptat{s.traduc, marque});
    }
  }
  if (ac.llista.size() == primer) return;
  RegTraduc& r = entrada.anal;
  r.hi_es = true;
  r.a = uint8_t(a);
  r.b = uint8_t(b);
  r.opcio = uint8_t(apostrof == 1);
  r.llarg_forma = uint16_t(forma.size());
  r.primer = uint32_t(primer);
  r.nombre = uint32_t(ac.llista.size() - primer);
  if (entrada.estat != 1) entrada.estat = darrer == 1 ? 1 : 2;
}

void EscriuAnal(Acceptacio& ac, const Vius& v, const RegTraduc& r,
                const char* superficie, std::string& text) {
  const Transductor& t = *v.t;
  const Acceptat* llista = ac.llista.data() + r.primer;
  int peces = 0;
  bool complet = false;
  for (uint32_t i = 0; i < r.nombre; ++i) {
    if (llista[i].marca == FIN_PARCIAL) ++peces;
  }
  // With two or more pieces, the second piece wraps everything before it as
  // the first "<e>" element; the whole is wrapped in "<amb>".
  if (peces >= 2) text += "<amb><e>";
  int peca = 0;
  for (uint32_t i = 0; i < r.nombre; ++i) {
    const int n = Simbols(v, llista[i].traduc, ac.simbols);
    if (llista[i].marca == FIN_TRADUC) {
      complet = true;
      ObtenerTraduccio(t, ac.simbols, n, r.a, r.b, text);
      continue;
    }
    ++peca;
    // Every piece starts from a fresh one-shot flag.
    int unica = 1;
    if (peca == 1 && i == 0) {
      TraducParcial(t, ac.simbols, n, r.a, r.b, unica, text);
      continue;
    }
    text += peca == 2 ? "</e><e>" : "<e>";
    TraducParcial(t, ac.simbols, n, r.a, r.b, unica, text);
    text += "</e>";
  }
  if (peces >= 2) text += "</amb>";
  if (r.opcio == 1 && complet &&
      Apostrofada(std::string_view(superficie, r.llarg_forma)) == 1)
    text.push_back(' ');
}

void EscriuDesc(const RegTraduc& r, const char* superficie, std::string& text) {
  if (r.opcio == 1) text += "<d>";
  text.append(superficie, r.llarg_forma);
  if (r.opcio == 1) text += "</d>";
}

}  // namespace etiquem
