"""read_beacons: partitions that together hold exactly the rows of one single-process read."""

import ast
import gzip
import inspect
import io
import os
import pathlib
import re

import pytest

dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")
duckdb = pytest.importorskip("duckdb")
import fsspec  # noqa: E402
import pyarrow as pa  # noqa: E402

import kav_aprs  # noqa: E402
import kav_aprs.dask as reader  # noqa: E402

CORPUS = pathlib.Path(__file__).resolve().parent.parent / "bench" / "corpus"
VALID = (CORPUS / "valid.txt").read_bytes().splitlines()[:30]
BAD = (CORPUS / "bad.txt").read_bytes().splitlines()[:6]
FIRST = len(VALID[0])
WAIT = 120  # seconds: the longest any one cluster call may take


def beacon_lines(end, count=24, final=True):
    """Valid and bad lines with a comment and a blank line among them, each closed by end (a cycle of ends)."""
    lines = []
    for i in range(count):
        lines.append(VALID[i % len(VALID)] if i % 5 != 2 else BAD[i % len(BAD)])
        if i == 6:
            lines.append(b"# server keepalive")
        if i == 9:
            lines.append(b"")
    ends = [end] if isinstance(end, bytes) else end
    text = b"".join(line + ends[i % len(ends)] for i, line in enumerate(lines))
    return text if final else text[: -len(ends[(len(lines) - 1) % len(ends)])]


LF, CRLF, CR = beacon_lines(b"\n"), beacon_lines(b"\r\n"), beacon_lines(b"\r")
MIXED = beacon_lines([b"\n", b"\r\n", b"\r"])

# (id, files as (name, content, compress), blocksize); FIRST is the length of the first line without its end.
CASES = [
    ("cut-inside-lines", [("a.txt", LF, False)], FIRST // 2),
    ("cut-just-before-lf", [("a.txt", LF, False)], FIRST),
    ("cut-just-after-lf", [("a.txt", LF, False)], FIRST + 1),
    ("cut-between-cr-and-lf", [("a.txt", CRLF, False)], FIRST + 1),
    ("cut-just-after-crlf", [("a.txt", CRLF, False)], FIRST + 2),
    ("cut-after-lone-cr", [("a.txt", CR, False)], FIRST + 1),
    ("mixed-line-ends", [("a.txt", MIXED, False)], 97),
    ("no-final-line-end", [("a.txt", beacon_lines(b"\n", final=False), False)], 150),
    ("no-final-line-end-crlf", [("a.txt", beacon_lines(b"\r\n", final=False), False)], FIRST + 1),
    ("empty-file", [("a.txt", b"", False)], "64MiB"),
    ("file-smaller-than-block", [("a.txt", MIXED, False)], "64MiB"),
    ("block-smaller-than-line", [("a.txt", beacon_lines([b"\n", b"\r\n", b"\r"], count=6), False)], 40),
    ("many-files-with-gzip", [("a.txt", CRLF, False), ("b.txt", LF, True), ("c.txt", b"", False),
                              ("d.txt", MIXED, False), ("e.txt", CR, True)], 300),
]


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address=None,
        timeout=WAIT,
    ) as cluster, distributed.Client(cluster, timeout=WAIT) as client:
        yield client


def write_files(directory, files):
    paths = []
    for name, content, compress in files:
        path = directory / name
        path.write_bytes(gzip.compress(content) if compress else content)
        paths.append(path)
    return paths


def single_process_rows(paths, errors):
    rows = []
    for path in paths:
        for decoded in kav_aprs.iter_decoded(path):
            table = pa.record_batch(decoded.errors if errors else decoded.beacons)
            rows.extend(dict(row, source=str(path)) for row in table.to_pylist())
    return rows


def computed(client, frame):
    return client.compute(frame).result(timeout=WAIT)


@pytest.mark.parametrize("files, blocksize", [case[1:] for case in CASES], ids=[case[0] for case in CASES])
@pytest.mark.parametrize("errors", [False, True], ids=["beacons", "errors"])
def test_partitions_hold_the_rows_of_one_sequential_read(client, tmp_path, files, blocksize, errors):
    paths = write_files(tmp_path, files)
    urlpath = str(tmp_path / "*.txt") if len(paths) > 1 else str(paths[0])
    frame = computed(client, reader.read_beacons(urlpath, blocksize=blocksize, errors=errors))
    expected = single_process_rows(paths, errors)
    assert pa.Table.from_pandas(frame, preserve_index=False).to_pylist() == expected
    if any(content for _, content, _ in files):
        assert expected, "a case with lines but no rows would check nothing"


