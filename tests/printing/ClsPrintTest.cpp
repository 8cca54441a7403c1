#include <gtest/gtest.h>

#include "PrintingTestSupport.h"
#include "printing/clsPrint.h"

namespace kestrola {
namespace {

class ClsPrintTest : public ::testing::Test {
 protected:
  RecordingPrinters installed{{u"Caja 1", u"Cocina", u"Caja 10"}};
  clsPrint print;
  Printer& printer() { return *installed.printers[0]; }
  std::vector<PrintedText> Ops() { return printer().PendingDocument().operations; }
  void Line(std::u16string text) { print.PrintText(text); }
};

TEST_F(ClsPrintTest, SetPrinterMatchesWholeExactNames) {
  EXPECT_FALSE(print.setPrinter(u"caja 1"));
  EXPECT_EQ(Printers::Current(), nullptr);
  EXPECT_FALSE(print.setPrinter(u""));
  EXPECT_FALSE(print.setPrinter(u"Caja"));
  installed.printers[1]->SetFontName(kFaceA2x2);
  ASSERT_TRUE(print.setPrinter(u"Caja 1"));
  ASSERT_TRUE(print.setPrinter(u"Cocina"));
  EXPECT_EQ(Printers::Current(), installed.printers[1]);
  EXPECT_EQ(Printers::Current()->FontName(), u"FontA1x1");
  EXPECT_FALSE(print.setPrinter(u"COCINA"));
  EXPECT_EQ(Printers::Current(), installed.printers[1]);
}

TEST_F(ClsPrintTest, SelectionOutlivesTheObject) {
  {
    clsPrint other;
    ASSERT_TRUE(other.setPrinter(u"Cocina"));
  }
  print.PrintLine(u"x");
  EXPECT_EQ(installed.printers[1]->PendingDocument().operations.size(), 1u);
}

TEST_F(ClsPrintTest, GetPrinterReturnsTheLastContainingName) {
  EXPECT_EQ(print.GetPrinter(u"Caja 1"), installed.printers[2]);
  EXPECT_EQ(print.GetPrinter(u""), installed.printers[2]);
  EXPECT_EQ(print.GetPrinter(u"ocin"), installed.printers[1]);
  EXPECT_EQ(print.GetPrinter(u"caja"), nullptr);
  EXPECT_EQ(Printers::Current(), nullptr);
}

TEST_F(ClsPrintTest, NoCurrentPrinterIsAnError) {
  std::u16string t = u"hola";
  EXPECT_THROW(print.PrintText(t), Error);
  EXPECT_THROW(print.EndDoc(), Error);
  EXPECT_THROW(print.PrintTest(), Error);
}

TEST_F(ClsPrintTest, PrintLineFillsTheWidthAndLeavesTheArgument) {
  ASSERT_TRUE(print.setPrinter(u"Caja 1"));
  const std::u16string ch = u"=-";
  print.PrintLine(ch);  // width 0: once
  print.setWidth(5);
  print.PrintLine(ch);
  print.setWidth(-3);
  EXPECT_EQ(print.AnchoLinea(), -3);
  print.PrintLine(u"*");
  EXPECT_EQ(ch, u"=-");
  auto ops = Ops();
  ASSERT_EQ(ops.size(), 3u);
  EXPECT_EQ(ops[0].text, u"=-");
  EXPECT_EQ(ops[1].text, u"=-=-=");
  EXPECT_EQ(ops[2].text, u"*");
  EXPECT_EQ(print.ajustarTexto(u"abc", 10), u"");
}

TEST_F(ClsPrintTest, TagsSwitchFacesBoldAndUnderline) {
  ASSERT_TRUE(print.setPrinter(u"Caja 1"));
  Line(u"uno<B>dos</B>tres<s>cuatro<\\b>cinco</S><xh>seis</XH>siete<H>ocho</h>nueve<c>diez</C>");
  auto ops = Ops();
  ASSERT_EQ(ops.size(), 10u);
  auto expect = [&](size_t i, std::u16string text, std::u16string face, bool bold, bool ul) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ops[i].text, text);
    EXPECT_EQ(ops[i].font.face, face);
    EXPECT_EQ(ops[i].font.bold, bold);
    EXPECT_EQ(ops[i].font.underline, ul);
  };
  expect(0, u"uno", u"FontA1x1", false, false);
  expect(1, u"dos", u"FontA1x1", true, false);
  expect(2, u"tres", u"FontA1x1", false, false);
  expect(3, u"cuatro", u"FontA1x1", false, true);
  expect(4, u"cinco", u"FontA1x1", false, true);
  expect(5, u"seis", u"FontA2x2", false, false);
  expect(6, u"siete", u"FontA1x1", false, false);
  expect(7, u"ocho", u"FontA2x1", false, false);
  expect(8, u"nueve", u"FontA1x1", false, false);
  expect(9, u"diez", u"FontA1x1", true, false);
  EXPECT_FALSE(printer().FontBold());
}

