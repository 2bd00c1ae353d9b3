#include "input/token_reader.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

enum Kind : unsigned char { kTokenChar, kSpace, kNul };

// Every byte's kind: white space as isspace() in the C locale, the NUL that
// ends a C string, anything else part of a token.
constexpr std::array<unsigned char, 256> kKinds = [] {
  std::array<unsigned char, 256> kinds{};
  for (const char ch : std::string_view(" \t\n\v\f\r")) {
    kinds[static_cast<unsigned char>(ch)] = kSpace;
  }
  kinds[0] = kNul;
  return kinds;
}();

Kind KindOf(char ch) {
  return static_cast<Kind>(kKinds[static_cast<unsigned char>(ch)]);
}

// Bytes after the data that a scan may read: eight at a time.
constexpr size_t kPadding = 8;

// The first byte from pos on that is below '!' (white space, NUL, or another
// control byte), eight at a time. A byte b < 0x21 is the one whose
// b - 0x21 borrows into its top bit while b's own top bit is clear; a borrow
// only ever marks bytes above the first such byte, so the lowest mark is
// exact. The scan stops at the latest at the space behind the data.
size_t SkipPrintable(const char *buf, size_t pos) {
  for (;; pos += 8) {
    uint64_t word = 0;
    std::memcpy(&word, buf + pos, 8);
    if constexpr (std::endian::native == std::endian::big) {
      word = __builtin_bswap64(word);
    }
    const uint64_t below =
        (word - 0x2121212121212121u) & ~word & 0x8080808080808080u;
    if (below != 0) {
      return pos + static_cast<size_t>(std::countr_zero(below) / 8);
    }
  }
}

} // namespace

// One byte more than a block: the space written behind the data read stops
// every token scan without a bounds check; and the scan's padding.
TokenReader::TokenReader(std::FILE *in, size_t block_size)
    : in_(in), block_size_(block_size), buf_(block_size + 1 + kPadding, ' ') {}

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
  if (buf_.size() - end_ < block_size_ + 1 + kPadding) {
    buf_.resize(end_ + block_size_ + 1 + kPadding);
  }
  errno = 0;
  const size_t got = std::fread(buf_.data() + end_, 1, block_size_, in_);
  end_ += got;
  buf_[end_] = ' ';
  if (got < block_size_) {
    if (std::ferror(in_)) {
      error_ = errno != 0 ? errno : EIO;
    }
    eof_ = true;
  }
  return got > 0;
}

// The mark EF BB BF that some editors put at the start of a UTF-8 file: it is
// no part of the first token, which would then not be a number. Looked at
// once the first block is read.
void TokenReader::SkipByteOrderMark() {
  while (end_ < 3 && Refill()) {
  }
  if (end_ >= 3 && std::memcmp(buf_.data(), "\xef\xbb\xbf", 3) == 0) {
    pos_ = 3;
  }
}

// Finds the next token as offsets into buf_, which a refill moves down. A
// NUL byte in it is noted in held_nul_.
bool TokenReader::NextToken(bool first_of_pair, size_t &begin, size_t &end) {
  // Line ends are counted here, where white space is passed over anyway:
  // one addition per blank, no pass of its own over the input.
  uint64_t line_ends = line_ends_;
  for (;;) {
    while (pos_ < end_ && KindOf(buf_[pos_]) == kSpace) {
      line_ends += buf_[pos_] == '\n' ? 1 : 0;
      ++pos_;
    }
    if (pos_ < end_) {
      break;
    }
    if (first_of_pair) {
      keep_ = pos_; // only white space lies behind: nothing to keep
    }
    if (!Refill()) {
      line_ends_ = line_ends;
      return false;
    }
    if (shift_ + pos_ == 0) {
      SkipByteOrderMark(); // the input's first block
    }
  }
  line_ends_ = line_ends;
  if (first_of_pair) {
    keep_ = pos_;
  }
  begin = pos_;
  for (;;) {
    Kind kind;
    while ((kind = KindOf(buf_[pos_ = SkipPrintable(buf_.data(), pos_)])) ==
           kTokenChar) {
      ++pos_; // a control byte, which is part of a token
    }
    if (kind == kNul) {
      // Found by the scan for the token's end anyway: the common token
      // costs nothing more.
      held_nul_ = true;
      ++pos_;
      continue;
    }
    if (pos_ < end_) {
      break; // white space
    }
    const size_t shift_before = shift_;
    const bool more = Refill();
    begin -= shift_ - shift_before;
    if (!more) {
      if (error_ != 0) {
        return false; // cut short by a failed read: no token at all
      }
      break;
    }
  }
  end = pos_;
  return true;
}

TokenReader::Pair TokenReader::NextPair(std::string_view &first,
                                        std::string_view &second) {
  size_t b1 = 0, e1 = 0, b2 = 0, e2 = 0;
  held_nul_ = false;
  if (!NextToken(true, b1, e1)) {
    return Pair::kEnd;
  }
  first_line_ = line_ends_ + 1;
  const size_t shift_before = shift_;
  const bool paired = NextToken(false, b2, e2);
  b1 -= shift_ - shift_before;
  e1 -= shift_ - shift_before;
  first = std::string_view(buf_.data() + b1, e1 - b1);
  second =
      paired ? std::string_view(buf_.data() + b2, e2 - b2) : std::string_view();
  if (held_nul_) {
    // Rare: the tokens whole are kept aside, and handed out as C reads them.
    first_whole_ = first;
    second_whole_ = second;
    first = first.substr(0, first.find('\0'));
    second = second.substr(0, second.find('\0'));
  }
  if (!paired) {
    // After a failed read the input has no end to be unpaired at.
    return error_ != 0 ? Pair::kEnd : Pair::kLoneToken;
  }
  second_line_ = line_ends_ + 1;
  return Pair::kPair;
}
