#pragma once
// The --table-format option shared by the commands that write tables.

#include <CLI/CLI.hpp>

#include "tables/table_file.h"

namespace mas {

// Adds `--table-format text|csv|mat` to `app`; any other word is a usage error.
CLI::Option* AddTableFormatOption(CLI::App& app, TableFormat& format);

}  // namespace mas
