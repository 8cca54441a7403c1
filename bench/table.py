#!/usr/bin/env python3
"""Prints the results of Google Benchmark JSON files as one table, with ratios against peers."""
import json
import re
import sys


def load(paths):
    rows = []
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        program = path.rsplit("/", 1)[-1].removesuffix(".json")
        for b in data.get("benchmarks", []):
            # With repetitions keep the median only.
            if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
                continue
            if b.get("run_type") == "iteration" and b.get("repetitions", 1) > 1:
                continue
            rows.append((program, b))
    return rows


def unit_scale(unit):
    return {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[unit]


def human_time(seconds):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("us", 1e-6), ("ns", 1e-9)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def main(paths):
    rows = load(paths)
    times = {}
    print(f"{'program':<22} {'benchmark':<52} {'time':>12} {'throughput':>14} {'extra':>18}")
    print("-" * 122)
    for program, b in rows:
        name = b["name"]
        # Benchmarks that wait on a server or a disk are measured in wall-clock time.
        key = "real_time" if name.endswith(("/real_time", "/manual_time")) else "cpu_time"
        cpu = b[key] * unit_scale(b.get("time_unit", "ns"))
        times[(program, name)] = cpu
        throughput = ""
        if "bytes_per_second" in b:
            throughput = f"{b['bytes_per_second'] / 1e6:.1f} MB/s"
        elif "items_per_second" in b:
            ips = b["items_per_second"]
            throughput = f"{ips / 1e6:.2f} M/s" if ips >= 1e5 else f"{ips:.0f} /s"
        extra = ""
        for key in ("heap_per_byte", "jobs", "lines"):
            if key in b:
                extra = f"{key}={b[key]:.3g}"
        # The window's event-loop gaps during a fault: the window's, then a sleeping thread's.
        if "worst_gap_ms" in b:
            extra = f"gap={b['worst_gap_ms']:.0f} ms sleeper={b['sleeper_gap_ms']:.0f} ms"
        print(f"{program:<22} {name:<52} {human_time(cpu):>12} {throughput:>14} {extra:>18}")

    # Ratios: our time divided by the peer's (below 1 means we are faster).
    def ratio_rows():
        by_name = {name: t for (_, name), t in times.items()}
        for name, t in sorted(by_name.items()):
            m = re.match(r"(parse_utf16|parse_utf8|serialize)/JsonBag/(.+)", name)
            if m:
                kind, file = m.groups()
                peer_kind = "parse" if kind.startswith("parse") else "serialize"
                for peer in ("RapidJSON", "nlohmann"):
                    p = by_name.get(f"{peer_kind}/{peer}/{file}")
                    if p:
                        yield f"JsonBag {kind} {file}", peer, t / p
            m = re.match(r"ParseJson/(.+)", name)
            if m and f"nlohmann_ordered/{m.group(1)}" in by_name:
                yield f"JSON.ParseJson {m.group(1)}", "nlohmann", t / by_name[f"nlohmann_ordered/{m.group(1)}"]
            m = re.match(r"Builder(\w+)", name)
            if m and f"String{m.group(1)}" in by_name:
                yield f"cStringBuilder {m.group(1)}", "std::u16string", t / by_name[f"String{m.group(1)}"]

    print()
    print(f"{'ours':<44} {'peer':<16} {'time ours / peer':>18}")
    print("-" * 80)
    for ours, peer, r in ratio_rows():
        print(f"{ours:<44} {peer:<16} {r:>18.2f}")


if __name__ == "__main__":
    main(sys.argv[1:])
