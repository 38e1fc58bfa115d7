#!/usr/bin/env bash
# The MSI that scripts/package-windows.sh wrote beside the zip, as a fleet installs it, under Wine
# in a prefix of its own (a copy of the build's, so that a service started at "boot" and a session
# restarted touch no other test):
#  - it carries the zip's files but the simulator and its driver, and is the project's version
#    (as the DLL it carries: DllVersion.TheResourceCarriesTheProjectVersion);
#  - a silent install with LISTEN puts the files under Program Files\crvmon, bin\ once on the
#    machine's Path, the service (start at boot, its options in the image path) and its event
#    source; the service runs, reads the simulated machine started beside it, and logs;
#  - a higher version installed over it while the service runs, without LISTEN, leaves one product
#    and one service with the same options, running;
#  - after a restart of the Wine session (a boot) the service runs again by itself, and a new
#    process finds crvmon-smi on the Path;
#  - an uninstall in that new session, with the service running, leaves nothing: no files, no
#    log, no service, no event source, no settings, no Path entry, no product.
# Usage: windows_msi_wine.sh DIST_FOLDER VERSION TEMPLATE_PREFIX
#   DIST_FOLDER: where package-windows.sh wrote the zip and the MSI, the zip unpacked in unpacked/.
set -u
dist=${1:?the folder of the zip and the MSI}
version=${2:?the project version}
template=${3:?a Wine prefix to copy}
work=$(mktemp -d /tmp/crvmon-release-msi-XXXXXX)
# shellcheck source=consumer_helpers.sh
. "$(dirname "$0")/consumer_helpers.sh"
source_dir=$(cd "$release_tests/../.." && pwd)
session=$source_dir/cmake/wine-session.sh
export WINEPREFIX=$work/prefix WINEDEBUG=-all
wine=(/usr/lib/wine/wine64)
# Registry reads through the runner that starts again a process Wine lost at its start, which
# would read as an absent value.
reg=("$source_dir/cmake/wine-run.sh" "$WINEPREFIX" reg.exe)

# The session of the copied prefix ends with the test, however it ends.
trap 'finish_msi' EXIT
finish_msi() {
    end_simulation
    "$session" stop "$WINEPREFIX"
    rm -rf "$work"
}

msi=$dist/crvmon-$version-windows-x64.msi
[ -f "$msi" ] || fail "package-windows.sh wrote no $(basename "$msi"): $(ls "$dist")"
unpacked=$dist/unpacked
program_files="$WINEPREFIX/drive_c/Program Files/crvmon"
program_data=$WINEPREFIX/drive_c/ProgramData/crvmon
service_key='HKLM\System\CurrentControlSet\Services\crvmon-exporter'
event_source='HKLM\System\CurrentControlSet\Services\EventLog\Application\crvmon-exporter'
environment='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
bin_entry='C:\Program Files\crvmon\bin\'
passed=0
ok() {
    passed=$((passed + 1))
    echo "ok: $*"
}

