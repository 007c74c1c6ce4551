#pragma once
// The one list of stored and settable fields of SimulationSettings, by name. It drives
// the parameter-file reader and writer (records in file order, each naming its fields
// once), the command line's --set overrides and the round-trip tests.

#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "engine/settings.h"

namespace mas {

enum class ValueType {
  kReal,     // double
  kInt,      // 32-bit signed integer
  kIntFlag,  // integer field holding 0 or 1 (written as an integer)
  kFlag,     // boolean (written as 0 or 1)
  kText,     // text
};

// What a field accepts beyond its type: the values a run, or the part of the workbench
// that reads the field, cannot use whatever the other settings are. Rules that can only be
// judged with other fields (t0 before tf, dt small enough for tf - t0, a column within a
// measured record's header) stay with the run or the reader that judges them.
enum class FieldRule {
  kAny,
  kStep,       // the integration step: finite and above 0 (the run refuses the others)
  kBarCount,   // the cage's bar count: 3 to CageMachineModel::kMaxBars, as the cage model asks
  kCount,      // a number of sampling periods or of pole pairs: at least 1
  kColumn,     // a column number of a table: 0 or more
  kFluxType,   // a FluxType: 0 to 10
  kCost,       // the identification cost: 0 ("Ias") or 1 ("Max de Ias")
  kWeakening,  // the field weakening: 0 "Aucun", 1 "Par paliers", 2 "Continu"
};

// A reference to one field of a settings record.
struct FieldRef {
  std::string_view name;
  ValueType type;
  void* target;
  FieldRule rule = FieldRule::kAny;
  // What the field is, as `mas settings` and the Python module's describe() show it: its
  // unit ("s", "Ω", "tr/mn"...; empty for a count, a choice, a 0/1 flag, a text, a
  // weight or a gain whose unit depends on the regulator's scaling) and its meaning in
  // French (empty where nothing in the workbench says what the field does).
  std::string_view unit = {};
  std::string_view meaning = {};

  // The same reference with its unit and meaning.
  FieldRef Says(std::string_view u, std::string_view m) const {
    FieldRef out = *this;
    out.unit = u;
    out.meaning = m;
    return out;
  }

  // The same reference with a rule on its values.
  FieldRef Limited(FieldRule r) const {
    FieldRef out = *this;
    out.rule = r;
    return out;
  }

  double& real() const { return *static_cast<double*>(target); }
  int& integer() const { return *static_cast<int*>(target); }
  bool& flag() const { return *static_cast<bool*>(target); }
  std::string& text() const { return *static_cast<std::string*>(target); }
};

inline FieldRef Real(std::string_view name, double& v) { return {name, ValueType::kReal, &v}; }
inline FieldRef Int(std::string_view name, int& v) { return {name, ValueType::kInt, &v}; }
inline FieldRef IntFlag(std::string_view name, int& v) { return {name, ValueType::kIntFlag, &v}; }
inline FieldRef Flag(std::string_view name, bool& v) { return {name, ValueType::kFlag, &v}; }
inline FieldRef Text(std::string_view name, std::string& v) { return {name, ValueType::kText, &v}; }

// The run's refusal of an unusable step; the run adds that dt must also be large enough
// for the span of t0 to tf.
inline constexpr std::string_view kStepMessage =
    "Paramètres temporels invalides : le pas dt doit être positif, fini et assez grand pour "
    "faire avancer le temps de t0 à tf";

// Whether dt can be the integration step at all: finite and above 0.
inline bool IsUsableStep(double dt) { return dt > 0.0 && dt <= std::numeric_limits<double>::max(); }

// Why `value` cannot be stored in `ref` under its rule, or empty when it can. The message
// is the one the run gives for the same value where it refuses it.
std::string FieldValueProblem(const FieldRef& ref, double value);

// One value record of the parameter file.
struct ParameterRecord {
  int code;
  std::vector<FieldRef> fields;
  // Number of values on the record's first text line (record 23 is split over two
  // lines); equal to fields.size() for every other record.
  int first_line_values;
};

// The 36 value records of the parameter file, in the order the writer emits them.
std::vector<ParameterRecord> ParameterRecords(SimulationSettings& s);

// Number of values of a record code, or -1 for a code that is no value record.
int RecordValueCount(int code);

// Applies the dependent updates of a record right after its values were stored
// (pushes machine parameters into the models, the step, the observer...).
void ApplyRecordUpdate(SimulationSettings& s, int code);

// Settings changed outside a file read (the command line's overrides, the sweeps, the
// Python module, the settings dialogs) owe the study the follow-ups that reading the same
// records from a study file runs after them, so that a value set by name acts exactly as
// the same value read from a file. FinishSettingsChange runs them once, in file order,
// for the settable fields named in `names` (other names are ignored):
// - the update of every record that holds one of them (machine parameters into both
//   models, the integration step, the flux observer's parameters, Crsgn into both
//   models). The observer's sampling period NTregI x TMLI is taken when record 5 is
//   read, which in a file comes after TMLI's record 3: a new TMLI updates it too;
// - the dependent 2D neuro-fuzzy weights (w32, w23, w33);
// - for the cage record (28), as after a read and a store of the cage dialog: the per-bar
//   arrays re-created for Nr when they no longer match it (selections cleared), and every
//   bar and end-ring portion back to the healthy RbSain and ReSain;
// - experimental tables built on another time base or supply period than the changed
//   study's marked stale (compared with `before`, the study as it was before the change).
void FinishSettingsChange(SimulationSettings& s, const SimulationSettings& before,
                          const std::vector<std::string>& names);

// The end of every study-file read and of a change of the cage record: the per-bar arrays
// sized for Nr (re-created, selections cleared, when `reallocate` is set or their size no
// longer matches Nr), then every bar at RbSain and every ring portion at ReSain.
void ResetCageArrays(SimulationSettings& s, bool reallocate);

// Clears ExpTableReady when t0, tf, dt, OutStep or fs differ from `before`: the tables
// hold one value per recorded step of the time base they were built on.
void MarkExperimentalTablesStale(SimulationSettings& s, const SimulationSettings& before);

// What storing a field by name must update besides the field itself.
enum class FieldUpdate {
  kNone,
  kRecord,             // the updates of the parameter-file record that holds it
  kNeuroFuzzyWeights,  // the dependent 2D neuro-fuzzy weights
};

struct SettableField {
  FieldRef ref;
  int record;  // code of the record holding the field, 0 for fields the file does not store
  FieldUpdate update;
  // What the field belongs to, as `mas settings` and the Python module's describe() show
  // it: the study file's record ("enregistrement 3 du fichier d'étude") or, for the fields
  // no record holds, their theme ("Filtres et estimateur de vitesse").
  std::string group;
};

// Every field a user may set by name: the stored ones, those the file does not store
// (modes, connection, current events, estimator, filters, regulator details), the output
// selections as "Group.Element" and the identification settings. Derived values and
// state flags are not in the list.
std::vector<SettableField> SettableFields(SimulationSettings& s);

// Applies the update that storing `field` calls for.
void ApplyFieldUpdate(SimulationSettings& s, const SettableField& field);

// Name of a value type as a user reads it in a message ("réel", "entier", ...).
std::string_view ValueTypeName(ValueType type);

}  // namespace mas
