"""Settings by name: the same names, values, checks and messages as `mas run --set`."""

import copy

import numpy as np
import pytest

import mas


@pytest.fixture
def study(examples):
    return mas.Study(examples / "vector_control_pi.mas")


def test_a_new_study_has_the_defaults_and_refuses_to_run():
    s = mas.Study()
    assert not s.loaded and s.path == ""
    assert s["OutFileName"] == "out.dat" and s["CreateOutputFile"] is True
    with pytest.raises(mas.RunError) as e:
        s.run()
    assert e.value.message == "Aucun fichier de données n'a été chargé"
    assert e.value.caption == "Erreur"


@pytest.mark.parametrize(
    "name, value, expected",
    [
        ("Rs", 1.2, 1.2),
        ("Rs", 2, 2.0),  # an integer is a valid real
        ("dt", "2e-5", 2e-5),  # text is taken as --set takes it
        ("tf", 0.1 + 0.2, 0.1 + 0.2),  # every bit of a float survives
        ("p", 3, 3),
        ("Triangle", True, True),
        ("Triangle", 0, False),
        ("OutSel.Wm", 0, 0),
        ("OutFileName", "run 1.dat", "run 1.dat"),
    ],
)
def test_values_are_stored_by_name(study, name, value, expected):
    study[name] = value
    got = study[name]
    assert got == expected and type(got) is type(expected)


def test_a_changed_setting_acts_as_in_a_study_file(study):
    # Rs goes into both machine models, as reading record 1 does: the runs agree.
    changed = study.copy()
    changed.set(Rs=1.6, tf=0.05)
    study["tf"] = 0.05
    text = study.to_dict()
    text["Rs"] = 1.6
    assert changed.to_dict() == text
    saved = changed.run()["Vitesse(tr/mn)"]
    assert not (saved == study.run()["Vitesse(tr/mn)"]).all()


def test_groups_and_bar_selections(examples):
    s = mas.Study(examples / "cage_start.mas")
    s["OutSelCage"] = "all"
    assert set(s["OutSelCage"].values()) == {1}
    s.set({"OutSel": "none", "OutSel.Wm": 1})
    assert [k for k, v in s["OutSel"].items() if v] == ["OutSel.Wm"]
    s["BarreSel"] = [0, 3]
    assert s["BarreSel"] == [0, 3]
    s["BarreSel"] = range(2)
    assert s["BarreSel"] == [0, 1]
    s["LoopSel"] = "all"
    assert s["LoopSel"] == list(range(28))
    # With the polar flags of OutSelCage, the bars give their two components.
    assert "Ibalpha1" in s.columns() and "Ibbeta1" in s.columns() and "Ibalpha3" not in s.columns()


