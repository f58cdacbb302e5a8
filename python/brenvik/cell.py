"""The ``@cell`` decorator: cached, named components made by cell functions."""

from __future__ import annotations

import functools
import hashlib
import inspect
from collections.abc import Callable, Mapping
from typing import Any, TypeVar

import tesselink

from brenvik.component import Component, unique_cell_name
from brenvik.serialize import name_fragment, to_json

F = TypeVar("F", bound=Callable[..., Component])

#: Longest cell name made from parameters before it is shortened with a hash.
MAX_NAME_LENGTH = 80

# (cell function, frozen parameters, id(layout)) -> component
_CACHE: dict[tuple[Any, Any, int], Component] = {}


def clear_cache() -> None:
    """Forget every cached component (the next call of a cell function builds anew)."""
    _CACHE.clear()


def cache_size() -> int:
    """Number of cached components."""
    return len(_CACHE)


def _freeze(value: Any) -> Any:
    """A hashable stand-in for ``value`` that is equal for equal parameter values."""
    if isinstance(value, Mapping):
        return ("dict", tuple((str(k), _freeze(v)) for k, v in sorted(value.items(), key=str)))
    if isinstance(value, list | tuple):
        return (type(value).__name__, tuple(_freeze(v) for v in value))
    if isinstance(value, set | frozenset):
        return ("set", frozenset(_freeze(v) for v in value))
    try:
        hash(value)
    except TypeError:
        return ("repr", type(value).__name__, repr(value))
    return value


def _same(a: Any, b: Any) -> bool:
    if a is b:
        return True
    numbers = (int, float)
    plain = not isinstance(a, bool) and not isinstance(b, bool)
    if plain and isinstance(a, numbers) and isinstance(b, numbers):
        return a == b
    try:
        return bool(a == b) and type(a) is type(b)
    except (TypeError, ValueError):  # e.g. arrays whose == is element-wise
        return False


def _bind(sig: inspect.Signature, args: tuple, kwargs: dict) -> dict[str, Any]:
    """All parameters of one call (defaults filled in, ``**kwargs`` spread out)."""
    bound = sig.bind(*args, **kwargs)
    bound.apply_defaults()
    params: dict[str, Any] = {}
    for name, value in bound.arguments.items():
        kind = sig.parameters[name].kind
        if kind is inspect.Parameter.VAR_KEYWORD:
            params.update(value)
        elif kind is inspect.Parameter.VAR_POSITIONAL:
            if value:
                params[name] = value
        else:
            params[name] = value
    return params


def cell_name(func_name: str, sig: inspect.Signature, params: dict[str, Any]) -> str:
    """``<function>`` plus ``_<param><value>`` for every parameter that differs from its
    default, e.g. ``straight_length20``; a short hash replaces an over-long tail."""
    parts = []
    for key, value in params.items():
        param = sig.parameters.get(key)
        has_default = param is not None and param.default is not inspect.Parameter.empty
        if has_default and _same(param.default, value):
            continue
        parts.append(f"{key}{name_fragment(value)}")
    name = "_".join([func_name, *parts])
    if len(name) > MAX_NAME_LENGTH:
        name = f"{func_name}_{_digest(func_name, params)}"
    return name


def _digest(func_name: str, params: dict[str, Any]) -> str:
    return hashlib.sha1(f"{func_name}:{to_json(params)}".encode()).hexdigest()[:8]


def _claim_name(component: Component, name: str, func_name: str, params: dict[str, Any]) -> str:
    """The name ``component`` gets: ``name`` when free; when a component that is no longer
    cached (left over from before :func:`clear_cache`) holds it, that one is renamed to
    ``name$N`` so the new build keeps the plain name; otherwise ``name`` plus a parameter
    hash, so different parameter sets that render alike still get different names."""
    layout = component.layout
    other = layout.cell(name)
    if other is None or other.cell_index() == component.cell_index:
        return name
    owner = getattr(layout, "registry", {}).get(other.cell_index())
    if owner is not None and not any(cached is owner for cached in _CACHE.values()):
        owner.base.name = unique_cell_name(layout, name)
        return name
    return f"{name}_{_digest(func_name, params)}"


def cell(func: F | None = None) -> F:
    """Decorator for functions that build and return a :class:`Component`.

    The wrapped function keeps its name, module, docstring, signature and source location
    (``functools.wraps``). Calls with equal parameters (defaults included) return the same
    cached component of the current library layout. A freshly built component is named from
    the function name and the parameters that differ from their defaults, and its
    ``settings`` hold every parameter of the call.
    """
    if func is None:
        return cell  # type: ignore[return-value]
    if not callable(func):
        raise TypeError(f"@cell decorates a function, got {func!r}")
    sig = inspect.signature(func)

    @functools.wraps(func)
    def wrapper(*args: Any, **kwargs: Any) -> Component:
        params = _bind(sig, args, kwargs)
        layout = tesselink.get_kcl()
        key = (func, _freeze(params), id(layout))
        hit = _CACHE.get(key)
        if hit is not None and hit.layout is layout:
            return hit
        component = func(*args, **kwargs)
        if not isinstance(component, Component):
            raise TypeError(
                f"cell function {func.__name__} returned {type(component).__name__}, "
                "not a Component"
            )
        if component.function_name is None:
            name = cell_name(func.__name__, sig, params)
            name = _claim_name(component, name, func.__name__, params)
            component.name = name
            component.settings = dict(params)
            component.function_name = func.__name__
        _CACHE[key] = component
        return component

    wrapper.is_cell = True  # type: ignore[attr-defined]
    return wrapper  # type: ignore[return-value]
