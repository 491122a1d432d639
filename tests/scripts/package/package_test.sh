#!/bin/bash
# Refuses the test build without --test, then builds the packages twice, baked
# and plain, and checks with msiinfo what each holds: its tables, its
# properties, its custom actions and their sequence.
#   package_test.sh SOURCE_DIR EXE_DIR
set -uo pipefail
src=$1
exes=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL [$msi]: $*"; failures=$((failures + 1)); }

msi=all; "$src/scripts/package" --exe-dir "$exes" --out "$work/refused" 2>/dev/null && fail "packed a test build without --test"
"$src/scripts/package" --test --exe-dir "$exes" --out "$work/plain" >/dev/null || exit 1
"$src/scripts/package" --test --exe-dir "$exes" --out "$work/baked" --port IP_10.0.0.5 --default >/dev/null || exit 1
"$src/scripts/package" --test --exe-dir "$exes" --out "$work/tcp" --port 'tcp:[::1]' >/dev/null || exit 1
version=$(sed -nE 's/^project\(TarnDovEzuvar VERSION ([0-9.]+).*/\1/p' "$src/CMakeLists.txt")

# msiinfo ends its rows with CR LF.
export_table() { msiinfo export "$1" "$2" | tr -d '\r'; }
prop() { export_table "$1" Property | awk -F'\t' -v p="$2" '$1 == p { print $2 }'; }
seq() { export_table "$msi" InstallExecuteSequence | awk -F'\t' -v a="$1" '$1 == a { print $3 }'; }
before() { [ "$(seq "$1")" -lt "$(seq "$2")" ] 2>/dev/null || fail "$1 is not before $2"; }

codes=()
for model in "A4 Printer" "A3 Printer" "4In Printer"; do
    msi=$work/baked/TarnDovEzuvar-${model// /}-$version.msi
    plain=$work/plain/TarnDovEzuvar-${model// /}-$version.msi
    [ -f "$msi" ] && [ -f "$plain" ] || { fail "missing"; continue; }
    for table in File Component CustomAction InstallExecuteSequence Upgrade; do
        msiinfo tables "$msi" | grep -qx "$table" || fail "no table $table"
    done
    for pair in "PORT=IP_10.0.0.5" "DEFAULT=1" "ARPNOMODIFY=1" "ARPNOREPAIR=1" "Manufacturer=ZNW" \
                "ProductName=DovEzuvar $model (test build)" "ProductVersion=$version" "MODEL=" "Quote=\"" \
                "SecureCustomProperties=WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;PORT;DEFAULT"; do
        [ "$(prop "$msi" "${pair%%=*}")" = "${pair#*=}" ] || fail "property ${pair%%=*} is not '${pair#*=}'"
    done
    [ "$(prop "$plain" PORT)" = auto ] && [ -z "$(prop "$plain" DEFAULT)" ] || fail "plain package has baked defaults"
    # Brackets reach the exe's /port unchanged: the property as given, put into the line as it is.
    tcp=$work/tcp/TarnDovEzuvar-${model// /}-$version.msi
    [ "$(prop "$tcp" PORT)" = "tcp:[::1]" ] || fail "PORT is not tcp:[::1]"
    export_table "$tcp" CustomAction | grep -qF "/port \"[PORT]\"" || fail "the tcp package's command line differs"
    code=$(prop "$msi" UpgradeCode)
    [ "$code" = "$(prop "$plain" UpgradeCode)" ] || fail "upgrade code differs between builds"
    codes+=("$code")
    export_table "$msi" Upgrade | grep -q "	$version		513		WIX_UPGRADE_DETECTED$" ||
        fail "the same version is no upgrade"
    export_table "$msi" File | grep -q "^TarnDovEzuvarExe	.*	$version\.0	" || fail "the exe has no file version"
    # Types: 18 an exe from an installed file; +0x400 deferred, +0x100 rollback,
    # +0x800 not impersonated, +0x40 exit code ignored.
    actions=$(export_table "$msi" CustomAction)
    for row in "InstallPrinter	3090	TarnDovEzuvarExe	[TDE_INSTALL_COMMAND]" \
               "RollbackPrinter	3410	TarnDovEzuvarExe	/rollback /model \"$model\"" \
               "UninstallPrinter	3090	TarnDovEzuvarExe	/uninstall /model \"$model\"" \
               "MakeDefaultPrinter	1106	SetDefaultPrinterExe	\"$model\"" \
               "TDE_INSTALL_COMMAND	/quiet /model \"$model\" /port \"[PORT]\"	" \
               "TDE_INSTALL_COMMAND	/quiet /model \"$model\" /port \"[PORT]\" /log \"[LOGFILE]\""; do
        grep -qF "$row" <<<"$actions" || fail "no custom action row: $row"
    done
    for pair in SetInstallCommand:InstallValidate SetInstallCommandWithLog:InstallValidate \
                InstallFiles:RollbackPrinter RollbackPrinter:InstallPrinter InstallPrinter:MakeDefaultPrinter \
                MakeDefaultPrinter:InstallFinalize UninstallPrinter:RemoveFiles; do
        before "${pair%:*}" "${pair#*:}"
    done
    sequence=$(export_table "$msi" InstallExecuteSequence)
    for row in "SetInstallCommand	NOT Installed AND NOT LOGFILE" \
               "UninstallPrinter	REMOVE=\"ALL\" AND NOT UPGRADINGPRODUCTCODE" \
               "MakeDefaultPrinter	DEFAULT AND UserSID<>\"S-1-5-18\""; do
        grep -qF "$row" <<<"$sequence" || fail "no sequence row: $row"
    done
done
[ "$(printf '%s\n' "${codes[@]}" | sort -u | wc -l)" = 3 ] || { msi=all; fail "upgrade codes not distinct"; }
[ "$failures" = 0 ] && echo "scripts/package: three packages checked"
[ "$failures" = 0 ]
