# A throwaway MIT Kerberos realm on loopback, all of it in one folder: its
# own krb5.conf, KDC profile, databases, keytabs and credential caches. One
# KDC process serves two realms, DORVANE.TEST (the server's) and OTHER.TEST
# (a realm the server does not trust), on one free port. Nothing outside the
# folder is read or written; the caller points KRB5_CONFIG, KRB5CCNAME and
# KRB5RCACHEDIR at it for its own processes only.
#
# Source it for the functions, or run it:
#   krbrealm.sh create DIR     set up both realms and start the KDC
#   krbrealm.sh service DIR PORT   add MSSQLSvc/127.0.0.1:PORT to both realms;
#                              DIR/server.keytab gets the DORVANE.TEST keys
#   krbrealm.sh stop DIR       stop the KDC
#
# Principals: alice, carol and shortlived (maximum ticket life 10 s) in
# DORVANE.TEST; alice in OTHER.TEST. Each has a keytab DIR/<name>.keytab
# (DIR/alice-other.keytab for OTHER.TEST), so kinit needs no password:
#   KRB5_CONFIG=DIR/krb5.conf kinit -k -t DIR/alice.keytab alice
# DIR/krb5-other.conf is the same set-up for a machine of OTHER.TEST (its
# default realm).

KRB_REALM=DORVANE.TEST
KRB_OTHER=OTHER.TEST

krb_fail() {
    echo "krbrealm: $*" >&2
    [[ -f "$KRB_DIR/kdc.log" ]] && tail -20 "$KRB_DIR/kdc.log" >&2
    return 1
}

# krb_env DIR: the variables the Kerberos tools of this realm need.
krb_env() {
    KRB_DIR=$1
    export KRB5_CONFIG="$KRB_DIR/krb5.conf"
    export KRB5_KDC_PROFILE="$KRB_DIR/kdc.conf"
    export KRB5RCACHEDIR="$KRB_DIR"
    export KRB5CCNAME="FILE:$KRB_DIR/ccache"
}

krb_write_conf() { # PORT DEFAULT_REALM FILE
    cat >"$3" <<CONF
[libdefaults]
    default_realm = $2
    dns_lookup_kdc = false
    dns_lookup_realm = false
    dns_canonicalize_hostname = false
    rdns = false
    udp_preference_limit = 1
[realms]
    $KRB_REALM = {
        kdc = 127.0.0.1:$1
    }
    $KRB_OTHER = {
        kdc = 127.0.0.1:$1
    }
[logging]
    default = FILE:$KRB_DIR/krb5lib.log
CONF
}

krb_write_kdc_conf() { # PORT
    local realm
    {
        printf '[kdcdefaults]\n    kdc_ports = %s\n    kdc_tcp_ports = %s\n[realms]\n' "$1" "$1"
        for realm in "$KRB_REALM" "$KRB_OTHER"; do
            cat <<CONF
    $realm = {
        database_name = $KRB_DIR/db-$realm
        key_stash_file = $KRB_DIR/stash-$realm
        acl_file = $KRB_DIR/kadm5.acl
        max_life = 1h
        max_renewable_life = 0
        supported_enctypes = aes256-cts-hmac-sha1-96:normal aes128-cts-hmac-sha1-96:normal
    }
CONF
        done
        printf '[logging]\n    kdc = FILE:%s/kdc.log\n    admin_server = FILE:%s/kadmin.log\n' "$KRB_DIR" "$KRB_DIR"
    } >"$KRB_DIR/kdc.conf"
}

krb_admin() { # REALM QUERY
    kadmin.local -r "$1" -q "$2" >>"$KRB_DIR/kadmin.out" 2>&1 || krb_fail "kadmin.local -r $1 -q '$2' failed"
}

