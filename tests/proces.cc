// Test helper: whole runs of a built program (see proces.h).
//
// fork + execv with three pipes (or a file on standard input), serviced by
// one poll loop so that a program writing much output while its input is
// still being fed cannot deadlock against the test.

#include "proces.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace etiquem::prova {
namespace {

void Falla(const std::string& que) {
  throw std::runtime_error(que + ": " + std::strerror(errno));
}

void NoBloqueja(int fd) {
  int f = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, f | O_NONBLOCK);
}

// `fd_entrada` >= 0: standard input from that descriptor; otherwise a pipe
// fed with `entrada`.
Resultat Corre(const std::vector<std::string>& args, const std::string& entrada,
               int fd_entrada, const OpcionsExecucio& op) {
  if (args.empty()) throw std::invalid_argument("Executa: no program");
  // A child that exits early must not kill the test while it is being fed.
  signal(SIGPIPE, SIG_IGN);

  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2];
  if (fd_entrada < 0 && pipe2(in, O_CLOEXEC) != 0) Falla("pipe");
  if (op.sortida == Sortida::kCaptura && pipe2(out, O_CLOEXEC) != 0)
    Falla("pipe");
  if (pipe2(err, O_CLOEXEC) != 0) Falla("pipe");

  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) Falla("fork");
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    dup2(fd_entrada >= 0 ? fd_entrada : in[0], 0);
    if (op.sortida == Sortida::kCaptura) {
      dup2(out[1], 1);
    } else if (op.sortida == Sortida::kPle) {
      int ple = open("/dev/full", O_WRONLY);
      if (ple < 0) _exit(126);
      dup2(ple, 1);
      close(ple);
    }
    dup2(err[1], 2);
    if (op.sortida == Sortida::kTancada) close(1);
    if (!op.directori.empty() && chdir(op.directori.c_str()) != 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }

  if (fd_entrada < 0) close(in[0]);
  if (out[1] >= 0) close(out[1]);
  close(err[1]);

  Resultat r;
  size_t enviat = 0;
  int fd_in = in[1];
  if (fd_in >= 0) {
    NoBloqueja(fd_in);
    if (entrada.empty()) {
      close(fd_in);
      fd_in = -1;
    }
  }
  int fd_out = out[0], fd_err = err[0];
  auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(op.segons);
  char bloc[65536];

  while (fd_in >= 0 || fd_out >= 0 || fd_err >= 0) {
    pollfd p[3];
    int n = 0;
    if (fd_in >= 0) p[n++] = {fd_in, POLLOUT, 0};
    if (fd_out >= 0) p[n++] = {fd_out, POLLIN, 0};
    if (fd_err >= 0) p[n++] = {fd_err, POLLIN, 0};
    auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(
                     limit - std::chrono::steady_clock::now()).count();
    if (resta <= 0) {
      kill(pid, SIGKILL);
      r.temps_esgotat = true;
      break;
    }
    int k = poll(p, n, int(resta));
    if (k < 0) {
      if (errno == EINTR) continue;
      Falla("poll");
    }
    for (int i = 0; i < n; ++i) {
      if (p[i].revents == 0) continue;
      int fd = p[i].fd;
      if (fd == fd_in) {
        ssize_t w = write(fd, entrada.data() + enviat, entrada.size() - enviat);
        if (w > 0) enviat += size_t(w);
        if ((w < 0 && errno != EAGAIN) || enviat == entrada.size()) {
          close(fd_in);  // done, or the program closed its input
          fd_in = -1;
        }
      } else {
        ssize_t l = read(fd, bloc, sizeof bloc);
        if (l < 0 && errno == EINTR) continue;
        if (l <= 0) {
          close(fd);
          (fd == fd_out ? fd_out : fd_err) = -1;
        } else {
          (fd == fd_out ? r.sortida : r.errors).append(bloc, size_t(l));
        }
      }
    }
  }
  for (int fd : {fd_in, fd_out, fd_err})
    if (fd >= 0) close(fd);

  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(st)) {
    r.estat = WEXITSTATUS(st);
  } else if (WIFSIGNALED(st)) {
    r.senyal = WTERMSIG(st);
  }
  return r;
}

}  // namespace

Resultat Executa(const std::vector<std::string>& args,
                 const std::string& entrada, const OpcionsExecucio& opcions) {
  return Corre(args, entrada, -1, opcions);
}

Resultat ExecutaAmbFitxer(const std::vector<std::string>& args,
                          const std::string& fitxer_entrada,
                          const OpcionsExecucio& opcions) {
  int fd = open(fitxer_entrada.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Falla("open " + fitxer_entrada);
  Resultat r;
  try {
    r = Corre(args, "", fd, opcions);
  } catch (...) {
    close(fd);
    throw;
  }
  close(fd);
  return r;
}

}  // namespace etiquem::prova
