#include "report/shard_merge.h"

#include "knotfit_internal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace {

using knotfit::detail::Quoted;

// A file as messages name it: 'path'.
std::string Named(const std::string &path) {
  std::string named(1, '\'');
  named += Quoted(path);
  named += '\'';
  return named;
}

struct JsonMember;

// A JSON value as read, with its text as it stands in the file: the merge
// passes the members of a data set's entry on as they were written, so that
// every number keeps its digits.
struct JsonValue {
  enum class Kind { kObject, kArray, kString, kOther } kind = Kind::kOther;
  std::string_view raw;
  std::string text; // a string's value
  std::vector<JsonMember> members;
  std::vector<JsonValue> items;

  const JsonValue *Find(std::string_view key) const;
};

struct JsonMember {
  std::string key;
  std::string_view raw; // "key": value
  JsonValue value;
};

const JsonValue *JsonValue::Find(std::string_view key) const {
  for (const JsonMember &m : members) {
    if (m.key == key) {
      return &m.value;
    }
  }
  return nullptr;
}

struct BadJson : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A reader of the JSON the program writes (any JSON, nested but bounded).
class JsonReader {
public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  JsonValue Document() {
    JsonValue v = Value(0);
    Space();
    if (at_ != text_.size()) {
      Fail("text after the value");
    }
    return v;
  }

private:
  [[noreturn]] void Fail(const std::string &what) const {
    throw BadJson(what + " at byte " + std::to_string(at_));
  }
  void Space() {
    while (at_ < text_.size() &&
           std::strchr(" \t\r\n", text_[at_]) != nullptr &&
           text_[at_] != '\0') {
      ++at_;
    }
  }
  char Peek() {
    Space();
    if (at_ == text_.size()) {
      Fail("end of file");
    }
    return text_[at_];
  }
  void Expect(char c) {
    if (Peek() != c) {
      Fail(std::string("'") + c + "' expected");
    }
    ++at_;
  }

  JsonValue Value(int depth) {
    if (depth > 64) {
      Fail("nesting too deep");
    }
    const char c = Peek();
    const size_t start = at_;
    JsonValue v;
    if (c == '{') {
      v.kind = JsonValue::Kind::kObject;
      ++at_;
      if (Peek() != '}') {
        do {
          JsonMember m;
          const size_t member = (Space(), at_);
          m.key = String();
          Expect(':');
          m.value = Value(depth + 1);
          m.raw = text_.substr(member, at_ - member);
          v.members.push_back(std::move(m));
        } while (Peek() == ',' && (++at_, true));
      }
      Expect('}');
    } else if (c == '[') {
      v.kind = JsonValue::Kind::kArray;
      ++at_;
      if (Peek() != ']') {
        do {
          v.items.push_back(Value(depth + 1));
        } while (Peek() == ',' && (++at_, true));
      }
      Expect(']');
    } else if (c == '"') {
      v.kind = JsonValue::Kind::kString;
      v.text = String();
    } else {
      // A number, true, false or null: passed on as written.
      while (at_ < text_.size() &&
             (std::isalnum(static_cast<unsigned char>(text_[at_])) != 0 ||
              std::strchr("+-.", text_[at_]) != nullptr)) {
        ++at_;
      }
      if (at_ == start) {
        Fail("a value expected");
      }
    }
    v.raw = text_.substr(start, at_ - start);
    return v;
  }

  unsigned Hex4() {
    if (text_.size() - at_ < 4) {
      Fail("\\u without four hex digits");
    }
    unsigned u = 0;
    for (int k = 0; k < 4; ++k) {
      const char h = text_[at_++];
      const int d = std::isdigit(static_cast<unsigned char>(h)) != 0 ? h - '0'
                    : h >= 'a' && h <= 'f' ? h - 'a' + 10
                    : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                           : -1;
      if (d < 0) {
        Fail("\\u without four hex digits");
      }
      u = u * 16 + static_cast<unsigned>(d);
    }
    return u;
  }

