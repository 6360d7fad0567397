"""analyse() and analyse_iter(): tokens that slice back to their surfaces
and tile the input, whose written texts join into annotate()'s output, and
whose readings are the dictionary's entries; the same tokens from a stream
of chunks and from threads sharing one Dictionary."""

import os
import random
import threading

import pytest

from conftest import SAMPLE_TEXT, SRC

import etiquem


def check_tokens(d, text, tokens):
    """Every token slices back to its surface; the tokens tile the text (a
    superblank inside a stretch follows it); their written texts join into
    the annotated text."""
    at = 0
    stretch_end = 0
    for t in tokens:
        assert text[t.start:t.end] == t.surface, t
        if t.kind == "superblank" and t.end <= stretch_end:
            continue
        assert t.start == at, t
        at = t.end
        if t.kind in ("reading", "unknown"):
            stretch_end = t.end
        if t.kind == "plain":
            assert t.text == t.surface and t.readings == ()
        assert (t.kind == "reading") == bool(t.readings), t
    assert at == len(text)
    empty = text[:0]
    assert empty.join(t.text for t in tokens) == d.annotate(text)


def test_sample_bytes(sample):
    data = SAMPLE_TEXT.encode("latin-1")
    tokens = sample.analyse(data)
    check_tokens(sample, data, tokens)
    kinds = {t.kind for t in tokens}
    assert kinds == {"reading", "unknown", "plain", "superblank"}
    by_surface = {t.surface: t for t in tokens}
    home = by_surface[b"home"].readings
    assert [(r.lemma, r.tags) for r in home] == [("home", ("n", "m", "sg"))]
    # Capitals as the output writes them; lemmas are str whatever the input.
    assert by_surface[b"QU\xc8"].readings[0].lemma == "QU\u00c8"
    # A compound reading: its pieces, each a lemma with tags.
    verb_and_clitic = by_surface[b"fer-lo"].readings
    assert [(p.lemma, p.tags) for p in verb_and_clitic[-1].pieces] == [
        ("fer", ("vblex", "inf")), ("el", ("prn", "enc", "p3", "m", "sg"))]
    assert verb_and_clitic[-1].lemma == "" and verb_and_clitic[-1].tags == ()


def test_ascii_str_offsets_count_characters(sample):
    text = "la casa a causa de <![CDATA[x]]>la pluja.\n"
    tokens = sample.analyse(text)
    check_tokens(sample, text, tokens)
    assert all(isinstance(t.surface, str) for t in tokens)


def test_catalan_corpus(catalan, catalan_text):
    tokens = catalan.analyse(catalan_text)
    check_tokens(catalan, catalan_text, tokens)
    assert sum(t.kind == "reading" for t in tokens) > 50_000
    assert any(t.kind == "superblank" for t in tokens)


def lexicon_entries(path):
    """surface -> (complete readings, compound pieces, has an unknown-word
    entry), from a lexicon in the format of data/mostra.dic."""

    def fields(line):
        out, field, i = [], "", 0
        while i < len(line):
            c = line[i]
            if c == "\\" and i + 1 < len(line):
                field += "\t" if line[i + 1] == "t" else "\\" + line[i + 1]
                i += 2
                continue
            if c == "\t":
                out.append(field)
                field = ""
            else:
                field += c
            i += 1
        return out + [field]

    def unescape(s):
        return "".join(s[i + 1] if s[i] == "\\" else s[i]
                       for i in range(len(s))
                       if not (i > 0 and s[i - 1] == "\\" and
                               (i < 2 or s[i - 2] != "\\")))

    def lexical(form):
        """A reading: (lemma, tags, pieces) as Reading gives it; a joined
        form ("a<pr>+el<det>...") is its pieces."""
        groups, lemma, tags, i = [], "", [], 0
        while i < len(form):
            if form[i] == "\\":
                lemma += form[i + 1]
                i += 2
            elif form[i] == "<":
                j = form.index(">", i)
                tags.append(form[i + 1:j])
                i = j + 1
            else:
                if tags:
                    groups.append((lemma, tuple(tags), ()))
                    lemma, tags = "", []
                    if form[i] == "+":
                        i += 1
                        continue
                lemma += form[i]
                i += 1
        groups.append((lemma, tuple(tags), ()))
        return groups[0] if len(groups) == 1 else ("", (), tuple(groups))

    entries = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#") or line.startswith("@"):
                continue
            surface, form, *kind = fields(line)
            complete, pieces, unknown = entries.setdefault(
                unescape(surface), ([], [], [False]))
            kind = kind[0] if kind else "completa"
            if kind == "desconeguda":
                unknown[0] = True
            elif kind == "parcial":
                pieces.append(lexical(form))
            else:
                complete.append(lexical(form))
    return entries


