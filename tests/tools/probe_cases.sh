#!/usr/bin/env bash
# ixa_probe against the console simulator, one row per fault mode (as text,
# and as JSON with --json): the probe's exit code and, in order, every line
# it must print on standard output (extended regular expressions; CONSOLE is
# the console's text line, REPLY its JSON object, PORT the row's port).
# Runs in the bin folder inside scripts/sandbox.sh.
set -euo pipefail
run=$(cd "$(dirname "$0")/../.." && pwd)/scripts/wine-run.sh
log=probe_cases_simulator.log
console='^console 127\.0\.0\.1:PORT replied in [0-9]+ ms via 127\.0\.0\.1/8$'
# Before listening the probe names each request it sent: in the sandbox only
# loopback is up, so only the limited broadcast goes out.
sent='^sent to 255\.255\.255\.255$'
sent_json='^\{"event":"sent","to":"255\.255\.255\.255"\}$'
reply='^\{"event":"reply","address":"127\.0\.0\.1","port":PORT,"ms":[0-9]+,"via":"127\.0\.0\.1/8"\}$'
# fault ; module ; probe arguments ; exit code ; lines
rows=$(sed 's/ ; /\t/g' <<'EOF'
none ; processor_module.dll ; - ; 0 ; CONSOLE
none ; processor_module.dll ; --fetch ; 0 ; CONSOLE ; ^image [0-9]+ bytes, (i386|x86-64), 16 of 16 entry points$
none ; processor_module_missing_entry.dll ; --fetch ; 1 ; CONSOLE ; ^image [0-9]+ bytes, (i386|x86-64), 15 of 16 entry points$ ; ^missing: DisconnectFromNode$
silent ; processor_module.dll ; --fetch ; 1 ; ^no console answered on port PORT within 1000 ms$
echo ; processor_module.dll ; --fetch ; 1 ; ^ignored reply from 127\.0\.0\.1: 83 f8 b5 23$ ; ^no console answered
short-reply ; processor_module.dll ; - ; 1 ; ^ignored reply from 127\.0\.0\.1: 83 f9 b5$ ; ^no console answered
long-reply ; processor_module.dll ; - ; 1 ; ^ignored reply from 127\.0\.0\.1: 83 f9 b5 23 00$ ; ^no console answered
refuse ; processor_module.dll ; --fetch ; 1 ; CONSOLE ; ^cannot connect to 127\.0\.0\.1:PORT: Winsock error 10061$
close-at-once ; processor_module.dll ; --fetch ; 1 ; CONSOLE ; ^image 0 bytes: not a Windows DLL$
cut ; processor_module.dll ; --fetch ; 1 ; CONSOLE ; ^image [0-9]+ bytes: not a Windows DLL$
stall ; processor_module.dll ; --fetch ; 1 ; CONSOLE ; ^image transfer stalled after [0-9]+ bytes$
oversize ; processor_module.dll ; --fetch ; 1 ; CONSOLE ; ^image transfer exceeded 11534336 bytes, more than the loader accepts$
not-dll ; processor_module.dll ; --fetch ; 1 ; CONSOLE ; ^image 110592 bytes: not a Windows DLL$
trickle ; processor_module.dll ; --fetch ; 1 ; CONSOLE ; ^image transfer too slow: [1-9][0-9]* bytes in 12000 ms$
many-exports ; processor_module.dll ; --fetch ; 1 ; CONSOLE ; ^image 105[0-9]{5} bytes, i386, 15 of 16 entry points$ ; ^missing: ChangeUserNum$
none ; processor_module.dll ; --timeout-ms 0 ; 2
none ; processor_module_missing_entry.dll ; --fetch --json ; 1 ; REPLY ; ^\{"event":"image","bytes":[0-9]+,"machine":"(i386|x86-64)","entry_points":15,"of":16\}$ ; ^\{"event":"missing","names":\["DisconnectFromNode"\]\}$
silent ; processor_module.dll ; --json ; 1 ; ^\{"event":"no_answer","port":PORT,"timeout_ms":1000\}$
short-reply ; processor_module.dll ; --json ; 1 ; ^\{"event":"ignored_reply","address":"127\.0\.0\.1","bytes":"83 f9 b5"\}$ ; ^\{"event":"no_answer"
refuse ; processor_module.dll ; --json --fetch ; 1 ; REPLY ; ^\{"event":"socket_error","stage":"connect","address":"127\.0\.0\.1","port":PORT,"winsock_error":10061\}$
stall ; processor_module.dll ; --json --fetch ; 1 ; REPLY ; ^\{"event":"stalled","bytes":[0-9]+\}$
oversize ; processor_module.dll ; --json --fetch ; 1 ; REPLY ; ^\{"event":"too_large","limit":11534336\}$
not-dll ; processor_module.dll ; --json --fetch ; 1 ; REPLY ; ^\{"event":"not_a_dll","bytes":110592\}$
trickle ; processor_module.dll ; --json --fetch ; 1 ; REPLY ; ^\{"event":"too_slow","bytes":[1-9][0-9]*,"limit_ms":12000\}$
none ; processor_module.dll ; --help ; 0 ; ^usage: ixa_probe \[--port N\] \[--timeout-ms N\] \[--fetch\] \[--json\] \[--report \[FILE\]\]$ ; --help ; --port ; --timeout-ms ; 12 times ; --fetch ; --json ; --report ; networks ; log file ; --help ; --version ; ^exit code: ; entry points
none ; processor_module.dll ; --version ; 0 ; ^ixa_probe [0-9]+\.[0-9]+\.[0-9]+$
EOF
)

failures=0
port=6700
while IFS=$'\t' read -r -a row; do
  port=$((port + 1))
  fault=${row[0]} module=${row[1]} arguments=${row[2]} status=${row[3]}
  [ "$arguments" != - ] || arguments=
  expected=("${row[@]:4}")
  # Every row that searches starts with the request it sent.
  if [ "$status" != 2 ] && [[ " $arguments " != *" --help "* && " $arguments " != *" --version "* ]]; then
    if [[ " $arguments " == *" --json "* ]]; then
      expected=("$sent_json" "${expected[@]}")
    else
      expected=("$sent" "${expected[@]}")
    fi
  fi
  rm -f "$log"
  "$run" console_simulator.exe --port "$port" --fault "$fault" --module "$module" --lifetime 60 --log "$log" \
    >/dev/null 2>&1 &
  simulator=$!
  for _ in $(seq 100); do
    grep -q "ready:" "$log" 2>/dev/null && break
    sleep 0.1
  done
  got=0
  # shellcheck disable=SC2086 # the arguments are words
  output=$("$run" ixa_probe.exe --port "$port" --timeout-ms 1000 $arguments 2>/dev/null | tr -d '\r') || got=$?
  kill "$simulator" 2>/dev/null || true
  wait "$simulator" 2>/dev/null || true
  lines=()
  [ -z "$output" ] || mapfile -t lines <<<"$output"
  verdict=ok
  if [ "$got" != "$status" ] || [ ${#lines[@]} != ${#expected[@]} ]; then
    verdict="exit $got (want $status), ${#lines[@]} lines (want ${#expected[@]})"
  fi
  for i in "${!expected[@]}"; do
    pattern=${expected[$i]/#CONSOLE/$console}
    pattern=${pattern/#REPLY/$reply}
    [[ "${lines[$i]:-}" =~ ${pattern//PORT/$port} ]] || verdict="line $((i + 1)) does not match '$pattern'"
  done
  if [ "$verdict" = ok ]; then
    echo "ok    $fault $module ${row[2]}"
  else
    echo "FAIL  $fault $module ${row[2]}: $verdict; the probe printed:"
    printf '        %s\n' "${lines[@]}"
    failures=$((failures + 1))
  fi
done <<<"$rows"

# The report, written to a file, as text and as JSON: among its lines, each
# pattern in order (the interfaces, the settings and the log tail vary).
report_case() {  # name arguments patterns...
  local name=$1 arguments=$2 report=probe_report.txt verdict=ok at=0 pattern
  shift 2
  port=$((port + 1))
  rm -f "$log" "$report"
  "$run" console_simulator.exe --port "$port" --lifetime 60 --log "$log" >/dev/null 2>&1 &
  simulator=$!
  for _ in $(seq 100); do
    grep -q "ready:" "$log" 2>/dev/null && break
    sleep 0.1
  done
  # shellcheck disable=SC2086 # the arguments are words
  "$run" ixa_probe.exe --port "$port" --timeout-ms 1000 $arguments --report "$report" >/dev/null 2>&1 || true
  kill "$simulator" 2>/dev/null || true
  wait "$simulator" 2>/dev/null || true
  mapfile -t lines < <(tr -d '\r' <"$report" 2>/dev/null)
  for pattern in "$@"; do
    pattern=${pattern/#CONSOLE/$console}
    pattern=${pattern/#REPLY/$reply}
    while ((at < ${#lines[@]})) && ! [[ "${lines[$at]}" =~ ${pattern//PORT/$port} ]]; do at=$((at + 1)); done
    ((at < ${#lines[@]})) || { verdict="no line matches '$pattern' in its place"; break; }
  done
  if [ "$verdict" = ok ]; then
    echo "ok    report $name"
  else
    echo "FAIL  report $name: $verdict; it wrote:"
    printf '        %s\n' "${lines[@]}"
    failures=$((failures + 1))
  fi
  rm -f "$report"
}
report_case text --fetch '^report of ixa_probe [0-9]+\.[0-9]+\.[0-9]+$' '^library .*IxaLoader\.dll: version [0-9.]+$' \
  '^windows ' '^interface lo 127\.0\.0\.1/8 broadcast 127\.255\.255\.255, up, no discovery$' \
  '^255\.255\.255\.255 goes out: ' '^setting port: ' '^patch #1: ' '^patch #64: ' "$sent" CONSOLE \
  '^image [0-9]+ bytes, (i386|x86-64), 16 of 16 entry points$' '^log .*IxaLoader\.log, its last [0-9]+ lines:$'
report_case json --json '^\{"event":"report","probe_version":"[0-9.]+"\}$' \
  '^\{"event":"interface","name":"lo","address":"127\.0\.0\.1","prefix":8,"broadcast":"127\.255\.255\.255","up":true,"discovery":false\}$' \
  '^\{"event":"setting","name":"port",' '^\{"event":"patch_row","row":64,' "$sent_json" REPLY '^\{"event":"log","path":'
rm -f "$log"
echo "probe cases: $failures failed"
[ "$failures" = 0 ]
