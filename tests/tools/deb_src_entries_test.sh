#!/usr/bin/env bash
# deb-src entries follow the machine's own Debian entries, in both formats;
# third-party, disabled and other releases' entries are left out.
set -euo pipefail
script="$(dirname "$0")/../../tools/deb-src-entries.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/sources.list" <<'LIST'
# a comment
deb [arch=amd64 signed-by=/keys/local.gpg] http://mirror.invalid/debian bookworm main contrib # trailing
deb [ trusted=yes ] http://mirror.invalid/debian-security bookworm-security main
deb-src http://mirror.invalid/debian bookworm main
deb http://mirror.invalid/debian trixie main
deb http://thirdparty.invalid/apt nodistro main
LIST
cat > "$work/local.sources" <<'SOURCES'
Types: deb
# a note inside the stanza
URIs: http://proxy.invalid:3142/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 -----END PGP PUBLIC KEY BLOCK-----

Types: deb
URIs: http://proxy.invalid:3142/debian
Suites: bookworm-backports
Components: main
Enabled: false

Types: deb deb-src
URIs: http://thirdparty.invalid/apt
Suites: stable
Components: main
SOURCES

expected="Types: deb-src
URIs: http://mirror.invalid/debian
Suites: bookworm
Components: main contrib
Signed-By: /keys/local.gpg

Types: deb-src
URIs: http://mirror.invalid/debian-security
Suites: bookworm-security
Components: main
Trusted: yes

Types: deb-src
URIs: http://proxy.invalid:3142/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: 
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 -----END PGP PUBLIC KEY BLOCK-----
"
actual=$("$script" bookworm "$work/sources.list" "$work/local.sources")
if [[ "$actual" != "${expected%$'\n'}" ]]; then
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
[[ -z $("$script" bookworm "$work/missing.list") ]]
echo "deb-src entries: ok"