def test_readings_are_the_lexicon_entries(sample):
    """Every surface form of the sample lexicon, analysed alone, is one
    token whose readings are its entries, in order."""
    entries = lexicon_entries(os.path.join(SRC, "data", "mostra.dic"))
    assert len(entries) > 1000
    checked = 0
    for surface, (complete, pieces, unknown) in entries.items():
        if unknown[0] or not (complete or pieces):
            continue
        data = surface.encode("latin-1")
        tokens = sample.analyse(data)
        assert [t.kind for t in tokens] == ["reading"], surface
        readings = tokens[0].readings

        def plain(r):
            return (r.lemma, r.tags, tuple(plain(p) for p in r.pieces))

        assert [plain(r) for r in readings if not r.compound] == complete, \
            surface
        compound = [r for r in readings if r.compound]
        assert [plain(p) for r in compound for p in r.pieces] == [
            p for piece in pieces for p in (piece[2] or [piece])], surface
        checked += 1
    assert checked > 1000


def chunked(data, rng):
    """`data` cut at random places (inside words and superblanks too)."""
    chunks, i = [], 0
    while i < len(data):
        n = rng.choice([1, 2, 7, 64, 1000, 70_000])
        chunks.append(data[i:i + n])
        i += n
    return chunks


def test_stream_gives_the_tokens_of_the_whole(sample):
    rng = random.Random(19)
    data = (SAMPLE_TEXT.encode("latin-1") + b"a causa\nde la <![CDATA[ x ") * 50
    expected = sample.analyse(data)
    for _ in range(5):
        assert list(sample.analyse_iter(chunked(data, rng))) == expected
    lines = SAMPLE_TEXT.encode("latin-1").splitlines(keepends=True) * 20
    assert list(sample.analyse_iter(lines)) == sample.analyse(b"".join(lines))
    assert list(sample.analyse_iter([])) == []
    text = "la casa a causa de la pluja.\n" * 100
    assert list(sample.analyse_iter(chunked(text, rng))) == sample.analyse(text)


def test_stream_of_the_corpus(catalan, catalan_text):
    rng = random.Random(7)
    assert (list(catalan.analyse_iter(chunked(catalan_text, rng))) ==
            catalan.analyse(catalan_text))


def test_stream_refuses_mixed_chunks_and_stops_early(sample):
    with pytest.raises(TypeError):
        list(sample.analyse_iter([b"la casa", "la casa"]))
    stream = sample.analyse_iter([b"la casa "] * 100_000)
    first = [next(stream) for _ in range(10)]
    stream.close()  # the worker is stopped and joined
    assert first[0].surface == b"la"


def test_threads_share_one_dictionary(sample):
    texts = [(SAMPLE_TEXT * (10 + i)).encode("latin-1") for i in range(4)]
    texts += [SAMPLE_TEXT.encode("ascii", "replace").decode() * 7]
    expected = [(sample.analyse(t), sample.annotate(t)) for t in texts]
    results = [None] * len(texts)

    def work(i):
        results[i] = [(sample.analyse(texts[i]), sample.annotate(texts[i]))
                      for _ in range(5)]

    threads = [threading.Thread(target=work, args=(i,))
               for i in range(len(texts))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for i, runs in enumerate(results):
        assert all(run == expected[i] for run in runs)


def engine_reads_utf8(d):
    """Whether the engine implements UTF-8 mode: a word with a non-ASCII
    letter, given as str, is then read as one word."""
    return [t.kind for t in d.analyse("vost\u00e8")] == ["reading"]


def test_non_ascii_str(sample):
    if not engine_reads_utf8(sample):
        pytest.skip("the engine's UTF-8 mode (Options::utf8) is not there yet: "
                    "str input is checked with ASCII text only")
    text = SAMPLE_TEXT * 3
    tokens = sample.analyse(text)
    check_tokens(sample, text, tokens)
    # The same readings as the Latin-1 bytes of the same text.
    latin1 = sample.analyse(text.encode("latin-1"))
    assert [(t.kind, t.start, t.end, t.readings) for t in tokens] == [
        (t.kind, t.start, t.end, t.readings) for t in latin1]
    assert sample.annotate(text) == sample.annotate(
        text.encode("latin-1")).decode("latin-1")
    assert list(sample.analyse_iter(text.splitlines(keepends=True))) == tokens
