#!/usr/bin/env python3
"""Runs one velmora codec operation of bench_codec.py in a loop, for a profiler to watch.

    PYTHONPATH=build/dev python3 bench/profile_codec.py SHAPE OP [SECONDS] [--protocol compact]
    perf record -g -o /tmp/perf.data -- env PYTHONPATH=build/prof python3 bench/profile_codec.py d enc_dict 5
    perf report -i /tmp/perf.data --no-children --percent-limit 2

SHAPE is a-d (bench_codec.py's shapes), OP one of enc_dict, enc_inst, dec_read, dec.
Prints the number of calls made and the mean time per call.
"""
import argparse
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_codec  # noqa: E402


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("shape", choices=[s for s, _, _ in bench_codec.SHAPES])
    ap.add_argument("op", choices=[o for o, _ in bench_codec.OPS])
    ap.add_argument("seconds", type=float, nargs="?", default=5.0)
    ap.add_argument("--protocol", choices=["binary", "compact"], default="binary")
    ap.add_argument("--library", default="velmora",
                    choices=[name for name, _, _ in bench_codec.ADAPTERS])
    args = ap.parse_args()

    bench_codec._only_shapes = {args.shape}
    bench_codec._binary_only = args.protocol == "binary"
    vdata, pdata = bench_codec.make_data()
    with tempfile.TemporaryDirectory() as tmp:
        idl_path = os.path.join(tmp, "bench.thrift")
        with open(idl_path, "w") as f:
            f.write(bench_codec.IDL)
        lib = bench_codec.load_libraries(vdata, pdata, idl_path, only=[args.library])[args.library]
    fn = lib[args.protocol][args.shape].ops[args.op]
    calls = 0
    start = time.perf_counter()
    end = start + args.seconds
    while time.perf_counter() < end:
        for _ in range(10):
            fn()
        calls += 10
    elapsed = time.perf_counter() - start
    print("%s %s (%s, %s): %d calls, %.2f us per call" % (
        args.shape, args.op, args.library, args.protocol, calls, elapsed / calls * 1e6))


if __name__ == "__main__":
    main()
