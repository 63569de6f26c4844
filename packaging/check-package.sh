#!/usr/bin/env bash
# Checks a built ifc-server package the way a Debian archive would look at it first: the
# programs, the service unit, the documentation with a copyright file and a compressed
# changelog, man pages and bash completions; a real maintainer; files owned by root; and
# documentation whose links lead to files the package has. Exits non-zero with a line per
# fault.
#
#   packaging/check-package.sh build/default/ifc-server_1.0.0_amd64.deb
set -euo pipefail

deb=$1
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
faults=0
fault() {
  echo "check-package: $deb: $*"
  faults=$((faults + 1))
}

doc=usr/share/doc/ifc-server
for file in usr/bin/ifc-server usr/bin/ifc-client usr/bin/ifc-settings usr/bin/ifc-gateway \
            usr/bin/ifc-proxy $doc/proxy.md $doc/proxy-rules/cut-answer.json \
            usr/share/man/man1/ifc-proxy.1.gz \
            usr/lib/systemd/system/ifc-server.service usr/lib/systemd/system/ifc-gateway.service \
            etc/ifc-gateway.conf \
            $doc/README.md $doc/protocol.md $doc/operations.md $doc/client.md $doc/gateway.md \
            $doc/settings-documents.md $doc/settings-document.schema.json \
            $doc/copyright $doc/changelog.gz \
            usr/share/man/man1/ifc-server.1.gz usr/share/man/man1/ifc-client.1.gz \
            usr/share/man/man1/ifc-settings.1.gz usr/share/man/man1/ifc-gateway.1.gz \
            usr/share/bash-completion/completions/ifc-client \
            usr/share/bash-completion/completions/ifc-settings; do
  [ -f "$unpacked/$file" ] || fault "lacks /$file"
done

maintainer=$(dpkg-deb -f "$deb" Maintainer)
version=$(dpkg-deb -f "$deb" Version)
[[ $maintainer =~ ^[^@\<]+\ \<[^@\>]+@[^@\>]+\>$ ]] || fault "maintainer '$maintainer' is not 'Name <address>'"
[[ $maintainer == *localhost* ]] && fault "maintainer '$maintainer' is a local account"

if [ -f "$unpacked/$doc/copyright" ]; then
  head -1 "$unpacked/$doc/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fault "copyright is not in the machine-readable format"
fi
if [ -f "$unpacked/$doc/changelog.gz" ]; then
  gzip -dc "$unpacked/$doc/changelog.gz" | head -1 | grep -q "^ifc-server ($version) " ||
    fault "changelog does not start with version $version"
  gzip -dc "$unpacked/$doc/changelog.gz" | grep -q "^ -- $maintainer  " ||
    fault "changelog is not signed by the maintainer"
fi
for page in "$unpacked"/usr/share/man/man1/*.1.gz; do
  [ -f "$page" ] || continue
  gzip -dc "$page" | grep -q '^\.TH ' || fault "${page#"$unpacked"} is not a man page"
done

# Every file belongs to root: a package must not hand files to the builder's account.
if dpkg-deb -c "$deb" | awk '{ print $2 }' | grep -qv '^root/root$'; then
  fault "files not owned by root/root"
fi

# Links between the documents: each relative target must be a file of the package.
for md in "$unpacked/$doc"/*.md; do
  while IFS= read -r target; do
    target=${target%%#*}
    [ -z "$target" ] && continue
    [ -f "$(dirname "$md")/$target" ] || fault "${md#"$unpacked"} links to missing $target"
  done < <(grep -o '](\([^)]*\))' "$md" | sed 's/^](\(.*\))$/\1/' | grep -v '^[a-z]*:' || true)
done

if ((faults)); then
  exit 1
fi
echo "check-package: $deb: files, maintainer, copyright, changelog, man pages, links: ok"
