"""Shared fixtures of the Python package's tests: the dictionaries, the
etiquem program to compare with, and the shared corpora (tests that need
them skip when ../shared is absent)."""

import os
import subprocess

import pytest

import etiquem

SRC = os.environ.get("ETIQUEM_SRC",
                     os.path.join(os.path.dirname(__file__), "..", ".."))
SHARED = os.environ.get("ETIQUEM_SHARED", os.path.join(SRC, "..", "shared"))
PROGRAM = os.environ.get("ETIQUEM_BIN", os.path.join(SRC, "build", "etiquem"))


def shared_file(*parts):
    path = os.path.join(SHARED, *parts)
    if not os.path.exists(path):
        pytest.skip(f"{path} is absent")
    return path


def run_program(dictionary_path, data, *options, check=True):
    """The etiquem program's standard output for `data` (bytes)."""
    if not os.path.exists(PROGRAM):
        pytest.skip(f"no etiquem program at {PROGRAM}")
    result = subprocess.run([PROGRAM, "-b", dictionary_path, *options],
                            input=data, capture_output=True)
    if check:
        assert result.returncode == 0, result.stderr
    return result


@pytest.fixture(scope="session")
def sample():
    return etiquem.Dictionary()


@pytest.fixture(scope="session")
def catalan():
    return etiquem.Dictionary(shared_file("lexicon", "ca.bin"))


@pytest.fixture(scope="session")
def catalan_text():
    """The first 600 KB of the Catalan corpus (Latin-1), cut at a line end,
    and 200 KB of it with superblanks."""
    with open(shared_file("corpus", "ca.txt"), "rb") as f:
        text = f.read(600_000)
    text = text[: text.rindex(b"\n") + 1]
    with open(shared_file("corpus", "ca-sb.txt"), "rb") as f:
        superblanks = f.read(200_000)
    return text + superblanks


SAMPLE_TEXT = ("L'home va a casa a causa de la pluja. Vaig dir-ho: «PER QUÈ "
               "no?» Xyzzy <![CDATA[<b>]]>casa<![CDATA[</b>]]> l·lus 42 "
               "fer-lo\tvostè, Vostès!\n")
