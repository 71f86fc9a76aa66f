#!/usr/bin/env bash
# The MSI under Wine: it installs, the installed plug-in works through its ProgID, its
# registry entries are exactly those the module's self-registration writes, a newer
# version replaces an older one, and uninstalling removes the files and entries and
# leaves CLSID.
#   msi_test.sh WINE_RUN BIN_DIR WXS_FILE [MSI]   (WINEPREFIX set by the caller)
# MSI is the package to install, by default BIN_DIR/IniPlugin.msi.
set -uo pipefail
wine_run=$1
bits=${INIPLUGIN_WIN_BITS:-32}
arch=x86; [ "$bits" = 64 ] && arch=x64
bin=$2
wxs=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/iniplugin-msi.XXXXXX")
trap 'rm -rf "$work"' EXIT

w() { "$wine_run" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }
msi=$(winpath "${4:-$bin/IniPlugin.msi}")

. "$(dirname "$0")/check.sh"

guids=$(sed -n 's|^// \({[0-9A-F-]*}\)$|\1|p' "$(dirname "$0")/../../IniPlugin/plugin/Guids.cpp")
keys=(IniPlugin.IniFormat IniPlugin.IniFormat.1 IniPlugin.IniFile IniPlugin.IniFile.1)
for g in $guids; do keys+=("CLSID\\$g" "Interface\\$g" "TypeLib\\$g"); done

# Every value below the plug-in's keys as "key|name|value" lines, sorted, with the module's
# path and folder written as <MODULE> and <FOLDER> (a folder without its final backslash:
# the installer's folder properties always carry one).
entries() {  # entries MODULE_PATH
  local module=$1 folder=${1%\\*}
  for key in "${keys[@]}"; do
    w reg query "HKCR\\$key" /s /reg:$bits | awk -v OFS='|' '
      /^HKEY_/ { key = $0; sub(/^HKEY_CLASSES_ROOT\\/, "", key); next }
      /^    / { line = $0; sub(/^    /, "", line); n = index(line, "    REG_SZ");
                name = substr(line, 1, n - 1); value = substr(line, n + 14);
                print key, name, value }'
  done | MODULE=$module FOLDER=$folder awk -v OFS='|' -F'|' '
    # (paths through the environment: awk -v would read their backslashes as escapes)
    { m = ENVIRON["MODULE"]; f = ENVIRON["FOLDER"]
      if ($3 == m) $3 = "<MODULE>"; else if ($3 == f || $3 == f "\\") $3 = "<FOLDER>"; print }' |
    LC_ALL=C sort -f
}
present() { local n=0; for key in "${keys[@]}"; do w reg query "HKCR\\$key" /reg:$bits >/dev/null && n=$((n + 1)); done; echo "$n"; }

dll=$(winpath "$bin/IniPlugin.dll")
w msiexec /x "$msi" /qn
w regsvr32 /u /s "$dll"
check "nothing registered at the start" 0 "$(present)"

# Self-registration, for comparison.
w regsvr32 /s "$dll"
self=$(entries "$dll")
w regsvr32 /u /s "$dll"
check "self-registration writes entries" 1 "$([ "$(printf '%s\n' "$self" | wc -l)" -gt 30 ] && echo 1)"

w msiexec /i "$msi" /qn
check "msiexec /i" 0 "$?"
# A 32-bit package goes to the 32-bit Program Files, which a 32-bit prefix calls plain
# Program Files; a 64-bit one to the 64-bit Program Files only.
folder="$WINEPREFIX/drive_c/Program Files (x86)/IniPlugin"
winfolder='C:\Program Files (x86)\IniPlugin'
if [ "$bits" = 64 ] || [ ! -d "$folder" ]; then
  folder="$WINEPREFIX/drive_c/Program Files/IniPlugin"
  winfolder='C:\Program Files\IniPlugin'
fi
check "files installed" "IniPlugin.dll inihost.exe" "$(ls "$folder" 2>/dev/null | paste -sd ' ')"
installed=$(entries "$winfolder\\IniPlugin.dll")
check "the installer writes exactly the self-registration's entries" "$self" "$installed"
check "the installed plug-in works through its ProgID" "maker: QUARRYLINE" \
  "$(w "$winfolder\\inihost.exe" --progid IniPlugin.IniFormat info | head -1)"

# A newer version replaces the installed one (a major upgrade), instead of sitting beside it.
sed -e 's/Version="1\.0\.0"/Version="1.0.99"/' \
    -e 's/Product Id="{*[0-9A-Fa-f-]*}*"/Product Id="*"/' "$wxs" > "$work/newer.wxs"
(cd "$bin" && wixl --arch "$arch" -o "$work/newer.msi" "$work/newer.wxs") 2>/dev/null
w msiexec /i "$(winpath "$work/newer.msi")" /qn
check "msiexec /i of a newer version" 0 "$?"
versions=$(w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:$bits |
           awk '/DisplayName/ && /IniPlugin/ {on = 1} on && /DisplayVersion/ {print $3; on = 0}')
check "one version installed after the upgrade" "1.0.99" "$versions"
check "the upgrade keeps the registration" "$self" "$(entries "$winfolder\\IniPlugin.dll")"
w msiexec /i "$msi" /qn
check "an older version does not replace a newer one" "1 1.0.99" \
  "$([ $? -ne 0 ] && echo 1) $(w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:$bits |
      awk '/DisplayName/ && /IniPlugin/ {on = 1} on && /DisplayVersion/ {print $3; on = 0}')"

w msiexec /x "$(winpath "$work/newer.msi")" /qn
check "msiexec /x" 0 "$?"
check "uninstall removes the files" "" "$(ls "$folder" 2>/dev/null)"
check "uninstall removes every entry" 0 "$(present)"
w reg query 'HKCR\CLSID' /reg:$bits >/dev/null
check "uninstall leaves CLSID" 0 "$?"

summary
