# A real 1280 x 720 Cycles frame to measure on, made when the benchmark runs:
#   blender -b --factory-startup --python bench/blender/make_real_frame.py -- OUT.exr [options]
# One multilayer EXR (float) with Combined (RGBA), Depth (Z, metres) and
# Vector passes, rendered sharp (no depth of field, no motion blur) so that
# the blur is left to the post-process. Objects stand near (about 1.5 m),
# mid (3 to 7 m) and far (a wall at 25 m over a floor); the camera pans and
# most objects move, so nearly every pixel carries motion. Prints the lens
# that the post-process should use (LENS ... lines) and RENDER_SECONDS.
import argparse
import math
import sys
import time

import bpy

parser = argparse.ArgumentParser(prog="make_real_frame.py")
parser.add_argument("out", help="multilayer EXR to write")
parser.add_argument("--samples", type=int, default=8, help="Cycles samples per pixel (default 8)")
parser.add_argument("--width", type=int, default=1280)
parser.add_argument("--height", type=int, default=720)
parser.add_argument("--focal-length", type=float, default=35.0, help="mm (default 35)")
parser.add_argument("--sensor-width", type=float, default=24.896, help="mm (default 24.896)")
parser.add_argument("--fstop", type=float, default=1.4, help="f-stop for the post-process (default 1.4)")
parser.add_argument("--focus-near", type=float, default=1.5, help="near focus distance in m (default 1.5)")
parser.add_argument("--focus-far", type=float, default=5.0, help="far focus distance in m (default 5)")
args = parser.parse_args(sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else [])
if args.samples < 1 or args.width < 16 or args.height < 16:
    sys.exit("make_real_frame.py: --samples must be at least 1 and the frame at least 16 x 16")
if args.fstop < 1 or min(args.focus_near, args.focus_far) * 1000 <= args.focal_length:
    sys.exit("make_real_frame.py: --fstop must be at least 1 and both focus distances beyond the focal length")

scene = bpy.context.scene
for ob in list(bpy.data.objects):
    bpy.data.objects.remove(ob)


def material(name, color, scale, kind="checker", color2=None):
    """A diffuse material with a procedural pattern, so blur shows."""
    mat = bpy.data.materials.new(name)
    mat.use_nodes = True
    nodes, links = mat.node_tree.nodes, mat.node_tree.links
    bsdf = nodes["Principled BSDF"]
    bsdf.inputs["Roughness"].default_value = 0.6
    coord = nodes.new("ShaderNodeTexCoord")
    if kind == "checker":
        tex = nodes.new("ShaderNodeTexChecker")
        tex.inputs["Color1"].default_value = color
        tex.inputs["Color2"].default_value = color2 or tuple(c * 0.15 for c in color[:3]) + (1.0,)
        tex.inputs["Scale"].default_value = scale
        links.new(coord.outputs["UV"], tex.inputs["Vector"])
    else:  # bricks: thin bright mortar lines, good for judging blur size
        tex = nodes.new("ShaderNodeTexBrick")
        tex.inputs["Color1"].default_value = color
        tex.inputs["Color2"].default_value = tuple(c * 0.6 for c in color[:3]) + (1.0,)
        tex.inputs["Mortar"].default_value = (0.9, 0.9, 0.85, 1.0)
        tex.inputs["Scale"].default_value = scale
        links.new(coord.outputs["Object"], tex.inputs["Vector"])
    links.new(tex.outputs["Color"], bsdf.inputs["Base Color"])
    return mat


def add(op, name, location, mat, **kw):
    op(location=location, **kw)
    ob = bpy.context.active_object
    ob.name = name
    ob.data.materials.append(mat)
    return ob


def move(ob, delta, turn=(0.0, 0.0, 0.0)):
    """Linear motion over frames 1..3: the rendered frame 2 sits mid-way,
    so the Vector pass carries motion towards both neighbours."""
    start = ob.location.copy()
    rot = ob.rotation_euler.copy()
    for frame, k in ((1, -1.0), (3, 1.0)):
        ob.location = [start[i] + k * delta[i] for i in range(3)]
        ob.rotation_euler = [rot[i] + k * turn[i] for i in range(3)]
        ob.keyframe_insert("location", frame=frame)
        ob.keyframe_insert("rotation_euler", frame=frame)
    for fc in ob.animation_data.action.fcurves:
        for kp in fc.keyframe_points:
            kp.interpolation = "LINEAR"


# Camera at the origin looking along +Y, 1.2 m above the floor.
cam_data = bpy.data.cameras.new("Camera")
cam_data.lens = args.focal_length
cam_data.sensor_fit = "HORIZONTAL"
cam_data.sensor_width = args.sensor_width
cam_data.dof.use_dof = False  # sharp: the post-process adds the defocus
cam_data.clip_start, cam_data.clip_end = 0.1, 200.0
cam = bpy.data.objects.new("Camera", cam_data)
scene.collection.objects.link(cam)
scene.camera = cam
cam.location = (0.0, 0.0, 1.2)
cam.rotation_euler = (math.radians(88.0), 0.0, 0.0)
move(cam, (0.03, 0.0, 0.0), (0.0, 0.0, math.radians(0.45)))  # a slow pan with a little truck

