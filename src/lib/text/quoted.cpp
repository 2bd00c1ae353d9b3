#include "quoted.h"

#include <cstddef>

namespace knotfit {

namespace {

bool IsContinuation(unsigned char byte) {
  return byte >= 0x80 && byte <= 0xbf;
}

// byte as prefix and two hex digits.
void AppendEscaped(std::string &out, const char *prefix, unsigned char byte) {
  static const char kHex[] = "0123456789abcdef";
  out += prefix;
  out += kHex[byte >> 4];
  out += kHex[byte & 15];
}

// Quoted, and with utf8 also every byte outside well-formed UTF-8 escaped.
std::string Quote(std::string_view text, bool utf8) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const size_t length = byte >= 0xc2 ? Utf8Length(text, i) : 0;
    if (length > 0) {
      // U+0080-U+009F, the C1 controls, are 0xc2 0x80-0x9f.
      const auto second = static_cast<unsigned char>(text[i + 1]);
      if (byte == 0xc2 && second <= 0x9f) {
        AppendEscaped(out, "\\x", byte);
        AppendEscaped(out, "\\x", second);
      } else {
        out.append(text.substr(i, length));
      }
      i += length;
      continue;
    }
    if (byte < 0x20 || byte == 0x7f ||
        (byte >= 0x80 && (utf8 || byte <= 0x9f))) {
      AppendEscaped(out, "\\x", byte);
    } else {
      out += static_cast<char>(byte);
    }
    ++i;
  }
  return out;
}

} // namespace

size_t Utf8Length(std::string_view text, size_t i) {
  const auto byte = [&text](size_t k) {
    return static_cast<unsigned char>(text[k]);
  };
  const unsigned char lead = byte(i);
  size_t length = 0;
  unsigned char low = 0x80; // the range of the second byte
  unsigned char high = 0xbf;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    low = lead == 0xe0 ? 0xa0 : 0x80;
    high = lead == 0xed ? 0x9f : 0xbf;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    low = lead == 0xf0 ? 0x90 : 0x80;
    high = lead == 0xf4 ? 0x8f : 0xbf;
  }
  if (length == 0 || text.size() - i < length || byte(i + 1) < low ||
      byte(i + 1) > high) {
    return 0;
  }
  for (size_t k = 2; k < length; ++k) {
    if (!IsContinuation(byte(i + k))) {
      return 0;
    }
  }
  return length;
}

std::string Quoted(std::string_view text) {
  return Quote(text, false);
}

std::string QuotedUtf8(std::string_view text) {
  return Quote(text, true);
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const size_t length = byte >= 0xc2 ? Utf8Length(text, i) : 0;
    if (length > 0) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte < 0x20) {
      AppendEscaped(out, "\\u00", byte);
    } else if (byte < 0x80) {
      out += static_cast<char>(byte);
    } else {
      out += "\\ufffd";
    }
    ++i;
  }
  return out + "\"";
}

} // namespace knotfit
