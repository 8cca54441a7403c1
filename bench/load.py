#!/usr/bin/env python3
"""Many terminals on one database: a load benchmark of the queue cycle.

For each N (default 1, 10, 50, 200) it starts N simulated terminals (build/bench/load/
load_terminal, one process each: the real queue cycle once a second with its own database
connection and a file: printer of its own) against a private PostgreSQL server, and measures:

  idle   the server's CPU (all its processes, from /proc; 100% = one core) and its
         transactions per second (pg_stat_database.xact_commit) with empty queues;
  load   the same while every terminal receives one job every INTERVAL seconds (the terminals'
         inserts spread evenly over the interval);
  delay  the time from a job's insert to its delivery (printed and deleted, when the cycle
         starts its one-second pause after it): median, 99th percentile, maximum; and to the
         end of that pause, when the terminal takes its next job;
  check  that every job inserted was printed exactly once, on its own terminal's printer, and
         that the queue is empty at the end.

Usage: python3 bench/load.py [--counts 1,10,50,200] [--idle 20] [--load 60] [--interval 10]
Needs a build with the benchmarks (load_terminal) and the PostgreSQL server binaries. Prints a
table and writes BUILD/bench/results/load.json.
"""
import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TICK = os.sysconf("SC_CLK_TCK")


def queue_schema():
    """The CREATE TABLE statements of db/schema/queue.sql, each on one line, as the C++ programs
    read them (db/schema/QueueSchema.h): comments ("--" to the end of the line) dropped, blanks
    and line ends made one blank, statements split at ";"."""
    with open(f"{TOP}/db/schema/queue.sql") as f:
        text = re.sub(r"--[^\n]*", " ", f.read())
    return [" ".join(s.split()) for s in text.split(";") if s.strip()]


SCHEMA = queue_schema() + [
    # The indexes the README recommends for the queue query.
    "CREATE INDEX impresora_terminal ON impresora (id_terminal)",
    "CREATE INDEX impresora_redirigido ON impresora (redirigido)",
    "CREATE INDEX colaimpresion_impresora ON colaimpresion (id_impresora)",
]


class Server:
    def __init__(self, state, port):
        self.state = state
        subprocess.run(["bash", f"{TOP}/scripts/pg-start.sh", state, str(port)], check=True,
                       stdout=subprocess.DEVNULL)
        self.data = open(f"{state}/datadir").read().strip()
        self.port = open(f"{state}/port").read().strip()
        # Room for 200 terminals and the driver's own sessions.
        self.sql("postgres", "ALTER SYSTEM SET max_connections = 300")
        subprocess.run(["bash", f"{TOP}/scripts/pg-restart.sh", state], check=True)

    def psql_args(self, db):
        return ["psql", "-X", "-q", "-At", "-v", "ON_ERROR_STOP=1", "-h", self.data, "-p",
                self.port, "-U", "kestrola", "-d", db]

    def sql(self, db, statement):
        out = subprocess.run(self.psql_args(db) + ["-c", statement], check=True,
                             capture_output=True, text=True)
        return out.stdout.strip()

    def pids(self):
        with open(f"{self.data}/data/postmaster.pid") as f:
            master = int(f.readline())
        return [master] + children(master)

    def stop(self):
        subprocess.run(["bash", f"{TOP}/scripts/pg-stop.sh", self.state], check=False)


def children(parent):
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                if int(fields[1]) == parent:
                    found.append(int(entry))
            except (OSError, IndexError):
                pass
    return found


def cpu_ticks(pids):
    total = 0
    for pid in pids:
        try:
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])  # utime + stime
        except (OSError, IndexError):
            pass
    return total


class Window:
    """CPU of the server and of the terminals, and the server's commits, over a time span."""

    def __init__(self, server, db, terminals):
        self.server, self.db, self.terminals = server, db, terminals
        self.start = self.sample()

    def sample(self):
        commits = int(self.server.sql(
            "postgres", f"SELECT xact_commit FROM pg_stat_database WHERE datname = '{self.db}'"))
        return (time.monotonic(), cpu_ticks(self.server.pids()),
                cpu_ticks([p.pid for p in self.terminals]), commits)

    def end(self):
        t1, s1, c1, x1 = self.sample()
        t0, s0, c0, x0 = self.start
        secs = t1 - t0
        return {"seconds": round(secs, 1),
                "server_cpu_pct": round(100.0 * (s1 - s0) / TICK / secs, 1),
                "terminals_cpu_pct": round(100.0 * (c1 - c0) / TICK / secs, 1),
                "commits_per_s": round((x1 - x0) / secs, 1)}


