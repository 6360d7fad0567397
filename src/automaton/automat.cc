// Loading the automaton file and the lookups on the loaded model.
//
// The file is read whole with a few read(2) calls and parsed from memory.
// Parsing runs twice over the bytes: the first pass checks every count and
// length against the bytes that remain (so a hostile count never makes us
// allocate more than the file could describe) and counts groups and moves;
// the second fills vectors of exactly that size. A file that ends early or
// holds impossible values is refused with one line naming the file, what is
// wrong and where.

#include "automaton/automat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace etiquem {

namespace {

// A read position in the file's bytes. Reads past the end set `curt`.
struct Cursor {
  const uint8_t* dades;
  size_t mida;
  size_t pos = 0;
  bool curt = false;  // the file ended before a field

  bool Queda(size_t n) const { return mida - pos >= n; }

  int32_t Int32() {
    if (!Queda(4)) {
      curt = true;
      return 0;
    }
    uint32_t v = uint32_t(dades[pos]) | uint32_t(dades[pos + 1]) << 8 |
                 uint32_t(dades[pos + 2]) << 16 | uint32_t(dades[pos + 3]) << 24;
    pos += 4;
    return int32_t(v);
  }

  int16_t Int16() {
    if (!Queda(2)) {
      curt = true;
      return 0;
    }
    uint16_t v = uint16_t(dades[pos] | dades[pos + 1] << 8);
    pos += 2;
    return int16_t(v);
  }
};

// Where a parse stands; `error` is set at the first fault.
struct Analitzant {
  Cursor c;
  const char* nom;
  std::string error;
  uint64_t ngrups = 0;      // groups counted in the first pass
  uint64_t nmoviments = 0;  // moves counted in the first pass
  uint64_t nmarques = 0;    // marker groups counted in the first pass
};

void Falla(Analitzant& a, const std::string& que) {
  if (!a.error.empty()) return;
  a.error = "Error: El fichero binario " + std::string(a.nom) +
            " no es v\xe1lido: " + que + " (byte " + std::to_string(a.c.pos) +
            ")\n";
}

bool Curt(Analitzant& a) {
  if (a.c.curt) Falla(a, "termina antes de tiempo");
  return !a.error.empty();
}

bool EsMarca(int lo) {
  return lo == FIN_TRADUC || lo == FIN_PARCIAL || lo == FIN_DESCON;
}

// Alloc helpers in the shape of the model's allocation functions: each ends
// the load with its own message when memory runs out.
template <typename T>
bool Reserva(std::vector<T>& v, uint64_t n, const char* missatge,
             std::string& error) {
  try {
    v.assign(size_t(n), T{});
  } catch (const std::bad_alloc&) {
    error = missatge;
    return false;
  }
  return true;
}

bool CrearNodo(Transductor& t, uint64_t n, std::string& error) {
  return Reserva(t.automat, n, "Error: Memoria insuficient en CrearNodo\n",
                 error);
}
bool CrearTrans(Transductor& t, uint64_t n, std::string& error) {
  return Reserva(t.grups, n, "Error: Memoria insuficient en CrearTrans\n",
                 error);
}
bool CrearStrans(Transductor& t, uint64_t n, std::string& error) {
  return Reserva(t.moviments, n, "Error: Memoria insuficient en CrearStrans\n",
                 error);
}
bool CrearDefs(Transductor& t, int32_t n, std::string& error) {
  return Reserva(t.defines, uint64_t(n),
                 "Error: Mem\xf2ria insuficient en Creardefs\n", error);
}

// Alphabet and defines; both passes need them, so they are read once.
bool LlegirSimbols(Analitzant& a, Transductor& t) {
  int32_t longalf = a.c.Int32();
  if (a.c.curt) return !Curt(a);
  if (longalf < 0) {
    Falla(a, "longitud de alfabeto negativa");
    return false;
  }
  if (!a.c.Queda(size_t(longalf))) {
    a.c.pos = a.c.mida;
    Falla(a, "termina antes de tiempo");
    return false;
  }
  t.longalf = longalf;
  t.alfabeto.assign(reinterpret_cast<const char*>(a.c.dades + a.c.pos),
                    size_t(longalf));
  a.c.pos += size_t(longalf);

  int32_t cdef = a.c.Int32();
  if (a.c.curt) return !Curt(a);
  if (cdef < 0) {
    Falla(a, "n\xfamero de s\xedmbolos negativo");
    return false;
  }
  // Each define takes at least 8 bytes.
  if (uint64_t(cdef) * 8 > a.c.mida - a.c.pos) {
    a.c.pos = a.c.mida;
    Falla(a, "termina antes de tiempo");
    return false;
  }
  if (!CrearDefs(t, cdef, a.error)) return false;
  t.cdef = cdef;
  for (int32_t i = 0; i < cdef; ++i) {
    int32_t llarg = a.c.Int32();
    if (a.c.curt) return !Curt(a);
    if (llarg < 0) {
      Falla(a, "longitud de nombre negativa");
      return false;
    }
    if (!a.c.Queda(size_t(llarg))) {
      a.c.pos = a.c.mida;
      Falla(a, "termina antes de tiempo");
      return false;
    }
    // Names are shown up to their first zero byte.
    const char* nom = reinterpret_cast<const char*>(a.c.dades + a.c.pos);
    t.defines[size_t(i)].nom.assign(nom, strnlen(nom, size_t(llarg)));
    a.c.pos += size_t(llarg);
    t.defines[size_t(i)].codi = a.c.Int32();
    if (a.c.curt) return !Curt(a);
  }
  t.nom_de_codi.assign(32768, -1);
  for (int32_t i = cdef - 1; i >= 0; --i) {
    int32_t codi = t.defines[size_t(i)].codi;
    if (codi >= 0 && codi < 32768) t.nom_de_codi[size_t(codi)] = i;
  }
  return true;
}

// Whether output symbol `lm` can be written: characters always, symbols of
// 258 and above only when a define has that code.
bool SimbolConegut(const Transductor& t, int16_t lm) {
  return lm < PRIMER_DEFINE || t.nom_de_codi[size_t(lm)] >= 0;
}

// Reads one list. First pass (`omplir` false): checks and counts. Second
// pass: fills `grups` and `moviments` from the given indices on.
bool LlegirLlista(Analitzant& a, Transductor& t, bool omplir, bool epsilon,
                  int32_t estat, int32_t& ngrups, size_t& grup,
                  size_t& moviment, size_t& marca) {
  int32_t n = a.c.Int32();
  if (a.c.curt) return !Curt(a);
  ngrups = n > 0 ? n : 0;
  // Each group takes at least 6 bytes.
  if (!omplir && uint64_t(ngrups) * 6 > a.c.mida - a.c.pos) {
    a.c.pos = a.c.mida;
    Falla(a, "termina antes de tiempo");
    return false;
  }
  for (int32_t g = 0; g < ngrups; ++g) {
    int16_t lo = a.c.Int16();
    int32_t m = a.c.Int32();
    if (a.c.curt) return !Curt(a);
    if (m < 0) {
      Falla(a, "n\xfamero de transiciones negativo en el estado " +
                   std::to_string(estat));
      return false;
    }
    if (!a.c.Queda(size_t(m) * 6)) {
      a.c.pos = a.c.mida;
      Falla(a, "termina antes de tiempo");
      return false;
    }
    // Only groups that a live state can follow need writable symbols.
    bool seguible = epsilon ? g == 0 : (lo >= 0 && lo <= 255);
    if (omplir) {
      Trans& tr = t.grups[grup++];
      tr.lo = lo;
      tr.nstrans = m;
      tr.strans = t.moviments.data() + moviment;
      t.claus[grup - 1] = lo;
      if (!epsilon && EsMarca(lo)) t.marques[marca++] = lo;
    } else {
      a.ngrups += 1;
      a.nmoviments += uint64_t(m);
      if (!epsilon && EsMarca(lo)) a.nmarques += 1;
    }
    // The moves are known to be there: read them without per-field checks.
    const uint8_t* p = a.c.dades + a.c.pos;
    a.c.pos += size_t(m) * 6;
    if (omplir) {
      Strans* desti = t.moviments.data() + moviment;
      moviment += size_t(m);
      for (int32_t i = 0; i < m; ++i, p += 6) {
        desti[i].lm = int16_t(uint16_t(p[0] | p[1] << 8));
        desti[i].des = int32_t(uint32_t(p[2]) | uint32_t(p[3]) << 8 |
                               uint32_t(p[4]) << 16 | uint32_t(p[5]) << 24);
      }
    } else if (seguible) {
      for (int32_t i = 0; i < m; ++i, p += 6) {
        const int16_t lm = int16_t(uint16_t(p[0] | p[1] << 8));
        if (!SimbolConegut(t, lm)) {
          Falla(a, "el s\xedmbolo " + std::to_string(lm) +
                       " no est\xe1 definido (estado " +
                       std::to_string(estat) + ")");
          return false;
        }
      }
    }
  }
  return true;
}

// One pass over the state records.
bool LlegirEstats(Analitzant& a, Transductor& t, bool omplir) {
  int32_t n = a.c.Int32();
  if (a.c.curt) return !Curt(a);
  if (n < 0) {
    Falla(a, "n\xfamero de estados negativo");
    return false;
  }
  if (n == 0) {
    Falla(a, "no tiene ning\xfan estado");
    return false;
  }
  // Each state takes at least 10 bytes.
  if (uint64_t(n) * 10 > a.c.mida - a.c.pos) {
    a.c.pos = a.c.mida;
    Falla(a, "termina antes de tiempo");
    return false;
  }
  size_t grup = 0, moviment = 0, marca = 0;
  for (int32_t k = 0; k < n; ++k) {
    Nodo node{};
    node.estado = a.c.Int32();
    int16_t flag = a.c.Int16();
    if (a.c.curt) return !Curt(a);
    if (flag == 1) {
      size_t primer = grup;
      if (!LlegirLlista(a, t, omplir, true, k, node.neps, grup, moviment,
                        marca))
        return false;
      if (omplir && node.neps > 0) node.eps = &t.grups[primer];
    }
    size_t primer = grup;
    size_t primera_marca = marca;
    if (!LlegirLlista(a, t, omplir, false, k, node.ntrans, grup, moviment,
                      marca))
      return false;
    if (omplir) {
      if (node.ntrans > 0) {
        node.trans = &t.grups[primer];
        node.claus = &t.claus[primer];
      }
      node.marques = uint32_t(primera_marca);
      node.nmarques = int32_t(marca - primera_marca);
      t.automat[size_t(k)] = node;
    }
  }
  t.nestats = n;
  return true;
}

// Refuses a file in which epsilon moves that the matcher follows (those of a
// state's first epsilon group) form a cycle: closing such a state would never
// end. Iterative depth-first search, so deep chains do not exhaust the stack.
bool SenseCicles(const Transductor& t, const char* nom, std::string& error) {
  const size_t n = t.automat.size();
  std::vector<uint8_t> color(n, 0);  // 0 unseen, 1 on the path, 2 done
  std::vector<std::pair<int32_t, int32_t>> pila;  // (state, next move)
  for (size_t arrel = 0; arrel < n; ++arrel) {
    if (color[arrel] != 0) continue;
    pila.push_back({int32_t(arrel), 0});
    color[arrel] = 1;
    while (!pila.empty()) {
      auto& [estat, seguent] = pila.back();
      const Nodo& node = t.automat[size_t(estat)];
      const int32_t moviments = node.neps > 0 ? node.eps[0].nstrans : 0;
      if (seguent == moviments) {
        color[size_t(estat)] = 2;
        pila.pop_back();
        continue;
      }
      int32_t des = node.eps[0].strans[seguent++].des;
      if (des < 0 || size_t(des) >= n) continue;  // reported when followed
      if (color[size_t(des)] == 1) {
        error = "Error: El fichero binario " + std::string(nom) +
                " no es v\xe1lido: ciclo de transiciones vac\xed" "as en el "
                "estado " +
                std::to_string(des) + "\n";
        return false;
      }
      if (color[size_t(des)] == 0) {
        color[size_t(des)] = 1;
        pila.push_back({des, 0});
      }
    }
  }
  return true;
}

// Membership by the same halving search a sorted alphabet needs, tabulated
// once per byte, so that an unsorted alphabet answers as it always would.
void TabularAlfabet(Transductor& t) {
  const std::string& a = t.alfabeto;
  for (int c = 0; c < 256; ++c)
    t.es_lletra[c] =
        Meitats([&a](int32_t i) { return int32_t(uint8_t(a[size_t(i)])); }, c,
                t.longalf) >= 0;
}

// Direct tables for the states with many groups, filled by the search
// itself so that an unsorted list answers exactly as it would be searched.
bool TabularGrups(Transductor& t, std::string& error) {
  size_t n = 0;
  for (Nodo& node : t.automat) {
    if (node.ntrans >= kGrupsAmbTaula) ++n;
    node.escombra = node.ntrans > 0 && node.ntrans <= kGrupsEscombrats;
    for (int32_t i = 1; node.escombra && i < node.ntrans; ++i)
      node.escombra = node.claus[i - 1] < node.claus[i];
  }
  if (!Reserva(t.taules, uint64_t(n) * 256,
               "Error: Memoria insuficient en CrearTrans\n", error))
    return false;
  size_t i = 0;
  for (Nodo& node : t.automat) {
    if (node.ntrans < kGrupsAmbTaula) continue;
    int32_t* taula = &t.taules[i];
    for (int c = 0; c < 256; ++c)
      taula[c] = BuscClau(node.claus, c, node.ntrans);
    node.taula = taula;
    i += 256;
  }
  return true;
}

}  // namespace

