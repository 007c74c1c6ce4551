#include "ui/gene_vector_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "ui/number_text.h"
#include "ui/param_window.h"
#include "ui/qt_platform.h"

namespace mas::ui {

GeneVectorParse ParseGeneVectorEntry(const std::string& counter_text,
                                     const std::array<std::string, NGenes>& gene_texts,
                                     bool keep_personal_best) {
  GeneVectorParse out;
  GeneVectorEntry entry;
  entry.keep_personal_best = keep_personal_best;
  const std::optional<int> counter = ParseInt(counter_text);
  if (!counter) {
    out.error = NotAnIntegerMessage(counter_text);
    return out;
  }
  entry.counter = *counter;
  for (std::size_t j = 0; j < gene_texts.size(); ++j) {
    const std::optional<double> value = ParseReal(gene_texts[j]);
    if (!value || !std::isfinite(*value)) {
      out.error = NotARealMessage(gene_texts[j]);
      return out;
    }
    entry.genes[j] = *value;
  }
  out.entry = entry;
  return out;
}

GeneVectorDialog::GeneVectorDialog(Kind kind, int counter, const Genes& genes, QWidget* parent)
    : QDialog(parent) {
  const bool genetic = kind == Kind::kGenetic;
  setObjectName(genetic ? QStringLiteral("TDIALOG_InitGen") : QStringLiteral("TDIALOG_InitPSO"));
  setWindowTitle(genetic
                     ? QStringLiteral("Paramètres de la machine pour l'algorithme génétique")
                     : QStringLiteral("Initialisation des paramètres de la machine pour la PSO"));
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  const QString counter_name = genetic ? QStringLiteral("Gen") : QStringLiteral("Epoch");
  grid->addWidget(new QLabel(counter_name + QStringLiteral(" :"), this), 0, 0);
  counter_ = new QLineEdit(QString::number(counter), this);
  counter_->setObjectName(QStringLiteral("IDC_") + counter_name);
  grid->addWidget(counter_, 0, 1);
  for (int j = 0; j < NGenes; ++j) {
    const QString name = QString::fromUtf8(kGeneNames[static_cast<std::size_t>(j)]);
    grid->addWidget(new QLabel(name + QStringLiteral(" :"), this), j + 1, 0);
    auto* edit =
        new QLineEdit(LocalNumberText(ShortestText(genes[static_cast<std::size_t>(j)])), this);
    edit->setObjectName(QStringLiteral("IDC_") + name);
    edit->setMinimumWidth(160);
    genes_[static_cast<std::size_t>(j)] = edit;
    grid->addWidget(edit, j + 1, 1);
  }
  layout->addLayout(grid);
  if (!genetic) {
    keep_ = new QCheckBox(QStringLiteral("Garder le \"presonal best\""), this);
    keep_->setObjectName(QStringLiteral("IDC_KeepPbest"));
    keep_->setChecked(true);
    layout->addWidget(keep_);
  }
  auto* box = new QDialogButtonBox(this);
  QPushButton* ok = box->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  QPushButton* cancel = box->addButton(QStringLiteral("Annuler"), QDialogButtonBox::RejectRole);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  layout->addWidget(box);
}

GeneVectorParse GeneVectorDialog::Entry() const {
  std::array<std::string, NGenes> texts;
  for (std::size_t j = 0; j < texts.size(); ++j) texts[j] = ToStdString(genes_[j]->text());
  return ParseGeneVectorEntry(ToStdString(counter_->text()), texts,
                              keep_ == nullptr || keep_->isChecked());
}

}  // namespace mas::ui
