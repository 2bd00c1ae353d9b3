// --shard=K/N: one of N runs that together do what one run does. Every shard
// reads the whole input and numbers its data sets from 0; a data set belongs
// to shard (the number of the first data set of its output name) mod N, so
// that the data sets of one name, which replace each other's files, are all
// in one shard and replace each other there as in one run.
#ifndef KNOTFIT_SHARD_H
#define KNOTFIT_SHARD_H

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct ShardChoice {
  uint64_t index = 0;
  uint64_t count = 0; // 0: no --shard, the whole input
  bool given() const { return count > 0; }
};

// "K/N", two integers with 0 <= K < N; false for anything else.
bool ParseShard(std::string_view text, ShardChoice &shard);

// Numbers a run's data sets across its inputs, in input order, and decides
// which of them this run fits and writes.
class DataSetNumbers {
public:
  explicit DataSetNumbers(ShardChoice shard) : shard_(shard) {}

  // The next data set, named name, where its name is known before its
  // points (a CSV file's curves): its number, and whether it is this run's.
  struct Turn {
    uint64_t number = 0;
    bool ours = true;
  };
  Turn Take(std::string_view name);

  // Where the name comes after the points (token input), the inputs are
  // first read for their NAME pairs alone: each is planned, in order.
  void Plan(std::string_view name);
  // Whether the data set whose points come next is this run's; one beyond
  // those planned (points after the last NAME pair) is every shard's.
  bool NextIsOurs() const;
  // Its turn, once its NAME pair is read.
  Turn TakePlanned();

  const ShardChoice &shard() const { return shard_; }

private:
  bool Owns(std::string_view name, uint64_t number);

  ShardChoice shard_;
  uint64_t next_ = 0;
  std::unordered_map<std::string, uint64_t> first_; // by output file name
  std::vector<bool> planned_;
};

#endif
