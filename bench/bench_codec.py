#!/usr/bin/env python3
"""Codec benchmark: velmora against thriftpy2, Apache Thrift and msgspec, side by side.

Every library is timed in this one process on the same data, repeats interleaved
library by library, so background load shifts all columns alike. Peers that are not
installed are skipped; nothing is installed here.

    PYTHONPATH=build/dev python3 bench/bench_codec.py            # full run (about 1-2 min)
    PYTHONPATH=build/dev python3 bench/bench_codec.py --quick    # smoke run (a few seconds)

See bench/README.md for what each number means.
"""
import argparse
import gc
import json
import os
import re
import resource
import statistics
import subprocess
import sys
import tempfile
import time

IDL = """
struct Flat {
  1: bool flag,
  2: byte tiny,
  3: i16 small,
  4: i32 medium,
  5: i64 large,
  6: double ratio,
  7: string name,
  8: string email,
  9: binary token,
  10: i64 created_at,
}

struct Item {
  1: i32 id,
  2: string name,
  3: double score,
}

struct Nested {
  1: list<Item> items,
  2: map<string, i64> counts,
}

struct Containers {
  1: list<string> names,
  2: set<i32> ids,
  3: map<i32, string> labels,
}

struct Blob {
  1: binary data,
}

struct Edge {
  1: bool f,
  2: byte b,
  3: i16 s,
  4: i32 i,
  5: i64 l,
  6: double d,
  7: string u,
  8: string empty,
  9: binary e,
  10: list<i32> li,
  11: set<string> ss,
  12: map<i64, binary> mb,
  13: list<list<i16>> ll,
  14: map<string, list<Item>> ml,
}
"""

def _struct_fields(idl):
    """For each struct of the IDL, its fields whose declared type names a struct."""
    bodies = dict(re.findall(r"struct\s+(\w+)\s*{([^}]*)}", idl))
    out = {}
    for name, body in bodies.items():
        out[name] = tuple(f for t, f in re.findall(r"\d+:\s*(.+?)\s+(\w+)\s*,", body)
                          if any(re.search(r"\b%s\b" % s, t) for s in bodies))
    return out


STRUCT_FIELDS = _struct_fields(IDL)

SHAPES = [
    ("a", "Flat", "flat struct, 10 fields"),
    ("b", "Nested", "list of 1,000 structs + map of 100"),
    ("c", "Containers", "3 containers of 10,000"),
    ("d", "Blob", "one 1 MiB binary"),
]
# Checked for identical bytes with the shapes above, not timed: extreme and empty values.
EDGE = ("e", "Edge", "edge values")

SHAPE_STRUCT = {shape: name for shape, name, _ in SHAPES + [EDGE]}
_only_shapes = None  # the memory child sets up shape (c) alone
_binary_only = False  # and the Binary protocol alone


def active_shapes():
    return [s for s in SHAPES + [EDGE] if _only_shapes is None or s[0] in _only_shapes]


OPS = [
    ("enc_dict", "serialize from a dict"),
    ("enc_inst", "serialize from an instance"),
    ("dec_read", "deserialize + read every field"),
    ("dec", "deserialize alone"),
]

# ---------------------------------------------------------------------------------------
# The data. Sets are Python lists for velmora (its set fields take a list) and Python
# sets for the peers; the list is taken from the set so both iterate in the same order
# and the encoded bytes can be compared.


def make_data():
    flat = {
        "flag": True,
        "tiny": -7,
        "small": 31000,
        "medium": -2_000_000_000,
        "large": 9_000_000_000_000_000_000 // 1000,
        "ratio": 0.6180339887,
        "name": "Ada Lovelace",
        "email": "ada@analytical-engine.example",
        "token": bytes(range(32)),
        "created_at": 1_700_000_000_123,
    }
    nested = {
        "items": [{"id": i, "name": "item-%d" % i, "score": i * 0.25} for i in range(1000)],
        "counts": {"key-%03d" % i: i * 1_000_003 for i in range(100)},
    }
    ids = set(range(0, 30000, 3))
    containers = {
        "names": ["name-%05d" % i for i in range(10000)],
        "ids": list(ids),
        "labels": {i: "label-%d" % i for i in range(10000)},
    }
    blob = {"data": bytes(range(256)) * 4096}
    assert len(blob["data"]) == 1 << 20
    edge = {
        "f": False, "b": -128, "s": -32768, "i": 2**31 - 1, "l": -2**63, "d": -0.0,
        "u": "h\u00e9llo \u2713 \U0001d11e", "empty": "", "e": b"", "li": [], "ss": [],
        "mb": {}, "ll": [[], [1, -1]],
        "ml": {"none": [], "one": [{"id": -1, "name": "\u00fc", "score": 1e300}]},
    }
    velmora_form = {"a": flat, "b": nested, "c": containers, "d": blob, "e": edge}
    peer_form = dict(velmora_form)
    peer_form["c"] = dict(containers, ids=ids)
    peer_form["e"] = dict(edge, ss=set())
    return velmora_form, peer_form


