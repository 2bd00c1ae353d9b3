#!/usr/bin/env python3
"""report_page.py KNOTFIT GEN_WORKLOAD [RUNS]: W2's --report page in headless
Chromium (Debian: chromium), RUNS times (default 5): its first contentful
paint, and, scrolling through 100 of its figures one at a time (each drawn
as it comes into view), the longest of the browser's long tasks; medians
and spread. Targets: the paint within 2 s, no long task over 200 ms."""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

# The page in a frame; once loaded, each of 100 figures from the 10,000th on
# is scrolled to in turn, two frames apart, while long tasks are recorded.
FRAME = """<iframe id="f" src="%s" style="width:1000px;height:1000px"></iframe><script>
window.result = new Promise(done => f.onload = () => {
  const w = f.contentWindow, long = [];
  new w.PerformanceObserver(l => long.push(...l.getEntries().map(e => e.duration))).observe({ type: "longtask" });
  const paint = w.performance.getEntriesByName("first-contentful-paint")[0];
  const figures = w.document.querySelectorAll("figure.plot");
  // The first figure is scrolled to twice: a jump into a block not yet laid
  // out lands where its estimated height put it.
  let k = -1;
  const step = () => {
    if (k < 0) { figures[10000].scrollIntoView(); k = 0; requestAnimationFrame(() => requestAnimationFrame(step)); return; }
    if (k < 100) { figures[10000 + k++].scrollIntoView(); requestAnimationFrame(() => requestAnimationFrame(step)); return; }
    setTimeout(() => done([paint ? paint.startTime : -1, Math.max(0, ...long),
      Array.from(figures).slice(10000, 10100).filter(e => e.querySelector("svg")).length]), 500);
  };
  step();
});</script>"""
# Waits for the page's result.
WAIT = "new Promise(r => { const t = () => window.result ? result.then(r) : setTimeout(t, 100); t(); })"


def measure(url):
    """The frame page's result, in real time: Chromium driven through
    --remote-debugging-pipe (JSON messages ending in NUL, written to its
    fd 3, read from its fd 4)."""
    to_browser, ours = os.pipe()
    theirs, from_browser = os.pipe()
    with tempfile.TemporaryDirectory(ignore_cleanup_errors=True) as profile:
        # The child's fds 3 and 4 are the pipes' ends.
        def fds():
            os.dup2(to_browser, 3)
            os.dup2(from_browser, 4)
        browser = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--allow-file-access-from-files", "--user-data-dir=" + profile, "--window-size=1000,1000",
             "--remote-debugging-pipe", url], pass_fds=(3, 4, to_browser, from_browser), preexec_fn=fds,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser)
        os.close(from_browser)
        reader, pending = os.fdopen(theirs, "rb"), b""

        def call(id, method, **params):
            nonlocal pending
            session = params.pop("session", None)
            message = {"id": id, "method": method, "params": params}
            if session:
                message["sessionId"] = session
            os.write(ours, json.dumps(message).encode() + b"\0")
            while True:
                while b"\0" not in pending:
                    more = reader.read1(1 << 16)
                    if not more:
                        raise RuntimeError("chromium closed its pipe")
                    pending += more
                text, pending = pending.split(b"\0", 1)
                answer = json.loads(text)
                if answer.get("id") == id:
                    if "error" in answer:
                        raise RuntimeError("%s: %s" % (method, answer["error"]))
                    return answer["result"]
        try:
            page = next(t for t in call(1, "Target.getTargets")["targetInfos"] if t["type"] == "page")
            session = call(2, "Target.attachToTarget", targetId=page["targetId"], flatten=True)["sessionId"]
            for id in range(3, 100):  # again while the page is still being navigated to
                try:
                    return call(id, "Runtime.evaluate", session=session, expression=WAIT, awaitPromise=True,
                                returnByValue=True)["result"]["value"]
                except RuntimeError as e:
                    if "context" not in str(e):
                        raise
                    time.sleep(0.2)
        finally:
            try:
                call(1000, "Browser.close")
                browser.wait(timeout=60)
            except (RuntimeError, OSError, subprocess.TimeoutExpired):
                browser.kill()
                browser.wait()
            os.close(ours)
            reader.close()


def main():
    knotfit, gen = map(os.path.abspath, sys.argv[1:3])
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    with tempfile.TemporaryDirectory() as work:
        os.makedirs(os.path.join(work, "kel/CS/plot"))
        with open(os.path.join(work, "w2.txt"), "w") as f:
            subprocess.run([gen, "w2"], stdout=f, check=True, timeout=300)
        page = os.path.join(work, "w2.html")
        subprocess.run([knotfit, "-q", "--report", page, "w2.txt"], cwd=work, check=True, timeout=300,
                       env={"TROV_KEL": "kel"})
        with open(os.path.join(work, "frame.html"), "w") as f:
            f.write(FRAME % ("file://" + page))
        paints, longs = [], []
        for _ in range(runs):
            paint, long, drawn = measure("file://" + f.name)
            if drawn != 100:
                print("only %d of the 100 figures scrolled to were drawn" % drawn)
            paints.append(paint / 1000)
            longs.append(long)
        size = os.path.getsize(page)
    spread = lambda v: "%.3g (%.3g-%.3g)" % (statistics.median(v), min(v), max(v))
    print("W2's page: %d bytes" % size)
    print("first contentful paint, s:       %s   target <= 2" % spread(paints))
    print("longest long task scrolling, ms: %s   target <= 200" % spread(longs))


if __name__ == "__main__":
    sys.exit(main())
