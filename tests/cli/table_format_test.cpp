// Tables written as CSV and MAT files, and records read from them.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "files/number_format.h"
#include "tables/table_file.h"
#include "tests/cli/start_up_record.h"

namespace mas {
namespace {

namespace fs = std::filesystem;

std::vector<std::vector<std::string>> Rows(const std::string& text, char separator) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> cells;
    if (separator == ' ') {
      std::istringstream words(line);
      std::string word;
      while (words >> word) cells.push_back(word);
    } else {
      std::istringstream fields(line);
      std::string field;
      while (std::getline(fields, field, separator)) cells.push_back(field);
    }
    rows.push_back(cells);
  }
  return rows;
}

using MasTableFormat = testing::CommandTest;

// The three kinds of one run hold the same cells: CSV the text's very digits, .mat the
// values that print as them; the text table is what it was without the option.
TEST_F(MasTableFormat, CsvAndMatTablesHoldTheTextTablesDigits) {
  fs::copy_file(MAS_SOURCE_DIR "/examples/default.mas", Path("study.mas"));
  const std::string study = Path("study.mas");
  for (const char* set : {"tf=0.02", "OutStep=7", "OutSel.Ce=1", "OutSel.Phidr=1", "td0=0.001"}) {
    ASSERT_EQ(Mas({"save", study, study, "--set", set}), 0) << err_.str();
  }
  // The sensor columns (integers among them) are chosen for the run only.
  auto run = [&](std::vector<std::string> more) {
    std::vector<std::string> args{"run", study, "-o", Path("out.dat"), "--set", "OutSensor=1"};
    args.insert(args.end(), more.begin(), more.end());
    return Mas(args);
  };
  ASSERT_EQ(run({}), 0) << err_.str();
  const std::string text = ReadAll(Path("out.dat"));
  ASSERT_EQ(run({"--table-format", "text"}), 0);
  EXPECT_EQ(ReadAll(Path("out.dat")), text);
  ASSERT_EQ(run({"--table-format", "csv"}), 0);
  ASSERT_EQ(run({"--table-format", "mat"}), 0);
  EXPECT_NE(out_.str().find("Sortie           : " + Path("out.mat")), std::string::npos);
  EXPECT_EQ(ReadAll(Path("out.dat")), text);  // the other kinds leave it alone

  const auto words = Rows(text, ' ');
  ASSERT_GT(words.size(), 20u);
  EXPECT_EQ(Rows(ReadAll(Path("out.csv")), ','), words);

  const TableFileRead mat = ReadMatFile(Path("out.mat"));
  ASSERT_TRUE(mat.complete) << mat.message;
  ASSERT_EQ(mat.table.names, words[0]);
  ASSERT_EQ(mat.table.RowCount() + 1, words.size());
  EXPECT_NE(mat.table.ColumnIndex("EtatCapteur"), -1);
  for (std::size_t r = 0; r < mat.table.RowCount(); ++r) {
    for (std::size_t c = 0; c < mat.table.columns.size(); ++c) {
      ASSERT_EQ(FormatG(mat.table.columns[c][r], 8), words[r + 1][c]) << r << " " << c;
    }
  }

  EXPECT_EQ(Mas({"run", study, "-o", Path("out.dat"), "--table-format", "xls"}), 2);
  EXPECT_NE(err_.str().find("text, csv ou mat attendu"), std::string::npos) << err_.str();
}

