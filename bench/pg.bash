# Sourced by bench/run for `bench/run pg`: M loaded fresh into a throwaway
# PostgreSQL server beside the SQLite engine's fresh load of the same network,
# then the section "History on a PostgreSQL server" of bench/RESULTS.md is
# rewritten (every other section is kept as it is). Its target line, the
# server's fresh load at most 1.3 x SQLite's in the same invocation, is
# printed and written in that section; bench/run repeats it under Targets.
#
# The server is started in $BUILD/work/pg with its default settings (fsync and
# synchronous_commit on): only the socket and the authentication differ from a
# fresh cluster. It listens on a Unix socket in that folder, trusts local
# connections, and is stopped when the script exits.
# shellcheck disable=SC2154  # SEC_*, KB_*, ALL_*: set by measure through printf -v

PGBIN=/usr/lib/postgresql/15/bin
for tool in "$PGBIN/initdb" "$PGBIN/pg_ctl" psql; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is needed (packages postgresql and postgresql-client)" >&2; exit 1; }
done

PGDIR="$WORK/pg"
W=M
U=$(users_of "$W"); D=$(days_of "$W")
RUNS=$RUNS_DEFAULT

# The server refuses to run as root: it then runs as the package's account.
if [[ $(id -u) -eq 0 ]]; then
  PGUSER_NAME=postgres
  as_server() { runuser -u postgres -- "$@"; }
else
  PGUSER_NAME=$(id -un)
  as_server() { "$@"; }
fi

pg_stop() {
  [[ -f "$PGDIR/data/postmaster.pid" ]] || return 0
  as_server "$PGBIN/pg_ctl" -D "$PGDIR/data" -m fast -w stop >>"$PGDIR/pg_ctl.log" 2>&1 || true
}
pg_stop
trap pg_stop EXIT

rm -rf "$PGDIR"; mkdir -p "$PGDIR"
[[ $(id -u) -eq 0 ]] && chown postgres: "$PGDIR"
echo "== PostgreSQL server in $PGDIR (Unix socket only, default durability)"
as_server "$PGBIN/initdb" -D "$PGDIR/data" -U "$PGUSER_NAME" --auth=trust -E UTF8 --locale=C >"$PGDIR/initdb.log" 2>&1 ||
  { echo "bench: initdb failed; see $PGDIR/initdb.log" >&2; exit 1; }
as_server "$PGBIN/pg_ctl" -D "$PGDIR/data" -l "$PGDIR/server.log" -w \
  -o "-c listen_addresses= -k $PGDIR" start >"$PGDIR/pg_ctl.log" 2>&1 ||
  { echo "bench: the server did not start; see $PGDIR/server.log" >&2; exit 1; }
