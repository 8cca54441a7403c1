#include <filesystem>

#include <gtest/gtest.h>
#include <QImage>

#include "PrintingTestSupport.h"
#include "printing/DirDestination.h"
#include "printing/ReceiptPreview.h"
#include "printing/clsPrint.h"
#include "tests/support/TempDir.h"

namespace kestrola {
namespace {

bool IsRed(QRgb c) {
  return qRed(c) > 150 && qGreen(c) < 90 && qBlue(c) < 90;
}
bool IsDark(QRgb c) {
  return qRed(c) < 80 && qGreen(c) < 80 && qBlue(c) < 80;
}

std::string TestReceiptBytes() {
  RecordingPrinters installed{{u"P"}};
  clsPrint print;
  print.setPrinter(u"P");
  print.PrintTest();
  return installed.destinations[0]->documents.at(0).bytes;
}

TEST(ReceiptPreview, TestReceiptShowsRedLinesAndBars) {
  QImage image = ReceiptPreview::Render(TestReceiptBytes());
  ASSERT_EQ(image.width(), 576);
  ASSERT_GT(image.height(), 900);
  ASSERT_LT(image.height(), 1400);
  // Rows holding red ink; the barcode is the tallest block of identical rows of many bars.
  int firstRed = -1, lastRed = -1, barRows = 0, firstBar = -1;
  std::string previous;
  int runStart = 0;
  for (int y = 0; y <= image.height(); ++y) {
    std::string mask;
    int red = 0, transitions = 0;
    bool prevDark = false;
    for (int x = 0; y < image.height() && x < image.width(); ++x) {
      QRgb c = image.pixel(x, y);
      if (IsRed(c)) ++red;
      bool dark = IsDark(c);
      if (dark && !prevDark) ++transitions;
      prevDark = dark;
      mask.push_back(dark ? '#' : ' ');
    }
    if (red > 20) {
      if (firstRed < 0) firstRed = y;
      lastRed = y;
    }
    if (mask != previous) {
      int bars = 0;
      for (size_t x = 1; x < previous.size(); ++x)
        bars += previous[x] == '#' && previous[x - 1] == ' ';
      if (bars >= 30 && y - runStart > barRows) {
        barRows = y - runStart;
        firstBar = runStart;
      }
      previous = mask;
      runStart = y;
    }
  }
  ASSERT_GE(firstRed, 0);
  // Three red amount lines come before the barcode; the barcode is 80 dots high.
  EXPECT_GT(lastRed - firstRed, 60);
  EXPECT_EQ(barRows, 80);
  EXPECT_GT(firstBar, lastRed);
  // The rest of the receipt is black on white: no red below the barcode.
  int redBelow = 0;
  for (int y = firstBar; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) redBelow += IsRed(image.pixel(x, y));
  EXPECT_EQ(redBelow, 0);
}

TEST(ReceiptPreview, AnyBytesGiveAPicture) {
  for (std::string bytes :
       {std::string(), std::string("\x1b"), std::string("\x1dkI\xff{A", 6), std::string(5000, '\n'),
        std::string("\x1d!\x77") + std::string(200, 'W')}) {
    QImage image = ReceiptPreview::Render(bytes);
    EXPECT_EQ(image.width(), 576);
    EXPECT_GT(image.height(), 0);
  }
}

TEST(ReceiptPreview, DirPrinterWritesPngBesideEachDocument) {
  namespace fs = std::filesystem;
  kestrola::testing::TempDir dir("preview");
  ReceiptPreview::Install();
  DirDestination dest(dir.string());
  PrintDocument doc{u"P", TestReceiptBytes(), {}};
  dest.Send(doc);
  DirDestination::SetPreviewWriter(nullptr);
  fs::path png = fs::path(dest.LastFile()).replace_extension(".png");
  ASSERT_TRUE(fs::exists(png));
  QImage image(QString::fromStdString(png.string()));
  EXPECT_EQ(image.width(), 576);
}

}  // namespace
}  // namespace kestrola
