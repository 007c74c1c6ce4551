#include "files/output_recorder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "engine/numeric.h"
#include "files/number_format.h"

namespace mas {

MachineReadout ModelInUseReadout(const RunView& view) {
  if (view.settings.SpecialModel) {
    const CageMachineModel& cage = view.cage;
    return {cage.isd(), cage.isq(), cage.Ce(), cage.Cr()};
  }
  const DqMachineModel& dq = view.dq;
  return {dq.isAlpha(), dq.isBeta(), dq.Ce(), dq.Cr()};
}

namespace {

// Which selection flag turns a column on.
// kOutSelExpTable: an OutSelExp flag whose column shows an entry of an experimental table;
// it is written only when that table exists (see ExperimentTableColumn).
enum class FlagGroup {
  kOutSel,
  kOutSelStator,
  kOutSensor,
  kOutSelExp,
  kOutSelExpTable,
  kOutSelCage,
  kPerBar,  // expanded over the bars by ForEachRecordedColumn
};

struct Flag {
  FlagGroup group;
  int index;  // element of the group's flag array (unused for the single OutSensor flag)
};

constexpr Flag Sel(OutSelIndex index) { return {FlagGroup::kOutSel, index}; }
constexpr Flag Stator(OutSelStatorIndex index) { return {FlagGroup::kOutSelStator, index}; }
constexpr Flag Sensor() { return {FlagGroup::kOutSensor, 0}; }
constexpr Flag Exp(OutSelExpIndex index) { return {FlagGroup::kOutSelExp, index}; }
constexpr Flag Cage(OutSelCageIndex index) { return {FlagGroup::kOutSelCage, index}; }
constexpr Flag ExpTable(OutSelExpIndex index) { return {FlagGroup::kOutSelExpTable, index}; }

// The experimental table shown by a table column.
const std::vector<double>& ExperimentTable(const ExperimentalData& d, int index) {
  if (index == kExpWmTable) return d.ExpWmTable;
  if (index == kExpIasTable) return d.ExpIasTable;
  return d.ExpMaxIasTable;
}

// Entry ExpIndex - 1 of a table: the entry the comparison used at this step. A step with
// no such entry (before the first comparison, or past the end of the table) shows 0.
double ExperimentTableEntry(const RunView& v, int index) {
  const std::vector<double>& table = ExperimentTable(v.experiment, index);
  const long long k = static_cast<long long>(v.state.ExpIndex) - 1;
  return k >= 0 && k < static_cast<long long>(table.size()) ? table[k] : 0.0;
}

bool IsSelected(const SimulationSettings& s, const ExperimentalData& d, Flag flag) {
  switch (flag.group) {
    case FlagGroup::kOutSelExp:
      return s.OutSelExp[flag.index] != 0;
    case FlagGroup::kOutSelCage:
      return s.OutSelCage[flag.index] != 0;
    case FlagGroup::kPerBar:
      return false;
    case FlagGroup::kOutSelExpTable:
      // A table that was never built has no entry to show: its column is left out.
      return s.OutSelExp[flag.index] != 0 && !ExperimentTable(d, flag.index).empty();
    case FlagGroup::kOutSel:
      return s.OutSel[flag.index] != 0;
    case FlagGroup::kOutSelStator:
      return s.OutSelStator[flag.index] != 0;
    case FlagGroup::kOutSensor:
      return s.OutSensor != 0;
  }
  return false;
}

struct ColumnDef {
  int row;           // place in the column table, 1 .. 83
  const char* name;  // header text
  Flag flag;
  OutputRecorder::Column value;
};

using V = const RunView&;

constexpr ColumnDef Real(int row, const char* name, Flag flag, OutputRecorder::RealGetter get) {
  return {row, name, flag, {get, nullptr}};
}
constexpr ColumnDef Integer(int row, const char* name, Flag flag,
                            OutputRecorder::IntegerGetter get) {
  return {row, name, flag, {nullptr, get}};
}

// The column table, in the order of both the header and the data lines.
//
// Rows not built yet go in at their place when their quantities exist:
//   42-49  cage-model columns (Thetar, Valphas_ ... Ie_), flags OutSelCage;
//   50-55  per-bar passes over i = 0 .. Nr-1 (bar, loop and ring currents, then their
//          polar pairs), flags BarreSel/LoopSel/AnneauSel with the Polaire flags; each such
//          row expands into one column per selected index, named prefix + index padded
//          to 14 characters, so it needs its own entry kind next to Real/Integer;
// The row numbers are checked to increase, so an insertion at the wrong place does not
// compile.
constexpr ColumnDef kColumns[] = {
    // Torque as the control sees it: 1.5 mp mM^2 / mLr Ids Iqs, with the controller's
    // copy of the machine and the Park-frame currents, evaluated left to right.
    Real(1, "Ce(Nm)", Sel(kOutCe),
         [](V v) {
           const SimulationSettings& s = v.settings;
           return 1.5 * s.mp * s.mM * s.mM / s.mLr * v.state.est.Ids * v.state.est.Iqs;
         }),
    Real(2, "Vitesse(tr/mn)", Sel(kOutWm), [](V v) { return v.state.WmMeas * kRadSToRpm; }),
    Real(3, "Ias(A)", Sel(kOutIas), [](V v) { return v.state.IasMeas; }),
    Real(4, "Vas(V)", Sel(kOutVas), [](V v) { return v.state.Vas; }),
    Real(5, "Idsref(A)", Sel(kOutIdsref), [](V v) { return v.state.Idsref; }),
    Real(6, "Ids(A)", Sel(kOutIds), [](V v) { return v.state.est.Ids; }),
    Real(7, "Iqsref(A)", Sel(kOutIqsref), [](V v) { return v.state.Iqsref; }),
    Real(8, "Iqs(A)", Sel(kOutIqs), [](V v) { return v.state.est.Iqs; }),
    Real(9, "Vdsref(V)", Sel(kOutVdsref), [](V v) { return v.state.Vdsref; }),
    Real(10, "Vqsref(V)", Sel(kOutVqsref), [](V v) { return v.state.Vqsref; }),
    // Back-EMF of the simulated machine, raw and filtered; one flag per axis writes both.
    // Rows 13, 14, 20 to 26, 29 and 30 read the direct flux estimator, the filtered
    // back-EMF or the filtered currents, which a run computes only for a sink that reads
    // them (kEstimateColumns).
    Real(11, "Esalpha(V)", Sel(kOutEsalpha), [](V v) { return v.dq.Esalpha(); }),
    Real(12, "Esbeta(V)", Sel(kOutEsbeta), [](V v) { return v.dq.Esbeta(); }),
    Real(13, "EasF(V)", Sel(kOutEsalpha), [](V v) { return v.state.est.EsalphaF; }),
    Real(14, "EbsF(V)", Sel(kOutEsbeta), [](V v) { return v.state.est.EsbetaF; }),
    Real(15, "IdsMAS(A)", Sel(kOutIdsMAS), [](V v) { return ModelInUseReadout(v).IdsMAS; }),
    Real(16, "IqsMAS(A)", Sel(kOutIqsMAS), [](V v) { return ModelInUseReadout(v).IqsMAS; }),
    Real(17, "CeMAS(Nm)", Sel(kOutCeMAS), [](V v) { return ModelInUseReadout(v).CeMAS; }),
    Real(18, "CrMAS(Nm)", Sel(kOutCrMAS), [](V v) { return ModelInUseReadout(v).CrMAS; }),
    Real(19, "theta_s(rd)", Sel(kOutthetas), [](V v) { return v.state.est.thetas; }),
    Real(20, "ang_phi_s(rd)", Sel(kOutangphi_s),
         [](V v) { return FluxAngle(v.state.est.Phi_alpha_s, v.state.est.Phi_beta_s); }),
    Real(21, "ang_phi_r(rd)", Sel(kOutangphi_r),
         [](V v) { return FluxAngle(v.state.est.Phi_alpha_r, v.state.est.Phi_beta_r); }),
    Real(22, "Phi_alpha_s(Wb)", Sel(kOutPhi_alpha_s), [](V v) { return v.state.est.Phi_alpha_s; }),
    Real(23, "Phi_beta_s(Wb)", Sel(kOutPhi_beta_s), [](V v) { return v.state.est.Phi_beta_s; }),
    Real(24, "Phi_alpha_r(Wb)", Sel(kOutPhi_alpha_r), [](V v) { return v.state.est.Phi_alpha_r; }),
    Real(25, "Phi_beta_r(Wb)", Sel(kOutPhi_beta_r), [](V v) { return v.state.est.Phi_beta_r; }),
    Real(26, "Phidr(Wb)", Sel(kOutPhidr), [](V v) { return v.state.est.Phidr; }),
    Real(27, "Phi1s(Wb)", Sel(kOutPhi1s), [](V v) { return v.state.est.Phi1s; }),
    Real(28, "Phi2s(Wb)", Sel(kOutPhi2s), [](V v) { return v.state.est.Phi2s; }),
    Real(29, "IasF(A)", Sel(kOutIasF), [](V v) { return v.state.est.IasF; }),
    Real(30, "IbsF(A)", Sel(kOutIbsF), [](V v) { return v.state.est.IbsF; }),
    Real(31, "IdsF(A)", Sel(kOutIdsF), [](V v) { return v.state.est.IdsF; }),
    Real(32, "IqsF(A)", Sel(kOutIqsF), [](V v) { return v.state.est.IqsF; }),
    Real(33, "ang_s_corr(rd)", Sel(kOutangphi_s_Corr),
         [](V v) { return FluxAngle(v.state.est.Phi1s, v.state.est.Phi2s); }),
    Real(34, "Ws(rd/s)", Sel(kOutWs), [](V v) { return v.state.est.Ws; }),
    Real(35, "IalphasObs(A)", Sel(kOutIalphasObs), [](V v) { return v.observer.IalphasObs; }),
    Real(36, "IbetasObs(A)", Sel(kOutIbetasObs), [](V v) { return v.observer.IbetasObs; }),
    Real(37, "PhiasObs(Wb)", Sel(kOutPhialphasObs), [](V v) { return v.observer.PhialphasObs; }),
    Real(38, "PhibsObs(Wb)", Sel(kOutPhibetasObs), [](V v) { return v.observer.PhibetasObs; }),
    Real(39, "EalphasObs(V)", Sel(kOutEalphasObs), [](V v) { return v.observer.EalphasObs(); }),
    Real(40, "EbetasObs(V)", Sel(kOutEbetasObs), [](V v) { return v.observer.EbetasObs(); }),
    Real(41, "CeObs(V)", Sel(kOutCeObs), [](V v) { return v.observer.CeObs(); }),
    // Cage model: rotor angle, stator voltages and currents in both frames, ring current.
    Real(42, "Thetar", Cage(kCageThetar), [](V v) { return v.cage.theta(); }),
    Real(43, "Valphas_", Cage(kCageValphas), [](V v) { return v.cage.Valphas; }),
    Real(44, "Vbetas_", Cage(kCageVbetas), [](V v) { return v.cage.Vbetas; }),
    Real(45, "Vds_", Cage(kCageVds), [](V v) { return v.cage.Vds; }),
    Real(46, "Vqs_", Cage(kCageVqs), [](V v) { return v.cage.Vqs; }),
    Real(47, "Ialphas_", Cage(kCageIalphas), [](V v) { return v.cage.Ialphas; }),
    Real(48, "Ibetas_", Cage(kCageIbetas), [](V v) { return v.cage.Ibetas; }),
    Real(49, "Ie_", Cage(kCageIe), [](V v) { return v.cage.Ie(); }),
    // Rows 50-55: per-bar columns, expanded by ForEachRecordedColumn at this place.
    {50, nullptr, {FlagGroup::kPerBar, 0}, {}},
    // Inputs of the fuzzy regulators, all six on the one flag.
    Real(56, "WErr(rd/s)", Sel(kOutFlou), [](V v) { return v.state.reg.WErr; }),
    Real(57, "WdErr(rd/s2)", Sel(kOutFlou), [](V v) { return v.state.reg.WdErr; }),
    Real(58, "IdsErr(A)", Sel(kOutFlou), [](V v) { return v.state.reg.IdsErr; }),
    Real(59, "IdsdErr(A/s)", Sel(kOutFlou), [](V v) { return v.state.reg.IdsdErr; }),
    Real(60, "IqsErr(A)", Sel(kOutFlou), [](V v) { return v.state.reg.IqsErr; }),
    Real(61, "IqsdErr(A/s)", Sel(kOutFlou), [](V v) { return v.state.reg.IqsdErr; }),
    // Stator-flux estimator, written as stored (the speed in tr/mn).
    Real(62, "Phids", Stator(kStatPhids), [](V v) { return v.state.est.PhisEst; }),
    Real(63, "PhisM", Stator(kStatPhisM), [](V v) { return v.state.est.PhisObsMag; }),
    Real(64, "Idqs", Stator(kStatIdqs), [](V v) { return v.state.est.IdsCorr; }),
    Real(65, "Wsl_Stator", Stator(kStatWsl_Stator), [](V v) { return v.state.est.WslS; }),
    Real(66, "Wsl_StatorFiltre", Stator(kStatWsl_StatorFiltre),
         [](V v) { return v.state.est.WslSF; }),
    Real(67, "PhisTheta", Stator(kStatPhisTheta), [](V v) { return v.state.est.ThetaDir; }),
    Real(68, "thInd", Stator(kStatthInd), [](V v) { return v.state.est.ThetaInd; }),
    Real(69, "PhisWs", Stator(kStatPhisWs), [](V v) { return v.state.est.WsDir; }),
    Real(70, "WmEst", Stator(kStatWmEst), [](V v) { return v.state.est.WmEst * kRadSToRpm; }),
    Integer(71, "StatorMode", Stator(kStatStatorMode), [](V v) { return v.state.est.StatorMode; }),
    Real(72, "StatorModeFN", Stator(kStatStatorModeFN),
         [](V v) { return v.state.est.StatorModeFN; }),
    // Experimental comparison: the record interpolated at this step, the entries of the
    // tables used at this step and the sliding maximum of the current.
    Real(73, "ExpWmint", Exp(kExpWmint), [](V v) { return v.experiment.ExpWmInterp; }),
    Real(74, "ExpIasint", Exp(kExpIasint), [](V v) { return v.experiment.ExpIasInterp; }),
    Real(75, "ExpWmTable", ExpTable(kExpWmTable),
         [](V v) { return ExperimentTableEntry(v, kExpWmTable); }),
    Real(76, "ExpIasTable", ExpTable(kExpIasTable),
         [](V v) { return ExperimentTableEntry(v, kExpIasTable); }),
    Real(77, "ExpMaxIasTable", ExpTable(kExpMaxIasTable),
         [](V v) { return ExperimentTableEntry(v, kExpMaxIasTable); }),
    Real(78, "MaxIas", Exp(kMaxIas), [](V v) { return v.experiment.MaxIas; }),
    // Current-sensor supervision: state a + 2 b + 4 c, inhibition, the three measurements.
    Integer(79, "EtatCapteur", Sensor(), [](V v) { return v.state.sensor.EtatCapteur; }),
    Integer(80, "InhibFlag", Sensor(), [](V v) { return v.state.sensor.InhibFlag; }),
    Real(81, "Imes0", Sensor(), [](V v) { return v.state.sensor.Imes[0]; }),
    Real(82, "Imes1", Sensor(), [](V v) { return v.state.sensor.Imes[1]; }),
    Real(83, "Imes2", Sensor(), [](V v) { return v.state.sensor.Imes[2]; }),
};

constexpr bool RowsIncrease() {
  for (std::size_t i = 1; i < std::size(kColumns); ++i) {
    if (kColumns[i].row <= kColumns[i - 1].row) return false;
  }
  return true;
}
static_assert(RowsIncrease(), "the column table must stay in row order");

constexpr std::string_view kTimeHeader = "time(s)     ";

// The flags of the columns that read the direct flux estimator, the filtered back-EMF or
// the filtered currents.
constexpr OutSelIndex kEstimateColumns[] = {
    kOutEsalpha,     kOutEsbeta,     kOutangphi_s, kOutangphi_r, kOutPhi_alpha_s, kOutPhi_beta_s,
    kOutPhi_alpha_r, kOutPhi_beta_r, kOutPhidr,    kOutIasF,     kOutIbsF,
};

// One per-bar pass: its header prefix(es), its selection and its value.
struct PerBarPass {
  const char* prefix;
  const char* second_prefix;  // polar passes: the sine component's prefix
  int selection;              // 0 bars, 1 loops, 2 rings
  int polar_flag;             // OutSelCage element that turns the pass polar
  double (*current)(const CageMachineModel&, int);
};

double BarCurrent(const CageMachineModel& cage, int i) { return cage.Ib(i); }
double LoopCurrent(const CageMachineModel& cage, int i) { return cage.Ir(i); }
double RingCurrent(const CageMachineModel& cage, int i) { return cage.Ian(i); }

// The six passes over i = 0 .. Nr-1, in row order: bar, loop and ring currents, then
// their polar pairs (current x cos(i alpha), current x sin(i alpha)), alpha being the
// electrical angle between adjacent bars.
constexpr PerBarPass kPerBarPasses[] = {
    {"Ib", nullptr, 0, kCagePolaireBarre, BarCurrent},
    {"Ir", nullptr, 1, kCagePolaireLoop, LoopCurrent},
    {"Ian", nullptr, 2, kCagePolaireAnneau, RingCurrent},
    {"Ibalpha", "Ibbeta", 0, kCagePolaireBarre, BarCurrent},
    {"Ilalpha", "Ilbeta", 1, kCagePolaireLoop, LoopCurrent},
    {"Ianalpha", "Ianbeta", 2, kCagePolaireAnneau, RingCurrent},
};

// The getters of the per-bar columns: pass p, plain or cosine or sine component.
template <int Pass, int Component>
double PerBarValue(const RunView& v, int i) {
  const double current = kPerBarPasses[Pass].current(v.cage, i);
  if (Component == 0) return current;
  const double angle = i * v.cage.alpha;
  return Component == 1 ? current * std::cos(angle) : current * std::sin(angle);
}
constexpr OutputRecorder::IndexedGetter kPerBarGetters[6][2] = {
    {PerBarValue<0, 0>, nullptr},           {PerBarValue<1, 0>, nullptr},
    {PerBarValue<2, 0>, nullptr},           {PerBarValue<3, 1>, PerBarValue<3, 2>},
    {PerBarValue<4, 1>, PerBarValue<4, 2>}, {PerBarValue<5, 1>, PerBarValue<5, 2>},
};

const std::vector<std::uint8_t>& Selection(const CageMachineModel& cage, int which) {
  if (which == 0) return cage.BarreSel;
  if (which == 1) return cage.LoopSel;
  return cage.AnneauSel;
}

// Header name of a per-bar column: prefix, then the index left-justified in 14.
std::string PerBarName(const char* prefix, int i) {
  std::string name(prefix);
  name += FormatLeftInt(i, 14);
  return name;
}

// Every recorded column in table order, as (header cell text, column). Fixed columns
// give their name padded to 16; per-bar columns give prefix + index padded to 14.
template <class Visit>
void ForEachRecordedColumn(const SimulationSettings& settings, const ExperimentalData& d,
                           Visit&& visit) {
  for (const ColumnDef& def : kColumns) {
    if (def.flag.group == FlagGroup::kPerBar) {
      const CageMachineModel& cage = settings.cage;
      for (int p = 0; p < 6; ++p) {
        const PerBarPass& pass = kPerBarPasses[p];
        const bool polar = settings.OutSelCage[pass.polar_flag] != 0;
        if (polar != (pass.second_prefix != nullptr)) continue;
        const std::vector<std::uint8_t>& selected = Selection(cage, pass.selection);
        const int bars = std::min<long long>(cage.Nr, static_cast<long long>(selected.size()));
        for (int i = 0; i < bars; ++i) {
          if (selected[i] == 0) continue;
          visit(PerBarName(pass.prefix, i),
                OutputRecorder::Column{nullptr, nullptr, kPerBarGetters[p][0], i});
          if (pass.second_prefix != nullptr) {
            visit(PerBarName(pass.second_prefix, i),
                  OutputRecorder::Column{nullptr, nullptr, kPerBarGetters[p][1], i});
          }
        }
      }
      continue;
    }
    if (!IsSelected(settings, d, def.flag)) continue;
    std::string cell(def.name);
    if (cell.size() < 16) cell.append(16 - cell.size(), ' ');
    visit(cell, def.value);
  }
}

// ---------------------------------------------------------------------------------------
// Eight significant digits for the common magnitudes.
//
// Most recorded quantities lie between 1e-4 and 1e8, where "%.8g" is a plain decimal:
// round |v| 10^(7-X) to an integer of eight digits (X the decimal exponent of v) and put
// the point after digit X, without trailing zeros. 10^(7-X) is exact for these exponents,
// so the product carries one rounding error of at most 7.5e-9; whenever its fraction lies
// within 1e-7 of one half, or the value is outside the range, the exact conversion of
// std::to_chars decides instead. The bytes are those of printf either way, in less than
// half the time of the exact conversion.

constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12};
// Lower bound of each decade X = -5 .. 8, as the nearest double.
constexpr double kDecadeStart[] = {1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1,
                                   1e2,  1e3,  1e4,  1e5,  1e6,  1e7, 1e8};

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes "%.8g" of value when it is a plain decimal that is safe to round this way;
// returns nullptr (having written nothing that counts) otherwise.
char* AppendG8Common(char* out, double value) {
  const double magnitude = std::fabs(value);
  if (!(magnitude >= 1e-4 && magnitude < 1e8)) return nullptr;  // NaN and 0 included
  // Decimal exponent: floor(log2 |v| log10 2) is X or X - 1.
  int exponent2 = 0;
  std::frexp(magnitude, &exponent2);
  int decade = ((exponent2 - 1) * 78913) >> 18;  // floor((exponent2 - 1) log10 2)
  if (magnitude >= kDecadeStart[decade + 6]) ++decade;
  if (decade < -4) return nullptr;
  const double scaled = magnitude * kPow10[7 - decade];
  const int whole = TruncToInt(scaled);
  const double fraction = scaled - whole;
  if (std::fabs(fraction - 0.5) < 1e-7) return nullptr;
  int digits = whole + (fraction > 0.5 ? 1 : 0);
  if (digits == 100000000) {
    digits = 10000000;
    ++decade;
  }
  if (digits < 10000000 || digits >= 100000000 || decade > 7) return nullptr;

  char text[8];
  for (int i = 6; i >= 0; i -= 2) {
    std::memcpy(text + i, kDigitPairs + 2 * static_cast<std::ptrdiff_t>(digits % 100), 2);
    digits /= 100;
  }
  int last = 7;  // last significant digit, trailing zeros dropped
  while (text[last] == '0') --last;

  if (value < 0) *out++ = '-';
  if (decade >= 0) {
    std::memcpy(out, text, static_cast<std::size_t>(decade) + 1);
    out += decade + 1;
    if (last > decade) {
      *out++ = '.';
      const std::size_t count = static_cast<std::size_t>(last - decade);
      std::memcpy(out, text + decade + 1, count);
      out += count;
    }
  } else {
    *out++ = '0';
    *out++ = '.';
    for (int i = -1; i > decade; --i) *out++ = '0';
    std::memcpy(out, text, static_cast<std::size_t>(last) + 1);
    out += last + 1;
  }
  return out;
}

// "%-<width>.8g" followed by the two separator spaces.
char* AppendCellG8(char* out, double value, int width) {
  char* end = AppendG8Common(out, value);
  if (end == nullptr) end = AppendG(out, value, 8);
  while (end - out < width) *end++ = ' ';
  *end++ = ' ';
  *end++ = ' ';
  return end;
}

}  // namespace

