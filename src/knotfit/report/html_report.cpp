#include "report/html_report.h"

#include "console/messages.h"
#include "knotfit_internal.h"
#include "report/json_summary.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <utility>

using knotfit::detail::Utf8Length;

namespace {

// " (12 read, 1 dropped, 3 merged)" after the points used, with --sort,
// --ties or --missing.
std::string Measured(const DataSetRecord &r) {
  if (!r.measured) {
    return {};
  }
  return " (" + std::to_string(r.measured->read) + " read, " +
         std::to_string(r.measured->dropped) + " dropped, " +
         std::to_string(r.measured->merged) + " merged)";
}

// The index's rows per block; the script is handed the same number as ROWS.
constexpr size_t kIndexRows = 250;

// The page's style: light, or dark where the browser prefers it.
constexpr const char *kStyle = R"css(
:root{color-scheme:light dark;--bg:#fff;--fg:#1b1b1b;--muted:#5f6368;
--grid:#e4e4e4;--frame:#9aa0a6;--curve:#1f5fbf;--knot:#202124;--table:#d9480f;
--over:rgba(220,40,40,.16);--flag:#b3261e;--row:#f4f5f7}
@media (prefers-color-scheme:dark){:root{--bg:#17191d;--fg:#e8eaed;
--muted:#9aa0a6;--grid:#2d3137;--frame:#5f6368;--curve:#8ab4f8;--knot:#f1f3f4;
--table:#ffa657;--over:rgba(255,100,100,.22);--flag:#f28b82;--row:#202328}}
body{background:var(--bg);color:var(--fg);font:14px/1.4 system-ui,sans-serif;
margin:1.5em}
h1{font-size:1.4em;margin:0 0 .3em}
table{border-collapse:collapse;margin:1em 0;table-layout:fixed;width:100%}
.all :is(.rows,figure){content-visibility:visible}#index{margin-bottom:0}.rows table{margin:0}.rows{content-visibility:auto;
contain-intrinsic-size:auto 7000px}
:is(th,td):nth-child(1){width:13%}:is(th,td):nth-child(2){width:17%}
:is(th,td):nth-child(3){width:7%}:is(th,td):nth-child(4){width:10%}
:is(th,td):nth-child(5),:is(th,td):nth-child(6){width:13%}
th,td{padding:.2em .6em;text-align:left;overflow-wrap:anywhere}
th{cursor:pointer;border-bottom:1px solid var(--frame);user-select:none}
th[data-dir="1"]::after{content:" \25B2"}th[data-dir="-1"]::after{content:" \25BC"}
tbody tr:nth-child(odd){background:var(--row)}
.num{text-align:right}.flags{color:var(--flag);font-weight:600}
.skip{color:var(--muted)}
dt{font-weight:600;color:var(--flag)}dd{margin:0 0 .4em 1.5em}
figure{margin:1.5em 0;min-height:300px;content-visibility:auto;
contain-intrinsic-size:auto 330px}figcaption b{font-size:1.1em}
figure p{margin:.3em 0 .3em 1em}figure svg{display:block;max-width:100%;height:auto}
svg text{fill:var(--muted);font:11px system-ui,sans-serif}
.grid{stroke:var(--grid)}.frame{fill:none;stroke:var(--frame)}
.curve{fill:none;stroke:var(--curve);stroke-width:2}
.band{fill:var(--curve);stroke:var(--curve);stroke-width:1}
.table{fill:none;stroke:var(--table);stroke-width:1.5;stroke-dasharray:4 3}
.knot{fill:var(--knot)}.over{fill:var(--over)}
)css";

// Draws a figure's plot from its data attributes: a short fit from its
// knots and slopes (every fit is a cubic Hermite spline), every segment sampled
// at least eight times and every pixel once; a long one from the extremes of
// each pixel column. The table's curve (its fields rounded to binary32,
// evaluated as its readers do) is drawn where it lies a pixel or more away from
// the fit's.
constexpr const char *kScript = R"js(
const NS = "http://www.w3.org/2000/svg";
const PW = 640, PH = 220, L = 64, T = 10, W = L + PW + 14, H = T + PH + 40;
// An attribute's doubles: their bits, big-endian, in base64.
function nums(text) {
  if (!text) return [];
  const bytes = Uint8Array.from(atob(text), ch => ch.charCodeAt(0));
  const view = new DataView(bytes.buffer), out = [];
  for (let i = 0; i + 8 <= bytes.length; i += 8) out.push(view.getFloat64(i));
  return out;
}
function value(s, t) {
  const n = s.x.length;
  if (t <= s.x[0]) return s.y[0];
  if (t >= s.x[n - 1]) return s.y[n - 1];
  let lo = 1, hi = n - 1;
  while (lo < hi) { const m = (lo + hi) >> 1; if (s.x[m] < t) lo = m + 1; else hi = m; }
  const k = lo - 1, u = t - s.x[k];
  return ((s.a[k] * u + s.y[k]) + (s.b[k] * u) * u) + ((s.c[k] * u) * u) * u;
}
function ticks(lo, hi) {
  const raw = (hi - lo) / 6, p = Math.pow(10, Math.floor(Math.log10(raw)));
  const step = [1, 2, 5, 10].map(m => m * p).find(s => s >= raw);
  const out = [];
  for (let v = Math.ceil(lo / step) * step; v <= hi + step * 1e-9; v += step) out.push(Math.abs(v) < step * 1e-9 ? 0 : v);
  return out;
}
const label = v => String(+v.toPrecision(6));
function el(parent, name, attrs, text) {
  const e = document.createElementNS(NS, name);
  for (const k in attrs) e.setAttribute(k, attrs[k]);
  if (text !== undefined) e.textContent = text;
  parent.appendChild(e);
  return e;
}
function draw(fig) {
  const d = fig.dataset;
  if (d.drawn || !(d.x || d.low)) return;
  d.drawn = "1";
  let from, to, fit = [], table = [], knots = [];
  if (d.x) {
    const s = { x: nums(d.x), y: nums(d.y), a: nums(d.a), b: [], c: [] };
    const n = s.x.length;
    for (let k = 0; k + 1 < n; k++) {
      // Each segment's b and c from its ends, in the grouping the fit uses.
      const h = s.x[k + 1] - s.x[k], sec = (s.y[k + 1] - s.y[k]) / h;
      const e = ((s.a[k] + s.a[k + 1]) - sec) - sec;
      s.b.push(((sec - s.a[k]) - e) / h);
      s.c.push(e / (h * h));
    }
    s.b.push(0);
    s.c.push(0);
    from = s.x[0]; to = s.x[n - 1];
    const ts = [];
    for (let k = 0; k + 1 < n; k++) {
      const m = Math.max(8, Math.ceil((s.x[k + 1] - s.x[k]) / (to - from) * PW));
      for (let j = 0; j < m; j++) ts.push(s.x[k] + (s.x[k + 1] - s.x[k]) * j / m);
    }
    ts.push(to);
    fit = ts.map(t => [t, value(s, t)]);
    if (d.b32) {
      const f = {};
      for (const k in s) f[k] = s[k].map(Math.fround);
      table = ts.map(t => [t, value(f, t)]);
    }
    knots = s.x.map((x, i) => [x, s.y[i]]);
  } else {
    from = +d.from; to = +d.to;
    const w = (to - from) / PW, lo = nums(d.low), hi = nums(d.high), tlo = nums(d.tlow), thi = nums(d.thigh);
    fit = lo.map((v, i) => [from + (i + 0.5) * w, v, hi[i]]);
    table = tlo.map((v, i) => [from + (i + 0.5) * w, v, thi[i]]);
  }
  let ymin = Infinity, ymax = -Infinity;
  for (const p of fit.concat(table, knots)) for (const v of p.slice(1)) { ymin = Math.min(ymin, v); ymax = Math.max(ymax, v); }
  if (!(ymax > ymin)) { ymin -= 1; ymax += 1; }
  const pad = (ymax - ymin) * 0.05; ymin -= pad; ymax += pad;
  const X = t => L + (t - from) / (to - from) * PW, Y = v => T + (ymax - v) / (ymax - ymin) * PH;
  const svg = el(fig, "svg", { width: W, height: H, viewBox: `0 0 ${W} ${H}`, role: "img",
    "data-map": [from, to, ymin, ymax, L, T, PW, PH].join(" ") });
  const over = d.over ? d.over.split(" ").map(Number) : [];
  for (let i = 0; i + 1 < over.length; i += 2)
    el(svg, "rect", { class: "over", x: X(over[i]), y: T, width: Math.max(1, X(over[i + 1]) - X(over[i])), height: PH });
  for (const v of ticks(from, to)) {
    el(svg, "line", { class: "grid", x1: X(v), x2: X(v), y1: T, y2: T + PH });
    el(svg, "text", { x: X(v), y: T + PH + 15, "text-anchor": "middle" }, label(v));
  }
  for (const v of ticks(ymin, ymax)) {
    el(svg, "line", { class: "grid", x1: L, x2: L + PW, y1: Y(v), y2: Y(v) });
    el(svg, "text", { x: L - 6, y: Y(v) + 4, "text-anchor": "end" }, label(v));
  }
  el(svg, "rect", { class: "frame", x: L, y: T, width: PW, height: PH });
  el(svg, "text", { x: L + PW / 2, y: H - 6, "text-anchor": "middle" }, "x");
  el(svg, "text", { x: 14, y: T + PH / 2, transform: `rotate(-90 14 ${T + PH / 2})`, "text-anchor": "middle" }, "S(x)");
  const pt = p => `${X(p[0]).toFixed(2)},${Y(p[1]).toFixed(2)}`;
  if (d.x) {
    el(svg, "path", { class: "curve", d: "M" + fit.map(pt).join("L") });
    let path = "", on = false;
    table.forEach((p, i) => {
      const apart = Math.abs(Y(p[1]) - Y(fit[i][1])) >= 1;
      if (apart) path += (on ? "L" : "M" + pt(table[Math.max(0, i - 1)]) + "L") + pt(p);
      on = apart;
    });
    if (path) el(svg, "path", { class: "table", d: path });
    for (const p of knots) el(svg, "circle", { class: "knot", cx: X(p[0]), cy: Y(p[1]), r: 2.5 });
  } else {
    const top = fit.map(p => [p[0], p[2]]), bottom = fit.map(p => [p[0], p[1]]).reverse();
    el(svg, "path", { class: "band", d: "M" + top.concat(bottom).map(pt).join("L") + "Z" });
    const path = table.filter((p, i) => Math.abs(Y(p[1]) - Y(fit[i][1])) >= 1 || Math.abs(Y(p[2]) - Y(fit[i][2])) >= 1)
      .map(p => `M${X(p[0]).toFixed(2)},${Y(p[2]).toFixed(2)}V${Y(p[1]).toFixed(2)}`).join("");
    if (path) el(svg, "path", { class: "table", d: path });
  }
  const r = svg.getBoundingClientRect();
  svg.dataset.box = [r.left + scrollX, r.top + scrollY].join(" ");
}
const plots = document.querySelectorAll("figure.plot");
// #all draws every plot at once, laid out for real: nothing is skipped.
if (location.hash === "#all") {
  document.documentElement.classList.add("all");
  plots.forEach(draw);
}
const seen = new IntersectionObserver(es => {
  for (const e of es) if (e.isIntersecting) { draw(e.target); seen.unobserve(e.target); }
}, { rootMargin: "300px" });
plots.forEach(p => seen.observe(p));
document.querySelectorAll("#index th").forEach(th => th.addEventListener("click", () => {
  const dir = th.dataset.dir === "1" ? -1 : 1, col = th.cellIndex;
  th.parentNode.querySelectorAll("th").forEach(o => delete o.dataset.dir);
  th.dataset.dir = dir;
  const key = r => { const c = r.cells[col]; return c.dataset.v !== undefined ? +c.dataset.v : c.textContent; };
  const bodies = Array.from(document.querySelectorAll(".rows tbody"));
  const rows = bodies.flatMap(b => Array.from(b.rows)).map(r => [key(r), +r.dataset.i, r]);
  rows.sort((p, q) => (p[0] < q[0] ? -dir : p[0] > q[0] ? dir : p[1] - q[1]));
  bodies.forEach((b, k) => {
    const part = document.createDocumentFragment();
    for (const r of rows.slice(k * ROWS, (k + 1) * ROWS)) part.appendChild(r[2]);
    b.appendChild(part);
  });
}));
)js";

// Text in an element or an attribute; a byte that is not UTF-8 (a name in
// Latin-1) becomes U+FFFD, so that the page stays the UTF-8 it declares.
std::string Escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    if (static_cast<unsigned char>(ch) >= 0x80) {
      const size_t length = Utf8Length(text, i);
      if (length == 0) {
        out += "\xef\xbf\xbd";
      } else {
        out.append(text, i, length);
        i += length - 1;
      }
      continue;
    }
    switch (ch) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    case '\0':
      // A name skipped for holding one: a browser would drop the byte or
      // show U+FFFD, so the page shows it as the messages do.
      out += "\\x00";
      break;
    default:
      out += ch;
    }
  }
  return out;
}

