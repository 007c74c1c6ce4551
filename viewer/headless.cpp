#include "viewer/headless.h"

#include <QBuffer>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>

#include "platform/file_replacement.h"
#include "viewer/core/session.h"
#include "viewer/core/spectrum.h"
#include "viewer/core/table.h"
#include "viewer/plot_painter.h"

namespace mas::viewer {

namespace {

constexpr int kMaxImageSide = 10000;
constexpr std::size_t kDefaultPlots = 8;

bool ParseNumber(const QString& text, double& value) {
  const std::string s = text.toStdString();
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return ec == std::errc() && ptr == s.data() + s.size() && std::isfinite(value);
}

// Writes the picture's bytes through the file replacement, as every file of the
// workbench: the previous file stays until the new one is complete, a device is written
// in place and never replaced, a write-protected file is left alone.
bool WriteBytes(const QString& path, const QByteArray& bytes, QString& log) {
  const std::string_view text(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  if (!ReplaceFileContents(path.toStdString(), text)) {
    log += QStringLiteral("Impossible d'écrire le fichier %1 : le fichier précédent est conservé\n")
               .arg(path);
    return false;
  }
  return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return parts;
}

}  // namespace

QString ViewerUsage() {
  return QStringLiteral(
      "Usage : tracix [FICHIER] [--watch] [--session SESSION]\n"
      "        tracix FICHIER --png IMAGE.png [--svg IMAGE.svg] [--pdf IMAGE.pdf]\n"
      "               [--columns A,B+C,...]\n"
      "               [--from T0] [--to T1] [--size LxH]\n"
      "               [--spectrum COLONNE [--linear] [--fmax F]]\n"
      "               [--xy X,Y]\n"
      "  --watch      recharge le fichier dès qu'il change, sans demander\n"
      "  --session    ouvre la session donnée (sinon FICHIER.tracix s'il existe ;\n"
      "               sans fenêtre, seulement celle-ci : ses tracés et sa plage)\n"
      "  FICHIER      table texte, .csv (virgules, ou points-virgules et virgule\n"
      "               décimale) ou .mat (MATLAB), choisie par l'extension\n"
      "  --png/--svg/--pdf  dessine sans fenêtre et quitte\n"
      "  --columns    une virgule commence un tracé, un plus réunit des colonnes\n"
      "  --spectrum   spectre (fenêtre de Hann) de la colonne sur la plage, en dB\n"
      "               (en amplitude avec --linear), de 0 à F Hz (par défaut un peu\n"
      "               au-delà de la dernière raie à plus de -80 dB)\n"
      "  --xy         tracé de Y en fonction de X sur la plage\n"
      "  --version    affiche la version et quitte\n"
      "  -h, --help   affiche cette aide et quitte\n");
}

bool ParseViewerOptions(const QStringList& arguments, ViewerOptions& options, QString& error) {
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    auto value = [&](QString& out) {
      if (i + 1 >= arguments.size()) {
        error = QStringLiteral("Valeur manquante après %1").arg(a);
        return false;
      }
      out = arguments[++i];
      return true;
    };
    QString v;
    if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
      options.help = true;
    } else if (a == QLatin1String("--version")) {
      options.version = true;
    } else if (a == QLatin1String("--watch")) {
      options.watch = true;
    } else if (a == QLatin1String("--linear")) {
      options.linear = true;
    } else if (a == QLatin1String("--session")) {
      if (!value(options.session)) return false;
    } else if (a == QLatin1String("--png")) {
      if (!value(options.png)) return false;
    } else if (a == QLatin1String("--svg")) {
      if (!value(options.svg)) return false;
    } else if (a == QLatin1String("--pdf")) {
      if (!value(options.pdf)) return false;
    } else if (a == QLatin1String("--columns")) {
      if (!value(v)) return false;
      options.plots.clear();
      for (const std::string& plot : Split(v.toStdString(), ',')) {
        std::vector<std::string> columns = Split(plot, '+');
        for (const std::string& c : columns) {
          if (c.empty()) {
            error = QStringLiteral("--columns : nom de colonne vide dans « %1 »").arg(v);
            return false;
          }
        }
        options.plots.push_back(std::move(columns));
      }
    } else if (a == QLatin1String("--fmax")) {
      if (!value(v)) return false;
      double f = 0;
      if (!ParseNumber(v, f) || !(f > 0)) {
        error = QStringLiteral("--fmax : fréquence positive attendue, lue « %1 »").arg(v);
        return false;
      }
      options.fmax = f;
    } else if (a == QLatin1String("--from") || a == QLatin1String("--to")) {
      if (!value(v)) return false;
      double t = 0;
      if (!ParseNumber(v, t)) {
        error = QStringLiteral("%1 : nombre attendu (avec un point décimal), lu « %2 »").arg(a, v);
        return false;
      }
      (a == QLatin1String("--from") ? options.from : options.to) = t;
    } else if (a == QLatin1String("--size")) {
      if (!value(v)) return false;
      const QStringList wh = v.split(QLatin1Char('x'));
      bool ok_w = false, ok_h = false;
      const int w = wh.size() == 2 ? wh[0].toInt(&ok_w) : 0;
      const int h = wh.size() == 2 ? wh[1].toInt(&ok_h) : 0;
      if (!ok_w || !ok_h || w < 100 || h < 100 || w > kMaxImageSide || h > kMaxImageSide) {
        error = QStringLiteral("--size : LARGEURxHAUTEUR attendu, de 100 à %1 pixels, lu « %2 »")
                    .arg(kMaxImageSide)
                    .arg(v);
        return false;
      }
      options.width = w;
      options.height = h;
    } else if (a == QLatin1String("--spectrum")) {
      if (!value(v)) return false;
      options.spectrum = v.toStdString();
    } else if (a == QLatin1String("--xy")) {
      if (!value(v)) return false;
      const std::vector<std::string> xy = Split(v.toStdString(), ',');
      if (xy.size() != 2 || xy[0].empty() || xy[1].empty()) {
        error = QStringLiteral("--xy : X,Y attendu, lu « %1 »").arg(v);
        return false;
      }
      options.xy_x = xy[0];
      options.xy_y = xy[1];
    } else if (a.startsWith(QLatin1String("--"))) {
      error = QStringLiteral("Option inconnue : %1").arg(a);
      return false;
    } else if (options.file.isEmpty()) {
      options.file = a;
    } else {
      error = QStringLiteral("Un seul fichier de données attendu, lu aussi « %1 »").arg(a);
      return false;
    }
  }
  if (options.from && options.to && !(*options.from < *options.to)) {
    error = QStringLiteral("--from doit précéder --to");
    return false;
  }
  if (options.Headless() && options.file.isEmpty()) {
    error = QStringLiteral("Le mode sans fenêtre demande un fichier de données");
    return false;
  }
  return true;
}

