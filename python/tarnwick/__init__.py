"""tarnwick: design automation for chip layouts.

The compiled core lives in ``tarnwick.core.depthview``, ``tarnwick.core.build`` and
``tarnwick.core.freeze``; the rest of this package holds the host services they call.
"""

__all__ = ["__version__"]
__version__ = "0.1.0"
