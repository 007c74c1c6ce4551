#include "files/parameter_file.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/settings_fields.h"
#include "files/number_format.h"
#include "platform/file_replacement.h"

namespace mas {
namespace {

// Comment lines of the written file, each tagged with the code of the record it comes
// before (0: after the last record). Within a tag the lines keep their file order.
struct CaptionLine {
  int before_code;
  const char* text;
};

constexpr CaptionLine kCaptionLines[] = {
    {1, "8 ---------------  Fichier de donnees pour ROTADYN prog  ---------------"},
    {1, "8"},
    {1, "8 ------  Caracteristiques electriques de la machine ( physique )  -----"},
    {1, "8  Rs       Rr       Ls       Lr       M"},
    {2, "8 ------  Caracteristiques mecaniques de la machine ( physique )  ------"},
    {2, "8  p        J        a10      a20      a30"},
    {3, "8 -------------------------  Parmetres temporels  ----------------------"},
    {3, "8  t0       tf       td0      dt       TMLI"},
    {4, "8 ------------------------------  Onduleur  ----------------------------"},
    {4, "8  E/2      fs"},
    {5, "8 --------------------  Regulateur de courant : axe q  -----------------"},
    {5, "8  NTregI   IqsrefM  Kpq      Kiq      VqsrefMax IqsFE IqsFdE IqsFdU"},
    {26, "8 --------------------  Regulateur de courant : axe q  -----------------"},
    {26, "8  PI       IP       Flou"},
    {6, "8 --------------------  Regulateur de courant : axe d  -----------------"},
    {6, "8  Kpd      Kid      VdsrefMax IdsFE   IdsFdE   IdsFdU"},
    {27, "8 --------------------  Regulateur de courant : axe d  -----------------"},
    {27, "8  PI       IP       Flou"},
    {7, "8 -----------------------  Regulateur de vitesse Wm  -------------------"},
    {7, "8  NTregW   KpW      KiW      TtW      WFErr    WFdErr   WFdU"},
    {9, "8 ---------------------  Type de regulateur de vitesse  ----------------"},
    {9, "8  PI       IP       Flou     ChangeK"},
    {10, "8 -------------------  Options d'affichage et de sortie  ---------------"},
    {10, "8  OutOpt   OutStep"},
    {11, "8 ------  Caracteristiques electriques de la machine ( modele )  -------"},
    {11, "8  mRs      mRr      mLs      mLr      mM"},
    {12, "8 ------  Caracteristiques mecaniques de la machine ( modele )  --------"},
    {12, "8  mp\t\t\tmJ       ma10     ma20     ma30"},
    {14, "8 -------------------------  Type de simulation  -----------------------"},
    {14, "8  MLI/Hyst VectCtrl Courant  Statique Decouple Flux_typ DTC      SpecialModel"},
    {15, "8 ------------------------------  Evenements  --------------------------"},
    {15, "8 ------------------  instants et references de vitesse  ---------------"},
    {15, "8  Wwt1     Wmt2     Wmt3     Wmt4"},
    {16, "8  Wwref1   Wmref2   Wmref3   Wmref4"},
    {17, "8 ------------------  instants et references de couple  ----------------"},
    {17, "8  Crt1     Crt2     Crt3     Crt4"},
    {18, "8  da1ref1  da1ref2  da1ref3  da1ref4"},
    {19, "8  da2ref1  da2ref2  da2ref3  da2ref4"},
    {20, "8  da3ref1  da3ref2  da3ref3  da3ref4  Crsgn"},
    {21, "8 ------------------  instants et references de mRr     ----------------"},
    {21, "8  Rrt1     Rrt2     Rrt3     Rrt4"},
    {22, "8  Rrref1   Rrref2   Rrref3   Rrref4"},
    {23, "8  Ce\t\t\tWm\t\t\tIas\t\tVas\t\tIdsref\tIds\t\tIqsref  \tIqs"},
    {23, "8\tVdsref\tVqsref\tEsalpha\tEsbeta\tIdsMAS\tIqsMAS\tCeMAS\t\tCrMAS"},
    {23, "8\tthetas\tangphi_s\tangphi_r\tPhi_alpha_s\tPhi_beta_s \tPhi_alpha_r\tPhi_beta_r Phidr"},
    {23, "8\tPhi1s\t\tPhi2s\t\tIasF\t\tIbsF\t\tIdsF \t\tIqsF\tangphi_s_Corr"},
    {24, "8 -------------  Paliers de vitesse et Ids pour le defluxage  ----------"},
    {24, "8  Wmlim1   Wmlim2   Wmlim3"},
    {25, "8  Idsref1  Idsref2  Idsref3"},
    {28, "8 ----------------  Parametres de la machine speciale  -----------------"},
    {28, "8  Rayon    Long     efer     Ns       Nr       Lsl      RbSain   RbCasse"},
    {28, "8  ReSain   ReCasse  Le       Lb"},
    {29, "8 -----------  Options de demarrage et de chute de tension  ------------"},
    {29, "8  VoltDrop dVtf     dVA      dVB      dVC      VsPh"},
    {30, "8 --------  Option de rupture de barres rotoriques - instants  ---------"},
    {30, "8  RbCasset1 RbCasset2 RbCasset3 RbCasset4"},
    {31, "8 ---  Option de rupture de barres rotoriques - numero de la barre  ----"},
    {31, "8  Rbn1      Rbn2      Rbn3      Rbn4"},
    {32, "8 --  Option de rupture de barres rotoriques - Resistance residuelle  --"},
    {32, "8  RbRef1    RbRef2    RbRef3    RbRef4"},
    {34, "8 -----  reinitialisation de la valeur des resistances des barres  -----"},
    {34, "8  BarreInit AnneauInit"},
    {33, "8 --------------------  Option de l'essai statique  --------------------"},
    {33, "8  Vcss     tfss"},
    {35, "8 --------  Option de rupture des portions d'anneau - instants  --------"},
    {35, "8  ReCasset1 ReCasset2 ReCasset3 ReCasset4"},
    {36, "8 ---  Option de rupture des portions d'anneau - numero de la barre  ---"},
    {36, "8  Ren1      Ren2      Ren3      Ren4"},
    {37, "8 --  Option de rupture des portions d'anneau - Resistance residuelle --"},
    {37, "8  ReRef1    ReRef2    ReRef3    ReRef4"},
    {38, "8 -------------------  Option de defluxage - suite ---------------------"},
    {38, "8  Flag      Kdeflux   WmBase"},
    {0, "8 ----------------------  Fin du fichier de donnees  -------------------"},
};

constexpr std::string_view kEchoHeader =
    "8 -------------------- retranscription de la lecture  ------------------\n";
constexpr int kPrecision = 5;  // significant digits of every real, file and echo alike
constexpr int kWidth = 7;      // field width of every value
constexpr int kCommentCode = 8;
constexpr int kMaxCode = 38;

// The largest magnitude the file holds. Five significant digits round the doubles above
// it, up to the largest one, to 1.7977e+308, which lies beyond the range of a double and
// which the reader therefore refuses; the writer gives those values as this one instead.
constexpr double kLargestWrittenReal = 1.7976e308;

// Appends one field's current content as "%-<width>.5g" (reals) or "%-<width>d". For the
// file (`readable`), reals beyond kLargestWrittenReal are written as kLargestWrittenReal.
void AppendField(std::string& out, const FieldRef& f, int width, bool readable = false) {
  char buf[kMaxNumberChars + 16];
  char* end = buf;
  switch (f.type) {
    case ValueType::kReal: {
      double v = f.real();
      if (readable && std::isfinite(v) && std::fabs(v) > kLargestWrittenReal) {
        v = std::copysign(kLargestWrittenReal, v);
      }
      end = AppendLeftG(buf, v, kPrecision, width);
      break;
    }
    case ValueType::kInt:
    case ValueType::kIntFlag:
      end = AppendLeftInt(buf, f.integer(), width);
      break;
    case ValueType::kFlag:
      end = AppendLeftInt(buf, f.flag() ? 1 : 0, width);
      break;
    case ValueType::kText:
      out += f.text();
      if (static_cast<int>(f.text().size()) < width) out.append(width - f.text().size(), ' ');
      return;
  }
  out.append(buf, end);
}

// ---------------------------------------------------------------------------------------
// Writing.

std::string ParameterFileText(SimulationSettings& s) {
  std::string out;
  out.reserve(8192);
  auto captions_before = [&](int code) {
    for (const auto& line : kCaptionLines) {
      if (line.before_code == code) {
        out += line.text;
        out += '\n';
      }
    }
  };
  for (const auto& record : ParameterRecords(s)) {
    captions_before(record.code);
    // The code takes three columns ("1  ", "26 ") so that every first value starts in
    // the fourth column.
    out += std::to_string(record.code);
    out += record.code < 10 ? "  " : " ";
    const int n = static_cast<int>(record.fields.size());
    for (int i = 0; i < n; ++i) {
      if (i == record.first_line_values) {
        out += '\n';  // record 23 goes on with its last values, without prefix
      } else if (i > 0) {
        out += "  ";
      }
      AppendField(out, record.fields[i], kWidth, /*readable=*/true);
    }
    out += '\n';
  }
  captions_before(0);
  return out;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// ---------------------------------------------------------------------------------------
// Reading.

constexpr bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A cursor over the file's text.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {
    // A byte-order mark left by a text editor is no part of the first code.
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
  }

