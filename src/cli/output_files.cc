// The program's outputs; see output_files.h.

#include "cli/output_files.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>

#include "engine/messages.h"

namespace etiquem {

namespace {

// Lines of one write of the unknown-words file: at most this many bytes, so
// that appends to a pipe are atomic. A single line is never longer (a word
// is at most 254 characters of up to 4 bytes).
constexpr size_t kLinesPerWrite = PIPE_BUF;
static_assert(PIPE_BUF >= 1024, "a whole word line fits in one write");

void Fail(OutputFiles& files, OutputFile& file) {
  if (files.first_failure.empty())
    files.first_failure = messages::WriteFailed(file.name, errno);
  file.failed = true;
}

// Writes `lines` (whole lines) in writes of whole lines, each at most
// kLinesPerWrite bytes.
bool WriteLines(int fd, std::string_view lines) {
  while (!lines.empty()) {
    size_t n = lines.size();
    if (n > kLinesPerWrite) {
      n = lines.rfind('\n', kLinesPerWrite - 1) + 1;
      if (n == 0) n = lines.find('\n') + 1;  // cannot happen: see above
    }
    if (!WriteAll(fd, lines.substr(0, n))) return false;
    lines.remove_prefix(n);
  }
  return true;
}

bool InUse(const OutputFile& file) { return file.fd >= 0 && !file.failed; }

}  // namespace

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t r = write(fd, bytes.data(), bytes.size());
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(size_t(r));
  }
  return true;
}

bool WriteBatch(void* context, const Batch& batch) {
  OutputFiles& files = *static_cast<OutputFiles*>(context);
  OutputFile& out = files.standard_output;
  OutputFile& unknown = files.unknown_words;
  if (InUse(out) && !WriteAll(out.fd, batch.output)) Fail(files, out);
  if (InUse(unknown) && !WriteLines(unknown.fd, batch.unknown_words))
    Fail(files, unknown);
  return InUse(out) || InUse(unknown);
}

}  // namespace etiquem
