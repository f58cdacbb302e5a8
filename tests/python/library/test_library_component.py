"""Components: geometry, references, arrays, ports, copies and GDS files."""

from __future__ import annotations

import os

import brenvik
import klayout.db as kdb
import pytest
import tesselink
from brenvik import Component, Port, import_gds
from brenvik.demo_pdk import DemoLayer as L
from brenvik.demo_pdk import demo_chip, pad_array, ring, straight
from tesselink.kcell import TKCell


def _box(c: Component, w: float, h: float, layer=L.WG) -> None:
    c.add_polygon([(0, 0), (w, 0), (w, h), (0, h)], layer)


def _leaf(name="leaf") -> Component:
    c = Component(name)
    _box(c, 2, 1)
    c.add_port("o1", center=(0, 0.5), orientation=180, width=1, layer=L.WG)
    c.add_port("o2", center=(2, 0.5), orientation=0, width=1, layer=L.WG)
    return c


class TestBasics:
    def test_base_is_a_tkcell_of_the_library_layout(self, fresh_kcl):
        c = Component("thing")
        assert isinstance(c.base, TKCell)
        assert c.layout is fresh_kcl
        assert c.kdb_cell.cell_index() == c.cell_index == c.base.cell_index
        assert c.name == "thing"
        assert Component.from_cell(c.kdb_cell) is c

    def test_names_are_made_unique(self, fresh_kcl):
        a, b = Component("dup"), Component("dup")
        assert a.name == "dup"
        assert b.name != "dup"
        b.name = "dup"
        assert b.name != a.name

    def test_add_polygon_uses_microns(self, fresh_kcl):
        c = Component()
        _box(c, 1.5, 0.25, L.M1)
        shapes = c.kdb_cell.shapes(fresh_kcl.find_layer(41, 0))
        assert shapes.size() == 1
        assert next(iter(shapes.each())).polygon.bbox() == kdb.Box(0, 0, 1500, 250)
        with pytest.raises(ValueError):
            c.add_polygon([(0, 0), (1, 1)], L.WG)

    def test_layers_given_as_pairs_work_too(self, fresh_kcl):
        c = Component()
        c.add_polygon([(0, 0), (1, 0), (1, 1)], (7, 3))
        assert fresh_kcl.find_layer(7, 3) is not None

    def test_labels_are_texts(self, fresh_kcl):
        c = Component()
        c.add_label("hello", (3, 4), L.TEXT)
        (shape,) = list(c.kdb_cell.shapes(fresh_kcl.find_layer(66, 0)).each())
        assert shape.is_text()
        assert shape.text.string == "hello"
        assert shape.text.trans.disp == kdb.Vector(3000, 4000)


class TestPorts:
    def test_ordered_and_unique(self, fresh_kcl):
        c = _leaf()
        assert [p.name for p in c.ports] == ["o1", "o2"]
        assert c.ports["o2"].center == (2.0, 0.5)
        assert c.ports[0].name == "o1"
        assert "o1" in c.ports and "o3" not in c.ports
        with pytest.raises(ValueError):
            c.add_port("o1", center=(1, 1))
        with pytest.raises(KeyError):
            c.ports["o3"]

    def test_port_fields_are_normalised(self):
        p = Port("p", (0.1 + 0.2, -0.0000004), -90, 0.5, L.WG)
        assert p.center == (0.3, 0.0)
        assert p.orientation == 270
        assert p.layer_tuple == (1, 0)
        with pytest.raises(ValueError):
            Port("p", (0, 0), 0, 0, L.WG)

    @pytest.mark.parametrize(
        ("rotation", "mirror", "center", "orientation", "up"),
        [
            (0, False, (12.0, 5.5), 0, ((11.0, 6.0), 90)),
            (90, False, (9.5, 7.0), 90, ((9.0, 6.0), 180)),
            (180, False, (8.0, 4.5), 180, ((9.0, 4.0), 270)),
            (270, False, (10.5, 3.0), 270, ((11.0, 4.0), 0)),
            (0, True, (12.0, 4.5), 0, ((11.0, 4.0), 270)),
            (90, True, (10.5, 7.0), 90, ((11.0, 6.0), 0)),
            (180, True, (8.0, 5.5), 180, ((9.0, 6.0), 90)),
        ],
    )
    def test_reference_ports_follow_the_placement(
        self, fresh_kcl, rotation, mirror, center, orientation, up
    ):
        leaf = _leaf()
        leaf.add_port("up", center=(1, 1), orientation=90, width=2, layer=L.WG)
        parent = Component("parent")
        ref = parent.add_ref(leaf, x=10, y=5, rotation=rotation, mirror=mirror)
        port = ref.ports["o2"]
        assert port.center == pytest.approx(center)
        assert port.orientation == orientation
        assert (ref.ports["up"].center, ref.ports["up"].orientation) == up
        # The geometry moved the same way: the ports sit on the edge of the placed box.
        box = parent.kdb_cell.dbbox()
        assert box.contains(kdb.DPoint(*port.center))
        assert box.contains(kdb.DPoint(*ref.ports["up"].center))

    def test_add_port_copies_a_port_under_a_new_name(self, fresh_kcl):
        parent = Component()
        ref = parent.add_ref(_leaf(), x=3)
        p = parent.add_port("in", port=ref.ports["o1"])
        assert p.name == "in" and p.center == (3.0, 0.5) and p.orientation == 180


