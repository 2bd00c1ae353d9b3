#include "shard.h"

#include "kel_path.h"

#include <charconv>

bool ParseShard(std::string_view text, ShardChoice &shard) {
  const size_t slash = text.find('/');
  if (slash == std::string_view::npos) {
    return false;
  }
  auto number = [](std::string_view digits, uint64_t &value) {
    const char *end = digits.data() + digits.size();
    const auto [at, ec] = std::from_chars(digits.data(), end, value);
    return !digits.empty() && ec == std::errc() && at == end;
  };
  ShardChoice read;
  if (!number(text.substr(0, slash), read.index) ||
      !number(text.substr(slash + 1), read.count) || read.index >= read.count) {
    return false;
  }
  shard = read;
  return true;
}

// The one rule of which shard a data set is in.
bool DataSetNumbers::Owns(std::string_view name, uint64_t number) {
  if (!shard_.given()) {
    return true;
  }
  const uint64_t first =
      first_.try_emplace(FileName(name), number).first->second;
  return first % shard_.count == shard_.index;
}

DataSetNumbers::Turn DataSetNumbers::Take(std::string_view name) {
  const uint64_t number = next_++;
  return {number, Owns(name, number)};
}

void DataSetNumbers::Plan(std::string_view name) {
  planned_.push_back(Owns(name, planned_.size()));
}

bool DataSetNumbers::NextIsOurs() const {
  return !shard_.given() || next_ >= planned_.size() || planned_[next_];
}

DataSetNumbers::Turn DataSetNumbers::TakePlanned() {
  const bool ours = NextIsOurs();
  return {next_++, ours};
}