bool WritePng(const QString& path, QSize size, const PicturePainter& paint, QString& log) {
  const int width = size.width(), height = size.height();
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    paint(painter, QRect(0, 0, width, height));
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
    log += QStringLiteral("Impossible d'écrire le fichier %1\n").arg(path);
    return false;
  }
  return WriteBytes(path, bytes, log);
}

bool WriteSvg(const QString& path, QSize size, const PicturePainter& paint, QString& log) {
  const int width = size.width(), height = size.height();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly)) {
    log += QStringLiteral("Impossible d'écrire le fichier %1\n").arg(path);
    return false;
  }
  {
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(QSize(width, height));
    svg.setViewBox(QRect(0, 0, width, height));
    svg.setTitle(QStringLiteral("tracix"));
    QPainter painter(&svg);
    paint(painter, QRect(0, 0, width, height));
  }
  return WriteBytes(path, bytes, log);
}

bool WritePdf(const QString& path, QSize size, const PicturePainter& paint, QString& log) {
  const int width = size.width(), height = size.height();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly)) {
    log += QStringLiteral("Impossible d'écrire le fichier %1\n").arg(path);
    return false;
  }
  {
    QPdfWriter pdf(&buffer);
    pdf.setCreator(QStringLiteral("tracix"));
    pdf.setTitle(QStringLiteral("tracix"));
    // 72 dots per inch: a point of the page is a pixel of the picture.
    pdf.setResolution(72);
    pdf.setPageSize(QPageSize(QSizeF(width, height), QPageSize::Point));
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter;
    if (!painter.begin(&pdf)) {
      log += QStringLiteral("Impossible d'écrire le fichier %1\n").arg(path);
      return false;
    }
    paint(painter, QRect(0, 0, width, height));
  }
  return WriteBytes(path, bytes, log);
}

