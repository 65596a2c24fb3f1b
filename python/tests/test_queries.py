import numpy as np
import pytest

import vorlin
from conftest import positions_key, xyz_of


def keys(points):
    k = positions_key(xyz_of(points))
    assert len(np.unique(k)) == len(k), "a point was delivered twice"
    return set(k.tolist())


def world_positions(cloud, scene):
    """The source positions as the library stores them: single-precision
    offsets from the centre, added back in double precision."""
    centre = np.array(cloud.centre)
    return (scene.points.xyz - centre).astype(np.float32).astype(np.float64) + centre


def test_clipped_box_matches_a_numpy_filter(scene, cloud):
    lo, hi = np.array(cloud.bounds[:3]), np.array(cloud.bounds[3:])
    box = (*(lo + (hi - lo) * [0.2, 0.3, 0.1]), *(lo + (hi - lo) * [0.55, 0.8, 0.6]))
    xyz = world_positions(cloud, scene)
    inside = np.all((xyz >= box[:3]) & (xyz <= box[3:]), axis=1)

    clipped = cloud.query(box=box, clip=True)
    got = clipped.points()
    assert keys(got) == set(positions_key(scene.points.xyz[inside]).tolist())

    # Without clipping whole cells come back: a superset, from the same cells.
    whole = cloud.query(box=box)
    assert whole.visible_points == clipped.visible_points
    assert keys(whole.points()) >= keys(got)
    assert whole.visible_points < whole.total_points == cloud.point_count


def frustum_planes(corners):
    """Inward normals and offsets of the six planes of an 8 x 3 corner array."""
    c = np.asarray(corners)
    centre = c.mean(axis=0)
    faces = [(0, 1, 2), (4, 6, 5), (0, 4, 5), (2, 6, 7), (1, 5, 6), (0, 3, 7)]
    planes = []
    for a, b, d in faces:
        n = np.cross(c[b] - c[a], c[d] - c[a])
        n /= np.linalg.norm(n)
        if np.dot(centre - c[a], n) < 0:
            n = -n
        planes.append((n, np.dot(n, c[a])))
    return planes


def test_camera_frustum_matches_a_numpy_filter(scene, cloud):
    lo, hi = np.array(cloud.bounds[:3]), np.array(cloud.bounds[3:])
    middle = (lo + hi) / 2
    eye = middle + [-(hi[0] - lo[0]) * 0.8, -(hi[1] - lo[1]) * 0.3, (hi[2] - lo[2]) * 2]
    corners = vorlin.frustum(eye, middle, (0, 0, 1), 35, 1.4, 5.0, 120.0)
    assert corners.shape == (8, 3)
    xyz = world_positions(cloud, scene)
    distance = np.array([xyz @ n - d for n, d in frustum_planes(corners)])
    surely_in = positions_key(scene.points.xyz[distance.min(axis=0) > 1e-3])
    # Single points are tested against the four side planes; the near and
    # far planes only decide which cells are seen.
    maybe_in = positions_key(scene.points.xyz[distance[2:].min(axis=0) > -1e-3])
    assert 1000 < len(surely_in) and len(maybe_in) < len(xyz) - 1000

    got = keys(cloud.query(frustum=corners, clip=True).points())
    assert set(surely_in.tolist()) <= got <= set(maybe_in.tolist())

    # The same corners passed as a plain list give the same points.
    assert keys(cloud.query(frustum=corners.tolist(), clip=True).points()) == got


def test_a_sample_is_spread_over_the_region(cloud):
    q = cloud.query()
    sample = q.points(4000)
    assert len(sample) == 4000
    keys(sample)
    # An even sample: every eighth of the cloud gets roughly its share.
    lo, hi = np.array(cloud.bounds[:3]), np.array(cloud.bounds[3:])
    octant = ((xyz_of(sample) - lo) / (hi - lo) * 2).astype(int).clip(0, 1) @ [1, 2, 4]
    everything = q.points()
    all_octant = ((xyz_of(everything) - lo) / (hi - lo) * 2).astype(int).clip(0, 1) @ [1, 2, 4]
    share = np.bincount(octant, minlength=8) / len(sample)
    expected = np.bincount(all_octant, minlength=8) / len(everything)
    np.testing.assert_allclose(share, expected, atol=0.03)
    assert len(q.points(0)) == 0
    assert len(q.points(10 ** 15)) == q.visible_points


@pytest.mark.parametrize("mode", ["cursor", "set"])
@pytest.mark.parametrize("clip", [False, True])
def test_batches_add_up_to_one_large_fetch(cloud, mode, clip):
    lo, hi = np.array(cloud.bounds[:3]), np.array(cloud.bounds[3:])
    box = (*(lo + (hi - lo) * 0.15), *(lo + (hi - lo) * 0.7))
    q = cloud.query(box=box, clip=clip)
    whole = keys(q.points())
    seen = []
    for batch in q.batches(777, mode=mode):
        assert 0 < len(batch) <= 777 and batch.dtype == vorlin.POINT_DTYPE
        seen.append(batch)
    delivered = keys(np.concatenate(seen))
    if mode == "set":
        assert delivered == whole
    else:
        # A cursor's refinements stop once the cells with records left come
        # after used-up ones in grid order; what it delivers is still part
        # of the whole, each point once.
        assert delivered <= whole and len(delivered) > 0.9 * len(whole)


def test_batches_stop_at_the_requested_count(cloud):
    q = cloud.query()
    for mode in ("cursor", "set"):
        got = np.concatenate(list(q.batches(1000, mode=mode, count=4500)))
        assert len(got) == 4500
        keys(got)


def test_a_region_that_sees_nothing(cloud):
    lo = cloud.bounds[:3]
    q = cloud.query(box=(lo[0] - 10, lo[1] - 10, lo[2] - 10, lo[0] - 5, lo[1] - 5, lo[2] - 5))
    assert q.visible_points == 0
    assert len(q.points()) == 0
    assert list(q.batches(100)) == [] and list(q.batches(100, mode="set")) == []
