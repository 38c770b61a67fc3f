"""Refusals of the argument kinds: exact messages, __cause__, and no side effect."""

import collections
import os
import pathlib

import numpy as np
import pytest

import plinth

ITEM = (0.0, 1.0, "a")
TIER = ("t", True, [ITEM])


def _data2textgrid(path, **overrides):
    args = dict(data=[TIER], tmin=0.0, tmax=1.0, output_file=str(path), file_type="long")
    args.update(overrides)
    return plinth.data2textgrid(**args)


def _vectors2textgrid(path, **overrides):
    args = dict(
        tmins=[0.0],
        tmaxs=[1.0],
        labels=["a"],
        tier_names=["t"],
        is_intervals=[True],
        tmin=0.0,
        tmax=1.0,
        output_file=str(path),
        file_type="long",
    )
    args.update(overrides)
    return plinth.vectors2textgrid(**args)


class Floaty:
    def __float__(self):
        return 0.25


class Indexy:
    def __index__(self):
        return 3


class MyStr(str):
    pass


class MyTypeError(TypeError):
    pass


class Refusing:
    def __float__(self):
        raise MyTypeError("custom refusal")


Outer = type("Outer", (), {"Inner": type("Inner", (), {"__qualname__": "Outer.Inner"})})


@pytest.mark.parametrize(
    "value, type_name",
    [
        (b"x.TextGrid", "bytes"),
        (pathlib.Path("x.TextGrid"), "PosixPath"),
        (3, "int"),
        (None, "NoneType"),
        (Outer.Inner(), "Outer.Inner"),
    ],
)
def test_text_refused(value, type_name):
    with pytest.raises(TypeError) as info:
        plinth.textgrid2data(value, True, "auto")
    assert str(info.value) == f"argument 'file': '{type_name}' object cannot be cast as 'str'"
    assert type(info.value.__cause__) is TypeError
    assert str(info.value.__cause__) == f"'{type_name}' object cannot be cast as 'str'"


@pytest.mark.parametrize(
    "call",
    [
        # A path may hold the escapes of bytes that are not UTF-8 (U+DC80 to
        # U+DCFF), as os.fsencode takes them; any other lone surrogate is no name.
        lambda out: plinth.textgrid2data("bad\ud800", True, "auto"),
        lambda out: plinth.textgrids2table(["bad\udfff"]),
        lambda out: _data2textgrid(out, data=[("t", True, [(0.0, 1.0, "bad\udc80")])]),
        lambda out: _vectors2textgrid(out, tier_names=["bad\udc80"]),
    ],
)
def test_text_with_lone_surrogate_raises_unicode_error_unprefixed(tmp_path, call):
    out = tmp_path / "out.TextGrid"
    with pytest.raises(UnicodeEncodeError) as info:
        call(out)
    assert "argument" not in str(info.value)
    assert not out.exists()


@pytest.mark.parametrize(
    "value, type_name",
    [
        (1, "int"),
        (0, "int"),
        (None, "NoneType"),
        ("True", "str"),
        (np.int64(1), "int64"),
        (1.0, "float"),
    ],
)
def test_flag_refused(value, type_name):
    with pytest.raises(TypeError) as info:
        plinth.textgrid2data("x", value, "auto")
    assert str(info.value) == f"argument 'strict': '{type_name}' object cannot be cast as 'bool'"
    assert info.value.__cause__ is not None


@pytest.mark.parametrize("flag", [True, False, np.bool_(True), np.bool_(False)])
def test_flag_accepted(flag, missing_file):
    # The call gets past conversion: it fails in the core, on the missing file.
    with pytest.raises(OSError):
        plinth.textgrid2data(missing_file, flag, "auto")


def test_file_type_refused():
    with pytest.raises(
        TypeError, match=r"^argument 'file_type': 'NoneType' object cannot be cast as 'str'$"
    ):
        plinth.textgrid2data("x", True, None)


def test_conversion_in_parameter_order():
    # Both are wrong; the first parameter is reported.
    with pytest.raises(TypeError, match="^argument 'file':"):
        plinth.textgrid2data(1, 1, 1)


