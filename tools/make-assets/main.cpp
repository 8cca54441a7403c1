// Draws the window icon and the four button pictures of the service window:
//   make-assets OUTPUT_DIR
// writes kestrola.png (64 x 64), stop.jpg, stop_down.jpg, start.jpg and start_down.jpg
// (132 x 41: a red face with the word STOP, a green one with START; the pressed forms darker).
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

constexpr int kWidth = 132;
constexpr int kHeight = 41;

QImage Button(const QColor& face, const QString& word, bool pressed) {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QColor base = pressed ? face.darker(140) : face;
  image.fill(base.darker(160));
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient shade(0, 0, 0, kHeight);
  shade.setColorAt(0, pressed ? base.darker(115) : base.lighter(135));
  shade.setColorAt(1, pressed ? base.lighter(110) : base.darker(120));
  QRectF inner(2, 2, kWidth - 4, kHeight - 4);
  p.setPen(QPen(base.darker(200), 1.5));
  p.setBrush(shade);
  p.drawRoundedRect(inner, 6, 6);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setBold(true);
  font.setPixelSize(22);
  p.setFont(font);
  QRectF text = inner.translated(pressed ? 1 : 0, pressed ? 1 : 0);
  p.setPen(QColor(0, 0, 0, 90));
  p.drawText(text.translated(1, 1), Qt::AlignCenter, word);
  p.setPen(Qt::white);
  p.drawText(text, Qt::AlignCenter, word);
  return image;
}

QImage Icon() {
  QImage image(64, 64, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  // A receipt printer: dark body, a white receipt coming out of the top.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(245, 245, 240));
  p.drawRect(18, 4, 28, 30);
  p.setPen(QPen(QColor(150, 150, 150), 2));
  for (int y = 11; y <= 27; y += 5) p.drawLine(22, y, 42, y);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(45, 60, 80));
  p.drawRoundedRect(QRectF(6, 28, 52, 30), 6, 6);
  p.setBrush(QColor(20, 25, 35));
  p.drawRect(14, 30, 36, 4);
  p.setBrush(QColor(60, 200, 90));
  p.drawEllipse(QPointF(48, 48), 4, 4);
  return image;
}

bool Save(const QImage& image, const QString& path, const char* format) {
  if (image.save(path, format, 92)) return true;
  std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-assets OUTPUT_DIR\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QString dir = QString::fromLocal8Bit(argv[1]);
  QColor red(200, 30, 30), green(30, 150, 50);
  bool ok = Save(Icon(), dir + "/kestrola.png", "PNG") &&
            Save(Button(red, "STOP", false), dir + "/stop.jpg", "JPG") &&
            Save(Button(red, "STOP", true), dir + "/stop_down.jpg", "JPG") &&
            Save(Button(green, "START", false), dir + "/start.jpg", "JPG") &&
            Save(Button(green, "START", true), dir + "/start_down.jpg", "JPG");
  return ok ? 0 : 1;
}
