// Buffered writing; see sortida.h.

#include "output/sortida.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace etiquem {

namespace {

// Writes all of [p, p+n) to `fd`, retrying short writes; false on error.
bool EscriuTot(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t r = write(fd, p, n);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += r;
    n -= size_t(r);
  }
  return true;
}

[[noreturn]] void FallaEscriptura(const Sortida& s) {
  std::string m = "Error: No se pudo escribir en ";
  m += s.nom;
  m += ": ";
  m += strerror(errno);
  m += "\n";
  EscriuError(m);
  _exit(1);
}

}  // namespace

void Buida(Sortida& s) {
  if (s.buf.empty() || s.en_memoria) return;
  if (!EscriuTot(s.fd, s.buf.data(), s.buf.size())) FallaEscriptura(s);
  s.buf.clear();
}

void EscriuGran(Sortida& s, std::string_view text) {
  if (text.size() < s.llindar) {
    Escriu(s, text);
    return;
  }
  Buida(s);
  if (!EscriuTot(s.fd, text.data(), text.size())) FallaEscriptura(s);
}

void EscriuError(std::string_view missatge) {
  EscriuTot(2, missatge.data(), missatge.size());
}

void Acaba(int estat, std::string_view missatge, Sortida* pendent,
           Sortida* pendent2) {
  if (pendent && pendent->en_memoria)
    throw ErrorTreball{estat, std::string(missatge)};
  if (pendent) Buida(*pendent);
  if (pendent2) Buida(*pendent2);
  EscriuError(missatge);
  _exit(estat);
}

}  // namespace etiquem
