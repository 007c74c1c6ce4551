#include "sweep/sweep_file.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <set>
#include <sstream>

#include "files/settings_override.h"

namespace mas {
namespace {

constexpr std::string_view kSpaces = " \t\r";

std::string_view Trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(kSpaces);
  if (first == std::string_view::npos) return {};
  const std::size_t last = s.find_last_not_of(kSpaces);
  return s.substr(first, last - first + 1);
}

std::string Quoted(std::string_view s) { return "« " + std::string(s) + " »"; }

// The line without its comment ("#" outside double quotes).
std::string_view WithoutComment(std::string_view line) {
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == '#' && !quoted) return line.substr(0, i);
  }
  return line;
}

class LineParser {
 public:
  LineParser(const std::string& file_name, int line) : file_name_(file_name), line_(line) {}

  [[noreturn]] void Fail(std::string_view detail) const {
    throw SweepFileError(file_name_ + ", ligne " + std::to_string(line_) + " : " +
                         std::string(detail));
  }

  double Real(std::string_view text, std::string_view what) const {
    std::string_view v = Trim(text);
    if (v.size() > 1 && v[0] == '+') v.remove_prefix(1);
    double x = 0.0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), x);
    if (v.empty() || ec != std::errc{} || end != v.data() + v.size() || !std::isfinite(x)) {
      Fail(std::string(what) + " : réel attendu, lu " + Quoted(Trim(text)));
    }
    return x;
  }

  template <class Int>
  Int Whole(std::string_view text, std::string_view what, Int low) const {
    const std::string_view v = Trim(text);
    Int x = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), x);
    if (v.empty() || ec != std::errc{} || end != v.data() + v.size() || x < low) {
      Fail(std::string(what) + " : entier >= " + std::to_string(low) + " attendu, lu " + Quoted(v));
    }
    return x;
  }

  // Splits on the commas outside double quotes and parentheses; quotes are removed.
  std::vector<std::string> SplitList(std::string_view text) const {
    std::vector<std::string> items;
    std::string item;
    bool quoted = false;
    bool was_quoted = false;
    int depth = 0;
    auto finish = [&]() {
      std::string_view value = was_quoted ? std::string_view(item) : Trim(item);
      if (value.empty() && !was_quoted) Fail("valeur vide dans la liste");
      items.emplace_back(value);
      item.clear();
      was_quoted = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if (c == '"') {
        if (!quoted && !Trim(item).empty()) Fail("guillemet au milieu d'une valeur");
        if (!quoted) item.clear();
        quoted = !quoted;
        was_quoted = true;
        if (!quoted) {
          // Only spaces may follow the closing quote before the next comma.
          const std::size_t next = text.find_first_not_of(kSpaces, i + 1);
          if (next != std::string_view::npos && text[next] != ',') {
            Fail("virgule attendue après la valeur entre guillemets");
          }
          if (next != std::string_view::npos) i = next - 1;
        }
        continue;
      }
      if (!quoted) {
        if (c == '(') ++depth;
        if (c == ')') --depth;
        if (c == ',' && depth == 0) {
          finish();
          continue;
        }
      }
      item += c;
    }
    if (quoted) Fail("guillemet fermant attendu");
    finish();
    return items;
  }

 private:
  const std::string& file_name_;
  int line_;
};

// "name(inner)" -> (name, inner); false when the text is not of that form.
bool SplitCall(std::string_view text, std::string_view& name, std::string_view& inner) {
  const std::size_t open = text.find('(');
  if (open == std::string_view::npos || text.back() != ')') return false;
  name = Trim(text.substr(0, open));
  inner = text.substr(open + 1, text.size() - open - 2);
  return !name.empty();
}

struct MetricName {
  std::string_view name;
  MetricKind kind;
};
constexpr MetricName kMetricNames[] = {
    {"mean", MetricKind::kMean}, {"rms", MetricKind::kRms},     {"min", MetricKind::kMin},
    {"max", MetricKind::kMax},   {"final", MetricKind::kFinal}, {"band", MetricKind::kBand},
};

// Window of the metrics that follow, as written (for the labels).
struct Window {
  bool set = false;
  double t1 = 0.0, t2 = 0.0;
  std::string text;
};

