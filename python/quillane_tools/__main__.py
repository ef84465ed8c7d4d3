"""`python -m quillane_tools` runs the `quillane` command."""

import sys

from .cli import main

sys.exit(main())
