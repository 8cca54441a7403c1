#include "printing/clsPrint.h"

#include <initializer_list>

#include "printing/Printers.h"
#include "runtime/Text.h"

namespace kestrola {

namespace {
constexpr const char16_t* kSource = u"clsPrint";
// Positions in a line are 16-bit: a line must be shorter than this.
constexpr size_t kMaxLine = 32767;

std::u16string ReplaceLineBreaks(std::u16string_view texto) {
  std::u16string out;
  out.reserve(texto.size());
  for (size_t i = 0; i < texto.size(); ++i) {
    if (texto.compare(i, 3, u"<N>") == 0) {
      out += u"\r\n";
      i += 2;
    } else {
      out.push_back(texto[i]);
    }
  }
  return out;
}

// Walks a replaced line as PrintText does. With a printer the runs and tags act on it;
// without one nothing happens and only the failure, if any, is reported.
std::optional<Error> Scan(const std::u16string& text, Printer* printer) {
  const size_t length = text.size();
  if (length > kMaxLine) return Error::Standard(kErrOverflow, kSource);
  size_t i = 0;
  while (i < length) {
    size_t end;  // one past the last character of this run or tag
    bool isTag = text[i] == u'<';
    if (isTag) {
      size_t close = text.find(u'>', i);
      if (close == std::u16string::npos) return Error::Standard(kErrInvalidCall, kSource);
      end = close + 1;
    } else {
      end = text.find(u'<', i);
      if (end == std::u16string::npos) end = length;
    }
    // The position after a run or tag that ends at the 32,767th character cannot be held.
    if (length == kMaxLine && end == length) return Error::Standard(kErrOverflow, kSource);
    if (printer) {
      if (isTag) {
        std::u16string tag = Text::ToUpper(std::u16string_view(text).substr(i, end - i));
        if (tag == u"<B>" || tag == u"<C>") {
          printer->SetFontBold(true);
        } else if (tag == u"<\\B>" || tag == u"</B>" || tag == u"</C>") {
          printer->SetFontBold(false);
        } else if (tag == u"<S>") {
          printer->SetFontUnderline(true);
        } else if (tag == u"</S>") {
          printer->SetFontUnderline(false);
        } else if (tag == u"<XH>") {
          printer->SetFontName(kFaceA2x2);
        } else if (tag == u"</XH>" || tag == u"</H>") {
          printer->SetFontName(kFaceA1x1);
        } else if (tag == u"<H>") {
          printer->SetFontName(kFaceA2x1);
        } else if (tag == u"<CAJA>") {
          printer->SetFontName(kFaceControl);
          printer->Print(u"F");
        } else if (tag == u"<CORTE>") {
          printer->SetFontName(kFaceControl);
          printer->Print(u"P");
        }
      } else {
        printer->Print(text.substr(i, end - i));
      }
    }
    i = end;
  }
  return std::nullopt;
}
}  // namespace

bool clsPrint::setPrinter(const std::u16string& sPrinter) {
  bool found = false;
  for (const auto& printer : Printers::Installed()) {
    if (printer->DeviceName() == sPrinter) {
      Printers::SetCurrent(printer);
      printer->SetFontName(kFaceA1x1);
      found = true;
    }
  }
  return found;
}

std::shared_ptr<Printer> clsPrint::GetPrinter(const std::u16string& sPrinter) {
  std::shared_ptr<Printer> found;
  for (const auto& printer : Printers::Installed()) {
    if (printer->DeviceName().find(sPrinter) != std::u16string::npos) found = printer;
  }
  return found;
}

void clsPrint::PrintLine(const std::u16string& ch) {
  std::u16string line = ch;
  if (AnchoLinea_ > 0 && !ch.empty()) {
    const size_t width = static_cast<size_t>(AnchoLinea_);
    line.clear();
    while (line.size() < width) line += ch;
    line.resize(width);
  }
  Printers::CurrentOrThrow().Print(line);
}

void clsPrint::EndDoc() {
  Printers::CurrentOrThrow().EndDoc();
}

std::u16string clsPrint::ajustarTexto(const std::u16string&, double) {
  return u"";
}

void clsPrint::PrintText(std::u16string& texto) {
  texto = ReplaceLineBreaks(texto);
  Printer& printer = Printers::CurrentOrThrow();
  printer.SetFontName(kFaceA1x1);
  if (auto error = Scan(texto, &printer)) throw *error;
}

std::optional<Error> clsPrint::CheckText(std::u16string_view texto) {
  return Scan(ReplaceLineBreaks(texto), nullptr);
}

// The test receipt, part by part. The numbers are its steps, in the order the printer receives
// them.
namespace {
void SetSizeAndFace(Printer& p, double size, const char16_t* face) {
  p.SetFontSize(size);
  p.SetFontName(face);
}

void PrintLines(Printer& p, std::initializer_list<const char16_t*> lines) {
  for (const char16_t* line : lines) p.Print(line);
}

void PrintTestHeading(Printer& p) {
  SetSizeAndFace(p, 9.5, kFaceControl);  // 1
  p.Print(u"x");
  SetSizeAndFace(p, 19, kFaceA2x2);  // 2
  p.Print(u"");
  p.SetFontBold(true);  // 3
  p.Print(u"ORVEN TEST\r\n");
  p.SetFontBold(false);  // 4
  SetSizeAndFace(p, 9.5, kFaceA1x1);
  p.Print(u"Prueba de Impresion\r\n");
  SetSizeAndFace(p, 7, kFaceB2x1);  // 5
  p.SetFontBold(true);
  p.Print(u"1-800-915-3355");
  p.SetFontBold(false);  // 6
  SetSizeAndFace(p, 9.5, kFaceControl);
  p.Print(u"w");
}

void PrintTestItems(Printer& p) {
  SetSizeAndFace(p, 9.5, kFaceA1x1);  // 7 to 15
  PrintLines(p, {
                    u"------------------------------------------",
                    u"BIXOLON SRP-350 Printer               $999",
                    u"SRP-770 Label Printer                 $749",
                    u"SRP-370 Thermal Receipt Printer     $1,299",
                    u"SRP-270 Impact Receipt Printer      $1,299",
                    u"RIF-BT10                              $949",
                    u"SMP600                                $349",
                    u"SRP-500 Inkjet Receipt Printer        $249",
                    u"------------------------------------------",
                });
}

void PrintTestTotals(Printer& p) {
  constexpr uint32_t kRed = 0xFF0000, kBlack = 0x000000;
  p.SetFontBold(true);  // 16
  p.SetForeColor(kRed);
  SetSizeAndFace(p, 7, kFaceB2x1);
  p.Print(u"Total purchase :      $5,893\r\n");
  p.Print(u"Visa :                $5,893\r\n");  // 17
  p.SetFontBold(true);                           // 18
  p.Print(u"Change :                  $0");
  p.SetForeColor(kBlack);  // 19
  p.SetFontBold(false);
  SetSizeAndFace(p, 9.5, kFaceA1x1);
  p.Print(u"------------------------------------------");
}

void PrintTestBarcodeAndFooter(Printer& p) {
  SetSizeAndFace(p, 9.5, kFaceControl);  // 20
  p.Print(u"x");
  SetSizeAndFace(p, 9.5, kFaceControl);  // 21
  p.Print(u"r");
  SetSizeAndFace(p, 20, kFaceCode128);  // 22
  p.Print(u"{A{S12235884584645");
  SetSizeAndFace(p, 9.5, kFaceA1x1);  // 23 to 27
  PrintLines(
      p, {u"Date : 11/08/2014     Time : 09:32", u"No : 00018857302\r\n\r\n",
          u"FREE Receip Sample ", u"With Purchase of ANY Dimension Desktop", u"Ends Today !\r\n"});
  SetSizeAndFace(p, 9.5, kFaceControl);  // 28 to 30
  PrintLines(p, {u"P", u"G", u"P"});
}
}  // namespace

void clsPrint::PrintTest() {
  Printer& p = Printers::CurrentOrThrow();
  PrintTestHeading(p);
  PrintTestItems(p);
  PrintTestTotals(p);
  PrintTestBarcodeAndFooter(p);
  p.EndDoc();
}

}  // namespace kestrola
