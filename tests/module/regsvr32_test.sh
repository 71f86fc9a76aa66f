#!/usr/bin/env bash
# Registers the built module with Wine's regsvr32 and reads the registry back with
# `reg query`, as an installer and an administrator would.
#   regsvr32_test.sh WINE_RUN MODULE.dll
# Keys are read in the module's own registry view (INIPLUGIN_WIN_BITS, 32 by default):
# a 32-bit server registers in the 32-bit view, a 64-bit one in the 64-bit view.
set -euo pipefail
wine_run=$1
bits=${INIPLUGIN_WIN_BITS:-32}
module_unix=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a program of Wine's. Under load Wine at times fails to start one at all (its
# launcher says "ShellExecuteEx failed"): that says nothing of the module, so such a run
# is made again, twice at most.
wine() {
  local attempt status
  for attempt in 1 2 3; do
    status=0
    "$wine_run" "$@" > "$work/stdout" 2> "$work/stderr" || status=$?
    if [ "$status" -eq 0 ] || ! grep -q 'ShellExecuteEx failed' "$work/stdout" "$work/stderr"; then
      break
    fi
    sleep 1
  done
  cat "$work/stdout"
  cat "$work/stderr" >&2
  return "$status"
}

module=$(wine winepath -w "$module_unix" | tr -d '\r')
format='{8D9885B2-3079-4925-BA06-9FA2B77131F9}'
file='{ADB631DC-4296-4459-AC24-79767E7F3F15}'
libid='{75F3FE65-F866-4B20-B89B-CBFAED227540}'
keys=(IniPlugin.IniFormat.1 IniPlugin.IniFormat "CLSID\\$format"
      IniPlugin.IniFile.1 IniPlugin.IniFile "CLSID\\$file"
      "TypeLib\\$libid"
      'Interface\{EE652D43-BC0C-41E3-96E4-FF87982B9473}'
      'Interface\{3DAC6332-1B74-4BDB-8439-69A5FBB844F8}'
      'CLSID\{EE652D43-BC0C-41E3-96E4-FF87982B9473}')

# Every key of the registration with everything below it, in one Wine start.
dump() {
  {
    echo '@echo off'
    for key in "${keys[@]}"; do
      echo "echo == $key"
      echo "reg query \"HKCR\\$key\" /s /reg:$bits"
    done
    echo 'exit /b 0'  # a missing key is an answer, not a failure
  } > "$work/dump.bat"
  wine cmd /c "$(wine winepath -w "$work/dump.bat" | tr -d '\r')" 2>&1 |
    tr -d '\r' | grep -v '^$'
}

regsvr32() { wine regsvr32 "$@" "$module_unix"; }
reg() { wine reg "$@" /reg:$bits > /dev/null 2>&1; }

failures=0
expect_dump() {  # name, expected text
  local actual
  actual=$(dump)
  if [ "$actual" != "$2" ]; then
    echo "FAILED: $1"
    diff <(echo "$2") <(echo "$actual") || true
    failures=$((failures + 1))
  else
    echo "ok: $1"
  fi
}

missing='reg: Unable to find the specified registry key'
registered="== IniPlugin.IniFormat.1
HKEY_CLASSES_ROOT\\IniPlugin.IniFormat.1
    (Default)    REG_SZ    IniFormat Class
HKEY_CLASSES_ROOT\\IniPlugin.IniFormat.1\\CLSID
    (Default)    REG_SZ    $format
== IniPlugin.IniFormat
HKEY_CLASSES_ROOT\\IniPlugin.IniFormat
    (Default)    REG_SZ    IniFormat Class
HKEY_CLASSES_ROOT\\IniPlugin.IniFormat\\CLSID
    (Default)    REG_SZ    $format
HKEY_CLASSES_ROOT\\IniPlugin.IniFormat\\CurVer
    (Default)    REG_SZ    IniPlugin.IniFormat.1
== CLSID\\$format
HKEY_CLASSES_ROOT\\CLSID\\$format
    (Default)    REG_SZ    IniFormat Class
HKEY_CLASSES_ROOT\\CLSID\\$format\\InprocServer32
    (Default)    REG_SZ    $module
    ThreadingModel    REG_SZ    Both
HKEY_CLASSES_ROOT\\CLSID\\$format\\ProgID
    (Default)    REG_SZ    IniPlugin.IniFormat.1
HKEY_CLASSES_ROOT\\CLSID\\$format\\TypeLib
    (Default)    REG_SZ    $libid
HKEY_CLASSES_ROOT\\CLSID\\$format\\VersionIndependentProgID
    (Default)    REG_SZ    IniPlugin.IniFormat
== IniPlugin.IniFile.1
HKEY_CLASSES_ROOT\\IniPlugin.IniFile.1
    (Default)    REG_SZ    IniFile Class
HKEY_CLASSES_ROOT\\IniPlugin.IniFile.1\\CLSID
    (Default)    REG_SZ    $file
== IniPlugin.IniFile
HKEY_CLASSES_ROOT\\IniPlugin.IniFile
    (Default)    REG_SZ    IniFile Class
HKEY_CLASSES_ROOT\\IniPlugin.IniFile\\CLSID
    (Default)    REG_SZ    $file
