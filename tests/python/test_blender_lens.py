"""The Blender add-on's camera rules (quorvex_blender.lens), applied to a real tool."""
import math
import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "blender"))

from quorvex_blender import lens as rules  # noqa: E402


def camera(**changes):
    base = dict(focal_length_mm=50.0, fstop=0.8, sensor_width_mm=36.0, sensor_height_mm=24.0, sensor_fit="AUTO",
                width_px=1920.0, height_px=1080.0, focus_distance=4.0, blades=0, rotation_rad=0.0, unit_scale=1.0,
                use_dof=True)
    base.update(changes)
    return rules.Lens(**base)


# (camera changes, filmback width in mm)
FILMBACKS = [
    ({}, 36.0),
    ({"width_px": 1080.0, "height_px": 1920.0}, 36.0 * 1080 / 1920),  # portrait: the width spans the height
    ({"sensor_fit": "HORIZONTAL", "width_px": 1080.0, "height_px": 1920.0}, 36.0),
    ({"sensor_fit": "VERTICAL"}, 24.0 * 1920 / 1080),
]


@pytest.mark.parametrize("changes,width", FILMBACKS)
def test_filmback_follows_the_sensor_fit(changes, width):
    assert rules.filmback_width_mm(camera(**changes)) == pytest.approx(width)


def apply(tool, edits):
    for ident, value in edits:
        tool.set(ident, value)


def test_camera_numbers_reach_the_tool(tool):
    edits, keywords = rules.controls(camera(unit_scale=0.01, focus_distance=350.0), rules.PanelSettings(), 0.5)
    apply(tool, edits)
    assert tool.get("FStop") == pytest.approx(0.8, rel=1e-6)  # below the control's own lower limit
    assert tool.get("FocalLength") == 50.0
    assert tool.get("FocusPosition") == pytest.approx(3.5)  # centimetre units: 350 of them are 3.5 m
    assert tool.get("DepthMapUnits") == 1.0 and tool.get("SettingsType") == 1.0
    assert tool.get("EnableDepth") is True and tool.get("BlurStyle") == 0.0
    assert keywords == {"vectors": "blender", "vectors_scale": 0.5, "depth_scale": 0.01}
    shown = {c.id for c in tool.controls() if c.shown}
    assert {"FocalLength", "FStop", "FilmbackWidth"} <= shown


# (camera changes, panel changes, expected edits that must be there, identifiers that must not)
CASES = [
    ({"blades": 6, "rotation_rad": math.radians(75)}, {}, {"BlurStyle": 1, "PolygonSideCount": 6, "KernelAngle": 15.0},
     []),
    ({"blades": 5, "rotation_rad": math.radians(-10)}, {}, {"KernelAngle": 62.0}, []),
    ({"blades": 6}, {"blur_style": "GAUSSIAN"}, {"BlurStyle": 2}, ["PolygonSideCount"]),
    ({"use_dof": False}, {}, {"EnableDepth": False}, ["FocalLength", "FocusPosition"]),
    ({}, {"depth_of_field": False}, {"EnableDepth": False}, ["FocalLength"]),
    ({}, {"motion_blur": False}, {"Scale Velocity": 0.0}, []),
    ({}, {"motion_scale": 2.0, "edge_condition": "MIRROR"}, {"Scale Velocity": 2.0, "EdgeCondition": 2}, []),
]


@pytest.mark.parametrize("cam,panel,present,absent", CASES)
def test_panel_and_camera_choose_the_edits(tool, cam, panel, present, absent):
    edits, _ = rules.controls(camera(**cam), rules.PanelSettings(**panel), 0.5)
    got = dict(edits)
    for ident, value in present.items():
        assert got[ident] == pytest.approx(value), ident
    for ident in absent:
        assert ident not in got
    apply(tool, edits)  # every edit is one the tool accepts