// A .mat table under a write-protected name is refused before the run, as a text one is.
TEST_F(MasTableFormat, TheOutputRulesHoldForEveryKind) {
  const std::string study = MAS_SOURCE_DIR "/examples/default.mas";
  std::ofstream(Path("out.mat")) << "keep";
  fs::permissions(Path("out.mat"), fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(Mas({"run", study, "-o", Path("out.dat"), "--table-format", "mat"}), 1);
  EXPECT_EQ(ReadAll(Path("out.mat")), "keep");
  EXPECT_FALSE(fs::exists(Path("out.dat")));
}

// The start-up record as a logger would export it: the same numbers, semicolons and
// decimal commas, or a .mat file with its columns in another order.
class MasTableRecord : public testing::StartUpRecordTest {
 protected:
  void SetUp() override {
    StartUpRecordTest::SetUp();
    WriteStartUp("0.05", "0.06");
    std::string csv = "temps;a;b;vitesse;courant\n";
    ColumnTable mat{{"courant", "vitesse", "temps"}, {{}, {}, {}}};
    for (const auto& row : Rows(ReadAll(Path("rec.dat")), ' ')) {
      if (row[0] == "t") continue;
      for (std::size_t c = 0; c < row.size(); ++c) {
        std::string cell = row[c];
        for (char& ch : cell) ch = ch == '.' ? ',' : ch;
        csv += cell + (c + 1 < row.size() ? ";" : "\r\n");
      }
      mat.columns[0].push_back(std::stod(row[4]));
      mat.columns[1].push_back(std::stod(row[3]));
      mat.columns[2].push_back(std::stod(row[0]));
    }
    std::ofstream(Path("rec.csv")) << csv;
    std::string message;
    ASSERT_TRUE(WriteMatFile(Path("rec.mat"), mat, LinkPolicy::kFollow, message)) << message;
  }

  // The best set and the cost of one seeded generation on this record.
  std::string Identify(const std::string& record, std::vector<std::string> more = {}) {
    out_.str("");
    std::vector<std::string> args = {
        "identify",  "ga", study_,  "--generations", "1",      "--seed",     "3",
        "--threads", "1",  "--exp", record,          "--logs", dir_.string()};
    args.insert(args.end(), more.begin(), more.end());
    EXPECT_EQ(MasMain(args, env_), 0) << err_.str();
    const std::string out = out_.str();
    return out.substr(out.find("génération"));
  }
};

TEST_F(MasTableRecord, CsvAndMatRecordsIdentifyAsTheirTextTwin) {
  const std::string text = Identify(Path("rec.dat"));
  EXPECT_EQ(Identify(Path("rec.csv")), text);
  EXPECT_EQ(Identify(Path("rec.mat"), {"--columns", "t=temps,wm=vitesse,ias=courant"}), text);
  // A run's .mat table as the record: its columns answer to their variable names too.
  ASSERT_EQ(MasMain({"run", study_, "--set", "tf=0.06", "--set", "OutStep=5", "-o",
                     Path("start.dat"), "--table-format", "mat"},
                    env_),
            0);
  EXPECT_EQ(Identify(Path("start.mat"), {"--columns", "t=time,wm=Vitesse,ias=Ias(A)"}),
            Identify(Path("start.dat"), {"--columns", "wm=Vitesse(tr/mn),ias=Ias(A)"}));
  // Named columns of a text record.
  EXPECT_EQ(Identify(Path("rec.dat"), {"--columns", "ias=I,wm=N", "--set", "ExpWmCol=1"}), text);
}

// The trajectory fit reads its records through the same reading: a CSV twin fits the
// same. Lines naming the file or the time taken aside, the reports are the same.
TEST_F(MasTableRecord, CsvRecordFitsAsItsTextTwin) {
  auto fit = [&](const std::string& record) {
    out_.str("");
    EXPECT_EQ(MasMain({"identify", "fit", study_, "--exp", record, "--starts", "1", "--seed", "1",
                       "--max-iterations", "2", "--threads", "1"},
                      env_),
              0)
        << err_.str();
    std::istringstream lines(out_.str());
    std::string kept;
    for (std::string line; std::getline(lines, line);) {
      if (line.find(record) == std::string::npos && line.rfind("Calcul", 0) != 0) {
        kept += line + "\n";
      }
    }
    return kept;
  };
  const std::string text = fit(Path("rec.dat"));
  EXPECT_NE(text.find("Départs"), std::string::npos) << text;
  EXPECT_EQ(fit(Path("rec.csv")), text);
}

TEST_F(MasTableRecord, BadTableRecordsEndWithOneAndSayWhy) {
  std::ofstream(Path("ragged.csv")) << "t,wm,ias\n0,0,0\n0.001,1\n";
  std::ofstream(Path("nan.csv")) << "t,a,b,wm,ias\n0,0,0,0,0\n0.001,0,0,nan,1\n";
  struct Case {
    std::string record;
    std::vector<std::string> more;
    const char* says;
  };
  const Case cases[] = {
      {Path("ragged.csv"), {}, "valeur manquante"},
      {Path("nan.csv"), {}, "Nombre fini attendu, rangée de données 2, colonne 3 « wm »"},
      {Path("rec.mat"), {}, "Probleme de n° de colones"},
      {Path("rec.mat"), {"--columns", "t=temps,wm=speed"}, "Colonne « speed » absente"},
      {Path("rec.dat"), {"--columns", "t=N"}, "le temps d'un fichier texte est sa colonne 0"},
  };
  for (const Case& c : cases) {
    platform_.messages.clear();
    std::vector<std::string> args = {"identify", "ga",     study_,   "--generations", "1",
                                     "--exp",    c.record, "--logs", dir_.string()};
    args.insert(args.end(), c.more.begin(), c.more.end());
    EXPECT_EQ(MasMain(args, env_), 1) << c.record;
    ASSERT_EQ(platform_.messages.size(), 1u) << c.record;
    EXPECT_NE(platform_.messages[0].text.find(c.says), std::string::npos)
        << platform_.messages[0].text;
  }
  EXPECT_EQ(MasMain({"identify", "ga", study_, "--columns", "x=1"}, env_), 2);
}

}  // namespace
}  // namespace mas
