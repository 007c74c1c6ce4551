// The descriptions of every settings dialog: captions, control order, groups, the
// settings each control edits and their conversions.

#include <array>

#include "ui/dialog_model.h"

namespace mas::ui {
namespace {

using C = Conversion;

Row Edit(std::string label, std::string field, Conversion conversion = C::kReal) {
  return {ControlKind::kEdit, std::move(label), {std::move(field)}, {conversion}, 0, {}};
}

Row Edits(std::string label, std::vector<std::string> fields, Conversion conversion = C::kReal) {
  std::vector<Conversion> conversions(fields.size(), conversion);
  return {ControlKind::kEdit, std::move(label), std::move(fields), std::move(conversions), 0, {}};
}

Row Check(std::string label, std::string field) {
  return {ControlKind::kCheck, std::move(label), {std::move(field)}, {C::kInteger}, 0, {}};
}

Row Radio(std::string label, std::string field, int code) {
  return {ControlKind::kRadio, std::move(label), {std::move(field)}, {C::kInteger}, code, {}};
}

Row RadioFlag(std::string label, std::string field) {
  return {ControlKind::kRadioFlag, std::move(label), {std::move(field)}, {C::kInteger}, 0, {}};
}

Row Note(std::string label, std::string text) {
  return {ControlKind::kNote, std::move(label), {}, {}, 0, std::move(text)};
}

Row InertEdit(std::string label, std::string text) {
  return {ControlKind::kInertEdit, std::move(label), {}, {}, 0, std::move(text)};
}

Row InertRadio(std::string label, bool checked) {
  return {ControlKind::kInertRadio, std::move(label), {}, {}, checked ? 1 : 0, {}};
}

Group Plain(std::vector<Row> rows) { return {"", std::move(rows), {}, 1, false}; }

Group Framed(std::string title, std::vector<Row> rows) {
  return {std::move(title), std::move(rows), {}, 1, false};
}

Group Table(std::string title, std::vector<std::string> columns, std::vector<Row> rows) {
  return {std::move(title), std::move(rows), std::move(columns), 1, false};
}

std::vector<std::string> Numbered(const std::string& stem, int count) {
  std::vector<std::string> out;
  for (int i = 1; i <= count; ++i) out.push_back(stem + std::to_string(i));
  return out;
}

const std::vector<std::string> kT1To4 = {"t1", "t2", "t3", "t4"};
const std::vector<std::string> k1To4 = {"1", "2", "3", "4"};

// The regulator choice of the current and speed regulators, one flag per form.
Group RegulatorKinds(std::vector<std::pair<std::string, std::string>> buttons) {
  std::vector<Row> rows;
  for (auto& [label, field] : buttons) rows.push_back(RadioFlag(label, field));
  return Framed("Type de régulateur", std::move(rows));
}

std::vector<DialogDescription> MakeDialogs() {
  std::vector<DialogDescription> d;

  d.push_back({"TDIALOG_TIMESIMUL",
               "Paramètres temporels de simulation",
               {Plain({Edit("&Début de la simulation t0(s) :", "t0"),
                       Edit("&Fin de la simulation tf(s) :", "tf"),
                       Edit("Début de l'&enregistrement td0 (s) :", "td0"),
                       Edit("Période d'enregistrement &N*dt :", "OutStep", C::kAtLeastOne),
                       Edit("&Pas de calcul dt(s) :", "dt")})},
               StoreOrder::kFieldByField,
               DialogHook::kNone,
               true});

  {
    Group modes =
        Framed("Type de &simulation",
               {Check("MLI", "MLI"), Check("Contrôle Vectoriel", "VectCtrl"),
                Check("Commande en courant", "Courant"), Check("Essai statique", "Statique"),
                Check("Découplage", "Decouple"), Check("DTC", "DTC"), Check("V/f", "Vf"),
                Check("Vérifie dépassement", "CheckOverflow"), Check("dsvPWM", "dsvPWM")});
    Group park =
        Framed("Theta de &Park",
               {Radio("Indirecte Phi_r", "Flux_typ", 0), Radio("Directe Phi_r", "Flux_typ", 1),
                Radio("Indirecte Phi_s", "Flux_typ", 5), Radio("Directe Phi_s", "Flux_typ", 2),
                Radio("Phi_s Corrigé", "Flux_typ", 3), Radio("Phi_s Observé", "Flux_typ", 4),
                Radio("Sans Capteur", "Flux_typ", 6), Radio("Sans Capteur 7", "Flux_typ", 7),
                Radio("Sans Capteur 8", "Flux_typ", 8), Radio("Dir/ind Stator", "Flux_typ", 9),
                Radio("SS Dir/ind Stator", "Flux_typ", 10)});
    park.check_columns = 2;
    d.push_back({"TDIALOG_SIMULATION",
                 "Options de Simulation",
                 {modes, park,
                  Framed("Type de &branchement",
                         {Radio("Etoile", "Triangle", 0), Radio("Triangle", "Triangle", 1)}),
                  Framed("&Type de modèle",
                         {Radio("dq", "SpecialModel", 0), Radio("Cage", "SpecialModel", 1)})}});
  }

  d.push_back({"TDIALOG_AutresParametres",
               "Autres options de simulation",
               {Plain({Check("Crée le fichier de sortie ( .dat )", "CreateOutputFile"),
                       Check("Affiche la barre de progression", "DisplayProgressBar")})}});

  d.push_back({"TDIALOG_MACHINE",
               "Paramètres de la machine",
               {Plain({Edit("Rs (Ohm) :", "Rs"), Edit("Rr (Ohm) :", "Rr"), Edit("Ls (H) :", "Ls"),
                       Edit("Lr (H) :", "Lr"), Edit("M (H) :", "M"), Edit("p :", "p", C::kInteger),
                       Edit("J (kg.m2) :", "J"), Edit("a10 (Nm/s2/rd2) :", "a10"),
                       Edit("a20 (Nm/s/rd) :", "a20"), Edit("a30 (Nm) :", "a30")})},
               StoreOrder::kParseAllFirst});

  d.push_back({"TDIALOG_MachineAlternate",
               "Paramètres de la machine ( constantes de temps )",
               {Plain({Edit("Rs (Ohm) :", "Rs"), Edit("Ts (s) :", "Ts"), Edit("Tr (s) :", "Tr"),
                       Edit("sigma :", "sigma"), Edit("p :", "p", C::kInteger),
                       Edit("J (kg.m2) :", "J"), Edit("a10 (Nm/s2/rd2) :", "a10"),
                       Edit("a20 (Nm/s/rd) :", "a20"), Edit("a30 (Nm) :", "a30")})},
               StoreOrder::kParseAllFirst,
               DialogHook::kTimeConstants});

  d.push_back({"TDIALOG_MACHINESPE",
               "Paramètres de la machine pour le modèle à cage",
               {Plain({Edit("Rayon :", "Rayon"), Edit("Longueur :", "Long"),
                       Edit("Entrefer :", "efer"), Edit("Ns :", "Ns", C::kInteger),
                       Edit("Nr :", "Nr", C::kInteger), Edit("Lsl (H) :", "Lsl"),
                       Edit("Rb Sain (Ohm) :", "RbSain"), Edit("Rb Cassée (Ohm) :", "RbCasse"),
                       Edit("Re Sain (Ohm) :", "ReSain"), Edit("Re Cassée (Ohm) :", "ReCasse"),
                       Edit("Le (H) :", "Le"), Edit("Lb (H) :", "Lb")})},
               StoreOrder::kParseAllFirst});

  d.push_back(
      {"TDIALOG_MODELE",
       "Paramètres du modèle ( contrôle )",
       {Plain({Edit("mRs (Ohm) :", "mRs"), Edit("mRr (Ohm) :", "mRr"), Edit("mLs (H) :", "mLs"),
               Edit("mLr (H) :", "mLr"), Edit("mM (H) :", "mM"), Edit("mp :", "mp", C::kInteger),
               Edit("mJ (kg.m2) :", "mJ"), Edit("ma10 (Nm/s2/rd2) :", "ma10"),
               Edit("ma20 (Nm/s/rd) :", "ma20"), Edit("ma30 (Nm) :", "ma30")})}});

  d.push_back(
      {"TDIALOG_ONDULEUR",
       "Paramètres de l'onduleur",
       {Plain({Edit("Tension continue E/2 (V) :", "E2"), Edit("Période de la MLI (s) :", "TMLI"),
               Edit("Fréquence du réseau (Hz) :", "fs")})}});

  d.push_back({"TDIALOG_Statique",
               "Paramètres de l'essai statique",
               {Plain({Edit("Tension continue (V) :", "Vcss"),
                       Edit("Temps d'application (s) :", "tfss")})}});

  d.push_back({"TDIALOG_DEMARRAGE",
               "Paramètres du démarrage",
               {Framed("Chute de tension",
                       {Radio("&Active", "VoltDrop", 1), Radio("&Inactive", "VoltDrop", 0)}),
                Plain({Edit("tf (s) :", "dVtf"), Edit("A (V) :", "dVA"), Edit("B (s) :", "dVB"),
                       Edit("C :", "dVC"), Edit("Phas (deg) :", "VsPh")})}});

  {
    Group speed = Framed("Filtre de Vitesse",
                         {InertRadio("Actif", false), InertRadio("Inactif", true),
                          InertEdit("Gain Statique :", ""), InertEdit("Constante T :", "")});
    speed.disabled = true;
    d.push_back({"TDIALOG_FILTRES",
                 "Paramètres des filtres",
                 {Framed("Filtre de courant",
                         {Radio("Actif", "IFiltOn", 1), Radio("Inactif", "IFiltOn", 0),
                          Edit("Gain Statique :", "IFiltGain"), Edit("Constante T :", "IFiltT")}),
                  speed}});
  }

  d.push_back({"TDIALOG_OptionsFichier",
               "Fichier de sortie",
               {Plain({Edit("Nom :", "OutFileName", C::kText)})}});

  d.push_back(
      {"TDIALOG_REG_IDS",
       "Paramètres du régulateur de courant Ids",
       {Plain({Edit("Période de régulation N * TMLI :", "NTregI", C::kInteger),
               Note("Idsref :", "Calculé par le défluxage")}),
        RegulatorKinds({{"&PI", "IdsPI"}, {"&IP", "IdsIP"}, {"&Flou", "IdsFlou"}}),
        Plain({Edit("Kpd :", "Kpd"), Edit("Kid :", "Kid"), Edit("Vdsref Max :", "VdsrefMax")}),
        Framed("Flou",
               {Edit("F&Err :", "IdsFE"), Edit("F&dErr :", "IdsFdE"), Edit("Fd&U :", "IdsFdU")})}});

  d.push_back(
      {"TDIALOG_REG_IQS",
       "Paramètres du régulateur de courant Iqs",
       {Plain({Edit("Période de régulation N * TMLI :", "NTregI", C::kIntegerFromReal),
               Note("Iqsref :", "Calculé par le régulateur de vitesse")}),
        RegulatorKinds({{"&PI", "IqsPI"}, {"&IP", "IqsIP"}, {"&Flou", "IqsFlou"}}),
        Plain({Edit("Kpq :", "Kpq"), Edit("Kiq :", "Kiq"), Edit("Vqsref Max :", "VqsrefMax"),
               Check("Vqsref Max libre", "VqsrefMaxFree")}),
        Framed("Flou",
               {Edit("F&Err :", "IqsFE"), Edit("F&dErr :", "IqsFdE"), Edit("Fd&U :", "IqsFdU")})}});

  d.push_back({"TDIALOG_REG_VITESSE",
               "Régulateur de vitesse",
               {Plain({Edit("Période de régulation N * TReg I :", "NTregW", C::kInteger)}),
                RegulatorKinds({{"&PI", "WPI"},
                                {"&IP", "WIP"},
                                {"&Flou", "WFlou"},
                                {"&NN", "WNN"},
                                {"&2D NFC", "W2DNFC"}}),
                Plain({Check("Adapter les gains", "ChangeK"),
                       Check("Activer FIR5", "UseSpeedFilter"), Edit("KpW :", "KpW"),
                       Edit("KiW :", "KiW"), Edit("Tt :", "TtW"), Edit("Iqsref Max :", "IqsrefM")}),
                Framed("Flou", {Edit("F&Err :", "WFErr"), Edit("F&dErr :", "WFdErr"),
                                Edit("Fd&U :", "WFdU")})}});

  d.push_back(
      {"TDIALOG_NFC2D",
       "Régulateur de vitesse",
       {Table("Erreur :", {"c", "s"},
              {Edits("1 :", {"cE1", "sE1"}), Edits("2 :", {"cE2", "sE2"}),
               Edits("3 :", {"cE3", "sE3"})}),
        Table("Dérivée de l'erreur :", {"c", "s"},
              {Edits("1 :", {"cR1", "sR1"}), Edits("2 :", {"cR2", "sR2"}),
               Edits("3 :", {"cR3", "sR3"})}),
        Framed("Gains :", {Edit("F&e :", "Fe"), Edit("F&de :", "Fde"), Edit("Fd&U :", "FdU")}),
        Framed("Poids :", {Edit("w11 :", "w11"), Edit("w21 :", "w21"), Edit("w12 :", "w12")})}});

  {
    Group kinds = Framed("Type de régulateur", {InertRadio("&PI", true), InertRadio("&IP", false),
                                                InertRadio("&Flou", false)});
    kinds.disabled = true;
    d.push_back({"TDIALOG_RegMRASSensorless",
                 "Paramètres du correcteur de l'estimateur de vitesse",
                 {Plain({Edit("Période de l'estimateur :", "TEst"), Edit("KpWmEst :", "KpWmEst"),
                         Edit("KiWmEst :", "KiWmEst"), Edit("WmEstMax :", "WmEstMax"),
                         InertEdit("&Err pic :", "Not used"), InertEdit("&dErr pic :", "Not used"),
                         InertEdit("d&U pic", "Not used")}),
                  kinds}});
  }

  d.push_back({"TDIALOG_DEFLUXAGE",
               "Paramètres de défluxage",
               {Framed("&Type", {Radio("Aucun", "Flag", 0), Radio("Par paliers", "Flag", 1),
                                 Radio("Continu", "Flag", 2)}),
                Table("Défluxage par &paliers", {"Zone 1", "Zone 2", "Zone 3"},
                      {Edits("&Limite sup (tr/mn) :", {"Wmlim1", "Wmlim2", "Wmlim3"}),
                       Edits("&Ids ref (A) :", {"Idsref1", "Idsref2", "Idsref3"})}),
                Framed("Défluxage &continu", {Edit("&Vitesse base (tr/mn) :", "WmBase"),
                                              Edit("&K deflux (A/tr*mn) :", "Kdeflux")})}});

  d.push_back({"TDIALOG_WMREF",
               "Evènements sur la référence de vitesse",
               {Table("", kT1To4,
                      {Edits("&t (s) :", Numbered("Wmt", 4)),
                       Edits("Wm &ref (tr/mn) :", Numbered("Wmref", 4))})}});

  d.push_back({"TDIALOG_Idqsref",
               "Evènements sur les références de courants",
               {Table("", kT1To4,
                      {Edits("Ids &t (s) :", Numbered("Idst", 4)),
                       Edits("I&ds ref (A) :", Numbered("Idssref", 4)),
                       Edits("Iqs t (s) :", Numbered("Iqst", 4)),
                       Edits("I&qs ref (A) :", Numbered("Iqsref", 4))})}});

  d.push_back({"TDIALOG_CRREF",
               "Evènements sur le couple résistant",
               {Table("", kT1To4,
                      {Edits("&t (s) :", Numbered("Crt", 4)),
                       Edits("da&1 ref (Nm/s2/rd2) :", Numbered("da1ref", 4)),
                       Edits("da&2 ref (Nm/s/rd) :", Numbered("da2ref", 4)),
                       Edits("da&3 ref (Nm) :", Numbered("da3ref", 4))}),
                Plain({Check("da3 ref prend le &signe de la vitesse", "Crsgn")})}});

  d.push_back({"TDIALOG_RR",
               "Evènements sur la résistance rotorique de la machine",
               {Table("", kT1To4,
                      {Edits("&t (s) :", Numbered("Rrt", 4)),
                       Edits("&Rr (Ohm) :", Numbered("Rrref", 4))})}});

  d.push_back({"TDIALOG_RbCasse",
               "Evènements sur la rupture des barres rotoriques",
               {Table("", k1To4,
                      {Edits("&t (s) :", Numbered("RbCasset", 4)),
                       Edits("&Rb n°:", Numbered("Rbn", 4), C::kIntegerFromReal),
                       Edits("&RbCassée (Ohm) :", Numbered("RbRef", 4))}),
                Plain({Check("Initialisation au début de la simulation", "BarreInit")})}});

  d.push_back({"TDIALOG_AnneauCassee",
               "Rupture d'anneau",
               {Table("", k1To4,
                      {Edits("&t (s) :", Numbered("ReCasset", 4)),
                       Edits("&Re n° :", Numbered("Ren", 4), C::kIntegerFromReal),
                       Edits("&Re Cassée ( Ohm ) :", Numbered("ReRef", 4))}),
                Plain({Check("Initialisation au début de la simulation", "AnneauInit")})}});

  {
    std::vector<Row> rows;
    const auto& captions = OutSelCaptions();
    for (int i = 0; i < kOutSelCount; ++i) {
      rows.push_back(Check(captions[static_cast<std::size_t>(i)],
                           std::string("OutSel.") + kOutSelNames[static_cast<std::size_t>(i)]));
    }
    Group g = Plain(std::move(rows));
    g.check_columns = 4;
    d.push_back({"TDIALOG_AFFICHAGE", "Options d'affichage : grandeurs à sortir", {g}});
  }

  {
    static constexpr std::array<const char*, kOutSelExpCount> kCaptions = {
        "Exp Wm interpolé",    "Exp Ias interpolé",       "Exp Wm de la Table",
        "Exp Ias de la Table", "Exp Max Ias de la Table", "Max Ias"};
    std::vector<Row> rows;
    for (int i = 0; i < kOutSelExpCount; ++i) {
      const auto k = static_cast<std::size_t>(i);
      rows.push_back(Check(kCaptions[k], std::string("OutSelExp.") + kOutSelExpNames[k]));
    }
    d.push_back({"TDIALOG_AffGen_Dem",
                 "Options d'affichage (opt. sur Démarrage ) ",
                 {Plain(std::move(rows))}});
  }

  {
    // The cage columns: the bars, meshes and ring portions whose currents are written
    // (numbers from 0, as in the column names "Ib0", ...), each with its polar form, and
    // the machine columns.
    static constexpr std::array<const char*, 9> kCaptions = {"Thetar",  "V alphas",    "V betas",
                                                             "Vds",     "Vqs",         "I alphas",
                                                             "I betas", "Ie (anneau)", "Capt"};
    std::vector<Row> rows;
    for (std::size_t k = 0; k < kCaptions.size(); ++k) {
      rows.push_back(Check(kCaptions[k], std::string("OutSelCage.") + kOutSelCageNames[k]));
    }
    Group columns = Plain(std::move(rows));
    columns.check_columns = 3;
    d.push_back({"TDIALOG_AffCage",
                 "Options d'affichage : grandeurs à sortir pour le modèle à cage",
                 {Plain({Edit("I Barre n° :", "BarreSel", C::kBarList),
                         Check("Polaire", "OutSelCage.PolaireBarre"),
                         Edit("I boucle n° :", "LoopSel", C::kBarList),
                         Check("Polaire", "OutSelCage.PolaireLoop"),
                         Edit("I Anneau n° :", "AnneauSel", C::kBarList),
                         Check("Polaire", "OutSelCage.PolaireAnneau")}),
                  columns}});
  }

  {
    std::vector<Row> rows;
    for (int i = 0; i < kOutSelStatorCount; ++i) {
      const auto k = static_cast<std::size_t>(i);
      rows.push_back(
          Check(kOutSelStatorNames[k], std::string("OutSelStator.") + kOutSelStatorNames[k]));
    }
    Group g = Plain(std::move(rows));
    g.check_columns = 2;
    d.push_back({"TDIALOG_AffDirIndStator",
                 "Options d'affichage ( Dir/Ind Stator ) : grandeurs à sortir",
                 {g}});
  }

  d.push_back({"TDIALOG_Fichiers",
               "Paramètres des fichiers",
               {Framed("Expérimental :", {Edit("Nom :", "ExpNom", C::kText),
                                          Edit("Colonne :", "ExpCol", C::kInteger)}),
                Framed("Simulation :", {Edit("Nom :", "SimNom", C::kText),
                                        Edit("Colonne :", "SimCol", C::kInteger)})}});

  {
    Row wm = Edits("Vitesse ( Wm )", {"ExpWmCol", "gWmF"});
    wm.conversions = {C::kInteger, C::kReal};
    Row ias = Edits("Courant ( Ias )", {"ExpIasCol", "gIasF"});
    ias.conversions = {C::kInteger, C::kReal};
    d.push_back({"TDIALOG_FichierDem",
                 "Paramètres de l'optimisation sur un démarrage",
                 {Plain({Edit("Nom du fichier expérimental :", "ExpNom", C::kText)}),
                  Table("", {"Colonne à traiter :", "Coefficients\npondérateurs :"}, {wm, ias}),
                  Framed("Paramètres de la sigmoïde de sélectivité :",
                         {Edit("A :", "gA"), Edit("t0:", "gt0")})}});
  }

  {
    static constexpr std::array<const char*, 8> kGenes = {"Rs", "Ts",  "Tr",  "sigma",
                                                          "J",  "a10", "a20", "a30"};
    std::vector<Row> rows;
    for (const char* g : kGenes) rows.push_back(Check(g, std::string("GenX.") + g));
    Group genes = Plain(std::move(rows));
    genes.check_columns = 2;
    d.push_back({"TDIALOG_OptX", "Choix des param. à optimiser (Gen. et PSO)", {genes}});
  }

  // The identification cost's current comparison: the instantaneous current, or its
  // maximum over one supply period.
  d.push_back({"TDIALOG_FonctionCout",
               "Fonction coût",
               {Framed("Comparaison de Ias", {Radio("Ias", "CostFunction", 0),
                                              Radio("Max de Ias", "CostFunction", 1)})}});

  d.push_back({"TDIALOG_OptGenFlouReg",
               "Paramètres de l'optimisation génétique",
               {Framed("Coefficients\npondérateurs :",
                       {Edit("(Wmref - Wm)2", "gWmF"), Edit("(Iqsref - IqsrefOld)2", "gIasF")})}});
  return d;
}

}  // namespace

const std::vector<std::string>& OutSelCaptions() {
  static const std::vector<std::string> kCaptions = {"Ce",
                                                     "Vitesse",
                                                     "Ias",
                                                     "Vas",
                                                     "Ids ref",
                                                     "Ids",
                                                     "Iqs ref",
                                                     "Iqs",
                                                     "Vds ref",
                                                     "Vqs ref",
                                                     "Es alpha",
                                                     "Es beta",
                                                     "Ids MAS",
                                                     "Iqs MAS",
                                                     "Ce MAS",
                                                     "Cr MAS",
                                                     "Theta s",
                                                     "Angle Phi_s",
                                                     "Angle Phi_r",
                                                     "Phi_alpha_s",
                                                     "Phi_beta_s",
                                                     "Phi_alpha_r",
                                                     "Phi_beta_r",
                                                     "Phi dr",
                                                     "Phi1s",
                                                     "Phi2s",
                                                     "Ias Filtré",
                                                     "Ibs Filtré",
                                                     "Ids Filtré",
                                                     "Iqs Filtré",
                                                     "Angle Phi_s Corr",
                                                     "Ws",
                                                     "Ialphas Obs",
                                                     "Ibetas Obs",
                                                     "Phi alpha s Obs",
                                                     "Phi beta s Obs",
                                                     "Ealphas Obs",
                                                     "Ebetas Obs",
                                                     "Ce Obs",
                                                     "Flou"};
  return kCaptions;
}

const std::vector<DialogDescription>& AllDialogs() {
  static const std::vector<DialogDescription> kDialogs = MakeDialogs();
  return kDialogs;
}

}  // namespace mas::ui
