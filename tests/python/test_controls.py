"""Controls through the module: listing, edits, keyframes, interplay and comp files,
checked against quorvex-render's own view of the same edits."""
import numpy as np
import pytest

import quorvex
from conftest import run_render


def command_controls(*args):
    status, err, out = run_render("--list-controls", *args)
    assert status == 0, err
    rows = [line.split("\t") for line in out.splitlines()]
    return {r[1]: r for r in rows}


def test_listing_matches_the_command(tool):
    listed = tool.controls()
    expected = command_controls()
    assert [c.id for c in listed] == list(expected)
    for c in listed:
        page, _, name, value, shown = expected[c.id]
        assert c.name == name
        assert c.shown == (shown == "shown")
        if c.kind == "number":
            assert c.page == page
            assert float(c.value) == pytest.approx(float(value), rel=1e-15)
        elif c.kind == "text":
            assert c.value == value
        else:
            assert page == "(image)"
    edge = next(c for c in listed if c.id == "EdgeCondition")
    assert edge.buttons == ["Duplicate", "Black", "Mirror"] and edge.label == "Duplicate"
    assert (edge.min, edge.max) == (0.0, 2.0)


# (edits, what the command shows after the same --set edits)
INTERPLAY = [
    ([("ScaleVelocityLocked", False)], ["ScaleVelocityLocked=off"]),
    ([("Scale Velocity", 2.5), ("ScaleVelocityLocked", "off")], ["Scale Velocity=2.5", "ScaleVelocityLocked=off"]),
    ([("EnableDepth", True), ("SettingsType", "Advanced")], ["EnableDepth=on", "SettingsType=Advanced"]),
    ([("EnableDepth", "on"), ("SettingsType", 1), ("DepthMapType", "Normalized")],
     ["EnableDepth=on", "SettingsType=1", "DepthMapType=Normalized"]),
    # An f-stop below 1 goes through the aperture diameter.
    ([("FocalLength", 50), ("ApertureDiameter", 62.5)], ["FocalLength=50", "ApertureDiameter=62.5"]),
    ([("FStop", 4), ("FocalLength", 85)], ["FStop=4", "FocalLength=85"]),
    ([("BlurStyle", 1), ("EnableDepth", True)], ["BlurStyle=1", "EnableDepth=on"]),
]


@pytest.mark.parametrize("edits,sets", INTERPLAY)
def test_interplay_matches_the_command(tool, edits, sets):
    for ident, value in edits:
        tool.set(ident, value)
    args = [a for s in sets for a in ("--set", s)]
    expected = command_controls(*args)
    for c in tool.controls():
        row = expected[c.id]
        assert c.shown == (row[4] == "shown"), c.id
        assert c.name == row[2], c.id
        if c.kind == "number":
            assert float(c.value) == float(row[3]), c.id


def test_values_labels_switches_and_text(tool):
    tool.set("EdgeCondition", "mirror")
    assert tool.get("EdgeCondition") == 2.0
    assert next(c for c in tool.controls() if c.id == "EdgeCondition").label == "Mirror"
    tool.set("Normalize", "on")
    assert tool.get("Normalize") is True
    tool.set("Normalize", False)
    assert tool.get("Normalize") is False
    tool.set("CompanyName", "Studio")
    assert tool.get("CompanyName") == "Studio"
    tool.set("MaxBlurSize", np.float32(2.5))
    assert tool.get("MaxBlurSize") == 2.5


def test_keyframes_interpolate_and_join(tool):
    tool.set("FocusPosition", 1.0, frame=1)
    tool.set("FocusPosition", 3.0, frame=11)
    assert tool.keys("FocusPosition") == {1.0: 1.0, 11.0: 3.0}
    assert tool.get("FocusPosition", frame=6) == pytest.approx(2.0)
    with pytest.raises(quorvex.Error, match="animated"):
        tool.get("FocusPosition")
    tool.set("FocusPosition", 0.5)  # a constant replaces the animation
    assert tool.keys("FocusPosition") == {} and tool.get("FocusPosition") == 0.5


# (identifier, value, frame, words the message must hold)
BAD_EDITS = [
    ("EdgeCondtion", 1, None, 'did you mean "EdgeCondition"'),
    ("FStop", 0.5, None, "outside its range 1"),
    ("EdgeCondition", 7, None, "outside its range 0 to 2"),
    ("EdgeCondition", "Wrap", None, '"Duplicate", "Black", "Mirror"'),
    ("Normalize", "maybe", None, "on or off"),
    ("MinWeight", float("nan"), None, "not NaN"),
    ("FocusPosition", 1.0, float("inf"), "finite"),
    ("MaxBlurSize", [1], None, "expected a number"),
    ("Input", 1, None, "image input"),
    ("CompanyName", 3, None, "text control"),
    ("MaxBlurSize", 30, 5, "outside its range 0 to 25"),
]


@pytest.mark.parametrize("ident,value,frame,words", BAD_EDITS)
def test_bad_edits_raise_and_change_nothing(tool, ident, value, frame, words):
    before = tool.comp_text()
    with pytest.raises(quorvex.Error, match=None) as e:
        tool.set(ident, value, frame)
    assert words in str(e.value)
    assert tool.comp_text() == before
    out = tool.render(np.ones((4, 4, 4), np.float32))  # still usable
    assert out.shape == (4, 4, 4)


def test_comp_round_trip_with_the_command(tool, tmp_path):
    tool.set("EnableDepth", True)
    tool.set("FocusPosition", 0.25, frame=1)
    tool.set("FocusPosition", 0.75, frame=24)
    tool.set("EdgeCondition", "Black")
    path = tmp_path / "shot.comp"
    tool.save_comp(path)
    # The command reads it back and saves the same text.
    again = tmp_path / "again.comp"
    status, err, _ = run_render("--comp", path, "--save-comp", again)
    assert status == 0, err
    assert again.read_text() == path.read_text()
    with quorvex.Tool(comp=path) as other:
        assert other.keys("FocusPosition") == {1.0: 0.25, 24.0: 0.75}
        assert other.get("EdgeCondition") == 1.0
        assert other.comp_text() == tool.comp_text()


def test_bad_comp_files_raise(tool, tmp_path):
    missing = tmp_path / "none.comp"
    with pytest.raises(quorvex.Error, match="none.comp"):
        tool.load_comp(missing)
    broken = tmp_path / "broken.comp"
    broken.write_text('{"format": "quorvex-comp", "version": 1, "controls": {"NoSuch": 1}}')
    with pytest.raises(quorvex.Error, match="NoSuch"):
        tool.load_comp(broken)


def test_closed_tool_refuses_calls():
    before = quorvex.live_objects()
    t = quorvex.Tool()
    assert quorvex.live_objects() > before
    t.close()
    assert quorvex.live_objects() == before
    with pytest.raises(quorvex.Error, match="closed"):
        t.get("FStop")