# ---------------------------------------------------------------------------------------
# Library adapters. Each gives, per shape, four callables (one per entry of OPS), the
# Binary bytes it produced, and optionally the same for Compact.


class Case:
    """One library on one shape and protocol: the four timed operations.

    decode(bytes) -> the library's decoded object; read(obj) visits every field of it down
    to the leaves. Every library's operations are built here the same way, so the call
    overhead of the wrappers is the same in every column.
    """

    def __init__(self, enc_dict, enc_inst, decode, read, encoded):
        self.decode, self.read, self.encoded = decode, read, encoded
        self.ops = {
            "enc_dict": enc_dict,
            "enc_inst": enc_inst,
            "dec_read": lambda: read(decode(encoded)),
            "dec": lambda: decode(encoded),
        }


def velmora_adapter(vdata, idl_path):
    import velmora

    Inst = velmora.ThriftStructInstance
    parser = velmora.ThriftParser()
    parser.parse(IDL)

    def materialise(inst):
        # to_dict() reads every field; fields whose declared type holds structs are
        # materialised in turn, down to the leaves.
        d = inst.to_dict()
        for k in STRUCT_FIELDS[inst.struct_name]:
            v = d[k]
            if v:
                d[k] = deep(v)
        return d

    def deep(v):
        t = type(v)
        if t is Inst:
            return materialise(v)
        if t is list:
            if type(v[0]) is Inst:
                return [materialise(e) for e in v]
            return [deep(e) if e else e for e in v]
        if t is dict:
            return {k: deep(e) if e else e for k, e in v.items()}
        return v

    def instance(shape, S):
        d = vdata[shape]
        Item = parser.get_struct("Item")
        if shape == "b":
            return S(items=[Item(**x) for x in d["items"]], counts=d["counts"])
        if shape == "e":
            return S(**dict(d, ml={k: [Item(**x) for x in v] for k, v in d["ml"].items()}))
        return S(**d)

    def cases(protocol):
        out = {}
        for shape, name, _ in active_shapes():
            S = parser.get_struct(name)
            d = vdata[shape]
            inst = instance(shape, S)
            if protocol is None:
                enc, dec = S.serialize, S.deserialize
            else:
                def enc(x, S=S):
                    return S.serialize_with_protocol(x, protocol)

                def dec(b, S=S):
                    return S.deserialize_with_protocol(b, protocol)
            blob = enc(d)
            assert enc(inst) == blob, "velmora: instance and dict encode differently (%s)" % name
            out[shape] = Case(lambda d=d, enc=enc: enc(d), lambda inst=inst, enc=enc: enc(inst),
                              dec, materialise, blob)
        return out

    return {
        "version": getattr(velmora, "__version__", "?") + " (" + velmora.__file__ + ")",
        "binary": cases(None),
        "compact": None if _binary_only else cases(velmora.ProtocolType.Compact),
    }


def _walker(classes, names_of):
    """Reads every attribute of a peer's decoded object down to the leaves: each field once,
    and the structs inside fields whose declared type holds structs."""
    names = {cls: tuple(names_of(cls)) for cls in classes}
    nested = {cls: STRUCT_FIELDS[cls.__name__] for cls in classes}

    def walk(obj):
        cls = type(obj)
        for n in names[cls]:
            getattr(obj, n)
        for n in nested[cls]:
            v = getattr(obj, n)
            if v:
                deep(v)
        return obj

    def deep(v):
        if type(v) in names:
            walk(v)
        elif type(v) is dict:
            for e in v.values():
                if e:
                    deep(e)
        elif type(v) in (list, set):
            for e in v:
                deep(e)

    return walk


