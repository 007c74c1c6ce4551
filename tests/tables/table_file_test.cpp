#include "tables/table_file.h"

#include <gtest/gtest.h>
#include <matio.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace mas {
namespace {

std::string TempPath(const std::string& name) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  return ::testing::TempDir() + "mas_" + test->test_suite_name() + "_" + test->name() + "_" +
         std::to_string(::getpid()) + "_" + name;
}

TEST(TableFormat, KindFollowsTheExtensionAndTheTableTakesItsOwn) {
  EXPECT_EQ(TableFormatOfPath("a/b.CSV"), TableFormat::kCsv);
  EXPECT_EQ(TableFormatOfPath("b.mat"), TableFormat::kMat);
  EXPECT_EQ(TableFormatOfPath("dem1.dat"), TableFormat::kText);
  EXPECT_EQ(TableFormatOfPath("csv"), TableFormat::kText);
  EXPECT_EQ(TablePathFor("res/out.dat", TableFormat::kCsv), "res/out.csv");
  EXPECT_EQ(TablePathFor("out", TableFormat::kMat), "out.mat");
  EXPECT_EQ(TablePathFor("out.dat", TableFormat::kText), "out.dat");
  EXPECT_FALSE(ParseTableFormat("CSV"));
}

TEST(MatlabNames, AreValidDistinctAndKeepTheNameWithoutItsUnit) {
  const std::string long_name(80, 'x');
  const std::vector<std::string> names =
      MatlabNames({"time(s)", "Ce(Nm)", "Vitesse(tr/mn)", "ang phi-s", "2e", "Ce(A)", "colonnes",
                   "", "Débit", long_name, long_name});
  EXPECT_EQ(names[0], "time");
  EXPECT_EQ(names[1], "Ce");
  EXPECT_EQ(names[2], "Vitesse");
  EXPECT_EQ(names[3], "ang_phi_s");
  EXPECT_EQ(names[4], "c_2e");
  EXPECT_EQ(names[5], "Ce_2");
  EXPECT_EQ(names[6], "colonnes_2");
  EXPECT_EQ(names[7], "c_");
  EXPECT_EQ(names[8], "D_bit");
  EXPECT_EQ(names[9], std::string(63, 'x'));
  // Built in place: g++ 12 takes the temporary of string + "_2" for an overflow at -O2.
  std::string cut_and_numbered(61, 'x');
  cut_and_numbered.append("_2");
  EXPECT_EQ(names[10], cut_and_numbered);
  EXPECT_EQ(SplitUnit("Ce(Nm)"), (std::pair<std::string, std::string>{"Ce", "Nm"}));
  EXPECT_EQ(SplitUnit("Ib12"), (std::pair<std::string, std::string>{"Ib12", ""}));
}

TEST(Csv, CommaAndSemicolonFilesRead) {
  TableFileRead comma = ParseCsv("time(s),Ce(Nm)\n0,1.5\n1e-3, -2 \n\n");
  ASSERT_TRUE(comma.complete) << comma.message;
  EXPECT_EQ(comma.table.names, (std::vector<std::string>{"time(s)", "Ce(Nm)"}));
  EXPECT_EQ(comma.table.columns[0], (std::vector<double>{0.0, 1e-3}));
  EXPECT_EQ(comma.table.columns[1], (std::vector<double>{1.5, -2.0}));

  // A logger's export: byte-order mark, quoted names, CR LF, decimal commas.
  TableFileRead semi = ParseCsv(
      "\xEF\xBB\xBF\"temps\";\"vitesse\";courant\r\n0;0,5;-1,25e1\r\n"
      "0,001;\"1000\";+3\r\n");
  ASSERT_TRUE(semi.complete) << semi.message;
  EXPECT_EQ(semi.table.names, (std::vector<std::string>{"temps", "vitesse", "courant"}));
  EXPECT_EQ(semi.table.columns[0], (std::vector<double>{0.0, 0.001}));
  EXPECT_EQ(semi.table.columns[1], (std::vector<double>{0.5, 1000.0}));
  EXPECT_EQ(semi.table.columns[2], (std::vector<double>{-12.5, 3.0}));

  TableFileRead bare = ParseCsv("1,2\n3,4\n");
  ASSERT_TRUE(bare.complete);
  EXPECT_FALSE(bare.has_header);
  EXPECT_EQ(bare.table.names, (std::vector<std::string>{"C1", "C2"}));
  EXPECT_EQ(bare.table.columns[1], (std::vector<double>{2.0, 4.0}));
}

