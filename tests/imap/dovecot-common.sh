# A private dovecot for the end-to-end scripts (sourced, not run). Needs $work.
#
#   dovecot_users PASSWORD_FIELD [USER]   # the user ("tester"), its mail under $work/mail
#   dovecot_start IMAP_PORT POP_PORT <<'AUTH'
#   ... auth_mechanisms, passdb and userdb ...
#   AUTH

# Dovecot runs its login processes and the mail of its users as anyone but root: as root
# (CI) its own package users do that, otherwise the user running the test does it all.
# A system dovecot, if the package started one, has other ports, sockets and state.
dovecot_users() {
    internal=$(id -un) login=$(id -un)
    mkdir "$work/mail"
    if [ "$(id -u)" -eq 0 ]; then
        internal=dovecot login=dovenull
        chmod 711 "$work"
        chown "$internal:" "$work/mail"
    fi
    local user=${2:-tester}
    printf '%s:%s:%d:%d::%s\n' "$user" "$1" "$(id -u "$internal")" "$(id -g "$internal")" \
        "$work/mail/$user" >"$work/users"
}

# Writes $work/dovecot.conf with the authentication given on standard input, starts dovecot
# and waits for its ports; its log goes to standard error if it does not come up.
dovecot_start() {
    {
        cat <<CONF
base_dir = $work/run
state_dir = $work/state
log_path = $work/dovecot.log
protocols = imap pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
default_internal_user = $internal
default_internal_group = $(id -gn "$internal")
default_login_user = $login
first_valid_uid = 1
mail_location = maildir:$work/mail/%u
# Logs the user name of each failed login: a client's own must never get here.
auth_verbose = yes
CONF
        cat
        cat <<CONF
# Chroots need root; without them the same file serves a normal user.
service anvil {
    chroot =
}
service imap-login {
    chroot =
    inet_listener imap {
        port = $1
    }
    inet_listener imaps {
        port = 0
    }
}
service pop3-login {
    chroot =
    inet_listener pop3 {
        port = $2
    }
    inet_listener pop3s {
        port = 0
    }
}
CONF
    } >"$work/dovecot.conf"
    "$dovecot" -c "$work/dovecot.conf" -F &
    { wait_for_port "$1" && wait_for_port "$2"; } || { cat "$work/dovecot.log" >&2; return 1; }
}
