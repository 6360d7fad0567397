// Acceptance recording; see accepta.h.

#include "matching/accepta.h"

#include "matching/traduccio.h"

namespace etiquem {

namespace {

void Desconeguda(PosBuffer& entrada, std::string_view forma, int marca) {
  RegTraduc& r = entrada.desc;
  r.hi_es = true;
  r.forma.assign(forma);
  if (marca != 0) {
    r.text.assign("<d>");
    r.text.append(forma);
    r.text.append("</d>");
  } else {
    r.text.assign(forma);
  }
  entrada.estat = 2;
}

// Adds a rendered piece (in ac.peca) to the reading; `peces` already counts
// it. The second piece wraps the whole former reading as the first "<e>".
void AfegeixPeca(Acceptacio& ac, int peces, bool hi_ha_lectura) {
  if (!hi_ha_lectura) {
    ac.lectura.swap(ac.peca);
  } else if (peces == 2) {
    ac.aux.assign("<e>");
    ac.aux += ac.lectura;
    ac.aux += "</e><e>";
    ac.aux += ac.peca;
    ac.aux += "</e>";
    ac.lectura.swap(ac.aux);
  } else {
    ac.lectura += "<e>";
    ac.lectura += ac.peca;
    ac.lectura += "</e>";
  }
}

}  // namespace

void CercarEstAccept(Acceptacio& ac, const Vius& v, std::string_view forma,
                     int a, int b, PosBuffer& entrada, int apostrof,
                     int marca) {
  const Transductor& t = *v.t;
  entrada.estat = 0;
  bool hi_ha_lectura = false;
  int peces = 0;
  int darrer = 0;  // 1: the last complete-or-partial marker was complete
  int ap = 0;
  ac.lectura.clear();
  for (const EstViu& s : v.vius) {
    const Nodo& n = t.automat[size_t(s.estat)];
    if (n.nmarques == 0) continue;
    int unica = 1;
    for (int32_t i = 0; i < n.nmarques; ++i) {
      const int marque = t.marques[n.marques + uint32_t(i)];
      if (marque == FIN_PARCIAL) {
        const int llarg = Simbols(v, s.traduc, ac.simbols);
        ac.peca.clear();
        const bool hi_es = TraducParcial(t, ac.simbols, llarg, a, b, unica,
                                         ac.peca);
        darrer = 0;
        unica = 1;
        if (hi_es) {
          ++peces;
          AfegeixPeca(ac, peces, hi_ha_lectura);
          hi_ha_lectura = true;
        }
      } else if (marque == FIN_DESCON) {
        Desconeguda(entrada, forma, marca);
      } else {  // FIN_TRADUC
        darrer = 1;
        entrada.estat = 1;
        if (apostrof == 1 && ap == 0) ap = Apostrofada(forma);
        const int llarg = Simbols(v, s.traduc, ac.simbols);
        ObtenerTraduccio(t, ac.simbols, llarg, a, b, ac.lectura);
        hi_ha_lectura = true;
      }
    }
  }
  if (!hi_ha_lectura) return;
  RegTraduc& r = entrada.anal;
  r.hi_es = true;
  r.forma.assign(forma);
  if (peces >= 2) {
    r.text.assign("<amb>");
    r.text += ac.lectura;
    r.text += "</amb>";
  } else {
    r.text.swap(ac.lectura);
  }
  if (ap == 1) r.text.push_back(' ');
  if (entrada.estat != 1) entrada.estat = darrer == 1 ? 1 : 2;
}

}  // namespace etiquem