registry_value() {  # key name
    "${reg[@]}" query "$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
key_exists() {  # key
    "${reg[@]}" query "$1" </dev/null >/dev/null 2>&1
}
# The products under the Uninstall key that are crvmon, one line each: "DisplayVersion".
installed_products() {
    "${reg[@]}" query "$uninstall_key" </dev/null 2>/dev/null | tr -d '\r' |
        grep -i '^HKEY.*\\{' | while read -r key; do
        [ "$(registry_value "$key" DisplayName)" = crvmon ] && registry_value "$key" DisplayVersion
    done
}
# How many times bin\ is on the machine's Path.
path_entries() {
    registry_value "$environment" Path | tr ';' '\n' | grep -cixF "$bin_entry"
}
msiexec() {  # log name, arguments...
    local log=$1 status=0
    shift
    "${wine[@]}" msiexec.exe "$@" /qn /l*v "$(winepath_of "$work/$log")" </dev/null \
        >"$work/msiexec.out" 2>&1 || status=$?
    [ "$status" -eq 0 ] || fail "msiexec $* exited $status: $(cat "$work/msiexec.out")
$(grep -E 'Return value 3|error|Error' "$work/$log" | head -20)"
}
winepath_of() {
    printf 'Z:%s' "$1" | tr / '\\'
}
service_state() {
    "${wine[@]}" sc.exe query crvmon-exporter </dev/null 2>/dev/null | tr -d '\r' |
        awk '$1 == "STATE" { print $4 }'
}
# Waits until /metrics answers on the port with the simulated machine; the page in $work/metrics.
wait_for_machine() {  # port
    for _ in $(seq 300); do
        curl -sf --max-time 5 "http://127.0.0.1:$1/metrics" >"$work/metrics" 2>/dev/null &&
            grep -q '^crvmon_devices 2$' "$work/metrics" && return 0
        sleep 0.2
    done
    fail "the service does not serve the simulated machine on port $1: $(service_state) \
$(cat "$work/metrics" 2>/dev/null | grep -E '^crvmon_(up|devices) ')"
}
logged() {  # severity text
    grep -qF "] $1: $2" "$program_data/crvmon-exporter.log" 2>/dev/null ||
        fail "no '$1: $2' in the service's log: $(cat "$program_data/crvmon-exporter.log" 2>&1)"
}
# --- The package, read with msitools: its files and its versions. ---
product_property() {  # msi name
    msiinfo export "$1" Property | tr -d '\r' | awk -v name="$2" '$1 == name { print $2 }'
}
[ "$(product_property "$msi" ProductVersion)" = "$version" ] ||
    fail "the MSI's ProductVersion is $(product_property "$msi" ProductVersion), not $version"
msiextract -C "$work/extracted" "$msi" >/dev/null || fail "msiextract could not read the MSI"
(cd "$work/extracted/crvmon" && find . -type f | sed 's|^\./||' | sort) >"$work/msi-files"
# The zip's files but the simulator and its unsigned driver.
grep -vxE 'bin/crvmon-sim\.exe|bin/crvmon_orvek_sim\.sys' "$release_tests/windows_zip_contents.txt" |
    sort >"$work/expected-files"
diff -u "$work/expected-files" "$work/msi-files" >"$work/files.diff" ||
    fail "the MSI holds other files than the zip but the simulator (- expected, + in the MSI):
$(cat "$work/files.diff")"
cmp -s "$work/extracted/crvmon/bin/crvmon.dll" "$unpacked/bin/crvmon.dll" ||
    fail "the MSI's crvmon.dll is not the build's"  # whose version resource DllVersion checks
ok "the MSI is version $version and holds the zip's files but the simulator"

# --- A prefix of its own, the simulated machine, a silent install. ---
cp -a "$template" "$WINEPREFIX" || fail "cannot copy the Wine prefix $template"
rm -rf "$program_data"
"$session" start "$WINEPREFIX"
start_simulation "${wine[@]}" "$unpacked/bin/crvmon-sim.exe"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

# A web configuration of comments only: plain HTTP, open, through the file's property.
printf '# plain HTTP: no tls_server_config, no basic_auth_users\n' >"$WINEPREFIX/drive_c/crvmon-web.yml"
msiexec install.log /i "$(winepath_of "$msi")" LISTEN="127.0.0.1:$port" \
    WEB_CONFIG_FILE='C:\crvmon-web.yml'
(cd "$program_files" && find . -type f | sed 's|^\./||' | sort) >"$work/installed-files"
cmp -s "$work/msi-files" "$work/installed-files" ||
    fail "installed other files: $(diff "$work/msi-files" "$work/installed-files")"
[ "$(path_entries)" = 1 ] || fail "bin\\ is not once on the Path: $(registry_value "$environment" Path)"
exe='C:\Program Files\crvmon\bin\crvmon-exporter.exe'
arguments="--listen 127.0.0.1:$port --reinit-interval 0 --threads 0 --web.config.file \"C:\\crvmon-web.yml\" --service"
# Wine's installer writes the program's path without the quotes Windows puts around it.
[ "$(registry_value "$service_key" ImagePath)" = "\"$exe\" $arguments" ] ||
    [ "$(registry_value "$service_key" ImagePath)" = "$exe $arguments" ] ||
    fail "the service's image path: $(registry_value "$service_key" ImagePath)"
[ "$(registry_value "$service_key" Start)" = 0x2 ] ||
    fail "the service does not start at boot: Start $(registry_value "$service_key" Start)"
case "$(registry_value "$event_source" EventMessageFile)" in
*'\crvmon\bin\crvmon-exporter.exe') ;;
*) fail "event source: $(registry_value "$event_source" EventMessageFile)" ;;
esac
ok "installed silently: the files, bin\\ on the Path, the service at boot with LISTEN and WEB_CONFIG_FILE, its event source"

