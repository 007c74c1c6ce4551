#pragma once
// The main window's menu tree as one table: every item with its menu path, caption,
// accelerator, status-bar hint and command. The menu bar is built from it, and a test
// checks it item by item.

#include <string>
#include <vector>

namespace mas::ui {

// What a menu item, a tool-bar button or a diagram region does.
enum class Command {
  kNone,  // shown disabled: no action in this workbench
  kFileOpen,
  kFileSave,
  kFileSaveAs,
  kQuit,
  kRun,
  kAffichage,
  kAbout,
  kDsvpwmWindow,
  kBarEditor,
  kSettingsDialog,   // opens the settings dialog named by `dialog`
  kNothing,          // bound, deliberately without effect
  kWorkbenchWindow,  // a workbench window of its own (identification, tuning)
};

struct MenuItem {
  std::vector<std::string> path;  // menus from the bar down, with their accelerators
  std::string caption;            // empty: a separator
  std::string shortcut;           // "F9", or empty
  std::string hint;               // long hint shown in the status bar
  std::string handler;            // the command's handler name; empty: no action
  Command command = Command::kNone;
  std::string dialog;  // kSettingsDialog: the dialog's class name
  bool starts_disabled = false;
};

struct MenuHint {
  std::vector<std::string> path;  // the submenu
  std::string hint;
};

// Every item, top-level menus in bar order and items in menu order.
const std::vector<MenuItem>& MenuItems();
// The hints of the menus that carry one.
const std::vector<MenuHint>& MenuHints();

// The item whose handler is `handler`; throws std::out_of_range if none.
const MenuItem& MenuItemByHandler(const std::string& handler);

}  // namespace mas::ui
