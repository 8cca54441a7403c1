// demo-job: puts sample receipts into the queue database of an application directory.
//
//   demo-job [--init] [--printer N] [--app DIR]
//   demo-job --fail | --mend [--app DIR]
//
// DIR (default: the directory of this program) holds config.ini, whose settings name the
// database, and odbcinst.ini, which maps the driver name "SQL Server" (used when ODBCSYSINI
// is not set already). --init creates the queue tables when missing, replaces the printers
// with the demo ones (1 "Caja", 2 "Cocina", 3 "Barra", 4 "Terraza", all of terminal 1) and
// adds one job for each. Without --init one receipt is added for printer N (default 1).
// --fail makes the folder printer "Terraza" fail (its folder DIR/receipts/terraza becomes a
// file) and --mend makes it work again, to watch a printer fail over and come back.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "db/BaseDatos.h"
#include "db/Connection.h"
#include "db/Recordset.h"
#include "db/schema/QueueSchema.h"
#include "runtime/Application.h"
#include "runtime/Error.h"
#include "runtime/Text.h"
#include "service/CicloCola.h"
#include "service/INI.h"

namespace {

using kestrola::Text::FromUtf8;
using kestrola::Text::ToUtf8;

// Id, device name and backup of the demo printers. "Barra" is not in the demo's
// printers.ini: its jobs fail over to "Caja".
struct DemoPrinter {
  int id;
  const char* name;
  int backup;
};
constexpr DemoPrinter kPrinters[] = {
    {1, "Caja", 2}, {2, "Cocina", 1}, {3, "Barra", 1}, {4, "Terraza", 1}};

std::u16string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return FromUtf8(out + "'");
}

std::vector<std::string> SampleLines(int job, int printer) {
  std::string name = printer >= 1 && printer <= 4 ? kPrinters[printer - 1].name : "?";
  if (printer == 2) {
    return {"<XH>COMANDA " + std::to_string(job) + "</XH>",
            "Mesa 4        Mozo: Ana",
            "<H>2 x Milanesa napolitana</H>",
            "<H>1 x Ensalada mixta</H>",
            "<S>Sin sal</S>",
            "<CORTE>"};
  }
  return {"<XH>KESTROLA</XH>",
          "Ticket " + std::to_string(job) + " - impresora " + name,
          "1 x Café con leche          2,50",
          "2 x Medialuna               1,80",
          "<B>TOTAL                     4,30</B>",
          "Gracias por su visita<N>Vuelva pronto",
          "<CAJA>",
          "<CORTE>"};
}

int NextJob(kestrola::Connection& conn) {
  kestrola::Recordset rs;
  rs.Open(u"select max(idtrabajo) from colaimpresion", conn);
  std::optional<int64_t> max;
  if (!rs.Eof()) max = kestrola::CicloCola::NumeroEntero(rs.Fields(0));
  return static_cast<int>(max.value_or(0)) + 1;
}

void AddJob(kestrola::Connection& conn, int printer) {
  int job = NextJob(conn);
  // The lines first, the ready flag last: the service takes the job only once it is whole.
  conn.Execute(
      u"insert into colaimpresion (idtrabajo, id_impresora, escribiendo, fechahora, "
      u"usuario, tipo) values (" +
      FromUtf8(std::to_string(job)) + u", " + FromUtf8(std::to_string(printer)) +
      u", 1, CURRENT_TIMESTAMP, 'demo', 'ticket')");
  std::vector<std::string> lines = SampleLines(job, printer);
  for (size_t i = 0; i < lines.size(); ++i) {
    conn.Execute(u"insert into detallecolaimpresion (idtrabajo, idrenglon, Datos) values (" +
                 FromUtf8(std::to_string(job)) + u", " + FromUtf8(std::to_string(i + 1)) + u", " +
                 Quote(lines[i]) + u")");
  }
  conn.Execute(u"update colaimpresion set escribiendo=0 where idtrabajo=" +
               FromUtf8(std::to_string(job)));
  std::cout << "job " << job << " added for printer " << printer << "\n";
}

