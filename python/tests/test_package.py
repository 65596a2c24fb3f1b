"""The package as a user gets it: installed under a prefix, and the example."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


@pytest.mark.skipif("VORLIN_BUILD_DIR" not in os.environ, reason="needs the build folder (ctest)")
def test_installed_package_finds_its_library(scene, tmp_path):
    prefix = tmp_path / "prefix"
    # cmake is not instrumented: no sanitizer runtime for it.
    plain = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    subprocess.run([os.environ.get("VORLIN_CMAKE", "cmake"), "--install",
                    os.environ["VORLIN_BUILD_DIR"], "--prefix", str(prefix)],
                   check=True, capture_output=True, env=plain, timeout=300)
    packages = list(prefix.glob("lib*/python3*/site-packages/vorlin")) + \
        list(prefix.glob("lib*/python3*/dist-packages/vorlin"))
    assert len(packages) == 1, list(prefix.rglob("*"))
    assert (packages[0] / "py.typed").exists() and (packages[0] / "_vorlin.pyi").exists()
    code = ("import sys, vorlin; assert vorlin.__file__.startswith(sys.argv[1]); "
            "print(vorlin.open(sys.argv[2]).point_count)")
    env = dict(os.environ, PYTHONPATH=str(packages[0].parent))
    env.pop("LD_LIBRARY_PATH", None)
    out = subprocess.run([sys.executable, "-c", code, str(prefix), str(scene.path)], env=env,
                         check=True, capture_output=True, text=True, cwd=tmp_path)
    assert out.stdout.strip() == str(len(scene.points.xyz))


def test_top_view_example_writes_a_png(scene, tmp_path):
    pytest.importorskip("matplotlib")
    png = tmp_path / "top.png"
    subprocess.run([sys.executable, str(ROOT / "examples" / "plot_top_view.py"),
                    str(scene.path), str(png), "--count", "5000"], check=True,
                   capture_output=True)
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
