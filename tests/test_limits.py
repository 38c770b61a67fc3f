"""Hostile conditions: a process limit on threads, crafted files against an
address-space limit, a write that fails part way, a read that waits for ever.
Each runs in a child process, since what it guards against aborts the process,
exhausts the machine or hangs."""

import os
import pathlib
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import textwrap
import threading
import traceback

import pytest

import plinth
from conftest import as_nobody, long_text, write_textgrid

# The children that must start from this process's state are forked, and the
# interpreter warns about forking with the pool's threads alive.
pytestmark = pytest.mark.filterwarnings(
    "ignore:This process .* is multi-threaded:DeprecationWarning"
)

NOBODY = 65534
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")
READERS = ["textgrid2data", "textgrid2vectors", "textgrids2data", "textgrids2vectors"]
HEADER = 'File type = "ooTextFile"\nObject class = "TextGrid"\n\n'


def run_child(code, *args, preexec_fn=None, env=None, timeout=120):
    """Runs `code` in a fresh interpreter; returns its stdout lines, failing
    with its stderr when it did not exit cleanly."""

    def prepare():
        # Ctrl-C as in a terminal, however the suite itself was started (a
        # shell's background job ignores SIGINT, and so would the child).
        signal.signal(signal.SIGINT, signal.SIG_DFL)
        if preexec_fn is not None:
            preexec_fn()

    done = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code), *map(str, args)],
        capture_output=True,
        text=True,
        timeout=timeout,
        preexec_fn=prepare,
        env={**os.environ, "OPENBLAS_NUM_THREADS": "1", **(env or {})},
    )
    assert done.returncode == 0, f"exit {done.returncode}: {done.stderr[-2000:]}"
    return done.stdout.split()


@pytest.fixture
def open_dir():
    """A folder that the user nobody may read (pytest's own are the owner's only)."""
    folder = tempfile.mkdtemp(prefix="plinth-")
    os.chmod(folder, 0o755)
    yield pathlib.Path(folder)
    shutil.rmtree(folder, ignore_errors=True)


# -- 1. The pool under a process limit -------------------------------------


def tasks_of(uid):
    count = 0
    for task in pathlib.Path("/proc").glob("[0-9]*/task/*/status"):
        try:
            uids = next(line for line in task.read_text().splitlines() if line.startswith("Uid:"))
        except (OSError, StopIteration):
            continue
        count += int(uids.split()[1]) == uid
    return count


