"""File objects as the FASTA reader takes them: bytes through readinto()."""
import gzip
import io


class _Encoded(io.RawIOBase):
    """A text file object read as UTF-8 bytes."""

    def __init__(self, text):
        self._text, self._left = text, b""

    def readable(self):
        return True

    def readinto(self, buf):
        while not self._left:
            piece = self._text.read(len(buf) // 4 or 1)
            if not piece:
                return 0
            self._left = piece.encode("utf-8", "surrogateescape")
        n = min(len(buf), len(self._left))
        buf[:n], self._left = self._left[:n], self._left[n:]
        return n


class _Chained(io.RawIOBase):
    """Bytes already read, then the rest of a file object."""

    def __init__(self, head, rest):
        self._head, self._rest = head, rest

    def readable(self):
        return True

    def readinto(self, buf):
        if self._head:
            n = min(len(buf), len(self._head))
            buf[:n], self._head = self._head[:n], self._head[n:]
            return n
        data = self._rest.read(len(buf))
        buf[:len(data)] = data
        return len(data)


def binary_reader(f):
    """An object whose readinto() gives the sequence bytes of file object `f`:
    text is encoded, gzip data (known by its first bytes) decompressed."""
    if isinstance(f, io.TextIOBase):
        return _Encoded(f)
    if hasattr(f, "peek"):
        head, stream = f.peek(2)[:2], f
    else:
        head = f.read(2)
        stream = io.BufferedReader(_Chained(head, f))
    if head == b"\x1f\x8b":
        return gzip.GzipFile(fileobj=stream, mode="rb")
    if head == b"\x1f\x9d":
        raise ValueError("compress (.Z) data is read from a file name, not from a file object")
    return stream if hasattr(stream, "readinto") else io.BufferedReader(_Chained(b"", stream))
