// What must hold of an accepted transducer; see dictionary_common.h.

#include "dictionary_common.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common.h"
#include "dictionary/att.h"
#include "engine/automaton.h"

namespace etiquem::fuzz {

namespace {

std::unique_ptr<Automaton> Load(const dictionary::Transducer& a,
                                const char* problem) {
  std::string reason;
  if (!dictionary::Check(a, reason)) Fail(problem, "passes Comprova", reason);
  const std::string bytes = dictionary::Serialise(a);
  auto t = std::make_unique<Automaton>();
  std::string error;
  if (!LoadAutomatonFromBytes(*t, "fuzz.bin",
                              reinterpret_cast<const uint8_t*>(bytes.data()),
                              bytes.size(), error))
    Fail(problem, "a file that loads", error);
  return t;
}

}  // namespace

void CheckAccepted(const dictionary::Transducer& a) {
  auto t = Load(a, "accepted source gives a bad automaton");
  std::string att, error;
  if (!dictionary::DumpAtt(*t, att, error))
    Fail("the AT&T dump of a loaded automaton fails", "", error);
  // AT&T text cannot say "one state, accepting nothing": such a transducer
  // dumps as no lines at all, which is not a transducer to read back.
  if (att.empty()) {
    if (!t->markers.empty()) Fail("an accepting automaton dumps as nothing");
    return;
  }
  dictionary::Transducer b;
  std::vector<std::string> warnings;
  if (!dictionary::CompileAtt("bolcat.att", att, b, error, warnings))
    Fail("the AT&T dump does not read back", att, error);
  Load(b, "the AT&T dump reads back into a bad automaton");
}

}  // namespace etiquem::fuzz
