#!/usr/bin/env bash
# Builds the two Windows Installer packages of one staged package folder, with their .sha256:
#   scripts/build-msi.sh --stage DIR --version X.Y.Z --full-version TEXT --out DIR
#     OUT/KelvarinVK-X.Y.Z.msi        for every user of the computer (per machine)
#     OUT/KelvarinVK-X.Y.Z-user.msi   for the current user (per user)
# DIR is the folder that scripts/package.sh zips; everything in it but x64/ is installed, with
# its relative paths, into the install folder. packaging/KelvarinVK.wxs says what else is in
# the packages. They are reproducible as far as the format lets them be: the product code comes
# from the version, the package code from the files, the component codes from their folders,
# and the summary's dates are SOURCE_DATE_EPOCH (default: the commit's date).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
stage= version= full_version= out=
while [ $# -gt 0 ]; do
    case $1 in
        --stage) stage=$2; shift 2 ;;
        --version) version=$2; shift 2 ;;
        --full-version) full_version=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        *) stage= ; break ;;
    esac
done
if [ -z "$stage" ] || [ -z "$version" ] || [ -z "$full_version" ] || [ -z "$out" ]; then
    echo "usage: $0 --stage DIR --version X.Y.Z --full-version TEXT --out DIR" >&2
    exit 2
fi
stage=$(cd "$stage" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315964800)
fi

# A name-based UUID (SHA-1, as RFC 4122 version 5 builds one) of a text, upper case: the same
# text gives the same code in every build.
uuid_of() {
    local h
    h=$(printf 'KelvarinVK\n%s' "$1" | sha1sum | cut -c1-32)
    h=${h:0:12}5${h:13:3}$(printf '%x' $(((0x${h:16:1} & 3) | 8)))${h:17:15}
    echo "${h:0:8}-${h:8:4}-${h:12:4}-${h:16:4}-${h:20:12}" | tr a-f A-F
}
# Identifiers for the installer's tables from relative paths: letters, digits, _ and .
file_id() { printf '%s' "$1" | tr -c 'A-Za-z0-9_.' '_'; }
id_of() { printf '%s_%s' "$1" "$(file_id "$2")"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kv-msi.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The folders of the install folder, parents before children ("." is the install folder).
mapfile -t folders < <(cd "$stage" && find . -path ./x64 -prune -o -type d -print |
    sed 's|^\./||' | LC_ALL=C sort)

# payload.wxi: a component per folder with the folder's files. Per user, the install folder is
# in the user's profile: there every folder, one without files too, has a component whose key
# path is a value under HKCU (a file cannot tell the installer for which user it was installed)
# and which removes its folder. Per machine, the installer makes and removes the folders of the
# files itself; a component of a folder without files would keep that folder (and so the
# install folder) on the disk.
payload() {
    local scope=$1 folder dir name files file keyfile keypath key components=()
    {
        echo '<Include><Fragment>'
        echo '  <DirectoryRef Id="INSTALLDIR">'
        local open=()  # the folders whose Directory element is open
        for folder in "${folders[@]}"; do
            # Close the open folders that do not hold this one.
            while [ ${#open[@]} -gt 0 ] && [[ "$folder/" != "${open[-1]}/"* ]]; do
                echo '  </Directory>'
                unset 'open[-1]'
            done
            if [ "$folder" = . ]; then
                dir=INSTALLDIR
                key=root
            else
                dir=$(id_of d "$folder")
                key=$folder
                echo "  <Directory Id=\"$dir\" Name=\"$(basename "$folder")\">"
                open+=("$folder")
            fi
            mapfile -t files < <(cd "$stage/$folder" && find . -maxdepth 1 -type f | sed 's|^\./||' |
                LC_ALL=C sort)
            [ "$scope" = machine ] && [ ${#files[@]} -eq 0 ] && continue
            components+=("$(id_of c "$key")")
            echo "    <Component Id=\"${components[-1]}\" Guid=\"$(uuid_of "component $scope $key")\">"
            # Per machine, a file is the key path: the DLL where it is, else the first.
            keyfile=${files[0]:-}
            [ -e "$stage/$folder/KelvarinVK.dll" ] && keyfile=KelvarinVK.dll
            for file in "${files[@]}"; do
                # Files in the install folder keep their names as identifiers ([#KelvarinVK.dll]).
                if [ "$folder" = . ]; then name=$file; else name=$folder/$file; fi
                keypath=
                [ "$scope" = machine ] && [ "$file" = "$keyfile" ] && keypath=' KeyPath="yes"'
                echo "      <File Id=\"$(file_id "$name")\" Name=\"$file\" Source=\"$name\"$keypath/>"
            done
            if [ "$scope" = user ]; then
                echo "      <RegistryValue Root=\"HKCU\" Key=\"Software\\KelvarinVK\\Installer\" Name=\"${key//\//\\}\" Type=\"integer\" Value=\"1\" KeyPath=\"yes\"/>"
                echo "      <RemoveFolder Id=\"$(id_of r "$key")\" On=\"uninstall\"/>"
            fi
            echo '    </Component>'
        done
        while [ ${#open[@]} -gt 0 ]; do
            echo '  </Directory>'
            unset 'open[-1]'
        done
        echo '  </DirectoryRef>'
        echo '  <ComponentGroup Id="Payload">'
        for id in "${components[@]}"; do echo "    <ComponentRef Id=\"$id\"/>"; done
        echo '  </ComponentGroup>'
        echo '</Fragment></Include>'
    } >"$work/$scope/payload.wxi"
}

# What the package code stands for: the scope, the full version and every file's content.
content=$(cd "$stage" && find . -path ./x64 -prune -o -type f -print | LC_ALL=C sort |
    xargs -d '\n' sha256sum)
# The installer's clock, for the summary's dates: frozen at SOURCE_DATE_EPOCH.
frozen=$(TZ=UTC date -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S')

for scope in machine user; do
    name=KelvarinVK-$version
    [ $scope = user ] && name=$name-user
    msi=$out/$name.msi
    mkdir -p "$work/$scope"
    payload $scope
    rm -f "$msi" "$msi.sha256"
    # Sources are relative to the staged folder; payload.wxi is found through -I.
    (cd "$stage" && TZ=UTC faketime -f "$frozen" wixl -a x86 -I "$work/$scope" \
        -D Scope=$scope -D Version="$version" \
        -D ProductCode="$(uuid_of "product $scope $version")" \
        -o "$msi" "$root/packaging/KelvarinVK.wxs")
    # wixl gives every build a new package code and leaves the files unversioned: the package
    # code is made to follow the content, and the programs (every .dll and .exe of the install
    # folder carries the project's version) their file version, so that a repair or an upgrade
    # compares versions as it should.
    versions=()
    for file in $(cd "$stage" && ls *.dll *.exe); do
        versions+=(-q "UPDATE \`File\` SET \`Version\`='$version.0' WHERE \`File\`='$(file_id "$file")'")
    done
    TZ=UTC faketime -f "$frozen" msibuild "$msi" "${versions[@]}"
    TZ=UTC faketime -f "$frozen" msibuild "$msi" -s "KelvarinVK $version" KelvarinVK "Intel;1049" \
        "{$(uuid_of "package $scope $full_version"$'\n'"$content")}"
    (cd "$out" && sha256sum "$name.msi" >"$name.msi.sha256")
    echo "installer $full_version ($scope): $msi, $(stat -c %s "$msi") bytes"
done