def thriftpy2_adapter(pdata, idl_path):
    import thriftpy2
    from thriftpy2.protocol import TCompactProtocolFactory, TCyBinaryProtocolFactory
    from thriftpy2.protocol.cybin import TCyBinaryProtocol
    from thriftpy2.transport import TCyMemoryBuffer
    from thriftpy2.utils import deserialize, serialize

    # The compiled protocol must be the one measured: utils.serialize puts the factory's
    # protocol over thriftpy2's TMemoryBuffer, which is the Cython TCyMemoryBuffer.
    from thriftpy2 import transport
    if transport.TMemoryBuffer is not TCyMemoryBuffer or not isinstance(
            TCyBinaryProtocolFactory().get_protocol(TCyMemoryBuffer()), TCyBinaryProtocol):
        raise ImportError("thriftpy2's compiled binary protocol is not in use")
    mod = thriftpy2.load(idl_path, module_name="velmora_bench_thrift")
    walk = _walker([getattr(mod, n) for n in SHAPE_STRUCT.values()] + [mod.Item],
                   lambda t: [s[1] for s in t.thrift_spec.values()])
    Item = mod.Item

    def build(shape, d):
        # What a user does with a dict: nested structs are built explicitly.
        if shape == "b":
            return mod.Nested(items=[Item(**x) for x in d["items"]], counts=d["counts"])
        if shape == "e":
            return mod.Edge(**dict(d, ml={k: [Item(**x) for x in v] for k, v in d["ml"].items()}))
        return getattr(mod, SHAPE_STRUCT[shape])(**d)

    def cases(factory):
        out = {}
        for shape, name, _ in active_shapes():
            cls = getattr(mod, name)
            d = pdata[shape]
            obj = build(shape, d)
            out[shape] = Case(
                lambda d=d, shape=shape: serialize(build(shape, d), factory),
                lambda obj=obj: serialize(obj, factory),
                lambda b, cls=cls: deserialize(cls(), b, factory),
                walk, serialize(obj, factory))
        return out

    return {
        "version": thriftpy2.__version__ + " (cybin: TCyBinaryProtocol over TCyMemoryBuffer; "
                   "Compact: pure Python)",
        "binary": cases(TCyBinaryProtocolFactory()),
        "compact": None if _binary_only else cases(TCompactProtocolFactory()),
    }