std::string OutputHeaderText(const SimulationSettings& settings,
                             const ExperimentalData& experiment) {
  std::string header(kTimeHeader);
  ForEachRecordedColumn(settings, experiment,
                        [&](const std::string& cell, const OutputRecorder::Column&) {
                          header += cell;
                          header += "  ";
                        });
  header += '\n';
  return header;
}

// ---------------------------------------------------------------------------------------

OutputFileBuffer::OutputFileBuffer(std::size_t capacity)
    : capacity_(capacity < 4 * kMaxCellBytes ? 4 * kMaxCellBytes : capacity) {}

OutputFileBuffer::~OutputFileBuffer() { Close(); }

bool OutputFileBuffer::Open(const std::string& file_name, LinkPolicy links) {
  Close();
  write_failed_ = false;
  if (!replacement_.Begin(file_name, links)) return false;
  std::FILE* file = replacement_.file();
  // The buffer below is the only one: the stream hands each block straight to the system.
  std::setvbuf(file, nullptr, _IONBF, 0);
  file_ = file;
  if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
  cursor_ = buffer_.get();
  end_ = cursor_ + capacity_;
  return true;
}

void OutputFileBuffer::WriteToFile(const char* data, std::size_t size) {
  if (size == 0) return;
  if (std::fwrite(data, 1, size, file_) != size) write_failed_ = true;
}