krb_create() { # DIR
    krb_env "$1"
    mkdir -p "$KRB_DIR" || return 1
    : >"$KRB_DIR/kadm5.acl"
    local realm port started=0 attempt
    for attempt in 1 2 3 4 5 6 7 8; do
        port=$((20000 + RANDOM % 40000))
        krb_write_conf "$port" "$KRB_REALM" "$KRB_DIR/krb5.conf"
        krb_write_conf "$port" "$KRB_OTHER" "$KRB_DIR/krb5-other.conf"
        krb_write_kdc_conf "$port"
        if [[ ! -f "$KRB_DIR/db-$KRB_REALM" ]]; then
            for realm in "$KRB_REALM" "$KRB_OTHER"; do
                kdb5_util -r "$realm" create -s -P "master-$RANDOM$RANDOM" >>"$KRB_DIR/kadmin.out" 2>&1 \
                    || krb_fail "kdb5_util create $realm failed" || return 1
            done
        fi
        : >"$KRB_DIR/kdc.log"
        krb5kdc -n -r "$KRB_REALM" -r "$KRB_OTHER" >>"$KRB_DIR/kdc.out" 2>&1 &
        echo $! >"$KRB_DIR/kdc.pid"
        local i
        for i in $(seq 100); do
            if grep -q "commencing operation" "$KRB_DIR/kdc.log" 2>/dev/null; then
                started=1
                break
            fi
            kill -0 "$(cat "$KRB_DIR/kdc.pid")" 2>/dev/null || break
            sleep 0.1
        done
        [[ $started == 1 ]] && break
        kill "$(cat "$KRB_DIR/kdc.pid")" 2>/dev/null
        wait "$(cat "$KRB_DIR/kdc.pid")" 2>/dev/null
    done
    [[ $started == 1 ]] || krb_fail "the KDC did not start" || return 1
    echo "$port" >"$KRB_DIR/kdc.port"

    krb_admin "$KRB_REALM" "addprinc -randkey alice" || return 1
    krb_admin "$KRB_REALM" "addprinc -randkey carol" || return 1
    krb_admin "$KRB_REALM" "addprinc -randkey -maxlife 10s shortlived" || return 1
    krb_admin "$KRB_OTHER" "addprinc -randkey alice" || return 1
    krb_admin "$KRB_REALM" "ktadd -k $KRB_DIR/alice.keytab alice" || return 1
    krb_admin "$KRB_REALM" "ktadd -k $KRB_DIR/carol.keytab carol" || return 1
    krb_admin "$KRB_REALM" "ktadd -k $KRB_DIR/shortlived.keytab shortlived" || return 1
    krb_admin "$KRB_OTHER" "ktadd -k $KRB_DIR/alice-other.keytab alice" || return 1
    # The server's keytab exists before the server starts (the server checks
    # it at start); the port-specific principal is added once the port is known.
    krb_admin "$KRB_REALM" "addprinc -randkey MSSQLSvc/127.0.0.1" || return 1
    krb_admin "$KRB_REALM" "ktadd -k $KRB_DIR/server.keytab MSSQLSvc/127.0.0.1" || return 1
}

krb_service() { # DIR PORT
    krb_env "$1"
    local spn="MSSQLSvc/127.0.0.1:$2"
    krb_admin "$KRB_REALM" "addprinc -randkey $spn" || return 1
    krb_admin "$KRB_REALM" "ktadd -k $KRB_DIR/server.keytab $spn" || return 1
    krb_admin "$KRB_OTHER" "addprinc -randkey $spn" || return 1
}

krb_stop() { # DIR
    local pidfile="$1/kdc.pid"
    [[ -f "$pidfile" ]] || return 0
    local pid
    pid=$(cat "$pidfile")
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    rm -f "$pidfile"
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
    case "${1:-}" in
    create) krb_create "${2:?DIR}" ;;
    service) krb_service "${2:?DIR}" "${3:?PORT}" ;;
    stop) krb_stop "${2:?DIR}" ;;
    *) echo "usage: $0 create DIR | service DIR PORT | stop DIR" >&2; exit 2 ;;
    esac
fi
