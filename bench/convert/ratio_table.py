#!/usr/bin/env python3
"""Turns convert_bench's JSON output into the README's table of time ratios.

    convert_bench --benchmark_filter=BM_Cell --benchmark_repetitions=3 \\
                  --benchmark_min_time=0.3 --benchmark_out=convert.json \\
                  --benchmark_out_format=json
    python3 bench/convert/ratio_table.py convert.json [--compare other.json]

Each ratio is our time over the other's time (below 1: we are faster). Every cell times, in
the same iterations, the conversion in one stripe, the conversion in Convert's stripes, a
memcpy of the destination's bytes (also on the stripe workers, in equal parts: the speed-up
two processors give a pass over those bytes on this machine) and the peer library's
operation; each ratio is taken within one repetition and the median of the repetitions'
ratios is the figure. One stripe is
compared on the thread's processor time, the stripe speed-up on wall time, the only time
stripes save. Runs of the earlier benchmark (a benchmark per operation, Memcpy and the
peers apart, each with its least time) are read too, for --before.
The heading gives the run's date, processor model, instruction-set level (forced by
ORVEX_CPU_LEVEL, or each row's variant chosen on the machine, which it lists) and load
average.
With --compare, a second run of the same program is set against the first: the largest
change of any ratio between the two is printed after the table. With --before, the
ratios of an earlier build's run are printed next to each cell; --lines 1080 keeps one
picture size. After the table, each target is checked against this run and the cells that
miss it are named: copies and 4:2:2 reorders within 1.2x memcpy; bottom-up within 1.05x of
top-down; at or below every peer, except that the 4:2:2 -> RGB32 rows (whose exact bytes
cost more arithmetic than the peer's) may take up to 1.10x the peer at a level below the
widest; stripes gaining at least what the striped memcpy gains, and on machines with more
than two processors also at least 1.6x. A converting cell also times its memory traffic
alone (its source read, its destination written with the stores the conversion uses:
streamed from 12 MiB, except by the RGB -> 4:2:2 rows) in one stripe and striped; the misses of
the ceiling are named again with that traffic's speed-up beside theirs.
"""
import json
import sys

NAMES = ["RGB32", "RGB24", "UYVY", "HDYC", "YUY2", "v210"]
BPP = {0: 4, 1: 3, 2: 2, 3: 2, 4: 2}
PEERS = {
    (0, 1): "BM_Libyuv_ARGBToRGB24",
    (0, 2): "BM_Libyuv_ARGBToUYVY",
    (0, 3): "BM_Libyuv_ARGBToUYVY",
    (0, 4): "BM_Libyuv_ARGBToYUY2",
    (1, 0): "BM_Libyuv_RGB24ToARGB",
    (2, 0): "BM_Libyuv_UYVYToARGB",
    (3, 0): "BM_Libyuv_UYVYToARGB",
    (4, 0): "BM_Libyuv_YUY2ToARGB",
    (2, 4): "BM_Libyuv_ARGBShuffle",
    (3, 4): "BM_Libyuv_ARGBShuffle",
    (4, 2): "BM_Libyuv_ARGBShuffle",
    (4, 3): "BM_Libyuv_ARGBShuffle",
    (2, 5): "BM_FFmpeg_V210Encode/{w}/{h}",
    (3, 5): "BM_FFmpeg_V210Encode/{w}/{h}",
    (4, 5): "BM_FFmpeg_V210Encode/{w}/{h}",
    (5, 2): "BM_FFmpeg_V210Decode/{w}/{h}",
    (5, 3): "BM_FFmpeg_V210Decode/{w}/{h}",
}


