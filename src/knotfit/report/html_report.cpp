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
--over:rgba(220,40,40,.16);--flag:#b3261e;--row:#f4f5f7;
--tol:rgba(60,160,90,.22);--sel:rgba(120,120,120,.25)}
@media (prefers-color-scheme:dark){:root{--bg:#17191d;--fg:#e8eaed;
--muted:#9aa0a6;--grid:#2d3137;--frame:#5f6368;--curve:#8ab4f8;--knot:#f1f3f4;
--table:#ffa657;--over:rgba(255,100,100,.22);--flag:#f28b82;--row:#202328;
--tol:rgba(120,220,140,.2);--sel:rgba(200,200,200,.2)}}
body{background:var(--bg);color:var(--fg);font:14px/1.4 system-ui,sans-serif;
margin:1.5em}
h1{font-size:1.4em;margin:0 0 .3em}
table{border-collapse:collapse;margin:1em 0;table-layout:fixed;width:100%}
.all :is(.rows,.figs,figure){content-visibility:visible}#index{margin-bottom:0}.rows table{margin:0}.rows{content-visibility:auto;
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
contain-intrinsic-size:auto 330px}.figs{content-visibility:auto;
contain-intrinsic-size:auto 90000px}figcaption b{font-size:1.1em}
figure p{margin:.3em 0 .3em 1em}figure svg{display:block;max-width:100%;height:auto}
svg text{fill:var(--muted);font:11px system-ui,sans-serif}
.grid{stroke:var(--grid)}.frame{fill:none;stroke:var(--frame)}
.curve{fill:none;stroke:var(--curve);stroke-width:2}
.band{fill:var(--curve);stroke:var(--curve);stroke-width:1}
.table{fill:none;stroke:var(--table);stroke-width:1.5;stroke-dasharray:4 3}
.knot{fill:none;stroke:var(--knot);stroke-width:1.5}.over{fill:var(--over)}
.point{fill:var(--fg)}.pcol{stroke:var(--fg);stroke-width:1.2}
.tol{fill:var(--tol)}.band95{fill:var(--curve);opacity:.18}
line.mark{stroke:var(--flag);stroke-dasharray:2 3}svg text.mark{fill:var(--flag)}
.sel{fill:var(--sel)}.tools{font-size:12px;color:var(--muted)}
.tools label{margin:0 1.2em 0 1em}
.readout{display:block;min-height:1.4em;margin-left:1em;font:12px ui-monospace,monospace}
)css";

