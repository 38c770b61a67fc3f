"""Files of unknown origin: each gives a clear error or the documented lenient
result, never a crash or a hang, through every read function."""

import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import textwrap

import pytest

import plinth
from conftest import as_nobody

HEADER = 'File type = "ooTextFile"\nObject class = "TextGrid"\n\n'
LONG_TIER = (
    'item []:\n    item [1]:\n        class = "IntervalTier"\n        name = "a"\n'
    "        xmin = 0\n        xmax = 1\n        intervals: size = {items}\n"
    "        intervals [1]:\n            xmin = 0\n            xmax = 1\n"
    '            text = "x"\n'
)
EMPTY = (0.0, 0.0, [])
NOT_UTF8 = "stream did not contain valid UTF-8"
NOT_UTF16 = "stream did not contain valid UTF-16"
BOUNDS = "Time bounds should be non-negative in TextGrid"


def short_file(tiers, items):
    return HEADER + f'0\n1\n<exists>\n{tiers}\n"IntervalTier"\n"a"\n0\n1\n{items}\n0\n1\n"x"\n'


def long_file(tiers, items):
    return (
        HEADER
        + f"xmin = 0\nxmax = 1\ntiers? <exists>\nsize = {tiers}\n"
        + LONG_TIER.format(items=items)
    )


def write(tmp_path, content, name="bad.TextGrid"):
    path = tmp_path / name
    path.write_bytes(content if isinstance(content, bytes) else content.encode())
    return str(path)


def read_error(path, strict, file_type):
    """The message of every single-file read, after checking both agree."""
    messages = []
    for read in (plinth.textgrid2data, plinth.textgrid2vectors):
        with pytest.raises(OSError) as caught:
            read(path, strict, file_type)
        messages.append(str(caught.value))
    assert messages[0] == messages[1]
    prefix = f"Failed to read TextGrid file {path} because: "
    assert messages[0].startswith(prefix)
    return messages[0][len(prefix) :]


def assert_batches_hide(path, strict, file_type):
    """The batch functions never raise for a bad file: its entry is empty."""
    assert plinth.textgrids2data([path, path], strict, file_type) == [EMPTY, EMPTY]
    columns = plinth.textgrids2vectors([path], strict, file_type)
    assert [len(column) for column in columns] == [0] * 6


# (name, file bytes, {(file_type, strict): message or the lenient result})
ERRORS = {
    "empty": (b"", "Unexpected end of file: line 1 should hold the header"),
    "binary garbage": (b"\x89PNG\r\n\x1a\n\xff\x00\x80\xfe", NOT_UTF8),
    "invalid UTF-8 in a label": (
        (HEADER + '0\n1\n<exists>\n0\n"\xc3\x28"\n').encode("latin-1"),
        NOT_UTF8,
    ),
    "overlong UTF-8": (b"xmin = \xc0\xaf\n", NOT_UTF8),
    "UTF-16 odd byte count": (b"\xff\xfeA\x00B", NOT_UTF16),
    "UTF-16 lone high surrogate": (b"\xff\xfe\x00\xd8A\x00", NOT_UTF16),
    "UTF-16 lone low surrogate": (b"\xfe\xff\xdc\x00\x00A", NOT_UTF16),
    "UTF-16 mark only, odd": (b"\xfe\xff\x00", NOT_UTF16),
}


@pytest.mark.parametrize("strict", [False, True])
@pytest.mark.parametrize("file_type", ["long", "short", "auto"])
@pytest.mark.parametrize("case", sorted(ERRORS))
def test_undecodable_and_empty_files(tmp_path, case, file_type, strict):
    content, message = ERRORS[case]
    path = write(tmp_path, content)
    if case == "empty" and file_type == "long":
        # The long reader finds nothing to read: lenient gives an empty
        # TextGrid, strict the bounds check.
        if strict:
            assert read_error(path, strict, file_type) == BOUNDS
        else:
            assert plinth.textgrid2data(path, strict, file_type) == EMPTY
        return
    assert read_error(path, strict, file_type) == message
    assert_batches_hide(path, strict, file_type)


