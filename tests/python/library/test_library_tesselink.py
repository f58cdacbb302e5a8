"""tesselink: library layout, cell wrapper, layer enum."""

from __future__ import annotations

import klayout.db as kdb
import pytest
import tesselink
from tesselink import KCLayout, LayerEnum
from tesselink.kcell import TKCell


class Layers(LayerEnum):
    WG = (1, 0)
    M1 = (41, 0)
    PIN = (1, 10)


class TestKCLayout:
    def test_is_a_klayout_layout_with_nm_dbu(self):
        layout = KCLayout()
        assert isinstance(layout, kdb.Layout)
        assert layout.dbu == pytest.approx(0.001)

    def test_reset_gives_a_fresh_default_layout(self, fresh_kcl):
        assert tesselink.kcl is fresh_kcl
        assert tesselink.get_kcl() is fresh_kcl
        TKCell.create(fresh_kcl, "a")
        newer = tesselink.reset_kcl()
        assert newer is not fresh_kcl
        assert tesselink.kcl is newer
        assert newer.cells() == 0
        assert fresh_kcl.cells() == 1  # the old layout is left alone

    def test_cells_keep_their_python_layout(self):
        layout = KCLayout()
        cell = layout.create_cell("x")
        assert cell.layout() is layout


class TestTKCell:
    def test_wraps_a_cell(self):
        layout = KCLayout()
        tk = TKCell.create(layout, "top")
        assert isinstance(tk.kdb_cell, kdb.Cell)
        assert tk.layout is layout
        assert tk.name == "top"
        assert tk.cell_index == tk.kdb_cell.cell_index()
        tk.name = "renamed"
        assert layout.cell("renamed").cell_index() == tk.cell_index

    def test_equality_by_layout_and_index(self):
        layout = KCLayout()
        cell = layout.create_cell("c")
        assert TKCell(cell) == TKCell(cell)
        assert len({TKCell(cell), TKCell(cell)}) == 1
        assert TKCell(cell) != TKCell(layout.create_cell("d"))

    def test_rejects_non_cells(self):
        with pytest.raises(TypeError):
            TKCell("not a cell")


class TestLayerEnum:
    def test_members_have_layer_datatype_and_name(self):
        assert (Layers.WG.layer, Layers.WG.datatype, Layers.WG.name) == (1, 0, "WG")
        assert Layers.PIN.tuple == (1, 10)
        assert Layers.from_tuple(41, 0) is Layers.M1
        with pytest.raises(KeyError):
            Layers.from_tuple(99, 0)

    def test_index_in_a_layout(self):
        layout = KCLayout()
        index = Layers.M1.index(layout)
        info = layout.get_info(index)
        assert (info.layer, info.datatype) == (41, 0)
        assert Layers.M1.index(layout) == index  # found, not created again
        assert layout.layer(41, 0) == index
        assert Layers.WG.index(layout) != index

    def test_invalid_values_are_rejected(self):
        with pytest.raises(TypeError):

            class Bad(LayerEnum):
                X = ("1", 0)

        with pytest.raises(ValueError):

            class Bad2(LayerEnum):
                X = (70000, 0)
