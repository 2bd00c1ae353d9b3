// The one rule for text from outside (names, paths, tokens) inside a message
// of any of the programs: a message stays one line and never drives the
// terminal it is printed on. And the rules for such text in outputs that
// must be UTF-8: a C comment, a JSON string.
#ifndef KNOTFIT_LIB_QUOTED_H
#define KNOTFIT_LIB_QUOTED_H

#include <cstddef>
#include <string>
#include <string_view>

namespace knotfit {

// text with every control byte escaped as \xHH: the C0 controls, DEL and the
// C1 controls, both as raw bytes 0x80-0x9F and UTF-8-encoded (U+0080-U+009F,
// "\xc2\x9b"), the latter escaped byte by byte. Every other byte passes, so
// valid UTF-8 ("Grüße") and Latin-1 names read as they are.
std::string Quoted(std::string_view text);

// As Quoted, and every byte that is not part of well-formed UTF-8 escaped
// as \xHH too ("Gr\xfc\xdfe"): printable UTF-8 throughout.
std::string QuotedUtf8(std::string_view text);

// text as a JSON string, quotes included: '"' and '\' escaped, the C0
// controls as \u00HH, and every byte that is not part of well-formed UTF-8
// one U+FFFD (as \ufffd); everything else, DEL and the C1 controls
// included, as it is.
std::string JsonString(std::string_view text);

// The length of the well-formed UTF-8 sequence of two to four bytes that
// starts text[i], or 0 when none does (an ASCII byte, an overlong form, a
// surrogate, anything beyond U+10FFFF).
size_t Utf8Length(std::string_view text, size_t i);

} // namespace knotfit

#endif
