"""Identification and tuning from Python: the same generations as the command line, with
their history, the best parameters and a progress callback."""

import re
import warnings

import numpy as np
import pytest

import mas


def words_after(line, label):
    return line.split(label)[1].split()


# Rs, Ts, Tr, sigma, J, a10, a20, a30 near the example machine.
GUESS = [1.2, 0.14, 0.115, 0.07, 0.015, 0.0, 0.0, 1.6]


@pytest.fixture
def identification(examples):
    s = mas.Study(examples / "identification.mas")
    s.set(gA=200, gt0=0.03)
    return s


def test_identification_by_the_genetic_algorithm_matches_mas_identify(
    identification, examples, mas_cli, tmp_path
):
    seen = []
    result = mas.identify(
        identification, record=examples / "dem1.dat", method="ga", iterations=2, seed=7,
        threads=2, progress=lambda i, cost, best: seen.append((i, cost, dict(best))),
    )
    cli = mas_cli(
        ["identify", "ga", examples / "identification.mas", "--exp", examples / "dem1.dat",
         "--set", "gA=200", "--set", "gt0=0.03", "--generations", 2, "--seed", 7,
         "--threads", 2, "--logs", tmp_path],
        tmp_path,
    )
    assert cli.returncode == 0, cli.stderr
    lines = [l for l in cli.stdout.splitlines() if l.startswith("génération")]
    assert result.status == "complete" and len(lines) == 2
    assert list(result.history["iteration"]) == [1, 2]
    for i, line in enumerate(lines):
        assert "%.6g" % result.history["cost"][i] == words_after(line, "coût")[0]
        genes = dict(zip(words_after(line, "coût")[1::2], words_after(line, "coût")[2::2]))
        assert {k: "%.6g" % result.history[k][i] for k in genes} == genes
    assert [s[0] for s in seen] == [1, 2] and seen[-1][2] == result.best
    assert result.score == result.history["cost"][-1]
    # The study handed back has the best parameters in its machine.
    assert result.study["Rs"] == pytest.approx(result.best["Rs"])
    assert identification["Rs"] != result.study["Rs"]


def test_the_swarm_keeps_held_genes_and_stops_when_asked(identification, examples):
    result = mas.identify(
        identification, record=examples / "dem1.dat", method="pso", iterations=5, seed=3,
        genes=["Rs", "J"], init=GUESS, n1=3, n2=3, progress=lambda i, cost, best: i < 1,
    )
    assert result.status == "stopped" and list(result.history["iteration"]) == [0, 1]
    for held, value in zip(("Ts", "Tr", "sigma", "a10", "a20", "a30"), GUESS[1:4] + GUESS[5:]):
        assert np.all(result.history[held] == value), held


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"method": "fuzzy"}, mas.SettingError, "méthode « fuzzy » inconnue"),
        ({"genes": ["Rs", "Lm"]}, mas.SettingError, "gène « Lm » inconnu"),
        ({"init": [1, 2, 3]}, mas.SettingError, "huit réels finis attendus"),
        ({"genes": ["Rs"]}, mas.SettingError, "init"),
        ({"record": "/nonexistent/dem1.dat"}, mas.FileError, "introuvable"),
    ],
)
def test_bad_identification_requests(identification, kwargs, error, message):
    with pytest.raises(error, match=message):
        mas.identify(identification, iterations=1, **kwargs)


def test_tuning_matches_mas_tune(examples, mas_cli, tmp_path):
    s = mas.Study(examples / "tuning_ip.mas")
    result = mas.tune(s, "ip", iterations=1, seed=7, recover=True, threads=2)
    cli = mas_cli(
        ["tune", "ip", examples / "tuning_ip.mas", "--generations", 1, "--seed", 7, "--recover",
         "--threads", 2, "--logs", tmp_path],
        tmp_path,
    )
    assert cli.returncode == 0, cli.stderr
    line = [l for l in cli.stdout.splitlines() if re.match(r"^1 ", l)][0].split()
    assert "%.6g" % result.history["fitness"][0] == line[1]
    assert ["%.6g" % result.best[k] for k in ("KpW", "KiW", "TtW")] == line[2:5]
    assert result.study["KpW"] == result.best["KpW"]


def test_tuning_refuses_a_study_without_the_regulator(examples):
    # default.mas runs no mode with a speed loop: refused for that, before any generation.
    with pytest.raises(mas.RunError) as e:
        mas.tune(mas.Study(examples / "default.mas"), "fuzzy", iterations=1)
    assert e.value.message == (
        "L'étude n'a pas de boucle de vitesse : choisissez le contrôle vectoriel, la DTC "
        "ou la commande V/f")
    # With vector control but the PI speed regulator: refused for the regulator's type.
    study = mas.Study(examples / "default.mas")
    study["VectCtrl"] = 1
    study["NTregI"] = 1
    study["NTregW"] = 1
    study["WFlou"] = 0
    with pytest.raises(mas.RunError) as e:
        mas.tune(study, "fuzzy", iterations=1)
    assert e.value.message == (
        "Le régulateur de vitesse de l'étude n'est pas le régulateur flou : "
        "sélectionnez-le (WFlou) avant de l'ajuster")


