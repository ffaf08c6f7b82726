"""Counts what a valgrind leak-check log charges to the module: exits 1 on any loss or memory error there.

    python tools/valgrind_losses.py build/reliability-valgrind/valgrind.log

The interpreter loses some blocks of its own at exit; only loss records whose
allocation stack passes through the module count.
"""

import re
import sys

# A record is a header line followed by its stack frames. Frames of the module
# name its C++ namespace (with debug information) or its shared object.
FRAMES = r"((?:==\d+==\s+(?:at|by) .*\n)+)"
MODULE = re.compile(r"kav::|kav_aprs_parser_pyo3")
LOSS = re.compile(r"==\d+== ([\d,]+) (?:\(.*?\) )?bytes in [\d,]+ blocks are definitely lost.*\n" + FRAMES)
ERROR = re.compile(r"==\d+== ((?:Invalid|Use of uninit|Conditional jump|Mismatched|Source and "
                   r"destination|Argument).*)\n" + FRAMES)
TOTAL = re.compile(r"definitely lost: ([\d,]+) bytes in ([\d,]+) blocks")


def main(path: str) -> int:
    try:
        with open(path, encoding="utf-8", errors="replace") as file:
            log = file.read()
    except OSError as error:
        print(f"valgrind: cannot read the log {path}: {error.strerror}", file=sys.stderr)
        return 2
    lost = [int(size.replace(",", "")) for size, frames in LOSS.findall(log) if MODULE.search(frames)]
    # Errors count only where the module itself made the access: the interpreter's
    # own cycle collector trips valgrind from anywhere, deep below module frames.
    bad = [kind for kind, frames in ERROR.findall(log) if MODULE.search("".join(frames.splitlines(True)[:3]))]
    total = TOTAL.search(log)
    print(f"valgrind: definitely lost overall: {total.group(1) if total else 0} bytes "
          f"in {total.group(2) if total else 0} blocks (interpreter included)")
    print(f"valgrind: definitely lost in the module's frames: {sum(lost)} bytes (with blocks they held) "
          f"in {len(lost)} loss records")
    print(f"valgrind: memory errors in the module's frames: {len(bad)}")
    return 1 if lost or bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
