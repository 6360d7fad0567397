// The analysis loop; see analisis.h.

#include "driver/analisis.h"

#include <string_view>

#include "driver/trams.h"
#include "output/emissio.h"

namespace etiquem {

namespace {

// Drops the compound-only analysis of the position before `k` when a letter
// follows it: compound readings stand only at the end of a word.
void TreuPeces(Lector& l, int k) {
  PosBuffer& abans = l.buffer[(k + 255) & 255];
  if (abans.estat == 2 && abans.anal.hi_es) abans.anal.hi_es = false;
}

// Starts walking an attempt.
void Comenca(Analisi& an) {
  Inicialitzacio(an.v);
  IniciaAcceptacio(an.ac);
}

// Steps the walk over character `c`, the attempt's an.n-th, at entry `k`,
// and records what is accepted there.
void Pas(Analisi& an, int c, int k) {
  Lector& l = *an.l;
  if (Noalfa(*an.t, c) == 0) TreuPeces(l, k);
  PosBuffer& entrada = l.buffer[k];
  // Records left here by an earlier attempt belong to text already written;
  // only this attempt's count.
  entrada.estat = 0;
  entrada.anal.hi_es = false;
  entrada.desc.hi_es = false;
  if (an.n == 1) {
    an.ban = ComprobarEstatsVius(an.v, c);
    an.ban1 = an.ban;
  } else {
    an.ban1 = ComprobarEstatsVius(an.v, c);
  }
  ComprobarEstatsNous(an.v);
  CercarEstAccept(an.ac, an.v, std::string_view(an.superficie, size_t(an.n)),
                  an.ban, an.ban1, entrada, an.opcio_a, an.opcio_m);
}

// The attempt's characters so far, as they were stepped, back from the
// ring: while the memory answers, the surface is not kept.
void RefesSuperficie(Analisi& an) {
  const Lector& l = *an.l;
  for (int j = 0; j < an.n; ++j) {
    const PosBuffer& pos = l.buffer[(an.inici + j) & 255];
    an.superficie[j] = pos.tipus == SUPERBLANC ? ' ' : char(pos.car);
  }
}

// Steps the attempt's characters so far, which were followed in the memory.
void Materialitza(Analisi& an) {
  RefesSuperficie(an);
  const int n = an.n;
  Comenca(an);
  for (int j = 0; j < n; ++j) {
    an.n = j + 1;
    Pas(an, uint8_t(an.superficie[j]), (an.inici + j) & 255);
  }
}

// The attempt is over: the next one starts after position `p`.
void Despres(Analisi& an, int p) {
  an.l->acceso = etiquem::Seguent(p);
  an.l->leer = 0;
  an.prim = 1;
  an.n = 0;
  if (an.l->buffer[p - 1].ordre >= an.vigila) [[unlikely]]
    CompteTall(*an.treball, an, TallDespres(an, p));
}

// Writes the unknown word of the stretch's first `llarg` characters.
void Desconeguda(Analisi& an, uint32_t llarg) {
  if (an.opcio_d != 1 || an.desconegudes == nullptr) return;
  Escriu(*an.desconegudes, std::string_view(an.superficie, llarg));
  EscriuByte(*an.desconegudes, '\n');
}

// Writes the longest stretch of the walked attempt and, when `desa`, keeps
// the outcome in the memory. Returns the stretch's last position.
int EmetIntent(Analisi& an, bool desa) {
  Lector& l = *an.l;
  const int p = BuscaAccep(l, an.inici, an.n);
  const uint32_t llarg = uint32_t(((p - 1 - an.inici) & 255) + 1);
  const Lectures lec{&an.v, &an.ac, an.superficie};
  const PosBuffer& pos = l.buffer[p - 1];
  const FontText font = pos.anal.hi_es   ? LECTURA
                        : pos.desc.hi_es ? DESCONEGUDA
                                         : PROPI;
  an.contingut.clear();
  const bool desc = ContingutPosicio(l, lec, an.opcio_s, p, an.contingut);
  Escriu(*an.sortida, an.contingut);
  if (desc) Desconeguda(an, llarg);
  EmetSuperblancs(l, *an.sortida, l.buffer[p - 1].ordre);
  if (desa)
    DesaIntent(an.memoria, std::string_view(an.superficie, size_t(an.n)),
               llarg, an.contingut, font);
  LliurarVius(an.v);
  Despres(an, p);
  return p;
}

// Writes an attempt answered by the memory.
inline void EmetDeMemoria(Analisi& an, const NodeMemoria& node) {
  Lector& l = *an.l;
  const int p = ((an.inici + int(node.llarg) - 1) & 255) + 1;
  const PosBuffer& pos = l.buffer[p - 1];
  if (node.font == PROPI) {
    if (pos.tipus == CARACTER) EscriuByte(*an.sortida, char(pos.car));
  } else {
    Escriu(*an.sortida,
           std::string_view(an.memoria.textos).substr(node.text, node.mida));
  }
  if (node.font == DESCONEGUDA && an.opcio_d == 1) {
    RefesSuperficie(an);
    Desconeguda(an, node.llarg);
  }
  EmetSuperblancs(l, *an.sortida, l.buffer[p - 1].ordre);
  Despres(an, p);
}

// Follows the memory over the characters to be read again from the ring and
// the plain bytes already in the scanner's buffer (stored in the ring as the
// reader would store them), without a trip through the reader and the loop
// for every character: most of the text is read here. Runs only while the
// attempt (new, or so far answered by the memory) follows stored paths.
// Returns true when the attempt ended or left the stored paths here; false
// when the loop is to take the next character itself (a superblank, the end
// of the input, a '<', the end of the buffer, or no memory walk to make).
bool CorreMemoria(Analisi& an) {
  Lector& l = *an.l;
  if (!an.amb_memoria) return false;
  // Starts an attempt at the character at entry `k`, or says whether the
  // attempt under way follows the memory.
  auto segueix = [&an](int k) {
    if (an.prim == 1) {
      an.prim = 0;
      an.inici = k;
      an.n = 0;
      an.de_memoria = true;
      an.node_memoria = 0;
    }
    return an.de_memoria;
  };
  // What the memory answered for the attempt's latest character; returns
  // true when the attempt ended there.
  auto resposta = [&an](uint32_t fill) {
    if (fill & kTancat) {
      EmetDeMemoria(an, an.memoria.nodes[fill & ~kTancat]);
      return true;
    }
    if (fill != 0) {
      an.node_memoria = fill;
      return false;
    }
    // Off the stored paths: walk the attempt from its start.
    an.de_memoria = false;
    Materialitza(an);
    if (an.v.vius.empty() || an.n == kMaxPassos) EmetIntent(an, true);
    return true;
  };
  // Characters read again from the ring.
  while (l.leer == 0) {
    const PosBuffer& pos = l.buffer[l.acceso - 1];
    if (pos.tipus == BUIDA) break;  // the next one comes fresh
    if (pos.tipus != CARACTER || !segueix(l.acceso - 1)) return false;
    l.acceso = Seguent(l.acceso);
    ++an.n;
    if (resposta(BuscaMemoria(an.memoria, an.node_memoria, pos.car)))
      return true;
  }
  // Plain bytes already in the scanner's buffer.
  Escaner& e = *l.escaner;
  if (e.condicio != INITIAL || e.pos == e.fi || e.buf[e.pos] == '<' ||
      !segueix(l.indice - 1))
    return false;
  const char* bytes = e.buf.data() + e.pos;
  const size_t disponibles = e.fi - e.pos;
  const uint64_t ordre = PosicioEntrada(e);  // of bytes[i] is ordre + i + 1
  uint32_t node = an.node_memoria;
  uint32_t fill = 0;
  size_t i = 0;
  while (i < disponibles && bytes[i] != '<') {
    const uint8_t c = uint8_t(bytes[i++]);
    GuardaEnTira(l, c, ordre + i);
    fill = BuscaMemoria(an.memoria, node, c);
    if (fill == 0 || (fill & kTancat)) break;
    node = fill;
  }
  if (i > 0) NetejaSeguent(l);
  e.pos += i;
  an.n += int(i);
  an.node_memoria = node;
  if (fill != 0 && !(fill & kTancat)) return false;  // the buffer ran out
  return resposta(fill);
}

}  // namespace

Tall TallDespres(const Analisi& an, int p) {
  const Lector& l = *an.l;
  const int q = Seguent(p);
  Tall t;
  // With nothing read after it, the next attempt starts at the scanner's
  // next byte; otherwise at the first position read again.
  t.x = q == l.indice ? PosicioEntrada(*l.escaner) : l.buffer[q - 1].ordre - 1;
  t.net = l.superblancs.empty() && l.escaner->condicio == INITIAL;
  for (int r = q; t.net && r != l.indice; r = Seguent(r))
    t.net = l.buffer[r - 1].tipus == CARACTER;
  return t;
}

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
  BuidaMemoria(an.memoria);
  an.de_memoria = false;
}

