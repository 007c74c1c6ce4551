#include "viewer/core/session.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

#include "platform/file_replacement.h"

namespace mas::viewer {

namespace {

std::string Number(double v) {
  char buf[64];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

bool ParseDouble(std::string_view text, double& v) {
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  return ec == std::errc() && ptr == text.data() + text.size() && std::isfinite(v);
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    std::size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
    if (j > i) words.push_back(line.substr(i, j - i));
    i = j;
  }
  return words;
}

}  // namespace

std::string WriteSession(const Session& s) {
  std::string out = "tracix-session 1\n";
  if (!s.time_column.empty()) out += "time " + s.time_column + "\n";
  out += s.auto_time ? std::string("range auto\n")
                     : "range " + Number(s.time_range.lo) + " " + Number(s.time_range.hi) + "\n";
  out += s.readout == Readout::kNearest ? "readout nearest\n" : "readout interpolated\n";
  if (!s.cursors.empty()) {
    out += "cursors";
    for (double t : s.cursors) out += " " + Number(t);
    out += "\n";
  }
  for (const PlotSetup& plot : s.plots) {
    out += plot.auto_range ? std::string("plot auto\n")
                           : "plot " + Number(plot.range.lo) + " " + Number(plot.range.hi) + "\n";
    for (const std::string& curve : plot.curves) out += "curve " + curve + "\n";
  }
  for (const auto& [x, y] : s.xy) {
    out += "xy ";
    out += x;
    out += ' ';
    out += y;
    out += '\n';
  }
  if (!s.spectrum_column.empty()) {
    out += "spectrum " + s.spectrum_column + (s.spectrum_db ? " db\n" : " linear\n");
  }
  return out;
}

bool ParseSession(std::string_view text, Session& session, std::string& message) {
  Session s;
  std::size_t line_number = 0;
  bool seen_magic = false;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    const std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    ++line_number;
    const std::vector<std::string_view> w = Words(line);
    if (w.empty() || w[0].front() == '#') continue;
    auto fail = [&](const std::string& what) {
      message = "Session, ligne " + std::to_string(line_number) + " : " + what;
      return false;
    };
    const std::string_view key = w[0];
    if (!seen_magic) {
      if (key != "tracix-session" || w.size() != 2 || w[1] != "1") {
        return fail("ce n'est pas une session du visualiseur");
      }
      seen_magic = true;
      continue;
    }
    auto range = [&](std::size_t at, bool& automatic, Range& r) {
      if (w.size() == at + 1 && w[at] == "auto") {
        automatic = true;
        return true;
      }
      automatic = false;
      return w.size() == at + 2 && ParseDouble(w[at], r.lo) && ParseDouble(w[at + 1], r.hi) &&
             r.lo < r.hi;
    };
    if (key == "time" && w.size() == 2) {
      s.time_column = std::string(w[1]);
    } else if (key == "range") {
      if (!range(1, s.auto_time, s.time_range)) return fail("plage attendue (auto ou DEBUT FIN)");
    } else if (key == "readout" && w.size() == 2 && (w[1] == "interpolated" || w[1] == "nearest")) {
      s.readout = w[1] == "nearest" ? Readout::kNearest : Readout::kInterpolated;
    } else if (key == "cursors" && w.size() >= 2 && w.size() <= 3) {
      s.cursors.clear();
      for (std::size_t i = 1; i < w.size(); ++i) {
        double t = 0;
        if (!ParseDouble(w[i], t)) return fail("temps de curseur attendu");
        s.cursors.push_back(t);
      }
    } else if (key == "plot") {
      PlotSetup plot;
      if (!range(1, plot.auto_range, plot.range)) return fail("plage attendue (auto ou MIN MAX)");
      s.plots.push_back(plot);
    } else if (key == "curve" && w.size() == 2) {
      if (s.plots.empty()) return fail("« curve » avant le premier « plot »");
      s.plots.back().curves.emplace_back(w[1]);
    } else if (key == "xy" && w.size() == 3) {
      s.xy.emplace_back(std::string(w[1]), std::string(w[2]));
    } else if (key == "spectrum" && w.size() == 3 && (w[2] == "db" || w[2] == "linear")) {
      s.spectrum_column = std::string(w[1]);
      s.spectrum_db = w[2] == "db";
    } else {
      return fail("ligne non reconnue « " + std::string(line.substr(0, 60)) + " »");
    }
  }
  if (!seen_magic) {
    message = "Session vide";
    return false;
  }
  session = std::move(s);
  return true;
}

std::filesystem::path SessionPathFor(const std::filesystem::path& data_file) {
  std::filesystem::path p = data_file;
  p += ".tracix";
  return p;
}

bool SaveSession(const std::filesystem::path& path, const Session& session, std::string& message) {
  if (ReplaceFileContents(path.string(), WriteSession(session))) return true;
  message = "Impossible d'écrire le fichier " + path.string();
  return false;
}

bool LoadSession(const std::filesystem::path& path, Session& session, std::string& message) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    message = "Impossible d'ouvrir le fichier " + path.string();
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseSession(text.str(), session, message);
}

}  // namespace mas::viewer
