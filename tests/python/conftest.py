"""Shared fixtures of the Python module's tests: the example studies, the `mas` command
line to compare with, and a scratch folder per test."""

import os
import pathlib
import subprocess

import pytest

SOURCE = pathlib.Path(os.environ.get("MAS_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
EXAMPLES = SOURCE / "examples"


@pytest.fixture
def examples():
    return EXAMPLES


@pytest.fixture
def mas_cli():
    """Runs the `mas` command line in a folder and returns the completed process."""
    cli = os.environ.get("MAS_CLI")
    if not cli:
        pytest.skip("MAS_CLI not set (run through ctest)")

    def run(args, cwd):
        return subprocess.run([cli, *map(str, args)], cwd=cwd, capture_output=True, text=True)

    return run


def table_words(path):
    """Header names and rows of words of an output table."""
    lines = pathlib.Path(path).read_text().splitlines()
    return lines[0].split(), [line.split() for line in lines[1:]]
