#!/usr/bin/env bash
# Runs scripts/install-deps.sh against stand-in system commands, so that the install path is exercised even on a
# machine that already has every package: a dpkg-query that reports every package missing, an apt-get that
# records its arguments and environment, an `id` that says root or not, and a sudo that records how it was called.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
SCRIPT="$HERE/../install-deps.sh"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

make_standins() {  # $1 folder, $2 uid reported by id
  local bin=$1 uid=$2
  mkdir -p "$bin"
  cat > "$bin/dpkg-query" <<'SH'
#!/usr/bin/env bash
# Every package is missing.
exit 1
SH
  cat > "$bin/apt-get" <<SH
#!/usr/bin/env bash
echo "apt-get \$* | DEBIAN_FRONTEND=\${DEBIAN_FRONTEND:-} | via=\${STANDIN_VIA:-direct}" >> "$bin/calls"
SH
  cat > "$bin/sudo" <<SH
#!/usr/bin/env bash
# A sudo that resets the environment as the real one does by default, then runs the command.
echo "sudo \$*" >> "$bin/calls"
exec env -i PATH="\$PATH" STANDIN_VIA=sudo "\$@"
SH
  cat > "$bin/id" <<SH
#!/usr/bin/env bash
if [ "\${1:-}" = "-u" ]; then echo $uid; else /usr/bin/id "\$@"; fi
SH
  chmod +x "$bin"/*
}

check_run() {  # $1 label, $2 uid
  local label=$1 uid=$2 bin="$WORK/$1"
  make_standins "$bin" "$uid"
  local out rc=0
  out=$(PATH="$bin:$PATH" bash "$SCRIPT" 2>&1) || rc=$?
  [ $rc -eq 0 ] || fail "$label: the script exited $rc: $out"
  local calls; calls=$(cat "$bin/calls" 2>/dev/null || true)
  grep -q '^apt-get update' <<<"$calls" || fail "$label: apt-get update was not run: $calls"
  local install; install=$(grep '^apt-get install' <<<"$calls" || true)
  [ -n "$install" ] || fail "$label: apt-get install was not run: $calls"
  grep -q -- '-y' <<<"$install" || fail "$label: install is not non-interactive (-y): $install"
  grep -q 'DEBIAN_FRONTEND=noninteractive' <<<"$install" \
    || fail "$label: DEBIAN_FRONTEND=noninteractive did not reach apt-get: $install"
  # Every package the script names is asked for, since every one is reported missing.
  local names; names=$(sed -n '/^PACKAGES=(/,/^)/p' "$SCRIPT" | sed '1d;$d' | tr -s ' \n' '\n' | grep -v '^$')
  for p in $names; do
    grep -qw -- "$p" <<<"$install" || fail "$label: package $p missing from the install line"
  done
  if [ "$uid" -eq 0 ]; then
    grep -q '^sudo' <<<"$calls" && fail "$label: sudo was used as root: $calls"
    grep -q 'via=direct' <<<"$install" || fail "$label: apt-get did not run directly as root"
  else
    grep -q '^sudo .*apt-get install' <<<"$calls" || fail "$label: install did not go through sudo: $calls"
    grep -q 'via=sudo' <<<"$install" || fail "$label: apt-get did not run under sudo"
  fi
  echo "$label: checked"
}

check_run as-root 0
check_run through-sudo 1000

# With everything present nothing is installed and no privilege is asked for.
present="$WORK/present"
make_standins "$present" 1000
cat > "$present/dpkg-query" <<'SH'
#!/usr/bin/env bash
printf 'install ok installed'
SH
chmod +x "$present/dpkg-query"
out=$(PATH="$present:$PATH" bash "$SCRIPT" 2>&1) || fail "all present: the script failed: $out"
[ ! -e "$present/calls" ] || fail "all present: apt-get or sudo was called: $(cat "$present/calls")"

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "install-deps stand-in checks passed"
