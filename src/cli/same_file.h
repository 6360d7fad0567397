// The refusal of a run whose output would feed its own input.
//
// Writing to the file being analysed makes the analysis read its own output
// (`etiquem -f a.txt >> a.txt` never ends, `-d a.txt -f a.txt` grows the
// file until the disk is full), and writing to the automaton file corrupts
// the dictionary. Start-up asks this check before anything is written: once
// before the unknown-words file is opened (so that a refused one is neither
// created nor touched) and once after, on the descriptor actually opened.
//
// Files are the same when they have the same device and inode, whatever
// names (links) lead to them. Only regular files and FIFOs are compared:
// writing to a terminal or /dev/null does not feed what is read from it.

#ifndef ETIQUEM_CLI_SAME_FILE_H_
#define ETIQUEM_CLI_SAME_FILE_H_

#include <string>

namespace etiquem {

// What a run reads and writes.
struct RunFiles {
  int input_fd = 0;                       // the text analysed
  const char* automaton_path = nullptr;   // the automaton file
  int output_fd = 1;                      // standard output
  const char* unknown_path = nullptr;     // -d argument, or null
  int unknown_fd = -1;  // the -d file once opened; -1: look at the path
};

// The one-line message refusing the run (with its line end), or "" when no
// output is one of the files read. A path that cannot be examined (a -d
// file not created yet) is no file read.
std::string SameFileError(const RunFiles& files);

}  // namespace etiquem

#endif  // ETIQUEM_CLI_SAME_FILE_H_
