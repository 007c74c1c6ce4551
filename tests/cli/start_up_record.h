#pragma once
// What the tests of the identification commands start from: a short start-up study of a
// 4-pole machine, and that machine's own start-up as the measured record, so that the
// machine to find is known.

#include <fstream>
#include <string>

#include "files/number_format.h"
#include "tests/cli/command_fixture.h"

namespace mas::testing {

class StartUpRecordTest : public CommandTest {
 protected:
  // Writes the study (its tf = `tf`) and "rec.dat": its start-up run to `record_tf`, every
  // 0.5 ms, in the raw columns of an experimental record (t a b N I), every number with
  // the digits that read back to the same double. `finer` > 1 integrates the record that
  // many times finer than the study (the same instants), as a real machine's record would
  // be made another way.
  void WriteStartUp(const std::string& tf, const std::string& record_tf, int finer = 1) {
    study_ = WriteStudy({"Rs=1.405", "Rr=1.395",  "Ls=0.178039", "Lr=0.178039", "M=0.1722",
                         "p=2",      "J=0.0131",  "a30=2",       "Crsgn=1",     "tf=" + tf,
                         "dt=1e-4",  "TMLI=1e-4", "OutStep=10",  "E2=326.6",    "fs=50",
                         "Wmt1=100", "Crt1=100",  "Rrt1=100",    "OutSel.Wm=1", "OutSel.Ias=1"});
    ASSERT_EQ(MasMain({"run", study_, "--set", "tf=" + record_tf, "--set",
                       "OutStep=" + std::to_string(5 * finer), "--set",
                       "dt=" + FormatG(1e-4 / finer, 17), "--output", Path("start.dat")},
                      env_),
              0)
        << err_.str();
    std::ifstream table(Path("start.dat"));
    std::string line;
    std::getline(table, line);
    std::string record = "t a b N I\n";
    double t = 0, wm = 0, ias = 0;
    while (table >> t >> wm >> ias) {
      record += FormatG(t, 17) + " 0 0 " + FormatG(wm, 17) + " " + FormatG(ias, 17) + "\n";
    }
    std::ofstream(Path("rec.dat")) << record;
    out_.str("");
  }

  std::string study_;
};

}  // namespace mas::testing
