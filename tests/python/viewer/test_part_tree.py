"""The part tree: colour swatches on layer rows, checkboxes that switch whole subtrees and show a
mixed state, layers in height order, show-only-this-layer, and search."""

from __future__ import annotations

import json

from . import scenes
from .conftest import click_element, close_to, colors, element_centre, screen

WG, M2, HEATER = "#ff6e6e", "#9ad0ff", "#ffb000"
RGB = {WG: (0xFF, 0x6E, 0x6E), M2: (0x9A, 0xD0, 0xFF), HEATER: (0xFF, 0xB0, 0x00)}


def by_layer(page, show):
    """Grouped by layer, listed lowest first: WG, M2, HEATER. Each layer has the top cell's own
    shape and a child placed once; the three layers side by side, 100 um apart."""
    layers = []
    for index, (name, zmin, height, color) in enumerate(
        [
            ("WG (1, 0)", 0.0, 0.22, WG),
            ("M2 (45, 0)", 3.0, 0.8, M2),
            ("HEATER (47, 0)", 1.1, 0.75, HEATER),
        ]
    ):
        base = f"/Layers/{name}"
        top = scenes.node(
            "top",
            base,
            [
                scenes.leaf(
                    "components", f"{base}/top", [index], zmin=zmin, height=height, color=color
                ),
                scenes.node(
                    "child",
                    f"{base}/top",
                    [
                        scenes.leaf(
                            "components",
                            f"{base}/top/child",
                            [index],
                            zmin=zmin,
                            height=height,
                            color=color,
                            matrices=[1, 0, 0, 0, 1, 50],
                        ),
                    ],
                ),
            ],
        )
        layers.append(scenes.node(name, "/Layers", [top]))
    polygons = [scenes.rectangle(100 * i, 0, 100 * i + 40, 40) for i in range(3)]
    show(scenes.message(scenes.node("Layers", "", layers), polygons))
    page.key("t")
    page.next_frame()


def row(name: str, nth: int = 0) -> str:
    return f"li[data-node='{name}']"


def node_index(page, name: str, nth: int = 0) -> int:
    return page.evaluate(
        f"[...tarnwick.viewer.scene.tree.names.entries()].filter(([, n]) => n === {json.dumps(name)})[{nth}][0]"
    )


def checkbox_state(page, node: int) -> str:
    return page.evaluate(
        f"(() => {{ const c = document.querySelector('input[data-node=\"{node}\"]');"
        " return c.indeterminate ? 'mixed' : c.checked ? 'on' : 'off'; })()"
    )


def layer_colours(page) -> list[tuple[int, int, int]]:
    """Colours at the centres of the top cell's shape and the child's, for each layer."""
    points = [screen(page, (100 * i + 20, y, 3.8)) for i in range(3) for y in (20, 70)]
    return colors(page, points)


def test_layer_rows_have_swatches_and_come_highest_first(page, show):
    by_layer(page, show)
    rows = page.evaluate(
        """[...document.querySelectorAll('#tw-tree .tw-row')].map(r => [
            r.querySelector('.tw-name').textContent,
            r.querySelector('.tw-swatch') ? getComputedStyle(r.querySelector('.tw-swatch')).backgroundColor : null])"""
    )
    named = [name for name, _ in rows]
    assert named[:2] == ["Layers", "M2 (45, 0)"]
    assert named.index("M2 (45, 0)") < named.index("HEATER (47, 0)") < named.index("WG (1, 0)")
    for name, swatch in rows:
        if name == "Layers":
            assert swatch is None, "the root spans several layers"
        else:
            assert swatch, f"row {name} has no swatch"
    assert dict(rows)["HEATER (47, 0)"] == "rgb(255, 176, 0)"


