# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by scripts/demo.sh and bench/longrun/run.sh: the demo router on loopback and the
# throw-away settings that point Kestrovan at it.

# start_simulated_router BUILD FOLDER
# Starts BUILD's mn128sim in demo mode on a free loopback port, its output in FOLDER/sim.out and
# FOLDER/sim.err; sets sim_pid and port. Exits when it reports no port within 10 s.
start_simulated_router() {
  local build="$1" folder="$2"
  "$build/tools/mn128sim/mn128sim" --demo --detach --listen 127.0.0.1:0 \
    >"$folder/sim.out" 2>"$folder/sim.err" &
  sim_pid=$!
  port=""
  for _ in $(seq 1 100); do
    port="$(sed -n 's/^listening 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$folder/sim.out" | head -1)"
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "mn128sim did not start"; cat "$folder/sim.err"; exit 1; }
}

# write_throwaway_settings FILE UNIT_SECONDS
# The router on loopback before anything starts, charge units of UNIT_SECONDS in every time
# band and a 10 s idle limit, so the automatic disconnection cuts each call.
write_throwaway_settings() {
  local file="$1" unit="$2"
  cat >"$file" <<CONF
[Setup]
sohoip=127.0.0.1
sohowp=
seca=$unit
secb=$unit
secc=$unit
ctanni=10
cnctno=1
atcuttm=10
atcutmode=1
atcutdly=3
telstday=1
sohoint=1000
soho2int=1000
dspint=1000
dsptop=0
linecut=0
winmodes=0
winmodec=0
winmodedc=1
dosuumode=0
debuglog=1

[Variant]
sizehigh=3
rmtauto=1
CONF
}
