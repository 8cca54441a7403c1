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

// Lays the receipt out top to bottom; paints when a painter is given. Returns the height.
int Layout(const std::vector<ReceiptItem>& items, QPainter* painter) {
  int y = kMargin;
  for (const auto& item : items) {
    switch (item.kind) {
      case ReceiptItem::Kind::Line: {
        // Characters past the paper width continue on a new row, as the printer does.
        struct Glyph {
          const ReceiptSpan* span;
          char16_t c;
          int x;
        };
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
        for (const auto& row : rows) {
          int rowHeight = CellHeight(item.fontB) * item.heightMul;
          if (!row.empty()) {
            rowHeight = 0;
            for (const auto& g : row)
              rowHeight = std::max(rowHeight, CellHeight(g.span->fontB) * g.span->heightMul);
          }
          if (painter) {
            for (const auto& g : row) {
              const ReceiptSpan& s = *g.span;
              int cw = CellWidth(s.fontB) * s.widthMul, ch = CellHeight(s.fontB) * s.heightMul;
              int top = y + rowHeight - ch;  // characters of one row share their baseline
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
          }
          y += rowHeight + kLineGap;
        }
        break;
      }
      case ReceiptItem::Kind::Barcode: {
        auto symbols = item.barcodeType == 73 ? Code128::Encode(item.barcodeData) : std::nullopt;
        const int h = item.barcodeHeight;
        if (painter) {
          if (symbols) {
            int x = 0;
            for (int sym : *symbols) {
              bool bar = true;
              for (char w : Code128::Pattern(sym)) {
                int width = (w - '0') * item.moduleWidth;
                if (bar) painter->fillRect(x, y, width, h, Qt::black);
                x += width;
                bar = !bar;
              }
            }
          } else {
            painter->setPen(QPen(Qt::gray, 1, Qt::DashLine));
            painter->drawRect(0, y, ReceiptPreview::kWidth - 1, h);
            painter->setFont(DeviceFont(true, false));
            painter->drawText(QRect(0, y, ReceiptPreview::kWidth, h), Qt::AlignCenter,
                              QStringLiteral("unreadable barcode"));
          }
        }
        y += h;
        if (item.hriPosition >= 2 && symbols) {
          if (painter) {
            std::string text = Code128::ReadableText(item.barcodeData);
            painter->setFont(DeviceFont(false, false));
            painter->setPen(kInk);
            int barsWidth = 0;
            for (int sym : *symbols)
              for (char w : Code128::Pattern(sym)) barsWidth += (w - '0') * item.moduleWidth;
            painter->drawText(QRect(0, y + 2, barsWidth, 24), Qt::AlignHCenter | Qt::AlignTop,
                              QString::fromLatin1(text.data(), static_cast<int>(text.size())));
          }
          y += 26;
        }
        break;
      }
      case ReceiptItem::Kind::Cut:
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
        y += kCutSpace;
        break;
      case ReceiptItem::Kind::Drawer:
        if (painter) {
          QRect box(ReceiptPreview::kWidth - 150, y, 150, kDrawerHeight - 4);
          painter->fillRect(box, QColor(225, 235, 250));
          painter->setPen(QColor(40, 80, 160));
          painter->drawRect(box.adjusted(0, 0, -1, -1));
          painter->setFont(DeviceFont(true, true));
          painter->drawText(box, Qt::AlignCenter, QStringLiteral("DRAWER OPENS"));
        }
        y += kDrawerHeight;
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