MetricSpec ParseMetric(const LineParser& p, std::string_view value, const Window& window) {
  std::string_view name, inner;
  if (!SplitCall(value, name, inner)) {
    p.Fail("métrique attendue : mean(COLONNE), rms, min, max, final ou band(COLONNE, F1, F2), lu " +
           Quoted(value));
  }
  MetricSpec m;
  bool known = false;
  for (const MetricName& k : kMetricNames) {
    if (k.name == name) {
      m.kind = k.kind;
      known = true;
    }
  }
  if (!known) {
    p.Fail("métrique inconnue " + Quoted(name) + " : mean, rms, min, max, final ou band attendu");
  }
  // The column may hold parentheses ("Ias(A)"); the band's frequencies follow the last
  // two commas outside them.
  const std::vector<std::string> args = p.SplitList(inner);
  const std::size_t wanted = m.kind == MetricKind::kBand ? 3 : 1;
  if (args.size() != wanted) {
    p.Fail(m.kind == MetricKind::kBand
               ? "band(COLONNE, F1, F2) attendu, lu " + Quoted(value)
               : std::string(name) + "(COLONNE) attendu, lu " + Quoted(value));
  }
  m.column = args[0];
  m.label = std::string(name) + "(" + m.column;
  if (m.kind == MetricKind::kBand) {
    m.f1 = p.Real(args[1], "première fréquence de band");
    m.f2 = p.Real(args[2], "seconde fréquence de band");
    if (m.f1 < 0.0 || m.f2 <= m.f1) p.Fail("band : 0 <= F1 < F2 attendu");
    m.label += ", " + args[1] + ", " + args[2];
  }
  m.label += ")";
  if (window.set) {
    m.windowed = true;
    m.t1 = window.t1;
    m.t2 = window.t2;
    m.label += " [" + window.text + "]";
  }
  if (m.kind == MetricKind::kBand) m.frequency_label = "freq" + m.label.substr(4);
  return m;
}

// Checks one value of a parameter as --set would take it.
void CheckValue(const LineParser& p, const std::string& name, const std::string& value) {
  try {
    ParseOverride(name + "=" + value);
  } catch (const OverrideError& e) {
    std::string_view message = e.what();
    if (message.starts_with("--set ")) message.remove_prefix(6);
    p.Fail(message);
  }
}

// start:step:stop written out; the last value is stop when the steps land on it within
// a millionth of a step.
std::vector<std::string> ExpandRange(const LineParser& p, std::string_view text) {
  const std::size_t c1 = text.find(':');
  const std::size_t c2 = text.find(':', c1 + 1);
  const double start = p.Real(text.substr(0, c1), "début de l'intervalle");
  const double step = p.Real(text.substr(c1 + 1, c2 - c1 - 1), "pas de l'intervalle");
  const double stop = p.Real(text.substr(c2 + 1), "fin de l'intervalle");
  if (step == 0.0) p.Fail("pas de l'intervalle non nul attendu");
  const double steps = (stop - start) / step;
  if (steps < -1e-6) p.Fail("intervalle vide : le pas va dans le sens opposé de la fin");
  if (!(steps < 1e7)) p.Fail("intervalle de plus de dix millions de valeurs");
  const long long count = static_cast<long long>(std::floor(steps + 1e-6)) + 1;
  std::vector<std::string> values;
  values.reserve(static_cast<std::size_t>(count));
  for (long long i = 0; i < count; ++i) {
    // Each value from the start, so that rounding does not pile up along the range; the
    // last one is the stop itself when the steps land on it.
    const double v = i == count - 1 && std::fabs(steps - static_cast<double>(i)) <= 1e-6
                         ? stop
                         : start + static_cast<double>(i) * step;
    values.push_back(ShortestText(v));
  }
  return values;
}

bool LooksLikeRange(std::string_view text) {
  std::size_t colons = 0;
  for (char c : text) colons += c == ':' ? 1 : 0;
  return colons == 2 && text.find('"') == std::string_view::npos;
}

}  // namespace

std::string ShortestText(double value) {
  if (std::isnan(value)) return "nan";
  char buf[64];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, result.ptr);
}

