import sys

from tarnwick.cli import main

sys.exit(main())
