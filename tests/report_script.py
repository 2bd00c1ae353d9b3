#!/usr/bin/env python3
"""report_script.py KNOTFIT: the functions of the script in the page that
knotfit --report writes, run in node on values worked out by hand: the
search of a fit's segment (t in (x[k], x[k+1]] is on segment k), the doubles of a data attribute, the axis ticks and the index's
rows per block. Exits 77 (skipped) without node."""
import base64
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

# The globals the page's script touches outside its functions, inert but
# for the index: one column header (its data attributes strings, as in a
# page) over one block of rows whose values are 2, 1, 2.
STUBS = """
const TH = { cellIndex: 0, addEventListener(e, f) { this.click = f; },
  dataset: new Proxy({}, { set(o, k, v) { o[k] = String(v); return true; } }) };
TH.parentNode = { querySelectorAll: () => [TH] };
const row = (v, i) => ({ cells: [{ dataset: { v: String(v) } }], dataset: { i: String(i) } });
const BODY = { rows: [row(2, 0), row(1, 1), row(2, 2)], appendChild(p) { this.rows = p.kids; } };
const document = { querySelectorAll: s => s === "#index th" ? [TH] : s === ".rows tbody" ? [BODY] : [],
  documentElement: { classList: { add() {} } },
  createDocumentFragment: () => ({ kids: [], appendChild(r) { this.kids.push(r); } }) };
const location = { hash: "" };
class IntersectionObserver { observe() {} }
const addEventListener = () => {};
"""
# A made-up fit whose segments do not meet at the knots, so that the segment
# chosen shows: S(t) = y[k] + a[k] (t - x[k]) on segment k.
CHECKS = """
const s = { x: [0, 1, 2, 4], y: [0, 10, 20, 30], a: [1, 2, 3, 4], b: [0, 0, 0, 0], c: [0, 0, 0, 0] };
const at = [-1, 0, 0.5, 1, 1.5, 2, 3, 4, 5].map(t => value(s, t));
const order = () => [TH.dataset.dir, BODY.rows.map(r => r.dataset.i).join("")];
TH.click(); const up = order(); TH.click(); const down = order();
console.log(JSON.stringify({ at, nums: nums(ATTR), ticks: ticks(0, 1).map(label), rows: ROWS,
                             sort: [up, down] }));
"""
WANT = {"at": [0, 0, 0.5, 1, 11, 12, 23, 30, 30], "nums": [1.5, -2, 1e300],
        "ticks": ["0", "0.2", "0.4", "0.6", "0.8", "1"], "rows": 250,
        # A click sorts up (equal values in page order) and marks the column
        # "1", the next one down, "-1": the style's arrows.
        "sort": [["1", "102"], ["-1", "021"]]}


def main():
    knotfit = sys.argv[1]
    if not shutil.which("node"):
        print("node not found: skipped")
        return 77
    with tempfile.TemporaryDirectory() as tmp:
        os.makedirs(os.path.join(tmp, "kel/CS/plot"))
        page = os.path.join(tmp, "page.html")
        subprocess.run([knotfit, "-q", "--report=" + page, "-"], input=b"0 0\n1 1\nNAME a\n",
                       env={"TROV_KEL": os.path.join(tmp, "kel")}, timeout=60, check=True)
        with open(page, encoding="utf-8") as f:
            script = re.search(r"<script>(.*)</script>", f.read(), re.S).group(1)
    attr = base64.b64encode(struct.pack(">3d", *WANT["nums"])).decode()
    program = STUBS + script + "\nconst ATTR = '%s';\n" % attr + CHECKS
    got = subprocess.run(["node", "-e", program], stdout=subprocess.PIPE, timeout=60,
                         check=True).stdout.decode()
    got = json.loads(got)
    bad = [key for key in WANT if got[key] != WANT[key]]
    for key in bad:
        print("%s: got %r, want %r" % (key, got[key], WANT[key]))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
