"""Blender test of the Quorvex add-on, run as
    blender -b --factory-startup --python-exit-code 1 --python tests/blender/render_with_addon.py

Makes a tiny Cycles scene (a moving cube, a camera with depth of field at
f/0.8 and animated focus, a unit scale of 0.5), renders a frame through the
add-on and checks the blurred file against quorvex-render run with the
controls the camera implies, worked out here from the scene's own numbers.
QUORVEX_BUILD_DIR names the build tree (default: ./build); with
QUORVEX_PICTURE=FILE.png a larger frame is rendered and Blender's and
Quorvex's pictures are written side by side to FILE.png instead.
"""
import math
import os
import pathlib
import subprocess
import sys
import tempfile

import bpy

REPO = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("QUORVEX_BUILD_DIR", REPO / "build"))
sys.path[:0] = [str(BUILD / "python"), str(REPO / "blender")]

import numpy as np  # noqa: E402

import quorvex  # noqa: E402
import quorvex_blender  # noqa: E402
from quorvex_blender import frames, scene_camera  # noqa: E402

PICTURE = os.environ.get("QUORVEX_PICTURE")
FRAME = 2


def linear_keys(id_data):
    for fc in id_data.animation_data.action.fcurves:
        for k in fc.keyframe_points:
            k.interpolation = "LINEAR"


def make_scene(out_dir):
    scene = bpy.context.scene
    scene.render.engine = "CYCLES"
    scene.cycles.device = "CPU"
    scene.cycles.samples = 64 if PICTURE else 4
    scene.cycles.use_denoising = False
    scene.render.resolution_x, scene.render.resolution_y = (480, 270) if PICTURE else (48, 32)
    scene.render.resolution_percentage = 100
    # One thread, as the command below runs: sums in one order, equal bit for bit.
    scene.render.threads_mode = "FIXED"
    scene.render.threads = 1
    scene.render.use_motion_blur = True
    scene.render.motion_blur_shutter = 0.5
    scene.unit_settings.scale_length = 0.5  # one scene unit is half a metre
    scene.render.filepath = str(out_dir / "shot_")
    scene.frame_start = scene.frame_end = FRAME

    cube = bpy.data.objects["Cube"]
    cube.location = (-1.5, 0.0, 0.0)
    cube.keyframe_insert("location", frame=1)
    cube.location = (1.5, 0.0, 0.0)
    cube.keyframe_insert("location", frame=3)
    linear_keys(cube)
    bpy.ops.mesh.primitive_plane_add(size=40, location=(0, 12, 0), rotation=(math.pi / 2, 0, 0))
    bpy.ops.mesh.primitive_uv_sphere_add(radius=0.6, location=(2.2, -3.0, 1.2))
    bpy.ops.mesh.primitive_cone_add(location=(-3.5, 5.0, 0.0))
    for i, obj in enumerate(o for o in bpy.data.objects if o.type == "MESH"):
        mat = bpy.data.materials.new("m%d" % i)
        mat.diffuse_color = [(0.8, 0.2, 0.1, 1), (0.9, 0.9, 0.8, 1), (0.1, 0.4, 0.9, 1), (0.2, 0.8, 0.3, 1)][i % 4]
        mat.use_nodes = True
        mat.node_tree.nodes["Principled BSDF"].inputs["Base Color"].default_value = mat.diffuse_color
        if obj.name == "Cube":  # bright, so that its motion shows
            mat.node_tree.nodes["Principled BSDF"].inputs["Emission"].default_value = (1.0, 0.55, 0.1, 1.0)
        obj.data.materials.clear()
        obj.data.materials.append(mat)

    cam_obj = scene.camera
    cam_obj.location = (0.0, -10.0, 1.0)
    cam_obj.rotation_euler = (math.radians(88), 0.0, 0.0)
    cam = cam_obj.data
    cam.lens = 50.0
    cam.sensor_fit = "AUTO"
    cam.sensor_width = 36.0
    cam.dof.use_dof = True
    cam.dof.aperture_fstop = 0.8
    cam.dof.aperture_blades = 6
    cam.dof.aperture_rotation = 0.3
    cam.dof.focus_distance = 9.0
    cam.dof.keyframe_insert("focus_distance", frame=1)
    cam.dof.focus_distance = 11.0
    cam.dof.keyframe_insert("focus_distance", frame=3)
    linear_keys(cam)
    scene.frame_set(1)
    return scene


def expected_controls():
    """The camera's numbers as the tool's controls, worked out by hand."""
    return [
        ("EdgeCondition", 0),
        ("Scale Velocity", 1.0),
        ("EnableDepth", True),
        ("SettingsType", "Advanced"),
        ("DepthMapType", "Distance"),
        ("DepthMapUnits", "meter"),
        ("FocalLength", 50.0),
        ("ApertureDiameter", 62.5),  # 50 mm at f/0.8
        ("FilmbackWidth", 36.0),  # landscape frame: the sensor width spans it
        ("FocusPosition", 5.0),  # 10 scene units at frame 2, half a metre each
        ("Normalize", True),
        ("BlurStyle", 1),  # six blades: a polygon
        ("PolygonSideCount", 6),
        ("KernelAngle", math.degrees(0.3)),
    ], {"vectors": "blender", "vectors_scale": 0.5, "depth_scale": 0.5}


