// UTF-8 text over a Latin-1 dictionary: how input bytes are cut into
// characters, what each character matches, and how Latin-1 readings are
// written as UTF-8.
//
// The dictionary is a byte automaton over Latin-1, so in UTF-8 mode every
// character gets a matching code: a character up to U+00FF matches as its
// Latin-1 byte; the typographic apostrophes U+2019 and U+02BC match as "'";
// any other character, and every invalid sequence, matches nothing. What a
// character writes when it is echoed is always its own input bytes.
//
// Input is cut the way the Unicode standard recommends for invalid input
// (maximal subparts): a valid sequence is one character; otherwise the
// longest prefix of a valid sequence (at most 3 bytes), or one byte when no
// valid sequence starts with it, is one invalid unit. So an invalid unit
// never holds an ASCII byte, cutting is self-synchronising from any
// character start, and the count of invalid units of a text is the same
// whether it is counted whole or in stretches cut at ASCII bytes (which is
// why superblanks, whose delimiters are ASCII, are simply counted too).

#ifndef ETIQUEM_ENGINE_UTF8_H_
#define ETIQUEM_ENGINE_UTF8_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace etiquem {

// What a character of UTF-8 input is, beside its matching code.
enum CharacterVariant : uint8_t {
  kLatin1Character = 0,     // up to U+00FF: matches as that Latin-1 byte
  kRightQuote = 1,          // U+2019: matches as "'"
  kModifierApostrophe = 2,  // U+02BC: matches as "'"
  kOutsideCharacter = 3,    // any other character or an invalid unit:
                            // matches nothing
};

// Codes of characters in the UTF-8 analysis loop and the memory of
// attempts: the Latin-1 byte (0 to 255) for kLatin1Character, else
// kVariantCodeBase + variant (257 to 259). 256 is the superblank marker's.
constexpr int kVariantCodeBase = 256;
constexpr int kOutsideCode = kVariantCodeBase + kOutsideCharacter;
constexpr int kMaxCharacterCode = kOutsideCode;

// Matching code of a character code: what the live states step on, or -1
// for a character that matches nothing.
inline int MatchingCode(int code) {
  if (code < kVariantCodeBase) return code;
  return code == kOutsideCode ? -1 : int('\'');
}

// The unit at `p` (`n` >= 1 bytes available). Returns its length (1 to 4)
// with the code point in `code_point` when it is a valid character; minus
// its length (1 to 3) when it is an invalid unit; 0 when the bytes end
// inside a sequence that may still be completed and `at_end` is false (more
// input may follow). With `at_end`, a sequence cut by the end is invalid.
inline int Utf8Unit(const uint8_t* p, size_t n, bool at_end,
                    uint32_t& code_point) {
  const uint8_t b = p[0];
  if (b < 0x80) {
    code_point = b;
    return 1;
  }
  int need;
  uint8_t low = 0x80, high = 0xBF;  // range of the next byte
  uint32_t c;
  if (b < 0xC2) {
    return -1;  // a continuation byte, or the lead of an overlong form
  } else if (b < 0xE0) {
    need = 1;
    c = b & 0x1F;
  } else if (b < 0xF0) {
    need = 2;
    c = b & 0x0F;
    if (b == 0xE0) low = 0xA0;   // overlong below
    if (b == 0xED) high = 0x9F;  // surrogates above
  } else if (b < 0xF5) {
    need = 3;
    c = b & 0x07;
    if (b == 0xF0) low = 0x90;   // overlong below
    if (b == 0xF4) high = 0x8F;  // past U+10FFFF above
  } else {
    return -1;
  }
  for (int k = 1; k <= need; ++k) {
    if (size_t(k) >= n) return at_end ? -k : 0;
    const uint8_t next = p[k];
    if (next < low || next > high) return -k;
    c = c << 6 | (next & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  code_point = c;
  return need + 1;
}

// The matching byte and variant of a valid code point.
inline CharacterVariant ClassifyCodePoint(uint32_t code_point, uint8_t& byte) {
  if (code_point <= 0xFF) {
    byte = uint8_t(code_point);
    return kLatin1Character;
  }
  if (code_point == 0x2019 || code_point == 0x02BC) {
    byte = uint8_t('\'');
    return code_point == 0x2019 ? kRightQuote : kModifierApostrophe;
  }
  byte = 0;
  return kOutsideCharacter;
}

// Invalid units met so far, and where the first one starts.
struct InvalidUtf8Count {
  uint64_t count = 0;
  uint64_t first_offset = 0;  // input offset of the first; 0 when none
};

inline void NoteInvalidUtf8(InvalidUtf8Count& invalid, uint64_t offset) {
  if (invalid.count++ == 0 || offset < invalid.first_offset)
    invalid.first_offset = offset;
}

// Counts the invalid units of `bytes[0..n)`, the first of which is at input
// offset `offset`, into `invalid`. Returns the bytes consumed: all of them,
// except, when `at_end` is false, a sequence that the end of `bytes` cuts
// and that more input may complete (at most 3 bytes, left for the next call).
size_t CountInvalidUtf8(const uint8_t* bytes, size_t n, uint64_t offset,
                        bool at_end, InvalidUtf8Count& invalid);

// The first character start at or after position `at` of `bytes[0..n)`
// (0 <= at <= n): `at` itself unless a character (or an invalid unit) that
// starts before it goes on over it, and then the position just past that
// character. `bytes` holds the input's bytes around `at`: the 3 before it
// (or all from the input's start) and the 3 from it (or all to the input's
// end). A piece of a file analysed on its own thread starts there.
size_t CharacterStartFrom(const uint8_t* bytes, size_t n, size_t at);

// Appends `latin1` written as UTF-8.
void AppendLatin1AsUtf8(std::string_view latin1, std::string& text);

// Rewrites text[from..) from Latin-1 to UTF-8, in place.
void Latin1TailToUtf8(std::string& text, size_t from);

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_UTF8_H_
