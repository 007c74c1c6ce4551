#include "ui/menu_table.h"

#include <stdexcept>

namespace mas::ui {
namespace {

using Path = std::vector<std::string>;

const std::string kFichier = "&Fichier";
const std::string kSimulation = "&Simulation";
const std::string kOptimisation = "O&ptimisation";
const std::string kOptions = "&Options";
const std::string kAide = "&Aide";

struct Builder {
  std::vector<MenuItem> items;

  void Item(const Path& path, std::string caption, std::string hint, std::string handler,
            Command command, std::string dialog = {}, std::string shortcut = {}) {
    items.push_back({path, std::move(caption), std::move(shortcut), std::move(hint),
                     std::move(handler), command, std::move(dialog), false});
  }
  void Dialog(const Path& path, std::string caption, std::string hint, std::string handler,
              std::string dialog) {
    Item(path, std::move(caption), std::move(hint), std::move(handler), Command::kSettingsDialog,
         std::move(dialog));
  }
  void Inert(const Path& path, std::string caption, std::string hint = {}) {
    Item(path, std::move(caption), std::move(hint), {}, Command::kNone);
  }
  void Separator(const Path& path) {
    items.push_back({path, "", "", "", "", Command::kNone, "", false});
  }
  void Workbench(const Path& path, std::string caption, std::string handler,
                 bool starts_disabled = false, std::string hint = {}) {
    Item(path, std::move(caption), std::move(hint), std::move(handler), Command::kWorkbenchWindow);
    items.back().starts_disabled = starts_disabled;
  }
};

// The gradient items: shown for completeness, without action.
void GradientItems(Builder& b, const Path& menu, bool bar_model) {
  const Path optimiser = [&] {
    Path p = menu;
    p.push_back("O&ptimiser");
    return p;
  }();
  const Path echange = [&] {
    Path p = menu;
    p.push_back("&Echange");
    return p;
  }();
  const Path options = [&] {
    Path p = menu;
    p.push_back("Op&tions");
    return p;
  }();
  auto hint = [&](const char* text) { return bar_model ? std::string(text) : std::string(); };
  b.Inert(menu, "&Ouvrir la fenêtre d'optimisation",
          hint("Ouvre la fenêtre des variables d'optimisation"));
  b.Inert(menu, "&Fermer la fenêtre d'optimisation",
          hint("Ferme la fenêtre des variables d'optimisation"));
  b.items.back().starts_disabled = true;
  if (bar_model) b.Inert(menu, "Ouvrir E&xpérimental", "Ouvrir le fichier expérimental");
  b.Inert(optimiser, "&1 fois", hint("Faire juste une fois l'optimisation"));
  b.Inert(optimiser, "&5 fois", hint("Optimiser 5 fois de suite"));
  b.Inert(optimiser, "1&0 fois", hint("Optimiser 10 fois de suite"));
  b.Inert(optimiser, "100 &fois", hint("Optimiser 100 fois de suite"));
  b.Inert(echange, "&Envoyer", hint("Mettre à jour les paramètres actuels de la machine"));
  b.Inert(echange, "&Récupérer", hint("Récupérer les paramètres actuels de la machine"));
  if (bar_model) {
    b.Dialog(options, "&Noms des fichiers",
             "Choisir les noms des fichiers expérimental et de simulation", "CmNomsFichiers",
             "TDIALOG_Fichiers");
  }
  b.Inert(options, "Paramètres d'&accélération",
          hint("Changer les facteurs d'accélération de l'optimisation"));
  b.Inert(options, "Pas de &dérivation", hint("Changer les pas de dérivation"));
  b.Inert(options, "Paramètres de la &plage d'optimisation",
          hint("Changer les paramètres de la plage d'optimisation"));
  if (bar_model) b.Inert(options, "&fichier opt.dat", "Sortir le fichier opt.dat");
}

std::vector<MenuItem> MakeItems() {
  Builder b;
  const Path fichier = {kFichier};
  b.Item(fichier, "&Ouvrir...", "Ouvre un fichier de machine asynchrone ( *.mas ) existant",
         "CmFileOpen", Command::kFileOpen, {}, "Ctrl+O");
  b.Item(fichier, "&Enregistrer", "Enregistre le fichier de machine asynchrone actuel",
         "CmFileSave", Command::kFileSave, {}, "Ctrl+S");
  b.Item(fichier, "En&registrer sous...",
         "Enregistre le fichier de machine asynchrone actuel sous un nom différent", "CmFileSaveAs",
         Command::kFileSaveAs);
  b.Separator(fichier);
  b.Inert(fichier, "&Imprimer...", "Imprime le contenu de la fenêtre");
  b.Inert(fichier, "&Configuration de l'impression...", "Sélectionne et configure une imprimante");
  b.Separator(fichier);
  b.Item(fichier, "&Quitter", "Quitte le logiciel", "FichierQuitterClick", Command::kQuit, {},
         "Ctrl+Q");

  const Path simulation = {kSimulation};
  b.Item(simulation, "&Run", "Lance la simulation", "CmRun", Command::kRun, {}, "F9");
  b.Separator(simulation);
  // The menu's curve item starts the viewer as the tool-bar button does.
  b.Item(simulation, "&Affichage des courbes", "Appelle le logiciel de tracé de courbes",
         "CmAffichage", Command::kAffichage);

  GradientItems(b, {kOptimisation, "G&radient", "Régulateur de &vitesse"}, false);
  GradientItems(b, {kOptimisation, "G&radient", "Paramètres du modèle à &barre"}, true);

  const Path ip = {kOptimisation, "&Genetic Algo", "Régulateur &IP de vitesse"};
  b.Dialog(ip, "&Paramètres de l'optimisation génétique", "", "CmParametreOptGenFlouReg",
           "TDIALOG_OptGenFlouReg");
  b.Workbench(ip, "&Ouvrir la fenêtre d'optimisation", "CmOpenFenetreOptimisationW1");
  b.Workbench(ip, "&Fermer la fenêtre d'optimisation", "CmCloseFenetreOptimisationW1", true);
  b.Workbench(ip, "&Randomize", "CmInitRandomizeW1");
  b.Workbench(ip, "&Récupérer", "CmRequestW1");
  const Path ip_opt = {kOptimisation, "&Genetic Algo", "Régulateur &IP de vitesse", "O&ptimiser"};
  b.Workbench(ip_opt, "&1 fois", "Cm1foisW1");
  b.Workbench(ip_opt, "&5 fois", "Cm5foisW1");
  b.Workbench(ip_opt, "1&0 fois", "Cm10foisW1");
  b.Workbench(ip_opt, "100 &fois", "Cm100foisW1");
  b.Workbench(ip_opt, "&N fois", "CmNfoisW1");
  const Path flou = {kOptimisation, "&Genetic Algo", "Régulateur &Flou de vitesse"};
  b.Dialog(flou, "&Paramètres de l'optimisation génétique", "", "CmParametreOptGenFlouReg",
           "TDIALOG_OptGenFlouReg");
  b.Workbench(flou, "&Randomize", "CmInitRandomizeWFlou");
  b.Workbench(flou, "&Récupérer", "CmRequestWFlou");
  const Path flou_opt = {kOptimisation, "&Genetic Algo", "Régulateur &Flou de vitesse",
                         "O&ptimiser"};
  b.Workbench(flou_opt, "&1 fois", "Cm1foisWFlou");
  b.Workbench(flou_opt, "&5 fois", "Cm5foisWFlou");
  b.Workbench(flou_opt, "1&0 fois", "Cm10foisWFlou");
  b.Workbench(flou_opt, "&N fois", "CmNfoisWFlou");
  b.Workbench({kOptimisation, "&Genetic Algo"}, "&Paramètres de la machine",
              "FentreprincipaledeloptimisationGenClick", false,
              "Accéder à l'optimisation parla méthode  Génétique des paramètres de la machine");
  b.Workbench({kOptimisation, "&Particle Swarm"}, "&Paramètres de la machine",
              "CmFenetreprincipaleoptPSO", false,
              "Accéder à l'optimisation parla méthode  PSO des paramètres de la machine");

  const Path opt_sim = {kOptions, "&Simulation"};
  b.Dialog(opt_sim, "Type de &simulation", "Change le type de simulation à effectuer",
           "CmOptionSimul", "TDIALOG_SIMULATION");
  b.Dialog(opt_sim, "&Autres paramètres de simulation",
           "Paramètres de l'exécution de la simulation", "CmAutresParametres",
           "TDIALOG_AutresParametres");
  b.Dialog(opt_sim, "&Temps de simulation", "Change les paramètres temporels de la simulation",
           "CmOptionsTimeSimul", "TDIALOG_TIMESIMUL");
  b.Item(opt_sim, "&Double space vector PWM", "Affiche / Cache la boîte double space vector PWM",
         "Menu_dsvpwmClick", Command::kDsvpwmWindow);

  const Path opt_machine = {kOptions, "&Machine"};
  b.Dialog(opt_machine, "&Machine", "Change les paramètres de la machine asynchrone",
           "CmOptionsMachine", "TDIALOG_MACHINE");
  b.Dialog(opt_machine, "Machine ( &constantes de temps )",
           "Change les paramètres de la machine asynchrone ( par les constantes de temps )",
           "CmOptionsMachineAlternate", "TDIALOG_MachineAlternate");

  const Path options = {kOptions};
  b.Dialog(options, "Machine rotor à &cage", "Change les paramètres de la machine ( rotor à cage )",
           "CmOptionsMachineSpe", "TDIALOG_MACHINESPE");
  b.Item(options, "Défauts sur les &barres", "Spécifie les barres à casser", "CmOptionsBarre",
         Command::kBarEditor);
  b.Dialog(options, "Mo&dele",
           "Change les paramètres du modèle de la machine asynchrone connu par la partie commande",
           "CmOptionsModele", "TDIALOG_MODELE");
  b.Dialog(options, "&Onduleur", "Change les paramètres relatifs à l'onduleur de tension",
           "CmOptionsOnduleur", "TDIALOG_ONDULEUR");
  b.Dialog(options, "Essai stati&que", "Change les paramètres relatifs à l'essai statique",
           "CmOptionsEssaiStatique", "TDIALOG_Statique");
  b.Dialog(options, "&Démarrage", "Change les paramètres de la tension au démarrage",
           "CmOptionsDemarrage", "TDIALOG_DEMARRAGE");

  const Path regulateurs = {kOptions, "&Régulateurs"};
  b.Dialog(regulateurs, "Régulateur du courant I&ds",
           "Change les paramètres relatifs au régulateur de courant Ids", "CmOptionsReg_Ids",
           "TDIALOG_REG_IDS");
  b.Dialog(regulateurs, "Régulateur de courant I&qs",
           "Change les paramètres relatifs au régulateur de courant Iqs", "CmOptionsReg_Iqs",
           "TDIALOG_REG_IQS");
  b.Dialog(regulateurs, "Régulateur de &vitesse",
           "Change les paramètres relatifs au régulateur de vitesse", "CmOptionsReg_vitesse",
           "TDIALOG_REG_VITESSE");
  b.Dialog(regulateurs, "&Paramètres du 2D NFC",
           "Change les paramètres relatifs au régulateur de vitesse 2D Neuro-flou",
           "CmOptionsNFC2D", "TDIALOG_NFC2D");
  b.Dialog(regulateurs, "Régulateur du MRAS &SensorLess",
           "Change les paramètres relatifs à l'estimateur de vitesse", "CmOptionsSensorlessParam",
           "TDIALOG_RegMRASSensorless");

  b.Dialog(options, "Fi&ltres",
           "Permet l'utilisation ou non des filtres sur les grandeurs mesurées", "CmOptionsFiltres",
           "TDIALOG_FILTRES");
  b.Dialog(options, "&Nom du fichier de sortie",
           "Modifie le nom du fichier de sortie des résultats de la simulation", "CmOptionsFichier",
           "TDIALOG_OptionsFichier");

  const Path evenements = {kOptions, "&Evènements"};
  b.Dialog(evenements, "&Vitesse de référence",
           "Choisit les changements de la vitesse de référence", "CmOptionWmref", "TDIALOG_WMREF");
  b.Dialog(evenements, "&Courants de référence",
           "Uniquement en commande en courant, choisit les changements des courants de référence",
           "CmOptionIdqsref", "TDIALOG_Idqsref");
  b.Dialog(evenements, "&Couple résistant", "Choisit les changements du couple résistant",
           "CmOptionCrref", "TDIALOG_CRREF");
  b.Dialog(evenements, "&Résistance rotorique du moteur",
           "Choisit les changements de la résistance rotorique du moteur", "CmOptionRr",
           "TDIALOG_RR");
  b.Dialog(evenements, "&Défaut sur une barre",
           "Choisit l'instant de la rupture de la barre au rotor", "CmDefautBarre",
           "TDIALOG_RbCasse");
  b.Dialog(evenements, "Défaut sur l'&anneau",
           "Choisit l'instant de la rupture de la portion d'anneau au rotor", "CmDefautAnneau",
           "TDIALOG_AnneauCassee");

  b.Dialog(options, "&Défluxage", "Change les paramètres relatifs aux paliers de défluxage",
           "CmOptionsDefluxage", "TDIALOG_DEFLUXAGE");

  const Path speciales = {kOptions, "&Fonctions spéciales"};
  b.Inert(speciales, "&Options pour génèrer la surface de NN");
  b.Inert(speciales, "&Génère surface de Fuzzy");
  b.Inert(speciales, "&Génère surface de NN");
  b.Inert(speciales, "Génère surface de NFC &2D");

  const Path affichage = {kOptions, "&Affichage"};
  const std::string columns_hint = "Choisit les grandeurs à sortir sur le fichier de sortie";
  b.Dialog(affichage, "&Grandeurs communes", columns_hint, "CmOptionsAffiche", "TDIALOG_AFFICHAGE");
  // The cage and stator-estimator columns get their dialogs here, as the output table
  // has their flag groups.
  b.Dialog(affichage, "Modèle à &cage", columns_hint, "CmOptionsAfficheCage", "TDIALOG_AffCage");
  b.Dialog(affichage, "Contrôle vectoriel Directe et Indirecte &Statorique", columns_hint,
           "CmOptionsAfficheDir_indStator", "TDIALOG_AffDirIndStator");
  b.Dialog(affichage, "&Optimisation",
           columns_hint + " à partir de la table du fichier expérimental", "CmOptionsAfficheGenDem",
           "TDIALOG_AffGen_Dem");

  const Path aide = {kAide};
  b.Item(aide, "&Index", "Appelle l'index de l'aide", "", Command::kNone, {}, "F1");
  b.Inert(aide, "&Clavier", "Appelle l'aide des commandes du clavier");
  b.Inert(aide, "&Commandes", "Appelle l'aide sur les commandes");
  b.Inert(aide, "&Procédures", "Appelle l'aide sur les procédures utiles");
  b.Inert(aide, "&Utilisation de l'aide");
  b.Separator(aide);
  b.Item(aide, "&A propos de ...", "Affiche des informations à propos du logiciel de simulation",
         "CmAbout", Command::kAbout);
  return b.items;
}

}  // namespace

const std::vector<MenuItem>& MenuItems() {
  static const std::vector<MenuItem> kItems = MakeItems();
  return kItems;
}

const std::vector<MenuHint>& MenuHints() {
  static const std::vector<MenuHint> kHints = {
      {{kOptimisation, "G&radient"}, "Algorithmes utilisant la méthode du gradient"},
      {{kOptimisation, "&Genetic Algo"},
       "Algorithmes utilisant des méthodes d'optimisation génétique"},
      {{kOptimisation, "&Particle Swarm"}, "Algorithmes basés sur Particle Swarm Optimisation"},
      {{kOptions, "&Régulateurs"}, "Change les paramètres relatifs aux régulateurs"},
      {{kAide}, "Les différentes aides disponibles"},
  };
  return kHints;
}

const MenuItem& MenuItemByHandler(const std::string& handler) {
  for (const auto& item : MenuItems()) {
    if (item.handler == handler) return item;
  }
  throw std::out_of_range("no menu item " + handler);
}

}  // namespace mas::ui
