#include "test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::string pattern = (fs::temp_directory_path() / "knotfit-test-XXXXXX");
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string ScratchDir::operator/(const std::string &relative) const {
  return path_ + "/" + relative;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

void WriteFile(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

bool Exists(const std::string &path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path, ignored));
}

void MakeKelTree(const std::string &kel) {
  fs::create_directories(kel + "/CS/plot");
}

Job::Job(const std::string &text) {
  MakeKelTree(kel);
  WriteFile(input, text);
}

RunResult Job::Run(Stdout to) const {
  return RunKnotfit({input}, {"TROV_KEL=" + kel}, to);
}

std::string Job::Table(const std::string &name) const {
  return ReadFile(kel + "/CS/" + name);
}

std::string Job::Plot(const std::string &name) const {
  return ReadFile(kel + "/CS/plot/" + name);
}

std::string Bytes(const std::string &hex) {
  std::string out;
  std::istringstream in(hex);
  std::string byte;
  while (in >> byte) {
    out.push_back(static_cast<char>(std::stoul(byte, nullptr, 16)));
  }
  return out;
}

RunResult RunKnotfit(const std::vector<std::string> &args,
                     const std::vector<std::string> &env, Stdout stdout_to,
                     int timeout_s, const std::string &cwd) {
  ScratchDir capture;
  const std::string out_path = capture / "stdout";
  const std::string err_path = capture / "stderr";

  std::vector<std::string> argv_store{KNOTFIT_EXE};
  argv_store.insert(argv_store.end(), args.begin(), args.end());
  std::vector<char *> argv;
  argv.reserve(argv_store.size() + 1);
  for (auto &a : argv_store) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  std::vector<std::string> env_store(env);
  std::vector<char *> envp;
  envp.reserve(env_store.size() + 1);
  for (auto &e : env_store) {
    envp.push_back(e.data());
  }
  envp.push_back(nullptr);

  int broken_pipe[2] = {-1, -1};
  if (stdout_to == Stdout::kBrokenPipe && pipe(broken_pipe) == 0) {
    close(broken_pipe[0]); // the reader is gone before the first write
  }
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    int out = -1;
    switch (stdout_to) {
    case Stdout::kCapture:
    case Stdout::kClosed:
      out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      break;
    case Stdout::kFull:
      out = open("/dev/full", O_WRONLY);
      break;
    case Stdout::kBrokenPipe:
      out = broken_pipe[1];
      break;
    }
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
        dup2(err, 2) < 0 || (!cwd.empty() && chdir(cwd.c_str()) != 0)) {
      _exit(126);
    }
    if (stdout_to == Stdout::kClosed) {
      close(1);
    }
    signal(SIGPIPE, SIG_DFL);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (broken_pipe[1] >= 0) {
    close(broken_pipe[1]);
  }
  RunResult result;
  if (pid < 0) {
    ADD_FAILURE() << "fork failed";
    return result;
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
  int wstatus = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &wstatus, WNOHANG);
    if (done == pid) {
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      ADD_FAILURE() << "knotfit did not finish within " << timeout_s << " s";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  result.status =
      WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  result.out = ReadFile(out_path);
  result.err = ReadFile(err_path);
  return result;
}
