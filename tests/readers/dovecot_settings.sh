# Sourced by the Dovecot read-back tests after they made $work: the user Dovecot reads
# the mail as (uid, gid) and the settings every temporary configuration shares.
# Dovecot never opens mail as root: as root, it reads the mail as nobody.
uid=$(id -u) gid=$(id -g)
if [[ $uid == 0 ]]; then
  uid=65534 gid=65534
fi

# The lines of a configuration beyond its mail location: this user, and every file of
# Dovecot's own inside $work.
dovecot_shared_settings() {
  cat <<CONF
first_valid_uid = 0
mail_uid = $uid
mail_gid = $gid
first_valid_gid = 0
base_dir = $work/run
state_dir = $work/state
log_path = $work/dovecot.log
ssl = no
CONF
}
