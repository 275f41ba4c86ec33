"""Render handlers: while Quorvex is on, Blender renders sharp and still
frames with the Z and Vector passes into a multilayer EXR, and every frame it
writes is blurred by Quorvex with the camera's lens and the render's shutter."""
import os
import sys
import time

import bpy
from bpy.app.handlers import persistent

from . import frames, scene_camera

# What the add-on changed for the render in progress, by scene name, to put back.
_renders = {}


def _output_settings(scene):
    f = scene.render.image_settings
    return f.file_format, f.color_depth, f.exr_codec


@persistent
def on_render_init(scene, *_):
    if not scene.quorvex.enabled:
        return
    cam = scene.camera.data if scene.camera and scene.camera.type == "CAMERA" else None
    _renders[scene.name] = {
        "camera": cam,
        "use_dof": bool(cam and cam.dof.use_dof),
        "use_motion_blur": scene.render.use_motion_blur,
        "output": _output_settings(scene),
        "frame_started": time.time(),
    }
    # Quorvex adds both blurs from the passes; Cycles gives no Vector pass
    # with its own motion blur on.
    if cam:
        cam.dof.use_dof = False
    scene.render.use_motion_blur = False
    f = scene.render.image_settings
    f.file_format = "OPEN_EXR_MULTILAYER"
    f.color_depth = "32"
    for layer in scene.view_layers:
        layer.use_pass_z = True
        layer.use_pass_vector = True


@persistent
def on_render_pre(scene, *_):
    state = _renders.get(scene.name)
    if state:
        state["frame_started"] = time.time()


def written_file(scene, since):
    """The file Blender wrote for this frame: the animation's numbered path or
    the still's path without a number."""
    r = scene.render
    still = bpy.path.abspath(r.filepath)
    if r.use_file_extension and not still.lower().endswith(".exr"):
        still += ".exr"
    candidates = [bpy.path.abspath(r.frame_path(frame=scene.frame_current)), still]
    fresh = [p for p in candidates if os.path.isfile(p) and os.path.getmtime(p) >= since - 1.0]
    if not fresh:
        raise RuntimeError("Quorvex: Blender's file for frame %d was not found (looked at %s)"
                           % (scene.frame_current, ", ".join(candidates)))
    return max(fresh, key=os.path.getmtime)


def render_threads(scene):
    """Blender's own thread setting: a fixed count, or one per core."""
    r = scene.render
    return r.threads if r.threads_mode == "FIXED" else 0


def process_written_frame(scene, state):
    frame = scene.frame_current
    path = written_file(scene, state["frame_started"])
    if bpy.app.background:
        # A render evaluates animation on its own copies; bring the scene's
        # data (camera, focus object) to the frame before reading the lens.
        scene.frame_set(frame)
    edits, keywords = scene_camera.frame_controls(scene, frame, use_dof=state["use_dof"],
                                                  use_motion_blur=state["use_motion_blur"])
    out = path if scene.quorvex.replace_output else frames.blurred_path(path)
    from .ui import module_folder

    frames.process_file(path, out, edits, keywords, frame, threads=render_threads(scene),
                        module_folder=module_folder())
    print("Quorvex: frame %d: wrote %s" % (frame, out))
    return out


@persistent
def on_render_write(scene, *_):
    state = _renders.get(scene.name)
    if not state:
        return
    try:
        process_written_frame(scene, state)
    except Exception as e:  # one line with the tool's message; the render goes on
        print("Quorvex: frame %d failed: %s" % (scene.frame_current, e), file=sys.stderr)
        state["failed"] = state.get("failed", 0) + 1


@persistent
def on_render_done(scene, *_):
    state = _renders.pop(scene.name, None)
    if not state:
        return
    if state.get("failed"):
        print("Quorvex: %d frame(s) were not blurred" % state["failed"], file=sys.stderr)
    if state["camera"]:
        state["camera"].dof.use_dof = state["use_dof"]
    scene.render.use_motion_blur = state["use_motion_blur"]
    f = scene.render.image_settings
    f.file_format, f.color_depth, f.exr_codec = state["output"]


HANDLERS = [
    (bpy.app.handlers.render_init, on_render_init),
    (bpy.app.handlers.render_pre, on_render_pre),
    (bpy.app.handlers.render_write, on_render_write),
    (bpy.app.handlers.render_complete, on_render_done),
    (bpy.app.handlers.render_cancel, on_render_done),
]


def register():
    for handlers, fn in HANDLERS:
        if fn not in handlers:
            handlers.append(fn)


def unregister():
    for handlers, fn in HANDLERS:
        if fn in handlers:
            handlers.remove(fn)
