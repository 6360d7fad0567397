// Fuzz target: the AT&T reader of etiquem-dic, on arbitrary text.
//
// A refused text gets one line beginning "Error"; an accepted one must give
// an automaton that loads, and survive being dumped and read again
// (dictionary_common.h).

#include "dictionary/att.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common.h"
#include "dictionary_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  etiquem::dictionary::Transducer a;
  std::string error;
  std::vector<std::string> warnings;
  if (!etiquem::dictionary::CompileAtt("fuzz.att", text, a, error, warnings)) {
    etiquem::fuzz::CheckMessage(error);
    return 0;
  }
  etiquem::fuzz::CheckAccepted(a);
  return 0;
}
