#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <gtest/gtest.h>

#include "PrintingTestSupport.h"
#include "printing/Code128.h"
#include "printing/DirDestination.h"
#include "printing/EscPosEncoder.h"
#include "printing/EscPosReader.h"
#include "printing/clsPrint.h"
#include "runtime/Application.h"
#include "runtime/Text.h"
#include "tests/support/TempDir.h"

namespace kestrola {
namespace {

namespace fs = std::filesystem;

using testing::ReadFile;

TEST(EscPosEncoder, EmitsCommandsOnlyOnChange) {
  EscPosEncoder enc;
  PrinterFont f;
  enc.Print(f, u"a");
  enc.Print(f, u"b");
  f.bold = true;
  f.face = kFaceB2x1;
  f.color = 0xFF0000;
  enc.Print(f, u"c\r\nd");
  f.face = kFaceA1x1;
  f.bold = false;
  f.color = 0;
  f.underline = true;
  enc.Print(f, u"\x1b\u20ac\u00f1\u4e2d");
  EXPECT_EQ(enc.Bytes(), std::string("\x1b@\x1bt\x13"
                                     "a\nb\n"
                                     "\x1bM\x01\x1d!\x10\x1b\x45\x01\x1br\x01"
                                     "c\nd\n"
                                     "\x1bM\x00\x1d!\x00\x1b\x45\x00\x1b-\x01\x1br\x00"
                                     "?\xd5\xa4?\n",
                                     45));
}

TEST(EscPosEncoder, BarcodeDataIsCheckedAndMarked) {
  EscPosEncoder enc;
  PrinterFont f;
  f.face = kFaceCode128;
  enc.Print(f, u"123");
  EXPECT_EQ(enc.Bytes().substr(5), std::string("\x1dh\x50\x1dw\x02\x1dH\x02\x1dkI\x05{B123\n", 19));
  EXPECT_THROW(enc.Print(f, u"12\u00e9"), Error);
  EXPECT_THROW(enc.Print(f, std::u16string(300, u'1')), Error);
}

TEST(Code128, EncodesCodeSetsShiftAndChecksum) {
  // "{BAB": start B (104), A=33, B=34, check (104+33+68)%103=102, stop.
  EXPECT_EQ(*Code128::Encode("{BAB"), (std::vector<int>{104, 33, 34, 102, 106}));
  auto c = Code128::Encode("{C1234{Bx");
  ASSERT_TRUE(c);
  EXPECT_EQ((*c)[1], 12);
  EXPECT_EQ((*c)[3], 100);
  EXPECT_FALSE(Code128::Encode("{C123"));
  EXPECT_FALSE(Code128::Encode("abc"));
  EXPECT_FALSE(Code128::Encode("{A{S"));
  auto a = Code128::Encode("{A{S12");
  ASSERT_TRUE(a);
  EXPECT_EQ((*a)[1], 98);
  EXPECT_EQ(Code128::ReadableText("{A{S12{{"), "12{");
}

TEST(EscPosReader, ReadsBackWhatTheEncoderWrites) {
  RecordingPrinters installed{{u"P"}};
  clsPrint print;
  ASSERT_TRUE(print.setPrinter(u"P"));
  std::u16string line = u"uno<CAJA>ignored</H><B><XH>dos<N>tres<CORTE>";
  print.PrintText(line);
  auto items = EscPosReader::Read(installed.printers[0]->PendingDocument().bytes);
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[0].spans.at(0).text, u"uno");
  EXPECT_FALSE(items[0].spans[0].bold);
  EXPECT_EQ(items[1].kind, ReceiptItem::Kind::Drawer);
  EXPECT_EQ(items[2].spans.at(0).text, u"dos");
  EXPECT_TRUE(items[2].spans[0].bold);
  EXPECT_EQ(items[2].spans[0].widthMul, 2);
  EXPECT_EQ(items[3].spans.at(0).text, u"tres");
  EXPECT_EQ(items[4].kind, ReceiptItem::Kind::Cut);
  // Truncated commands at the end are accepted.
  for (const char* tail : {"\x1b", "\x1d", "\x1dk", "\x1dkI", "\x1dkI\x09{B",
                           "\x1dk\x04"
                           "12"}) {
    EXPECT_NO_THROW(EscPosReader::Read(std::string("\x1b@ab") + tail));
  }
}

TEST(GoldenReceipts, MatchTheStoredBytes) {
  const fs::path golden = fs::path(KESTROLA_SOURCE_DIR) / "tests" / "printing" / "golden";
  RecordingPrinters installed{{u"P"}};
  clsPrint print;
  ASSERT_TRUE(print.setPrinter(u"P"));
  print.PrintTest();
  for (const char* job : {"markup-receipt", "drawer-and-cut"}) {
    std::ifstream in(golden / (std::string(job) + ".txt"), std::ios::binary);
    ASSERT_TRUE(in) << job;
    std::string raw;
    while (std::getline(in, raw)) {
      std::u16string t = Text::FromUtf8(raw);
      print.PrintText(t);
    }
    print.EndDoc();
  }
  auto& docs = installed.destinations[0]->documents;
  ASSERT_EQ(docs.size(), 3u);
  EXPECT_EQ(docs[0].bytes, ReadFile(golden / "test-receipt.bin"));
  EXPECT_EQ(docs[1].bytes, ReadFile(golden / "markup-receipt.bin"));
  EXPECT_EQ(docs[2].bytes, ReadFile(golden / "drawer-and-cut.bin"));
}

class DestinationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldPath_ = Application::Path();
    Application::SetPath(Text::FromUtf8(dir_.string()));
    Printers::Reset();
  }
  void TearDown() override {
    Application::SetPath(oldPath_);
    Printers::Reset();
  }
  void WriteIni(const std::string& text) { std::ofstream(dir_ / "printers.ini") << text; }
  testing::TempDir dir_{"printing"};
  std::u16string oldPath_;
};

