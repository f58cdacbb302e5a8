"""tarnwick: design automation for chip layouts.

The compiled core lives in ``tarnwick.core.depthview``, ``tarnwick.core.build`` and
``tarnwick.core.freeze``; the rest of this package holds the host services they call.
"""

__all__ = ["__version__", "export_gltf", "show"]
__version__ = "0.1.0"


def __getattr__(name: str):
    # Loaded on first use: importing tarnwick stays cheap.
    if name == "show":
        from tarnwick.notebook import show

        return show
    if name == "export_gltf":
        from tarnwick.core.depthview import export_gltf

        return export_gltf
    raise AttributeError(f"module 'tarnwick' has no attribute {name!r}")
