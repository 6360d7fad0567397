// Latin-1 and UTF-8 conversions for the dictionary tools.

#include "dictionary/encoding.h"

#include <cstdio>

namespace etiquem::dictionary {
namespace {

// Length of the UTF-8 sequence starting at `s[i]` and its code point, or 0
// when the bytes there are not a well-formed sequence.
size_t DecodeUtf8(std::string_view s, size_t i, char32_t& cp) {
  const unsigned char b = static_cast<unsigned char>(s[i]);
  size_t n;
  if (b < 0x80) {
    cp = b;
    return 1;
  } else if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
    cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    cp = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    cp = b & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF.
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

}  // namespace

Encoding DetectEncoding(std::string_view bytes) {
  bool multibyte = false;
  for (size_t i = 0; i < bytes.size();) {
    char32_t cp;
    size_t n = DecodeUtf8(bytes, i, cp);
    if (n == 0) return Encoding::kLatin1;
    multibyte = multibyte || n > 1;
    i += n;
  }
  return multibyte ? Encoding::kUtf8 : Encoding::kLatin1;
}

bool ToLatin1(std::string_view text, Encoding c, std::string& output,
              std::string& problem) {
  output.clear();
  if (c != Encoding::kUtf8) {
    output.assign(text);
    return true;
  }
  output.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp;
    size_t n = DecodeUtf8(text, i, cp);
    if (n == 0) {
      problem = "malformed UTF-8 at byte " + std::to_string(i + 1);
      return false;
    }
    if (cp > 0xFF) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "U+%04X", unsigned(cp));
      problem = "character " + std::string(buf) + " (" +
                std::string(text.substr(i, n)) + ") is outside Latin-1";
      return false;
    }
    output.push_back(static_cast<char>(cp));
    i += n;
  }
  return true;
}

std::string ToUtf8(std::string_view latin1) {
  std::string s;
  s.reserve(latin1.size());
  for (char ch : latin1) {
    const unsigned char b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      s.push_back(ch);
    } else {
      s.push_back(static_cast<char>(0xC0 | (b >> 6)));
      s.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  return s;
}

bool IsLatin1Letter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= 0xC0 && c != 0xD7 && c != 0xF7);
}

}  // namespace etiquem::dictionary
