"""A dataset built on a local Dask cluster that loses a worker mid-build,
then queried as one cloud against its tiles queried one by one."""

import json
import os
import signal
import threading
import time

import numpy as np
import pytest

import vorlin
from conftest import make_points, positions_key, write_las, xyz_of

distributed = pytest.importorskip("distributed")

TILES = 6
POINTS = 150_000
TILE_STEP_MM = 100_000  # tiles side by side along x


@pytest.fixture(scope="module")
def sources(tmp_path_factory):
    folder = tmp_path_factory.mktemp("tiles")
    rng = np.random.default_rng(18)
    paths = []
    for i in range(TILES):
        mm, rgb, intensity, cls = make_points(rng, POINTS, shape=(60, 50, 100),
                                              step_mm=(1500, 1800, 180))
        mm[:, 0] += i * TILE_STEP_MM
        path = folder / f"tile{i}.las"
        write_las(path, mm, rgb, intensity, cls)
        paths.append(str(path))
    return paths


def kill_a_busy_worker(client, stop):
    """SIGKILLs the first worker seen running a task; returns what it did."""
    pids = client.run(os.getpid)
    while not stop.is_set():
        for worker, keys in client.processing().items():
            if keys:
                os.kill(pids[worker], signal.SIGKILL)
                return keys
        time.sleep(0.005)
    return None


@pytest.fixture(scope="module")
def built(sources, tmp_path_factory):
    out = tmp_path_factory.mktemp("dataset")
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       dashboard_address=None)
    client = distributed.Client(cluster)
    try:
        stop = threading.Event()
        killed = []
        killer = threading.Thread(target=lambda: killed.append(kill_a_busy_worker(client, stop)))
        killer.start()
        catalog = vorlin.dataset.build(sources, out, client, progress=None)
        stop.set()
        killer.join()
        resumed = []
        vorlin.dataset.build(sources, out, client,
                             progress=lambda done, total, name, status: resumed.append(status))
    finally:
        client.close()
        cluster.close()
    return catalog, killed[0], resumed


def tile_points(paths, box=None):
    keys = []
    for path in paths:
        with vorlin.open(path) as cloud:
            q = cloud.query(box=box, clip=box is not None)
            keys.append(positions_key(xyz_of(q.points(None))))
    return np.sort(np.concatenate(keys))


def test_build_survives_a_lost_worker_and_answers_the_union(built):
    catalog, killed, resumed = built
    assert killed, "no worker was seen running an import"
    doc = json.loads(open(catalog).read())
    assert [t["name"] for t in doc["tiles"]] == [f"tile{i}" for i in range(TILES)]
    assert doc["totals"]["points"] == TILES * POINTS
    folder = os.path.dirname(catalog)
    assert not [n for n in os.listdir(os.path.join(folder, "tiles")) if n.startswith(".")]
    assert resumed == ["resumed"] * TILES  # the second run reimports nothing

    tiles = [os.path.join(folder, t["file"]) for t in doc["tiles"]]
    box = (5000.0 + 60.0, -2000.0, 100.0, 5000.0 + 260.0, -2000.0 + 40.0, 100.0 + 10.0)
    with vorlin.open_dataset(catalog, max_open_tiles=2) as ds:
        assert ds.point_count == TILES * POINTS
        everything = ds.query()
        assert everything.visible_points == TILES * POINTS
        assert np.array_equal(np.sort(positions_key(xyz_of(everything.points(None)))),
                              tile_points(tiles))
        boxed = ds.query(box=box, clip=True)
        assert np.array_equal(np.sort(positions_key(xyz_of(boxed.points(None)))),
                              tile_points(tiles, box))
        sample = everything.points(60_000)
        # Tile i spans x from 5000 + 100 i to 90 m beyond, give or take rounding.
        per_tile = np.bincount(((xyz_of(sample)[:, 0] - 4995.0) // 100).astype(int),
                               minlength=TILES)
        assert len(sample) == 60_000 and per_tile.min() > 9_000  # shared by visible points
        assert ds.failed_tiles == []


def test_a_deleted_tile_is_named_and_the_rest_served(built, tmp_path):
    catalog, _, _ = built
    doc = json.loads(open(catalog).read())
    copy = tmp_path / "catalog.json"
    folder = os.path.dirname(catalog)
    os.makedirs(tmp_path / "tiles")
    for t in doc["tiles"]:
        os.link(os.path.join(folder, t["file"]), tmp_path / t["file"])
    copy.write_text(json.dumps(doc))
    os.remove(tmp_path / doc["tiles"][2]["file"])
    with vorlin.open_dataset(copy) as ds:
        points = ds.query().points(None)
        assert len(points) == (TILES - 1) * POINTS
        assert [name for name, _ in ds.failed_tiles] == ["tile2"]


def test_a_source_that_keeps_failing_is_named_and_no_catalog_written(sources, tmp_path):
    bad = tmp_path / "broken.las"
    bad.write_bytes(b"LASF" + bytes(400))
    out = tmp_path / "out"
    with pytest.raises(vorlin.dataset.BuildError) as failure:
        vorlin.dataset.build([sources[0], bad], out, workers=1, progress=None)
    assert list(failure.value.failed) == [str(bad)]
    assert "error" in failure.value.failed[str(bad)]
    assert sorted(os.listdir(out / "tiles")) == ["tile0.qzv", "tile0.qzv.json"]
    assert not (out / "catalog.json").exists()