@pytest.mark.parametrize(
    "values, error, message",
    [
        ({"Rz": 1}, mas.UnknownSettingError, "Rz=1 : paramètre inconnu « Rz » ; vouliez-vous dire « Rs », « Rr » ?"),
        ({"p": 2.5}, mas.SettingError, "p=2.5 : valeur invalide pour p (entier attendu)"),
        ({"dt": "1,5"}, mas.SettingError, "dt=1,5 : valeur invalide pour dt (réel attendu, avec un point décimal)"),
        ({"dt": float("inf")}, mas.SettingError, "dt=inf : valeur invalide pour dt (réel fini attendu)"),
        ({"Triangle": 2}, mas.SettingError, "Triangle=2 : valeur invalide pour Triangle (0 ou 1 attendu)"),
        ({"p": 2**40}, mas.SettingError, "valeur hors limites pour p"),
        ({"OutSel": "some"}, mas.SettingError, "(all ou none attendu)"),
        ({"BarreSel": [0, 99]}, mas.SettingError, "barre 99 hors de 0..27"),
        ({"BarreSel": [0, "a"]}, mas.SettingError, "liste de numéros de barre attendue"),
        ({"Rs": None}, mas.SettingError, "valeur invalide"),
        # values no run can use, with the run's own message
        ({"dt": -1}, mas.SettingError, "dt=-1 : Paramètres temporels invalides : le pas dt doit être positif"),
        ({"dt": float("nan")}, mas.SettingError, "dt=nan : valeur invalide pour dt (réel fini attendu)"),
        ({"Nr": 2}, mas.SettingError, "Nr=2 : Le modèle à cage demande au moins 3 barres rotoriques (Nr = 2)"),
        ({"NTregI": -1}, mas.SettingError, "NTregI=-1 : valeur invalide pour NTregI (entier >= 1 attendu)"),
        ({"Flux_typ": 11}, mas.SettingError, "Flux_typ=11 : valeur invalide pour Flux_typ (0 à 10 attendu)"),
        # all or nothing: the good value before the bad one is not stored either
        ({"Rs": 9.0, "p": "x"}, mas.SettingError, "p=x : valeur invalide pour p (entier attendu)"),
    ],
)
def test_bad_names_and_values_change_nothing(examples, values, error, message):
    s = mas.Study(examples / "cage_start.mas")
    before = s.to_dict()
    with pytest.raises(error) as e:
        s.set(values)
    assert message in str(e.value)
    assert isinstance(e.value, ValueError) and isinstance(e.value, mas.Error)
    assert s.to_dict() == before
    if len(values) == 1:  # an item assignment refuses it the same way, where it is written
        [(name, value)] = values.items()
        with pytest.raises(error) as e:
            s[name] = value
        assert message in str(e.value)
        assert s.to_dict() == before


def test_an_unknown_name_is_a_key_error_when_read(study):
    with pytest.raises(KeyError) as e:
        study["mrs"]
    assert str(e.value) == "mrs : paramètre inconnu « mrs » ; vouliez-vous dire « mRs », « Rs », « mRr » ?"
    assert study.get("mrs", 7) == 7 and "mRs" in study and "mrs" not in study


def test_save_then_read_gives_the_same_study(study, tmp_path):
    study.set({"OutSel.Ias": 0}, Rs=1.2345, E2=330.5, NTregW=7, dt=2e-5)
    path = tmp_path / "round.mas"
    study.save(path)
    back = mas.Study.read(path)
    stored = {k: v for k, v in study.to_dict().items()}
    assert back.path == str(path) and back.loaded
    for name in ("Rs", "E2", "NTregW", "dt", "OutSel.Ias", "Kpd", "tf"):
        assert back[name] == stored[name], name
    back.save(tmp_path / "again.mas")
    assert (tmp_path / "again.mas").read_bytes() == path.read_bytes()


def test_read_and_write_errors_carry_the_workbench_messages(tmp_path):
    bad = tmp_path / "bad.mas"
    bad.write_text("1  1.405 1.395 0.178 0.178 0.1722\n2  2.5 0.0131 0 0 0\n")
    with pytest.raises(mas.FileError) as e:
        mas.Study(bad)
    assert str(e.value) == (
        f"Erreur de lecture !!! {bad} : ligne 2, enregistrement 2, champ p : entier attendu, lu « 2.5 »"
    )
    with pytest.raises(mas.FileError) as e:
        mas.Study.read(tmp_path / "absent.mas")
    assert str(e.value) == f"Impossible d'ouvrir le fichier {tmp_path / 'absent.mas'}"
    with pytest.raises(mas.FileError) as e:
        mas.Study().save(tmp_path / "no" / "such.mas")
    assert e.value.caption == "Erreur d'écriture"