@pytest.mark.parametrize("file_type", ["long", "short", "auto"])
def test_nul_bytes_are_text(tmp_path, file_type):
    # NUL is valid UTF-8 and no blank: a label keeps it, a file of NULs is one
    # line of nothing the readers know.
    nuls = write(tmp_path, b"\x00" * 64, "nuls.TextGrid")
    if file_type == "long":
        assert plinth.textgrid2data(nuls, False, file_type) == EMPTY
    else:
        assert read_error(nuls, False, file_type) == (
            "Unexpected end of file: line 2 should hold the header"
        )
    labelled = write(tmp_path, long_file(1, 1).replace('"x"', '"a\x00b"'))
    reader = "long" if file_type == "short" else file_type
    data = plinth.textgrid2data(labelled, True, reader)
    assert data[2][0][2] == [(0.0, 1.0, "a\x00b")]


@pytest.mark.parametrize("file_type", ["long", "short", "auto"])
def test_paths_that_are_not_readable_files(tmp_path, file_type):
    assert read_error(str(tmp_path), False, file_type) == "Is a directory (os error 21)"
    missing = str(tmp_path / "missing.TextGrid")
    assert read_error(missing, False, file_type) == "No such file or directory (os error 2)"
    inside_file = write(tmp_path, "x") + "/child.TextGrid"
    assert read_error(inside_file, False, file_type) == "Not a directory (os error 20)"
    assert read_error("", False, file_type) == "No such file or directory (os error 2)"
    assert_batches_hide(str(tmp_path), False, file_type)
    assert_batches_hide(missing, False, file_type)


def test_file_names_that_are_not_utf8(tmp_path):
    # os.listdir gives such a name as a str with surrogate escapes; every
    # function reads and writes the file it names, as Python's open does.
    good = write(tmp_path, long_file(1, 1))
    folder = os.fsencode(tmp_path)
    data_name, vectors_name, missing = (
        os.fsdecode(folder + name) for name in (b"/caf\xe9.TextGrid", b"/\xff.TextGrid", b"/\xe9")
    )
    data = plinth.textgrid2data(good, True, "auto")
    vectors = [list(column) for column in plinth.textgrid2vectors(good, True, "auto")]
    plinth.data2textgrid(data[2], None, None, data_name, "long")
    plinth.vectors2textgrid(*vectors, None, None, vectors_name, "short")
    assert sorted(os.listdir(folder)) == [b"bad.TextGrid", b"caf\xe9.TextGrid", b"\xff.TextGrid"]
    for name in (data_name, vectors_name):
        assert plinth.textgrid2data(name, True, "auto") == data
        assert [list(c) for c in plinth.textgrid2vectors(name, True, "auto")] == vectors
        assert len(plinth.textgrid2table(name)) == len(plinth.textgrid2table(pathlib.Path(good)))
    assert plinth.textgrids2data([data_name, vectors_name], True, "auto") == [data, data]
    assert len(plinth.textgrids2vectors([data_name, vectors_name], True, "auto")[0]) == 2
    # Messages show the path as it was passed.
    message = (
        f"Failed to read TextGrid file {missing} because: No such file or directory (os error 2)"
    )
    with pytest.raises(FileNotFoundError) as caught:
        plinth.textgrid2vectors(missing, True, "auto")
    assert str(caught.value) == message
    table = plinth.textgrids2table([data_name, missing])
    assert table.failed == {1: message}
    # Arrow strings are UTF-8: the bytes that are not show as \xNN.
    pa = pytest.importorskip("pyarrow")
    shown = str(tmp_path)
    files = pa.table(table.files).to_pydict()
    assert files["path"] == [f"{shown}/caf\\xe9.TextGrid", f"{shown}/\\xe9"]
    assert files["error"][1] == message.replace(missing, f"{shown}/\\xe9")
    assert pa.table(table)["path"].unique().to_pylist() == [f"{shown}/caf\\xe9.TextGrid"]


