"""Many threads and processes at once, interrupts between calls, and writes
that fail: the module gives the same results as one caller alone, and a
failed write never leaves a damaged file behind."""

import multiprocessing
import os
import signal
import subprocess
import sys
import textwrap
import threading
import time
import _thread

import pytest

import plinth
from conftest import as_nobody, long_text
from test_bad_input import open_dir  # noqa: F401 - a fixture

# Forking a process whose pool threads run is what several cases here are about.
pytestmark = pytest.mark.filterwarnings(
    "ignore:This process .* is multi-threaded:DeprecationWarning"
)

# Large enough for the worker pool on any machine of up to 100 CPUs.
BIG = 3000


def make_data(items, name="words"):
    tier = (name, True, [(i * 0.5, (i + 1) * 0.5, f'w{i} "q"\n{i}') for i in range(items)])
    points = ("marks", False, [(i * 0.5 + 0.25, i * 0.5 + 0.25, f"p{i}") for i in range(items)])
    return [tier, points]


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    """Files in both layouts, one of them with tiers large enough for the pool."""
    folder = tmp_path_factory.mktemp("corpus")
    files = []
    for index, (items, layout) in enumerate(
        [(BIG, "long"), (5, "short"), (BIG, "short"), (1, "long")]
    ):
        path = str(folder / f"grid{index}.TextGrid")
        plinth.data2textgrid(make_data(items), 0.0, items * 0.5, path, layout)
        files.append(path)
    return folder, files


def all_six(folder, files, tag):
    """Calls every function once; returns what a single caller must also get."""
    results = [plinth.textgrid2data(path, True, "auto") for path in files]
    results.append(plinth.textgrids2data(files, True, "auto"))
    columns = [plinth.textgrid2vectors(path, True, "auto") for path in files]
    batch = plinth.textgrids2vectors(files, False, "auto")
    out_data = str(folder / f"out-{tag}-data.TextGrid")
    out_vectors = str(folder / f"out-{tag}-vectors.TextGrid")
    _, _, tiers = results[0]
    plinth.data2textgrid(tiers, None, None, out_data, "long")
    tmins, tmaxs, labels, names, flags = columns[2]
    plinth.vectors2textgrid(tmins, tmaxs, labels, names, flags, None, None, out_vectors, "short")
    results.append(plinth.textgrid2data(out_data, True, "long"))
    results.append(plinth.textgrid2data(out_vectors, True, "short"))
    plain = lambda cols: [list(column) for column in cols]  # noqa: E731
    results.extend(plain(cols) for cols in columns)
    results.append(plain(batch))
    return results


def test_many_threads_calling_all_six_functions(corpus):
    folder, files = corpus
    expected = all_six(folder, files, "alone")
    threads, failures, results = 8, [], {}
    start = threading.Barrier(threads)

    def run(worker):
        try:
            start.wait()
            for round_ in range(3):
                results[worker, round_] = all_six(folder, files, f"{worker}-{round_}")
        except BaseException as error:  # noqa: BLE001 - reported below
            failures.append(repr(error))

    pool = [threading.Thread(target=run, args=(worker,)) for worker in range(threads)]
    for thread in pool:
        thread.start()
    for thread in pool:
        thread.join(timeout=300)
    assert not any(thread.is_alive() for thread in pool), "a call hung"
    assert failures == []
    assert len(results) == threads * 3
    assert all(result == expected for result in results.values())


