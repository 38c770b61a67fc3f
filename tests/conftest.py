"""Shared helpers: TextGrid texts in both layouts, written into tmp folders."""

from __future__ import annotations

import os
import pathlib
import select

import pytest

# (name, is_interval, [(tmin, tmax, label), ...])
Tier = tuple[str, bool, list[tuple[float, float, str]]]

DATA_DIR = pathlib.Path(__file__).parent / "data"


def _num(value: float) -> str:
    return repr(float(value)).removesuffix(".0") if float(value).is_integer() else repr(value)


def long_text(tmin: float, tmax: float, tiers: list[Tier]) -> str:
    """A TextGrid in the long layout, as Praat writes it (LF line ends)."""
    lines = [
        'File type = "ooTextFile"',
        'Object class = "TextGrid"',
        "",
        f"xmin = {_num(tmin)} ",
        f"xmax = {_num(tmax)} ",
        "tiers? <exists> ",
        f"size = {len(tiers)} ",
        "item []: ",
    ]
    for number, (name, is_interval, items) in enumerate(tiers, start=1):
        lines += [
            f"    item [{number}]:",
            f'        class = "{"IntervalTier" if is_interval else "TextTier"}" ',
            f'        name = "{name}" ',
            f"        xmin = {_num(tmin)} ",
            f"        xmax = {_num(tmax)} ",
        ]
        kind = "intervals" if is_interval else "points"
        lines.append(f"        {kind}: size = {len(items)} ")
        for index, (start, end, label) in enumerate(items, start=1):
            lines.append(f"        {kind} [{index}]:")
            if is_interval:
                lines += [
                    f"            xmin = {_num(start)} ",
                    f"            xmax = {_num(end)} ",
                    f'            text = "{label}" ',
                ]
            else:
                lines += [f"            number = {_num(start)} ", f'            mark = "{label}" ']
    return "\n".join(lines) + "\n"


def short_text(tmin: float, tmax: float, tiers: list[Tier]) -> str:
    """A TextGrid in the short layout, as Praat writes it (LF line ends)."""
    lines = [
        'File type = "ooTextFile"',
        'Object class = "TextGrid"',
        "",
        _num(tmin),
        _num(tmax),
        "<exists>",
        str(len(tiers)),
    ]
    for name, is_interval, items in tiers:
        lines += [
            f'"{"IntervalTier" if is_interval else "TextTier"}"',
            f'"{name}"',
            _num(tmin),
            _num(tmax),
            str(len(items)),
        ]
        for start, end, label in items:
            lines += [_num(start), _num(end)] if is_interval else [_num(start)]
            lines.append(f'"{label}"')
    return "\n".join(lines) + "\n"


# Two interval tiers of 3 and 2 items and a point tier of 2 points.
SAMPLE: tuple[float, float, list[Tier]] = (
    0.0,
    2.5,
    [
        ("words", True, [(0.0, 1.0, "one"), (1.0, 1.75, "two"), (1.75, 2.5, "three")]),
        ("phones", True, [(0.0, 1.25, "a"), (1.25, 2.5, "b")]),
        ("tones", False, [(0.5, 0.5, "H"), (2.0, 2.0, "L")]),
    ],
)


def write_textgrid(path: pathlib.Path, grid=SAMPLE, layout: str = "long") -> str:
    text = (long_text if layout == "long" else short_text)(*grid)
    path.write_text(text, encoding="utf-8")
    return str(path)


@pytest.fixture
def sample_file(tmp_path: pathlib.Path) -> str:
    return write_textgrid(tmp_path / "sample.TextGrid")


@pytest.fixture
def sample_short_file(tmp_path: pathlib.Path) -> str:
    return write_textgrid(tmp_path / "sample_short.TextGrid", layout="short")


@pytest.fixture
def missing_file(tmp_path: pathlib.Path) -> str:
    return str(tmp_path / "missing.TextGrid")


def as_nobody(call, done: str) -> str:
    """Runs `call` in a forked child as the user nobody (root bypasses file
    permissions) and returns `done`, or the message of the OSError it raised."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            os.setgid(65534)
            os.setuid(65534)
            try:
                call()
                message = done
            except OSError as error:
                message = str(error)
            os.write(write_end, message.encode())
        finally:
            os._exit(0)
    os.close(write_end)
    assert select.select([read_end], [], [], 60)[0], "the child hung"
    with os.fdopen(read_end, "rb") as pipe:
        message = pipe.read().decode()
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0
    return message
