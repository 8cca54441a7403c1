-- The print queue's tables, as the service reads them, in SQL that PostgreSQL and SQLite both
-- take as it is. The demo, the tests and the benchmarks create their queues from this file:
-- the C++ programs through db/schema/QueueSchema.h, bench/load.py by reading it. Statements
-- end with ";"; a comment runs from "--" to the end of its line.

-- The printers: each belongs to a terminal ("id_terminal"); "redirigido" names the printer
-- that prints its jobs (its own number, or a backup after a failover).
CREATE TABLE impresora (id_impresora INTEGER PRIMARY KEY, nombre_impresora VARCHAR(50),
  puerto VARCHAR(50), modo VARCHAR(20), redirigido INTEGER, comentario VARCHAR(100),
  estado_impresora CHAR(1), id_terminal INTEGER, id_impresora_respaldo INTEGER);

-- The jobs, one row each: the service takes only those whose "escribiendo" is 0.
CREATE TABLE colaimpresion (idtrabajo INTEGER PRIMARY KEY, id_impresora INTEGER,
  escribiendo INTEGER DEFAULT 0, fechahora TIMESTAMP, usuario VARCHAR(50),
  tipo VARCHAR(20));

-- The lines of each job, in "idrenglon" order.
CREATE TABLE detallecolaimpresion (idtrabajo INTEGER, idrenglon INTEGER,
  Datos VARCHAR(4000), PRIMARY KEY (idtrabajo, idrenglon));
