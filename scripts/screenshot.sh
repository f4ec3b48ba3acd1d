#!/usr/bin/env bash
# Pictures of the desktop program: starts the sandbox marketplace, writes its
# demo seller into a fresh data directory, runs Quillmere against it on the
# offscreen platform under the window driver (tools/: quillmere-drive, which
# chooses the seller, pictures each window and answers it as the seller
# would), and copies the main window's picture to docs/main-window.png; a
# second run without the session key gives the login window's,
# docs/login-window.png. Usage: scripts/screenshot.sh [BIN_DIR] [OUT_DIR]
set -euo pipefail
bin=${1:-build/bin}
out=${2:-docs}
root=$(cd "$(dirname "$0")/.." && pwd)
data=$(mktemp -d /tmp/quillmere-shots.XXXXXX)
sandbox_pid=
cleanup() {
  if [ -n "$sandbox_pid" ]; then kill "$sandbox_pid" 2>/dev/null || true; wait "$sandbox_pid" 2>/dev/null || true; fi
  rm -rf "$data"
}
trap cleanup EXIT

"$bin/quillmere-sandbox" --port 0 --seed 7 --trades 40 --write-config "$data/Config.ini" >"$data/sandbox.out" 2>&1 &
sandbox_pid=$!
for _ in $(seq 100); do
  grep -q "^config written" "$data/sandbox.out" 2>/dev/null && break
  sleep 0.1
done
url=$(sed -n 's/^listening on //p' "$data/sandbox.out")
nick=$(sed -n 's/^seller nick: //p' "$data/sandbox.out")
if [ -z "$url" ] || [ -z "$nick" ]; then
  echo "screenshot: the sandbox did not start" >&2
  cat "$data/sandbox.out" >&2
  exit 1
fi

# A buyer who rated neutral: the main run answers the order, and its question
# (what the buyer gave, and the reply) is pictured.
reply=$(curl -fsS -X POST -H 'Content-Type: application/json' "$url/__sandbox/trades" --data \
  '{"trades":[{"buyer_nick":"rated_ivan","ended_hours_ago":200.5,"buyer_rate":"neutral","buyer_comment":"发货太慢"}]}')
answer=$(grep -o '"[0-9]*"' <<<"$reply" | tail -n 1 | tr -d '"')

export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"
timeout 60 "$bin/quillmere-drive" --pictures "$data/shots" --answer "$answer" --choose "$nick" --data-dir "$data" \
  --platform "$url"

# A first start: an account without key and secret, the message, then the
# setup form, each pictured; closing the form goes back to the account box,
# whose "×" ends the program.
timeout 60 "$bin/quillmere-drive" --pictures "$data/shots" --choose 新卖家 --data-dir "$data" --platform "$url"

# Once more without the session key: the login window, pictured once its
# form is prepared, then closed (which ends the program).
sed -i '/^SessionKey=/d' "$data/Config.ini"
timeout 60 "$bin/quillmere-drive" --pictures "$data/shots" --choose "$nick" --data-dir "$data" --platform "$url"

mkdir -p "$root/$out"
cp "$data/shots/MainWindow.png" "$root/$out/main-window.png"
cp "$data/shots/AuthWindow.png" "$root/$out/login-window.png"
cp "$data/shots/AccountSetupDialog.png" "$root/$out/setup-form.png"
cp "$data/shots/StatusLine.png" "$root/$out/status-line.png"
cp "$data/shots/AnswerQuestion.png" "$root/$out/answer-question.png"
cp "$data/shots/RunSettingsWindow.png" "$root/$out/run-settings.png"
cp "$data/shots/AlertListWindow.png" "$root/$out/alert-list.png"
cp "$data/shots/AlertSettingsWindow.png" "$root/$out/alert-settings.png"
cp "$data/shots/StatsWindow.png" "$root/$out/stats.png"
for f in "$data"/shots/*.png; do
  echo "screenshot: $(basename "$f")"
done
echo "screenshot: saved $out/main-window.png, login-window.png, setup-form.png, status-line.png," \
  "answer-question.png, run-settings.png, alert-list.png, alert-settings.png and stats.png"
