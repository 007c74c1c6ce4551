"""The broken-bar example: two cage runs, the current's spectrum and the figure."""

import runpy

import numpy as np

from conftest import EXAMPLES


def load_example():
    """The example script's functions, as if imported (its main() is not run)."""
    return runpy.run_path(str(EXAMPLES / "python" / "broken_bar.py"), run_name="broken_bar")


def test_a_broken_bar_shows_its_sidebands_and_the_figure_is_saved(tmp_path):
    figure = tmp_path / "broken_bar.png"
    cases = load_example()["main"](["--output", str(figure)])
    healthy, broken = cases["rotor sain"], cases["barre 0 cassée"]
    assert figure.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and figure.stat().st_size > 20000
    # Rated load: a few per cent of slip, a little more with a bar missing.
    assert 0.02 < healthy["slip"] < broken["slip"] < 0.08
    # The broken bar raises both sidebands well above the healthy cage's spectrum there...
    for low_or_high in (0, 1):
        assert broken["sidebands"][low_or_high] > healthy["sidebands"][low_or_high] + 6
    # ...and the lower one is a peak of its own at (1 - 2s) f.
    freq, level = broken["freq"], broken["level"]
    band = (freq > 42) & (freq < 48)
    peak = freq[band][np.argmax(level[band])]
    assert abs(peak - broken["marks"][0]) < 0.3