def test_checkboxes_switch_subtrees_and_show_a_mixed_state(page, show):
    by_layer(page, show)
    wg, wg_top = node_index(page, "WG (1, 0)"), node_index(page, "top", 0)
    child_components = page.evaluate(
        "tarnwick.viewer.scene.tree.ids.indexOf('/Layers/WG (1, 0)/top/child/components')"
    )
    click_element(page, f"li[data-node='{wg_top}'] > .tw-row .tw-twisty")  # already open: close
    click_element(page, f"li[data-node='{wg_top}'] > .tw-row .tw-twisty")  # and open again
    child = page.evaluate("tarnwick.viewer.scene.tree.ids.indexOf('/Layers/WG (1, 0)/top/child')")
    click_element(page, f"li[data-node='{child}'] > .tw-row .tw-twisty")
    click_element(page, f"input[data-node='{child_components}']")
    page.next_frame()
    assert [checkbox_state(page, n) for n in (child_components, child, wg_top, wg, 0)] == [
        "off",
        "off",
        "mixed",
        "mixed",
        "mixed",
    ]
    seen = layer_colours(page)
    assert close_to(seen[0], RGB[WG]) and not close_to(seen[1], RGB[WG]), seen
    # Unchecking a mixed parent shows its subtree; unchecking a fully shown one hides it all.
    click_element(page, f"input[data-node='{wg}']")
    assert checkbox_state(page, child_components) == "on" and checkbox_state(page, 0) == "on"
    click_element(page, f"input[data-node='{wg}']")
    page.next_frame()
    assert [checkbox_state(page, n) for n in (child_components, wg_top, wg, 0)] == [
        "off",
        "off",
        "off",
        "mixed",
    ]
    seen = layer_colours(page)
    assert not any(close_to(c, RGB[WG]) for c in seen[:2])
    assert close_to(seen[2], RGB[M2]) and close_to(seen[4], RGB[HEATER])
    click_element(page, "input[data-node='0']")
    assert all(
        close_to(c, RGB[color])
        for c, color in zip(layer_colours(page), [WG, WG, M2, M2, HEATER, HEATER])
    )


def test_show_only_this_layer(page, show):
    by_layer(page, show)
    heater = node_index(page, "HEATER (47, 0)")
    page.mouse("mouseMoved", *element_centre(page, f"li[data-node='{heater}'] > .tw-row .tw-name"))
    click_element(page, f"li[data-node='{heater}'] > .tw-row .tw-only")
    page.next_frame()
    seen = layer_colours(page)
    assert close_to(seen[4], RGB[HEATER]) and close_to(seen[5], RGB[HEATER])
    assert not any(close_to(c, RGB[WG]) or close_to(c, RGB[M2]) for c in seen[:4]), seen
    assert checkbox_state(page, heater) == "on" and checkbox_state(page, 0) == "mixed"
    # Again: everything comes back.
    page.mouse("mouseMoved", *element_centre(page, f"li[data-node='{heater}'] > .tw-row .tw-name"))
    click_element(page, f"li[data-node='{heater}'] > .tw-row .tw-only")
    assert checkbox_state(page, 0) == "on"


def test_search_lists_matching_rows_with_their_ancestors(page, show):
    by_layer(page, show)
    click_element(page, "#tw-search")
    for key in "CHI":
        page.key(key)
    rows = page.evaluate(
        "[...document.querySelectorAll('#tw-tree .tw-name')].map(e => e.textContent)"
    )
    assert rows.count("child") == 3 and rows.count("top") == 3 and "Layers" in rows
    assert "components" not in rows, "only the matches and their ancestors"
    note = page.evaluate("document.querySelector('.tw-tree-note').textContent")
    assert note == "3 matches"
    # Keys typed into the search box are not shortcuts, and Escape leaves it.
    assert page.evaluate("tarnwick.inspect().ortho") is True
    page.key("o")
    assert page.evaluate("tarnwick.inspect().ortho") is True
    page.key("Escape")
    page.evaluate(
        "(() => { const s = document.getElementById('tw-search'); s.value = ''; s.dispatchEvent(new Event('input')); })()"
    )
    assert page.evaluate("document.querySelectorAll('#tw-tree .tw-name').length") > 10
