"""densepack from Python: runs of the packing heuristics, packings as numpy arrays, and
overlap and distance queries on the exact meshes. See docs/python.md."""

import json
import os
import shutil
import sys
import tempfile
import time
from collections import namedtuple

import numpy as np

from . import _core
from ._core import Error, Mesh

__all__ = ["Error", "Mesh", "Packing", "Progress", "Scene", "distance", "heuristics", "load", "overlap", "run"]

CONSTRUCTION = "[Construction Heuristic]"
IMPROVEMENT = "[Improvement Heuristic]"
NO_IMPROVEMENT = (None, "", "None", "none")

Progress = namedtuple("Progress", "elapsed line stderr")
Progress.__doc__ = """What a run said last: seconds since it started, the line (None on a heartbeat) and
whether it came from standard error (where the progress lines go)."""


def heuristics():
    """The registered heuristics: {name: {"construction": bool, "improvement": bool, "settings": dict}};
    the settings are the [Compression] keys with their defaults (empty for the other heuristics)."""
    construction = _core.construction_heuristics()
    improvement = _core.improvement_heuristics()
    out = {}
    for name in construction + [n for n in improvement if n not in construction]:
        out[name] = {"construction": name in construction, "improvement": name in improvement,
                     "settings": _core.compression_defaults() if name == "CompressionAlgorithm" else {}}
    return out


# ------------------------------------------------------------------------------------------------
# Scenes: a configuration built in code


def _words(values):
    return " ".join(f"{v:.9g}" if isinstance(v, float) else str(v) for v in values)


class Scene:
    """A run configuration built in code; `run` takes it in place of a file.

    Model names are looked up as densepack does: MODEL_PATH + NAME + "_l.obj" (else ".obj") and
    ".spheres". Keyword arguments beyond the named ones are [Compression] settings (maxGrowth=...),
    checked at once."""

    def __init__(self, container="box", model_path="models/", construction="PlacementAlgorithm",
                 improvement="CompactionAlgorithm", container_colour=(0.8, 0.8, 0.8, 0.2), grid=(10, 10, 10),
                 surface_epsilon=0.1, hopkins=(0.1, 10), points="points.txt", sampling_volume="smallest",
                 step_factor=0.8, threads=2, construction_file="construction.txt",
                 improvement_file="improvement.txt", **compression):
        self.container, self.model_path = container, model_path
        self.construction, self.improvement = construction, improvement
        self.container_colour, self.grid = tuple(container_colour), tuple(grid)
        self.surface_epsilon, self.hopkins = surface_epsilon, tuple(hopkins)
        self.points, self.sampling_volume = points, sampling_volume
        self.step_factor, self.threads = step_factor, threads
        self.construction_file, self.improvement_file = construction_file, improvement_file
        self.types = []
        self.compression = {}
        self.set_compression(**compression)

    def add_type(self, mesh, share, colour="rand", alpha=1.0, size=None):
        """One object type: model name, share in percent, colour (R, G, B[, A]) or "rand", and the
        size of its objects: None (the mesh's), a factor, or a distribution as the object line
        writes it ("uniform:0.9:1.1", "normal:1:0.05", "lognormal:1:0.1", "file:NAME")."""
        if isinstance(colour, str):
            if colour != "rand":
                raise ValueError(f"colour is 'rand' or R, G, B[, A], not {colour!r}")
            words = ["rand", float(alpha)]
        else:
            words = [float(c) for c in colour] + ([float(alpha)] if len(colour) == 3 else [])
            if len(words) != 4:
                raise ValueError("colour is 'rand' or R, G, B[, A]")
        if size is not None:
            words.append(f"size={size}")
        self.types.append((mesh, float(share), words))
        return self

    def set_compression(self, **settings):
        """[Compression] settings of CompressionAlgorithm (heuristics() lists them with defaults)."""
        merged = {**self.compression, **settings}
        error = _core.check_compression(_words(f"{k}={v}" for k, v in merged.items()))
        if error:
            raise ValueError(error)
        self.compression = merged
        return self

    def config_text(self):
        """The configuration file of this scene."""
        if not self.types:
            raise ValueError("the scene has no object types (add_type)")
        lines = [CONSTRUCTION, f"{self.construction} {self.construction_file}",
                 IMPROVEMENT, f"{self.improvement or 'None'} {self.improvement_file}",
                 "[Grid]", _words(self.grid), "[SurfaceDensity Epsilon]", _words([float(self.surface_epsilon)]),
                 "[Hopkins Statistic]", _words([float(self.hopkins[0]), int(self.hopkins[1])]),
                 "[Preprocessing]",
                 _words([self.points, self.sampling_volume, float(self.step_factor), int(self.threads)]),
                 "[ModelPath]", self.model_path,
                 "[Container]", _words([self.container, *map(float, self.container_colour)])]
        if self.compression:
            lines += ["[Compression]", _words(f"{k}={v}" for k, v in self.compression.items())]
        lines.append("[Objects]")
        lines += [_words([name, share, *colour]) for name, share, colour in self.types]
        return "\n".join(lines) + "\n"

    def write(self, path):
        with open(path, "w", encoding="utf-8") as f:
            f.write(self.config_text())
        return path


