#!/usr/bin/env bash
# Checks the two Debian packages, the seller's (quillmere) and the stand-in
# marketplace's (quillmere-sandbox), with Debian's own checker (lintian: no
# error and no warning may remain) and tries them the way a user gets them:
# each unpacked into a scratch root of its own (dpkg -x, nothing is installed
# on the machine), the seller's programs started from there with HOME pointed
# at a scratch home, so that they keep their files in the user's data
# directory, and the packaged sandbox marketplace playing the platform.
#
#   bash scripts/test-package.sh [PACKAGE_DIR]     (make test-package: build/packages)
set -uo pipefail
dir=${1:-build/packages}
deb=$(ls -t "$dir"/quillmere_*.deb 2>/dev/null | head -n 1)
sandbox_deb=$(ls -t "$dir"/quillmere-sandbox_*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ] || [ -z "$sandbox_deb" ]; then
  echo "test-package: no quillmere_*.deb and quillmere-sandbox_*.deb in $dir (run make package first)" >&2
  exit 1
fi

scratch=$(mktemp -d)
sandbox_pid=
desktop_pid=
cleanup() {
  if [ -n "$desktop_pid" ] && kill -0 "$desktop_pid" 2>/dev/null; then
    kill -KILL "$desktop_pid" 2>/dev/null
    wait "$desktop_pid" 2>/dev/null
  fi
  if [ -n "$sandbox_pid" ] && kill -0 "$sandbox_pid" 2>/dev/null; then
    kill -TERM "$sandbox_pid" 2>/dev/null
    wait "$sandbox_pid" 2>/dev/null
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

passed=0
failed=0
# check WHAT COMMAND...: one named check; its output is shown when it fails.
check() {
  local what=$1
  shift
  local out
  if out=$("$@" 2>&1); then
    passed=$((passed + 1))
    echo "ok   $what"
  else
    failed=$((failed + 1))
    echo "FAIL $what"
    [ -n "$out" ] && sed 's/^/     /' <<<"$out"
  fi
}
contains() { grep -qF -- "$2" <<<"$1" || { echo "expected '$2' in:"; echo "$1"; return 1; }; }
equals() { [ "$1" = "$2" ] || { echo "'$1', expected '$2'"; return 1; }; }
# exited CODE EXPECTED OUTPUT
exited() { [ "$1" -eq "$2" ] || { echo "exit code $1, expected $2:"; echo "$3"; return 1; }; }
# silent COMMAND...: succeeds and prints nothing (systemd only warns)
silent() { local out; out=$("$@" 2>&1) && [ -z "$out" ] || { echo "$out"; return 1; }; }

root=$scratch/root
sandbox_root=$scratch/sandbox-root
home=$scratch/home
data=$home/.local/share/quillmere
mkdir -p "$root" "$sandbox_root" "$home"
version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
echo "package $deb: version $version"
echo "  depends: $depends"
echo "package $sandbox_deb: version $(dpkg-deb -f "$sandbox_deb" Version)"
echo "  depends: $(dpkg-deb -f "$sandbox_deb" Depends)"
dpkg -x "$deb" "$root" || { echo "test-package: dpkg -x failed" >&2; exit 1; }
dpkg -x "$sandbox_deb" "$sandbox_root" || { echo "test-package: dpkg -x of the sandbox failed" >&2; exit 1; }

# lintian's own verdict, shown whole; any error or warning fails (info and
# pedantic tags do not). Run as root it warns that it is; that is no finding.
for tool in lintian appstreamcli groff; do
  command -v "$tool" >/dev/null || { echo "test-package: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
for package in "$deb" "$sandbox_deb"; do
  lintian_out=$(lintian --fail-on error,warning "$package" 2>&1)
  lintian_code=$?
  lintian_out=$(grep -v '^running with root privileges is not recommended!$' <<<"$lintian_out")
  echo "lintian ${package##*/}: ${lintian_out:-no errors, no warnings}"
  check "lintian finds no error and no warning in ${package##*/}" exited "$lintian_code" 0 "$lintian_out"
done

# The programs as an installed user runs them: the scratch home, no
# XDG_DATA_HOME, no display.
as_user() { env -u XDG_DATA_HOME -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" "$@"; }

for lib in libcurl4 libsqlite3-0 libssl3 libqt6widgets6 libqt6webenginecore6-bin; do
  check "the package depends on $lib" contains "$depends" "$lib"
done
for f in usr/bin/quillmere usr/bin/quillmere-headless \
         usr/share/applications/quillmere.desktop usr/share/icons/hicolor/48x48/apps/quillmere.png \
         usr/share/icons/hicolor/256x256/apps/quillmere.png "usr/lib/systemd/user/quillmere-headless@.service" \
         usr/share/man/man1/quillmere.1.gz usr/share/man/man1/quillmere-headless.1.gz \
         usr/share/man/zh_CN/man1/quillmere.1.gz usr/share/man/zh_CN/man1/quillmere-headless.1.gz \
         usr/share/doc/quillmere/README.md usr/share/doc/quillmere/README.zh_CN.md usr/share/doc/quillmere/copyright \
         usr/share/doc/quillmere/changelog.gz usr/share/metainfo/org.quillmere.Quillmere.metainfo.xml; do
  check "the package holds /$f" test -s "$root/$f"
done
# The marketplace is a package of its own: the seller's holds nothing of it,
# and it holds nothing but its program and that program's documents.
check "the seller's package holds no sandbox" equals "$(dpkg-deb -c "$deb" | grep -c sandbox)" 0
for f in usr/bin/quillmere-sandbox usr/share/man/man1/quillmere-sandbox.1.gz \
         usr/share/doc/quillmere-sandbox/copyright usr/share/doc/quillmere-sandbox/changelog.gz; do
  check "the sandbox package holds /$f" test -s "$sandbox_root/$f"
done
check "the sandbox package holds nothing else" \
  equals "$(cd "$sandbox_root" && find . -type f | sort | tr '\n' ' ')" \
  "./usr/bin/quillmere-sandbox ./usr/share/doc/quillmere-sandbox/changelog.gz ./usr/share/doc/quillmere-sandbox/copyright ./usr/share/man/man1/quillmere-sandbox.1.gz "
check "the seller's package suggests the sandbox" contains "$(dpkg-deb -f "$deb" Suggests)" quillmere-sandbox
check "the manual page of the sandbox reads" \
  contains "$(MANWIDTH=80 man -l "$sandbox_root/usr/share/man/man1/quillmere-sandbox.1.gz" 2>&1)" "quillmere-sandbox"
check "the desktop entry is valid" desktop-file-validate "$root/usr/share/applications/quillmere.desktop"
check "the copyright file is machine-readable" \
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$root/usr/share/doc/quillmere/copyright"
check "the changelog's latest entry is this version" \
  equals "$(zcat "$root/usr/share/doc/quillmere/changelog.gz" | head -n 1 | sed -n 's/^quillmere (\([^)]*\)).*/\1/p')" "$version"
check "the manual page of the runner reads" contains "$(MANWIDTH=80 man -l "$root/usr/share/man/man1/quillmere-headless.1.gz" 2>&1)" "EXIT STATUS"
check "the Chinese manual page of the runner reads" \
  contains "$(LANG=C.UTF-8 MANWIDTH=80 man -l "$root/usr/share/man/zh_CN/man1/quillmere-headless.1.gz" 2>&1)" "退出状态"
# pictures_shown: each picture the packaged READMEs show is in the package
# beside them (the pictures are a part of the documentation, not decoration).
pictures_shown() {
  local doc=$root/usr/share/doc/quillmere shown=0 missing=0 md picture
  for md in "$doc"/README.md "$doc"/README.zh_CN.md; do
    while read -r picture; do
      shown=$((shown + 1))
      [ -s "$doc/$picture" ] || { echo "${md##*/} shows $picture, which the package does not hold"; missing=1; }
    done < <(grep -o '!\[[^]]*\]([^)]*)' "$md" | sed 's/^.*](\(.*\))$/\1/')
  done
  [ "$shown" -gt 0 ] || { echo "the READMEs show no picture"; return 1; }
  [ "$missing" -eq 0 ]
}
check "the package holds every picture its READMEs show" pictures_shown
# Offline: CI has no network, and the home page (with the screenshot) is only
# set where the project is published (QM_HOMEPAGE), so the addresses are not fetched.
metainfo="$root/usr/share/metainfo/org.quillmere.Quillmere.metainfo.xml"
appstream_out=$(appstreamcli validate --no-net "$metainfo" 2>&1)
appstream_code=$?
echo "appstreamcli validate --no-net ${metainfo##*/}:"
sed 's/^/  /' <<<"$appstream_out"
check "appstreamcli accepts the AppStream entry" exited "$appstream_code" 0 "$appstream_out"
check "the AppStream entry's release is this version" grep -q "<release version=\"$version\"" "$metainfo"
unit="$root/usr/lib/systemd/user/quillmere-headless@.service"
check "the unit starts the installed runner for the unescaped instance" \
  grep -qx 'ExecStart=/usr/bin/quillmere-headless --account %I' "$unit"
check "the unit does not restart on the exit codes of bad settings" \
  grep -qx 'RestartPreventExitStatus=2 3 4 5 9 10' "$unit"
# systemd checks a unit that names an existing program: the unpacked one.
instance="$scratch/quillmere-headless@$(systemd-escape 沐晨旗舰店).service"
sed "s#^ExecStart=/usr/bin/#ExecStart=$root/usr/bin/#" "$unit" >"$instance"
check "systemd accepts the unit" silent systemd-analyze verify "$instance"

check "quillmere-headless --version" equals "$(as_user "$root/usr/bin/quillmere-headless" --version)" "quillmere-headless $version"
check "quillmere --version" equals "$(as_user "$root/usr/bin/quillmere" --version)" "quillmere $version"
check "quillmere-sandbox --version" equals "$(as_user "$sandbox_root/usr/bin/quillmere-sandbox" --version)" "quillmere-sandbox $version"
help=$(as_user "$root/usr/bin/quillmere" --help 2>&1)
check "quillmere --help names the user's data directory" \
  contains "$help" "data directory of this run: $data (the user's data directory)"

# A first run makes the data directory and says where the settings are missing.
out=$(as_user timeout 60 "$root/usr/bin/quillmere-headless" --account 试用卖家 --platform http://127.0.0.1:1 --once 2>&1)
code=$?
check "a run without settings exits 4" exited "$code" 4 "$out"
check "it names the Config.ini it read" contains "$out" "the settings are read from $data/Config.ini"
check "it made the user's data directory for its owner only" equals "$(stat -c %a "$data" 2>&1)" 700

# The sandbox from the package writes its demo seller into that directory.
"$sandbox_root/usr/bin/quillmere-sandbox" --port 0 --trades 0 --write-config "$data/Config.ini" >"$scratch/sandbox.out" 2>&1 &
sandbox_pid=$!
base=
for _ in $(seq 1 100); do
  base=$(sed -n 's/^listening on //p' "$scratch/sandbox.out" | head -n 1)
  [ -n "$base" ] && break
  kill -0 "$sandbox_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$base" ]; then
  echo "test-package: the packaged sandbox did not start:" >&2
  cat "$scratch/sandbox.out" >&2
  exit 1
fi
nick=$(sed -n 's/^seller nick: //p' "$scratch/sandbox.out" | head -n 1)
trade() { printf '{"buyer_nick":"%s","ended_hours_ago":%s.5,"buyer_rate":"none"}' "$2" "$1"; }
curl -fsS -X POST -H 'Content-Type: application/json' \
  --data "{\"trades\":[$(trade 340 due_a),$(trade 350 due_b),$(trade 20 later_c)]}" "$base/__sandbox/trades" >/dev/null

out=$(as_user timeout 120 "$root/usr/bin/quillmere-headless" --account "$nick" --platform "$base" --once 2>&1)
code=$?
check "--once against the sandbox exits 0" exited "$code" 0 "$out"
check "its start line names the user's data directory" \
  contains "$out" "data in $data (the user's data directory)"
check "it rated the two due orders" equals "$(curl -fsS "$base/__sandbox/ratings" | grep -o '"tid"' | wc -l)" 2
check "the order database is in the user's data directory" test -s "$data/$nick.MDB"

# The desktop from the package, on the offscreen platform: it takes the same
# directory and the same seller, rates the order that has come due since, and
# ends with 0 on SIGTERM.
curl -fsS -X POST -H 'Content-Type: application/json' \
  --data "{\"trades\":[$(trade 345 due_d)]}" "$base/__sandbox/trades" >/dev/null
# (env, not as_user: the signal must reach the program, which env becomes.)
env -u XDG_DATA_HOME -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" QT_QPA_PLATFORM=offscreen \
  QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox" \
  "$root/usr/bin/quillmere" --platform "$base" --account "$nick" >"$scratch/desktop.out" 2>&1 &
desktop_pid=$!
rated=0
for _ in $(seq 1 600); do
  rated=$(curl -fsS "$base/__sandbox/ratings" | grep -o '"tid"' | wc -l)
  [ "$rated" -ge 3 ] && break
  kill -0 "$desktop_pid" 2>/dev/null || break
  sleep 0.2
done
check "the desktop rated the order due since" equals "$rated" 3
kill -TERM "$desktop_pid" 2>/dev/null
wait "$desktop_pid"
code=$?
desktop_pid=
check "the desktop ends with 0 on SIGTERM" exited "$code" 0 "$(cat "$scratch/desktop.out")"

# The READMEs' server sections, command by command.
check "the README's server section runs as written" bash "$(dirname "$0")/test-readme-server.sh" "$deb" \
  "$sandbox_deb" "$(dirname "$0")/../README.md"
check "the Chinese README's server section runs as written" bash "$(dirname "$0")/test-readme-server.sh" "$deb" \
  "$sandbox_deb" "$(dirname "$0")/../README.zh_CN.md" "## 在服务器上运行"

echo "test-package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
