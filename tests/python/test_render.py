"""Frames rendered from numpy arrays: equal to quorvex-render on the same file,
bad arrays refused with clear errors, the abort flag, and no leaked objects."""
import os
import signal
import threading
import time

import numpy as np
import pytest

import quorvex
from conftest import planes, rgba_of, run_render, scene

# (edits, extra command arguments, render keywords)
SETTINGS = [
    ([], [], {}),
    ([("EdgeCondition", "Mirror"), ("Scale Velocity", 1.5)], [], {}),
    ([("EnableDepth", True), ("FocusPosition", 2.0), ("MaxBlurSize", 4)], [], {}),
    ([("EnableDepth", True), ("SettingsType", "Advanced"), ("DepthMapUnits", "meter"), ("FocalLength", 50),
      ("ApertureDiameter", 62.5), ("FocusPosition", 2.0), ("BlurStyle", 1)], [], {}),
    ([("EnableDepth", True), ("FocusPosition", 1.5)], ["--vectors", "blender", "--vectors-scale", "0.5"],
     {"vectors": "blender", "vectors_scale": 0.5}),
    ([("EnableDepth", True), ("FocusPosition", 0.5)], ["--depth-mode", "inverse"], {"depth_mode": "inverse"}),
]


@pytest.mark.parametrize("edits,args,kwargs", SETTINGS)
def test_render_equals_the_command_bit_for_bit(tool, tmp_path, edits, args, kwargs):
    rgba, depth, motion = scene()
    channels = planes(rgba, Z=depth)
    if kwargs.get("vectors") == "blender":
        blender = np.dstack([-motion, -motion * 0.5]).astype(np.float32)  # X, Y, Z, W
        channels.update({"Vector.X": blender[..., 0], "Vector.Y": blender[..., 1], "Vector.Z": blender[..., 2],
                         "Vector.W": blender[..., 3]})
        vectors = blender
    else:
        channels.update({"VectX": motion[..., 0], "VectY": motion[..., 1]})
        vectors = motion
    quorvex.write(tmp_path / "in.exr", channels)
    for ident, value in edits:
        tool.set(ident, value)
    tool.save_comp(tmp_path / "c.comp")
    status, err, _ = run_render("--input", tmp_path / "in.exr", "--output", tmp_path / "out.exr", "--comp",
                                tmp_path / "c.comp", "--threads", 1, "--quiet", *args)
    assert status == 0, err
    expected = rgba_of(quorvex.read(tmp_path / "out.exr"))
    for threads in (1, 2):
        out = tool.render(rgba, depth=depth, motion=vectors, threads=threads, **kwargs)
        assert out.dtype == np.float32 and out.shape == rgba.shape
        assert np.array_equal(out, expected), f"threads={threads}: differs by {np.abs(out - expected).max()}"
    assert not np.array_equal(expected, rgba)  # the frame was blurred


def test_row_zero_is_the_top_row(tool):
    # One bright pixel in the top row moving right smears along the top row only.
    rgba = np.zeros((6, 9, 4), np.float32)
    rgba[0, 2] = 1.0
    motion = np.zeros((6, 9, 2), np.float32)
    motion[..., 0] = 4.0
    out = tool.render(rgba, motion=motion)
    assert out[0, 3:6, 3].max() > 0 and out[1:, :, 3].max() == 0


def test_float16_is_widened_on_the_way_in(tool):
    rgba, depth, motion = scene()
    half = rgba.astype(np.float16)
    a = tool.render(half, motion=motion.astype(np.float16))
    b = tool.render(half.astype(np.float32), motion=motion.astype(np.float16).astype(np.float32))
    assert np.array_equal(a, b)


def test_keyframed_controls_follow_the_frame(tool):
    rgba, _, motion = scene()
    tool.set("Scale Velocity", 0.0, frame=1)
    tool.set("Scale Velocity", 2.0, frame=3)
    still = tool.render(rgba, motion=motion, frame=1)
    moving = tool.render(rgba, motion=motion, frame=3)
    assert np.array_equal(still, tool.render(rgba, motion=np.zeros_like(motion), frame=1))
    assert not np.array_equal(still, moving)


