#!/usr/bin/python3
"""densepack-export on a small packing of four types (one object at half size, turned objects, a
non-convex torus): each file is read back with the library its viewers use (gsd, VTK) or, for the
LAMMPS dump, with a strict parser of its own, and compared with the placement: positions,
orientations (quaternion against rotation matrix), types, shapes and colours.

    tests/tools/test_export.py [BIN_DIR]      (densepack-check's folder, default build/release/bin)
"""

import math
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXPORT = os.path.join(ROOT, "tools", "densepack-export")
MODELS = os.path.join(ROOT, "models")
BIN = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release", "bin")

# Configuration order differs from the run's (mesh volume, largest first): cube 0.512, sphere
# 0.506 (its _l mesh; the plain one would be 0.519 and come first), torus 0.153, tetrahedron 0.114.
RUN_ORDER = ["cube", "sphere", "torus", "tetrahedron"]
MESH = {"cube": "cube.obj", "sphere": "sphere_l.obj", "torus": "torus.obj", "tetrahedron": "tetrahedron.obj"}
COLOUR = {"cube": (0.2, 0.4, 0.9), "sphere": (0.9, 0.3, 0.2), "torus": (0.1, 0.8, 0.1)}  # tetrahedron: rand
CONFIG = f"""[Construction Heuristic]
PlacementAlgorithm construction.txt
[Preprocessing]
points.txt smallest 0.5 1
[ModelPath]
{MODELS}/
[Container]
box 0.8 0.8 0.8 0.2
[Objects]
tetrahedron 10 rand 1.0
sphere 40 0.9 0.3 0.2 1.0
# a comment between types
torus 20 0.1 0.8 0.1 1.0
cube 30 0.2 0.4 0.9 1.0
"""


def rotation(axis, angle):
    x, y, z = np.array(axis, dtype=float) / np.linalg.norm(axis)
    c, s = math.cos(angle), math.sin(angle)
    return np.array([[c + x * x * (1 - c), x * y * (1 - c) - z * s, x * z * (1 - c) + y * s],
                     [y * x * (1 - c) + z * s, c + y * y * (1 - c), y * z * (1 - c) - x * s],
                     [z * x * (1 - c) - y * s, z * y * (1 - c) + x * s, c + z * z * (1 - c)]])


# (run type index, position, rotation, scale)
OBJECTS = [(0, (-1.5, -1.5, -1.5), rotation((0, 0, 1), 0.3), 1.0),
           (1, (1.5, -1.5, -1.5), rotation((1, 2, 3), 2.0), 1.0),
           (1, (0.0, 0.0, 0.0), np.eye(3), 0.5),
           (2, (-1.5, 1.5, 1.5), rotation((1, 0, 0), math.pi / 2), 1.0),
           (3, (1.5, 1.5, 1.5), rotation((-1, 1, 0.5), 3.0), 1.0)]  # near a half turn: w close to 0


def placement_line(t, p, r, s):
    m = [np.eye(4) for _ in range(3)]
    m[0][:3, 3] = p
    m[1][:3, :3] = r
    m[2][:3, :3] = s * np.eye(3)
    return f"{t} " + "".join(f"{v:.9g} " for mat in m for v in mat.T.flatten()) + "\n"


def read_points(name):
    with open(os.path.join(MODELS, MESH[name])) as f:
        return np.array([[float(w) for w in line.split()[1:4]] for line in f if line.startswith("v ")])


def model(index):
    _, p, r, s = OBJECTS[index]
    return r * s, np.array(p)


def matrix_of(q):
    w, x, y, z = q
    return np.array([[1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)],
                     [2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)],
                     [2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)]])


def same_rows(a, b):
    """The same points in any order, to single precision: each has a partner within 1e-5 both ways."""
    a, b = np.asarray(a, dtype=float), np.asarray(b, dtype=float)
    if a.shape != b.shape:
        return False
    d = np.linalg.norm(a[:, None, :] - b[None, :, :], axis=2)
    return bool(d.min(axis=0).max() < 1e-5 and d.min(axis=1).max() < 1e-5)


