// A setting changed on the command line acts exactly as the same value read from a study
// file: for every settable field and a few values of it, `mas run BASE --set F=v` writes
// the same output table (and ends with the same status) as `mas save BASE OUT --set F=v`
// followed by `mas run OUT`. Fields that files do not store cannot travel through a save:
// for them the saved study is run with the same --set, and must act as the original.
//
// Two short studies cover the follow-ups of a read: vector control oriented by the flux
// observer (its period NTregI x TMLI, its parameters, the model step) and the cage start-up
// (bar count, healthy bar and ring resistances, the per-bar columns).

#include <algorithm>
#include <string>
#include <vector>

#include "engine/settings_fields.h"
#include "files/number_format.h"
#include "tests/cli/command_fixture.h"

namespace mas::testing {
namespace {

// A real as the study file holds it (5 significant digits), so that both paths carry the
// same double.
std::string FileReal(double v) {
  char buf[kMaxNumberChars];
  return std::string(buf, AppendG(buf, v, 5));
}

// Values tried for one field: a change of each kind the field can take, kept to what the
// file can hold (reals to 5 digits, 32-bit integers, 0/1).
std::vector<std::string> ValuesFor(const SettableField& f) {
  switch (f.ref.type) {
    case ValueType::kReal: {
      const double v = f.ref.real();
      return {FileReal(v == 0.0 ? 0.37 : v * 1.37), FileReal(v == 0.0 ? -2.5 : -0.5 * v)};
    }
    case ValueType::kInt: {
      if (f.ref.name == "Flux_typ") {
        std::vector<std::string> all;
        for (int k = -1; k <= 11; ++k) all.push_back(std::to_string(k));
        return all;
      }
      const int v = f.ref.integer();
      return {std::to_string(v + 1), std::to_string(v == 0 ? 3 : 0)};
    }
    case ValueType::kIntFlag:
      return {f.ref.integer() != 0 ? "0" : "1"};
    case ValueType::kFlag:
      return {f.ref.flag() ? "0" : "1"};
    case ValueType::kText:
      return {"autre.dat"};
  }
  return {};
}

class OverrideEquivalence : public CommandTest {
 protected:
  // Saves `example` with the stored base settings of the test as Path("base.mas"), and
  // lists the unstored output selections that every run sets again (column by column, so
  // that a tested field can be left out of them).
  void PrepareBase(const std::string& example, const std::vector<std::string>& stored_base,
                   bool cage) {
    std::vector<std::string> args = {"save", example, Path("base.mas")};
    for (const auto& o : stored_base) args.insert(args.end(), {"--set", o});
    ASSERT_EQ(Mas(args), 0) << err_.str();
    SimulationSettings s;
    for (const auto& f : SettableFields(s)) {
      const std::string name(f.ref.name);
      if (f.record != 0) continue;
      const bool output = name.rfind("OutSel.", 0) == 0 || name.rfind("OutSelStator.", 0) == 0 ||
                          (cage && name.rfind("OutSelCage.", 0) == 0);
      if (output) unstored_base_.push_back(name + "=1");
    }
    if (cage) {
      for (const char* selection : {"BarreSel=all", "LoopSel=all", "AnneauSel=all"}) {
        unstored_base_.emplace_back(selection);
      }
    }
  }

  // Exit status and table of `mas run STUDY --set first... --set base...` (base without
  // the tested field).
  std::pair<int, std::string> Run(const std::string& study, const std::vector<std::string>& first,
                                  const std::string& tested, const std::string& table) {
    std::filesystem::remove(Path(table));
    std::vector<std::string> args = {"run", study, "-o", Path(table)};
    for (const auto& o : first) args.insert(args.end(), {"--set", o});
    for (const auto& o : unstored_base_) {
      if (o.substr(0, o.find('=')) != tested) args.insert(args.end(), {"--set", o});
    }
    const int status = Mas(args);
    return {status, ReadAll(Path(table))};
  }

  // Checks every settable field (but the output name, which the test chooses) and returns
  // how many overrides were compared.
  int CheckEveryField() {
    int compared = 0;
    SimulationSettings defaults;
    for (const auto& f : SettableFields(defaults)) {
      const std::string name(f.ref.name);
      if (name == "OutFileName") continue;
      // The value a field has in the base study decides the changes tried.
      SimulationSettings base;
      base.ParamFileName = Path("base.mas");
      ReadParameterFile(base, platform_, Path("echo.dat"));
      const auto fields = SettableFields(base);
      const auto it = std::find_if(fields.begin(), fields.end(),
                                   [&](const SettableField& g) { return g.ref.name == name; });
      for (const std::string& value : ValuesFor(*it)) {
        const std::string o = name + "=" + value;
        // A value no run can use (Nr=1, NTregI=0, dt < 0, Flux_typ=11...) is refused by
        // both paths alike, before any study is read or written.
        if (f.ref.type != ValueType::kText && !FieldValueProblem(f.ref, std::stod(value)).empty()) {
          EXPECT_EQ(Mas({"run", Path("base.mas"), "--set", o}), kExitUsage) << o;
          EXPECT_EQ(Mas({"save", Path("base.mas"), Path("saved.mas"), "--set", o}), kExitUsage)
              << o;
          continue;
        }
        const auto direct = Run(Path("base.mas"), {o}, name, "direct.dat");
        std::pair<int, std::string> saved;
        if (f.record != 0) {
          EXPECT_EQ(Mas({"save", Path("base.mas"), Path("saved.mas"), "--set", o}), 0) << o;
          saved = Run(Path("saved.mas"), {}, name, "saved.dat");
        } else {
          EXPECT_EQ(Mas({"save", Path("base.mas"), Path("saved.mas")}), 0) << o;
          saved = Run(Path("saved.mas"), {o}, name, "saved.dat");
        }
        EXPECT_EQ(direct.first, saved.first) << o;
        EXPECT_TRUE(direct.second == saved.second) << o << ": the tables differ";
        ++compared;
      }
    }
    return compared;
  }

  std::vector<std::string> unstored_base_;
};

TEST_F(OverrideEquivalence, VectorControlOrientedByTheObserver) {
  PrepareBase(std::string(MAS_SOURCE_DIR) + "/examples/vector_control_pi.mas",
              {"Flux_typ=4", "tf=0.004", "OutStep=2", "OutSel=all"}, /*cage=*/false);
  EXPECT_GT(CheckEveryField(), 400);
}

TEST_F(OverrideEquivalence, CageStartUp) {
  PrepareBase(std::string(MAS_SOURCE_DIR) + "/examples/cage_start.mas",
              {"tf=0.003", "OutStep=3", "OutSel=all"}, /*cage=*/true);
  EXPECT_GT(CheckEveryField(), 400);
}

}  // namespace
}  // namespace mas::testing
