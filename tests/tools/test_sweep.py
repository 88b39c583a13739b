#!/usr/bin/python3
"""The sweep and plot tools end to end on tiny configurations (a few objects, well under a second
per case): grid expansion, the case configuration, failures and time-outs in the CSV, the analysis
columns, the figures; with SLURM_CONF set (tools/slurm-local.sh start) also the Slurm back end,
which must give the same CSV as the local one.

    tests/tools/test_sweep.py [BIN_DIR]      (default build/release/bin)
"""

import csv
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release", "bin")
# Columns that depend on the machine's speed.
TIMED = {"times.constructionMinutes", "times.improvementMinutes", "peerWallSeconds", "wallSeconds"}
ORDER_KEYS = ["nematicOrder", "bulkNematicOrder", "cubaticOrder", "bulkCubaticOrder"]


def tiny_config(path, model="sphere", construction="PlacementAlgorithm", improvement="CompactionAlgorithm",
                step=2.5):
    with open(path, "w") as f:
        f.write(f"""# eight spheres in the 6 x 6 x 6 box
[Construction Heuristic]
{construction} ignored_construction.txt
[Improvement Heuristic]
{improvement} ignored_improvement.txt
[Hopkins Statistic]
0.1 2
[Preprocessing]
points.txt smallest {step} 1
[ModelPath]
{ROOT}/models/
[Container]
box 0.8 0.8 0.8 0.2
[Objects]
{model} 100 0.9 0.3 0.2 1.0
""")


