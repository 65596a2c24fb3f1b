"""Speed of q.points(N) in Python against the library's own getPoints of the
same query, in the same process, from preloaded memory.

    python3 bench/python_points.py SCENE.qzv [--count N] [--rounds R] [--preload BYTES]

The C++ side is Query._raw_fetch: getPoints into a record buffer that the
query keeps between calls, as a C++ host would, without making an array. The
Python side makes a new numpy array of POINT_DTYPE every call (world
coordinates in float64, colour unpacked). Rounds alternate the two so both
see the same machine; medians are printed with their ratio.
"""

import argparse
import statistics
import sys
import time

import vorlin


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("file")
    parser.add_argument("--count", type=int, default=1_000_000)
    parser.add_argument("--rounds", type=int, default=41)
    parser.add_argument("--preload", type=int, default=512 << 20)
    parser.add_argument("--settle", type=float, default=3.0,
                        help="seconds to let the background loader fill its memory")
    args = parser.parse_args()

    with vorlin.open(args.file, preload=args.preload) as cloud:
        if cloud.point_count < args.count * 4:
            sys.exit(f"{args.file}: {cloud.point_count:,} points; want at least 4 x --count "
                     "so that the sample comes from the preloaded leading records")
        time.sleep(args.settle)
        q = cloud.query()
        for _ in range(3):  # warm caches and the allocator
            q.points(args.count)
            q._raw_fetch(args.count)
        python_s, native_s = [], []
        for _ in range(args.rounds):
            t = time.perf_counter()
            points = q.points(args.count)
            python_s.append(time.perf_counter() - t)
            del points
            t = time.perf_counter()
            got = q._raw_fetch(args.count)
            native_s.append(time.perf_counter() - t)
        assert got == args.count
        py_ms = statistics.median(python_s) * 1e3
        cpp_ms = statistics.median(native_s) * 1e3
        print(f"file: {args.file} ({cloud.point_count:,} points), count {args.count:,}, "
              f"median of {args.rounds}")
        print(f"C++ getPoints:        {cpp_ms:8.2f} ms")
        print(f"Python q.points():    {py_ms:8.2f} ms")
        print(f"ratio:                {py_ms / cpp_ms:8.2f} x")


if __name__ == "__main__":
    main()
