// Reading texts; see traduccio.h.

#include "matching/traduccio.h"

namespace etiquem {

namespace {

// Appends character symbol `s`, with its capital when `majuscula`. A symbol
// whose byte is 0 adds nothing.
inline void Caracter(int32_t s, bool majuscula, std::string& text) {
  const uint8_t c = uint8_t(s & 0xFF);
  if (c == 0) return;
  text.push_back(char(majuscula ? Majuscula(c) : c));
}

// Appends "&name;". Every symbol reaching here has a define: the loader
// refuses files with undefined symbols on moves that can be followed.
inline void Nom(const Transductor& t, int32_t s, bool majuscules,
                std::string& text) {
  const std::string* nom = CorrespDef(t, s);
  text.push_back('&');
  if (nom != nullptr) {
    if (majuscules) {
      for (char c : *nom) text.push_back(char(mayusculas(uint8_t(c))));
    } else {
      text += *nom;
    }
  }
  text.push_back(';');
}

}  // namespace

void ObtenerTraduccio(const Transductor& t, const int32_t* simbols, int n,
                      int a, int b, std::string& text) {
  for (int i = 0; i < n; ++i) {
    const int32_t s = simbols[i];
    if (s >= PRIMER_DEFINE)
      Nom(t, s, false, text);
    else
      Caracter(s, i == 0 ? a == 1 : b == 1, text);
  }
  text.push_back('/');
}

bool TraducParcial(const Transductor& t, const int32_t* simbols, int n, int a,
                   int b, int& unica, std::string& text) {
  if (n == 0) return false;
  for (int i = 0; i < n; ++i) {
    const int32_t s = simbols[i];
    const bool primera = a == 1 && unica == 1;
    if (primera) unica = 0;
    if (s >= PRIMER_DEFINE)
      Nom(t, s, primera || b == 1, text);
    else
      Caracter(s, primera || b == 1, text);
  }
  return true;
}

int Apostrofada(std::string_view forma) {
  return forma.find('\'') != std::string_view::npos ? 1 : 0;
}

}  // namespace etiquem