void Inicio(Transductor& t) { t = Transductor{}; }

bool GenautoDeMemoria(Transductor& t, const char* nom, const uint8_t* dades,
                      size_t mida, std::string& error) {
  Inicio(t);
  Analitzant a{Cursor{dades, mida}, nom, {}};
  if (!LlegirSimbols(a, t)) {
    error = a.error;
    Inicio(t);
    return false;
  }
  const size_t inici_estats = a.c.pos;
  if (!LlegirEstats(a, t, false)) {
    error = a.error;
    Inicio(t);
    return false;
  }
  if (!CrearNodo(t, uint64_t(t.nestats), error) ||
      !CrearTrans(t, a.ngrups, error) ||
      !CrearStrans(t, a.nmoviments, error) ||
      !Reserva(t.marques, a.nmarques, "Error: Memoria insuficient en CrearTrans\n",
               error) ||
      !Reserva(t.claus, a.ngrups + kGrupsEscombrats,
               "Error: Memoria insuficient en CrearTrans\n", error)) {
    Inicio(t);
    return false;
  }
  a.c.pos = inici_estats;
  LlegirEstats(a, t, true);
  TabularAlfabet(t);
  t.destins_valids = true;
  for (const Strans& m : t.moviments)
    if (m.des < 0 || m.des >= t.nestats) t.destins_valids = false;
  if (!TabularGrups(t, error)) {
    Inicio(t);
    return false;
  }
  if (!SenseCicles(t, nom, error)) {
    Inicio(t);
    return false;
  }
  return true;
}