def fork_limited(limit, body):
    """Runs `body` in a forked child as nobody (root ignores the limit) with
    at most `limit` tasks of that user; returns what it returned, as text, or
    fails when the child died (the pool's fault aborted it)."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        code = 1
        try:
            os.setgroups([])
            os.setgid(NOBODY)
            os.setuid(NOBODY)
            resource.setrlimit(resource.RLIMIT_NPROC, (limit, limit))
            os.write(write_end, repr(body()).encode())
            code = 0
        except BaseException:
            traceback.print_exc()
        finally:
            os._exit(code)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as pipe:
        out = pipe.read().decode()
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0, f"the child ended with {status:#x}"
    return out


@pytest.mark.skipif(os.geteuid() != 0, reason="needs root to become nobody")
@pytest.mark.skipif(
    UNDER_ASAN,
    reason="a preloaded AddressSanitizer cannot pass on the "
    "exception of a failed thread start (no real __cxa_throw)",
)
@pytest.mark.parametrize("threads", [0, 1])
def test_pool_runs_with_the_threads_it_could_start(open_dir, threads, monkeypatch):
    # With room for `threads` threads besides the child's own: its pool wants
    # four workers and gets fewer, or none; every call still completes, and
    # the next one too.
    small = str(open_dir / "small.TextGrid")
    pathlib.Path(small).write_text(long_text(0, 3, [("t", True, [(0, 1, "a"), (1, 3, "b")])]))
    large = str(open_dir / "large.TextGrid")
    pathlib.Path(large).write_text(
        long_text(0, 5000, [("t", True, [(i, i + 1, "x") for i in range(5000)])])
    )
    monkeypatch.setenv("PLINTH_NUM_THREADS", "4")
    plinth.textgrid2vectors(small, True, "long")  # NumPy (and its threads) loaded here

    def calls():
        out = []
        for _ in range(2):
            grids = plinth.textgrids2data([small] * 200, True, "long")
            columns = plinth.textgrids2vectors([small] * 200, True, "long")
            _, _, tiers = plinth.textgrid2data(large, True, "long")
            out.append((len(grids), grids[-1][2][0][2][-1][2], len(columns[0]), len(tiers[0][2])))
        return out

    expected = [(200, "b", 400, 5000)] * 2
    assert fork_limited(tasks_of(NOBODY) + 1 + threads, calls) == repr(expected)


# -- 2 and 3. Memory bounded by the file, not by names or declared counts ---


def long_name_file(path):
    # 800 KB in the short layout: one point tier of 100,000 points whose name
    # is 100 KB long.
    points = "".join('0.5\n""\n' for _ in range(100_000))
    path.write_text(
        HEADER + f'0\n1\n<exists>\n1\n"TextTier"\n"{"n" * 100_000}"\n0\n1\n100000\n' + points
    )


def huge_counts_file(path):
    # 1 MB in the long layout: 20,000 tiers, each declaring 2^64 - 1 intervals.
    tier = "item [1]:\nintervals: size = 18446744073709551615\n"
    path.write_text(HEADER + "xmin = 0\nxmax = 1\nsize = 20000\nitem []:\n" + tier * 20_000)


MEMORY_CHILD = """
    import resource, sys, plinth

    function, path, tiny, budget = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    read = getattr(plinth, function)
    arg = (lambda p: [p]) if function.startswith("textgrids") else (lambda p: p)
    read(arg(tiny), False, "auto")  # NumPy, the pool and the arenas in place first
    with open("/proc/self/statm") as statm:
        size = int(statm.read().split()[0]) * resource.getpagesize()
    resource.setrlimit(resource.RLIMIT_AS, (size + budget, resource.RLIM_INFINITY))
    result = read(arg(path), False, "auto")
    if function == "textgrids2data":
        result = result[0]
    if function.endswith("2data"):
        print(len(result[2]), sum(len(items) for _, _, items in result[2]))
    else:
        print(len(set(map(id, result[3]))), len(result[0]))
