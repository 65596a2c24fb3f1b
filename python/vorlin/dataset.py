"""A dataset: many QZV tiles, one per source, and a catalog that lists them.

    import vorlin
    vorlin.dataset.build(["a.las", "b.las"], "out")     # out/catalog.json
    with vorlin.open_dataset("out/catalog.json") as cloud:
        pts = cloud.query(box=...).points(1_000_000)

build() runs one import per source as a Dask task in a worker process
(imports are single-threaded: processes are what scale). Without a client it
starts a local cluster of one single-threaded worker process per core; give a
distributed.Client (or a scheduler address) to use a cluster whose workers
all reach the sources and out_dir.

Run as a program: python -m vorlin.dataset OUT_DIR SOURCES... [--scheduler
ADDRESS] [--workers N].
"""

import glob
import json
import os
import signal
import sys
import time

CATALOG_NAME = "catalog.json"
CATALOG_VERSION = 1
TILE_FOLDER = "tiles"
_ATTRIBUTE_ORDER = ("RGB", "Intensity", "Normal", "CustomAttribute")


class BuildError(Exception):
    """Some tiles could not be built; failed maps each source to its status."""

    def __init__(self, failed):
        self.failed = dict(failed)
        lines = [f"{src}: {why}" for src, why in self.failed.items()]
        super().__init__(f"{len(lines)} tile(s) failed:\n  " + "\n  ".join(lines))


def _tile_names(sources):
    names, seen = [], {}
    for src in sources:
        stem = os.path.splitext(os.path.basename(src))[0] or "tile"
        n = seen.get(stem, 0)
        seen[stem] = n + 1
        names.append(stem if n == 0 else f"{stem}-{n}")
    return names


def _source_stamp(src):
    st = os.stat(src)
    return {"source": os.path.abspath(src), "source_bytes": st.st_size,
            "source_mtime_ns": st.st_mtime_ns}


def _write_atomically(path, text):
    tmp = os.path.join(os.path.dirname(path) or ".",
                       f".{os.path.basename(path)}.partial-{os.getpid()}")
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
        f.flush()
        os.fsync(f.fileno())
    os.replace(tmp, path)


def _describe(qzv):
    """The catalog entry fields of a finished tile, read back from its file."""
    import vorlin

    with vorlin.open(qzv) as cloud:
        return {"points": cloud.point_count, "bounds": list(cloud.bounds),
                "attributes": [a for a in _ATTRIBUTE_ORDER if a in cloud.attributes],
                "bytes": os.path.getsize(qzv)}


def _georeferencing(source):
    """The source's coordinate system as text (WKT or GeoTIFF keys), or ""."""
    import vorlin

    if not source.lower().endswith((".las", ".laz")):
        return ""
    try:
        found = vorlin.Source(source).georeferencing
    except Exception:
        return ""
    return found[1] if found else ""


def _finished(qzv, record, stamp):
    """The tile's record when its QZV is complete and from this very source."""
    try:
        with open(record, encoding="utf-8") as f:
            saved = json.load(f)
        if any(saved.get(k) != v for k, v in stamp.items()):
            return None
        if os.path.getsize(qzv) != saved["bytes"]:
            return None
        described = _describe(qzv)
        return saved if described["points"] == saved["points"] else None
    except Exception:
        return None


def import_tile(source, qzv):
    """One task: imports source into qzv (written under a hidden name and
    renamed when complete) and records what it holds next to it, unless a
    complete tile of the same source is already there. Returns the record."""
    import vorlin

    record = qzv + ".json"
    stamp = _source_stamp(source)
    saved = _finished(qzv, record, stamp)
    if saved is not None:
        return dict(saved, resumed=True)
    vorlin.import_file(source, qzv)
    saved = dict(stamp, **_describe(qzv))
    saved["georeferencing"] = _georeferencing(source)
    _write_atomically(record, json.dumps(saved))
    return dict(saved, resumed=False)


def _remove_partials(tile_dir):
    for path in glob.glob(os.path.join(tile_dir, ".*.partial-*")):
        try:
            os.remove(path)
        except OSError:
            pass


def write_catalog(out_dir, entries):
    """Writes out_dir/catalog.json for entries (dicts with name, file,
    points, bounds, attributes and optionally georeferencing), atomically."""
    tiles = []
    for e in entries:
        tiles.append({"name": e["name"], "file": e["file"], "points": int(e["points"]),
                      "bounds": [float(v) for v in e["bounds"]],
                      "attributes": list(e["attributes"]),
                      "source": e.get("source", ""),
                      # WKT of the source's coordinate system; empty until the
                      # readers report one.
                      "georeferencing": e.get("georeferencing", "")})
    bounds = None
    for t in tiles:
        b = t["bounds"]
        bounds = list(b) if bounds is None else [
            *(min(bounds[a], b[a]) for a in range(3)),
            *(max(bounds[a + 3], b[a + 3]) for a in range(3))]
    doc = {"format": "vorlin-dataset", "version": CATALOG_VERSION, "tiles": tiles,
           "totals": {"tiles": len(tiles), "points": sum(t["points"] for t in tiles),
                      "bounds": bounds or [0.0] * 6}}
    path = os.path.join(out_dir, CATALOG_NAME)
    _write_atomically(path, json.dumps(doc, indent=1))
    return path


