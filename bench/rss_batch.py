"""Resident memory of kav_aprs.iter_decoded over one file, sampled after every chunk.

Run in a fresh interpreter by bench_batch.py: argv is the file and batch_bytes.
Prints JSON. The baseline is taken after the imports, before the first chunk,
so it is the interpreter's own.
"""

import json
import sys
import time

import kav_aprs
from rss_flat import MIB, resident_bytes


def main() -> None:
    path, batch_bytes = sys.argv[1], int(sys.argv[2])
    baseline = resident_bytes()
    sizes = []
    lines = 0
    start = time.perf_counter()
    for decoded in kav_aprs.iter_decoded(path, batch_bytes=batch_bytes):
        lines += decoded.lines
        sizes.append(resident_bytes())
    seconds = time.perf_counter() - start
    first = max(sizes[: max(1, len(sizes) // 10)])  # the first tenth of the chunks
    last = max(sizes[-max(1, len(sizes) // 10):])
    print(json.dumps({
        "batch_bytes": batch_bytes, "chunks": len(sizes), "lines": lines,
        "lines_per_second": lines / seconds, "baseline_bytes": baseline,
        "growth_bytes": max(sizes) - baseline, "drift_bytes": last - first,
        "flat": last - first <= MIB, "samples_bytes": sizes,
    }))


if __name__ == "__main__":
    main()
