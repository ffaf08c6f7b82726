"""Draws the columnar decoder's throughput from the JSON that bench_batch.py writes.

    python chart.py results-batch.json batch-throughput.png

The bars are the same medians as the README table: million lines a second of
each case, on one core.
"""

import json
import sys

import matplotlib

matplotlib.use("Agg")  # files only, no display
import matplotlib.pyplot as plt  # noqa: E402  (after the backend is chosen)


def main() -> None:
    source, target = sys.argv[1], sys.argv[2]
    report = json.loads(open(source).read())
    # Top to bottom in the table's order; the columnar decoder in blue, the yardsticks in orange.
    cases = list(report["cases"].items())[::-1]
    labels = [case["label"] for _, case in cases]
    rates = [1e3 / case["median_ns"] for _, case in cases]
    colours = ["#4c72b0" if key.startswith("decode") else "#dd8452" for key, _ in cases]
    figure, axes = plt.subplots(figsize=(8, 3.2))
    bars = axes.barh(labels, rates, color=colours)
    axes.bar_label(bars, fmt="%.2f", padding=3)
    axes.set_xlabel("million lines per second, one core (median)")
    axes.set_title(f"Decoding the bench corpus (Python {report['python']})")
    axes.set_xlim(0, max(rates) * 1.15)
    figure.tight_layout()
    figure.savefig(target, dpi=110)


if __name__ == "__main__":
    main()
