// Runs a command with standard output to a file and prints its wall time in
// seconds, its peak resident memory in KiB, its exit status and its CPU
// time (user and system) in seconds:
//   measure OUTFILE COMMAND [ARG...]
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fputs("usage: measure OUTFILE COMMAND [ARG...]\n", stderr);
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(out, 1) < 0) {
      _exit(126);
    }
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) {
    std::perror("measure");
    return 2;
  }
  const std::chrono::duration<double> wall =
      std::chrono::steady_clock::now() - start;
  const double cpu =
      static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) *
          1e-6;
  std::printf("%.4f %ld %d %.4f\n", wall.count(), usage.ru_maxrss,
              WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
              cpu);
  return 0;
}
