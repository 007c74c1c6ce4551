#!/usr/bin/env python3
"""A broken rotor bar seen in the stator current.

Runs the broken-bar study of the examples twice on the 28-bar cage model, once with the
bar left healthy and once with bar 0 broken at 1 s, takes the spectrum of the phase-a
current over the last part of each run with numpy, marks the sidebands (1 - 2s) f and
(1 + 2s) f that a broken bar brings around the supply frequency f (s the slip), and saves
the speed and the two spectra as a PNG figure.

    PYTHONPATH=build/release/python python3 examples/python/broken_bar.py [--output fig.png]
"""

import argparse
import pathlib

import matplotlib

matplotlib.use("Agg")  # the figure goes to a file: no display needed
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import mas  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
STUDY = HERE.parent / "broken_bar.mas"


def spectrum(t, current, window):
    """Amplitude spectrum (dB, 0 at the highest line) of the current over the last
    `window` seconds, with a Hann window and eightfold zero padding."""
    keep = t >= t[-1] - window
    x = current[keep] - current[keep].mean()
    step = t[1] - t[0]
    n = 8 * len(x)
    amplitude = np.abs(np.fft.rfft(x * np.hanning(len(x)), n))
    return np.fft.rfftfreq(n, step), 20 * np.log10(amplitude / amplitude.max() + 1e-12)


def level_near(freq, level, f0, width=0.6):
    """Highest level within width Hz of f0."""
    near = np.abs(freq - f0) <= width
    return level[near].max()


def analyse(study, window):
    """Runs the healthy and the broken cage; returns per case its run, spectrum, slip and
    the levels of the two sidebands."""
    study = study.copy()
    study.set({"OutSel": "none", "OutSel.Ias": 1, "OutSel.Wm": 1, "OutSelCage": "none"})
    healthy = study.copy()
    healthy["RbCasset1"] = 2 * study["tf"]  # the bar never breaks
    f = study["fs"]
    synchronous = 60 * f / study["p"]  # tr/mn
    cases = {}
    for name, case in (("rotor sain", healthy), ("barre 0 cassée", study)):
        run = case.run(columns=["Vitesse(tr/mn)", "Ias(A)"])
        if not run.ok:
            raise SystemExit(f"{name} : {run.message}")
        freq, level = spectrum(run.t, run["Ias(A)"], window)
        speed = run["Vitesse(tr/mn)"][run.t >= run.t[-1] - window].mean()
        slip = (synchronous - speed) / synchronous
        marks = ((1 - 2 * slip) * f, (1 + 2 * slip) * f)
        cases[name] = {
            "run": run,
            "freq": freq,
            "level": level,
            "slip": slip,
            "marks": marks,
            "sidebands": [level_near(freq, level, m) for m in marks],
        }
    return cases


def plot(cases, f, path):
    fig, (ax_speed, ax_spectrum) = plt.subplots(2, 1, figsize=(9, 8))
    for name, c in cases.items():
        ax_speed.plot(c["run"].t, c["run"]["Vitesse(tr/mn)"], label=name, linewidth=0.8)
        ax_spectrum.plot(c["freq"], c["level"], label=f"{name} (g = {100 * c['slip']:.2f} %)",
                         linewidth=0.8)
    marks = cases["barre 0 cassée"]["marks"]
    for m, text in zip(marks, ("(1 - 2g) f", "(1 + 2g) f")):
        ax_spectrum.axvline(m, color="red", linestyle="--", linewidth=0.8)
        ax_spectrum.annotate(f"{text}\n{m:.2f} Hz", (m, -10), ha="center", color="red")
    ax_speed.set(xlabel="t (s)", ylabel="vitesse (tr/mn)", title="Démarrage, charge à 0,3 s, barre 0 cassée à 1 s")
    ax_speed.legend()
    ax_spectrum.set(xlim=(f - 15, f + 15), ylim=(-100, 5), xlabel="fréquence (Hz)",
                    ylabel="Ias (dB)", title="Spectre du courant statorique")
    ax_spectrum.legend(loc="lower left")
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--study", default=str(STUDY))
    parser.add_argument("--output", default="broken_bar.png")
    parser.add_argument("--window", type=float, default=1.4,
                        help="last seconds of each run taken for the spectrum")
    args = parser.parse_args(argv)
    study = mas.Study(args.study)
    cases = analyse(study, args.window)
    plot(cases, study["fs"], args.output)
    for name, c in cases.items():
        low, high = c["sidebands"]
        print(f"{name:15s} glissement {100 * c['slip']:.2f} %  raies (1 - 2g) f {low:6.1f} dB,"
              f"  (1 + 2g) f {high:6.1f} dB")
    print(f"Figure : {args.output}")
    return cases


if __name__ == "__main__":
    main()
