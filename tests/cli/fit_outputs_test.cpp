// `mas identify fit` never writes its report or its saved study over what it reads (the
// study, the record), over its other output, nor through a link to one of them: it says
// which, writes nothing and ends with 1 before any fit is run.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/start_up_record.h"

namespace mas::testing {
namespace {

namespace fs = std::filesystem;

class FitOutputs : public StartUpRecordTest {
 protected:
  void SetUp() override {
    StartUpRecordTest::SetUp();
    WriteStartUp("0.05", "0.06");
  }
};

TEST_F(FitOutputs, NeitherOutputIsAnInputOrTheOtherOutput) {
  fs::create_symlink(study_, Path("study_link.mas"));
  fs::create_symlink(Path("rec.dat"), Path("rec_link.dat"));
  const std::string study_text = ReadAll(study_);
  const std::string record_text = ReadAll(Path("rec.dat"));
  const struct {
    std::vector<std::string> outputs;
    std::string said;
  } cases[] = {
      {{"--report", study_}, "est l'étude lue"},
      {{"--report", Path("study_link.mas")}, "est l'étude lue"},
      {{"--report", Path("rec_link.dat")}, "est le fichier expérimental lu"},
      {{"--save-best", Path("rec.dat")}, "est le fichier expérimental lu"},
      {{"--save-best", Path("study_link.mas")}, "est l'étude lue"},
      {{"--report", Path("out.txt"), "--save-best", Path("out.txt")},
       "est l'étude enregistrée (--save-best)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    std::vector<std::string> args = {
        "identify",         "fit", study_, "--exp", Path("rec.dat"), "--threads", "1",
        "--max-iterations", "1"};
    args.insert(args.end(), c.outputs.begin(), c.outputs.end());
    platform_.messages.clear();
    out_.str("");
    EXPECT_EQ(MasMain(args, env_), kExitParameterFile);
    ASSERT_FALSE(platform_.messages.empty());
    EXPECT_NE(platform_.messages.back().text.find(c.said), std::string::npos)
        << platform_.messages.back().text;
    EXPECT_EQ(out_.str().find("itération"), std::string::npos);  // no fit was run
    EXPECT_EQ(out_.str().find("Rapport enregistré"), std::string::npos) << out_.str();
    EXPECT_EQ(out_.str().find("Étude enregistrée"), std::string::npos) << out_.str();
    EXPECT_EQ(ReadAll(study_), study_text);
    EXPECT_EQ(ReadAll(Path("rec.dat")), record_text);
    EXPECT_TRUE(fs::is_symlink(Path("study_link.mas")));
    EXPECT_FALSE(fs::exists(Path("out.txt")));
  }
}

}  // namespace
}  // namespace mas::testing
