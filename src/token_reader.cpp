#include "token_reader.h"

#include <cerrno>
#include <cstring>

namespace {

// isspace() in the C locale.
bool IsSpace(char ch) {
  return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

} // namespace

TokenReader::TokenReader(std::FILE *in, size_t block_size)
    : in_(in), block_size_(block_size), buf_(block_size) {}

// Moves the pair in progress to the front of the buffer and reads the next
// block behind it; the buffer only grows for a pair longer than a block.
bool TokenReader::Refill() {
  if (eof_) {
    return false;
  }
  std::memmove(buf_.data(), buf_.data() + keep_, end_ - keep_);
  pos_ -= keep_;
  end_ -= keep_;
  shift_ += keep_;
  keep_ = 0;
  if (buf_.size() - end_ < block_size_) {
    buf_.resize(end_ + block_size_);
  }
  const size_t got = std::fread(buf_.data() + end_, 1, block_size_, in_);
  end_ += got;
  if (got < block_size_) {
    if (std::ferror(in_)) {
      error_ = errno != 0 ? errno : EIO;
    }
    eof_ = true;
  }
  return got > 0;
}

// Finds the next token as offsets into buf_, which a refill moves down.
bool TokenReader::NextToken(bool first_of_pair, size_t &begin, size_t &end) {
  for (;;) {
    while (pos_ < end_ && IsSpace(buf_[pos_])) {
      ++pos_;
    }
    if (pos_ < end_) {
      break;
    }
    if (first_of_pair) {
      keep_ = pos_; // only white space lies behind: nothing to keep
    }
    if (!Refill()) {
      return false;
    }
  }
  if (first_of_pair) {
    keep_ = pos_;
  }
  begin = pos_;
  for (;;) {
    while (pos_ < end_ && !IsSpace(buf_[pos_])) {
      ++pos_;
    }
    if (pos_ < end_) {
      break;
    }
    const size_t shift_before = shift_;
    const bool more = Refill();
    begin -= shift_ - shift_before;
    if (!more) {
      break;
    }
  }
  end = pos_;
  return true;
}

TokenReader::Pair TokenReader::NextPair(std::string_view &first,
                                        std::string_view &second) {
  size_t b1 = 0, e1 = 0, b2 = 0, e2 = 0;
  if (!NextToken(true, b1, e1)) {
    return Pair::kEnd;
  }
  const size_t shift_before = shift_;
  const bool paired = NextToken(false, b2, e2);
  b1 -= shift_ - shift_before;
  e1 -= shift_ - shift_before;
  auto view = [this](size_t b, size_t e) {
    const std::string_view token(buf_.data() + b, e - b);
    return token.substr(0, token.find('\0'));
  };
  first = view(b1, e1);
  if (!paired) {
    return Pair::kLoneToken;
  }
  second = view(b2, e2);
  return Pair::kPair;
}
