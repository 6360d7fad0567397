"""Annotate corpora on a Dask cluster, with the same bytes as one process.

    /usr/bin/python3 -m etiquem.distributed [--scheduler ADDRESS] [options] INPUT OUTPUT

INPUT is a file or a directory. With no scheduler, a local cluster is started
on this machine's cores.

- **One large file** is cut into byte ranges (``--range-size``). Each range is
  analysed on a worker as if the input began there, noting its clean cuts
  near its start, and goes on past its end to meet the next range's cuts
  (:meth:`etiquem.Dictionary.analyse_range`). The client joins consecutive
  ranges at their first common clean cut (:func:`etiquem.find_join`, the
  function the engine's threads join their pieces with). A range whose start
  meets no common cut (a superblank over the boundary, say) is analysed again
  from the last point known true, never guessed. So OUTPUT (and the ``-d``
  file) is byte for byte what ``etiquem`` writes for the whole file.
- **A directory**: one task per group of files (small files are grouped);
  each output is written under OUTPUT in the same layout, and the unknown
  words of all of them go to the ``-d`` file in the order of the files'
  paths.

How the bytes travel, and what a shared filesystem is needed for: workers
read the input by its path (from the range's offset) and write each range's
output into a directory of parts beside OUTPUT; the client then copies the
joined stretches of the parts into OUTPUT (in the kernel, with
copy_file_range) and renames it into place at the end. Between workers and
the client only clean cuts and file names travel: a few kilobytes per range.
So the input, the parts directory and OUTPUT must be reachable at the same
paths from the client and every worker (one machine, or a shared
filesystem). The dictionary is read by path on each worker, or with
``--ship-dictionary`` sent once to every worker as bytes; either way each
worker process loads it once and keeps it for every task.

With ``--utf8``, a file that holds invalid UTF-8 gets the etiquem program's
warning line on the error stream (its count and first offset: the whole file
is counted once more, only when some range met invalid UTF-8). A directory
run gives that line for each such file, after the file's relative path and
": ", in the order of the paths.

Failures end with a one-line message and a non-zero status: 1 for files and
the analysis, 255 for a missing or broken dictionary. Nothing is left under
OUTPUT's name unless the run completed: it is written under a temporary name
and renamed at the end (in a directory run, file by file).
"""

import argparse
import array
import dataclasses
import hashlib
import itertools
import os
import pickle
import shutil
import stat
import sys
import tempfile
import threading
import time
from typing import (Any, Callable, Dict, Iterator, List, Optional, Sequence,
                    Tuple, Union)

import etiquem
from etiquem import CleanCut, Dictionary, RangeResult

__all__ = ["Options", "RunReport", "annotate_file", "annotate_directory",
           "local_cluster", "main", "DEFAULT_RANGE_BYTES",
           "DEFAULT_WINDOW_BYTES"]

#: Bytes of input per range: large enough that a task runs for about a
#: second on one core, small enough that a worker holds one range's output.
DEFAULT_RANGE_BYTES = 32 << 20
#: Bytes after a range's start where its clean cuts are noted, and past its
#: end where the range before it notes its own. Ordinary text meets a common
#: cut within a few words; only a superblank over the boundary needs more.
DEFAULT_WINDOW_BYTES = 4 << 10
#: An offset past any input: "to the end".
_TO_THE_END = (1 << 64) - 1

# Exit statuses, as the etiquem program's.
STATUS_FAILURE = 1
STATUS_BAD_DICTIONARY = 255


class _Messages:
    """Every text this module shows its users, in one place. The engine's
    own failures (a missing or broken dictionary, the analysis) keep the
    etiquem program's messages."""
    prefix = "etiquem.distributed: "
    input_missing = prefix + "cannot read the input {path}: {reason}"
    input_kind = prefix + "the input {path} is neither a regular file nor a directory"
    output_failed = prefix + "cannot write {path}: {reason}"
    output_is_input = prefix + "the output {path} is the input"
    task_failed = prefix + "a task failed: {reason}"
    os_error = prefix + "{reason}"
    in_file = "{path}: {message}"
    progress = "\r{done:6.1%} of {total:,} bytes, {ranges} ranges, {seconds:.0f} s"
    progress_files = "\r{done}/{total} files, {seconds:.0f} s"


class RunError(Exception):
    """A failure that ends a run: a one-line message and an exit status."""

    def __init__(self, message: str, status: int = STATUS_FAILURE) -> None:
        super().__init__(message)
        self.message = message
        self.status = status