@pytest.mark.parametrize("value", ["a.TextGrid", MyStr("abc")])
def test_files_refuses_str(value):
    with pytest.raises(TypeError) as info:
        plinth.textgrids2data(value, True, "auto")
    assert str(info.value).startswith("argument 'files': ")


@pytest.mark.parametrize(
    "value, type_name",
    [(3, "int"), ({"a": 1}, "dict"), ({"a"}, "set"), (iter(["a"]), "list_iterator")],
)
def test_files_refuses_non_sequence(value, type_name):
    with pytest.raises(TypeError) as info:
        plinth.textgrids2vectors(value, True, "auto")
    assert str(info.value) == (
        f"argument 'files': '{type_name}' object cannot be cast as 'Sequence'"
    )


def test_files_first_bad_element_named():
    with pytest.raises(TypeError) as info:
        plinth.textgrids2data(["ok", b"bad", 3], True, "auto")
    assert str(info.value) == "argument 'files': 'bytes' object cannot be cast as 'str'"


@pytest.mark.parametrize("files", [(), [], range(0)])
def test_files_empty_sequences_accepted(files):
    assert plinth.textgrids2data(files, True, "auto") == []


def test_range_of_ints_is_a_sequence_of_wrong_elements():
    with pytest.raises(TypeError, match="^argument 'files': 'int' object cannot be cast as 'str'$"):
        plinth.textgrids2data(range(2), True, "auto")


@pytest.mark.parametrize(
    "tmin, expected_message",
    [
        ("2", "argument 'tmin': must be real number, not str"),
        ([1.0], "argument 'tmin': must be real number, not list"),
    ],
)
def test_number_refused(tmp_path, tmin, expected_message):
    out = tmp_path / "out.TextGrid"
    with pytest.raises(TypeError) as info:
        _data2textgrid(out, tmin=tmin)
    assert str(info.value) == expected_message
    assert not out.exists()


def test_number_overflow_unprefixed(tmp_path):
    with pytest.raises(OverflowError) as info:
        _data2textgrid(tmp_path / "o", tmax=10**400)
    assert "argument" not in str(info.value)


def test_type_error_subclass_passes_unchanged(tmp_path):
    with pytest.raises(MyTypeError) as info:
        _data2textgrid(tmp_path / "o", tmin=Refusing())
    assert str(info.value) == "custom refusal"


def test_record_as_list_refused(tmp_path):
    out = tmp_path / "out.TextGrid"
    with pytest.raises(TypeError) as info:
        _data2textgrid(out, data=[["t", True, [ITEM]]])
    assert str(info.value) == "argument 'data': 'list' object cannot be cast as 'tuple'"
    assert not out.exists()


def test_inner_record_as_list_refused(tmp_path):
    with pytest.raises(TypeError) as info:
        _data2textgrid(tmp_path / "o", data=[("t", True, [[0.0, 1.0, "a"]])])
    assert str(info.value) == "argument 'data': 'list' object cannot be cast as 'tuple'"


@pytest.mark.parametrize("record, length", [((0.0, 1.0), 2), ((0.0, 1.0, "a", "b"), 4), ((), 0)])
def test_record_wrong_length_value_error_unprefixed(tmp_path, record, length):
    out = tmp_path / "out.TextGrid"
    with pytest.raises(ValueError) as info:
        _data2textgrid(out, data=[("t", True, [record])])
    assert str(info.value) == f"expected tuple of length 3, but got tuple of length {length}"
    assert not out.exists()


def test_tier_flag_int_refused(tmp_path):
    with pytest.raises(TypeError) as info:
        _data2textgrid(tmp_path / "o", data=[("t", 1, [ITEM])])
    assert str(info.value) == "argument 'data': 'int' object cannot be cast as 'bool'"


def test_tier_name_bytes_refused(tmp_path):
    with pytest.raises(
        TypeError, match="^argument 'data': 'bytes' object cannot be cast as 'str'$"
    ):
        _data2textgrid(tmp_path / "o", data=[(b"t", True, [ITEM])])


