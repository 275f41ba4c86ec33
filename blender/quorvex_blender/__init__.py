"""Quorvex for Blender: depth of field and motion blur from the Z and Vector
passes, matched to the scene's camera, after every rendered frame."""
bl_info = {
    "name": "Quorvex",
    "author": "Tessaly Software",
    "version": (1, 0, 0),
    "blender": (3, 4, 0),
    "location": "Properties > Render > Quorvex",
    "description": "Depth of field and motion blur from the Z and Vector passes, matched to the scene camera",
    "category": "Render",
}



# Blender's modules are imported on registration, so that the lens rules
# (quorvex_blender.lens) can be used and tested outside Blender too.
def register():
    from . import handlers, ui

    ui.register()
    handlers.register()


def unregister():
    from . import handlers, ui

    handlers.unregister()
    ui.unregister()
