"""Blender's camera and shutter as Quorvex controls. Plain numbers in and
out, no bpy, so that the rules can be read and tested on their own."""
import dataclasses
import math
from typing import List, Tuple

# Blur styles the panel offers; "CAMERA" is a disk, or a polygon when the
# camera's aperture has blades.
BLUR_STYLES = {"DISK": 0, "POLYGON": 1, "GAUSSIAN": 2, "AIRY": 3, "LAPLACIAN": 4}
EDGE_CONDITIONS = {"DUPLICATE": 0, "BLACK": 1, "MIRROR": 2}


@dataclasses.dataclass
class Lens:
    """The camera as Blender describes it, for one frame."""

    focal_length_mm: float
    fstop: float
    sensor_width_mm: float
    sensor_height_mm: float
    sensor_fit: str  # "AUTO", "HORIZONTAL" or "VERTICAL"
    width_px: float  # render size times pixel aspect
    height_px: float
    focus_distance: float  # scene units, along the view axis
    blades: int
    rotation_rad: float
    unit_scale: float  # metres per scene unit
    use_dof: bool


@dataclasses.dataclass
class PanelSettings:
    """What the artist sets in the panel."""

    depth_of_field: bool = True
    blur_style: str = "CAMERA"
    edge_condition: str = "DUPLICATE"
    normalize: bool = True
    motion_blur: bool = True
    motion_scale: float = 1.0


def filmback_width_mm(lens: Lens) -> float:
    """Width of the film the picture spans. Blender fits the sensor size to
    the wider side ("AUTO"), or to the side the fit names."""
    fit = lens.sensor_fit
    if fit == "AUTO":
        fit = "HORIZONTAL" if lens.width_px >= lens.height_px else "VERTICAL"
        size = lens.sensor_width_mm
    else:
        size = lens.sensor_width_mm if fit == "HORIZONTAL" else lens.sensor_height_mm
    return size if fit == "HORIZONTAL" else size * lens.width_px / lens.height_px


def controls(lens: Lens, panel: PanelSettings, shutter: float) -> Tuple[List[Tuple[str, object]], dict]:
    """The tool's control edits, in the order to apply them, and the render()
    keywords (vector and depth conventions) for one frame.

    Depth is read as distances in metres (scene units times the unit scale).
    The f-stop goes in through "ApertureDiameter" (focal length / f-stop), so
    that f-stops below the control's lower limit of 1 still reach the tool.
    """
    depth = panel.depth_of_field and lens.use_dof
    edits: List[Tuple[str, object]] = [
        ("EdgeCondition", EDGE_CONDITIONS[panel.edge_condition]),
        ("Scale Velocity", panel.motion_scale if panel.motion_blur else 0.0),
        ("EnableDepth", depth),
    ]
    if depth:
        style = panel.blur_style
        if style == "CAMERA":
            style = "POLYGON" if lens.blades >= 3 else "DISK"
        edits += [
            ("SettingsType", "Advanced"),
            ("DepthMapType", "Distance"),
            ("DepthMapUnits", "meter"),
            ("FocalLength", lens.focal_length_mm),
            ("ApertureDiameter", lens.focal_length_mm / max(lens.fstop, 1e-6)),
            ("FilmbackWidth", filmback_width_mm(lens)),
            ("FocusPosition", lens.focus_distance * lens.unit_scale),
            ("Normalize", panel.normalize),
            ("BlurStyle", BLUR_STYLES[style]),
        ]
        if style == "POLYGON":
            sides = max(lens.blades, 3)
            # A polygon repeats every 360/sides degrees; the control takes 0 and up.
            edits += [("PolygonSideCount", sides),
                      ("KernelAngle", math.degrees(lens.rotation_rad) % (360.0 / sides))]
    keywords = {"vectors": "blender", "vectors_scale": shutter, "depth_scale": lens.unit_scale}
    return edits, keywords
