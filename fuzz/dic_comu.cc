// What must hold of an accepted transducer; see dic_comu.h.

#include "dic_comu.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "automaton/automat.h"
#include "comu.h"
#include "dic/att.h"

namespace etiquem::fuzz {

namespace {

std::unique_ptr<Transductor> Carrega(const dic::AutomatDic& a,
                                     const char* que) {
  std::string motiu;
  if (!dic::Comprova(a, motiu)) Falla(que, "passes Comprova", motiu);
  const std::string bytes = dic::Serialitza(a);
  auto t = std::make_unique<Transductor>();
  std::string error;
  if (!GenautoDeMemoria(*t, "fuzz.bin",
                        reinterpret_cast<const uint8_t*>(bytes.data()),
                        bytes.size(), error))
    Falla(que, "a file that loads", error);
  return t;
}

}  // namespace

void ComprovaAcceptat(const dic::AutomatDic& a) {
  auto t = Carrega(a, "accepted source gives a bad automaton");
  std::string att, error;
  if (!dic::BolcaAtt(*t, att, error))
    Falla("the AT&T dump of a loaded automaton fails", "", error);
  // AT&T text cannot say "one state, accepting nothing": such a transducer
  // dumps as no lines at all, which is not a transducer to read back.
  if (att.empty()) {
    if (!t->marques.empty()) Falla("an accepting automaton dumps as nothing");
    return;
  }
  dic::AutomatDic b;
  std::vector<std::string> avisos;
  if (!dic::CompilaAtt("bolcat.att", att, b, error, avisos))
    Falla("the AT&T dump does not read back", att, error);
  Carrega(b, "the AT&T dump reads back into a bad automaton");
}

}  // namespace etiquem::fuzz
