"""The Python module against the command line and the tools it stands beside."""

import json
import os
import re
import subprocess
from pathlib import Path

import numpy as np
import pytest

import densepack

ROOT = Path(__file__).resolve().parents[2]
BIN = Path(os.environ.get("DENSEPACK_BIN_DIR", ROOT / "build/release/bin"))
MODELS = str(ROOT / "models") + "/"


def spheres_config(tmp_path, **replace):
    """configs/spheres_box.cfg with its files in tmp_path and the models found from anywhere."""
    text = (ROOT / "configs/spheres_box.cfg").read_text().replace("out/", str(tmp_path) + "/")
    text = text.replace("\nmodels/\n", "\n" + MODELS + "\n")
    for old, new in replace.items():
        text = text.replace(old, new)
    path = tmp_path / "run.cfg"
    path.write_text(text)
    return path


def mm_scene():
    return densepack.Scene(model_path=MODELS, construction="CompressionAlgorithm", improvement=None,
                           limitSeconds=0.5).add_type("mm", 100, (0.95, 0.8, 0.1))


def test_run_writes_the_placement_file_of_the_command(tmp_path):
    config = spheres_config(tmp_path)
    args = ["--headless", "-c", str(config), "--seed", "4", "--limits", "steps", "--steps-per-second", "10"]
    subprocess.run([BIN / "densepack", *args], check=True, capture_output=True, cwd=tmp_path)
    command = (tmp_path / "spheres_box_improvement.txt").read_bytes()
    os.remove(tmp_path / "spheres_box_construction.txt")
    os.remove(tmp_path / "spheres_box_improvement.txt")

    cached = densepack.run(config, seed=4, steps_per_second=10, cache=True)
    assert (tmp_path / "spheres_box_improvement.txt").read_bytes() == command
    fresh = densepack.run(config, seed=4, steps_per_second=10)
    fresh.save(tmp_path / "saved.txt")
    assert (tmp_path / "saved.txt").read_bytes() == command
    assert len(cached) == len(fresh) == command.count(b"\n") > 150
    assert "Num. placed objects: %d" % len(fresh) in fresh.output


def test_progress_sees_the_run_and_may_stop_it(tmp_path):
    seen = []
    # Under 1000 steps a limit second the whole run takes minutes; stopped, it returns None and
    # writes no placement file.
    stopped = densepack.run(spheres_config(tmp_path), seed=1, steps_per_second=1000,
                            progress=lambda p: seen.append(p) or p.line == "Construction Run")
    assert stopped is None
    assert seen[-1].line == "Construction Run" and not seen[-1].stderr
    assert any(p.line and p.line.startswith("Sampling Points: ") for p in seen[:-1])  # heartbeats have none
    assert not list(tmp_path.glob("spheres_box_*.txt"))

    def fail(p):
        raise KeyError("from the callback")
    with pytest.raises(KeyError, match="from the callback"):
        densepack.run(spheres_config(tmp_path), progress=fail)


def test_errors_carry_the_programs_line(tmp_path):
    with pytest.raises(densepack.Error, match=r"^Object model could not be loaded\. Model: nosuch$"):
        densepack.run(densepack.Scene(model_path=MODELS).add_type("nosuch", 100))
    with pytest.raises(densepack.Error, match=r"unknown construction heuristic 'Nope'.*known: PlacementAlgorithm"):
        densepack.run(spheres_config(tmp_path), construction="Nope")
    with pytest.raises(densepack.Error, match=r"unknown improvement heuristic 'Nope'"):
        densepack.run(spheres_config(tmp_path), improvement="Nope")
    bad = spheres_config(tmp_path, **{"[Objects]": "[Compression]\nacceptance=1.5\n[Objects]"})
    with pytest.raises(densepack.Error) as e:
        densepack.run(bad)
    line = bad.read_text().split("\n").index("acceptance=1.5") + 1
    assert str(e.value) == f'{bad}:{line}: compression setting "acceptance=1.5" needs a number from 0.01 to 0.99'
    assert e.value.status == 1
    with pytest.raises(densepack.Error, match=r"size 'normal:1' needs the form normal:MEAN:SD"):
        densepack.run(densepack.Scene(model_path=MODELS).add_type("sphere", 100, size="normal:1"))
    with pytest.raises(ValueError, match='unknown compression setting "rate=2"'):
        densepack.Scene(rate=2)


