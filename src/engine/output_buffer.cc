// Buffered writing; see output_buffer.h.

#include "engine/output_buffer.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace etiquem {

namespace {

// Writes all of [p, p+n) to `fd`, retrying short writes; false on error.
bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t r = write(fd, p, n);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += r;
    n -= size_t(r);
  }
  return true;
}

[[noreturn]] void FailWrite(const OutputBuffer& s) {
  std::string m = "Error: No se pudo escribir en ";
  m += s.name;
  m += ": ";
  m += strerror(errno);
  m += "\n";
  WriteToStandardError(m);
  _exit(1);
}

}  // namespace

void Flush(OutputBuffer& s) {
  if (s.pending.empty() || s.in_memory) return;
  if (!WriteAll(s.fd, s.pending.data(), s.pending.size())) FailWrite(s);
  s.pending.clear();
}

void WriteLarge(OutputBuffer& s, std::string_view text) {
  if (text.size() < s.flush_threshold) {
    Write(s, text);
    return;
  }
  Flush(s);
  if (!WriteAll(s.fd, text.data(), text.size())) FailWrite(s);
}

void WriteToStandardError(std::string_view message) {
  WriteAll(2, message.data(), message.size());
}

void Terminate(int status, std::string_view message, OutputBuffer* pending,
               OutputBuffer* other_pending) {
  if (pending && pending->in_memory)
    throw PieceError{status, std::string(message)};
  if (pending) Flush(*pending);
  if (other_pending) Flush(*other_pending);
  WriteToStandardError(message);
  _exit(status);
}

}  // namespace etiquem