"""


@pytest.mark.skipif(
    UNDER_ASAN, reason="AddressSanitizer needs more address space than the limit leaves"
)
@pytest.mark.parametrize("function", READERS)
@pytest.mark.parametrize(
    "crafted, expected",
    [
        (long_name_file, {"2data": ["1", "100000"], "2vectors": ["1", "100000"]}),
        (huge_counts_file, {"2data": ["20000", "0"], "2vectors": ["0", "0"]}),
    ],
)
def test_reads_stay_within_a_multiple_of_the_file(tmp_path, function, crafted, expected):
    path = tmp_path / "crafted.TextGrid"
    crafted(path)
    tiny = tmp_path / "tiny.TextGrid"
    tiny.write_text(long_text(0, 1, [("t", True, [(0, 1, "a")])]))
    # Well under 100 MB beyond the interpreter, the returned objects included.
    out = run_child(MEMORY_CHILD, function, path, tiny, 100 << 20, env={"MALLOC_ARENA_MAX": "1"})
    assert out == expected["2data" if function.endswith("2data") else "2vectors"]


@pytest.mark.skipif(
    UNDER_ASAN, reason="AddressSanitizer needs more address space than the limit leaves"
)
def test_a_long_tier_name_shared_by_many_entries_is_copied_once(tmp_path):
    code = """
        import resource, sys, plinth
        name = "n" * 100_000
        count = 20_000
        columns = ([float(i) for i in range(count)], [i + 1.0 for i in range(count)],
                   ["x"] * count, [name] * count, [True] * count)
        with open("/proc/self/statm") as statm:
            size = int(statm.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (size + (100 << 20), resource.RLIM_INFINITY))
        plinth.vectors2textgrid(*columns, None, None, sys.argv[1], "short")
        print("written")
    """
    out_file = tmp_path / "out.TextGrid"
    assert run_child(code, out_file, env={"MALLOC_ARENA_MAX": "1"}) == ["written"]
    _, _, labels, names, _ = plinth.textgrid2vectors(str(out_file), True, "short")
    assert len(labels) == 20_000 and len(set(map(id, names))) == 1 and names[0] == "n" * 100_000


def test_a_table_read_holds_a_few_files_texts_at_a_time(tmp_path):
    # One row in 1 MiB of text that the reader skips: each file's text must
    # go once its row is in the batch, however few rows the batch holds.
    padding = "x = 0\n" * ((1 << 20) // 6)
    text = long_text(0.0, 1.0, [("w", True, [(0.0, 1.0, "a")])]).replace(
        "item []:", padding + "item []:"
    )
    path = tmp_path / "padded.TextGrid"
    path.write_text(text)
    code = """
        import resource, sys, plinth
        paths = [sys.argv[1]] * 3200
        plinth.textgrids2table(paths[:20], True, "long")
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        table = plinth.textgrids2table(paths, True, "long")
        after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        print(len(table), (after - before) >> 10)
    """
    rows, grown_mib = run_child(code, path, env={"PLINTH_NUM_THREADS": "2"})
    assert rows == "3200"
    # Two threads read 8 files ahead each: about 17 texts held, not hundreds.
    assert int(grown_mib) < 40


@pytest.mark.skipif(
    UNDER_ASAN, reason="AddressSanitizer's allocator aborts where an allocation would fail"
)
def test_a_file_too_large_for_memory_fails_alone_in_a_batch(tmp_path):
    # A 5 GB file (sparse) and an endless device, under an address-space
    # limit: each fails alone with its message; the other files are read.
    good = write_textgrid(tmp_path / "good.TextGrid", (0.0, 1.0, [("w", True, [(0.0, 1.0, "a")])]))
    huge = tmp_path / "huge.TextGrid"
    with open(huge, "wb") as out:
        out.truncate(5 << 30)
    code = """
        import resource, sys, plinth
        with open("/proc/self/statm") as statm:
            size = int(statm.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (size + (600 << 20), resource.RLIM_INFINITY))
        files = [sys.argv[1], "/dev/zero", sys.argv[2], sys.argv[1]]
        print(*[len(grid[2]) for grid in plinth.textgrids2data(files, True, "auto")])
        print(*sorted(set(plinth.textgrids2vectors(files, True, "auto")[5].tolist())))
        for position, message in plinth.textgrids2table(files, True, "auto").failed.items():
            print(position, message.replace(" ", "_"))
    """
    lines = run_child(code, good, huge)
    assert lines == [
        *["1", "0", "0", "1"],  # tiers per file
        *["0", "3"],  # the files that gave entries
        "1",
        "Failed_to_read_TextGrid_file_/dev/zero_because:_Cannot_allocate_memory_(os_error_12)",
        "2",
        f"Failed_to_read_TextGrid_file_{huge}_because:_File_too_large_to_read:_5368709120_bytes",
    ]


# -- 4. A failed write leaves the target as it was ---------------------------


def big_grid(count=2000):
    return [("words", True, [(float(i), i + 1.0, f"word {i}") for i in range(count)])]


WRITE_CHILD = """
    import resource, signal, sys, plinth
    target, limit = sys.argv[1], int(sys.argv[2])
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    data = [("words", True, [(float(i), i + 1.0, f"word {i}") for i in range(2000)])]
    for write in (lambda: plinth.data2textgrid(data, None, None, target, "long"),
                  lambda: plinth.vectors2textgrid(
                      [float(i) for i in range(2000)], [i + 1.0 for i in range(2000)],
                      ["x" * 40] * 2000, ["words"] * 2000, [True] * 2000, None, None, target, "short")):
        try:
            write()
            print("written")
        except OSError as error:
            print(str(error).split(" because: ")[1].replace(" ", "_"))
