#include "python/optimisers.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "engine/run_simulation.h"
#include "identification/candidate_evaluator.h"
#include "identification/experimental_file.h"
#include "identification/genetic_algorithm.h"
#include "identification/particle_swarm.h"
#include "identification/random.h"
#include "identification/workbench.h"
#include "python/columns.h"
#include "python/python_platform.h"
#include "python/study.h"
#include "tuning/speed_regulator_tuning.h"
#ifdef MAS_PYTHON_FIT
#include "fit/fit_report.h"
#include "fit/trajectory_fit.h"
#endif

namespace py = pybind11;
using namespace pybind11::literals;

namespace mas::python {
namespace {

constexpr const char* kDivergedText = "La simulation a divergée";

// The folder of the optimisers' logs: the one asked for, or a fresh temporary folder
// removed at the end, so that a call without `logs` leaves no file behind.
class LogFolder {
 public:
  explicit LogFolder(const std::optional<std::string>& asked) {
    if (asked) {
      path_ = *asked;
      return;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "mas_logs_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("Impossible de créer un dossier temporaire pour les journaux");
    }
    path_ = pattern;
    temporary_ = true;
  }
  ~LogFolder() {
    std::error_code ignored;
    if (temporary_) std::filesystem::remove_all(path_, ignored);
  }
  LogFolder(const LogFolder&) = delete;
  LogFolder& operator=(const LogFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  bool temporary_ = false;
};

// What an optimisation leaves: the best parameters after each completed iteration.
struct History {
  std::vector<std::string> gene_names;
  std::vector<double> iteration;
  std::vector<double> score;  // cost (identification) or fitness (tuning)
  std::vector<std::vector<double>> genes;
  std::vector<double> diverged;

  template <class G>
  void Add(int i, double value, const G& best, int diverged_runs) {
    iteration.push_back(i);
    score.push_back(value);
    if (genes.empty()) genes.resize(gene_names.size());
    for (std::size_t j = 0; j < gene_names.size(); ++j) genes[j].push_back(best[j]);
    diverged.push_back(diverged_runs);
  }