// A number for a person: six significant digits.
std::string Brief(double v) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, v,
                                         std::chars_format::general, 6)
                               .ptr);
}

// What a smoothing fit chose: " (lambda 0.52, 6.1 degrees of freedom)";
// lambda may overflow a double in the data's units (weights of 1e300).
std::string Smoothed(const DataSetRecord &r) {
  if (!r.smoothing) {
    return {};
  }
  const double lambda = r.smoothing->lambda;
  return " (lambda " +
         (std::isfinite(lambda) ? Brief(lambda) : "beyond a double") + ", " +
         Brief(r.smoothing->df) + " degrees of freedom)";
}

// An attribute of doubles for the script, exact and cheap to write (a
// report holds millions of them): their IEEE bits, big-endian, in base64.
void AppendDoubles(std::string &out, const char *name,
                   const std::vector<double> &values) {
  static const char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<unsigned char> bytes(8 * values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    StoreBinary64(&bytes[8 * i], values[i]);
  }
  out += " data-";
  out += name;
  out += "=\"";
  // Three bytes to four digits, written in place; 8 * n bytes leave 0, 1 or
  // 2 over.
  const size_t start = out.size();
  out.resize(start + (bytes.size() + 2) / 3 * 4);
  char *digit = out.data() + start;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t left = bytes.size() - i;
    const uint32_t v = (uint32_t{bytes[i]} << 16) |
                       (left > 1 ? uint32_t{bytes[i + 1]} << 8 : 0) |
                       (left > 2 ? bytes[i + 2] : 0);
    *digit++ = kDigits[v >> 18];
    *digit++ = kDigits[(v >> 12) & 63];
    *digit++ = left > 1 ? kDigits[(v >> 6) & 63] : '=';
    *digit++ = left > 2 ? kDigits[v & 63] : '=';
  }
  out += '"';
}

