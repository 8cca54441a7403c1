#!/usr/bin/env python3
"""Checks bench/table.py on result files as the benchmark programs leave them: good, empty,
missing, failed and repeated."""
import contextlib
import io
import json
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import table  # noqa: E402


def run(name, cpu_ms, reps=1, **extra):
    rows = []
    for i, t in enumerate(cpu_ms if isinstance(cpu_ms, list) else [cpu_ms] * reps):
        rows.append({"name": name, "run_name": name, "run_type": "iteration",
                     "repetitions": reps, "repetition_index": i, "iterations": 10,
                     "real_time": t * 3, "cpu_time": t, "time_unit": "ms", **extra})
    if reps > 1:  # the aggregates Google Benchmark adds; the table computes its own
        rows.append({"name": name + "_median", "run_name": name, "run_type": "aggregate",
                     "aggregate_name": "median", "cpu_time": 999.0, "real_time": 999.0,
                     "time_unit": "ms"})
    return rows


class TableTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def write(self, program, content):
        path = os.path.join(self.dir.name, program + ".json")
        with open(path, "w") as f:
            f.write(content if isinstance(content, str) else json.dumps({"benchmarks": content}))
        return path

    def table(self, *paths):
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            table.main(list(paths))
        return out.getvalue()

    def test_programs_without_results_are_named_and_the_rest_is_shown(self):
        good = self.write("json_bag_bench", run("parse/JsonBag/mesh", 2.0) +
                          run("parse/RapidJSON/mesh", 3.0))
        out = self.table(
            self.write("empty_bench", ""),
            self.write("garbled_bench", "{\"benchmarks\": ["),
            self.write("none_bench", []),
            self.write("failing_bench", [{"name": "x/y", "run_name": "x/y", "run_type": "iteration",
                                          "error_occurred": True, "error_message": "bench data missing",
                                          "cpu_time": 0, "real_time": 0, "time_unit": "ns"}]),
            os.path.join(self.dir.name, "missing_bench.json"),
            good)
        self.assertIn("empty_bench: no output", out)
        self.assertIn("garbled_bench: unreadable output", out)
        self.assertIn("none_bench: no benchmark ran", out)
        self.assertIn("failing_bench: failed: x/y: bench data missing", out)
        self.assertIn("missing_bench: no output", out)
        self.assertIn("parse/JsonBag/mesh", out)

    def test_json_matrix_ratios_point_the_documented_way(self):
        rows = (run("parse/JsonBag/canada", [2.0, 9.0, 1.0, 2.0, 2.5], 5,
                    held_bytes=300.0, peak_bytes=450.0, bytes_per_second=1e6) +
                run("parse/RapidJSON/canada", 5.0, 5, held_bytes=200.0, peak_bytes=200.0) +
                run("serialize/JsonBag/canada", 4.0, 5) +
                run("parse/JSON.ParseJson/canada", 1.0, 5) +
                run("parse/nlohmann_ordered/canada", 3.0, 5))
        out = self.table(self.write("json_bag_bench", rows))
        lines = out.splitlines()

        def row(prefix):
            return next(line for line in lines if line.startswith(prefix)).split()

        # Median of 2, 9, 1, 2, 2.5 ms is 2 ms: RapidJSON's 5 ms over it.
        self.assertEqual(row("parse, UTF-8 in")[-1], "2.50")
        self.assertEqual(row("memory held")[-1], "1.50")
        self.assertEqual(row("peak while parsing")[-1], "1.50")
        self.assertEqual(row("JSON.ParseJson parse")[-1], "3.00")
        self.assertIn("medians of 5 runs", out)
        self.assertIn("1 ms..9 ms", out)
        # A peer that did not run leaves its rows out and is named.
        self.assertNotIn("compact JSON", out)
        self.assertIn("no result: serialize/RapidJSON", out)


if __name__ == "__main__":
    unittest.main()