// Draws each figure from its data attributes when it comes into view: the
// table's curve as its readers evaluate it (its fields made from the fit in
// its form, as the writer rounds them), the double fit where it lies a pixel
// or more off it, the points, the knots where they are not the points, the
// tolerance's band, a residual strip where the points are not the knots, the
// flags at their x; a long fit or data set from the extremes of each pixel
// column. Dragging zooms x, shift-dragging a box, a double click resets;
// log axes where every value on them is above 0, a view of the table minus
// the fit, and a read-out under the cursor.
constexpr const char *kScript = R"js(
const NS = "http://www.w3.org/2000/svg";
// The plot's frame, and the residual strip's height below it.
const PW = 640, PH = 220, L = 64, T = 10, W = L + PW + 14, RS = 70;
// An attribute's doubles: their bits, big-endian, in base64.
function nums(text) {
  if (!text) return [];
  const bytes = Uint8Array.from(atob(text), ch => ch.charCodeAt(0));
  const view = new DataView(bytes.buffer), out = [];
  for (let i = 0; i + 8 <= bytes.length; i += 8) out.push(view.getFloat64(i));
  return out;
}
// S at t as every reader evaluates a table: the segment ending at the first
// knot with x >= t, the end ordinates beyond the knots; about the origin
// (x0, y0) of the offset and double forms when s has one.
function value(s, t) {
  const n = s.x.length, o = s.y0 !== undefined;
  if (o) t = t - s.x0;
  let v;
  if (t <= s.x[0]) v = s.y[0];
  else if (t >= s.x[n - 1]) v = s.y[n - 1];
  else {
    let lo = 1, hi = n - 1;
    while (lo < hi) { const m = (lo + hi) >> 1; if (s.x[m] < t) lo = m + 1; else hi = m; }
    const k = lo - 1, u = t - s.x[k];
    v = ((s.a[k] * u + s.y[k]) + (s.b[k] * u) * u) + ((s.c[k] * u) * u) * u;
  }
  return o ? s.y0 + v : v;
}
// Each segment's b and c from its ends, in the grouping the fit uses.
function hermite(x, y, a) {
  const s = { x, y, a, b: [], c: [] }, n = x.length;
  for (let k = 0; k + 1 < n; k++) {
    const h = x[k + 1] - x[k], sec = (y[k + 1] - y[k]) / h;
    const e = ((a[k] + a[k + 1]) - sec) - sec;
    s.b.push(((sec - a[k]) - e) / h);
    s.c.push(e / (h * h));
  }
  s.b.push(0);
  s.c.push(0);
  return s;
}
// The table's fields as the writer makes them from the fit in its form:
// classic, every field rounded to binary32; offset and double, x - x0 and
// y - y0 about x0 = x[0], y0 = (min y + max y) / 2, rounded to binary32 for
// offset.
function tableOf(s, form) {
  const r = form === "double" ? v => v : Math.fround, t = {};
  if (!form) { for (const k in s) t[k] = s[k].map(r); return t; }
  t.x0 = s.x[0];
  t.y0 = (Math.min(...s.y) + Math.max(...s.y)) / 2;
  t.x = s.x.map(v => r(v - t.x0));
  t.y = s.y.map(v => r(v - t.y0));
  for (const k of ["a", "b", "c"]) t[k] = s[k].map(r);
  return t;
}
function ticks(lo, hi) {
  const raw = (hi - lo) / 6, p = Math.pow(10, Math.floor(Math.log10(raw)));
  const step = [1, 2, 5, 10].map(m => m * p).find(s => s >= raw);
  const out = [];
  for (let v = Math.ceil(lo / step) * step; v <= hi + step * 1e-9; v += step) out.push(Math.abs(v) < step * 1e-9 ? 0 : v);
  return out;
}
// On a log axis: the powers of ten within it, else linear ticks of its ends.
function logTicks(lo, hi) {
  const out = [];
  for (let e = Math.ceil(Math.log10(lo)); e <= Math.floor(Math.log10(hi)); e++) out.push(Math.pow(10, e));
  return out.length >= 2 ? out : ticks(lo, hi).filter(v => v > 0);
}
const label = v => String(+v.toPrecision(6));
function el(parent, name, attrs, text) {
  const e = document.createElementNS(parent.namespaceURI === NS ? NS : "http://www.w3.org/1999/xhtml", name);
  for (const k in attrs) e.setAttribute(k, attrs[k]);
  if (text !== undefined) e.textContent = text;
  parent.appendChild(e);
  return e;
}
const pairs = text => text ? text.split(" ").reduce((o, v, i, a) => (i % 2 ? o : o.concat([[a[i], a[i + 1]]])), []) : [];
// A figure's data, from its attributes, each part optional: the fit's knots
// and slopes (short) or its columns' extremes (long); the table's form; the
// points where they are not the knots, or their columns' extremes with the
// residuals'; the tolerance E and R; a band at the knots; the flags' marks.
function dataOf(d) {
  const g = { over: pairs(d.over).map(p => p.map(Number)), marks: pairs(d.marks).map(p => [p[0], +p[1]]) };
  if (d.x) {
    g.fit = hermite(nums(d.x), nums(d.y), nums(d.a));
    g.table = tableOf(g.fit, d.form);
    g.from = g.fit.x[0]; g.to = g.fit.x[g.fit.x.length - 1];
  }
  if (d.from !== undefined) { g.from = +d.from; g.to = +d.to; }
  const cols = (lo, hi) => nums(lo).map((v, i, a) => [g.from + (i + 0.5) * (g.to - g.from) / a.length, v, nums(hi)[i]]);
  if (d.low) { g.env = cols(d.low, d.high); g.tenv = cols(d.tlow, d.thigh); }
  if (d.plow) { g.pcols = cols(d.plow, d.phigh).filter(p => p[1] <= p[2]); g.rcols = cols(d.rlow, d.rhigh).filter(p => p[1] <= p[2]); }
  const px = nums(d.px), py = nums(d.py);
  g.points = px.length ? px.map((x, i) => [x, py[i]]) : g.fit && !d.plow ? g.fit.x.map((x, i) => [x, g.fit.y[i]]) : [];
  g.knots = px.length && g.fit ? g.fit.x.map((x, i) => [x, g.fit.y[i]]) : [];
  if (g.table) for (const p of g.points) p.push(p[1] - value(g.table, p[0]));
  g.strip = px.length > 0 || g.rcols !== undefined;
  if (d.e) g.tol = p => +d.e + (d.r ? +d.r : 0) * Math.abs(p[1]);
  const blo = nums(d.blow), bhi = nums(d.bhigh);
  if (blo.length && g.fit) g.band = g.fit.x.map((x, i) => [x, blo[i], bhi[i]]);
  return g;
}
// Every value drawn of g between from and to, in x and in y.
function extent(g, from, to, diff) {
  const xs = [], ys = [], inside = p => p[0] >= from && p[0] <= to;
  if (g.fit) {
    for (const t of samples(g, from, to, false)) {
      xs.push(t);
      ys.push(diff ? value(g.table, t) - value(g.fit, t) : value(g.table, t));
    }
    if (diff) return [xs, ys];
  }
  for (const p of (g.env || []).concat(g.tenv || [], g.pcols || [], g.band || []).filter(inside)) ys.push(p[1], p[2]);
  for (const p of g.points.concat(g.knots).filter(inside)) {
    xs.push(p[0]); ys.push(p[1]);
    if (g.tol) ys.push(p[1] - g.tol(p), p[1] + g.tol(p));
  }
  if (g.env) xs.push(g.from, g.to);
  return [xs, ys];
}
// Where a curve is sampled: every pixel column of the view, and each knot.
function samples(g, from, to, logx) {
  const out = [];
  for (let j = 0; j <= PW; j++) out.push(logx ? from * Math.pow(to / from, j / PW) : from + (to - from) * j / PW);
  for (const x of g.fit.x) if (x > from && x < to) out.push(x);
  return out.sort((p, q) => p - q);
}
function draw(fig) {
  const d = fig.dataset;
  if (d.drawn || !(d.x || d.low)) return;
  d.drawn = "1";
  const g = fig.g = dataOf(d);
  g.view = { from: g.from, to: g.to, logx: false, logy: false, diff: false };
  const [xs, ys] = extent(g, g.from, g.to, false);
  const tools = document.createElement("div");
  tools.className = "tools";
  const toggle = (name, text) => {
    const box = el(el(tools, "label", {}, ""), "input", { type: "checkbox", name });
    box.parentNode.append(" " + text);
    box.addEventListener("change", () => { g.view[name] = box.checked; render(fig); });
  };
  // A log axis only where every value plotted on it is above 0.
  if (xs.every(v => v > 0)) toggle("logx", "log x");
  if (ys.every(v => v > 0)) toggle("logy", "log y");
  if (g.fit) toggle("diff", "table − fit");
  fig.appendChild(tools);
  g.out = el(fig, "output", { class: "readout" }, "");
  render(fig);
}
// Draws the figure's view afresh.
function render(fig) {
  const g = fig.g, v = g.view, old = fig.querySelector("svg");
  const strip = g.strip && !v.diff, H = T + PH + 40 + (strip ? RS + 10 : 0);
  const lx = v.logx ? Math.log10 : t => t, ly = v.logy && !v.diff ? Math.log10 : t => t;
  let [, ys] = extent(g, v.from, v.to, v.diff);
  ys = ys.filter(y => isFinite(y) && (!v.logy || v.diff || y > 0));
  let ymin = v.ylo !== undefined ? v.ylo : Math.min(...ys), ymax = v.yhi !== undefined ? v.yhi : Math.max(...ys);
  if (!(ymax > ymin)) { const w = ymin === 0 ? 1 : Math.abs(ymin) * 1e-3; ymin -= w; ymax += w; }
  if (v.ylo === undefined) {
    if (ly === Math.log10) { const f = Math.pow(ymax / ymin, 0.05); ymin /= f; ymax *= f; }
    else { const pad = (ymax - ymin) * 0.05; ymin -= pad; ymax += pad; }
  }
  const X = t => L + (lx(t) - lx(v.from)) / (lx(v.to) - lx(v.from)) * PW;
  const Y = y => T + (ly(ymax) - ly(y)) / (ly(ymax) - ly(ymin)) * PH;
  g.X = X; g.Y = Y;
  g.t = px => v.logx ? v.from * Math.pow(v.to / v.from, (px - L) / PW) : v.from + (px - L) / PW * (v.to - v.from);
  g.y = py => ly === Math.log10 ? ymax * Math.pow(ymin / ymax, (py - T) / PH) : ymax - (py - T) / PH * (ymax - ymin);
  const svg = document.createElementNS(NS, "svg");
  for (const [k, a] of Object.entries({ width: W, height: H, viewBox: `0 0 ${W} ${H}`, role: "img",
    "data-map": [v.from, v.to, ymin, ymax, L, T, PW, PH].join(" ") })) svg.setAttribute(k, a);
  if (old) old.replaceWith(svg); else fig.insertBefore(svg, g.out);
  const clip = el(el(svg, "defs", {}), "clipPath", { id: "c" + fig.id });
  el(clip, "rect", { x: L, y: T, width: PW, height: PH });
  for (const o of g.over) if (!v.diff && o[1] >= v.from && o[0] <= v.to)
    el(svg, "rect", { class: "over", x: Math.max(L, X(Math.max(o[0], v.from))), y: T, width: Math.max(1, X(Math.min(o[1], v.to)) - X(Math.max(o[0], v.from))), height: PH });
  for (const t of v.logx ? logTicks(v.from, v.to) : ticks(v.from, v.to)) {
    el(svg, "line", { class: "grid", x1: X(t), x2: X(t), y1: T, y2: T + PH });
    el(svg, "text", { x: X(t), y: T + PH + 15, "text-anchor": "middle" }, label(t));
  }
  for (const y of ly === Math.log10 ? logTicks(ymin, ymax) : ticks(ymin, ymax)) {
    el(svg, "line", { class: "grid", x1: L, x2: L + PW, y1: Y(y), y2: Y(y) });
    el(svg, "text", { x: L - 6, y: Y(y) + 4, "text-anchor": "end" }, label(y));
  }
  el(svg, "rect", { class: "frame", x: L, y: T, width: PW, height: PH });
  el(svg, "text", { x: L + PW / 2, y: T + PH + 34, "text-anchor": "middle" }, "x");
  el(svg, "text", { x: 14, y: T + PH / 2, transform: `rotate(-90 14 ${T + PH / 2})`, "text-anchor": "middle" }, v.diff ? "T(x) − S(x)" : "S(x)");
  const plot = el(svg, "g", { "clip-path": `url(#c${fig.id})` });
  const pt = p => `${X(p[0]).toFixed(2)},${Y(p[1]).toFixed(2)}`;
  const inview = p => p[0] >= v.from && p[0] <= v.to;
  const area = (ps, cls) => ps.length && el(plot, "path", { class: cls,
    d: "M" + ps.map(p => [p[0], p[2]]).concat(ps.map(p => [p[0], p[1]]).reverse()).map(pt).join("L") + "Z" });
  const columns = (ps, cls, at, to = plot) => ps.length && el(to, "path", { class: cls,
    d: ps.map(p => `M${X(p[0]).toFixed(2)},${at(p[2]).toFixed(2)}V${(at(p[1]) + 1).toFixed(2)}`).join("") });
  if (v.diff) {
    const ts = samples(g, v.from, v.to, v.logx);
    el(plot, "line", { class: "grid", x1: L, x2: L + PW, y1: Y(0), y2: Y(0) });
    el(plot, "path", { class: "curve", d: "M" + ts.map(t => [t, value(g.table, t) - value(g.fit, t)]).map(pt).join("L") });
  } else {
    if (g.tol) area(g.pcols ? g.pcols.filter(inview).map(p => [p[0], p[1] - g.tol([0, p[1]]), p[2] + g.tol([0, p[2]])])
      : g.points.map(p => [p[0], p[1] - g.tol(p), p[1] + g.tol(p)]), "tol");
    if (g.band) area(g.band, "band95");
    if (g.fit) {
      const ts = samples(g, v.from, v.to, v.logx), tab = ts.map(t => [t, value(g.table, t)]);
      el(plot, "path", { class: "curve", d: "M" + tab.map(pt).join("L") });
      // The double fit, dashed where it lies a pixel or more off the table.
      let path = "", on = false;
      ts.forEach((t, i) => {
        const p = [t, value(g.fit, t)], apart = Math.abs(Y(p[1]) - Y(tab[i][1])) >= 1;
        if (apart) path += (on ? "L" : "M" + pt([ts[Math.max(0, i - 1)], value(g.fit, ts[Math.max(0, i - 1)])]) + "L") + pt(p);
        on = apart;
      });
      if (path) el(plot, "path", { class: "table", d: path });
    } else {
      area(g.env.filter(inview), "band");
      const off = g.tenv.filter((p, i) => inview(p) && (Math.abs(Y(p[1]) - Y(g.env[i][1])) >= 1 || Math.abs(Y(p[2]) - Y(g.env[i][2])) >= 1));
      columns(off, "table", Y);
    }
    for (const p of g.knots.filter(inview)) el(plot, "rect", { class: "knot", x: X(p[0]) - 2, y: Y(p[1]) - 2, width: 4, height: 4 });
    for (const p of g.points.filter(inview)) el(plot, "circle", { class: "point", cx: X(p[0]), cy: Y(p[1]), r: 2.5 });
    if (g.pcols) columns(g.pcols.filter(inview), "pcol", Y);
  }
  g.marks.forEach((m, i) => {
    if (m[1] < v.from || m[1] > v.to) return;
    el(svg, "line", { class: "mark", x1: X(m[1]), x2: X(m[1]), y1: T, y2: T + PH });
    el(svg, "text", { class: "mark", x: X(m[1]) + 3, y: T + 12 + 12 * i }, m[0]);
  });
  if (strip) {
    // The residuals y - T(x), on a scale of their own about 0.
    const top = T + PH + 48, rs = g.rcols ? g.rcols.filter(inview) : g.points.filter(inview).map(p => [p[0], p[2], p[2]]);
    const m = Math.max(...rs.map(p => Math.max(Math.abs(p[1]), Math.abs(p[2]))), 0) || 1;
    const R = r => top + RS / 2 - r / m * (RS / 2 - 2);
    el(svg, "rect", { class: "frame", x: L, y: top, width: PW, height: RS });
    el(svg, "line", { class: "grid", x1: L, x2: L + PW, y1: R(0), y2: R(0) });
    el(svg, "text", { x: L + 4, y: top + 12 }, label(m));
    el(svg, "text", { x: L + 4, y: top + RS - 4 }, label(-m));
    el(svg, "text", { x: 14, y: top + RS / 2, transform: `rotate(-90 14 ${top + RS / 2})`, "text-anchor": "middle" }, "y − T");
    if (g.rcols) columns(rs, "pcol", R, svg);
    else for (const p of rs) el(svg, "circle", { class: "point", cx: X(p[0]), cy: R(p[1]), r: 2 });
  }
  const box = svg.getBoundingClientRect();
  svg.dataset.box = [box.left + scrollX, box.top + scrollY].join(" ");
  const sel = el(svg, "rect", { class: "sel", x: 0, y: 0, width: 0, height: 0 });
  const at = e => { const r = svg.getBoundingClientRect(); return [(e.clientX - r.left) * W / r.width, (e.clientY - r.top) * H / r.height]; };
  let start = null;
  svg.addEventListener("mousedown", e => { const p = at(e); if (p[0] >= L && p[0] <= L + PW && p[1] >= T && p[1] <= T + PH) { start = [p, e.shiftKey]; e.preventDefault(); } });
  svg.addEventListener("mousemove", e => {
    const p = at(e);
    if (p[0] >= L && p[0] <= L + PW) readout(g, g.t(p[0]));
    if (!start) return;
    const [q, box] = start, x = Math.min(p[0], q[0]), y = box ? Math.min(p[1], q[1]) : T;
    for (const [k, a] of Object.entries({ x, y, width: Math.abs(p[0] - q[0]), height: box ? Math.abs(p[1] - q[1]) : PH })) sel.setAttribute(k, a);
  });
  svg.addEventListener("mouseup", e => {
    if (!start) return;
    const p = at(e), [q, box] = start;
    start = null;
    sel.setAttribute("width", 0);
    if (Math.abs(p[0] - q[0]) < 3) return;
    const a = g.t(Math.max(L, Math.min(p[0], q[0]))), b = g.t(Math.min(L + PW, Math.max(p[0], q[0])));
    if (!(b > a)) return;
    v.from = a; v.to = b;
    if (box && Math.abs(p[1] - q[1]) >= 3) { v.ylo = g.y(Math.max(p[1], q[1])); v.yhi = g.y(Math.min(p[1], q[1])); }
    else { delete v.ylo; delete v.yhi; }
    render(fig);
  });
  svg.addEventListener("dblclick", () => { v.from = g.from; v.to = g.to; delete v.ylo; delete v.yhi; render(fig); });
}
// Under the cursor: x, the table's value there and the nearest point with
// its residual, to 6 significant digits.
function readout(g, t) {
  let text = "x " + label(t);
  if (g.fit) text += " · T(x) " + label(value(g.table, t)) + (g.view.diff ? " · T(x) − S(x) " + label(value(g.table, t) - value(g.fit, t)) : "");
  else {
    const c = g.env[Math.min(g.env.length - 1, Math.max(0, Math.floor((t - g.from) / (g.to - g.from) * g.env.length)))];
    text += " · S in its column " + label(c[1]) + " … " + label(c[2]);
  }
  let near = null;
  for (const p of g.points) if (!near || Math.abs(g.X(p[0]) - g.X(t)) < Math.abs(g.X(near[0]) - g.X(t))) near = p;
  if (near) text += ` · nearest point (${label(near[0])}, ${label(near[1])})` + (near.length > 2 ? ", residual " + label(near[2]) : "");
  g.out.textContent = text;
  g.out.dataset.x = t;
}
const plots = document.querySelectorAll("figure.plot");
// #all draws every plot at once, laid out for real: nothing is skipped.
if (location.hash === "#all") {
  document.documentElement.classList.add("all");
  plots.forEach(draw);
}
// Each block of figures is watched, and its figures only while it is near
// the view: a few hundred targets, not one per data set.
const seen = new IntersectionObserver(es => {
  for (const e of es) if (e.isIntersecting) { draw(e.target); seen.unobserve(e.target); }
}, { rootMargin: "300px" });
const blocks = new IntersectionObserver(es => {
  for (const e of es) for (const p of e.target.querySelectorAll("figure.plot:not([data-drawn])"))
    if (e.isIntersecting) seen.observe(p); else seen.unobserve(p);
}, { rootMargin: "300px" });
document.querySelectorAll(".figs").forEach(b => blocks.observe(b));
// A jump to a figure lands where the figures above it were estimated to end;
// once they are laid out it is taken again.
const settle = () => {
  const f = location.hash.length > 2 && document.getElementById(location.hash.slice(1));
  if (f) requestAnimationFrame(() => requestAnimationFrame(() => f.scrollIntoView()));
};
addEventListener("hashchange", settle);
settle();
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
    if (plot.points.low.empty()) {
      fig += Attribute("from", knotfit::detail::ShortNumber(r.x_min)) +
             Attribute("to", knotfit::detail::ShortNumber(r.x_max));
    }
    AppendDoubles(fig, "low", plot.curve.low);
    AppendDoubles(fig, "high", plot.curve.high);
    if (!plot.table.low.empty()) {
      AppendDoubles(fig, "tlow", plot.table.low);
      AppendDoubles(fig, "thigh", plot.table.high);
    }
  }
  if (plot.form != knotfit::TableForm::kClassic) {
    fig += Attribute("form", knotfit::TableFormName(plot.form));
  }
  if (!plot.x.empty()) {
    AppendDoubles(fig, "px", plot.x);
    AppendDoubles(fig, "py", plot.y);
  }
  if (!plot.points.low.empty()) {
    fig += Attribute("from", knotfit::detail::ShortNumber(r.x_min)) +
           Attribute("to", knotfit::detail::ShortNumber(r.x_max));
    AppendDoubles(fig, "plow", plot.points.low);
    AppendDoubles(fig, "phigh", plot.points.high);
    AppendDoubles(fig, "rlow", plot.residuals.low);
    AppendDoubles(fig, "rhigh", plot.residuals.high);
  }
  if (!plot.band_low.empty()) {
    AppendDoubles(fig, "blow", plot.band_low);
    AppendDoubles(fig, "bhigh", plot.band_high);
  }
  if (r.knots) {
    fig += Attribute("e", knotfit::detail::ShortNumber(r.knots->e));
    if (r.knots->r > 0.0) {
      fig += Attribute("r", knotfit::detail::ShortNumber(r.knots->r));
    }
  }
  if (!d.findings.empty()) {
    // Each flag's name at the abscissa it was found at.
    std::string marks;
    for (const Finding &f : d.findings) {
      marks += marks.empty() ? "" : " ";
      marks += std::string(InfoOf(f.flag).name) + " " +
               knotfit::detail::ShortNumber(f.at);
    }
    fig += Attribute("marks", marks);
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
  // The figures in blocks of kIndexRows, laid out, and watched by the
  // script, only near the view.
  for (size_t k = 0; k < records.size(); ++k) {
    if (k % kIndexRows == 0) {
      out.Append("<div class=\"figs\">\n");
    }
    out.AppendAll(records[k].figure);
    if (k + 1 == records.size() || (k + 1) % kIndexRows == 0) {
      out.Append("</div>\n");
    }
  }
  out.AppendAll("<script>\n\"use strict\";\nconst ROWS = " +
                std::to_string(kIndexRows) + ";");
  out.AppendAll(kScript);
  out.Append("</script>\n</body>\n</html>\n");
}