def _raised_kind(call):
    """Runs `call`, which must raise OSError, and raises a plain OSError
    naming the type it raised (so that as_nobody can report it)."""
    try:
        call()
    except OSError as error:
        assert (error.errno, error.strerror, error.filename) == (None, None, None)
        raise OSError(type(error).__name__) from None
    raise AssertionError("no OSError")


@pytest.mark.parametrize(
    "read", [plinth.textgrid2data, plinth.textgrid2vectors, plinth.textgrid2table]
)
def test_errors_of_the_system_raise_their_subclass_of_oserror(tmp_path, open_dir, read):
    inside_file = write(tmp_path, "x") + "/child.TextGrid"
    locked = write(open_dir, long_file(1, 1))
    os.chmod(locked, 0)
    cases = [
        (str(tmp_path), "auto", "IsADirectoryError"),
        (str(tmp_path / "missing.TextGrid"), "long", "FileNotFoundError"),
        ("", "short", "FileNotFoundError"),
        (inside_file, "auto", "NotADirectoryError"),
        # Failures that no system call reported stay plain OSError.
        (write(tmp_path, b""), "auto", "OSError"),
        (str(tmp_path / "missing.TextGrid"), "LONG", "OSError"),
    ]
    for path, file_type, kind in cases:
        with pytest.raises(OSError) as caught:
            _raised_kind(lambda: read(path, False, file_type))
        assert str(caught.value) == kind, path
    denied = lambda: _raised_kind(lambda: read(locked, False, "auto"))  # noqa: E731
    if os.geteuid() == 0:
        assert as_nobody(denied, "read") == "PermissionError"
    else:
        with pytest.raises(OSError, match="^PermissionError$"):
            denied()


def test_unknown_file_type_opens_nothing(tmp_path):
    assert read_error(str(tmp_path / "missing"), False, "LONG") == "Unknown file type: LONG"


# A bad layout word is no file's fault: a batch refuses it before opening any
# file (a FIFO without a writer would block), instead of dropping every file.
@pytest.mark.parametrize(
    "function", [plinth.textgrids2data, plinth.textgrids2vectors, plinth.textgrids2table]
)
@pytest.mark.parametrize("word", ["AUTO", "lnog", ""])
def test_batch_refuses_an_unknown_file_type_before_any_file(tmp_path, function, word):
    fifo = str(tmp_path / "fifo.TextGrid")
    os.mkfifo(fifo)
    with pytest.raises(OSError) as info:
        function([fifo, str(tmp_path / "missing")], False, word)
    assert type(info.value) is OSError
    assert str(info.value) == f"Unknown file type: {word}"


@pytest.fixture
def open_dir():
    """A folder that every user may enter (pytest's own are the owner's only),
    so that a lack of permission shows at the file itself."""
    folder = tempfile.mkdtemp(prefix="plinth-")
    os.chmod(folder, 0o755)
    yield pathlib.Path(folder)
    shutil.rmtree(folder, ignore_errors=True)


def test_no_permission(open_dir):
    path = write(open_dir, long_file(1, 1))
    os.chmod(path, 0)
    if os.geteuid() != 0:
        assert read_error(path, False, "auto") == "Permission denied (os error 13)"
        return
    # Root reads anything: drop to nobody in a forked child, which keeps the
    # imported module.
    message = as_nobody(lambda: plinth.textgrid2data(path, False, "auto"), "read")
    assert (
        message == f"Failed to read TextGrid file {path} because: Permission denied (os error 13)"
    )


