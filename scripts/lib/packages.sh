# shellcheck shell=bash
# ensure_packages PACKAGE...: installs the Debian packages among them that are
# missing. As root it runs apt-get (apt-get update only when something is
# missing); otherwise it prints the command to run and exits with 1.
# Installing Dovecot must not leave a system-wide POP3 server running on
# port 110: the scripts start their own on a free port.

package_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

ensure_packages() {
    if ! command -v dpkg-query >/dev/null 2>&1; then
        echo "note: not a Debian system; assuming these are installed: $*" >&2
        return 0
    fi
    local missing=() package
    for package in "$@"; do
        package_installed "$package" || missing+=("$package")
    done
    ((${#missing[@]} == 0)) && return 0

    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages: ${missing[*]}" >&2
        echo "Install them with:  sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi

    local had_dovecot=1 own_policy=0
    package_installed dovecot-core || had_dovecot=0
    # Keeps maintainer scripts from starting services during the install
    # (Docker images ship such a policy already; leave theirs alone).
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
        chmod 0755 /usr/sbin/policy-rc.d
        own_policy=1
    fi
    echo "Installing: ${missing[*]}" >&2
    local status=0
    {
        DEBIAN_FRONTEND=noninteractive apt-get update -q &&
            DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
    } || status=$?
    ((own_policy)) && rm -f /usr/sbin/policy-rc.d
    ((status == 0)) || { echo "apt-get failed (exit $status)" >&2; exit "$status"; }

    # A Dovecot we installed ourselves stays off: nothing here needs the
    # system's own server, and it would listen on port 110 for everyone.
    if ((had_dovecot == 0)) && package_installed dovecot-core && [ -d /run/systemd/system ]; then
        systemctl disable --now dovecot.service dovecot.socket >/dev/null 2>&1 || true
    fi
}