TEST(Csv, BadRowsStopTheReadingWithTheirPlace) {
  struct Case {
    const char* text;
    std::size_t line;
    std::size_t column;
    const char* says;
  };
  const Case cases[] = {
      {"t,a,b\n0,1,2\n1,2\n", 3, 3, "valeur manquante"},
      {"t,a\n0,1\n1,2,3\n", 3, 3, "valeur en trop"},
      {"t,a\n0,1\n1,abc\n", 3, 2, "nombre attendu, lu « abc »"},
      {"t,a\n0,1.5\n1,1,5\n", 3, 3, "valeur en trop"},  // a decimal comma needs ';'
      {"t;a\n0;1.2.3\n", 2, 2, "nombre attendu"},
      {"t,a\n0,1e999\n", 2, 2, "nombre attendu"},
      {"\n \n", 1, 0, "vide"},
  };
  for (const Case& c : cases) {
    const TableFileRead r = ParseCsv(c.text);
    EXPECT_FALSE(r.complete) << c.text;
    EXPECT_EQ(r.error_line, c.line) << c.text;
    EXPECT_EQ(r.error_column, c.column) << c.text;
    EXPECT_NE(r.message.find(c.says), std::string::npos) << r.message;
    // The rows before the fault are kept, all columns of one length.
    for (const auto& column : r.table.columns) EXPECT_EQ(column.size(), r.table.RowCount());
  }
  const TableFileRead partial = ParseCsv("t,a\n0,1\n1,x\n");
  EXPECT_EQ(partial.table.RowCount(), 1u);
  const TableFileRead nan = ParseCsv("t,a\n0,nan\n1,-inf\n");
  ASSERT_TRUE(nan.complete);
  EXPECT_TRUE(std::isnan(nan.table.columns[1][0]));
  EXPECT_EQ(nan.table.columns[1][1], -INFINITY);
}

TEST(Csv, TextReadsBackToItsDigits) {
  ColumnTable table{{"time(s)", "Ias(A)"}, {{0.0, 1e-4, 0.123456789}, {-1.0 / 3.0, 1e20, 42}}};
  const std::string text = CsvText(table);
  EXPECT_EQ(text, "time(s),Ias(A)\n0,-0.33333333\n0.0001,1e+20\n0.12345679,42\n");
  const TableFileRead back = ParseCsv(text);
  ASSERT_TRUE(back.complete);
  EXPECT_EQ(back.table.columns[1][0], -0.33333333);
}

TEST(Mat, WrittenTableReadsBackWithItsNamesAndUnits) {
  const std::string path = TempPath("t.mat");
  ColumnTable table{{"time(s)", "Vitesse(tr/mn)", "Ib0", "Ib 0"},
                    {{0.0, 0.5, 1.0}, {1.0 / 3.0, -2.5e-300, 1e300}, {1, 2, 3}, {4, 5, 6}}};
  std::string message;
  ASSERT_TRUE(WriteMatFile(path, table, LinkPolicy::kFollow, message)) << message;
  const TableFileRead back = ReadMatFile(path);
  ASSERT_TRUE(back.complete) << back.message;
  EXPECT_EQ(back.table.names, table.names);
  EXPECT_EQ(back.table.columns, table.columns);

  // What MATLAB sees: the variables and the cell arrays of names and units.
  mat_t* mat = Mat_Open(path.c_str(), MAT_ACC_RDONLY);
  ASSERT_NE(mat, nullptr);
  EXPECT_EQ(Mat_GetVersion(mat), MAT_FT_MAT5);
  matvar_t* speed = Mat_VarRead(mat, "Vitesse");
  ASSERT_NE(speed, nullptr);
  EXPECT_EQ(speed->class_type, MAT_C_DOUBLE);
  EXPECT_EQ(speed->dims[0], 3u);
  EXPECT_EQ(speed->dims[1], 1u);
  Mat_VarFree(speed);
  matvar_t* units = Mat_VarRead(mat, "unites");
  ASSERT_NE(units, nullptr);
  ASSERT_EQ(units->class_type, MAT_C_CELL);
  matvar_t* second = Mat_VarGetCell(units, 1);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->dims[1], 5u);  // "tr/mn"
  Mat_VarFree(units);
  EXPECT_NE(Mat_VarRead(mat, "Ib_0"), nullptr);
  Mat_Close(mat);
  std::filesystem::remove(path);
}

