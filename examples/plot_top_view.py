"""Plots a top view of a QZV file (or of part of it) into a PNG.

    python3 examples/plot_top_view.py SCENE.qzv top.png [--count 300000]
        [--box X0,Y0,Z0,X1,Y1,Z1]

Fetches an even level-of-detail sample of the points in the box (default:
the whole cloud) and draws them from above in their own colours, lower
points first so that roofs cover the ground.
"""

import argparse

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import vorlin  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("qzv")
    parser.add_argument("png")
    parser.add_argument("--count", type=int, default=300_000)
    parser.add_argument("--box", help="X0,Y0,Z0,X1,Y1,Z1 in world coordinates")
    args = parser.parse_args()

    with vorlin.open(args.qzv, preload=64 << 20) as cloud:
        box = tuple(float(v) for v in args.box.split(",")) if args.box else None
        query = cloud.query(box=box, clip=box is not None)
        points = query.points(args.count)
        has_colour = "RGB" in cloud.attributes
        title = f"{cloud.path}: {len(points):,} points from above"
        print(f"{len(points):,} of {query.visible_points:,} visible points "
              f"({cloud.point_count:,} in the file)")

    points = points[np.argsort(points["z"])]
    if has_colour:
        colours = np.stack([points["red"], points["green"], points["blue"]], axis=1) / 255.0
    else:
        colours = plt.cm.viridis((points["z"] - points["z"].min()) / np.ptp(points["z"]))
    figure, axes = plt.subplots(figsize=(8, 8), dpi=100)
    axes.scatter(points["x"], points["y"], c=colours, s=2, marker=".", linewidths=0)
    axes.set_aspect("equal")
    axes.set_xlabel("x")
    axes.set_ylabel("y")
    axes.set_title(title)
    figure.tight_layout()
    figure.savefig(args.png)
    print(f"wrote {args.png}")


if __name__ == "__main__":
    main()
