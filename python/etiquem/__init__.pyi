import os
from typing import Iterable, Iterator, NamedTuple, Optional, Tuple, Union

Text = Union[str, bytes]

SAMPLE_DICTIONARY: str

class Error(Exception):
    """A failure of the engine, with the etiquem program's message and exit
    status (1: files, memory; 2: reading; 255: a missing or broken
    dictionary)."""
    message: str
    status: int

class Reading(Tuple[str, Tuple[str, ...], Tuple["Reading", ...], bool]):
    """A lemma with its tags; or, for a joined reading ('al': 'a' + 'el') or
    a compound one, its pieces (then lemma is '' and tags is ())."""
    @property
    def lemma(self) -> str: ...
    @property
    def tags(self) -> Tuple[str, ...]: ...
    @property
    def pieces(self) -> Tuple["Reading", ...]: ...
    @property
    def compound(self) -> bool: ...

class Token(Tuple[str, int, int, Text, Text, Tuple[Reading, ...]]):
    """A written piece: kind 'reading', 'unknown', 'plain' (characters
    written as they came, one token per run) or 'superblank'."""
    @property
    def kind(self) -> str: ...
    @property
    def start(self) -> int: ...
    @property
    def end(self) -> int: ...
    @property
    def surface(self) -> Text: ...
    @property
    def text(self) -> Text: ...
    @property
    def readings(self) -> Tuple[Reading, ...]: ...

class Dictionary:
    path: str
    def __init__(self, path: Optional[Union[str, os.PathLike[str]]] = ...) -> None: ...
    def annotate(self, text: Text, surface: bool = ..., mark_unknown: bool = ...,
                 apostrophe_blank: bool = ...) -> Text: ...
    def analyse(self, text: Text) -> list[Token]: ...
    def analyse_iter(self, chunks: Iterable[Text]) -> Iterator[Token]: ...