std::string Attribute(const char *name, const std::string &value) {
  return std::string(" data-") + name + "=\"" + value + "\"";
}

std::string Place(const DataSetRecord &r) {
  return Escaped(Quoted(r.input)) + ":" + std::to_string(r.line);
}

std::string FlagNames(const Diagnosis &d) {
  std::string out;
  for (const Finding &f : d.findings) {
    out += (out.empty() ? "" : ", ") + std::string(InfoOf(f.flag).name);
  }
  return out;
}

// A finding in words.
std::string Explained(const Finding &f) {
  std::string text;
  switch (f.flag) {
  case Flag::kOvershoot:
    text = "the curve swings " + Brief(f.amount) +
           " beyond its data, the most at x = " + Brief(f.at) +
           " (shaded: every segment where it does)";
    break;
  case Flag::kNotMonotone:
    text = "the data are monotone but the curve turns back by " +
           Brief(f.amount) + " at x = " + Brief(f.at);
    break;
  case Flag::kBinary32:
    // A difference, a cause (an underflow, knots that collapsed), or both.
    if (f.amount > 0.0) {
      text = "the table's curve is " + Brief(f.amount) +
             " off the fit at x = " + Brief(f.at) +
             " (dashed where it differs visibly)";
    }
    if (!f.cause.empty()) {
      text += (text.empty() ? "" : "; ") + Escaped(f.cause);
    }
    if (f.avoided_by_form) {
      text += "; use --table=" +
              std::string(knotfit::TableFormName(*f.avoided_by_form));
    }
    break;
  case Flag::kSpacing:
    text = "the largest knot gap is " + Brief(f.amount) +
           " times the smallest (" + Escaped(f.cause) + ")";
    break;
  }
  std::string methods;
  for (const knotfit::Method m : f.avoided_by) {
    methods += (methods.empty() ? "" : ", ") + std::string(MethodName(m));
  }
  return "<p><b class=\"flags\">" + std::string(InfoOf(f.flag).name) +
         "</b>: " + text + ". " +
         (methods.empty() ? "No other method avoids it."
                          : "Avoided by " + methods + ".") +
         "</p>";
}

} // namespace

