"""``python -m kav_aprs``: the same as the ``kav-aprs`` command."""

import sys

from .cli import command

sys.exit(command())
