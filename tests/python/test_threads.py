"""Threads and input order: any number of threads gives the same predictions in
input order; scoring lets go of the GIL; a stream left early stops cleanly."""
import io
import os
import threading
import time

import pytest

from conftest import first_records


def summary(predictions):
    return [(p.scores.tobytes(), p.registers, p.sequence_score) for p in predictions]


def test_any_number_of_threads_gives_the_same_predictions_in_order(model, background):
    one = [(c, t, p) for c, t, p in model.predict_fasta(background)]
    for threads in (2, 3, 8):
        many = list(model.predict_fasta(background, threads=threads))
        assert [(c, t) for c, t, _ in many] == [(c, t) for c, t, _ in one]
        assert summary(p for _, _, p in many) == summary(p for _, _, p in one)
    letters = ["", "LEEKLKA" * 3, b"LEEKLKA" * 9] + [p.sequence.replace("-", "X") for _, _, p in one[:500]]
    by_one = summary(model.predict_many(letters))
    assert summary(model.predict_many(iter(letters), threads=3)) == by_one
    assert by_one[3:] == summary(p for _, _, p in one[:500])


def ticks_inside(work):
    """How often a Python thread that wakes every millisecond ran while `work`
    was inside one call (its first and last 10 ms left out)."""
    stop, ticks = threading.Event(), []

    def tick():
        while not stop.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.001)

    ticker = threading.Thread(target=tick)
    ticker.start()
    started = time.perf_counter()
    work()
    ended = time.perf_counter()
    stop.set()
    ticker.join()
    return sum(started + 0.01 < t < ended - 0.01 for t in ticks)


def test_scoring_lets_other_python_threads_run(model):
    long = "LEEKLKAIEEKLKA" * 10_000
    many = [long[i:i + 20000] for i in range(0, len(long), 20000)] * 12
    assert ticks_inside(lambda: model.predict(long)) >= 3
    assert ticks_inside(lambda: model.predict_many(many, threads=2)) >= 3


def tasks():
    return len(os.listdir("/proc/self/task"))  # native threads too


def test_a_stream_runs_its_threads_and_stops_them_when_left(model, tmp_path):
    (tmp_path / "s.fa").write_bytes(first_records(3000))
    before = tasks()
    for _ in range(3):
        with model.predict_fasta(tmp_path / "s.fa", threads=3) as stream:
            assert next(stream)[0] == "3JUIA" and tasks() == before + 4  # a reader, three workers
        assert list(stream) == [] and tasks() == before
        stream = iter(model.predict_fasta(tmp_path / "s.fa", threads=2))
        next(stream)
        assert tasks() == before + 3
        del stream
    assert tasks() == before


class Blocking(io.RawIOBase):
    """A record whose reading (by the stream, in large pieces) waits until let go."""

    def __init__(self):
        self.entered, self.go, self.data = threading.Event(), threading.Event(), b">x\n" + b"LEEKLKA" * 9 + b"\n"

    def readable(self):
        return True

    def readinto(self, buf):
        if len(buf) > 16:
            self.entered.set()
            self.go.wait()
        n = min(len(buf), len(self.data))
        buf[:n], self.data = self.data[:n], self.data[n:]
        return n


def test_a_stream_refuses_a_second_thread_while_one_reads_it(model):
    source = Blocking()
    stream = model.predict_fasta(source)
    got = []
    first = threading.Thread(target=lambda: got.extend(stream))
    first.start()
    assert source.entered.wait(10)
    with pytest.raises(ValueError, match="another thread"):
        next(stream)
    with pytest.raises(ValueError, match="another thread"):
        stream.close()
    source.go.set()
    first.join()
    assert [code for code, _, _ in got] == ["x"]