SweepFile ParseSweepFile(std::string_view text, const std::string& file_name) {
  SweepFile f;
  f.file_name = file_name;
  Window window;
  std::set<std::string> names;   // parameters and set lines
  std::set<std::string> seen;    // directives given once
  std::set<std::string> labels;  // metric labels
  int line_number = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view raw = text.substr(pos, end - pos);
    pos = end + 1;
    ++line_number;
    const std::string_view line = Trim(WithoutComment(raw));
    if (line.empty()) continue;
    const LineParser p(file_name, line_number);

    if (line.starts_with("set ") || line.starts_with("set\t")) {
      const std::string change(Trim(line.substr(4)));
      const std::size_t eq = change.find('=');
      if (eq == std::string::npos) p.Fail("set NOM=VALEUR attendu, lu " + Quoted(line));
      const std::string name(Trim(std::string_view(change).substr(0, eq)));
      const std::string value(Trim(std::string_view(change).substr(eq + 1)));
      CheckValue(p, name, value);
      std::string fixed = name;
      fixed += '=';
      fixed += value;
      f.changes.push_back({std::move(fixed), -1, line_number});
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      p.Fail(
          "NOM = valeurs, set NOM=VALEUR, study, combine, samples, seed, window ou metric "
          "attendu, lu " +
          Quoted(line));
    }
    const std::string key(Trim(line.substr(0, eq)));
    const std::string_view value = Trim(line.substr(eq + 1));
    if (key.empty()) p.Fail("nom attendu avant « = »");
    if (value.empty()) p.Fail("valeur attendue après « " + key + " = »");

    auto once = [&]() {
      if (!seen.insert(key).second) p.Fail(key + " est déjà donné plus haut");
    };
    if (key == "study") {
      once();
      std::string path(value);
      if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
        path = path.substr(1, path.size() - 2);
      }
      const std::filesystem::path study(path);
      f.study = study.is_absolute()
                    ? path
                    : (std::filesystem::path(file_name).parent_path() / study).string();
    } else if (key == "combine") {
      once();
      if (value != "grid" && value != "zip") p.Fail("grid ou zip attendu, lu " + Quoted(value));
      f.zip = value == "zip";
    } else if (key == "samples") {
      once();
      f.samples = p.Whole<long long>(value, "samples", 1);
    } else if (key == "seed") {
      once();
      f.seed = p.Whole<std::uint64_t>(value, "seed", 0);
    } else if (key == "window") {
      if (value == "all") {
        window = Window{};
        continue;
      }
      const std::vector<std::string> ends = p.SplitList(value);
      if (ends.size() != 2) p.Fail("window = T1, T2 ou window = all attendu");
      window.set = true;
      window.t1 = p.Real(ends[0], "début de la fenêtre");
      window.t2 = p.Real(ends[1], "fin de la fenêtre");
      if (window.t2 < window.t1) p.Fail("fenêtre T1, T2 avec T1 <= T2 attendue");
      window.text = ends[0] + ", " + ends[1];
    } else if (key == "metric") {
      MetricSpec m = ParseMetric(p, value, window);
      m.line = line_number;
      if (!labels.insert(m.label).second) p.Fail("métrique déjà demandée : " + m.label);
      f.metrics.push_back(std::move(m));
    } else {
      // A parameter: its name must be one --set knows.
      if (!names.insert(key).second) p.Fail("le paramètre " + key + " est déjà donné plus haut");
      SweepParameter param;
      param.name = key;
      param.line = line_number;
      std::string_view call, inner;
      if (SplitCall(value, call, inner) && (call == "uniform" || call == "normal")) {
        const std::vector<std::string> args = p.SplitList(inner);
        if (args.size() != 2) p.Fail(std::string(call) + "(A, B) attendu, lu " + Quoted(value));
        param.kind =
            call == "uniform" ? SweepParameter::Kind::kUniform : SweepParameter::Kind::kNormal;
        param.a = p.Real(args[0], std::string(call) + ", premier argument");
        param.b = p.Real(args[1], std::string(call) + ", second argument");
        if (param.kind == SweepParameter::Kind::kUniform && param.b < param.a) {
          p.Fail("uniform(A, B) avec A <= B attendu");
        }
        if (param.kind == SweepParameter::Kind::kNormal && param.b < 0.0) {
          p.Fail("normal(M, S) avec un écart type S >= 0 attendu");
        }
        // The draws are reals: the name must be a real setting.
        CheckValue(p, key, ShortestText(param.a));
        const Override o = ParseOverride(key + "=" + ShortestText(param.a));
        if (o.kind != Override::Kind::kField || o.type != ValueType::kReal) {
          p.Fail(std::string(call) + " tire des réels : " + key + " n'est pas un paramètre réel");
        }
      } else {
        param.values = LooksLikeRange(value) ? ExpandRange(p, value) : p.SplitList(value);
        for (const std::string& v : param.values) CheckValue(p, key, v);
      }
      f.changes.push_back({"", static_cast<int>(f.parameters.size()), line_number});
      f.parameters.push_back(std::move(param));
    }
  }
  if (f.study.empty()) {
    throw SweepFileError(file_name + " : la ligne study = ETUDE.mas est attendue");
  }
  return f;
}

SweepFile ReadSweepFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SweepFileError("Impossible d'ouvrir le fichier " + path);
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw SweepFileError("Impossible de lire le fichier " + path);
  return ParseSweepFile(text.str(), path);
}

// ---------------------------------------------------------------------------------------

namespace {

// 64-bit FNV-1a of a parameter's name: its draws do not depend on its place in the file.
std::uint64_t NameHash(std::string_view name) {
  std::uint64_t h = 14695981039346656037ULL;
  for (char c : name) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ULL;
  }
  return h;
}

double Unit(std::mt19937_64& g) { return static_cast<double>(g() >> 11) * 0x1p-53; }

