// Fuzz target: the AT&T reader of etiquem-dic, on arbitrary text.
//
// A refused text gets one line beginning "Error"; an accepted one must give
// an automaton that loads, and survive being dumped and read again
// (dic_comu.h).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "comu.h"
#include "dic/att.h"
#include "dic_comu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dades, size_t mida) {
  const std::string_view text(reinterpret_cast<const char*>(dades), mida);
  etiquem::dic::AutomatDic a;
  std::string error;
  std::vector<std::string> avisos;
  if (!etiquem::dic::CompilaAtt("fuzz.att", text, a, error, avisos)) {
    etiquem::fuzz::ComprovaMissatge(error);
    return 0;
  }
  etiquem::fuzz::ComprovaAcceptat(a);
  return 0;
}
