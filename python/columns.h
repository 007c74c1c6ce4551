#pragma once
// Columns of numbers handed to Python as numpy arrays that own their storage: the vector
// a run (or the table reader) filled is moved into a capsule that the array keeps as its
// base, so no value is copied and the array outlives whatever produced it.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace mas::python {

// A one-dimensional float64 array over `values`, which it takes.
pybind11::array_t<double> OwningArray(std::vector<double>&& values);

// Named columns of equal length, the time (or the first column of a file) first.
struct Table {
  std::vector<std::string> names;
  std::vector<pybind11::array_t<double>> arrays;

  // The column of this name; raises KeyError naming the columns there are.
  pybind11::array_t<double> Column(const std::string& name) const;
  bool Has(const std::string& name) const;
  pybind11::ssize_t Rows() const;
  pybind11::dict AsDict() const;
  // A pandas DataFrame over the same arrays (pandas imported on demand).
  pybind11::object DataFrame() const;
};

}  // namespace mas::python
