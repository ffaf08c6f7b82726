"""Draws the columnar decoder's throughput from the JSON that bench_batch.py writes.

    python chart.py results-batch.json batch-throughput.png

Also prints the README's table rows from the same medians, so that the table
and the bars cannot disagree.
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


def main() -> None:
    source, target = sys.argv[1], sys.argv[2]
    report = json.loads(open(source).read())
    print_table(report)
    # Top to bottom in the table's order; the columnar decoder in blue, the yardsticks in orange.
    cases = list(report["cases"].items())[::-1]
    labels = [case["label"] for _, case in cases]
    rates = [1e3 / case["median_ns"] for _, case in cases]
    colours = ["#4c72b0" if key.startswith("decode") else "#dd8452" for key, _ in cases]
    figure, axes = plt.subplots(figsize=(8, 3.2))
    bars = axes.barh(labels, rates, color=colours)
    axes.bar_label(bars, fmt="%.2f", padding=3)
    axes.set_xlabel("million lines per second of processor time (median)")
    axes.set_title(f"Decoding the bench corpus (Python {report['python']})")
    axes.set_xlim(0, max(rates) * 1.15)
    figure.tight_layout()
    figure.savefig(target, dpi=110)


if __name__ == "__main__":
    main()