  static void AppendUtf8(std::string &out, unsigned u) {
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xc0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3f));
    } else if (u < 0x10000) {
      out += static_cast<char>(0xe0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (u & 0x3f));
    } else {
      out += static_cast<char>(0xf0 | (u >> 18));
      out += static_cast<char>(0x80 | ((u >> 12) & 0x3f));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (u & 0x3f));
    }
  }

  std::string String() {
    Expect('"');
    std::string out;
    for (;;) {
      if (at_ == text_.size()) {
        Fail("unterminated string");
      }
      const char c = text_[at_++];
      if (c == '"') {
        return out;
      }
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ == text_.size()) {
        Fail("unterminated string");
      }
      const char e = text_[at_++];
      static constexpr std::string_view kFrom = "\"\\/bfnrt";
      static constexpr std::string_view kTo = "\"\\/\b\f\n\r\t";
      if (const size_t k = kFrom.find(e); k != std::string_view::npos) {
        out += kTo[k];
      } else if (e == 'u') {
        unsigned u = Hex4();
        // A pair of surrogates is one code point beyond the BMP.
        if (u >= 0xd800 && u < 0xdc00 && text_.substr(at_, 2) == "\\u") {
          at_ += 2;
          u = 0x10000 + ((u - 0xd800) << 10) + (Hex4() - 0xdc00);
        }
        AppendUtf8(out, u);
      } else {
        Fail("unknown escape");
      }
    }
  }

  std::string_view text_;
  size_t at_ = 0;
};

// A shard's summary as the merge needs it.
struct ShardSummary {
  std::string path;
  std::string text; // the file; the values below point into it
  JsonValue doc;
  uint64_t index = 0, count = 0;
  size_t failed_fail_on = 0;
};

uint64_t Count(const JsonValue *v, const char *what) {
  uint64_t n = 0;
  if (v == nullptr || v->kind != JsonValue::Kind::kOther ||
      std::from_chars(v->raw.data(), v->raw.data() + v->raw.size(), n).ptr !=
          v->raw.data() + v->raw.size()) {
    throw BadJson(std::string("no count ") + what);
  }
  return n;
}

// An entry of one run's summary from its members' text: {"a": 1, "b": 2}.
std::string JoinedEntry(const std::vector<std::string_view> &members) {
  std::string json(1, '{');
  for (size_t k = 0; k < members.size(); ++k) {
    if (k > 0) {
      json.append(", ");
    }
    json.append(members[k].data(), members[k].size());
  }
  json.push_back('}');
  return json;
}

// The shard's data sets as the run's writers take them: the entry of one
// run's summary (every member but the shard's own), the page's row and
// figure, and what the totals and the page's order count.
void AddRecords(const ShardSummary &s, bool report,
                std::map<uint64_t, DataSetRecord> &records) {
  const JsonValue *sets = s.doc.Find("data_sets");
  if (sets == nullptr || sets->kind != JsonValue::Kind::kArray) {
    throw BadJson("no \"data_sets\" list");
  }
  for (const JsonValue &entry : sets->items) {
    DataSetRecord r;
    r.number = Count(entry.Find("number"), "\"number\" of a data set");
    std::vector<std::string_view> kept;
    for (const JsonMember &m : entry.members) {
      if (m.key != "number" && m.key != "row" && m.key != "figure") {
        kept.push_back(m.raw);
      }
    }
    r.json = JoinedEntry(kept);
    const JsonValue *row = entry.Find("row");
    const JsonValue *figure = entry.Find("figure");
    if (report && (row == nullptr || figure == nullptr)) {
      throw BadJson("data set " + std::to_string(r.number) +
                    " has no row and figure of the report: its shard ran "
                    "without --report");
    }
    if (row != nullptr && figure != nullptr) {
      r.row = row->text;
      r.figure = figure->text;
    }
    const JsonValue *status = entry.Find("status");
    const JsonValue *reason = entry.Find("reason");
    if (status != nullptr && status->text == "skipped") {
      r.skipped =
          reason != nullptr && !reason->text.empty() ? reason->text : "skipped";
    } else if (entry.Find("plot") != nullptr) {
      r.plot = reason != nullptr && !reason->text.empty() ? reason->text
                                                          : "not written";
    }
    if (const JsonValue *flags = entry.Find("flags")) {
      for (const JsonValue &f : flags->items) {
        const JsonValue *name = f.Find("flag");
        Flag flag{};
        if (name == nullptr || !ParseFlag(name->text, flag)) {
          throw BadJson("an unknown flag");
        }
        r.diagnosis.findings.emplace_back(flag);
      }
    }
    const uint64_t number = r.number;
    if (!records.emplace(number, std::move(r)).second) {
      throw BadJson("data set " + std::to_string(number) +
                    " is in another shard too");
    }
  }
}