  bool AtEnd() const { return pos_ >= text_.size(); }
  std::size_t pos() const { return pos_; }
  char Peek() const { return text_[pos_]; }
  void Advance() { ++pos_; }
  std::string_view Slice(std::size_t from, std::size_t to) const {
    return text_.substr(from, to - from);
  }

  void SkipSpace() {
    while (!AtEnd() && IsSpace(text_[pos_])) ++pos_;
  }

  // The white-space-free word starting at `from` (the cursor moves past it).
  std::string_view WordFrom(std::size_t from) {
    pos_ = from;
    while (!AtEnd() && !IsSpace(text_[pos_])) ++pos_;
    return text_.substr(from, pos_ - from);
  }

  // The rest of the current line, without its line end (LF or CR LF), which is consumed.
  std::string_view RestOfLine() {
    const std::size_t from = pos_;
    std::size_t end = text_.find('\n', from);
    if (end == std::string_view::npos) end = text_.size();
    pos_ = end < text_.size() ? end + 1 : end;
    if (end > from && text_[end - 1] == '\r') --end;
    return text_.substr(from, end - from);
  }

  // Line number (from 1) of a position.
  int LineOf(std::size_t at) const {
    int line = 1;
    for (std::size_t i = 0; i < at && i < text_.size(); ++i) line += text_[i] == '\n';
    return line;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

enum class ParseResult { kOk, kInvalid, kOutOfRange };

// A whole word as a 32-bit integer; a leading '+' is accepted as strtol accepts it.
ParseResult ParseInt(std::string_view word, int& value) {
  if (word.size() > 1 && word[0] == '+' && word[1] != '-') word.remove_prefix(1);
  const auto [ptr, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (ec == std::errc::result_out_of_range) return ParseResult::kOutOfRange;
  if (ec != std::errc() || ptr != word.data() + word.size()) return ParseResult::kInvalid;
  return ParseResult::kOk;
}

// A whole word as a double, in the decimal forms strtod reads; "inf" and "nan" included.
// A value beyond the range of a double, too large or too small to be told from zero, is
// refused rather than silently saturated or zeroed.
ParseResult ParseReal(std::string_view word, double& value) {
  if (word.size() > 1 && word[0] == '+' && word[1] != '-') word.remove_prefix(1);
  const char* end = word.data() + word.size();
  const auto [ptr, ec] = std::from_chars(word.data(), end, value, std::chars_format::general);
  if (ptr != end) return ParseResult::kInvalid;
  if (ec == std::errc::result_out_of_range) return ParseResult::kOutOfRange;
  return ec == std::errc() ? ParseResult::kOk : ParseResult::kInvalid;
}

// A word as shown in a message: cut after 40 bytes, on a character boundary.
std::string Quoted(std::string_view word) {
  constexpr std::size_t kMaxShown = 40;
  std::string shown;
  if (word.size() <= kMaxShown) {
    shown = word;
  } else {
    std::size_t cut = kMaxShown;
    while (cut > 0 && (static_cast<unsigned char>(word[cut]) & 0xC0) == 0x80) --cut;
    shown = std::string(word.substr(0, cut)) + "…";
  }
  return "« " + shown + " »";
}

class Reader {
 public:
  Reader(SimulationSettings& s, Platform& platform, std::string_view text, std::string name)
      : s_(s),
        platform_(platform),
        scan_(text),
        name_(std::move(name)),
        records_(ParameterRecords(s)) {
    for (auto& r : records_) by_code_[r.code] = &r;
    echo_.reserve(text.size() + 1024);
    echo_ += kEchoHeader;
  }

  const std::string& echo() const { return echo_; }

  // Reads records until the end of the text or Escape.
  void Run() {
    for (;;) {
      if (platform_.EscapePressed()) return;
      scan_.SkipSpace();
      if (scan_.AtEnd()) return;
      const int code = ReadCode();
      AppendCodeEcho(code);
      if (code == kCommentCode) {
        // The echo steps back over the space after the "8", so that its line equals the
        // comment line.
        echo_.pop_back();
        echo_ += scan_.RestOfLine();
        echo_ += '\n';
      } else {
        ReadRecord(*by_code_[code]);
      }
      if (scan_.AtEnd()) return;
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& detail) const {
    throw ParameterFileError("Erreur de lecture !!! " + name_ + detail, "Erreur");
  }

  // Reads a record code. The code 8 may run straight into its comment text; any other
  // code must stand alone.
  int ReadCode() {
    const std::size_t start = scan_.pos();
    if (scan_.Peek() == '+' || scan_.Peek() == '-') scan_.Advance();
    const std::size_t digits = scan_.pos();
    while (!scan_.AtEnd() && IsDigit(scan_.Peek())) scan_.Advance();
    const std::size_t end = scan_.pos();
    const bool alone = scan_.AtEnd() || IsSpace(scan_.Peek());
    int code = 0;
    const ParseResult parsed =
        end == digits ? ParseResult::kInvalid : ParseInt(scan_.Slice(start, end), code);
    if (parsed == ParseResult::kInvalid || (!alone && code != kCommentCode)) {
      Fail(" : ligne " + std::to_string(scan_.LineOf(start)) +
           " : code d'enregistrement attendu, lu " + Quoted(scan_.WordFrom(start)));
    }
    if (parsed == ParseResult::kOutOfRange) Fail("");  // far beyond the last code
    if (code != kCommentCode && (code < 1 || code > kMaxCode || !by_code_[code])) {
      AppendCodeEcho(code);
      Fail("");
    }
    return code;
  }

  void AppendCodeEcho(int code) {
    char buf[kMaxNumberChars + 4];
    echo_.append(buf, AppendLeftInt(buf, code, 2));
  }

  void ReadRecord(const ParameterRecord& record) {
    for (const auto& field : record.fields) {
      scan_.SkipSpace();
      if (scan_.AtEnd()) break;  // the file ends inside the record: keep what is missing
      const std::size_t start = scan_.pos();
      const std::string_view word = scan_.WordFrom(start);
      Store(record.code, field, word, start);
    }
    ApplyRecordUpdate(s_, record.code);
    AppendRecordEcho(record);
  }

  void Store(int code, const FieldRef& field, std::string_view word, std::size_t start) {
    ParseResult result = ParseResult::kOk;
    std::string_view expected;
    switch (field.type) {
      case ValueType::kReal: {
        double v = 0.0;
        result = ParseReal(word, v);
        if (result == ParseResult::kOk) field.real() = v;
        expected = ValueTypeName(ValueType::kReal);
        break;
      }
      case ValueType::kInt:
      case ValueType::kIntFlag: {
        int v = 0;
        result = ParseInt(word, v);
        if (result == ParseResult::kOk) field.integer() = v;
        expected = ValueTypeName(ValueType::kInt);
        break;
      }
      case ValueType::kFlag: {
        int v = 0;
        result = ParseInt(word, v);
        if (result == ParseResult::kOk && (v == 0 || v == 1)) {
          field.flag() = v == 1;
        } else {
          result = ParseResult::kInvalid;
        }
        expected = ValueTypeName(ValueType::kFlag);
        break;
      }
      case ValueType::kText:
        field.text() = word;
        break;
    }
    if (result == ParseResult::kOk) return;
    Fail(" : ligne " + std::to_string(scan_.LineOf(start)) + ", enregistrement " +
         std::to_string(code) + ", champ " + std::string(field.name) + " : " +
         std::string(expected) + " attendu, lu " + Quoted(word) +
         (result == ParseResult::kOutOfRange ? " (hors limites)" : ""));
  }

  // " " then every field in seven columns (eight for record 38), two spaces apart (three
  // between the 10th and 11th of record 28); record 23 on two lines.
  void AppendRecordEcho(const ParameterRecord& record) {
    const int width = record.code == 38 ? kWidth + 1 : kWidth;
    echo_ += ' ';
    const int n = static_cast<int>(record.fields.size());
    for (int i = 0; i < n; ++i) {
      if (i == record.first_line_values) {
        echo_ += '\n';
      } else if (i > 0) {
        echo_ += (record.code == 28 && i == 10) ? "   " : "  ";
      }
      AppendField(echo_, record.fields[i], width);
    }
    echo_ += '\n';
  }

  SimulationSettings& s_;
  Platform& platform_;
  Scanner scan_;
  std::string name_;
  std::vector<ParameterRecord> records_;
  std::array<const ParameterRecord*, kMaxCode + 1> by_code_{};
  std::string echo_;
};

// A study is a few kilobytes; anything beyond this is not one (a device such as /dev/zero,
// a wrong file), and reading it whole could take all the memory.
constexpr std::size_t kMaxParameterFileBytes = std::size_t{16} << 20;

enum class WholeFile { kRead, kUnreadable, kTooLarge };

// The whole content of a file, up to kMaxParameterFileBytes.
WholeFile ReadWholeFile(const std::string& path, std::string& text) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) return WholeFile::kUnreadable;
  char buf[65536];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, file.get())) > 0) {
    if (text.size() + n > kMaxParameterFileBytes) return WholeFile::kTooLarge;
    text.append(buf, n);
  }
  return std::ferror(file.get()) == 0 ? WholeFile::kRead : WholeFile::kUnreadable;
}

}  // namespace

