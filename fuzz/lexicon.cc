// Fuzz target: the lexicon reader of etiquem-dic.
//
// The first byte chooses the encoding the source is read in; the rest is the
// lexicon. A refused source gets one line beginning "Error"; an accepted one
// must give an automaton that loads, and survive an AT&T round trip
// (dictionary_common.h).

#include "dictionary/lexicon.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common.h"
#include "dictionary_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  using etiquem::dictionary::Encoding;
  static const Encoding kEncodings[3] = {Encoding::kDetect, Encoding::kLatin1,
                                         Encoding::kUtf8};
  const Encoding c = kEncodings[data[0] % 3];
  const std::string_view text(reinterpret_cast<const char*>(data) + 1,
                              size - 1);
  etiquem::dictionary::Transducer a;
  std::string error;
  if (!etiquem::dictionary::CompileLexicon("fuzz.tsv", text, c, a, error)) {
    etiquem::fuzz::CheckMessage(error);
    return 0;
  }
  etiquem::fuzz::CheckAccepted(a);
  return 0;
}
