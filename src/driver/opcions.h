// Start-up: the command line, the files, and the run of the analysis.
//
// Options are read with getopt and the option string "hsf:b:d:am" in its
// default, permuting mode. Every failure ends the program with a message on
// standard error and a non-zero status; -h writes the usage text to standard
// output and ends with status 0.

#ifndef ETIQUEM_DRIVER_OPCIONS_H_
#define ETIQUEM_DRIVER_OPCIONS_H_

namespace etiquem {

// Default automaton file, relative to the working directory.
constexpr const char* kFitxerBinari = "binari/automorf.bin";

struct Opcions {
  int f = 0;  // -f: an input file was named
  int s = 0;  // -s: write the surface form before each reading
  int b = 0;  // -b: an automaton file was named
  int d = 0;  // -d: write unknown words to a file
  int a = 0;  // -a: a blank after a form with an apostrophe
  int m = 0;  // -m: mark unknown words
  const char* fit_lec = nullptr;   // -f argument
  const char* fit_bin = nullptr;   // -b argument, or the default
  const char* fit_desc = nullptr;  // -d argument
};

// Parses the command line into `o`. Returns only when every argument was a
// valid option; otherwise writes its message and ends the program.
void ObrirFitxers(int argc, char** argv, Opcions& o);

// The whole program; returns the exit status.
int Executa(int argc, char** argv);

}  // namespace etiquem

#endif  // ETIQUEM_DRIVER_OPCIONS_H_
