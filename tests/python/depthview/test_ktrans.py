"""KTrans: map form, matrix form and composition of placements."""

from __future__ import annotations

import math
import random

import pytest
from klayout import db

from tarnwick.core.depthview import KTrans


def test_map_and_matrix_forms():
    k = KTrans(db.Trans(0, False, 100, 200))
    assert k.to_dict() == {"mirror": False, "angle": 0, "displacement": [100.0, 200.0]}
    assert list(k.to_dict()) == ["mirror", "angle", "displacement"]
    matrix = k.trans_matrix()
    assert matrix == ((1.0, -0.0, 100.0), (0.0, 1.0, 200.0))
    assert math.copysign(1.0, matrix[0][1]) == -1.0  # a negative zero

    ((c, b, x), (s, e, y)) = KTrans(db.Trans(1, False, 5, 6)).trans_matrix()
    assert (b, s, x, y) == (-1.0, 1.0, 5.0, 6.0)
    assert c == e == math.cos(math.pi / 2) and c != 0.0

    assert KTrans(db.Trans(0, True, 7, 8)).trans_matrix() == ((1.0, 0.0, 7.0), (0.0, -1.0, 8.0))
    ((a, _, _), (s, _, _)) = KTrans(db.Trans(2, False, 0, 0)).trans_matrix()
    assert a == -1.0 and s == math.sin(math.pi)
    assert KTrans(db.Trans(3, True, 1, 2)).to_dict() == {
        "mirror": True,
        "angle": 270,
        "displacement": [1.0, 2.0],
    }


def test_trans_matrix_reads_the_map_form_of_the_object():
    class Shifted(KTrans):
        def to_dict(self):
            return {"mirror": False, "angle": 90, "displacement": [1.0, 2.0, 3.0]}

    with pytest.raises(ValueError, match="too many values to unpack"):
        Shifted(db.Trans()).trans_matrix()


def test_the_wrapped_transformation_is_kept():
    t = db.Trans(1, True, 3, 4)
    k = KTrans(t)
    assert k.trans is t
    with pytest.raises(TypeError, match="KTrans wraps a KLayout Trans"):
        KTrans("anything")


def test_multiply_with_one_side_absent():
    a, b = KTrans(db.Trans(1, False, 0, 0)), KTrans(db.Trans(2, False, 0, 0))
    given = [a, b]
    assert KTrans.multiply(None, given) is given
    assert KTrans.multiply(given, None) is given
    single = KTrans.multiply(a, None)
    assert single == [a] and single[0] is a
    assert KTrans.multiply(None, b)[0] is b
    with pytest.raises(ValueError, match="^Either parent_trans or trans must be provided$"):
        KTrans.multiply(None, None)
    with pytest.raises(TypeError):
        KTrans.multiply(None, (a, b))
    assert KTrans.multiply([], a) == [] and KTrans.multiply(a, []) == []


def test_multiply_order_is_child_outer_parent_inner():
    parents = [KTrans(db.Trans(0, False, 1, 0)), KTrans(db.Trans(1, True, 0, 10))]
    children = [
        KTrans(db.Trans(0, False, 100, 0)),
        KTrans(db.Trans(2, False, 0, 100)),
        KTrans(db.Trans(3, True, 7, 7)),
    ]
    result = KTrans.multiply(parents, children)
    expected = [p.trans * t.trans for t in children for p in parents]
    assert [k.trans for k in result] == expected
    # A tuple is accepted when both sides are given.
    assert len(KTrans.multiply(tuple(parents), tuple(children))) == 6


def test_products_of_native_placements_equal_klayout_products():
    """Placements made by the parser compose in C++; the result must be KLayout's product."""
    from tarnwick.core.depthview import ParseGDS

    rng = random.Random(7)
    ly = db.Layout()
    top = ly.create_cell("top")
    child = ly.create_cell("child")
    placements = [
        db.Trans(rng.randrange(4), rng.random() < 0.5, rng.randint(-99, 99), rng.randint(-99, 99))
        for _ in range(16)
    ]
    for t in placements:
        top.insert(db.CellInstArray(child.cell_index(), t))
    refs = ParseGDS(ly, {}).export_cells(combine=False).cells[0].references
    native = [r.trans[0] for r in refs]
    for p_native, p in zip(native, placements):
        for t_native, t in zip(native, placements):
            (k,) = KTrans.multiply(p_native, t_native)
            assert k.to_dict() == KTrans(p * t).to_dict()
            assert k.trans == p * t
