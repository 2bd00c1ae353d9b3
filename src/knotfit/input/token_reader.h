// Splits an input stream into whitespace-separated tokens, read in large
// blocks. Tokens may be of any length.
#ifndef KNOTFIT_INPUT_TOKEN_READER_H
#define KNOTFIT_INPUT_TOKEN_READER_H

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

class TokenReader {
public:
  enum class Pair { kPair, kLoneToken, kEnd };

  // Reads from in, which stays owned by the caller.
  explicit TokenReader(std::FILE *in, size_t block_size = size_t{1} << 20);

  // The next two tokens. kLoneToken: the input ended after first; kEnd: no
  // token was left, or a read failed (no token cut short by it is returned).
  // The views stay valid until the next call. They are the tokens as C
  // strings read them: a token ends at a NUL byte, as it always did for atof
  // and strcmp. A UTF-8 byte-order mark at the start of the input is no part
  // of a token.
  Pair NextPair(std::string_view &first, std::string_view &second);

  // Whether a token of the last pair holds a NUL byte. Only then are these
  // the pair's tokens whole, up to the next white space, NUL bytes and all
  // (an empty second for a lone token).
  bool held_nul() const { return held_nul_; }
  std::string_view first_whole() const { return first_whole_; }
  std::string_view second_whole() const { return second_whole_; }

  // The lines (from 1) on which the first and the second token of the last
  // pair start.
  uint64_t first_line() const { return first_line_; }
  uint64_t second_line() const { return second_line_; }

  // How many bytes of the input were consumed so far.
  uint64_t bytes_read() const { return shift_ + pos_; }

  // The errno of a failed read, 0 while none failed. A failed read ends the
  // reading, but is not the end of the input: the caller says so.
  int error() const { return error_; }

private:
  bool NextToken(bool first_of_pair, size_t &begin, size_t &end);
  bool Refill();
  void SkipByteOrderMark();

  std::FILE *in_;
  size_t block_size_;
  std::vector<char> buf_;
  size_t pos_ = 0;         // next unread byte
  size_t end_ = 0;         // end of the bytes read so far
  size_t keep_ = 0;        // start of the pair in progress: kept across refills
  size_t shift_ = 0;       // bytes the refills moved the buffer down, in all
  uint64_t line_ends_ = 0; // '\n' bytes before pos_
  uint64_t first_line_ = 0;
  uint64_t second_line_ = 0;
  bool eof_ = false;
  bool held_nul_ = false;
  std::string_view first_whole_;
  std::string_view second_whole_;
  int error_ = 0;
};

#endif
