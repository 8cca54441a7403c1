#include "printing/CupsDestination.h"

#include <cups/cups.h>

#include "printing/StreamDestination.h"
#include "runtime/Text.h"

namespace kestrola {

namespace {
// One connection to the scheduler, closed on every path.
struct Connection {
  http_t* http = nullptr;
  explicit Connection(int timeoutMs) {
    http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, timeoutMs,
                        nullptr);
  }
  ~Connection() {
    if (http) httpClose(http);
  }
};
}  // namespace

std::vector<std::string> CupsDestination::Enumerate(int connectTimeoutMs) {
  std::vector<std::string> names;
  Connection conn(connectTimeoutMs);
  if (!conn.http) return names;
  cups_dest_t* dests = nullptr;
  int n = cupsGetDests2(conn.http, &dests);
  for (int i = 0; i < n; ++i) {
    std::string name = dests[i].name ? dests[i].name : "";
    if (dests[i].instance) name += std::string("/") + dests[i].instance;
    if (!name.empty()) names.push_back(name);
  }
  cupsFreeDests(n, dests);
  return names;
}

void CupsDestination::Send(const PrintDocument& document) {
  Connection conn(5000);
  if (!conn.http) {
    ThrowPrinterFailure(document.printerName, std::string("cannot reach the CUPS server ") +
                                                  cupsServer() + ": " + cupsLastErrorString());
  }
  // "queue/instance" prints on the queue.
  std::string queue = queue_.substr(0, queue_.find('/'));
  int job = cupsCreateJob(conn.http, queue.c_str(), "Kestrola receipt", 0, nullptr);
  if (job == 0) {
    ThrowPrinterFailure(document.printerName,
                        "CUPS refused the job on " + queue + ": " + cupsLastErrorString());
  }
  auto fail = [&](const std::string& what) {
    std::string cause = what + ": " + cupsLastErrorString();
    cupsCancelJob2(conn.http, queue.c_str(), job, 0);
    ThrowPrinterFailure(document.printerName, cause);
  };
  if (cupsStartDocument(conn.http, queue.c_str(), job, "receipt", CUPS_FORMAT_RAW, 1) !=
      HTTP_STATUS_CONTINUE) {
    fail("cannot start the document of job " + std::to_string(job));
  }
  if (!document.bytes.empty() &&
      cupsWriteRequestData(conn.http, document.bytes.data(), document.bytes.size()) !=
          HTTP_STATUS_CONTINUE) {
    fail("cannot send job " + std::to_string(job));
  }
  if (cupsFinishDocument(conn.http, queue.c_str()) > IPP_STATUS_OK_CONFLICTING) {
    fail("job " + std::to_string(job) + " not accepted");
  }
}

std::u16string CupsDestination::Uri() const {
  return Text::FromUtf8("cups:" + queue_);
}

}  // namespace kestrola
