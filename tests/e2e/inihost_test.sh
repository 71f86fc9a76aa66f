#!/usr/bin/env bash
# End-to-end: drives the real module through inihost, as a person or script would, and
# checks outputs, exit statuses and the files' bytes.
#   inihost_test.sh native  BIN_DIR
#   inihost_test.sh windows BIN_DIR WINE_RUN
set -uo pipefail
build=$1
bin=$2
wine_run=${3:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/inihost-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ "$build" = windows ]; then
  host() { "$wine_run" "$bin/inihost.exe" "$@" 2>"$work/stderr" | tr -d '\r'; return "${PIPESTATUS[0]}"; }
  # Wine sees the whole Unix file system as drive Z:.
  path() { printf 'Z:%s' "${1//\//\\}"; }
else
  export INIPLUGIN_REGISTRY="$work/registry.reg"
  host() { "$bin/inihost" "$@" 2>"$work/stderr"; }
  path() { printf '%s' "$1"; }
fi

passed=0
failed=0
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED: %s\n--- expected\n%s\n--- actual\n%s\n--- stderr\n%s\n' "$1" "$2" "$3" \
      "$(cat "$work/stderr" 2>/dev/null)"
  fi
}
run() { out=$(host "$@"); status=$?; }

# --- info, version, usage
run --version
check "version" "0 inihost 1.0.0" "$status $out"

run info
check "info text" "0
maker: QUARRYLINE
description: Plugin for Windows ini-files.
extensions: ini,taf
format value: 8" "$status
$out"

run --json info
check "info json" '0 {"maker":"QUARRYLINE","description":"Plugin for Windows ini-files.","extensions":"ini,taf","formatValue":8}' "$status $out"

run frobnicate
check "unknown command is a usage error" 2 "$status"
run --bogus info
check "unknown option is a usage error, on stderr" "2 inihost: unknown option --bogus (put \"--\" before a value that starts with \"-\")" \
  "$status $(head -1 "$work/stderr" | tr -d '\r')"
printf '[S]\r\n' > "$work/dash.ini"
run set "$(path "$work/dash.ini")" S k -v
check "a value starting with - without -- is a usage error" 2 "$status"
run set "$(path "$work/dash.ini")" S k -- -v
check "-- ends the options" "0 [S]|k=-v|" "$status $(tr -d '\r' < "$work/dash.ini" | paste -sd '|')|"
run --module a --progid b info
check "--module with --progid is a usage error" 2 "$status"
run --module "$(path "$work/no-such-module")" info
check "a module that cannot be loaded fails" 1 "$status"

# --- set and get on each form
printf '; settings\r\n[Main]\r\nName=old\r\nkeep=1\r\n\r\n[Other]\r\nx=1\r\n' > "$work/ansi.ini"
printf '\xff\xfe[\0M\0a\0i\0n\0]\0\r\0\n\0N\0a\0m\0e\0=\0o\0l\0d\0\r\0\n\0' > "$work/utf16.ini"
printf '\xef\xbb\xbf[Main]\r\nName=old\r\n' > "$work/utf8.ini"

f=$(path "$work/ansi.ini")
run set "$f" Main Name "new value" Main Count i4:-42 Main When date:2024-03-05T14:07:09 --date-layout 121
check "set text" "0
[Main] Name handled 1
[Main] Count handled 1
[Main] When handled 1
SetValues: 0x00000000 (S_OK)
Commit: 0x00000000 (S_OK)" "$status
$out"
# The direct writes add keys after the section's last entry, as the platform's writer does;
# Wine's writer also rewrites the whole file without its blank lines, which Windows does not.
blank='\r\n'
[ "$build" = windows ] && blank=''
check "set keeps every other line" "$(printf "; settings\r\n[Main]\r\nName=new value\r\nkeep=1\r\nCount=-42\r\nWhen=2024-03-05 14:07:09.000\r\n$blank[Other]\r\nx=1\r\n")" "$(cat "$work/ansi.ini")"

