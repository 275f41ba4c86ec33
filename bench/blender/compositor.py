# Blender's compositor on the same passes, for bench/blender/compare.sh:
#   blender -b --factory-startup --python compositor.py -- PASSES.exr OUT.exr MODE SHUTTER FSTOP BLUR_MAX W H \
#     [LENS_MM SENSOR_WIDTH_MM FOCUS_M]
# MODE "blur": Vector Blur then Defocus (BLUR_MAX: Defocus's limit on the
# blur's radius, in pixels); MODE "plain": the image straight to
# the output (to time Blender's own render overhead). The camera defaults to
# the synthetic frame's: a 50 mm lens, 24.896 mm sensor, focused at 2 m.
# Prints RENDER_SECONDS.
import sys
import time

import bpy

args = sys.argv[sys.argv.index("--") + 1:]
passes, out, mode, shutter, fstop, blur_max, width, height = args[:8]
lens, sensor, focus = (args[8:11] + ["50", "24.896", "2.0"][len(args[8:11]):])
scene = bpy.context.scene
for ob in list(bpy.data.objects):
    if ob.type != "CAMERA":
        bpy.data.objects.remove(ob)
scene.render.engine = "BLENDER_WORKBENCH"
image = bpy.data.images.load(passes)
scene.render.resolution_x, scene.render.resolution_y = int(width), int(height)
scene.render.resolution_percentage = 100
cam = scene.camera.data
cam.lens = float(lens)
cam.sensor_fit = "HORIZONTAL"
cam.sensor_width = float(sensor)
cam.dof.use_dof = True
cam.dof.focus_distance = float(focus)
cam.dof.aperture_fstop = float(fstop)

scene.use_nodes = True
tree = scene.node_tree
tree.nodes.clear()
src = tree.nodes.new("CompositorNodeImage")
src.image = image
outputs = {o.name: o for o in src.outputs}
comp = tree.nodes.new("CompositorNodeComposite")
if mode == "blur":
    vb = tree.nodes.new("CompositorNodeVecBlur")
    vb.factor = float(shutter)
    vb.samples = 32
    tree.links.new(outputs["Combined"], vb.inputs["Image"])
    tree.links.new(outputs["Depth"], vb.inputs["Z"])
    tree.links.new(outputs["Vector"], vb.inputs["Speed"])
    df = tree.nodes.new("CompositorNodeDefocus")
    df.use_zbuffer = True
    df.f_stop = float(fstop)
    df.blur_max = float(blur_max)
    df.scene = scene
    tree.links.new(vb.outputs["Image"], df.inputs["Image"])
    tree.links.new(outputs["Depth"], df.inputs["Z"])
    tree.links.new(df.outputs["Image"], comp.inputs["Image"])
else:
    tree.links.new(outputs["Combined"], comp.inputs["Image"])

scene.render.image_settings.file_format = "OPEN_EXR"
scene.render.filepath = out
start = time.perf_counter()
bpy.ops.render.render(write_still=True)
print("RENDER_SECONDS %.3f" % (time.perf_counter() - start))