def apache_adapter(pdata, idl_path):
    from thrift.protocol import fastbinary  # the accelerated codec; ImportError skips the peer
    from thrift.protocol.TBinaryProtocol import TBinaryProtocolAccelerated
    from thrift.protocol.TCompactProtocol import TCompactProtocolAccelerated
    from thrift.Thrift import TType
    from thrift.TRecursive import fix_spec
    from thrift.transport.TTransport import TMemoryBuffer

    class Base:
        __slots__ = ()

    def make_class(name, fields):
        # What the Thrift compiler generates: an __init__ with one keyword per field,
        # and a thrift_spec tuple indexed by field id.
        names = [f[1] for f in fields]
        src = "def __init__(self, %s):\n" % ", ".join("%s=None" % n for n in names)
        src += "".join("    self.%s = %s\n" % (n, n) for n in names)
        ns = {}
        exec(src, ns)
        cls = type(name, (Base,), {"__slots__": tuple(names), "__init__": ns["__init__"]})
        field_table = [None] * (max(f[0] for f in fields) + 1)
        for fid, fname, ttype, args in fields:
            field_table[fid] = (fid, ttype, fname, args, None)
        cls.thrift_spec = tuple(field_table)
        return cls

    S, U8, BIN = TType.STRING, "UTF8", "BINARY"
    Item = make_class("Item", [(1, "id", TType.I32, None), (2, "name", S, U8),
                               (3, "score", TType.DOUBLE, None)])
    classes = {
        "Flat": make_class("Flat", [
            (1, "flag", TType.BOOL, None), (2, "tiny", TType.BYTE, None),
            (3, "small", TType.I16, None), (4, "medium", TType.I32, None),
            (5, "large", TType.I64, None), (6, "ratio", TType.DOUBLE, None),
            (7, "name", S, U8), (8, "email", S, U8), (9, "token", S, BIN),
            (10, "created_at", TType.I64, None)]),
        "Item": Item,
        "Nested": make_class("Nested", [
            (1, "items", TType.LIST, (TType.STRUCT, [Item, None], False)),
            (2, "counts", TType.MAP, (S, U8, TType.I64, None, False))]),
        "Containers": make_class("Containers", [
            (1, "names", TType.LIST, (S, U8, False)),
            (2, "ids", TType.SET, (TType.I32, None, False)),
            (3, "labels", TType.MAP, (TType.I32, None, S, U8, False))]),
        "Blob": make_class("Blob", [(1, "data", S, BIN)]),
        "Edge": make_class("Edge", [
            (1, "f", TType.BOOL, None), (2, "b", TType.BYTE, None), (3, "s", TType.I16, None),
            (4, "i", TType.I32, None), (5, "l", TType.I64, None), (6, "d", TType.DOUBLE, None),
            (7, "u", S, U8), (8, "empty", S, U8), (9, "e", S, BIN),
            (10, "li", TType.LIST, (TType.I32, None, False)),
            (11, "ss", TType.SET, (S, U8, False)),
            (12, "mb", TType.MAP, (TType.I64, None, S, BIN, False)),
            (13, "ll", TType.LIST, (TType.LIST, (TType.I16, None, False), False)),
            (14, "ml", TType.MAP, (S, U8, TType.LIST, (TType.STRUCT, [Item, None], False), False))]),
    }
    fix_spec(list(classes.values()))
    walk = _walker(classes.values(), lambda t: t.__slots__)
    Nested = classes["Nested"]

    def build(shape, d):
        if shape == "b":
            return Nested(items=[Item(**x) for x in d["items"]], counts=d["counts"])
        if shape == "e":
            return classes["Edge"](**dict(d, ml={k: [Item(**x) for x in v] for k, v in d["ml"].items()}))
        return classes[SHAPE_STRUCT[shape]](**d)

    def cases(encode, decode, proto_cls):
        # The generated write()/read() on an accelerated protocol call exactly these; the
        # bytes are returned directly rather than through a TMemoryBuffer.
        out = {}
        for shape, name, _ in active_shapes():
            cls = classes[name]
            args = [cls, cls.thrift_spec]
            d = pdata[shape]
            obj = build(shape, d)

            def dec(b, cls=cls, args=args):
                o = cls()
                decode(o, proto_cls(TMemoryBuffer(b)), args)
                return o

            out[shape] = Case(
                lambda d=d, shape=shape, args=args: encode(build(shape, d), args),
                lambda obj=obj, args=args: encode(obj, args),
                dec, walk, encode(obj, args))
        return out

    from importlib.metadata import version
    return {
        "version": version("thrift") + " (fastbinary: " + os.path.basename(fastbinary.__file__) + ")",
        "binary": cases(fastbinary.encode_binary, fastbinary.decode_binary,
                        TBinaryProtocolAccelerated),
        "compact": None if _binary_only else cases(
            fastbinary.encode_compact, fastbinary.decode_compact, TCompactProtocolAccelerated),
    }


def msgspec_adapter(vdata, idl_path):
    import msgspec

    enc = msgspec.msgpack.Encoder()
    dec = msgspec.msgpack.Decoder()
    out = {}
    for shape, _, _ in active_shapes():
        d = vdata[shape]
        # Plain dicts only: "from an instance" encodes the same dict, and the decoded
        # dicts already hold every leaf.
        out[shape] = Case(lambda d=d: enc.encode(d), lambda d=d: enc.encode(d),
                          dec.decode, lambda x: x, enc.encode(d))
    return {"version": msgspec.__version__ + " (msgpack, plain dicts)", "binary": out}


ADAPTERS = [
    ("velmora", velmora_adapter, "v"),
    ("thriftpy2", thriftpy2_adapter, "p"),
    ("apache", apache_adapter, "p"),
    ("msgspec", msgspec_adapter, "v"),
]


