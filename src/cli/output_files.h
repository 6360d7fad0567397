// The program's two outputs, standard output and the unknown-words file, as
// the sink of the engine's batches.
//
// Each batch's annotated bytes go to standard output in one write(2), then
// its unknown-word lines to the -d file. A write of the unknown-words file
// always ends at a line end and never holds more than PIPE_BUF bytes, so
// several programs appending to one file (or one pipe) never tear or merge
// each other's lines.
//
// A failed write is not the end of what the other output is owed: the
// failed output is written no more, the analysis goes on for the output
// that still works, and the first failure is reported when the run ends.
// So everything analysed reaches every output that works, whichever way the
// input was read. With no output left, the analysis stops at once.

#ifndef ETIQUEM_CLI_OUTPUT_FILES_H_
#define ETIQUEM_CLI_OUTPUT_FILES_H_

#include <string>

#include "etiquem/etiquem.h"

namespace etiquem {

struct OutputFile {
  int fd = -1;             // -1: not in use
  const char* name = "";   // as messages name it
  bool failed = false;     // a write failed; nothing more is written
};

struct OutputFiles {
  OutputFile standard_output;
  OutputFile unknown_words;
  std::string first_failure;  // the message of the first failed write
};

// The sink: `context` is an OutputFiles.
bool WriteBatch(void* context, const Batch& batch);

// Writes all of `bytes` to `fd`, retrying short writes and interruptions;
// false (with errno set) when a write fails.
bool WriteAll(int fd, std::string_view bytes);

}  // namespace etiquem

#endif  // ETIQUEM_CLI_OUTPUT_FILES_H_
