#!/usr/bin/env python3
"""stopped_runs.py KNOTFIT [OPTION]...: runs that are stopped, starved or raced, which a
case directory cannot describe: every output file stays whole or untouched.

- a replaced file keeps its mode without set-user-ID, and as root its owner
  and group; a new one gets the usual mode; a file the user may not write is
  not replaced (checked when not run as root);
- a run killed in the middle of a table (by any signal that ends it) or
  stopped there by the file size limit leaves the previous table and plot
  byte for byte, and no temporary file (but after SIGKILL); so does SIGXFSZ
  while the plot file is written; a signal that comes while the first file
  is renamed ends the run only once both are;
- many small data sets (their files written ahead with -j) stopped by a
  signal leave a prefix of them with their new files, the rest with their
  old ones, and no temporary file; a file size limit that stops every plot
  file stops it in each data set's turn, with the same messages;
- two runs on one name leave the table of the later rename, whole;
- out of memory is a message and status 255, never an abort nor the end of
  an input (a CSV line too long to hold); so is a table that cannot be
  created in CS itself;
- the progress line shows on a terminal, and is cleared; never with
  --no-progress.
Every knotfit run gets the OPTIONs first (-j 2: the same with threads).
Every run has a timeout."""
import os
import pty
import resource
import select
import signal
import subprocess
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor

knotfit = os.path.abspath(sys.argv[1])
options = sys.argv[2:]
problems = []
# The long data sets' points: a table above the 1 MiB of the first write,
# and a trace that fills any pipe.
LONG = 60000


def check(what, got, want):
    if got != want:
        problems.append("%s: got %r, expected %r" % (what, got, want))


def points(count, offset=0, name="big"):
    return "".join("%d %d\n" % (i, (i + offset) % 7) for i in range(count)) + \
        "NAME %s\n" % name


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


def hidden(directory):
    return [n for n in os.listdir(directory) if n.startswith(".")]


def temporaries(work):
    return hidden(work + "/kel/CS") + hidden(work + "/kel/CS/plot")


def both(work, name="big"):
    return read_file(work + "/kel/CS/" + name), read_file(work + "/kel/CS/plot/" + name)


class Started:
    """knotfit INPUT with its standard output on a pipe read at the test's
    pace, its standard error in a file, and optional resource limits."""

    def __init__(self, work, args, limits=(), xfsz=signal.SIG_IGN, prefix=()):
        def lower():
            signal.signal(signal.SIGXFSZ, xfsz)  # ignored: a write fails EFBIG
            for resource_id, value in list(limits) + [(resource.RLIMIT_CORE, 0)]:
                resource.setrlimit(resource_id, (value, value))
        self.err_path = os.path.join(work, "stderr")
        self.err = open(self.err_path, "wb")
        self.proc = subprocess.Popen(list(prefix) + [knotfit] + options + args, cwd=work,
                                     env={"TROV_KEL": "kel"}, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=self.err,
                                     preexec_fn=lower, restore_signals=True)
        self.tail = b""
        self.traced = 0  # trace lines read

    def read_until(self, text):
        while text not in self.tail:
            ready, _, _ = select.select([self.proc.stdout], [], [], 20)
            chunk = os.read(self.proc.stdout.fileno(), 65536) if ready else b""
            if not chunk:
                return False
            self.traced += (self.tail[-4:] + chunk).count(b"\ttab(")
            self.tail = self.tail[-len(text):] + chunk
        return True

    def finish(self, sig=None):
        if sig is not None:
            self.proc.send_signal(sig)
        while self.read_until(b"\x01never"):
            pass
        status = self.proc.wait(timeout=60)
        self.err.close()
        return 128 - status if status < 0 else status


