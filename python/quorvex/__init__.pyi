"""Quorvex from Python: depth-of-field and motion blur on numpy arrays."""
import os
from typing import Any, Dict, List, Mapping, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str
_Path = Union[str, os.PathLike]
_Array = npt.NDArray[Any]

class Error(RuntimeError):
    """A bad argument, an unreadable file or an error reported by the tool (its own message)."""

class Control:
    """One input of the tool, as its panel shows it."""
    id: str
    name: str
    page: str
    kind: str
    control: str
    value: Union[float, bool, str, None]
    label: Optional[str]
    shown: bool
    min: float
    max: float
    slider_min: float
    slider_max: float
    default: float
    buttons: List[str]
    animated: bool
    keys: Dict[float, float]

class ImageFile(Dict[str, npt.NDArray[np.float32]]):
    """An image file's channels by name (H x W float32 arrays), with its header."""
    path: str
    width: int
    height: int
    attributes: Dict[str, Any]

def read(path: _Path) -> ImageFile:
    """Read every channel of an image file (every part of a multi-part EXR)."""

def write(path: _Path, channels: Mapping[str, _Array], like: Optional[_Path] = None) -> None:
    """Write H x W channels to an image file; ``like`` carries another file's channels and types over."""

def live_objects() -> int:
    """Host objects alive now; back to the same count after every call."""

def plugin_files() -> List[str]:
    """Files of the plug-in modules in use."""

class Tool:
    """A Quorvex tool, made by the plug-in module through the host layer."""
    def __init__(self, comp: Optional[_Path] = None) -> None:
        """Make a tool with default controls, then apply ``comp`` if given."""
    def __enter__(self) -> "Tool": ...
    def __exit__(self, *exc: Any) -> None: ...
    def close(self) -> None:
        """Give the tool back to the host; later calls raise Error."""
    def controls(self) -> List[Control]:
        """Every input of the tool in the panel's order."""
    def get(self, identifier: str, frame: Optional[float] = None) -> Union[float, bool, str]:
        """A control's value (at ``frame`` when it is animated)."""
    def keys(self, identifier: str) -> Dict[float, float]:
        """A control's keyframes {frame: value}."""
    def set(self, identifier: str, value: Union[float, bool, str], frame: Optional[float] = None) -> None:
        """Edit a control as a user would; a frame sets a keyframe; out of range raises Error."""
    def load_comp(self, path: _Path) -> None:
        """Apply a comp file's control values."""
    def save_comp(self, path: _Path) -> None:
        """Save every control value as a comp file."""
    def comp_text(self) -> str:
        """The comp file's JSON text of the current values."""
    def messages(self) -> List[Tuple[int, str]]:
        """Console lines (kind, text) of the last render: 40 information, 60 error."""
    def render(
        self,
        rgba: _Array,
        depth: Optional[_Array] = None,
        motion: Optional[_Array] = None,
        blur_image: Optional[_Array] = None,
        frame: float = 1,
        threads: int = 0,
        vectors: str = "pixels",
        depth_mode: str = "distance",
        vectors_scale: float = 1.0,
        depth_scale: float = 1.0,
    ) -> npt.NDArray[np.float32]:
        """Render one frame and return a new H x W x 4 float32 RGBA array."""