def test_meta_is_what_the_partitions_hold(client, tmp_path):
    paths = write_files(tmp_path, CASES[-1][1])
    for errors in (False, True):
        lazy = reader.read_beacons([str(path) for path in paths], blocksize=300, errors=errors)
        frame = computed(client, lazy)
        assert list(lazy.columns) == list(frame.columns)
        for column in frame.columns:
            wanted, got = lazy.dtypes[column], frame[column].dtype
            assert repr(wanted) == repr(got), column  # repr: unordered categoricals compare equal in any order
        assert lazy.aircraft_type.cat.known if not errors else lazy.error_kind.cat.known


@pytest.mark.parametrize("errors", [False, True], ids=["beacons", "errors"])
def test_a_range_without_rows_or_batches_keeps_the_types(tmp_path, errors):
    # A decoded range travels between workers as an Arrow table, and one without rows may arrive without
    # batches, so without the dictionaries of its enumerations.
    (tmp_path / "a.txt").write_bytes(b"")
    meta = reader.read_beacons(str(tmp_path / "a.txt"), errors=errors)._meta
    empty = pa.record_batch(kav_aprs.decode(b"").errors if errors else kav_aprs.decode(b"").beacons)
    for table in (pa.Table.from_batches([empty]), pa.Table.from_batches([], schema=empty.schema)):
        frame = reader._numbered((table, 0), 7, "a.txt")
        assert [repr(dtype) for dtype in frame.dtypes] == [repr(dtype) for dtype in meta.dtypes]


def test_a_frame_computed_in_process_takes_assignments(tmp_path):
    # Computed in this process, a frame of one partition is the very frame that partition made: the
    # enumerations' codes must be its own, writable, not the decoder's read-only Arrow buffers.
    paths = write_files(tmp_path, [("a.txt", MIXED, False)])
    frame = reader.read_beacons(str(paths[0])).compute(scheduler="sync")
    kind, altitude = frame.columns.get_loc("aircraft_type"), frame.columns.get_loc("gps_altitude")
    frame.iat[0, kind] = frame.iat[1, kind]
    frame.iat[0, altitude] = -1.0
    assert (frame.iat[0, kind], frame.iat[0, altitude]) == (frame.iat[1, kind], -1.0)


def test_parquet_written_by_dask_reads_back_in_duckdb(client, tmp_path):
    paths = write_files(tmp_path, CASES[-1][1])
    out = tmp_path / "parquet"
    computed(client, reader.read_beacons(str(tmp_path / "*.txt"), blocksize=300).to_parquet(str(out), compute=False))
    rows = single_process_rows(paths, errors=False)
    [(count, altitude)] = duckdb.sql(
        f"SELECT count(*), sum(gps_altitude) FROM read_parquet('{out}/*.parquet')"
    ).fetchall()
    assert count == len(rows)
    assert altitude == pytest.approx(sum(row["gps_altitude"] for row in rows), rel=1e-12)


