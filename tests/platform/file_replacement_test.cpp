#include "platform/file_replacement.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/file_size_limit.h"

namespace mas {
namespace {

namespace fs = std::filesystem;

class FileReplacementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / (std::string("mas_replace_") + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void Spit(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) {
      names.push_back(e.path().filename().string());
    }
    return names;
  }

  fs::path dir_;
};

TEST_F(FileReplacementTest, TheTargetChangesOnlyAtCommitKeepingItsRightsAndLinks) {
  const fs::path target = dir_ / "out.dat";
  const auto rights = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  Spit(target, "previous\n");
  fs::permissions(target, rights);
  fs::create_symlink(target, dir_ / "link.dat");

  FileReplacement replacement;
  ASSERT_TRUE(replacement.Begin((dir_ / "link.dat").string()));
  std::fputs("new\n", replacement.file());
  std::fflush(replacement.file());
  // While the new version is written, readers still see the previous one.
  EXPECT_EQ(Slurp(target), "previous\n");
  EXPECT_EQ(Names().size(), 3u);
  ASSERT_TRUE(replacement.Commit());
  EXPECT_EQ(replacement.file(), nullptr);
  EXPECT_EQ(Slurp(target), "new\n");
  EXPECT_EQ(fs::status(target).permissions(), rights);
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.dat"));
  EXPECT_THAT(Names(), ::testing::UnorderedElementsAre("out.dat", "link.dat"));

  // Two writers of one file never share a temporary file.
  FileReplacement first, second;
  ASSERT_TRUE(first.Begin(target.string()));
  ASSERT_TRUE(second.Begin(target.string()));
  std::fputs("first\n", first.file());
  std::fputs("second\n", second.file());
  ASSERT_TRUE(first.Commit());
  ASSERT_TRUE(second.Commit());
  EXPECT_EQ(Slurp(target), "second\n");
  EXPECT_EQ(Names().size(), 2u);
}

TEST_F(FileReplacementTest, AbandonedOrFailedVersionsLeaveThePreviousFileAndNoTemporary) {
  const fs::path target = dir_ / "study.mas";
  Spit(target, "previous\n");
  {
    FileReplacement replacement;
    ASSERT_TRUE(replacement.Begin(target.string()));
    std::fputs("half of a new ver", replacement.file());
  }  // the program gave up on it
  EXPECT_EQ(Slurp(target), "previous\n");

  // Nothing can be created: no name, a missing folder, a folder in place of the file.
  FileReplacement replacement;
  EXPECT_FALSE(replacement.Begin(""));
  EXPECT_FALSE(replacement.Begin((dir_ / "").string()));
  EXPECT_FALSE(replacement.Begin((dir_ / "no/such/folder/out.dat").string()));
  fs::create_directory(dir_ / "folder");
  EXPECT_FALSE(replacement.Begin((dir_ / "folder").string()));
  EXPECT_FALSE(replacement.Commit());
  EXPECT_FALSE(ReplaceFileContents((dir_ / "folder").string(), "text"));

  // A disk that fills up half-way.
  {
    const testing::FileSizeLimit full_disk(1000);
    ASSERT_TRUE(full_disk.active());
    EXPECT_FALSE(ReplaceFileContents(target.string(), std::string(5000, 'x')));
    ASSERT_TRUE(replacement.Begin(target.string()));
    for (int i = 0; i < 5000; ++i) std::fputc('y', replacement.file());
    EXPECT_FALSE(replacement.Commit());
  }
  EXPECT_EQ(Slurp(target), "previous\n");
  EXPECT_THAT(Names(), ::testing::UnorderedElementsAre("study.mas", "folder"));
}

TEST_F(FileReplacementTest, TemporariesLeftBehindNeverUseTheNamesUpAndProtectedFilesStay) {
  const fs::path target = dir_ / "out.dat";
  Spit(target, "previous\n");
  // What a hundred killed runs of a numbered scheme would have left.
  for (int i = 0; i < 100; ++i) Spit(dir_ / (".out.dat.tmp" + std::to_string(i)), "");
  FileReplacement replacement;
  ASSERT_TRUE(replacement.Begin(target.string()));
  std::vector<std::string> temporaries;
  for (const std::string& name : Names()) {
    if (name.size() == 12 + kTemporaryRandomChars && name.starts_with(".out.dat.tmp")) {
      temporaries.push_back(name);
    }
  }
  ASSERT_EQ(temporaries.size(), 1u);  // the new one, of the random form
  std::fputs("new\n", replacement.file());
  ASSERT_TRUE(replacement.Commit());
  EXPECT_EQ(Slurp(target), "new\n");
  EXPECT_EQ(Names().size(), 101u);  // others' leftovers are not ours to remove

  // A write-protected file is refused, through a link too, and stays as it was.
  fs::permissions(target, fs::perms::owner_read | fs::perms::group_read);
  fs::create_symlink(target, dir_ / "link.dat");
  EXPECT_TRUE(IsWriteProtected(target.string()));
  EXPECT_TRUE(IsWriteProtected((dir_ / "link.dat").string()));
  EXPECT_FALSE(replacement.Begin((dir_ / "link.dat").string()));
  EXPECT_FALSE(ReplaceFileContents(target.string(), "over\n"));
  EXPECT_EQ(Slurp(target), "new\n");
  EXPECT_EQ(Names().size(), 102u);
  EXPECT_FALSE(IsWriteProtected((dir_ / "absent.dat").string()));

  EXPECT_TRUE(SameFile(target.string(), (dir_ / "link.dat").string()));
  EXPECT_TRUE(SameFile(target.string(), (dir_ / "." / "out.dat").string()));
  EXPECT_FALSE(SameFile(target.string(), (dir_ / "absent.dat").string()));
}

TEST_F(FileReplacementTest, DevicesAreWrittenInPlaceAndPlantedLinksReplacedWhenAsked) {
  FileReplacement replacement;
  ASSERT_TRUE(replacement.Begin("/dev/null"));
  std::fputs("discarded\n", replacement.file());
  EXPECT_TRUE(replacement.Commit());
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_TRUE(ReplaceFileContents("/dev/null", "discarded\n"));
  EXPECT_TRUE(ReplaceFileContents("/dev/null", "discarded\n", LinkPolicy::kReplaceLink));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  // A link planted under a name the program chose: the link is replaced, whatever it
  // points to (a file, a device, nothing), and its target is never written.
  const fs::path victim = dir_ / "victim.mas";
  Spit(victim, "study\n");
  fs::create_symlink(victim, dir_ / "echo.dat");
  fs::create_symlink("/dev/null", dir_ / "device.dat");
  fs::create_symlink(dir_ / "nowhere", dir_ / "dangling.dat");
  for (const char* name : {"echo.dat", "device.dat", "dangling.dat"}) {
    SCOPED_TRACE(name);
    const fs::path link = dir_ / name;
    ASSERT_TRUE(ReplaceFileContents(link.string(), "echo\n", LinkPolicy::kReplaceLink));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(link)));
    EXPECT_EQ(Slurp(link), "echo\n");
  }
  EXPECT_EQ(Slurp(victim), "study\n");
  EXPECT_FALSE(fs::exists(dir_ / "nowhere"));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  // A folder is never a file to write, named or linked.
  fs::create_directory(dir_ / "folder");
  fs::create_symlink(dir_ / "folder", dir_ / "folder_link");
  EXPECT_FALSE(ReplaceFileContents((dir_ / "folder").string(), "x", LinkPolicy::kReplaceLink));
  EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
}

