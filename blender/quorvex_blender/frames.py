"""One multilayer EXR frame as Blender writes it, through the quorvex module."""
import importlib
import os
import sys

import numpy as np


def load_module(folder=""):
    """The quorvex package: installed (cmake --install), or from `folder`
    (e.g. a build tree's python/ folder), which Blender's own PYTHONPATH
    handling would not reach."""
    if folder and folder not in sys.path:
        sys.path.insert(0, folder)
    try:
        return importlib.import_module("quorvex")
    except ImportError as e:
        raise RuntimeError("Quorvex: the quorvex Python package is not installed (cmake --install build), "
                           "or set its folder in the add-on's preferences: %s" % e) from None


def _find(channels, suffix):
    """The channel ending in `suffix` ("Combined.R"), the first view layer's first."""
    for name in sorted(channels):
        if name == suffix or name.endswith("." + suffix):
            return name
    return None


def passes(image):
    """Channel names of the combined colour, the depth and the vector passes."""
    colour = [_find(image, "Combined." + c) for c in "RGBA"]
    depth = _find(image, "Depth.Z")
    vector = [_find(image, "Vector." + c) for c in "XYZW"]
    missing = [n for n, found in (("Combined", all(colour)), ("Depth (Z pass)", depth), ("Vector", all(vector)))
               if not found]
    if missing:
        raise RuntimeError(f"{image.path}: the multilayer EXR lacks the {', '.join(missing)} pass(es); "
                            "turn on the Z and Vector passes of the view layer")
    return colour, depth, vector


def blurred_path(exr_path, suffix="_quorvex"):
    stem, ext = os.path.splitext(exr_path)
    return stem + suffix + ext


def process_file(exr_path, out_path, edits, keywords, frame, threads=0, module_folder=""):
    """Renders the frame of `exr_path` with the control edits and writes it to
    `out_path`: the same multilayer file with its combined colour blurred."""
    quorvex = load_module(module_folder)
    image = quorvex.read(exr_path)
    colour, depth, vector = passes(image)
    rgba = np.dstack([image[n] for n in colour])
    with quorvex.Tool() as tool:
        for ident, value in edits:
            tool.set(ident, value)
        out = tool.render(rgba, depth=image[depth], motion=np.dstack([image[n] for n in vector]), frame=frame,
                          threads=threads, **keywords)
    quorvex.write(out_path, {n: out[..., i] for i, n in enumerate(colour)}, like=exr_path)
    return out_path
