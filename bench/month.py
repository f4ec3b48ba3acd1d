#!/usr/bin/env python3
"""A simulated month of the headless runner against the sandbox marketplace.

Run by bench/month.sh under libfaketime, so that this driver, the sandbox and
the runner share one accelerated clock. Trades finish all the time, buyers
rate some of them, faults come and go in spells, the runner's own wall clock
is set by hand (a day ahead, then a day behind) and the runner is stopped for
hours (SIGSTOP, as a suspended laptop's program is), and the runner is
restarted after any exit, as a service manager would. At the end it prints what the
month came to: missed deadlines, double and early ratings, requests per day
and the reloads' share, the runner's memory and processor time.

With --daily-limit and --ban-every-hours the sandbox limits the application
key's calls as the platform does ("App Call Limited"): the report adds how
often the limits turned a call away, how many waits the runner said, and
what must stay zero under them (missed deadlines, refused ratings, refused
sessions, which on the desktop would open the login window).

The floor of requests is one post per rating plus one look per refresh and
per load (the first load and each reload); the report gives the ratio of the
requests made to it.
"""
import argparse
import json
import resource
import os
import struct
import random
import select
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request
from datetime import datetime, timedelta, timezone

BEIJING = timezone(timedelta(hours=8))


def pause(seconds):
    """Waits `seconds` of the faked clock. time.sleep fails under libfaketime
    when the monotonic clock is not faked; select's time-out is faked."""
    select.select([], [], [], seconds)
