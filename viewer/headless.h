#pragma once
// The viewer's command line and its headless mode: draw a table's plots (or a column's
// spectrum, or an XY plot) into a PNG, SVG or PDF file and exit, for scripts, reports and
// tests. The table may be the white-space text, a .csv or a .mat file.
//
//   tracix [FILE] [--watch] [--session FILE]
//   tracix FILE --png OUT.png [--columns A,B+C,...] [--from T0 --to T1] [--size WxH]
//                             [--spectrum COLUMN [--linear] [--fmax F]] [--xy X,Y]
//   (--svg OUT.svg and --pdf OUT.pdf in place of, or beside, --png)
//
// In --columns a comma starts a new plot and a plus joins columns in one plot:
// "Ids(A)+Iqs(A),Vitesse(tr/mn)" draws two plots. Without --columns every column after
// the time gets its own plot, the first eight of them.

#include <QPainter>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "viewer/core/plot_geometry.h"

namespace mas::viewer {

struct ViewerOptions {
  QString file;
  bool watch = false;
  QString session;
  QString png, svg, pdf;                        // headless when any is set
  std::vector<std::vector<std::string>> plots;  // --columns
  std::optional<double> from, to;
  int width = 1200, height = 800;
  std::string spectrum;        // column
  bool linear = false;         // spectrum in amplitude rather than dB
  std::optional<double> fmax;  // spectrum shown from 0 to fmax Hz
  std::string xy_x, xy_y;
  bool help = false;
  bool version = false;  // --version: the version, then exit
  bool Headless() const { return !png.isEmpty() || !svg.isEmpty() || !pdf.isEmpty(); }
};

// Parses the arguments after the program's name; false with a message on a bad one.
bool ParseViewerOptions(const QStringList& arguments, ViewerOptions& options, QString& error);

// Usage text of the command line.
QString ViewerUsage();

// Exit statuses of the headless mode.
inline constexpr int kHeadlessOk = 0;
inline constexpr int kHeadlessUnreadable = 1;  // nothing could be read, or no image written
inline constexpr int kHeadlessBadArguments = 2;

// Paints a picture into a rectangle of the given size.
using PicturePainter = std::function<void(QPainter&, const QRect&)>;
// Writes a PNG or an SVG picture of `size` pixels (the previous file is kept when writing
// fails); false with a message in `log`.
bool WritePng(const QString& path, QSize size, const PicturePainter& paint, QString& log);
bool WriteSvg(const QString& path, QSize size, const PicturePainter& paint, QString& log);
// A one-page PDF of `size` points (one pixel of the picture a point), the plots drawn as
// vector paths.
bool WritePdf(const QString& path, QSize size, const PicturePainter& paint, QString& log);

// Draws and writes the images; messages (a table read only in part, an unknown column)
// go to `log`. Needs a QGuiApplication.
int RunHeadless(const ViewerOptions& options, QString& log);

}  // namespace mas::viewer
