#!/usr/bin/env python3
"""run_case.py [--jobs N] PROGRAM CASE_DIR: plays one case of
tests/data/cases (its README gives the format) through the built PROGRAM
(knotfit, knotfit-eval or knotfit-export) in a scratch directory; with
--jobs, once more with -j N first among the arguments (a case without
arguments is played once). Prints every difference and exits 1 when there
is one."""
import difflib
import os
import shutil
import subprocess
import sys
import tempfile


# Where a run's standard output goes: captured, a full device, closed (with
# standard error too: closed-all), or a pipe whose reader has already gone.
STDOUT_MODES = ("capture", "full", "closed", "closed-all", "broken-pipe")


def lines(path, default):
    """The file's lines, or the default when the case has no such file; bytes
    that are not UTF-8 pass through to arguments and paths as they are."""
    if not os.path.exists(path):
        return default
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        return f.read().splitlines()


def read(path):
    """The file's bytes; empty when it does not exist."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return b""


def files_under(root):
    """Every file and link under root, relative to it."""
    found = set()
    for top, dirs, files in os.walk(root):
        links = [d for d in dirs if os.path.islink(os.path.join(top, d))]
        found.update(os.path.relpath(os.path.join(top, f), root) for f in files + links)
    return found


def text_lines(data, keep_ends=True):
    """The lines of any bytes, undecodable ones kept as they are."""
    return data.decode(errors="surrogateescape").splitlines(keep_ends)


def words(data):
    """Hex, eight digits (one binary32 field) to a line: a diff shows the field."""
    return [data[i:i + 4].hex() for i in range(0, len(data), 4)]


def from_hex(text):
    return bytes.fromhex("".join(line.split("#")[0] for line in text.splitlines()))


def run(program, args, env, cwd, stdout="capture", timeout=60, stdin=os.devnull):
    """The program with exactly these arguments and environment, standard input
    from the file stdin (or closed), standard output as STDOUT_MODES says.
    Returns (status, stdout, stderr); a signal gives 128 + its number."""
    closed = ([0] if stdin == "closed" else []) + \
        {"closed": [1], "closed-all": [1, 2]}.get(stdout, [])

    def close():
        for fd in closed:
            os.close(fd)

    source_path = os.devnull if stdin == "closed" else stdin
    with open(source_path, "rb") as source, open(os.devnull, "rb") as null, \
            open("/dev/full", "wb") as full:
        out = {"capture": subprocess.PIPE, "full": full}.get(stdout, null)
        if stdout == "broken-pipe":
            reader, out = os.pipe()
            os.close(reader)
        try:
            p = subprocess.run([program] + args, env=env, cwd=cwd, stdin=source, stdout=out,
                               stderr=subprocess.PIPE, timeout=timeout,
                               preexec_fn=close if closed else None)
        finally:
            if stdout == "broken-pipe":
                os.close(out)
    status = p.returncode if p.returncode >= 0 else 128 - p.returncode
    return status, p.stdout or b"", p.stderr


def play(program, case, options=()):
    problems = []

    def compare(what, got, want):
        """Lines shown quoted, so that tabs, blanks and newlines show."""
        if got != want:
            diff = difflib.unified_diff([repr(w) for w in want], [repr(g) for g in got],
                                        "expected", "got", lineterm="")
            problems.append("%s differs:\n%s" % (what, "\n".join(diff)))

    with tempfile.TemporaryDirectory(prefix="knotfit-case-") as work:
        if os.path.exists(os.path.join(case, "input")):
            shutil.copyfile(os.path.join(case, "input"), os.path.join(work, "input"))
        stdout, stdin = "capture", os.devnull
        for step in lines(os.path.join(case, "setup"), ["mkdir kel/CS/plot"]):
            op, *arg = step.split() or [""]
            if op == "mkdir":
                os.makedirs(os.path.join(work, arg[0]), exist_ok=True)
            elif op == "symlink":
                os.symlink(arg[0], os.path.join(work, arg[1]))
            elif op == "fifo":
                os.mkfifo(os.path.join(work, arg[0]))
            elif op in ("copy", "hex"):
                with open(os.path.join(case, arg[0]), "rb") as f:
                    data = f.read()
                os.makedirs(os.path.dirname(os.path.join(work, arg[1])), exist_ok=True)
                with open(os.path.join(work, arg[1]), "wb") as f:
                    f.write(from_hex(data.decode()) if op == "hex" else data)
            elif step == "stdin closed":
                stdin = "closed"
            elif op == "stdin":
                stdin = os.path.join(case, arg[0])
            elif op == "stdout" and arg[0] in STDOUT_MODES:
                stdout = arg[0]
            elif op:
                sys.exit("unknown setup step: " + step)
        before = files_under(work)

        args = lines(os.path.join(case, "args"), ["input"])
        if not args and options:
            return []
        args = list(options) + args
        env = dict(e.split("=", 1) for e in lines(os.path.join(case, "env"), ["TROV_KEL=kel"]))
        try:
            status, out, err = run(program, args, env, work, stdout, stdin=stdin)
        except subprocess.TimeoutExpired:
            return [os.path.basename(program) + " did not finish within 60 s"]  # and was killed
        for name, got in (("stdout", out), ("stderr", err)):
            compare(name, text_lines(got), text_lines(read(os.path.join(case, name))))
        want_status = lines(os.path.join(case, "status"), ["0"])[0]
        compare("status", [str(status)], [want_status])

        expect = os.path.join(case, "expect")
        expected = set()
        for rel in sorted(files_under(expect)) if os.path.isdir(expect) else []:
            target, ext = os.path.splitext(rel)
            if ext not in (".hex", ".lines", ".gone"):
                target = rel
            expected.add(target)
            if ext == ".gone":
                if os.path.lexists(os.path.join(work, target)):
                    problems.append(target + " is still there")
                continue
            want = read(os.path.join(expect, rel))
            got = read(os.path.join(work, target))
            if not os.path.lexists(os.path.join(work, target)):
                problems.append(target + " was not written")
            elif ext == ".hex":
                compare(target, words(got), words(from_hex(want.decode())))
            elif ext == ".lines":
                count, *excerpt = text_lines(want, False)
                got_lines = text_lines(got, False)
                compare(target + " line count", [str(len(got_lines))], [count])
                picked = []
                for entry in excerpt:
                    number = int(entry.split(":", 1)[0])
                    line = got_lines[number - 1] if number <= len(got_lines) else "(none)"
                    picked.append("%d:%s" % (number, line))
                compare(target, picked, excerpt)
            else:
                compare(target, text_lines(got), text_lines(want))
        for extra in sorted(files_under(work) - before - expected):
            problems.append(extra + " written but not expected")
    return problems


if __name__ == "__main__":
    jobs = sys.argv[2] if sys.argv[1] == "--jobs" else None
    program, case = [os.path.abspath(sys.argv[-2]), sys.argv[-1]]
    found = play(program, case)
    if jobs:
        found += ["with -j %s: %s" % (jobs, p) for p in play(program, case, ["-j", jobs])]
    sys.stdout.reconfigure(errors="backslashreplace")
    print("\n".join(found) or "ok")
    sys.exit(1 if found else 0)