// The file read and its shard found; false, told, when it cannot be.
bool ReadSummary(ShardSummary &s,
                 const std::function<void(const std::string &)> &tell) {
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> in(
      std::fopen(s.path.c_str(), "rb"), &std::fclose);
  char block[1 << 16];
  size_t got = 0;
  while (in && (got = std::fread(block, 1, sizeof block, in.get())) > 0) {
    s.text.append(block, got);
  }
  if (!in || std::ferror(in.get()) != 0) {
    const int error = errno;
    tell("cannot read " + Named(s.path) + ": " + std::strerror(error));
    return false;
  }
  try {
    s.doc = JsonReader(s.text).Document();
    const JsonValue *shard = s.doc.Find("shard");
    if (shard == nullptr) {
      throw BadJson("no \"shard\": not written with --shard");
    }
    s.index = Count(shard->Find("index"), "\"index\" of the shard");
    s.count = Count(shard->Find("count"), "\"count\" of the shard");
    if (s.count == 0 || s.index >= s.count) {
      throw BadJson("no shard " + std::to_string(s.index) + " of " +
                    std::to_string(s.count));
    }
    const JsonValue *totals = s.doc.Find("totals");
    s.failed_fail_on = totals == nullptr
                           ? 0
                           : Count(totals->Find("failed_fail_on"),
                                   "\"failed_fail_on\" in the totals");
  } catch (const BadJson &e) {
    tell(Named(s.path) + " is not a shard's summary: " + e.what());
    return false;
  }
  return true;
}

} // namespace

int MergeShards(const std::vector<std::string> &paths,
                const RunReportOptions &outputs,
                const std::function<void(const std::string &)> &tell) {
  std::vector<ShardSummary> shards(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    shards[i].path = paths[i];
    if (!ReadSummary(shards[i], tell)) {
      return 255;
    }
  }
  // Every shard once, of one count.
  std::map<uint64_t, const ShardSummary *> by_index;
  for (const ShardSummary &s : shards) {
    if (s.count != shards.front().count) {
      tell(Named(shards.front().path) + " is a shard of " +
           std::to_string(shards.front().count) + ", " + Named(s.path) +
           " of " + std::to_string(s.count));
      return 255;
    }
    const auto [at, added] = by_index.emplace(s.index, &s);
    if (!added) {
      tell(Named(at->second->path) + " and " + Named(s.path) +
           " are both shard " + std::to_string(s.index) + " of " +
           std::to_string(s.count));
      return 255;
    }
  }
  const uint64_t count = shards.front().count;
  if (by_index.size() < count) {
    for (uint64_t k = 0; k < count; ++k) {
      if (by_index.count(k) == 0) {
        std::string missing = "shard ";
        missing += std::to_string(k) + " of " + std::to_string(count);
        tell(missing + " missing");
      }
    }
    return 1;
  }
  std::map<uint64_t, DataSetRecord> numbered;
  size_t failed_fail_on = 0;
  for (const ShardSummary &s : shards) {
    try {
      AddRecords(s, !outputs.report.empty(), numbered);
    } catch (const BadJson &e) {
      tell(Named(s.path) + ": " + e.what());
      return 255;
    }
    failed_fail_on += s.failed_fail_on;
  }
  std::deque<DataSetRecord> records;
  for (auto &[number, r] : numbered) {
    records.push_back(std::move(r));
  }
  RunReportOptions plain = outputs;
  plain.shard = {};
  const RecordTotals totals = TotalsOf(records, failed_fail_on);
  return WriteReportFiles(plain, records, totals, tell) ? 0 : 1;
}
