"""One module per tool under test; each exports TOOLS, a list of Tool.

A Tool knows how to read one file, read a corpus and write what it read, each
through the tool's own natural path, and how many items its result holds
(so the bench can check that every tool read everything).
"""

from __future__ import annotations

import importlib
from dataclasses import dataclass, field
from importlib import metadata
from typing import Any, Callable, Optional

PEER_MODULES = [
    "plinth_tool",
    "praatio_tool",
    "tgt_tool",
    "textgrid_tool",
    "mytextgrid_tool",
    "parselmouth_tool",
]


@dataclass
class Tool:
    name: str  # row label in the results table
    dist: str  # PyPI distribution, for the version
    pure_python: bool
    read: Optional[Callable[[str, str], Any]] = None  # (path, layout) -> result
    read_corpus: Optional[Callable[[list], Any]] = None  # (paths) -> result
    write: Optional[Callable[[Any, str, str], None]] = None  # (read result, path, layout)
    count: Callable[[Any], int] = lambda result: -1  # items in a read result
    read_layouts: tuple = ("long", "short")
    write_layouts: tuple = ("long", "short")
    note: str = ""
    extra: dict = field(default_factory=dict)

    def version(self) -> str:
        try:
            return metadata.version(self.dist)
        except metadata.PackageNotFoundError:
            return "?"


def load_tools() -> tuple[list[Tool], dict[str, str]]:
    """The tools that import here, and for the others the reason they do not."""
    tools, missing = [], {}
    for module_name in PEER_MODULES:
        try:
            module = importlib.import_module(f"peers.{module_name}")
        except Exception as error:  # a peer that does not install or import is reported, not fatal
            missing[module_name.removesuffix("_tool")] = f"{type(error).__name__}: {error}"
            continue
        tools.extend(module.TOOLS)
    return tools, missing
