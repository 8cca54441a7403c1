#include "printing/ReceiptPreview.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPen>

#include "printing/Code128.h"
#include "printing/DirDestination.h"
#include "printing/EscPosReader.h"

namespace kestrola {

namespace {
constexpr int kMargin = 16;
constexpr int kLineGap = 6;
constexpr int kCutSpace = 14;
constexpr int kDrawerHeight = 24;
const QColor kInk(20, 20, 20);
const QColor kRed(215, 0, 0);

// Fonts need a GUI application; tools and tests may have none, and no display.
void EnsureGuiApplication() {
  if (QCoreApplication::instance()) return;
  static int argc = 3;
  static char arg0[] = "kestrola", arg1[] = "-platform", arg2[] = "offscreen";
  static char* argv[] = {arg0, arg1, arg2, nullptr};
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  (void)app;
}

int CellWidth(bool fontB) {
  return fontB ? 9 : 12;
}
int CellHeight(bool fontB) {
  return fontB ? 17 : 24;
}

QFont DeviceFont(bool fontB, bool bold) {
  QFont f(QStringLiteral("DejaVu Sans Mono"));
  f.setStyleHint(QFont::Monospace);
  f.setPixelSize(fontB ? 15 : 20);
  f.setBold(bold);
  return f;
}

// A character of a line and where its row places it.
struct Glyph {
  const ReceiptSpan* span;
  char16_t c;
  int x;
};

// Splits a line into rows: characters past the paper width continue on a new row, as the
// printer does.
std::vector<std::vector<Glyph>> WrapLine(const ReceiptItem& item) {
  std::vector<std::vector<Glyph>> rows(1);
  int x = 0;
  for (const auto& span : item.spans) {
    int w = CellWidth(span.fontB) * span.widthMul;
    for (char16_t c : span.text) {
      if (x + w > ReceiptPreview::kWidth && x > 0) {
        rows.emplace_back();
        x = 0;
      }
      rows.back().push_back({&span, c, x});
      x += w;
    }
  }
  return rows;
}

// The tallest character of the row; an empty row is as tall as the line's font at its feed.
int RowHeight(const ReceiptItem& item, const std::vector<Glyph>& row) {
  if (row.empty()) return CellHeight(item.fontB) * item.heightMul;
  int height = 0;
  for (const auto& g : row)
    height = std::max(height, CellHeight(g.span->fontB) * g.span->heightMul);
  return height;
}

// Paints one character cell of a row whose top is `y`; characters of one row share their
// baseline.
void PaintGlyph(const Glyph& g, int y, int rowHeight, QPainter* painter) {
  const ReceiptSpan& s = *g.span;
  int cw = CellWidth(s.fontB) * s.widthMul, ch = CellHeight(s.fontB) * s.heightMul;
  int top = y + rowHeight - ch;
  QColor ink = s.red ? kRed : kInk;
  if (g.c != u' ') {
    QFont font = DeviceFont(s.fontB, s.bold);
    QFontMetricsF m(font);
    painter->save();
    painter->translate(g.x, top);
    painter->scale(cw / m.horizontalAdvance(QChar(u'M')), ch / m.height());
    painter->setFont(font);
    painter->setPen(ink);
    painter->drawText(QPointF(0, m.ascent()), QString(QChar(g.c)));
    painter->restore();
  }
  if (s.underline) painter->fillRect(g.x, top + ch - 2, cw, 2, ink);
}

// Each layout step places one item with its top at `y`, paints it when a painter is given,
// and returns the `y` below it.
int LayOutLine(const ReceiptItem& item, int y, QPainter* painter) {
  for (const auto& row : WrapLine(item)) {
    int rowHeight = RowHeight(item, row);
    if (painter) {
      for (const auto& g : row) PaintGlyph(g, y, rowHeight, painter);
    }
    y += rowHeight + kLineGap;
  }
  return y;
}

int BarsWidth(const std::vector<int>& symbols, int moduleWidth) {
  int width = 0;
  for (int sym : symbols)
    for (char w : Code128::Pattern(sym)) width += (w - '0') * moduleWidth;
  return width;
}

void PaintBars(const std::vector<int>& symbols, const ReceiptItem& item, int y, QPainter* painter) {
  int x = 0;
  for (int sym : symbols) {
    bool bar = true;
    for (char w : Code128::Pattern(sym)) {
      int width = (w - '0') * item.moduleWidth;
      if (bar) painter->fillRect(x, y, width, item.barcodeHeight, Qt::black);
      x += width;
      bar = !bar;
    }
  }
}

// A barcode the preview cannot draw is shown as a dashed box of its height.
void PaintUnreadableBarcode(int y, int h, QPainter* painter) {
  painter->setPen(QPen(Qt::gray, 1, Qt::DashLine));
  painter->drawRect(0, y, ReceiptPreview::kWidth - 1, h);
  painter->setFont(DeviceFont(true, false));
  painter->drawText(QRect(0, y, ReceiptPreview::kWidth, h), Qt::AlignCenter,
                    QStringLiteral("unreadable barcode"));
}

// CODE128 (type 73) is drawn as bars, with its readable text below when the HRI setting
// asks for it there; other types are shown as unreadable.
int LayOutBarcode(const ReceiptItem& item, int y, QPainter* painter) {
  auto symbols = item.barcodeType == 73 ? Code128::Encode(item.barcodeData) : std::nullopt;
  const int h = item.barcodeHeight;
  if (painter) {
    if (symbols) {
      PaintBars(*symbols, item, y, painter);
    } else {
      PaintUnreadableBarcode(y, h, painter);
    }
  }
  y += h;
  if (item.hriPosition >= 2 && symbols) {
    if (painter) {
      std::string text = Code128::ReadableText(item.barcodeData);
      painter->setFont(DeviceFont(false, false));
      painter->setPen(kInk);
      painter->drawText(QRect(0, y + 2, BarsWidth(*symbols, item.moduleWidth), 24),
                        Qt::AlignHCenter | Qt::AlignTop,
                        QString::fromLatin1(text.data(), static_cast<int>(text.size())));
    }
    y += 26;
  }
  return y;
}

int LayOutCut(int y, QPainter* painter) {
  y += kCutSpace;
  if (painter) {
    QPen pen(QColor(120, 120, 120), 2, Qt::CustomDashLine);
    pen.setDashPattern({6, 4});
    painter->setPen(pen);
    painter->drawLine(0, y, ReceiptPreview::kWidth, y);
    painter->setFont(DeviceFont(true, false));
    painter->fillRect(ReceiptPreview::kWidth - 44, y - 9, 44, 18, Qt::white);
    painter->setPen(QColor(120, 120, 120));
    painter->drawText(QRect(ReceiptPreview::kWidth - 44, y - 9, 44, 18), Qt::AlignCenter,
                      QStringLiteral("CUT"));
  }
  return y + kCutSpace;
}

int LayOutDrawer(int y, QPainter* painter) {
  if (painter) {
    QRect box(ReceiptPreview::kWidth - 150, y, 150, kDrawerHeight - 4);
    painter->fillRect(box, QColor(225, 235, 250));
    painter->setPen(QColor(40, 80, 160));
    painter->drawRect(box.adjusted(0, 0, -1, -1));
    painter->setFont(DeviceFont(true, true));
    painter->drawText(box, Qt::AlignCenter, QStringLiteral("DRAWER OPENS"));
  }
  return y + kDrawerHeight;
}

// Lays the receipt out top to bottom; paints when a painter is given. Returns the height.
int Layout(const std::vector<ReceiptItem>& items, QPainter* painter) {
  int y = kMargin;
  for (const auto& item : items) {
    switch (item.kind) {
      case ReceiptItem::Kind::Line:
        y = LayOutLine(item, y, painter);
        break;
      case ReceiptItem::Kind::Barcode:
        y = LayOutBarcode(item, y, painter);
        break;
      case ReceiptItem::Kind::Cut:
        y = LayOutCut(y, painter);
        break;
      case ReceiptItem::Kind::Drawer:
        y = LayOutDrawer(y, painter);
        break;
    }
  }
  return y + kMargin;
}
}  // namespace

QImage ReceiptPreview::Render(std::string_view bytes) {
  EnsureGuiApplication();
  std::vector<ReceiptItem> items = EscPosReader::Read(bytes);
  int height = std::min(Layout(items, nullptr), 30000);
  QImage image(kWidth, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  Layout(items, &painter);
  painter.end();
  return image;
}

bool ReceiptPreview::WritePng(std::string_view bytes, const std::string& path) {
  QImage image = Render(bytes);
  return image.save(QString::fromStdString(path), "PNG");
}

void ReceiptPreview::Install() {
  DirDestination::SetPreviewWriter(
      [](std::string_view bytes, const std::string& path) { return WritePng(bytes, path); });
}

}  // namespace kestrola
