# shellcheck shell=bash
# A throw-away Dovecot POP3 server on 127.0.0.1 for demos and trials.
# Source this file, then:
#   dovecot_prepare DIR PORT [USER] [PASSWORD] [TLSPORT] [OPTION...]
#                                                configuration and an empty Maildir under DIR
#                                                (user alice, password s3cret), written by
#                                                dovecot-setup beside this file. With TLSPORT
#                                                also TLS: a throw-away CA in DIR/tls/ca.pem,
#                                                STLS offered on PORT and POP3S on TLSPORT.
#                                                OPTIONs go to dovecot-setup as they are
#                                                (--imap IMAPPORT, --imaps IMAPSPORT, --oauth2)
#   dovecot_deliver DIR SUBJECT [USER]           one more message in the user's Maildir
#   dovecot_start DIR                            runs Dovecot in the background (DOVECOT_PID)
#   dovecot_wait PORT [SECONDS]                  waits until the port takes connections
#   dovecot_stop                                 stops the Dovecot started above
#   free_port                                    prints a free TCP port on 127.0.0.1
# Nothing of the system's own Dovecot configuration is used. Started by root,
# Dovecot's own and mail processes run as nobody (uid 65534), so DIR is handed
# to that user (the directories above DIR must let it pass: mode 0711 will
# do); started by anyone else, everything runs as that user. See dovecot-setup
# for the files it writes.

DOVECOT_PID=""
DOVECOT_LIB=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

free_port() {
    # Binding to port 0 lets the kernel pick a port nobody uses right now.
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

dovecot_binary() {
    command -v dovecot 2>/dev/null || { [ -x /usr/sbin/dovecot ] && echo /usr/sbin/dovecot; }
}

dovecot_prepare() {
    local dir=$1 port=$2 user=${3:-alice} password=${4:-s3cret} tls_port=${5:-}
    shift $(($# < 5 ? $# : 5))
    "$DOVECOT_LIB/dovecot-setup" "$dir" "$port" "$user" "$password" ${tls_port:+--tls "$tls_port"} "$@"
}

dovecot_deliver() {
    local dir=$1 subject=$2 user=${3:-alice}
    local name
    name="$(date +%s).$$_$RANDOM.postowl-demo"
    # Write into tmp/ and rename into new/, so Dovecot never sees half a message.
    printf 'From: Demo Sender <sender@example.org>\r\nTo: %s@example.org\r\nSubject: %s\r\nDate: %s\r\n\r\n%s\r\n' \
        "$user" "$subject" "$(LC_ALL=C date -R)" "This message waits in a demo mailbox." \
        >"$dir/mail/$user/tmp/$name"
    # Only root runs Dovecot as someone else: the mail user owns the Maildir.
    if [ "$(id -u)" -eq 0 ]; then chown --reference="$dir/mail/$user" "$dir/mail/$user/tmp/$name"; fi
    mv "$dir/mail/$user/tmp/$name" "$dir/mail/$user/new/$name"
}

dovecot_start() {
    local dir=$1 binary
    binary=$(dovecot_binary) || { echo "dovecot is not installed" >&2; return 1; }
    # A session of its own, so dovecot_stop can end the master and everything
    # it forked in one go (SIGTERM to the master alone takes seconds).
    setsid "$binary" -F -c "$dir/dovecot.conf" >>"$dir/dovecot.out" 2>&1 </dev/null &
    DOVECOT_PID=$!
}

dovecot_wait() {
    local port=$1 seconds=${2:-5} tries
    tries=$((seconds * 10))
    while ((tries-- > 0)); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            return 0
        fi
        if [ -n "$DOVECOT_PID" ] && ! kill -0 "$DOVECOT_PID" 2>/dev/null; then
            return 1
        fi
        sleep 0.1
    done
    return 1
}

dovecot_stop() {
    [ -n "$DOVECOT_PID" ] || return 0
    if kill -0 "$DOVECOT_PID" 2>/dev/null; then
        kill -TERM -- "-$DOVECOT_PID" 2>/dev/null || kill -TERM "$DOVECOT_PID" 2>/dev/null || true
        local tries=30
        while ((tries-- > 0)) && kill -0 "$DOVECOT_PID" 2>/dev/null; do sleep 0.1; done
        kill -KILL -- "-$DOVECOT_PID" 2>/dev/null || kill -KILL "$DOVECOT_PID" 2>/dev/null || true
    fi
    wait "$DOVECOT_PID" 2>/dev/null || true
    DOVECOT_PID=""
}