def load_libraries(vdata, pdata, idl_path, only=None):
    libs = {}
    for name, adapter, form in ADAPTERS:
        if only and name not in only:
            continue
        try:
            libs[name] = adapter(vdata if form == "v" else pdata, idl_path)
        except ImportError as e:
            print("  %-10s skipped: %s" % (name, e))
    return libs


# ---------------------------------------------------------------------------------------
# Timing


# CPU time of this process by default: the machine is shared, and time spent waiting for a
# core while another process runs is not the library's. Page faults and other kernel work
# done for the process still count. --clock wall switches to time.perf_counter.
clock = time.process_time


def loops_for(fn, target):
    """timeit's autorange: the smallest 1-2-5 loop count whose run takes >= target."""
    n = 1
    while True:
        for m in (1, 2, 5):
            k = n * m
            t0 = clock()
            for _ in range(k):
                fn()
            dt = clock() - t0
            if dt >= target:
                return k
        n *= 10


def measure(fns, repeats, target, faults=None):
    """Median seconds per call for each named callable; repeats interleaved across them.

    With a `faults` dict, also fills in the page faults per call of each callable.
    """
    loops = {}
    for name, fn in fns.items():
        fn()  # warm up
        loops[name] = loops_for(fn, target)
    samples = {name: [] for name in fns}
    faulted = dict.fromkeys(fns, 0)
    calls = dict.fromkeys(fns, 0)
    gcold = gc.isenabled()
    gc.disable()
    try:
        for _ in range(repeats):
            for name, fn in fns.items():
                k = loops[name]
                f0 = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
                t0 = clock()
                for _ in range(k):
                    fn()
                samples[name].append((clock() - t0) / k)
                faulted[name] += resource.getrusage(resource.RUSAGE_SELF).ru_minflt - f0
                calls[name] += k
            gc.collect()
    finally:
        if gcold:
            gc.enable()
    if faults is not None:
        faults.update({name: faulted[name] / calls[name] for name in fns})
    return {name: statistics.median(s) for name, s in samples.items()}


def fmt_time(s):
    if s < 1e-3:
        return "%.2f us" % (s * 1e6)
    if s < 1:
        return "%.3f ms" % (s * 1e3)
    return "%.2f s" % s


def fmt_ratio(r):
    return "%.2fx" % r if r < 10 else "%.1fx" % r


def print_table(title, results, libs, note=""):
    """results[shape][op][lib] = seconds. Ratios are peer time / velmora time."""
    peers = [l for l in libs if l != "velmora"]
    print("\n" + title)
    if note:
        print(note)
    head = "%-5s %-30s %12s" % ("shape", "operation", "velmora") + "".join(
        " %22s" % ("%s (ratio)" % p) for p in peers)
    print(head)
    print("-" * len(head))
    for shape, _, _ in SHAPES:
        if shape not in results:
            continue
        for op, label in OPS:
            row = results[shape].get(op)
            if not row:
                continue
            v = row.get("velmora")
            line = "%-5s %-30s %12s" % ("(%s)" % shape, label, fmt_time(v) if v else "-")
            for p in peers:
                t = row.get(p)
                if t is None:
                    line += " %22s" % "-"
                else:
                    cell = fmt_time(t)
                    if v:
                        cell += " " + fmt_ratio(t / v)
                    line += " %22s" % cell
            print(line)
        ref = results[shape].get("copy")
        if ref:
            print("%-5s %-30s %12s" % ("(%s)" % shape, "reference: copy the 1 MiB bytes",
                                        fmt_time(ref)))


def measure_attribute_reads(libs, repeats, target):
    """Every field of a decoded (b) read by attribute, against velmora's to_dict() walk."""
    fns = {}
    if "velmora" in libs:
        c = libs["velmora"]["binary"]["b"]
        obj = c.decode(c.encoded)
        fns["velmora to_dict()"] = lambda: c.read(obj)

        def by_attribute():
            for it in obj.items:
                it.id, it.name, it.score
            obj.counts

        fns["velmora attributes"] = by_attribute
    for n in ("thriftpy2", "apache"):
        if n in libs:
            c2 = libs[n]["binary"]["b"]
            o2 = c2.decode(c2.encoded)

            def by_attribute(o2=o2):
                for it in o2.items:
                    it.id, it.name, it.score
                o2.counts

            fns[n + " attributes"] = by_attribute
    return measure(fns, repeats, target) if fns else {}