std::string HtmlIndexRow(const DataSetRecord &r, size_t i) {
  std::string row =
      "<tr data-i=\"" + std::to_string(i) + "\"><td><a href=\"#d" +
      std::to_string(i) + "\">" + Escaped(r.name) + "</a></td><td data-v=\"" +
      std::to_string(i) + "\">" + Place(r) +
      "</td><td class=\"num\" data-v=\"" + std::to_string(r.points) + "\">" +
      std::to_string(r.points) + "</td><td>" +
      knotfit::MethodName(r.method.method) + "</td>";
  if (r.points > 0) {
    for (const auto &[lo, hi] :
         {std::pair(r.x_min, r.x_max), std::pair(r.y_min, r.y_max)}) {
      const std::string low = Brief(lo); // also the column's sort key
      row += "<td data-v=\"" + low + "\">" + low + " … " + Brief(hi) + "</td>";
    }
  } else {
    row += "<td></td><td></td>";
  }
  if (!r.skipped.empty()) {
    return row + "<td class=\"skip\">skipped: " + Escaped(r.skipped) +
           "</td></tr>\n";
  }
  row += "<td class=\"flags\">" + FlagNames(r.diagnosis);
  if (!r.plot.empty()) {
    row += (r.diagnosis.findings.empty() ? "" : " ") +
           std::string("<span class=\"skip\">no plot file: ") +
           Escaped(r.plot) + "</span>";
  }
  return row + "</td></tr>\n";
}