// A file from elsewhere: variables in file order under their own names, what is no
// column skipped with its reason, and the faults refused with a message.
TEST(Mat, ForeignFilesAreReadOrRefusedWithAReason) {
  const std::string path = TempPath("f.mat");
  auto write = [&](auto&& fill) {
    mat_t* mat = Mat_CreateVer(path.c_str(), nullptr, MAT_FT_MAT5);
    ASSERT_NE(mat, nullptr);
    fill(mat);
    Mat_Close(mat);
  };
  auto add = [](mat_t* mat, const char* name, matio_classes c, matio_types t, std::size_t rows,
                std::size_t cols, void* data) {
    std::size_t dims[2] = {rows, cols};
    matvar_t* v = Mat_VarCreate(name, c, t, 2, dims, data, 0);
    Mat_VarWrite(mat, v, MAT_COMPRESSION_NONE);
    Mat_VarFree(v);
  };
  std::int32_t counts[3] = {1, 2, 3};
  float speeds[3] = {0.5F, 1.5F, 2.5F};
  double matrix[6] = {1, 2, 3, 4, 5, 6};
  char text[] = "abc";
  write([&](mat_t* mat) {
    add(mat, "n", MAT_C_INT32, MAT_T_INT32, 1, 3, counts);
    add(mat, "m", MAT_C_DOUBLE, MAT_T_DOUBLE, 3, 2, matrix);
    add(mat, "s", MAT_C_CHAR, MAT_T_UINT8, 1, 3, text);
    add(mat, "w", MAT_C_SINGLE, MAT_T_SINGLE, 3, 1, speeds);
  });
  TableFileRead r = ReadMatFile(path);
  ASSERT_TRUE(r.complete) << r.message;
  EXPECT_EQ(r.table.names, (std::vector<std::string>{"n", "w"}));
  EXPECT_EQ(r.table.columns[0], (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(r.table.columns[1], (std::vector<double>{0.5, 1.5, 2.5}));
  ASSERT_EQ(r.skipped.size(), 2u);
  EXPECT_EQ(r.skipped[0].name, "m");
  EXPECT_NE(r.skipped[0].reason.find("matrice"), std::string::npos);

  write([&](mat_t* mat) {
    add(mat, "a", MAT_C_DOUBLE, MAT_T_DOUBLE, 3, 1, matrix);
    add(mat, "b", MAT_C_DOUBLE, MAT_T_DOUBLE, 2, 1, matrix);
  });
  r = ReadMatFile(path);
  EXPECT_FALSE(r.complete);
  EXPECT_NE(r.message.find("même longueur"), std::string::npos) << r.message;

  write([&](mat_t* mat) { add(mat, "s", MAT_C_CHAR, MAT_T_UINT8, 1, 3, text); });
  r = ReadMatFile(path);
  EXPECT_FALSE(r.complete);
  EXPECT_NE(r.message.find("aucune variable"), std::string::npos) << r.message;

  std::ofstream(path) << "time(s) a\n0 1\n";
  r = ReadMatFile(path);
  EXPECT_FALSE(r.complete);
  EXPECT_NE(r.message.find("n'est pas un fichier MATLAB"), std::string::npos) << r.message;
  std::filesystem::remove(path);
  r = ReadMatFile(path);
  EXPECT_FALSE(r.complete);
}

}  // namespace
}  // namespace mas