def same_controls(got, want):
    assert [k for k, _ in got] == [k for k, _ in want], (got, want)
    for (k, a), (_, b) in zip(got, want):
        ok = a == b if isinstance(b, (str, bool)) else math.isclose(float(a), float(b), rel_tol=1e-6)
        assert ok, "%s: add-on %r, camera implies %r" % (k, a, b)


def combined(path):
    image = quorvex.read(path)
    colour, _, _ = frames.passes(image)
    return np.dstack([image[n] for n in colour])


def command(source, out, edits, keywords):
    args = [str(BUILD / "bin" / "quorvex-render"), "--input", str(source), "--output", str(out), "--threads", "1",
            "--quiet", "--vectors", keywords["vectors"], "--vectors-scale", repr(keywords["vectors_scale"]),
            "--depth-scale", repr(keywords["depth_scale"])]
    for k, v in edits:
        value = ("on" if v else "off") if isinstance(v, bool) else v if isinstance(v, str) else repr(float(v))
        args += ["--set", "%s=%s" % (k, value)]
    subprocess.run(args, check=True)


def main():
    out_dir = pathlib.Path(tempfile.mkdtemp(prefix="quorvex-blender-"))
    scene = make_scene(out_dir)
    quorvex_blender.register()
    scene.quorvex.enabled = True

    seen = {}
    bpy.app.handlers.render_pre.append(
        lambda s, *_: seen.update(dof=s.camera.data.dof.use_dof, motion_blur=s.render.use_motion_blur))
    bpy.ops.render.render(animation=True)

    blender_file = out_dir / ("shot_%04d.exr" % FRAME)
    blurred_file = out_dir / ("shot_%04d_quorvex.exr" % FRAME)
    assert blender_file.is_file() and blurred_file.is_file(), sorted(os.listdir(out_dir))
    assert seen == {"dof": False, "motion_blur": False}, "Blender blurred the frame itself: %r" % seen
    assert scene.camera.data.dof.use_dof and scene.render.use_motion_blur, "the artist's settings were not restored"

    # The lens numbers, then the pixels against the command with those numbers.
    want_edits, want_keywords = expected_controls()
    scene.frame_set(FRAME)
    edits, keywords = scene_camera.frame_controls(scene, FRAME)
    same_controls(edits, want_edits)
    assert keywords == want_keywords, keywords
    # Blender keeps its numbers in single precision: the command gets the
    # add-on's exact values, which were just checked against the camera's.
    reference = out_dir / "reference.exr"
    command(blender_file, reference, edits, keywords)
    sharp, blurred, expected = combined(blender_file), combined(blurred_file), combined(reference)
    assert np.array_equal(blurred, expected), "add-on and quorvex-render differ by %g" % np.abs(blurred - expected).max()
    assert np.abs(blurred - sharp).max() > 0.05, "the frame was not blurred"
    # The other channels of Blender's file ride along unchanged.
    source, result = quorvex.read(blender_file), quorvex.read(blurred_file)
    assert set(source) == set(result)
    depth = frames.passes(source)[1]
    assert np.array_equal(source[depth], result[depth])

    # The operator blurs the existing sequence the same way.
    blurred_file.unlink()
    result = bpy.ops.quorvex.process_sequence(filepath=str(out_dir / "shot_####.exr"), frame_start=FRAME,
                                              frame_end=FRAME)
    assert result == {"FINISHED"}, result
    assert np.array_equal(combined(blurred_file), expected)

    # A still through the panel's button: Blender writes it without a frame number.
    scene.render.filepath = str(out_dir / "still")
    assert bpy.ops.quorvex.render_frame() == {"FINISHED"}
    still, still_blurred = out_dir / "still.exr", out_dir / "still_quorvex.exr"
    assert still.is_file() and still_blurred.is_file(), sorted(os.listdir(out_dir))
    command(still, out_dir / "still_reference.exr", edits, keywords)
    assert np.array_equal(combined(still_blurred), combined(out_dir / "still_reference.exr"))

    if PICTURE:
        def display(rgba):
            return np.clip(rgba, 0, 1)
        side = np.concatenate([display(sharp), np.ones((sharp.shape[0], 4, 4), np.float32), display(blurred)], axis=1)
        quorvex.write(PICTURE, {c: side[..., i] for i, c in enumerate("RGBA")})
        print("wrote", PICTURE)
    print("Quorvex Blender test passed:", out_dir)


main()
