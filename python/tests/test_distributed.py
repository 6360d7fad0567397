"""The distributed runner against the etiquem program, on a real Dask
cluster: two worker processes on 127.0.0.1, nothing else on the network.

One invariant throughout: whatever the ranges, the joins, the analyses done
again and the workers lost, the output and the unknown-words file are byte
for byte what the program writes for the whole input. Ranges of 64 KiB make
dozens of joins per file; superblanks are put over range boundaries and made
longer than several ranges, where no common cut can be found."""

import os
import signal
import subprocess
import sys
import threading

import pytest

from conftest import PROGRAM, run_program, shared_file

distributed = pytest.importorskip("distributed")
dask = pytest.importorskip("dask")

from etiquem import distributed as runner  # noqa: E402

RANGE = 64 << 10
SLICE = 2 << 20


@pytest.fixture(scope="module")
def dask_scratch(tmp_path_factory):
    """Dask's worker space in pytest's temporary directory rather than a
    dask-worker-space left in /tmp: for the clusters made here (Dask's
    configuration) and for those of the commands run (the environment)."""
    directory = str(tmp_path_factory.mktemp("dask"))
    saved = os.environ.get("DASK_TEMPORARY_DIRECTORY")
    os.environ["DASK_TEMPORARY_DIRECTORY"] = directory
    try:
        with dask.config.set({"temporary-directory": directory}):
            yield directory
    finally:
        if saved is None:
            del os.environ["DASK_TEMPORARY_DIRECTORY"]
        else:
            os.environ["DASK_TEMPORARY_DIRECTORY"] = saved


@pytest.fixture(scope="module")
def client(dask_scratch):
    cluster = runner.local_cluster(2)
    with distributed.Client(cluster) as c:
        yield c
    cluster.close()


def corpus_slice(name, size=SLICE):
    """The first `size` bytes of a shared corpus, cut at a line end."""
    with open(shared_file("corpus", name), "rb") as f:
        text = f.read(size)
    return text[: text.rindex(b"\n") + 1]


def program_outputs(dictionary, data, options, tmp_path):
    """The program's output, unknown-words file and warnings for `data`."""
    unknown = tmp_path / "program-unknown.txt"
    if unknown.exists():
        unknown.unlink()
    result = run_program(dictionary, data, *options, "-d", str(unknown))
    return (result.stdout, unknown.read_bytes() if unknown.exists() else b"",
            result.stderr)


def warning_of(report):
    """The warning the runner prints for `report`, as the program does."""
    if report.invalid_utf8 == 0:
        return b""
    line = runner.etiquem._etiquem._invalid_utf8_warning(
        report.invalid_utf8, report.first_invalid_utf8)
    return (line + "\n").encode("latin-1")


def runner_options(flags):
    return runner.Options(surface="-s" in flags, mark_unknown="-m" in flags,
                          apostrophe_blank="-a" in flags, utf8="--utf8" in flags)


def run_file(client, dictionary, data, flags, tmp_path, **kwargs):
    """The runner's output and unknown-words file for `data`, and its
    report."""
    source = tmp_path / "input.txt"
    source.write_bytes(data)
    output = tmp_path / "output.txt"
    unknown = tmp_path / "runner-unknown.txt"
    for stale in (output, unknown):
        if stale.exists():
            stale.unlink()
    report = runner.annotate_file(client, str(source), str(output), dictionary,
                                  runner_options(flags), str(unknown),
                                  range_bytes=kwargs.pop("range_bytes", RANGE),
                                  **kwargs)
    left = [p.name for p in tmp_path.iterdir() if p.name.startswith(".")]
    assert left == [], f"temporary files left: {left}"
    return output.read_bytes(), unknown.read_bytes(), report


def assert_same(client, dictionary, data, flags, tmp_path, **kwargs):
    expected, expected_unknown, warnings = program_outputs(dictionary, data,
                                                           flags, tmp_path)
    output, unknown, report = run_file(client, dictionary, data, flags,
                                       tmp_path, **kwargs)
    assert len(output) == len(expected)
    assert output == expected
    assert unknown == expected_unknown
    assert warning_of(report) == warnings
    report.unknown_bytes = len(unknown)
    return report


def lexicon(name):
    """A shared lexicon; or the build's own dictionaries, which read the
    words they do not hold as unknown (so -d has words to write)."""
    if name == "sample":
        return runner.etiquem.SAMPLE_DICTIONARY
    if name == "default":
        path = os.path.join(os.path.dirname(PROGRAM), "share", "etiquem",
                            "default.bin")
        if not os.path.exists(path):
            pytest.skip(f"{path} is absent")
        return path
    return shared_file("lexicon", name)


CASES = [
    ("ca.txt", "ca.bin", []),
    ("ca.txt", "default", ["-s", "-m", "-a"]),
    ("ca-sb.txt", "ca.bin", ["-m"]),
    ("ca-sb.txt", "default", ["-s", "-a"]),
    ("es.txt", "es.bin", ["-s", "-m"]),
    ("es.txt", "sample", ["-m"]),
]


