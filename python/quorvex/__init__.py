"""Quorvex from Python: depth-of-field and motion blur on numpy arrays.

The package drives the Quorvex plug-in module through the same host layer as
``quorvex-render``, so every control rule and console line is the tool's own::

    import numpy as np
    import quorvex

    tool = quorvex.Tool()
    tool.set("EnableDepth", True)
    tool.set("FocusPosition", 0.4)
    out = tool.render(rgba, depth=z, motion=vectors)   # H x W x 4 float32

Images are numpy arrays with row 0 at the top, as they are stored in files:
colour is H x W x 4 premultiplied RGBA (float32, or float16 widened on the
way in), depth H x W, motion H x W x 2 (pixels right and up) or H x W x 4
with ``vectors="blender"``. Errors are raised as :class:`quorvex.Error`.

The plug-in module is found through ``QUORVEX_PLUGIN_PATH`` (a module file or
its folder), else in the build tree beside this package, else where
``cmake --install`` put it.
"""
from __future__ import annotations

import dataclasses
import functools
import os
from typing import Any, Dict, List, Mapping, Optional, Union

from . import _quorvex
from ._quorvex import Error, __version__

__all__ = ["Tool", "Control", "ImageFile", "Error", "read", "write", "live_objects", "plugin_files", "__version__"]


def _own_words(call):
    """Says the command's hints in this package's terms."""

    @functools.wraps(call)
    def wrapper(*args, **kwargs):
        try:
            return call(*args, **kwargs)
        except Error as e:
            text = str(e)
            if text.startswith("--set "):
                text = text[len("--set "):]
            text = text.replace("(quorvex-render --list-controls lists them all)", "(Tool.controls() lists them all)")
            if text == str(e):
                raise
            raise Error(text) from None

    return wrapper


@dataclasses.dataclass(frozen=True)
class Control:
    """One input of the tool, as its panel shows it."""

    id: str
    """Identifier used by get/set and comp files."""
    name: str
    """Display name in the panel."""
    page: str
    """Panel page ("Motion Blur", "Depth Blur", "Info"); image inputs have none."""
    kind: str
    """"number", "text" or "image"."""
    control: str
    """The panel's widget (SliderControl, CheckboxControl, MultiButtonControl...)."""
    value: Union[float, bool, str, None]
    """Current constant value; None when animated and for image inputs."""
    label: Optional[str]
    """Button label of the current value of a multi-button control."""
    shown: bool
    """Whether the panel shows the control now."""
    min: float
    """Lowest accepted value."""
    max: float
    """Highest accepted value."""
    slider_min: float
    slider_max: float
    default: float
    buttons: List[str]
    """Labels of a multi-button control, in value order."""
    animated: bool
    keys: Dict[float, float]
    """Keyframes {frame: value} when animated."""


class ImageFile(dict):
    """An image file's channels by name (H x W float32 arrays), with its header.

    Attributes: ``path``, ``width``, ``height`` and ``attributes`` (the first
    part's header attributes, e.g. ``compression``).
    """

    def __init__(self, path: str, width: int, height: int, channels: Mapping[str, Any],
                 attributes: Mapping[str, Any]):
        super().__init__(channels)
        self.path = path
        self.width = width
        self.height = height
        self.attributes = dict(attributes)


@_own_words
def read(path: Union[str, os.PathLike]) -> ImageFile:
    """Read every channel of an image file (every part of a multi-part EXR).

    Channels of later parts are prefixed with the part's name when they carry
    no layer of their own, as ``quorvex-render`` reads them.
    """
    d = _quorvex.read_file(os.fspath(path))
    return ImageFile(d["path"], d["width"], d["height"], d["channels"], d["attributes"])


@_own_words
def write(path: Union[str, os.PathLike], channels: Mapping[str, Any],
          like: Union[str, os.PathLike, None] = None) -> None:
    """Write H x W channels to an image file, chosen by extension.

    EXR keeps every channel; 8-bit formats (PNG, JPEG) get red, green, blue and
    alpha encoded for display. Colour (R, G, B, or one grey channel Y) must be
    among the channels or in ``like``. With ``like``, that file's other
    channels and its channel types (half or float) are carried over and the
    given channels replace or join them, as ``quorvex-render`` writes its
    output after its input. The file is written under a temporary name and
    renamed when complete.
    """
    _quorvex.write_file(os.fspath(path), dict(channels), None if like is None else os.fspath(like))