COUNT_CASES = [
    # 2^64 is no count (it gives 0), 2^64 - 1 is, and no count makes the
    # reader reserve more than the file can hold.
    ("long", long_file("18446744073709551616", 1), False, (1, 1)),
    (
        "long",
        long_file("18446744073709551616", 1),
        True,
        "TextGrid size does not match number of tiers",
    ),
    ("long", long_file(1, "18446744073709551615"), False, (1, 1)),
    (
        "long",
        long_file(1, "18446744073709551615"),
        True,
        "Tier size does not match number of items",
    ),
    (
        "long",
        long_file(1, "99999999999999999999999"),
        True,
        "Tier size does not match number of items",
    ),
    ("short", short_file(1, "18446744073709551616"), False, (1, 0)),
    ("short", short_file(2, "18446744073709551616"), False, "Unknown tier class: 0"),
    ("short", short_file("18446744073709551616", 1), False, (0, 0)),
    (
        "short",
        short_file("18446744073709551615", 1),
        False,
        "Unexpected end of file: line 16 should hold the class of tier 1",
    ),
    (
        "short",
        short_file(1, "18446744073709551615"),
        False,
        "Unexpected end of file: line 16 should hold the start time of item 1 of tier 0",
    ),
    # More than the data holds.
    (
        "short",
        short_file(3, 1),
        False,
        "Unexpected end of file: line 16 should hold the class of tier 1",
    ),
    (
        "short",
        short_file(1, 5),
        False,
        "Unexpected end of file: line 16 should hold the start time of item 1 of tier 0",
    ),
    ("long", long_file(3, 5), False, (1, 1)),
    ("long", long_file(3, 1), True, "TextGrid size does not match number of tiers"),
]


@pytest.mark.parametrize("file_type, content, strict, expected", COUNT_CASES)
def test_counts_beyond_the_range_or_the_data(tmp_path, file_type, content, strict, expected):
    path = write(tmp_path, content)
    for word in (file_type, "auto"):
        if isinstance(expected, str):
            assert read_error(path, strict, word) == expected
        else:
            _, _, tiers = plinth.textgrid2data(path, strict, word)
            assert (len(tiers), len(tiers[0][2]) if tiers else 0) == expected


WRONG_LAYOUTS = [
    # (file_type, content, strict, message or the lenient result)
    ("short", long_file(1, 1), False, EMPTY),  # long read as short: no counts
    ("short", long_file(1, 1), True, BOUNDS),
    ("long", short_file(1, 1), False, EMPTY),  # short read as long: no keys
    (
        "long",
        HEADER + "xmin = 0\nxmax = 1\nintervals [1]:\n",
        False,
        "Interval or point heading before any tier heading on line 6",
    ),
    ("long", HEADER + 'item []:\nitem [1]:\nclass = "Foo"\n', False, 'Unknown tier class: "Foo"'),
    (
        "short",
        HEADER + '0\n1\n<exists>\n1\n"intervaltier"\n',
        False,
        'Unknown tier class: "intervaltier"',
    ),
    ("auto", "a,b,c\n1,2,3\n", False, "Unexpected end of file: line 3 should hold the header"),
    ("long", "a,b,c\n1,2,3\n", False, EMPTY),
    ("long", "item [\n" * 1000 + "intervals [\n" * 1000, False, None),
    ("long", '"' * 10000 + "\n" + "text = " + '"' * 9999 + "\n", False, EMPTY),
    ("short", HEADER + '0\n1\n<exists>\n1\n"IntervalTier"\n"a\n' * 2000, False, None),
]


@pytest.mark.parametrize("file_type, content, strict, expected", WRONG_LAYOUTS)
def test_deeply_wrong_layouts(tmp_path, file_type, content, strict, expected):
    path = write(tmp_path, content)
    if isinstance(expected, str):
        assert read_error(path, strict, file_type) == expected
        assert_batches_hide(path, strict, file_type)
    elif expected is None:
        # No fixed answer: only a clean result or a clean error.
        try:
            plinth.textgrid2data(path, strict, file_type)
        except OSError as error:
            assert str(error).startswith("Failed to read TextGrid file ")
    else:
        assert plinth.textgrid2data(path, strict, file_type) == expected


CHRONOLOGICAL = '"Praat chronological TextGrid text file"\n'
BINARY = b"ooBinaryFile\x08TextGrid"