class TestReferences:
    def test_add_ref_inserts_a_klayout_instance(self, fresh_kcl):
        leaf = _leaf()
        parent = Component("parent")
        ref = parent.add_ref(leaf, name="a", x=1, y=2, rotation=90, mirror=True)
        (inst,) = list(parent.kdb_cell.each_inst())
        assert inst.cell_index == leaf.cell_index
        assert inst.dcplx_trans.angle == 90 and inst.dcplx_trans.is_mirror()
        assert (ref.x, ref.y, ref.rotation, ref.mirror) == (1, 2, 90, True)
        assert ref.name == "a" and ref.component is leaf

    def test_reference_names(self, fresh_kcl):
        leaf = _leaf()
        parent = Component()
        first = parent.add_ref(leaf)
        second = parent.add_ref(leaf)
        assert first.name != second.name
        parent.add_ref(leaf, name="x")
        with pytest.raises(ValueError):
            parent.add_ref(leaf, name="x")

    def test_rotation_must_be_a_multiple_of_90(self, fresh_kcl):
        with pytest.raises(ValueError):
            Component().add_ref(_leaf(), rotation=45)

    def test_cycles_are_refused(self, fresh_kcl):
        a, b = Component("a"), Component("b")
        a.add_ref(b)
        with pytest.raises(ValueError):
            b.add_ref(a)
        with pytest.raises(ValueError):
            a.add_ref(a)

    def test_array_is_one_regular_klayout_array(self, fresh_kcl, flat_region_of):
        parent = Component()
        ref = parent.add_array(_leaf(), columns=3, rows=2, spacing=(5, 7), x=1, name="arr")
        (inst,) = list(parent.kdb_cell.each_inst())
        assert inst.is_regular_array()
        assert (inst.na, inst.nb) == (3, 2)
        assert inst.dcell_inst.a == kdb.DVector(5, 0)
        assert inst.dcell_inst.b == kdb.DVector(0, 7)
        assert (ref.columns, ref.rows, ref.spacing) == (3, 2, (5.0, 7.0))
        names = [p.name for p in ref.ports]
        assert len(names) == 12 and "o2_2_1" in names
        assert ref.ports["o2_2_1"].center == (1 + 2 + 10, 0.5 + 7)
        flat = flat_region_of(parent.kdb_cell, fresh_kcl.find_layer(1, 0))
        assert flat.count() == 6
        with pytest.raises(ValueError):
            parent.add_array(_leaf("other"), columns=0, rows=1)

    def test_component_from_another_layout_is_copied_once(self, fresh_kcl, flat_region_of):
        other = tesselink.KCLayout()
        foreign = Component("foreign", layout=other)
        _box(foreign, 1, 1)
        parent = Component("parent")
        r1 = parent.add_ref(foreign)
        r2 = parent.add_ref(foreign, x=5)
        assert r1.component is r2.component
        assert r1.component.layout is fresh_kcl
        assert other.cells() == 1
        region = flat_region_of(parent.kdb_cell, fresh_kcl.find_layer(1, 0))
        assert region.area() == 2 * 1_000_000


