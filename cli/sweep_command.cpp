#include "cli/sweep_command.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "cli/table_format_option.h"
#include "cli/terminal_platform.h"
#include "files/parameter_file.h"
#include "identification/candidate_evaluator.h"
#include "platform/file_replacement.h"
#include "sweep/mpi_sweep.h"
#include "sweep/sweep_execution.h"
#include "sweep/sweep_journal.h"
#include "sweep/sweep_runner.h"

namespace mas {
namespace {

constexpr const char* kSweepExitHelp =
    "Codes de sortie :\n"
    "  0    toutes les simulations sont dans le résumé (une simulation divergée ou refusée\n"
    "       y est une ligne avec son état)\n"
    "  1    le fichier de balayage ou l'étude ne peut être lu ; le journal, le résumé ou\n"
    "       le dossier des tables ne peut être écrit\n"
    "  2    erreur d'utilisation ou fichier de balayage invalide (rien n'est lancé)\n"
    "  130  interrompu par Ctrl-C (les simulations finies restent dans le journal ;\n"
    "       --resume reprend)\n";

// The progress line: redrawn in place on a terminal at most five times a second,
// otherwise one line every ten seconds, so that a log stays short.
class ProgressLine {
 public:
  ProgressLine(std::ostream& err, bool interactive) : err_(err), interactive_(interactive) {}

  void Show(const SweepProgress& p, bool last) {
    const auto now = std::chrono::steady_clock::now();
    const auto interval = interactive_ ? std::chrono::milliseconds(200) : std::chrono::seconds(10);
    if (!last && shown_ && now - last_shown_ < interval) return;
    shown_ = true;
    last_shown_ = now;
    const std::string text = FormatProgress(p);
    if (interactive_) {
      err_ << '\r' << text;
      if (text.size() < width_) err_ << std::string(width_ - text.size(), ' ');
      width_ = text.size();
      if (last) err_ << '\n';
    } else {
      err_ << text << '\n';
    }
    err_ << std::flush;
  }

 private:
  std::ostream& err_;
  bool interactive_;
  bool shown_ = false;
  std::size_t width_ = 0;
  std::chrono::steady_clock::time_point last_shown_;
};

// The sweep file and the study read, the runs checked: the same on every rank.
struct PreparedSweep {
  std::unique_ptr<SweepRunner> runner;
  std::string summary;
  std::string study;  // the study's path
};

int Prepare(const SweepRequest& r, CliEnvironment& env, PreparedSweep& out) {
  SweepFile file;
  try {
    file = ReadSweepFile(r.sweep_file);
  } catch (const SweepFileError& e) {
    env.err << "Erreur: " << e.what() << '\n';
    return std::filesystem::exists(r.sweep_file) ? kExitUsage : kExitParameterFile;
  }
  out.summary =
      r.summary ? *r.summary : std::filesystem::path(r.sweep_file).stem().string() + ".tsv";
  out.study = file.study;
  // Neither the summary nor its journal may be the sweep file or the study (also
  // through a link): checked before anything is read or written.
  const CommandInput inputs[] = {{r.sweep_file, "le fichier de balayage lu", false},
                                 {file.study, "l'étude lue", true}};
  for (const std::string& output : {out.summary, out.summary + ".journal"}) {
    if (const OutputRefusal refusal = RefuseOutput(output, inputs)) {
      env.err << "Erreur: " << refusal.message << '\n';
      return kExitParameterFile;
    }
  }
  SimulationSettings study;
  study.ParamFileName = file.study;
  try {
    ReadParameterFile(study, env.platform, env.echo_path);
  } catch (const ParameterFileError& e) {
    env.platform.ShowMessage(e.what(), e.caption, MessageIcon::kStop);
    return kExitParameterFile;
  }
  if (!r.tables_folder.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(r.tables_folder, ec);
    if (!std::filesystem::is_directory(r.tables_folder)) {
      env.err << "Erreur: Impossible de créer le dossier " << r.tables_folder << '\n';
      return kExitParameterFile;
    }
  }
  try {
    out.runner =
        std::make_unique<SweepRunner>(file, std::move(study), r.tables_folder, r.table_format);
  } catch (const SweepFileError& e) {
    env.err << "Erreur: " << e.what() << '\n';
    return kExitUsage;
  }
  return kExitSuccess;
}

// Rows into the journal, with the progress line.
class RowCollector {
 public:
  RowCollector(SweepJournal& journal, long long total, CliEnvironment& env, bool interactive)
      : journal_(journal),
        total_(total),
        env_(env),
        progress_(env.err, interactive),
        start_(std::chrono::steady_clock::now()) {}

