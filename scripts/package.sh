#!/usr/bin/env bash
# Builds the program for /usr and makes a Debian package of it in build-package/:
#   scripts/package.sh && sudo apt install ./build-package/quillby_*.deb
# With --sign-key <Ed25519 private key, PEM> the build carries the key's public half (so the
# program installs updates signed with it), the package is signed, and the update feed's item
# for it is printed (fill in the addresses before publishing it):
#   scripts/package.sh --sign-key ~/keys/quillby-update.pem [cmake options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
key=""
if [ "${1:-}" = "--sign-key" ]; then
  key=${2:?"--sign-key needs the private key's path"}
  shift 2
  [ -r "$key" ] || { echo "package.sh: cannot read $key" >&2; exit 1; }
fi
"$root/scripts/install-deps.sh"
dir="$root/build-package"
extra=()
if [ -n "$key" ]; then
  # The raw 32-byte public key is the end of its DER form.
  public=$(openssl pkey -in "$key" -pubout -outform DER | tail -c 32 | base64 -w0)
  extra+=("-DQUILLBY_UPDATE_PUBLIC_KEY=$public")
fi
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++-19 -DCMAKE_C_COMPILER=clang-19 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUILLBY_BUILD_TESTS=OFF -DQUILLBY_BUILD_BENCHMARKS=OFF "${extra[@]}" "$@" >/dev/null
cmake --build "$dir" -j "${QUILLBY_JOBS:-$(nproc)}"
rm -f "$dir"/quillby_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/quillby_*.deb)
echo "$deb"
[ -n "$key" ] || exit 0

signature=$(openssl pkeyutl -sign -inkey "$key" -rawin -in "$deb" | base64 -w0)
# The signature is checked with the public key once, the way the program will.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
openssl pkey -in "$key" -pubout -out "$tmp/public.pem"
echo "$signature" | base64 -d >"$tmp/signature"
openssl pkeyutl -verify -pubin -inkey "$tmp/public.pem" -rawin -in "$deb" -sigfile "$tmp/signature" >/dev/null
version=$(dpkg-deb --field "$deb" Version)
architecture=$(dpkg-deb --field "$deb" Architecture)
length=$(stat -c %s "$deb")
cat <<ITEM
    <item>
      <title>Quillby $version</title>
      <sparkle:version>$version</sparkle:version>
      <sparkle:shortVersionString>$version</sparkle:shortVersionString>
      <link>https://DOWNLOAD-PAGE</link>
      <enclosure url="https://DOWNLOAD-ADDRESS/$(basename "$deb")" sparkle:os="linux-$architecture"
                 length="$length" type="application/vnd.debian.binary-package"
                 sparkle:edSignature="$signature"/>
    </item>
ITEM
