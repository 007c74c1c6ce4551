#pragma once
// Settings changed by name outside a study file, as "NAME=VALUE": the command line's
// "--set", the sweep files and the Python module all go through here. NAME is any
// settable field of a study by the name SettableFields (engine/settings_fields.h) gives
// it, a whole group of output-selection flags at once, or a list of cage bars.
//
// Accepted forms:
//   Rs=1.2  dt=1e-5  E2=-2.5e2  Wmt1=.5  tf=+3     reals: decimal or exponent form,
//                                                 finite only (inf and nan refused), a
//                                                 point as decimal separator
//   p=2  NTregI=10  Flux_typ=-1                    integers: whole, 32-bit, no exponent
//   Triangle=1  dsvPWM=0  OutSel.Wm=1  VectCtrl=1  0/1 settings: exactly "0" or "1"
//   OutFileName=run 1.dat                          text: taken as is, spaces included
//   OutSel=all  OutSelCage=none  GenX=all          every flag of a group ("Group.Element"
//                                                 names) set to 1 (all) or 0 (none)
//   BarreSel=0,3  LoopSel=all  AnneauSel=none      per-bar selections of the cage model:
//                                                 the list replaces the previous selection
//                                                 (every bar cleared first, then the bars
//                                                 named set); each index within
//                                                 0 .. allocated bars - 1; an empty list
//                                                 or "none" clears, "all" selects every bar
//
// Beyond its form, a value the run or the part of the workbench that reads it can never
// use is refused by ParseOverride with the message the run gives for it (FieldRule,
// engine/settings_fields.h): dt=0 or dt=-1 ("Paramètres temporels invalides : ..."),
// Nr=2 (the cage model's "au moins 3 barres"), NTregI, NTregW, p, mp below 1, a
// negative column number, Flux_typ, Flag or CostFunction outside their choices. What
// depends on several fields (t0 before tf, dt against tf - t0, a column within a record's
// header) is still judged by the run or the reader.
//
// Names are case-sensitive (M and mM, Rs and mRs are different settings). Once every
// override of a set is stored, the follow-ups that a file read of the same values runs
// are applied once, in file order (FinishSettingsChange, engine/settings_fields.h): Rs
// goes into both machine models, dt into both steps, TMLI and NTregI into the observer's
// period, a cage value re-sizes the per-bar arrays for Nr and heals every bar and ring
// portion; for the fields that no record holds, those of their dialog (w11 recomputes
// w33). A set of overrides thus acts exactly as saving it and reading the study back.
//
// Overrides are checked in two stages so that a typing error costs nothing: ParseOverride
// checks the name and the value's form before any study is read; ApplyOverrides then
// stores them in command-line order (a later one wins) and checks what depends on the
// study (bar indices against the allocated bar count).

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/settings.h"
#include "engine/settings_fields.h"

namespace mas {

// An override that cannot be used. what() is the whole message, starting with the
// override as typed: "--set dt=abc : valeur invalide pour dt (réel attendu)".
class OverrideError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One checked override, ready to be stored.
struct Override {
  enum class Kind {
    kField,    // one settable field
    kGroup,    // every flag of a "Group.Element" group
    kBarList,  // one of the cage model's per-bar selections
  };

  std::string text;  // "NAME=VALUE" as typed, for messages
  std::string name;
  Kind kind = Kind::kField;
  // kField: the field's type and its parsed value (the member matching the type).
  ValueType type = ValueType::kReal;
  double real = 0.0;
  int integer = 0;  // kInt and the 0/1 types
  std::string text_value;
  // kGroup: 1 for "all", 0 for "none".
  int group_value = 0;
  // kBarList: the bars to select, or every bar when all_bars is set.
  std::vector<int> bars;
  bool all_bars = false;
};

// Checks the name and the form of the value. Throws OverrideError.
Override ParseOverride(std::string_view text);

// Parses every override; throws OverrideError for the first one that is unusable.
std::vector<Override> ParseOverrides(const std::vector<std::string>& texts);

// Stores one override and applies its follow-ups. Throws OverrideError when a bar index is
// outside the bars allocated for the study; `s` is then left as it was.
void ApplyOverride(SimulationSettings& s, const Override& o);

// Stores every override in order. All or nothing: when one fails (OverrideError), `s` is
// left as it was.
void ApplyOverrides(SimulationSettings& s, const std::vector<Override>& overrides);

// Names of the cage model's per-bar selections ("BarreSel", "LoopSel", "AnneauSel").
std::vector<std::string> BarSelectionNames();

// Settable names close to `name` (same letters in another case, or a few typing errors
// away), best first, at most `max_count`: the suggestions of an unknown-name message.
std::vector<std::string> CloseNames(std::string_view name, std::size_t max_count = 3);

}  // namespace mas
