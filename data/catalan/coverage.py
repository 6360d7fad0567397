#!/usr/bin/python3
"""Coverage of a dictionary on Catalan running text, as etiquem reads it.

Usage: coverage.py ETIQUEM DICTIONARY.bin CORPUS [BYTES [LITERATURE_BYTES]]
                   [--unread FILE] [--top N]

The corpus (Latin-1) is cut into chunks: maximal runs of letters, digits,
middle dots, apostrophes and hyphens. Each distinct chunk is given to
`etiquem -s -m` on a line of its own, and the output is split back into
stretches (analysed, unknown, or characters written as themselves). A word
token is a run of letters (digits and middle dots may be inside) within a
chunk; it counts as read when one analysed stretch covers it whole, so a
word cut into known pieces ("vell" + "et") or read as unknown is unread,
while "l'home" (l' + home) and "donar-li" (donar + -li) are two words read.

Prints the share of word tokens read in the first BYTES bytes (default: the
6,435,355 distinct bytes of ca.txt), in its first LITERATURE_BYTES (default
1,438,513: the literature before the documentation) and in the rest, and
the share of all tokens taken by the N most frequent unread words (default
1000), which --unread writes out with their counts.
"""

import collections
import re
import subprocess
import sys

CHUNK = re.compile(r"[\w·'\-]+")
WORD = re.compile(r"[^\W_]+(?:·[^\W_]+)*")


def stretches(chunk, line):
    """(start, end, analysed) for each stretch of `line`, the -s -m output
    of `chunk`. A surface is followed by '/' and either <d>...</d> or
    readings, each with a tag ('&') and ending in '/'; characters written as
    themselves stick to the next surface, which is harmless: they are never
    letters (the guesser takes every letter)."""
    segments = line.split("/")
    spans = []
    i = k = 0
    while k < len(segments) and i < len(chunk):
        seg = segments[k]
        if k == len(segments) - 1 or not chunk.startswith(seg, i):
            break  # trailing characters written as themselves
        end = i + len(seg)
        k += 1
        if segments[k].startswith("<d>") and k + 1 < len(segments):
            # "<d>form</d>": its '/' splits it, and what follows "d>" is
            # the next surface.
            spans.append((i, end, False))
            segments[k + 1] = segments[k + 1][2:]
            k += 1
        else:
            while k < len(segments) and "&" in segments[k]:
                k += 1
            spans.append((i, end, True))
        i = end
    return spans


def read_words(chunk, line):
    """The (start, end, read) of the words of `chunk`."""
    spans = stretches(chunk, line)
    words = []
    for m in WORD.finditer(chunk):
        ok = any(a and s <= m.start() and m.end() <= e for s, e, a in spans)
        words.append((m.group(), ok))
    return words


def main(argv):
    args, opts = [], {}
    rest = argv[1:]
    while rest:
        if rest[0].startswith("--") and len(rest) > 1:
            opts[rest[0]] = rest[1]
            rest = rest[2:]
        else:
            args.append(rest.pop(0))
    etiquem, binary, corpus = args[:3]
    size = int(args[3]) if len(args) > 3 else 6435355
    literature = int(args[4]) if len(args) > 4 else 1438513
    top = int(opts.get("--top", "1000"))
    with open(corpus, "rb") as f:
        data = f.read(size).decode("latin-1")
    cut = len(data[:literature])
    chunks = [(m.start(), m.group()) for m in CHUNK.finditer(data)]
    distinct = sorted(set(c for _, c in chunks))
    out = subprocess.run(
        [etiquem, "-s", "-m", "-b", binary],
        input="\n".join(distinct).encode("latin-1") + b"\n",
        stdout=subprocess.PIPE, check=True).stdout.decode("latin-1")
    lines = out.split("\n")
    reading = {c: read_words(c, lines[n]) for n, c in enumerate(distinct)}
    total = [0, 0, 0]
    read = [0, 0, 0]
    unread = collections.Counter()
    for start, c in chunks:
        part = 1 if start < cut else 2
        for word, ok in reading[c]:
            if not any(ch.isalpha() for ch in word):
                continue
            for p in (0, part):
                total[p] += 1
                read[p] += ok
            if not ok:
                unread[word] += 1
    names = ["all %d bytes" % size, "literature (first %d bytes)" % cut,
             "documentation (the rest)"]
    for p, name in enumerate(names):
        print("%-34s %8d word tokens, %6.2f %% read" %
              (name, total[p], 100.0 * read[p] / max(total[p], 1)))
    most = unread.most_common(top)
    share = sum(n for _, n in most)
    print("%d most frequent unread words: %d tokens, %.2f %% of all tokens"
          " (%d distinct unread words, %d tokens)" %
          (len(most), share, 100.0 * share / max(total[0], 1), len(unread),
           sum(unread.values())))
    if "--unread" in opts:
        with open(opts["--unread"], "w", encoding="utf-8") as f:
            for w, n in most:
                f.write("%d\t%s\n" % (n, w))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
