"""Concurrent calls from several Python threads give the same results as serial ones."""

import gc
import threading
import time

import plinth
from conftest import write_textgrid


def test_concurrent_calls_agree_with_serial(tmp_path):
    paths = []
    for i in range(8):
        items = [(k / 4, (k + 1) / 4, f"{i}-{k}") for k in range(50 + 30 * i)]
        grid = (0.0, items[-1][1], [(f"tier{i}", True, items), ("pts", False, [(0.1, 0.1, "p")])])
        paths.append(write_textgrid(tmp_path / f"{i}.TextGrid", grid, "long" if i % 2 else "short"))
    out_dir = tmp_path / "out"
    out_dir.mkdir()

    def work(index, tag="serial"):
        path = paths[index % len(paths)]
        data = plinth.textgrid2data(path, True, "auto")
        vectors = plinth.textgrid2vectors(path, True, "auto")
        # Above the parallel threshold: the six callers share the pool's workers.
        batch = plinth.textgrids2data(paths * 12, True, "auto")
        columns = plinth.textgrids2vectors(paths * 12, True, "auto")
        out = str(out_dir / f"{tag}-{index}.TextGrid")
        plinth.data2textgrid(data[2], data[0], data[1], out, "long")
        written = plinth.textgrid2data(out, True, "long")
        plinth.vectors2textgrid(*vectors, data[0], data[1], out, "short")
        rewritten = plinth.textgrid2data(out, True, "short")
        return (
            data,
            [c.tolist() if hasattr(c, "tolist") else c for c in vectors],
            batch,
            [c.tolist() if hasattr(c, "tolist") else c for c in columns],
            written,
            rewritten,
        )

    expected = [work(i) for i in range(len(paths))]
    results: dict[tuple[int, int], object] = {}
    errors: list[BaseException] = []
    barrier = threading.Barrier(6)

    def thread_main(t):
        try:
            barrier.wait()
            for round_ in range(10):
                index = (t + round_) % len(paths)
                results[(t, round_)] = (index, work(index, f"t{t}"))
        except BaseException as error:  # noqa: BLE001 - reported below
            errors.append(error)

    threads = [threading.Thread(target=thread_main, args=(t,)) for t in range(6)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=300)
    assert not errors, errors
    assert len(results) == 60
    for index, got in results.values():
        assert got == expected[index]
        assert got[4] == got[0] and got[5] == got[0]


def test_other_threads_run_while_a_batch_reads(tmp_path):
    # The calling thread lets go of the interpreter lock while it reads a file
    # or waits for one: a Python thread keeps counting through the call.
    items = [(k / 4, (k + 1) / 4, f"w{k}") for k in range(3000)]
    path = write_textgrid(tmp_path / "big.TextGrid", (0.0, 750.0, [("w", True, items)]), "long")
    count = [0]
    done = threading.Event()

    def counter():
        while not done.is_set():
            count[0] += 1

    thread = threading.Thread(target=counter)
    thread.start()
    try:
        for call in (plinth.textgrids2data, plinth.textgrids2vectors):
            before = count[0]
            result = call([path] * 60, True, "auto")
            assert count[0] > before, call
            assert len(result) == 60 if call is plinth.textgrids2data else len(result[0]) == 180000
    finally:
        done.set()
        thread.join()


def test_other_threads_run_throughout_a_table_read(tmp_path):
    # textgrids2table makes no Python object while it reads: it lets go of
    # the interpreter lock for the whole read, not only now and then.
    items = [(k / 4, (k + 1) / 4, f"w{k}") for k in range(3000)]
    path = write_textgrid(tmp_path / "big.TextGrid", (0.0, 750.0, [("w", True, items)]), "long")
    paths = [path] * 60
    start = time.monotonic()
    plinth.textgrids2table(paths, True, "auto")
    paths *= max(1, int(0.6 / (time.monotonic() - start)))  # a read of about 0.6 s
    times = []
    done = threading.Event()

    def ticker():
        while not done.is_set():
            times.append(time.monotonic())
            time.sleep(0.001)

    thread = threading.Thread(target=ticker)
    thread.start()
    try:
        time.sleep(0.05)
        start = time.monotonic()
        table = plinth.textgrids2table(paths, True, "auto")
        end = time.monotonic()
    finally:
        done.set()
        thread.join()
    assert len(table) == 3000 * len(paths)
    during = [start] + [t for t in times if start < t < end] + [end]
    gaps = sorted(b - a for a, b in zip(during, during[1:]))
    assert gaps[-1] < 0.08, (gaps[-5:], end - start)


def test_the_collector_state_is_left_to_the_caller(tmp_path):
    # No call switches the collector off where other threads (or a child
    # forked meanwhile) would see it, and a switch made by another thread
    # during a call stays as that thread left it.
    items = [(k / 4, (k + 1) / 4, f"w{k}") for k in range(3000)]
    path = write_textgrid(tmp_path / "big.TextGrid", (0.0, 750.0, [("w", True, items)]), "long")
    calls = [plinth.textgrid2data, plinth.textgrid2vectors]
    batches = [plinth.textgrids2data, plinth.textgrids2vectors]
    seen = set()
    done = threading.Event()

    def watcher():
        while not done.is_set():
            seen.add(gc.isenabled())

    thread = threading.Thread(target=watcher)
    thread.start()
    try:
        for _ in range(5):
            for call in calls:
                call(path, True, "auto")
            for call in batches:
                call([path] * 20, True, "auto")
    finally:
        done.set()
        thread.join()
    assert seen == {True}

    for call in batches:
        switched = threading.Thread(target=lambda: (time.sleep(0.01), gc.disable()))
        try:
            switched.start()
            call([path] * 200, True, "auto")
            switched.join()
            assert not gc.isenabled(), call
        finally:
            gc.enable()


def test_first_numpy_use_from_many_threads(tmp_path):
    # The first array of a fresh process is made from several threads at once.
    import subprocess
    import sys
    import textwrap

    code = textwrap.dedent("""
        import threading, plinth
        barrier = threading.Barrier(8)
        out = []
        def run():
            barrier.wait()
            out.append(len(plinth.textgrids2vectors([], True, 'auto')))
        ts = [threading.Thread(target=run) for _ in range(8)]
        [t.start() for t in ts]; [t.join() for t in ts]
        print(out)
    """)
    result = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, timeout=120
    )
    assert result.stdout.strip() == str([6] * 8), result.stderr