run get "$f" Main Name Main missing Other x
check "get text" "0
[Main] Name = new value
[Main] missing (no value)
[Other] x = 1" "$status
$out"

run --json get "$f" Main missing Main keep Other x --first-match
check "get json, first match" '0
{"section":"Main","key":"missing","handled":0,"value":null}
{"section":"Main","key":"keep","handled":1,"value":"1"}
{"section":"Other","key":"x","handled":-1,"value":null}' "$status
$out"

for form in utf16 utf8; do
  f=$(path "$work/$form.ini")
  run --json set "$f" Main Name "caf$(printf '\xc3\xa9')" Main Flag bool:true
  check "set $form json" '0
{"section":"Main","key":"Name","handled":1}
{"section":"Main","key":"Flag","handled":1}
{"SetValues":"0x00000000","Commit":"0x00000000"}' "$status
$out"
  run get "$f" Main Name Main Flag
  check "get $form" "0
[Main] Name = caf$(printf '\xc3\xa9')
[Main] Flag = -1" "$status
$out"
done
check "utf16 keeps its form" "fffe" "$(head -c 2 "$work/utf16.ini" | od -An -tx1 | tr -d ' \n')"
check "utf8 keeps its mark" "efbbbf" "$(head -c 3 "$work/utf8.ini" | od -An -tx1 | tr -d ' \n')"

# --- every word after the command is passed on as it stands; typed values take every
# finite value of their type, in any length of decimal or exponent notation
printf '[S]\r\n' > "$work/words.ini"
f=$(path "$work/words.ini")
# (A section name may hold "[", never "]": the header read back would end at it.)
long_day="45356.5$(printf '0%.0s' $(seq 300))"
tiny="0.$(printf '0%.0s' $(seq 400))1"
run set "$f" S k "[v]" "[S" "a,b" "[a,b]" S q '"x"' S n r8:5e-324 S f r4:3.4028235e+38 \
  S d "date:$long_day" S t "r8:$tiny" --date-layout 120
check "words and numbers as given: set" 0 "$status"
for row in 'S|k|[v]' '[S|a,b|[a,b]' 'S|n|4.94065645841247E-324' 'S|f|3.402823E+38' \
           'S|d|2024-03-05' 'S|t|0'; do
  IFS='|' read -r section key value <<<"$row"
  run get "$f" "$section" "$key"
  check "as given: [$section] $key" "0 [$section] $key = $value" "$status $out"
done
check "a quoted value keeps its quotes in the file" 'q="x"' "$(grep -a '^q=' "$work/words.ini" | tr -d '\r')"
for bad in r8:inf r8:nan r8:0x10 r8:1e999 'r8: 1' r4:3.5e38 r8:1e; do
  run set "$f" S z "$bad"
  check "$bad is a usage error" 2 "$status"
done

# --- failures are reported, and nothing is half-written
f=$(path "$work/ansi.ini")
before=$(cat "$work/ansi.ini")
run set "$f" Main Count i4:abc
check "a value that does not parse is a usage error" 2 "$status"
check "and nothing is written" "$before" "$(cat "$work/ansi.ini")"
run set "$f" Main "bad=key" v Main good 1
check "refused text fails the call" "1
[Main] bad=key handled 0
[Main] good handled 1
SetValues: 0x80070057 (E_INVALIDARG)
Commit: 0x00000000 (S_OK)" "$status
$out"
check "and the message names it and says why" "inihost: SetValues failed: 0x80070057 (E_INVALIDARG)
inihost: [Main] bad=key: a key name cannot hold \"=\"; 1 of 2 values was not written; the others were." "$(tr -d '\r' < "$work/stderr")"
run --json set "$f" Main k "str:a
b"
check "--json carries the description" '1 {"SetValues":"0x80070057","Commit":"0x00000000","error":"[Main] k: a value cannot hold a line break; nothing was written."}' "$status $(printf '%s\n' "$out" | grep error)"
run set "$f" Main nothing null
check "a value without text form" "1 SetValues: 0x80020005 (DISP_E_TYPEMISMATCH)" "$status $(printf '%s\n' "$out" | grep SetValues)"
run set "$f" Main later 7 --no-commit
check "--no-commit prints no Commit line" "0 [Main] later handled 1|SetValues: 0x00000000 (S_OK)" "$status $(printf '%s' "$out" | paste -sd '|')"

