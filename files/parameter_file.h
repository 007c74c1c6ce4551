#pragma once
// The parameter file ("*.mas"): every stored setting of a study as a commented text file
// of tagged lines, its writer, its reader and the echo file "rd_echo.dat" the reader
// writes so that the user can check what was understood.
//
// Format. Each line starts with an integer record code. Code 8 is a comment: the rest
// of the line is free text. Codes 1..38 other than 8 and 13 are value records, followed
// by a fixed number of values of fixed types (reals, 32-bit integers, flags 0/1) in the
// order of ParameterRecords (engine/settings_fields.h); values are separated by white
// space, line ends included. Reals are written "%-7.5g", integers and flags "%-7d", with
// a point whatever the locale, so that a write then a read rounds every real to five
// significant digits. The doubles that would round beyond the range of a double (from
// 1.79765e308 up) are written as 1.7976e+308, so that every file written reads back.
//
// Reader behaviour worth knowing:
//  - Records may come in any order, repeat (the last wins), be missing (their settings
//    keep their values), be split over several lines or share a line. LF and CR LF line
//    ends are accepted, and a UTF-8 byte-order mark at the start of the file is skipped.
//  - The end of the file inside a record ends the reading normally: the values read are
//    stored, the missing ones keep their previous values.
//  - Escape (polled once per record, comment lines included) ends the reading as if the
//    file had ended there.
//  - A failed read changes nothing in the settings: the file is read into a copy that
//    replaces the settings only when the whole read succeeded.
//  - A value that is not a number of its field's type ends the reading with an error
//    naming the line, the record, the field, what was expected and what was read:
//      "Erreur de lecture !!! f.mas : ligne 8, enregistrement 2, champ p : entier
//       attendu, lu « 2.5 »"
//    A value must be a whole white-space-separated word: "2.5" is no integer, "1.5x" no
//    real. Integers must fit in 32 bits. Flags (the boolean settings) accept only 0 and 1;
//    the integer settings that hold a mode or an output selection (MLI, VectCtrl, Crsgn,
//    the OutSel columns...) accept any integer, as the file stores them as integers.
//    Reals are read as strtod reads them ("1.5", "1e-05", "-0", ".5", "5.", "+2"), except
//    hexadecimal forms; "inf", "-inf" and "nan" (any case) are accepted so that any
//    setting the writer can write is read back; a real beyond the range of a double
//    (1e400, 1e-400) is an error, not silently saturated or zeroed.
//  - A record code must be an integer standing alone ("3x" is an error), except that the
//    comment code 8 may be followed directly by its text ("8abc" is the comment "abc").
//    Codes 0, 13, negative codes and codes above 38 end the reading with
//    "Erreur de lecture !!! " followed by the file name.
//  - A comment line may be of any length: its whole text is skipped and echoed, so the
//    echo line always equals the comment line (without its CR).
//  - On a read error the echo file keeps what was echoed up to the failing record, which
//    shows the user where the reading stopped.
//
// Echo file: first the line "8 -------------------- retranscription de la lecture  ---...",
// then for every comment its line as read, and for every value record its code
// left-justified in two columns, one space and the field contents as stored (each in
// seven columns, eight for record 38, separated by two spaces, three between the 10th
// and 11th values of record 28; record 23 on two lines of 24 and 8 values, the second
// without prefix). For a file the writer produced, the echo repeats the file line by
// line except for those wider fields and that separator.

#include <stdexcept>
#include <string>
#include <utility>

#include "engine/settings.h"
#include "platform/platform.h"

namespace mas {

// Failure of the parameter file, with the message and caption the user is shown. The
// front end shows it; the library never shows a message box nor ends the process.
struct ParameterFileError : std::runtime_error {
  ParameterFileError(const std::string& message, std::string caption_in)
      : std::runtime_error(message), caption(std::move(caption_in)) {}
  std::string caption;  // "Erreur", or "Erreur d'écriture" for the writer
};

// Writes every stored setting to `path`: 110 lines, LF line ends. The text goes first
// into a new file of the same folder (".<name>.tmp<n>", created only if absent) that is
// then renamed over `path`, so a failed write leaves the previous file as it was (a
// symbolic link is followed: its target is replaced). Throws
// ParameterFileError("Impossible d'ouvrir le fichier " + path, "Erreur d'écriture")
// when the file cannot be written.
void WriteParameterFile(const SimulationSettings& s, const std::string& path);

// Reads the file named s.ParamFileName into s and writes the echo to `echo_path` through
// the file replacement (platform/file_replacement.h). The echo never replaces the file
// being read (an echo path naming it, or a link to it): the echo is then not written and
// the user is warned ("Attention"); an echo that cannot be written is a warning too, and
// the reading goes on. Any other link named as the echo is replaced by the echo, its
// target left as it was.
// After a complete read (or one ended by Escape): FileLoaded is set, the cage model's
// per-bar arrays are allocated anew for Nr with every bar at RbSain and every ring
// portion at ReSain, and CageArraysAllocated is set. Throws ParameterFileError with the
// caption "Erreur" when the file cannot be opened ("Impossible d'ouvrir le fichier " +
// name), is larger than 16 MiB ("Le fichier <name> dépasse 16 Mo : ce n'est pas un
// fichier d'étude"; a study is a few kilobytes) or the content cannot be read (messages
// above); s is then unchanged.
void ReadParameterFile(SimulationSettings& s, Platform& platform,
                       const std::string& echo_path = "rd_echo.dat");

}  // namespace mas