CONNECT="host=$PGDIR port=5432 dbname=postgres user=$PGUSER_NAME"
pgq() { psql -X -At -v ON_ERROR_STOP=1 -d "$CONNECT" -c "$1"; }
PG_VERSION=$(pgq 'SHOW server_version')
PG_SETTINGS=$(pgq "SELECT string_agg(name || ' ' || current_setting(name), ', ' ORDER BY name) FROM pg_settings
                   WHERE name IN ('fsync', 'synchronous_commit', 'full_page_writes', 'wal_level', 'shared_buffers', 'max_wal_size')")

# The same network twice (same seed): one program folder per engine, so that
# neither load sees the other's files.
DIR="$WORK/pg-$W"; rm -rf "$DIR"
SNET="$DIR/sqlite/net"; SPROG="$DIR/sqlite/prog"
PNET="$DIR/server/net"; PPROG="$DIR/server/prog"
LOG="$DIR/log"; mkdir -p "$LOG"
echo "== $W: $U users x $D days (seed $SEED), $RUNS run(s) each, SQLite and the server"
"$PRAXGEN" "$SNET" --users "$U" --days "$D" --seed "$SEED" --program-dir "$SPROG" >"$LOG/gen-sqlite.out"
head -1 "$LOG/gen-sqlite.out"
"$PRAXGEN" "$PNET" --users "$U" --days "$D" --seed "$SEED" --program-dir "$PPROG" >"$LOG/gen.out"
printf '[HISTORY]\r\nENGINE=postgresql\r\nCONNECT=%s\r\n' "$CONNECT" >>"$PPROG/PXNET.INI"

# CPU seconds (user + system) of the server's processes so far: the
# postmaster, its live children and those it has reaped.
server_cpu() {
  local pm pid t=0
  pm=$(head -1 "$PGDIR/data/postmaster.pid")
  for pid in "$pm" $(pgrep -P "$pm"); do
    t=$((t + $(awk '{ sub(/.*\) /, ""); print $12 + $13 + $14 + $15 }' "/proc/$pid/stat" 2>/dev/null || echo 0)))
  done
  awk -v t="$t" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.2f", t / hz }'
}
# Mean CPU seconds (user + system) of praxload over the runs of NAME.
loader_cpu() {
  cat "$LOG/$1".*.time | awk -F': ' '/User time|System time/ { s += $2 } END { printf "%.2f", s / '"$RUNS"' }'
}

measure sqlfresh "$PRAXLOAD" --program-dir "$SPROG" --fresh --yes --quiet
sql_fresh_summary=$(tail -1 "$LAST_OUT")
measure sqlrerun "$PRAXLOAD" --program-dir "$SPROG" --quiet
cpu_before=$(server_cpu)
measure pgfresh "$PRAXLOAD" --program-dir "$PPROG" --fresh --yes --quiet
pg_server_cpu=$(awk -v a="$cpu_before" -v b="$(server_cpu)" 'BEGIN { printf "%.2f", (b - a) / '"$RUNS"' }')
pg_fresh_summary=$(tail -1 "$LAST_OUT")
pg_loader_cpu=$(loader_cpu pgfresh)
sql_loader_cpu=$(loader_cpu sqlfresh)
pg_cpu_floor=$(awk -v a="$pg_server_cpu" -v b="$pg_loader_cpu" 'BEGIN { printf "%.2f", (a + b) / 2 }')

SDB=$(find "$SNET" -maxdepth 1 -iname 'PRAXDATA.MDB' | head -1)
[[ -n "$SDB" ]] || { echo "bench: the SQLite load wrote no PRAXDATA.MDB" >&2; exit 1; }
if [[ -n $(find "$PNET" -maxdepth 1 -iname 'PRAXDATA.MDB*') ]]; then
  echo "bench: the load into the server wrote a PRAXDATA.MDB file" >&2; exit 1
fi

# Row counts per table, "Table count" lines sorted by table: the SQLite
# file's tables, and the server's tables in its default schema.
sqlite_counts() {
  local t
  for t in $(sqlite3 "$SDB" "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%' ORDER BY name"); do
    echo "$t $(sqlite3 "$SDB" "SELECT count(*) FROM \"$t\"")"
  done | LC_ALL=C sort
}
server_counts() {
  local t
  for t in $(pgq "SELECT table_name FROM information_schema.tables WHERE table_schema = current_schema() ORDER BY 1"); do
    echo "$t $(pgq "SELECT count(*) FROM \"$t\"")"
  done | LC_ALL=C sort
}
sqlite_counts >"$LOG/sqlite.counts"
server_counts >"$LOG/server.counts"
if ! diff -u "$LOG/sqlite.counts" "$LOG/server.counts" >"$LOG/counts.diff"; then
  echo "bench: the server's row counts differ from the SQLite load's:" >&2
  cat "$LOG/counts.diff" >&2
  exit 1
fi
counts_line=$(awk '{ printf "%s%s %s", (NR > 1 ? ", " : ""), $1, $2 }' "$LOG/server.counts")
pg_bytes=$(pgq "SELECT coalesce(sum(pg_total_relation_size(format('%I', table_name))), 0)
                FROM information_schema.tables WHERE table_schema = current_schema()")
sql_bytes=$(stat -c %s "$SDB")

measure pgrerun "$PRAXLOAD" --program-dir "$PPROG" --quiet
pg_rerun_summary=$(tail -1 "$LAST_OUT")
server_counts >"$LOG/server-after-rerun.counts"
if cmp -s "$LOG/server.counts" "$LOG/server-after-rerun.counts" &&
   [[ "$pg_rerun_summary" == *"days loaded: 0 alert, 0 activity"* ]]; then
  pg_unchanged=yes
else
  pg_unchanged=NO
fi

ratio=$(awk -v p="$SEC_pgfresh" -v s="$SEC_sqlfresh" 'BEGIN { printf "%.2f", (s > 0 ? p / s : 0) }')
met=$(awk -v r="$ratio" 'BEGIN { print (r <= 1.3 ? "met" : "NOT met") }')
target_line="$PG_TARGET: $SEC_pgfresh s / $SEC_sqlfresh s = $ratio x (**$met**)."
rerun_pct=$(awk -v a="$SEC_pgrerun" -v b="$SEC_pgfresh" 'BEGIN { printf "%.1f", (b > 0 ? 100 * a / b : 0) }')
mbytes() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1e6 }'; }

