"""``python -m tarnwick``: the ``tarnwick`` command line."""

import sys

from tarnwick.cli import main

sys.exit(main())
