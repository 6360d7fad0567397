// Shared by the fuzz targets of the dictionary readers: what must hold of a
// transducer that a reader accepted.
//
// It passes the compiler's own checks; its automaton file loads; the AT&T
// dump of the loaded automaton is written and read back (unless it accepts
// nothing, which AT&T text cannot express), and that too passes the checks
// and loads. A reader that accepts a source must never
// produce a file that the program refuses.

#ifndef ETIQUEM_FUZZ_DICTIONARY_COMMON_H_
#define ETIQUEM_FUZZ_DICTIONARY_COMMON_H_

#include "dictionary/automaton_writer.h"

namespace etiquem::fuzz {

void CheckAccepted(const dictionary::Transducer& a);

}  // namespace etiquem::fuzz

#endif  // ETIQUEM_FUZZ_DICTIONARY_COMMON_H_