# ------------------------------------------------------------------------------------------------
# Runs


def _set_heuristic(lines, header, name, file):
    """Replaces the name and/or file of a heuristic section's data line (header then data line)."""
    for i, line in enumerate(lines):
        if line.startswith(header):
            words = lines[i + 1].split() if i + 1 < len(lines) else []
            words += [""] * (2 - len(words))
            if name is not None:
                words[0] = name
            if file is not None:
                words[1] = file
            if i + 1 < len(lines):
                lines[i + 1] = " ".join(w for w in words if w)
            else:
                lines.append(" ".join(w for w in words if w))
            return words
    words = [name or "None", file or ""]
    lines[:0] = [header, " ".join(w for w in words if w)]
    return words


def run(config, seed=None, limits="steps", steps_per_second=None, construction=None, improvement=None,
        quiet=True, progress=None, cache=False, heartbeat=0.25):
    """Runs a configuration file (or a Scene) headless and returns its packing.

    Runs the densepack run flow itself, in a child process (a fresh start every time; the GIL is
    released while it runs). seed, limits ("steps" or "time") and steps_per_second are the command
    line's --seed, --limits and --steps-per-second; quiet also keeps the run's output off
    sys.stdout. construction and improvement name other heuristics than the configuration's.
    cache=False puts the placement files in a fresh temporary folder, so the construction always
    runs and nothing is left behind; cache=True uses the configuration's files, as the command does.
    progress(Progress) is called for every line the run writes and every `heartbeat` seconds; a true
    result stops the run, which then returns None. Failures raise Error with the program's line."""
    if improvement not in NO_IMPROVEMENT and improvement not in _core.improvement_heuristics():
        raise Error(f"unknown improvement heuristic '{improvement}'; known: "
                    + ", ".join(_core.improvement_heuristics()) + ".")
    if limits not in ("steps", "time"):
        raise ValueError("limits is 'steps' or 'time'")
    work = tempfile.mkdtemp(prefix="densepack-")
    try:
        if isinstance(config, Scene):
            shown, text = "scene", config.config_text()
        else:
            shown = os.fspath(config)
            try:
                with open(shown, newline="\n", encoding="utf-8", errors="surrogateescape") as f:
                    text = f.read()
            except OSError as e:
                raise Error(f"cannot read configuration {shown}: {e.strerror}") from None
        lines = text.split("\n")
        c_words = _set_heuristic(lines, CONSTRUCTION, construction, None if cache else os.path.join(work, "c.txt"))
        i_words = _set_heuristic(lines, IMPROVEMENT, improvement, None if cache else os.path.join(work, "i.txt"))
        path = os.path.join(work, "run.cfg")
        with open(path, "w", newline="\n", encoding="utf-8", errors="surrogateescape") as f:
            f.write("\n".join(lines))

        args = ["densepack", "--headless", "-c", path, "--limits", limits]
        if seed is not None:
            args += ["--seed", str(int(seed))]
        if steps_per_second is not None:
            args += ["--steps-per-second", str(int(steps_per_second))]
        if quiet:
            args.append("--quiet")
        out, err = [], []
        start = time.monotonic()

        def listen(line, stderr):
            if line is not None:
                line = line.replace(path, shown)
                (err if stderr else out).append(line)
                if not quiet:
                    print(line, file=sys.stderr if stderr else sys.stdout)
            return bool(progress(Progress(time.monotonic() - start, line, stderr))) if progress else False

        status, stopped = _core.run_child(args, listen, heartbeat)
        if stopped:
            return None
        if status != 0:
            message = (err or out or [f"densepack ended with status {status}"])[-1]
            e = Error(message)
            e.status, e.output = status, "\n".join(err)
            raise e
        result = i_words[1] if i_words[0] not in NO_IMPROVEMENT else ""
        if not result or not os.path.exists(result):
            result = c_words[1]
        packing = Packing.load(path, result) if os.path.exists(result) else Packing._empty(path)
        packing.output = "\n".join(out)
        return packing
    finally:
        shutil.rmtree(work, ignore_errors=True)