void Init(kestrola::Connection& conn) {
  // The tables are created only where missing: --init on an existing demo database keeps its
  // queue.
  for (const auto& statement : kestrola::QueueSchema::Statements(true)) conn.Execute(statement);
  conn.Execute(u"delete from impresora");
  for (const auto& p : kPrinters) {
    conn.Execute(
        u"insert into impresora (id_impresora, nombre_impresora, puerto, modo, "
        u"redirigido, comentario, estado_impresora, id_terminal, "
        u"id_impresora_respaldo) values (" +
        FromUtf8(std::to_string(p.id)) + u", " + Quote(p.name) + u", 'USB', 'ESC/POS', " +
        FromUtf8(std::to_string(p.id)) + u", " + Quote(p.name) + u", 'A', 1, " +
        FromUtf8(std::to_string(p.backup)) + u")");
  }
  for (const auto& p : kPrinters) AddJob(conn, p.id);
}

int Usage() {
  std::cerr << "usage: demo-job [--init] [--printer N] [--app DIR]\n"
               "       demo-job --fail | --mend [--app DIR]\n";
  return 2;
}

// Breaks or mends the folder of the demo printer "Terraza": a file in its place makes every
// receipt fail to be written.
int Terraza(const std::filesystem::path& app, bool fail) {
  const std::filesystem::path folder = app / "receipts" / "terraza";
  std::error_code ec;
  if (fail) {
    if (std::filesystem::is_directory(folder)) std::filesystem::remove_all(folder, ec);
    std::ofstream(folder) << "Terraza is out of order: run demo-job --mend\n";
    std::cout << "printer Terraza fails now (" << folder.string() << " is a file)\n";
  } else {
    if (!std::filesystem::is_directory(folder)) std::filesystem::remove(folder, ec);
    std::filesystem::create_directories(folder, ec);
    std::cout << "printer Terraza works again (" << folder.string() << ")\n";
  }
  return ec ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool init = false;
  int terraza = -1;  // 1: make it fail, 0: mend it
  int printer = 1;
  std::string app;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--init") {
      init = true;
    } else if (arg == "--printer" && i + 1 < argc) {
      try {
        printer = std::stoi(argv[++i]);
      } catch (const std::exception&) {
        return Usage();
      }
    } else if (arg == "--fail" || arg == "--mend") {
      terraza = arg == "--fail" ? 1 : 0;
    } else if (arg == "--app" && i + 1 < argc) {
      app = argv[++i];
    } else {
      return Usage();
    }
  }
  if (!app.empty()) {
    kestrola::Application::SetPath(FromUtf8(std::filesystem::absolute(app).string()));
  }
  const std::u16string dir = kestrola::Application::Path();
  if (terraza >= 0) return Terraza(ToUtf8(dir), terraza == 1);
  if (std::getenv("ODBCSYSINI") == nullptr &&
      std::filesystem::exists(ToUtf8(dir) + "/odbcinst.ini")) {
    setenv("ODBCSYSINI", ToUtf8(dir).c_str(), 1);
  }

  const std::u16string config = dir + u"/config.ini";
  using kestrola::INI::LeerINI;
  std::u16string server = LeerINI(config, u"Kestrola", u"ServerDB", u"(local)");
  std::u16string database = LeerINI(config, u"Kestrola", u"NameDB", u"master");
  std::u16string user = LeerINI(config, u"Kestrola", u"UserDB", u"");
  std::u16string password = LeerINI(config, u"Kestrola", u"PwdDB", u"");

  try {
    kestrola::Connection conn;
    conn.Open(kestrola::BaseDatos::CadenaConexion(server, database), user, password);
    if (init) {
      Init(conn);
    } else {
      AddJob(conn, printer);
    }
    conn.Close();
  } catch (const kestrola::Error& e) {
    std::cerr << "demo-job: " << ToUtf8(e.Description()) << "\n";
    return 1;
  }
  return 0;
}