def test_registry_lists_every_heuristic_with_its_settings():
    found = densepack.heuristics()
    readme = (ROOT / "README.md").read_text()
    listed = set(re.findall(r"`(\w+(?:Algorithm|Addition))`", readme.split("## Two commands")[1].split("![")[0]))
    assert set(found) == listed
    assert found["RandomSequentialAddition"]["construction"] and found["RandomSequentialAddition"]["improvement"]
    assert not found["CompactionAlgorithm"]["construction"]
    settings = found["CompressionAlgorithm"]["settings"]
    assert settings["maxGrowth"] == 0.001 and settings["relaxSweeps"] == 20 and "maxCubaticOrder" in settings
    densepack.Scene(**settings)  # every key with its default passes the program's own check


def test_mm_packing_round_trips_through_gsd(tmp_path):
    gsd_hoomd = pytest.importorskip("gsd.hoomd")
    packing = densepack.run(mm_scene(), seed=2)
    assert len(packing) > 50
    packing.to_gsd(str(tmp_path / "mm.gsd"))
    with gsd_hoomd.open(str(tmp_path / "mm.gsd"), "rb") as f:
        frame = f[0]
    assert frame.particles.types == ["mm"] and frame.particles.N == len(packing)
    np.testing.assert_allclose(frame.particles.position, packing.positions, atol=1e-6)
    np.testing.assert_allclose(frame.particles.orientation, packing.orientations, atol=1e-6)
    assert frame.particles.type_shapes[0]["type"] == "ConvexPolyhedron"
    # The quaternions turn the mesh as the placement's rotation matrices do.
    rows = np.loadtxt(_save(packing, tmp_path), usecols=range(1, 49)).reshape(-1, 3, 4, 4)
    vertex = packing.meshes[0].vertices[7].astype(float)
    for q, r in zip(frame.particles.orientation, rows[:, 1, :3, :3]):
        w, v = q[0], q[1:]
        turned = vertex + 2 * w * np.cross(v, vertex) + 2 * np.cross(v, np.cross(v, vertex))
        np.testing.assert_allclose(turned, r.T @ vertex, atol=1e-5)


def _save(packing, tmp_path):
    packing.save(tmp_path / "p.txt")
    return tmp_path / "p.txt"


def test_packing_queries_agree_with_the_tools(tmp_path):
    config = spheres_config(tmp_path)
    identity = "1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 "
    placed = tmp_path / "two.txt"
    # Unit spheres 0.9 apart: one pair 0.1 deep; the third clear of both, the fourth half out of the box.
    placed.write_text("".join(f"0 1 0 0 0 0 1 0 0 0 0 1 0 {x} 0 0 1 " + identity + identity + "\n"
                              for x in ("0", "0.9", "-2", "2.9")))
    packing = densepack.load(config, placed)
    np.testing.assert_allclose(packing.positions[:, 0], [0, 0.9, -2, 2.9])
    np.testing.assert_allclose(packing.orientations, [[1, 0, 0, 0]] * 4)
    assert packing.save(tmp_path / "again.txt") is None and (tmp_path / "again.txt").read_text() == placed.read_text()

    (pair,) = packing.overlaps()
    assert pair[:2] == (0, 1) and pair[2] == pytest.approx(0.1, abs=0.01)
    assert [o[0] for o in packing.outside()] == [3]
    tool = subprocess.run([BIN / "densepack-analyze", config, placed, "--json"], check=True, capture_output=True)
    figures = packing.analyze()
    assert figures.pop("box") == [6.0, 6.0, 6.0, 0.0, 0.0, 0.0]
    assert figures == json.loads(tool.stdout)

    sphere = packing.meshes[0]
    assert densepack.overlap(sphere, ((0, 0, 0), (1, 0, 0, 0)), sphere, ((0.9, 0, 0), (1, 0, 0, 0)))[0]
    assert not densepack.overlap(sphere, ((0, 0, 0), (1, 0, 0, 0)), sphere, ((1.1, 0, 0), (1, 0, 0, 0)))[0]
    assert densepack.distance(sphere, ((0, 0, 0), (1, 0, 0, 0)), sphere, ((2, 0, 0), (1, 0, 0, 0))) == \
        pytest.approx(1.0, abs=0.01)
    # A scale of 2 on the second sphere: its surface comes 0.5 closer.
    assert densepack.distance(sphere, np.eye(4), sphere, ((3, 0, 0), (0, 0, 0, 1), 2.0)) == pytest.approx(1.5, abs=0.01)


def test_the_documented_study_runs(tmp_path, monkeypatch):
    text = (ROOT / "docs/python.md").read_text()
    study = re.search(r"```python\n(.*?)```", text, re.S).group(1)
    monkeypatch.chdir(tmp_path)
    os.symlink(ROOT / "models", tmp_path / "models")
    exec(compile(study, "docs/python.md", "exec"), {})
    assert (tmp_path / "fractions.png").stat().st_size > 1000
