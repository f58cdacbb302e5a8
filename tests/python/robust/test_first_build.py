"""The first batch on a fresh factory database behaves like every later one: schematic cells
get their schema files and the self-reference check, and the stored records keep their source."""

from __future__ import annotations

from tarnwick import settings
from tarnwick.core import build, database


def test_first_batch_on_a_fresh_database(tmp_path):
    settings.get_log_dir().mkdir(parents=True)
    for batch in (1, 2):
        build.build_by_names("mzi", "self_ref")
        records = database.get_factories_by_name("mzi", "self_ref")
        assert (settings.get_build_dir() / "schemas" / "mzi.json").is_file(), batch
        assert records["mzi"].status == "SUCCESS"
        assert records["self_ref"].status == "ERROR"
        assert records["self_ref"].absolute_source().name == "self_ref.pic.yml", batch
        log = (settings.get_log_dir() / "self_ref.log").read_text().splitlines()
        assert log[3].startswith("SelfReferenceError: "), (batch, log[3])
        (settings.get_build_dir() / "schemas" / "mzi.json").unlink()
