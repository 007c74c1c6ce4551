#pragma once
// The dialogs that set a whole population or swarm to one parameter set: "Paramètres de
// la machine pour l'algorithme génétique" (the generation counter "Gen" and the eight
// genes) and "Initialisation des paramètres de la machine pour la PSO" (the epoch counter
// "Epoch", the eight genes and the check box "Garder le "presonal best"", ticked by
// default). Their values are the optimisers' own, not settings of the study, so they are
// not settings dialogs: the dialog shows the current values and hands the entered ones
// back, read by ParseGeneVectorEntry.

#include <QDialog>
#include <array>
#include <optional>
#include <string>

#include "identification/machine_genes.h"

class QCheckBox;
class QLineEdit;

namespace mas::ui {

struct GeneVectorEntry {
  int counter = 0;
  Genes genes{};
  bool keep_personal_best = true;
};

struct GeneVectorParse {
  std::optional<GeneVectorEntry> entry;
  std::string error;  // the conversion message of the first text refused
};

// The counter as an integer and the eight genes as finite reals (a point as decimal
// separator whatever the locale). A gene that is no number, or not a finite one (inf,
// nan, 1e999), is refused: one such gene copied into every individual would leave the
// whole population without a machine.
GeneVectorParse ParseGeneVectorEntry(const std::string& counter_text,
                                     const std::array<std::string, NGenes>& gene_texts,
                                     bool keep_personal_best);

class GeneVectorDialog : public QDialog {
  Q_OBJECT

 public:
  enum class Kind { kGenetic, kSwarm };
  GeneVectorDialog(Kind kind, int counter, const Genes& genes, QWidget* parent = nullptr);

  GeneVectorParse Entry() const;

  QLineEdit* CounterEdit() const { return counter_; }
  QLineEdit* GeneEdit(int gene) const { return genes_[static_cast<std::size_t>(gene)]; }
  QCheckBox* KeepBest() const { return keep_; }  // nullptr for the genetic algorithm

 private:
  QLineEdit* counter_ = nullptr;
  std::array<QLineEdit*, NGenes> genes_{};
  QCheckBox* keep_ = nullptr;
};

}  // namespace mas::ui
