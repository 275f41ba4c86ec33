"""Reads the active camera, the scene's units and the render's shutter for a
frame, as lens.Lens numbers."""
import bpy
from mathutils import Vector

from . import lens as lens_rules


def _animated(id_data, path, frame, current):
    """A property's value at `frame`: its f-curve when animated (the render
    evaluates animation on its own copies, not on the data seen here)."""
    anim = getattr(id_data, "animation_data", None)
    if anim and anim.action:
        for fc in anim.action.fcurves:
            if fc.data_path == path:
                return fc.evaluate(frame)
    return current


def focus_distance(cam_obj, frame):
    """Distance to the focus plane in scene units, along the view axis (as
    Blender measures it for a focus object)."""
    dof = cam_obj.data.dof
    if dof.focus_object is not None:
        m = cam_obj.matrix_world
        view = -(m.to_3x3() @ Vector((0.0, 0.0, 1.0))).normalized()
        return abs(view.dot(dof.focus_object.matrix_world.translation - m.translation))
    return _animated(cam_obj.data, "dof.focus_distance", frame, dof.focus_distance)


def lens_at(scene, frame, use_dof=None):
    """lens.Lens for the scene's camera at `frame`. `use_dof` overrides the
    camera's switch (the add-on turns Blender's own depth of field off while
    it renders and remembers the artist's setting)."""
    cam_obj = scene.camera
    if cam_obj is None or cam_obj.type != "CAMERA":
        raise RuntimeError("Quorvex: the scene has no active camera")
    cam = cam_obj.data
    if cam.type != "PERSP":
        raise RuntimeError("Quorvex: the camera's lens matching needs a perspective camera, not " + cam.type)
    r = scene.render
    dof = cam.dof
    return lens_rules.Lens(
        focal_length_mm=_animated(cam, "lens", frame, cam.lens),
        fstop=_animated(cam, "dof.aperture_fstop", frame, dof.aperture_fstop),
        sensor_width_mm=cam.sensor_width,
        sensor_height_mm=cam.sensor_height,
        sensor_fit=cam.sensor_fit,
        width_px=r.resolution_x * r.pixel_aspect_x,
        height_px=r.resolution_y * r.pixel_aspect_y,
        focus_distance=focus_distance(cam_obj, frame),
        blades=dof.aperture_blades,
        rotation_rad=dof.aperture_rotation,
        unit_scale=scene.unit_settings.scale_length,
        use_dof=dof.use_dof if use_dof is None else use_dof,
    )


def panel_settings(props):
    return lens_rules.PanelSettings(
        depth_of_field=props.depth_of_field,
        blur_style=props.blur_style,
        edge_condition=props.edge_condition,
        normalize=props.normalize,
        motion_blur=props.motion_blur,
        motion_scale=props.motion_scale,
    )


def frame_controls(scene, frame, use_dof=None, use_motion_blur=None):
    """Control edits and render() keywords for a frame, from the camera when
    "Use scene camera" is on, else from the panel alone."""
    props = scene.quorvex
    panel = panel_settings(props)
    blur_on = scene.render.use_motion_blur if use_motion_blur is None else use_motion_blur
    if props.use_scene_camera:
        lens = lens_at(scene, frame, use_dof)
        shutter = scene.render.motion_blur_shutter if blur_on else 0.0
    else:
        lens = lens_rules.Lens(props.focal_length, props.fstop, props.sensor_width, props.sensor_width, "HORIZONTAL",
                               1.0, 1.0, props.focus_distance, 0, 0.0, scene.unit_settings.scale_length, True)
        shutter = props.shutter
    return lens_rules.controls(lens, panel, shutter)
