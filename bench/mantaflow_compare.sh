#!/usr/bin/env bash
# Side-by-side frame times: Blender's gas solver (Debian's blender, headless) baking a fire-and-smoke
# domain at 128³ and 64³, and `cindel render` of the built-in scene (Voxel Size Large: 128³, Draft,
# 960 × 540, PNG written), one after the other on this machine. Needs `apt-get install blender`.
#   bench/mantaflow_compare.sh [path/to/cindel] [frames]       (default: build/cindel, 12)
set -euo pipefail
cindel=${1:-build/cindel}
frames=${2:-12}
command -v blender >/dev/null || { echo "mantaflow_compare: blender is not installed (apt-get install blender)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/bake.py" <<'PY'
import sys, time, bpy
side, frames = int(sys.argv[-2]), int(sys.argv[-1])
bpy.ops.wm.read_factory_settings(use_empty=True)
scene = bpy.context.scene
bpy.ops.mesh.primitive_cube_add(size=4.0, location=(0.0, 0.0, 2.0))
domain = bpy.context.active_object
settings = domain.modifiers.new("Fluid", 'FLUID')
settings.fluid_type = 'DOMAIN'
d = settings.domain_settings
d.domain_type = 'GAS'
d.resolution_max = side
d.use_noise = False
d.cache_type = 'REPLAY'
d.cache_frame_start, d.cache_frame_end = 1, frames
bpy.ops.mesh.primitive_uv_sphere_add(radius=0.3, location=(0.0, 0.0, 0.5))
source = bpy.context.active_object
flow = source.modifiers.new("Fluid", 'FLUID')
flow.fluid_type = 'FLOW'
flow.flow_settings.flow_type = 'BOTH'
flow.flow_settings.flow_behavior = 'INFLOW'
times = []
for f in range(1, frames + 1):
    start = time.perf_counter()
    scene.frame_set(f)
    times.append(time.perf_counter() - start)
print("MANTAFLOW %d %s" % (side, " ".join("%.3f" % t for t in times)))
PY

for side in 128 64; do
  blender -b -noaudio --python "$work/bake.py" -- "$side" "$frames" 2>/dev/null | grep '^MANTAFLOW' |
    awk '{ s = 0; for (i = 3; i <= NF; ++i) s += $i
           printf "mantaflow %s^3: %d frames, %.3f s a frame\n", $2, NF - 2, s / (NF - 2) }'
done

"$cindel" render --frames 0-$((frames - 1)) --out "$work/frames" 2>"$work/cindel.log" >/dev/null
# The summary's average covers every frame and the wait for the last file; the kernel build is not in it.
sed -nE 's/^cindel: ([0-9]+) frames in .* \(([0-9]+) ms a frame.*/\1 \2/p' "$work/cindel.log" |
  awk '{ printf "cindel 128^3 Draft 960x540 png: %d frames, %.3f s a frame\n", $1, $2 / 1000 }'