class Export(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="densepack-export-test-")
        cls.config = os.path.join(cls.tmp, "run.cfg")
        cls.placement = os.path.join(cls.tmp, "placement.txt")
        with open(cls.config, "w") as f:
            f.write(CONFIG)
        with open(cls.placement, "w") as f:
            f.write("".join(placement_line(*o) for o in OBJECTS))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def export(self, fmt, out, placement=None, config=None):
        return subprocess.run([EXPORT, config or self.config, placement or self.placement, "--format", fmt, out,
                               "--bin", BIN], capture_output=True, text=True)

    def module(self, name, package):
        try:
            return __import__(name, fromlist=["_"])
        except ImportError:
            self.fail(f"the Python module {name} is missing: install {package} (tools/setup-deps.sh does)")

    def test_gsd(self):
        hoomd = self.module("gsd.hoomd", "python3-gsd")
        out = os.path.join(self.tmp, "packing.gsd")
        r = self.export("gsd", out)
        self.assertEqual(r.returncode, 0, r.stderr)
        major = int(self.module("gsd", "python3-gsd").__version__.split(".")[0])
        with hoomd.open(out, "rb" if major < 3 else "r") as f:
            self.assertEqual(len(f), 1)
            frame = f[0]
        self.assertEqual(frame.particles.N, len(OBJECTS))
        self.assertTrue(np.allclose(frame.configuration.box, [6, 6, 6, 0, 0, 0]))
        types, shapes = frame.particles.types, frame.particles.type_shapes
        self.assertEqual(sorted(types), sorted(["cube", "sphere", "sphere@0.5", "torus", "tetrahedron"]))
        for k, (t, p, r, s) in enumerate(OBJECTS):
            name = types[frame.particles.typeid[k]]
            self.assertEqual(name, RUN_ORDER[t] + ("@0.5" if s != 1.0 else ""))
            self.assertTrue(np.allclose(frame.particles.position[k], p, atol=1e-6))
            q = frame.particles.orientation[k]
            self.assertAlmostEqual(float(np.linalg.norm(q)), 1.0, places=6)
            self.assertTrue(np.allclose(matrix_of(q), r, atol=1e-6), (q, r))
            # The type's shape, turned and moved by the particle's pose, is the posed mesh.
            shape = shapes[frame.particles.typeid[k]]
            self.assertEqual(shape["type"], "Mesh" if RUN_ORDER[t] == "torus" else "ConvexPolyhedron")
            rs, at = model(k)
            posed = np.array(shape["vertices"]) @ matrix_of(q).T + frame.particles.position[k]
            self.assertTrue(same_rows(posed, read_points(RUN_ORDER[t]) @ rs.T + at), name)
            radius = np.linalg.norm(read_points(RUN_ORDER[t]), axis=1).max()
            self.assertAlmostEqual(frame.particles.diameter[k], 2 * s * radius, places=5)
            if RUN_ORDER[t] in COLOUR:
                self.assertTrue(np.allclose(frame.log["particles/Color"][k], COLOUR[RUN_ORDER[t]]))
        torus = shapes[types.index("torus")]
        self.assertEqual(len(torus["indices"]), 2304)

    def test_lammps_dump(self):
        out = os.path.join(self.tmp, "packing.dump")
        r = self.export("lammps", out)
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = open(out).read().split("\n")
        self.assertEqual(lines[-1], "")
        self.assertEqual(lines[:5], ["ITEM: TIMESTEP", "0", "ITEM: NUMBER OF ATOMS", str(len(OBJECTS)),
                                     "ITEM: BOX BOUNDS ff ff ff"])
        self.assertEqual([[float(v) for v in line.split()] for line in lines[5:8]], [[-3.0, 3.0]] * 3)
        columns = lines[8].split()
        self.assertEqual(columns[:2], ["ITEM:", "ATOMS"])
        columns = columns[2:]
        self.assertEqual(columns, "id type x y z quatw quati quatj quatk shapex shapey shapez".split())
        rows = lines[9:-1]
        self.assertEqual(len(rows), len(OBJECTS))
        for k, (line, (t, p, r, s)) in enumerate(zip(rows, OBJECTS)):
            row = dict(zip(columns, line.split()))
            self.assertEqual(len(line.split()), len(columns))
            self.assertEqual((int(row["id"]), int(row["type"])), (k + 1, t + 1))
            self.assertTrue(np.allclose([float(row[c]) for c in "xyz"], p, atol=1e-7))
            q = [float(row[c]) for c in ("quatw", "quati", "quatj", "quatk")]
            self.assertTrue(np.allclose(matrix_of(q), r, atol=1e-7))
            points = read_points(RUN_ORDER[t])
            extents = s * (points.max(axis=0) - points.min(axis=0))
            self.assertTrue(np.allclose([float(row[c]) for c in ("shapex", "shapey", "shapez")], extents))

    def test_types_of_equal_volume_keep_their_configuration_order(self):
        # A 2 x 1 x 1 box and the same box turned upright: one volume to the last bit.
        folder = os.path.join(self.tmp, "ties")
        os.makedirs(folder)
        corners = [(x, y, z) for x in (-1, 1) for y in (-0.5, 0.5) for z in (-0.5, 0.5)]
        faces = "f 1 2 4 3\nf 5 7 8 6\nf 1 5 6 2\nf 3 4 8 7\nf 1 3 7 5\nf 2 6 8 4\n"
        for name, turn in (("long", lambda c: c), ("tall", lambda c: (c[1], c[2], c[0])),
                           ("box", lambda c: (3 * c[0], 6 * c[1], 6 * c[2]))):
            with open(os.path.join(folder, name + ".obj"), "w") as f:
                f.write("".join("v %g %g %g\n" % turn(c) for c in corners) + faces)
        config, placement = os.path.join(folder, "ties.cfg"), os.path.join(folder, "ties.txt")
        with open(config, "w") as f:
            f.write(f"[ModelPath]\n{folder}/\n[Container]\nbox\n[Objects]\ntall 50 rand 1\nlong 50 rand 1\n")
        with open(placement, "w") as f:
            f.write(placement_line(1, (1, 0, 0), np.eye(3), 1.0) + placement_line(0, (-1, 0, 0), np.eye(3), 1.0))
        out = os.path.join(folder, "ties.dump")
        r = self.export("lammps", out, placement, config)
        self.assertEqual(r.returncode, 0, r.stderr)
        rows = [line.split() for line in open(out).read().splitlines()[9:]]
        self.assertEqual([(row[1], row[-3:]) for row in rows], [("2", ["2", "1", "1"]), ("1", ["1", "1", "2"])])

    def test_vtk(self):
        vtk = self.module("vtkmodules.all", "python3-vtk9")
        numpy_support = self.module("vtkmodules.util.numpy_support", "python3-vtk9")
        out = os.path.join(self.tmp, "vtk")
        r = self.export("vtk", out)
        self.assertEqual(r.returncode, 0, r.stderr)
        sets = ET.parse(os.path.join(out, "packing.pvd")).getroot().find("Collection").findall("DataSet")
        self.assertEqual([d.get("file") for d in sets], ["objects.vtp", "container.vtp"])

        def read(name):
            reader = vtk.vtkXMLPolyDataReader()
            reader.SetFileName(os.path.join(out, name))
            reader.Update()
            return reader.GetOutput()

        objects = read("objects.vtp")
        cells = {name: numpy_support.vtk_to_numpy(objects.GetCellData().GetArray(name))
                 for name in ("type", "object", "color")}
        points = numpy_support.vtk_to_numpy(objects.GetPoints().GetData())
        for k, (t, p, r, s) in enumerate(OBJECTS):
            mine = np.flatnonzero(cells["object"] == k + 1)
            self.assertGreater(len(mine), 0)
            self.assertTrue(np.all(cells["type"][mine] == t))
            corners = set()
            for c in mine:
                ids = objects.GetCell(int(c)).GetPointIds()
                corners.update(ids.GetId(i) for i in range(ids.GetNumberOfIds()))
            rs, at = model(k)
            self.assertTrue(same_rows(points[sorted(corners)], read_points(RUN_ORDER[t]) @ rs.T + at), k)
            if RUN_ORDER[t] in COLOUR:
                self.assertTrue(np.all(np.abs(cells["color"][mine] - np.array(COLOUR[RUN_ORDER[t]]) * 255) <= 0.5))
        self.assertEqual(len(cells["object"]), objects.GetNumberOfCells())
        self.assertEqual(read("container.vtp").GetBounds(), (-3.0, 3.0, -3.0, 3.0, -3.0, 3.0))

    def test_placement_that_does_not_fit_the_configuration(self):
        bad = os.path.join(self.tmp, "bad.txt")
        with open(bad, "w") as f:
            f.write(placement_line(*OBJECTS[0]) + placement_line(4, (0, 0, 0), np.eye(3), 1.0))
        r = self.export("lammps", os.path.join(self.tmp, "bad.dump"), bad)
        self.assertEqual(r.returncode, 2)
        self.assertEqual(r.stderr, f"densepack-export: {bad}:2: type index 4 names no type of the configuration "
                                   "(4 types)\n")
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "bad.dump")))


if __name__ == "__main__":
    unittest.main()
