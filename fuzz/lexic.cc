// Fuzz target: the lexicon reader of etiquem-dic.
//
// The first byte chooses the encoding the source is read in; the rest is the
// lexicon. A refused source gets one line beginning "Error"; an accepted one
// must give an automaton that loads, and survive an AT&T round trip
// (dic_comu.h).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "comu.h"
#include "dic/lexic.h"
#include "dic_comu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dades, size_t mida) {
  if (mida == 0) return 0;
  using etiquem::dic::Codificacio;
  static const Codificacio kCodificacions[3] = {
      Codificacio::kDetecta, Codificacio::kLatin1, Codificacio::kUtf8};
  const Codificacio c = kCodificacions[dades[0] % 3];
  const std::string_view text(reinterpret_cast<const char*>(dades) + 1,
                              mida - 1);
  etiquem::dic::AutomatDic a;
  std::string error;
  if (!etiquem::dic::CompilaLexic("fuzz.tsv", text, c, a, error)) {
    etiquem::fuzz::ComprovaMissatge(error);
    return 0;
  }
  etiquem::fuzz::ComprovaAcceptat(a);
  return 0;
}
