// A whole analysis run inside the test process; see analisi_prova.h.

#include "analisi_prova.h"

#include <sys/mman.h>
#include <unistd.h>

#include <memory>

#include <gtest/gtest.h>

#include "driver/analisis.h"
#include "input/escaner.h"
#include "input/lector.h"
#include "output/sortida.h"

namespace etiquem::prova {

namespace {

int FitxerMemoria(const std::string& contingut) {
  const int fd = memfd_create("etiquem-prova", 0);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, contingut.data(), contingut.size()),
            ssize_t(contingut.size()));
  lseek(fd, 0, SEEK_SET);
  return fd;
}

std::string LlegeixITanca(int fd) {
  std::string r;
  lseek(fd, 0, SEEK_SET);
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) r.append(buf, size_t(n));
  close(fd);
  return r;
}

}  // namespace

Sortides AnalitzaEnProces(const Transductor& t, const std::string& text,
                          int s, int a, int m, bool memoria, size_t max_nodes,
                          size_t bloc) {
  Sortida sortida;
  sortida.fd = FitxerMemoria("");
  Sortida desc;
  desc.fd = FitxerMemoria("");
  const int entrada = FitxerMemoria(text);
  auto e = std::make_unique<Escaner>();
  IniciaEscaner(*e, entrada, bloc);
  e->abans_de_llegir = &sortida;
  auto l = std::make_unique<Lector>();
  IniciaLector(*l, e.get());
  auto an = std::make_unique<Analisi>();
  an->memoria.max_nodes = max_nodes;
  an->memoria.max_textos = max_nodes * 8;
  IniciaAnalisi(*an, &t, l.get(), &sortida, &desc);
  an->amb_memoria = memoria;
  Analisis(*an, s, 1, a, m);
  Buida(sortida);
  Buida(desc);
  close(entrada);
  return {LlegeixITanca(sortida.fd), LlegeixITanca(desc.fd)};
}

void CarregaOFalla(Transductor& t, const std::string& bytes) {
  std::string error;
  ASSERT_TRUE(GenautoDeMemoria(
      t, "prova", reinterpret_cast<const uint8_t*>(bytes.data()),
      bytes.size(), error))
      << error;
}

}  // namespace etiquem::prova
