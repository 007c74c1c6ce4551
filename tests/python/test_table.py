"""Reading tables of curves: the output tables of the runs and the measured records."""

import os
import subprocess

import numpy as np
import pytest

import mas


def test_a_written_table_reads_back_as_the_run_printed_it(examples, tmp_path):
    s = mas.Study(examples / "vector_control_pi.mas")
    s["tf"] = 0.05
    run = s.run(output=tmp_path / "out.dat")
    table = mas.read_table(tmp_path / "out.dat")
    assert table.names == run.names and table.rows == run.table.rows
    for name in run.names:
        # The table holds eight significant digits of each value.
        assert np.allclose(table[name], run[name], rtol=1e-7, atol=0), name
        assert np.array_equal(table[name], [float("%.8g" % v) for v in run[name]])
    assert not table.t.flags.owndata


def test_the_measured_record_reads_whole(examples):
    record = mas.read_table(examples / "dem1.dat")
    assert len(record.names) >= 5 and record.rows > 1000
    assert np.all(np.diff(record.t) > 0)


@pytest.mark.parametrize(
    "text, names, columns",
    [
        ("t a\n0 1\n0.5 +2\n", ["t", "a"], [[0, 0.5], [1, 2]]),
        ("t\ta\r\n1e-3 -2E2\r\n\n", ["t", "a"], [[1e-3], [-200]]),
        ("t a\n", ["t", "a"], [[], []]),
        ("t a\n1 nan\n2 inf\n", ["t", "a"], [[1, 2], [np.nan, np.inf]]),
        ("0 1.5\n1 2.5\n", ["C1", "C2"], [[0, 1], [1.5, 2.5]]),  # the bar snapshot's layout
    ],
)
def test_layouts(tmp_path, text, names, columns):
    path = tmp_path / "t.dat"
    path.write_bytes(text.encode())
    table = mas.read_table(path)
    assert table.names == names
    for name, expected in zip(names, columns):
        assert np.array_equal(table[name], np.array(expected, dtype=float), equal_nan=True)


@pytest.mark.parametrize(
    "text, place",
    [
        ("t a\n1 2\n3 4,5\n", "Ligne 3, colonne 2 (« a »)"),
        ("t a\n1 2x\n", "Ligne 2, colonne 2 (« a »)"),
        ("t a\n1 1e400\n", "Ligne 2, colonne 2 (« a »)"),
        ("t a b\n1 2 3\n4 5\n", "Ligne 3"),
    ],
)
def test_bad_tables_are_refused_with_the_place_or_read_in_part(tmp_path, text, place):
    path = tmp_path / "bad.dat"
    path.write_text(text)
    with pytest.raises(mas.FileError) as e:
        mas.read_table(path)
    assert str(e.value).startswith(f"Erreur de lecture !!! {path} : {place}")
    with pytest.warns(RuntimeWarning, match=place.replace("(", r"\(").replace(")", r"\)")):
        table = mas.read_table(path, partial=True)
    assert table.rows == text.count("\n") - 2


def test_a_missing_table_or_column(tmp_path):
    with pytest.raises(mas.FileError, match="Impossible d'ouvrir le fichier"):
        mas.read_table(tmp_path / "absent.dat")
    path = tmp_path / "t.dat"
    path.write_text("t a\n1 2\n")
    with pytest.raises(KeyError, match="colonne inconnue « b »"):
        mas.read_table(path)["b"]


def test_csv_and_mat_tables_read_as_their_text_twin(examples, tmp_path):
    # The example record as a logger exports it (semicolons, decimal commas).
    text = mas.read_table(examples / "dem1.dat")
    csv = mas.read_table(examples / "dem1_logger.csv")
    assert csv.names == ["temps (s)", "vitesse (tr/mn)", "courant (A)"]
    for twin, name in zip(["t(s)", "N(tr/mn)", "Ias(A)"], csv.names):
        assert np.array_equal(csv[name], text[twin]), name
    # A run's .mat table: full precision, the original names.
    cli = os.environ["MAS_CLI"]
    out = tmp_path / "out.dat"
    study = examples / "default.mas"
    subprocess.run([cli, "run", study, "--set", "tf=0.01", "-o", out], check=True,
                   capture_output=True)
    subprocess.run([cli, "run", study, "--set", "tf=0.01", "-o", out, "--table-format", "mat"],
                   check=True, capture_output=True)
    mat = mas.read_table(tmp_path / "out.mat")
    dat = mas.read_table(out)
    assert mat.names == dat.names
    for name in dat.names:
        assert np.array_equal([float("%.8g" % v) for v in mat[name]], dat[name]), name


def test_bad_csv_tables_name_the_place(tmp_path):
    path = tmp_path / "bad.csv"
    path.write_text("t;a\n0;1,5\n1;x\n")
    with pytest.raises(mas.FileError, match="Ligne 3, colonne 2"):
        mas.read_table(path)
    path = tmp_path / "bad.mat"
    path.write_text("t a\n0 1\n")
    with pytest.raises(mas.FileError, match="n'est pas un fichier MATLAB"):
        mas.read_table(path)
