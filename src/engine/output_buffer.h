// Buffered writing to a file descriptor.
//
// Everything the program writes to standard output or to the unknown-words
// file goes through one of these records: bytes gather in `pending` and leave
// in one write(2) when the reader is about to wait for input, when the buffer
// passes `flush_threshold`, or at the end. A failed write is fatal: the message
// names the stream and the reason, and the program ends with status 1 (a closed
// pipe still ends it by SIGPIPE, as for any filter).
//
// A worker analysing one stretch of a file beside others (engine/pieces.h)
// writes into a record held in memory instead: its bytes are written later,
// in input order, and a fatal error met there is thrown as PieceError, to
// be reported only if that stretch's output turns out to be the program's.

#ifndef ETIQUEM_ENGINE_OUTPUT_BUFFER_H_
#define ETIQUEM_ENGINE_OUTPUT_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace etiquem {

struct OutputBuffer {
  int fd = 1;                                  // descriptor written to
  const char* name = "la salida est\xe1ndar";  // stream name for messages
  std::string pending;                         // bytes not yet written
  size_t flush_threshold = 1 << 20;  // bytes gathered before a write is forced
  bool in_memory = false;  // nothing is written: bytes stay in `pending`
};

// Makes `s` a record held in memory.
inline void HoldInMemory(OutputBuffer& s) {
  s.in_memory = true;
  s.flush_threshold = SIZE_MAX;
}

// A fatal error met while writing into records held in memory: what Terminate
// would have reported.
struct PieceError {
  int status = 0;
  std::string message;
};

// Writes out everything gathered. On failure writes "Error: ..." to standard
// error and ends the program with status 1.
void Flush(OutputBuffer& s);

// Appends bytes; writes the buffer out when it passes the threshold.
inline void Write(OutputBuffer& s, std::string_view text) {
  s.pending.append(text.data(), text.size());
  if (s.pending.size() >= s.flush_threshold) Flush(s);
}

inline void WriteByte(OutputBuffer& s, char c) {
  s.pending.push_back(c);
  if (s.pending.size() >= s.flush_threshold) Flush(s);
}

// Writes `text` out with the buffer, without copying large texts into it.
void WriteLarge(OutputBuffer& s, std::string_view text);

// Writes a message to standard error (unbuffered, whole).
void WriteToStandardError(std::string_view message);

// Ends the program with `status`: first writes out what the given outputs
// hold (what was produced before a failure is not lost), then the message on
// standard error. When the first output is held in memory, throws
// PieceError instead.
[[noreturn]] void Terminate(int status, std::string_view message,
                            OutputBuffer* pending = nullptr,
                            OutputBuffer* other_pending = nullptr);

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_OUTPUT_BUFFER_H_