void OutputFileBuffer::Flush() {
  if (file_ == nullptr) return;
  WriteToFile(buffer_.get(), static_cast<std::size_t>(cursor_ - buffer_.get()));
  cursor_ = buffer_.get();
}

void OutputFileBuffer::Close() {
  if (file_ == nullptr) return;
  Flush();
  if (write_failed_) {
    replacement_.Abandon();
  } else if (!replacement_.Commit()) {
    write_failed_ = true;
  }
  file_ = nullptr;
  cursor_ = end_ = nullptr;
}

void OutputFileBuffer::Abandon() {
  if (file_ == nullptr) return;
  replacement_.Abandon();
  file_ = nullptr;
  cursor_ = end_ = nullptr;
}

void OutputFileBuffer::AppendReal(double value) {
  if (file_ == nullptr) return;
  MakeRoom(kMaxCellBytes);
  cursor_ = AppendCellG8(cursor_, value, 16);
}

void OutputFileBuffer::AppendInteger(long long value) {
  if (file_ == nullptr) return;
  MakeRoom(kMaxCellBytes);
  cursor_ = AppendLeftInt(cursor_, value, 16);
  *cursor_++ = ' ';
  *cursor_++ = ' ';
}

void OutputFileBuffer::AppendTime(double value) {
  if (file_ == nullptr) return;
  MakeRoom(kMaxCellBytes);
  cursor_ = AppendCellG8(cursor_, value, 10);
}

