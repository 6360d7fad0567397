import os
from typing import Iterable, Iterator, List, NamedTuple, Optional, Tuple, Union

Text = Union[str, bytes]
Source = Union[str, os.PathLike[str], bytes, bytearray, memoryview]

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

class CleanCut(NamedTuple):
    """A clean cut: its input offset and the bytes written before it."""
    offset: int
    output_bytes: int
    unknown_bytes: int

class RangeResult(NamedTuple):
    """What Dictionary.analyse_range wrote and noted."""
    output: bytes
    unknown_words: bytes
    head_cuts: List[CleanCut]
    tail_cuts: List[CleanCut]
    stopped_at: int
    input_ended: bool
    error: Optional[Error]
    invalid_utf8: int = ...

def find_join(tail_cuts: Iterable[CleanCut],
              head_cuts: Iterable[CleanCut]) -> Optional[Tuple[CleanCut, CleanCut]]: ...
def range_start(source: Source, size: int, at: int, utf8: bool = ...) -> int: ...

class Dictionary:
    path: str
    def __init__(self, path: Optional[Union[str, os.PathLike[str]]] = ...,
                 data: Optional[bytes] = ...) -> None: ...
    def analyse_range(self, source: Source, begin: int, window_end: int,
                      end: int, follow_end: int, *, surface: bool = ...,
                      mark_unknown: bool = ..., apostrophe_blank: bool = ...,
                      unknown_words: bool = ...,
                      utf8: bool = ...) -> RangeResult: ...
    def annotate(self, text: Text, surface: bool = ..., mark_unknown: bool = ...,
                 apostrophe_blank: bool = ...) -> Text: ...
    def analyse(self, text: Text) -> list[Token]: ...
    def analyse_iter(self, chunks: Iterable[Text]) -> Iterator[Token]: ...