@dataclasses.dataclass(frozen=True)
class Options:
    """What the analysis writes, as the etiquem program's options: -s, -m,
    -a, -d (collect the unknown words) and --utf8."""
    surface: bool = False
    mark_unknown: bool = False
    apostrophe_blank: bool = False
    unknown_words: bool = False
    utf8: bool = False

    def engine(self) -> Dict[str, bool]:
        """Keyword arguments of Dictionary.analyse_range."""
        return dataclasses.asdict(self)


@dataclasses.dataclass
class RunReport:
    """What a run did: input and output bytes, ranges (or files), joins,
    ranges analysed again, seconds, and what travelled between the client
    and the workers (pickled task arguments and results)."""
    input_bytes: int = 0
    output_bytes: int = 0
    tasks: int = 0
    joins: int = 0
    reruns: int = 0
    files: int = 0
    seconds: float = 0.0
    join_seconds: float = 0.0     # the client's join decisions, all told
    copy_seconds: float = 0.0     # copying joined parts into the output
    bytes_to_workers: int = 0
    bytes_from_workers: int = 0
    # With utf8, one file: its invalid UTF-8 sequences and the offset of the
    # first, as the etiquem program reports them (0 and 0: none).
    invalid_utf8: int = 0
    first_invalid_utf8: int = 0
    # With utf8, a directory: (relative path, invalid sequences, offset of
    # the first) of each file that holds invalid UTF-8, in path order.
    invalid_utf8_files: List[Tuple[str, int, int]] = dataclasses.field(
        default_factory=list)


# ---- On the workers ----

# Dictionaries loaded by this worker process, by what identifies them (a
# path with its size and time, or the digest of shipped bytes). Tasks on
# the worker's threads share them: a Dictionary is safe to share.
_loaded: Dict[Tuple[Any, ...], Dictionary] = {}
_loading = threading.Lock()


@dataclasses.dataclass(frozen=True)
class DictionaryRef:
    """How a task finds its dictionary: a path readable on the worker, or
    (with `digest`) bytes shipped once to every worker, which the task
    receives as an argument."""
    path: str
    digest: Optional[str] = None


def _dictionary(ref: DictionaryRef, data: Optional[bytes]) -> Dictionary:
    """The worker's copy of the dictionary, loaded on first use."""
    if ref.digest is not None:
        key: Tuple[Any, ...] = ("bytes", ref.digest)
    else:
        status = os.stat(ref.path)
        key = ("path", ref.path, status.st_size, status.st_mtime_ns)
    with _loading:
        dictionary = _loaded.get(key)
        if dictionary is None:
            dictionary = (Dictionary(ref.path, data=data)
                          if ref.digest is not None else Dictionary(ref.path))
            _loaded[key] = dictionary
        return dictionary


def _write_atomically(path: str, data: bytes) -> None:
    """Writes `data` to `path` under a temporary name, then renames it: a
    reader never sees a file half written, and two attempts at one task
    leave one whole file."""
    directory = os.path.dirname(path) or "."
    descriptor, temporary = tempfile.mkstemp(
        prefix="." + os.path.basename(path) + ".", suffix=".tmp", dir=directory)
    try:
        with os.fdopen(descriptor, "wb") as f:
            f.write(data)
        os.replace(temporary, path)
    except BaseException:
        _remove(temporary)
        raise


def _remove(path: str) -> None:
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass


def _packed(cuts: List[CleanCut]) -> array.array:
    """Clean cuts as a flat array of their numbers: 24 bytes a cut when
    pickled (a window of a few kilobytes holds a cut every two or three
    bytes)."""
    return array.array("Q", itertools.chain.from_iterable(cuts))


def _unpacked(cuts: array.array) -> List[CleanCut]:
    return [CleanCut(*c) for c in zip(cuts[0::3], cuts[1::3], cuts[2::3])]


@dataclasses.dataclass
class RangeSummary:
    """What a range's task sends back: its cuts (packed) and where its
    outputs are (the outputs themselves stay in the parts directory)."""
    begin: int
    head_cuts: array.array
    tail_cuts: array.array
    stopped_at: int
    input_ended: bool
    error: Optional[Tuple[int, str]]
    output_path: str
    unknown_path: Optional[str]
    output_size: int
    seconds: float
    invalid_utf8: int  # in what the range's analysis read (see RangeResult)


