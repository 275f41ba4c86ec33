"""Settings, the panel in the render properties and the operators."""
import os
import re

import bpy
from bpy.props import BoolProperty, EnumProperty, FloatProperty, IntProperty, PointerProperty, StringProperty

from . import frames, handlers, scene_camera


class QuorvexSettings(bpy.types.PropertyGroup):
    enabled: BoolProperty(name="Quorvex", description="Blur every rendered frame with Quorvex", default=False)
    use_scene_camera: BoolProperty(
        name="Use scene camera", default=True,
        description="Take focal length, f-stop, sensor, focus, aperture blades, unit scale and the motion-blur "
                    "shutter from the active camera and scene for every frame")
    depth_of_field: BoolProperty(name="Depth of field", default=True,
                                 description="Defocus by the depth pass (with the camera's own switch)")
    blur_style: EnumProperty(name="Blur style", default="CAMERA", items=[
        ("CAMERA", "Camera", "A disk, or a polygon with the camera's aperture blades"),
        ("DISK", "Disk", ""), ("POLYGON", "Polygon", ""), ("GAUSSIAN", "Gaussian", ""),
        ("AIRY", "Airy disk", ""), ("LAPLACIAN", "Laplacian", "")])
    edge_condition: EnumProperty(name="Edges", default="DUPLICATE", items=[
        ("DUPLICATE", "Duplicate", ""), ("BLACK", "Black", ""), ("MIRROR", "Mirror", "")])
    normalize: BoolProperty(name="Normalize", default=True,
                            description="Divide by the gathered weight, so that blur keeps the brightness")
    motion_blur: BoolProperty(name="Motion blur", default=True, description="Smear along the Vector pass")
    motion_scale: FloatProperty(name="Motion scale", default=1.0, soft_min=0.0, soft_max=4.0,
                                description="Multiplies the shutter")
    replace_output: BoolProperty(
        name="Replace Blender's output", default=False,
        description="Write the blurred frame over Blender's own file instead of beside it (*_quorvex.exr)")
    # Used when "Use scene camera" is off.
    focal_length: FloatProperty(name="Focal length (mm)", default=50.0, min=1.0)
    fstop: FloatProperty(name="F-stop", default=2.8, min=0.01)
    sensor_width: FloatProperty(name="Sensor width (mm)", default=36.0, min=1.0)
    focus_distance: FloatProperty(name="Focus distance", default=10.0, min=0.0, subtype="DISTANCE")
    shutter: FloatProperty(name="Shutter (frames)", default=0.5, min=0.0)


class QuorvexPreferences(bpy.types.AddonPreferences):
    bl_idname = __package__

    module_folder: StringProperty(
        name="quorvex package folder", subtype="DIR_PATH",
        description="Folder holding the quorvex package when it is not installed, e.g. the build tree's python/")

    def draw(self, context):
        self.layout.prop(self, "module_folder")


def module_folder(context=None):
    prefs = (context or bpy.context).preferences.addons.get(__package__)
    return bpy.path.abspath(prefs.preferences.module_folder) if prefs and prefs.preferences.module_folder else ""


class QUORVEX_PT_render(bpy.types.Panel):
    bl_label = "Quorvex"
    bl_space_type = "PROPERTIES"
    bl_region_type = "WINDOW"
    bl_context = "render"
    bl_options = {"DEFAULT_CLOSED"}

    def draw_header(self, context):
        self.layout.prop(context.scene.quorvex, "enabled", text="")

    def draw(self, context):
        props = context.scene.quorvex
        layout = self.layout
        layout.use_property_split = True
        layout.active = props.enabled
        try:
            frames.load_module(module_folder(context))
        except RuntimeError as e:
            layout.label(text=str(e), icon="ERROR")
        layout.prop(props, "use_scene_camera")
        if not props.use_scene_camera:
            col = layout.column(align=True)
            for name in ("focal_length", "fstop", "sensor_width", "focus_distance", "shutter"):
                col.prop(props, name)
        layout.prop(props, "depth_of_field")
        layout.prop(props, "blur_style")
        layout.prop(props, "normalize")
        layout.prop(props, "motion_blur")
        layout.prop(props, "motion_scale")
        layout.prop(props, "edge_condition")
        layout.prop(props, "replace_output")
        layout.operator(QUORVEX_OT_render_frame.bl_idname, icon="RENDER_STILL")
        layout.operator(QUORVEX_OT_process_sequence.bl_idname, icon="SEQUENCE")


class QUORVEX_OT_render_frame(bpy.types.Operator):
    """Render the current frame, write it and blur it with Quorvex (F12 alone writes no file to blur)"""
    bl_idname = "quorvex.render_frame"
    bl_label = "Render Frame with Quorvex"

    def execute(self, context):
        context.scene.quorvex.enabled = True
        return bpy.ops.render.render("INVOKE_DEFAULT" if not bpy.app.background else "EXEC_DEFAULT",
                                     write_still=True)


def sequence_path(pattern, frame):
    """"shot_####.exr" or "shot_%04d.exr" for a frame."""
    if "%" in pattern:
        return pattern % frame
    return re.sub(r"#+", lambda m: str(frame).zfill(len(m.group(0))), pattern, count=1)


class QUORVEX_OT_process_sequence(bpy.types.Operator):
    """Blur an existing multilayer EXR sequence (Combined, Z and Vector passes) with the scene camera's lens"""
    bl_idname = "quorvex.process_sequence"
    bl_label = "Process EXR Sequence"

    filepath: StringProperty(name="Sequence", subtype="FILE_PATH",
                             description="A frame of the sequence, or its pattern with #### or %04d")
    frame_start: IntProperty(name="Start", default=1)
    frame_end: IntProperty(name="End", default=1)

    def invoke(self, context, event):
        self.frame_start = context.scene.frame_start
        self.frame_end = context.scene.frame_end
        context.window_manager.fileselect_add(self)
        return {"RUNNING_MODAL"}

    def execute(self, context):
        scene = context.scene
        pattern = bpy.path.abspath(self.filepath)
        if "#" not in pattern and "%" not in pattern:
            # A picked frame: its last run of digits is the frame number.
            pattern = re.sub(r"(\d+)(?!.*\d)", lambda m: "#" * len(m.group(1)), pattern)
        written = 0
        current = scene.frame_current
        try:
            for frame in range(self.frame_start, self.frame_end + 1):
                path = sequence_path(pattern, frame)
                if not os.path.isfile(path):
                    self.report({"WARNING"}, "Quorvex: no file for frame %d (%s)" % (frame, path))
                    continue
                scene.frame_set(frame)
                edits, keywords = scene_camera.frame_controls(scene, frame)
                out = path if scene.quorvex.replace_output else frames.blurred_path(path)
                frames.process_file(path, out, edits, keywords, frame, threads=handlers.render_threads(scene),
                                    module_folder=module_folder(context))
                written += 1
        except Exception as e:  # the tool's message, for the artist
            self.report({"ERROR"}, str(e))
            return {"CANCELLED"}
        finally:
            scene.frame_set(current)
        self.report({"INFO"}, "Quorvex: blurred %d frame(s)" % written)
        return {"FINISHED"}


CLASSES = [QuorvexPreferences, QuorvexSettings, QUORVEX_PT_render, QUORVEX_OT_render_frame, QUORVEX_OT_process_sequence]


def register():
    for cls in CLASSES:
        bpy.utils.register_class(cls)
    bpy.types.Scene.quorvex = PointerProperty(type=QuorvexSettings)


def unregister():
    del bpy.types.Scene.quorvex
    for cls in reversed(CLASSES):
        bpy.utils.unregister_class(cls)
