// Reading texts; see reading_text.h.

#include "engine/reading_text.h"

namespace etiquem {

namespace {

// Appends character symbol `s`, with its capital when `upper`. A symbol
// whose byte is 0 adds nothing.
inline void AppendCharacter(int32_t s, bool upper, std::string& text) {
  const uint8_t c = uint8_t(s & 0xFF);
  if (c == 0) return;
  text.push_back(char(upper ? UpperCaseOf(c) : c));
}

// Appends "&name;". Every symbol reaching here has a define: the loader
// refuses files with undefined symbols on moves that can be followed.
inline void AppendName(const Automaton& t, int32_t s, bool upper,
                       std::string& text) {
  const std::string* name = NameOfSymbol(t, s);
  text.push_back('&');
  if (name != nullptr) {
    if (upper) {
      for (char c : *name) text.push_back(char(UpperForSymbolName(uint8_t(c))));
    } else {
      text += *name;
    }
  }
  text.push_back(';');
}

}  // namespace

void RenderCompleteReading(const Automaton& t, const int32_t* symbols, int n,
                           int a, int b, std::string& text) {
  for (int i = 0; i < n; ++i) {
    const int32_t s = symbols[i];
    if (s >= kFirstNamedSymbol)
      AppendName(t, s, false, text);
    else
      AppendCharacter(s, i == 0 ? a == 1 : b == 1, text);
  }
  text.push_back('/');
}

bool RenderPieceReading(const Automaton& t, const int32_t* symbols, int n,
                        int a, int b, int& capital_pending, std::string& text) {
  if (n == 0) return false;
  for (int i = 0; i < n; ++i) {
    const int32_t s = symbols[i];
    const bool first = a == 1 && capital_pending == 1;
    if (first) capital_pending = 0;
    if (s >= kFirstNamedSymbol)
      AppendName(t, s, first || b == 1, text);
    else
      AppendCharacter(s, first || b == 1, text);
  }
  return true;
}

bool HasApostrophe(std::string_view form) {
  return form.find('\'') != std::string_view::npos;
}

}  // namespace etiquem
