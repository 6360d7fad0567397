// Fuzz target: the input scanner on arbitrary bytes.
//
// The first byte chooses the read block size (down to one byte, so that the
// opener "<![CDATA[" and the closer "]]>" are split across reads in every
// way); the rest is the input. Checked: the tokens put back together give
// the input exactly (plus the "]]>" that closes a superblank left open at
// the end); every superblank starts with the opener and holds no closer
// before its end; no opener survives among the character tokens; end of
// input is reported again on every later call.

#include "engine/scanner.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common.h"

namespace {

using etiquem::fuzz::Fail;

constexpr std::string_view kOpener = "<![CDATA[";
constexpr std::string_view kCloser = "]]>";

int input = -1;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const size_t kSizes[8] = {1, 2, 3, 8, 9, 10, 17, 1 << 16};
  const size_t block = kSizes[data[0] & 7];
  const std::string_view text(reinterpret_cast<const char*>(data) + 1,
                              size - 1);
  const int fd = etiquem::fuzz::Memfd(input, "entrada");
  etiquem::fuzz::Load(fd, text);

  etiquem::Scanner e;
  etiquem::Input source;
  source.fd = fd;
  etiquem::InitScanner(e, source, block);
  std::string rebuilt;
  std::string characters;    // the current run of character tokens
  bool open_at_end = false;  // the last superblank was closed by the end
  for (;;) {
    const int kind = etiquem::NextToken(e);
    if (kind == etiquem::kTokenEnd) break;
    if (open_at_end)
      Fail("a token after a superblank closed by the end of input");
    if (kind == etiquem::kTokenCharacter) {
      if (e.token.has_text) Fail("a character token with a text");
      rebuilt.push_back(char(e.token.byte));
      characters.push_back(char(e.token.byte));
      continue;
    }
    if (kind != etiquem::kTokenSuperblank) Fail("unknown token kind");
    if (characters.find(kOpener) != std::string::npos)
      Fail("an opener delivered as characters", "", characters);
    characters.clear();
    const std::string& s = e.token.text;
    if (!e.token.has_text || s.size() < kOpener.size() + kCloser.size() ||
        s.compare(0, kOpener.size(), kOpener) != 0 ||
        s.compare(s.size() - kCloser.size(), kCloser.size(), kCloser) != 0)
      Fail("a superblank without its opener and closer", "", s);
    const size_t first = s.find(kCloser, kOpener.size());
    if (first != s.size() - kCloser.size())
      Fail("a superblank holds a closer before its end", "", s);
    rebuilt += s;
    // Closed by the input or by its end: the input must hold it whole, or
    // all of it but the closer as its last bytes.
    if (text.size() >= rebuilt.size() &&
        text.compare(0, rebuilt.size(), rebuilt) == 0)
      continue;
    open_at_end = true;
  }
  if (characters.find(kOpener) != std::string::npos)
    Fail("an opener delivered as characters", "", characters);
  std::string expected(text);
  if (open_at_end) expected += kCloser;
  if (rebuilt != expected)
    Fail("tokens differ from the input", expected, rebuilt);
  for (int i = 0; i < 3; ++i)
    if (etiquem::NextToken(e) != etiquem::kTokenEnd)
      Fail("end of input not repeated");
  return 0;
}
