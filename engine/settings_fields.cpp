#include "engine/settings_fields.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <string_view>
#include <tuple>

namespace mas {
namespace {

using Names4 = std::array<const char*, 4>;

// The four settings of an event quantity (Wmt1..Wmt4), one unit and meaning for the four.
void AddFour(std::vector<FieldRef>& out, const Names4& names, Events4& values,
             std::string_view unit, std::string_view meaning) {
  for (int i = 0; i < 4; ++i) out.push_back(Real(names[i], values[i]).Says(unit, meaning));
}

void AddFour(std::vector<FieldRef>& out, const Names4& names, Indices4& values,
             std::string_view unit, std::string_view meaning) {
  for (int i = 0; i < 4; ++i) out.push_back(Int(names[i], values[i]).Says(unit, meaning));
}

std::vector<FieldRef> Four(const Names4& names, Events4& values, std::string_view unit,
                           std::string_view meaning) {
  std::vector<FieldRef> out;
  AddFour(out, names, values, unit, meaning);
  return out;
}

std::vector<FieldRef> Four(const Names4& names, Indices4& values, std::string_view unit,
                           std::string_view meaning) {
  std::vector<FieldRef> out;
  AddFour(out, names, values, unit, meaning);
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

// What each output selection records: the column it adds to the table, and its meaning.
constexpr std::array<const char*, kOutSelCount> kOutSelMeanings = {
    "colonne Ce(Nm) : couple vu par la commande",
    "colonne Vitesse(tr/mn) : vitesse vue par la commande",
    "colonne Ias(A) : courant de la phase a vu par la commande",
    "colonne Vas(V) : tension statorique de la phase a",
    "colonne Idsref(A) : référence de courant d",
    "colonne Ids(A) : courant statorique d",
    "colonne Iqsref(A) : référence de courant q",
    "colonne Iqs(A) : courant statorique q",
    "colonne Vdsref(V) : référence de tension d",
    "colonne Vqsref(V) : référence de tension q",
    "colonnes Esalpha(V) et EasF(V) : force électromotrice statorique alpha, brute et filtrée",
    "colonnes Esbeta(V) et EbsF(V) : force électromotrice statorique beta, brute et filtrée",
    "colonne IdsMAS(A) : courant d du modèle de machine utilisé",
    "colonne IqsMAS(A) : courant q du modèle de machine utilisé",
    "colonne CeMAS(Nm) : couple du modèle de machine utilisé",
    "colonne CrMAS(Nm) : couple de charge du modèle de machine utilisé",
    "colonne theta_s(rd) : angle de Park de la commande",
    "colonne ang_phi_s(rd) : angle du flux statorique",
    "colonne ang_phi_r(rd) : angle du flux rotorique",
    "colonne Phi_alpha_s(Wb) : flux statorique alpha",
    "colonne Phi_beta_s(Wb) : flux statorique beta",
    "colonne Phi_alpha_r(Wb) : flux rotorique alpha",
    "colonne Phi_beta_r(Wb) : flux rotorique beta",
    "colonne Phidr(Wb) : flux rotorique d",
    "colonne Phi1s(Wb) : flux statorique corrigé, première composante",
    "colonne Phi2s(Wb) : flux statorique corrigé, seconde composante",
    "colonne IasF(A) : courant de la phase a filtré",
    "colonne IbsF(A) : courant de la phase b filtré",
    "colonne IdsF(A) : courant d filtré",
    "colonne IqsF(A) : courant q filtré",
    "colonne ang_s_corr(rd) : angle du flux statorique corrigé",
    "colonne Ws(rd/s) : pulsation statorique",
    "colonne IalphasObs(A) : courant alpha de l'observateur",
    "colonne IbetasObs(A) : courant beta de l'observateur",
    "colonne PhiasObs(Wb) : flux statorique alpha de l'observateur",
    "colonne PhibsObs(Wb) : flux statorique beta de l'observateur",
    "colonne EalphasObs(V) : force électromotrice alpha de l'observateur",
    "colonne EbetasObs(V) : force électromotrice beta de l'observateur",
    "colonne CeObs(V) : couple estimé par l'observateur",
    "colonnes des entrées des régulateurs flous (erreurs et variations d'erreur)",
};
constexpr std::array<const char*, kOutSelExpCount> kOutSelExpMeanings = {
    "colonne ExpWmint : vitesse expérimentale (tr/mn) interpolée à l'instant courant",
    "colonne ExpIasint : courant expérimental interpolé à l'instant courant",
    "colonne ExpWmTable : table expérimentale de la vitesse",
    "colonne ExpIasTable : table expérimentale du courant",
    "colonne ExpMaxIasTable : table expérimentale du maximum du courant",
    "colonne MaxIas : maximum glissant du courant Ias",
};
constexpr std::array<const char*, kOutSelCageCount> kOutSelCageMeanings = {
    "colonne Thetar : angle rotorique du modèle à cage",
    "colonne Valphas_ : tension statorique alpha du modèle à cage",
    "colonne Vbetas_ : tension statorique beta du modèle à cage",
    "colonne Vds_ : tension d du modèle à cage",
    "colonne Vqs_ : tension q du modèle à cage",
    "colonne Ialphas_ : courant statorique alpha du modèle à cage",
    "colonne Ibetas_ : courant statorique beta du modèle à cage",
    "colonne Ie_ : courant de l'anneau du modèle à cage",
    "fichier Ib.dat : courants de toutes les barres au premier pas enregistré après 0,7 s",
    "courants des barres de BarreSel en composantes polaires (Ibalpha, Ibbeta)",
    "courants des mailles de LoopSel en composantes polaires (Ilalpha, Ilbeta)",
    "courants des portions d'anneau de AnneauSel en composantes polaires (Ianalpha, Ianbeta)",
};
constexpr std::array<const char*, kOutSelStatorCount> kOutSelStatorMeanings = {
    "colonne Phids de l'estimateur de flux statorique",
    "colonne PhisM de l'estimateur de flux statorique",
    "colonne Idqs de l'estimateur de flux statorique",
    "colonne Wsl_Stator de l'estimateur de flux statorique",
    "colonne Wsl_StatorFiltre de l'estimateur de flux statorique",
    "colonne PhisTheta de l'estimateur de flux statorique",
    "colonne thInd de l'estimateur de flux statorique",
    "colonne PhisWs de l'estimateur de flux statorique",
    "colonne WmEst de l'estimateur de flux statorique",
    "colonne StatorMode de l'estimateur de flux statorique",
    "colonne StatorModeFN de l'estimateur de flux statorique",
};

constexpr std::array<const char*, 8> kGeneMeanings = {
    "Rs ajustée par l'identification",         "Ts (Ls/Rs) ajustée par l'identification",
    "Tr (Lr/Rr) ajustée par l'identification", "sigma ajusté par l'identification",
    "J ajusté par l'identification",           "a10 ajusté par l'identification",
    "a20 ajusté par l'identification",         "a30 ajusté par l'identification"};

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
  add(1, {Real("Rs", dq.Rs).Says("Ω", "résistance statorique de la machine simulée"),
          Real("Rr", dq.Rr).Says("Ω", "résistance rotorique nominale de la machine simulée"),
          Real("Ls", dq.Ls).Says("H", "inductance cyclique statorique"),
          Real("Lr", dq.Lr).Says("H", "inductance cyclique rotorique"),
          Real("M", dq.M).Says("H", "inductance mutuelle cyclique")});
  add(2,
      {Int("p", dq.p).Limited(FieldRule::kCount).Says("", "nombre de paires de pôles"),
       Real("J", dq.J).Says("kg·m²", "moment d'inertie"),
       Real("a10", dq.a10)
           .Says("N·m·s²", "coefficient du couple de charge en carré de la vitesse mécanique"),
       Real("a20", dq.a20)
           .Says("N·m·s", "coefficient du couple de charge proportionnel à la vitesse mécanique"),
       Real("a30", dq.a30).Says("N·m", "couple de charge constant")});
  add(3, {Real("t0", s.t0).Says("s", "instant initial du calcul"),
          Real("tf", s.tf).Says("s", "instant final du calcul"),
          Real("td0", s.td0)
              .Says("s",
                    "instant à partir duquel les lignes sont enregistrées (origine de la colonne "
                    "du temps)"),
          Real("dt", s.dt).Limited(FieldRule::kStep).Says("s", "pas d'intégration fixe"),
          Real("TMLI", s.TMLI)
              .Says("s", "période de la MLI, base de l'échantillonnage des régulateurs")});
  add(4, {Real("E2", s.E2).Says("V", "moitié de la tension du bus continu (E/2)"),
          Real("fs", s.fs).Says("Hz", "fréquence de l'alimentation en boucle ouverte")});
  add(5,
      {Int("NTregI", s.NTregI)
           .Limited(FieldRule::kCount)
           .Says("", "période de la boucle de courant, en périodes de MLI (TMLI)"),
       Real("IqsrefM", s.IqsrefM).Says("A", "limite de la référence de courant q"),
       Real("Kpq", s.Kpq).Says("", "gain proportionnel du régulateur de courant q"),
       Real("Kiq", s.Kiq).Says("", "gain intégral du régulateur de courant q"),
       Real("VqsrefMax", s.VqsrefMax).Says("V", "limite de la référence de tension q"),
       Real("IqsFE", s.IqsFE)
           .Says("", "facteur d'échelle de l'erreur du régulateur flou de courant q"),
       Real("IqsFdE", s.IqsFdE)
           .Says("", "facteur d'échelle de la variation d'erreur du régulateur flou de courant q"),
       Real("IqsFdU", s.IqsFdU)
           .Says("", "facteur d'échelle de la sortie du régulateur flou de courant q")});
  add(26, {Flag("IqsPI", s.IqsPI).Says("", "régulateur de courant q de type PI"),
           Flag("IqsIP", s.IqsIP).Says("", "régulateur de courant q de type IP"),
           Flag("IqsFlou", s.IqsFlou).Says("", "régulateur de courant q de type flou")});
  add(6,
      {Real("Kpd", s.Kpd).Says("", "gain proportionnel du régulateur de courant d"),
       Real("Kid", s.Kid).Says("", "gain intégral du régulateur de courant d"),
       Real("VdsrefMax", s.VdsrefMax).Says("V", "limite de la référence de tension d"),
       Real("IdsFE", s.IdsFE)
           .Says("", "facteur d'échelle de l'erreur du régulateur flou de courant d"),
       Real("IdsFdE", s.IdsFdE)
           .Says("", "facteur d'échelle de la variation d'erreur du régulateur flou de courant d"),
       Real("IdsFdU", s.IdsFdU)
           .Says("", "facteur d'échelle de la sortie du régulateur flou de courant d")});
  add(27, {Flag("IdsPI", s.IdsPI).Says("", "régulateur de courant d de type PI"),
           Flag("IdsIP", s.IdsIP).Says("", "régulateur de courant d de type IP"),
           Flag("IdsFlou", s.IdsFlou).Says("", "régulateur de courant d de type flou")});
  add(7, {Int("NTregW", s.NTregW)
              .Limited(FieldRule::kCount)
              .Says("", "période de la boucle de vitesse, en périodes de la boucle de courant"),
          Real("KpW", s.KpW).Says("", "gain proportionnel du régulateur de vitesse"),
          Real("KiW", s.KiW).Says("", "gain intégral du régulateur de vitesse"),
          Real("TtW", s.TtW)
              .Says("", "constante de poursuite anti-saturation du régulateur IP de vitesse"),
          Real("WFErr", s.WFErr)
              .Says("", "facteur d'échelle de l'erreur du régulateur flou de vitesse"),
          Real("WFdErr", s.WFdErr)
              .Says("", "facteur d'échelle de la variation d'erreur du régulateur flou de vitesse"),
          Real("WFdU", s.WFdU)
              .Says("", "facteur d'échelle de la sortie du régulateur flou de vitesse")});
  add(9, {Flag("WPI", s.WPI).Says("", "régulateur de vitesse de type PI"),
          Flag("WIP", s.WIP).Says("", "régulateur de vitesse de type IP"),
          Flag("WFlou", s.WFlou).Says("", "régulateur de vitesse de type flou"),
          Flag("ChangeK", s.ChangeK)
              .Says("",
                    "adapte les gains de vitesse au palier de défluxage (« Adapter les gains »)")});
  add(10, {Int("OutOpt", s.OutOpt)
               .Says("", "option enregistrée à côté de OutStep, sans effet sur le calcul"),
           Int("OutStep", s.OutStep)
               .Says("", "décimation de la sortie : une ligne enregistrée tous les OutStep pas")});
  add(11, {Real("mRs", s.mRs).Says("Ω", "résistance statorique du modèle de la commande"),
           Real("mRr", s.mRr).Says("Ω", "résistance rotorique du modèle de la commande"),
           Real("mLs", s.mLs).Says("H", "inductance cyclique statorique du modèle de la commande"),
           Real("mLr", s.mLr).Says("H", "inductance cyclique rotorique du modèle de la commande"),
           Real("mM", s.mM).Says("H", "inductance mutuelle cyclique du modèle de la commande")});
  add(12,
      {Int("mp", s.mp)
           .Limited(FieldRule::kCount)
           .Says("", "nombre de paires de pôles du modèle de la commande"),
       Real("mJ", s.mJ).Says("kg·m²", "moment d'inertie du modèle de la commande"),
       Real("ma10", s.ma10)
           .Says("N·m·s²", "coefficient de charge en carré de la vitesse, modèle de la commande"),
       Real("ma20", s.ma20)
           .Says("N·m·s",
                 "coefficient de charge proportionnel à la vitesse, modèle de la commande"),
       Real("ma30", s.ma30).Says("N·m", "couple de charge constant du modèle de la commande")});
  add(14,
      {IntFlag("MLI", s.MLI)
           .Says("", "modèle d'onduleur : 1 MLI à échantillonnage régulier, 0 idéal"),
       IntFlag("VectCtrl", s.VectCtrl).Says("", "mode « Controle Vectoriel »"),
       IntFlag("Courant", s.Courant)
           .Says("", "mode « Commande en courant » (références de courant par événements)"),
       IntFlag("Statique", s.Statique).Says("", "mode « Essai statique »"),
       IntFlag("Decouple", s.Decouple)
           .Says("", "ajoute les termes de découplage aux régulateurs de courant"),
       Int("Flux_typ", s.Flux_typ)
           .Limited(FieldRule::kFluxType)
           .Says("",
                 "source de l'angle de Park : 0 « Indirecte Phi_r » à 10 « SS Dir/ind Stator »"),
       IntFlag("DTC", s.DTC).Says("", "mode contrôle direct du couple"),
       Flag("SpecialModel", s.SpecialModel).Says("", "modèle de la machine : 0 dq, 1 à cage")});
  add(15, Four({"Wmt1", "Wmt2", "Wmt3", "Wmt4"}, s.Wmt, "s",
               "instant d'un changement de la consigne de vitesse"));
  add(16, Four({"Wmref1", "Wmref2", "Wmref3", "Wmref4"}, s.Wmref, "tr/mn",
               "consigne de vitesse à partir de l'instant Wmt de même numéro"));
  add(17,
      Four({"Crt1", "Crt2", "Crt3", "Crt4"}, s.Crt, "s", "instant d'un changement de la charge"));
  add(18, Four({"da1ref1", "da1ref2", "da1ref3", "da1ref4"}, s.da1ref, "N·m·s²",
               "incrément de a10 à partir de l'instant Crt de même numéro"));
  add(19, Four({"da2ref1", "da2ref2", "da2ref3", "da2ref4"}, s.da2ref, "N·m·s",
               "incrément de a20 à partir de l'instant Crt de même numéro"));
  {
    auto fields = Four({"da3ref1", "da3ref2", "da3ref3", "da3ref4"}, s.da3ref, "N·m",
                       "incrément de a30 à partir de l'instant Crt de même numéro");
    fields.push_back(IntFlag("Crsgn", dq.Crsgn)
                         .Says("",
                               "le couple de charge constant (et ses incréments da3ref) prend le "
                               "signe de la vitesse"));
    add(20, std::move(fields));
  }
  add(21, Four({"Rrt1", "Rrt2", "Rrt3", "Rrt4"}, s.Rrt, "s",
               "instant d'un changement de la résistance rotorique"));
  add(22, Four({"Rrref1", "Rrref2", "Rrref3", "Rrref4"}, s.Rrref, "Ω",
               "résistance rotorique du modèle dq à partir de l'instant Rrt de même numéro"));
  {
    // Output selections 1 to 31 and 40 ("Flou"), the first 24 on the first line.
    const auto& names = OutSelNames();
    std::vector<FieldRef> fields;
    for (int i = 0; i <= kOutangphi_s_Corr; ++i)
      fields.push_back(IntFlag(names[i], s.OutSel[i]).Says("", kOutSelMeanings[i]));
    fields.push_back(
        IntFlag(names[kOutFlou], s.OutSel[kOutFlou]).Says("", kOutSelMeanings[kOutFlou]));
    records.push_back({23, std::move(fields), 24});
  }
  add(24,
      {Real("Wmlim1", s.Wmlim1).Says("tr/mn", "seuil de vitesse du premier palier de défluxage"),
       Real("Wmlim2", s.Wmlim2).Says("tr/mn", "seuil de vitesse du deuxième palier de défluxage"),
       Real("Wmlim3", s.Wmlim3)
           .Says("tr/mn",
                 "seuil du troisième palier de défluxage (enregistré, sans effet sur le calcul)")});
  add(25, {Real("Idsref1", s.Idsref1)
               .Says("A", "référence de courant d du premier palier, et sans défluxage"),
           Real("Idsref2", s.Idsref2)
               .Says("A", "référence de courant d du deuxième palier de défluxage"),
           Real("Idsref3", s.Idsref3)
               .Says("A", "référence de courant d du troisième palier de défluxage")});
  add(28,
      {Real("Rayon", cage.Rayon).Says("m", "rayon du rotor de la machine à cage"),
       Real("Long", cage.Long).Says("m", "longueur du paquet de tôles de la machine à cage"),
       Real("efer", cage.efer).Says("m", "épaisseur de l'entrefer de la machine à cage"),
       Int("Ns", cage.Ns).Says("", "nombre de spires statoriques par phase de la machine à cage"),
       Int("Nr", cage.Nr)
           .Limited(FieldRule::kBarCount)
           .Says("", "nombre de barres rotoriques de la machine à cage"),
       Real("Lsl", cage.Lsl).Says("H", "inductance de fuite statorique de la machine à cage"),
       Real("RbSain", cage.RbSain).Says("Ω", "résistance d'une barre saine"),
       Real("RbCasse", cage.RbCasse).Says("Ω", "résistance d'une barre cassée"),
       Real("ReSain", cage.ReSain).Says("Ω", "résistance d'une portion d'anneau saine"),
       Real("ReCasse", cage.ReCasse).Says("Ω", "résistance d'une portion d'anneau cassée"),
       Real("Le", cage.Le).Says("H", "inductance de fuite d'une portion d'anneau de court-circuit"),
       Real("Lb", cage.Lb).Says("H", "inductance de fuite d'une barre rotorique")});
  add(29, {Flag("VoltDrop", s.VoltDrop)
               .Says("", "creux de tension au démarrage en boucle ouverte (« Active »)"),
           Real("dVtf", s.dVtf).Says("s", "fin du creux de tension"),
           Real("dVA", s.dVA).Says("V", "demi-profondeur du creux de tension"),
           Real("dVB", s.dVB).Says("s", "centre de la sigmoïde de remontée de la tension"),
           Real("dVC", s.dVC).Says("s", "constante de temps de la sigmoïde de remontée"),
           Real("VsPh", s.VsPh).Says("rad", "phase de l'alimentation à t = 0")});
  add(30, Four({"RbCasset1", "RbCasset2", "RbCasset3", "RbCasset4"}, s.RbCasset, "s",
               "instant d'un défaut de barre"));
  add(31, Four({"Rbn1", "Rbn2", "Rbn3", "Rbn4"}, s.Rbn, "",
               "numéro de la barre touchée par le défaut de même numéro"));
  add(32, Four({"RbRef1", "RbRef2", "RbRef3", "RbRef4"}, s.RbRef, "Ω",
               "résistance de la barre après le défaut de même numéro"));
  add(34, {Flag("BarreInit", s.BarreInit)
               .Says("", "remet toutes les barres à RbSain au début du calcul"),
           Flag("AnneauInit", s.AnneauInit)
               .Says("", "remet toutes les portions d'anneau à ReSain au début du calcul")});
  add(33, {Real("Vcss", s.Vcss).Says("V", "niveau continu de l'essai statique"),
           Real("tfss", s.tfss).Says("s", "fin de l'essai statique")});
  add(35, Four({"ReCasset1", "ReCasset2", "ReCasset3", "ReCasset4"}, s.ReCasset, "s",
               "instant d'un défaut de portion d'anneau"));
  add(36, Four({"Ren1", "Ren2", "Ren3", "Ren4"}, s.Ren, "",
               "numéro de la portion d'anneau touchée par le défaut de même numéro"));
  add(37, Four({"ReRef1", "ReRef2", "ReRef3", "ReRef4"}, s.ReRef, "Ω",
               "résistance de la portion d'anneau après le défaut de même numéro"));
  add(38, {Int("Flag", s.Flag)
               .Limited(FieldRule::kWeakening)
               .Says("", "défluxage : 0 « Aucun », 1 « Par paliers », 2 « Continu »"),
           Real("Kdeflux", s.Kdeflux)
               .Says("A·tr/mn", "défluxage continu : Idsref = Kdeflux / |N|, N en tr/mn"),
           Real("WmBase", s.WmBase).Says("tr/mn", "vitesse de base du défluxage continu")});
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
  plain(Real("TtdI", s.TtdI)
            .Says("", "constante de poursuite anti-saturation du régulateur IP de courant d"));
  plain(Real("TtqI", s.TtqI)
            .Says("", "constante de poursuite anti-saturation du régulateur IP de courant q"));
  plain(Flag("VqsrefMaxFree", s.VqsrefMaxFree)
            .Says("", "VqsrefMax recalculé à chaque pas du régulateur q (« Vqsref Max libre »)"));
  plain(Flag("WNN", s.WNN).Says("", "régulateur de vitesse neuronal (« NN »)"));
  plain(Flag("W2DNFC", s.W2DNFC).Says("", "régulateur de vitesse neuro-flou 2D (« 2D NFC »)"));
  plain(Flag("UseSpeedFilter", s.UseSpeedFilter)
            .Says("", "moyenne glissante de cinq mesures de vitesse (« Activer FIR5 »)"));
  plain(Real("Fe", s.Fe).Says("", "gain d'entrée de l'erreur du régulateur neuro-flou 2D"));
  plain(Real("Fde", s.Fde)
            .Says("", "gain d'entrée de la variation d'erreur du régulateur neuro-flou 2D"));
  plain(Real("FdU", s.FdU).Says("", "gain de sortie du régulateur neuro-flou 2D"));
  weight(
      Real("w11", s.w11)
          .Says("",
                "poids de règle du neuro-flou 2D (fonctions 1 de l'erreur et 1 de sa variation)"));
  weight(
      Real("w21", s.w21)
          .Says("",
                "poids de règle du neuro-flou 2D (fonctions 2 de l'erreur et 1 de sa variation)"));
  weight(
      Real("w12", s.w12)
          .Says("",
                "poids de règle du neuro-flou 2D (fonctions 1 de l'erreur et 2 de sa variation)"));
  constexpr std::string_view kErrorCentre = "centre d'une gaussienne de l'erreur (neuro-flou 2D)";
  constexpr std::string_view kErrorWidth = "largeur d'une gaussienne de l'erreur (neuro-flou 2D)";
  constexpr std::string_view kChangeCentre =
      "centre d'une gaussienne de la variation d'erreur (neuro-flou 2D)";
  constexpr std::string_view kChangeWidth =
      "largeur d'une gaussienne de la variation d'erreur (neuro-flou 2D)";
  for (auto [name, v, meaning] : {std::tuple{"cE1", &s.cE1, kErrorCentre},
                                  {"cE2", &s.cE2, kErrorCentre},
                                  {"cE3", &s.cE3, kErrorCentre},
                                  {"sE1", &s.sE1, kErrorWidth},
                                  {"sE2", &s.sE2, kErrorWidth},
                                  {"sE3", &s.sE3, kErrorWidth},
                                  {"cR1", &s.cR1, kChangeCentre},
                                  {"cR2", &s.cR2, kChangeCentre},
                                  {"cR3", &s.cR3, kChangeCentre},
                                  {"sR1", &s.sR1, kChangeWidth},
                                  {"sR2", &s.sR2, kChangeWidth},
                                  {"sR3", &s.sR3, kChangeWidth}}) {
    plain(Real(name, *v).Says("", meaning));
  }
  // Simulation type.
  group = "Type de simulation (hors fichier)";
  plain(IntFlag("Vf", s.Vf).Says("", "mode « V/f »"));
  plain(Flag("Triangle", s.Triangle).Says("", "couplage du stator : 0 « Etoile », 1 « Triangle »"));
  plain(IntFlag("CheckOverflow", s.CheckOverflow)
            .Says("", "test de divergence du couple (« Vérifie dépassement »)"));
  plain(Flag("dsvPWM", s.dsvPWM)
            .Says("", "alimentation en boucle ouverte par la double MLI vectorielle hexaphasée"));
  // Current-reference events.
  group = "Consignes de courant (hors fichier)";
  {
    std::vector<FieldRef> f;
    AddFour(f, {"Idst1", "Idst2", "Idst3", "Idst4"}, s.Idst, "s",
            "instant d'un changement de la référence de courant d (mode Courant)");
    AddFour(f, {"Idssref1", "Idssref2", "Idssref3", "Idssref4"}, s.Idssref, "A",
            "référence de courant d à partir de l'instant Idst de même numéro");
    AddFour(f, {"Iqst1", "Iqst2", "Iqst3", "Iqst4"}, s.Iqst, "s",
            "instant d'un changement de la référence de courant q (mode Courant)");
    AddFour(f, {"Iqsref1", "Iqsref2", "Iqsref3", "Iqsref4"}, s.Iqsref, "A",
            "référence de courant q à partir de l'instant Iqst de même numéro");
    for (const auto& r : f) plain(r);
  }
  // Filters and speed estimator.
  group = "Filtres et estimateur de vitesse (hors fichier)";
  plain(Flag("IFiltOn", s.IFiltOn).Says("", "filtre du premier ordre des courants mesurés"));
  plain(Real("IFiltT", s.IFiltT).Says("s", "constante de temps du filtre des courants mesurés"));
  plain(Real("IFiltGain", s.IFiltGain)
            .Says("", "gain statique du filtre des courants (conservé, sans effet sur le calcul)"));
  plain(Real("TEst", s.TEst).Says("s", "période de l'estimateur de vitesse (MRAS)"));
  plain(Real("KpWmEst", s.KpWmEst).Says("", "gain proportionnel de l'estimateur de vitesse"));
  plain(Real("KiWmEst", s.KiWmEst).Says("", "gain intégral de l'estimateur de vitesse"));
  plain(Real("WmEstMax", s.WmEstMax).Says("rad/s", "limite de la vitesse estimée"));
  // Output selections not stored in the file, and the output options.
  group = "Sorties (hors fichier)";
  const auto& sel = OutSelNames();
  for (int i = kOutWs; i <= kOutCeObs; ++i)
    plain(IntFlag(sel[i], s.OutSel[i]).Says("", kOutSelMeanings[i]));
  const auto& exp = GroupNames<1>("OutSelExp", kOutSelExpNames);
  for (int i = 0; i < kOutSelExpCount; ++i)
    plain(IntFlag(exp[i], s.OutSelExp[i]).Says("", kOutSelExpMeanings[i]));
  const auto& cage = GroupNames<2>("OutSelCage", kOutSelCageNames);
  for (int i = 0; i < kOutSelCageCount; ++i)
    plain(IntFlag(cage[i], s.OutSelCage[i]).Says("", kOutSelCageMeanings[i]));
  const auto& stator = GroupNames<3>("OutSelStator", kOutSelStatorNames);
  for (int i = 0; i < kOutSelStatorCount; ++i)
    plain(IntFlag(stator[i], s.OutSelStator[i]).Says("", kOutSelStatorMeanings[i]));
  plain(
      IntFlag("OutSensor", s.OutSensor)
          .Says("", "colonnes du défaut de capteur de courant (EtatCapteur, InhibFlag, Imes0..2)"));
  plain(Flag("CreateOutputFile", s.CreateOutputFile)
            .Says("", "écrit le fichier de sortie (« Crée le fichier de sortie ( .dat ) »)"));
  plain(Flag("DisplayProgressBar", s.DisplayProgressBar)
            .Says("", "affiche la progression, les textes d'état et les messages du calcul"));
  plain(Text("OutFileName", s.OutFileName)
            .Says("", "fichier de sortie écrit par le calcul et ouvert par le visualiseur"));
  // Identification files and cost.
  group = "Identification (hors fichier)";
  plain(Text("ExpNom", s.ExpNom)
            .Says("", "fichier de l'enregistrement expérimental (démarrage mesuré)"));
  plain(
      Text("SimNom", s.SimNom)
          .Says("",
                "fichier simulé du dialogue « Paramètres des fichiers » (hors de la comparaison)"));
  plain(Int("ExpCol", s.ExpCol)
            .Limited(FieldRule::kColumn)
            .Says("", "colonne du dialogue « Paramètres des fichiers » (hors de la comparaison)"));
  plain(
      Int("SimCol", s.SimCol)
          .Limited(FieldRule::kColumn)
          .Says(
              "",
              "colonne simulée du dialogue « Paramètres des fichiers » (hors de la comparaison)"));
  plain(
      Int("ExpWmCol", s.ExpWmCol)
          .Limited(FieldRule::kColumn)
          .Says("", "colonne de la vitesse (tr/mn) dans l'enregistrement expérimental, depuis 0"));
  plain(Int("ExpIasCol", s.ExpIasCol)
            .Limited(FieldRule::kColumn)
            .Says("", "colonne du courant Ias (A) dans l'enregistrement expérimental, depuis 0"));
  plain(
      Real("gWmF", s.gWmF)
          .Says(
              "",
              "poids de l'erreur de vitesse dans le coût de l'identification et de l'ajustement"));
  plain(Real("gIasF", s.gIasF)
            .Says("",
                  "poids du courant dans le coût : erreur de Ias (identification), variation de "
                  "Iqsref (ajustement)"));
  plain(
      Real("gA", s.gA).Says("1/s", "raideur de la sigmoïde de pondération dans le temps du coût"));
  plain(Real("gt0", s.gt0).Says("s", "centre de la sigmoïde de pondération dans le temps du coût"));
  plain(Int("CostFunction", s.CostFunction)
            .Limited(FieldRule::kCost)
            .Says("", "coût de l'identification : 0 sur Ias, 1 sur le maximum glissant de Ias"));
  static constexpr std::array<const char*, 8> kGenes = {
      "GenX.Rs", "GenX.Ts", "GenX.Tr", "GenX.sigma", "GenX.J", "GenX.a10", "GenX.a20", "GenX.a30"};
  for (int i = 0; i < 8; ++i) plain(Flag(kGenes[i], s.GenX[i]).Says("", kGeneMeanings[i]));
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
      // Counts come as integers; anything else is kept within int before it is named.
      return CageBarCountProblem(
          static_cast<int>(std::isnan(value) ? 0.0 : std::clamp(value, -1e9, 1e9)));
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