with tempfile.TemporaryDirectory(prefix="knotfit-stopped-") as work:
    os.makedirs(os.path.join(work, "kel/CS/plot"))
    names = ["s%04d" % k for k in range(1000)]  # some 400 are done when s0300 is read
    for name, text in (("first", points(LONG)), ("second", points(LONG, 3)),
                       ("small", points(100)), ("cube", "0 0 1 1 2 8 3 27 4 64 NAME cube\n"),
                       ("many", "".join(points(30, 0, n) for n in names)),
                       ("many2", "".join(points(30, 3, n) for n in names)),
                       ("few", "".join(points(30, 5, n) for n in names[:20]))):
        with open(os.path.join(work, name), "w") as f:
            f.write(text)
    check("first run", Started(work, ["first"]).finish(), 0)
    table, plot = both(work)

    # Frozen in the middle of the table (its trace fills the pipe), then ended.
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGPIPE, signal.SIGQUIT,
                signal.SIGUSR1, signal.SIGALRM, signal.SIGRTMIN + 2, signal.SIGKILL):
        run = Started(work, ["second"])
        what = signal.Signals(sig).name if sig < signal.SIGRTMIN else "SIGRTMIN+2"
        check("%s: frozen in the table" % what, run.read_until(b" writing : \n"), True)
        check("%s: status" % what, run.finish(sig), 128 + sig)
        check("%s: files" % what, both(work) == (table, plot), True)
        if sig != signal.SIGKILL:
            check("%s: temporary files" % what, temporaries(work), [])
    for name in hidden(work + "/kel/CS"):  # what SIGKILL left: never the table
        os.remove(os.path.join(work, "kel/CS", name))

    # The file size limit, as `ulimit -f` leaves it (SIGXFSZ ends the run), in
    # the table and in the plot file, whose table is complete by then.
    for limit in (100000, 6000):
        run = Started(work, ["second" if limit > 6000 else "small"],
                      [(resource.RLIMIT_FSIZE, limit)], signal.SIG_DFL)
        check("SIGXFSZ %d: status" % limit, run.finish(), 128 + signal.SIGXFSZ)
        check("SIGXFSZ %d: files" % limit, both(work) == (table, plot), True)
        check("SIGXFSZ %d: temporary files" % limit, temporaries(work), [])

    # A signal while the table is renamed comes once the plot file is too.
    strace = ["strace", "-o", "/dev/null", "-e", "trace=renameat,renameat2",
              "-e", "inject=renameat,renameat2:signal=SIGTERM:when=1"]
    if subprocess.run(strace[:3] + ["true"], stderr=subprocess.DEVNULL).returncode == 0:
        check("renamed: status", Started(work, ["small"], prefix=strace).finish(), 128 + signal.SIGTERM)
        check("renamed: table", len(read_file(work + "/kel/CS/big")), 4 + 100 * 20)
        check("renamed: plot", both(work)[1] != plot, True)
        check("renamed: run again", Started(work, ["first"]).finish(), 0)
        check("renamed: files again", both(work) == (table, plot), True)

    # A full disk (the file size limit) in the middle of the table.
    run = Started(work, ["second"], [(resource.RLIMIT_FSIZE, 100000)])
    check("full: status", run.finish(), 1)
    # The trace stops at the record whose write of the first MiB failed.
    check("full: trace lines", run.traced, -(-(2**20 - 4) // 20))
    check("full: table", read_file(work + "/kel/CS/big") == table, True)
    check("full: temporary files", temporaries(work), [])
    check("full: stderr", read_file(run.err_path).decode(),
          ">>>>> writing error\nknotfit: second:%d: data set 'big': cannot write "
          "'kel/CS/big': File too large; previous file kept\n"
          "knotfit: 0 data sets written, 1 skipped\n" % (LONG + 1))

    # Two runs on one name: the slow one is frozen in its table while the
    # other writes the same name; released, its rename comes last and wins.
    slow = Started(work, ["second"])
    check("race: frozen", slow.read_until(b" writing : \n"), True)
    check("race: other run", Started(work, ["small"]).finish(), 0)
    check("race: other table", len(read_file(work + "/kel/CS/big")), 4 + 100 * 20)
    check("race: slow run", slow.finish(), 0)
    second = read_file(work + "/kel/CS/big")
    check("race: the later rename's table, whole", len(second), 4 + LONG * 20)
    check("race: not the first run's", second != table, True)

    # Many small data sets, their files written ahead by the workers with
    # -j: stopped while the run waits for its standard output to be read, the
    # data sets up to some point have their new files, the others their old
    # ones, and no temporary file is left.
    check("many: first run", Started(work, ["many"]).finish(), 0)
    old = [both(work, n) for n in names]
    run = Started(work, ["many2"])
    check("many: frozen", run.read_until(b"NAME \t s0300\n"), True)
    check("many: status", run.finish(signal.SIGTERM), 128 + signal.SIGTERM)
    new = [both(work, n) for n in names]
    replaced = [a != b for a, b in zip(old, new)]
    done = replaced.index(False)
    check("many: a prefix replaced", (done >= 300, any(replaced[done:])), (True, False))
    check("many: pairs whole", all(a[0] != b[0] and a[1] != b[1] for a, b in
                                   zip(old[:done], new[:done])), True)
    check("many: temporary files", temporaries(work), [])

    # The file size limit stops each plot file: every data set says so in
    # turn, as with one thread, and keeps its new table.
    run = Started(work, ["few"], [(resource.RLIMIT_FSIZE, 6000)])
    check("few full: status", run.finish(), 1)
    check("few full: stderr", read_file(run.err_path).decode().splitlines(), [
        line for k, n in enumerate(names[:20]) for line in (
            ">>>>> writing error",
            "knotfit: few:%d: data set '%s': cannot write 'kel/CS/plot/%s': File too "
            "large; no plot file written, old plot file removed" % (31 * (k + 1), n, n))] +
        ["knotfit: 20 data sets written, 20 written without their plot files"])
    check("few full: tables new", [read_file(work + "/kel/CS/" + n) != o[0]
                                   for n, o in zip(names, old[:20])], [True] * 20)
    check("few full: temporary files", temporaries(work), [])

    # Frozen in its table while a directory takes the old plot's place: the
    # new plot cannot be renamed there, and the directory is not removed.
    run = Started(work, ["second"])
    check("plot dir: frozen", run.read_until(b" writing : \n"), True)
    os.remove(work + "/kel/CS/plot/big")
    os.mkdir(work + "/kel/CS/plot/big")
    check("plot dir: status", run.finish(), 1)
    check("plot dir: stderr", read_file(run.err_path).decode(),
          ">>>>> writing error\nknotfit: second:%d: data set 'big': cannot write "
          "'kel/CS/plot/big': Is a directory; no plot file written, old plot file NOT "
          "removed\nknotfit: 1 data set written, 1 written without its plot file\n" % (LONG + 1))
    check("plot dir: temporary files", hidden(work + "/kel/CS/plot"), [])
    os.rmdir(work + "/kel/CS/plot/big")

    # A replaced file keeps its mode, never set-user-ID, and (as root) its
    # owner and group; a new one gets 0666 less the umask.
    if os.geteuid() == 0:
        os.chown(work + "/kel/CS/big", 1000, 1001)
    os.chmod(work + "/kel/CS/big", 0o6750)
    check("mode: run", Started(work, ["small"]).finish(), 0)
    st = os.stat(work + "/kel/CS/big")
    check("mode: kept", st.st_mode & 0o7777, 0o750)
    if os.geteuid() == 0:
        check("mode: owner and group", (st.st_uid, st.st_gid), (1000, 1001))
    check("mode: new file", Started(work, ["cube"]).finish(), 0)
    umask = os.umask(0)
    os.umask(umask)
    check("mode: new", os.stat(work + "/kel/CS/cube").st_mode & 0o777, 0o666 & ~umask)
    if os.geteuid() != 0:  # root may write anything
        os.chmod(work + "/kel/CS/cube", 0o444)
        run = Started(work, ["cube"])
        check("read-only: status", run.finish(), 1)
        check("read-only: stderr", read_file(run.err_path).decode(),
              "knotfit: data set 'cube': 'kel/CS/cube' is a file you may not "
              "write; skipped\n")

    # Out of memory: a token of NUL bytes that never ends; a CSV line of
    # 300 MB (a sparse file) between rows, which is not the input's end; and
    # a table that cannot be created in CS itself (no descriptor left),
    # which ends the run. (The sanitizers need more address space and
    # descriptors than the limits leave: skipped there.)
    if "KNOTFIT_SANITIZED" not in os.environ:
        with open(os.path.join(work, "long.csv"), "wb") as f:
            f.write(b"0,0\n1,1\n2,")
            f.seek(300 << 20, os.SEEK_CUR)
            f.write(b"\n3,3\n4,4\n")
        for args in (["/dev/zero"], ["--csv", "long.csv"]):
            run = Started(work, args, [(resource.RLIMIT_AS, 128 << 20)])
            check("memory %s: status" % args, run.finish(), 255)
            check("memory %s: stderr" % args, read_file(run.err_path).decode(),
                  "knotfit: out of memory; run ended\n")
        run = Started(work, ["cube"], [(resource.RLIMIT_NOFILE, 6)])
        check("no descriptor: status", run.finish(), 255)
        check("no descriptor: stderr", read_file(run.err_path).decode(),
              "knotfit(SaveKEL) error opening file\n"
              "knotfit: cube:1: cannot create 'kel/CS/cube': Too many open files\n")


def progress(option, fifo=True):
    """What knotfit shows on a terminal as standard error, with a pause in
    the run: its input fed through a FIFO, standard output to a file; or
    (not fifo) a file of known size, standard output a pipe read late."""
    with tempfile.TemporaryDirectory(prefix="knotfit-progress-") as work:
        os.makedirs(os.path.join(work, "kel/CS/plot"))
        source = os.path.join(work, "input")

        def feed():
            with open(source, "w") as f:
                f.write(points(20000)[:-9])  # without its NAME line
                f.flush()
                time.sleep(1.3 if fifo else 0)
                f.write("".join("%d 1\n" % i for i in range(20000, 100000)) + "NAME p\n")
        if fifo:
            os.mkfifo(source)
        else:
            feed()
        feeder = threading.Thread(target=feed if fifo else lambda: time.sleep(1.3))
        feeder.start()
        terminal, other = pty.openpty()
        with open(os.path.join(work, "out"), "wb") as out:
            proc = subprocess.Popen([knotfit] + options + [option, "input"], cwd=work,
                                    env={"TROV_KEL": "kel"}, stdin=subprocess.DEVNULL,
                                    stdout=out if fifo else subprocess.PIPE, stderr=other)
        os.close(other)
        if not fifo:  # drained once the pause is over
            threading.Thread(target=lambda: (feeder.join(), proc.stdout.read())).start()
        shown = b""
        while select.select([terminal], [], [], 20)[0]:
            try:
                chunk = os.read(terminal, 4096)
            except OSError:  # the terminal's other end closed
                break
            if not chunk:
                break
            shown += chunk
        feeder.join()
        status = proc.wait(timeout=60)
        os.close(terminal)
        return status, shown.decode()


with ThreadPoolExecutor(3) as pool:  # each waits out a pause of its own
    (status, shown), quiet, known = pool.map(progress, ("-q", "--no-progress", "--method=pchip"),
                                             (True, True, False))
check("progress: status", status, 0)
check("progress: a line", shown.startswith("\rknotfit: ") and "MB read, 0 data sets written" in shown, True)
check("progress: cleared at the end", shown.endswith("\r\033[K"), True)
check("--no-progress", quiet, (0, ""))
check("progress of a known total", (known[0], "of 0.8 MB read (" in known[1]), (0, True))

print("\n".join(problems) or "ok")
sys.exit(1 if problems else 0)
