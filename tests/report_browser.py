#!/usr/bin/env python3
"""report_browser.py KNOTFIT [GEN_WORKLOAD]: loads reports that knotfit writes
(--report) in headless Chromium: the DOM holds one plot per data set with its
data and the flagged rows first; the cube's curve, knots 2 apart, is drawn
where S(t) = (t/2)^3 maps. The page counts every data set, and is UTF-8
whatever the names. Figures are driven by a page that holds the report in a
frame (zoom, box, reset, log axes, the table minus the fit, the read-out,
checked against knotfit-eval) and compared with the screenshots in
tests/data/report/ (KNOTFIT_UPDATE_SCREENSHOTS=1 writes them anew). With
GEN_WORKLOAD, only W2's report, which loads, scrolls and zooms. Exits 77
without chromium."""
import base64
import json
import html
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

STEP = "0 0\n1 0\n2 0.01\n3 0.05\n3.5 0.5\n4 0.95\n5 0.99\n6 1\n7 1\n8 1\nNAME step\n"
CUBE = "0 0\n2 1\n4 8\n6 27\n8 64\nNAME cube\n"  # S(t) = (t/2)^3
BACK = "1 1\n0 0\nNAME back\n"
STALL = b"1e15 0 1000000000000000.25 1 1000000000000000.5 0 1000000000000001 1 NAME st\xe4ll\n"
CURVE = (31, 95, 191)  # the light theme's curve colour, #1f5fbf
# The page's counts: every data set, as the closing summary and the JSON
# count them (singular for one), those the CSV reader skipped and a table
# written without its plot file included. (page, input, options, counts)
COUNTS = [
    ("three", None, [], "3 data sets: 2 written, 1 skipped, 1 flagged."),
    ("cube", None, [], "1 data set: 1 written, 0 skipped, 0 flagged."),
    ("na", "x,y\n0,0\n1,NA\n", ["--csv"], "1 data set: 0 written, 1 skipped, 0 flagged."),
    ("stall", STALL + CUBE.encode(), ["--fail-on=binary32"],
     "2 data sets: 2 written (1 without its plot file), 0 skipped, 1 flagged, 1 failed --fail-on."),
]


def chromium(url, *args, timeout=60, size="1000,1000"):
    with tempfile.TemporaryDirectory() as profile:
        return subprocess.run(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + profile, "--window-size=" + size, *args, url],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout, check=True).stdout


def report(knotfit, work, name, text=None, options=()):
    """Runs knotfit -q --report on name.txt, written first when a text is
    given; the page's file URL."""
    if text is not None:
        with open(os.path.join(work, name + ".txt"), "wb" if isinstance(text, bytes) else "w") as f:
            f.write(text)
    page = os.path.join(work, name + ".html")
    subprocess.run([knotfit, "-q", "--report", page, *options, name + ".txt"], cwd=work,
                   timeout=120, env={"TROV_KEL": "kel"}, stderr=subprocess.DEVNULL)
    return "file://" + page


