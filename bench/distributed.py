#!/usr/bin/python3
"""The distributed runner against the program, in the same run: wall time of
etiquem.distributed on a LocalCluster of 2 worker processes, of `etiquem -f
FILE` (its threads) and of `etiquem < pipe` (one thread), on about 1 GB of
Catalan text (the shared ca.txt and ca-sb.txt, repeated) built under /tmp and
removed at the end. The three outputs must be the same bytes.

    nice bench/distributed.py [--megabytes 1024] [--build build] [--shared ../shared]

Prints the times, their ratios, and the runner's report: bytes that
travelled between the client and the workers per MB of input, joins and the
client's time per join, time spent copying joined parts into the output.
"""

import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def build_input(shared, megabytes, path):
    pieces = []
    for name in ("ca.txt", "ca-sb.txt"):
        with open(os.path.join(shared, "corpus", name), "rb") as f:
            pieces.append(f.read())
    block = b"".join(pieces)
    with open(path, "wb") as f:
        written = 0
        while written < megabytes << 20:
            f.write(block)
            written += len(block)
    return written


def timed(command, **kwargs):
    """Runs `command`; returns its wall and CPU seconds (its processes'
    and their children's: the cluster's workers are the client's
    grandchildren) and the result."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.perf_counter()
    kwargs.setdefault("stdout", subprocess.DEVNULL)
    result = subprocess.run(command, stderr=subprocess.PIPE, **kwargs)
    seconds = time.perf_counter() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if result.returncode != 0:
        sys.exit(f"{command[0]} failed: {result.stderr.decode(errors='replace')}")
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return (seconds, cpu), result


def same(a, b):
    return subprocess.run(["cmp", "-s", a, b]).returncode == 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--megabytes", type=int, default=1024)
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    parser.add_argument("--shared", default=os.path.join(HERE, "..", "..", "shared"))
    parser.add_argument("--range-size", default="32M")
    arguments = parser.parse_args()
    program = os.path.join(arguments.build, "etiquem")
    dictionary = os.path.join(arguments.shared, "lexicon", "ca.bin")
    environment = dict(os.environ, PYTHONPATH=os.path.join(arguments.build, "python"))
    work = tempfile.mkdtemp(prefix="etiquem-bench-", dir="/tmp")
    source = os.path.join(work, "input.txt")
    load = os.getloadavg()[0]
    try:
        size = build_input(arguments.shared, arguments.megabytes, source)
        mb = size / 1e6
        print(f"input: {size:,} bytes (ca.txt + ca-sb.txt repeated)")
        threads_out = os.path.join(work, "threads.out")
        with open(threads_out, "wb") as out:
            threads, _ = timed([program, "-b", dictionary, "-f", source], stdout=out)
        cluster_out = os.path.join(work, "cluster.out")
        cluster, result = timed(
            ["/usr/bin/python3", "-m", "etiquem.distributed", "--workers", "2",
             "--range-size", arguments.range_size, "--report", "-b", dictionary,
             source, cluster_out], env=environment)
        report = dict(line.split(": ", 1) for line in
                      result.stderr.decode().splitlines() if ": " in line)
        assert same(threads_out, cluster_out), "the cluster's output differs"
        os.unlink(cluster_out)
        pipe_out = os.path.join(work, "pipe.out")
        with open(pipe_out, "wb") as out:
            pipe, _ = timed(["/bin/sh", "-c", f'cat "$1" | "$2" -b "$3"', "sh",
                             source, program, dictionary], stdout=out)
        assert same(threads_out, pipe_out), "the pipe's output differs"
        output_bytes = os.path.getsize(threads_out)
        print(f"output: {output_bytes:,} bytes, the same from all three")
        print(f"load average at the start: {load:.1f}")
        print("| run | wall s | CPU s | MB/s (wall) | wall x threads |")
        print("|---|---:|---:|---:|---:|")
        for name, (seconds, cpu) in (
                ("etiquem -f FILE (2 threads)", threads),
                ("etiquem < pipe (1 thread)", pipe),
                ("etiquem.distributed, LocalCluster 2 workers", cluster)):
            print(f"| {name} | {seconds:.2f} | {cpu:.2f} | {mb / seconds:.1f} | "
                  f"{seconds / threads[0]:.2f} |")
        joins = int(report["joins"])
        print(f"runner: {report['tasks']} tasks, {joins} joins, "
              f"{report['reruns']} ranges analysed again, "
              f"{float(report['seconds']):.2f} s inside the run (the rest: "
              f"starting the cluster and the workers, loading)")
        moved = int(report["bytes_to_workers"]) + int(report["bytes_from_workers"])
        print(f"between client and workers: {report['bytes_to_workers']} bytes "
              f"out, {report['bytes_from_workers']} back: "
              f"{moved / mb:.0f} bytes per MB of input")
        print(f"client per join: {1e3 * float(report['join_seconds']) / max(joins, 1):.2f} ms "
              f"deciding; copying parts into the output: "
              f"{float(report['copy_seconds']):.2f} s in all "
              f"({output_bytes / 1e6 / max(float(report['copy_seconds']), 1e-9):.0f} MB/s)")
    finally:
        for name in os.listdir(work):
            os.unlink(os.path.join(work, name))
        os.rmdir(work)


if __name__ == "__main__":
    main()
