// The input scanner; see escaner.h.

#include "input/escaner.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace etiquem {

namespace {

constexpr char kObridor[] = "<![CDATA[";
constexpr size_t kLlargObridor = 9;
// Superblank storage larger than this is given back after the block is
// delivered, so one huge block does not pin its memory for the whole run.
constexpr size_t kCapacitatRetinguda = 1 << 20;

// Reads more input after the unscanned bytes. False at end of input (and on
// every call after it, without reading again).
bool Omple(Escaner& e) {
  if (e.final) return false;
  if (e.abandona && e.abandona->load(std::memory_order_relaxed)) {
    e.final = true;
    return false;
  }
  if (e.abans_de_llegir) Buida(*e.abans_de_llegir);
  if (e.pos > 0) {
    std::memmove(e.buf.data(), e.buf.data() + e.pos, e.fi - e.pos);
    e.fi -= e.pos;
    e.inici_buf += e.pos;
    e.pos = 0;
  }
  for (;;) {
    char* desti = e.buf.data() + e.fi;
    const size_t lloc = e.buf.size() - e.fi;
    ssize_t r = e.desplacament >= 0 ? pread(e.fd, desti, lloc, e.desplacament)
                                    : read(e.fd, desti, lloc);
    ++e.lectures;
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      std::string m = "Error: No se pudo leer la entrada: ";
      m += strerror(errno);
      m += "\n";
      Acaba(2, m, e.abans_de_llegir);
    }
    if (r == 0) {
      e.final = true;
      return false;
    }
    e.fi += size_t(r);
    if (e.desplacament >= 0) e.desplacament += r;
    return true;
  }
}

// At a "<" outside a superblank: whether the whole opener follows. Reads more
// input when the buffer ends inside a possible opener.
bool ObridorComplet(Escaner& e) {
  size_t j = 1;
  while (j < kLlargObridor) {
    if (e.pos + j == e.fi && !Omple(e)) return false;
    if (e.buf[e.pos + j] != kObridor[j]) return false;
    ++j;
  }
  return true;
}

int LliuraSuperblanc(Escaner& e) {
  e.condicio = INITIAL;
  reset_token(e);
  std::swap(e.token.cadena, e.lexbuffer);
  e.token.te_cadena = true;
  return TOKEN_SUPERBLANC;
}

// Gathers a superblank's content up to and including its closer.
int Superblanc(Escaner& e) {
  for (;;) {
    if (e.pos == e.fi && !Omple(e)) {
      e.lexbuffer += "]]>";
      return LliuraSuperblanc(e);
    }
    const char* inici = e.buf.data() + e.pos;
    const char* gt =
        static_cast<const char*>(std::memchr(inici, '>', e.fi - e.pos));
    if (gt == nullptr) {
      e.lexbuffer.append(inici, e.fi - e.pos);
      e.pos = e.fi;
      continue;
    }
    e.lexbuffer.append(inici, size_t(gt - inici) + 1);
    e.pos += size_t(gt - inici) + 1;
    // Closed when the two bytes before ">" are "]]" of the content (the
    // opener itself ends in "[").
    const size_t n = e.lexbuffer.size();
    if (n >= kLlargObridor + 3 && e.lexbuffer[n - 2] == ']' &&
        e.lexbuffer[n - 3] == ']')
      return LliuraSuperblanc(e);
  }
}

}  // namespace

void IniciaEscaner(Escaner& e, int fd, size_t mida) {
  e = Escaner{};
  e.fd = fd;
  // Room for a block plus an opener that straddles two reads.
  e.buf.assign(mida < kLlargObridor * 2 ? kLlargObridor * 2 : mida, 0);
}

void IniciaEscanerA(Escaner& e, int fd, int64_t desplacament, uint64_t inici) {
  std::vector<char> buf;
  buf.swap(e.buf);
  const size_t mida = size_t(1) << 16;
  if (buf.size() != mida) buf.assign(mida, 0);
  e = Escaner{};
  e.fd = fd;
  e.buf.swap(buf);
  e.desplacament = desplacament;
  e.inici_buf = inici;
}

void reset_token(Escaner& e) {
  e.token.caracter = 0;
  if (e.token.te_cadena) {
    e.token.cadena.clear();
    if (e.token.cadena.capacity() > kCapacitatRetinguda)
      std::string().swap(e.token.cadena);
    e.token.te_cadena = false;
  }
}

int yylexLent(Escaner& e) {
  reset_token(e);
  if (e.condicio == CDATA) return Superblanc(e);
  if (e.pos == e.fi && !Omple(e)) return TOKEN_FINAL;
  if (e.buf[e.pos] == '<' && ObridorComplet(e)) {
    e.pos += kLlargObridor;
    e.condicio = CDATA;
    if (e.lexbuffer.capacity() > kCapacitatRetinguda)
      std::string().swap(e.lexbuffer);
    e.lexbuffer.assign(kObridor, kLlargObridor);
    return Superblanc(e);
  }
  e.token.caracter = uint8_t(e.buf[e.pos++]);
  return TOKEN_CARACTER;
}

}  // namespace etiquem
