// Start-up: the command line, the files, and the run of the analysis.
//
// Options are read with getopt_long and the option string "hsf:b:d:am" in
// its default, permuting mode, so the short options parse and complain as
// plain getopt did; the long options (--help, --version, --json) come from
// one table in options.cc. Every failure ends the program with a message on
// standard error and a non-zero status; -h writes the usage text to standard
// output and ends with status 0.

#ifndef ETIQUEM_CLI_OPTIONS_H_
#define ETIQUEM_CLI_OPTIONS_H_

#include <string>

namespace etiquem {

// Default automaton file, relative to the working directory. It is also
// the name in the message when no automaton is found at all.
constexpr const char* kDefaultAutomatonPath = "binari/automorf.bin";

// The dictionary of the build or the installation, relative to the
// directory of the etiquem executable: beside it (the build tree, where it
// is build/etiquem) or one level up (an installation, PREFIX/bin/etiquem).
constexpr const char* kOwnDictionaryPaths[] = {
    "share/etiquem/default.bin", "../share/etiquem/default.bin"};

struct CommandLine {
  int has_input_file = 0;      // -f: an input file was named
  int surface_forms = 0;       // -s: write the surface form before each reading
  int has_automaton_file = 0;  // -b: an automaton file was named
  int unknown_file = 0;        // -d: write unknown words to a file
  int apostrophe_blank = 0;    // -a: a blank after a form with an apostrophe
  int mark_unknown = 0;        // -m: mark unknown words
  int utf8 = 0;                // --utf8: UTF-8 text in and out
  int json = 0;                // --json: JSON Lines instead of the text
  const char* input_path = nullptr;      // -f argument
  const char* automaton_path = nullptr;  // -b argument, or the default
  const char* unknown_path = nullptr;    // -d argument
};

// The automaton read when no -b is given: kDefaultAutomatonPath if it
// exists in the working directory (it always came first); otherwise the
// first of kOwnDictionaryPaths that exists, from the directory of the
// running executable (/proc/self/exe, so a moved tree still finds its own);
// otherwise kDefaultAutomatonPath again, so that the failure names it as it
// always did.
std::string DefaultAutomaton();

// Parses the command line into `o`. Returns only when every argument was a
// valid option; otherwise writes its message and ends the program.
void ParseCommandLine(int argc, char** argv, CommandLine& o);

// The whole program; returns the exit status.
int RunProgram(int argc, char** argv);

}  // namespace etiquem

#endif  // ETIQUEM_CLI_OPTIONS_H_
