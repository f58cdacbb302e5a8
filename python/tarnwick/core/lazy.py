"""Lazy binding: bind a module or attribute now, import it on first use."""

from __future__ import annotations

import importlib
from typing import Any

__all__ = ["LazyObject", "lazy_import", "resolve"]

_UNRESOLVED = object()


class LazyObject:
    """A stand-in for a module or module attribute that is imported on first use.

    Attribute access, calls, item access, iteration, membership, comparison and the text forms all
    resolve the target and then act on it, so the proxy behaves as the target from then on.
    """

    __slots__ = ("_lazy_attribute", "_lazy_module", "_lazy_target")

    def __init__(self, module: str, attribute: str | None = None) -> None:
        object.__setattr__(self, "_lazy_module", module)
        object.__setattr__(self, "_lazy_attribute", attribute)
        object.__setattr__(self, "_lazy_target", _UNRESOLVED)

    def _lazy_resolve(self) -> Any:
        target = object.__getattribute__(self, "_lazy_target")
        if target is _UNRESOLVED:
            target = importlib.import_module(object.__getattribute__(self, "_lazy_module"))
            attribute = object.__getattribute__(self, "_lazy_attribute")
            if attribute is not None:
                target = getattr(target, attribute)
            object.__setattr__(self, "_lazy_target", target)
        return target

    @property
    def is_loaded(self) -> bool:
        """Whether the target has been imported."""
        return object.__getattribute__(self, "_lazy_target") is not _UNRESOLVED

    def __getattr__(self, name: str) -> Any:
        return getattr(self._lazy_resolve(), name)

    def __setattr__(self, name: str, value: Any) -> None:
        setattr(self._lazy_resolve(), name, value)

    def __call__(self, *args: Any, **kwargs: Any) -> Any:
        return self._lazy_resolve()(*args, **kwargs)

    def __getitem__(self, key: Any) -> Any:
        return self._lazy_resolve()[key]

    def __contains__(self, key: Any) -> bool:
        return key in self._lazy_resolve()

    def __iter__(self):
        return iter(self._lazy_resolve())

    def __len__(self) -> int:
        return len(self._lazy_resolve())

    def __eq__(self, other: object) -> bool:
        return self._lazy_resolve() == resolve(other)

    def __hash__(self) -> int:
        return hash(self._lazy_resolve())

    def __repr__(self) -> str:
        if not self.is_loaded:
            module = object.__getattribute__(self, "_lazy_module")
            attribute = object.__getattribute__(self, "_lazy_attribute")
            target = module if attribute is None else f"{module}.{attribute}"
            return f"<lazy {target} (not loaded)>"
        return repr(self._lazy_resolve())

    def __str__(self) -> str:
        return str(self._lazy_resolve())


def lazy_import(module: str, attribute: str | None = None) -> LazyObject:
    """Bind `module` (or `module.attribute`) without importing it yet."""
    return LazyObject(module, attribute)


def resolve(value: Any) -> Any:
    """The object behind a lazy binding, or `value` itself when it is not lazy."""
    if type(value) is LazyObject:
        return value._lazy_resolve()
    return value
