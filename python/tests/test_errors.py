"""Failures come back as etiquem.Error, with the program's message and exit
status."""

import os

import pytest

from conftest import run_program

import etiquem


def program_failure(path):
    result = run_program(path, b"", check=False)
    return result.returncode, result.stderr.decode("latin-1").rstrip("\n")


def test_missing_dictionary(tmp_path):
    path = str(tmp_path / "absent.bin")
    with pytest.raises(etiquem.Error) as caught:
        etiquem.Dictionary(path)
    assert (caught.value.status, caught.value.message) == program_failure(path)
    assert caught.value.status == 255
    assert str(caught.value) == caught.value.message


@pytest.mark.parametrize("cut", [0, 1, 7, 100, None])
def test_broken_dictionary(tmp_path, sample, cut):
    with open(sample.path, "rb") as f:
        data = f.read()
    path = str(tmp_path / "broken.bin")
    with open(path, "wb") as f:
        f.write(data[:cut] if cut is not None else b"not a dictionary\n" * 9)
    with pytest.raises(etiquem.Error) as caught:
        etiquem.Dictionary(path)
    assert (caught.value.status, caught.value.message) == program_failure(path)


def test_path_like_and_repr(sample, tmp_path):
    import pathlib
    d = etiquem.Dictionary(pathlib.Path(sample.path))
    assert d.path == sample.path
    assert repr(d) == f"etiquem.Dictionary({sample.path!r})"
    assert os.path.exists(etiquem.SAMPLE_DICTIONARY)
