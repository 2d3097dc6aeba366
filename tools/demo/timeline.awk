# The demo's timeline of the lyrics pane: one row per line the pane showed bright, with the line's
# time in the song and the playback position when it was shown, then the figures of the timing
# nudge, the click on a line and the listener's own file, each with "ok" or "FAILED".
#   awk -v playlist=PLAYLIST -v own=OWN.lrc -v service_log=LOG -v lookup=PATH -v required=0|1 \
#       -f timeline.awk PLAYLIST LIBRARY/*.lrc OWN.lrc LOG PLAYER_LOG
# The playlist names the tracks (artist, title per line); the LRC files give each song's timed
# lines (OWN.lrc is the listener's own file, beside its song); LOG is the lyrics service's request
# log (one line per answer, stamped with the system clock to the millisecond when it went out); the
# player's record (standin-player --read-lyrics) holds "event.OpenStateChange(13)" when the next
# track opens and "player.reads(P ms, system time S ms) TEXT" each time the pane's bright line
# changes, and the user's actions ("player.click(X,Y)", "player.menu(ID)") with the record's own
# seconds in front. Shown texts are matched to the song's lines in order, so repeated lines (a
# chorus) find their own place. The first line of each song is shown when its lyrics arrive and a
# stop takes the pane back to the first line, neither when playback reaches a line: both rows carry
# a note, as do lines lit by a click and lines shown while the timing is nudged.
#
# The difference is the shown-at position minus the time the line should light: its line time
# plus the nudge in effect (menu 119 "Lyrics earlier by 0.5 s" takes 500 ms off, 120 adds 500 ms,
# 121 "Reset timing" and each new track go back to 0; the nudge counts from the record line of the
# menu choice, which is carried out within a tick of it: the demo's actions leave more than that
# between the choice and the next line).
#
# Figures (required: a figure without its rows fails; otherwise it is left unmeasured):
# - Lyrics earlier by 0.5 s: the nudged rows' differences against the un-nudged rows in step with
#   playback (no note) of the whole run. The line timer wakes a little after each line's time, so
#   no row has a difference of exactly 0; the nudge holds when the nudged rows light as that little
#   after their moved time as the others do after theirs: medians within 5 ms of each other (the
#   nudge moved the lines 500 ms +-5 ms), no nudged row later than the others' latest + 5 ms and none
#   earlier than the others' earliest - 5 ms. Comparing medians, not single rows, keeps a
#   scheduling hiccup of the shared machine from reading as a fault of the nudge.
# - A click on a line: the row lit after a "player.click" whose seek the player recorded
#   ("controls.put_currentPosition"); lit within 20 ms of the click on the record's one clock, the
#   player's position within 20 ms after the line's time.
# - Own file: the first row of the song whose lyrics came from OWN.lrc, against the last answer to
#   a lookup (path LOOKUP) the service sent before it, after that track opened; both stamped by the
#   system clock (under Wine the host's): shown within 50 ms of that answer.
BEGIN {
    FS = "\t"; OFS = "\t"
    print "# song", "line", "line time (ms)", "shown at (ms)", "difference (ms)", "note"
    answers = 0; nudgedRows = 0; stepRows = 0; clickRows = 0; ownRows = 0
}