wait_for_machine "$port"
grep -q "^crvmon_exporter_build_info{version=\"$version\"," "$work/metrics" ||
    fail "build info: $(grep build_info "$work/metrics")"
# Starting, stopping and their log lines are the service's own (ExporterWine.*): here that the
# installed one logs where the uninstall will look.
logged info "the library found 2 device(s)"
ok "the installer started the service; it serves the simulated machine and logs"

# --- A higher version over it, the service running, without the options. ---
IFS=. read -r major minor patch <<<"$version"
next=$major.$minor.$((patch + 1))
"$source_dir/scripts/windows-msi.sh" "$unpacked" "$next" "$work/crvmon-$next.msi" ||
    fail "cannot write the MSI of $next"
msiexec upgrade.log /i "$(winepath_of "$work/crvmon-$next.msi")"
[ "$(installed_products)" = "$next" ] || fail "installed products: $(installed_products | tr '\n' ' ')"
case "$(registry_value "$service_key" ImagePath)" in
*"--listen 127.0.0.1:$port "*'--web.config.file "C:\crvmon-web.yml"'*) ;;
*) fail "the options were not kept: $(registry_value "$service_key" ImagePath)" ;;
esac
[ "$(path_entries)" = 1 ] || fail "bin\\ is not once on the Path: $(registry_value "$environment" Path)"
wait_for_machine "$port"
ok "$next over $version: one product, one service with the same options, running"

# --- A boot: the service comes back by itself, and the Path reaches new processes. ---
end_simulation
"$session" stop "$WINEPREFIX"
"$session" start "$WINEPREFIX"
for _ in $(seq 300); do
    curl -sf --max-time 5 -o /dev/null "http://127.0.0.1:$port/healthz" && break
    sleep 0.2
done
[ "$(service_state)" = RUNNING ] || fail "the service is not running after the restart: $(service_state)"
# By name alone, as the loader searches the Path of the new session. (Wine's cmd gives up at
# the empty entry that Wine's uninstall of the older version left in the Path.)
"${wine[@]}" crvmon-smi.exe --version </dev/null >"$work/smi" 2>&1 ||
    fail "crvmon-smi is not found on the Path: $(cat "$work/smi")"
grep -q "^crvmon-smi $version " "$work/smi" || fail "crvmon-smi --version: $(cat "$work/smi")"
ok "after a restart of the session the service runs by itself; crvmon-smi is on the Path"

# --- Uninstall in this new session, the service running: nothing left. ---
msiexec uninstall.log /x "$(product_property "$work/crvmon-$next.msi" ProductCode)"
left=()
[ -e "$program_files" ] && left+=("$(cd "$program_files/.." && find crvmon | tr '\n' ' ')")
[ -e "$program_data" ] && left+=("$(cd "$program_data/.." && find crvmon | tr '\n' ' ')")
key_exists "$service_key" && left+=("the service")
key_exists "$event_source" && left+=("the event source")
key_exists 'HKLM\Software\crvmon' && left+=("HKLM\\Software\\crvmon")
[ "$(path_entries)" = 0 ] || left+=("the Path entry")
[ -z "$(installed_products)" ] || left+=("the product $(installed_products)")
[ ${#left[@]} -eq 0 ] || fail "the uninstall left: ${left[*]}"
curl -s --max-time 5 -o /dev/null "http://127.0.0.1:$port/healthz" && fail "port $port still served"
ok "the uninstall, the service running, left nothing behind"

echo "MSI under Wine: $passed passed, 0 failed"
