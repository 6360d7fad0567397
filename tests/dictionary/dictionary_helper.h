// Helpers for the dictionary tool tests: compiling sources in memory, walking
// a loaded automaton the way etiquem does, rendering readings, and running
// the built programs.
//
// The walk is kept independent of etiquem's own matcher so the compiler's
// tests hold even while the matcher changes: live paths in order, consuming
// moves (an upper-case letter also follows code + 32), then the epsilon
// closure breadth-first over each state's first epsilon group.

#ifndef ETIQUEM_TESTS_DICTIONARY_DICTIONARY_HELPER_H_
#define ETIQUEM_TESTS_DICTIONARY_DICTIONARY_HELPER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "dictionary/automaton_writer.h"
#include "engine/automaton.h"

namespace etiquem::dictionary::test_support {

// One accepted path: the marker met and the output symbols written.
struct Reading {
  int marker;                   // kEndOfAnalysis, kEndOfPiece or kEndOfUnknown
  std::vector<int32_t> output;  // output symbols, 0s left out
};

// Every path that reads all of `form` (Latin-1) and ends at a marker, in the
// order etiquem lists them. `max_live`, when given, gets the largest number of
// live paths seen after any character.
std::vector<Reading> Readings(const Automaton& t, const std::string& form,
                              size_t* max_live = nullptr);

// The complete readings of `form` as etiquem writes lower-case input:
// "casa&n;/casar&vblex;/" style, concatenated.
std::string CompleteReadings(const Automaton& t, const std::string& form);

// Output symbols as text, tags as &name;.
std::string Text(const Automaton& t, const std::vector<int32_t>& output);

// Loads the bytes of an automaton file; fails the test on error.
Automaton Load(const std::string& bytes);

// Compiles a lexicon (UTF-8 or Latin-1 text) and loads the result.
Automaton CompileText(const std::string& lexicon);

// Reads a whole file; empty when it cannot be read.
std::string ReadFile(const std::string& name);
void WriteFile(const std::string& name, const std::string& bytes);
bool Exists(const std::string& name);

// A fresh empty directory, named after `name`, in the process's scratch
// directory (removed when the process exits).
std::string NewDirectory(const std::string& name);

// Runs a shell command with `input` on standard input.
struct Result {
  int status;  // exit status, or -1 when it did not exit normally
  std::string output;
  std::string errors;
};
Result RunShell(const std::string& command, const std::string& input = "");

// Shell quoting of one word.
std::string ShellQuote(const std::string& s);

// The two Latin-1 case rules that etiquem applies to a reading.
bool IsUpperForReading(int c);
int UpperCaseForReading(int c);

}  // namespace etiquem::dictionary::test_support

#endif  // ETIQUEM_TESTS_DICTIONARY_DICTIONARY_HELPER_H_
