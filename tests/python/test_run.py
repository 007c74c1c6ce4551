"""Runs from Python: the same numbers as `mas run`, columns that own their buffers, runs
that go on while Python does, interruption, and the carried state."""

import gc
import os
import signal
import threading
import time

import numpy as np
import pytest

import mas
from conftest import table_words


def short(examples, name, **settings):
    s = mas.Study(examples / name)
    s.set(settings)
    return s


@pytest.mark.parametrize(
    "name, settings",
    [
        ("vector_control_pi.mas", {"tf": 0.25, "OutSel": "all", "OutSelStator": "all", "OutSensor": 1}),
        ("cage_start.mas", {"tf": 0.05, "OutSelCage": "all", "BarreSel": "0,5", "LoopSel": "1", "OutStep": 3}),
        ("direct_torque_control.mas", {"tf": 0.1, "td0": 0.02}),
    ],
)
def test_a_run_gives_the_table_of_mas_run(examples, mas_cli, tmp_path, name, settings):
    s = short(examples, name, **settings)
    result = s.run()
    assert result.ok and result.status == "reached_end"

    sets = []
    for k, v in settings.items():
        sets += ["--set", f"{k}={v}"]
    cli = mas_cli(["run", examples / name, *sets, "--output", tmp_path / "out.dat"], tmp_path)
    assert cli.returncode == 0, cli.stderr
    header, rows = table_words(tmp_path / "out.dat")
    assert result.names == header
    assert result.table.rows == len(rows)
    for c, column in enumerate(header):
        values = result[column]
        printed = [row[c] for row in rows]
        assert ["%.8g" % v for v in values] == printed, column


def test_output_writes_the_same_file_as_mas_run(examples, mas_cli, tmp_path):
    s = short(examples, "vector_control_pi.mas", tf=0.1)
    s.run(output=tmp_path / "python.dat")
    mas_cli(["run", examples / "vector_control_pi.mas", "--set", "tf=0.1", "--output", tmp_path / "cli.dat"], tmp_path)
    assert (tmp_path / "python.dat").read_bytes() == (tmp_path / "cli.dat").read_bytes()


