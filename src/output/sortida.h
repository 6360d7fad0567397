// Buffered writing to a file descriptor.
//
// Everything the program writes to standard output or to the unknown-words
// file goes through one of these records: bytes gather in `buf` and leave in
// one write(2) when the reader is about to wait for input, when the buffer
// passes `llindar`, or at the end. A failed write is fatal: the message names
// the stream and the reason, and the program ends with status 1 (a closed
// pipe still ends it by SIGPIPE, as for any filter).
//
// A worker analysing one stretch of a file beside others (driver/trams.h)
// writes into a record held in memory instead: its bytes are written later,
// in input order, and a fatal error met there is thrown as ErrorTreball, to
// be reported only if that stretch's output turns out to be the program's.

#ifndef ETIQUEM_OUTPUT_SORTIDA_H_
#define ETIQUEM_OUTPUT_SORTIDA_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace etiquem {

struct Sortida {
  int fd = 1;                   // descriptor written to
  const char* nom = "la salida est\xe1ndar";  // stream name for messages
  std::string buf;              // bytes not yet written
  size_t llindar = 1 << 20;     // bytes gathered before a write is forced
  bool en_memoria = false;      // nothing is written: bytes stay in `buf`
};

// Makes `s` a record held in memory.
inline void EnMemoria(Sortida& s) {
  s.en_memoria = true;
  s.llindar = SIZE_MAX;
}

// A fatal error met while writing into records held in memory: what Acaba
// would have reported.
struct ErrorTreball {
  int estat = 0;
  std::string missatge;
};

// Writes out everything gathered. On failure writes "Error: ..." to standard
// error and ends the program with status 1.
void Buida(Sortida& s);

// Appends bytes; writes the buffer out when it passes the threshold.
inline void Escriu(Sortida& s, std::string_view text) {
  s.buf.append(text.data(), text.size());
  if (s.buf.size() >= s.llindar) Buida(s);
}

inline void EscriuByte(Sortida& s, char c) {
  s.buf.push_back(c);
  if (s.buf.size() >= s.llindar) Buida(s);
}

// Writes `text` out with the buffer, without copying large texts into it.
void EscriuGran(Sortida& s, std::string_view text);

// Writes a message to standard error (unbuffered, whole).
void EscriuError(std::string_view missatge);

// Ends the program with `estat`: first writes out what the given outputs
// hold (what was produced before a failure is not lost), then the message on
// standard error. When the first output is held in memory, throws
// ErrorTreball instead.
[[noreturn]] void Acaba(int estat, std::string_view missatge,
                        Sortida* pendent = nullptr, Sortida* pendent2 = nullptr);

}  // namespace etiquem

#endif  // ETIQUEM_OUTPUT_SORTIDA_H_