void OutputFileBuffer::AppendCsvReal(double value, char after) {
  if (file_ == nullptr) return;
  MakeRoom(kMaxCellBytes);
  char* end = AppendG8Common(cursor_, value);
  if (end == nullptr) end = AppendG(cursor_, value, 8);
  *end++ = after;
  cursor_ = end;
}

void OutputFileBuffer::AppendCsvInteger(long long value, char after) {
  if (file_ == nullptr) return;
  MakeRoom(kMaxCellBytes);
  cursor_ = std::to_chars(cursor_, cursor_ + kMaxNumberChars, value).ptr;
  *cursor_++ = after;
}

void OutputFileBuffer::AppendText(std::string_view text) {
  if (file_ == nullptr) return;
  MakeRoom(text.size());
  if (text.size() > static_cast<std::size_t>(end_ - cursor_)) {
    // Longer than the whole buffer (a header with thousands of bar columns): the buffer
    // is empty after MakeRoom, so the text goes straight to the file.
    WriteToFile(text.data(), text.size());
    return;
  }
  text.copy(cursor_, text.size());
  cursor_ += text.size();
}

void OutputFileBuffer::EndLine() {
  if (file_ == nullptr) return;
  MakeRoom(1);
  *cursor_++ = '\n';
}

// ---------------------------------------------------------------------------------------

