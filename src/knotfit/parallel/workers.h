// Worker threads for -j: they run tasks (parsing points, fitting and
// formatting, and writing a data set's files ahead into temporary files
// beside their targets, which only the reading thread renames; never a
// message, never the input or standard output) with every signal the run
// handles blocked, so that the one thread that reads the input and puts files
// in place is the one that handles them (the handler removes the workers'
// temporary files too).
#ifndef KNOTFIT_PARALLEL_WORKERS_H
#define KNOTFIT_PARALLEL_WORKERS_H

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The most threads -j starts, and the most cores a quota counts.
constexpr unsigned kMostThreads = 1024;

// The cores this process may use: its CPU affinity, and the CPU quota of its
// control group where one is set (rounded up). At least 1.
unsigned UsableCores();

// The CPU quota of one control group directory, in cores (rounded up, and
// kMostThreads at most), or 0 when it sets none: cgroup v2's cpu.max ("max
// 100000" or "150000 100000"), or v1's cpu.cfs_quota_us (-1 for none) over
// cpu.cfs_period_us.
unsigned QuotaIn(const std::string &dir);

// The smallest CPU quota on the way from the process's control groups up to
// the root, in cores; 0 when none is set. /proc/self/cgroup names a group
// per hierarchy ("0::/path" for v2, "3:cpu,cpuacct:/path" for v1).
unsigned CgroupQuota();

class Workers {
public:
  // A piece of work and whether it has run; it must stay where it is until
  // Wait returned for it or the Workers are gone.
  struct Task {
    std::function<void()> work;
    bool done = false;        // guarded by the Workers' mutex
    std::exception_ptr error; // what work threw
  };

  explicit Workers(unsigned threads);
  // Drops the tasks not started and waits for the running ones.
  ~Workers();
  Workers(const Workers &) = delete;
  Workers &operator=(const Workers &) = delete;

  unsigned threads() const { return static_cast<unsigned>(threads_.size()); }

  // Queues the task; tasks start in the order given.
  void Start(Task &task);
  // Whether the task has run, without waiting.
  bool Done(const Task &task);
  // Waits until the task has run, and throws what it threw.
  void Wait(Task &task);
  // Drops the tasks not started and waits for the running ones.
  void Cancel();

private:
  void Loop();

  std::mutex mutex_; // guards the queue, busy_, stopping_ and Task::done
  std::condition_variable queued_;
  std::condition_variable finished_;
  std::deque<Task *> queue_;
  unsigned busy_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

#endif