# ------------------------------------------------------------------------------------------------
# Packings


def _quaternions(r):
    """Unit quaternions (w, x, y, z), w >= 0, of rotation matrices r (N, 3, 3)."""
    q = np.empty((len(r), 4))
    m = r.astype(np.float64)
    trace = np.einsum("nii->n", m)
    # Shepperd: divide by the largest of the four candidates.
    cand = np.stack([trace, m[:, 0, 0], m[:, 1, 1], m[:, 2, 2]], axis=1)
    k = np.argmax(cand, axis=1)
    for i in range(4):
        sel = k == i
        if not np.any(sel):
            continue
        s = m[sel]
        if i == 0:
            w = np.sqrt(1.0 + trace[sel]) * 2.0
            q[sel] = np.stack([0.25 * w, (s[:, 2, 1] - s[:, 1, 2]) / w, (s[:, 0, 2] - s[:, 2, 0]) / w,
                               (s[:, 1, 0] - s[:, 0, 1]) / w], axis=1)
        else:
            a, b, c = i - 1, i % 3, (i + 1) % 3
            w = np.sqrt(1.0 + s[:, a, a] - s[:, b, b] - s[:, c, c]) * 2.0
            part = np.empty((len(s), 4))
            part[:, 0] = (s[:, c, b] - s[:, b, c]) / w
            part[:, 1 + a] = 0.25 * w
            part[:, 1 + b] = (s[:, b, a] + s[:, a, b]) / w
            part[:, 1 + c] = (s[:, c, a] + s[:, a, c]) / w
            q[sel] = part
    q /= np.linalg.norm(q, axis=1, keepdims=True)
    q[q[:, 0] < 0] *= -1.0
    return q


def _pose_matrix(pose):
    """A 4x4 model matrix from one, or from (position, orientation[, scale]) with a scalar-first quaternion."""
    if len(pose) == 4:
        m = np.asarray(pose, dtype=np.float32)
        if m.shape != (4, 4):
            raise ValueError("a pose is a 4x4 matrix or (position, orientation[, scale])")
        return m
    position, orientation = np.asarray(pose[0], float), np.asarray(pose[1], float)
    scale = float(pose[2]) if len(pose) > 2 else 1.0
    w, x, y, z = orientation / np.linalg.norm(orientation)
    r = np.array([[1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)],
                  [2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)],
                  [2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)]])
    m = np.eye(4)
    m[:3, :3] = r * scale
    m[:3, 3] = position
    return m.astype(np.float32)


def overlap(mesh_a, pose_a, mesh_b, pose_b):
    """Whether two posed meshes overlap on their exact triangles, and the penetration depth in world
    units (0 when apart). A pose is a 4x4 model matrix or (position, orientation[, scale])."""
    hit, depth = _core.overlap(mesh_a, _pose_matrix(pose_a), mesh_b, _pose_matrix(pose_b))
    return bool(hit), float(depth)


def distance(mesh_a, pose_a, mesh_b, pose_b):
    """Exact distance between the surfaces of two posed meshes, world units; 0 when they touch or
    cross. A mesh wholly inside the other is at its (positive) surface gap."""
    return float(_core.distance(mesh_a, _pose_matrix(pose_a), mesh_b, _pose_matrix(pose_b)))


