"""Commande vectorielle de MAS: the induction machine drive workbench from Python."""

import os
from typing import Any, Callable, Iterator, Mapping, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

PathLike = Union[str, os.PathLike[str]]
Value = Union[float, int, bool, str, Sequence[int]]
Array = npt.NDArray[np.float64]

__version__: str

def describe(name: str) -> dict[str, str]:
    """The setting's "name", "group", accepted "values", "default", "unit" ("" for none)
    and "meaning" in French, as `mas settings` lists them."""

class Error(Exception):
    """A failure of the workbench, with its French message and its caption."""

    message: str
    caption: str
    def __init__(self, message: str, caption: str = "Erreur") -> None: ...

class FileError(Error, OSError):
    """A study, table or record that cannot be read or written (an OSError too)."""

class MissingFileError(FileError, FileNotFoundError):
    """A file to read that does not exist (a FileNotFoundError too)."""

class SettingError(Error, ValueError):
    """A value that cannot be stored in a setting, or a column the study does not record."""

class UnknownSettingError(SettingError, KeyError):
    """A name that is no setting; the message suggests the close names."""

class RunError(Error):
    """A run refused before its first step."""

class Table:
    """Named columns of equal length as numpy arrays, the time first."""

    @property
    def names(self) -> list[str]: ...
    @property
    def t(self) -> Array: ...
    @property
    def rows(self) -> int: ...
    def __getitem__(self, name: str) -> Array: ...
    def __contains__(self, name: str) -> bool: ...
    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[str]: ...
    def keys(self) -> list[str]: ...
    def items(self) -> Any: ...
    def to_dict(self) -> dict[str, Array]: ...
    def to_dataframe(self) -> Any:
        """A pandas DataFrame over the columns (ImportError without pandas)."""

class RunResult:
    """How a run ended ("reached_end", "interrupted", "diverged", "no_mode") and its columns."""

    status: str
    steps: int
    t_end: float
    message: str
    caption: str
    messages: list[tuple[str, str]]
    table: Table
    @property
    def ok(self) -> bool: ...
    @property
    def t(self) -> Array: ...
    @property
    def names(self) -> list[str]: ...
    def __getitem__(self, name: str) -> Array: ...
    def __contains__(self, name: str) -> bool: ...
    def keys(self) -> list[str]: ...
    def to_dict(self) -> dict[str, Array]: ...
    def to_dataframe(self) -> Any: ...

class Session:
    """State carried from one run to the next (flux angle, modulator, costs)."""

    def __init__(self, dsv_type: int = 1) -> None: ...
    @property
    def ThetaDir(self) -> float: ...
    @property
    def WsDir(self) -> float: ...
    @property
    def CostIdent(self) -> float: ...
    @property
    def CostReg(self) -> float: ...
    @property
    def dsv_type(self) -> int: ...

class Study:
    """Every setting of a simulation, by the names of ``mas run --set``."""

    def __init__(self, path: Optional[PathLike] = None, echo: Optional[PathLike] = None) -> None: ...
    @staticmethod
    def read(path: PathLike, echo: Optional[PathLike] = None) -> Study: ...
    def save(self, path: PathLike) -> None: ...
    def __getitem__(self, name: str) -> Any: ...
    def __setitem__(self, name: str, value: Value) -> None:
        """Stores one setting as --set does. A value no run can use (dt <= 0, NaN, Nr < 3,
        NTregI < 1, Flux_typ > 10, a float for an integer...) raises SettingError, a
        ValueError, here, and the setting keeps its value; what depends on other settings
        (t0 before tf, dt against tf - t0) is judged by run()."""
    def set(self, values: Optional[Mapping[str, Value]] = None, /, **kwargs: Value) -> None: ...
    def get(self, name: str, default: Any = None) -> Any: ...
    def __contains__(self, name: str) -> bool: ...
    def __iter__(self) -> Iterator[str]: ...
    def __len__(self) -> int: ...
    def keys(self) -> list[str]: ...
    def items(self) -> Any: ...
    def to_dict(self) -> dict[str, Any]: ...
    def copy(self) -> Study: ...
    def __copy__(self) -> Study: ...
    def __deepcopy__(self, memo: Any) -> Study: ...
    @property
    def path(self) -> str: ...
    @property
    def loaded(self) -> bool: ...
    def columns(self) -> list[str]: ...
    def run(
        self,
        columns: Optional[Sequence[str]] = None,
        output: Optional[PathLike] = None,
        session: Optional[Session] = None,
        progress: Optional[Callable[[int], object]] = None,
    ) -> RunResult: ...

class OptimisationResult:
    """What an identification or a tuning found."""

    method: str
    status: str
    message: str
    best: dict[str, float]
    score: float
    history: dict[str, Array]
    study: Study
    messages: list[tuple[str, str]]
    intervals: dict[str, tuple[float, float]]
    standard_errors: dict[str, float]
    warnings: list[str]

identification_methods: tuple[str, ...]
"""The methods of identify() this build has ("ga", "pso", and "fit" with the trajectory fit)."""

def read_table(path: PathLike, partial: bool = False) -> Table: ...
def identify(
    study: Study,
    record: Optional[PathLike] = None,
    method: str = "ga",
    iterations: int = 10,
    seed: Optional[int] = None,
    threads: int = 0,
    init: Optional[Sequence[float]] = None,
    genes: Optional[Sequence[str]] = None,
    logs: Optional[PathLike] = None,
    progress: Optional[Callable[[int, float, dict[str, float]], object]] = None,
    starts: int = 0,
    n1: int = 10,
    n2: int = 10,
    pincrement: float = 0.01,
    gincrement: float = 0.01,
    w1: float = 0.98,
    w2: float = 1.01,
    bootstrap: Optional[int] = None,
    profile: bool = False,
) -> OptimisationResult: ...
def tune(
    study: Study,
    regulator: str = "ip",
    iterations: int = 10,
    seed: Optional[int] = None,
    recover: bool = False,
    threads: int = 0,
    logs: Optional[PathLike] = None,
    progress: Optional[Callable[[int, float, dict[str, float]], object]] = None,
    *,
    generations: Optional[int] = None,
) -> OptimisationResult:
    """iterations: the genetic algorithm's generations, the word identify() uses;
    generations= is its former name, deprecated (DeprecationWarning)."""
