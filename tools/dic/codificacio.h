// Text encodings for the dictionary tools: sources come in Latin-1 or UTF-8,
// automaton files hold Latin-1 bytes, and AT&T text is UTF-8.
//
// Every conversion works on whole strings and reports the first character it
// cannot carry, so callers can name the line where it stands.

#ifndef ETIQUEM_TOOLS_DIC_CODIFICACIO_H_
#define ETIQUEM_TOOLS_DIC_CODIFICACIO_H_

#include <string>
#include <string_view>

namespace etiquem::dic {

enum class Codificacio {
  kDetecta,  // UTF-8 when the bytes are valid UTF-8 with a multi-byte
             // sequence, else Latin-1
  kLatin1,
  kUtf8,
};

// Decides the encoding of a whole source (`kDetecta` never comes back).
Codificacio Detecta(std::string_view bytes);

// Converts `text`, in encoding `c` (not kDetecta), to Latin-1 bytes. On a
// malformed sequence or a character above U+00FF returns false and sets
// `que` to what is wrong (no file or line in it).
bool ALatin1(std::string_view text, Codificacio c, std::string& sortida,
             std::string& que);

// Latin-1 bytes to UTF-8.
std::string AUtf8(std::string_view latin1);

// Whether Latin-1 byte `c` is a letter (A-Z, a-z, and the Latin-1 letters
// from C0h to FFh except the signs D7h and F7h).
bool EsLletra(unsigned char c);

}  // namespace etiquem::dic

#endif  // ETIQUEM_TOOLS_DIC_CODIFICACIO_H_