TEST_F(ClsPrintTest, FaceResetsEachLineWhileBoldAndUnderlineCarryOver) {
  ASSERT_TRUE(print.setPrinter(u"Caja 1"));
  Line(u"<XH><B><S>grande");
  Line(u"siguiente");
  auto ops = Ops();
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[0].font.face, u"FontA2x2");
  EXPECT_EQ(ops[1].font.face, u"FontA1x1");
  EXPECT_TRUE(ops[1].font.bold);
  EXPECT_TRUE(ops[1].font.underline);
}

TEST_F(ClsPrintTest, LineBreakTagAndUnknownTags) {
  ASSERT_TRUE(print.setPrinter(u"Caja 1"));
  std::u16string t = u"a<N>b<n>c<Q>d<x y>e";
  print.PrintText(t);
  EXPECT_EQ(t, u"a\r\nb<n>c<Q>d<x y>e");
  Line(u"<N>");
  Line(u"");
  Line(u"<B><S>");
  auto ops = Ops();
  ASSERT_EQ(ops.size(), 5u);
  EXPECT_EQ(ops[0].text, u"a\r\nb");
  EXPECT_EQ(ops[1].text, u"c");
  EXPECT_EQ(ops[2].text, u"d");
  EXPECT_EQ(ops[3].text, u"e");
  EXPECT_EQ(ops[4].text, u"\r\n");
}

TEST_F(ClsPrintTest, DrawerAndCutUseTheControlFont) {
  ASSERT_TRUE(print.setPrinter(u"Caja 1"));
  Line(u"<CAJA><corte>");
  Line(u"<CORTE>despues</XH>normal");
  auto ops = Ops();
  ASSERT_EQ(ops.size(), 5u);
  EXPECT_EQ(ops[0].text, u"F");
  EXPECT_EQ(ops[1].text, u"P");
  EXPECT_EQ(ops[2].text, u"P");
  EXPECT_EQ(ops[3].text, u"despues");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ops[i].font.face, u"FontControl");
  EXPECT_EQ(ops[4].font.face, u"FontA1x1");
  // The control font sends only the commands.
  const std::string bytes = printer().PendingDocument().bytes;
  EXPECT_NE(bytes.find(std::string("\x1bp\x00\x19\xfa\x1dV\x42\x00\x1dV\x42\x00", 13)),
            std::string::npos);
}

TEST_F(ClsPrintTest, UnclosedTagFailsAfterEarlierRuns) {
  ASSERT_TRUE(print.setPrinter(u"Caja 1"));
  std::u16string t = u"antes<B>negrita<sin cierre";
  try {
    print.PrintText(t);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), 5);
  }
  auto ops = Ops();
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[1].text, u"negrita");
  EXPECT_TRUE(clsPrint::CheckText(u"x<y").has_value());
  EXPECT_FALSE(clsPrint::CheckText(u"x<y>z<N>").has_value());
  EXPECT_FALSE(clsPrint::CheckText(u"<a<b>").has_value());
}

TEST_F(ClsPrintTest, OverflowAtTheSixteenBitLimit) {
  ASSERT_TRUE(print.setPrinter(u"Caja 1"));
  // 32,768 characters: nothing printed.
  std::u16string tooLong(32768, u'a');
  auto check = clsPrint::CheckText(tooLong);
  ASSERT_TRUE(check.has_value());
  EXPECT_EQ(check->Number(), 6);
  EXPECT_THROW(print.PrintText(tooLong), Error);
  EXPECT_TRUE(Ops().empty());
  // "<N>" counts after replacement: 10,923 of them make 32,769 - 10,923*... characters.
  std::u16string breaks;
  for (int i = 0; i < 16384; ++i) breaks += u"<N>";
  EXPECT_EQ(clsPrint::CheckText(breaks)->Number(), 6);
  // Exactly 32,767: the runs before the last one print, then the overflow.
  std::u16string edge = u"uno<B>" + std::u16string(32767 - 6, u'z');
  ASSERT_EQ(edge.size(), 32767u);
  EXPECT_EQ(clsPrint::CheckText(edge)->Number(), 6);
  try {
    print.PrintText(edge);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), 6);
  }
  auto ops = Ops();
  ASSERT_EQ(ops.size(), 1u);
  EXPECT_EQ(ops[0].text, u"uno");
  EXPECT_FALSE(clsPrint::CheckText(std::u16string(32766, u'a')).has_value());
}