FILENAME ~ /\.lrc$/ && FNR == 1 { artist = ""; title = ""; language = ""; count = 0 }
FILENAME ~ /\.lrc$/ {
    line = $0; sub(/\r$/, "", line)
    if (line ~ /^\[ar:/) { artist = substr(line, 5, length(line) - 5) }
    else if (line ~ /^\[ti:/) { title = substr(line, 5, length(line) - 5) }
    else if (line ~ /^\[la:/) { language = substr(line, 5, length(line) - 5) }
    # Every stamp in front of a line is one timed entry of that text.
    while (match(line, /^\[[0-9]+:[0-9]+\.[0-9]+\]/)) {
        stamp = substr(line, 2, RLENGTH - 2); line = substr(line, RLENGTH + 1)
        split(stamp, part, ":"); stamps[++count] = int(part[1] * 60000 + part[2] * 1000 + 0.5)
    }
    for (i = 1; i <= count; i++) { entryTime[FILENAME, ++entries[FILENAME]] = stamps[i]; entryText[FILENAME, entries[FILENAME]] = line }
    # Listed with the first timed line, when the headers above it have been read: the original
    # first, then its translations.
    if (count > 0 && artist != "" && title != "" && !(FILENAME in listed)) {
        listed[FILENAME] = 1; key = artist "\t" title
        if (language == "") songFiles[key] = FILENAME (key in songFiles ? SUBSEP songFiles[key] : "")
        else songFiles[key] = (key in songFiles ? songFiles[key] SUBSEP : "") FILENAME
        if (FILENAME == own) ownSong = key
    }
    count = 0
    next
}
FILENAME == playlist { if ($0 !~ /^#/ && NF >= 5) track[tracks++] = $1 "\t" $2; next }

# The service's log: "2026-12-09T07:10:11.123Z PEER "METHOD PATH" STATUS BYTES MSms".
FILENAME == service_log {
    n = split($0, field, " ")
    if (n < 5 || field[4] != lookup "\"") next
    answerMs[++answers] = EpochMs(field[1]); answerStatus[answers] = field[5]; answerWhen[answers] = field[1]
    next
}

# The player's record.
{ sub(/\r+$/, ""); split($0, field, " "); at = field[1] + 0 }
# Each media open is the next track of the playlist.
/ event\.OpenStateChange\(13\)/ { song = track[opened++]; file = ""; first = 1; offset = 0; clickAt = ""; seekTo = ""; openedAt = at; next }
/ player\.menu\(119\)$/ { offset = Clamp(offset - 500); next }
/ player\.menu\(120\)$/ { offset = Clamp(offset + 500); next }
/ player\.menu\(121\)$/ { offset = 0; next }
/ player\.click\([0-9]+,[0-9]+\)$/ { clickAt = at; seekTo = ""; next }
/ controls\.put_currentPosition\(/ {
    if (clickAt != "") { match($0, /put_currentPosition\(/); seekTo = substr($0, RSTART + RLENGTH) * 1000 }
    next
}
/ player\.reads\(/ {
    if (clickAt != "" && at - clickAt > 1) clickAt = ""
    if (song == "" || !(song in songFiles)) next
    match($0, /player\.reads\([0-9-]+ ms, system time [0-9]+ ms\) /)
    if (RSTART == 0) next
    shown = substr($0, RSTART + 13) + 0
    text = substr($0, RSTART + RLENGTH)
    match($0, /system time [0-9]+/); systemMs = substr($0, RSTART + 12, RLENGTH - 12) + 0
    if (text == "") next
    # The shown lyrics: the original or a translation, whichever holds the text.
    found = file == "" ? 0 : find(text)
    switched = 0
    if (!found) {
        n = split(songFiles[song], files, SUBSEP)
        for (f = 1; f <= n && !found; f++) { if (files[f] == file) continue; order(files[f]); file = files[f]; next_line = 1; found = find(text) }
        switched = file != "" && !first
    }
    if (!found) next
    due = sortedTime[found] + offset
    note = ""
    if (first) {
        note = "lyrics arrived"
        if (song == ownSong) note = note " from the own file" OwnFigure()
    }
    else if (switched) note = "other lyrics arrived"
    else if (clickAt != "" && seekTo != "") note = ClickFigure()
    else if (found < next_line) note = "back to the start"
    else if (found > next_line) note = "jumped ahead"
    else if (offset != 0) { note = sprintf("timing nudged %+d ms", offset); nudged[++nudgedRows] = shown - due }
    else step[++stepRows] = shown - due
    name = song; sub(/\t/, " - ", name)
    print name, found - 1, sortedTime[found], shown, shown - due, note
    next_line = found + 1; first = 0
}

END {
    Figure("lyrics earlier by 0.5 s", NudgeFigure())
    Figure("click on a line", clickRows == 0 ? "" : clickText)
    Figure("lyrics from the own file", ownRows == 0 ? "" : ownText)
}

# "# figure: NAME: TEXT: ok|FAILED" (TEXT ends in " ok" or " FAILED" when measured; "" when not).
function Figure(name, text) {
    if (text == "") text = required ? "not measured (no rows for it in the record) FAILED" : "not measured"
    sub(/ ok$/, ": ok", text); sub(/ FAILED$/, ": FAILED", text)
    print "# figure: " name ": " text
}

function NudgeFigure(    ownMedian, ownMax, ownMin, otherMedian, otherMax, otherMin, ok) {
    if (nudgedRows == 0 || stepRows == 0) return ""
    Sort(nudged, nudgedRows); Sort(step, stepRows)
    ownMedian = Median(nudged, nudgedRows); ownMax = nudged[nudgedRows]; ownMin = nudged[1]
    otherMedian = Median(step, stepRows); otherMax = step[stepRows]; otherMin = step[1]
    ok = Abs(ownMedian - otherMedian) <= 5 && ownMax <= otherMax + 5 && ownMin >= otherMin - 5
    return sprintf("%d lines lit %s ms earlier than un-nudged lines do (after their moved time: median %s ms, %s to %s ms; the %d other lines in step: median %s ms, %s to %s ms) %s",
                   nudgedRows, 500 - (ownMedian - otherMedian), ownMedian, ownMin, ownMax, stepRows, otherMedian,
                   otherMin, otherMax, ok ? "ok" : "FAILED")
}

# The row lit by a click: how long after the click, and where the player went.
function ClickFigure(    litMs, ok) {
    litMs = int((at - clickAt) * 1000 + 0.5)
    ok = litMs <= 20 && shown >= due && shown - due <= 20
    clickRows++
    clickText = sprintf("line %d lit %d ms after the click (within 20), the player at %d ms for the line's %d ms %s",
                        found - 1, litMs, shown, due, ok ? "ok" : "FAILED")
    clickAt = ""; seekTo = ""
    return sprintf("clicked, lit %d ms after the click", litMs)
}

# The first row of the own file's song against the service's last lookup answer before it.
function OwnFigure(    i, answer, openedMs, gap, ok) {
    # The track's open on the system clock, by this row's two stamps.
    openedMs = systemMs - (at - openedAt) * 1000
    answer = 0
    for (i = answers; i >= 1; i--) if (answerMs[i] <= systemMs) { answer = i; break }
    ownRows++
    if (answer == 0 || answerMs[answer] < openedMs - 5) {
        ownText = "no lookup answer in the service's log between the track's open and the lyrics FAILED"
        return ""
    }
    gap = systemMs - answerMs[answer]
    ok = gap >= 0 && gap <= 50
    ownText = sprintf("lyrics shown %d ms after the service's answer (status %s at %s; within 50) %s", gap,
                      answerStatus[answer], answerWhen[answer], ok ? "ok" : "FAILED")
    return sprintf(", %d ms after the service's answer", gap)
}

# "2026-12-09T07:10:11.123Z" as milliseconds since 1970 (UTC).
function EpochMs(text,    y, m, d, era, yoe, doy, doe, seconds) {
    y = substr(text, 1, 4) + 0; m = substr(text, 6, 2) + 0; d = substr(text, 9, 2) + 0
    if (m <= 2) y--
    era = int(y / 400); yoe = y - era * 400
    doy = int((153 * (m > 2 ? m - 3 : m + 9) + 2) / 5) + d - 1
    doe = yoe * 365 + int(yoe / 4) - int(yoe / 100) + doy
    seconds = (era * 146097 + doe - 719468) * 86400 + substr(text, 12, 2) * 3600 + substr(text, 15, 2) * 60
    return (seconds + substr(text, 18, 2)) * 1000 + substr(text, 21, 3)
}

function Clamp(ms) { return ms < -600000 ? -600000 : ms > 600000 ? 600000 : ms }
function Abs(x) { return x < 0 ? -x : x }
function Median(a, n) { return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2 }
function Sort(a, n,    i, j, x) {
    for (i = 2; i <= n; i++) { x = a[i]; for (j = i - 1; j >= 1 && a[j] > x; j--) a[j + 1] = a[j]; a[j + 1] = x }
}

# The first line from the next one on with this text, else the first with it; 0 when none.
function find(text,    i) {
    for (i = next_line; i <= total; i++) if (sortedText[i] == text) return i
    for (i = 1; i < next_line && i <= total; i++) if (sortedText[i] == text) return i
    return 0
}

# The song's entries by time, as the service sends them.
function order(f,    i, j, t, x) {
    total = entries[f]
    for (i = 1; i <= total; i++) { sortedTime[i] = entryTime[f, i]; sortedText[i] = entryText[f, i] }
    for (i = 2; i <= total; i++) {
        t = sortedTime[i]; x = sortedText[i]
        for (j = i - 1; j >= 1 && sortedTime[j] > t; j--) { sortedTime[j + 1] = sortedTime[j]; sortedText[j + 1] = sortedText[j] }
        sortedTime[j + 1] = t; sortedText[j + 1] = x
    }
}
