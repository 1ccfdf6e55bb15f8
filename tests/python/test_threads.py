"""Threads and input order: any number of threads gives the same predictions in
input order; scoring lets go of the GIL; a stream left early stops cleanly."""
import threading
import time

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


def test_a_stream_left_early_stops_its_threads(model, tmp_path):
    (tmp_path / "s.fa").write_bytes(first_records(3000))
    before = threading.active_count()
    for _ in range(3):
        with model.predict_fasta(tmp_path / "s.fa", threads=3) as stream:
            assert next(stream)[0] == "3JUIA"
        assert list(stream) == []
        stream = iter(model.predict_fasta(tmp_path / "s.fa", threads=2))
        next(stream)
        del stream
    assert threading.active_count() == before
