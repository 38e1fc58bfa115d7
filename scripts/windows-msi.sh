#!/usr/bin/env bash
# Writes the MSI of a Windows install tree with wixl, from cmake/package/crvmon.wxs: the tree
# without the simulator, the exporter as a service, bin\ on the machine's PATH. The rows wixl
# cannot write are added to its tables with msibuild:
#  - the PATH entry (wixl knows no <Environment>): appended to the machine's Path at install,
#    taken out again at uninstall, with the library's component;
#  - the service's log files, removed with the service;
#  - the saved service options are read from the registry's 64-bit view, where the 64-bit
#    components wrote them (wixl searches the 32-bit one);
#  - a failure to install the service fails the installation (Vital, which wixl drops);
#  - an installed product of the same version is replaced too, not installed beside.
# Usage: scripts/windows-msi.sh STAGE VERSION OUT.msi
#   STAGE: what `cmake --install` put under a prefix; VERSION: major.minor.patch.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

die() {
    echo "windows-msi: $*" >&2
    exit 1
}

stage=${1:?install tree}
version=${2:?version}
out=${3:?MSI file to write}
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || die "version '$version' is not major.minor.patch"
[ -f "$stage/bin/crvmon.dll" ] || die "$stage holds no bin/crvmon.dll: not a Windows install tree"
for tool in wixl msibuild msiinfo; do
    command -v "$tool" >/dev/null || die "$tool not found: bash scripts/install-deps.sh windows"
done

tmp=$(mktemp -d /tmp/crvmon-msi-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
# wixl finds a file's Source only relative to the .wxs: both go in the scratch folder.
cp "$here/../cmake/package/crvmon.wxs" "$tmp/crvmon.wxs"
ln -s "$(realpath "$stage")" "$tmp/stage"
wixl -a x64 -D "Version=$version" -D Stage=stage -o "$tmp/crvmon.msi" "$tmp/crvmon.wxs" \
    2>"$tmp/wixl.log" || die "wixl: $(cat "$tmp/wixl.log")"

upgrade_code=$(msiinfo export "$tmp/crvmon.msi" Property | tr -d '\r' | awk '$1 == "UpgradeCode" {print $2}')
[ -n "$upgrade_code" ] || die "the MSI has no UpgradeCode"
# The Upgrade table's row that finds what to replace is rewritten with its upper version
# inclusive (0x200 beside 1, the features carried over): a key column cannot be updated.
msibuild "$tmp/crvmon.msi" \
    -q 'CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL LOCALIZABLE, `Value` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)' \
    -q "INSERT INTO \`Environment\` (\`Environment\`, \`Name\`, \`Value\`, \`Component_\`) VALUES ('PathBin', '=-*Path', '[~];[BINDIR]', 'Library')" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveEnvironmentStrings', 3300)" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WriteEnvironmentStrings', 5200)" \
    -q "INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`FileName\`, \`DirProperty\`, \`InstallMode\`) VALUES ('ServiceLogFile', 'ServiceLog', 'crvmon-exporter.log', 'LOGDIR', 2)" \
    -q "INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`FileName\`, \`DirProperty\`, \`InstallMode\`) VALUES ('PreviousServiceLogFile', 'ServiceLog', 'crvmon-exporter.log.1', 'LOGDIR', 2)" \
    -q "UPDATE \`RegLocator\` SET \`Type\` = 18" \
    -q "UPDATE \`ServiceInstall\` SET \`ErrorControl\` = 32769" \
    -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'" \
    -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('$upgrade_code', '$version', 513, 'WIX_UPGRADE_DETECTED')" ||
    die "msibuild could not add the PATH entry, the log files' removal or the upgrade of the same version"
mkdir -p "$(dirname "$out")"
mv "$tmp/crvmon.msi" "$out"
