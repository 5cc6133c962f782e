#!/usr/bin/env bash
# The Linux desktop integration as a user's system sees it: the install tree,
# the MIME types (the system's database plus ours, compiled as the package's
# trigger compiles it), the thumbnailer entry's command run with a file
# manager's substitutions, and the Debian package's contents and dependencies.
# Usage: desktop_test.sh BUILD_FOLDER SAMPLE_GENERATOR WORK_FOLDER [HARDENED: ON or OFF]
set -euo pipefail
build=$(cd "$1" && pwd) generator=$(realpath "$2") work=$(realpath -m "$3") hardened=${4:-OFF}
rm -rf "$work" && mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
source "$(dirname "$0")/../support/need_tool.sh"
for tool in man update-mime-database gio file cpack dpkg-deb dpkg-shlibdeps; do need "$tool" "install it with tools/install-deps.sh --tests"; done

prefix=$work/usr
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/corvane share/thumbnailers/corvane.thumbnailer share/mime/packages/corvane.xml share/man/man1/corvane.1; do
  [[ -f $prefix/$file ]] || fail "$file is not installed"
done
man --warnings -l "$prefix/share/man/man1/corvane.1" >/dev/null 2>"$work/man.log" || fail "the man page does not format"
[[ ! -s $work/man.log ]] || fail "the man page has warnings: $(cat "$work/man.log")"

"$generator" "$work/samples" >/dev/null
samples=$work/samples
# Without an extension the content decides: the magic rules.
mkdir -p "$work/bare"
cp "$samples/format-UInt16.xisf" "$work/bare/xisf"
cp "$samples/project-source.vmproj" "$work/bare/vmproj"
cp "$(ls "$samples"/*.seq | head -n 1)" "$work/bare/seq"
cp "$(ls "$samples"/*.xpsm | head -n 1)" "$work/bare/xpsm"

# The system's types and ours, compiled into a scratch copy of the database.
mkdir -p "$work/share/mime/packages"
cp /usr/share/mime/packages/*.xml "$prefix/share/mime/packages/corvane.xml" "$work/share/mime/packages/"
XDG_DATA_HOME=$work/share XDG_DATA_DIRS=$work/share update-mime-database "$work/share/mime" >"$work/mime.log" 2>&1 || fail "update-mime-database rejects the types"
[[ ! -s $work/mime.log ]] || fail "update-mime-database: $(cat "$work/mime.log")"
type_of() {
  HOME=$work XDG_DATA_HOME=$work/share XDG_DATA_DIRS=$work/share gio info -a standard::content-type "$1" 2>/dev/null |
    sed -n 's/^ *standard::content-type: //p'
}
expect_type() {
  local got
  got=$(type_of "$1")
  [[ $got == "$2" ]] || fail "$(basename "$1") is $got, not $2"
}
expect_type "$samples/format-UInt16.xisf" image/x-xisf
expect_type "$samples/bitpix16.fits" application/fits
expect_type "$samples/project-source.vmproj" application/x-vmproj
for sample in "$samples"/*.seq; do expect_type "$sample" text/x-siril-seq; done
for sample in "$samples"/*.xpsm; do expect_type "$sample" application/x-xpsm; done
expect_type "$work/bare/xisf" image/x-xisf
expect_type "$work/bare/vmproj" application/x-vmproj
expect_type "$work/bare/seq" text/x-siril-seq
expect_type "$work/bare/xpsm" application/x-xpsm
for name in frame.fits.fz frame.fz; do echo "no FITS magic" >"$work/bare/$name"; expect_type "$work/bare/$name" application/fits; done

# The thumbnailer's command line, substituted as a file manager does.
exec_line=$(sed -n 's/^Exec=//p' "$prefix/share/thumbnailers/corvane.thumbnailer")
mime_line=$(sed -n 's/^MimeType=//p' "$prefix/share/thumbnailers/corvane.thumbnailer")
for type in image/x-xisf application/fits application/x-vmproj; do
  [[ ";$mime_line" == *";$type;"* ]] || fail "the thumbnailer does not serve $type"
done
for sample in format-UInt16.xisf bitpix16.fits project-source.vmproj; do
  command=${exec_line//%i/$samples/$sample}
  command=${command//%o/$work/$sample.png}
  command=${command//%s/128}
  PATH=$prefix/bin:$PATH eval "$command" || fail "the thumbnailer failed on $sample"
  file "$work/$sample.png" | grep -Eq 'PNG image data, (128 x [0-9]+|[0-9]+ x 128)' ||
    fail "$sample: $(file "$work/$sample.png")"
done

# The Debian package, its files and the dependencies dpkg-shlibdeps found.
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null) ||
  fail "cpack could not build the package"
package=$(ls "$work"/package/corvane_*.deb)
contents=$(dpkg-deb -c "$package")
for file in ./usr/bin/corvane ./usr/share/thumbnailers/corvane.thumbnailer ./usr/share/mime/packages/corvane.xml \
            ./usr/share/man/man1/corvane.1 ./usr/share/doc/corvane/copyright; do
  grep -q " $file\$" <<<"$contents" || fail "the package lacks $file"
done
# Built with Debian's hardening (where the build applied it, as every build
# but the sanitizers' does): relocations read-only and bound at start, stack
# protector, fortified calls.
if [[ $hardened == ON ]]; then
  dpkg-deb -x "$package" "$work/unpacked"
  binary=$work/unpacked/usr/bin/corvane
  readelf -lW "$binary" | grep -q GNU_RELRO || fail "the packaged tool has no read-only relocations"
  readelf -dW "$binary" | grep -Eq 'BIND_NOW|FLAGS.*NOW' || fail "the packaged tool binds lazily"
  symbols=$(readelf --dyn-syms -W "$binary")
  grep -q __stack_chk_fail <<<"$symbols" || fail "the packaged tool has no stack protector"
  grep -Eq '__[a-z]+_chk' <<<"$symbols" || fail "the packaged tool calls no fortified functions"
fi
depends=$(dpkg-deb -f "$package" Depends)
[[ $depends == *libpng* && $depends == *libc6* ]] || fail "dependencies not computed: $depends"
echo "desktop: types recognised, thumbnails drawn, package $(basename "$package") depends on: $depends"