std::string HtmlFigure(const DataSetRecord &r, size_t i, const PlotData &plot) {
  std::string fig = "<figure class=\"plot\" id=\"d" + std::to_string(i) +
                    "\" data-name=\"" + Escaped(r.name) + "\"";
  const Diagnosis &d = r.diagnosis;
  if (plot.fit) {
    const knotfit::Spline &s = *plot.fit;
    AppendDoubles(fig, "x", s.x());
    AppendDoubles(fig, "y", s.y());
    AppendDoubles(fig, "a", s.a());
  } else if (!plot.curve.low.empty()) {
    fig += Attribute("from", knotfit::detail::ShortNumber(r.x_min)) +
           Attribute("to", knotfit::detail::ShortNumber(r.x_max));
    AppendDoubles(fig, "low", plot.curve.low);
    AppendDoubles(fig, "high", plot.curve.high);
    if (!plot.table.low.empty()) {
      AppendDoubles(fig, "tlow", plot.table.low);
      AppendDoubles(fig, "thigh", plot.table.high);
    }
  }
  if (!d.overshoot.empty()) {
    // Spans less than a pixel column apart are one region on the plot.
    std::vector<Span> regions;
    const double column = (r.x_max - r.x_min) / kPlotColumns;
    for (const Span &s : d.overshoot) {
      if (!regions.empty() && s.from - regions.back().to < column) {
        regions.back().to = s.to;
      } else {
        regions.push_back(s);
      }
    }
    std::string spans;
    for (const Span &s : regions) {
      spans += spans.empty() ? "" : " ";
      spans += knotfit::detail::ShortNumber(s.from);
      spans += ' ';
      spans += knotfit::detail::ShortNumber(s.to);
    }
    fig += Attribute("over", spans);
  }
  if ((d.flags() & Bit(Flag::kBinary32)) != 0) {
    fig += Attribute("b32", "1");
  }
  fig += Attribute("flags", FlagNames(d)) + ">\n<figcaption><b>" +
         Escaped(r.name) + "</b> " + Place(r) + " · " +
         Counted(r.points, "point", "points") + Measured(r) + " · " +
         knotfit::MethodName(r.method.method) + Smoothed(r) + "</figcaption>\n";
  if (!r.skipped.empty()) {
    return fig + "<p class=\"skip\">Skipped: " + Escaped(r.skipped) +
           ".</p></figure>\n";
  }
  if (!r.plot.empty()) {
    fig += "<p class=\"skip\">Table written, no plot file: " + Escaped(r.plot) +
           ".</p>\n";
  }
  for (const Finding &f : d.findings) {
    fig += Explained(f);
  }
  return fig + "</figure>\n";
}