def bad_calls():
    rgba, depth, motion = scene()
    nan = rgba.copy()
    nan[2, 3, 1] = np.nan
    return [
        ({"rgba": rgba[..., :3]}, "shape H x W x 4, not (12, 16, 3)"),
        ({"rgba": rgba.astype(np.float64)}, "float32 or float16, not float64"),
        ({"rgba": rgba.tolist()}, "numpy array"),
        ({"rgba": nan}, "NaN at row 2, column 3, channel 1"),
        ({"rgba": rgba[:0]}, "empty"),
        ({"rgba": rgba, "depth": depth[..., None]}, "depth must have the shape H x W"),
        ({"rgba": rgba, "motion": motion[..., :1]}, "motion must have the shape H x W x 2"),
        ({"rgba": rgba, "motion": motion, "vectors": "blender"}, "H x W x 4"),
        ({"rgba": rgba, "vectors": "sideways"}, 'vectors="sideways"'),
        ({"rgba": rgba, "depth_mode": "log"}, 'depth_mode="log"'),
        ({"rgba": rgba, "threads": -1}, "threads"),
        ({"rgba": rgba, "frame": float("nan")}, "frame"),
        # Sizes that do not match: the tool's own message.
        ({"rgba": rgba, "motion": motion[:-1]}, "Quorvex error: Input and velocity image dimensions are not the same."),
        ({"rgba": rgba, "depth": depth[:, :-2], "enable_depth": True},
         "Quorvex error: Input and depth image dimensions are not the same."),
        ({"rgba": rgba, "enable_depth": True}, "no depth array"),
    ]


@pytest.mark.parametrize("call,words", bad_calls())
def test_bad_arrays_raise_clear_errors(tool, call, words):
    call = dict(call)
    if call.pop("enable_depth", False):
        tool.set("EnableDepth", True)
    live = quorvex.live_objects()
    with pytest.raises(quorvex.Error) as e:
        tool.render(**call)
    assert words in str(e.value)
    assert quorvex.live_objects() == live
    tool.set("EnableDepth", False)
    assert tool.render(scene()[0]).shape == (12, 16, 4)  # still usable


def test_every_render_gives_back_its_objects(tool):
    live = quorvex.live_objects()
    rgba, depth, motion = scene()
    tool.set("EnableDepth", True)
    for _ in range(3):
        tool.render(rgba, depth=depth, motion=motion, blur_image=np.ones((5, 5), np.float32))
        assert quorvex.live_objects() == live
    assert any("processing time" in text for kind, text in tool.messages() if kind == 40)


def test_render_releases_the_interpreter_lock(tool):
    # Another Python thread runs while a frame renders.
    rgba = np.ones((600, 800, 4), np.float32)
    motion = np.full((600, 800, 2), 40.0, np.float32)
    ticks = []
    stop = threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(1)
            stop.wait(0.001)

    t = threading.Thread(target=tick)
    t.start()
    before = len(ticks)
    tool.render(rgba, motion=motion, threads=1)
    during = len(ticks) - before
    stop.set()
    t.join()
    assert during > 5


def test_ctrl_c_cancels_the_frame(tool):
    # A frame of several seconds, interrupted after a tenth of one.
    rng = np.random.default_rng(0)
    rgba = rng.random((800, 800, 4), dtype=np.float32)
    motion = (300 * rng.random((800, 800, 2))).astype(np.float32)
    started = time.monotonic()
    tool.render(rgba, motion=motion, threads=1)
    full = time.monotonic() - started
    live = quorvex.live_objects()
    # Python's own Ctrl-C handler, even when started with SIGINT ignored (nohup, &).
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    timer = threading.Timer(0.1, lambda: os.kill(os.getpid(), signal.SIGINT))
    timer.start()
    started = time.monotonic()
    try:
        with pytest.raises(KeyboardInterrupt):
            tool.render(rgba, motion=motion, threads=1)
    finally:
        timer.join()
        signal.signal(signal.SIGINT, previous)
    assert time.monotonic() - started < 0.6 * full, "the frame ran on after Ctrl-C"
    assert quorvex.live_objects() == live
    assert tool.render(rgba[:4, :4]).shape == (4, 4, 4)  # the abort flag is lowered again


def test_a_busy_tool_refuses_other_threads(tool):
    # While one thread renders, edits and close from another are refused, not queued.
    rng = np.random.default_rng(0)
    rgba = rng.random((500, 500, 4), dtype=np.float32)
    motion = (200 * rng.random((500, 500, 2))).astype(np.float32)
    errors = []
    worker = threading.Thread(target=lambda: tool.render(rgba, motion=motion, threads=1))
    worker.start()
    time.sleep(0.05)
    for call in (tool.close, lambda: tool.set("Scale Velocity", 2), lambda: tool.render(rgba)):
        try:
            call()
        except quorvex.Error as e:
            errors.append(str(e))
    worker.join()
    assert len(errors) == 3 and all("rendering" in e for e in errors), errors
    assert tool.get("Scale Velocity") == 1.0
