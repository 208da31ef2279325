# shellcheck shell=bash
# Sourced by tools/install-deps and tools/build-windows.
#
#   apt_update [apt-get option...]
#
# Runs apt-get update until every index arrives. A mirror caught mid-sync serves an index whose
# size or hash disagrees with its Release file and apt-get exits 100, though every other index
# arrived. The update is tried again after a pause; after the last try the run goes on with the
# indexes apt has, and the install that follows says if a package cannot be had without the missing
# one.
# The command that raises apt to root (sudo) when the caller is not; the caller sets it.
apt_sudo=()

# shellcheck disable=SC2120 # options are passed by build-windows' source fetch
apt_update() {
    local try pause
    for try in 1 2 3; do
        if "${apt_sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q "$@" update; then
            return 0
        fi
        ((try < 3)) || break
        pause=$((try * 15))
        echo "apt: the package indexes did not all arrive (try $try of 3); trying again in ${pause}s" >&2
        sleep "$pause"
    done
    echo "apt: going on with the package indexes already here" >&2
    return 0
}

# apt_install PACKAGE...: installs, trying again once after a fresh update if a download fails.
apt_install() {
    if "${apt_sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@"; then
        return 0
    fi
    echo "apt: install failed; updating the indexes and trying once more" >&2
    sleep 30
    # shellcheck disable=SC2119 # the system's own indexes
    apt_update
    "${apt_sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@"
}