# (id, files, blocksize, partitions, tasks): every partition has its decoding, the step that numbers its lines and
# makes its frame, and the alias that from_graph names it by; every range after the first of its file one more,
# which counts the lines before it.
GRAPHS = [
    ("one-range", [("a.txt", LF, False)], "64MiB", 1, 3),
    ("four-ranges", [("a.txt", LF, False)], len(LF) // 4 + 1, 4, 4 * 3 + 3),
    ("gzip-and-two-ranges", [("a.txt", LF, True), ("b.txt", CRLF, False)], len(CRLF) // 2 + 1, 3, 3 + 2 * 3 + 1),
]


@pytest.mark.parametrize("files, blocksize, partitions, tasks", [case[1:] for case in GRAPHS],
                         ids=[case[0] for case in GRAPHS])
def test_tasks_per_partition(tmp_path, files, blocksize, partitions, tasks):
    # Each task costs the scheduler and a worker milliseconds: a graph that grows tasks per range shows up in
    # every pass over an archive. Once Dask fuses the graph, what a computation does next to each partition (a
    # filter, len) is one task more per partition.
    write_files(tmp_path, files)
    lazy = reader.read_beacons(str(tmp_path / "*.txt"), blocksize=blocksize)
    assert lazy.npartitions == partitions
    graph = dict(lazy.__dask_graph__())
    assert len(graph) == tasks
    # One name (a task group) per kind of task, whatever the files: Dask's scheduler holds a read's decoding back
    # until a worker is free only when it is one large group. A group per file let two workers decode ahead of
    # the counts, holding five times as many decoded ranges.
    names = {key[0] for key in graph}
    assert len(names) == len({name.rsplit("-", 1)[0] for name in names}), names
    per_partition = lazy[lazy.gps_altitude > 0].map_partitions(len)
    assert len(dict(per_partition.optimize().__dask_graph__())) == tasks + partitions


def test_a_terabyte_file_is_planned_range_by_range(tmp_path, monkeypatch):
    # Planning sizes the file without reading a line, and leaves laying out the tasks to Dask: a graph handed
    # over laid out is tokenized task by task, three seconds here, where planning takes a hundredth. A plan in
    # which every range carried the graph of the ranges before it grew with the square of their number.
    path = tmp_path / "year.txt"
    with open(path, "wb") as file:
        file.truncate(1 << 40)
    with monkeypatch.context() as planning:
        planning.setattr(reader, "Task", None)  # any task laid out now fails
        lazy = reader.read_beacons(str(path))
        ranges = (1 << 40) // (64 << 20)
        assert lazy.npartitions == ranges
    assert len(dict(lazy.__dask_graph__())) == 4 * ranges - 1


@pytest.mark.parametrize("blocksize", [FIRST // 2, 97, 300], ids=["half-line", "97-bytes", "300-bytes"])
def test_a_partition_computed_alone_counts_the_lines_before_it(tmp_path, blocksize):
    # Computing one partition keeps of the graph only what it needs: that must still hold the line counts of
    # the ranges before it.
    paths = write_files(tmp_path, CASES[-1][1])
    lazy = reader.read_beacons(str(tmp_path / "*.txt"), blocksize=blocksize)
    alone = [lazy.partitions[k].compute(scheduler="sync") for k in range(lazy.npartitions)]
    rows = [row for frame in alone for row in pa.Table.from_pandas(frame, preserve_index=False).to_pylist()]
    assert rows == single_process_rows(paths, errors=False)


def test_line_counts_carried_from_one_worker_to_the_other(client, tmp_path):
    paths = write_files(tmp_path, [("a.txt", MIXED * 8, False)])
    lazy = reader.read_beacons(str(paths[0]), blocksize=len(MIXED) // 3)
    with distributed.get_task_stream(client) as stream:
        frame = computed(client, lazy)
    assert pa.Table.from_pandas(frame, preserve_index=False).to_pylist() == single_process_rows(paths, False)
    decoders = {task["worker"] for task in stream.data if "decode-beacons" in str(task["key"])}
    assert len(decoders) == 2, "every range was decoded on one worker: no count crossed between workers"


def rewrite_in_place(path, content):
    """Writes the file anew, as a later writer would: the file system's clock may not tick between two writes of
    a test, so its modification time is moved on a second."""
    path.write_bytes(content)
    written = path.stat()
    os.utime(path, ns=(written.st_atime_ns, written.st_mtime_ns + 10**9))


REVERSED = b"".join(reversed(LF.splitlines(keepends=True)))  # the same size as LF, other lines

# (id, what happens between two reads, the second read's options, whether the keys stay the same).
KEYS = [
    ("unchanged", lambda path: None, {}, True),
    ("rewritten-same-size", lambda path: rewrite_in_place(path, REVERSED), {}, False),
    ("grown", lambda path: rewrite_in_place(path, LF + LF[:FIRST]), {}, False),
    ("errors", lambda path: None, {"errors": True}, False),
    ("other-blocksize", lambda path: None, {"blocksize": FIRST * 4}, False),
]


@pytest.mark.parametrize("change, options, same", [case[1:] for case in KEYS], ids=[case[0] for case in KEYS])
def test_keys_follow_the_files_and_the_options(tmp_path, change, options, same):
    # The same keys are a cache hit on a cluster that still holds the results of the first read; a file changed
    # since must be read again, not answered from them.
    path = tmp_path / "a.txt"
    path.write_bytes(LF)
    first = reader.read_beacons(str(path), blocksize=FIRST * 3)
    change(path)
    second = reader.read_beacons(str(path), **{"blocksize": FIRST * 3, **options})
    keys = [set(dict(frame.__dask_graph__())) | set(frame.__dask_keys__()) for frame in (first, second)]
    if same:
        assert keys[0] == keys[1]
    else:
        assert keys[0].isdisjoint(keys[1])


def test_a_second_read_of_unchanged_files_is_answered_from_the_cluster(client, tmp_path):
    paths = write_files(tmp_path, [("a.txt", MIXED * 4, False)])
    first = client.persist(reader.read_beacons(str(paths[0]), blocksize=len(MIXED)))
    distributed.wait(first, timeout=WAIT)
    with distributed.get_task_stream(client) as stream:
        again = computed(client, reader.read_beacons(str(paths[0]), blocksize=len(MIXED)))
    assert pa.Table.from_pandas(again, preserve_index=False).to_pylist() == single_process_rows(paths, False)
    assert stream.data, "the task stream recorded nothing: the check below would pass unchecked"
    assert not [task["key"] for task in stream.data if "decode-beacons" in str(task["key"])]


def test_a_file_rewritten_in_place_is_read_again(client, tmp_path):
    # The results of the first read stay on the cluster while the second runs: its tasks must not be taken for
    # the same ones.
    path = tmp_path / "a.txt"
    path.write_bytes(LF)
    first = client.persist(reader.read_beacons(str(path), blocksize=FIRST * 3))
    distributed.wait(first, timeout=WAIT)
    rewrite_in_place(path, REVERSED)
    again = computed(client, reader.read_beacons(str(path), blocksize=FIRST * 3))
    assert pa.Table.from_pandas(again, preserve_index=False).to_pylist() == single_process_rows([path], False)
    assert len(computed(client, first)) == pa.record_batch(kav_aprs.decode(LF).beacons).num_rows


class ShortReads(io.BytesIO):
    """A file that, as a network stream may, reads fewer bytes than asked before its end."""

    def read(self, size=-1):
        return super().read(1 if size < 0 else min(size, 1))


@pytest.mark.parametrize("data", [LF, CRLF, CR, MIXED, beacon_lines(b"\r\n", final=False),
                                  b"\r\n\r\n\n\r\r", b"\n", b"\r", b"x", b"ab\r"],
                         ids=["lf", "crlf", "cr", "mixed", "crlf-unfinished", "only-ends", "lf-alone",
                              "cr-alone", "one-byte", "cr-last"])
@pytest.mark.parametrize("scan_bytes", [1, 2, 3, 64 << 10])
@pytest.mark.parametrize("stream", [io.BytesIO, ShortReads], ids=["whole-reads", "short-reads"])
def test_line_start_found_from_every_position(monkeypatch, data, scan_bytes, stream):
    # Small reads put the \r and the \n of a line end in different reads; a limit may fall between them.
    monkeypatch.setattr(reader, "_SCAN_BYTES", scan_bytes)
    starts = sorted({0} | {match.end() for match in re.finditer(rb"\r\n|\n|\r", data)})
    for position in range(len(data) + 1):
        following = min([start for start in starts if start >= position and start < len(data)] + [len(data)])
        for limit in sorted({min(position + step, len(data)) for step in (0, 1, 2, 7, len(data))}):
            found = reader._line_start_at_or_after(stream(data), position, limit)
            assert found == min(following, limit), (position, limit)


class CountingReads(io.BytesIO):
    def __init__(self, data):
        super().__init__(data)
        self.bytes_read = 0

    def read(self, size=-1):
        block = super().read(size)
        self.bytes_read += len(block)
        return block


@pytest.mark.parametrize("scan_bytes", [1, 4096, 64 << 10])
def test_ranges_inside_one_long_line_read_only_themselves(monkeypatch, scan_bytes):
    # Every range that a long line crosses looks for a line start in it. If each read on to the end of the
    # line, the ranges of a line n blocks long would read n²/2 blocks between them. Each reads its block, the
    # byte before it (a line end there starts a line at its first byte) and the one after it (which tells a
    # \r\n from a lone \r).
    monkeypatch.setattr(reader, "_SCAN_BYTES", scan_bytes)
    block = 10_000
    data = b"x\n" + b"\0" * (20 * block) + b"\r\n"
    for start in range(3, 20 * block, block):
        file = CountingReads(data)
        assert reader._line_start_at_or_after(file, start, start + block) == start + block
        assert file.bytes_read <= block + 2, start


def test_ranges_read_one_after_another_into_one_buffer(tmp_path):
    # A thread refills one buffer for its ranges: a longer one must grow it, and a shorter one after it must
    # decode its own bytes only, not what the longer one left behind.
    path = tmp_path / "a.txt"
    path.write_bytes(MIXED)
    cuts = [0, FIRST // 2, len(MIXED) // 2, len(MIXED) - 3, len(MIXED)]
    ranges = list(zip(cuts, cuts[1:]))
    for start, end in ranges + ranges[::-1]:
        table, lines = reader._decode_range(fsspec.filesystem("file"), str(path), "a", start, end, len(MIXED),
                                            False)
        begin, finish = (reader._line_start_at_or_after(io.BytesIO(MIXED), at, len(MIXED)) for at in (start, end))
        alone = kav_aprs.decode(MIXED[begin:finish])
        assert lines == alone.lines
        assert table.to_pylist() == pa.record_batch(alone.beacons).to_pylist(), (start, end)


def test_any_fsspec_filesystem_and_its_urls():
    fs = fsspec.filesystem("memory")
    fs.pipe({"/beacons/a.txt": MIXED, "/beacons/b.txt": gzip.compress(CRLF)})
    frame = reader.read_beacons("memory://beacons/*.txt", blocksize=120).compute(scheduler="sync")
    expected = [dict(row, source=f"memory:///beacons/{name}")
                for name, data in (("a.txt", MIXED), ("b.txt", CRLF))
                for row in pa.record_batch(kav_aprs.decode(data).beacons).to_pylist()]
    assert pa.Table.from_pandas(frame, preserve_index=False).to_pylist() == expected


def test_a_file_that_shrinks_after_planning_is_an_error(tmp_path):
    path = tmp_path / "a.txt"
    path.write_bytes(LF)
    lazy = reader.read_beacons(str(path), blocksize=FIRST * 3)
    path.write_bytes(LF[: FIRST * 4])
    with pytest.raises(OSError, match=r"a\.txt: read \d+ bytes at offset \d+ where \d+ were expected"):
        lazy.compute(scheduler="sync")


@pytest.mark.parametrize("urlpath, options, error, message", [
    ("{dir}/nothing-*.txt", {}, FileNotFoundError, "no beacon file matches"),
    ("{dir}/missing.txt", {}, FileNotFoundError, "missing.txt"),
    ("{dir}/a.txt", {"blocksize": 0}, ValueError, "at least one byte, got 0"),
    ("{dir}/a.txt", {"blocksize": "-1MiB"}, ValueError, "at least one byte"),
    ("{dir}/a.txt", {"blocksize": "lots"}, ValueError, "blocksize 'lots' is not a size"),
    ("{dir}/a.txt", {"blocksize": 1.5}, TypeError, "not float"),
    ("{dir}/a.txt", {"blocksize": True}, TypeError, "not bool"),
], ids=["no_match", "missing_file", "zero_blocksize", "negative_blocksize", "blocksize_not_a_size",
        "blocksize_float", "blocksize_bool"])
def test_bad_arguments_are_named(tmp_path, urlpath, options, error, message):
    (tmp_path / "a.txt").write_bytes(LF)
    with pytest.raises(error, match=message):
        reader.read_beacons(urlpath.format(dir=tmp_path), **options)


def imported_modules(tree):
    return [alias.name for node in ast.walk(tree) if isinstance(node, ast.Import) for alias in node.names] + [
        node.module for node in ast.walk(tree) if isinstance(node, ast.ImportFrom) and node.level == 0]


def private_package_names(tree):
    return [f"{node.value.id}.{node.attr}" for node in ast.walk(tree)
            if isinstance(node, ast.Attribute) and isinstance(node.value, ast.Name)
            and node.value.id in ("_native", "_sources", "kav_aprs") and node.attr.startswith("_")]


def line_end_bytes(tree):
    return [node.value for node in ast.walk(tree)
            if isinstance(node, ast.Constant) and isinstance(node.value, bytes) and re.search(rb"[\r\n]", node.value)]


# (id, what a check finds in the module's source, which must be nothing).
SOURCE_CHECKS = [
    # A Dask release may change or drop what it keeps private, and the dask extra allows releases to come.
    ("no-private-dask-module", lambda tree: [name for name in imported_modules(tree) if name.startswith("dask")
                                              and (name.startswith("dask.dataframe.dask_expr")
                                                   or any(part.startswith("_") for part in name.split(".")))]),
    ("no-private-package-name", private_package_names),
    # Where lines end is the core's rule alone (_native.line_start): a copy of it here would drift.
    ("no-line-end-search", line_end_bytes),
]


@pytest.mark.parametrize("check", [case[1] for case in SOURCE_CHECKS], ids=[case[0] for case in SOURCE_CHECKS])
def test_the_reader_keeps_to_public_names_and_the_core_line_rule(check):
    tree = ast.parse(inspect.getsource(reader))
    assert any(name.startswith("dask") for name in imported_modules(tree)), "the module's imports were not found"
    assert check(tree) == []
