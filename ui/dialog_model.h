#pragma once
// The settings dialogs as data. Each dialog is one declarative description: its caption,
// its groups and, in each group, its rows of controls naming the settings they edit by
// the names of the settable-field list (engine/settings_fields.h), with the conversion
// that turns the control's text or state into the setting. One generic form (ui/
// settings_form.h) draws any description; the load and store rules live here, apart from
// the widgets, so that they are tested without a screen.
//
// Store rules shared by every dialog:
//  - The form checks every changed text before it closes (CheckDialog) and stays open on a
//    refused one. Controls are stored in their order. A text that cannot be converted stops the
//    store with the conversion's message: in the dialogs that check everything first
//    (kParseAllFirst) nothing is stored, in the others the fields before the faulty one
//    keep their new values.
//  - A control left as it was loaded keeps its setting exactly: only controls whose text
//    or state the user changed are converted and stored. A value shown rounded (about six
//    significant digits) or in a form the conversion would change
//    (OutStep of 0, a mode flag of 2 read from a file) is therefore never altered by
//    opening a dialog and pressing "OK".
//  - The follow-ups of the stored fields are those of reading the same fields from a
//    study file (FinishSettingsChange): machine parameters into both models, the step,
//    the flux observer, Crsgn, the 2D neuro-fuzzy weights, the cage arrays, stale
//    experimental tables. They also run for the fields stored before a conversion error,
//    so that the study never holds a value without its dependent updates.

#include <string>
#include <vector>

#include "engine/settings.h"

namespace mas::ui {

// How a control's text turns into its setting, and how the setting is shown.
enum class Conversion {
  kReal,             // about 6 significant digits shown; kept whole when not edited
  kInteger,          // a decimal integer; any other text is refused
  kIntegerFromReal,  // parsed as a real and truncated toward zero
  kAtLeastOne,       // as kIntegerFromReal, then raised to 1 when below (OutStep)
  kText,             // taken as typed
  kBarList,          // cage bar numbers "0,3,5" (or "all", "none", empty) into a per-bar
                     // selection (BarreSel, LoopSel, AnneauSel), each below the bar count
};

enum class ControlKind {
  kEdit,        // a label and one edit per column
  kCheck,       // check box: 1 when checked, 0 otherwise
  kRadio,       // radio button writing `code` into its field when checked
  kRadioFlag,   // radio button writing its own flag: 1 when checked, 0 otherwise
  kNote,        // a label and a fixed text; edits nothing
  kInertEdit,   // disabled edit showing `text`; edits nothing
  kInertRadio,  // disabled radio button, checked when `code` is 1; edits nothing
};

struct Row {
  ControlKind kind = ControlKind::kEdit;
  std::string label;
  std::vector<std::string> fields;      // one per column for edits, else one (or none)
  std::vector<Conversion> conversions;  // one per field
  int code = 0;
  std::string text;
};

struct Group {
  std::string title;  // empty: rows without a frame
  std::vector<Row> rows;
  std::vector<std::string> columns;  // column headers of a table of edits
  int check_columns = 1;             // check boxes laid out on this many columns
  bool disabled = false;             // shown greyed, edits nothing
};

enum class StoreOrder { kFieldByField, kParseAllFirst };

// The dialogs whose store does more than converting fields.
enum class DialogHook {
  kNone,
  // Machine by its time constants: Ts, Tr and sigma are shown from Ls/Rs, Lr/Rr and
  // 1 - M²/(Ls Lr); when Rs, Ts, Tr or sigma was changed, Ls = Rs Ts, Lr = Ls,
  // Rr = Ls/Tr and M = Ls √(1 - sigma) are stored with them.
  kTimeConstants,
};

struct DialogDescription {
  std::string id;  // the dialog's class name, "TDIALOG_TIMESIMUL"
  std::string caption;
  std::vector<Group> groups;
  StoreOrder order = StoreOrder::kFieldByField;
  DialogHook hook = DialogHook::kNone;
  bool cancel_has_focus = false;  // "Annuler" takes the initial focus
};

// One control of a description, in store order.
struct ControlRef {
  int group = 0;
  int row = 0;
  int column = 0;
  ControlKind kind = ControlKind::kEdit;
  std::string field;  // empty for the controls that edit nothing
  Conversion conversion = Conversion::kReal;
};

// What a control shows: its text (edits) or its state (check boxes, radio buttons).
struct ControlState {
  std::string text;
  bool checked = false;

  bool operator==(const ControlState&) const = default;
};

std::vector<ControlRef> Controls(const DialogDescription& dialog);

// The controls as the settings fill them.
std::vector<ControlState> LoadDialog(const DialogDescription& dialog, const SimulationSettings& s);

struct StoreResult {
  std::string error;                // the conversion message; empty when all was stored
  std::vector<std::string> stored;  // the settings written, in store order
  int refused_control = -1;         // index in Controls() of the refused control, or -1
};

// The first control the user changed whose text its conversion refuses, as the form
// shows it before closing: the control (its index in Controls(), -1 when every changed
// text converts), the conversion's message, the control's name as the user reads it and
// what it expects.
struct Refusal {
  int control = -1;
  std::string message;   // "'x' n'est pas une valeur entière correcte"
  std::string caption;   // "Rs", "Ids ref (A) t3"
  std::string expected;  // "Attendu : un nombre décimal, en Ohm"
};
// `bars` is the study's allocated bar count that bar numbers are checked against (-1:
// their range is checked by the store only).
Refusal CheckDialog(const DialogDescription& dialog, const std::vector<ControlState>& loaded,
                    const std::vector<ControlState>& current, int bars = -1);

// What the edit of a control expects, in the dialog's words, with the unit its label
// names: "Attendu : un nombre entier, de -2147483648 à 2147483647". `decimal_point` is
// the separator the user's fields show.
std::string ExpectedText(const DialogDescription& dialog, const ControlRef& control,
                         char decimal_point = '.');
// The control's name as the user reads it: the row's label without its accelerator and
// colon, followed by its column header in a table of edits.
std::string ControlCaption(const DialogDescription& dialog, const ControlRef& control);

// Stores the controls the user changed (`current` against `loaded`, both from
// LoadDialog's layout) into the settings, then runs the follow-ups of what was stored.
StoreResult StoreDialog(const DialogDescription& dialog, const std::vector<ControlState>& loaded,
                        const std::vector<ControlState>& current, SimulationSettings& s);

// Every settings dialog of the workbench, the identification and tuning ones included.
const std::vector<DialogDescription>& AllDialogs();
// The description of a dialog by its class name; throws std::out_of_range if unknown.
const DialogDescription& DialogById(const std::string& id);

// The forty captions of the output-selection dialog, in OutSel order.
const std::vector<std::string>& OutSelCaptions();

// A text of every setting a study file or a dialog can change, to tell whether the study
// changed since it was last read or saved.
std::string SettingsFingerprint(const SimulationSettings& s);

}  // namespace mas::ui
