#!/usr/bin/env python3
"""Prints 'NAME: ours <s> s, reference <s> s, ratio <x>' from a Google Benchmark
JSON file, using the median CPU time per iteration of each benchmark (CPU time,
so other load on the machine weighs less than in wall time)."""
import json
import sys

UNIT = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def median_seconds(data, run_name):
    for b in data["benchmarks"]:
        if b.get("run_name") == run_name and b.get("aggregate_name") == "median":
            return b["cpu_time"] * UNIT[b["time_unit"]]
    sys.exit(f"compare.py: no median for {run_name}")


def main():
    path, name, ours_name, ref_name = sys.argv[1:5]
    with open(path) as f:
        data = json.load(f)
    ours = median_seconds(data, ours_name)
    ref = median_seconds(data, ref_name)
    print(f"{name}: ours {ours:.6f} s, reference {ref:.6f} s, ratio {ours / ref:.3f}")


if __name__ == "__main__":
    main()