void Analisis(Analisi& an, int superficie, int desc, int apostrof, int marca) {
  Lector& l = *an.l;
  an.opcio_s = superficie;
  an.opcio_d = desc;
  an.opcio_a = apostrof;
  an.opcio_m = marca;
  l.leer = 1;
  an.prim = 1;
  an.n = 0;
  an.inici = 0;
  for (;;) {
    if (an.atura) [[unlikely]] return;
    if (CorreMemoria(an)) continue;
    int k = 0;
    const int c = ObtenerCaracter(l, k);
    if (c == FI_ENTRADA) {
      if (an.prim == 1) return;
      // The input ended inside an attempt: write its longest stretch; what
      // stands after it is analysed like any other input, re-read from the
      // ring up to the end mark.
      if (an.de_memoria) {
        an.de_memoria = false;
        Materialitza(an);
      }
      const int p = EmetIntent(an, false);
      if (l.buffer[Seguent(p) - 1].tipus == FINAL) return;
      continue;
    }
    if (an.prim == 1) {
      an.prim = 0;
      an.inici = k;
      an.n = 0;
      an.de_memoria = an.amb_memoria;
      an.node_memoria = 0;
      if (!an.de_memoria) Comenca(an);
    }
    if (an.de_memoria) {
      ++an.n;
      const uint32_t fill =
          BuscaMemoria(an.memoria, an.node_memoria, uint8_t(c));
      if (fill & kTancat) {
        EmetDeMemoria(an, an.memoria.nodes[fill & ~kTancat]);
        continue;
      }
      if (fill != 0) {
        an.node_memoria = fill;
        continue;
      }
      // Off the stored paths: walk the attempt from its start.
      an.de_memoria = false;
      Materialitza(an);
    } else {
      an.superficie[an.n++] = char(c);
      Pas(an, c, k);
    }
    if (an.v.vius.empty() || an.n == kMaxPassos) EmetIntent(an, an.amb_memoria);
  }
}

}  // namespace etiquem
