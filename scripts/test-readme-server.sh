#!/usr/bin/env bash
# Runs the commands of README.md's server section ("## On a server", its
# ```sh blocks) as a server user types them, in a scratch home, so that they
# stay true: the package given, the sandbox marketplace as the platform, and
# small stand-ins for what cannot run here: apt and sudo (the package is
# unpacked into a scratch root), the user manager's systemctl (it starts the
# unit's ExecStart line for the instance), journalctl (the unit's output so
# far) and loginctl. Both systemd stand-ins refuse a unit name that systemd
# itself would not take as typed (it would escape it with a warning).
#
#   bash scripts/test-readme-server.sh DEB SANDBOX_DEB [README [HEADING]]
#
# HEADING is the server section's heading line (default "## On a server").
set -uo pipefail
deb=$(realpath "$1")
sandbox_deb=$(realpath "$2")
readme=$(realpath "${3:-README.md}")
heading=${4:-## On a server}
scratch=$(mktemp -d)
sandbox_pid=
cleanup() {
  [ -s "$scratch/unit.pid" ] && kill -TERM "$(cat "$scratch/unit.pid")" 2>/dev/null
  if [ -n "$sandbox_pid" ]; then
    kill -TERM "$sandbox_pid" 2>/dev/null
    wait "$sandbox_pid" 2>/dev/null
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
die() { echo "test-readme-server: $*" >&2; exit 1; }

# The section's shell blocks, without the list's indentation.
awk -v heading="$heading" '
  /^## / { inside = ($0 == heading) }
  inside && /^ *```sh$/ { block = 1; indent = index($0, "`") - 1; next }
  block && /^ *```$/ { block = 0; next }
  block { print substr($0, indent + 1) }
' "$readme" >"$scratch/commands.sh"
[ -s "$scratch/commands.sh" ] || die "no sh blocks in the section '$heading' of $readme"

# The marketplace, from its own package.
dpkg -x "$sandbox_deb" "$scratch/tools" || die "dpkg -x of the sandbox failed"
: >"$scratch/sandbox.out"
"$scratch/tools/usr/bin/quillmere-sandbox" --port 0 --trades 0 >>"$scratch/sandbox.out" 2>&1 &
sandbox_pid=$!
base=
for _ in $(seq 1 100); do
  base=$(sed -n 's/^listening on //p' "$scratch/sandbox.out" | head -n 1)
  [ -n "$base" ] && break
  sleep 0.1
done
[ -n "$base" ] || die "the sandbox did not start: $(cat "$scratch/sandbox.out")"
field() { sed -n "s/^$1: //p" "$scratch/sandbox.out" | head -n 1; }
nick=$(field "seller nick")
trade() { printf '{"buyer_nick":"%s","ended_hours_ago":%s.5,"buyer_rate":"%s"}' "$2" "$1" "${3:-none}"; }
curl -fsS -X POST -H 'Content-Type: application/json' \
  --data "{\"trades\":[$(trade 340 due_a),$(trade 350 due_b),$(trade 20 later_c),$(trade 100 rated_d neutral)]}" \
  "$base/__sandbox/trades" >/dev/null || die "cannot seed trades"

# The README's account is the sandbox's demo seller; its placeholder key and
# secret become the sandbox's.
grep -qF -- "--account $nick " "$scratch/commands.sh" && grep -qF "systemd-escape $nick)" "$scratch/commands.sh" ||
  die "the section does not name the account '$nick' (with --account and with systemd-escape)"
sed -i -e "s/^appkey=.*/appkey=$(field "app key")/" -e "s/^AppSecret=.*/AppSecret=$(field "app secret")/" \
  "$scratch/commands.sh"

# The browser's part of --authorize: log in and allow; the final page's
# address is what the user pastes.
consent=$(curl -fsS -o /dev/null -w '%{redirect_url}' --data-urlencode "response_type=token" \
  --data-urlencode "client_id=$(field "app key")" --data-urlencode "TPL_username=$nick" \
  --data-urlencode "TPL_password=$(field "login password")" "$base/authorize/login")
curl -fsS -o /dev/null -w '%{redirect_url}\n' --data-urlencode "client_id=$(field "app key")" \
  --data-urlencode "ticket=${consent##*ticket=}" --data-urlencode "agree=1" "$base/authorize/consent" \
  >"$scratch/pasted" || die "the OAuth pages did not answer"

root=$scratch/root
stubs=$scratch/stubs
work=$scratch/work
mkdir -p "$root" "$stubs" "$work" "$scratch/home"
cp "$deb" "$work/"
stub() { printf '#!/usr/bin/env bash\nset -u\n%s\n' "$2" >"$stubs/$1"; chmod +x "$stubs/$1"; }
stub sudo 'exec "$@"'
stub apt "
case \"\$1 \${2:-}\" in
  'install ./'*) [ -f \"\$2\" ] && dpkg -x \"\$2\" '$root' ;;
  'remove quillmere') rm -rf '$root/usr' ;;
  *) echo \"apt stand-in: \$*\" >&2; exit 100 ;;
esac"
stub loginctl '[ "$1" = enable-linger ] && [ -n "${2:-}" ]'
# unit-name-ok NAME: systemd's own check of a unit name (systemd-analyze
# refuses a unit file whose name it would have to escape), on the packaged
# template under that name.
cat >"$scratch/unit-name-ok" <<EOF
#!/usr/bin/env bash
unit=\${1%.service}
template='$root/usr/lib/systemd/user/'\${unit%%@*}@.service
[ -f "\$template" ] || { echo "Unit \$unit.service not found." >&2; exit 5; }
mkdir -p '$scratch/units'
sed "s#^ExecStart=/usr/bin/#ExecStart=$root/usr/bin/#" "\$template" >"$scratch/units/\$unit.service"
systemd-analyze verify "$scratch/units/\$unit.service" >/dev/null 2>&1 ||
  { echo "Invalid unit name \"\$unit\" (maybe you should use systemd-escape?)" >&2; exit 1; }
EOF
chmod +x "$scratch/unit-name-ok"
stub quillmere-headless "
[ -x '$root/usr/bin/quillmere-headless' ] || { echo 'quillmere-headless: command not found' >&2; exit 127; }
exec '$root/usr/bin/quillmere-headless' \"\$@\" --platform '$base'"
# systemctl --user enable --now | restart | disable --now UNIT: the unit's
# ExecStart for the unescaped instance, as the user manager runs it.
stub systemctl "
[ \"\$1\" = --user ] || { echo 'systemctl stand-in: --user only' >&2; exit 1; }
shift
action=\$1; [ \"\$action\" != restart ] && shift
unit=\${2:-\$1}; unit=\${unit%.service}
'$scratch/unit-name-ok' \"\$unit\" || exit 1
template='$root/usr/lib/systemd/user/'\${unit%%@*}@.service
instance=\$(systemd-escape --unescape -- \"\${unit#*@}\")
stop() {
  pid=\$(cat '$scratch/unit.pid' 2>/dev/null)
  [ -n \"\$pid\" ] && kill -TERM \"\$pid\" 2>/dev/null
  for _ in \$(seq 1 100); do kill -0 \"\$pid\" 2>/dev/null || break; sleep 0.1; done
  : >'$scratch/unit.pid'
}
start() {
  exec_start=\$(sed -n 's/^ExecStart=//p' \"\$template\")
  read -ra cmd <<<\"\${exec_start//%I/\$instance}\"
  cmd[0]='$root'\${cmd[0]}
  before=\$(stat -c %s '$scratch/journal' 2>/dev/null || echo 0)
  setsid \"\${cmd[@]}\" --platform '$base' >>'$scratch/journal' 2>&1 </dev/null &
  echo \$! >'$scratch/unit.pid'
  # Started once it has said so, which also means it takes SIGTERM.
  for _ in \$(seq 1 100); do [ \"\$(stat -c %s '$scratch/journal')\" -gt \"\$before\" ] && break; sleep 0.1; done
}
case \$action in
  enable) start ;;
  restart) stop; start ;;
  disable) stop ;;
  *) echo \"systemctl stand-in: \$action\" >&2; exit 1 ;;
esac"
# journalctl --user -u UNIT [-f]: what the unit printed once its first
# refresh has passed and the output has come to rest.
stub journalctl "
[ \"\$1 \$2\" = '--user -u' ] || { echo 'journalctl stand-in: --user -u UNIT only' >&2; exit 1; }
'$scratch/unit-name-ok' \"\$3\" || exit 1
for _ in \$(seq 1 120); do
  grep -q ' refresh: ' '$scratch/journal' 2>/dev/null && break
  sleep 0.5
done
size=-1
while [ \"\$size\" != \"\$(stat -c %s '$scratch/journal')\" ]; do size=\$(stat -c %s '$scratch/journal'); sleep 2; done
cat '$scratch/journal'"

echo "test-readme-server: the server section's commands against $base:"
sed 's/^/  /' "$scratch/commands.sh"
(cd "$work" && env -i HOME="$scratch/home" USER=seller LANG=C.UTF-8 PATH="$stubs:/usr/bin:/bin" \
  bash -e "$scratch/commands.sh" <"$scratch/pasted") >"$scratch/run.out" 2>&1
code=$?

failed=0
expect() {  # WHAT COMMAND...
  if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failed=1; fi
}
has() { grep -qF -- "$2" "$1"; }
expect "every command ran (exit $code)" test "$code" -eq 0
expect "--authorize stored a key the platform confirmed" has "$scratch/run.out" "authorize: session confirmed, seller $nick"
expect "--list showed the waiting orders" has "$scratch/run.out" "waiting: order="
expect "the service loaded the orders" has "$scratch/journal" "orders loaded: unrated=3"
expect "the service rated the due orders once each" \
  test "$(curl -fsS "$base/__sandbox/ratings" | grep -o '"tid"' | wc -l)" -eq 2
expect "the service printed no list" bash -c "! grep -q 'waiting: order=' '$scratch/journal'"
expect "the service started twice and ended cleanly twice" \
  test "$(grep -c ' start: seller ' "$scratch/journal")/$(grep -c ' end: exit code 0$' "$scratch/journal")" = 2/2
expect "--export-log wrote the two ratings" test "$(wc -l <"$work/ratings.csv")" -eq 3
expect "the service was stopped" bash -c "! kill -0 \$(cat '$scratch/unit.pid' 2>/dev/null || echo 0) 2>/dev/null"
expect "the package and the seller's files are gone" \
  bash -c "[ ! -e '$root/usr' ] && [ ! -e '$scratch/home/.local/share/quillmere' ]"
if [ "$failed" -ne 0 ]; then
  echo "--- what the commands printed"
  cat "$scratch/run.out"
  echo "--- what the service printed"
  cat "$scratch/journal" 2>/dev/null
fi
[ "$failed" -eq 0 ]