  void Deliver(const SweepRow& row) {
    if (!row.interrupted) ++done_;
    if (!journal_.Add(row) && !write_failed_) {
      write_failed_ = true;
      env_.err << "Erreur: l'écriture du journal " << journal_.journal_path() << " a échoué\n";
    }
    progress_.Show(Progress(), false);
  }
  void Finish() { progress_.Show(Progress(), true); }
  bool write_failed() const { return write_failed_; }

 private:
  SweepProgress Progress() const {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
    return {done_, total_, elapsed.count()};
  }

  SweepJournal& journal_;
  long long total_;
  CliEnvironment& env_;
  ProgressLine progress_;
  std::chrono::steady_clock::time_point start_;
  long long done_ = 0;
  bool write_failed_ = false;
};

// Opens the journal (rank 0 / the local run). Status of a failure after its message.
int OpenJournal(const SweepRequest& r, const PreparedSweep& p, CliEnvironment& env,
                std::unique_ptr<SweepJournal>& journal) {
  try {
    const SweepFingerprint fingerprint = FingerprintOf(r.sweep_file, p.study);
    journal = std::make_unique<SweepJournal>(*p.runner, p.summary, r.resume, fingerprint);
  } catch (const std::runtime_error& e) {
    env.err << "Erreur: " << e.what() << '\n';
    return kExitParameterFile;
  }
  return kExitSuccess;
}

// After the runs: the summary, or what to do to finish.
int Conclude(bool complete, RowCollector& rows, SweepJournal& journal, const PreparedSweep& p,
             CliEnvironment& env) {
  rows.Finish();
  if (!complete) {
    env.err << "Balayage interrompu : " << journal.done() << "/" << p.runner->size()
            << " simulations dans " << journal.journal_path()
            << " ; relancez avec --resume pour le terminer\n";
    return kExitInterrupted;
  }
  if (rows.write_failed() || !journal.Finish()) {
    env.err << "Erreur: Impossible d'écrire le résumé " << p.summary << '\n';
    return kExitParameterFile;
  }
  env.out << "Résumé : " << p.summary << " (" << p.runner->size() << " simulations)\n";
  for (const std::string& line : p.runner->resolutions()) env.out << "  " << line << '\n';
  env.out << std::flush;
  return kExitSuccess;
}

void ShowWarnings(const PreparedSweep& p, CliEnvironment& env) {
  for (const std::string& warning : p.runner->warnings()) env.err << warning << '\n';
  env.err << std::flush;
}

bool Interactive(const CliEnvironment& env) {
  return &env.err == &std::cerr && TerminalPlatform::StderrIsTerminal();
}

int LocalSweep(const SweepRequest& r, CliEnvironment& env) {
  PreparedSweep p;
  if (const int status = Prepare(r, env, p); status != kExitSuccess) return status;
  std::unique_ptr<SweepJournal> journal;
  if (const int status = OpenJournal(r, p, env, journal); status != kExitSuccess) return status;
  const std::vector<long long> pending = journal->Pending();
  const int threads = r.threads > 0 ? r.threads : MachineThreads();
  env.err << "Balayage : " << p.runner->size() << " simulations";
  if (journal->resumed() > 0) env.err << " dont " << journal->resumed() << " déjà faites";
  env.err << ", " << threads << " fil" << (threads > 1 ? "s" : "") << '\n' << std::flush;
  ShowWarnings(p, env);
  RowCollector rows(*journal, static_cast<long long>(pending.size()), env, Interactive(env));
  const bool complete = RunOnThreads(
      *p.runner, pending, threads, [&](const SweepRow& row) { rows.Deliver(row); },
      [] { return InterruptRequested(); });
  return Conclude(complete, rows, *journal, p, env);
}

int MpiSweep(const SweepRequest& r, CliEnvironment& env) {
  const MpiEnvironment mpi;
  const bool root = mpi.rank() == 0;
  // Only rank 0 speaks and writes; the other ranks read the same files quietly.
  std::ostringstream quiet;
  SilentPlatform silent;
  CliEnvironment quiet_env{quiet, quiet, silent, "/dev/null"};
  CliEnvironment& own = root ? env : quiet_env;

  PreparedSweep p;
  const int prepared = Prepare(r, own, p);
  if (const int status = mpi.MaxOverRanks(prepared); status != kExitSuccess) {
    if (root && prepared == kExitSuccess) {
      env.err << "Erreur: un autre rang n'a pu lire le fichier de balayage ou l'étude\n";
    }
    return status;
  }
  std::unique_ptr<SweepJournal> journal;
  const int opened = root ? OpenJournal(r, p, env, journal) : kExitSuccess;
  if (const int status = mpi.MaxOverRanks(opened); status != kExitSuccess) return status;

  if (!root) {
    RunOverMpi(mpi, *p.runner, {}, {}, {});
    return kExitSuccess;
  }
  const std::vector<long long> pending = journal->Pending();
  env.err << "Balayage : " << p.runner->size() << " simulations";
  if (journal->resumed() > 0) env.err << " dont " << journal->resumed() << " déjà faites";
  env.err << ", " << mpi.size() << " rang" << (mpi.size() > 1 ? "s" : "") << " MPI\n" << std::flush;
  ShowWarnings(p, env);
  RowCollector rows(*journal, static_cast<long long>(pending.size()), env, Interactive(env));
  const bool complete = RunOverMpi(
      mpi, *p.runner, pending, [&](const SweepRow& row) { rows.Deliver(row); },
      [] { return InterruptRequested(); });
  return Conclude(complete, rows, *journal, p, env);
}

}  // namespace

int SweepCommand(const SweepRequest& request, CliEnvironment& env) {
  return request.mpi ? MpiSweep(request, env) : LocalSweep(request, env);
}

SweepSubcommand::SweepSubcommand(CLI::App& app) {
  sweep_ = app.add_subcommand(
      "sweep",
      "Lance une étude de nombreuses fois selon un fichier de balayage (paramètres, "
      "distributions, métriques) sur tous les cœurs ou sur les rangs MPI, et écrit un "
      "résumé d'une ligne par simulation.");
  sweep_->footer(kSweepExitHelp);
  sweep_->add_option("sweep", request_.sweep_file, "Fichier de balayage")
      ->type_name("BALAYAGE.txt")
      ->required();
  sweep_->add_option("--threads", request_.threads, "Fils de calcul (défaut : un par cœur)")
      ->type_name("T")
      ->check(CLI::Range(1, 1024));
  sweep_
      ->add_option("--summary", summary_,
                   "Résumé (défaut : nom du fichier de balayage en .tsv, dossier courant)")
      ->type_name("SORTIE.tsv");
  sweep_
      ->add_option("--tables", request_.tables_folder,
                   "Garde la table de sortie de chaque simulation dans ce dossier "
                   "(run_<indice>.dat, ou .csv, .mat selon --table-format)")
      ->type_name("DOSSIER");
  AddTableFormatOption(*sweep_, request_.table_format);
  sweep_->add_flag("--resume", request_.resume,
                   "Reprend un balayage interrompu : ne relance que ce qui manque au journal");
  sweep_->add_flag("--mpi", request_.mpi,
                   "Répartit les simulations sur les rangs MPI (mpirun -n N mas sweep ... --mpi)");
}

bool SweepSubcommand::Selected() const { return sweep_ != nullptr && sweep_->parsed(); }

int SweepSubcommand::Run(CliEnvironment& env) {
  SweepRequest r = request_;
  // An empty name, given on purpose or by an unset shell variable, names nothing to write.
  for (const char* option : {"--summary", "--tables"}) {
    const std::string& value = std::string_view(option) == "--summary" ? summary_ : r.tables_folder;
    if (sweep_->count(option) > 0 && value.empty()) {
      env.err << "Erreur d'utilisation : " << option << " : nom vide\n";
      return kExitUsage;
    }
  }
  if (!summary_.empty()) r.summary = summary_;
  return SweepCommand(r, env);
}

}  // namespace mas
