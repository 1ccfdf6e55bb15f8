"""Type stubs of the compiled core (re-exported by the velcorin2 package)."""
import os
from types import TracebackType
from typing import Optional, IO, Iterable, Iterator, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from ._region import Region

_Path = Union[str, bytes, os.PathLike]
_Letters = Union[str, bytes]

def version() -> str:
    """The library's version, the same as `velcorin2 --version` reports."""

class Prediction:
    """The result of scoring one sequence (see help(velcorin2.Prediction))."""

    @property
    def scores(self) -> npt.NDArray[np.float64]:
        """Best window score per residue (read-only; -inf where unscored)."""
    @property
    def pscores(self) -> npt.NDArray[np.float64]:
        """P-score per residue (read-only; 1.0 where unscored)."""
    @property
    def registers(self) -> str:
        """The best register per residue, one letter a-g each."""
    @property
    def sequence(self) -> str:
        """The residues scored, one letter each, as the table shows them (an unknown residue as -)."""
    @property
    def sequence_score(self) -> float:
        """The best residue score (-inf when nothing was scored)."""
    @property
    def sequence_pscore(self) -> float:
        """The sequence score through the model's sequence table."""
    @property
    def scored(self) -> bool:
        """False for a sequence shorter than the model's window."""
    @property
    def truncated(self) -> bool:
        """True when the FASTA reader kept only the first max_length residues."""
    def __len__(self) -> int: ...
    def regions(self, pscore: float = 0.05, min_length: int = 1) -> list[Region]:
        """The coiled-coil regions at a p-score threshold, at least min_length long."""
    def to_table(self, code: str = "", title: str = "") -> str:
        """The command line's per-residue table of this record ("" when not scored)."""
    def to_svg(self, pscore: float = 0.05, min_length: int = 1, code: Optional[str] = None,
               title: Optional[str] = None) -> str:
        """The SVG profile of this record, as the --html report draws it."""
    def _repr_svg_(self) -> str:
        """The profile, for notebooks that show objects as pictures."""

class PredictionStream(Iterator[Tuple[str, str, Prediction]]):
    """(code, title, Prediction) of each FASTA record, in input order."""

    def __iter__(self) -> "PredictionStream": ...
    def __next__(self) -> Tuple[str, str, Prediction]: ...
    def close(self) -> None:
        """Stops reading and scoring."""
    def __enter__(self) -> "PredictionStream": ...
    def __exit__(self, et: type[BaseException] | None, ev: BaseException | None,
                 tb: TracebackType | None) -> bool: ...

class Model:
    """A coiled-coil model: count tables, distance classes and p-score tables."""

    def __init__(self, genfreq: _Path, posfreq: _Path, distances: Sequence[int],
                 calibration: _Path | None = None, prolines_break: bool = True, window: int = 28) -> None: ...
    @staticmethod
    def default() -> "Model":
        """The model shipped with velcorin2, calibrated."""
    @staticmethod
    def from_config(path: _Path) -> "Model":
        """The model a configuration file names, as the command line reads it."""
    @property
    def genfreq(self) -> str: ...
    @property
    def posfreq(self) -> str: ...
    @property
    def calibration(self) -> str | None: ...
    @property
    def distances(self) -> Tuple[int, ...]: ...
    @property
    def prolines_break(self) -> bool: ...
    @property
    def window(self) -> int: ...
    def predict(self, sequence: _Letters) -> Prediction:
        """Scores one sequence of residue letters."""
    def predict_many(self, sequences: Iterable[_Letters], threads: int = 1) -> list[Prediction]:
        """Scores every sequence, `threads` at once, results in the same order."""
    def predict_fasta(self, source: Union[_Path, IO[bytes], IO[str]], threads: int = 1,
                      max_length: int = 20000) -> PredictionStream:
        """Scores every record of a FASTA input as the iteration goes."""