def be_real(value):
    return struct.pack(">d", value)


def binary_tier(kind, count):
    name = {"IntervalTier": b"\x0cIntervalTier", "TextTier": b"\x08TextTier"}[kind]
    return name + b"\x00\x01a" + be_real(0) + be_real(1) + struct.pack(">I", count)


BINARY_GRID = BINARY + be_real(0) + be_real(1) + b"\x01"  # 38 bytes

# Only "auto" reads these layouts; (content, message or the lenient result).
NEW_LAYOUTS = {
    "chronological: tier number out of range": (
        CHRONOLOGICAL + '0 1\n1\n"IntervalTier" "a" 0 1\n! a:\n2 0 1\n"x"\n',
        "Tier number 2 on line 6 is out of range: the TextGrid has 1 tiers",
    ),
    "chronological: ends inside a record": (
        CHRONOLOGICAL + '0 1\n1\n"IntervalTier" "a" 0 1\n1 0 1\n',
        "Unexpected end of file after line 5: expected the text of item 0 of tier 0",
    ),
    "chronological: more tiers declared than written": (
        CHRONOLOGICAL + '0 1\n18446744073709551615\n"TextTier" "a" 0 1\n',
        "Unexpected end of file after line 4: expected the class of tier 1",
    ),
    "chronological: a count of 2^64 reads as 0": (
        CHRONOLOGICAL + "0 1\n18446744073709551616\n",
        (0.0, 1.0, []),
    ),
    "chronological: unknown tier class": (
        CHRONOLOGICAL + '0 1\n1\n"Sound" "a" 0 1\n',
        'Unknown tier class: "Sound"',
    ),
    "chronological: only the first line": (
        CHRONOLOGICAL,
        "Unexpected end of file after line 1: expected the start time of the TextGrid",
    ),
    "binary: magic only": (
        b"ooBinaryFile",
        "Unexpected end of file at byte 12: the object class needs 1 bytes, but only 0 remain",
    ),
    "binary: another class": (
        b"ooBinaryFile\x05Sound" + bytes(40),
        'Expected the object class "TextGrid" at byte 12, found "Sound"',
    ),
    "binary: truncated time": (
        BINARY + be_real(0)[:5],
        "Unexpected end of file at byte 21: the start time of the TextGrid needs 8 bytes, but only 5 remain",
    ),
    "binary: tier count beyond the data": (
        BINARY_GRID + b"\xff\xff\xff\xff" + bytes(100),
        "Count too large at byte 38: the number of tiers is 4294967295, more than the 100 bytes after it can hold",
    ),
    "binary: item count beyond the data": (
        BINARY_GRID + struct.pack(">I", 1) + binary_tier("IntervalTier", 3) + bytes(53),
        "Count too large at byte 74: the number of items of tier 0 is 3, more than the 53 bytes after it can hold",
    ),
    "binary: text longer than the data": (
        BINARY_GRID
        + struct.pack(">I", 1)
        + binary_tier("TextTier", 1)
        + be_real(0.5)
        + b"\x00\x09abc",
        "Unexpected end of file at byte 84: the mark of item 0 of tier 0 needs 9 bytes, but only 3 remain",
    ),
    "binary: unpaired surrogate": (
        BINARY_GRID
        + struct.pack(">I", 1)
        + binary_tier("TextTier", 1)
        + be_real(0.5)
        + b"\xff\xff\x00\x01\xdc\x00",
        "Unpaired UTF-16 surrogate at byte 86 in the mark of item 0 of tier 0",
    ),
    "binary: unknown tier class": (
        BINARY_GRID + struct.pack(">I", 1) + b"\x05Sound" + bytes(30),
        'Unknown tier class: "Sound"',
    ),
}


