"""annotate() against the etiquem program: the same bytes for the same
input and options, on the sample dictionary and the shared corpora."""

import itertools

import pytest

from conftest import SAMPLE_TEXT, run_program, shared_file

import etiquem

OPTIONS = list(itertools.product([False, True], repeat=3))


def flags(surface, mark_unknown, apostrophe_blank):
    return [f for f, on in (("-s", surface), ("-m", mark_unknown),
                            ("-a", apostrophe_blank)) if on]


@pytest.mark.parametrize("surface,mark_unknown,apostrophe_blank", OPTIONS)
def test_sample_bytes_as_the_program(sample, surface, mark_unknown,
                                     apostrophe_blank):
    data = SAMPLE_TEXT.encode("latin-1") * 3
    expected = run_program(sample.path, data,
                           *flags(surface, mark_unknown, apostrophe_blank)).stdout
    got = sample.annotate(data, surface=surface, mark_unknown=mark_unknown,
                          apostrophe_blank=apostrophe_blank)
    assert isinstance(got, bytes)
    assert got == expected


@pytest.mark.parametrize("surface,mark_unknown,apostrophe_blank",
                         [(False, False, False), (True, True, True)])
def test_catalan_corpus_as_the_program(catalan, catalan_text, surface,
                                       mark_unknown, apostrophe_blank):
    expected = run_program(catalan.path, catalan_text,
                           *flags(surface, mark_unknown, apostrophe_blank)).stdout
    assert catalan.annotate(catalan_text, surface=surface,
                            mark_unknown=mark_unknown,
                            apostrophe_blank=apostrophe_blank) == expected


def test_spanish_corpus_as_the_program():
    spanish = etiquem.Dictionary(shared_file("lexicon", "es.bin"))
    with open(shared_file("corpus", "es.txt"), "rb") as f:
        text = f.read(400_000)
    assert spanish.annotate(text) == run_program(spanish.path, text).stdout


def test_ascii_str_gives_str(sample):
    text = "la casa a causa de la pluja\n"
    got = sample.annotate(text)
    assert isinstance(got, str)
    expected = run_program(sample.path, text.encode()).stdout
    assert got.encode("utf-8", "surrogateescape") == expected


def test_any_buffer_is_bytes(sample):
    data = b"la casa\n"
    assert sample.annotate(bytearray(data)) == sample.annotate(data)
    assert sample.annotate(memoryview(data)) == sample.annotate(data)
    with pytest.raises(TypeError):
        sample.annotate(42)


def test_empty_text(sample):
    assert sample.annotate(b"") == b""
    assert sample.annotate("") == ""
    assert sample.analyse("") == []
