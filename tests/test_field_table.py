"""The fields are described once, by the decoder's own tables: the README's field table, the command's
--help and the per-line module's stubs must agree with them, name for name and type for type."""

import ast
import pathlib
import re

import pyarrow as pa

import kav_aprs
from kav_aprs.cli import build_parser

ROOT = pathlib.Path(__file__).resolve().parent.parent
README = (ROOT / "README.md").read_text(encoding="utf-8")
STUBS = ast.parse((ROOT / "stubs" / "kav_aprs_parser_pyo3-stubs" / "__init__.pyi").read_text(encoding="utf-8"))
SCHEMA = pa.table(kav_aprs.decode(b"").beacons).schema
ERROR_SCHEMA = pa.table(kav_aprs.decode(b"").errors).schema


def readme_rows():
    """(column, attribute path, Python type, Arrow type) of each row of the README's field table."""
    rows = []
    for line in README.splitlines():
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if len(cells) == 4 and cells[0].startswith("`") and re.match(r"`[\w.]+` \(`[\w.]+`\)|none", cells[1]):
            attribute = re.match(r"`([\w.]+)` \(`([\w.]+)`\)", cells[1])
            rows.append((cells[0].strip("`"), attribute and attribute.group(1), attribute and attribute.group(2),
                         cells[2].strip("`")))
    return rows


def arrow_name(data_type):
    if pa.types.is_dictionary(data_type):
        return f"dictionary<{data_type.index_type}, {data_type.value_type}>"
    return str(data_type)


def stub_annotations():
    """Each stub class's annotated attributes: {class: {attribute: annotation text}}."""
    return {node.name: {item.target.id: ast.unparse(item.annotation) for item in node.body
                        if isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name)}
            for node in STUBS.body if isinstance(node, ast.ClassDef)}


def test_the_readme_table_names_every_column_with_its_arrow_type_in_order():
    rows = readme_rows()
    assert [row[0] for row in rows] == SCHEMA.names
    assert [row[3] for row in rows] == [arrow_name(field.type) for field in SCHEMA]


def test_the_readme_table_gives_each_column_the_per_line_attribute_of_the_stubs():
    classes = stub_annotations()
    for column, path, python_type, _ in readme_rows():
        if path is None:
            continue
        owner = "AircraftBeacon"
        for name in path.split(".")[:-1]:
            owner = classes[owner][name]
        assert classes[owner][path.split(".")[-1]] == python_type, column


def test_the_readme_names_the_error_columns():
    paragraph = re.search(r"A line that fails is a row of (.*?)\.\n\n", README, flags=re.DOTALL).group(1)
    assert re.findall(r"`(\w+)`", paragraph) == ERROR_SCHEMA.names


def test_the_command_help_lists_every_record_field_in_order():
    help_text = build_parser()._subparsers._group_actions[0].choices["decode"].format_help()
    listed = re.search(r"Every record holds (.*?) \(the 24-bit", " ".join(help_text.split())).group(1)
    names = [name.split(" (")[0] for name in re.split(r", (?:and )?| and ", listed)]
    assert names == ["source", *SCHEMA.names]