void WriteParameterFile(const SimulationSettings& s, const std::string& path) {
  // ParameterRecords hands out writable references; the writer only reads through them.
  const std::string text = ParameterFileText(const_cast<SimulationSettings&>(s));
  if (!ReplaceFileContents(path, text)) {
    throw ParameterFileError("Impossible d'ouvrir le fichier " + path, "Erreur d'écriture");
  }
}

void ReadParameterFile(SimulationSettings& s, Platform& platform, const std::string& echo_path) {
  const std::string& name = s.ParamFileName;
  std::string text;
  switch (ReadWholeFile(name, text)) {
    case WholeFile::kRead:
      break;
    case WholeFile::kUnreadable:
      throw ParameterFileError("Impossible d'ouvrir le fichier " + name, "Erreur");
    case WholeFile::kTooLarge:
      throw ParameterFileError("Le fichier " + name + " dépasse " +
                                   std::to_string(kMaxParameterFileBytes >> 20) +
                                   " Mo : ce n'est pas un fichier d'étude",
                               "Erreur");
  }
  // The echo goes through the file replacement, as every file the program writes, but
  // never in place of the file being read (an echo named as the study, or a link to it).
  // Nobody asked for it by name, so a link found under its name is replaced, never
  // followed: a link planted there cannot make the reading overwrite another file.
  // It only helps the user check the reading: a failure to write it is a warning.
  auto write_echo = [&platform, &echo_path, &name](std::string_view echo) {
    if (SameFile(echo_path, name)) {
      platform.ShowMessage("Le fichier d'écho " + echo_path +
                               " est le fichier lu : il n'est pas remplacé par l'écho",
                           "Attention", MessageIcon::kExclamation);
    } else if (!ReplaceFileContents(echo_path, echo, LinkPolicy::kReplaceLink)) {
      platform.ShowMessage(
          "Impossible d'écrire le fichier d'écho " + echo_path + " : la lecture continue sans lui",
          "Attention", MessageIcon::kExclamation);
    }
  };

  // Everything is read into a copy, which replaces the settings only after a complete
  // read: a failed read leaves the study as it was.
  SimulationSettings work = s;
  work.cage.FreeArrays();
  work.CageArraysAllocated = false;

  Reader reader(work, platform, text, name);
  try {
    reader.Run();
  } catch (const ParameterFileError&) {
    // The echo up to the failing record shows where the reading stopped.
    write_echo(reader.echo());
    throw;
  }
  write_echo(reader.echo());

  work.FileLoaded = true;
  // Experimental tables built on another time base or supply period no longer match the
  // recorded steps of a run, as when the time dialog is stored.
  MarkExperimentalTablesStale(work, s);
  // The arrays were released before the read: sized again for the Nr read, every bar and
  // ring portion healthy.
  ResetCageArrays(work, /*reallocate=*/true);
  s = std::move(work);
}

}  // namespace mas
