// Start-up: the command line, the files, and the run of the analysis.
//
// Options are read with getopt and the option string "hsf:b:d:am" in its
// default, permuting mode. Every failure ends the program with a message on
// standard error and a non-zero status; -h writes the usage text to standard
// output and ends with status 0.

#ifndef ETIQUEM_CLI_OPTIONS_H_
#define ETIQUEM_CLI_OPTIONS_H_

namespace etiquem {

// Default automaton file, relative to the working directory.
constexpr const char* kDefaultAutomatonPath = "binari/automorf.bin";

struct CommandLine {
  int has_input_file = 0;      // -f: an input file was named
  int surface_forms = 0;       // -s: write the surface form before each reading
  int has_automaton_file = 0;  // -b: an automaton file was named
  int unknown_file = 0;        // -d: write unknown words to a file
  int apostrophe_blank = 0;    // -a: a blank after a form with an apostrophe
  int mark_unknown = 0;        // -m: mark unknown words
  const char* input_path = nullptr;      // -f argument
  const char* automaton_path = nullptr;  // -b argument, or the default
  const char* unknown_path = nullptr;    // -d argument
};

// Parses the command line into `o`. Returns only when every argument was a
// valid option; otherwise writes its message and ends the program.
void ParseCommandLine(int argc, char** argv, CommandLine& o);

// The whole program; returns the exit status.
int RunProgram(int argc, char** argv);

}  // namespace etiquem

#endif  // ETIQUEM_CLI_OPTIONS_H_