# --- dump
printf '; c\r\n[S] x\r\nk = v\r\n[S]\r\n=raw\r\n' > "$work/dump.ini"
run --json dump "$(path "$work/dump.ini")"
check "dump json" '0 {"form":"ansi","sections":[{"header":"; c","indexed":false,"lines":[]},{"header":"[S] x","indexed":true,"lines":[{"key":"k ","value":" v","raw":false}]},{"header":"[S]","indexed":true,"lines":[{"key":"=raw","value":"","raw":true}]}]}' "$status $out"
run dump "$(path "$work/missing.ini")"
check "dump of a missing file fails" 1 "$status"

# --- registration and ProgIDs
run register
check "register" "0 DllRegisterServer: 0x00000000 (S_OK)" "$status $out"
run --progid IniPlugin.IniFormat get "$(path "$work/ansi.ini")" Main keep
check "objects through the ProgID" "0 [Main] keep = 1" "$status $out"
run --progid IniPlugin.IniFormat set "$(path "$work/ansi.ini")" Main k "str:a
b"
check "and their failures' descriptions" "inihost: [Main] k: a value cannot hold a line break; nothing was written." "$(tr -d '\r' < "$work/stderr" | tail -1)"
run unregister
check "unregister" "0 DllUnregisterServer: 0x00000000 (S_OK)" "$status $out"
run --progid IniPlugin.IniFormat info
check "an unregistered ProgID fails" 1 "$status"

if [ "$build" = native ]; then
  # The runtime's own failures reach the host as results: a registry file it cannot read,
  # and a class the registered module does not serve.
  printf 'not a registry file\n' > "$work/bad.reg"
  out=$(INIPLUGIN_REGISTRY="$work/bad.reg" "$bin/inihost" --progid IniPlugin.IniFormat info 2>"$work/stderr"); status=$?
  check "an unreadable registry fails the ProgID" "1 inihost: CoCreateInstance failed: 0x8007000D" \
    "$status $(head -1 "$work/stderr" | cut -d' ' -f1-4)"
  printf 'REGEDIT4\n\n[HKEY_CLASSES_ROOT\\Other.Class\\CLSID]\n@="%s"\n\n[HKEY_CLASSES_ROOT\\CLSID\\%s\\InprocServer32]\n@="%s"\n' \
    '{00000000-0000-0000-0000-0000000000A1}' '{00000000-0000-0000-0000-0000000000A1}' \
    "$bin/IniPlugin.so" > "$work/other.reg"
  out=$(INIPLUGIN_REGISTRY="$work/other.reg" "$bin/inihost" --progid Other.Class info 2>"$work/stderr"); status=$?
  check "a class the module does not serve fails" "1 inihost: CoCreateInstance failed: 0x80040111" \
    "$status $(head -1 "$work/stderr" | cut -d' ' -f1-4)"

  # Profile mode 1 (NT 4) opens the file at once, so a missing file fails CreateNavigator.
  out=$(INIPLUGIN_OS_VERSION=2.4 "$bin/inihost" get "$work/missing.ini" S k 2>"$work/stderr"); status=$?
  check "CreateNavigator failure" "1 inihost: CreateNavigator failed: 0x80004005 (E_FAIL)
inihost: $work/missing.ini does not exist." "$status $(cat "$work/stderr")"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