# Far: a brick wall at 25 m, wide enough to fill the frame through the pan.
add(bpy.ops.mesh.primitive_plane_add, "Wall", (0.0, 25.0, 6.0),
    material("Wall", (0.55, 0.25, 0.15, 1.0), 0.6, "bricks"), size=40.0,
    rotation=(math.radians(90.0), 0.0, 0.0))
# Floor from under the camera to the wall: depth grows smoothly along it.
floor = add(bpy.ops.mesh.primitive_plane_add, "Floor", (0.0, 13.0, 0.0),
            material("Floor", (0.7, 0.7, 0.65, 1.0), 24.0), size=40.0)

# Mid: objects between 3 and 7 m, most of them moving.
mid = [
    (bpy.ops.mesh.primitive_uv_sphere_add, "SphereMid", (-1.5, 4.5, 0.45), (0.2, 0.2, 0.9, 1.0),
     dict(radius=0.45), (0.12, 0.0, 0.0)),
    (bpy.ops.mesh.primitive_cube_add, "CubeMid", (1.3, 6.0, 0.4), (0.9, 0.75, 0.1, 1.0),
     dict(size=0.8), (-0.08, 0.0, 0.04)),
    (bpy.ops.mesh.primitive_cylinder_add, "PillarMid", (2.9, 8.5, 1.5), (0.2, 0.7, 0.3, 1.0),
     dict(radius=0.35, depth=3.0), (0.0, 0.0, 0.0)),
    (bpy.ops.mesh.primitive_monkey_add, "HeadMid", (-0.2, 3.5, 1.05), (0.85, 0.85, 0.85, 1.0),
     dict(size=0.5), (0.0, 0.0, 0.05)),
]
for op, name, loc, colour, kw, delta in mid:
    ob = add(op, name, loc, material(name, colour, 6.0), **kw)
    move(ob, delta, (0.0, 0.0, math.radians(6.0)) if name == "CubeMid" else (0.0, 0.0, 0.0))
    bpy.ops.object.shade_smooth()

# Near: a sphere in the near focus plane and a pole closer still, both moving.
near_ball = add(bpy.ops.mesh.primitive_uv_sphere_add, "SphereNear", (0.3, 1.5, 1.0),
                material("SphereNear", (0.9, 0.15, 0.1, 1.0), 8.0), radius=0.09)
bpy.ops.object.shade_smooth()
move(near_ball, (0.025, 0.0, 0.0))
pole = add(bpy.ops.mesh.primitive_cylinder_add, "PoleNear", (-0.33, 1.2, 1.0),
           material("PoleNear", (0.95, 0.95, 0.95, 1.0), 10.0), radius=0.025, depth=2.0)
move(pole, (-0.01, 0.0, 0.0))

# Light: a sun and a blue-grey sky.
sun_data = bpy.data.lights.new("Sun", "SUN")
sun_data.energy = 4.0
sun = bpy.data.objects.new("Sun", sun_data)
sun.rotation_euler = (math.radians(50.0), math.radians(15.0), math.radians(30.0))
scene.collection.objects.link(sun)
world = scene.world or bpy.data.worlds.new("World")
scene.world = world
world.use_nodes = True
world.node_tree.nodes["Background"].inputs["Color"].default_value = (0.35, 0.4, 0.5, 1.0)

# Cycles on the CPU, a handful of samples, sharp and noisy by design.
scene.render.engine = "CYCLES"
scene.cycles.device = "CPU"
scene.cycles.samples = args.samples
scene.cycles.use_adaptive_sampling = False
scene.cycles.use_denoising = False
scene.cycles.max_bounces = 3
scene.cycles.diffuse_bounces = 2
scene.cycles.glossy_bounces = 1
scene.cycles.transmission_bounces = 0
scene.cycles.volume_bounces = 0
scene.cycles.seed = 17
scene.render.use_motion_blur = False  # the Vector pass exists only without it
scene.render.resolution_x, scene.render.resolution_y = args.width, args.height
scene.render.resolution_percentage = 100
scene.render.film_transparent = False
scene.view_settings.view_transform = "Standard"
scene.frame_start, scene.frame_end = 1, 3
scene.frame_set(2)

layer = scene.view_layers[0]
layer.use_pass_combined = True
layer.use_pass_z = True
layer.use_pass_vector = True
scene.use_nodes = False

settings = scene.render.image_settings
settings.file_format = "OPEN_EXR_MULTILAYER"
settings.color_depth = "32"
settings.exr_codec = "ZIP"
scene.render.use_file_extension = False
scene.render.filepath = args.out

start = time.perf_counter()
bpy.ops.render.render(write_still=True)
print("RENDER_SECONDS %.3f" % (time.perf_counter() - start))
# The post-process's lens: the same camera, stopped down to --fstop.
print("LENS focal_length_mm %g" % args.focal_length)
print("LENS sensor_width_mm %g" % args.sensor_width)
print("LENS fstop %g" % args.fstop)
print("LENS focus_near_m %g" % args.focus_near)
print("LENS focus_far_m %g" % args.focus_far)
