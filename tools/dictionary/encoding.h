// Text encodings for the dictionary tools: sources come in Latin-1 or UTF-8,
// automaton files hold Latin-1 bytes, and AT&T text is UTF-8.
//
// Every conversion works on whole strings and reports the first character it
// cannot carry, so callers can name the line where it stands.

#ifndef ETIQUEM_TOOLS_DICTIONARY_ENCODING_H_
#define ETIQUEM_TOOLS_DICTIONARY_ENCODING_H_

#include <string>
#include <string_view>

namespace etiquem::dictionary {

enum class Encoding {
  kDetect,  // UTF-8 when the bytes are valid UTF-8 with a multi-byte
            // sequence, else Latin-1
  kLatin1,
  kUtf8,
};

// Decides the encoding of a whole source (`kDetect` never comes back).
Encoding DetectEncoding(std::string_view bytes);

// Converts `text`, in encoding `c` (not kDetect), to Latin-1 bytes. On a
// malformed sequence or a character above U+00FF returns false and sets
// `problem` to what is wrong (no file or line in it).
bool ToLatin1(std::string_view text, Encoding c, std::string& output,
              std::string& problem);

// Latin-1 bytes to UTF-8.
std::string ToUtf8(std::string_view latin1);

// Whether Latin-1 byte `c` is a letter (A-Z, a-z, and the Latin-1 letters
// from C0h to FFh except the signs D7h and F7h).
bool IsLatin1Letter(unsigned char c);

}  // namespace etiquem::dictionary

#endif  // ETIQUEM_TOOLS_DICTIONARY_ENCODING_H_
