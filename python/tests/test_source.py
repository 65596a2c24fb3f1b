from pathlib import Path

import numpy as np
import pytest

import vorlin
from conftest import OFFSET, SCALE, make_points, write_las, xyz_of

LAZ_FOLDER = Path(__file__).resolve().parents[2] / ".." / "shared" / "data" / "laz"


def test_source_describes_a_las_file_and_reads_it_in_chunks(tmp_path):
    rng = np.random.default_rng(3)
    mm, rgb, intensity, classification = make_points(rng, 5000)
    write_las(tmp_path / "a.las", mm, rgb, intensity, classification)
    source = vorlin.Source(tmp_path / "a.las")
    assert (source.version, source.point_format, source.record_length) == ("1.2", 2, 26)
    assert source.announced_count == source.present_count == 5000
    assert not source.compressed and not source.truncated and source.georeferencing is None
    assert source.scale == (SCALE, SCALE, SCALE) and source.offset == tuple(OFFSET)

    first = source.read(1234)
    rest = list(source)
    points = np.concatenate([first] + rest)
    assert len(first) == 1234 and points.dtype == vorlin.POINT_DTYPE and len(points) == 5000
    assert len(source.read(10)) == 0
    np.testing.assert_allclose(xyz_of(points), mm * SCALE + OFFSET, rtol=0, atol=1e-9)
    np.testing.assert_array_equal(points["red"], rgb[:, 0])
    np.testing.assert_array_equal(points["intensity"], intensity)
    np.testing.assert_array_equal(points["custom"], classification)


def test_source_refuses_what_is_not_las(tmp_path):
    (tmp_path / "notes.laz").write_text("not a point file\n")
    with pytest.raises(vorlin.VorlinError):
        vorlin.Source(tmp_path / "notes.laz")
    with pytest.raises(FileNotFoundError):
        vorlin.Source(tmp_path / "missing.laz")


def test_laz_source_matches_its_twin_and_imports(tmp_path):
    laz, twin = LAZ_FOLDER / "lazperf_point-color.las.laz", LAZ_FOLDER / "lazperf_point-color.las"
    if not laz.exists() or not twin.exists():
        pytest.skip("shared LAZ files absent")
    source = vorlin.Source(laz)
    assert source.compressed and source.point_format == 2
    points, expected = np.concatenate(list(source)), np.concatenate(list(vorlin.Source(twin)))
    np.testing.assert_array_equal(points, expected)
    assert len(points) == source.announced_count
    vorlin.import_file(laz, tmp_path / "c.qzv")
    with vorlin.open(tmp_path / "c.qzv") as cloud:
        assert cloud.point_count == source.announced_count
