// Start-up; see opcions.h.

#include "driver/opcions.h"

#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "automaton/automat.h"
#include "driver/analisis.h"
#include "driver/trams.h"
#include "input/escaner.h"
#include "input/lector.h"
#include "output/sortida.h"

namespace etiquem {

namespace {

constexpr const char kUs[] =
    "Forma de uso: etiquem [OPCIONES] [FICHEROS]\n"
    "  -f: Analiza el contenido de un fichero ASCII\n"
    "      Necesita el nombre del fichero a analizar\n"
    "  -s: Muestra la forma superficial\n"
    "  -m: Marca las palabras desconocidas\n"
    "  -d: Genera un fichero con las palabras desconocidas para el analizador\n"
    "      morfol\xf3gico. Necesita el nombre del fichero\n"
    "  -a: Genera un espacio en blanco despu\xe9s de una forma apostrofada\n"
    "  -b: Lee el aut\xf3mata del fichero binario que se le pasa como par\xe1metro\n"
    "  sin opciones: Analiza la entrada est\xe1ndar y lee el fichero binario por "
    "defecto\n"
    "  -h: Imprime esta ayuda\n";

[[noreturn]] void Surt(int estat, const std::string& missatge) {
  Acaba(estat, missatge);
}

// A closed standard descriptor would be taken by the next open(), and the
// program would then write its output into another file. Each closed one is
// held by /dev/null opened the wrong way round, so using it still fails.
void ProtegeixDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    int nou = open("/dev/null", fd == 0 ? O_WRONLY : fd == 1 ? O_RDONLY
                                                             : O_WRONLY);
    if (nou >= 0 && nou != fd) {
      dup2(nou, fd);
      close(nou);
    }
  }
}

// Writes out what is left and closes the files; the exit status.
int Acabament(const Opcions& o, int entrada, Sortida& sortida,
              Sortida& desconegudes) {
  Buida(sortida);
  if (o.d == 1) {
    Buida(desconegudes);
    if (close(desconegudes.fd) != 0)
      Surt(1, "Error: No se pudo cerrar el fitxer de les paraules "
              "desconegudes\n");
  }
  return close(entrada) == 0 ? 0 : 255;
}

}  // namespace

void ObrirFitxers(int argc, char** argv, Opcions& o) {
  int c;
  while ((c = getopt(argc, argv, "hsf:b:d:am")) != -1) {
    switch (c) {
      case 'a': o.a = 1; break;
      case 'b': o.b = 1; o.fit_bin = optarg; break;
      case 'd': o.d = 1; o.fit_desc = optarg; break;
      case 'f': o.f = 1; o.fit_lec = optarg; break;
      case 'm': o.m = 1; break;
      case 's': o.s = 1; break;
      case 'h': {
        Sortida us;
        Escriu(us, kUs);
        Buida(us);
        _exit(0);
      }
      default:
        Surt(1, "Utilice 'etiquem -h' para obtener m\xe1s informaci\xf3n\n");
    }
  }
  if (optind < argc) {
    std::string m = "Hay opciones no v\xe1lidas en la entrada: ";
    for (int i = optind; i < argc; ++i) {
      m += argv[i];
      m += ' ';
    }
    m += '\n';
    Surt(1, m);
  }
}

int Executa(int argc, char** argv) {
  ProtegeixDescriptors();
  Opcions o;
  ObrirFitxers(argc, argv, o);
  if (o.b == 0) o.fit_bin = kFitxerBinari;

  int entrada = 0;
  if (o.f == 1) {
    entrada = open(o.fit_lec, O_RDONLY | O_CLOEXEC);
    if (entrada < 0)
      Surt(1, std::string("Error: El fichero ") + o.fit_lec +
                  " no existe o no se pudo abrir\n");
  }

  auto t = std::make_unique<Transductor>();
  Inicio(*t);
  std::string error;
  int estat = 0;
  if (!Genauto(*t, o.fit_bin, error, estat)) Surt(estat, error);

  Sortida desconegudes;
  desconegudes.nom = "el fitxer de les paraules desconegudes";
  if (o.d == 1) {
    desconegudes.fd =
        open(o.fit_desc, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (desconegudes.fd < 0)
      Surt(1,
           "Error: El fitxer de les paraules desconegudes no ha pogut "
           "obrir-se\n");
  }

  Sortida sortida;
  // A regular file is analysed in trams on several threads (same bytes
  // out); pipes and terminals are read as they come.
  ParametresTrams trams;
  trams.fils = FilsDeTrams();
  int64_t inici = 0;
  uint64_t mida = 0;
  if (TramsConvenen(entrada, trams, inici, mida) &&
      AnalitzaEnTrams(t.get(), entrada, inici, mida,
                      OpcionsAnalisi{o.s, o.d, o.a, o.m}, trams, sortida,
                      o.d == 1 ? &desconegudes : nullptr))
    return Acabament(o, entrada, sortida, desconegudes);
  auto escaner = std::make_unique<Escaner>();
  IniciaEscaner(*escaner, entrada);
  escaner->abans_de_llegir = &sortida;
  auto lector = std::make_unique<Lector>();
  IniciaLector(*lector, escaner.get());
  auto an = std::make_unique<Analisi>();
  IniciaAnalisi(*an, t.get(), lector.get(), &sortida,
                o.d == 1 ? &desconegudes : nullptr);
  Analisis(*an, o.s, o.d, o.a, o.m);
  return Acabament(o, entrada, sortida, desconegudes);
}

}  // namespace etiquem