TEST_F(ClsPrintTest, TestReceiptOperationsInOrder) {
  ASSERT_TRUE(print.setPrinter(u"Caja 1"));
  printer().SetFontBold(true);
  printer().SetForeColor(0x0000FF);
  print.PrintTest();
  ASSERT_EQ(installed.destinations[0]->documents.size(), 1u);
  const auto& ops = installed.destinations[0]->documents[0].operations;
  ASSERT_EQ(ops.size(), 30u);
  EXPECT_EQ(ops[0].text, u"x");
  EXPECT_EQ(ops[0].font.face, u"FontControl");
  EXPECT_TRUE(ops[0].font.bold);  // taken over from the printer
  EXPECT_EQ(ops[0].font.color, 0x0000FFu);
  EXPECT_EQ(ops[1].text, u"");
  EXPECT_EQ(ops[1].font.face, u"FontA2x2");
  EXPECT_EQ(ops[1].font.size, 19);
  EXPECT_EQ(ops[2].text, u"ORVEN TEST\r\n");
  EXPECT_EQ(ops[3].text, u"Prueba de Impresion\r\n");
  EXPECT_FALSE(ops[3].font.bold);
  EXPECT_EQ(ops[4].font.face, u"FontB2x1");
  EXPECT_EQ(ops[4].font.size, 7);
  for (int i : {6, 7, 8, 9, 10, 11, 12, 13, 14, 18}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ops[i].text.size(), 42u);
    EXPECT_EQ(ops[i].font.face, u"FontA1x1");
  }
  for (int i : {15, 16, 17}) {
    SCOPED_TRACE(i);
    std::u16string text = ops[i].text;
    if (text.ends_with(u"\r\n")) text.resize(text.size() - 2);
    EXPECT_EQ(text.size(), 28u);
    EXPECT_EQ(ops[i].font.color, 0xFF0000u);
    EXPECT_TRUE(ops[i].font.bold);
  }
  EXPECT_EQ(ops[18].font.color, 0u);
  EXPECT_EQ(ops[21].font.face, u"Code128");
  EXPECT_EQ(ops[21].font.size, 20);
  EXPECT_EQ(ops[21].text, u"{A{S12235884584645");
  EXPECT_EQ(ops[23].text, u"No : 00018857302\r\n\r\n");
  EXPECT_EQ(ops[24].text, u"FREE Receip Sample ");
  EXPECT_EQ(ops[27].text, u"P");
  EXPECT_EQ(ops[28].text, u"G");
  EXPECT_EQ(ops[29].text, u"P");
  EXPECT_EQ(printer().FontName(), u"FontControl");
  EXPECT_EQ(printer().FontSize(), 9.5);
  EXPECT_FALSE(printer().FontBold());
  EXPECT_EQ(printer().ForeColor(), 0u);
  EXPECT_TRUE(printer().PendingDocument().operations.empty());
}

TEST_F(ClsPrintTest, FailedEndDocRaisesAndDiscardsTheDocument) {
  ASSERT_TRUE(print.setPrinter(u"Caja 1"));
  installed.destinations[0]->failSends = true;
  Line(u"uno");
  try {
    print.EndDoc();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(e.Description().find(u"Caja 1"), std::u16string::npos);
  }
  installed.destinations[0]->failSends = false;
  Line(u"dos");
  print.EndDoc();
  ASSERT_EQ(installed.destinations[0]->documents.size(), 1u);
  ASSERT_EQ(installed.destinations[0]->documents[0].operations.size(), 1u);
  EXPECT_EQ(installed.destinations[0]->documents[0].operations[0].text, u"dos");
  // Nothing printed: nothing sent.
  print.EndDoc();
  EXPECT_EQ(installed.destinations[0]->documents.size(), 1u);
}

}  // namespace
}  // namespace kestrola