class TestCopy:
    def test_deep_copy_has_new_cells_and_same_tree(self, fresh_kcl, flat_regions):
        original = ring()
        before = {k: r.dup() for k, r in flat_regions(original.kdb_cell).items()}
        dup = original.copy()
        assert dup.cell_index != original.cell_index
        assert set(dup.hierarchy_cell_indices()).isdisjoint(original.hierarchy_cell_indices())
        assert len(dup.hierarchy_cell_indices()) == len(original.hierarchy_cell_indices())
        assert [r.name for r in dup.references] == [r.name for r in original.references]
        assert dup.ports.names() == original.ports.names()
        assert dup.settings == original.settings
        after = flat_regions(dup.kdb_cell)
        assert set(after) == set(before)
        for key, region in before.items():
            assert (after[key] ^ region).is_empty()
        # Changing the copy leaves the original alone.
        _box(dup, 100, 100, L.M2)
        assert (41, 0) not in flat_regions(original.kdb_cell)
        assert (45, 0) not in flat_regions(original.kdb_cell)

    def test_shared_children_stay_shared(self, fresh_kcl):
        leaf = _leaf()
        parent = Component()
        parent.add_ref(leaf)
        parent.add_ref(leaf, x=10)
        dup = parent.copy()
        children = {r.component.cell_index for r in dup.references}
        assert len(children) == 1 and leaf.cell_index not in children


def _instance_tree(cell: kdb.Cell) -> list:
    """Per instance: child cell name, the placements of all its elements, and the child's own
    tree, recursively and order-free (arrays compared by their elements, since a GDS file may
    store the same array with other vectors)."""
    entries = []
    for inst in cell.each_inst():
        dcia = inst.dcell_inst
        elements = sorted(str(t) for t in dcia.each_trans())
        entries.append((inst.cell.name, elements, _instance_tree(inst.cell)))
    return sorted(entries, key=repr)


def _gds_real(value: float) -> bytes:
    """8-byte GDS real (excess-64, base-16 exponent)."""
    exponent = 64
    while value >= 1:
        value /= 16
        exponent += 1
    while value < 1 / 16:
        value *= 16
        exponent -= 1
    return bytes([exponent]) + int(value * 2**56 + 0.5).to_bytes(7, "big")


def _record(kind: int, dtype: int, payload: bytes = b"") -> bytes:
    return (len(payload) + 4).to_bytes(2, "big") + bytes([kind, dtype]) + payload


def _text(value: str) -> bytes:
    raw = value.encode()
    return raw + b"\0" * (len(raw) % 2)


def _minimal_gds(cells: list[tuple[str, int]]) -> bytes:
    """A GDS file written by hand: one square of ``size`` dbu on 1/0 per cell, in the given
    order (so the file order is known without relying on a writer)."""
    zeros = b"\0" * 24
    out = _record(0x00, 0x02, (600).to_bytes(2, "big")) + _record(0x01, 0x02, zeros)
    out += _record(0x02, 0x06, _text("LIB")) + _record(
        0x03, 0x05, _gds_real(1e-3) + _gds_real(1e-9)
    )
    for name, size in cells:
        out += _record(0x05, 0x02, zeros) + _record(0x06, 0x06, _text(name))
        points = [(0, 0), (size, 0), (size, size), (0, size), (0, 0)]
        xy = b"".join(v.to_bytes(4, "big", signed=True) for p in points for v in p)
        out += _record(0x08, 0x00) + _record(0x0D, 0x02, (1).to_bytes(2, "big"))
        out += _record(0x0E, 0x02, (0).to_bytes(2, "big")) + _record(0x10, 0x03, xy)
        out += _record(0x11, 0x00) + _record(0x07, 0x00)
    return out + _record(0x04, 0x00)


