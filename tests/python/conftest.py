"""Finds the built package and quorvex-render, and checks every test for leaks."""
import os
import pathlib
import subprocess
import sys

import numpy as np
import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("QUORVEX_BUILD_DIR", REPO / "build"))
if str(BUILD / "python") not in sys.path:
    sys.path.insert(0, str(BUILD / "python"))

import quorvex  # noqa: E402

RENDER = BUILD / "bin" / "quorvex-render"


@pytest.fixture
def tool():
    """A fresh tool; afterwards every host object it made is given back."""
    before = quorvex.live_objects()
    t = quorvex.Tool()
    yield t
    t.close()
    assert quorvex.live_objects() == before, "host objects leaked"


def run_render(*args):
    """quorvex-render with the arguments; its exit status and standard error."""
    r = subprocess.run([str(RENDER), *map(str, args)], capture_output=True, text=True)
    return r.returncode, r.stderr, r.stdout


def scene(height=12, width=16, seed=3):
    """A small premultiplied frame with distances 1 to 5 and vectors up to 3 pixels."""
    rng = np.random.default_rng(seed)
    rgba = rng.random((height, width, 4), dtype=np.float32)
    rgba[..., :3] *= rgba[..., 3:]
    depth = (1 + 4 * rng.random((height, width))).astype(np.float32)
    motion = (6 * rng.random((height, width, 2)) - 3).astype(np.float32)
    return rgba, depth, motion


def planes(rgba, **more):
    """An H x W x 4 array as the R, G, B and A planes quorvex.write takes, with more planes by name."""
    return {**{n: rgba[..., i] for i, n in enumerate("RGBA")}, **more}


def rgba_of(channels, names=("R", "G", "B", "A")):
    return np.dstack([channels[n] for n in names])