@pytest.mark.parametrize("corpus,name,flags", CASES)
def test_corpus_is_the_program_s_bytes(client, tmp_path, corpus, name, flags):
    data = corpus_slice(corpus)
    report = assert_same(client, lexicon(name), data, flags, tmp_path)
    assert report.joins + report.reruns >= len(data) // RANGE - 1
    assert report.output_bytes > len(data)
    if name in ("default", "sample"):
        assert report.unknown_bytes > 0


def with_superblanks(text):
    """`text` with superblanks laid over range boundaries (starting just
    before one, ending just after), one longer than three ranges with
    words and near-delimiters inside, and one left open at the end."""
    pieces = []
    at = 0
    boundary = RANGE
    kinds = 0
    while boundary < len(text):
        begin = boundary - 40 - 97 * kinds % 300
        pieces.append(text[at:begin])
        if kinds == 3:
            filler = b"casa ]] > <![CDATA[ la ]]] " * (4 * RANGE // 27)
            pieces.append(b"<![CDATA[" + filler + b"]]>")
        else:
            pieces.append(b"<![CDATA[<b class='x'>" + b"a" * (kinds * 50) + b"]]>")
        at = begin
        boundary += RANGE
        kinds += 1
    pieces.append(text[at:])
    pieces.append(b" la casa <![CDATA[ open to the end")
    return b"".join(pieces)


def test_superblanks_over_boundaries(client, tmp_path):
    dictionary = lexicon("default")
    data = with_superblanks(corpus_slice("ca-sb.txt", 1 << 20))
    for flags in ([], ["-s", "-m"]):
        report = assert_same(client, dictionary, data, flags, tmp_path)
        assert report.reruns > 0
    # Windows of a few bytes: most ranges meet no common cut.
    report = assert_same(client, dictionary, data[: 6 * RANGE], ["-a"], tmp_path,
                         window_bytes=3)
    assert report.reruns > 0


INVALID_UTF8 = [b"\xff la \xc3 casa \xe2\x82", b"\x80\x80\x80\x80\x80",
                b"\xf0\x9f\x98", b"\xed\xa0\x80", b"\xc0\xaf", b"\xfe"]


def utf8_text(text):
    """A Latin-1 text as UTF-8, with invalid sequences in it: some inside
    lines, some right where ranges of RANGE + 1 bytes nominally start."""
    converted = text.decode("latin-1").encode("utf-8")
    cuts = [len(converted) // 3, 2 * len(converted) // 3]
    cuts += [k * (RANGE + 1) for k in range(1, len(converted) // (RANGE + 1),
                                            5)]
    out, at = [], 0
    for k, cut in enumerate(sorted(cuts)):
        while cut < len(converted) and 0x80 <= converted[cut] < 0xC0:
            cut += 1  # not inside a character of the text
        out += [converted[at:cut], INVALID_UTF8[k % len(INVALID_UTF8)]]
        at = cut
    return b"".join(out + [converted[at:]])


@pytest.mark.parametrize("corpus,flags", [("ca.txt", ["-s", "-m"]),
                                          ("ca-sb.txt", ["-a"])])
def test_utf8(client, tmp_path, corpus, flags):
    dictionary = lexicon("default")
    data = utf8_text(corpus_slice(corpus))
    # Ranges whose nominal starts fall inside characters of two bytes.
    assert_same(client, dictionary, data, ["--utf8", *flags], tmp_path,
                range_bytes=RANGE + 1)


def test_dictionary_shipped_as_bytes(client, tmp_path):
    dictionary = shared_file("lexicon", "es.bin")
    data = corpus_slice("es.txt", 1 << 19)
    report = assert_same(client, dictionary, data, ["-m"], tmp_path,
                         ship_dictionary=True)
    assert report.bytes_to_workers > os.path.getsize(dictionary)


def test_a_worker_killed_mid_run(client, tmp_path):
    """A worker process killed by its pid while the run goes on: Dask runs
    its tasks again elsewhere, and the output is whole."""
    dictionary = lexicon("default")
    data = corpus_slice("ca.txt", 3 << 20)
    pids = sorted(client.run(os.getpid).values())
    killed = []

    def kill_once(done, total):
        if not killed and done >= 4 * RANGE:
            os.kill(pids[0], signal.SIGKILL)
            killed.append(pids[0])

    assert_same(client, dictionary, data, ["-s"], tmp_path, progress=kill_once)
    assert killed
    client.wait_for_workers(2, timeout=60)
    assert pids[0] not in client.run(os.getpid).values()


def run_command(*arguments):
    return subprocess.run([sys.executable, "-m", "etiquem.distributed",
                           *arguments], capture_output=True)


def test_command_line(tmp_path, dask_scratch):
    """A whole run of the command, with its own local cluster."""
    dictionary = lexicon("default")
    # UTF-8 with invalid sequences: the program's warning comes out too.
    data = utf8_text(corpus_slice("ca-sb.txt", 1 << 20))
    source = tmp_path / "in.txt"
    source.write_bytes(data)
    expected, expected_unknown, warnings = program_outputs(
        dictionary, data, ["-m", "--utf8"], tmp_path)
    assert warnings.startswith(b"etiquem: warning: ")
    result = run_command("--workers", "2", "--range-size", "64K", "-m",
                         "--utf8", "-d", str(tmp_path / "unknown.txt"), "-b",
                         dictionary, str(source), str(tmp_path / "out.txt"))
    assert result.returncode == 0, result.stderr
    assert result.stderr == warnings, result.stderr
    assert (tmp_path / "out.txt").read_bytes() == expected
    assert (tmp_path / "unknown.txt").read_bytes() == expected_unknown


def assert_clean_failure(result, status, tmp_path, words):
    assert result.returncode == status, result.stderr
    message = result.stderr.decode("latin-1")
    assert message.count("\n") == 1 and "Traceback" not in message, message
    assert any(w in message for w in words), message
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in.txt"] or \
        not (tmp_path / "out.txt").exists()
    assert not any(p.name.startswith(".") for p in tmp_path.iterdir())


def test_failures_leave_no_output(tmp_path, dask_scratch):
    source = tmp_path / "in.txt"
    source.write_bytes(b"la casa\n" * 1000)
    sample = runner.etiquem.SAMPLE_DICTIONARY
    result = run_command("-b", sample, str(tmp_path / "absent.txt"),
                         str(tmp_path / "out.txt"))
    assert_clean_failure(result, 1, tmp_path, ["absent.txt"])
    broken = tmp_path / "broken.bin"
    broken.write_bytes(b"\x07not an automaton at all")
    result = run_command("--workers", "1", "-b", str(broken), str(source),
                         str(tmp_path / "out.txt"))
    broken.unlink()
    assert_clean_failure(result, 255, tmp_path, ["broken.bin"])
    result = run_command("--workers", "1", "-b", str(tmp_path / "none.bin"),
                         str(source), str(tmp_path / "out.txt"))
    assert_clean_failure(result, 255, tmp_path, ["none.bin"])
    assert not (tmp_path / "out.txt").exists()


def test_directory_of_small_files(client, tmp_path):
    """200 files in nested directories, of 0 bytes to a few kilobytes, and
    two of 200 KB (each analysed in ranges, since it is larger than a group),
    give what the program gives for each; the unknown words of all of them
    come in the order of their paths."""
    dictionary = lexicon("default")
    text = corpus_slice("ca-sb.txt", 1 << 20)
    root = tmp_path / "corpus"
    files = []
    at = 0
    for i in range(200):
        size = (i * 7919) % 6000 if i % 50 else 0
        relative = os.path.join(f"part{i % 7}", f"sub{i % 3}", f"doc{i:03d}.txt")
        (root / relative).parent.mkdir(parents=True, exist_ok=True)
        (root / relative).write_bytes(text[at:at + size])
        files.append(relative)
        at += size
    for relative in (os.path.join("part3", "large.txt"), "zlarge.txt"):
        (root / relative).write_bytes(text[at:at + 200_000])
        files.append(relative)
        at += 200_000
    out = tmp_path / "annotated"
    unknown = tmp_path / "unknown.txt"
    report = runner.annotate_directory(client, str(root), str(out), dictionary,
                                       runner.Options(mark_unknown=True),
                                       str(unknown), group_bytes=64 << 10)
    assert report.files == 202 and report.tasks > 8
    expected_unknown = tmp_path / "expected-unknown.txt"
    for relative in sorted(files):
        data = (root / relative).read_bytes()
        expected = run_program(dictionary, data, "-m", "-d",
                               str(expected_unknown)).stdout
        assert (out / relative).read_bytes() == expected, relative
    assert unknown.read_bytes() == expected_unknown.read_bytes()


def test_directory_warns_of_invalid_utf8_file_by_file(tmp_path, dask_scratch):
    """A directory run by the command with --utf8: every file is the
    program's bytes, and each file holding invalid UTF-8 (small ones in a
    group, a large one in ranges) gets the program's warning line after its
    relative path, in the order of the paths; valid files get none."""
    dictionary = lexicon("default")
    text = corpus_slice("ca.txt", 1 << 20)
    valid = text.decode("latin-1").encode("utf-8")
    invalid = utf8_text(text)
    root = tmp_path / "corpus"
    contents = {"a/valid.txt": valid[:3000],
                "a/broken.txt": invalid[:5000] + b"\xff",
                "b/large.txt": invalid[:300_000],
                "c/only-bad.txt": b"\xc3",
                "c/valid.txt": valid[3000:9000]}
    for relative, data in contents.items():
        (root / relative).parent.mkdir(parents=True, exist_ok=True)
        (root / relative).write_bytes(data)
    out = tmp_path / "annotated"
    result = run_command("--workers", "2", "--range-size", "64K", "--utf8",
                         "-b", dictionary, str(root), str(out))
    assert result.returncode == 0, result.stderr
    expected_warnings = b""
    for relative in sorted(contents):
        program = run_program(dictionary, contents[relative], "--utf8")
        assert (out / relative).read_bytes() == program.stdout, relative
        if program.stderr:
            expected_warnings += relative.encode() + b": " + program.stderr
    assert expected_warnings.count(b"\n") == 3
    assert result.stderr == expected_warnings, result.stderr
