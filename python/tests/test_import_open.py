import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import vorlin
from conftest import make_points, positions_key, write_las, xyz_of


def test_every_point_comes_back_with_its_position_and_attributes(scene, cloud):
    assert cloud.point_count == len(scene.points.xyz)
    assert cloud.version == 4
    assert set(cloud.attributes) >= {"RGB", "Intensity", "CustomAttribute"}
    lo, hi = scene.points.xyz.min(axis=0), scene.points.xyz.max(axis=0)
    np.testing.assert_allclose(cloud.bounds, [*lo, *hi], atol=1e-6)

    points = cloud.query().points()
    assert points.dtype == vorlin.POINT_DTYPE and len(points) == cloud.point_count
    got = np.argsort(positions_key(xyz_of(points)))
    want = np.argsort(positions_key(scene.points.xyz))
    # Stored as single-precision offsets from the centre: well within 0.1 mm.
    np.testing.assert_allclose(xyz_of(points)[got], scene.points.xyz[want], rtol=0, atol=1e-4)
    for field in ("red", "green", "blue", "intensity", "custom"):
        np.testing.assert_array_equal(points[field][got], getattr(scene.points, field)[want],
                                      err_msg=field)


def test_progress_rises_to_100_on_the_calling_thread(scene, tmp_path):
    import threading
    seen, threads = [], set()

    def progress(percent):
        seen.append(percent)
        threads.add(threading.get_ident())

    vorlin.import_file(scene.sources[0], tmp_path / "one.qzv", attributes=vorlin.RGB,
                       progress=progress)
    assert seen == sorted(seen) and seen[-1] == 100.0 and len(seen) > 3
    assert threads == {threading.get_ident()}
    with vorlin.open(tmp_path / "one.qzv") as c:
        assert c.attributes == ("RGB",)


class Stop(Exception):
    pass


def test_exception_in_progress_cancels_and_leaves_nothing(scene, tmp_path):
    output = tmp_path / "cancelled.qzv"
    calls = []

    def progress(percent):
        calls.append(percent)
        if percent > 30:
            raise Stop("enough")

    with pytest.raises(Stop):
        vorlin.import_file(scene.sources, output, progress=progress)
    assert calls[-1] > 30 and calls[-1] < 100
    assert os.listdir(tmp_path) == []

    # A failed import spares an older file of the same name.
    output.write_bytes(b"older")
    with pytest.raises(Stop):
        vorlin.import_file(scene.sources, output, progress=progress)
    assert output.read_bytes() == b"older" and os.listdir(tmp_path) == ["cancelled.qzv"]


def test_ctrl_c_cancels_an_import_without_progress_callback(tmp_path):
    # A child process imports a large file; SIGINT reaches it while the
    # library works with the GIL released.
    script = textwrap.dedent(f"""
        import os, signal, sys, threading, numpy as np
        sys.path[:0] = {sys.path[:3]!r}
        import vorlin
        from conftest import make_points, write_las
        mm, rgb, i, c = make_points(np.random.default_rng(1), 600_000, shape=(200, 200, 20))
        write_las("big.las", mm, rgb, i, c)
        threading.Timer(0.05, os.kill, (os.getpid(), signal.SIGINT)).start()
        try:
            vorlin.import_file("big.las", "big.qzv")
        except KeyboardInterrupt:
            os.remove("big.las")
            print(sorted(os.listdir(".")))
            sys.exit(0)
        print("import finished before the interrupt")
        sys.exit(1)
    """)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        [os.path.dirname(__file__), os.environ.get("PYTHONPATH", "")]))
    result = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, env=env,
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.strip() == "[]"


