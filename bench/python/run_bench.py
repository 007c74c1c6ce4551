#!/usr/bin/env python3
"""A 10^6-step vector-control run from Python against the same run in C++.

Runs the examples' PI vector control for 10^6 steps of 1e-5 s, alternately in the C++
reference program (python_bench_reference, which times only the run) and through the
Python module (timing study.run()), and prints the CPU seconds of each, their medians and
their ratio. Then shows that taking the recorded columns as numpy arrays copies nothing
(the arrays are views of the run's own buffers, and a column costs the same whatever its
length), and times two runs in two Python threads against one.

    cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMAS_BUILD_TESTS=OFF
    cmake --build build/bench --target mas_python python_bench_reference
    PYTHONPATH=build/bench/python /usr/bin/python3 bench/python/run_bench.py \\
        --reference build/bench/bench/python/python_bench_reference
"""

import argparse
import pathlib
import statistics
import subprocess
import threading
import time

import numpy as np

import mas

STUDY = pathlib.Path(__file__).resolve().parents[2] / "examples" / "vector_control_pi.mas"
# 10^6 steps: t0 = 0 .. tf with dt = 1e-5 (the last step lands just below tf).
SETTINGS = {"tf": 9.999995, "OutSel.Wm": 1, "OutSel.Ias": 1, "OutSel.Ce": 1}


def cpp_run(reference):
    text = subprocess.run(
        [reference, STUDY, "1", *(f"{k}={v}" for k, v in SETTINGS.items())],
        check=True, capture_output=True, text=True,
    ).stdout.split()
    return float(text[0]), int(text[1])


def python_run(study):
    start = time.process_time()
    result = study.run()
    return time.process_time() - start, result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--reference", required=True, help="python_bench_reference program")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()

    study = mas.Study(STUDY)
    study.set(SETTINGS)
    cpp, python = [], []
    for i in range(args.runs):
        seconds, steps = cpp_run(args.reference)
        cpp.append(seconds)
        seconds_py, result = python_run(study)
        python.append(seconds_py)
        assert result.steps == steps == 1_000_000, (result.steps, steps)
        print(f"run {i + 1}: C++ {cpp[-1]:.3f} s   Python {python[-1]:.3f} s")
    for name, pick in (("median", statistics.median), ("fastest", min)):
        print(f"{name}: C++ {pick(cpp):.3f} s   Python {pick(python):.3f} s"
              f"   Python / C++ = {pick(python) / pick(cpp):.3f}")

    # The columns: views of the run's buffers, no copy.
    names = [n for n in result.names]
    start = time.perf_counter()
    for _ in range(1000):
        columns = [result[n] for n in names]
    per_access = (time.perf_counter() - start) / 1000 / len(names)
    start = time.perf_counter()
    copies = [np.array(c, copy=True) for c in columns]
    copy_time = (time.perf_counter() - start) / len(names)
    shared = all(np.shares_memory(c, result[n]) and not c.flags.owndata
                 for c, n in zip(columns, names))
    print(f"columns: {len(names)} x {result.table.rows} values; taking one as an array "
          f"{per_access * 1e6:.2f} µs (a copy would take {copy_time * 1e6:.0f} µs); "
          f"views of the run's buffers: {shared}")
    del copies

    # Two runs in two Python threads against one run alone (wall clock: the interpreter
    # is released while a run goes on, so on two cores they go on at once).
    start = time.perf_counter()
    study.run()
    one = time.perf_counter() - start
    threads = [threading.Thread(target=study.run) for _ in range(2)]
    start = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    two = time.perf_counter() - start
    print(f"one run {one:.3f} s, two runs in two threads {two:.3f} s (ratio {two / one:.2f})")


if __name__ == "__main__":
    main()