bool Genauto(Transductor& t, const char* fitxer, std::string& error,
             int& estat_sortida) {
  estat_sortida = 255;
  int fd = open(fitxer, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "Error: El fichero binario " + std::string(fitxer) +
            " no existe o no se puedo abrir\n";
    return false;
  }
  struct stat st;
  size_t previst = (fstat(fd, &st) == 0 && st.st_size > 0)
                       ? size_t(st.st_size)
                       : size_t(1) << 16;
  std::vector<uint8_t> dades;
  size_t mida = 0;
  try {
    dades.resize(previst + 1);
    for (;;) {
      if (mida == dades.size()) dades.resize(dades.size() * 2);
      ssize_t r = read(fd, dades.data() + mida, dades.size() - mida);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        error = "Error: No se pudo leer el fichero binario " +
                std::string(fitxer) + ": " + strerror(errno) + "\n";
        close(fd);
        return false;
      }
      if (r == 0) break;
      mida += size_t(r);
    }
  } catch (const std::bad_alloc&) {
    error = "Error: Memoria insuficient en CrearNodo\n";
    close(fd);
    return false;
  }
  close(fd);
  return GenautoDeMemoria(t, fitxer, dades.data(), mida, error);
}

const std::string* CorrespDef(const Transductor& t, int32_t codi) {
  if (codi >= 0 && codi < int32_t(t.nom_de_codi.size())) {
    int32_t i = t.nom_de_codi[size_t(codi)];
    return i < 0 ? nullptr : &t.defines[size_t(i)].nom;
  }
  for (const Def& d : t.defines)
    if (d.codi == codi) return &d.nom;
  return nullptr;
}

int mayusculas(int32_t c) {
  const int b = c & 0xFF;
  if (b >= 97 && b <= 122) return b - 32;
  switch (b) {
    case 0xE0: case 0xE1: case 0xE8: case 0xE9: case 0xEC: case 0xED:
    case 0xEF: case 0xF1: case 0xF2: case 0xF3: case 0xF9: case 0xFA:
    case 0xFC:
      return b - 32;
    default:
      return b;
  }
}

}  // namespace etiquem