"""


@pytest.fixture
def tiny_tmpfs():
    """A 64 KB tmpfs, or a skip where this process may not mount one."""
    folder = tempfile.mkdtemp(prefix="plinth-tmpfs-")
    mounted = (
        subprocess.run(
            ["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", folder], capture_output=True
        ).returncode
        == 0
    )
    if not mounted:
        os.rmdir(folder)
        pytest.skip("cannot mount a tmpfs here")
    yield pathlib.Path(folder)
    subprocess.run(["umount", folder], check=True)
    os.rmdir(folder)


@pytest.mark.parametrize("failure", ["file size limit", "full file system"])
def test_failed_write_keeps_the_previous_file(tmp_path, request, failure):
    folder = request.getfixturevalue("tiny_tmpfs") if failure == "full file system" else tmp_path
    target = folder / "grid.TextGrid"
    # The previous TextGrid: 2,000 intervals, about 40 KB in the short layout.
    plinth.data2textgrid(big_grid(), None, None, str(target), "short")
    os.chmod(target, 0o640)
    before = target.read_bytes()
    if failure == "file size limit":
        out = run_child(WRITE_CHILD, target, len(before) + 1000)
        assert out == ["File_too_large_(os_error_27)"] * 2
    else:
        for write in (
            lambda: plinth.data2textgrid(big_grid(), None, None, str(target), "long"),
            lambda: plinth.vectors2textgrid(
                [0.0] * 3000,
                [1.0] * 3000,
                ["x" * 20] * 3000,
                [f"t{i}" for i in range(3000)],
                [True] * 3000,
                None,
                None,
                str(target),
                "long",
            ),
        ):
            with pytest.raises(OSError, match=r"No space left on device \(os error 28\)$"):
                write()
    assert target.read_bytes() == before
    assert stat.S_IMODE(target.stat().st_mode) == 0o640
    assert os.listdir(folder) == ["grid.TextGrid"]  # no temporary left behind


def save(target):
    plinth.data2textgrid(big_grid(3), None, None, str(target), "short")


def fifo_reader(path, out):
    with open(path, "rb") as fifo:
        out.append(fifo.read())


@pytest.mark.parametrize(
    "case",
    [
        "new file",
        "existing mode",
        "symbolic link",
        "FIFO",
        "/dev/null",
        "unwritable folder, writable file",
        "writable folder, read-only file",
    ],
)
def test_save_keeps_what_callers_see(open_dir, case):
    target = open_dir / "grid.TextGrid"
    expected = sorted(["grid.TextGrid"])
    if case == "new file":
        old = os.umask(0o027)
        try:
            save(target)
        finally:
            os.umask(old)
        assert stat.S_IMODE(target.stat().st_mode) == 0o640
    elif case == "existing mode":
        target.write_text("old")
        os.chmod(target, 0o604)
        save(target)
        assert stat.S_IMODE(target.stat().st_mode) == 0o604
    elif case == "symbolic link":
        (open_dir / "real").mkdir()
        real = open_dir / "real" / "file.TextGrid"
        real.write_text("old")
        os.chmod(real, 0o600)
        target.symlink_to("real/file.TextGrid")
        save(target)
        assert target.is_symlink() and os.readlink(target) == "real/file.TextGrid"
        assert stat.S_IMODE(real.stat().st_mode) == 0o600
        assert os.listdir(open_dir / "real") == ["file.TextGrid"]
        expected = sorted(["grid.TextGrid", "real"])
    elif case == "FIFO":
        os.mkfifo(target)
        out = []
        reader = threading.Thread(target=fifo_reader, args=(target, out))
        reader.start()
        save(target)
        reader.join(10)
        assert stat.S_ISFIFO(target.stat().st_mode)
        assert out[0].startswith(b'File type = "ooTextFile"')
        return
    elif case == "/dev/null":
        save("/dev/null")
        assert stat.S_ISCHR(os.stat("/dev/null").st_mode)
        assert os.listdir(open_dir) == []
        return
    elif case == "writable folder, read-only file":
        target.write_text("old")
        os.chmod(target, 0o444)
        os.chmod(open_dir, 0o777)
        try:
            if os.geteuid() == 0:
                message = as_nobody(lambda: save(target), "written")
            else:
                with pytest.raises(OSError) as caught:
                    save(target)
                message = str(caught.value)
        finally:
            os.chmod(open_dir, 0o755)
        assert message.endswith("Permission denied (os error 13)"), message
        assert target.read_text() == "old" and os.listdir(open_dir) == ["grid.TextGrid"]
        return
    else:
        target.write_text("old")
        os.chmod(target, 0o666)
        os.chmod(open_dir, 0o555)
        try:
            if os.geteuid() == 0:
                assert as_nobody(lambda: save(target), "written") == "written"
            else:
                save(target)
        finally:
            os.chmod(open_dir, 0o755)
    assert sorted(os.listdir(open_dir)) == expected
    assert plinth.textgrid2data(str(target), True, "short")[2] == big_grid(3)


# -- 5. A read or write that waits can be interrupted -------------------------

INTERRUPT_CHILD = """
    import gc, os, signal, sys, threading, time, plinth
    function, fifo = sys.argv[1], sys.argv[2]
    calls = {
        "textgrid2data": lambda: plinth.textgrid2data(fifo, False, "auto"),
        "textgrid2vectors": lambda: plinth.textgrid2vectors(fifo, False, "long"),
        "textgrids2data": lambda: plinth.textgrids2data([fifo] * 3, False, "short"),
        "textgrids2vectors": lambda: plinth.textgrids2vectors([fifo] * 100, False, "auto"),
        "textgrid2table": lambda: plinth.textgrid2table(fifo, False, "auto"),
        "textgrids2table": lambda: plinth.textgrids2table([fifo] * 100, False, "auto"),
        "data2textgrid": lambda: plinth.data2textgrid(
            [("t", True, [(0.0, 1.0, "a")])], None, None, fifo, "long"),
    }
    # Other threads keep running while the call waits.
    ticks = []
    threading.Thread(target=lambda: [ticks.append(time.sleep(0.05)) for _ in range(10)],
                     daemon=True).start()
    sent = []
    def interrupt():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)
    threading.Timer(0.5, interrupt).start()
    try:
        calls[function]()
        print("returned")
    except KeyboardInterrupt:
        # The collector, paused while a result is built, runs again.
        print("KeyboardInterrupt", time.monotonic() - sent[0] < 1.0, len(ticks) >= 2,
              gc.isenabled())
"""


@pytest.mark.parametrize(
    "function", READERS + ["textgrid2table", "textgrids2table", "data2textgrid"]
)
def test_ctrl_c_interrupts_a_wait_for_a_fifo(tmp_path, function):
    # A FIFO that nobody writes (or, for the write, reads): open() or read()
    # would wait for ever; SIGINT raises KeyboardInterrupt within a second.
    fifo = tmp_path / "fifo.TextGrid"
    os.mkfifo(fifo)
    assert run_child(INTERRUPT_CHILD, function, fifo, timeout=30) == [
        "KeyboardInterrupt",
        "True",
        "True",
        "True",
    ]
    assert os.listdir(tmp_path) == ["fifo.TextGrid"]
