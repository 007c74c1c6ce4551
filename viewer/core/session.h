#pragma once
// A viewer session: which plots show which columns, their ranges, the time range, the
// cursors, the spectrum and the XY plots, kept as a small plain-text file beside the
// data ("out.dat" -> "out.dat.tracix") so that the same kind of table opens the same way.
//
//   tracix-session 1
//   time time(s)
//   range 0.2 0.35            (or "range auto")
//   readout interpolated      (or "nearest")
//   cursors 0.25 0.27         (optional; one or two times)
//   plot auto                 (or "plot LO HI"), then one "curve NAME" per column
//   curve Ias(A)
//   xy Phi_alpha_s(Wb) Phi_beta_s(Wb)
//   spectrum Ias(A) db        (or "linear")
//
// Column names hold no white space (the tables split on it); numbers are written with a
// decimal point and enough digits to read back the same double.

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "viewer/core/cursor.h"
#include "viewer/core/plot_geometry.h"

namespace mas::viewer {

struct PlotSetup {
  std::vector<std::string> curves;
  bool auto_range = true;
  Range range;
  bool operator==(const PlotSetup&) const = default;
};

struct Session {
  std::string time_column;
  bool auto_time = true;
  Range time_range;
  Readout readout = Readout::kInterpolated;
  std::vector<double> cursors;  // zero, one or two times
  std::vector<PlotSetup> plots;
  std::vector<std::pair<std::string, std::string>> xy;  // (x column, y column)
  std::string spectrum_column;                          // empty: no spectrum window
  bool spectrum_db = true;
  bool operator==(const Session&) const = default;
};

std::string WriteSession(const Session& session);
// Reads a session; false with a message naming the line when the text is not one.
bool ParseSession(std::string_view text, Session& session, std::string& message);

// The session file kept beside a data file.
std::filesystem::path SessionPathFor(const std::filesystem::path& data_file);

// Saves and loads a session file (the previous file is kept when writing fails).
bool SaveSession(const std::filesystem::path& path, const Session& session, std::string& message);
bool LoadSession(const std::filesystem::path& path, Session& session, std::string& message);

}  // namespace mas::viewer
