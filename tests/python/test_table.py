"""Reading tables of curves: the output tables of the runs and the measured records."""

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
        ("\ufefft\ta\r\n1e-3 -2E2\r\n", ["t", "a"], [[1e-3], [-200]]),
        ("t a b\n1 2\n3 4 5 6\n", ["t", "a", "b"], [[1, 4], [2, 5], [3, 6]]),  # rows over lines
        ("t a\n", ["t", "a"], [[], []]),
        ("t a\n1 nan\n2 inf\n", ["t", "a"], [[1, 2], [np.nan, np.inf]]),
    ],
)
def test_layouts(tmp_path, text, names, columns):
    path = tmp_path / "t.dat"
    path.write_bytes(text.encode())
    table = mas.read_table(path)
    assert table.names == names
    for name, expected in zip(names, columns):
        assert np.array_equal(table[name], np.array(expected, dtype=float), equal_nan=True)


def test_an_incomplete_last_row_is_left_out_with_a_warning(tmp_path):
    path = tmp_path / "cut.dat"
    path.write_text("t a b\n1 2 3\n4 5\n")
    with pytest.warns(RuntimeWarning, match="2 valeurs ignorées"):
        table = mas.read_table(path)
    assert table.rows == 1 and list(table["b"]) == [3.0]


@pytest.mark.parametrize(
    "text, message",
    [
        ("t a\n1 2\n3 4,5\n", "ligne 3, colonne 3 : nombre attendu, lu « 4,5 »"),
        ("t a\n1 2x\n", "ligne 2, colonne 3 : nombre attendu, lu « 2x »"),
        ("t a\n1 1e400\n", "lu « 1e400 »"),
        ("\n1 2\n", "ligne d'en-tête vide"),
    ],
)
def test_bad_tables_are_refused_with_the_place(tmp_path, text, message):
    path = tmp_path / "bad.dat"
    path.write_text(text)
    with pytest.raises(mas.FileError) as e:
        mas.read_table(path)
    assert str(e.value).startswith(f"Erreur de lecture !!! {path}")
    assert message in str(e.value)


def test_a_missing_table_or_column(tmp_path):
    with pytest.raises(mas.FileError, match="Impossible d'ouvrir le fichier"):
        mas.read_table(tmp_path / "absent.dat")
    path = tmp_path / "t.dat"
    path.write_text("t a\n1 2\n")
    with pytest.raises(KeyError, match="colonne inconnue « b »"):
        mas.read_table(path)["b"]