def test_no_file_is_written_without_output(examples, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    s = short(examples, "cage_start.mas", tf=0.01)
    s["OutSelCage.Capt"] = 1
    s.run()
    assert list(tmp_path.iterdir()) == []


def test_columns_can_be_chosen(examples):
    s = short(examples, "vector_control_pi.mas", tf=0.05)
    full = s.run()
    some = s.run(columns=["Ias(A)", "Vitesse(tr/mn)"])
    assert some.names == ["time(s)", "Vitesse(tr/mn)", "Ias(A)"]
    assert np.array_equal(some["Ias(A)"], full["Ias(A)"])
    with pytest.raises(mas.SettingError) as e:
        s.run(columns=["WmEst"])
    assert "colonne « WmEst » non enregistrée" in str(e.value)


def test_columns_own_their_buffers_and_outlive_the_run(examples):
    s = short(examples, "vector_control_pi.mas", tf=0.05)
    result = s.run()
    speed = result["Vitesse(tr/mn)"]
    first = speed.copy()
    # No copy: every access gives a view of the one buffer the run filled.
    assert not speed.flags.owndata and type(speed.base).__name__ == "PyCapsule"
    assert np.shares_memory(speed, result["Vitesse(tr/mn)"])
    assert np.shares_memory(speed, result.to_dict()["Vitesse(tr/mn)"])
    del s, result
    gc.collect()
    assert np.array_equal(speed, first) and speed.dtype == np.float64


def test_the_study_is_not_changed_by_a_run(examples):
    s = short(examples, "broken_bar.mas", tf=0.02)
    before = s.to_dict()
    a = s.run()
    b = s.run()
    assert s.to_dict() == before
    assert np.array_equal(a["Ias(A)"], b["Ias(A)"])


def test_a_diverging_run_says_so(examples):
    s = short(examples, "default.mas", tf=0.2, Rs=-5.0)  # a stator that gives energy
    r = s.run()
    assert r.status == "diverged" and not r.ok
    assert r.message == "La simulation a divergée"
    assert ("Erreur", "La simulation a divergée") in r.messages


def test_refused_runs_raise_before_anything_runs(examples, tmp_path):
    # dt against the span of t0 to tf is judged by the run (dt alone where it is set).
    s = short(examples, "default.mas", dt=1e-5, tf=1e6)
    with pytest.raises(mas.RunError) as e:
        s.run()
    assert str(e.value).startswith("Paramètres temporels invalides : plus d'un milliard de pas")
    s["tf"] = 0.1
    with pytest.raises(mas.RunError) as e:
        s.run(output=tmp_path / "no" / "out.dat")
    assert str(e.value) == f"Impossible d'ouvrir le fichier {tmp_path / 'no' / 'out.dat'}"


def test_the_progress_callback_follows_and_can_stop_the_run(examples):
    s = short(examples, "vector_control_pi.mas", tf=0.2)
    seen = []
    r = s.run(progress=lambda p: seen.append(p) or p < 30)
    assert r.status == "interrupted"
    assert seen[-1] >= 30 and all(p < 30 for p in seen[:-1]) and seen == sorted(seen)
    assert r.t[-1] == pytest.approx(seen[-1] / 100 * 0.2, abs=0.005)

    def fails(p):
        raise ValueError("arrêt demandé")

    with pytest.raises(ValueError, match="arrêt demandé"):
        s.run(progress=fails)


@pytest.mark.parametrize("answer", [0, "", [], np.False_, 0.0])
def test_any_false_answer_of_the_progress_callback_stops_the_run(examples, answer):
    s = short(examples, "vector_control_pi.mas", tf=0.2)
    seen = []
    r = s.run(progress=lambda p: answer if seen.append(p) or p >= 30 else None)
    assert r.status == "interrupted"
    assert seen[-1] >= 30 and r.t[-1] < 0.2 * 0.5
    # None, and any true answer, let the run go on to its end.
    for answer_going_on in (None, 1, "oui", np.True_):
        assert s.run(progress=lambda p, a=answer_going_on: a).status == "reached_end"
    # An answer that is neither true nor false is the callback's error.
    with pytest.raises(ValueError):
        s.run(progress=lambda p: np.array([1, 2]))


def test_ctrl_c_interrupts_the_run(examples):
    s = short(examples, "cage_start.mas", tf=5.0)
    timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
    start = time.monotonic()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        s.run()
    assert time.monotonic() - start < 5.0
    timer.join()


def test_python_goes_on_while_runs_go_on_in_threads(examples):
    # A run releases the interpreter: the main thread keeps counting while two runs go
    # on, and the two runs give what they give one after the other.
    s = short(examples, "vector_control_pi.mas", tf=0.4)
    alone = s.run()["Ias(A)"]
    results = [None, None]

    def work(i):
        results[i] = s.run()["Ias(A)"]

    threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    counted = 0
    while any(t.is_alive() for t in threads):
        counted += 1
    for t in threads:
        t.join()
    assert counted > 1000
    assert all(np.array_equal(r, alone) for r in results)


def test_a_session_carries_the_state_from_run_to_run(examples):
    # The blended direct/indirect stator orientation starts from the angle the previous
    # run left.
    s = short(examples, "vector_control_pi.mas", tf=0.05, Flux_typ=10)
    session = mas.Session()
    first = s.run(session=session)["Ias(A)"]
    assert session.ThetaDir != 0.0
    kept = session.ThetaDir
    again = s.run(session=session)["Ias(A)"]
    fresh = s.run()["Ias(A)"]
    assert np.array_equal(first, fresh)
    assert not np.array_equal(again, fresh)
    assert session.ThetaDir != kept
    with pytest.raises(ValueError):
        mas.Session(dsv_type=6)


def test_pandas_only_when_installed(examples):
    r = short(examples, "default.mas", tf=0.01).run()
    try:
        import pandas  # noqa: F401
    except ImportError:
        with pytest.raises(ImportError, match="pandas"):
            r.to_dataframe()
    else:
        frame = r.to_dataframe()
        assert list(frame.columns) == r.names


def test_several_modes_run_one_step_and_keep_the_previous_table(examples, tmp_path):
    table = tmp_path / "out.dat"
    table.write_text("previous\n")
    s = short(examples, "vector_control_pi.mas", tf=0.01, DTC=1)
    r = s.run(output=table)
    assert r.status == "no_mode" and r.steps == 1
    assert r.message == "Aucune simulation n'a été sélectionnée"
    assert table.read_text() == "previous\n"
