// Reading texts; see reading_text.h.

#include "engine/reading_text.h"

#include <cstring>

namespace etiquem {

namespace {

// The bytes of one reading, gathered on the stack and appended to the text
// at once: one append per reading rather than a call per byte (a reading
// is a few letters and a tag or two).
struct ReadingBytes {
  explicit ReadingBytes(std::string& to) : text(&to) {}
  std::string* text;
  size_t size = 0;
  char bytes[256];
};

inline void Flush(ReadingBytes& r) {
  r.text->append(r.bytes, r.size);
  r.size = 0;
}

inline void Put(ReadingBytes& r, char c) {
  if (r.size == sizeof r.bytes) Flush(r);
  r.bytes[r.size++] = c;
}

// Appends character symbol `s`, with its capital when `upper`. A symbol
// whose byte is 0 adds nothing.
inline void AppendCharacter(int32_t s, bool upper, ReadingBytes& r) {
  const uint8_t c = uint8_t(s & 0xFF);
  if (c == 0) return;
  Put(r, char(upper ? UpperCaseOf(c) : c));
}

// Appends "&name;". Every symbol reaching here has a define: the loader
// refuses files with undefined symbols on moves that can be followed.
inline void AppendName(const Automaton& t, int32_t s, bool upper,
                       ReadingBytes& r) {
  const std::string* name = NameOfSymbol(t, s);
  Put(r, '&');
  if (name != nullptr) {
    for (char c : *name)
      Put(r, upper ? char(UpperForSymbolName(uint8_t(c))) : c);
  }
  Put(r, ';');
}

// Appends `n` bytes at `bytes` to `text`, with std::string's append
// inlined (a call to it was a quarter of a reading's rendering).
[[gnu::flatten]] inline void AppendBytes(std::string& text, const char* bytes,
                                         size_t n) {
  text.append(bytes, n);
}

}  // namespace

void RenderCompleteReading(const Automaton& t, const int32_t* symbols, int n,
                           int a, int b, std::string& text) {
  ReadingBytes r(text);
  for (int i = 0; i < n; ++i) {
    const int32_t s = symbols[i];
    if (s >= kFirstNamedSymbol)
      AppendName(t, s, false, r);
    else
      AppendCharacter(s, i == 0 ? a == 1 : b == 1, r);
  }
  Put(r, '/');
  Flush(r);
}

void RenderCompleteOutput(const Automaton& t, const LiveStates& v,
                          uint32_t node, int a, int b, std::string& text) {
  // Written back to front into a buffer on the stack, then appended once.
  // A reading longer than the buffer takes the way through the symbols.
  char bytes[1024];
  char* const end = bytes + sizeof bytes;
  char* p = end;
  *--p = '/';
  const OutputNode* nodes = v.nodes.begin();
  for (uint32_t at = node; nodes[at].length > 0; at = nodes[at].parent) {
    const OutputNode& o = nodes[at];
    if (o.symbol >= kFirstNamedSymbol) {
      const std::string* name = NameOfSymbol(t, o.symbol);
      const size_t size = name != nullptr ? name->size() : 0;
      if (size_t(p - bytes) < size + 2) [[unlikely]] {
        int32_t symbols[kMaxOutputSymbols];
        const int n = OutputSymbols(v, node, symbols);
        RenderCompleteReading(t, symbols, n, a, b, text);
        return;
      }
      *--p = ';';
      p -= size;
      if (size != 0) std::memcpy(p, name->data(), size);
      *--p = '&';
      continue;
    }
    const uint8_t c = uint8_t(o.symbol & 0xFF);
    if (c == 0) continue;
    if (p == bytes) [[unlikely]] {
      int32_t symbols[kMaxOutputSymbols];
      const int n = OutputSymbols(v, node, symbols);
      RenderCompleteReading(t, symbols, n, a, b, text);
      return;
    }
    const bool upper = o.length == 1 ? a == 1 : b == 1;
    *--p = char(upper ? UpperCaseOf(c) : c);
  }
  AppendBytes(text, p, size_t(end - p));
}

bool RenderPieceReading(const Automaton& t, const int32_t* symbols, int n,
                        int a, int b, int& capital_pending, std::string& text) {
  if (n == 0) return false;
  ReadingBytes r(text);
  for (int i = 0; i < n; ++i) {
    const int32_t s = symbols[i];
    const bool first = a == 1 && capital_pending == 1;
    if (first) capital_pending = 0;
    if (s >= kFirstNamedSymbol)
      AppendName(t, s, first || b == 1, r);
    else
      AppendCharacter(s, first || b == 1, r);
  }
  Flush(r);
  return true;
}

bool HasApostrophe(std::string_view form) {
  return form.find('\'') != std::string_view::npos;
}

}  // namespace etiquem
