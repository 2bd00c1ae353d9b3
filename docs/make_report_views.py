#!/usr/bin/env python3
"""Draws the pictures of the guide's report section (docs/report_*.png): one
figure of a page `knotfit --report` writes, in each of its views, driven in
headless Chromium (Debian: chromium) as tests/report_browser.py drives it.
  docs/make_report_views.py [path/to/knotfit]"""
import os
import sys
import tempfile

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root, "tests"))
import report_browser as rb  # noqa: E402

# (picture, page, input, options, actions)
VIEWS = [
    ("view", "step", rb.STEP, [], ""),
    ("zoom", "step", rb.STEP, [], "drag(220, 100, 420, 100); read(330);"),
    ("diff", "step", rb.STEP, [], 'tick("diff"); read(330);'),
    ("smooth", "noisy", rb.NOISY, ["--method=smooth"], "read(300);"),
    ("log", "pos", rb.POS, ["--table=offset"], 'tick("logx"); tick("logy"); read(400);'),
]


def main():
    knotfit = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build/release/knotfit"))
    with tempfile.TemporaryDirectory() as work:
        os.makedirs(os.path.join(work, "kel/CS/plot"))
        for picture, name, text, options, actions in VIEWS:
            page = rb.report(knotfit, work, name, text, options)
            # The plot and the read-out under it.
            _, pixels = rb.drive(work, page + "#all", "d0", actions, os.path.join(work, "shot.png"), below=24)
            path = os.path.join(root, "docs", "report_%s.png" % picture)
            with open(path, "wb") as f:
                f.write(rb.png_bytes(pixels))
            print("wrote", path)


if __name__ == "__main__":
    sys.exit(main())