# ---------------------------------------------------------------------------------------
# Sanity: the Thrift libraries must produce the same bytes for the same data, and each
# must read the others' bytes back to the same values.


def check_bytes(libs, key, names):
    problems = []
    for shape, sname, _ in active_shapes():
        have = {n: libs[n][key][shape].encoded for n in names if n in libs and libs[n].get(key)}
        if len(have) < 2:
            continue
        ref_name = "velmora" if "velmora" in have else next(iter(have))
        ref = have[ref_name]
        for n, b in have.items():
            if b != ref:
                at = next((i for i, (x, y) in enumerate(zip(b, ref)) if x != y),
                          min(len(b), len(ref)))
                problems.append("%s (%s, %s): %s gives %d bytes, %s gives %d; first difference "
                                "at byte %d: %s vs %s" % (
                                    key, shape, sname, n, len(b), ref_name, len(ref), at,
                                    b[at:at + 8].hex(), ref[at:at + 8].hex()))
    return problems


def normalise(x):
    """Comparable plain form of a decoded value from any library."""
    if isinstance(x, dict):
        return {k: normalise(v) for k, v in x.items()}
    if isinstance(x, (list, tuple)):
        return [normalise(v) for v in x]
    if isinstance(x, (set, frozenset)):
        return sorted(normalise(v) for v in x)
    if hasattr(x, "thrift_spec"):
        field_table = x.thrift_spec
        if isinstance(field_table, dict):  # thriftpy2
            names = [s[1] for s in field_table.values()]
        else:  # Apache
            names = [s[2] for s in field_table if s]
        return {n: normalise(getattr(x, n)) for n in names}
    return x


def check_round_trips(libs, vdata, key, pairs):
    """For each (reader, writer), the reader turns the writer's bytes back into the data."""
    problems = []
    for shape, _, _ in active_shapes():
        want = normalise(vdata[shape])
        if shape == "c":
            want["ids"] = sorted(want["ids"])
        for reader, writer in pairs:
            if not libs.get(reader, {}).get(key) or not libs.get(writer, {}).get(key):
                continue
            r = libs[reader][key][shape]
            try:
                got = normalise(r.read(r.decode(libs[writer][key][shape].encoded)))
            except Exception as e:  # noqa: BLE001 - reported, not raised
                problems.append("%s (%s): %s cannot read %s's bytes: %r" % (
                    key, shape, reader, writer, e))
                continue
            if shape == "c":
                got["ids"] = sorted(got["ids"])
            if got != want:
                problems.append("%s (%s): %s reads %s's bytes to different data" % (
                    key, shape, reader, writer))
    return problems


def sanity(libs, vdata):
    thrift_libs = [n for n in ("velmora", "thriftpy2", "apache") if n in libs]
    problems = check_bytes(libs, "binary", thrift_libs)
    problems += check_round_trips(libs, vdata, "binary",
                                  [(r, w) for r in thrift_libs for w in thrift_libs])
    # velmora's Compact is its own documented dialect (zigzag string lengths and container
    # sizes, big-endian doubles, 2-byte long-form field ids), not the published Compact
    # protocol that thriftpy2 and Apache speak: only each side's own round trip is checked.
    problems += check_bytes(libs, "compact", [n for n in thrift_libs if n != "velmora"])
    problems += check_round_trips(libs, vdata, "compact", [(n, n) for n in thrift_libs] + [
        (r, w) for r in thrift_libs for w in thrift_libs if r != w and "velmora" not in (r, w)])
    print("\nSanity (shapes a-d plus an edge-value struct): identical Binary bytes from %s, each "
          "reading the others' bytes back to the data; Compact round trips: %s" % (
              ", ".join(thrift_libs), "OK" if not problems else "MISMATCH"))
    for p in problems:
        print("  POSSIBLE BUG: " + p)
    if "velmora" in libs and len(thrift_libs) > 1:
        other = thrift_libs[1]
        b = libs["velmora"]["compact"]["a"].encoded
        print("  note: velmora's Compact bytes differ from %s's by design (its dialect: zigzag "
              "lengths/sizes, big-endian doubles); %s reading velmora's Compact: %s" % (
                  other, other, _try_read(libs[other]["compact"]["a"], b)))
    return problems