class Sweep(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="densepack-sweep-test-")
        tiny_config(os.path.join(cls.tmp, "tiny.cfg"), construction="NoSuchConstruction")
        tiny_config(os.path.join(cls.tmp, "broken.cfg"), model="nosuchmodel")
        tiny_config(os.path.join(cls.tmp, "slow.cfg"))
        with open(os.path.join(cls.tmp, "grid.sweep"), "w") as f:
            f.write("""# a failing model, a pair without improvement phase, the peer; the second group has its own pairs
pairs = PlacementAlgorithm:CompactionAlgorithm PlacementAlgorithm:None
seeds = 3-4
analyze = --samples 4000
peer = sphere:1
peer-options = --count 40 --samples 4000
[good]
configs = tiny.cfg
set = "[Hopkins Statistic]=0.1 3"
[broken]
configs = broken.cfg
pairs = PlacementAlgorithm:CompactionAlgorithm
""")
        cls.local = cls.sweep("local")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def sweep(cls, backend, out=None, extra=(), sweep="grid.sweep", bin_dir=BIN):
        out = out or os.path.join(cls.tmp, "out-" + backend)
        run = subprocess.run([os.path.join(ROOT, "tools", "densepack-sweep"), sweep, "--out", out,
                              "--backend", backend, "--jobs", "2", "--bin", bin_dir, *extra],
                             cwd=cls.tmp, capture_output=True, text=True, timeout=900)
        assert run.returncode == 0, run.stderr
        with open(os.path.join(out, "results.csv"), newline="") as f:
            return {r["case"]: r for r in csv.DictReader(f)}

    def test_grid_and_case_configuration(self):
        rows = self.local
        # (2 pairs + 1 peer) x 2 seeds for the first group, (1 pair + 1 peer) x 2 for the second.
        self.assertEqual(len(rows), 10)
        self.assertNotIn("broken__PlacementAlgorithm__None__s3", rows)
        good = rows["tiny__PlacementAlgorithm__CompactionAlgorithm__s3"]
        with open(os.path.join(self.tmp, "out-local", "cases", good["case"], "case.cfg")) as f:
            cfg = f.read()
        case_dir = os.path.join(self.tmp, "out-local", "cases", good["case"])
        self.assertIn(f"PlacementAlgorithm {case_dir}/construction.txt", cfg)
        self.assertIn(f"CompactionAlgorithm {case_dir}/improvement.txt", cfg)
        self.assertNotIn("NoSuchConstruction", cfg)
        self.assertIn("[Hopkins Statistic]\n0.1 3\n", cfg)
        self.assertEqual((good["exit"], good["error"], good["analyzeExit"], good["seed"]), ("0", "", "0", "3"))
        self.assertEqual((good["numObjects"], good["timeouts"]), ("8", "0"))
        self.assertGreater(float(good["wallSeconds"]), 0)
        self.assertAlmostEqual(float(good["globalFraction"]), float(good["packingDensityPercent"]) / 100, places=3)
        self.assertGreater(float(good["bulkFractionError"]), 0)
        self.assertTrue(good["rdfG"].split())

    def test_failures_have_their_rows(self):
        rows = self.local
        for seed in (3, 4):
            broken = rows[f"broken__PlacementAlgorithm__CompactionAlgorithm__s{seed}"]
            self.assertEqual(broken["exit"], "1")
            self.assertEqual(broken["error"], "Object model could not be loaded. Model: nosuchmodel")
            peer = rows[f"broken__peer_sphere_1__s{seed}"]
            self.assertEqual(peer["exit"], "2")
            self.assertIn("nosuchmodel.obj", peer["error"])
            # No improvement phase: what the construction wrote is analysed.
            none = rows[f"tiny__PlacementAlgorithm__None__s{seed}"]
            self.assertEqual((none["exit"], none["analyzeExit"]), ("0", "0"))
            self.assertGreater(float(none["globalFraction"]), 0)
            # No report either: the count comes from the analysis.
            with open(os.path.join(self.tmp, "out-local", "cases", none["case"], "analysis.json")) as f:
                self.assertEqual(none["numObjects"], str(json.load(f)["objects"]))

    def test_timeout_stops_a_case(self):
        # A densepack that sleeps outlasts the 1 s timeout on any machine.
        bin_dir = os.path.join(self.tmp, "sleeping-bin")
        os.makedirs(bin_dir)
        with open(os.path.join(bin_dir, "densepack"), "w") as f:
            f.write("#!/bin/sh\nexec sleep 60\n")
        os.chmod(os.path.join(bin_dir, "densepack"), 0o755)
        os.symlink(os.path.join(BIN, "densepack-analyze"), os.path.join(bin_dir, "densepack-analyze"))
        with open(os.path.join(self.tmp, "slow.sweep"), "w") as f:
            f.write("configs = slow.cfg\npairs = PlacementAlgorithm:CompactionAlgorithm\nseeds = 1\ntimeout = 1\n")
        rows = self.sweep("local", os.path.join(self.tmp, "out-slow"), sweep="slow.sweep", bin_dir=bin_dir)
        slow = rows["slow__PlacementAlgorithm__CompactionAlgorithm__s1"]
        self.assertEqual((slow["exit"], slow["error"]), ("124", "stopped after 1 s, the sweep's timeout"))
        self.assertLess(float(slow["wallSeconds"]), 30)

    def test_peer_rows(self):
        peer = self.local["tiny__peer_sphere_1__s3"]
        self.assertEqual((peer["kind"], peer["shape"], peer["shakes"], peer["exit"]), ("peer", "sphere", "1", "0"))
        self.assertEqual((peer["peerEscaped"], peer["numObjects"]), ("0", "40"))
        # 40 exact spheres against their mesh: the analysis reads the mesh's smaller volume.
        self.assertAlmostEqual(float(peer["peerGlobalFraction"]), 40 * 0.5235988 / 216, places=5)
        self.assertLess(float(peer["globalFraction"]), float(peer["peerGlobalFraction"]))
        self.assertGreater(float(peer["globalFraction"]), 0.9 * float(peer["peerGlobalFraction"]))

    def test_resume_runs_only_the_unfinished_case(self):
        out = os.path.join(self.tmp, "out-resume")
        shutil.copytree(os.path.join(self.tmp, "out-local"), out)
        os.remove(os.path.join(out, "cases", "tiny__PlacementAlgorithm__None__s4", "status.json"))
        rows = self.sweep("local", out, ["--resume"])
        with open(os.path.join(out, "joblog.txt")) as f:
            ran = [line.split("\t")[-1] for line in f.read().splitlines()[1:]]
        self.assertEqual(len(ran), 1)
        self.assertIn("tiny__PlacementAlgorithm__None__s4", ran[0])
        self.assertEqual({k: {c: v for c, v in r.items() if c not in TIMED} for k, r in rows.items()},
                         {k: {c: v for c, v in r.items() if c not in TIMED} for k, r in self.local.items()})

    def test_plot(self):
        out = os.path.join(self.tmp, "plots")
        run = subprocess.run([os.path.join(ROOT, "tools", "densepack-plot"),
                              os.path.join(self.tmp, "out-local", "results.csv"), "--out", out],
                             capture_output=True, text=True, timeout=300)
        self.assertEqual(run.returncode, 0, run.stderr)
        for name in ("density.png", "rdf.png"):
            with open(os.path.join(out, name), "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n", name)
        with open(os.path.join(out, "summary.md")) as f:
            table = f.read().splitlines()
        good = next(line for line in table if "Placement + Compaction" in line and "tiny" in line)
        self.assertIn("| 2 | 8.0 |", good)
        self.assertIn("| broken.cfg | failed runs, left out | 4 | | | | | | | | | |", table)

    def test_order_columns_take_the_first_type_of_each_kind(self):
        # Spheres have no order entry; an entry holds nematic or cubatic keys, cube-like types first.
        case = "tiny__PlacementAlgorithm__CompactionAlgorithm__s3"
        self.assertEqual([self.local[case][k] for k in ORDER_KEYS], ["", "", "", ""])
        out = os.path.join(self.tmp, "out-order")
        shutil.copytree(os.path.join(self.tmp, "out-local"), out)
        path = os.path.join(out, "cases", case, "analysis.json")
        with open(path) as f:
            analysis = json.load(f)
        analysis["order"] = [{"name": "cube", "cubaticOrder": 0.25, "bulkCubaticOrder": 0.5},
                             {"name": "mm", "nematicOrder": 0.125, "bulkNematicOrder": None},
                             {"name": "box", "cubaticOrder": 1, "bulkCubaticOrder": 1}]
        with open(path, "w") as f:
            json.dump(analysis, f)
        rows = self.sweep("local", out, ["--collect-only"])
        self.assertEqual([rows[case][k] for k in ORDER_KEYS], ["0.125", "", "0.25", "0.5"])

    @unittest.skipUnless(os.environ.get("SLURM_CONF"), "no local Slurm cluster (tools/slurm-local.sh start)")
    def test_slurm_gives_the_same_csv(self):
        slurm = self.sweep("slurm")
        self.assertEqual(set(slurm), set(self.local))
        for case, row in self.local.items():
            for key, value in row.items():
                if key not in TIMED:
                    self.assertEqual(slurm[case][key], value, f"{case} {key}")


if __name__ == "__main__":
    unittest.main(verbosity=2)
