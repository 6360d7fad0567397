// Fuzz target: the input scanner on arbitrary bytes.
//
// The first byte chooses the read block size (down to one byte, so that the
// opener "<![CDATA[" and the closer "]]>" are split across reads in every
// way); the rest is the input. Checked: the tokens put back together give
// the input exactly (plus the "]]>" that closes a superblank left open at
// the end); every superblank starts with the opener and holds no closer
// before its end; no opener survives among the character tokens; end of
// input is reported again on every later call.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "comu.h"
#include "input/escaner.h"

namespace {

using etiquem::fuzz::Falla;

constexpr std::string_view kObridor = "<![CDATA[";
constexpr std::string_view kTancador = "]]>";

int entrada = -1;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dades, size_t mida) {
  if (mida == 0) return 0;
  static const size_t kMides[8] = {1, 2, 3, 8, 9, 10, 17, 1 << 16};
  const size_t bloc = kMides[dades[0] & 7];
  const std::string_view text(reinterpret_cast<const char*>(dades) + 1,
                              mida - 1);
  const int fd = etiquem::fuzz::Memfd(entrada, "entrada");
  etiquem::fuzz::Posa(fd, text);

  etiquem::Escaner e;
  etiquem::IniciaEscaner(e, fd, bloc);
  std::string refet;
  std::string caracters;  // the current run of character tokens
  bool obert = false;     // the last superblank was closed by the end
  for (;;) {
    const int tipus = etiquem::yylex(e);
    if (tipus == etiquem::TOKEN_FINAL) break;
    if (obert) Falla("a token after a superblank closed by the end of input");
    if (tipus == etiquem::TOKEN_CARACTER) {
      if (e.token.te_cadena) Falla("a character token with a text");
      refet.push_back(char(e.token.caracter));
      caracters.push_back(char(e.token.caracter));
      continue;
    }
    if (tipus != etiquem::TOKEN_SUPERBLANC) Falla("unknown token kind");
    if (caracters.find(kObridor) != std::string::npos)
      Falla("an opener delivered as characters", "", caracters);
    caracters.clear();
    const std::string& s = e.token.cadena;
    if (!e.token.te_cadena || s.size() < kObridor.size() + kTancador.size() ||
        s.compare(0, kObridor.size(), kObridor) != 0 ||
        s.compare(s.size() - kTancador.size(), kTancador.size(), kTancador) != 0)
      Falla("a superblank without its opener and closer", "", s);
    const size_t primer = s.find(kTancador, kObridor.size());
    if (primer != s.size() - kTancador.size())
      Falla("a superblank holds a closer before its end", "", s);
    refet += s;
    // Closed by the input or by its end: the input must hold it whole, or
    // all of it but the closer as its last bytes.
    if (text.size() >= refet.size() &&
        text.compare(0, refet.size(), refet) == 0)
      continue;
    obert = true;
  }
  if (caracters.find(kObridor) != std::string::npos)
    Falla("an opener delivered as characters", "", caracters);
  std::string esperat(text);
  if (obert) esperat += kTancador;
  if (refet != esperat) Falla("tokens differ from the input", esperat, refet);
  for (int i = 0; i < 3; ++i)
    if (etiquem::yylex(e) != etiquem::TOKEN_FINAL)
      Falla("end of input not repeated");
  return 0;
}
