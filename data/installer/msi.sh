#!/bin/sh
# Builds one Windows Installer package (quellor.wxs) from a program folder:
#   msi.sh VERSION x86|x64 SOURCE OUTFILE
# make dist runs it on the clean program folder, the tests for an earlier version.
set -eu
version=$1 arch=$2
here=$(cd "$(dirname "$0")" && pwd)
out=$(realpath -m "$4")
# wixl finds files only below the current folder.
cd "$3"

# The Windows Installer compares the first three fields of a version only: the versions to
# replace are those below the next third field.
IFS=. read -r major minor patch rest <<EOF
$version
EOF
below="$major.$minor.$((patch + 1))"

rm -f "$out"
wixl -a "$arch" -D Version="$version" -D UpgradeBelow="$below" -D Arch="$arch" \
  -D Source=. -D DataDir="$(realpath --relative-to=. "$here/..")" -o "$out" "$here/quellor.wxs"

# What wixl has no element for: the entry an installer-made Quellor left in Add or Remove
# Programs goes ('-': the key and all below it) when the package takes that Quellor's place.
# QUELLOR.EXE is 32-bit, so the entry lies in the 32-bit view, where the Shortcuts component
# writes.
msibuild "$out" -q "CREATE TABLE \`RemoveRegistry\` (\`RemoveRegistry\` CHAR(72) NOT NULL,
  \`Root\` SHORT NOT NULL, \`Key\` CHAR(255) NOT NULL LOCALIZABLE, \`Name\` CHAR(255) LOCALIZABLE,
  \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`RemoveRegistry\`)"
msibuild "$out" -q "INSERT INTO \`RemoveRegistry\`
  (\`RemoveRegistry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`) VALUES ('SetupEntry', 2,
  'Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quellor', '-', 'Shortcuts')"
# The 32-bit package ships no QUELLOR64.DLL: the one an installer-made Quellor left goes.
if [ "$arch" = x86 ]; then
  msibuild "$out" -q "INSERT INTO \`RemoveFile\`
    (\`FileKey\`, \`Component_\`, \`FileName\`, \`DirProperty\`, \`InstallMode\`)
    VALUES ('SetupHelper64', 'Helper', 'QUELLOR64.DLL', 'INSTALLDIR', 1)"
fi
