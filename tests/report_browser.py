#!/usr/bin/env python3
"""report_browser.py KNOTFIT [GEN_WORKLOAD]: loads reports that knotfit writes
(--report) in headless Chromium: the DOM holds one plot per data set with its
data and the flagged rows first; the cube's curve, knots 2 apart, is drawn
where S(t) = (t/2)^3 maps. The page counts every data set, and is UTF-8
whatever the names. With GEN_WORKLOAD, only W2's report, which loads. Exits 77
without chromium."""
import base64
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


def chromium(url, *args, timeout=60):
    with tempfile.TemporaryDirectory() as profile:
        return subprocess.run(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + profile, "--window-size=1000,1000", *args, url],
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
                f.write("""<iframe src="%s" style="width:1000px;height:1000px" onload="document.title =
                    this.contentDocument.documentElement.outerHTML.split('<figure class=&quot;plot&quot;').length - 1">
                    </iframe>""" % report(knotfit, work, "w2"))
            dom = chromium("file://" + f.name, "--allow-file-access-from-files", "--dump-dom", timeout=150)
            if b"<title>20000</title>" not in dom:
                failures.append("W2: %s plots" % re.findall(b"<title>(.*)</title>", dom))
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
    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
