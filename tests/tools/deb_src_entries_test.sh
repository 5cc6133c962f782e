#!/usr/bin/env bash
# deb-src entries follow the machine's own Debian entries, in both formats
# (local folders stand for mirrors: no host is named here);
# third-party, disabled and other releases' entries are left out.
set -euo pipefail
script="$(dirname "$0")/../../tools/deb-src-entries.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/sources.list" <<'LIST'
# a comment
deb [arch=amd64 signed-by=/keys/local.gpg] file:/srv/mirror/debian bookworm main contrib # trailing
deb [ trusted=yes ] file:/srv/mirror/debian-security bookworm-security main
deb-src file:/srv/mirror/debian bookworm main
deb file:/srv/mirror/debian trixie main
deb file:/srv/vendor/apt nodistro main
LIST
cat > "$work/local.sources" <<'SOURCES'
Types: deb
# a note inside the stanza
URIs: file:/srv/proxy/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 -----END PGP PUBLIC KEY BLOCK-----

Types: deb
URIs: file:/srv/proxy/debian
Suites: bookworm-backports
Components: main
Enabled: false

Types: deb deb-src
URIs: file:/srv/vendor/apt
Suites: stable
Components: main
SOURCES

expected="Types: deb-src
URIs: file:/srv/mirror/debian
Suites: bookworm
Components: main contrib
Signed-By: /keys/local.gpg

Types: deb-src
URIs: file:/srv/mirror/debian-security
Suites: bookworm-security
Components: main
Trusted: yes

Types: deb-src
URIs: file:/srv/proxy/debian
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
