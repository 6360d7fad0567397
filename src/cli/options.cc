// Start-up; see options.h.

#include "cli/options.h"

#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "engine/analysis.h"
#include "engine/automaton.h"
#include "engine/output_buffer.h"
#include "engine/pieces.h"
#include "engine/reader.h"
#include "engine/scanner.h"

namespace etiquem {

namespace {

constexpr const char kUsageText[] =
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

[[noreturn]] void ExitWith(int status, const std::string& message) {
  Terminate(status, message);
}

// A closed standard descriptor would be taken by the next open(), and the
// program would then write its output into another file. Each closed one is
// held by /dev/null opened the wrong way round, so using it still fails.
void ProtectDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    int null_fd = open("/dev/null", fd == 0   ? O_WRONLY
                                    : fd == 1 ? O_RDONLY
                                              : O_WRONLY);
    if (null_fd >= 0 && null_fd != fd) {
      dup2(null_fd, fd);
      close(null_fd);
    }
  }
}

// Writes out what is left and closes the files; the exit status.
int FinishOutputs(const CommandLine& o, int input_fd, OutputBuffer& output,
                  OutputBuffer& unknown_output) {
  Flush(output);
  if (o.unknown_file == 1) {
    Flush(unknown_output);
    if (close(unknown_output.fd) != 0)
      ExitWith(1,
               "Error: No se pudo cerrar el fitxer de les paraules "
               "desconegudes\n");
  }
  return close(input_fd) == 0 ? 0 : 255;
}

}  // namespace

void ParseCommandLine(int argc, char** argv, CommandLine& o) {
  int c;
  while ((c = getopt(argc, argv, "hsf:b:d:am")) != -1) {
    switch (c) {
      case 'a':
        o.apostrophe_blank = 1;
        break;
      case 'b':
        o.has_automaton_file = 1;
        o.automaton_path = optarg;
        break;
      case 'd':
        o.unknown_file = 1;
        o.unknown_path = optarg;
        break;
      case 'f':
        o.has_input_file = 1;
        o.input_path = optarg;
        break;
      case 'm':
        o.mark_unknown = 1;
        break;
      case 's':
        o.surface_forms = 1;
        break;
      case 'h': {
        OutputBuffer usage;
        Write(usage, kUsageText);
        Flush(usage);
        _exit(0);
      }
      default:
        ExitWith(1,
                 "Utilice 'etiquem -h' para obtener m\xe1s informaci\xf3n\n");
    }
  }
  if (optind < argc) {
    std::string m = "Hay opciones no v\xe1lidas en la entrada: ";
    for (int i = optind; i < argc; ++i) {
      m += argv[i];
      m += ' ';
    }
    m += '\n';
    ExitWith(1, m);
  }
}

int RunProgram(int argc, char** argv) {
  ProtectDescriptors();
  CommandLine o;
  ParseCommandLine(argc, argv, o);
  if (o.has_automaton_file == 0) o.automaton_path = kDefaultAutomatonPath;

  int input_fd = 0;
  if (o.has_input_file == 1) {
    input_fd = open(o.input_path, O_RDONLY | O_CLOEXEC);
    if (input_fd < 0)
      ExitWith(1, std::string("Error: El fichero ") + o.input_path +
                      " no existe o no se pudo abrir\n");
  }

  auto t = std::make_unique<Automaton>();
  ResetAutomaton(*t);
  std::string error;
  int status = 0;
  if (!LoadAutomatonFile(*t, o.automaton_path, error, status))
    ExitWith(status, error);

  OutputBuffer unknown_output;
  unknown_output.name = "el fitxer de les paraules desconegudes";
  if (o.unknown_file == 1) {
    unknown_output.fd =
        open(o.unknown_path, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (unknown_output.fd < 0)
      ExitWith(1,
               "Error: El fitxer de les paraules desconegudes no ha pogut "
               "obrir-se\n");
  }

  OutputBuffer output;
  // A regular file is analysed in pieces on several threads (same bytes
  // out); pipes and terminals are read as they come.
  PieceParameters piece_parameters;
  piece_parameters.threads = PieceThreads();
  int64_t start = 0;
  uint64_t size = 0;
  if (PiecesWorthwhile(input_fd, piece_parameters, start, size) &&
      AnalyseInPieces(t.get(), input_fd, start, size,
                      AnalysisOptions{o.surface_forms, o.unknown_file,
                                      o.apostrophe_blank, o.mark_unknown},
                      piece_parameters, output,
                      o.unknown_file == 1 ? &unknown_output : nullptr))
    return FinishOutputs(o, input_fd, output, unknown_output);
  auto scanner = std::make_unique<Scanner>();
  InitScanner(*scanner, input_fd);
  scanner->flush_before_read = &output;
  auto reader = std::make_unique<Reader>();
  InitReader(*reader, scanner.get());
  auto analysis = std::make_unique<Analysis>();
  InitAnalysis(*analysis, t.get(), reader.get(), &output,
               o.unknown_file == 1 ? &unknown_output : nullptr);
  RunAnalysis(*analysis, o.surface_forms, o.unknown_file, o.apostrophe_blank,
              o.mark_unknown);
  return FinishOutputs(o, input_fd, output, unknown_output);
}

}  // namespace etiquem