OutputRecorder::OutputRecorder(std::size_t buffer_capacity) : file_(buffer_capacity) {}

OutputRecorder::~OutputRecorder() { Close(); }

bool OutputRecorder::Open(const std::string& file_name) {
  columns_.clear();
  file_.Abandon();
  mat_.Abandon();
  mat_table_ = {};
  mat_failed_ = false;
  if (format_ == TableFormat::kMat) return mat_.Begin(file_name, links_);
  return file_.Open(file_name, links_);
}

void OutputRecorder::Discard() {
  file_.Abandon();
  mat_.Abandon();
  mat_table_ = {};
}

bool OutputRecorder::ReadsEstimates(const SimulationSettings& settings) const {
  for (OutSelIndex flag : kEstimateColumns) {
    if (settings.OutSel[flag] != 0) return true;
  }
  return false;
}

void OutputRecorder::WriteHeader(const RunView& view) {
  columns_.clear();
  std::vector<std::string> names{"time(s)"};
  for (RecordedColumn& c : RecordedColumns(view.settings, view.experiment)) {
    columns_.push_back(c.column);
    names.push_back(std::move(c.name));
  }
  switch (format_) {
    case TableFormat::kText:
      file_.AppendText(OutputHeaderText(view.settings, view.experiment));
      break;
    case TableFormat::kCsv: {
      std::string header;
      for (const std::string& name : names) header += (header.empty() ? "" : ",") + name;
      header += '\n';
      file_.AppendText(header);
      break;
    }
    case TableFormat::kMat: {
      mat_table_.names = std::move(names);
      mat_table_.columns.assign(mat_table_.names.size(), {});
      // Recorded steps: one every OutStep steps from max(t0, td0) to tf, and one more for
      // a step that lands on tf. Beyond the reservation a long recording grows as it goes.
      const SimulationSettings& s = view.settings;
      const double rows = ((s.tf - std::max(s.t0, s.td0)) / s.dt + 1) / std::max(s.OutStep, 1) + 2;
      constexpr double kMaxReservedValues = double{1 << 25};
      if (rows > 0 && rows * static_cast<double>(mat_table_.names.size()) <= kMaxReservedValues) {
        for (auto& column : mat_table_.columns) column.reserve(static_cast<std::size_t>(rows));
      }
      break;
    }
  }
  // Only the cage model has bars to take a snapshot of.
  snapshot_wanted_ = view.settings.OutSelCage[kCageCapt] != 0 && view.settings.SpecialModel;
  snapshot_done_ = false;
  snapshot_failed_ = false;
}

