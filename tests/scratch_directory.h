// Test helper: one scratch directory per test process, where tests write
// every file they need, so that a run of the suite leaves nothing behind.
//
// The directory is made on first use under $TMPDIR (or /tmp, when TMPDIR is
// unset or empty) with mkdtemp, and removed with everything in it when the
// process exits normally: an atexit handler, run by the process that made
// it and by no other. The children that tests fork end with _exit or exec,
// which skip atexit handlers; a child that called exit() anyway would find
// the handler does nothing outside the process that made the directory.
//
//   const std::string bin = test_support::ScratchPath("test.bin");
//   const std::string dir = test_support::NewScratchSubdirectory("work");

#ifndef ETIQUEM_TESTS_SCRATCH_DIRECTORY_H_
#define ETIQUEM_TESTS_SCRATCH_DIRECTORY_H_

#include <string>

namespace etiquem::test_support {

// The process's scratch directory, with no trailing slash. Made on the first call (safe from any thread); throws
// std::runtime_error when it cannot be made.
const std::string& ScratchDirectory();

// The path of `name` (a file name or a relative path) in the scratch
// directory. Nothing is created.
std::string ScratchPath(const std::string& name);

// A fresh empty directory in the scratch directory, named `prefix` followed
// by a unique suffix (mkdtemp), so that two calls never share one. Throws
// std::runtime_error when it cannot be made.
std::string NewScratchSubdirectory(const std::string& prefix);

}  // namespace etiquem::test_support

#endif  // ETIQUEM_TESTS_SCRATCH_DIRECTORY_H_
