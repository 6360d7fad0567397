// UTF-8 cutting, counting and writing; see utf8.h.

#include "engine/utf8.h"

#include <cstring>

namespace etiquem {

size_t CountInvalidUtf8(const uint8_t* bytes, size_t n, uint64_t offset,
                        bool at_end, InvalidUtf8Count& invalid) {
  size_t i = 0;
  while (i < n) {
    // Eight ASCII bytes at a time: most text is ASCII.
    if (n - i >= 8) {
      uint64_t word;
      std::memcpy(&word, bytes + i, 8);
      if ((word & 0x8080808080808080u) == 0) {
        i += 8;
        continue;
      }
    }
    if (bytes[i] < 0x80) {
      ++i;
      continue;
    }
    uint32_t code_point;
    const int r = Utf8Unit(bytes + i, n - i, at_end, code_point);
    if (r == 0) return i;  // cut by the end of `bytes`; more may follow
    if (r < 0) NoteInvalidUtf8(invalid, offset + i);
    i += size_t(r > 0 ? r : -r);
  }
  return n;
}

size_t CharacterStartFrom(const uint8_t* bytes, size_t n, size_t at) {
  for (size_t k = 1; k <= 3 && k <= at; ++k) {
    const uint8_t b = bytes[at - k];
    if (b >= 0x80 && b < 0xC0) continue;  // a continuation byte
    // Every other byte starts a unit; units are at most 4 bytes, so the
    // bytes available reach its end or the input's.
    uint32_t code_point;
    const int r = Utf8Unit(bytes + at - k, n - (at - k), true, code_point);
    const size_t end = at - k + size_t(r > 0 ? r : -r);
    return end > at ? end : at;
  }
  // Three continuation bytes before `at` (or the input's start): no unit
  // starting earlier reaches it.
  return at;
}

void AppendLatin1AsUtf8(std::string_view latin1, std::string& text) {
  for (char ch : latin1) {
    const uint8_t c = uint8_t(ch);
    if (c < 0x80) {
      text.push_back(ch);
    } else {
      text.push_back(char(0xC0 | c >> 6));
      text.push_back(char(0x80 | (c & 0x3F)));
    }
  }
}

void Latin1TailToUtf8(std::string& text, size_t from) {
  size_t wide = 0;
  for (size_t i = from; i < text.size(); ++i) wide += uint8_t(text[i]) >> 7;
  if (wide == 0) return;
  // Widen from the end, so every byte is read before it is overwritten.
  size_t read = text.size();
  text.resize(text.size() + wide);
  size_t write = text.size();
  while (read > from) {
    const uint8_t c = uint8_t(text[--read]);
    if (c < 0x80) {
      text[--write] = char(c);
    } else {
      text[--write] = char(0x80 | (c & 0x3F));
      text[--write] = char(0xC0 | c >> 6);
    }
  }
}

}  // namespace etiquem
