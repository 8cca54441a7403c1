// Prints through a private CUPS scheduler (started by the "cups" fixture) to a raw queue
// whose device is a socket this test listens on.
#include <cups/cups.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "printing/Printers.h"
#include "printing/clsPrint.h"
#include "runtime/Text.h"

namespace kestrola {
namespace {

class CupsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ifstream env(std::string(KESTROLA_BINARY_DIR) + "/cups-test/cups.env");
    std::string line;
    while (std::getline(env, line)) {
      if (line.rfind("CUPS_SERVER=", 0) == 0) server_ = line.substr(12);
    }
    ASSERT_FALSE(server_.empty()) << "the cups fixture did not start a scheduler";
    cupsSetServer(server_.c_str());
    Printers::Reset();

    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener_, 4), 0);
    socklen_t len = sizeof addr;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    Lpadmin("-p " + kQueue + " -v socket://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) +
            " -E -o printer-is-shared=false");
  }
  void TearDown() override {
    if (listener_ >= 0) ::close(listener_);
    Printers::Reset();
  }
  void Lpadmin(const std::string& args) {
    std::string cmd = "lpadmin -h " + server_ + " " + args + " 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
  // What the printer port receives on one connection, waiting up to 20 s for it.
  std::string Receive() {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 20000) != 1) return "<no connection>";
    int c = ::accept(listener_, nullptr, nullptr);
    std::string got;
    char buf[4096];
    pollfd q{c, POLLIN, 0};
    while (::poll(&q, 1, 10000) == 1) {
      ssize_t n = ::read(c, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    ::close(c);
    return got;
  }

  const std::string kQueue = "kestrola_receipt";
  std::string server_;
  int listener_ = -1;
};

TEST_F(CupsTest, RawJobArrivesByteForByte) {
  clsPrint print;
  EXPECT_FALSE(print.setPrinter(u"Kestrola_Receipt"));
  ASSERT_TRUE(print.setPrinter(Text::FromUtf8(kQueue)));
  EXPECT_EQ(Printers::Current()->Destination().Uri(), u"cups:kestrola_receipt");
  std::u16string line = u"<XH>Caf\u00e9</XH><N><B>Total $5</B><CAJA>";
  print.PrintText(line);
  std::u16string cut = u"<CORTE>";
  print.PrintText(cut);
  const std::string sent = Printers::Current()->PendingDocument().bytes;
  print.EndDoc();
  EXPECT_EQ(Receive(), sent);
  static const char kExpected[] =
      "\x1b@\x1bt\x13\x1d!\x11"
      "Caf\x82\n\x1d!\x00\n\n\x1b\x45\x01Total $5\n"
      "\x1bp\x00\x19\xfa\x1dV\x42\x00";
  EXPECT_EQ(sent, std::string(kExpected, sizeof kExpected - 1));

  // The test receipt goes the same way.
  print.PrintTest();
  std::string receipt = Receive();
  EXPECT_EQ(receipt.size(), 794u);
}

TEST_F(CupsTest, RemovedQueueIsAnErrorOfEndDoc) {
  clsPrint print;
  ASSERT_TRUE(print.setPrinter(Text::FromUtf8(kQueue)));
  std::u16string line = u"hola";
  print.PrintText(line);
  Lpadmin("-x " + kQueue);
  try {
    print.EndDoc();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(e.Description().find(u"kestrola_receipt"), std::u16string::npos);
  }
  EXPECT_FALSE(print.setPrinter(Text::FromUtf8(kQueue)));
}

}  // namespace
}  // namespace kestrola

namespace kestrola {
namespace {

// A queue that rejects jobs or is stopped takes no document: the send fails before anything
// is submitted, and so does the probe, until the queue is opened again.
TEST_F(CupsTest, RejectingOrStoppedQueueFailsSendAndProbe) {
  struct Closed {
    const char* close;
    const char* open;
    const char* cause;
  };
  for (const Closed& c : {Closed{"cupsreject", "cupsaccept", "not accepting jobs"},
                          Closed{"cupsdisable", "cupsenable", "is stopped"}}) {
    SCOPED_TRACE(c.close);
    std::string cmd = std::string(c.close) + " -h " + server_ + " " + kQueue + " 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    clsPrint print;
    ASSERT_TRUE(print.setPrinter(Text::FromUtf8(kQueue)));
    PrintDestination& destination = Printers::Current()->Destination();
    std::u16string line = u"hola";
    print.PrintText(line);
    try {
      print.EndDoc();
      FAIL() << "a closed queue took the document";
    } catch (const Error& e) {
      EXPECT_NE(Text::ToUtf8(e.Description()).find(c.cause), std::string::npos)
          << Text::ToUtf8(e.Description());
    }
    EXPECT_THROW(destination.Probe(u"Caja"), Error);

    cmd = std::string(c.open) + " -h " + server_ + " " + kQueue + " 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    EXPECT_NO_THROW(destination.Probe(u"Caja"));
  }
}

}  // namespace
}  // namespace kestrola