def analyse_range_task(input_path: str, begin: int, window_end: int, end: int,
                       follow_end: int, options: Options,
                       dictionary: DictionaryRef,
                       dictionary_data: Optional[bytes],
                       part_path: str) -> RangeSummary:
    """A worker's task: analyses one range of the input file and writes its
    output (and unknown words) to `part_path` (and `part_path`.unknown)."""
    started = time.perf_counter()
    d = _dictionary(dictionary, dictionary_data)
    result: RangeResult = d.analyse_range(input_path, begin, window_end, end,
                                          follow_end, **options.engine())
    _write_atomically(part_path, result.output)
    unknown_path = None
    if result.unknown_words:
        unknown_path = part_path + ".unknown"
        _write_atomically(unknown_path, result.unknown_words)
    error = None
    if result.error is not None:
        error = (result.error.status, result.error.message)
    return RangeSummary(begin, _packed(result.head_cuts), _packed(result.tail_cuts),
                        result.stopped_at, result.input_ended, error,
                        part_path, unknown_path, len(result.output),
                        time.perf_counter() - started, result.invalid_utf8)


@dataclasses.dataclass
class FileSummary:
    """What a directory task sends back for one file: its unknown words,
    its output's size, or the failure that stopped it."""
    relative_path: str
    unknown_words: bytes
    output_size: int
    error: Optional[Tuple[int, str]]
    # With utf8: its invalid UTF-8 sequences and the offset of the first.
    invalid_utf8: int = 0
    first_invalid_utf8: int = 0


def annotate_files_task(input_root: str, output_root: str,
                        relative_paths: List[str], options: Options,
                        dictionary: DictionaryRef,
                        dictionary_data: Optional[bytes]) -> List[FileSummary]:
    """A worker's task: annotates whole files of a directory, each into the
    same relative path under `output_root`."""
    d = _dictionary(dictionary, dictionary_data)
    summaries = []
    for relative in relative_paths:
        result = d.analyse_range(os.path.join(input_root, relative), 0, 0,
                                 _TO_THE_END, _TO_THE_END, **options.engine())
        if result.error is not None:
            summaries.append(FileSummary(relative, b"", 0, (
                result.error.status, result.error.message)))
            continue
        target = os.path.join(output_root, relative)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        _write_atomically(target, result.output)
        summary = FileSummary(relative, result.unknown_words,
                              len(result.output), None)
        if result.invalid_utf8 > 0:  # where the first one lies, rarely
            summary.invalid_utf8, summary.first_invalid_utf8 = \
                _invalid_utf8_in_file(os.path.join(input_root, relative))
        summaries.append(summary)
    return summaries


# ---- On the client ----

class _Progress:
    """A one-line progress bar on standard error (Debian's Dask has no
    dashboard: that needs bokeh)."""

    def __init__(self, shown: bool) -> None:
        self.shown = shown
        self.started = time.monotonic()

    def show(self, text: str) -> None:
        if self.shown:
            sys.stderr.write(text)
            sys.stderr.flush()

    def end(self) -> None:
        if self.shown:
            sys.stderr.write("\n")


def check_dictionary(path: str) -> None:
    """Loads the dictionary here: a missing or broken one is reported, with
    the engine's message and status, before any work is sent out."""
    try:
        Dictionary(path)
    except etiquem.Error as error:
        raise RunError(error.message, error.status) from None


class _Dictionaries:
    """The dictionary as the tasks get it: by path, or as bytes scattered
    once to every worker."""

    def __init__(self, client: Any, path: str, ship: bool) -> None:
        check_dictionary(path)
        if ship:
            try:
                with open(path, "rb") as f:
                    data = f.read()
            except OSError as error:
                raise RunError(_Messages.input_missing.format(
                    path=path, reason=error.strerror),
                    STATUS_BAD_DICTIONARY) from None
        if ship:
            digest = hashlib.sha256(data).hexdigest()
            self.ref = DictionaryRef(path, digest)
            self.data: Any = client.scatter(data, broadcast=True, hash=False)
            self.shipped_bytes = len(data) * max(1, len(_workers(client)))
        else:
            self.ref = DictionaryRef(os.path.abspath(path))
            self.data = None
            self.shipped_bytes = 0


