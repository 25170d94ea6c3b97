#!/usr/bin/env python3
"""Prints the ratios of a jpeg_bench run from its JSON output (median CPU times):
    jpeg_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
        --benchmark_out=run.json --benchmark_out_format=json
    python3 ratios.py run.json
(a) = picture / plain libjpeg at the same scale, (b) = picture / plain full-size decode.
"camera" rows are the same photos with a camera's Exif thumbnail."""
import json
import re
import sys

runs = json.load(open(sys.argv[1]))["benchmarks"]
median = {}
for r in runs:
    if r.get("aggregate_name") != "median":
        continue
    m = re.match(r"(BM_\w+)/photo:(\d)/progressive:(\d)/draw:(\d)", r["run_name"])
    median[(m.group(1),) + tuple(int(g) for g in m.groups()[1:])] = r

photos = {0: "12 MP", 1: "24 MP"}
draws = {0: "100x100", 1: "640x480"}
print(f"{'file':26} {'draw':8} {'picture':>9} {'same scale':>10} {'full':>9} "
      f"{'(a)':>6} {'(b)':>6} {'kept KB':>8} {'kept/bitmap':>11}")
rows = [(name, photo, progressive, draw) for name in ("BM_Picture", "BM_CameraPicture")
        for photo in (0, 1) for progressive in (0, 1) for draw in (0, 1)]
t = lambda r: r["cpu_time"]
for name, photo, progressive, draw in rows:
    if (name, photo, progressive, draw) not in median:
        continue
    pic = median[(name, photo, progressive, draw)]
    same = median[("BM_PlainSameScale", photo, progressive, draw)]
    full = median[("BM_PlainFullSize", photo, progressive, 0)]
    kind = ("progressive" if progressive else "baseline") + \
        (" camera" if name == "BM_CameraPicture" else "")
    print(f"{photos[photo] + ' ' + kind:26} {draws[draw]:8} {t(pic):8.1f}ms "
          f"{t(same):8.1f}ms {t(full):7.1f}ms {t(pic) / t(same):6.2f} "
          f"{t(pic) / t(full):6.2f} {pic['kept_KB']:8.1f} {pic['kept_per_bitmap']:11.2f}")