def _print_progress(done, total, name, status):
    print(f"[{done}/{total}] {name}: {status}", file=sys.stderr, flush=True)


def _local_client(workers):
    from distributed import Client, LocalCluster

    # Ctrl-C reaches the whole process group; the workers' processes start
    # with it ignored (and keep it so), and this process stops them.
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        cluster = LocalCluster(n_workers=workers or os.cpu_count() or 1, threads_per_worker=1,
                               processes=True, dashboard_address=None)
    finally:
        signal.signal(signal.SIGINT, previous)
    return Client(cluster), cluster


def build(sources, out_dir, client=None, *, workers=None, retries=2, progress=_print_progress):
    """Builds a dataset of one tile per source in out_dir and returns the
    catalog's path.

    client: a distributed.Client, a scheduler address, or None for a local
    cluster of `workers` single-threaded processes (default: one per core).
    A task that fails is retried `retries` times (a lost worker's task is
    rescheduled by Dask); tiles still failing raise BuildError naming each
    source with its status, after the others are finished (no catalog is
    written then). A second run skips tiles whose QZV is complete and from
    the same source. KeyboardInterrupt stops the workers and leaves finished
    tiles and no partial ones. progress(done, total, name, status) is called
    as tiles finish (None: silent).
    """
    from distributed import Client, as_completed

    sources = [os.fspath(s) for s in sources]
    if not sources:
        raise ValueError("no sources")
    for s in sources:
        if not os.path.isfile(s):
            raise FileNotFoundError(2, "no such source", s)
    out_dir = os.path.abspath(os.fspath(out_dir))
    tile_dir = os.path.join(out_dir, TILE_FOLDER)
    os.makedirs(tile_dir, exist_ok=True)
    _remove_partials(tile_dir)
    names = _tile_names(sources)
    outputs = [os.path.join(tile_dir, n + ".qzv") for n in names]

    cluster = None
    own_client = False
    if client is None:
        client, cluster = _local_client(workers)
        own_client = True
    elif isinstance(client, str):
        client = Client(client)
        own_client = True
    results, failed = {}, {}
    futures = {}
    try:
        for i, (src, qzv) in enumerate(zip(sources, outputs)):
            f = client.submit(import_tile, os.path.abspath(src), qzv, retries=retries,
                              key=f"vorlin-tile-{names[i]}-{time.time_ns()}", pure=False)
            futures[f] = i
        done = 0
        for f in as_completed(list(futures)):
            i = futures[f]
            done += 1
            try:
                results[i] = f.result()
                status = "resumed" if results[i]["resumed"] else "imported"
            except Exception as e:  # noqa: BLE001  (reported by name below)
                failed[sources[i]] = f"{f.status}: {type(e).__name__}: {e}"
                status = "failed"
            if progress:
                progress(done, len(sources), names[i], status)
    except BaseException:
        # Ctrl-C or a lost scheduler: stop the workers first, so that no
        # import is left writing, then drop what they had not finished.
        if own_client:
            client.close()
            if cluster is not None:
                cluster.close()
            own_client = False
        else:
            # Tasks already running on someone else's cluster finish or fail
            # on their own; their partial files are removed here.
            client.cancel(list(futures))
        _remove_partials(tile_dir)
        raise
    finally:
        if own_client:
            client.close()
            if cluster is not None:
                cluster.close()
    # A worker lost during its import leaves a hidden partial file.
    _remove_partials(tile_dir)
    if failed:
        raise BuildError(failed)
    entries = []
    for i, name in enumerate(names):
        r = results[i]
        entries.append(dict(r, name=name, file=f"{TILE_FOLDER}/{name}.qzv"))
    return write_catalog(out_dir, entries)


def main(argv=None):
    import argparse

    parser = argparse.ArgumentParser(
        prog="vorlin dataset build",
        description="Imports each source into its own QZV tile on Dask and writes "
                    "OUT_DIR/catalog.json.")
    parser.add_argument("out_dir")
    parser.add_argument("sources", nargs="+")
    parser.add_argument("--scheduler", help="address of a Dask scheduler (default: a local "
                        "cluster)")
    parser.add_argument("--workers", type=int, help="worker processes of the local cluster "
                        "(default: one per core)")
    args = parser.parse_args(argv)
    if args.workers is not None and args.workers < 1:
        parser.error("--workers must be 1 or more")
    try:
        import distributed  # noqa: F401
    except ImportError:
        print("vorlin dataset build: needs Dask (python3-dask and python3-distributed; "
              "scripts/setup.sh installs them)", file=sys.stderr)
        return 3
    try:
        path = build(args.sources, args.out_dir, args.scheduler, workers=args.workers)
    except KeyboardInterrupt:
        print("vorlin dataset build: interrupted; finished tiles are kept, run again to "
              "resume", file=sys.stderr)
        return 130
    except BuildError as e:
        print(f"vorlin dataset build: {e}", file=sys.stderr)
        return 1
    except (OSError, ValueError) as e:
        print(f"vorlin dataset build: {e}", file=sys.stderr)
        return 2
    print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
