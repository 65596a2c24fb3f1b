import os
from types import TracebackType
from typing import Callable, Iterable, Iterator, Literal, Optional, Sequence, Tuple, Type, Union

import numpy as np
import numpy.typing as npt

PathLike = Union[str, bytes, os.PathLike]

RGB: int
INTENSITY: int
NORMAL: int
CUSTOM: int
BLOCK: int
ALL: int
POINT_DTYPE: np.dtype

class VorlinError(Exception):
    status: Optional[str]

def import_file(
    sources: Union[PathLike, Iterable[PathLike]],
    output: PathLike,
    attributes: int = ...,
    progress: Optional[Callable[[float], object]] = None,
) -> None: ...
def open(path: PathLike, preload: int = 0) -> Cloud: ...
def frustum(
    eye: Sequence[float],
    target: Sequence[float],
    up: Sequence[float],
    fov_deg: float,
    aspect: float,
    near: float,
    far: float,
) -> npt.NDArray[np.float64]: ...
def is_local(path: PathLike) -> bool: ...
def local_name(path: PathLike) -> str: ...

class Cloud:
    @property
    def path(self) -> str: ...
    @property
    def closed(self) -> bool: ...
    @property
    def point_count(self) -> int: ...
    @property
    def bounds(self) -> Tuple[float, float, float, float, float, float]: ...
    @property
    def centre(self) -> Tuple[float, float, float]: ...
    @property
    def version(self) -> int: ...
    @property
    def revision(self) -> int: ...
    @property
    def units(self) -> float: ...
    @property
    def attributes(self) -> Tuple[str, ...]: ...
    def query(
        self,
        box: Optional[Sequence[float]] = None,
        frustum: Optional[npt.ArrayLike] = None,
        clip: bool = False,
        near_clip: bool = True,
        far_clip: bool = True,
    ) -> Query: ...
    def save_v3(self, path: PathLike) -> None: ...
    def close(self) -> None: ...
    def __enter__(self) -> Cloud: ...
    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> bool: ...

class Query:
    @property
    def visible_points(self) -> int: ...
    @property
    def total_points(self) -> int: ...
    def points(self, count: Optional[int] = None) -> np.ndarray: ...
    def batches(
        self, size: int, mode: Literal["cursor", "set"] = "cursor", count: Optional[int] = None
    ) -> Batches: ...
    def _raw_fetch(self, count: int) -> int: ...

class Batches(Iterator[np.ndarray]):
    def __iter__(self) -> Batches: ...
    def __next__(self) -> np.ndarray: ...