void HtmlReport(const std::deque<DataSetRecord> &records,
                const RecordTotals &totals, ChunkWriter &out) {
  // Flagged data sets first, then the skipped ones and those without their
  // plot file, then the rest, each in the order of the run.
  std::vector<size_t> order(records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    order[i] = i;
  }
  auto rank = [&records](size_t i) {
    const DataSetRecord &r = records[i];
    return !r.diagnosis.findings.empty()           ? 0
           : !r.skipped.empty() || !r.plot.empty() ? 1
                                                   : 2;
  };
  std::stable_sort(order.begin(), order.end(),
                   [&rank](size_t p, size_t q) { return rank(p) < rank(q); });
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width\">\n"
      "<title>knotfit report</title>\n<style>";
  page += kStyle;
  page += "</style>\n</head>\n<body>\n<h1>knotfit report</h1>\n<p>" +
          Counted(totals.data_sets, "data set", "data sets") + ": " +
          std::to_string(totals.written) + " written";
  if (totals.without_plot > 0) {
    page += " (" + std::to_string(totals.without_plot) +
            (totals.without_plot == 1 ? " without its plot file)"
                                      : " without their plot files)");
  }
  page += ", " + std::to_string(totals.skipped) + " skipped, " +
          std::to_string(totals.flagged) + " flagged";
  if (totals.failed_fail_on > 0) {
    page += ", " + std::to_string(totals.failed_fail_on) + " failed --fail-on";
  }
  page += ".</p>\n<dl>\n";
  for (const FlagInfo &info : AllFlags()) {
    page += "<dt>" + std::string(info.name) + "</dt><dd>" + info.meaning +
            "</dd>\n";
  }
  page += "</dl>\n<table id=\"index\"><thead><tr><th>name</th><th>input:line"
          "</th><th>points</th><th>method</th><th>x range</th><th>y range</th>"
          "<th>flags</th></tr></thead></table>\n";
  out.AppendAll(page);
  // The rows in blocks of kIndexRows, each its own table, that the browser
  // lays out only when it comes into view: an index of 20,000 rows stays
  // light.
  for (size_t k = 0; k < order.size(); ++k) {
    if (k % kIndexRows == 0) {
      out.Append("<div class=\"rows\"><table><tbody>\n");
    }
    out.AppendAll(records[order[k]].row);
    if (k + 1 == order.size() || (k + 1) % kIndexRows == 0) {
      out.Append("</tbody></table></div>\n");
    }
  }
  for (const DataSetRecord &r : records) {
    out.AppendAll(r.figure);
  }
  out.AppendAll("<script>\n\"use strict\";\nconst ROWS = " +
                std::to_string(kIndexRows) + ";");
  out.AppendAll(kScript);
  out.Append("</script>\n</body>\n</html>\n");
}