def _try_read(case, blob):
    try:
        case.decode(blob)
        return "decodes (values not checked)"
    except Exception as e:  # noqa: BLE001
        return "fails with %s" % type(e).__name__


# ---------------------------------------------------------------------------------------
# Peak resident memory, shape (c): one child process per library and phase.


def _status_kib(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise OSError("no %s in /proc/self/status" % field)


def mem_child(lib, phase, blob_path):
    global _only_shapes, _binary_only
    _only_shapes, _binary_only = {"c"}, True
    vdata, pdata = make_data()
    del vdata["d"], pdata["d"]
    with tempfile.TemporaryDirectory() as tmp:
        idl_path = os.path.join(tmp, "bench.thrift")
        with open(idl_path, "w") as f:
            f.write(IDL)
        case = load_libraries(vdata, pdata, idl_path, only=[lib])[lib]["binary"]["c"]
    with open(blob_path, "rb") as f:
        blob = f.read()
    gc.collect()
    try:
        # Hand the heap's free pages back, so the operation's allocations show as growth.
        import ctypes
        ctypes.CDLL("libc.so.6").malloc_trim(0)
    except (OSError, AttributeError):
        pass
    try:
        # Resets the high-water mark to the current resident size (Linux >= 4.0), so the
        # peak read below is the operation's own.
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
    except OSError:
        pass
    before_max = _status_kib("VmHWM")
    before = _status_kib("VmRSS")
    if phase == "encode":
        keep = case.ops["enc_dict"]()
    else:
        keep = case.read(case.decode(blob))
    peak = _status_kib("VmHWM")
    del keep
    print(json.dumps({"before_kib": before, "before_max_kib": before_max, "peak_kib": peak}))


def measure_memory(libs):
    rows = {}
    with tempfile.TemporaryDirectory() as tmp:
        for name in libs:
            blob_path = os.path.join(tmp, name + ".bin")
            with open(blob_path, "wb") as f:
                f.write(libs[name]["binary"]["c"].encoded)
            row = {}
            for phase in ("encode", "decode"):
                r = subprocess.run([sys.executable, os.path.abspath(__file__), "--mem-child", name,
                                    phase, blob_path], capture_output=True, text=True,
                                   env=os.environ.copy())
                if r.returncode != 0:
                    row[phase] = None
                    print("  memory child %s/%s failed: %s" % (name, phase, r.stderr.strip()[-300:]))
                    continue
                v = json.loads(r.stdout.strip().splitlines()[-1])
                # When the operation stayed under the high-water mark left by the set-up,
                # VmHWM cannot see its peak (the reset was refused): only an upper bound is known.
                exact = v["peak_kib"] > v["before_max_kib"] or v["before_max_kib"] <= v["before_kib"]
                row[phase] = ((v["peak_kib"] - v["before_kib"]) / 1024.0, exact)
            rows[name] = row
    return rows


# ---------------------------------------------------------------------------------------


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--quick", action="store_true", help="smoke run: few repeats, short loops")
    ap.add_argument("--repeats", type=int, default=None)
    ap.add_argument("--no-memory", action="store_true", help="skip the memory measurement")
    ap.add_argument("--clock", choices=["cpu", "wall"], default="cpu",
                    help="process CPU time (default) or wall-clock time")
    ap.add_argument("--mem-child", nargs=3, metavar=("LIB", "PHASE", "BLOB"), help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.mem_child:
        mem_child(*args.mem_child)
        return 0

    global clock
    clock = time.process_time if args.clock == "cpu" else time.perf_counter
    repeats = args.repeats or (3 if args.quick else 7)
    target = 0.002 if args.quick else 0.025
    started = time.perf_counter()
    vdata, pdata = make_data()
    print("velmora codec benchmark: Python %s, %d repeats of >= %.0f ms each, %s time%s" % (
        sys.version.split()[0], repeats, target * 1e3,
        "process CPU" if args.clock == "cpu" else "wall-clock", " (quick)" if args.quick else ""))
    with tempfile.TemporaryDirectory() as tmp:
        idl_path = os.path.join(tmp, "bench.thrift")
        with open(idl_path, "w") as f:
            f.write(IDL)
        libs = load_libraries(vdata, pdata, idl_path)
    if "velmora" not in libs:
        print("velmora is not importable: nothing to measure")
        return 1
    for name, lib in libs.items():
        print("  %-10s %s" % (name, lib["version"]))

    sanity(libs, vdata)

    copy_src = vdata["d"]["data"]
    binary, faults_d = {}, {}
    for shape, _, _ in SHAPES:
        binary[shape] = {}
        for op, _ in OPS:
            fns = {n: lib["binary"][shape].ops[op] for n, lib in libs.items()}
            if shape == "d":
                fns["copy"] = lambda: memoryview(copy_src).tobytes()
                faults_d[op] = {}
            binary[shape][op] = measure(fns, repeats, target, faults_d.get(op))
        if shape == "d":
            # The copy ran beside every operation: its median over all of them.
            binary[shape]["copy"] = statistics.median(binary[shape][op].pop("copy") for op, _ in OPS)

    order = list(libs)
    print_table("Binary protocol (median time per call; ratio = peer time / velmora time, "
                "above 1 means velmora is faster)", binary, order)
    print("\n(d) page faults per call (fresh memory the call touched, 4 KiB pages; 1 MiB = 256): "
          + "; ".join("%s: %s" % (op, ", ".join("%s %.0f" % (n, f) for n, f in faults_d[op].items()))
                      for op in ("enc_dict", "dec")))
    attr = measure_attribute_reads(libs, repeats, target)
    if attr:
        print("\nReading the fields of an already decoded (b) (1,000 items of 3 fields + the map), "
              "median per call:")
        print("  " + ", ".join("%s %s" % (k, fmt_time(v)) for k, v in attr.items()))

    compact_libs = [n for n in order if libs[n].get("compact")]
    compact = {}
    for shape, _, _ in SHAPES:
        compact[shape] = {}
        for op, _ in OPS:
            fns = {n: libs[n]["compact"][shape].ops[op] for n in compact_libs}
            compact[shape][op] = measure(fns, 1 if args.quick else max(3, repeats // 2), target)
    print_table("Compact protocol (thriftpy2's Compact is pure Python; Apache's is fastbinary)",
                compact, compact_libs)

    # Targets, Binary protocol.
    print("\nTargets (Binary)")
    misses = []
    for shape in ("a", "b", "c"):
        for op, _ in OPS:
            row = binary[shape][op]
            if "thriftpy2" in row:
                r = row["thriftpy2"] / row["velmora"]
                if r < 2:
                    misses.append("(%s) %s: %s vs thriftpy2 (want >= 2x)" % (shape, op, fmt_ratio(r)))
    for shape, _, _ in SHAPES:
        for op, _ in OPS:
            row = binary[shape][op]
            if "apache" in row:
                r = row["apache"] / row["velmora"]
                if r < 1:
                    misses.append("(%s) %s: %s vs Apache fastbinary (want >= 1x)" % (
                        shape, op, fmt_ratio(r)))
    for op, _ in OPS:
        r = binary["d"][op]["velmora"] / binary["d"]["copy"]
        if r > 2:
            misses.append("(d) %s: %s the time of a 1 MiB copy (want <= 2x)" % (op, fmt_ratio(r)))
    print("  all met" if not misses else "\n".join("  missed: " + m for m in misses))

    if not args.no_memory:
        mem = measure_memory(libs)
        print("\nPeak resident memory, shape (c): the process's peak resident size during the "
              "operation (VmHWM, reset through /proc/self/clear_refs just before it) minus its "
              "resident size before it; data and library set up first; one child process per "
              "library and phase")
        print("%-10s %22s %34s" % ("library", "serialize from dict", "deserialize + read every field"))
        for name, row in mem.items():
            def cell(v):
                return "-" if v is None else ("%.1f MiB" if v[1] else "<= %.1f MiB") % v[0]
            print("%-10s %22s %34s" % (name, cell(row.get("encode")), cell(row.get("decode"))))

    print("\ntotal %.1f s" % (time.perf_counter() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