DAY = 86400.0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", default="build/bin")
    ap.add_argument("--days", type=float, default=30)
    ap.add_argument("--trades-per-day", type=int, default=300)
    ap.add_argument("--step-minutes", type=float, default=5)
    ap.add_argument("--history-days", type=float, default=14.9,
                    help="trades that ended before the start, so that the lists are full-sized from day 1")
    ap.add_argument("--daily-limit", type=int, default=0,
                    help="calls the application key may make per day (0: no limit)")
    ap.add_argument("--ban-every-hours", type=float, default=0,
                    help="a ban of one method every this many hours (0: none)")
    ap.add_argument("--ban-seconds", type=int, default=600, help="how long each ban lasts")
    ap.add_argument("--spent-at-start", type=int, default=0,
                    help="calls of the key already made by others on each day before the runner's"
                         " (one key serves many shops), so that the daily limit is met")
    ap.add_argument("--clock-spells", type=int, default=1,
                    help="0: no clock spells; 1: a stop of the runner and its wall clock set a day either way")
    args = ap.parse_args()
    rnd = random.Random(7)
    data = tempfile.mkdtemp(prefix="quillmere-month.")

    quota = ["--daily-limit", str(args.daily_limit)]
    if args.ban_every_hours > 0:
        quota += ["--ban-every", str(int(args.ban_every_hours * 3600)), "--ban-seconds", str(args.ban_seconds)]
    sandbox = subprocess.Popen(
        [os.path.join(args.bin, "quillmere-sandbox"), "--port", "0", "--trades", "0",
         "--write-config", os.path.join(data, "Config.ini")] + quota,
        stdout=subprocess.PIPE, text=True)
    base = nick = None
    while base is None or nick is None:
        line = sandbox.stdout.readline()
        if not line:
            sys.exit("month: the sandbox did not start")
        if line.startswith("listening on "):
            base = line.split()[-1]
        if line.startswith("seller nick: "):
            nick = line.split(": ", 1)[1].strip()

    def call(path, body=None):
        req = urllib.request.Request(base + path, data=None if body is None else json.dumps(body).encode(),
                                     headers={"Content-Type": "application/json"})
        # The time-out runs on the faked clock: a day of it is seconds of real time.
        for _ in range(5):
            try:
                with urllib.request.urlopen(req, timeout=DAY) as r:
                    return json.loads(r.read() or b"null")
            except Exception:
                pause(0.5)
        return None

    runner_log = open(os.path.join(data, "runner.out"), "w")
    # The runner's wall clock, set by hand through monotonic_waits.c: the
    # seconds it stands away from everyone else's.
    shift_file = os.path.join(data, "wall-shift")
    with open(shift_file, "wb") as f:
        f.write(struct.pack("d", 0.0))

    def set_runner_clock(seconds):
        fd = os.open(shift_file, os.O_WRONLY)
        os.pwrite(fd, struct.pack("d", float(seconds)), 0)
        os.close(fd)

    def start_runner():
        return subprocess.Popen(
            [os.path.join(args.bin, "quillmere-headless"), "--account", nick, "--data-dir", data,
             "--platform", base], stdout=runner_log, stderr=subprocess.STDOUT,
            env=dict(os.environ, MONTH_WALL_SHIFT_FILE=shift_file))

    def rss_kb(pid):
        try:
            for line in open(f"/proc/{pid}/status"):
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        except OSError:
            return None

    # A shop that has been trading: the past history-days of trades are already
    # waiting, so day 1 starts with lists of the size they keep all month and
    # the memory figures compare like with like.
    pending_buyer = []  # (due time, tid): buyers who will rate
    history = int(args.trades_per_day * args.history_days)
    for first in range(0, history, 500):
        ages = [(history - i) * 24.0 / args.trades_per_day for i in range(first, min(first + 500, history))]
        added = call("/__sandbox/trades", {"trades": [{"ended_hours_ago": a} for a in ages]}) or {}
        for age, tid in zip(ages, added.get("tids", [])):
            # A buyer rates before the seller's lead time comes, or not at all.
            days_left = 15 - age / 24 - 1.5
            if days_left > 0.1 and rnd.random() < 0.12:
                pending_buyer.append((time.time() + rnd.uniform(0.1, min(10, days_left)) * DAY, tid))

    start = time.time()
    runner = start_runner()
    # The memory of each runner's life, by day: a restarted runner starts small,
    # so growth is read within the longest life.
    lives = [{}]
    restarts, exit_codes = 0, []
    requests = {"reload": 0, "refresh": 0, "ratings_look": 0, "rating": 0, "check": 0, "buyer_check": 0,
                "other": 0}
    # Calls the quota turned away (counted in the kinds above too).
    limited_requests = 0
    # Of the reloads' requests, those of the incremental listing (the changes only).
    reload_changes = 0
    sampled = set()
    day_spent = -1

    spell_until, next_spell = 0.0, start + rnd.uniform(0.5, 2) * DAY
    carry = 0.0
    # The clock spells, at fixed points of the run: (start, what, length).
    spells = []
    if args.clock_spells:
        spells = [(start + 0.40 * args.days * DAY, "stop", 3 * 3600),
                  (start + 0.55 * args.days * DAY, "ahead", 6 * 3600),
                  (start + 0.70 * args.days * DAY, "behind", 6 * 3600)]
    spell_log, spell_end, spell_kind = [], 0.0, None
    step = args.step_minutes * 60
    next_step = start
    while time.time() - start < args.days * DAY:
        now = time.time()
        if now < next_step:
            pause(min(next_step - now, 60))
            continue
        next_step += step
        # Trades finish: about trades-per-day a day, some rated by their buyers later.
        carry += args.trades_per_day * step / DAY
        batch = []
        while carry >= 1:
            carry -= 1
            batch.append({"ended_hours_ago": 0})
        if batch:
            added = call("/__sandbox/trades", {"trades": batch}) or {}
            for tid in added.get("tids", []):
                if rnd.random() < 0.12:
                    pending_buyer.append((now + rnd.uniform(0.1, 10) * DAY, tid))
        for due, tid in [p for p in pending_buyer if p[0] <= now]:
            result = rnd.choices(["good", "neutral", "bad"], [8, 1, 1])[0]
            call("/__sandbox/buyer-rate", {"tid": tid, "result": result, "content": "月度" + result})
        pending_buyer = [p for p in pending_buyer if p[0] > now]
        # Faults in spells: errors and resets (no latencies: time-outs shrink with the clock).
        if spell_until and now >= spell_until:
            call("/__sandbox/faults", {})
            spell_until, next_spell = 0.0, now + rnd.uniform(1, 3) * DAY
        elif not spell_until and now >= next_spell:
            call("/__sandbox/faults", {"error_rate": rnd.uniform(0.05, 0.3), "reset_rate": rnd.uniform(0, 0.1)})
            spell_until = now + rnd.uniform(2, 12) * 3600
        # The clock spells: the runner stopped, or its wall clock set by hand.
        if spell_kind and now >= spell_end:
            if spell_kind == "stop":
                runner.send_signal(signal.SIGCONT)
            else:
                set_runner_clock(0)
            spell_log.append({"end": spell_kind, "day": round((now - start) / DAY, 2)})
            spell_kind = None
        if not spell_kind and spells and now >= spells[0][0]:
            _, spell_kind, length = spells.pop(0)
            spell_end = now + length
            if spell_kind == "stop":
                runner.send_signal(signal.SIGSTOP)
            else:
                set_runner_clock(DAY if spell_kind == "ahead" else -DAY)
            spell_log.append({"start": spell_kind, "day": round((now - start) / DAY, 2), "hours": length / 3600})
        # The request log, counted and emptied.
        for e in call("/__sandbox/log") or []:
            q = e.get("query", "")
            if e.get("limited"):
                limited_requests += 1
            if e.get("path") == "/apitools/getResult.do":
                requests["rating"] += 1
            elif "trades.sold.increment.get" in q or "RATE_UNBUYER" in q or "RATE_UNSELLER" in q:
                requests["reload"] += 1
                if "trades.sold.increment.get" in q:
                    reload_changes += 1
            elif "RATE_BUYER_UNSELLER" in q:
                requests["refresh"] += 1
            elif "traderates.get" in q and "rate_type=get" in q and "&tid=" not in "&" + q:
                # The ratings buyers gave in a window of times: the refresh's look
                # between full listings, and a pass's own look before it posts.
                requests["ratings_look"] += 1
            elif "traderates.get" in q and "rate_type=get" in q:
                # The buyer's rating of one order (the alerts' check of an order listed without one).
                requests["buyer_check"] += 1
            elif "traderates.get" in q:
                requests["check"] += 1
            else:
                requests["other"] += 1
        call("/__sandbox/log/clear", {})
        # Others' calls with the same key: each day starts with part of the quota spent.
        if args.spent_at_start > 0 and day_spent != int((now + 8 * 3600) // DAY):
            day_spent = int((now + 8 * 3600) // DAY)
            call("/__sandbox/quota", {"spent_today": args.spent_at_start})
        # The service manager: a runner that ended is started again.
        if runner.poll() is not None:
            exit_codes.append(runner.returncode)
            restarts += 1
            runner = start_runner()
            lives.append({})
        day = int((now - start) / DAY) + 1
        if day not in sampled and (now - start) / DAY >= day - 0.5:
            sampled.add(day)
            lives[-1][day] = rss_kb(runner.pid)

    if spell_kind == "stop":
        runner.send_signal(signal.SIGCONT)
    runner.send_signal(signal.SIGTERM)
    runner.wait()
    # Every runner has been waited for; the sandbox has not.
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu_total = usage.ru_utime + usage.ru_stime
    end = time.time()

    # What the month came to, from the marketplace's own records.
    trades = call("/__sandbox/trades") or []
    given = {r["tid"]: r for r in call("/__sandbox/ratings") or []}
    stats = call("/__sandbox/stats") or {}
    # The pass counts whole hours left, fractions dropped: with a lead of 24
    # hours an order is rated once fewer than 25 hours are left.
    lead = 25 * 3600
    missed = early = waiting = good_for_rated = 0
    for t in trades:
        ended = datetime.strptime(t["end_time"], "%Y-%m-%d %H:%M:%S").replace(tzinfo=BEIJING).timestamp()
        deadline = ended + 15 * DAY
        rating = given.get(t["tid"])
        if rating:
            rated_at = datetime.strptime(rating["time"], "%Y-%m-%d %H:%M:%S").replace(tzinfo=BEIJING).timestamp()
            # A "good" given after the buyer had rated (the trade's last change is
            # the seller's rating, so the buyer's came before it).
            if t["buyer_rate"] != "none" and rating.get("result") == "good" and t.get("modified"):
                modified = datetime.strptime(t["modified"], "%Y-%m-%d %H:%M:%S").replace(tzinfo=BEIJING).timestamp()
                if rated_at >= modified:
                    good_for_rated += 1
            # The buyer-rated ones are the seller's own; the pass rates the others within the lead time.
            if t["buyer_rate"] == "none" and rated_at < deadline - lead - 60:
                early += 1
        elif t["buyer_rate"] == "none":
            if deadline < end - 60:
                missed += 1
            else:
                waiting += 1
    days = (end - start) / DAY
    # What the runner said: refreshes, loads, refused ratings, quota waits.
    said = open(os.path.join(data, "runner.out"), encoding="utf-8", errors="replace").read().splitlines()
    refreshes = sum(1 for l in said if "refresh: buyer-rated=" in l or "refresh: the platform did not answer" in l)
    loads = sum(1 for l in said if "orders loaded:" in l or "reload: added=" in l)
    refused_ratings = sum(1 for l in said if "outcome=refused" in l)
    waits_said = sum(1 for l in said if "quota: " in l)
    floor = len(given) + refreshes + loads
    quota_counts = call("/__sandbox/quota") or {}
    rss = {day: kb for life in lives for day, kb in life.items()}
    longest = max(lives, key=lambda life: (max(life) - min(life)) if life else -1)
    total = sum(requests.values())
    report = {
        "simulated_days": round(days, 2),
        "trades": len(trades),
        "rated_by_the_runner": len(given),
        "missed_deadlines": missed,
        # The marketplace holds one seller rating per trade: a second post for
        # an order is refused (isv.trade-rate-exist) and counted here.
        "second_posts_refused": stats.get("repeated_ratings"),
        "rated_before_the_lead_time": early,
        "good_for_a_buyer_who_had_rated": good_for_rated,
        "still_waiting_at_the_end": waiting,
        "requests_per_day": round(total / days, 1),
        "requests_by_kind_per_day": {k: round(v / days, 1) for k, v in requests.items()},
        "reload_share": round(requests["reload"] / total, 3) if total else None,
        "reload_changes_requests_per_day": round(reload_changes / days, 1),
        "floor_per_day": round(floor / days, 1),
        "floor_parts": {"ratings": len(given), "refreshes": refreshes, "loads": loads},
        "ratio_to_floor": round(total / floor, 2) if floor else None,
        "quota": {"daily_limit": args.daily_limit, "ban_every_hours": args.ban_every_hours,
                  "ban_seconds": args.ban_seconds, "spent_by_others_each_day": args.spent_at_start,
                  "calls_turned_away": limited_requests,
                  "daily_refusals": quota_counts.get("daily_refusals"),
                  "ban_refusals": quota_counts.get("ban_refusals"), "bans": quota_counts.get("bans"),
                  "waits_said_by_the_runner": waits_said},
        "refused_ratings_counted": refused_ratings,
        # The runner's refused session (exit 6) is what opens the login window on the desktop.
        "sessions_refused": exit_codes.count(6),
        "clock_spells": spell_log,
        # The runner's word that its buyer-rated list was old news and renewed first.
        "old_news_renewals": sum(1 for line in open(os.path.join(data, "runner.out"), errors="replace")
                                 if "buyer-rated list is out of date" in line),
        "runner_restarts": restarts,
        "runner_exit_codes": exit_codes,
        "runner_rss_kb_day1": rss.get(1),
        "runner_rss_kb_last_day": rss.get(max(rss)) if rss else None,
        "runner_rss_kb_by_day": [rss[d] for d in sorted(rss)],
        "longest_runner_life_days": [min(longest), max(longest)] if longest else None,
        "longest_runner_life_rss_kb": [longest[min(longest)], longest[max(longest)]] if longest else None,
        "runner_cpu_seconds_per_day": round(cpu_total / days, 2),
        "data_dir": data,
    }
    print(json.dumps(report, ensure_ascii=False, indent=2))
    sandbox.send_signal(signal.SIGTERM)
    sandbox.wait()
    ok = missed == 0 and not stats.get("repeated_ratings") and early == 0 and good_for_rated == 0
    if args.daily_limit or args.ban_every_hours:
        ok = ok and refused_ratings == 0 and exit_codes.count(6) == 0
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