void OutputRecorder::WriteTextLine(const RunView& view, double t) {
  file_.AppendTime(t);
  for (const Column& column : columns_) {
    if (column.real != nullptr) {
      file_.AppendReal(column.real(view));
    } else if (column.integer != nullptr) {
      file_.AppendInteger(column.integer(view));
    } else {
      file_.AppendReal(column.indexed(view, column.index));
    }
  }
  file_.EndLine();
}

void OutputRecorder::WriteCsvLine(const RunView& view, double t) {
  const std::size_t n = columns_.size();
  file_.AppendCsvReal(t, n == 0 ? '\n' : ',');
  for (std::size_t i = 0; i < n; ++i) {
    const Column& column = columns_[i];
    const char after = i + 1 < n ? ',' : '\n';
    if (column.real != nullptr) {
      file_.AppendCsvReal(column.real(view), after);
    } else if (column.integer != nullptr) {
      file_.AppendCsvInteger(column.integer(view), after);
    } else {
      file_.AppendCsvReal(column.indexed(view, column.index), after);
    }
  }
}

void OutputRecorder::KeepMatLine(const RunView& view, double t) {
  mat_table_.columns[0].push_back(t);
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    mat_table_.columns[i + 1].push_back(ReadColumn(columns_[i], view));
  }
}

