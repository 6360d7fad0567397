// One scratch directory per test process, removed at exit (see
// scratch_directory.h).
//
// The path is kept in a heap object that is never freed, so that the exit
// handler never reads a destroyed static object, whatever the order in which
// static objects and atexit handlers are undone.

#include "scratch_directory.h"

#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace etiquem::test_support {
namespace {

struct Scratch {
  std::string path;  // made by mkdtemp; no trailing slash
  pid_t owner = 0;   // the process that made it, the only one to remove it
};

// Set once, by MakeScratch; read by the exit handler.
const Scratch* scratch = nullptr;

// Makes a unique directory from `path_template` (ending in XXXXXX).
std::string MakeUniqueDirectory(const std::string& path_template) {
  std::vector<char> buffer(path_template.begin(), path_template.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr)
    throw std::runtime_error("mkdtemp " + path_template + ": " +
                             std::strerror(errno));
  return buffer.data();
}

void RemoveScratch() {
  if (scratch == nullptr || getpid() != scratch->owner) return;
  std::error_code ignored;
  std::filesystem::remove_all(scratch->path, ignored);
}

const Scratch* MakeScratch() {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string parent = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
  while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
  if (parent != "/") parent += '/';
  auto* made = new Scratch{MakeUniqueDirectory(parent + "etiquem-test-XXXXXX"),
                           getpid()};
  scratch = made;
  if (std::atexit(RemoveScratch) != 0) {
    RemoveScratch();
    throw std::runtime_error("atexit: cannot register the scratch removal");
  }
  return made;
}

}  // namespace

const std::string& ScratchDirectory() {
  static const Scratch* const made = MakeScratch();
  assert(made != nullptr && !made->path.empty());
  return made->path;
}

std::string ScratchPath(const std::string& name) {
  assert(!name.empty() && name.front() != '/');
  return ScratchDirectory() + "/" + name;
}

std::string NewScratchSubdirectory(const std::string& prefix) {
  assert(prefix.find('/') == std::string::npos);
  return MakeUniqueDirectory(ScratchPath(prefix + "-XXXXXX"));
}

}  // namespace etiquem::test_support
