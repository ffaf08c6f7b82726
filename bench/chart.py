"""Draws the README's charts from the JSON that the benchmarks write.

    python chart.py results-batch.json batch-throughput.png     # bench_batch.py
    python chart.py results-decode.json decode-throughput.png   # bench_decode.py
    python chart.py results-dask.json dask-throughput.png       # bench_dask.py

For the columnar decoder it also prints the README's table rows from the same
medians (bench_decode.py prints its own), so that the table and the bars
cannot disagree.
"""

import json
import sys

import matplotlib

matplotlib.use("Agg")  # files only, no display
import matplotlib.pyplot as plt  # noqa: E402  (after the backend is chosen)


def print_table(report: dict) -> None:
    base = report["cases"]["decode_valid"]["median_ns"]
    print("| Case | ns per line | million lines/s | × decode (valid) |")
    print("|---|---|---|---|")
    for case in report["cases"].values():
        ns = case["median_ns"]
        print(f"| {case['label']} | {ns:.0f} | {1e3 / ns:.2f} | {ns / base:.1f} |")
    threads = report["threads"]
    print(f"| two threads against one, decoding valid lines | | | {threads['speedup']:.2f} × faster |")


def draw(target: str, bars: list[tuple[str, float, bool]], xlabel: str, title: str) -> None:
    """Horizontal bars top to bottom in the order given; the package's own in blue, yardsticks in orange."""
    bars = bars[::-1]
    figure, axes = plt.subplots(figsize=(8, 0.5 + 0.34 * len(bars)))
    drawn = axes.barh([label for label, _, _ in bars], [rate for _, rate, _ in bars],
                      color=["#4c72b0" if ours else "#dd8452" for _, _, ours in bars])
    axes.bar_label(drawn, fmt="%.2f", padding=3)
    axes.set_xlabel(xlabel)
    axes.set_title(title)
    axes.set_xlim(0, max(rate for _, rate, _ in bars) * 1.15)
    figure.tight_layout()
    figure.savefig(target, dpi=110)


def draw_batch(report: dict, target: str) -> None:
    print_table(report)
    bars = [(case["label"], 1e3 / case["median_ns"], key.startswith("decode"))
            for key, case in report["cases"].items()]
    draw(target, bars, "million lines per second of processor time (median)",
         f"Decoding the bench corpus (Python {report['python']})")


def draw_decode(report: dict, target: str) -> None:
    # Whole runs, start-up included; the start-up cases decode no lines.
    bars = [(label, result["lines_per_s"] / 1e6, not label.startswith(("bench/", "bare", "gzip", "two ")))
            for label, result in report["results"].items() if result["lines_per_s"]]
    draw(target, bars, "million lines per second, wall time of the whole run (median)",
         f"kav-aprs decode, {report['lines']:,} lines to a file")


def draw_dask(report: dict, target: str) -> None:
    lines = report["archive"]["lines"]
    bars = [(case["label"], lines / case["wall_s"] / 1e6, key in "bc") for key, case in report["cases"].items()]
    draw(target, bars, "million lines per second, wall time of a pass (median)",
         f"read_beacons on a local cluster, {report['archive']['bytes'] / 2**30:.2f} GiB archive")


def main() -> None:
    source, target = sys.argv[1], sys.argv[2]
    report = json.loads(open(source).read())
    if "dask" in report:
        draw_dask(report, target)
    else:
        (draw_batch if "cases" in report else draw_decode)(report, target)


if __name__ == "__main__":
    main()