// The one rule of every command's outputs: never an input, however named, never a
// write-protected file.
TEST_F(FileReplacementTest, AnOutputThatIsAnInputOrProtectedIsRefusedSayingWhich) {
  const fs::path study = dir_ / "study.mas";
  const fs::path record = dir_ / "record.dat";
  Spit(study, "study\n");
  Spit(record, "record\n");
  fs::create_symlink(study, dir_ / "study_link.mas");
  fs::create_hard_link(record, dir_ / "record_hard.dat");
  const CommandInput inputs[] = {{"", "rien", false},
                                 {study.string(), "l'étude lue", true},
                                 {record.string(), "le fichier expérimental lu", false},
                                 {(dir_ / "new.txt").string(), "l'autre sortie", false}};
  const struct {
    fs::path output;
    OutputRefusalKind kind;
    int input;
  } cases[] = {
      {study, OutputRefusalKind::kIsInput, 1},
      {dir_ / "study_link.mas", OutputRefusalKind::kIsInput, 1},
      {dir_ / "." / "study.mas", OutputRefusalKind::kIsInput, 1},
      {dir_ / "record_hard.dat", OutputRefusalKind::kIsInput, 2},
      {dir_ / "report.txt", OutputRefusalKind::kNone, -1},
      {dir_ / "sub" / ".." / "new.txt", OutputRefusalKind::kIsInput, 3},  // not written yet
      {"/dev/null", OutputRefusalKind::kNone, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output.string());
    const OutputRefusal refusal = RefuseOutput(c.output.string(), inputs);
    EXPECT_EQ(refusal.kind, c.kind);
    EXPECT_EQ(refusal.input, c.input);
    EXPECT_EQ(refusal.message.empty(), c.kind == OutputRefusalKind::kNone);
    EXPECT_EQ(static_cast<bool>(refusal), c.kind != OutputRefusalKind::kNone);
  }
  EXPECT_EQ(
      RefuseOutput(study.string(), inputs).message,
      "Le fichier de sortie " + study.string() + " est l'étude lue : elle n'est pas remplacée");
  EXPECT_EQ(RefuseOutput(record.string(), inputs).message,
            "Le fichier de sortie " + record.string() +
                " est le fichier expérimental lu : il n'est pas remplacé");
  fs::permissions(record, fs::perms::owner_read);
  EXPECT_EQ(RefuseOutput(record.string(), {}).kind, OutputRefusalKind::kWriteProtected);
}

}  // namespace
}  // namespace mas