def test_tune_still_takes_the_former_generations_keyword_with_a_warning(examples):
    study = mas.Study(examples / "tuning_ip.mas")
    # The old name's value is the one used: a negative count is refused under the new name.
    with pytest.warns(DeprecationWarning, match="iterations"):
        with pytest.raises(mas.SettingError, match="^iterations : nombre positif attendu"):
            mas.tune(study, "ip", generations=-1)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(mas.SettingError, match="^iterations"):
            mas.tune(study, "ip", iterations=-1)
    with pytest.raises(TypeError):
        mas.tune(study, "ip", 1, None, False, 0, None, None, 1)  # the old name is keyword-only


def test_the_trajectory_fit_gives_intervals_around_its_best(identification, examples):
    if "fit" not in mas.identification_methods:
        pytest.skip("the module was built without the trajectory fit")
    points = []
    result = mas.identify(
        identification, record=examples / "dem1.dat", method="fit", iterations=3, init=GUESS,
        genes=["Rs", "Tr", "J"], progress=lambda i, cost, best: points.append(cost),
    )
    assert result.status in ("converged", "iteration_limit")
    assert result.score < points[0] and result.score == pytest.approx(min(points))
    assert set(result.intervals) == {"Rs", "Tr", "J"}
    for name, (low, high) in result.intervals.items():
        assert low < result.best[name] < high and result.standard_errors[name] > 0
    assert result.best["Ts"] == GUESS[1]


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"starts": -1}, "starts : 0..10000 attendu"),
        ({"starts": 10001}, "starts : 0..10000 attendu"),
        ({"genes": []}, "genes : au moins un gène à optimiser attendu"),
        ({"genes": [], "method": "fit"}, "genes : au moins un gène à optimiser attendu"),
        ({"bootstrap": 0, "method": "fit"}, "bootstrap : 1..10000"),
        ({"bootstrap": 10001, "method": "fit"}, "bootstrap : 1..10000"),
        ({"bootstrap": 5}, "bootstrap et profile ne valent que pour"),
        ({"profile": True, "method": "pso"}, "bootstrap et profile ne valent que pour"),
    ],
)
def test_requests_the_command_line_refuses_raise(identification, kwargs, message):
    with pytest.raises(mas.SettingError, match=message):
        mas.identify(identification, iterations=1, init=GUESS, **kwargs)


def test_a_false_answer_of_the_progress_callback_stops_the_optimisation(identification, examples):
    result = mas.identify(
        identification, record=examples / "dem1.dat", method="pso", iterations=5, seed=3,
        n1=2, n2=2, progress=lambda i, cost, best: 0,
    )
    assert result.status == "stopped" and list(result.history["iteration"]) == [0]


def test_the_record_named_by_the_study_is_looked_for_beside_it(examples, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)  # no record here
    s = mas.Study(examples / "identification.mas")
    s.set(ExpNom="dem1.dat", tf=0.1, gA=200, gt0=0.03)
    result = mas.identify(s, method="pso", iterations=1, seed=3, n1=2, n2=2)
    assert result.status == "complete"
    # A record given by the call is taken from the current folder.
    with pytest.raises(mas.FileError, match="introuvable") as e:
        mas.identify(s, record="dem1.dat", method="pso", iterations=1, n1=2, n2=2)
    assert isinstance(e.value, FileNotFoundError)


def test_the_trajectory_fit_gives_the_report_of_the_command_line(identification, examples):
    if "fit" not in mas.identification_methods:
        pytest.skip("the module was built without the trajectory fit")
    result = mas.identify(
        identification, record=examples / "dem1.dat", method="fit", iterations=3, init=GUESS,
        genes=["Rs", "Tr", "J"],
    )
    report = result.report
    assert report["residuals"] == "etat" and report["end"] == result.status
    by_name = {p["name"]: p for p in report["parameters"]}
    assert set(by_name) == {"Rs", "Tr", "J"}
    for name, (low, high) in result.intervals.items():
        assert by_name[name]["value"] == result.best[name]
        assert (by_name[name]["lower95"], by_name[name]["upper95"]) == (low, high)
        assert by_name[name]["standard_error"] == result.standard_errors[name]
        assert by_name[name]["method"] == "newey-west"
    assert len(report["correlation"]) == 3
    assert report["weights"]["speed_noise"] > 0 and report["rms"]["current"] > 0
    assert report["warnings"] == result.warnings
    assert mas.identify(identification, record=examples / "dem1.dat", method="ga",
                        iterations=1, seed=1).report is None


def test_the_trajectory_fit_gives_bootstrap_and_profile_intervals(identification, examples):
    if "fit" not in mas.identification_methods:
        pytest.skip("the module was built without the trajectory fit")
    result = mas.identify(
        identification, record=examples / "dem1.dat", method="fit", iterations=20, init=GUESS,
        genes=["Rs", "Tr", "J"], seed=2, bootstrap=4, profile=True,
    )
    boot = result.report["bootstrap"]
    assert boot["requested"] == 4
    assert boot["used"] + boot["diverged"] + boot["not_converged"] == 4
    assert not boot["reliable"]  # fewer than 20 refits
    assert {p["name"] for p in boot["parameters"]} <= {"Rs", "Tr", "J"}
    assert result.report["profile"]["method"] == "profile-likelihood"
