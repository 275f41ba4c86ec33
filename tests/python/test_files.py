"""quorvex.read and quorvex.write over the command's own file code."""
import numpy as np
import pytest

import quorvex
from conftest import planes, run_render, scene


def test_write_then_read_keeps_every_channel(tmp_path):
    rgba, depth, motion = scene()
    channels = planes(rgba, Z=depth, VectX=motion[..., 0], VectY=motion[..., 1], **{"crypto.id": depth * 3})
    quorvex.write(tmp_path / "a.exr", channels)
    back = quorvex.read(tmp_path / "a.exr")
    assert set(back) == set(channels)
    for name, plane in channels.items():
        assert back[name].dtype == np.float32 and back[name].shape == (12, 16)
        assert np.array_equal(back[name], plane), name
    assert (back.width, back.height) == (16, 12)
    assert back.attributes["compression"] == "zip"


def test_like_carries_the_other_channels_and_their_types(tmp_path):
    rgba, depth, _ = scene()
    src = tmp_path / "src.exr"
    # A half-float source, as renderers often write, with a channel the tool does not know.
    status, err, _ = run_render("--input", _write(tmp_path, rgba, depth), "--output", src, "--data-type", "half",
                                "--quiet")
    assert status == 0, err
    blurred = rgba[..., 0] * 0.5
    quorvex.write(tmp_path / "out.exr", {"R": blurred}, like=src)
    out = quorvex.read(tmp_path / "out.exr")
    source = quorvex.read(src)
    assert set(out) == set(source)
    assert np.array_equal(out["R"], blurred.astype(np.float16).astype(np.float32))  # kept half
    for name in ("G", "B", "A", "Z", "extra.mask"):
        assert np.array_equal(out[name], source[name]), name


def _write(tmp_path, rgba, depth):
    path = tmp_path / "plain.exr"
    quorvex.write(path, planes(rgba, Z=depth, **{"extra.mask": (depth > 2).astype(np.float32)}))
    return path


def test_png_gets_display_colour(tmp_path):
    rgba = np.zeros((4, 4, 4), np.float32)
    rgba[..., 0] = 0.214  # linear 0.214 is about half-way in sRGB
    rgba[..., 3] = 1.0
    quorvex.write(tmp_path / "a.png", planes(rgba))
    back = quorvex.read(tmp_path / "a.png")
    # Written sRGB-encoded; read as stored.
    assert back["R"][0, 0] == pytest.approx(128 / 255, abs=1 / 255)


BAD_WRITES = [
    ({}, "no channels"),
    ({"Z": np.ones((4, 4), np.float32)}, "no R channel"),
    ({"R": np.ones((4, 4, 1), np.float32)}, "H x W"),
    ({"R": np.ones((4, 4), np.float32), "G": np.ones((4, 5), np.float32), "B": np.ones((4, 4), np.float32)},
     "5 x 4 pixels but the image is 4 x 4"),
    ({"R": np.ones((4, 4), np.int32)}, "float32 or float16"),
]


@pytest.mark.parametrize("channels,words", BAD_WRITES)
def test_bad_writes_raise_and_leave_no_file(tmp_path, channels, words):
    path = tmp_path / "out.exr"
    with pytest.raises(quorvex.Error) as e:
        quorvex.write(path, channels)
    assert words in str(e.value)
    assert not path.exists()


def test_a_failed_write_keeps_the_earlier_file(tmp_path):
    path = tmp_path / "keep.exr"
    quorvex.write(path, planes(np.ones((2, 2, 4), np.float32)))
    before = path.read_bytes()
    with pytest.raises(quorvex.Error):
        quorvex.write(path, {"R": np.full((2, 2), np.nan, np.float32)})
    assert path.read_bytes() == before


def test_reading_what_is_not_there_raises(tmp_path):
    with pytest.raises(quorvex.Error, match="no such file"):
        quorvex.read(tmp_path / "missing.exr")
    (tmp_path / "junk.exr").write_bytes(b"not an image")
    with pytest.raises(quorvex.Error, match="cannot read"):
        quorvex.read(tmp_path / "junk.exr")