def wait_for(pid, seconds=120):
    """The child's exit status; kills it and fails when it hangs."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.05)
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    pytest.fail("the forked child hung")


def test_fork_after_the_pool_started(corpus):
    folder, files = corpus
    expected = all_six(folder, files, "parent")  # the pool runs from here on
    pid = os.fork()
    if pid == 0:
        code = 1
        try:
            code = 0 if all_six(folder, files, "child") == expected else 2
        finally:
            os._exit(code)
    assert wait_for(pid) == 0
    # The parent's pool is untouched by the child.
    assert all_six(folder, files, "parent-after") == expected


def test_fork_while_other_threads_use_the_pool(corpus):
    folder, files = corpus
    expected = plinth.textgrids2data(files, True, "auto")
    stop = threading.Event()

    def busy():
        while not stop.is_set():
            plinth.textgrids2data(files, True, "auto")

    helper = threading.Thread(target=busy)
    helper.start()
    try:
        children = []
        for _ in range(5):
            pid = os.fork()
            if pid == 0:
                ok = plinth.textgrids2data(files, True, "auto") == expected
                os._exit(0 if ok else 2)
            children.append(pid)
        assert [wait_for(pid) for pid in children] == [0] * 5
    finally:
        stop.set()
        helper.join()


@pytest.mark.parametrize("method", ["fork", "spawn"])
def test_multiprocessing_start_methods(corpus, method):
    _, files = corpus
    plinth.textgrids2data(files, True, "auto")  # start the pool before forking
    expected = [plinth.textgrid2data(path, True, "auto") for path in files]
    context = multiprocessing.get_context(method)
    with context.Pool(2) as pool:
        got = pool.starmap(
            plinth.textgrid2data, [(path, True, "auto") for path in files], chunksize=1
        )
        batches = pool.starmap(plinth.textgrids2data, [(files, True, "auto")] * 2)
    assert got == expected
    assert batches == [expected, expected]


# CPython 3.13.0 at times lets an asynchronous KeyboardInterrupt pass an
# enclosing "except KeyboardInterrupt" (seen with pure Python loops too).
async_interrupts = pytest.mark.skipif(
    sys.version_info[:3] == (3, 13, 0),
    reason="CPython 3.13.0 can let an asynchronous KeyboardInterrupt escape its handler",
)


@pytest.fixture
def default_sigint():
    # A test run started in the background (a CI job, "cmd &" in a script)
    # inherits an ignored SIGINT, and then interrupt_main() does nothing.
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    yield
    signal.signal(signal.SIGINT, previous)


@async_interrupts
@pytest.mark.usefixtures("default_sigint")
def test_keyboard_interrupt_between_calls_leaves_the_module_usable(corpus):
    folder, files = corpus
    expected = plinth.textgrids2data(files, True, "auto")
    plinth.textgrid2vectors(files[0], True, "auto")  # NumPy loaded: only calls to interrupt
    interrupted = 0
    for delay in (0.0, 0.001, 0.01, 0.05):
        timer = threading.Timer(delay, _thread.interrupt_main)
        try:
            timer.start()
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline:
                plinth.textgrids2data(files, True, "auto")
                plinth.textgrid2vectors(files[0], True, "auto")
        except KeyboardInterrupt:
            interrupted += 1
        finally:
            timer.join()
    assert interrupted == 4
    assert plinth.textgrids2data(files, True, "auto") == expected
    assert all_six(folder, files, "after-interrupt")[4] == expected


@async_interrupts
def test_sigint_from_a_thread_loop(corpus):
    _, files = corpus
    expected = plinth.textgrid2data(files[0], True, "auto")
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    ready = threading.Event()
    rounds = 5

    def signaller():
        # One signal for each round that the main thread has entered, at
        # varying points of its loop of calls.
        for round_ in range(rounds):
            ready.wait()
            ready.clear()
            time.sleep(0.003 * round_)
            os.kill(os.getpid(), signal.SIGINT)

    thread = threading.Thread(target=signaller, daemon=True)
    thread.start()
    caught = 0
    try:
        for _ in range(rounds):
            try:
                ready.set()
                deadline = time.monotonic() + 10
                while time.monotonic() < deadline:
                    assert plinth.textgrid2data(files[0], True, "auto") == expected
                    assert len(plinth.textgrids2data(files, True, "auto")) == len(files)
            except KeyboardInterrupt:
                caught += 1
    finally:
        thread.join()
        signal.signal(signal.SIGINT, previous)
    assert caught == rounds
    assert plinth.textgrid2data(files[0], True, "auto") == expected


@async_interrupts
@pytest.mark.usefixtures("default_sigint")
@pytest.mark.parametrize("function", [plinth.textgrids2data, plinth.textgrids2vectors])
def test_ctrl_c_stops_a_batch_of_regular_files_within_a_second(tmp_path, function):
    # Regular files never wait, so the stop is asked between files too. Each
    # file is mostly lines that the reader skips: a batch of seconds that
    # makes few objects.
    grid = (0.0, 1.0, [("w", True, [(0.0, 1.0, "a")])])
    small = str(tmp_path / "padded.TextGrid")
    with open(small, "w") as out:
        out.write(long_text(*grid).replace("item []:", "x = 0\n" * 40_000 + "item []:"))
    start = time.monotonic()
    function([small] * 2000, True, "auto")
    per_file = (time.monotonic() - start) / 2000
    count = min(400_000, int(4.0 / per_file))  # a batch of seconds
    timer = threading.Timer(0.3, _thread.interrupt_main)
    start = time.monotonic()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        function([small] * count, True, "auto")
    timer.join()
    assert time.monotonic() - start < 1.3, (count, per_file)


FIRST_ARRAYS = textwrap.dedent(
    """
    import signal, sys, threading, time, _thread, plinth
    path, delay = sys.argv[1], float(sys.argv[2])
    signal.signal(signal.SIGINT, signal.default_int_handler)  # even if started ignored
    timer = threading.Timer(delay, _thread.interrupt_main)
    try:
        timer.start()
        plinth.textgrid2vectors(path, False, "auto")
        time.sleep(1)
        first = "no interrupt"
    except BaseException as error:
        first = type(error).__name__ + " from " + type(error.__cause__).__name__
    finally:
        timer.join()
    plinth.textgrid2data(path, False, "auto")
    print(first)
    """
)


@async_interrupts
@pytest.mark.parametrize("delay", [0.0, 0.001, 0.003, 0.01, 0.03])
def test_keyboard_interrupt_while_numpy_loads(corpus, delay):
    # The first array of a process loads NumPy; an interrupt that lands in
    # that import is the caller's KeyboardInterrupt, not an internal fault.
    # (NumPy's own import may turn it into an ImportError first: that one is
    # a NumPy that cannot be loaded.)
    _, files = corpus
    done = subprocess.run(
        [sys.executable, "-c", FIRST_ARRAYS, files[3], str(delay)],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() in {
        "KeyboardInterrupt from NoneType",
        "InternalError from ImportError",
    }


INVALID_WRITES = [
    # (function, arguments before the path, the core's message)
    (
        "data2textgrid",
        ([("t", True, [(0.0, 2.0, "a"), (1.0, 3.0, "b")])], 0.0, 3.0),
        "Items 0 and 1 overlap in tier t",
    ),
    ("data2textgrid", ([], None, None), "Time bounds should be non-negative in TextGrid"),
    (
        "data2textgrid",
        ([("t", True, [(0.0, 1.0, "a")])], -1.0, 1.0),
        "Time bounds should be non-negative in TextGrid",
    ),
    (
        "vectors2textgrid",
        ([0.0, 1.0], [1.0], ["a", "b"], ["t", "t"], [True, True], None, None),
        "Input vectors must have the same length",
    ),
    (
        "vectors2textgrid",
        ([0.0, 0.5], [1.0, 2.0], ["a", "b"], ["t", "t"], [True, True], 0.0, 2.0),
        "Items 0 and 1 overlap in tier t",
    ),
]


@pytest.mark.parametrize("layout", ["long", "short"])
@pytest.mark.parametrize("function, arguments, message", INVALID_WRITES)
def test_validation_failure_touches_no_file(tmp_path, function, arguments, message, layout):
    existing = tmp_path / "existing.TextGrid"
    existing.write_bytes(b"precious \x00 bytes")
    os.utime(existing, (1_000_000, 1_000_000))
    missing = tmp_path / "missing.TextGrid"
    for path in (existing, missing):
        with pytest.raises(OSError) as caught:
            getattr(plinth, function)(*arguments, str(path), layout)
        assert str(caught.value) == f"Failed to create TextGrid because: {message}"
    assert existing.read_bytes() == b"precious \x00 bytes"
    assert existing.stat().st_mtime == 1_000_000
    assert not missing.exists()


GOOD = ([("t", True, [(0.0, 1.0, "a")])], None, None)


@pytest.mark.parametrize("layout", ["long", "short"])
def test_write_errors_carry_the_system_text(tmp_path, layout):
    cases = [
        ("/dev/full", "No space left on device (os error 28)", OSError),
        (str(tmp_path), "Is a directory (os error 21)", IsADirectoryError),
        (
            str(tmp_path / "no" / "such.TextGrid"),
            "No such file or directory (os error 2)",
            FileNotFoundError,
        ),
        (str(tmp_path / "file") + "/child", "Not a directory (os error 20)", NotADirectoryError),
        ("", "No such file or directory (os error 2)", FileNotFoundError),
    ]
    (tmp_path / "file").write_text("x")
    for path, text, kind in cases:
        for write in (
            lambda: plinth.data2textgrid(*GOOD, path, layout),
            lambda: plinth.vectors2textgrid(
                [0.0], [1.0], ["a"], ["t"], [True], None, None, path, layout
            ),
        ):
            with pytest.raises(OSError) as caught:
                write()
            assert str(caught.value).endswith(text), (path, str(caught.value))
            assert type(caught.value) is kind and caught.value.errno is None
            assert not str(caught.value).startswith("Failed to create TextGrid because: ")
    assert not (tmp_path / "no").exists()


def test_write_without_permission(open_dir):
    folder = open_dir / "locked"
    folder.mkdir()
    os.chmod(folder, 0o555)
    target = str(folder / "out.TextGrid")
    if os.geteuid() != 0:
        with pytest.raises(PermissionError, match=r"Permission denied \(os error 13\)$"):
            plinth.data2textgrid(*GOOD, target, "long")
        return
    message = as_nobody(lambda: plinth.data2textgrid(*GOOD, target, "long"), "written")
    assert message.endswith("Permission denied (os error 13)"), message
    assert not os.path.exists(target)