def percentile(values, p):
    ordered = sorted(values)
    rank = max(1, -(-len(ordered) * p // 100))  # nearest rank
    return ordered[int(rank) - 1]


def run(server, binary, runs, n, args):
    db = f"load_{n}"
    server.sql("postgres", f"DROP DATABASE IF EXISTS {db}")
    server.sql("postgres", f"CREATE DATABASE {db}")
    for statement in SCHEMA:
        server.sql(db, statement)
    server.sql(db, "INSERT INTO impresora SELECT t, 'P' || t, 'USB', 'raw', t, 'P' || t, 'A', t, t "
                   f"FROM generate_series(1, {n}) t")
    folder = f"{runs}/n{n}"
    shutil.rmtree(folder, ignore_errors=True)
    env = dict(os.environ, ODBCSYSINI=f"{server.state}/odbc-postgres",
               CUPS_SERVER="/nonexistent/kestrola-cups.sock")
    terminals = []
    for t in range(1, n + 1):
        app = f"{folder}/t{t}"
        os.makedirs(app)
        with open(f"{app}/printers.ini", "w") as f:
            f.write(f"[Printers]\nP{t}=file:printed.bin\n")
        terminals.append(subprocess.Popen(
            [binary, app, str(t), f"127.0.0.1;port={server.port}", db, "kestrola", "kestrola"],
            env=env, stdout=subprocess.DEVNULL, stderr=open(f"{app}/stderr.txt", "w")))
    result = {"terminals": n}
    try:
        # Every terminal connected, then a few seconds to settle.
        deadline = time.monotonic() + 180
        while int(server.sql("postgres", "SELECT count(*) FROM pg_stat_activity "
                                         f"WHERE datname = '{db}'")) < n:
            if time.monotonic() > deadline:
                raise RuntimeError(f"not all {n} terminals connected")
            time.sleep(1)
        result["connect_s"] = round(180 - (deadline - time.monotonic()), 1)
        time.sleep(3)
        idle = Window(server, db, terminals)
        time.sleep(args.idle)
        result["idle"] = idle.end()

        # One job per terminal every interval, the terminals spread over it.
        feeder = subprocess.Popen(server.psql_args(db), stdin=subprocess.PIPE, text=True,
                                  stdout=subprocess.DEVNULL)
        rounds = max(1, int(args.load // args.interval))
        schedule = sorted((r * args.interval + (t - 1) * args.interval / n, t)
                          for r in range(rounds) for t in range(1, n + 1))
        load = Window(server, db, terminals)
        start = time.monotonic()
        late = 0.0
        inserted = {}
        for job, (at, t) in enumerate(schedule, start=1):
            wait = start + at - time.monotonic()
            if wait > 0:
                time.sleep(wait)
            else:
                late = max(late, -wait)
            feeder.stdin.write(
                f"BEGIN; INSERT INTO colaimpresion VALUES ({job}, {t}, 0, now(), 'load', 'T'); "
                "INSERT INTO detallecolaimpresion VALUES "
                f"({job}, 1, 'KJOB {job} {t} ' || "
                "(extract(epoch FROM clock_timestamp()) * 1000)::bigint), "
                f"({job}, 2, '<B>TOTAL                2,50</B>'), ({job}, 3, '<CORTE>'); COMMIT;\n")
            feeder.stdin.flush()
            inserted[job] = t
        time.sleep(max(0.0, start + rounds * args.interval - time.monotonic()))
        result["load"] = load.end()
        result["feeder_late_s"] = round(late, 2)
        feeder.stdin.close()
        feeder.wait(timeout=60)

        # Drain: wait for the last jobs.
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if int(server.sql(db, "SELECT count(*) FROM colaimpresion")) == 0:
                break
            time.sleep(0.5)
        time.sleep(2)
    finally:
        for p in terminals:
            p.send_signal(signal.SIGTERM)
        for p in terminals:
            try:
                p.wait(timeout=20)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()

    # What each printer received, and when.
    printed = {}   # job -> list of terminals whose printer has it
    delays = []
    with_pause = []
    for t in range(1, n + 1):
        app = f"{folder}/t{t}"
        data = b""
        if os.path.exists(f"{app}/printed.bin"):
            data = open(f"{app}/printed.bin", "rb").read()
        for chunk in data.split(b"KJOB ")[1:]:
            job = int(chunk.split(b" ", 1)[0])
            printed.setdefault(job, []).append(t)
        if os.path.exists(f"{app}/delivered.txt"):
            for line in open(f"{app}/delivered.txt"):
                job, term, ins, out, resumed = (int(x) for x in line.split())
                delays.append((out - ins) / 1000.0)
                with_pause.append((resumed - ins) / 1000.0)
    missing = [j for j in inserted if j not in printed]
    twice = [j for j, ts in printed.items() if len(ts) > 1]
    wrong = [j for j, ts in printed.items() if j in inserted and ts[0] != inserted[j]]
    left = int(server.sql(db, "SELECT count(*) FROM colaimpresion"))
    logs = sum(len(open(os.path.join(r, f), encoding="utf-8", errors="replace").readlines())
               for r, _, fs in os.walk(folder) for f in fs if f.startswith("log_"))
    result.update({
        "jobs": len(inserted), "printed": len(printed), "missing": len(missing),
        "printed_twice": len(twice), "wrong_printer": len(wrong), "left_in_queue": left,
        "log_lines": logs,
        "delay_p50_s": round(percentile(delays, 50), 3) if delays else None,
        "delay_p99_s": round(percentile(delays, 99), 3) if delays else None,
        "delay_max_s": round(max(delays), 3) if delays else None,
        "with_pause_p50_s": round(percentile(with_pause, 50), 3) if delays else None,
        "with_pause_p99_s": round(percentile(with_pause, 99), 3) if delays else None,
    })
    result["exactly_once"] = (not missing and not twice and not wrong and left == 0
                              and len(delays) == len(inserted))
    server.sql("postgres", f"DROP DATABASE IF EXISTS {db} WITH (FORCE)")
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--counts", default="1,10,50,200")
    parser.add_argument("--idle", type=float, default=20)
    parser.add_argument("--load", type=float, default=60)
    parser.add_argument("--interval", type=float, default=10)
    parser.add_argument("--port", type=int, default=55436)
    parser.add_argument("--build", default=os.environ.get("BUILD_DIR", f"{TOP}/build"))
    args = parser.parse_args()
    binary = f"{args.build}/bench/load/load_terminal"
    if not os.access(binary, os.X_OK):
        sys.exit(f"load: {binary} not found (build with -DKESTROLA_BENCH=ON)")
    runs = f"{args.build}/bench/load-runs"
    server = Server(f"{args.build}/bench/pg-load", args.port)
    results = []
    try:
        for n in (int(x) for x in args.counts.split(",")):
            print(f"load: {n} terminals ...", file=sys.stderr)
            results.append(run(server, binary, runs, n, args))
            print(json.dumps(results[-1]), file=sys.stderr)
    finally:
        server.stop()
    os.makedirs(f"{args.build}/bench/results", exist_ok=True)
    with open(f"{args.build}/bench/results/load.json", "w") as f:
        json.dump({"cpus": os.cpu_count(), "interval_s": args.interval, "runs": results}, f,
                  indent=1)
    print(f"\nMany terminals on one PostgreSQL server ({os.cpu_count()} CPUs shared by all, "
          f"one job per terminal every {args.interval:g} s; CPU 100% = one core)\n")
    print("| terminals | idle server CPU | idle commits/s | load server CPU | load commits/s "
          "| terminals' CPU (load) | jobs | delay median | delay p99 | delay max "
          "| with pause median | with pause p99 | printed exactly once |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|")
    for r in results:
        ok = "yes" if r["exactly_once"] else (
            f"NO (missing {r['missing']}, twice {r['printed_twice']}, wrong printer "
            f"{r['wrong_printer']}, left {r['left_in_queue']})")
        print(f"| {r['terminals']} | {r['idle']['server_cpu_pct']}% | "
              f"{r['idle']['commits_per_s']} | {r['load']['server_cpu_pct']}% | "
              f"{r['load']['commits_per_s']} | {r['load']['terminals_cpu_pct']}% | {r['jobs']} | "
              f"{r['delay_p50_s']} s | {r['delay_p99_s']} s | {r['delay_max_s']} s | "
              f"{r['with_pause_p50_s']} s | {r['with_pause_p99_s']} s | {ok} |")


if __name__ == "__main__":
    main()
