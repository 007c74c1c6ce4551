#include "python/columns.h"

#include <algorithm>

namespace py = pybind11;

namespace mas::python {

py::array_t<double> OwningArray(std::vector<double>&& values) {
  auto* owned = new std::vector<double>(std::move(values));
  py::capsule base(owned, [](void* p) { delete static_cast<std::vector<double>*>(p); });
  const auto size = static_cast<py::ssize_t>(owned->size());
  return py::array_t<double>({size}, {static_cast<py::ssize_t>(sizeof(double))}, owned->data(),
                             base);
}

bool Table::Has(const std::string& name) const {
  return std::find(names.begin(), names.end(), name) != names.end();
}

py::array_t<double> Table::Column(const std::string& name) const {
  const auto it = std::find(names.begin(), names.end(), name);
  if (it == names.end()) {
    std::string known;
    for (const std::string& n : names) known += (known.empty() ? "" : ", ") + n;
    throw py::key_error("colonne inconnue « " + name + " » (colonnes : " + known + ")");
  }
  return arrays[static_cast<std::size_t>(it - names.begin())];
}

py::ssize_t Table::Rows() const { return arrays.empty() ? 0 : arrays.front().size(); }

py::dict Table::AsDict() const {
  py::dict out;
  for (std::size_t i = 0; i < names.size(); ++i) out[py::str(names[i])] = arrays[i];
  return out;
}

py::object Table::DataFrame() const {
  py::object pandas;
  try {
    pandas = py::module_::import("pandas");
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_ImportError)) throw;
    throw py::import_error(
        "pandas n'est pas installé : les colonnes restent disponibles en tableaux numpy");
  }
  return pandas.attr("DataFrame")(AsDict(), py::arg("copy") = false);
}

}  // namespace mas::python