HKEY_CLASSES_ROOT\\IniPlugin.IniFile\\CurVer
    (Default)    REG_SZ    IniPlugin.IniFile.1
== CLSID\\$file
HKEY_CLASSES_ROOT\\CLSID\\$file
    (Default)    REG_SZ    IniFile Class
HKEY_CLASSES_ROOT\\CLSID\\$file\\InprocServer32
    (Default)    REG_SZ    $module
    ThreadingModel    REG_SZ    Apartment
HKEY_CLASSES_ROOT\\CLSID\\$file\\ProgID
    (Default)    REG_SZ    IniPlugin.IniFile.1
HKEY_CLASSES_ROOT\\CLSID\\$file\\TypeLib
    (Default)    REG_SZ    $libid
HKEY_CLASSES_ROOT\\CLSID\\$file\\VersionIndependentProgID
    (Default)    REG_SZ    IniPlugin.IniFile
== TypeLib\\$libid
HKEY_CLASSES_ROOT\\TypeLib\\$libid\\1.0
    (Default)    REG_SZ    IniPlugin 1.0 Type Library
HKEY_CLASSES_ROOT\\TypeLib\\$libid\\1.0\\0
HKEY_CLASSES_ROOT\\TypeLib\\$libid\\1.0\\0\\win$bits
    (Default)    REG_SZ    $module
HKEY_CLASSES_ROOT\\TypeLib\\$libid\\1.0\\FLAGS
    (Default)    REG_SZ    8
HKEY_CLASSES_ROOT\\TypeLib\\$libid\\1.0\\HELPDIR
    (Default)    REG_SZ    ${module%\\*}
== Interface\\{EE652D43-BC0C-41E3-96E4-FF87982B9473}
HKEY_CLASSES_ROOT\\Interface\\{EE652D43-BC0C-41E3-96E4-FF87982B9473}
    (Default)    REG_SZ    IIniFormat
HKEY_CLASSES_ROOT\\Interface\\{EE652D43-BC0C-41E3-96E4-FF87982B9473}\\NumMethods
    (Default)    REG_SZ    3
HKEY_CLASSES_ROOT\\Interface\\{EE652D43-BC0C-41E3-96E4-FF87982B9473}\\ProxyStubClsid32
    (Default)    REG_SZ    {EE652D43-BC0C-41E3-96E4-FF87982B9473}
== Interface\\{3DAC6332-1B74-4BDB-8439-69A5FBB844F8}
HKEY_CLASSES_ROOT\\Interface\\{3DAC6332-1B74-4BDB-8439-69A5FBB844F8}
    (Default)    REG_SZ    IIniFile
HKEY_CLASSES_ROOT\\Interface\\{3DAC6332-1B74-4BDB-8439-69A5FBB844F8}\\NumMethods
    (Default)    REG_SZ    3
HKEY_CLASSES_ROOT\\Interface\\{3DAC6332-1B74-4BDB-8439-69A5FBB844F8}\\ProxyStubClsid32
    (Default)    REG_SZ    {EE652D43-BC0C-41E3-96E4-FF87982B9473}
== CLSID\\{EE652D43-BC0C-41E3-96E4-FF87982B9473}
HKEY_CLASSES_ROOT\\CLSID\\{EE652D43-BC0C-41E3-96E4-FF87982B9473}
    (Default)    REG_SZ    PSFactoryBuffer
HKEY_CLASSES_ROOT\\CLSID\\{EE652D43-BC0C-41E3-96E4-FF87982B9473}\\InProcServer32
    (Default)    REG_SZ    $module
    ThreadingModel    REG_SZ    Both"

# With nothing registered; `foreign` names what stays under the IniFormat class key.
unregistered() {
  local key
  for key in "${keys[@]}"; do
    echo "== $key"
    if [ "$key" = "CLSID\\$format" ] && [ -n "${1:-}" ]; then
      printf '%s\n' "HKEY_CLASSES_ROOT\\CLSID\\$format" \
        "    (Default)    REG_SZ    IniFormat Class" "$1"
    else
      echo "$missing"
    fi
  done
}

regsvr32 /u /s || true  # whatever an earlier run left
expect_dump "nothing registered before the test" "$(unregistered)"

regsvr32 /s
expect_dump "regsvr32 registers every key and value" "$registered"

regsvr32 /s
expect_dump "registering twice leaves the same keys" "$registered"

reg add "HKCR\\CLSID\\$format\\Foreign\\Deeper" /v Owner /d someone /f
foreign="HKEY_CLASSES_ROOT\\CLSID\\$format\\Foreign
HKEY_CLASSES_ROOT\\CLSID\\$format\\Foreign\\Deeper
    Owner    REG_SZ    someone"
regsvr32 /u /s
expect_dump "a foreign subkey keeps its class key on unregistration" \
  "$(unregistered "$foreign")"

regsvr32 /s
expect_dump "the next registration removes the foreign subkey" "$registered"

regsvr32 /u /s
expect_dump "regsvr32 /u removes every key" "$(unregistered)"
if wine reg query 'HKCR\CLSID' /reg:$bits > /dev/null 2>&1; then
  echo "ok: CLSID stays"
else
  echo "FAILED: CLSID was removed"
  failures=$((failures + 1))
fi

[ "$failures" -eq 0 ]
