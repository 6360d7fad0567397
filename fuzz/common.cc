// Support shared by the fuzz targets; see common.h.

#include "common.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

// The program's fatal exits, seen from a fuzz target: always a finding.
extern "C" void _exit(int state) {
  std::fprintf(stderr,
               "fuzz: the program would end here with status %d (a fatal "
               "exit the target should never reach)\n",
               state);
  std::abort();
}

namespace etiquem::fuzz {

namespace {

void Check(bool correct, const char* problem) {
  if (correct) return;
  std::perror(problem);
  std::abort();
}

}  // namespace

int Memfd(int& fd, const char* name) {
  if (fd < 0) {
    fd = memfd_create(name, MFD_CLOEXEC);
    Check(fd >= 0, "memfd_create");
  }
  return fd;
}

void Load(int fd, std::string_view data) {
  Check(ftruncate(fd, 0) == 0, "ftruncate");
  size_t done = 0;
  while (done < data.size()) {
    ssize_t r = pwrite(fd, data.data() + done, data.size() - done, off_t(done));
    Check(r > 0, "pwrite");
    done += size_t(r);
  }
  Check(lseek(fd, 0, SEEK_SET) == 0, "lseek");
}

void Empty(int fd) { Load(fd, {}); }

std::string Contents(int fd) {
  std::string r;
  char block[1 << 14];
  off_t pos = 0;
  for (;;) {
    ssize_t n = pread(fd, block, sizeof block, pos);
    Check(n >= 0, "pread");
    if (n == 0) return r;
    r.append(block, size_t(n));
    pos += n;
  }
}

void CheckMessage(const std::string& message) {
  if (message.rfind("Error", 0) != 0)
    Fail("message without \"Error\"", "", message);
  const size_t line_end = message.find('\n');
  if (line_end != std::string::npos && line_end != message.size() - 1)
    Fail("message of more than one line", "", message);
}

void Fail(const char* problem, std::string_view expected,
          std::string_view actual) {
  std::fprintf(stderr, "fuzz: %s\n", problem);
  if (!expected.empty() || !actual.empty()) {
    std::fprintf(stderr, "  expected (%zu bytes): ", expected.size());
    std::fwrite(expected.data(), 1,
                expected.size() < 400 ? expected.size() : 400, stderr);
    std::fprintf(stderr, "\n  got      (%zu bytes): ", actual.size());
    std::fwrite(actual.data(), 1, actual.size() < 400 ? actual.size() : 400,
                stderr);
    std::fputc('\n', stderr);
  }
  std::abort();
}

}  // namespace etiquem::fuzz
