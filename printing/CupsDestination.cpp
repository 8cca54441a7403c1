#include "printing/CupsDestination.h"

#include <cups/cups.h>

#include <chrono>

#include "printing/StreamDestination.h"
#include "runtime/Text.h"

namespace kestrola {

namespace {

// Ends a wait on the scheduler once the deadline has passed.
int WithinDeadline(http_t*, void* data) {
  auto deadline = static_cast<const std::chrono::steady_clock::time_point*>(data);
  return std::chrono::steady_clock::now() < *deadline ? 1 : 0;
}

// One connection to the scheduler, closed on every path. Every read and write on it gives up
// at the deadline.
struct Connection {
  http_t* http = nullptr;
  std::chrono::steady_clock::time_point deadline;
  explicit Connection(int timeoutMs)
      : deadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)) {
    http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, timeoutMs,
                        nullptr);
    if (http) httpSetTimeout(http, 0.25, WithinDeadline, &deadline);
  }
  ~Connection() {
    if (http) httpClose(http);
  }
};

}  // namespace

std::optional<std::vector<std::string>> CupsDestination::Enumerate(int timeoutMs) {
  std::vector<std::string> names;
  Connection conn(timeoutMs);
  if (!conn.http) return names;
  cups_dest_t* dests = nullptr;
  int n = cupsGetDests2(conn.http, &dests);
  if (n == 0 && cupsLastError() > IPP_STATUS_OK_CONFLICTING &&
      cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND) {
    return std::nullopt;
  }
  for (int i = 0; i < n; ++i) {
    std::string name = dests[i].name ? dests[i].name : "";
    if (dests[i].instance) name += std::string("/") + dests[i].instance;
    if (!name.empty()) names.push_back(name);
  }
  cupsFreeDests(n, dests);
  return names;
}

void CupsDestination::CheckQueue(void* handle, const std::u16string& printerName) const {
  http_t* http = static_cast<http_t*>(handle);
  const std::string queue = queue_.substr(0, queue_.find('/'));
  char uri[1024];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                   "/printers/%s", queue.c_str());
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  static const char* const kWanted[] = {"printer-state", "printer-is-accepting-jobs",
                                        "printer-state-message"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                kWanted);
  ipp_t* response = cupsDoRequest(http, request, "/");
  if (!response || cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
    std::string cause = "CUPS queue " + queue + " cannot be read: " + cupsLastErrorString();
    ippDelete(response);
    ThrowPrinterFailure(printerName, cause);
  }
  std::string problem;
  ipp_attribute_t* accepting =
      ippFindAttribute(response, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN);
  ipp_attribute_t* state = ippFindAttribute(response, "printer-state", IPP_TAG_ENUM);
  if (accepting && !ippGetBoolean(accepting, 0)) {
    problem = "CUPS queue " + queue + " is not accepting jobs";
  } else if (state && ippGetInteger(state, 0) == IPP_PSTATE_STOPPED) {
    problem = "CUPS queue " + queue + " is stopped";
  }
  if (!problem.empty()) {
    ipp_attribute_t* message = ippFindAttribute(response, "printer-state-message", IPP_TAG_TEXT);
    const char* text = message ? ippGetString(message, 0, nullptr) : nullptr;
    if (text && *text) problem += std::string(" (") + text + ")";
    ippDelete(response);
    ThrowPrinterFailure(printerName, problem);
  }
  ippDelete(response);
}

void CupsDestination::Send(const PrintDocument& document) {
  Connection conn(kTimeoutMs);
  if (!conn.http) {
    ThrowPrinterFailure(document.printerName, std::string("cannot reach the CUPS server ") +
                                                  cupsServer() + ": " + cupsLastErrorString());
  }
  CheckQueue(conn.http, document.printerName);
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

void CupsDestination::Probe(const std::u16string& printerName) {
  Connection conn(kTimeoutMs);
  if (!conn.http) {
    ThrowPrinterFailure(printerName, std::string("cannot reach the CUPS server ") + cupsServer() +
                                         ": " + cupsLastErrorString());
  }
  CheckQueue(conn.http, printerName);
}

std::u16string CupsDestination::Uri() const {
  return Text::FromUtf8("cups:" + queue_);
}

}  // namespace kestrola