def load(path):
    """The run's context, the least times of each benchmark, and each cell's repetitions."""
    data = json.load(open(path))
    times, cells = {}, {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" or b.get("error_occurred"):
            continue
        name = (b["run_name"] if "run_name" in b else b["name"])
        name = name.replace("/real_time", "").replace("/manual_time", "")
        cpu, wall = times.get(name, (float("inf"), float("inf")))
        times[name] = (min(cpu, b["cpu_time"]), min(wall, b["real_time"]))
        if name.startswith("BM_Cell/") and "one_cpu" in b:
            key = tuple(int(x) for x in name.split("/")[1:])
            cells.setdefault(key, []).append(b)
    return data.get("context", {}), (times, cells)


def dest_bytes(to, w, h):
    if to == 5:
        return (w + 47) // 48 * 128 * h
    return w * BPP[to] * h


def median(values):
    values = sorted(values)
    n = len(values)
    return (values[n // 2] + values[(n - 1) // 2]) / 2 if n else None


def ratios(run):
    """One row per cell, size and row order: (key, one stripe µs, ÷ memcpy, stripe speed-up,
    ÷ peer, peer name, bottom-up ÷ top-down, a striped memcpy's speed-up, the speed-up of the
    conversion's memory traffic alone)."""
    times, cells = run
    if cells:
        return interleaved_ratios(cells)
    t = times
    out = []
    for key in sorted(k for k in t if k.startswith("BM_Cell/")):
        s, d, w, h, stripes, order = (int(x) for x in key.split("/")[1:])
        if stripes != 1:
            continue
        single_cpu, single_wall = t[key]
        striped = t.get(f"BM_Cell/{s}/{d}/{w}/{h}/0/{order}", (None, None))[1]
        copy = t.get(f"BM_Memcpy/{dest_bytes(d, w, h)}", (None, None))[0]
        peer_name = PEERS.get((s, d), "").format(w=w, h=h)
        if "Libyuv" in peer_name and (w, h) != (1920, 1080):
            peer_name = ""
        peer = t.get(peer_name, (None, None))[0] if peer_name else None
        div = lambda a, b: a / b if a and b else None
        top = t.get(f"BM_Cell/{s}/{d}/{w}/{h}/1/0", (None, None))[0] if order else None
        out.append(((s, d, w, h, order), single_cpu, div(single_cpu, copy),
                    div(single_wall, striped), div(single_cpu, peer),
                    peer_name.replace("BM_", "").split("/")[0], div(single_cpu, top), None,
                    None))
    return out


def interleaved_ratios(cells):
    """Cells that timed memcpy, the stripes and the peer in the same iterations as the one
    stripe: each ratio is taken within a repetition, and the median of the repetitions'
    ratios is the figure."""
    out = []
    for key in sorted(cells):
        reps = cells[key]
        def ratio(num, den):
            values = [r[num] / r[den] for r in reps if r.get(num) and r.get(den)]
            return median(values)
        out.append((key, min(r["one_cpu"] for r in reps), ratio("one_cpu", "memcpy_cpu"),
                    ratio("one_wall", "striped_wall"), ratio("one_cpu", "peer_cpu"),
                    reps[0].get("label", ""),
                    ratio("bottom_cpu" if "bottom_cpu" in reps[0] else "one_cpu", "top_cpu"),
                    ratio("memcpy_wall", "memcpy_striped_wall"),
                    ratio("traffic_wall", "traffic_striped_wall")))
    return out


def target_report(rows, context):
    """One line per target: how many cells it covers and which miss it. The targets depend
    on the machine (its processor count) and the level of the run (the widest it has, or a
    lower one forced), both from the run's context."""
    def name(k):
        s, d, w, h, order = k
        rgb = s < 2 or d < 2
        return f"{NAMES[s]}→{NAMES[d]} {h}p" + (" bottom-up" if rgb and order else "")
    copy_like = lambda s, d: s == d or {s, d} <= {2, 3} or ({s, d} & {2, 3} and 4 in {s, d})
    widest = context.get("orvex_cpu_level") == context.get("orvex_cpu_level_widest",
                                                             context.get("orvex_cpu_level"))
    many_cpus = int(context.get("num_cpus", 2)) > 2
    # The 4:2:2 -> RGB32 rows give exact bytes that cost more arithmetic than the peer's.
    heavy = lambda s, d: s in (2, 3, 4) and d == 0 and not widest
    peer_target = ("≤ 1.0× peer" if widest
                   else "≤ 1.0× peer (4:2:2 → RGB32 ≤ 1.10× below the widest level)")
    ceiling = "stripes ≥ the striped memcpy's speed-up (this machine's ceiling)"
    checks = {"copy/reorder ≤ 1.2× memcpy": [], "bottom-up ≤ 1.05× top-down": [],
              peer_target: []}
    if many_cpus:
        checks["stripes ≥ 1.6×"] = []
    checks[ceiling] = []
    counts = dict.fromkeys(checks, 0)
    # Misses of the ceiling, with what the conversion's memory traffic alone (its source read,
    # its destination written with its own kind of stores) gains from the same stripe workers.
    traffic_misses, under_traffic = [], 0
    for (s, d, w, h, order), us, mem, speedup, peer, _, against_top, copy_speedup, traffic in rows:
        key = (s, d, w, h, order)
        if copy_like(s, d) and mem is not None:
            counts["copy/reorder ≤ 1.2× memcpy"] += 1
            if mem > 1.2:
                checks["copy/reorder ≤ 1.2× memcpy"].append(f"{name(key)} {mem:.2f}")
        if against_top is not None:
            counts["bottom-up ≤ 1.05× top-down"] += 1
            if against_top > 1.05:
                checks["bottom-up ≤ 1.05× top-down"].append(f"{name(key)} {against_top:.2f}")
        if peer is not None:
            counts[peer_target] += 1
            if peer > (1.10 if heavy(s, d) else 1.0):
                checks[peer_target].append(f"{name(key)} {peer:.2f}")
        if not (s == d or {s, d} <= {2, 3}) and speedup is not None:
            if many_cpus:
                counts["stripes ≥ 1.6×"] += 1
                if speedup < 1.6:
                    checks["stripes ≥ 1.6×"].append(f"{name(key)} {speedup:.2f}")
            if copy_speedup is not None:
                counts[ceiling] += 1
                if speedup < copy_speedup:
                    checks[ceiling].append(f"{name(key)} {speedup:.2f} < {copy_speedup:.2f}")
                    if traffic is not None:
                        traffic_misses.append(f"{name(key)} {speedup:.2f} / {traffic:.2f}")
                        under_traffic += speedup < traffic
    for target, misses in checks.items():
        met = counts[target] - len(misses)
        yield (f"- {target}: {met} of {counts[target]} cells"
               + (f"; missed by {', '.join(misses)}" if misses else ""))
    if traffic_misses:
        yield (f"  - the misses' speed-up against that of their memory traffic alone (source "
               "read, destination written with the conversion's stores) on the same workers, "
               f"{len(traffic_misses) - under_traffic} of {len(traffic_misses)} at or above it: "
               f"{', '.join(traffic_misses)}")


USAGE = "usage: ratio_table.py RUN.json [--compare OTHER.json] [--before EARLIER.json] [--lines N]"


def fail(message):
    print(f"ratio_table.py: {message}\n{USAGE}", file=sys.stderr)
    sys.exit(2)


def main():
    args = sys.argv[1:]
    if any(a in ("-h", "--help") for a in args):
        print(__doc__.strip() + "\n\n" + USAGE)
        return

    def option(name):
        if name not in args:
            return None
        i = args.index(name)
        if i + 1 >= len(args):
            fail(f"{name} needs a value")
        value = args[i + 1]
        del args[i:i + 2]
        return value

    other = option("--compare")
    only_lines = option("--lines")  # e.g. 1080: one picture size only
    if only_lines is not None and not only_lines.isdigit():
        fail(f"--lines takes a number of lines, not '{only_lines}'")
    before_path = option("--before")
    if len(args) != 1 or args[0].startswith("--"):
        given = " ".join(args)
        fail(f"takes one run's JSON file, not '{given}'" if args else "a run's JSON file is needed")

    def read(path):
        try:
            context, run = load(path)
        except (OSError, ValueError, KeyError, TypeError) as e:
            fail(f"{path}: not a convert_bench JSON run ({e})")
        if not any(k.startswith("BM_Cell/") for k in run[0]):
            fail(f"{path}: holds no conversion cells (BM_Cell)")
        return context, run

    before = {r[0]: r for r in ratios(read(before_path)[1])} if before_path else {}
    context, run = read(args[0])
    level = context.get("orvex_cpu_level", "?")
    if context.get("orvex_cpu_level_forced") == "no":
        level += f" (variants chosen on the machine: {context.get('orvex_row_choice', '?')})"
    elif context.get("orvex_cpu_level_forced") == "yes":
        level += " (forced)"
    print(f"Run of {context.get('date', '?')} on {context.get('orvex_cpu_model', '?')} "
          f"({context.get('num_cpus', '?')} logical processors), level {level}, load average "
          f"{', '.join(f'{x:.1f}' for x in context.get('load_avg', [])) or '?'}.\n")
    f = lambda x: f"{x:.2f}" if x is not None else "–"
    extra = " before ÷ memcpy | before ÷ peer | before speed-up |" if before else ""
    print("| cell | size | rows | 1 stripe µs (cpu) | ÷ memcpy | stripe speed-up (wall) "
          "| memcpy's stripe speed-up | traffic's stripe speed-up | ÷ peer | peer "
          "| ÷ top-down |" + extra)
    print("|---|---|---|---|---|---|---|---|---|---|---|" + ("---|---|---|" if before else ""))
    rows = ratios(run)
    for row in rows:
        (s, d, w, h, order), us, mem, speedup, peer, peer_name, against_top, copy_speedup = row[:8]
        traffic = row[8]
        if only_lines and h != int(only_lines):
            continue
        rgb = s < 2 or d < 2
        copy = s == d or {s, d} == {2, 3}
        line = (f"| {NAMES[s]} → {NAMES[d]} | {h}p | "
                f"{('bottom-up' if order else 'top-down') if rgb else '–'} | {us:.0f} | {f(mem)} | "
                f"{'–' if copy else f(speedup)} | {'–' if copy else f(copy_speedup)} | "
                f"{'–' if copy else f(traffic)} | {f(peer)} | {peer_name or '–'} | "
                f"{f(against_top)} |")
        if before:
            b = before.get((s, d, w, h, order))
            line += (f" {f(b[2])} | {f(b[4])} | {'–' if copy else f(b[3])} |" if b
                     else " – | – | – |")
        print(line)
    print()
    for line in target_report(rows, context):
        print(line)
    if other:
        second = {r[0]: r for r in ratios(read(other)[1])}
        worst = (0.0, None)
        changes = []
        for r in rows:
            r2 = second.get(r[0])
            if not r2:
                continue
            for i in (2, 4):  # the ratios to memcpy and to the peer
                if r[i] and r2[i]:
                    change = abs(r2[i] / r[i] - 1)
                    changes.append(change)
                    if change > worst[0]:
                        worst = (change, r[0])
        changes.sort()
        within = sum(1 for c in changes if c <= 0.10)
        median = changes[len(changes) // 2] if changes else 0.0
        print(f"\nSecond run: {within} of {len(changes)} ratios within 10 % (median change "
              f"{median * 100:.1f} %); largest change {worst[0] * 100:.1f} % (cell {worst[1]})")


if __name__ == "__main__":
    main()
