#include "parallel/workers.h"

#include "replacement_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fstream>
#include <pthread.h>
#include <sched.h>
#include <sstream>
#include <string>
#include <system_error>

unsigned QuotaIn(const std::string &dir) {
  double quota = 0;
  double period = 0;
  std::ifstream v2(dir + "/cpu.max");
  std::string word;
  if (v2 >> word >> period) {
    quota = word == "max" ? 0 : std::atof(word.c_str());
  } else {
    std::ifstream q(dir + "/cpu.cfs_quota_us");
    std::ifstream p(dir + "/cpu.cfs_period_us");
    if (!(q >> quota && p >> period)) {
      return 0;
    }
  }
  if (quota <= 0 || period <= 0) {
    return 0;
  }
  // Capped, so that any quota converts.
  return static_cast<unsigned>(
      std::min(std::max(1.0, std::ceil(quota / period)), double{kMostThreads}));
}

unsigned CgroupQuota() {
  std::ifstream groups("/proc/self/cgroup");
  unsigned best = 0;
  std::string line;
  while (std::getline(groups, line)) {
    const size_t colon = line.find(':');
    const size_t second = line.find(':', colon + 1);
    if (colon == std::string::npos || second == std::string::npos) {
      continue;
    }
    const std::string controllers = line.substr(colon + 1, second - colon - 1);
    std::vector<std::string> roots;
    if (controllers.empty()) {
      roots = {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"};
    } else if (("," + controllers + ",").find(",cpu,") != std::string::npos) {
      roots = {"/sys/fs/cgroup/cpu", "/sys/fs/cgroup/cpu,cpuacct"};
    }
    for (const std::string &root : roots) {
      std::string path = line.substr(second + 1);
      for (;;) {
        const unsigned quota = QuotaIn(root + path);
        if (quota > 0 && (best == 0 || quota < best)) {
          best = quota;
        }
        const size_t slash = path.find_last_of('/');
        if (path.empty() || slash == std::string::npos) {
          break;
        }
        path.erase(slash); // up to the parent, ending with the root ""
      }
    }
  }
  return best;
}

unsigned UsableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  unsigned cores = 1;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    cores = static_cast<unsigned>(std::max(CPU_COUNT(&set), 1));
  }
  const unsigned quota = CgroupQuota();
  return quota > 0 ? std::min(cores, quota) : cores;
}

Workers::Workers(unsigned threads) {
  // A thread starts with the signal mask of the thread that creates it.
  const SignalsBlocked blocked;
  try {
    for (unsigned k = 0; k < threads; ++k) {
      threads_.emplace_back([this] { Loop(); });
    }
  } catch (const std::system_error &) {
    // The system has no more threads to give: fewer do the work.
  }
}

Workers::~Workers() {
  {
    const std::lock_guard lock(mutex_);
    queue_.clear();
    stopping_ = true;
  }
  queued_.notify_all();
  for (std::thread &thread : threads_) {
    thread.join();
  }
}

void Workers::Start(Task &task) {
  {
    const std::lock_guard lock(mutex_);
    task.done = false;
    queue_.push_back(&task);
  }
  queued_.notify_one();
}

bool Workers::Done(const Task &task) {
  const std::lock_guard lock(mutex_);
  return task.done;
}

void Workers::Wait(Task &task) {
  {
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [&task] { return task.done; });
  }
  if (task.error) {
    std::rethrow_exception(task.error);
  }
}

void Workers::Cancel() {
  std::unique_lock lock(mutex_);
  queue_.clear();
  finished_.wait(lock, [this] { return busy_ == 0; });
}

void Workers::Loop() {
  // The workers' work is throughput: a worker woken for a task does not
  // preempt the thread that woke it, which reads the input and puts every
  // data set in place, and which the run waits for.
  const sched_param batch{};
  pthread_setschedparam(pthread_self(), SCHED_BATCH, &batch);
  std::unique_lock lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) {
      return;
    }
    Task &task = *queue_.front();
    queue_.pop_front();
    ++busy_;
    lock.unlock();
    try {
      task.work();
    } catch (...) {
      task.error = std::current_exception(); // out of memory, rethrown by Wait
    }
    lock.lock();
    task.done = true;
    --busy_;
    finished_.notify_all();
  }
}
