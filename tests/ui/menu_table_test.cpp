#include "ui/menu_table.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <deque>
#include <functional>

#include "ui/main_window.h"

namespace mas::ui {
namespace {

struct Expected {
  const char* path;  // menus joined with " / "
  const char* caption;
  const char* handler;  // "" for items without an action
  const char* hint;
  bool enabled;
};

// The workbench's menu tree as its users know it, item by item.
const Expected kMenu[] = {
    {"&Fichier", "&Ouvrir...", "CmFileOpen",
     "Ouvre un fichier de machine asynchrone ( *.mas ) existant", true},
    {"&Fichier", "&Enregistrer", "CmFileSave", "Enregistre le fichier de machine asynchrone actuel",
     true},
    {"&Fichier", "En&registrer sous...", "CmFileSaveAs",
     "Enregistre le fichier de machine asynchrone actuel sous un nom différent", true},
    {"&Fichier", "", "", "", false},
    {"&Fichier", "&Imprimer...", "", "Imprime le contenu de la fenêtre", false},
    {"&Fichier", "&Configuration de l'impression...", "", "Sélectionne et configure une imprimante",
     false},
    {"&Fichier", "", "", "", false},
    {"&Fichier", "&Quitter", "FichierQuitterClick", "Quitte le logiciel", true},
    {"&Simulation", "&Run", "CmRun", "Lance la simulation", true},
    {"&Simulation", "", "", "", false},
    {"&Simulation", "&Affichage des courbes", "CmAffichage",
     "Appelle le logiciel de tracé de courbes", true},
    {"O&ptimisation / G&radient / Régulateur de &vitesse", "&Ouvrir la fenêtre d'optimisation", "",
     "", false},
    {"O&ptimisation / G&radient / Régulateur de &vitesse", "&Fermer la fenêtre d'optimisation", "",
     "", false},
    {"O&ptimisation / G&radient / Régulateur de &vitesse / O&ptimiser", "&1 fois", "", "", false},
    {"O&ptimisation / G&radient / Régulateur de &vitesse / O&ptimiser", "&5 fois", "", "", false},
    {"O&ptimisation / G&radient / Régulateur de &vitesse / O&ptimiser", "1&0 fois", "", "", false},
    {"O&ptimisation / G&radient / Régulateur de &vitesse / O&ptimiser", "100 &fois", "", "", false},
    {"O&ptimisation / G&radient / Régulateur de &vitesse / &Echange", "&Envoyer", "", "", false},
    {"O&ptimisation / G&radient / Régulateur de &vitesse / &Echange", "&Récupérer", "", "", false},
    {"O&ptimisation / G&radient / Régulateur de &vitesse / Op&tions", "Paramètres d'&accélération",
     "", "", false},
    {"O&ptimisation / G&radient / Régulateur de &vitesse / Op&tions", "Pas de &dérivation", "", "",
     false},
    {"O&ptimisation / G&radient / Régulateur de &vitesse / Op&tions",
     "Paramètres de la &plage d'optimisation", "", "", false},
    {"O&ptimisation / G&radient / Paramètres du modèle à &barre",
     "&Ouvrir la fenêtre d'optimisation", "", "Ouvre la fenêtre des variables d'optimisation",
     false},
    {"O&ptimisation / G&radient / Paramètres du modèle à &barre",
     "&Fermer la fenêtre d'optimisation", "", "Ferme la fenêtre des variables d'optimisation",
     false},
    {"O&ptimisation / G&radient / Paramètres du modèle à &barre", "Ouvrir E&xpérimental", "",
     "Ouvrir le fichier expérimental", false},
    {"O&ptimisation / G&radient / Paramètres du modèle à &barre / O&ptimiser", "&1 fois", "",
     "Faire juste une fois l'optimisation", false},
    {"O&ptimisation / G&radient / Paramètres du modèle à &barre / O&ptimiser", "&5 fois", "",
     "Optimiser 5 fois de suite", false},
    {"O&ptimisation / G&radient / Paramètres du modèle à &barre / O&ptimiser", "1&0 fois", "",
     "Optimiser 10 fois de suite", false},
    {"O&ptimisation / G&radient / Paramètres du modèle à &barre / O&ptimiser", "100 &fois", "",
     "Optimiser 100 fois de suite", false},
    {"O&ptimisation / G&radient / Paramètres du modèle à &barre / &Echange", "&Envoyer", "",
     "Mettre à jour les paramètres actuels de la machine", false},
    {"O&ptimisation / G&radient / Paramètres du modèle à &barre / &Echange", "&Récupérer", "",
     "Récupérer les paramètres actuels de la machine", false},
    {"O&ptimisation / G&radient / Paramètres du modèle à &barre / Op&tions", "&Noms des fichiers",
     "CmNomsFichiers", "Choisir les noms des fichiers expérimental et de simulation", true},
    {"O&ptimisation / G&radient / Paramètres du modèle à &barre / Op&tions",
     "Paramètres d'&accélération", "", "Changer les facteurs d'accélération de l'optimisation",
     false},
    {"O&ptimisation / G&radient / Paramètres du modèle à &barre / Op&tions", "Pas de &dérivation",
     "", "Changer les pas de dérivation", false},
    {"O&ptimisation / G&radient / Paramètres du modèle à &barre / Op&tions",
     "Paramètres de la &plage d'optimisation", "",
     "Changer les paramètres de la plage d'optimisation", false},
    {"O&ptimisation / G&radient / Paramètres du modèle à &barre / Op&tions", "&fichier opt.dat", "",
     "Sortir le fichier opt.dat", false},
    {"O&ptimisation / &Genetic Algo / Régulateur &IP de vitesse",
     "&Paramètres de l'optimisation génétique", "CmParametreOptGenFlouReg", "", true},
    {"O&ptimisation / &Genetic Algo / Régulateur &IP de vitesse",
     "&Ouvrir la fenêtre d'optimisation", "CmOpenFenetreOptimisationW1", "", true},
    {"O&ptimisation / &Genetic Algo / Régulateur &IP de vitesse",
     "&Fermer la fenêtre d'optimisation", "CmCloseFenetreOptimisationW1", "", false},
    {"O&ptimisation / &Genetic Algo / Régulateur &IP de vitesse", "&Randomize", "CmInitRandomizeW1",
     "", true},
    {"O&ptimisation / &Genetic Algo / Régulateur &IP de vitesse", "&Récupérer", "CmRequestW1", "",
     true},
    {"O&ptimisation / &Genetic Algo / Régulateur &IP de vitesse / O&ptimiser", "&1 fois",
     "Cm1foisW1", "", true},
    {"O&ptimisation / &Genetic Algo / Régulateur &IP de vitesse / O&ptimiser", "&5 fois",
     "Cm5foisW1", "", true},
    {"O&ptimisation / &Genetic Algo / Régulateur &IP de vitesse / O&ptimiser", "1&0 fois",
     "Cm10foisW1", "", true},
    {"O&ptimisation / &Genetic Algo / Régulateur &IP de vitesse / O&ptimiser", "100 &fois",
     "Cm100foisW1", "", true},
    {"O&ptimisation / &Genetic Algo / Régulateur &IP de vitesse / O&ptimiser", "&N fois",
     "CmNfoisW1", "", true},
    {"O&ptimisation / &Genetic Algo / Régulateur &Flou de vitesse",
     "&Paramètres de l'optimisation génétique", "CmParametreOptGenFlouReg", "", true},
    {"O&ptimisation / &Genetic Algo / Régulateur &Flou de vitesse", "&Randomize",
     "CmInitRandomizeWFlou", "", true},
    {"O&ptimisation / &Genetic Algo / Régulateur &Flou de vitesse", "&Récupérer", "CmRequestWFlou",
     "", true},
    {"O&ptimisation / &Genetic Algo / Régulateur &Flou de vitesse / O&ptimiser", "&1 fois",
     "Cm1foisWFlou", "", true},
    {"O&ptimisation / &Genetic Algo / Régulateur &Flou de vitesse / O&ptimiser", "&5 fois",
     "Cm5foisWFlou", "", true},
    {"O&ptimisation / &Genetic Algo / Régulateur &Flou de vitesse / O&ptimiser", "1&0 fois",
     "Cm10foisWFlou", "", true},
    {"O&ptimisation / &Genetic Algo / Régulateur &Flou de vitesse / O&ptimiser", "&N fois",
     "CmNfoisWFlou", "", true},
    {"O&ptimisation / &Genetic Algo", "&Paramètres de la machine",
     "FentreprincipaledeloptimisationGenClick",
     "Accéder à l'optimisation parla méthode  Génétique des paramètres de la machine", true},
    {"O&ptimisation / &Particle Swarm", "&Paramètres de la machine", "CmFenetreprincipaleoptPSO",
     "Accéder à l'optimisation parla méthode  PSO des paramètres de la machine", true},
    {"&Options / &Simulation", "Type de &simulation", "CmOptionSimul",
     "Change le type de simulation à effectuer", true},
    {"&Options / &Simulation", "&Autres paramètres de simulation", "CmAutresParametres",
     "Paramètres de l'exécution de la simulation", true},
    {"&Options / &Simulation", "&Temps de simulation", "CmOptionsTimeSimul",
     "Change les paramètres temporels de la simulation", true},
    {"&Options / &Simulation", "&Double space vector PWM", "Menu_dsvpwmClick",
     "Affiche / Cache la boîte double space vector PWM", true},
    {"&Options / &Machine", "&Machine", "CmOptionsMachine",
     "Change les paramètres de la machine asynchrone", true},
    {"&Options / &Machine", "Machine ( &constantes de temps )", "CmOptionsMachineAlternate",
     "Change les paramètres de la machine asynchrone ( par les constantes de temps )", true},
    {"&Options", "Machine rotor à &cage", "CmOptionsMachineSpe",
     "Change les paramètres de la machine ( rotor à cage )", true},
    {"&Options", "Défauts sur les &barres", "CmOptionsBarre", "Spécifie les barres à casser", true},
    {"&Options", "Mo&dele", "CmOptionsModele",
     "Change les paramètres du modèle de la machine asynchrone connu par la partie commande", true},
    {"&Options", "&Onduleur", "CmOptionsOnduleur",
     "Change les paramètres relatifs à l'onduleur de tension", true},
    {"&Options", "Essai stati&que", "CmOptionsEssaiStatique",
     "Change les paramètres relatifs à l'essai statique", true},
    {"&Options", "&Démarrage", "CmOptionsDemarrage",
     "Change les paramètres de la tension au démarrage", true},
    {"&Options / &Régulateurs", "Régulateur du courant I&ds", "CmOptionsReg_Ids",
     "Change les paramètres relatifs au régulateur de courant Ids", true},
    {"&Options / &Régulateurs", "Régulateur de courant I&qs", "CmOptionsReg_Iqs",
     "Change les paramètres relatifs au régulateur de courant Iqs", true},
    {"&Options / &Régulateurs", "Régulateur de &vitesse", "CmOptionsReg_vitesse",
     "Change les paramètres relatifs au régulateur de vitesse", true},
    {"&Options / &Régulateurs", "&Paramètres du 2D NFC", "CmOptionsNFC2D",
     "Change les paramètres relatifs au régulateur de vitesse 2D Neuro-flou", true},
    {"&Options / &Régulateurs", "Régulateur du MRAS &SensorLess", "CmOptionsSensorlessParam",
     "Change les paramètres relatifs à l'estimateur de vitesse", true},
    {"&Options", "Fi&ltres", "CmOptionsFiltres",
     "Permet l'utilisation ou non des filtres sur les grandeurs mesurées", true},
    {"&Options", "&Nom du fichier de sortie", "CmOptionsFichier",
     "Modifie le nom du fichier de sortie des résultats de la simulation", true},
    {"&Options / &Evènements", "&Vitesse de référence", "CmOptionWmref",
     "Choisit les changements de la vitesse de référence", true},
    {"&Options / &Evènements", "&Courants de référence", "CmOptionIdqsref",
     "Uniquement en commande en courant, choisit les changements des courants de référence", true},
    {"&Options / &Evènements", "&Couple résistant", "CmOptionCrref",
     "Choisit les changements du couple résistant", true},
    {"&Options / &Evènements", "&Résistance rotorique du moteur", "CmOptionRr",
     "Choisit les changements de la résistance rotorique du moteur", true},
    {"&Options / &Evènements", "&Défaut sur une barre", "CmDefautBarre",
     "Choisit l'instant de la rupture de la barre au rotor", true},
    {"&Options / &Evènements", "Défaut sur l'&anneau", "CmDefautAnneau",
     "Choisit l'instant de la rupture de la portion d'anneau au rotor", true},
    {"&Options", "&Défluxage", "CmOptionsDefluxage",
     "Change les paramètres relatifs aux paliers de défluxage", true},
    {"&Options / &Fonctions spéciales", "&Options pour génèrer la surface de NN", "", "", false},
    {"&Options / &Fonctions spéciales", "&Génère surface de Fuzzy", "", "", false},
    {"&Options / &Fonctions spéciales", "&Génère surface de NN", "", "", false},
    {"&Options / &Fonctions spéciales", "Génère surface de NFC &2D", "", "", false},
    {"&Options / &Affichage", "&Grandeurs communes", "CmOptionsAffiche",
     "Choisit les grandeurs à sortir sur le fichier de sortie", true},
    {"&Options / &Affichage", "Modèle à &cage", "CmOptionsAfficheCage",
     "Choisit les grandeurs à sortir sur le fichier de sortie", true},
    {"&Options / &Affichage", "Contrôle vectoriel Directe et Indirecte &Statorique",
     "CmOptionsAfficheDir_indStator", "Choisit les grandeurs à sortir sur le fichier de sortie",
     true},
    {"&Options / &Affichage", "&Optimisation", "CmOptionsAfficheGenDem",
     "Choisit les grandeurs à sortir sur le fichier de sortie à partir de la table du fichier "
     "expérimental",
     true},
    {"&Aide", "&Index", "", "Appelle l'index de l'aide", false},
    {"&Aide", "&Clavier", "", "Appelle l'aide des commandes du clavier", false},
    {"&Aide", "&Commandes", "", "Appelle l'aide sur les commandes", false},
    {"&Aide", "&Procédures", "", "Appelle l'aide sur les procédures utiles", false},
    {"&Aide", "&Utilisation de l'aide", "", "", false},
    {"&Aide", "", "", "", false},
    {"&Aide", "&A propos de ...", "CmAbout",
     "Affiche des informations à propos du logiciel de simulation", true},
};

std::string Join(const std::vector<std::string>& path) {
  std::string out;
  for (const auto& p : path) out += (out.empty() ? "" : " / ") + p;
  return out;
}

TEST(MenuTable, MatchesTheWorkbenchMenuItemByItem) {
  const auto& items = MenuItems();
  ASSERT_EQ(items.size(), std::size(kMenu));
  for (std::size_t i = 0; i < items.size(); ++i) {
    const MenuItem& item = items[i];
    const Expected& e = kMenu[i];
    SCOPED_TRACE(std::to_string(i) + " " + e.path + " " + e.caption);
    EXPECT_EQ(Join(item.path), e.path);
    EXPECT_EQ(item.caption, e.caption);
    EXPECT_EQ(item.handler, e.handler);
    EXPECT_EQ(item.hint, e.hint);
    EXPECT_EQ(item.command != Command::kNone && !item.starts_disabled, e.enabled);
  }
  EXPECT_EQ(MenuItemByHandler("CmRun").shortcut, "F9");
}

// The window's menu bar is built from the table: same menus, captions, hints, states.
TEST(MenuTable, WindowMenuBarFollowsTheTable) {
  TSimulWindow window;
  std::vector<Expected> seen;
  // Owns the texts `seen` points into: a deque never moves its elements when it grows.
  std::deque<std::string> keep;
  std::function<void(QMenu*, const std::string&)> walk = [&](QMenu* menu, const std::string& path) {
    for (QAction* a : menu->actions()) {
      if (a->menu() != nullptr) {
        walk(a->menu(), path + " / " + a->text().toStdString());
        continue;
      }
      keep.push_back(path);
      const char* p = keep.back().c_str();
      keep.push_back(a->isSeparator() ? "" : a->text().toStdString());
      const char* c = keep.back().c_str();
      keep.push_back(a->statusTip().toStdString());
      seen.push_back({p, c, "", keep.back().c_str(), a->isEnabled() && !a->isSeparator()});
    }
  };
  for (QAction* top : window.menuBar()->actions()) {
    walk(top->menu(), top->text().toStdString());
  }
  ASSERT_EQ(seen.size(), std::size(kMenu));
  for (std::size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(std::to_string(i) + " " + kMenu[i].caption);
    EXPECT_STREQ(seen[i].path, kMenu[i].path);
    EXPECT_STREQ(seen[i].caption, kMenu[i].caption);
    EXPECT_STREQ(seen[i].hint, kMenu[i].hint);
    EXPECT_EQ(seen[i].enabled, kMenu[i].enabled);
  }
  EXPECT_EQ(window.ActionFor("CmRun")->shortcut(), QKeySequence(Qt::Key_F9));
  // The desktop's standard shortcuts on the file items, their captions unchanged.
  EXPECT_EQ(window.ActionFor("CmFileOpen")->shortcut(), QKeySequence(QKeySequence::Open));
  EXPECT_EQ(window.ActionFor("CmFileSave")->shortcut(), QKeySequence(QKeySequence::Save));
  EXPECT_EQ(window.ActionFor("FichierQuitterClick")->shortcut(),
            QKeySequence(Qt::CTRL | Qt::Key_Q));
  // Menus carrying hints of their own.
  const auto submenu_hint = [&](const QString& top, const QString& sub) {
    for (QAction* a : window.menuBar()->actions()) {
      if (a->text() != top) continue;
      if (sub.isEmpty()) return a->statusTip();
      for (QAction* b : a->menu()->actions()) {
        if (b->text() == sub) return b->statusTip();
      }
    }
    return QString();
  };
  EXPECT_EQ(submenu_hint("O&ptimisation", "&Particle Swarm"),
            "Algorithmes basés sur Particle Swarm Optimisation");
  EXPECT_EQ(submenu_hint("&Options", "&Régulateurs"),
            "Change les paramètres relatifs aux régulateurs");
  EXPECT_EQ(submenu_hint("&Aide", ""), "Les différentes aides disponibles");
}

}  // namespace
}  // namespace mas::ui
