"""Vorlin from Python: index LAS/LAZ/XYB point files into a QZV file, open it and
fetch level-of-detail samples of what a box or a camera sees as numpy arrays.

    import vorlin
    vorlin.import_file(["a.las", "b.las"], "scene.qzv", progress=print)
    with vorlin.open("scene.qzv", preload=64 << 20) as cloud:
        q = cloud.query(box=(x0, y0, z0, x1, y1, z1), clip=True)
        pts = q.points(1_000_000)          # pts["x"], pts["red"], ...

Points come as numpy structured arrays of POINT_DTYPE: x, y, z (float64 world
coordinates), red, green, blue, intensity, custom (uint8), normal (uint16).
vorlin.Source("x.laz") reads a LAS or LAZ file itself: header facts as
properties, points as POINT_DTYPE arrays by read(n) or iteration.
The library works with the GIL released, so engines in different threads run
at the same time.
"""

from ._vorlin import (
    ALL,
    BLOCK,
    CUSTOM,
    INTENSITY,
    NORMAL,
    POINT_DTYPE,
    RGB,
    Batches,
    Cloud,
    Query,
    Source,
    VorlinError,
    frustum,
    import_file,
    is_local,
    local_name,
    open,
    open_dataset,
)

__all__ = [
    "ALL",
    "BLOCK",
    "CUSTOM",
    "INTENSITY",
    "NORMAL",
    "POINT_DTYPE",
    "RGB",
    "Batches",
    "Cloud",
    "Query",
    "Source",
    "VorlinError",
    "frustum",
    "import_file",
    "is_local",
    "local_name",
    "open",
    "open_dataset",
    "dataset",
]


def __getattr__(name):
    # vorlin.dataset (the Dask build) loads on first use, so that running it
    # as `python -m vorlin.dataset` finds it not yet imported.
    if name == "dataset":
        import importlib

        return importlib.import_module(".dataset", __name__)
    raise AttributeError(f"module 'vorlin' has no attribute {name!r}")
