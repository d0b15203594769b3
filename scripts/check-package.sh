#!/usr/bin/env bash
# Checks the package that scripts/package.sh made, as a lab PC would use it, without installing
# it: unpacked into a scratch root (dpkg -x), every program answers --version with the package's
# version and no display; the runner runs the example program against a simulated load from
# another folder on a new station folder; the runner reaches a simulated load through the
# installed GPIB library; lintian finds no error.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
    echo "check-package: $*" >&2
    exit 1
}

scripts/setup.sh --with-lintian
debs=(build-pkg/acl3_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "expected one build-pkg/acl3_*.deb (scripts/package.sh makes it)"
deb=$(realpath "${debs[0]}")
version=$(dpkg-deb --field "$deb" Version)

scratch=$(mktemp -d)
loadsim_pid=
trap '[[ -z $loadsim_pid ]] || kill "$loadsim_pid" 2>/dev/null; rm -rf "$scratch"' EXIT
dpkg -x "$deb" "$scratch/root"
bin=$scratch/root/usr/bin
export HOME=$scratch/home # the default station folder, ~/ACL3, lands here
cd "$scratch"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

for program in acl3 acl3-run acl3-loadsim acl3-report; do
    answer=$("$bin/$program" --version)
    [[ $answer == "$program $version" ]] || fail "$program --version: \"$answer\", not \"$program $version\""
    man -l "$scratch/root/usr/share/man/man1/$program.1.gz" | grep -q -- --version ||
        fail "the manual page of $program does not list its options"
done
echo "check-package: acl3, acl3-run, acl3-loadsim, acl3-report $version answer --version; their manual pages read"

echo "check-package: the installed runner, the example program of a new station, simulated load"
"$bin/acl3-run" --simulate --sn PKG-TCP
[[ -s $HOME/ACL3/TestLog/PKG-TCP.CSV ]] || fail "no log $HOME/ACL3/TestLog/PKG-TCP.CSV"
head -c 5 "$HOME/ACL3/TestLog/PKG-TCP.pdf" | grep -q '%PDF-' || fail "no report $HOME/ACL3/TestLog/PKG-TCP.pdf"
"$bin/acl3-report" "$HOME/ACL3/TestLog/PKG-TCP.CSV" -o report.html >/dev/null
grep -q 'data:image/svg+xml' report.html || fail "the installed acl3-report wrote no HTML plots"
status=0
"$bin/acl3-report" "$HOME/ACL3/ACL3.INI" -o refused.pdf 2>/dev/null || status=$?
[[ $status == 2 ]] || fail "acl3-report took ACL3.INI for a run log (exit $status)"

echo "check-package: the installed runner over the installed GPIB library to acl3-loadsim"
coproc loadsim { exec "$bin/acl3-loadsim" --gpib-bridge 0; }
# shellcheck disable=SC2154 # loadsim_PID is set by coproc
loadsim_pid=$loadsim_PID
read -r -u "${loadsim[0]}" _listening
read -r -u "${loadsim[0]}" environment
library=$(sed -n 's/.*ACL3_GPIB_LIBRARY=\([^ ]*\).*/\1/p' <<<"$environment")
bridge=$(sed -n 's/.*ACL3_GPIBSIM=\([^ ]*\).*/\1/p' <<<"$environment")
[[ $library == "$scratch"/root/usr/lib/*/acl3/libacl3gpibsim.so ]] ||
    fail "acl3-loadsim names $library, not the installed GPIB library"
sed -i 's/^ConnectMode=.*/ConnectMode=1/' "$HOME/ACL3/ACL3.INI"
printf '%s\r\n' '[TestStep Option]' MeasureVoltage=1 MeasureTime=1 TotalStepCount=1 '[Step1]' \
    ActionMode=LoadLevel LoadModeVolt=CC CurrentValue=5 StopTime=2 MeasTime=1 Frequency=50 >gpib.INI
ACL3_GPIB_LIBRARY=$library ACL3_GPIBSIM=$bridge "$bin/acl3-run" --program gpib.INI --sn PKG-GPIB
grep -q '^1,1,' "$HOME/ACL3/TestLog/PKG-GPIB.CSV" || fail "no record in the GPIB run's log"

echo "check-package: lintian"
lintian --fail-on error --tag-display-limit 0 "$deb"
echo "check-package: $deb is good"