std::vector<double> Draw(const SweepParameter& p, std::uint64_t seed, long long count) {
  const std::uint64_t h = NameHash(p.name);
  std::seed_seq seq{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                    static_cast<std::uint32_t>(h), static_cast<std::uint32_t>(h >> 32)};
  std::mt19937_64 g(seq);
  std::vector<double> draws;
  draws.reserve(static_cast<std::size_t>(count));
  for (long long i = 0; i < count; ++i) {
    if (p.kind == SweepParameter::Kind::kUniform) {
      draws.push_back(p.a + (p.b - p.a) * Unit(g));
    } else {
      const double u1 = 1.0 - Unit(g);  // in (0, 1]
      const double u2 = Unit(g);
      draws.push_back(p.a +
                      p.b * std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2));
    }
  }
  return draws;
}

[[noreturn]] void FailSize(const SweepFile& f, const std::string& detail) {
  throw SweepFileError(f.file_name + " : " + detail);
}

}  // namespace

SweepPlan::SweepPlan(const SweepFile& file) : file_(file), zip_(file.zip) {
  const auto& params = file_.parameters;
  bool has_draws = false;
  for (const auto& p : params) has_draws |= p.kind != SweepParameter::Kind::kList;
  if (has_draws && file_.samples == 0) {
    FailSize(file_, "samples = N est attendu pour tirer les distributions");
  }
  if (!has_draws && file_.samples != 0) {
    FailSize(file_, "samples = N est donné sans aucune distribution uniform(...) ou normal(...)");
  }
  if (file_.samples > kMaxRuns) FailSize(file_, "samples trop grand");

  axis_of_.assign(params.size(), -1);
  if (zip_) {
    long long length = has_draws ? file_.samples : 1;
    for (const auto& p : params) {
      if (p.kind != SweepParameter::Kind::kList || p.values.size() == 1) continue;
      const auto n = static_cast<long long>(p.values.size());
      if (length != 1 && n != length) {
        FailSize(file_, "ligne " + std::to_string(p.line) + " : combine = zip demande des listes " +
                            "de même longueur (et samples égal à leur longueur) : " +
                            std::to_string(n) + " valeurs au lieu de " + std::to_string(length));
      }
      length = n;
    }
    size_ = length;
  } else {
    int draws_axis = -1;
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (params[i].kind != SweepParameter::Kind::kList) {
        if (draws_axis < 0) {
          draws_axis = static_cast<int>(axis_length_.size());
          axis_length_.push_back(file_.samples);
        }
        axis_of_[i] = draws_axis;
      } else {
        axis_of_[i] = static_cast<int>(axis_length_.size());
        axis_length_.push_back(static_cast<long long>(params[i].values.size()));
      }
    }
    // The last axis varies fastest.
    axis_stride_.assign(axis_length_.size(), 1);
    size_ = 1;
    for (std::size_t a = axis_length_.size(); a-- > 0;) {
      axis_stride_[a] = size_;
      if (size_ > kMaxRuns / axis_length_[a]) {
        FailSize(file_, "plus de " + std::to_string(kMaxRuns) + " simulations");
      }
      size_ *= axis_length_[a];
    }
  }
  if (size_ > kMaxRuns) FailSize(file_, "plus de " + std::to_string(kMaxRuns) + " simulations");
  draws_.resize(params.size());
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (params[i].kind != SweepParameter::Kind::kList) {
      draws_[i] = Draw(params[i], file_.seed, file_.samples);
    }
  }
}

long long SweepPlan::Position(long long run, int parameter) const {
  const auto& p = file_.parameters[static_cast<std::size_t>(parameter)];
  if (zip_) return p.kind == SweepParameter::Kind::kList && p.values.size() == 1 ? 0 : run;
  const int axis = axis_of_[static_cast<std::size_t>(parameter)];
  return run / axis_stride_[static_cast<std::size_t>(axis)] %
         axis_length_[static_cast<std::size_t>(axis)];
}

std::string SweepPlan::Value(long long run, int parameter) const {
  const auto& p = file_.parameters[static_cast<std::size_t>(parameter)];
  const auto k = static_cast<std::size_t>(Position(run, parameter));
  if (p.kind == SweepParameter::Kind::kList) return p.values[k];
  return ShortestText(draws_[static_cast<std::size_t>(parameter)][k]);
}

std::vector<std::string> SweepPlan::Changes(long long run) const {
  std::vector<std::string> changes;
  changes.reserve(file_.changes.size());
  for (const SweepChange& c : file_.changes) {
    if (c.parameter < 0) {
      changes.push_back(c.fixed);
    } else {
      changes.push_back(file_.parameters[static_cast<std::size_t>(c.parameter)].name + "=" +
                        Value(run, c.parameter));
    }
  }
  return changes;
}

}  // namespace mas