def doubles(text):
    raw = base64.b64decode(text)
    return list(struct.unpack(">%dd" % (len(raw) // 8), raw))


def png_pixels(data):
    """(width, rows of (r, g, b)) of an 8-bit RGB or RGBA PNG."""
    width, height, _, kind = struct.unpack(">IIBB", data[16:26])
    size = 4 if kind == 6 else 3
    chunks, at = b"", 8
    while at < len(data):
        length, tag = struct.unpack(">I4s", data[at:at + 8])
        chunks += data[at + 8:at + 8 + length] if tag == b"IDAT" else b""
        at += 12 + length
    raw, rows, prev, stride = zlib.decompress(chunks), [], bytearray(width * size), width * size
    for y in range(height):
        kind_of_row, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a, b = line[i - size] if i >= size else 0, prev[i]
            c = prev[i - size] if i >= size else 0
            p = a + b - c
            pred = [0, a, b, (a + b) // 2,
                    a if abs(p - a) <= min(abs(p - b), abs(p - c)) else b if abs(p - b) <= abs(p - c) else c]
            line[i] = (line[i] + pred[kind_of_row]) & 255
        rows.append(line)
        prev = line
    return [[tuple(r[x * size:x * size + 3]) for x in range(width)] for r in rows]


# Drives figure FIG of a page in a frame: ACTIONS (script) fill out, then the
# figure is scrolled to the frame's top and its plot's box is kept. The
# font is fixed, as the screenshots need.
DRIVE = """<!DOCTYPE html><body style="margin:0"><iframe id="f" src="%s" style="width:1000px;height:800px;border:0"></iframe>
<pre id="out"></pre><script>
f.onload = () => {
  const w = f.contentWindow, doc = w.document, out = {}, fig = doc.getElementById("%s"), svg = () => fig.querySelector("svg");
  doc.head.insertAdjacentHTML("beforeend", "<style>*{font-family:'DejaVu Sans'!important}</style>");
  const map = () => svg().dataset.map.split(" ").map(Number);
  const mouse = (type, x, y, shiftKey) => { const r = svg().getBoundingClientRect(), b = svg().viewBox.baseVal;
    svg().dispatchEvent(new w.MouseEvent(type, { bubbles: true, shiftKey, clientX: r.left + x * r.width / b.width, clientY: r.top + y * r.height / b.height })); };
  const drag = (x0, y0, x1, y1, shift) => { mouse("mousedown", x0, y0, shift); mouse("mousemove", x1, y1, shift); mouse("mouseup", x1, y1, shift); return map(); };
  const tick = name => { fig.querySelector(`input[name=${name}]`).click(); return map(); };
  const read = x => { mouse("mousemove", x, 100); const o = fig.querySelector("output"); return [o.dataset.x, o.textContent]; };
  out.toggles = Array.from(fig.querySelectorAll(".tools input"), i => i.name);
  out.full = map();
  %s
  out.texts = Array.from(svg().querySelectorAll("text"), t => [t.getAttribute("class"), t.textContent]);
  fig.scrollIntoView();
  const r = svg().getBoundingClientRect();
  out.at = [r.left, r.top, r.width, r.height].map(Math.round);
  document.getElementById("out").textContent = JSON.stringify(out);
};
</script>"""


def drive(work, page, fig, actions, shot=None, below=0):
    """(what ACTIONS put in out, the plot's pixels, and BELOW rows more, when
    SHOT names a PNG)."""
    with open(os.path.join(work, "drive.html"), "w") as f:
        f.write(DRIVE % (page, fig, actions))
    dom = chromium("file://" + f.name, "--allow-file-access-from-files", "--dump-dom",
                   *(["--screenshot=" + shot] if shot else []), size="1000,800").decode()
    out = json.loads(html.unescape(re.search(r'<pre id="out">(.*?)</pre>', dom, re.S).group(1)))
    if not shot:
        return out, None
    with open(shot, "rb") as f:
        left, top, width, height = out["at"]
        return out, [row[left:left + width] for row in png_pixels(f.read())[top:top + height + below]]


def png_bytes(rows):
    """An 8-bit RGB PNG of rows of (r, g, b)."""
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)
    chunk = lambda tag, data: struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


POS = "".join("%g %r\n" % (x, x ** 0.5) for x in (1, 2, 5, 10, 20, 50, 100)) + "NAME pos\n"
NOISY = "".join("%g %g\n" % (k / 10, (k % 7 - 3) / 10 + k / 20) for k in range(40)) + "NAME noisy\n"
# The pixels of a stored screenshot that may differ by more than 64 in a
# channel (antialiasing): 1%.
SHOT_TOLERANCE = 0.01
# Each view driven: (page, input, options, figure, actions). The plot spans
# x 64 to 704 and y 10 to 230 of its box.
VIEWS = [
    ("pos", POS, ["--table=offset"], "d0", """
  out.zoom = drag(164, 100, 364, 100); mouse("dblclick", 300, 100); out.reset = map();
  out.box = drag(164, 50, 364, 150, true); mouse("dblclick", 300, 100);
  out.reads = [100, 301.5, 555].map(read);
  out.logx = tick("logx"); out.logy = tick("logy");"""),
    ("three", None, [], "d0", 'out.diff = tick("diff");'),
    ("noisy", NOISY, ["--method=smooth"], "d0", ""),
]


def views(knotfit, work):
    """The views driven and the screenshots compared; the failures."""
    failures = []
    for name, text, options, fig, actions in VIEWS:
        page = report(knotfit, work, name, text, options)
        shot = os.path.join(work, name + ".png")
        out, pixels = drive(work, page + "#all", fig, actions, shot)
        stored = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "report", name + ".png")
        if os.environ.get("KNOTFIT_UPDATE_SCREENSHOTS"):
            with open(stored, "wb") as f:
                f.write(png_bytes(pixels))
        with open(stored, "rb") as f:
            want = png_pixels(f.read())
        off = sum(max(abs(p - q) for p, q in zip(a, b)) > 64
                  for got_row, want_row in zip(pixels, want) for a, b in zip(got_row, want_row))
        if len(want) != len(pixels) or len(want[0]) != len(pixels[0]) or off > SHOT_TOLERANCE * len(want) * len(want[0]):
            failures.append("%s: the screenshot differs from %s (%d pixels)" % (name, stored, off))
        x0, x1, y0, y1 = out["full"][:4]
        if name == "pos":
            eval_at = lambda t: float(subprocess.run(
                [os.path.join(os.path.dirname(knotfit), "knotfit-eval"), os.path.join(work, "kel/CS/pos"), repr(t)],
                stdout=subprocess.PIPE, check=True, timeout=60).stdout.split()[1])
            # Within a pixel: events land on whole pixels of the window.
            near = lambda got, want, span: abs(got - want) <= span
            along = lambda px: x0 + (px - 64) / 640 * (x1 - x0)
            upto = lambda py: y1 - (py - 10) / 220 * (y1 - y0)
            dx, dy = (x1 - x0) / 640, (y1 - y0) / 220
            wants = {"toggles": out["toggles"] == ["logx", "logy", "diff"], "reset": out["reset"] == out["full"],
                     "zoom": near(out["zoom"][0], along(164), dx) and near(out["zoom"][1], along(364), dx),
                     "box": all(map(near, out["box"][:4], [along(164), along(364), upto(150), upto(50)], [dx, dx, dy, dy])),
                     "log axes": ["1", "10", "100"] == [t for c, t in out["texts"] if t in ("1", "10", "100")][:3]}
            failures += ["pos: %s: %s" % (k, out) for k, ok in wants.items() if not ok]
            points = [(x, x ** 0.5) for x in (1, 2, 5, 10, 20, 50, 100)]
            for at, line in out["reads"]:
                t = float(at)
                px, py = min(points, key=lambda p: abs(p[0] - t))
                want = [t, eval_at(t), px, py, py - eval_at(px)]
                got = re.fullmatch(r"x (\S+) · T\(x\) (\S+) · nearest point \((\S+), (\S+)\), residual (\S+)", line)
                if not got or list(map(float, got.groups())) != [float("%.6g" % v) for v in want]:
                    failures.append("pos: read-out %r, want %s" % (line, ["%.6g" % v for v in want]))
        elif name == "three":
            marks = [t for c, t in out["texts"] if c == "mark"]
            if out["toggles"] != ["diff"] or marks != ["overshoot", "not-monotone"]:
                failures.append("step: toggles %s, marks %s" % (out["toggles"], marks))
            if not 0 < out["diff"][3] - out["diff"][2] < 1e-5:
                failures.append("step: the table minus the fit spans y %s" % out["diff"][2:4])
        elif "y − T" not in [t for c, t in out["texts"]]:
            failures.append("noisy: no residual strip: %s" % out["texts"])
    return failures


def main():
    knotfit, gen = sys.argv[1], sys.argv[2:]
    if not shutil.which("chromium"):
        print("skipped: chromium is not installed")
        return 77
    failures = []
    with tempfile.TemporaryDirectory() as work:
        os.makedirs(os.path.join(work, "kel/CS/plot"))
        if gen:  # W2's page, a test of its own: as long to load as the others together
            with open(os.path.join(work, "w2.txt"), "w") as f:
                subprocess.run([gen[0], "w2"], stdout=f, check=True, timeout=120)
            # Loads without freezing the browser; the limit guards against a hang only
            # (the page takes about 7 s of CPU, much longer on a loaded machine). It
            # loads in a frame of a small page, which counts the plots of its DOM:
            # the count leaves the browser, not the 25 MB of the DOM.
            with open(os.path.join(work, "frame.html"), "w") as f:
                f.write("""<iframe id="f" src="%s" style="width:1000px;height:1000px"></iframe><script>
                    f.onload = () => {
                      const doc = f.contentDocument, fig = doc.getElementById("d12345");
                      document.title = doc.documentElement.outerHTML.split('<figure class="plot"').length - 1;
                      fig.scrollIntoView();
                      setTimeout(() => {
                        const svg = fig.querySelector("svg"), r = svg && svg.getBoundingClientRect();
                        for (const [type, x] of [["mousedown", 200], ["mousemove", 400], ["mouseup", 400]])
                          svg && svg.dispatchEvent(new f.contentWindow.MouseEvent(type, { bubbles: true, clientX: r.left + x, clientY: r.top + 100 }));
                        document.title += " " + (svg ? fig.querySelector("svg").dataset.map.split(" ")[0] : "none");
                      }, 500);
                    };</script>""" % report(knotfit, work, "w2"))
            dom = chromium("file://" + f.name, "--allow-file-access-from-files", "--dump-dom",
                           "--virtual-time-budget=5000", timeout=150)
            # 20000 plots; the one scrolled to drawn, and zoomed away from its first x.
            title = re.findall(b"<title>(\\d+) (\\S+)</title>", dom)
            if not title or title[0][0] != b"20000" or title[0][1] in (b"none", b"0"):
                failures.append("W2: plots and the zoomed figure's first x: %s" % title)
        else:
            dom = chromium(report(knotfit, work, "three", STEP + CUBE + BACK) + "#all", "--dump-dom").decode()
            figures = re.findall(r'<figure class="plot"[^>]*>', dom)
            names = [re.search(r'data-name="([^"]*)"', f).group(1) for f in figures]
            rows = re.findall(r"<tr data-i[^>]*><td><a[^>]*>([^<]*)</a>.*?<td class=\"(\w+)\">([^<]*)</td></tr>", dom)
            if names != ["step", "cube", "back"]:
                failures.append("plots: %s" % names)
            if rows[0] != ("step", "flags", "overshoot, not-monotone") or "x not increasing" not in rows[1][2]:
                failures.append("index rows, flagged first: %s" % rows)
            if doubles(re.search(r'data-x="([^"]*)"', figures[1]).group(1)) != [0, 2, 4, 6, 8]:
                failures.append("the cube's plot does not carry its knots")
            if dom.count('class="curve"') != 2 or dom.count('class="over"') != 2:
                failures.append("drawn: %d curves, %d overshoot regions" %
                                (dom.count('class="curve"'), dom.count('class="over"')))

            shot = os.path.join(work, "shot.png")
            dom = chromium(report(knotfit, work, "cube", CUBE) + "#all", "--dump-dom",
                           "--screenshot=" + shot).decode()
            svg = re.search(r'<svg[^>]*data-map="([^"]*)"[^>]*data-box="([^"]*)"', dom)
            x0, x1, y0, y1, left, top, width, height = map(float, svg.group(1).split())
            # The y axis spans the curve's extremes, 0 and 64, and 5% more each side.
            if abs(y0 + 3.2) > 1e-9 or abs(y1 - 67.2) > 1e-9:
                failures.append("the cube's plot spans y %g to %g" % (y0, y1))
            # Every point of the curve's path is S = (t/2)^3, to its two decimals.
            path = re.search(r'<path class="curve" d="M([^"]*)"', dom).group(1)
            for point in path.split("L"):
                px, py = map(float, point.split(","))
                t = x0 + (px - left) / width * (x1 - x0)
                if abs(py - (top + (y1 - (t / 2) ** 3) / (y1 - y0) * height)) > 0.02:
                    failures.append("the cube's curve passes (%s), off S" % point)
                    break
            # The axes' names stand centred on them.
            names = re.search(r'<text x="([^"]*)" y="[^"]*" text-anchor="middle">x</text>.*?'
                              r'<text x="14" y="([^"]*)"[^>]*>S\(x\)</text>', dom)
            if not names or (float(names.group(1)), float(names.group(2))) != (left + width / 2, top + height / 2):
                failures.append("the axes' names stand at %s" % (names and names.groups(),))
            bx, by = map(float, svg.group(2).split())
            with open(shot, "rb") as f:
                pixels = png_pixels(f.read())
            for t in (1, 2.5, 5, 6.4, 7.6):
                px = round(bx + left + (t - x0) / (x1 - x0) * width)
                py = round(by + top + (y1 - (t / 2) ** 3) / (y1 - y0) * height)
                near = [pixels[y][x] for y in range(py - 2, py + 3) for x in range(px - 2, px + 3)]
                if not any(sum((p - q) ** 2 for p, q in zip(c, CURVE)) < 40 ** 2 for c in near):
                    failures.append("no curve pixel within 2 px of S(%g) at (%d, %d)" % (t, px, py))

            for name, text, options, counts in COUNTS:
                if text is not None:
                    report(knotfit, work, name, text, options)
                with open(os.path.join(work, name + ".html"), "rb") as f:
                    page = f.read().decode(errors="surrogateescape")
                if "<p>%s</p>" % counts not in page:
                    failures.append("%s: counts %s" % (name, re.findall(r"<p>\d+ data sets?: .*</p>", page)))
                if re.search("[\udc80-\udcff]", page):
                    failures.append("%s: a byte that is not UTF-8 on the page" % name)
            if 'data-name="st\ufffdll"' not in page:  # the last page's name, its byte 0xe4 U+FFFD
                failures.append("stall: the name is not st\ufffdll")
            failures += views(knotfit, work)
    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