echo
printf '%-10s %8s %8s %9s %8s\n' engine fresh_s rerun_s RSSfr_MB DB_MB
printf '%-10s %8.3f %8.3f %9s %8s\n' SQLite "$SEC_sqlfresh" "$SEC_sqlrerun" "$(mb "$KB_sqlfresh")" "$(mbytes "$sql_bytes")"
printf '%-10s %8.3f %8.3f %9s %8s\n' server "$SEC_pgfresh" "$SEC_pgrerun" "$(mb "$KB_pgfresh")" "$(mbytes "$pg_bytes")"
echo "row counts equal; re-run unchanged: $pg_unchanged"
echo "CPU of a server fresh load: server $pg_server_cpu s, praxload $pg_loader_cpu s (two-core floor $pg_cpu_floor s); praxload into SQLite $sql_loader_cpu s"
echo
echo "Target:"
echo "${target_line//\*\*/}"

SECTION="$LOG/section.md"
{
  echo "## History on a PostgreSQL server"
  echo
  echo "Written by \`bench/run pg\` on $(date -u '+%Y-%m-%d %H:%M UTC'): $W ($U users x $D days, seed $SEED) loaded fresh by each engine in the same invocation, median of $RUNS run(s)$([[ $RUNS -eq 1 ]] && echo ' (one run each, BENCH_RUNS=1: single runs on a shared machine)')."
  echo
  echo "- server: PostgreSQL $PG_VERSION (\`initdb\` and \`pg_ctl\` from $PGBIN), a throwaway cluster in build-bench/work/pg (UTF8, locale C, trust authentication), listening only on a Unix socket in that folder, on this machine: its processes share the two cores with praxload, whose peak RSS alone is given"
  echo "- its settings are the defaults: $PG_SETTINGS; the loader's own session sets synchronous_commit off (a day a server crash loses is loaded again by the next run)"
  echo "- PXNET.INI of the server's program folder: \`[HISTORY]\`, \`ENGINE=postgresql\`, \`CONNECT=host=<that folder> port=5432 dbname=postgres user=$PGUSER_NAME\`"
  echo "- fresh: \`praxload --program-dir PROG --fresh --yes --quiet\`; re-run: \`praxload --program-dir PROG --quiet\` with nothing new"
  echo "- database size: PRAXDATA.MDB's bytes; on the server, \`pg_total_relation_size\` of our tables (indexes and TOAST included)"
  echo
  echo "| engine | fresh s | re-run s | re-run/fresh | RSS fresh MB | RSS re-run MB | database MB |"
  echo "|---|---|---|---|---|---|---|"
  echo "| SQLite (PRAXDATA.MDB) | $SEC_sqlfresh | $SEC_sqlrerun | $(awk -v a="$SEC_sqlrerun" -v b="$SEC_sqlfresh" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }') | $(mb "$KB_sqlfresh") | $(mb "$KB_sqlrerun") | $(mbytes "$sql_bytes") |"
  echo "| PostgreSQL server | $SEC_pgfresh | $SEC_pgrerun | $(awk -v a="$SEC_pgrerun" -v b="$SEC_pgfresh" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }') | $(mb "$KB_pgfresh") | $(mb "$KB_pgrerun") | $(mbytes "$pg_bytes") |"
  echo
  echo "$target_line"
  [[ "$met" == met ]] || echo "- where the server load's time goes: \"Where a fresh load into the PostgreSQL server spends its time\" under Profiling"
  echo "- every run, seconds: SQLite fresh $ALL_sqlfresh, re-run $ALL_sqlrerun; server fresh $ALL_pgfresh, re-run $ALL_pgrerun"
  echo "- CPU of a fresh load (user + system, mean of the runs): the server's processes $pg_server_cpu s (its postmaster and every child, the reaped ones included) and praxload $pg_loader_cpu s, so on two cores it cannot take less than $pg_cpu_floor s; praxload loading into SQLite $sql_loader_cpu s"
  echo "- row counts per table on the server equal the SQLite load's (checked with \`psql -At\`, the bench fails otherwise): $counts_line"
  echo "- no PRAXDATA.MDB was written by the load into the server: **yes**"
  echo "- re-run on the server added no row and loaded no day (row counts before and after): **$pg_unchanged** ($rerun_pct % of the fresh load)"
  echo "- server fresh load summary: \`$pg_fresh_summary\`"
  echo "- server re-run summary: \`$pg_rerun_summary\`"
  echo "- SQLite fresh load summary: \`$sql_fresh_summary\`"
} >"$SECTION"

write_pg_section "$SECTION"
echo
echo "Wrote the server section of $RESULTS"
[[ "$pg_unchanged" == yes ]] || { echo "bench: the re-run on the server changed rows or loaded days" >&2; exit 1; }
