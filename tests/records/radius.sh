# shellcheck shell=bash
# A FreeRADIUS server of our own in front of pam_oath: its own configuration
# folder, a loopback port of its own, every request authenticated through
# rlm_pam; the packaged service is never used. Sourced: radius_start
# USERSFILE (77 without root or FreeRADIUS: rlm_pam takes no configuration
# folder, so this run's PAM service file goes to /etc/pam.d); radius_auth USER
# OTP (0 Access-Accept, 1 Access-Reject, 2 no answer); radius_stop.
# RADIUS_PAM_OATH (module path) may be set.

radius_start() {
    local users=$1 try i f
    if [ "$(id -u)" -ne 0 ]; then
        echo "SKIP: FreeRADIUS through PAM needs root: its PAM service file goes to /etc/pam.d"
        return 77
    fi
    if ! command -v freeradius >/dev/null || ! command -v radclient >/dev/null; then
        echo "SKIP: freeradius and radclient are not installed (scripts/setup.sh installs them)"
        return 77
    fi
    for f in /etc/pam.d/vnotp-oath-test-*; do # left by a run that was killed
        [ -e "$f" ] && ! kill -0 "${f##*-}" 2>/dev/null && rm -f "$f"
    done
    RADIUS_DIR=$(mktemp -d) RADIUS_SERVICE=vnotp-oath-test-$$
    od -An -N12 -tx1 /dev/urandom | tr -d ' \n' >"$RADIUS_DIR/secret"
    # rlm_pam asks for the account as well: pam_permit grants it.
    printf 'auth required %s usersfile=%s window=%s\naccount required pam_permit.so\n' \
        "${RADIUS_PAM_OATH:-pam_oath.so}" "$users" 5 >"/etc/pam.d/$RADIUS_SERVICE"
    for try in 1 2 3; do # a port taken meanwhile makes the server exit: try another
        RADIUS_PORT=$((20000 + RANDOM % 40000))
        cat >"$RADIUS_DIR/radiusd.conf" <<EOF
prefix = /usr
confdir = $RADIUS_DIR
run_dir = $RADIUS_DIR
logdir = $RADIUS_DIR
libdir = /usr/lib/freeradius
pidfile = $RADIUS_DIR/radiusd.pid
security {
	reject_delay = 0
	status_server = yes
}
client loopback {
	ipaddr = 127.0.0.1
	secret = $(cat "$RADIUS_DIR/secret")
}
modules {
	pam {
		pam_auth = $RADIUS_SERVICE
	}
}
server default {
	listen {
		type = auth
		ipaddr = 127.0.0.1
		port = $RADIUS_PORT
	}
	authorize {
		update control {
			&Auth-Type := PAM
		}
	}
	authenticate {
		Auth-Type PAM {
			pam
		}
	}
}
EOF
        # The server dies with this shell, even when the shell is killed.
        setpriv --pdeathsig TERM freeradius -f -l stdout -d "$RADIUS_DIR" >>"$RADIUS_DIR/log" 2>&1 &
        RADIUS_PID=$!
        for i in $(seq 50); do
            kill -0 "$RADIUS_PID" 2>/dev/null || break
            echo 'Message-Authenticator = 0x00' | radclient -q -r 1 -t 0.2 -S "$RADIUS_DIR/secret" \
                "127.0.0.1:$RADIUS_PORT" status >/dev/null 2>&1 && return 0
            sleep 0.1
        done
        radius_kill
    done
    echo "FreeRADIUS did not answer; its log:" >&2
    cat "$RADIUS_DIR/log" >&2
    return 1
}

radius_auth() {
    local out
    out=$(printf 'User-Name = "%s", User-Password = "%s"\n' "$1" "$2" |
        radclient -x -r 1 -t 3 -S "$RADIUS_DIR/secret" "127.0.0.1:$RADIUS_PORT" auth 2>&1)
    case $out in
    *"Received Access-Accept"*) return 0 ;;
    *"Received Access-Reject"*) return 1 ;;
    *) echo "$out" >&2 && return 2 ;;
    esac
}

radius_kill() {
    [ -n "${RADIUS_PID:-}" ] || return 0
    kill "$RADIUS_PID" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$RADIUS_PID" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$RADIUS_PID" 2>/dev/null
    wait "$RADIUS_PID" 2>/dev/null
    RADIUS_PID=
}

# Safe to call more than once, and before radius_start.
radius_stop() {
    radius_kill
    [ -z "${RADIUS_SERVICE:-}" ] || rm -f "/etc/pam.d/$RADIUS_SERVICE"
    [ -z "${RADIUS_DIR:-}" ] || rm -rf "$RADIUS_DIR"
    RADIUS_SERVICE= RADIUS_DIR=
}