class Packing:
    """A packing: per object its type, position, orientation and scale, with the meshes of its types.

    positions (N, 3), orientations (N, 4; w, x, y, z as in GSD), type_ids (N,), scales (N,),
    type_names (the run's type order: largest mesh volume first), meshes (Mesh per type) and
    container (Mesh). The placement rows themselves stay as they were read, so save() writes a
    loaded file back byte for byte."""

    def __init__(self, type_ids, rows, type_names, meshes, container):
        self.type_ids = np.asarray(type_ids, dtype=np.int32)
        self._rows = np.asarray(rows, dtype=np.float32).reshape(-1, 48)
        self.type_names, self.meshes, self.container = list(type_names), list(meshes), container
        self.output = ""
        columns = self._rows.reshape(-1, 3, 4, 4)  # per matrix its four columns
        self.positions = columns[:, 0, 3, :3].astype(np.float64)
        self.orientations = _quaternions(np.swapaxes(columns[:, 1, :3, :3], 1, 2)) if len(self) else np.zeros((0, 4))
        self.scales = columns[:, 2, 0, 0].astype(np.float64)

    def __len__(self):
        return len(self.type_ids)

    def __repr__(self):
        return f"<densepack.Packing of {len(self)} objects, types {self.type_names}>"

    @classmethod
    def _empty(cls, config):
        names, meshes, container = _core.load_scene(os.fspath(config))
        return cls(np.zeros(0), np.zeros((0, 48)), names, meshes, container)

    @classmethod
    def load(cls, config, placement_file):
        """The placement file of a configuration (its types give the meshes and the type order)."""
        names, meshes, container = _core.load_scene(os.fspath(config))
        _core.check_placement(os.fspath(placement_file), len(names))
        with open(placement_file, encoding="utf-8") as f:
            rows = [line.split() for line in f if line.strip()]
        ids = [int(r[0]) for r in rows]
        values = np.array([[float(v) for v in r[1:]] for r in rows], dtype=np.float32).reshape(-1, 48)
        return cls(ids, values, names, meshes, container)

    def save(self, placement_file):
        """Writes the packing as densepack writes placement files."""
        with open(placement_file, "w", encoding="utf-8") as f:
            for t, row in zip(self.type_ids, self._rows):
                f.write(f"{t} " + "".join("%g " % float(v) for v in row) + "\n")

    @property
    def box(self):
        """The smallest box centred at the origin around the container, as [Lx, Ly, Lz, xy, xz, yz]
        (GSD, HOOMD-blue, freud)."""
        v = self.container.vertices
        half = np.maximum(np.abs(v.min(axis=0)), np.abs(v.max(axis=0)))
        return [*(2.0 * half.astype(float)), 0.0, 0.0, 0.0]

    def overlaps(self):
        """Object pairs whose exact meshes meet, as (i, j, depth) with i < j: depth is the deepest
        surface sample of one inside the other, world units (0: they touch or cross between samples).
        The pairs densepack-check reports."""
        pairs, _ = _core.check(self.meshes, self.container, self.type_ids, self._rows)
        return pairs

    def outside(self):
        """Objects that meet or leave the container's wall, as (i, depth)."""
        _, out = _core.check(self.meshes, self.container, self.type_ids, self._rows)
        return out

    def analyze(self, margin=None, seed=1, samples=100000, contact_tolerance=0.01):
        """The densepack-analyze figures (its --json) as a dict, with the box in "box"."""
        figures = json.loads(_core.analyze(self.meshes, self.container, self.type_names, self.type_ids, self._rows,
                                           -1.0 if margin is None else float(margin), int(seed), int(samples),
                                           float(contact_tolerance)))
        figures["box"] = self.box
        return figures

    def to_gsd(self, path):
        """One GSD frame (python3-gsd): positions, orientations, one GSD type per densepack type with
        its shape at scale 1, the box; per-object scales in the log as particles/densepack_scale."""
        import gsd
        import gsd.hoomd
        shapes = []
        for mesh in self.meshes:
            vertices = mesh.vertices.astype(float).tolist()
            if mesh.convex:
                shapes.append({"type": "ConvexPolyhedron", "rounding_radius": 0.0, "vertices": vertices})
            else:
                shapes.append({"type": "Mesh", "vertices": vertices, "indices": mesh.faces.tolist()})
        frame = gsd.hoomd.Frame() if hasattr(gsd.hoomd, "Frame") else gsd.hoomd.Snapshot()
        frame.configuration.step = 0
        frame.configuration.box = self.box
        frame.particles.N = len(self)
        frame.particles.types = self.type_names
        frame.particles.type_shapes = shapes
        frame.particles.typeid = self.type_ids.astype(np.uint32)
        frame.particles.position = self.positions.astype(np.float32)
        frame.particles.orientation = self.orientations.astype(np.float32)
        radii = np.array([m.radius for m in self.meshes], dtype=np.float32)
        frame.particles.diameter = (2.0 * radii[self.type_ids] * self.scales).astype(np.float32)
        frame.log["particles/densepack_scale"] = self.scales.astype(np.float32)
        # gsd 3 dropped the "b" from its file modes.
        with gsd.hoomd.open(path, "wb" if int(gsd.__version__.split(".")[0]) < 3 else "w") as f:
            f.append(frame)


def load(config, placement_file):
    """Packing.load: the placement file of a configuration."""
    return Packing.load(config, placement_file)
