"""etiquem: annotate Catalan and Spanish running text with a letter-transducer
dictionary, as text (exactly what the etiquem program writes) or as tokens
with their readings.

    >>> import etiquem
    >>> d = etiquem.Dictionary()          # the bundled sample dictionary
    >>> d.annotate("la casa")
    'el&det;&def;&f;&sg;/el&prn;&pro;&p3;&f;&sg;/ casa&n;&f;&sg;/casar&vblex;&pri;&p3;&sg;/'
    >>> [(t.surface, t.readings[0].lemma) for t in d.analyse("la casa") if t.readings]
    [('la', 'el'), ('casa', 'casa')]

A ``str`` is analysed as UTF-8 text and its tokens' offsets count characters;
``bytes`` is Latin-1 text and offsets count bytes. In both cases
``text[t.start:t.end] == t.surface``.
"""

import os
from typing import Iterable, Iterator, List, NamedTuple, Optional, Union

from ._etiquem import (Error, Reading, Token, _Dictionary, _find_join,
                       _range_start, _Stream)

__all__ = ["CleanCut", "Dictionary", "Error", "RangeResult", "Reading",
           "Token", "SAMPLE_DICTIONARY", "find_join", "range_start"]

#: The bundled sample dictionary (a small Catalan lexicon), compiled when the
#: package was built.
SAMPLE_DICTIONARY = os.path.join(os.path.dirname(__file__), "data", "sample.bin")

Text = Union[str, bytes]
#: An input to analyse in ranges: a file's path, or the input's bytes.
Source = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview]


class CleanCut(NamedTuple):
    """A point between two attempts from which everything written depends
    only on the input from it: its input offset, and the bytes the analysis
    that noted it had written before it to the output and to the unknown
    words."""
    offset: int
    output_bytes: int
    unknown_bytes: int


class RangeResult(NamedTuple):
    """What :meth:`Dictionary.analyse_range` wrote and noted: the output and
    unknown-word lines from ``begin`` on, the clean cuts in ``[begin,
    window_end)`` (``head_cuts``, ``begin`` first) and in ``[end,
    follow_end)`` (``tail_cuts``), the input offset where the analysis
    stopped, whether that was the end of the input, and a failure (an
    :class:`Error`, or None): the outputs then hold what came before it."""
    output: bytes
    unknown_words: bytes
    head_cuts: List[CleanCut]
    tail_cuts: List[CleanCut]
    stopped_at: int
    input_ended: bool
    error: Optional[Error]
    #: Invalid UTF-8 sequences (with utf8) in what the analysis read, from
    #: ``begin`` to ``stopped_at``: 0 tells that the range has none.
    invalid_utf8: int = 0


def find_join(tail_cuts: Iterable[CleanCut],
              head_cuts: Iterable[CleanCut]) -> Optional["tuple[CleanCut, CleanCut]"]:
    """Where the analysis of a range, standing at the true state, joins the
    analysis of the next range: the first clean cut in input order among the
    earlier one's ``tail_cuts`` and the later one's ``head_cuts`` (both in
    input order), as ``(earlier, later)``, each in its own analysis's
    outputs; None when they share none (then the later range must be
    analysed again from a point known true). The engine's own threads join
    their pieces with the same function."""
    join = _find_join(tail_cuts, head_cuts)
    if join is None:
        return None
    return CleanCut(*join[0]), CleanCut(*join[1])


def range_start(source: Source, size: int, at: int, utf8: bool = False) -> int:
    """Where a range whose nominal start is byte ``at`` of an input of
    ``size`` bytes (a file's path, or its bytes) starts: ``at``, or with
    ``utf8`` the first character start at or after it."""
    return _range_start(source, size, at, utf8)


class Dictionary(_Dictionary):
    """A dictionary (an automaton file) loaded once and shared: any number of
    threads may analyse with one Dictionary at the same time, since the
    analysis runs without the GIL.

    ``path`` defaults to the bundled sample dictionary. With ``data`` (the
    bytes of an automaton file) nothing is read and ``path`` only names it in
    messages. A missing or broken file raises :class:`etiquem.Error` with the
    program's message.
    """

    def __init__(self, path: Optional[Union[str, os.PathLike]] = None,
                 data: Optional[bytes] = None) -> None:
        if path is None:
            path = SAMPLE_DICTIONARY if data is None else "<bytes>"
        super().__init__(os.fspath(path), data)

    def annotate(self, text: Text, surface: bool = False,
                 mark_unknown: bool = False,
                 apostrophe_blank: bool = False) -> Text:
        """The annotated text, exactly as the etiquem program writes it for
        the same input and options (-s, -m, -a): ``str`` for a ``str``
        (output bytes that are not UTF-8 are kept as surrogate escapes, so
        ``.encode('utf-8', 'surrogateescape')`` gives the program's bytes),
        ``bytes`` for ``bytes``."""
        return super().annotate(text, surface=surface,
                                mark_unknown=mark_unknown,
                                apostrophe_blank=apostrophe_blank)

    def analyse(self, text: Text) -> "list[Token]":
        """The tokens of ``text``, in order: every written piece, with its
        kind, offsets, surface, written text and readings. Their ``text``
        fields joined give ``annotate(text)``."""
        return super().analyse(text)

    def analyse_iter(self, chunks: Iterable[Text]) -> Iterator[Token]:
        """Tokens of a text given in chunks (lines of a file, blocks of a
        socket...), as they become known; exactly the tokens of the joined
        text, with offsets counted from its start. Chunks are all ``str``
        or all ``bytes``. Memory stays bounded by what is not yet
        analysed."""
        stream = None
        try:
            for chunk in chunks:
                if stream is None:
                    stream = _Stream(self, isinstance(chunk, str))
                stream.feed(chunk)
                yield from stream.take()
            if stream is None:
                return
            stream.close()
            yield from stream.take()
        finally:
            if stream is not None:
                stream.abort()

    def analyse_range(self, source: Source, begin: int, window_end: int,
                      end: int, follow_end: int, *, surface: bool = False,
                      mark_unknown: bool = False,
                      apostrophe_blank: bool = False,
                      unknown_words: bool = False,
                      utf8: bool = False) -> RangeResult:
        """Analyses one range of an input as if the input began at byte
        ``begin`` (so that ranges can be analysed apart, on other processes
        or machines, and joined with :func:`find_join`): noting the clean
        cuts in ``[begin, window_end)`` and in ``[end, follow_end)``, up to
        the first attempt boundary at or past ``follow_end`` or the end of
        the input. ``source`` is the input file's path (read from ``begin``
        on) or the input's bytes from ``begin`` on. The options are the
        program's -s, -m, -a, -d (collect the unknown words) and --utf8.
        The outputs are bytes, as the program writes them. A file that
        cannot be opened raises OSError; a failure of the analysis is
        returned in ``error``."""
        (output, unknown, head, tail, stopped_at, input_ended,
         error, invalid_utf8) = self._analyse_range(
             source, begin, window_end, end, follow_end, surface=surface,
             mark_unknown=mark_unknown, apostrophe_blank=apostrophe_blank,
             unknown_words=unknown_words, utf8=utf8)
        failure = None
        if error is not None:
            failure = Error(error[1])
            failure.status, failure.message = error[0], error[1]
        return RangeResult(output, unknown, [CleanCut(*c) for c in head],
                           [CleanCut(*c) for c in tail], stopped_at,
                           input_ended, failure, invalid_utf8)

    def __repr__(self) -> str:
        return f"etiquem.Dictionary({self.path!r})"