  py::dict ToPython(const char* score_name) {
    py::dict out;
    out["iteration"] = OwningArray(std::move(iteration));
    out[score_name] = OwningArray(std::move(score));
    genes.resize(gene_names.size());
    for (std::size_t j = 0; j < gene_names.size(); ++j) {
      out[py::str(gene_names[j])] = OwningArray(std::move(genes[j]));
    }
    out["diverged"] = OwningArray(std::move(diverged));
    return out;
  }
};

template <class G>
std::map<std::string, double> Named(const std::vector<std::string>& names, const G& values) {
  std::map<std::string, double> out;
  for (std::size_t j = 0; j < names.size(); ++j) out[names[j]] = values[j];
  return out;
}

// Removes the divergence messages of the candidates (a diverged candidate is an ordinary,
// very bad score) and returns how many there were.
int TakeDiverged(PythonPlatform& platform) {
  auto& messages = platform.mutable_messages();
  const auto before = messages.size();
  std::erase_if(messages, [](const PythonPlatform::Message& m) { return m.text == kDivergedText; });
  return static_cast<int>(before - messages.size());
}

std::string EndName(EvaluationEnd end) {
  switch (end) {
    case EvaluationEnd::kComplete:
      return "complete";
    case EvaluationEnd::kTrZero:
      return "tr_zero";
    case EvaluationEnd::kInterrupted:
      return "interrupted";
    case EvaluationEnd::kRefused:
      return "refused";
  }
  return "refused";
}

struct OptimisationResult {
  std::string method;
  std::string status;  // "complete", "stopped", "refused", "tr_zero", "interrupted"
  std::string message;
  py::dict best;
  double score = NAN;
  py::dict history;
  Study study;
  py::list messages;
  // The trajectory fit's statistics (empty for the other methods).
  std::map<std::string, std::pair<double, double>> intervals;
  std::map<std::string, double> standard_errors;
  std::vector<std::string> warnings;
  std::string report_json;  // the fit's report, as `mas identify fit --report FILE.json`
};

std::vector<std::string> GeneNames() { return {kGeneNames.begin(), kGeneNames.end()}; }

struct IdentifyOptions {
  std::string method;
  std::optional<std::string> record;
  int iterations = 10;
  std::optional<std::uint32_t> seed;
  int threads = 0;
  std::optional<Genes> init;
  std::optional<std::vector<std::string>> genes;
  std::optional<std::string> logs;
  int starts = 0;        // the fit's extra starts
  int bootstrap = 0;     // the fit's bootstrap resamples (0: none)
  bool profile = false;  // the fit's profile-likelihood intervals
  int n1 = 10, n2 = 10;
  double pincrement = 0.01, gincrement = 0.01, w1 = 0.98, w2 = 1.01;
};

// The loop of the identification, with the interpreter released.
void IdentifyReleased(const IdentifyOptions& o, SimulationSettings& s, PythonPlatform& platform,
                      OptimisationResult& result, History& history, Genes& best,
                      std::string& failure, py::object*& failure_type) {
  CarriedState carried;
  if (o.record) s.ExpNom = *o.record;
  const ExperimentalReadResult read =
      ReadExperimentalFile(s, carried.experiment, platform,
                           o.record ? RecordLookup::kAsNamed : RecordLookup::kBesideStudyFirst);
  if (!read.usable()) {
    failure = read.message;
    // "introuvable" covers an unreadable record too: only an absent one is FileNotFoundError.
    std::error_code ignored;
    const bool missing = read.status == ExperimentalReadStatus::kNotFound &&
                         !std::filesystem::exists(read.path, ignored);
    failure_type = missing ? &Errors().missing_file : &Errors().file_error;
    return;
  }
  if (o.genes) {
    for (int j = 0; j < NGenes; ++j) {
      s.GenX[static_cast<std::size_t>(j)] =
          std::find(o.genes->begin(), o.genes->end(), kGeneNames[static_cast<std::size_t>(j)]) !=
          o.genes->end();
    }
  }
  const RunOutcome tables = BuildExperimentalTables(s, carried, platform, nullptr);
  if (!s.ExpTableReady) {
    failure = tables.message.empty() ? std::string(kRunErrorMessage) : tables.message;
    failure_type = &Errors().run_error;
    return;
  }
  const LogFolder folder(o.logs);
  const CandidateEvaluator evaluator(o.threads > 0 ? o.threads : MachineThreads());
  const std::uint32_t seed = o.seed ? *o.seed : CalendarSeconds();
  LcgRandom rng;
  result.status = "complete";
  auto end_with = [&](EvaluationEnd end) {
    result.status = EndName(end);
    if (!platform.messages().empty()) result.message = platform.messages().back().text;
  };

#ifdef MAS_PYTHON_FIT
  if (o.method == "fit") {
    FitOptions options;
    options.max_iterations = o.iterations;
    options.starts = o.starts;
    options.seed = seed;
    options.threads = o.threads;
    options.bootstrap = o.bootstrap;
    options.profile = o.profile;
    const Genes guess = o.init ? *o.init : GenesOfMachine(s.dq);
    int point = 0;
    bool asked_stop = false;
    const FitResult fit =
        FitTrajectory(guess, s, carried, platform, options, [&](const FitProgress& p) {
          history.Add(point, p.cost, p.genes, 0);
          if (!platform.Report(point++, p.cost, Named(history.gene_names, p.genes))) {
            asked_stop = true;
          }
        });
    best = fit.genes;
    result.score = fit.cost;
    result.message = fit.message;
    switch (fit.end) {
      case FitEnd::kConverged:
        result.status = "converged";
        break;
      case FitEnd::kIterationLimit:
        result.status = "iteration_limit";
        break;
      case FitEnd::kInterrupted:
        result.status = asked_stop ? "stopped" : "interrupted";
        break;
      case FitEnd::kFailed:
        result.status = "failed";
        break;
      case FitEnd::kRefused:
        result.status = "refused";
        break;
    }
    for (const FittedParameter& p : fit.parameters) {
      const std::string name = kGeneNames[static_cast<std::size_t>(p.gene)];
      result.standard_errors[name] = p.standard_error;
      if (fit.statistics) result.intervals[name] = {p.lower95, p.upper95};
    }
    result.warnings = fit.warnings;
    FitReportContext context;
    context.study = s.ParamFileName;
    context.record = s.ExpNom;
    context.threads = o.threads > 0 ? o.threads : MachineThreads();
    context.seed = seed;
    result.report_json = FormatFitReportJson(fit, context);
    return;
  }
#endif
  if (o.method == "ga") {
    GeneticIdentification ga(rng, folder.path());
    if (o.init) {
      rng.Randomize(seed);
      ga.RestartHistory(platform);
      if (!ga.Initialise(0, *o.init, s, platform)) {
        end_with(EvaluationEnd::kTrZero);
        best = *o.init;
        return;
      }
    } else {
      ga.Randomize(s.GenX, seed, platform);
    }
    best = ga.XOld[0];
    for (int n = 0; n < o.iterations; ++n) {
      const GenerationReport report = ga.RunGeneration(s, carried, platform, evaluator);
      const int diverged = TakeDiverged(platform);
      if (report.end != EvaluationEnd::kComplete) {
        end_with(report.end);
        break;
      }
      best = ga.XOld[0];
      result.score = 1 / ga.BestFitness;
      history.Add(ga.Gen, result.score, best, diverged);
      if (!platform.Report(ga.Gen, result.score, Named(history.gene_names, best))) {
        result.status = "stopped";
        break;
      }
      if (platform.InterruptPending()) break;
    }
    return;
  }

  ParticleSwarmIdentification pso(rng, folder.path());
  pso.UpdateWeights(o.pincrement, o.gincrement, o.w1, o.w2);
  if (!pso.Allocate(o.n1, o.n2, s.GenX, seed, platform)) {
    failure = platform.messages().empty() ? "Essaim impossible" : platform.messages().back().text;
    failure_type = &Errors().setting_error;
    return;
  }
  if (o.init) {
    // The guess as the global best, then a swarm drawn again keeping it (as mas identify).
    if (!pso.InitialiseSwarm(0, *o.init, false, s, platform)) {
      end_with(EvaluationEnd::kTrZero);
      best = *o.init;
      return;
    }
    const EpochReport report = pso.RunEpoch(s, carried, platform, evaluator);
    TakeDiverged(platform);
    if (report.end != EvaluationEnd::kComplete) {
      end_with(report.end);
      best = pso.pbest[static_cast<std::size_t>(pso.gbesti)];
      return;
    }
    pso.RandomizeSwarm(true, s.GenX, seed + 1);
    pso.CreateLogs(s.GenX, platform);
  }
  best = pso.pbest[static_cast<std::size_t>(std::max(pso.gbesti, 0))];
  for (int n = 0; n < o.iterations; ++n) {
    const int epoch = pso.Epoch;
    const EpochReport report = pso.RunEpoch(s, carried, platform, evaluator);
    const int diverged = TakeDiverged(platform);
    best = pso.pbest[static_cast<std::size_t>(pso.gbesti)];
    result.score = pso.gbest();
    if (report.end != EvaluationEnd::kComplete) {
      end_with(report.end);
      break;
    }
    history.Add(epoch, result.score, best, diverged);
    if (!platform.Report(epoch, result.score, Named(history.gene_names, best))) {
      result.status = "stopped";
      break;
    }
    if (platform.InterruptPending()) break;
  }
}

using Path = std::filesystem::path;

std::optional<std::string> Text(const std::optional<Path>& path) {
  return path ? std::optional(path->string()) : std::nullopt;
}

OptimisationResult Identify(const Study& study, const std::optional<Path>& record,
                            const std::string& method, int iterations,
                            std::optional<std::uint32_t> seed, int threads,
                            const std::optional<std::vector<double>>& init,
                            const std::optional<std::vector<std::string>>& genes,
                            const std::optional<Path>& logs, const py::object& progress, int starts,
                            int n1, int n2, double pincrement, double gincrement, double w1,
                            double w2, std::optional<int> bootstrap, bool profile) {
#ifdef MAS_PYTHON_FIT
  if (method != "ga" && method != "pso" && method != "fit") {
    Raise(Errors().setting_error, "méthode « " + method + " » inconnue : ga, pso ou fit attendu");
  }
#else
  if (method != "ga" && method != "pso") {
    Raise(Errors().setting_error, "méthode « " + method + " » inconnue : ga ou pso attendu");
  }
#endif
  if (iterations < 0) Raise(Errors().setting_error, "iterations : nombre positif attendu");
  if (threads < 0 || threads > 1024) Raise(Errors().setting_error, "threads : 0..1024 attendu");
  // The bounds of the command line's --starts.
  if (starts < 0 || starts > 10000) Raise(Errors().setting_error, "starts : 0..10000 attendu");
#ifdef MAS_PYTHON_FIT
  // The bounds of the command line's --bootstrap; None: no bootstrap.
  if (bootstrap && (*bootstrap < 1 || *bootstrap > kMostBootstrapResamples)) {
    Raise(Errors().setting_error, "bootstrap : 1.." + std::to_string(kMostBootstrapResamples) +
                                      " réajustements attendus (None : pas de bootstrap)");
  }
#endif
  if ((bootstrap || profile) && method != "fit") {
    Raise(Errors().setting_error, "bootstrap et profile ne valent que pour la méthode « fit »");
  }
  IdentifyOptions o;
  o.method = method;
  o.bootstrap = bootstrap.value_or(0);
  o.profile = profile;
  o.record = Text(record);
  o.iterations = iterations;
  o.seed = seed;
  o.threads = threads;
  o.genes = genes;
  o.logs = Text(logs);
  o.starts = starts;
  o.n1 = n1;
  o.n2 = n2;
  o.pincrement = pincrement;
  o.gincrement = gincrement;
  o.w1 = w1;
  o.w2 = w2;
  if (init) {
    Genes g{};
    if (init->size() != g.size() ||
        !std::all_of(init->begin(), init->end(), [](double x) { return std::isfinite(x); })) {
      Raise(Errors().setting_error,
            "init : huit réels finis attendus (Rs, Ts, Tr, sigma, J, a10, a20, a30)");
    }
    std::copy(init->begin(), init->end(), g.begin());
    o.init = g;
  }
  if (genes) {
    // Nothing to optimise: the command line refuses it too (no GenX).
    if (genes->empty()) {
      Raise(Errors().setting_error,
            "genes : au moins un gène à optimiser attendu (Rs, Ts, Tr, sigma, J, a10, a20, a30)");
    }
    for (const std::string& g : *genes) {
      if (std::find(kGeneNames.begin(), kGeneNames.end(), g) == kGeneNames.end()) {
        Raise(Errors().setting_error,
              "gène « " + g + " » inconnu : Rs, Ts, Tr, sigma, J, a10, a20 ou a30 attendu");
      }
    }
    // A held gene keeps its value from the start: without init it would be the zero of an
    // individual never drawn, which no machine has. (The fit starts from the study's
    // machine.)
    if (!init && method != "fit" && genes->size() < kGeneNames.size()) {
      Raise(Errors().setting_error,
            "genes : les gènes tenus gardent leur valeur de départ, à donner par init");
    }
  }
  for (double x : {pincrement, gincrement, w1, w2}) {
    if (!std::isfinite(x))
      Raise(Errors().setting_error, "les poids de l'essaim doivent être finis");
  }

  SimulationSettings s = study.settings;
  // Ctrl-C is polled by the runs only while they follow their progress.
  s.DisplayProgressBar = true;
  s.cage.SetDumpPath("");
  PythonPlatform platform(py::none(), progress);
  OptimisationResult result;
  result.method = method;
  History history;
  history.gene_names = GeneNames();
  Genes best{};
  std::string failure;
  py::object* failure_type = nullptr;
  {
    py::gil_scoped_release release;
    try {
      IdentifyReleased(o, s, platform, result, history, best, failure, failure_type);
    } catch (const std::exception& e) {
      failure = e.what();
      failure_type = &Errors().error;
    }
  }
  platform.RaisePending();
  if (failure_type != nullptr) Raise(*failure_type, failure);
  result.best = py::cast(Named(history.gene_names, best));
  result.history = history.ToPython("cost");
  result.study.settings = study.settings;
  if (best[kGeneTr] != 0.0) MapGenesOntoMachine(best, result.study.settings);
  result.messages = platform.MessageList();
  return result;
}

// The count of optimiser rounds is `iterations` in identify() and tune() alike; tune()
// called it `generations` before, still taken with a DeprecationWarning.
int IterationsOrOldName(int iterations, const py::object& generations) {
  if (generations.is_none()) return iterations;
  if (PyErr_WarnEx(PyExc_DeprecationWarning,
                   "tune(generations=N) devient tune(iterations=N), comme identify()", 2) != 0) {
    throw py::error_already_set();
  }
  return generations.cast<int>();
}

OptimisationResult Tune(const Study& study, const std::string& regulator, int iterations,
                        std::optional<std::uint32_t> seed, bool recover, int threads,
                        const std::optional<Path>& logs, const py::object& progress,
                        const py::object& old_generations) {
  if (regulator != "ip" && regulator != "fuzzy") {
    Raise(Errors().setting_error, "régulateur « " + regulator + " » inconnu : ip ou fuzzy attendu");
  }
  const int generations = IterationsOrOldName(iterations, old_generations);
  if (generations < 0) Raise(Errors().setting_error, "iterations : nombre positif attendu");
  if (threads < 0 || threads > 1024) Raise(Errors().setting_error, "threads : 0..1024 attendu");
  const TunedRegulator kind = regulator == "ip" ? TunedRegulator::kIP : TunedRegulator::kFuzzy;
  SimulationSettings s = study.settings;
  if (const std::string refusal = TuningRefusal(kind, s); !refusal.empty()) {
    Raise(Errors().run_error, refusal);
  }
  s.DisplayProgressBar = true;
  s.cage.SetDumpPath("");
  PythonPlatform platform(py::none(), progress);
  OptimisationResult result;
  result.method = regulator;
  History history;
  history.gene_names = kind == TunedRegulator::kIP
                           ? std::vector<std::string>{"KpW", "KiW", "TtW"}
                           : std::vector<std::string>{"WFErr", "WFdErr", "WFdU"};
  RegulatorGenes best = RegulatorGenesOf(kind, s);
  std::string failure;
  {
    py::gil_scoped_release release;
    try {
      const LogFolder folder(Text(logs));
      const CandidateEvaluator evaluator(threads > 0 ? threads : MachineThreads(), TuningScore);
      LcgRandom rng;
      SpeedRegulatorTuning tuning(kind, rng, folder.path());
      const std::uint32_t first = seed ? *seed : CalendarSeconds();
      if (recover) {
        rng.Randomize(first);
        tuning.Recover(s);
      } else {
        tuning.Randomize(first, platform);
      }
      CarriedState carried;
      result.status = "complete";
      for (int g = 0; g < generations; ++g) {
        const TuningReport report = tuning.RunGeneration(s, carried, platform, evaluator);
        const int diverged = TakeDiverged(platform);
        if (report.end != EvaluationEnd::kComplete) {
          result.status = EndName(report.end);
          if (!platform.messages().empty()) result.message = platform.messages().back().text;
          break;
        }
        best = tuning.XOld[0];
        result.score = tuning.BestFitness;
        history.Add(tuning.Gen, result.score, best, diverged);
        if (!platform.Report(tuning.Gen, result.score, Named(history.gene_names, best))) {
          result.status = "stopped";
          break;
        }
        if (platform.InterruptPending()) break;
      }
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  platform.RaisePending();
  if (!failure.empty()) Raise(Errors().error, failure);
  result.best = py::cast(Named(history.gene_names, best));
  result.history = history.ToPython("fitness");
  result.study.settings = study.settings;
  WriteRegulatorGenes(kind, best, result.study.settings);
  result.messages = platform.MessageList();
  return result;
}

}  // namespace

void AddOptimisers(py::module_& m) {
#ifdef MAS_PYTHON_FIT
  m.attr("identification_methods") = py::make_tuple("ga", "pso", "fit");
#else
  m.attr("identification_methods") = py::make_tuple("ga", "pso");
#endif
  py::class_<OptimisationResult>(m, "OptimisationResult",
                                 R"doc(What an identification or a tuning found.

method: "ga", "pso" (identification), "ip" or "fuzzy" (tuning).
status: "complete" (every iteration ran), "stopped" (the progress callback returned
    a false value), "refused" (a candidate's run was refused; message says why) or "tr_zero" (a
    candidate with a rotor time constant of 0); for the fit "converged",
    "iteration_limit", "stopped", "failed" or "refused".
best: the best parameters by name; score: their cost (identification, the lower the
    better) or fitness (tuning, the higher the better), NaN before the first iteration.
history: numpy arrays by name, one value per completed iteration: "iteration", "cost" or
    "fitness", one array per parameter, and "diverged" (candidates whose run diverged).
study: a copy of the study with the best parameters in place (the machine's for the
    identification, the speed regulator's for the tuning).
messages: the messages shown, as (caption, text).
intervals, standard_errors, warnings: the fit's 95 % intervals (low, high) and standard
    errors of the optimised parameters, and what the record cannot identify.
report: the fit's whole report as a dictionary, the one `mas identify fit --report
    FILE.json` writes (None for the other methods).)doc")
      .def_readonly("method", &OptimisationResult::method)
      .def_readonly("status", &OptimisationResult::status)
      .def_readonly("message", &OptimisationResult::message)
      .def_readonly("best", &OptimisationResult::best)
      .def_readonly("score", &OptimisationResult::score)
      .def_readonly("history", &OptimisationResult::history)
      .def_readonly("study", &OptimisationResult::study)
      .def_readonly("messages", &OptimisationResult::messages)
      .def_readonly("intervals", &OptimisationResult::intervals)
      .def_readonly("standard_errors", &OptimisationResult::standard_errors)
      .def_readonly("warnings", &OptimisationResult::warnings)
      .def_property_readonly("report",
                             [](const OptimisationResult& r) -> py::object {
                               if (r.report_json.empty()) return py::none();
                               return py::module_::import("json").attr("loads")(r.report_json);
                             })
      .def("__repr__", [](const OptimisationResult& r) {
        return "<mas.OptimisationResult " + r.method + " " + r.status + ", score " +
               py::repr(py::float_(r.score)).cast<std::string>() + ">";
      });

  m.def("identify", &Identify, "study"_a, "record"_a = py::none(), "method"_a = "ga",
        "iterations"_a = 10, "seed"_a = py::none(), "threads"_a = 0, "init"_a = py::none(),
        "genes"_a = py::none(), "logs"_a = py::none(), "progress"_a = py::none(), "starts"_a = 0,
        "n1"_a = 10, "n2"_a = 10, "pincrement"_a = 0.01, "gincrement"_a = 0.01, "w1"_a = 0.98,
        "w2"_a = 1.01, "bootstrap"_a = py::none(), "profile"_a = false,
        R"doc(Identifies the machine's eight parameters (Rs, Ts, Tr, sigma, J, a10, a20, a30)
from a measured start-up, as ``mas identify ga|pso|fit`` does.

record: the measured start-up (when None, the study's ExpNom, looked for beside the
    study's file first), read with the study's ExpWmCol and ExpIasCol; the experimental tables are built on the study's time base.
method: "ga" (genetic algorithm, 55 individuals), "pso" (particle swarm of n1
    refiners and n2 explorers, pulls pincrement and gincrement, inertias w1 and w2) or
    "fit" (least-squares fit of the start-up trajectory, Levenberg-Marquardt, with
    `starts` extra starts drawn around the guess; its score is 1/2 the sum of the
    squared residuals, and the result also gives the 95 % intervals, the standard
    errors and the warnings about what the record cannot identify).
iterations: rounds of the method (the GA's generations, the swarm's epochs, the
    solver's iterations per start); seed: the generator's
    seed (None: the clock); threads: candidates scored at once (0: one per core).
init: eight values; the GA's whole population starts there, the swarm's global best,
    the fit's guess (the study's machine when None, for the fit only).
genes: names of the parameters to optimise (all when None); the others are held at
    their value in init (required for "ga" and "pso" when genes are held).
logs: folder of the optimisers' logs (Histor.cpp, debgen.cpp / outbest.dat,
    outTracix.dat); None writes them in a temporary folder removed afterwards.
progress: None or a callable (iteration, cost, best) called after each iteration (each
    solver step for the fit); returning a false value (False, 0, ...; None goes on)
    stops (status "stopped").
bootstrap: the fit only: None (none) or 1..10000 moving-block bootstrap refits, whose
    percentile intervals are in report["bootstrap"]; profile: the fit only, True for the
    profile-likelihood intervals of the parameters correlated above 0.99 with another
    (report["profile"]; hundreds of simulations).

Raises mas.FileError when the record cannot be read, mas.RunError when the tables
cannot be built, KeyboardInterrupt on Ctrl-C.)doc");

  m.def("tune", &Tune, "study"_a, "regulator"_a = "ip", "iterations"_a = 10, "seed"_a = py::none(),
        "recover"_a = false, "threads"_a = 0, "logs"_a = py::none(), "progress"_a = py::none(),
        py::kw_only(), "generations"_a = py::none(),
        R"doc(Tunes the speed regulator (IP: KpW, KiW, TtW; fuzzy: WFErr, WFdErr, WFdU) on
the study's own scenario by the genetic algorithm, as ``mas tune ip|fuzzy`` does.

iterations: the genetic algorithm's generations (the word of identify(); the former
    keyword generations= is still taken, with a DeprecationWarning).
recover: start from a population around the study's present settings instead of a
    random one. progress: None or a callable (iteration, fitness, best); returning a
    false value (None goes on) stops. Raises mas.RunError when the study cannot be tuned for that regulator (no
    speed loop, another regulator type) with the workbench's message.)doc");
}

}  // namespace mas::python