def test_item_list_as_str_refused(tmp_path):
    with pytest.raises(TypeError, match="^argument 'data': 'str' object"):
        _data2textgrid(tmp_path / "o", data=[("t", True, "abc")])


def test_data_as_str_refused(tmp_path):
    with pytest.raises(TypeError, match="^argument 'data': 'str' object"):
        _data2textgrid(tmp_path / "o", data="abc")


def test_later_arguments_not_looked_at(tmp_path):
    # data fails first; the bad output_file is never converted.
    with pytest.raises(ValueError):
        _data2textgrid(tmp_path / "o", data=[("t", True, [(1.0,)])], output_file=3)


@pytest.mark.parametrize(
    "column, value, message",
    [
        ("is_intervals", [0], "argument 'is_intervals': 'int' object cannot be cast as 'bool'"),
        ("is_intervals", [1], "argument 'is_intervals': 'int' object cannot be cast as 'bool'"),
        ("labels", [None], "argument 'labels': 'NoneType' object cannot be cast as 'str'"),
        ("tier_names", "t", "argument 'tier_names': 'str' object cannot be cast as 'Sequence'"),
        ("tmins", ["0"], "argument 'tmins': must be real number, not str"),
        ("tmaxs", 1.0, "argument 'tmaxs': 'float' object cannot be cast as 'Sequence'"),
        ("tmin", "0", "argument 'tmin': must be real number, not str"),
        (
            "output_file",
            pathlib.Path("o"),
            "argument 'output_file': 'PosixPath' object cannot be cast as 'str'",
        ),
        ("file_type", b"long", "argument 'file_type': 'bytes' object cannot be cast as 'str'"),
    ],
)
def test_vector_column_refusals(tmp_path, column, value, message):
    out = tmp_path / "out.TextGrid"
    with pytest.raises(TypeError) as info:
        _vectors2textgrid(out, **{column: value})
    assert str(info.value) == message
    assert not out.exists()


Point = collections.namedtuple("Point", "tmin tmax label")
TierRecord = collections.namedtuple("TierRecord", "name is_interval items")


@pytest.mark.parametrize(
    "data, tmin",
    [
        ([TierRecord("t", True, [Point(0, 1, "a")])], 0),
        ((("t", True, ((Floaty(), 1, MyStr("a")),)),), Floaty()),
        ([("t", np.bool_(True), [(np.float64(0.0), np.float32(1.0), np.str_("a"))])], Indexy()),
    ],
)
def test_accepted_values_get_past_conversion(tmp_path, data, tmin):
    # A missing folder makes the call fail after conversion, in the core.
    target = tmp_path / "no-such-dir" / "o.TextGrid"
    with pytest.raises(OSError):
        plinth.data2textgrid(data, tmin, None, str(target), "long")
    assert not target.exists()


def test_arguments_are_not_modified(tmp_path):
    data = [("t", True, [(0.0, 1.0, "a")])]
    snapshot = repr(data)
    with pytest.raises(OSError):
        plinth.data2textgrid(data, 0.0, 1.0, str(tmp_path / "none" / "o"), "long")
    assert repr(data) == snapshot
    assert os.listdir(tmp_path) == []


@pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="AddressSanitizer needs more address space than the limit leaves",
)
def test_memory_exhaustion_becomes_memory_error():
    # Ten million records need about 480 MB of core records: refused under a
    # tight address-space limit, the call raises MemoryError and the module
    # stays usable.
    import subprocess
    import sys
    import textwrap

    code = textwrap.dedent("""
        import resource, plinth
        item = (0.0, 1.0, "a")
        data = [("t", True, [item] * 10_000_000)]
        with open("/proc/self/statm") as statm:
            size = int(statm.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (size + (128 << 20), resource.RLIM_INFINITY))
        try:
            plinth.data2textgrid(data, None, None, "/nonexistent/o.TextGrid", "long")
        except MemoryError as error:
            print("MemoryError", error.__cause__)
        del data
        print(plinth.textgrids2data([], True, "auto"))
    """)
    result = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, timeout=120
    )
    assert result.stdout.split("\n")[:2] == ["MemoryError None", "[]"], result.stderr
