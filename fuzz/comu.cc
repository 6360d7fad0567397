// Support shared by the fuzz targets; see comu.h.

#include "comu.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

// The program's fatal exits, seen from a fuzz target: always a finding.
extern "C" void _exit(int estat) {
  std::fprintf(stderr,
               "fuzz: the program would end here with status %d (a fatal "
               "exit the target should never reach)\n",
               estat);
  std::abort();
}

namespace etiquem::fuzz {

namespace {

void Comprova(bool correcte, const char* que) {
  if (correcte) return;
  std::perror(que);
  std::abort();
}

}  // namespace

int Memfd(int& fd, const char* nom) {
  if (fd < 0) {
    fd = memfd_create(nom, MFD_CLOEXEC);
    Comprova(fd >= 0, "memfd_create");
  }
  return fd;
}

void Posa(int fd, std::string_view dades) {
  Comprova(ftruncate(fd, 0) == 0, "ftruncate");
  size_t fet = 0;
  while (fet < dades.size()) {
    ssize_t r = pwrite(fd, dades.data() + fet, dades.size() - fet, off_t(fet));
    Comprova(r > 0, "pwrite");
    fet += size_t(r);
  }
  Comprova(lseek(fd, 0, SEEK_SET) == 0, "lseek");
}

void Buida(int fd) { Posa(fd, {}); }

std::string Contingut(int fd) {
  std::string r;
  char bloc[1 << 14];
  off_t pos = 0;
  for (;;) {
    ssize_t n = pread(fd, bloc, sizeof bloc, pos);
    Comprova(n >= 0, "pread");
    if (n == 0) return r;
    r.append(bloc, size_t(n));
    pos += n;
  }
}

void ComprovaMissatge(const std::string& missatge) {
  if (missatge.rfind("Error", 0) != 0)
    Falla("message without \"Error\"", "", missatge);
  const size_t salt = missatge.find('\n');
  if (salt != std::string::npos && salt != missatge.size() - 1)
    Falla("message of more than one line", "", missatge);
}

void Falla(const char* que, std::string_view esperat,
           std::string_view obtingut) {
  std::fprintf(stderr, "fuzz: %s\n", que);
  if (!esperat.empty() || !obtingut.empty()) {
    std::fprintf(stderr, "  expected (%zu bytes): ", esperat.size());
    std::fwrite(esperat.data(), 1, esperat.size() < 400 ? esperat.size() : 400,
                stderr);
    std::fprintf(stderr, "\n  got      (%zu bytes): ", obtingut.size());
    std::fwrite(obtingut.data(), 1,
                obtingut.size() < 400 ? obtingut.size() : 400, stderr);
    std::fputc('\n', stderr);
  }
  std::abort();
}

}  // namespace etiquem::fuzz