TEST_F(DestinationTest, PrintersIniListsPrintersInFileOrder) {
  fs::create_directories(dir_ / "recibos");
  WriteIni(
      "; receipt printers\n[Otros]\nX=file:nada.bin\n[printers]\n Caja 1 = \"file:caja.bin\"\n"
      "Cocina=dir:recibos\nRaro=gopher://x\n[Caja 1]\nx=1b 70 01 19 fa\n");
  clsPrint print;
  auto installed = Printers::Installed();
  ASSERT_GE(installed.size(), 3u);
  EXPECT_EQ(installed[0]->DeviceName(), u"Caja 1");
  EXPECT_EQ(installed[1]->DeviceName(), u"Cocina");
  EXPECT_EQ(installed[2]->DeviceName(), u"Raro");
  EXPECT_EQ(Printers::Installed()[0], installed[0]);

  ASSERT_TRUE(print.setPrinter(u"Caja 1"));
  std::u16string t = u"hola";
  print.PrintText(t);
  Printers::Current()->SetFontName(kFaceControl);
  Printers::Current()->Print(u"x");
  print.EndDoc();
  print.PrintText(t);
  print.EndDoc();
  std::string one = "\x1b@\x1bt\x13hola\n\x1bp\x01\x19\xfa";
  EXPECT_EQ(ReadFile(dir_ / "caja.bin"), one + std::string("\x1b@\x1bt\x13hola\n"));

  ASSERT_TRUE(print.setPrinter(u"Cocina"));
  print.PrintText(t);
  print.EndDoc();
  print.PrintText(t);
  print.EndDoc();
  int bins = 0;
  for (auto& e : fs::directory_iterator(dir_ / "recibos")) {
    if (e.path().extension() == ".bin") {
      ++bins;
      EXPECT_EQ(ReadFile(e.path()), "\x1b@\x1bt\x13hola\n");
    }
  }
  EXPECT_EQ(bins, 2);

  ASSERT_TRUE(print.setPrinter(u"Raro"));
  print.PrintText(t);
  try {
    print.EndDoc();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(e.Description().find(u"Raro"), std::u16string::npos);
    EXPECT_NE(e.Description().find(u"gopher"), std::u16string::npos);
  }
}

TEST_F(DestinationTest, FailingDestinationsRaiseAndPrintNothing) {
  // A port nobody listens on: bind one, then close it.
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  int port = ntohs(addr.sin_port);
  ::close(s);
  WriteIni("[Printers]\nRed=tcp://127.0.0.1:" + std::to_string(port) +
           "\nCarpeta=dir:no/such/folder\nDisp=dev:no-such-device\n");
  clsPrint print;
  for (const char16_t* name : {u"Red", u"Carpeta", u"Disp"}) {
    SCOPED_TRACE(Text::ToUtf8(name));
    ASSERT_TRUE(print.setPrinter(name));
    std::u16string t = u"hola";
    print.PrintText(t);
    try {
      print.EndDoc();
      FAIL() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.Number(), kErrPrinter);
      EXPECT_NE(e.Description().find(name), std::u16string::npos);
    }
    EXPECT_TRUE(Printers::Current()->PendingDocument().operations.empty());
  }
  EXPECT_FALSE(fs::exists(dir_ / "no"));
  EXPECT_FALSE(fs::exists(dir_ / "no-such-device"));
}

// The printer reads the whole document and closes the connection, as a raw port printer does;
// EndDoc returns once it has closed, without waiting for the send time-out.
TEST_F(DestinationTest, TcpPrinterReceivesTheDocument) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(s, 1), 0);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  std::string got;
  std::thread printer([&] {
    int c = ::accept(s, nullptr, nullptr);
    if (c < 0) return;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(c, buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
    ::close(c);
  });
  // Whatever happens below, the printer thread ends: closing the listening socket wakes accept.
  struct Joiner {
    std::thread& thread;
    int socket;
    ~Joiner() {
      ::shutdown(socket, SHUT_RDWR);
      if (thread.joinable()) thread.join();
      ::close(socket);
    }
  } joiner{printer, s};
  WriteIni("[Printers]\nRed=tcp://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "\n");
  clsPrint print;
  ASSERT_TRUE(print.setPrinter(u"Red"));
  std::u16string t = u"<B>hola<CORTE>";
  print.PrintText(t);
  print.EndDoc();
  printer.join();
  EXPECT_EQ(got, std::string("\x1b@\x1bt\x13\x1b\x45\x01hola\n\x1dV\x42\x00", 17));
}

}  // namespace
}  // namespace kestrola
