"""Python module for TextGrid file manipulation."""

import os
from collections.abc import Iterable, Sequence
from typing import Any, Literal, Protocol, SupportsFloat, SupportsIndex, Union, final

import numpy as np
import numpy.typing as npt

# The layout words. Reading also takes "auto"; on writing, any word other than
# "long" would give the short layout, so only the two exact words type-check.
_ReadType = Literal["long", "short", "auto"]
_WriteType = Literal["long", "short"]

# What the table functions accept as a path; the other functions take str.
_PathLike = Union[str, os.PathLike[str], os.PathLike[bytes]]

# What table2textgrids takes a table from: any Arrow stream producer.
class _ArrowStream(Protocol):
    def __arrow_c_stream__(self, requested_schema: Any = None) -> object: ...

# The encodings the table functions read.
_Encoding = Literal["utf-8", "praat", "latin-1", "cp1252"]

# What the module accepts where it reads a number, a flag or a text.
_Number = Union[SupportsFloat, SupportsIndex]
_Flag = Union[bool, np.bool_]

# The structured-data form, as returned.
_Item = tuple[float, float, str]
_Tier = tuple[str, bool, list[_Item]]
_TextGridData = tuple[float, float, list[_Tier]]

# The structured-data form, as accepted by data2textgrid: any sequence that is
# not a str, records as tuples (named tuples too).
_ItemIn = tuple[_Number, _Number, str]
_TierIn = tuple[str, _Flag, Sequence[_ItemIn]]

_Vectors = tuple[
    npt.NDArray[np.float64],
    npt.NDArray[np.float64],
    list[str],
    list[str],
    npt.NDArray[np.bool_],
]
_BatchVectors = tuple[
    npt.NDArray[np.float64],
    npt.NDArray[np.float64],
    list[str],
    list[str],
    npt.NDArray[np.bool_],
    npt.NDArray[np.uint32],
]

def textgrid2vectors(file: str, strict: _Flag, file_type: _ReadType) -> _Vectors: ...
def textgrids2vectors(
    files: Sequence[str], strict: _Flag, file_type: _ReadType
) -> _BatchVectors: ...
def textgrid2data(file: str, strict: _Flag, file_type: _ReadType) -> _TextGridData: ...
def textgrids2data(
    files: Sequence[str], strict: _Flag, file_type: _ReadType
) -> list[_TextGridData]: ...
def data2textgrid(
    data: Sequence[_TierIn],
    tmin: _Number | None,
    tmax: _Number | None,
    output_file: str,
    file_type: _WriteType,
) -> None: ...
def vectors2textgrid(
    tmins: Sequence[_Number] | npt.NDArray[np.floating] | npt.NDArray[np.integer],
    tmaxs: Sequence[_Number] | npt.NDArray[np.floating] | npt.NDArray[np.integer],
    labels: Sequence[str] | npt.NDArray[np.str_],
    tier_names: Sequence[str] | npt.NDArray[np.str_],
    is_intervals: Sequence[_Flag] | npt.NDArray[np.bool_],
    tmin: _Number | None,
    tmax: _Number | None,
    output_file: str,
    file_type: _WriteType,
) -> None: ...

__version__: str

class InternalError(BaseException):
    """A fatal internal fault: NumPy could not be loaded, or memory ran out while an array was made."""

@final
class Table:
    """Arrow buffers of TextGrid rows; made by textgrid2table and textgrids2table."""

    @property
    def failed(self) -> dict[int, str]: ...
    @property
    def files(self) -> Table: ...
    @property
    def tiers(self) -> Table: ...
    def __len__(self) -> int: ...
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> Any: ...
    def __arrow_c_schema__(self) -> Any: ...
    def __reduce__(self) -> tuple[Any, tuple[Any, ...]]: ...
    @classmethod
    def _from_pickle(cls, data: bytes, failed: dict[int, str], /) -> Table: ...
    def _repr_html_(self) -> str: ...
    def _repr_pretty_(self, printer: Any, cycle: bool, /) -> None: ...

def textgrid2table(
    file: _PathLike,
    strict: _Flag = False,
    file_type: _ReadType = "auto",
    *,
    encoding: _Encoding = "utf-8",
) -> Table: ...
def textgrids2table(
    files: Iterable[_PathLike],
    strict: _Flag = False,
    file_type: _ReadType = "auto",
    *,
    encoding: _Encoding = "utf-8",
) -> Table: ...
def table2textgrids(
    items: _ArrowStream,
    paths: Iterable[_PathLike],
    file_type: _WriteType = "long",
    *,
    tiers: _ArrowStream | None = None,
    files: _ArrowStream | None = None,
    fill_gaps: _Flag = True,
) -> dict[int, str]: ...
