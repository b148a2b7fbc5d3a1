#!/usr/bin/env python3
"""Turns convert_bench's JSON output into the README's table of time ratios.

    convert_bench --benchmark_repetitions=5 --benchmark_out=convert.json \
                  --benchmark_out_format=json
    python3 bench/convert/ratio_table.py convert.json

Each ratio is our time over the other's time in the same run (below 1: we are faster).
With repetitions, medians are used. Single-threaded runs compare processor time (steadier
on a shared machine); striped runs compare wall time, the only time they save.
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
    times = {}
    for b in json.load(open(path))["benchmarks"]:
        name = b["run_name"] if "run_name" in b else b["name"]
        name = name.replace("/real_time", "")
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        if b.get("error_occurred"):
            continue
        # Medians win over single repetitions.
        if b.get("run_type") == "aggregate" or name not in times:
            times[name] = (b["cpu_time"], b["real_time"])
    return times


def dest_bytes(to, w, h):
    if to == 5:
        return (w + 47) // 48 * 128 * h
    return w * BPP[to] * h


def main():
    t = load(sys.argv[1])
    rows = []
    for key in sorted(k for k in t if k.startswith("BM_Cell/") and k.endswith("/1")):
        s, d, w, h, _ = (int(x) for x in key.split("/")[1:])
        single = t[key][0]
        striped = t.get(key[:-2] + "/0", (None, None))[1]
        copy_times = t.get(f"BM_Memcpy/{dest_bytes(d, w, h)}", (None, None))
        copy, copy_wall = copy_times
        peer_name = PEERS.get((s, d), "")
        peer_name = peer_name.format(w=w, h=h)
        if "Libyuv" in peer_name and (w, h) != (1920, 1080):
            peer_name = ""
        peer = t.get(peer_name, (None, None))[0] if peer_name else None
        fmt = lambda a, b: f"{a / b:.2f}" if a and b else "-"
        rows.append(
            f"| {NAMES[s]} → {NAMES[d]} | {w}×{h} | {single:.0f} | "
            f"{striped:.0f} | {fmt(single, copy)} | {fmt(striped, copy_wall)} | "
            f"{fmt(single, peer)} | {peer_name.replace('BM_', '') or '-'} |"
        )
    print("| cell | size | 1 stripe µs (cpu) | stripes µs (wall) | 1 stripe / memcpy "
          "| stripes / memcpy | 1 stripe / peer | peer |")
    print("|---|---|---|---|---|---|---|---|")
    print("\n".join(rows))


if __name__ == "__main__":
    main()
