#!/usr/bin/env bash
# Prints deb-src entries (deb822) for the machine's own Debian "deb" entries:
# the same URIs, suites, components, signing key and trust options (apt
# refuses a pair whose trust differs), so that source packages come from
# wherever its binary packages come from (a local mirror or proxy included).
# Only entries whose suites all belong to this release count, which leaves
# out most third-party repositories. Prints nothing when there are none.
# Usage: tools/deb-src-entries.sh CODENAME [FILE...]
#   (default files: apt's sources.list and sources.list.d/*.list, *.sources)
set -euo pipefail
codename=$1
shift
if [[ $# -eq 0 ]]; then
  set -- /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources
fi

for file in "$@"; do
  [[ -f $file ]] || continue
  if [[ $file == *.sources ]]; then
    # deb822: stanzas separated by blank lines; comments and continuation lines are kept apart.
    awk -v codename="$codename" '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && enabled !~ /^(no|false|off|disable|without)$/ && uris != "" && ours(suites)) {
          printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\n", uris, suites, components
          if (signedBy != "") printf "Signed-By: %s\n", signedBy
          if (trusted != "") printf "Trusted: %s\n", trusted
          if (validUntil != "") printf "Check-Valid-Until: %s\n", validUntil
          printf "\n"
        }
        types = uris = suites = components = signedBy = enabled = trusted = validUntil = ""; field = ""
      }
      function ours(list,   n, i, words) {
        n = split(list, words, " ")
        for (i = 1; i <= n; i++) if (words[i] != codename && index(words[i], codename "-") != 1) return 0
        return n > 0
      }
      { sub(/\r$/, "") }
      /^#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^[ \t]/ { if (field == "signed-by") signedBy = signedBy "\n" $0; next }
      {
        colon = index($0, ":"); name = tolower(substr($0, 1, colon - 1)); value = substr($0, colon + 1)
        gsub(/^[ \t]+|[ \t]+$/, "", value); field = name
        if (name == "types") types = value
        else if (name == "uris") uris = value
        else if (name == "suites") suites = value
        else if (name == "components") components = value
        else if (name == "signed-by") signedBy = value
        else if (name == "enabled") enabled = tolower(value)
        else if (name == "trusted") trusted = value
        else if (name == "check-valid-until") validUntil = value
      }
      END { flush() }' "$file"
  else
    # One-line format: deb [options] URI SUITE COMPONENT...
    awk -v codename="$codename" '
      { sub(/\r$/, "") }
      $1 != "deb" { next }
      {
        signedBy = trusted = validUntil = ""; i = 2
        if ($2 ~ /^\[/) {
          for (; i <= NF; i++) {
            option = $i; gsub(/[\[\]]/, "", option)
            if (option ~ /^signed-by=/) signedBy = substr(option, 11)
            if (option ~ /^trusted=/) trusted = substr(option, 9)
            if (option ~ /^check-valid-until=/) validUntil = substr(option, 19)
            if ($i ~ /\]$/) { i++; break }
          }
        }
        uri = $i; suite = $(i + 1)
        if (suite != codename && index(suite, codename "-") != 1) next
        components = ""
        for (j = i + 2; j <= NF && $j !~ /^#/; j++) components = components (components == "" ? "" : " ") $j
        printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\n", uri, suite, components
        if (signedBy != "") printf "Signed-By: %s\n", signedBy
        if (trusted != "") printf "Trusted: %s\n", trusted
        if (validUntil != "") printf "Check-Valid-Until: %s\n", validUntil
        printf "\n"
      }' "$file"
  fi
done
