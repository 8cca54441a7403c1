// receipt-preview: turns a file of job lines (one receipt markup line per line) into the
// ESC/POS bytes a receipt printer receives and a PNG picture of the receipt, without a
// printer. With --test it does the same for the test receipt. A job file that cannot be read
// (a folder, no permission) or an output name that names a folder gives exit status 2.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "printing/Printers.h"
#include "printing/ReceiptPreview.h"
#include "printing/RecordingDestination.h"
#include "printing/clsPrint.h"
#include "runtime/Error.h"
#include "runtime/Text.h"
#include "tools/support/ToolInput.h"

using namespace kestrola;

namespace {
int Usage() {
  std::fprintf(stderr,
               "usage: receipt-preview (--test | JOBFILE) [-o OUTPUT]\n"
               "  writes OUTPUT.bin (ESC/POS bytes) and OUTPUT.png (preview);\n"
               "  OUTPUT defaults to the job file name without extension, or \"test-receipt\"\n");
  return 2;
}

// The file name part of a path: what follows the last "/".
std::string FileName(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct Options {
  bool test = false;
  std::string input, output;
};

// False on a wrong command line. Fills in the default output name.
bool ParseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--test")) {
      options.test = true;
    } else if (!std::strcmp(argv[i], "-o") && i + 1 < argc) {
      options.output = argv[++i];
    } else if (argv[i][0] == '-' || !options.input.empty()) {
      return false;
    } else {
      options.input = argv[i];
    }
  }
  if (options.test == !options.input.empty()) return false;
  if (options.output.empty()) {
    if (options.test) {
      options.output = "test-receipt";
    } else {
      // The job file's name without its extension; a leading dot starts a name, not an
      // extension.
      options.output = options.input;
      std::string name = FileName(options.output);
      auto dot = name.rfind('.');
      if (dot != std::string::npos && dot > 0)
        options.output.resize(options.output.size() - name.size() + dot);
    }
  }
  return true;
}

// Prints each line of the job file as a markup line, then ends the document. A line the
// printer would refuse is reported with its number before anything of it is printed.
// Returns the exit status.
int PrintJob(clsPrint& print, const std::string& job) {
  int number = 0;
  size_t pos = 0;
  while (pos < job.size()) {
    size_t end = job.find('\n', pos);
    if (end == std::string::npos) end = job.size();
    std::string line = job.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::u16string texto = Text::FromUtf8(line);
    if (auto error = clsPrint::CheckText(texto)) {
      std::fprintf(stderr, "receipt-preview: line %d: %s\n", number,
                   Text::ToUtf8(error->Description()).c_str());
      return 1;
    }
    print.PrintText(texto);
  }
  print.EndDoc();
  return 0;
}

// Prints the test receipt or the job to a recording printer; `bytes` receives the document.
// Returns the exit status.
int Record(const Options& options, const std::string& job, std::string& bytes) {
  auto recorder = std::make_shared<RecordingDestination>();
  auto printer = std::make_shared<Printer>(u"Preview", recorder);
  Printers::SetInstalledForTesting(std::vector<std::shared_ptr<Printer>>{printer});
  clsPrint print;
  try {
    print.setPrinter(u"Preview");
    if (options.test) {
      print.PrintTest();
    } else if (int status = PrintJob(print, job)) {
      return status;
    }
  } catch (const Error& e) {
    std::fprintf(stderr, "receipt-preview: %s\n", Text::ToUtf8(e.Description()).c_str());
    return 1;
  }
  bytes = recorder->documents.empty() ? std::string() : recorder->documents[0].bytes;
  return 0;
}

// Writes OUTPUT.bin and OUTPUT.png. Returns the exit status.
int WriteOutputs(const std::string& output, const std::string& bytes) {
  std::ofstream bin(output + ".bin", std::ios::binary | std::ios::trunc);
  bin.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bin.close();
  if (!bin) {
    std::fprintf(stderr, "receipt-preview: cannot write %s.bin\n", output.c_str());
    return 1;
  }
  if (!ReceiptPreview::WritePng(bytes, output + ".png")) {
    std::fprintf(stderr, "receipt-preview: cannot write %s.png\n", output.c_str());
    return 1;
  }
  std::printf("%s.bin (%zu bytes), %s.png\n", output.c_str(), bytes.size(), output.c_str());
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, options)) return Usage();
  std::string job;
  if (!options.test) {
    std::string error;
    if (!tools::ReadInput(options.input, job, error)) {
      std::fprintf(stderr, "receipt-preview: %s\n", error.c_str());
      return 2;
    }
  }

  // OUTPUT.bin and OUTPUT.png are files: an output name that ends in a folder would make them
  // hidden files inside it.
  const std::string outputName = FileName(options.output);
  if (outputName.empty() || outputName == "." || outputName == "..") {
    std::fprintf(stderr, "receipt-preview: the output name %s is a folder, not a file name\n",
                 options.output.c_str());
    return 2;
  }

  std::string bytes;
  if (int status = Record(options, job, bytes)) return status;
  return WriteOutputs(options.output, bytes);
}