int RunHeadless(const ViewerOptions& options, QString& log) {
  // No picture over what is read (the table, the session) nor over the other picture,
  // also through a link: said before anything is read or written.
  const std::vector<CommandInput> inputs = {
      {options.file.toStdString(), "la table lue", true},
      {options.session.toStdString(), "la session lue", true},
      {options.png.toStdString(), "l'image PNG (--png)", true},
      {options.svg.toStdString(), "l'image SVG (--svg)", true}};
  const QString* outputs[] = {&options.png, &options.svg, &options.pdf};
  for (std::size_t k = 0; k < 3; ++k) {
    const QString& output = *outputs[k];
    if (output.isEmpty()) continue;
    // The PNG is checked against what is read, each later picture against the earlier.
    const std::span<const CommandInput> others(inputs.data(), 2 + k);
    if (const OutputRefusal refusal = RefuseOutput(output.toStdString(), others)) {
      log += QString::fromStdString(refusal.message) + QLatin1Char('\n');
      return kHeadlessUnreadable;
    }
  }
  ReadResult read = ReadTable(options.file.toStdString());
  if (!read.complete) log += QString::fromStdString(read.message) + QLatin1Char('\n');
  // Nothing to draw: no picture, and a failure.
  if (read.table.ColumnCount() == 0 || read.table.RowCount() == 0) {
    if (read.complete) {
      log +=
          QStringLiteral("La table %1 ne contient aucune ligne de nombres : rien n'est dessiné\n")
              .arg(options.file);
    }
    return kHeadlessUnreadable;
  }
  const Dataset data(std::move(read.table));
  const Table& table = data.table();

  ViewState view;
  view.time = data.TimeRange();
  if (options.from) view.time.lo = *options.from;
  if (options.to) view.time.hi = *options.to;
  if (!(view.time.lo < view.time.hi)) view.time = PaddedRange(view.time.lo, view.time.hi);
  auto column = [&](const std::string& name, std::size_t& index) {
    const int c = table.ColumnIndex(name);
    if (c < 0) {
      log += QStringLiteral("Colonne inconnue : %1\n").arg(QString::fromStdString(name));
      return false;
    }
    index = static_cast<std::size_t>(c);
    return true;
  };
  // A session gives the plots and the time range that the command line does not.
  if (!options.session.isEmpty()) {
    Session session;
    std::string message;
    if (!LoadSession(options.session.toStdString(), session, message)) {
      log += QString::fromStdString(message) + QLatin1Char('\n');
      return kHeadlessBadArguments;
    }
    if (!session.auto_time && !options.from && !options.to) view.time = session.time_range;
    if (options.plots.empty()) {
      for (const PlotSetup& setup : session.plots) {
        PlotView plot;
        plot.auto_range = setup.auto_range;
        plot.range = setup.range;
        for (const std::string& name : setup.curves) {
          std::size_t c = 0;
          if (column(name, c)) plot.columns.push_back(c);
        }
        view.plots.push_back(plot);
      }
    }
  }
  if (options.plots.empty() && view.plots.empty()) {
    for (std::size_t c = 1; c < table.ColumnCount() && view.plots.size() < kDefaultPlots; ++c) {
      view.plots.push_back({{c}, true, {}});
    }
  }
  for (const std::vector<std::string>& names : options.plots) {
    PlotView plot;
    for (const std::string& name : names) {
      std::size_t c = 0;
      if (!column(name, c)) return kHeadlessBadArguments;
      plot.columns.push_back(c);
    }
    view.plots.push_back(plot);
  }

  PicturePainter paint;
  if (!options.spectrum.empty()) {
    std::size_t c = 0;
    if (!column(options.spectrum, c)) return kHeadlessBadArguments;
    const Spectrum s = ComputeSpectrum(data.Time(), data.Column(c), view.time.lo, view.time.hi);
    if (!s.message.empty()) {
      // No spectrum: nothing is drawn rather than empty axes.
      log += QString::fromStdString(s.message) + QLatin1Char('\n');
      return kHeadlessUnreadable;
    }
    QString title = QStringLiteral("Spectre de %1 (fenêtre de Hann, %2 points de %3 à %4 s)")
                        .arg(QString::fromStdString(options.spectrum))
                        .arg(s.samples)
                        .arg(NumberText(view.time.lo), NumberText(view.time.hi));
    if (s.resampled) title += QStringLiteral(", rééchantillonné");
    Range f = AutoFrequencyRange(s);
    if (options.fmax) f.hi = *options.fmax;
    // The marker shows the largest line other than DC.
    double marker = NAN;
    if (s.amplitude.size() > 2) {
      const auto top = std::max_element(s.amplitude.begin() + 1, s.amplitude.end());
      marker = s.frequency[static_cast<std::size_t>(top - s.amplitude.begin())];
    }
    paint = [s, title, f, marker, db = !options.linear](QPainter& p, const QRect& r) {
      PaintSpectrum(p, r, s, db, title, marker, f);
    };
  } else if (!options.xy_x.empty()) {
    std::size_t x = 0, y = 0;
    if (!column(options.xy_x, x) || !column(options.xy_y, y)) return kHeadlessBadArguments;
    paint = [&data, x, y, time = view.time](QPainter& p, const QRect& r) {
      PaintXY(p, r, data, x, y, time, true);
    };
  } else {
    paint = [&data, &view](QPainter& p, const QRect& r) { PaintPlots(p, r, data, view); };
  }
  bool written = true;
  if (!options.png.isEmpty()) {
    written = WritePng(options.png, QSize(options.width, options.height), paint, log) && written;
  }
  if (!options.svg.isEmpty()) {
    written = WriteSvg(options.svg, QSize(options.width, options.height), paint, log) && written;
  }
  if (!options.pdf.isEmpty()) {
    written = WritePdf(options.pdf, QSize(options.width, options.height), paint, log) && written;
  }
  return written ? kHeadlessOk : kHeadlessUnreadable;
}

}  // namespace mas::viewer
