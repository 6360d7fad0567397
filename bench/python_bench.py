#!/usr/bin/python3
"""Speed of the Python package against the etiquem program, on ca.txt.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [--runs N]

Measures, best of N runs each (wall clock, and CPU time beside it: on a
shared machine the CPU column is the steadier one):
- the program: `etiquem -b ca.bin -f ca.txt` (a regular file: analysed in
  pieces on every processor), the same through a pipe (one thread), and
  `--json` from the file; output to a file on /dev/shm;
- d.annotate(data) on the whole of ca.txt (bytes, Latin-1);
- d.analyse(data) on its distinct first part (6.4 MB; all of ca.txt as
  tokens would take gigabytes), in tokens per second;
- d.analyse_iter over the lines of all of ca.txt.
Ratios: annotate's time to the program's (file and pipe), --json's to the
plain output's from the file.
"""

import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SRC = os.path.dirname(HERE)
SHARED = os.path.join(SRC, "..", "shared")
DISTINCT = 6_435_355  # bytes of ca.txt before it repeats itself


def cpu_self():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime


def cpu_children():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def best(runs, fn):
    """(wall s, CPU s) of the fastest of `runs` calls, and fn's result."""
    results = []
    value = None
    for _ in range(runs):
        c0, t0 = cpu_self() + cpu_children(), time.perf_counter()
        value = fn()
        t1, c1 = time.perf_counter(), cpu_self() + cpu_children()
        results.append((t1 - t0, c1 - c0))
    return min(results), value


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--program", default=os.path.join(SRC, "build", "etiquem"))
    args = parser.parse_args()
    corpus = os.path.join(SHARED, "corpus", "ca.txt")
    lexicon = os.path.join(SHARED, "lexicon", "ca.bin")
    if not (os.path.exists(corpus) and os.path.exists(lexicon)):
        print(f"skipped: {corpus} or {lexicon} is absent")
        return 0
    import etiquem
    out_dir = "/dev/shm" if os.path.isdir("/dev/shm") else tempfile.gettempdir()
    out = os.path.join(out_dir, "etiquem-python-bench.out")
    with open(corpus, "rb") as f:
        data = f.read()
    words = len(data.split())

    def program(*options, pipe=False):
        with open(out, "wb") as sink:
            if pipe:
                p = subprocess.Popen(["cat", corpus], stdout=subprocess.PIPE)
                subprocess.run([args.program, "-b", lexicon, *options],
                               stdin=p.stdout, stdout=sink, check=True)
                p.stdout.close()
                p.wait()
            else:
                subprocess.run([args.program, "-b", lexicon, "-f", corpus,
                                *options], stdout=sink, check=True)

    rows = []
    (file_s, file_cpu), _ = best(args.runs, lambda: program())
    rows.append(("etiquem -f ca.txt", file_s, file_cpu, words / file_s, ""))
    (pipe_s, pipe_cpu), _ = best(args.runs, lambda: program(pipe=True))
    rows.append(("etiquem < pipe", pipe_s, pipe_cpu, words / pipe_s, ""))
    (json_s, json_cpu), _ = best(args.runs, lambda: program("--json"))
    rows.append(("etiquem --json -f ca.txt", json_s, json_cpu, words / json_s,
                 f"{json_s / file_s:.2f}x plain (file), "
                 f"{json_s / pipe_s:.2f}x plain (pipe)"))

    d = etiquem.Dictionary(lexicon)
    (ann_s, ann_cpu), annotated = best(args.runs, lambda: d.annotate(data))
    rows.append(("d.annotate(ca.txt)", ann_s, ann_cpu, words / ann_s,
                 f"{ann_s / file_s:.2f}x program (file), "
                 f"{ann_s / pipe_s:.2f}x program (pipe)"))
    del annotated

    part = data[:DISTINCT]
    (an_s, an_cpu), tokens = best(args.runs, lambda: d.analyse(part))
    count = len(tokens)
    del tokens
    rows.append((f"d.analyse(first {DISTINCT / 1e6:.1f} MB)", an_s, an_cpu,
                 len(part.split()) / an_s,
                 f"{count:,} tokens, {count / an_s / 1e6:.2f} M tokens/s"))

    def stream():
        with open(corpus, "rb") as f:
            n = 0
            for _ in d.analyse_iter(f):
                n += 1
            return n
    (it_s, it_cpu), count = best(1, stream)
    rows.append(("d.analyse_iter(lines of ca.txt)", it_s, it_cpu, words / it_s,
                 f"{count:,} tokens, {count / it_s / 1e6:.2f} M tokens/s"))

    load = os.getloadavg()[0]
    print(f"ca.txt: {len(data):,} bytes, {words:,} words; best of {args.runs}; "
          f"load average {load:.1f}")
    print(f"| what | wall s | CPU s | words/s | notes |")
    print(f"|---|---:|---:|---:|---|")
    for name, wall, cpu, wps, note in rows:
        print(f"| {name} | {wall:.2f} | {cpu:.2f} | {wps:,.0f} | {note} |")
    os.unlink(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
