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
from typing import Iterable, Iterator, Optional, Union

from ._etiquem import Error, Reading, Token, _Dictionary, _Stream

__all__ = ["Dictionary", "Error", "Reading", "Token", "SAMPLE_DICTIONARY"]

#: The bundled sample dictionary (a small Catalan lexicon), compiled when the
#: package was built.
SAMPLE_DICTIONARY = os.path.join(os.path.dirname(__file__), "data", "sample.bin")

Text = Union[str, bytes]


class Dictionary(_Dictionary):
    """A dictionary (an automaton file) loaded once and shared: any number of
    threads may analyse with one Dictionary at the same time, since the
    analysis runs without the GIL.

    ``path`` defaults to the bundled sample dictionary. A missing or broken
    file raises :class:`etiquem.Error` with the program's message.
    """

    def __init__(self, path: Optional[Union[str, os.PathLike]] = None) -> None:
        super().__init__(os.fspath(SAMPLE_DICTIONARY if path is None else path))

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

    def __repr__(self) -> str:
        return f"etiquem.Dictionary({self.path!r})"