def test_the_echo_is_written_only_when_asked(examples, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    mas.Study(examples / "default.mas")
    assert list(tmp_path.iterdir()) == []
    mas.Study.read(examples / "default.mas", echo=tmp_path / "echo.dat")
    assert (tmp_path / "echo.dat").read_text().startswith("8 ----")


def test_copies_are_independent(study):
    for other in (study.copy(), copy.copy(study), copy.deepcopy(study)):
        other["Rs"] = 3.0
        assert study["Rs"] == 1.405
    assert len(study) == len(study.keys()) == len(study.to_dict())


@pytest.mark.parametrize(
    "name, value, said",
    [
        ("dt", np.array([1e-5]), "une seule valeur attendue, lu un tableau"),
        ("p", np.array([2, 3]), "une seule valeur attendue, lu un tableau"),
        ("dt", True, "réel attendu, un booléen est refusé"),
        ("Rs", np.bool_(False), "réel attendu, un booléen est refusé"),
        ("ExpNom", True, "texte attendu, un booléen est refusé"),
        ("BarreSel", True, "liste de barres attendu, un booléen est refusé"),
        ("dt", [1e-5], "valeur invalide"),
    ],
)
def test_a_setting_takes_one_value_of_its_own_kind(examples, name, value, said):
    s = mas.Study(examples / "default.mas")
    before = s.to_dict()
    with pytest.raises(mas.SettingError) as e:
        s.set({name: value})
    # The message names the field and the value as Python shows it.
    assert str(e.value).startswith(f"{name}={value!r} : ") and said in str(e.value)
    assert s.to_dict() == before
    # numpy's scalars and 0-d arrays are single values; booleans still set flags.
    s.set(dt=np.float64(2e-5), tf=np.array(0.5), p=np.int64(3), Triangle=True)
    assert (s["dt"], s["tf"], s["p"], s["Triangle"]) == (2e-5, 0.5, 3, True)


def test_file_errors_are_os_errors_and_absent_files_not_found_errors(tmp_path, examples):
    bad = tmp_path / "bad.mas"
    bad.write_text("2  2.5 0.0131 0 0 0\n")
    with pytest.raises(OSError) as e:
        mas.Study(bad)
    assert isinstance(e.value, mas.FileError) and not isinstance(e.value, FileNotFoundError)
    assert e.value.strerror == str(e.value) and e.value.errno is None
    # A file that is not there, whichever reader looks for it.
    with pytest.raises(FileNotFoundError) as e:
        mas.Study(tmp_path / "absent.mas")
    assert isinstance(e.value, mas.FileError) and e.value.caption == "Erreur"
    with pytest.raises(FileNotFoundError):
        mas.read_table(tmp_path / "absent.dat")
    # A folder is there but cannot be read: no FileNotFoundError.
    with pytest.raises(mas.FileError) as e:
        mas.read_table(tmp_path)
    assert not isinstance(e.value, FileNotFoundError)


def test_describe_and_version_say_what_the_command_line_says(mas_cli, tmp_path):
    listing = mas_cli(["settings"], tmp_path)
    assert listing.returncode == 0
    rows = listing.stdout.splitlines()[1:]
    assert len(rows) > 300
    for row in rows:
        name = row.split()[0]
        d = mas.describe(name)
        assert d["name"] == name
        # The listing's line holds the same unit, values, default, group and meaning.
        assert d["values"] in row and d["group"] in row and row.endswith(d["meaning"])
        assert (d["default"] or '""') in row
        assert row.split()[1] == (d["unit"] or "-")
    dt = mas.describe("dt")
    assert (dt["unit"], dt["meaning"], dt["values"]) == ("s", "pas d'intégration fixe", "réel fini > 0")
    assert mas.describe("Rs")["unit"] == "Ω" and mas.describe("Wmref2")["unit"] == "tr/mn"
    assert mas.describe("p")["unit"] == ""
    # Every default is a value the study takes back as it is.
    s = mas.Study()
    assert float(mas.describe("dt")["default"]) == s["dt"]
    with pytest.raises(mas.UnknownSettingError, match="Rs"):
        mas.describe("rs")
    version = mas_cli(["--version"], tmp_path)
    assert version.stdout == f"mas {mas.__version__}\n"
