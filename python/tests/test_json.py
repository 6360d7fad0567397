"""etiquem --json: valid JSON Lines whose "text" fields make the plain
output and whose pieces are analyse()'s tokens."""

import json

import pytest

from conftest import SAMPLE_TEXT, run_program


def json_lines(d, data, *options):
    out = run_program(d.path, data, "--json", *options).stdout
    out.decode("utf-8")  # valid UTF-8 throughout
    return [json.loads(line) for line in out.splitlines()]


def as_tokens(d, data):
    """analyse()'s tokens as --json writes them (Latin-1 text as str)."""
    def reading(r):
        if r.pieces:
            line = {"pieces": [reading(p) for p in r.pieces]}
            if r.compound:
                line["compound"] = True
            return line
        return {"lemma": r.lemma, "tags": list(r.tags)}
    out = []
    for t in d.analyse(data):
        line = {"kind": t.kind, "start": t.start, "end": t.end,
                "surface": t.surface.decode("latin-1"),
                "text": t.text.decode("latin-1")}
        if t.kind == "reading":
            line["readings"] = [reading(r) for r in t.readings]
        out.append(line)
    return out


def test_sample(sample):
    data = SAMPLE_TEXT.encode("latin-1") * 2 + b"\x01\x00\"\\ end <![CDATA[open"
    lines = json_lines(sample, data)
    plain = run_program(sample.path, data).stdout
    assert "".join(l["text"] for l in lines).encode("latin-1") == plain
    assert lines == as_tokens(sample, data)


@pytest.mark.parametrize("options", [[], ["-m", "-s", "-a"]])
def test_catalan_corpus(catalan, catalan_text, options, tmp_path):
    unknown = tmp_path / "unknown.txt"
    lines = json_lines(catalan, catalan_text, *options, "-d", str(unknown))
    plain = tmp_path / "plain.txt"
    expected = run_program(catalan.path, catalan_text, *options, "-d",
                           str(plain)).stdout
    assert "".join(l["text"] for l in lines).encode("latin-1") == expected
    assert unknown.read_bytes() == plain.read_bytes()
    if not options:
        assert lines == as_tokens(catalan, catalan_text)


def test_utf8_corpus(catalan, catalan_text):
    """--json --utf8 on a UTF-8 transcoding, typographic apostrophes and
    characters beyond Latin-1 included: the surfaces are the input's bytes
    at the pieces' offsets, the texts make the plain output, and the pieces
    are analyse()'s tokens of the same text as str."""
    text = catalan_text.decode("latin-1").replace("'", "\u2019", 500)
    text = text.replace(" de ", " de \u2602 ", 200)
    data = text.encode("utf-8")
    lines = json_lines(catalan, data, "--utf8")
    plain = run_program(catalan.path, data, "--utf8").stdout
    assert "".join(l["text"] for l in lines).encode("utf-8") == plain
    for l in lines:
        assert data[l["start"]:l["end"]] == l["surface"].encode("utf-8")
    tokens = catalan.analyse(text)
    assert [(l["kind"], l["surface"], l["text"]) for l in lines] == [
        (t.kind, t.surface, t.text) for t in tokens]


def merged(lines):
    """Runs of plain lines joined: where such a run is cut depends on how
    the output was handed over, not on the input."""
    out = []
    for line in lines:
        last = out[-1] if out else None
        if (last is not None and line["kind"] == "plain" == last["kind"]
                and last["end"] == line["start"]):
            out[-1] = dict(last, end=line["end"],
                           surface=last["surface"] + line["surface"],
                           text=last["text"] + line["text"])
        else:
            out.append(line)
    return out


@pytest.mark.parametrize("options,utf8", [([], False),
                                          (["-m", "-s", "-a"], False),
                                          (["--utf8"], True)])
def test_file_in_pieces(catalan, catalan_text, options, utf8, tmp_path):
    """A file is analysed in pieces on several threads, its lines made while
    they run: the same pieces, readings and unknown words as one thread
    reading a pipe."""
    data = catalan_text
    if utf8:
        data = data.decode("latin-1").replace("'", "\u2019", 500).encode()
    path = tmp_path / "text"
    path.write_bytes(data)
    unknown_file = tmp_path / "unknown-file.txt"
    unknown_pipe = tmp_path / "unknown-pipe.txt"
    out = run_program(catalan.path, b"", "--json", *options, "-d",
                      str(unknown_file), "-f", str(path)).stdout
    from_file = [json.loads(line) for line in out.decode("utf-8").splitlines()]
    through_pipe = json_lines(catalan, data, *options, "-d", str(unknown_pipe))
    assert len(from_file) > 10000
    assert merged(from_file) == merged(through_pipe)
    assert unknown_file.read_bytes() == unknown_pipe.read_bytes()
