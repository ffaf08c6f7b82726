"""A full disk for a child process, without root: writes past a file size fail as they do on one.

With RLIMIT_FSIZE set (and SIGXFSZ ignored, as Python ignores it anyway), a
write that would take a file past the limit writes what fits and then fails
with EFBIG: the real writers meet a real OSError halfway through a batch.
"""

import resource
import signal


def file_size_limit(limit):
    """A preexec_fn for subprocess: every file the child writes stops at `limit` bytes."""
    def limit_file_size():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, resource.RLIM_INFINITY))
    return limit_file_size
