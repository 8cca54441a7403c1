#!/usr/bin/env python3
"""Prints the results of Google Benchmark JSON files as one table, with ratios against peers.

A benchmark program whose file is missing, empty, unreadable or without results is named at the
end instead of stopping the table. Repeated benchmarks are shown by their median, with the
smallest and largest repetition beside it.
"""
import json
import os
import re
import statistics
import sys


def unit_scale(unit):
    return {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[unit]


class Result:
    """One benchmark: the median of its repetitions and their spread."""

    def __init__(self, program, name, runs):
        self.program = program
        self.name = name
        # Benchmarks that wait on a server or a disk are measured in wall-clock time.
        key = "real_time" if name.endswith(("/real_time", "/manual_time")) else "cpu_time"
        times = [r[key] * unit_scale(r.get("time_unit", "ns")) for r in runs]
        self.time = statistics.median(times)
        self.low, self.high = min(times), max(times)
        self.runs = len(runs)
        self.values = {}
        for k in runs[0]:
            vals = [r[k] for r in runs if isinstance(r.get(k), (int, float))]
            if len(vals) == len(runs) and not isinstance(runs[0][k], bool):
                self.values[k] = statistics.median(vals)
        self.label = runs[0].get("label", "")


def load(paths):
    """Returns the results and, per program that gave none, why."""
    results, empty = [], []
    for path in paths:
        program = os.path.basename(path).removesuffix(".json")
        try:
            with open(path) as f:
                data = json.load(f)
        except (OSError, ValueError):
            empty_file = not os.path.exists(path) or os.path.getsize(path) == 0
            reason = "no output" if empty_file else "unreadable output"
            empty.append((program, f"{reason} (see {path.removesuffix('.json')}.err)"))
            continue
        runs, errors = {}, []
        for b in data.get("benchmarks", []):
            if b.get("run_type") == "aggregate":
                continue
            if b.get("error_occurred"):
                errors.append(f"{b['name']}: {b.get('error_message', 'error')}")
                continue
            runs.setdefault(b.get("run_name", b["name"]), []).append(b)
        for name, rs in runs.items():
            results.append(Result(program, name, rs))
        if errors:
            empty.append((program, "failed: " + "; ".join(sorted(set(errors)))))
        elif not runs:
            empty.append((program, "no benchmark ran"))
    return results, empty


def human_time(seconds):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("us", 1e-6), ("ns", 1e-9)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def print_results(results):
    print(f"{'program':<20} {'benchmark':<44} {'time':>10} {'min..max':>21} {'throughput':>12}  extra")
    print("-" * 124)
    for r in results:
        spread = f"{human_time(r.low)}..{human_time(r.high)}" if r.runs > 1 else ""
        throughput = ""
        if "bytes_per_second" in r.values:
            throughput = f"{r.values['bytes_per_second'] / 1e6:.1f} MB/s"
        elif "items_per_second" in r.values:
            ips = r.values["items_per_second"]
            throughput = f"{ips / 1e6:.2f} M/s" if ips >= 1e5 else f"{ips:.0f} /s"
        extra = []
        for key in ("held_bytes", "peak_bytes"):
            if key in r.values:
                extra.append(f"{key.split('_')[0]}={r.values[key] / 1e6:.2f} MB")
        for key in ("heap_per_byte", "jobs", "lines"):
            if key in r.values:
                extra.append(f"{key}={r.values[key]:.3g}")
        # The window's event-loop gaps during a fault: the window's, then a sleeping thread's.
        if "worst_gap_ms" in r.values:
            extra.append(f"gap={r.values['worst_gap_ms']:.0f} ms sleeper={r.values.get('sleeper_gap_ms', 0):.0f} ms")
        if r.label:
            extra.append(r.label)
        print(f"{r.program:<20} {r.name:<44} {human_time(r.time):>10} {spread:>21} {throughput:>12}  {' '.join(extra)}")


# The JSON matrix: one row per comparison, one column per document. Each row names the
# benchmark of ours and of the peer; "time" rows give the peer's time over ours (above 1: ours
# is faster), "held"/"peak" rows our memory over the peer's (below 1: ours is smaller).
JSON_ROWS = [
    ("parse, UTF-8 in", "÷ RapidJSON", "time", "parse/JsonBag", "parse/RapidJSON"),
    ("", "÷ nlohmann::json", "time", "parse/JsonBag", "parse/nlohmann"),
    ("", "÷ simdjson (DOM)", "time", "parse/JsonBag", "parse/simdjson"),
    ("parse, UTF-16 in", "÷ RapidJSON", "time", "parse_utf16/JsonBag", "parse/RapidJSON"),
    ("compact JSON (UTF-16)", "÷ RapidJSON", "time", "serialize/JsonBag", "serialize/RapidJSON"),
    ("", "÷ nlohmann::json", "time", "serialize/JsonBag", "serialize/nlohmann"),
    ("", "÷ simdjson (DOM)", "time", "serialize/JsonBag", "serialize/simdjson"),
    ("compact UTF-8", "÷ RapidJSON", "time", "serialize_utf8/JsonBag", "serialize/RapidJSON"),
    ("", "÷ nlohmann::json", "time", "serialize_utf8/JsonBag", "serialize/nlohmann"),
    ("", "÷ simdjson (DOM)", "time", "serialize_utf8/JsonBag", "serialize/simdjson"),
    ("memory held", "÷ RapidJSON", "held", "parse/JsonBag", "parse/RapidJSON"),
    ("", "÷ nlohmann::json", "held", "parse/JsonBag", "parse/nlohmann"),
    ("", "÷ simdjson (DOM)", "held", "parse/JsonBag", "parse/simdjson"),
    ("peak while parsing", "÷ own held: JsonBag", "peak", "parse/JsonBag", None),
    ("", "RapidJSON", "peak", "parse/RapidJSON", None),
    ("", "nlohmann::json", "peak", "parse/nlohmann", None),
    ("", "simdjson (DOM)", "peak", "parse/simdjson", None),
    ("JSON.ParseJson parse", "÷ nlohmann::ordered", "time", "parse/JSON.ParseJson", "parse/nlohmann_ordered"),
    ("JSON.ParseJson held", "÷ nlohmann::ordered", "held", "parse/JSON.ParseJson", "parse/nlohmann_ordered"),
    ("JSON.ParseJson peak", "÷ own held", "peak", "parse/JSON.ParseJson", None),
]

# Absolute figures under the ratios: median throughput and memory per library.
JSON_FIGURES = [
    ("parse MB/s", "mbs", ["parse/JsonBag", "parse/RapidJSON", "parse/nlohmann", "parse/simdjson",
                           "parse/JSON.ParseJson", "parse/nlohmann_ordered"]),
    ("serialize MB/s", "mbs", ["serialize/JsonBag", "serialize_utf8/JsonBag", "serialize/RapidJSON",
                               "serialize/nlohmann", "serialize/simdjson"]),
    ("held MB", "held", ["parse/JsonBag", "parse/RapidJSON", "parse/nlohmann", "parse/simdjson",
                         "parse/JSON.ParseJson", "parse/nlohmann_ordered"]),
    ("peak MB", "peak", ["parse/JsonBag", "parse/RapidJSON", "parse/nlohmann", "parse/simdjson",
                         "parse/JSON.ParseJson", "parse/nlohmann_ordered"]),
]

JSON_NAME = re.compile(r"((?:parse|parse_utf16|serialize|serialize_utf8)/[^/]+)/([^/]+)$")


def print_json_matrix(results):
    by = {}
    for r in results:
        m = JSON_NAME.match(r.name)
        if m:
            by[(m.group(1), m.group(2))] = r
    files = sorted({f for (_, f) in by})
    if not files:
        return
    missing = set()

    def cell(ours, peer, kind, f):
        a = by.get((ours, f))
        b = by.get((peer, f)) if peer else None
        if a is None or (peer and b is None):
            missing.add(ours if a is None else peer)
            return None
        if kind == "time":
            return b.time / a.time
        if kind == "held":
            if "held_bytes" not in a.values or "held_bytes" not in b.values:
                return None
            return a.values["held_bytes"] / b.values["held_bytes"]
        if "peak_bytes" not in a.values:
            return None
        return a.values["peak_bytes"] / a.values["held_bytes"]

    runs = max((r.runs for r in by.values()), default=1)
    width = max(12, max(len(f) for f in files) + 1)
    head = f"{'':<24}{'':<22}" + "".join(f"{f:>{width}}" for f in files)
    print()
    print(f"JSON documents: medians of {runs} runs (CPU time).")
    print("Ours is JsonBag, or JSON.ParseJson in its rows. Time rows: the peer's time over ours (above 1:")
    print("ours faster). Memory rows: our heap over the peer's (below 1: ours smaller). Peak rows: the")
    print("most allocated while parsing over what the document then holds.")
    print(head)
    print("-" * len(head))
    for what, peer_text, kind, ours, peer in JSON_ROWS:
        cells = [cell(ours, peer, kind, f) for f in files]
        if all(c is None for c in cells):
            continue
        line = f"{what:<24}{peer_text:<22}"
        line += "".join(f"{'-' if c is None else f'{c:.2f}':>{width}}" for c in cells)
        print(line)
    for what, kind, names in JSON_FIGURES:
        first = True
        for name in names:
            rs = [by.get((name, f)) for f in files]
            if all(r is None for r in rs):
                continue
            vals = []
            for r in rs:
                if r is None:
                    vals.append(None)
                elif kind == "mbs":
                    vals.append(r.values.get("bytes_per_second", 0) / 1e6)
                else:
                    v = r.values.get(f"{kind}_bytes")
                    vals.append(None if v is None else v / 1e6)
            line = f"{what if first else '':<24}{name.split('/', 1)[1] + (' UTF-8' if name.startswith('serialize_utf8') else ''):<22}"
            line += "".join(f"{'-' if v is None else f'{v:.1f}':>{width}}" for v in vals)
            print(line)
            first = False
    labels = sorted({r.label for r in by.values() if r.label})
    for label in labels:
        print(f"note: {label} in {', '.join(sorted({k[0] for k, r in by.items() if r.label == label}))}")
    if runs > 1:
        spreads = sorted((r.high - r.low) / r.time for r in by.values())
        print(f"noise, (max - min) / median over the {len(spreads)} JSON benchmarks: smallest "
              f"{spreads[0]:.0%}, median {statistics.median(spreads):.0%}, largest {spreads[-1]:.0%}")
    for name in sorted(missing):
        print(f"no result: {name}")


def ratio_rows(results):
    """Other ratios: our time divided by the peer's (below 1 means we are faster)."""
    by_name = {r.name: r.time for r in results}
    for name, t in sorted(by_name.items()):
        m = re.match(r"Builder(\w+)", name)
        if m and f"String{m.group(1)}" in by_name:
            yield f"cStringBuilder {m.group(1)}", "std::u16string", t / by_name[f"String{m.group(1)}"]


JSON_ORDER = ["parse/JsonBag", "parse/RapidJSON", "parse/nlohmann", "parse/simdjson",
              "parse_utf16/JsonBag", "serialize/JsonBag", "serialize_utf8/JsonBag",
              "serialize/RapidJSON", "serialize/nlohmann", "serialize/simdjson",
              "parse/JSON.ParseJson", "parse/nlohmann_ordered"]


def listing_order(indexed):
    """JSON rows by document, then library, whatever order their repetitions ran in; other
    rows as their program reported them."""
    i, r = indexed
    m = JSON_NAME.match(r.name)
    if not m:
        return (r.program, "", 0, i)
    kind = m.group(1)
    return (r.program, m.group(2), JSON_ORDER.index(kind) if kind in JSON_ORDER else 99, i)


def main(paths):
    results, empty = load(paths)
    results = [r for _, r in sorted(enumerate(results), key=listing_order)]
    print_results(results)
    print_json_matrix(results)
    rows = list(ratio_rows(results))
    if rows:
        print()
        print(f"{'ours':<44} {'peer':<16} {'time ours / peer':>18}")
        print("-" * 80)
        for ours, peer, r in rows:
            print(f"{ours:<44} {peer:<16} {r:>18.2f}")
    if empty:
        print()
        print("Benchmarks without results:")
        for program, why in empty:
            print(f"  {program}: {why}")


if __name__ == "__main__":
    main(sys.argv[1:])
