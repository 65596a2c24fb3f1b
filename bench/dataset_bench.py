"""Dataset build and open figures.

    PYTHONPATH=build/rel/python python3 bench/dataset_bench.py \
        --vorlin build/rel/tools/cli/vorlin [--tiles 16] [--points 5000000] [--catalog-tiles 10000]

1. Build of TILES sources of POINTS points: one process importing them one
   after another, against vorlin.dataset.build on a local Dask cluster of 2
   single-threaded worker processes (cluster start timed apart). The
   scheduling overhead per tile is the cluster's time beyond the ideal
   (sequential time / workers), per tile, and a no-op task's round trip.
2. A catalog of CATALOG_TILES small tiles (built on the same cluster): open
   to the first answer of a small box query, and the process's memory.
"""

import argparse
import os
import resource
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

import numpy as np

import vorlin


def small_las(path, x0, y0, n, rng):
    """A LAS 1.2 point-format-0 file of n points in a 10 m square at x0, y0."""
    xyz = np.stack([rng.integers(0, 10_000, n) + int(x0 * 1000),
                    rng.integers(0, 10_000, n) + int(y0 * 1000),
                    rng.integers(0, 2_000, n)], axis=1).astype("<i4")
    lo, hi = xyz.min(axis=0) / 1000.0, xyz.max(axis=0) / 1000.0
    header = b"LASF" + struct.pack("<HH16sBB32s32sHHHIIBHI5I", 0, 0, b"", 1, 2, b"bench",
                                   b"numpy", 1, 2026, 227, 227, 0, 0, 20, n, n, 0, 0, 0, 0)
    header += struct.pack("<3d3d", 0.001, 0.001, 0.001, 0.0, 0.0, 0.0)
    header += struct.pack("<6d", hi[0], lo[0], hi[1], lo[1], hi[2], lo[2])
    record = np.zeros(n, np.dtype([("xyz", "<i4", 3), ("rest", "u1", 8)]))
    record["xyz"] = xyz
    with open(path, "wb") as f:
        f.write(header + record.tobytes())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--vorlin", required=True, help="the vorlin program (for generate)")
    parser.add_argument("--tiles", type=int, default=16)
    parser.add_argument("--points", type=int, default=5_000_000)
    parser.add_argument("--catalog-tiles", type=int, default=10_000)
    parser.add_argument("--work", default=None, help="scratch folder (default: a temporary one)")
    args = parser.parse_args()
    from distributed import Client, LocalCluster

    work = args.work or tempfile.mkdtemp(prefix="vorlin-dataset-bench-")
    os.makedirs(work, exist_ok=True)
    sources = []
    for i in range(args.tiles):
        path = os.path.join(work, f"src{i:02d}.las")
        if not os.path.exists(path):
            subprocess.run([args.vorlin, "generate", path, "--points", str(args.points),
                            "--seed", str(i + 1)], check=True, stdout=subprocess.DEVNULL)
        sources.append(path)

    seq_dir = os.path.join(work, "sequential")
    shutil.rmtree(seq_dir, ignore_errors=True)
    os.makedirs(seq_dir)
    per_tile = []
    start = time.perf_counter()
    for i, src in enumerate(sources):
        t = time.perf_counter()
        vorlin.import_file(src, os.path.join(seq_dir, f"t{i}.qzv"))
        per_tile.append(time.perf_counter() - t)
    sequential = time.perf_counter() - start
    shutil.rmtree(seq_dir)
    print(f"sequential: {args.tiles} x {args.points} points in {sequential:.1f} s "
          f"(median tile {statistics.median(per_tile):.2f} s)", flush=True)

    t = time.perf_counter()
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                           dashboard_address=None)
    client = Client(cluster)
    startup = time.perf_counter() - t
    try:
        out = os.path.join(work, "dataset")
        shutil.rmtree(out, ignore_errors=True)
        t = time.perf_counter()
        vorlin.dataset.build(sources, out, client, progress=None)
        parallel = time.perf_counter() - t
        shutil.rmtree(out)
        rounds = []
        for _ in range(50):
            t = time.perf_counter()
            client.submit(int, 1, pure=False).result()
            rounds.append(time.perf_counter() - t)
        print(f"cluster of 2: start {startup:.1f} s, build {parallel:.1f} s, speed-up "
              f"{sequential / parallel:.2f}x; beyond ideal per tile "
              f"{(parallel - sequential / 2) / args.tiles * 1000:.0f} ms; no-op task round trip "
              f"median {statistics.median(rounds) * 1000:.1f} ms", flush=True)

        small = os.path.join(work, "small")
        catalog = os.path.join(small, "dataset", "catalog.json")
        if not os.path.exists(catalog):
            os.makedirs(small, exist_ok=True)
            rng = np.random.default_rng(1)
            side = int(np.ceil(np.sqrt(args.catalog_tiles)))
            small_sources = []
            for i in range(args.catalog_tiles):
                path = os.path.join(small, f"s{i:05d}.las")
                small_las(path, (i % side) * 10.0, (i // side) * 10.0, 200, rng)
                small_sources.append(path)
            t = time.perf_counter()
            vorlin.dataset.build(small_sources, os.path.join(small, "dataset"), client,
                                 progress=None)
            print(f"built {args.catalog_tiles} small tiles in {time.perf_counter() - t:.1f} s",
                  flush=True)
    finally:
        client.close()
        cluster.close()

    rss0 = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    opens, firsts = [], []
    for _ in range(5):
        t = time.perf_counter()
        ds = vorlin.open_dataset(catalog, max_open_tiles=64)
        opened = time.perf_counter() - t
        pts = ds.query(box=(100.0, 100.0, -1.0, 130.0, 130.0, 3.0), clip=True).points(100_000)
        firsts.append(time.perf_counter() - t)
        opens.append(opened)
        ds.close()
    rss1 = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(f"{args.catalog_tiles}-tile catalog ({os.path.getsize(catalog) / 1e6:.1f} MB): open "
          f"median {statistics.median(opens) * 1000:.1f} ms, to first answer ({len(pts)} points) "
          f"median {statistics.median(firsts) * 1000:.1f} ms; peak memory grew "
          f"{(rss1 - rss0) / 1024:.0f} MB", flush=True)


if __name__ == "__main__":
    sys.exit(main())
