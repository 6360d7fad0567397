// Every text that etiquem shows its users, in one place: the usage text, the
// hints, and the one-line error messages with the exit status each ends with.
//
// These bytes are a contract. Scripts match them and users recognise them, so
// they stay byte for byte what they have always been: Latin-1, in the
// language each was first written in (the historical messages in Spanish and
// Catalan; those added since in English). Change one only on purpose, with
// its test.
//
// A message with variable parts is a function that composes it; the fixed
// texts are constants. Every message is one line and ends in '\n'.

#ifndef ETIQUEM_ENGINE_MESSAGES_H_
#define ETIQUEM_ENGINE_MESSAGES_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace etiquem::messages {

// Exit statuses.
constexpr int kStatusFailure = 1;        // command line, files, writing, memory
constexpr int kStatusReadFailed = 2;     // reading the input
constexpr int kStatusBadAutomaton = 255; // missing or broken automaton file

// ---- The command line ----

// Written by -h on standard output.
inline constexpr char kUsage[] =
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

// After getopt's own complaint about an option.
inline constexpr char kUsageHint[] =
    "Utilice 'etiquem -h' para obtener m\xe1s informaci\xf3n\n";

// Arguments left over after the options.
std::string InvalidArguments(int count, char* const* arguments);

// ---- Long options and the version (added since) ----

// --help writes kUsage, then one line per long option, "  --NAME: TEXT\n",
// in the order of the table in cli/options.cc; these are the TEXTs.
inline constexpr char kHelpOptionText[] =
    "Prints this help, with the long options";
inline constexpr char kVersionOptionText[] =
    "Prints the name and version of the program";
inline constexpr char kUtf8OptionText[] =
    "Reads and writes UTF-8 text (the dictionary stays Latin-1)";
inline constexpr char kJsonOptionText[] =
    "Writes JSON Lines: each written piece, with its readings";
std::string LongOptionLine(std::string_view name, std::string_view text);

// --version: "etiquem VERSION\n".
std::string VersionLine(std::string_view version);

// ---- Files ----

std::string InputNotOpened(std::string_view path);
inline constexpr char kUnknownWordsNotOpened[] =
    "Error: El fitxer de les paraules desconegudes no ha pogut obrir-se\n";
inline constexpr char kUnknownWordsNotClosed[] =
    "Error: No se pudo cerrar el fitxer de les paraules desconegudes\n";

// Names of the outputs, as WriteFailed names them.
inline constexpr char kStandardOutputName[] = "la salida est\xe1ndar";
inline constexpr char kUnknownWordsName[] =
    "el fitxer de les paraules desconegudes";
std::string WriteFailed(std::string_view output_name, int error_number);

std::string ReadFailed(int error_number);

// A run whose output would feed its own input or its automaton is refused
// before anything is written.
inline constexpr char kUnknownIsInput[] =
    "Error: the unknown-words file is the input file\n";
inline constexpr char kUnknownIsAutomaton[] =
    "Error: the unknown-words file is the automaton file\n";
inline constexpr char kOutputIsInput[] =
    "Error: standard output is the input file\n";
inline constexpr char kOutputIsAutomaton[] =
    "Error: standard output is the automaton file\n";

// ---- The automaton file ----

std::string AutomatonNotOpened(std::string_view path);
std::string AutomatonNotRead(std::string_view path, int error_number);
// A broken file: what is wrong, and at which byte.
std::string AutomatonInvalid(std::string_view path, std::string_view what,
                             uint64_t byte);
std::string AutomatonEpsilonCycle(std::string_view path, int32_t state);
// Running out of memory while loading, named by the structure being made.
inline constexpr char kNoMemoryForStates[] =
    "Error: Memoria insuficient en CrearNodo\n";
inline constexpr char kNoMemoryForGroups[] =
    "Error: Memoria insuficient en CrearTrans\n";
inline constexpr char kNoMemoryForMoves[] =
    "Error: Memoria insuficient en CrearStrans\n";
inline constexpr char kNoMemoryForSymbolNames[] =
    "Error: Mem\xf2ria insuficient en Creardefs\n";

// ---- The analysis ----

inline constexpr char kLiveStateLimit[] =
    "Error: No queda memoria para crear nuevos estados vivos\n";
std::string TargetOutOfRange(int32_t target);
inline constexpr char kOutOfMemory[] = "Error: out of memory\n";

// ---- What was found in the input ----

// At the end of a run with --utf8 whose input was not valid UTF-8 (a
// warning: the status stays 0).
std::string InvalidUtf8Warning(uint64_t count, uint64_t first_offset);

}  // namespace etiquem::messages

#endif  // ETIQUEM_ENGINE_MESSAGES_H_