class TestGds:
    def test_round_trip_keeps_polygons_per_layer(self, tmp_path, flat_regions):
        chip = demo_chip()
        for with_metadata in (True, False):
            path = chip.write_gds(tmp_path / f"chip_{with_metadata}.gds", with_metadata)
            layout = kdb.Layout()
            layout.read(str(path))
            (top,) = layout.top_cells()
            assert top.name == chip.name
            assert layout.dbu == pytest.approx(chip.layout.dbu)
            read, ours = flat_regions(top), flat_regions(chip.kdb_cell)
            assert set(read) == set(ours)
            for key, region in ours.items():
                assert (read[key] ^ region).is_empty(), key
                assert read[key].count() == region.count(), key

    def test_metadata_only_with_metadata(self, tmp_path):
        chip = pad_array(columns=3)
        with_meta = chip.write_gds(tmp_path / "meta.gds", with_metadata=True).read_bytes()
        without = chip.write_gds(tmp_path / "plain.gds", with_metadata=False).read_bytes()
        assert with_meta != without
        assert b"pitch" in with_meta and b"pitch" not in without
        assert b"brenvik" not in without
        assert b"CONTEXT" not in without

        plain = kdb.Layout()
        plain.read(str(tmp_path / "plain.gds"))
        assert all(
            plain.cell(c.cell_index()).meta_info_value("brenvik") is None for c in plain.each_cell()
        )
        meta = kdb.Layout()
        meta.read(str(tmp_path / "meta.gds"))
        assert "columns" in meta.cell(chip.name).meta_info_value("brenvik")
        pad_name = chip.references[0].component.name
        assert '"size"' in meta.cell(pad_name).meta_info_value("brenvik")  # children's too

    def test_writing_twice_gives_the_same_bytes(self, tmp_path):
        chip = ring()
        a = chip.write_gds(tmp_path / "a.gds").read_bytes()
        b = chip.write_gds(tmp_path / "b.gds").read_bytes()
        assert a == b

    def test_only_the_hierarchy_is_written_and_no_other_file(self, tmp_path, fresh_kcl):
        unrelated = Component("unrelated")
        _box(unrelated, 1, 1)
        part = straight(length=3)
        path = part.write_gds(tmp_path / "part.gds")
        assert sorted(os.listdir(tmp_path)) == ["part.gds"]
        layout = kdb.Layout()
        layout.read(str(path))
        assert [c.name for c in layout.each_cell()] == [part.name]

    def test_no_parent_directories_are_created(self, tmp_path):
        with pytest.raises(FileNotFoundError):
            straight().write_gds(tmp_path / "missing" / "x.gds")
        assert not (tmp_path / "missing").exists()

    def test_import_keeps_hierarchy_and_restores_metadata(self, tmp_path, flat_regions):
        chip = demo_chip()
        path = chip.write_gds(tmp_path / "chip.gds")
        imported = import_gds(path)
        assert imported.name == chip.name
        assert imported.layout is not chip.layout
        assert _instance_tree(imported.kdb_cell) == _instance_tree(chip.kdb_cell)
        assert len(imported.hierarchy_cell_indices()) == len(chip.hierarchy_cell_indices())
        assert imported.settings == {"block_margin": 50.0}
        assert imported.ports.names() == chip.ports.names()
        assert imported.ports["q1_o1"] == Port.from_dict(chip.ports["q1_o1"].to_dict())
        assert sorted(r.name for r in imported.references) == sorted(
            r.name for r in chip.references
        )
        for key, region in flat_regions(chip.kdb_cell).items():
            assert (flat_regions(imported.kdb_cell)[key] ^ region).is_empty()

    def test_import_without_metadata_names_instances(self, tmp_path):
        chip = pad_array(columns=2)
        imported = import_gds(chip.write_gds(tmp_path / "p.gds", with_metadata=False))
        assert imported.settings == {}
        assert len(imported.ports) == 0
        (ref,) = imported.references
        assert ref.component.name == chip.references[0].component.name
        assert ref.is_array and ref.columns * ref.rows == 2

    def test_import_takes_the_first_top_cell_of_the_file(self, tmp_path):
        path = tmp_path / "two.gds"
        path.write_bytes(_minimal_gds([("zeta", 5), ("alpha", 10)]))
        c = import_gds(path)
        assert c.name == "zeta"
        assert c.bbox() == kdb.DBox(0, 0, 0.005, 0.005)
        with pytest.raises(FileNotFoundError):
            import_gds(tmp_path / "none.gds")

    def test_imported_component_can_be_placed_in_the_library_layout(self, tmp_path):
        part = ring()
        imported = import_gds(part.write_gds(tmp_path / "r.gds"))
        host = Component()
        ref = host.add_ref(imported, x=100)
        assert ref.component.layout is host.layout
        assert ref.ports["o1"].center == (part.ports["o1"].x + 100, part.ports["o1"].y)


def test_version_is_a_settable_text(monkeypatch):
    assert isinstance(brenvik.__version__, str)
    assert len(brenvik.__version__.split(".")) == 3
    monkeypatch.setattr(brenvik, "__version__", "1.2.3")
    assert brenvik.__version__ == "1.2.3"
