# Sourced inside a private mount namespace, after `config map pam` ran:
# makes the PAM library read /var/run/pam.conf as its single-file
# configuration, with the router's own modules replaced by the probe module
# $PROBE (with PROBE_ALL=1 the library's own modules too, so that every rule
# is seen).  The PAM library reads the single file only when neither
# /etc/pam.d nor its vendor directory exists, so both are hidden.
set -e
W=/run/pamcheck
SEC=$(dirname "$(readlink -f "$(ls /lib/*/security/pam_deny.so /lib/security/pam_deny.so /usr/lib/*/security/pam_deny.so 2>/dev/null | head -n1)")")
mkdir -p $W/sec $W/etc
PROBED="qel tacplus radius_auth ldap token_decrypt google_authenticator"
if [ -n "$PROBE_ALL" ]; then
    PROBED="$PROBED deny warn env motd"
else
    for m in deny warn env motd; do cp "$SEC/pam_$m.so" $W/sec/; done
fi
for m in $PROBED; do
    cp "$PROBE" $W/sec/pam_$m.so
done
for f in ld.so.cache passwd group nsswitch.conf; do
    [ -e /etc/$f ] && cp /etc/$f $W/etc/
done
cp /var/run/pam.conf $W/etc/pam.conf
mount -t tmpfs pamcheck /etc
cp -a $W/etc/. /etc/
for vendor in /usr/lib/pam.d /usr/share/pam.d /lib/pam.d; do
    [ -d "$vendor" ] || continue
    parent=$(readlink -f "$(dirname $vendor)")
    [ -d "$parent/pam.d" ] || continue
    # Build a copy of the parent from bind mounts of everything but pam.d,
    # then put it over the parent in one step (the loader lives there).
    new=$W/lib$(echo "$parent" | tr / _)
    mkdir -p "$new"
    for e in "$parent"/* "$parent"/.[!.]*; do
        [ -e "$e" ] || [ -L "$e" ] || continue
        n=${e##*/}
        [ "$n" = pam.d ] && continue
        if [ -L "$e" ]; then cp -P "$e" "$new/$n"
        elif [ -d "$e" ]; then mkdir "$new/$n"; mount --bind "$e" "$new/$n"
        else : > "$new/$n"; mount --bind "$e" "$new/$n"
        fi
    done
    mount --rbind "$new" "$parent"
done
mount --bind $W/sec "$SEC"
export PAM_PROBE_LOG=$W/log
: > $PAM_PROBE_LOG
set +e
