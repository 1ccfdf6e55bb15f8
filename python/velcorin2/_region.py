"""The Region record: one coiled-coil region of a prediction."""
from collections import namedtuple

_Fields = namedtuple("Region", ["start", "end", "register", "segments", "lowest_pscore", "best_score"])
for _name, _doc in [("start", "First residue, from 1."),
                    ("end", "Last residue, inclusive."),
                    ("register", "Register ('a' to 'g') of the first residue."),
                    ("segments", 'The region split where the register changes: "start-end:register", '
                                 'comma-separated (as the --regions file gives them).'),
                    ("lowest_pscore", "The lowest residue p-score in the region."),
                    ("best_score", "The highest residue score in the region.")]:
    getattr(_Fields, _name).__doc__ = _doc


class Region(_Fields):
    """A coiled-coil region, as the command line's --regions file lists it.

    A named tuple: pandas.DataFrame(prediction.regions()) has one column per field.
    """

    __slots__ = ()

    @property
    def length(self) -> int:
        """Residues in the region."""
        return self.end - self.start + 1
