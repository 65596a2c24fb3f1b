"""Shared test data: small LAS files written here with numpy, imported once
per session into a QZV scene."""

import struct
from dataclasses import dataclass
from pathlib import Path

import numpy as np
import pytest

import vorlin

SCALE = 0.001
OFFSET = np.array([5000.0, -2000.0, 100.0])


def write_las(path, mm, rgb, intensity, classification):
    """A LAS 1.2 file of point format 2. mm: integer positions (n x 3) in
    millimetres from OFFSET; rgb 8-bit values (n x 3)."""
    n = len(mm)
    world = mm * SCALE + OFFSET
    lo, hi = world.min(axis=0), world.max(axis=0)
    header = b"LASF" + struct.pack("<HH16sBB32s32sHHHIIBHI5I", 0, 0, b"", 1, 2, b"vorlin tests",
                                   b"numpy", 1, 2026, 227, 227, 0, 2, 26, n, n, 0, 0, 0, 0)
    header += struct.pack("<3d3d", SCALE, SCALE, SCALE, *OFFSET)
    header += struct.pack("<6d", hi[0], lo[0], hi[1], lo[1], hi[2], lo[2])
    assert len(header) == 227
    record = np.dtype([("xyz", "<i4", 3), ("intensity", "<u2"), ("flags", "u1"), ("cls", "u1"),
                       ("angle", "i1"), ("user", "u1"), ("source", "<u2"), ("rgb", "<u2", 3)])
    points = np.zeros(n, record)
    points["xyz"] = mm
    points["intensity"] = intensity
    points["flags"] = 0x09  # first of one return
    points["cls"] = classification
    points["rgb"] = rgb
    Path(path).write_bytes(header + points.tobytes())


@dataclass
class Source:
    """The points as written: world positions and the attributes the library
    keeps of them."""
    xyz: np.ndarray
    red: np.ndarray
    green: np.ndarray
    blue: np.ndarray
    intensity: np.ndarray
    custom: np.ndarray


def make_points(rng, n, shape=(60, 50, 20), step_mm=(1500, 1800, 900)):
    """n distinct positions on a jittered lattice (so each point can be found
    again by its position rounded to the millimetre) and random attributes."""
    cells = np.prod(shape)
    index = rng.choice(cells, size=n, replace=False)
    ijk = np.stack(np.unravel_index(index, shape), axis=1)
    jitter = rng.integers(0, np.array(step_mm) // 2, size=(n, 3))
    mm = ijk * np.array(step_mm) + jitter
    rgb = rng.integers(0, 256, size=(n, 3))
    intensity = rng.integers(0, 256, size=n)
    classification = rng.integers(0, 32, size=n)
    return mm, rgb, intensity, classification


def positions_key(xyz):
    """Positions rounded to the millimetre, as one integer per point."""
    mm = np.rint((np.asarray(xyz) - OFFSET) / SCALE).astype(np.int64)
    return (mm[:, 0] * 1_000_000 + mm[:, 1]) * 100_000 + mm[:, 2]


def xyz_of(points):
    return np.stack([points["x"], points["y"], points["z"]], axis=1)


@dataclass
class Scene:
    path: Path
    sources: list
    points: Source


@pytest.fixture(scope="session")
def scene(tmp_path_factory):
    """40,000 points in two LAS files, imported into one QZV file."""
    folder = tmp_path_factory.mktemp("scene")
    rng = np.random.default_rng(7)
    mm, rgb, intensity, classification = make_points(rng, 40_000)
    half = len(mm) // 2
    sources = [folder / "a.las", folder / "b.las"]
    write_las(sources[0], mm[:half], rgb[:half], intensity[:half], classification[:half])
    write_las(sources[1], mm[half:], rgb[half:], intensity[half:], classification[half:])
    output = folder / "scene.qzv"
    vorlin.import_file([str(s) for s in sources], output)
    points = Source(mm * SCALE + OFFSET, rgb[:, 0], rgb[:, 1], rgb[:, 2], intensity,
                    classification)
    return Scene(output, sources, points)


@pytest.fixture
def cloud(scene):
    with vorlin.open(scene.path, preload=1 << 20) as c:
        yield c