def _outcome(future: Any) -> Any:
    """A task's result; a task that raised (a file gone, say) ends the run."""
    try:
        return future.result()
    except RunError:
        raise
    except Exception as error:  # the worker's exception, passed on by Dask
        raise RunError(_Messages.task_failed.format(
            reason=f"{type(error).__name__}: {error}")) from None


def _workers(client: Any) -> Dict[str, Any]:
    return client.scheduler_info().get("workers", {})


def _pickled_size(value: Any) -> int:
    return len(pickle.dumps(value, protocol=pickle.HIGHEST_PROTOCOL))


def _copy_stretch(source_path: str, begin: int, end: int, target: Any) -> None:
    """Appends bytes [begin, end) of a file to the open file `target`, in
    the kernel where it can."""
    if end <= begin:
        return
    with open(source_path, "rb") as source:
        remaining = end - begin
        offset = begin
        target.flush()
        try:
            while remaining > 0:
                copied = os.copy_file_range(source.fileno(), target.fileno(),
                                            remaining, offset)
                if copied == 0:
                    break
                offset += copied
                remaining -= copied
        except OSError:
            pass  # another filesystem, say: copy through user space
        source.seek(offset)
        while remaining > 0:
            block = source.read(min(remaining, 1 << 22))
            if not block:
                raise RunError(_Messages.output_failed.format(
                    path=source_path, reason="part shorter than noted"))
            target.write(block)
            remaining -= len(block)
        target.flush()


def _invalid_utf8_in_file(path: str) -> Tuple[int, int]:
    try:
        return etiquem._etiquem._invalid_utf8_in_file(path)
    except OSError as error:
        raise RunError(_Messages.input_missing.format(
            path=path, reason=error.strerror)) from None


def _open_input(path: str) -> os.stat_result:
    try:
        status = os.stat(path)
    except OSError as error:
        raise RunError(_Messages.input_missing.format(
            path=path, reason=error.strerror)) from None
    if not os.access(path, os.R_OK):
        raise RunError(_Messages.input_missing.format(
            path=path, reason=os.strerror(13)))
    return status


def _check_output(input_path: str, output_path: str) -> None:
    if os.path.exists(output_path) and os.path.samefile(input_path, output_path):
        raise RunError(_Messages.output_is_input.format(path=output_path))


class _Output:
    """An output file written under a temporary name in its directory and
    renamed into place by commit(); removed by discard()."""

    def __init__(self, path: str, append_to: bool = False) -> None:
        self.path = path
        self.append_to = append_to  # commit appends to `path` (the -d file)
        directory = os.path.dirname(os.path.abspath(path))
        try:
            descriptor, self.temporary = tempfile.mkstemp(
                prefix="." + os.path.basename(path) + ".", suffix=".tmp",
                dir=directory)
        except OSError as error:
            raise RunError(_Messages.output_failed.format(
                path=path, reason=error.strerror)) from None
        self.file = os.fdopen(descriptor, "wb")

    def commit(self) -> None:
        self.file.close()
        try:
            if self.append_to:
                with open(self.path, "ab") as target, \
                        open(self.temporary, "rb") as source:
                    shutil.copyfileobj(source, target, 1 << 22)
                _remove(self.temporary)
            else:
                os.chmod(self.temporary, 0o666 & ~_umask())
                os.replace(self.temporary, self.path)
        except OSError as error:
            raise RunError(_Messages.output_failed.format(
                path=self.path, reason=error.strerror)) from None

    def discard(self) -> None:
        self.file.close()
        _remove(self.temporary)


def _umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask


def _range_starts(path: str, size: int, range_bytes: int,
                  utf8: bool) -> List[int]:
    """Where the ranges start: every `range_bytes`, moved to a character
    start in UTF-8 text; none empty."""
    starts = [0]
    for i in range(1, (size + range_bytes - 1) // range_bytes):
        at = etiquem.range_start(path, size, i * range_bytes, utf8)
        if starts[-1] < at < size:
            starts.append(at)
    return starts


def annotate_file(client: Any, input_path: str, output_path: str,
                  dictionary_path: str, options: Options = Options(),
                  unknown_path: Optional[str] = None,
                  range_bytes: int = DEFAULT_RANGE_BYTES,
                  window_bytes: int = DEFAULT_WINDOW_BYTES,
                  parts_directory: Optional[str] = None,
                  ship_dictionary: bool = False,
                  progress: Optional[Callable[[int, int], None]] = None
                  ) -> RunReport:
    """Annotates one file on the cluster of `client` into `output_path`
    (and appends its unknown words to `unknown_path`): exactly what the
    etiquem program writes for it. `progress(done, total)` is called, in
    input bytes, as joined output is written. Raises RunError."""
    started = time.perf_counter()
    size = _open_input(input_path).st_size
    _check_output(input_path, output_path)
    input_path = os.path.abspath(input_path)
    options = dataclasses.replace(options, unknown_words=unknown_path is not None)
    dictionaries = _Dictionaries(client, dictionary_path, ship_dictionary)
    range_bytes = max(range_bytes, 4)
    window_bytes = max(window_bytes, 1)
    starts = _range_starts(input_path, size, range_bytes, options.utf8)
    ends = starts[1:] + [size]
    count = len(starts)
    report = RunReport(input_bytes=size, tasks=count,
                       bytes_to_workers=dictionaries.shipped_bytes)
    parts_parent = parts_directory or os.path.dirname(os.path.abspath(output_path))
    try:
        parts = tempfile.mkdtemp(prefix=".etiquem-parts-", dir=parts_parent)
    except OSError as error:
        raise RunError(_Messages.output_failed.format(
            path=parts_parent, reason=error.strerror)) from None
    try:
        output = _Output(output_path)
    except RunError:
        shutil.rmtree(parts, ignore_errors=True)
        raise
    try:
        unknown = _Output(unknown_path, append_to=True) if unknown_path else None
    except RunError:
        output.discard()
        shutil.rmtree(parts, ignore_errors=True)
        raise
    submitted: Dict[int, Any] = {}

    def submit(begin: int, window_end: int, end: int, name: str) -> Any:
        arguments = (input_path, begin, window_end, end,
                     min(end + window_bytes, size) if end < size else _TO_THE_END,
                     options, dictionaries.ref, dictionaries.data,
                     os.path.join(parts, name))
        report.bytes_to_workers += _pickled_size(arguments[:7] + arguments[8:])
        return client.submit(analyse_range_task, *arguments, pure=False,
                             key=f"etiquem-{name}-{os.path.basename(parts)}")

    met_invalid_utf8 = [False]

    def result(future: Any) -> RangeSummary:
        summary: RangeSummary = _outcome(future)
        report.bytes_from_workers += _pickled_size(summary)
        met_invalid_utf8[0] = met_invalid_utf8[0] or summary.invalid_utf8 > 0
        summary.head_cuts = _unpacked(summary.head_cuts)
        summary.tail_cuts = _unpacked(summary.tail_cuts)
        return summary

    def drop(summary: RangeSummary) -> None:
        _remove(summary.output_path)
        if summary.unknown_path:
            _remove(summary.unknown_path)

    def write(summary: RangeSummary, start: CleanCut, stop: Optional[CleanCut]) -> None:
        copy_started = time.perf_counter()
        _copy_stretch(summary.output_path, start.output_bytes,
                      summary.output_size if stop is None else stop.output_bytes,
                      output.file)
        if unknown is not None and summary.unknown_path:
            unknown_end = os.path.getsize(summary.unknown_path)
            _copy_stretch(summary.unknown_path, start.unknown_bytes,
                          unknown_end if stop is None else stop.unknown_bytes,
                          unknown.file)
        report.copy_seconds += time.perf_counter() - copy_started

    try:
        for i in range(count):
            submitted[i] = submit(starts[i], min(starts[i] + window_bytes, ends[i]),
                                  ends[i], f"range-{i:06d}")
        current = result(submitted.pop(0))
        start = CleanCut(0, 0, 0)  # where `current`'s output starts to count
        covered = 0                # the last range `current` covers
        while True:
            if progress is not None:
                progress(min(ends[covered], size), size)
            if current.input_ended or covered + 1 >= count:
                if current.error is not None:
                    raise RunError(current.error[1], current.error[0])
                write(current, start, None)
                drop(current)
                break
            following = result(submitted.pop(covered + 1))
            join_started = time.perf_counter()
            join = etiquem.find_join(current.tail_cuts, following.head_cuts)
            report.join_seconds += time.perf_counter() - join_started
            if join is not None:
                write(current, start, join[0])
                drop(current)
                current, start = following, join[1]
                covered += 1
                report.joins += 1
                continue
            if current.error is not None:
                # The analysis at the true state failed before any join.
                raise RunError(current.error[1], current.error[0])
            # No common cut: analyse again from the last point known true,
            # over the next range and as far as `current` read (a
            # superblank over several ranges is read once more, not once
            # per range).
            known = (current.tail_cuts[-1] if current.tail_cuts else
                     [c for c in current.head_cuts if c.offset >= start.offset][-1])
            write(current, start, known)
            drop(current)
            drop(following)
            last = covered + 1
            while last + 1 < count and ends[last] <= current.stopped_at:
                last += 1
            for skipped in range(covered + 2, last + 1):
                # (its part, if written, goes with the parts directory)
                submitted.pop(skipped).cancel()
            report.reruns += 1
            report.tasks += 1
            current = result(submit(known.offset, known.offset, ends[last],
                                    f"rerun-{known.offset}-{ends[last]}"))
            start = CleanCut(known.offset, 0, 0)
            covered = last
        if met_invalid_utf8[0]:
            # The ranges' own counts overlap where they read past their
            # ends: the file is counted once, as a whole (rarely: only
            # when some range met invalid UTF-8).
            report.invalid_utf8, report.first_invalid_utf8 = \
                _invalid_utf8_in_file(input_path)
        output.commit()
        if unknown is not None:
            unknown.commit()
        report.output_bytes = os.path.getsize(output_path)
    except BaseException:
        for future in submitted.values():
            future.cancel()
        output.discard()
        if unknown is not None:
            unknown.discard()
        raise
    finally:
        shutil.rmtree(parts, ignore_errors=True)
    report.seconds = time.perf_counter() - started
    return report


def _files_of(root: str) -> Iterator[Tuple[str, int]]:
    """The regular files under `root`, as (relative path, size), in the
    order of their paths."""
    found = []
    for directory, subdirectories, names in os.walk(root):
        subdirectories.sort()
        for name in names:
            path = os.path.join(directory, name)
            if os.path.isfile(path):
                found.append((os.path.relpath(path, root), os.path.getsize(path)))
    return iter(sorted(found))


def _annotate_large_file(client: Any, input_root: str, output_root: str,
                         relative: str, dictionary_path: str, options: Options,
                         unknown: Optional[_Output], range_bytes: int,
                         ship_dictionary: bool, report: RunReport) -> None:
    """One file of a directory, in ranges as annotate_file does; its unknown
    words are appended to `unknown` in their place."""
    target = os.path.join(output_root, relative)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    words = _Output(target + ".unknown") if unknown is not None else None
    try:
        if words is not None:
            words.file.close()
        one = annotate_file(client, os.path.join(input_root, relative), target,
                            dictionary_path, options,
                            words.temporary if words is not None else None,
                            range_bytes=range_bytes,
                            ship_dictionary=ship_dictionary)
    except RunError as error:
        if words is not None:
            _remove(words.temporary)
        raise RunError(_Messages.in_file.format(path=relative,
                                                message=str(error)),
                       error.status) from None
    report.tasks += one.tasks
    report.output_bytes += one.output_bytes
    if one.invalid_utf8 > 0:
        report.invalid_utf8_files.append(
            (relative, one.invalid_utf8, one.first_invalid_utf8))
    report.bytes_to_workers += one.bytes_to_workers
    report.bytes_from_workers += one.bytes_from_workers
    if words is not None:
        with open(words.temporary, "rb") as source:
            shutil.copyfileobj(source, unknown.file, 1 << 22)
        _remove(words.temporary)


def annotate_directory(client: Any, input_root: str, output_root: str,
                       dictionary_path: str, options: Options = Options(),
                       unknown_path: Optional[str] = None,
                       group_bytes: int = DEFAULT_RANGE_BYTES,
                       ship_dictionary: bool = False,
                       progress: Optional[Callable[[int, int], None]] = None
                       ) -> RunReport:
    """Annotates every regular file under `input_root` into the same
    relative path under `output_root` (each exactly what the etiquem program
    writes for it), and appends their unknown words to `unknown_path`, file
    after file in the order of their paths. Small files go in groups of
    about `group_bytes` (fewer when that would leave workers idle), one task
    per group. Raises RunError (files already written stay, each whole)."""
    started = time.perf_counter()
    _open_input(input_root)
    options = dataclasses.replace(options, unknown_words=unknown_path is not None)
    dictionaries = _Dictionaries(client, dictionary_path, ship_dictionary)
    files = list(_files_of(input_root))
    total = sum(size for _, size in files)
    workers = max(1, sum(w.get("nthreads", 1) for w in _workers(client).values()))
    target = max(1, min(group_bytes, total // (4 * workers) or 1))
    # In the order of the paths: groups of small files, one task each, and
    # each file larger than `group_bytes` alone, annotated in ranges like a
    # single file, so that no task holds more than about `group_bytes` of
    # output.
    items: List[Union[List[str], str]] = []
    held = 0
    for relative, size in files:
        if size > group_bytes:
            items.append(relative)
            continue
        if not items or isinstance(items[-1], str) or (
                items[-1] and held + size > target):
            items.append([])
            held = 0
        items[-1].append(relative)
        held += size
    groups = [item for item in items if isinstance(item, list)]
    report = RunReport(input_bytes=total, tasks=len(groups), files=len(files),
                       bytes_to_workers=dictionaries.shipped_bytes)
    os.makedirs(output_root, exist_ok=True)
    unknown = _Output(unknown_path, append_to=True) if unknown_path else None
    futures = {}
    try:
        for group in groups:
            arguments = (os.path.abspath(input_root), os.path.abspath(output_root),
                         group, options, dictionaries.ref, dictionaries.data)
            report.bytes_to_workers += _pickled_size(arguments[:5])
            futures[id(group)] = client.submit(annotate_files_task, *arguments,
                                               pure=False)
        done = 0
        for item in items:
            if isinstance(item, str):
                _annotate_large_file(client, input_root, output_root, item,
                                     dictionary_path, options, unknown,
                                     group_bytes, ship_dictionary, report)
                done += 1
            else:
                summaries: List[FileSummary] = _outcome(futures[id(item)])
                report.bytes_from_workers += _pickled_size(summaries)
                for summary in summaries:
                    if summary.error is not None:
                        raise RunError(_Messages.in_file.format(
                            path=summary.relative_path,
                            message=summary.error[1]), summary.error[0])
                    if unknown is not None:
                        unknown.file.write(summary.unknown_words)
                    report.output_bytes += summary.output_size
                    if summary.invalid_utf8 > 0:
                        report.invalid_utf8_files.append(
                            (summary.relative_path, summary.invalid_utf8,
                             summary.first_invalid_utf8))
                done += len(summaries)
            if progress is not None:
                progress(done, len(files))
        if unknown is not None:
            unknown.commit()
    except BaseException:
        for future in futures.values():
            future.cancel()
        if unknown is not None:
            unknown.discard()
        raise
    report.seconds = time.perf_counter() - started
    return report


def local_cluster(workers: int, threads: int = 1, dashboard: Optional[str] = None) -> Any:
    """A Dask LocalCluster of `workers` processes on 127.0.0.1 (no other
    network), each with `threads` threads."""
    import logging

    from distributed import LocalCluster
    # Without a dashboard the scheduler still serves HTTP (its health
    # checks), by default on the dashboard's port 8787: a second cluster on
    # the machine would warn that the port is taken. It gets a free port.
    http = None if dashboard else {"dashboard_address": "127.0.0.1:0"}
    return LocalCluster(n_workers=workers, threads_per_worker=threads,
                        processes=True, host="127.0.0.1",
                        dashboard_address=dashboard,
                        scheduler_kwargs=http,
                        silence_logs=logging.ERROR)


def _arguments(argv: Optional[Sequence[str]]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="python3 -m etiquem.distributed",
        description="Annotate a large file or a directory of files on a Dask "
                    "cluster, with exactly the bytes etiquem writes.")
    parser.add_argument("input", metavar="INPUT", help="a file or a directory")
    parser.add_argument("output", metavar="OUTPUT",
                        help="the annotated file, or directory of them")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="a running Dask scheduler (tcp://host:8786); "
                             "without it, a local cluster on this machine")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1,
                        help="worker processes of the local cluster "
                             "(default: one per core)")
    parser.add_argument("--dashboard", metavar="ADDRESS",
                        help="the local cluster's dashboard, e.g. :8787 "
                             "(needs bokeh)")
    parser.add_argument("-b", dest="dictionary", metavar="FILE", required=True,
                        help="the automaton file (on every worker, or see "
                             "--ship-dictionary)")
    parser.add_argument("-s", dest="surface", action="store_true",
                        help="write each reading after its surface form")
    parser.add_argument("-m", dest="mark_unknown", action="store_true",
                        help="mark unknown words <d>...</d>")
    parser.add_argument("-a", dest="apostrophe_blank", action="store_true",
                        help="a blank after an analysed form with an apostrophe")
    parser.add_argument("-d", dest="unknown", metavar="FILE",
                        help="append the unknown words, one per line, to FILE")
    parser.add_argument("--utf8", action="store_true",
                        help="UTF-8 text in and out")
    parser.add_argument("--range-size", type=_size, default=DEFAULT_RANGE_BYTES,
                        metavar="BYTES",
                        help="bytes per range of a large file (default 32M; "
                             "K, M, G suffixes)")
    parser.add_argument("--window", type=_size, default=DEFAULT_WINDOW_BYTES,
                        metavar="BYTES", help=argparse.SUPPRESS)
    parser.add_argument("--parts", metavar="DIRECTORY",
                        help="where workers write range outputs (default: "
                             "beside OUTPUT); shared by client and workers")
    parser.add_argument("--ship-dictionary", action="store_true",
                        help="send the dictionary to the workers as bytes "
                             "instead of reading it there by path")
    parser.add_argument("--progress", action="store_true",
                        help="a progress bar on standard error")
    parser.add_argument("--report", action="store_true",
                        help="print what the run did on standard error")
    return parser.parse_args(argv)


def _size(text: str) -> int:
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    scale = units.get(text[-1:].upper(), 1)
    number = int(text[:-1] if scale > 1 else text)
    if number <= 0:
        raise argparse.ArgumentTypeError(f"not a positive size: {text}")
    return number * scale


def main(argv: Optional[Sequence[str]] = None) -> int:
    """The command line; returns the exit status."""
    arguments = _arguments(argv)
    options = Options(arguments.surface, arguments.mark_unknown,
                      arguments.apostrophe_blank, False, arguments.utf8)
    bar = _Progress(arguments.progress)
    cluster = client = None
    try:
        status = _open_input(arguments.input)
        if not (stat.S_ISREG(status.st_mode) or stat.S_ISDIR(status.st_mode)):
            raise RunError(_Messages.input_kind.format(path=arguments.input))
        check_dictionary(arguments.dictionary)
        from distributed import Client
        if arguments.scheduler:
            client = Client(arguments.scheduler)
        else:
            cluster = local_cluster(max(1, arguments.workers),
                                    dashboard=arguments.dashboard)
            client = Client(cluster)
        if stat.S_ISDIR(status.st_mode):
            report = annotate_directory(
                client, arguments.input, arguments.output, arguments.dictionary,
                options, arguments.unknown, arguments.range_size,
                arguments.ship_dictionary,
                lambda done, total: bar.show(_Messages.progress_files.format(
                    done=done, total=total,
                    seconds=time.monotonic() - bar.started)))
        else:
            ranges = [0]

            def show(done: int, total: int) -> None:
                ranges[0] += 1
                bar.show(_Messages.progress.format(
                    done=done / total if total else 1.0, total=total,
                    ranges=ranges[0], seconds=time.monotonic() - bar.started))
            report = annotate_file(
                client, arguments.input, arguments.output, arguments.dictionary,
                options, arguments.unknown, arguments.range_size,
                arguments.window, arguments.parts, arguments.ship_dictionary,
                show)
        bar.end()
        if report.invalid_utf8 > 0:
            print(etiquem._etiquem._invalid_utf8_warning(
                report.invalid_utf8, report.first_invalid_utf8),
                file=sys.stderr)
        for relative, count, first in report.invalid_utf8_files:
            print(_Messages.in_file.format(
                path=relative,
                message=etiquem._etiquem._invalid_utf8_warning(count, first)),
                file=sys.stderr)
        if arguments.report:
            for field in dataclasses.fields(report):
                print(f"{field.name}: {getattr(report, field.name)}",
                      file=sys.stderr)
        return 0
    except RunError as error:
        bar.end()
        print(error.message, file=sys.stderr)
        return error.status
    except OSError as error:  # an output directory that cannot be made, say
        bar.end()
        print(_Messages.os_error.format(reason=error), file=sys.stderr)
        return STATUS_FAILURE
    finally:
        if client is not None:
            client.close()
        if cluster is not None:
            cluster.close()


if __name__ == "__main__":
    # Run as the module etiquem.distributed (not as __main__), so that the
    # tasks name their functions by a module the workers import.
    from etiquem.distributed import main as _main
    sys.exit(_main())
