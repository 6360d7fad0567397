// The messages with variable parts; see messages.h.

#include "engine/messages.h"

#include <cstring>

namespace etiquem::messages {

std::string InvalidArguments(int count, char* const* arguments) {
  std::string m = "Hay opciones no v\xe1lidas en la entrada: ";
  for (int i = 0; i < count; ++i) {
    m += arguments[i];
    m += ' ';
  }
  m += '\n';
  return m;
}

std::string LongOptionLine(std::string_view name, std::string_view text) {
  return "  --" + std::string(name) + ": " + std::string(text) + "\n";
}

std::string VersionLine(std::string_view version) {
  return "etiquem " + std::string(version) + "\n";
}

std::string InputNotOpened(std::string_view path) {
  return "Error: El fichero " + std::string(path) +
         " no existe o no se pudo abrir\n";
}

std::string WriteFailed(std::string_view output_name, int error_number) {
  return "Error: No se pudo escribir en " + std::string(output_name) + ": " +
         strerror(error_number) + "\n";
}

std::string ReadFailed(int error_number) {
  return std::string("Error: No se pudo leer la entrada: ") +
         strerror(error_number) + "\n";
}

std::string AutomatonNotOpened(std::string_view path) {
  return "Error: El fichero binario " + std::string(path) +
         " no existe o no se puedo abrir\n";
}

std::string AutomatonNotRead(std::string_view path, int error_number) {
  return "Error: No se pudo leer el fichero binario " + std::string(path) +
         ": " + strerror(error_number) + "\n";
}

std::string AutomatonInvalid(std::string_view path, std::string_view what,
                             uint64_t byte) {
  return "Error: El fichero binario " + std::string(path) +
         " no es v\xe1lido: " + std::string(what) + " (byte " +
         std::to_string(byte) + ")\n";
}

std::string AutomatonEpsilonCycle(std::string_view path, int32_t state) {
  return "Error: El fichero binario " + std::string(path) +
         " no es v\xe1lido: ciclo de transiciones vac\xed"
         "as en el estado " +
         std::to_string(state) + "\n";
}

std::string TargetOutOfRange(int32_t target) {
  return "Error: L'estat dest\xed " + std::to_string(target) +
         " no existeix a l'automat (automat mal constru\xeft)\n";
}

std::string InvalidUtf8Warning(uint64_t count, uint64_t first_offset) {
  if (count == 1)
    return "etiquem: warning: 1 invalid UTF-8 sequence in the input, at byte " +
           std::to_string(first_offset) + "\n";
  return "etiquem: warning: " + std::to_string(count) +
         " invalid UTF-8 sequences in the input, the first at byte " +
         std::to_string(first_offset) + "\n";
}

}  // namespace etiquem::messages
