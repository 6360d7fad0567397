"""Ranges analysed apart and joined: whatever the ranges and windows, the
joined output and unknown words are the whole input's. Checked on the
module's own functions, and on the distributed runner's join loop run in
process (tasks run as they are submitted, no cluster), with ranges of a few
bytes so that joins fall inside words, multiword stretches and superblanks
and many ranges meet no common cut."""

import os
import random

import pytest

import etiquem
from etiquem import distributed as runner

from conftest import SAMPLE_TEXT, run_program

WORDS = ["la", "casa", "a causa de", "L'home", "dir-ho", "fer-lo", "Xyzzy",
         "VOSTÈ", "l·lus", "42", "pluja", ".", "«", "»", "\n", "\t", "  ",
         "<![CDATA[<b>]]>", "<![CDATA[ la casa ]] > ]]>", "<![CDATA[", "]]>",
         "d'", "anar", "va"]


def random_text(rng, length):
    parts = []
    while sum(map(len, parts)) < length:
        parts.append(rng.choice(WORDS))
        parts.append(rng.choice([" ", " ", "", "\n"]))
    return "".join(parts)


def whole(dictionary, data, **options):
    return dictionary.analyse_range(data, 0, 0, 1 << 62, 1 << 62, **options)


def test_two_ranges_join_into_the_whole(sample):
    data = (SAMPLE_TEXT * 40).encode("latin-1")
    expected = sample.annotate(data, mark_unknown=True)
    middle = len(data) // 2
    a = sample.analyse_range(data, 0, 0, middle, middle + 200, mark_unknown=True)
    b = sample.analyse_range(data[middle:], middle, middle + 200, 1 << 62,
                             1 << 62, mark_unknown=True)
    assert a.head_cuts[0] == etiquem.CleanCut(0, 0, 0)
    assert b.head_cuts[0] == etiquem.CleanCut(middle, 0, 0)
    assert not a.input_ended and b.input_ended and a.error is None
    earlier, later = etiquem.find_join(a.tail_cuts, b.head_cuts)
    assert earlier.offset == later.offset
    assert a.output[:earlier.output_bytes] + b.output[later.output_bytes:] == expected
    assert etiquem.find_join(a.tail_cuts, []) is None


def test_a_file_and_its_bytes_agree(sample, tmp_path):
    data = (SAMPLE_TEXT * 10).encode("utf-8")
    path = tmp_path / "text.txt"
    path.write_bytes(data)
    for at in range(len(data) // 3, len(data) // 3 + 8):
        begin = etiquem.range_start(str(path), len(data), at, utf8=True)
        assert begin == etiquem.range_start(data, len(data), at, utf8=True)
        assert begin - at < 4
        from_file = sample.analyse_range(path, begin, begin + 50, begin + 100,
                                         begin + 150, utf8=True)
        from_bytes = sample.analyse_range(data[begin:], begin, begin + 50,
                                          begin + 100, begin + 150, utf8=True)
        assert from_file == from_bytes
    with pytest.raises(FileNotFoundError):
        sample.analyse_range(tmp_path / "absent", 0, 0, 10, 10)


def test_dictionary_from_bytes(sample):
    with open(etiquem.SAMPLE_DICTIONARY, "rb") as f:
        shipped = etiquem.Dictionary("sample.bin", data=f.read())
    assert shipped.annotate(SAMPLE_TEXT) == sample.annotate(SAMPLE_TEXT)
    with pytest.raises(etiquem.Error) as raised:
        etiquem.Dictionary("broken.bin", data=b"\x01\x02broken")
    assert raised.value.status == 255 and "broken.bin" in raised.value.message


class _Future:
    def __init__(self, value):
        self.value = value

    def result(self):
        return self.value

    def cancel(self):
        pass


class InProcessClient:
    """Runs each task as it is submitted: the runner's joins without a
    cluster."""

    def submit(self, function, *arguments, **_):
        return _Future(function(*arguments))

    def scatter(self, data, **_):
        return data

    def scheduler_info(self):
        return {"workers": {}}


def test_the_runner_s_joins_write_the_whole(sample, tmp_path):
    rng = random.Random(7122026)
    client = InProcessClient()
    reruns = 0
    for case in range(60):
        utf8 = case % 3 == 0
        text = random_text(rng, rng.randrange(50, 1500))
        data = text.encode("utf-8" if utf8 else "latin-1")
        options = runner.Options(surface=rng.random() < 0.5,
                                 mark_unknown=rng.random() < 0.5,
                                 apostrophe_blank=rng.random() < 0.5, utf8=utf8)
        expected = whole(sample, data, unknown_words=True,
                         **{k: v for k, v in options.engine().items()
                            if k != "unknown_words"})
        source = tmp_path / "in.txt"
        source.write_bytes(data)
        output, unknown = tmp_path / "out.txt", tmp_path / "unknown.txt"
        if unknown.exists():
            unknown.unlink()
        report = runner.annotate_file(
            client, str(source), str(output), etiquem.SAMPLE_DICTIONARY,
            options, str(unknown), range_bytes=rng.randrange(1, 64),
            window_bytes=rng.randrange(1, 24), ship_dictionary=case % 5 == 0)
        assert output.read_bytes() == expected.output, (case, text)
        assert unknown.read_bytes() == expected.unknown_words, case
        reruns += report.reruns
        assert sorted(os.listdir(tmp_path)) == ["in.txt", "out.txt", "unknown.txt"]
    assert reruns > 0


def test_the_whole_is_the_program_s(sample):
    data = (SAMPLE_TEXT * 30).encode("latin-1")
    result = whole(sample, data, surface=True, mark_unknown=True,
                   unknown_words=True)
    assert result.output == run_program(etiquem.SAMPLE_DICTIONARY, data,
                                        "-s", "-m").stdout
    assert result.input_ended and result.tail_cuts == []
