// The refusal of a run whose output would feed its own input; see
// same_file.h.

#include "cli/same_file.h"

#include <sys/stat.h>

#include "engine/messages.h"

namespace etiquem {

namespace {

using messages::kOutputIsAutomaton;
using messages::kOutputIsInput;
using messages::kUnknownIsAutomaton;
using messages::kUnknownIsInput;

// A file's identity, or none (`valid` false) when it cannot be examined or
// is of a kind that writing cannot feed back.
struct Identity {
  bool valid = false;
  dev_t device = 0;
  ino_t inode = 0;
};

Identity FromStat(int result, const struct stat& st) {
  Identity id;
  if (result == 0 && (S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode))) {
    id.valid = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
  }
  return id;
}

Identity OfDescriptor(int fd) {
  struct stat st;
  const int result = fstat(fd, &st);
  return FromStat(result, st);
}

Identity OfPath(const char* path) {
  struct stat st;
  if (path == nullptr) return Identity{};
  const int result = stat(path, &st);
  return FromStat(result, st);
}

bool Same(const Identity& a, const Identity& b) {
  return a.valid && b.valid && a.device == b.device && a.inode == b.inode;
}

}  // namespace

std::string SameFileError(const RunFiles& files) {
  const Identity input = OfDescriptor(files.input_fd);
  const Identity automaton = OfPath(files.automaton_path);
  if (files.unknown_path != nullptr || files.unknown_fd >= 0) {
    const Identity unknown = files.unknown_fd >= 0
                                 ? OfDescriptor(files.unknown_fd)
                                 : OfPath(files.unknown_path);
    if (Same(unknown, input)) return kUnknownIsInput;
    if (Same(unknown, automaton)) return kUnknownIsAutomaton;
  }
  const Identity output = OfDescriptor(files.output_fd);
  if (Same(output, input)) return kOutputIsInput;
  if (Same(output, automaton)) return kOutputIsAutomaton;
  return "";
}

}  // namespace etiquem