void OutputRecorder::WriteLine(const RunView& view) {
  // The time column starts at td0 when recording is delayed.
  const double t = view.state.t;
  const double td0 = view.settings.td0;
  const double shown = td0 != 0.0 ? t - td0 : t;
  switch (format_) {
    case TableFormat::kText:
      if (!file_.IsOpen()) return;
      WriteTextLine(view, shown);
      break;
    case TableFormat::kCsv:
      if (!file_.IsOpen()) return;
      WriteCsvLine(view, shown);
      break;
    case TableFormat::kMat:
      if (mat_.file() == nullptr || mat_table_.columns.empty()) return;
      KeepMatLine(view, shown);
      break;
  }
  // Snapshot of the bar currents at the first recorded step from 0.7 s on, once a run.
  if (snapshot_wanted_ && !snapshot_done_ && t >= 0.7) {
    snapshot_done_ = true;
    snapshot_failed_ = !view.cage.WriteBarCurrents(snapshot_path_, links_);
  }
}

void OutputRecorder::Close() {
  file_.Close();
  if (mat_.file() != nullptr) {
    if (!WriteMatTo(mat_, mat_table_)) mat_failed_ = true;
    mat_table_ = {};
  }
}

// ---------------------------------------------------------------------------------------

std::vector<RecordedColumn> RecordedColumns(const SimulationSettings& settings,
                                            const ExperimentalData& experiment) {
  std::vector<RecordedColumn> columns;
  ForEachRecordedColumn(settings, experiment,
                        [&](const std::string& cell, const OutputRecorder::Column& column) {
                          std::string_view name(cell);
                          while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
                          columns.push_back({std::string(name), column});
                        });
  return columns;
}

double ReadColumn(const OutputRecorder::Column& column, const RunView& view) {
  if (column.real != nullptr) return column.real(view);
  if (column.integer != nullptr) return column.integer(view);
  return column.indexed(view, column.index);
}

}  // namespace mas
