// Helpers for the dictionary tool tests: compiling sources in memory, walking
// a loaded automaton the way etiquem does, rendering readings, and running
// the built programs.
//
// The walk is kept independent of etiquem's own matcher so the compiler's
// tests hold even while the matcher changes: live paths in order, consuming
// moves (an upper-case letter also follows code + 32), then the epsilon
// closure breadth-first over each state's first epsilon group.

#ifndef ETIQUEM_TESTS_DIC_DIC_PROVA_H_
#define ETIQUEM_TESTS_DIC_DIC_PROVA_H_

#include <cstdint>
#include <string>
#include <vector>

#include "automaton/automat.h"
#include "dic/automat_dic.h"

namespace etiquem::dic::prova {

// One accepted path: the marker met and the output symbols written.
struct Lectura {
  int marca;                     // FIN_TRADUC, FIN_PARCIAL or FIN_DESCON
  std::vector<int32_t> sortida;  // output symbols, 0s left out
};

// Every path that reads all of `forma` (Latin-1) and ends at a marker, in the
// order etiquem lists them. `vius`, when given, gets the largest number of
// live paths seen after any character.
std::vector<Lectura> Lectures(const Transductor& t, const std::string& forma,
                              size_t* vius = nullptr);

// The complete readings of `forma` as etiquem writes lower-case input:
// "casa&n;/casar&vblex;/" style, concatenated.
std::string Completes(const Transductor& t, const std::string& forma);

// Output symbols as text, tags as &name;.
std::string Text(const Transductor& t, const std::vector<int32_t>& sortida);

// Loads the bytes of an automaton file; fails the test on error.
Transductor Carrega(const std::string& bytes);

// Compiles a lexicon (UTF-8 or Latin-1 text) and loads the result.
Transductor CompilaText(const std::string& lexic);

// Reads a whole file; empty when it cannot be read.
std::string LlegeixFitxer(const std::string& nom);
void EscriuFitxer(const std::string& nom, const std::string& bytes);
bool Existeix(const std::string& nom);

// A fresh empty directory under the test temporary directory.
std::string DirectoriNou(const std::string& nom);

// Runs a shell command with `entrada` on standard input.
struct Resultat {
  int estat;  // exit status, or -1 when it did not exit normally
  std::string sortida;
  std::string errors;
};
Resultat Executa(const std::string& ordre, const std::string& entrada = "");

// Shell quoting of one word.
std::string Cometes(const std::string& s);

// The two Latin-1 case rules that etiquem applies to a reading.
bool Majuscula(int c);
int AMajuscula(int c);

}  // namespace etiquem::dic::prova

#endif  // ETIQUEM_TESTS_DIC_DIC_PROVA_H_
