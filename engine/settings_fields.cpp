#include "engine/settings_fields.h"

#include <algorithm>
#include <array>
#include <string>

namespace mas {
namespace {

using Names4 = std::array<const char*, 4>;

void AddFour(std::vector<FieldRef>& out, const Names4& names, Events4& values) {
  for (int i = 0; i < 4; ++i) out.push_back(Real(names[i], values[i]));
}

void AddFour(std::vector<FieldRef>& out, const Names4& names, Indices4& values) {
  for (int i = 0; i < 4; ++i) out.push_back(Int(names[i], values[i]));
}

std::vector<FieldRef> Four(const Names4& names, Events4& values) {
  std::vector<FieldRef> out;
  AddFour(out, names, values);
  return out;
}

std::vector<FieldRef> Four(const Names4& names, Indices4& values) {
  std::vector<FieldRef> out;
  AddFour(out, names, values);
  return out;
}

// "Group.Element" names of a flag group, built once and kept for the life of the program.
// Id tells the groups apart, so that each has its own table.
template <int Id, std::size_t N>
const std::array<std::string, N>& GroupNames(const char* group,
                                             const std::array<const char*, N>& elements) {
  static std::array<std::string, N> names = [&] {
    std::array<std::string, N> out;
    for (std::size_t i = 0; i < N; ++i) out[i] = std::string(group) + "." + elements[i];
    return out;
  }();
  return names;
}

const std::array<std::string, kOutSelCount>& OutSelNames() {
  return GroupNames<0>("OutSel", kOutSelNames);
}

}  // namespace

std::vector<ParameterRecord> ParameterRecords(SimulationSettings& s) {
  auto& dq = s.dq;
  auto& cage = s.cage;
  std::vector<ParameterRecord> records;
  auto add = [&](int code, std::vector<FieldRef> fields) {
    const int n = static_cast<int>(fields.size());
    records.push_back({code, std::move(fields), n});
  };
  add(1, {Real("Rs", dq.Rs), Real("Rr", dq.Rr), Real("Ls", dq.Ls), Real("Lr", dq.Lr),
          Real("M", dq.M)});
  add(2, {Int("p", dq.p).Limited(FieldRule::kCount), Real("J", dq.J), Real("a10", dq.a10),
          Real("a20", dq.a20), Real("a30", dq.a30)});
  add(3, {Real("t0", s.t0), Real("tf", s.tf), Real("td0", s.td0),
          Real("dt", s.dt).Limited(FieldRule::kStep), Real("TMLI", s.TMLI)});
  add(4, {Real("E2", s.E2), Real("fs", s.fs)});
  add(5, {Int("NTregI", s.NTregI).Limited(FieldRule::kCount), Real("IqsrefM", s.IqsrefM),
          Real("Kpq", s.Kpq), Real("Kiq", s.Kiq), Real("VqsrefMax", s.VqsrefMax),
          Real("IqsFE", s.IqsFE), Real("IqsFdE", s.IqsFdE), Real("IqsFdU", s.IqsFdU)});
  add(26, {Flag("IqsPI", s.IqsPI), Flag("IqsIP", s.IqsIP), Flag("IqsFlou", s.IqsFlou)});
  add(6, {Real("Kpd", s.Kpd), Real("Kid", s.Kid), Real("VdsrefMax", s.VdsrefMax),
          Real("IdsFE", s.IdsFE), Real("IdsFdE", s.IdsFdE), Real("IdsFdU", s.IdsFdU)});
  add(27, {Flag("IdsPI", s.IdsPI), Flag("IdsIP", s.IdsIP), Flag("IdsFlou", s.IdsFlou)});
  add(7,
      {Int("NTregW", s.NTregW).Limited(FieldRule::kCount), Real("KpW", s.KpW), Real("KiW", s.KiW),
       Real("TtW", s.TtW), Real("WFErr", s.WFErr), Real("WFdErr", s.WFdErr), Real("WFdU", s.WFdU)});
  add(9,
      {Flag("WPI", s.WPI), Flag("WIP", s.WIP), Flag("WFlou", s.WFlou), Flag("ChangeK", s.ChangeK)});
  add(10, {Int("OutOpt", s.OutOpt), Int("OutStep", s.OutStep)});
  add(11, {Real("mRs", s.mRs), Real("mRr", s.mRr), Real("mLs", s.mLs), Real("mLr", s.mLr),
           Real("mM", s.mM)});
  add(12, {Int("mp", s.mp).Limited(FieldRule::kCount), Real("mJ", s.mJ), Real("ma10", s.ma10),
           Real("ma20", s.ma20), Real("ma30", s.ma30)});
  add(14, {IntFlag("MLI", s.MLI), IntFlag("VectCtrl", s.VectCtrl), IntFlag("Courant", s.Courant),
           IntFlag("Statique", s.Statique), IntFlag("Decouple", s.Decouple),
           Int("Flux_typ", s.Flux_typ).Limited(FieldRule::kFluxType), IntFlag("DTC", s.DTC),
           Flag("SpecialModel", s.SpecialModel)});
  add(15, Four({"Wmt1", "Wmt2", "Wmt3", "Wmt4"}, s.Wmt));
  add(16, Four({"Wmref1", "Wmref2", "Wmref3", "Wmref4"}, s.Wmref));
  add(17, Four({"Crt1", "Crt2", "Crt3", "Crt4"}, s.Crt));
  add(18, Four({"da1ref1", "da1ref2", "da1ref3", "da1ref4"}, s.da1ref));
  add(19, Four({"da2ref1", "da2ref2", "da2ref3", "da2ref4"}, s.da2ref));
  {
    auto fields = Four({"da3ref1", "da3ref2", "da3ref3", "da3ref4"}, s.da3ref);
    fields.push_back(IntFlag("Crsgn", dq.Crsgn));
    add(20, std::move(fields));
  }
  add(21, Four({"Rrt1", "Rrt2", "Rrt3", "Rrt4"}, s.Rrt));
  add(22, Four({"Rrref1", "Rrref2", "Rrref3", "Rrref4"}, s.Rrref));
  {
    // Output selections 1 to 31 and 40 ("Flou"), the first 24 on the first line.
    const auto& names = OutSelNames();
    std::vector<FieldRef> fields;
    for (int i = 0; i <= kOutangphi_s_Corr; ++i) fields.push_back(IntFlag(names[i], s.OutSel[i]));
    fields.push_back(IntFlag(names[kOutFlou], s.OutSel[kOutFlou]));
    records.push_back({23, std::move(fields), 24});
  }
  add(24, {Real("Wmlim1", s.Wmlim1), Real("Wmlim2", s.Wmlim2), Real("Wmlim3", s.Wmlim3)});
  add(25, {Real("Idsref1", s.Idsref1), Real("Idsref2", s.Idsref2), Real("Idsref3", s.Idsref3)});
  add(28,
      {Real("Rayon", cage.Rayon), Real("Long", cage.Long), Real("efer", cage.efer),
       Int("Ns", cage.Ns), Int("Nr", cage.Nr).Limited(FieldRule::kBarCount), Real("Lsl", cage.Lsl),
       Real("RbSain", cage.RbSain), Real("RbCasse", cage.RbCasse), Real("ReSain", cage.ReSain),
       Real("ReCasse", cage.ReCasse), Real("Le", cage.Le), Real("Lb", cage.Lb)});
  add(29, {Flag("VoltDrop", s.VoltDrop), Real("dVtf", s.dVtf), Real("dVA", s.dVA),
           Real("dVB", s.dVB), Real("dVC", s.dVC), Real("VsPh", s.VsPh)});
  add(30, Four({"RbCasset1", "RbCasset2", "RbCasset3", "RbCasset4"}, s.RbCasset));
  add(31, Four({"Rbn1", "Rbn2", "Rbn3", "Rbn4"}, s.Rbn));
  add(32, Four({"RbRef1", "RbRef2", "RbRef3", "RbRef4"}, s.RbRef));
  add(34, {Flag("BarreInit", s.BarreInit), Flag("AnneauInit", s.AnneauInit)});
  add(33, {Real("Vcss", s.Vcss), Real("tfss", s.tfss)});
  add(35, Four({"ReCasset1", "ReCasset2", "ReCasset3", "ReCasset4"}, s.ReCasset));
  add(36, Four({"Ren1", "Ren2", "Ren3", "Ren4"}, s.Ren));
  add(37, Four({"ReRef1", "ReRef2", "ReRef3", "ReRef4"}, s.ReRef));
  add(38, {Int("Flag", s.Flag).Limited(FieldRule::kWeakening), Real("Kdeflux", s.Kdeflux),
           Real("WmBase", s.WmBase)});
  return records;
}

int RecordValueCount(int code) {
  // Codes 1..38: number of values; 0 marks the comment code 8 and the unused code 13.
  static constexpr std::array<int, 39> kCounts = {0, 5, 5,  5, 2, 8, 6, 7, 0, 4, 2,  5, 5,
                                                  0, 8, 4,  4, 4, 4, 4, 5, 4, 4, 32, 3, 3,
                                                  3, 3, 12, 6, 4, 4, 4, 2, 2, 4, 4,  4, 3};
  if (code < 1 || code > 38) return -1;
  return kCounts[code] == 0 ? -1 : kCounts[code];
}

void ApplyRecordUpdate(SimulationSettings& s, int code) {
  switch (code) {
    case 1:
      s.PushElectricalParameters();
      break;
    case 2:
      s.PushMechanicalParameters();
      break;
    case 3:
      s.PushStep();
      break;
    case 5:
      s.PushObserverStep();
      break;
    case 11:
    case 12:
      s.PushObserverParameters();
      break;
    case 20:
      s.SetCrsgn(s.dq.Crsgn);
      break;
    default:
      break;
  }
}

std::vector<SettableField> SettableFields(SimulationSettings& s) {
  std::vector<SettableField> out;
  for (auto& record : ParameterRecords(s)) {
    const std::string group =
        "enregistrement " + std::to_string(record.code) + " du fichier d'étude";
    for (const auto& f : record.fields) {
      out.push_back({f, record.code, FieldUpdate::kRecord, group});
    }
  }
  std::string group;
  auto plain = [&](FieldRef f) { out.push_back({f, 0, FieldUpdate::kNone, group}); };
  auto weight = [&](FieldRef f) { out.push_back({f, 0, FieldUpdate::kNeuroFuzzyWeights, group}); };

  // Current and speed regulators.
  group = "Régulateurs de courant et de vitesse (hors fichier)";
  plain(Real("TtdI", s.TtdI));
  plain(Real("TtqI", s.TtqI));
  plain(Flag("VqsrefMaxFree", s.VqsrefMaxFree));
  plain(Flag("WNN", s.WNN));
  plain(Flag("W2DNFC", s.W2DNFC));
  plain(Flag("UseSpeedFilter", s.UseSpeedFilter));
  plain(Real("Fe", s.Fe));
  plain(Real("Fde", s.Fde));
  plain(Real("FdU", s.FdU));
  weight(Real("w11", s.w11));
  weight(Real("w21", s.w21));
  weight(Real("w12", s.w12));
  for (auto [name, v] : {std::pair{"cE1", &s.cE1},
                         {"cE2", &s.cE2},
                         {"cE3", &s.cE3},
                         {"sE1", &s.sE1},
                         {"sE2", &s.sE2},
                         {"sE3", &s.sE3},
                         {"cR1", &s.cR1},
                         {"cR2", &s.cR2},
                         {"cR3", &s.cR3},
                         {"sR1", &s.sR1},
                         {"sR2", &s.sR2},
                         {"sR3", &s.sR3}}) {
    plain(Real(name, *v));
  }
  // Simulation type.
  group = "Type de simulation (hors fichier)";
  plain(IntFlag("Vf", s.Vf));
  plain(Flag("Triangle", s.Triangle));
  plain(IntFlag("CheckOverflow", s.CheckOverflow));
  plain(Flag("dsvPWM", s.dsvPWM));
  // Current-reference events.
  group = "Consignes de courant (hors fichier)";
  {
    std::vector<FieldRef> f;
    AddFour(f, {"Idst1", "Idst2", "Idst3", "Idst4"}, s.Idst);
    AddFour(f, {"Idssref1", "Idssref2", "Idssref3", "Idssref4"}, s.Idssref);
    AddFour(f, {"Iqst1", "Iqst2", "Iqst3", "Iqst4"}, s.Iqst);
    AddFour(f, {"Iqsref1", "Iqsref2", "Iqsref3", "Iqsref4"}, s.Iqsref);
    for (const auto& r : f) plain(r);
  }
  // Filters and speed estimator.
  group = "Filtres et estimateur de vitesse (hors fichier)";
  plain(Flag("IFiltOn", s.IFiltOn));
  plain(Real("IFiltT", s.IFiltT));
  plain(Real("IFiltGain", s.IFiltGain));
  plain(Real("TEst", s.TEst));
  plain(Real("KpWmEst", s.KpWmEst));
  plain(Real("KiWmEst", s.KiWmEst));
  plain(Real("WmEstMax", s.WmEstMax));
  // Output selections not stored in the file, and the output options.
  group = "Sorties (hors fichier)";
  const auto& sel = OutSelNames();
  for (int i = kOutWs; i <= kOutCeObs; ++i) plain(IntFlag(sel[i], s.OutSel[i]));
  const auto& exp = GroupNames<1>("OutSelExp", kOutSelExpNames);
  for (int i = 0; i < kOutSelExpCount; ++i) plain(IntFlag(exp[i], s.OutSelExp[i]));
  const auto& cage = GroupNames<2>("OutSelCage", kOutSelCageNames);
  for (int i = 0; i < kOutSelCageCount; ++i) plain(IntFlag(cage[i], s.OutSelCage[i]));
  const auto& stator = GroupNames<3>("OutSelStator", kOutSelStatorNames);
  for (int i = 0; i < kOutSelStatorCount; ++i) plain(IntFlag(stator[i], s.OutSelStator[i]));
  plain(IntFlag("OutSensor", s.OutSensor));
  plain(Flag("CreateOutputFile", s.CreateOutputFile));
  plain(Flag("DisplayProgressBar", s.DisplayProgressBar));
  plain(Text("OutFileName", s.OutFileName));
  // Identification files and cost.
  group = "Identification (hors fichier)";
  plain(Text("ExpNom", s.ExpNom));
  plain(Text("SimNom", s.SimNom));
  plain(Int("ExpCol", s.ExpCol).Limited(FieldRule::kColumn));
  plain(Int("SimCol", s.SimCol).Limited(FieldRule::kColumn));
  plain(Int("ExpWmCol", s.ExpWmCol).Limited(FieldRule::kColumn));
  plain(Int("ExpIasCol", s.ExpIasCol).Limited(FieldRule::kColumn));
  plain(Real("gWmF", s.gWmF));
  plain(Real("gIasF", s.gIasF));
  plain(Real("gA", s.gA));
  plain(Real("gt0", s.gt0));
  plain(Int("CostFunction", s.CostFunction).Limited(FieldRule::kCost));
  static constexpr std::array<const char*, 8> kGenes = {
      "GenX.Rs", "GenX.Ts", "GenX.Tr", "GenX.sigma", "GenX.J", "GenX.a10", "GenX.a20", "GenX.a30"};
  for (int i = 0; i < 8; ++i) plain(Flag(kGenes[i], s.GenX[i]));
  return out;
}

void ApplyFieldUpdate(SimulationSettings& s, const SettableField& field) {
  switch (field.update) {
    case FieldUpdate::kRecord:
      ApplyRecordUpdate(s, field.record);
      break;
    case FieldUpdate::kNeuroFuzzyWeights:
      s.UpdateNeuroFuzzyWeights();
      break;
    case FieldUpdate::kNone:
      break;
  }
}

void ResetCageArrays(SimulationSettings& s, bool reallocate) {
  const int wanted = (s.cage.Nr >= 1 && s.cage.Nr <= CageMachineModel::kMaxBars) ? s.cage.Nr : 0;
  if (reallocate || !s.CageArraysAllocated || s.cage.AllocatedBars() != wanted) {
    s.cage.FreeArrays();
    s.cage.AllocateArrays();
  }
  s.CageArraysAllocated = true;
  s.cage.ResetBars();
  s.cage.ResetRings();
}

void MarkExperimentalTablesStale(SimulationSettings& s, const SimulationSettings& before) {
  if (s.t0 != before.t0 || s.tf != before.tf || s.dt != before.dt || s.OutStep != before.OutStep ||
      s.fs != before.fs) {
    s.ExpTableReady = false;
  }
}

void FinishSettingsChange(SimulationSettings& s, const SimulationSettings& before,
                          const std::vector<std::string>& names) {
  constexpr int kCodes = 39;
  std::array<bool, kCodes> touched{};
  bool weights = false;
  for (const auto& field : SettableFields(s)) {
    if (std::find(names.begin(), names.end(), field.ref.name) == names.end()) continue;
    if (field.update == FieldUpdate::kRecord && field.record > 0 && field.record < kCodes) {
      touched[static_cast<std::size_t>(field.record)] = true;
    }
    if (field.update == FieldUpdate::kNeuroFuzzyWeights) weights = true;
  }
  // The observer's period is taken at record 5 from the TMLI of record 3, read before it.
  if (touched[3]) touched[5] = true;
  for (const auto& record : ParameterRecords(s)) {
    if (touched[static_cast<std::size_t>(record.code)]) ApplyRecordUpdate(s, record.code);
  }
  if (weights) s.UpdateNeuroFuzzyWeights();
  if (touched[28]) ResetCageArrays(s, /*reallocate=*/false);
  MarkExperimentalTablesStale(s, before);
}

std::string FieldValueProblem(const FieldRef& ref, double value) {
  const std::string name(ref.name);
  auto at_least = [&](double low, const char* what) {
    return value >= low ? std::string() : "valeur invalide pour " + name + " (" + what + ")";
  };
  auto within = [&](int low, int high) {
    return value >= low && value <= high
               ? std::string()
               : "valeur invalide pour " + name + " (" + std::to_string(low) + " à " +
                     std::to_string(high) + " attendu)";
  };
  switch (ref.rule) {
    case FieldRule::kAny:
      return {};
    case FieldRule::kStep:
      return IsUsableStep(value) ? std::string() : std::string(kStepMessage);
    case FieldRule::kBarCount:
      return CageBarCountProblem(static_cast<int>(value));
    case FieldRule::kCount:
      return at_least(1, "entier >= 1 attendu");
    case FieldRule::kColumn:
      return at_least(0, "numéro de colonne >= 0 attendu");
    case FieldRule::kFluxType:
      return within(static_cast<int>(FluxType::kIndirectRotor),
                    static_cast<int>(FluxType::kSensorlessDirIndStator));
    case FieldRule::kCost:
      return within(0, 1);
    case FieldRule::kWeakening:
      return within(0, 2);
  }
  return {};
}

std::string_view ValueTypeName(ValueType type) {
  switch (type) {
    case ValueType::kReal:
      return "réel";
    case ValueType::kInt:
      return "entier";
    case ValueType::kIntFlag:
    case ValueType::kFlag:
      return "0 ou 1";
    case ValueType::kText:
      return "texte";
  }
  return "";
}

}  // namespace mas
