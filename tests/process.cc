// Test helper: whole runs of a built program (see process.h).
//
// fork + execv with three pipes (or a file on standard input), serviced by
// one poll loop so that a program writing much output while its input is
// still being fed cannot deadlock against the test.

#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace etiquem::test_support {
namespace {

void Fail(const std::string& problem) {
  throw std::runtime_error(problem + ": " + std::strerror(errno));
}

void SetNonBlocking(int fd) {
  int f = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, f | O_NONBLOCK);
}

// `input_fd` >= 0: standard input from that descriptor; otherwise a pipe
// fed with `input`.
Result RunWith(const std::vector<std::string>& args, const std::string& input,
               int input_fd, const RunOptions& op) {
  if (args.empty()) throw std::invalid_argument("RunWith: no program");
  // A child that exits early must not kill the test while it is being fed.
  signal(SIGPIPE, SIG_IGN);

  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2];
  if (input_fd < 0 && pipe2(in, O_CLOEXEC) != 0) Fail("pipe");
  if (op.output == StandardOutputMode::kCaptured && pipe2(out, O_CLOEXEC) != 0)
    Fail("pipe");
  if (pipe2(err, O_CLOEXEC) != 0) Fail("pipe");

  std::vector<char*> argv;
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    dup2(input_fd >= 0 ? input_fd : in[0], 0);
    if (op.output == StandardOutputMode::kCaptured) {
      dup2(out[1], 1);
    } else if (op.output == StandardOutputMode::kFull ||
               op.output == StandardOutputMode::kAppend) {
      int file = op.output == StandardOutputMode::kFull
                     ? open("/dev/full", O_WRONLY)
                     : open(op.output_path.c_str(),
                            O_WRONLY | O_CREAT | O_APPEND, 0666);
      if (file < 0) _exit(126);
      dup2(file, 1);
      close(file);
    }
    dup2(err[1], 2);
    if (op.errors_full) {
      int full = open("/dev/full", O_WRONLY);
      if (full < 0) _exit(126);
      dup2(full, 2);
      close(full);
    }
    if (op.address_space_limit != 0) {
      const rlimit limit{op.address_space_limit, op.address_space_limit};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
    }
    if (op.output == StandardOutputMode::kClosed) close(1);
    if (!op.directory.empty() && chdir(op.directory.c_str()) != 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }

  if (input_fd < 0) close(in[0]);
  if (out[1] >= 0) close(out[1]);
  close(err[1]);

  Result r;
  const auto started = std::chrono::steady_clock::now();
  // Bytes to feed: `input`, or `input` repeated up to op.input_length; the
  // pattern is repeated past 64 KiB so that a write may start anywhere in it.
  const uint64_t to_send =
      op.input_length != 0 && !input.empty() ? op.input_length : input.size();
  std::string pattern = input;
  if (to_send > input.size())
    while (pattern.size() < (1 << 16) + input.size()) pattern += input;
  uint64_t sent = 0;
  int fd_in = in[1];
  if (fd_in >= 0) {
    SetNonBlocking(fd_in);
    if (input.empty()) {
      close(fd_in);
      fd_in = -1;
    }
  }
  int fd_out = out[0], fd_err = err[0];
  auto limit =
      std::chrono::steady_clock::now() + std::chrono::seconds(op.seconds);
  char block[65536];

  while (fd_in >= 0 || fd_out >= 0 || fd_err >= 0) {
    pollfd p[3];
    int n = 0;
    if (fd_in >= 0) p[n++] = {fd_in, POLLOUT, 0};
    if (fd_out >= 0) p[n++] = {fd_out, POLLIN, 0};
    if (fd_err >= 0) p[n++] = {fd_err, POLLIN, 0};
    auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(
                    limit - std::chrono::steady_clock::now())
                    .count();
    if (rest <= 0) {
      kill(pid, SIGKILL);
      r.timed_out = true;
      break;
    }
    int k = poll(p, n, int(rest));
    if (k < 0) {
      if (errno == EINTR) continue;
      Fail("poll");
    }
    for (int i = 0; i < n; ++i) {
      if (p[i].revents == 0) continue;
      int fd = p[i].fd;
      if (fd == fd_in) {
        const size_t from = size_t(sent % input.size());
        const size_t length = size_t(
            std::min<uint64_t>(pattern.size() - from, to_send - sent));
        ssize_t w = write(fd, pattern.data() + from, length);
        if (w > 0) sent += uint64_t(w);
        if ((w < 0 && errno != EAGAIN) || sent == to_send) {
          close(fd_in);  // done, or the program closed its input
          fd_in = -1;
        }
      } else {
        ssize_t l = read(fd, block, sizeof block);
        if (l < 0 && errno == EINTR) continue;
        if (l <= 0) {
          close(fd);
          (fd == fd_out ? fd_out : fd_err) = -1;
        } else {
          (fd == fd_out ? r.output : r.errors).append(block, size_t(l));
        }
      }
    }
  }
  for (int fd : {fd_in, fd_out, fd_err})
    if (fd >= 0) close(fd);

  int st = 0;
  rusage usage{};
  while (wait4(pid, &st, 0, &usage) < 0 && errno == EINTR) {
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                            started)
                  .count();
  r.peak_kb = usage.ru_maxrss;
  if (WIFEXITED(st)) {
    r.status = WEXITSTATUS(st);
  } else if (WIFSIGNALED(st)) {
    r.signal_number = WTERMSIG(st);
  }
  return r;
}

}  // namespace

Result RunCommand(const std::vector<std::string>& args,
                  const std::string& input, const RunOptions& options) {
  return RunWith(args, input, -1, options);
}

Result RunWithInputFile(const std::vector<std::string>& args,
                        const std::string& input_path,
                        const RunOptions& options) {
  int fd = open(input_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail("open " + input_path);
  Result r;
  try {
    r = RunWith(args, "", fd, options);
  } catch (...) {
    close(fd);
    throw;
  }
  close(fd);
  return r;
}

long PeakMemoryKiB(const std::string& command) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    // A fresh process, whose only child is the command: its figure for
    // its children is the command's own.
    close(pipe_fds[0]);
    const pid_t child = fork();
    if (child == 0) {
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    struct rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    const long peak = WIFEXITED(status) && WEXITSTATUS(status) == 0
                          ? usage.ru_maxrss
                          : -2;
    (void)!write(pipe_fds[1], &peak, sizeof peak);
    _exit(0);
  }
  close(pipe_fds[1]);
  long peak = -1;
  (void)!read(pipe_fds[0], &peak, sizeof peak);
  close(pipe_fds[0]);
  waitpid(pid, nullptr, 0);
  return peak;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

}  // namespace etiquem::test_support