def live_objects() -> int:
    """Host objects alive now; back to the same count after every call."""
    return _quorvex.live_objects()


def plugin_files() -> List[str]:
    """Files of the plug-in modules in use (loading them if needed)."""
    return _quorvex.plugin_files()


class Tool:
    """A Quorvex tool, made by the plug-in module through the host layer.

    Controls are edited as in a compositor's panel: every edit notifies the
    tool, which keeps the scale lock, the lens values (focal length, f-stop,
    aperture diameter) and the shown controls consistent. Use as a context
    manager, or call :meth:`close`, to give the tool back at once.
    """

    def __init__(self, comp: Union[str, os.PathLike, None] = None):
        """Make a tool with default controls, then apply ``comp`` if given."""
        self._tool = _own_words(_quorvex.Tool)()
        if comp is not None:
            self.load_comp(comp)

    def __enter__(self) -> "Tool":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def close(self) -> None:
        """Give the tool back to the host; later calls raise Error."""
        self._tool.close()

    @_own_words
    def controls(self) -> List[Control]:
        """Every input of the tool in the panel's order."""
        return [Control(**c) for c in self._tool.controls()]

    @_own_words
    def get(self, identifier: str, frame: Optional[float] = None) -> Union[float, bool, str]:
        """A control's value: float, bool for a checkbox, str for a text.

        An animated control needs ``frame``; its keys are in :meth:`keys`.
        """
        return self._tool.get(identifier, frame)

    @_own_words
    def keys(self, identifier: str) -> Dict[float, float]:
        """A control's keyframes {frame: value}; empty when not animated."""
        return self._tool.keys(identifier)

    @_own_words
    def set(self, identifier: str, value: Union[float, bool, str], frame: Optional[float] = None) -> None:
        """Edit a control as a user would in the panel.

        ``value`` is a number, True/False (or "on"/"off") for a checkbox, a
        button label ("Mirror", "Advanced") for a multi-button control, or any
        str for a text control. With ``frame`` the value is a keyframe (the
        first one turns the control into an animated one). A value outside the
        control's accepted range raises Error and changes nothing.
        """
        self._tool.set(identifier, value, frame)

    @_own_words
    def load_comp(self, path: Union[str, os.PathLike]) -> None:
        """Apply a comp file's control values (saved values out of range are
        clamped with a warning, as the command does)."""
        self._tool.load_comp(os.fspath(path))

    @_own_words
    def save_comp(self, path: Union[str, os.PathLike]) -> None:
        """Save every control value (constants and keyframes) as a comp file
        that ``quorvex-render --comp`` reads."""
        self._tool.save_comp(os.fspath(path))

    def comp_text(self) -> str:
        """The comp file's JSON text of the current values."""
        return self._tool.comp_text()

    def messages(self) -> List[tuple]:
        """Console lines (kind, text) of the last render: 40 information, 60 error."""
        return self._tool.messages()

    @_own_words
    def render(self, rgba, depth=None, motion=None, blur_image=None, frame: float = 1, threads: int = 0,
               vectors: str = "pixels", depth_mode: str = "distance", vectors_scale: float = 1.0,
               depth_scale: float = 1.0):
        """Render one frame and return a new H x W x 4 float32 RGBA array.

        rgba: H x W x 4 premultiplied colour, float32 or float16.
        depth: H x W distances (``depth_mode="inverse"`` for 1/z), times ``depth_scale``.
        motion: H x W x 2 in pixels, x right and y up (``vectors="pixels"``);
            H x W x 4 Blender Vector pass (``vectors="blender"``);
            H x W x 2 in image widths/heights (``vectors="ndc"``); times ``vectors_scale``.
        blur_image: kernel shape for Blur Style "Image" (H x W, or H x W x 3/4).
        frame: the frame whose control values (keyframes) are used.
        threads: worker threads, 0 for one per core.

        The interpreter's lock is released while the frame renders; Ctrl-C
        raises the tool's abort flag and KeyboardInterrupt. A frame the tool
        fails raises Error with the tool's own message.
        """
        return self._tool.render(rgba, depth, motion, blur_image, frame, threads, vectors, depth_mode,
                                 vectors_scale, depth_scale)
