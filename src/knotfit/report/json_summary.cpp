#include "report/json_summary.h"

#include "knotfit_internal.h"

#include <cmath>

namespace {

using knotfit::detail::JsonString;

// A number, or null for one that is not finite (JSON has no NaN).
std::string Number(double v) {
  return std::isfinite(v) ? knotfit::detail::ShortNumber(v) : "null";
}

std::string Pair(double lo, double hi) {
  std::string text = "[";
  text += Number(lo);
  text += ", ";
  text += Number(hi);
  return text + "]";
}

} // namespace

std::string JsonEntry(const DataSetRecord &r) {
  std::string out =
      "{\"name\": " + JsonString(r.name) +
      ", \"input\": " + JsonString(r.input) +
      ", \"line\": " + std::to_string(r.line) +
      ", \"points\": " + std::to_string(r.points) +
      ", \"method\": " + JsonString(knotfit::MethodName(r.method.method));
  if (r.table) {
    out += ", \"table\": " + JsonString(knotfit::TableFormName(*r.table));
  }
  if (r.measured) {
    const knotfit::detail::MeasuredCounts &m = *r.measured;
    out += ", \"read\": " + std::to_string(m.read) +
           ", \"dropped\": " + std::to_string(m.dropped) +
           ", \"merged\": " + std::to_string(m.merged) +
           ", \"used\": " + std::to_string(m.used());
  }
  if (r.points > 0) {
    out += ", \"x_range\": " + Pair(r.x_min, r.x_max) +
           ", \"y_range\": " + Pair(r.y_min, r.y_max);
  }
  if (r.knots) {
    const KnotsReached &k = *r.knots;
    out += ", \"tolerance\": " + Number(k.e);
    if (k.r > 0.0) {
      out += ", \"relative_tolerance\": " + Number(k.r);
    }
    out += std::string(", \"knots\": ") + std::to_string(k.knots) +
           ", \"bytes\": " + std::to_string(k.bytes) +
           ", \"max_error\": " + Number(k.error) +
           ", \"max_error_at\": " + Number(k.at) +
           ", \"met\": " + (k.met ? "true" : "false") +
           ", \"table_vs_fit\": " + Number(k.table_vs_fit);
  }
  if (r.smoothing) {
    const knotfit::detail::SmoothingFit &f = *r.smoothing;
    out += ", \"lambda\": " + Number(f.lambda) + ", \"df\": " + Number(f.df) +
           ", \"gcv\": " + Number(f.gcv) +
           ", \"criterion\": " + (f.cv ? "\"cv\"" : "\"gcv\"") +
           ", \"score\": " + Number(f.score.value_or(NAN)) +
           ", \"sigma\": " + Number(f.sigma.value_or(NAN)) +
           ", \"band_max\": " + Number(f.band_max.value_or(NAN)) +
           ", \"rms\": " + Number(f.rms) +
           ", \"max_residual\": " + Number(f.max_residual) +
           ", \"max_residual_x\": " + Number(f.max_residual_x);
  }
  if (!r.skipped.empty()) {
    out += ", \"status\": \"skipped\", \"reason\": " + JsonString(r.skipped);
  } else if (!r.plot.empty()) {
    out +=
        ", \"status\": \"written\", \"plot\": \"not written\", \"reason\": " +
        JsonString(r.plot);
  } else {
    out += ", \"status\": \"written\"";
  }
  out += ", \"flags\": [";
  const char *separator = "";
  for (const Finding &f : r.diagnosis.findings) {
    out += separator;
    separator = ", ";
    out += "{\"flag\": " + JsonString(InfoOf(f.flag).name) +
           ", \"amount\": " + Number(f.amount) + ", \"at\": " + Number(f.at);
    if (!f.cause.empty()) {
      out += ", \"cause\": " + JsonString(f.cause);
    }
    out += ", \"avoided_by\": [";
    for (size_t m = 0; m < f.avoided_by.size(); ++m) {
      out += (m > 0 ? ", " : "") +
             JsonString(knotfit::MethodName(f.avoided_by[m]));
    }
    out += "]";
    if (f.avoided_by_form) {
      out += ", \"avoided_by_table\": " +
             JsonString(knotfit::TableFormName(*f.avoided_by_form));
    }
    out += "}";
  }
  return out + "]}";
}

std::string ShardJsonEntry(const DataSetRecord &r) {
  std::string out = JsonEntry(r);
  out.pop_back(); // its closing brace
  if (!r.row.empty()) {
    out += ", \"row\": " + JsonString(r.row) +
           ", \"figure\": " + JsonString(r.figure);
  }
  return "{\"number\": " + std::to_string(r.number) + ", " + out.substr(1) +
         "}";
}

void JsonSummary(const std::deque<DataSetRecord> &records,
                 const RecordTotals &totals, ChunkWriter &out) {
  std::vector<size_t> per_flag(AllFlags().size());
  for (const DataSetRecord &r : records) {
    for (const Finding &f : r.diagnosis.findings) {
      ++per_flag[static_cast<size_t>(f.flag)];
    }
  }
  std::string flags;
  for (const FlagInfo &info : AllFlags()) {
    flags += (flags.empty() ? "" : ", ") + JsonString(info.name) + ": " +
             std::to_string(per_flag[static_cast<size_t>(info.flag)]);
  }
  // A count of data sets without their plot file only where there are any,
  // as their entries' "plot".
  const std::string without_plot =
      totals.without_plot > 0
          ? ", \"without_plot\": " + std::to_string(totals.without_plot)
          : "";
  const std::string shard =
      totals.shard.given()
          ? "\n  \"shard\": {\"index\": " + std::to_string(totals.shard.index) +
                ", \"count\": " + std::to_string(totals.shard.count) + "},"
          : "";
  out.AppendAll(
      "{" + shard +
      "\n  \"totals\": {\"data_sets\": " + std::to_string(totals.data_sets) +
      ", \"written\": " + std::to_string(totals.written) + without_plot +
      ", \"skipped\": " + std::to_string(totals.skipped) +
      ", \"flagged\": " + std::to_string(totals.flagged) +
      ", \"failed_fail_on\": " + std::to_string(totals.failed_fail_on) +
      ", \"flags\": {" + flags + "}},\n  \"data_sets\": [");
  const char *separator = "\n    ";
  for (const DataSetRecord &r : records) {
    out.Append(separator);
    separator = ",\n    ";
    out.AppendAll(r.json);
  }
  out.Append(records.empty() ? "]\n}\n" : "\n  ]\n}\n");
}
