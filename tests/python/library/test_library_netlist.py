"""Netlists read from placed components."""

from __future__ import annotations

import pytest
from brenvik import Component
from brenvik.demo_pdk import DemoLayer as L
from brenvik.demo_pdk import demo_chip, loopback, mzi, straight, via, via_array
from ostrand import flatten_dict


def _chain(n: int, gap: float = 0.0) -> Component:
    """``n`` straights of length 10 in a row; ``gap`` > 0 leaves them unconnected."""
    c = Component("chain")
    refs = [c.add_ref(straight(), name=f"s{k}", x=k * (10 + gap)) for k in range(n)]
    c.add_port("in", port=refs[0].ports["o1"])
    c.add_port("out", port=refs[-1].ports["o2"])
    return c


class TestSections:
    def test_connected_chain(self, fresh_kcl):
        netlist = _chain(3).get_netlist()
        assert list(netlist) == [
            "name",
            "instances",
            "connections",
            "ports",
            "placements",
            "routes",
            "nets",
        ]
        assert netlist["name"] == "chain"
        assert netlist["instances"]["s1"] == {
            "component": "straight",
            "settings": {"length": 10.0, "width": 0.5, "slab_width": 0.0},
        }
        assert netlist["connections"] == {"s0,o2": "s1,o1", "s1,o2": "s2,o1"}
        assert netlist["ports"] == {"in": "s0,o1", "out": "s2,o2"}
        assert netlist["placements"]["s2"] == {
            "x": 20.0,
            "y": 0.0,
            "rotation": 0.0,
            "mirror": False,
        }
        assert netlist["routes"] == {}
        assert netlist["nets"] == [{"p1": "s0,o2", "p2": "s1,o1"}, {"p1": "s1,o2", "p2": "s2,o1"}]
        assert "warnings" not in netlist

    def test_rotated_and_mirrored_instances_connect(self, fresh_kcl):
        c = Component()
        c.add_ref(straight(), name="a")
        # Rotated 180 degrees about its origin and moved: its o1 lands on a's o2.
        c.add_ref(straight(), name="b", x=20, rotation=180)
        c.add_ref(straight(), name="m", x=20, y=0, mirror=True)
        netlist = c.get_netlist(on_dangling_port="ignore", on_multi_connect="ignore")
        assert netlist["placements"]["b"]["rotation"] == 180
        assert netlist["placements"]["m"]["mirror"] is True
        # b's o2 lands on a's o2 at x=10; b's o1 and m's o1 meet at x=20.
        assert netlist["connections"] == {"a,o2": "b,o2", "b,o1": "m,o1"}
        assert "warnings" not in netlist

    def test_settings_are_plain_data(self, fresh_kcl):
        import json

        netlist = demo_chip().get_netlist(recursive=True)
        json.dumps(netlist)  # components, enums and tuples were converted

    def test_schematic_routes_count_as_connections(self):
        netlist = mzi().get_netlist()
        assert netlist["routes"]["arms"]["links"] == {
            "top_arm,o2": "mmi_out,o3",
            "bot_arm,o2": "mmi_out,o2",
        }
        assert netlist["ports"] == {"o1": "mmi_in,o1", "o2": "mmi_out,o1"}
        assert "warnings" not in netlist


class TestWarnings:
    def test_dangling_ports_are_reported_nested(self, fresh_kcl):
        netlist = _chain(2, gap=1.0).get_netlist()
        assert netlist["connections"] == {}
        unconnected = netlist["warnings"]["optical"]["unconnected_ports"]
        assert unconnected == {"s0,o2": [10.0, 0.0], "s1,o1": [11.0, 0.0]}
        flat = flatten_dict(netlist["warnings"], sep=" ")
        assert flat["optical unconnected_ports s0,o2"] == [10.0, 0.0]

    def test_ignore_suppresses_only_its_kind(self, fresh_kcl):
        c = _chain(2, gap=1.0)
        c.add_ref(straight(), name="s2", x=10)  # s0,o2 / s2,o1 / ... meet at x=10
        c.add_ref(straight(), name="s3", x=10)
        warn = c.get_netlist()
        assert set(warn["warnings"]["optical"]) == {"multiple_connections", "unconnected_ports"}
        assert warn["warnings"]["optical"]["multiple_connections"] == {
            "10,0": ["s0,o2", "s2,o1", "s3,o1"]
        }
        no_multi = c.get_netlist(on_multi_connect="ignore")
        assert set(no_multi["warnings"]["optical"]) == {"unconnected_ports"}
        no_dangling = c.get_netlist(on_dangling_port="ignore")
        assert set(no_dangling["warnings"]["optical"]) == {"multiple_connections"}
        quiet = c.get_netlist(on_multi_connect="ignore", on_dangling_port="ignore")
        assert "warnings" not in quiet
        # Three ports at one point form no connection.
        assert not any("s0,o2" in (k, v) for k, v in quiet["connections"].items())

    def test_port_types_are_separate(self, fresh_kcl):
        netlist = loopback().get_netlist(on_dangling_port="warn")
        assert netlist["ports"] == {"fiber_in": "gc_in,fiber", "fiber_out": "gc_out,fiber"}
        assert "warnings" not in netlist
        c = Component()
        c.add_ref(loopback(), name="lb")
        types = c.get_netlist()["warnings"]
        assert set(types) == {"fiber"}
        assert set(types["fiber"]["unconnected_ports"]) == {"lb,fiber_in", "lb,fiber_out"}

    def test_error_option_raises(self, fresh_kcl):
        with pytest.raises(ValueError, match="unconnected"):
            _chain(2, gap=1.0).get_netlist(on_dangling_port="error")
        with pytest.raises(ValueError):
            _chain(2).get_netlist(on_multi_connect="sometimes")


class TestRecursiveAndCalls:
    def test_recursive_maps_every_distinct_cell(self):
        chip = demo_chip()
        nets = chip.get_netlist(recursive=True)
        names = {chip.layout.cell(i).name for i in chip.hierarchy_cell_indices()}
        assert set(nets) == names
        assert nets[chip.name]["instances"].keys() >= {"q1", "q2", "q3", "q4"}
        assert nets[via().name]["instances"] == {}
        assert set(nets[via_array().name]["instances"]) == {"vias"}
        assert nets[mzi().name]["connections"] == mzi().get_netlist()["connections"]
        assert all(n["name"] == name for name, n in nets.items())

    def test_computing_a_netlist_keeps_nothing_on_the_component(self, fresh_kcl):
        c = _chain(2)
        before = {key: repr(value) for key, value in vars(c).items()}
        for recursive in (False, True, False):
            c.get_netlist(recursive=recursive)
        assert {key: repr(value) for key, value in vars(c).items()} == before

    def test_array_instances_expose_every_element(self, fresh_kcl):
        c = Component()
        c.add_array(straight(), columns=3, rows=1, spacing=(10, 0), name="row")
        netlist = c.get_netlist()
        assert netlist["instances"]["row"]["array"] == {
            "columns": 3,
            "rows": 1,
            "spacing": [10.0, 0.0],
        }
        # Neighbouring elements touch, but an instance does not connect to itself.
        unconnected = netlist["warnings"]["optical"]["unconnected_ports"]
        assert "row,o2_0_0" in unconnected and "row,o1_1_0" in unconnected


def test_electrical_ports_layer_is_kept(fresh_kcl):
    c = Component()
    c.add_port("e1", center=(0, 0), orientation=90, width=10, layer=L.M2, port_type="electrical")
    assert c.ports["e1"].port_type == "electrical"
    assert c.ports["e1"].to_dict()["layer"] == [45, 0]