def test_failures_raise_with_a_message(scene, tmp_path):
    with pytest.raises(FileNotFoundError):
        vorlin.import_file(tmp_path / "missing.las", tmp_path / "x.qzv")
    (tmp_path / "notes.txt").write_text("hello")
    with pytest.raises(vorlin.VorlinError) as error:
        vorlin.import_file(tmp_path / "notes.txt", tmp_path / "x.qzv")
    assert error.value.status == "UnsupportedFormat" and "notes.txt" in str(error.value)
    (tmp_path / "bad.las").write_bytes(b"LASF" + bytes(100))
    with pytest.raises(vorlin.VorlinError) as error:
        vorlin.import_file(tmp_path / "bad.las", tmp_path / "x.qzv")
    assert error.value.status in ("OpenFailed", "ReadFailed")
    with pytest.raises(vorlin.VorlinError) as error:
        vorlin.import_file(scene.sources[0], tmp_path / "no" / "such" / "folder.qzv")
    assert error.value.status == "CreateFailed"
    with pytest.raises(TypeError):
        vorlin.import_file(scene.sources[0], tmp_path / "x.qzv", progress=42)
    assert sorted(os.listdir(tmp_path)) == ["bad.las", "notes.txt"]

    with pytest.raises(FileNotFoundError):
        vorlin.open(tmp_path / "missing.qzv")
    with pytest.raises(IsADirectoryError):
        vorlin.open(tmp_path)
    with pytest.raises(vorlin.VorlinError, match="not a readable QZV"):
        vorlin.open(tmp_path / "notes.txt")
    with pytest.raises(ValueError):
        vorlin.open(scene.path, preload=-1)


def test_bad_query_arguments_raise(cloud):
    for box in [(0, 0, 0, 1, 1), (1, 0, 0, 0, 1, 1), (0, 0, float("nan"), 1, 1, 1), "abcdef"]:
        with pytest.raises((ValueError, TypeError)):
            cloud.query(box=box)
    for corners in [np.zeros((4, 3)), np.zeros(24), [[1, 2, 3]] * 8 + [[0, 0, 0]],
                    np.full((8, 3), np.inf)]:
        with pytest.raises(ValueError):
            cloud.query(frustum=corners)
    with pytest.raises(ValueError):
        cloud.query(box=(0, 0, 0, 1, 1, 1), frustum=np.zeros((8, 3)))
    with pytest.raises(ValueError):
        vorlin.frustum((0, 0, 0), (0, 0, 0), (0, 0, 1), 60, 1, 1, 10)
    q = cloud.query()
    with pytest.raises(ValueError):
        q.points(-1)
    with pytest.raises(TypeError):
        q.points(1.5)
    for size, mode in [(0, "cursor"), (10, "spiral")]:
        with pytest.raises(ValueError):
            q.batches(size, mode=mode)


def test_a_closed_cloud_refuses_its_queries(scene):
    cloud = vorlin.open(scene.path)
    q = cloud.query()
    batches = q.batches(1000)
    first = next(batches)
    assert 0 < len(first) <= 1000
    cloud.close()
    cloud.close()
    assert cloud.closed
    with pytest.raises(ValueError, match="closed"):
        q.points(10)
    with pytest.raises(ValueError, match="closed"):
        next(batches)
    with pytest.raises(ValueError):
        cloud.point_count
    with pytest.raises(ValueError):
        cloud.query()
    assert "closed" in repr(cloud)


def test_version_3_copy(scene, cloud, tmp_path):
    cloud.save_v3(tmp_path / "v3.qzv")
    with vorlin.open(tmp_path / "v3.qzv") as v3:
        assert v3.version == 3 and v3.point_count == cloud.point_count
        a, b = cloud.query().points(), v3.query().points()
        np.testing.assert_array_equal(np.sort(positions_key(xyz_of(a))),
                                      np.sort(positions_key(xyz_of(b))))
        assert (b["intensity"] == 255).all()
        with pytest.raises(vorlin.VorlinError):
            v3.save_v3(tmp_path / "again.qzv")


def test_local_file_helpers(scene):
    assert vorlin.is_local(scene.path)
    assert not vorlin.is_local(scene.path.parent / "missing.qzv")
    name = vorlin.local_name("//server/share/scene.qzv")
    assert name.endswith(".qzv") and name[:-4].isdigit()
    assert vorlin.local_name("//server/share/scene.qzv") == name
