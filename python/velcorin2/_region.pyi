from typing import NamedTuple

class Region(NamedTuple):
    """A coiled-coil region, as the command line's --regions file lists it."""

    start: int
    end: int
    register: str
    segments: str
    lowest_pscore: float
    best_score: float
    @property
    def length(self) -> int: ...
