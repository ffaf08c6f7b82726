"""A full disk for a child process, without root: writes past a file size fail as they do on one.

With RLIMIT_FSIZE set (and SIGXFSZ ignored, as Python ignores it anyway), a
write that would take a file past the limit writes what fits and then fails
with EFBIG: the real writers meet a real OSError halfway through a batch.
"""

import os
import resource
import signal

import pytest

# pyarrow meets a failed write by throwing a C++ exception inside its own
# library; with the sanitizer's runtime preloaded into an interpreter not
# built with it, that throw aborts the process. What those tests check is
# how the package handles pyarrow's failure, which the plain runs cover.
PYARROW_FAILS_UNDER_ASAN = pytest.mark.skipif(
    os.environ.get("KAV_TESTS_INSTRUMENTED") == "asan",
    reason="pyarrow's exceptions abort under a preloaded sanitizer runtime")


def file_size_limit(limit):
    """A preexec_fn for subprocess: every file the child writes stops at `limit` bytes."""
    def limit_file_size():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, resource.RLIM_INFINITY))
    return limit_file_size
