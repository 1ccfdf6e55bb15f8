"""Coiled-coil prediction from pair correlations across heptad registers.

    import velcorin2
    model = velcorin2.Model.default()          # the shipped, calibrated model
    p = model.predict("MKQLEDKVEELLSKNYHLENEVARLKKLVGER" * 2)
    p.scores, p.pscores, p.registers           # per residue
    p.regions()                                # coiled-coil regions at p < 0.05
    for code, title, p in model.predict_fasta("proteome.fa.gz", threads=2):
        ...

The numbers are those of the command line `velcorin2` for the same model and
sequence, to the last bit; regions are those of its --regions file.
"""
from ._velcorin2 import Model, Prediction, PredictionStream, version as _version
from ._errors import DataError, Error, FileError, MissingFileError, ParseError
from ._region import Region

__version__: str = _version()

__all__ = ["Model", "Prediction", "PredictionStream", "Region", "Error", "ParseError", "DataError",
           "FileError", "MissingFileError", "__version__"]