@pytest.mark.parametrize("strict", [False, True])
@pytest.mark.parametrize("case", sorted(NEW_LAYOUTS))
def test_bad_chronological_and_binary_files(tmp_path, case, strict):
    content, expected = NEW_LAYOUTS[case]
    path = write(tmp_path, content)
    if isinstance(expected, str):
        assert read_error(path, strict, "auto") == expected
        assert_batches_hide(path, strict, "auto")
    else:
        assert plinth.textgrid2data(path, strict, "auto") == expected


def test_many_headings_build_many_tiers(tmp_path):
    # Headings without any keys still give tiers and items, in file order.
    path = write(tmp_path, "item [\n" + "intervals [\n" * 3 + "item [\n")
    _, _, tiers = plinth.textgrid2data(path, False, "long")
    assert [(name, flag, items) for name, flag, items in tiers] == [
        ("", True, [(0.0, 0.0, "")] * 3),
        ("", True, []),
    ]


PEAK_MEMORY = textwrap.dedent(
    """
    import sys, plinth

    def peak():
        # The peak resident size of this address space: ru_maxrss would keep
        # the forking parent's peak across exec.
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024

    path, function, file_type = sys.argv[1:]
    before = peak()
    try:
        result = getattr(plinth, function)(path, False, file_type)
    except OSError as error:
        result = error
    print(before, peak())
    """
)


def peak_growth(path, function, file_type="auto"):
    """Bytes by which the peak RSS of a fresh interpreter grew over one read."""
    done = subprocess.run(
        [sys.executable, "-c", PEAK_MEMORY, path, function, file_type],
        capture_output=True,
        text=True,
        timeout=600,
        check=True,
    )
    before, after = map(int, done.stdout.split())
    print(
        f"{function} {file_type}: peak grew {(after - before) / os.path.getsize(path):.2f} x file"
    )
    return after - before


@pytest.mark.slow
def test_several_hundred_megabytes_on_one_line(tmp_path):
    path = tmp_path / "one_line.TextGrid"
    with open(path, "w") as out:
        head, tail = long_file(1, 1).split('"x"')
        out.write(head + '"')
        for _ in range(300):
            out.write("a" * (1 << 20))
        out.write('"' + tail)
    size = path.stat().st_size
    # The file's bytes and the label read from them; the label's copies for
    # the result and for Python come after the file's bytes are gone.
    assert peak_growth(str(path), "textgrid2vectors") < 3 * size
    _, _, labels, _, _ = plinth.textgrid2vectors(str(path), True, "long")
    assert len(labels) == 1 and len(labels[0]) == 300 << 20
    del labels
    # The same length without a single line break, read by every reader.
    garbage = tmp_path / "garbage.TextGrid"
    with open(garbage, "wb") as out:
        for _ in range(300):
            out.write(b"x" * (1 << 20))
    assert peak_growth(str(garbage), "textgrid2data", "short") < 1.5 * size
    assert peak_growth(str(garbage), "textgrid2data", "long") < 1.5 * size
    assert read_error(str(garbage), False, "auto") == (
        "Unexpected end of file: line 2 should hold the header"
    )


@pytest.mark.slow
def test_ten_million_tiny_lines(tmp_path):
    # An interval tier in the long layout without indentation: four lines an
    # interval, ten million lines in all.
    count = 2_500_000
    path = tmp_path / "tiny_lines.TextGrid"
    with open(path, "w") as out:
        out.write(long_file(1, count).split("        intervals [1]:")[0])
        block = 'intervals [1]:\nxmin = 0\nxmax = 1\ntext = ""\n'
        for _ in range(count // 1000):
            out.write(block * 1000)
    size = path.stat().st_size
    tmins, _, labels, names, flags = plinth.textgrid2vectors(str(path), False, "auto")
    assert len(tmins) == count and labels[-1] == "" and names[-1] == "a" and flags.all()
    del tmins, labels, names, flags
    # About 40 bytes of file an interval against 48 of the core's item, the
    # columns and, for the structured form, a tuple and two floats.
    assert peak_growth(str(path), "textgrid2vectors") < 4 * size
    assert peak_growth(str(path), "textgrid2data", "long") < 6 * size
