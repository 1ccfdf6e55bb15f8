"""The exceptions of velcorin2.

Every failure of the library arrives as a subclass of velcorin2.Error whose
message is the command line's for the same failure, and which is also the
standard exception a Python caller expects: ValueError for input that cannot be
read as what it should be, FileNotFoundError for a missing file.
"""
import errno as _errno
import os as _os


class Error(Exception):
    """A failure of velcorin2.

    text: the message exactly as the command line prints it; kind: what failed
    ("open", "read", "magic", "parse", "mismatch", "usage", ...); status: the exit
    status the command line ends with.
    """

    text: str = ""
    kind: str = ""
    status: int = 0


class ParseError(Error, ValueError):
    """An unreadable residue letter.  record: the record (from 1); code: its code, when
    it has one; position: the letter's position in its sequence, from 1."""

    record: int = 0
    code: str = ""
    position: int = 0


class DataError(Error, ValueError):
    """A damaged count or calibration file, a calibration made for another model, or a
    model the settings cannot make (distances, window)."""


class FileError(Error, OSError):
    """A file that cannot be opened, read or written (errno says why, when known)."""

    __str__ = Exception.__str__  # the command line's message, not "[Errno n] ..."


class MissingFileError(FileError, FileNotFoundError):
    """A file (or configuration) that does not exist."""


_KINDS = ["none", "usage", "switch", "open", "write", "read", "magic", "memory", "parse", "mismatch"]


def library_error(code, text, status, sys_errno, record=0, position=0, seq_code=None):
    """The exception of a library failure (called by the compiled module)."""
    kind = _KINDS[code] if 0 <= code < len(_KINDS) else "unknown"
    message = text.rstrip("\n")
    if kind == "parse":
        if message.endswith("\n."):  # the FASTA reader quotes the line with its line end
            message = message[:-2] + "."
        import re  # only on this path: importing velcorin2 stays light

        found = re.search(r" at position (\d+) of sequence ", message)
        if found and not position:
            position = int(found.group(1))
        elif record:
            message += f" (record {record}{f' {seq_code}' if seq_code else ''}, position {position})"
        exc = ParseError(message)
        exc.record, exc.code, exc.position = record, seq_code or "", position
    elif kind in ("open", "write"):
        number = sys_errno or (_errno.ENAMETOOLONG if "too long" in message else _errno.ENOENT)
        exc = (MissingFileError if number == _errno.ENOENT else FileError)(message)
        exc.errno, exc.strerror = number, _os.strerror(number)
    else:
        exc = DataError(message)
    exc.text, exc.kind, exc.status = text, kind, status
    return exc
