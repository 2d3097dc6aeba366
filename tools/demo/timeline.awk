# The demo's timeline of the lyrics pane: one row per line the pane showed bright, with the line's
# time in the song and the playback position when it was shown.
#   awk -v playlist=PLAYLIST -f timeline.awk PLAYLIST LIBRARY/*.lrc PLAYER_LOG
# The playlist names the tracks (artist, title per line); the LRC files give each song's timed
# lines; the player's record (standin-player --read-lyrics) holds "event.OpenStateChange(13)" when
# the next track opens and "player.reads(P ms) TEXT" each time the pane's bright line changes. Shown texts are
# matched to the song's lines in order, so repeated lines (a chorus) find their own place. The first
# line of each song is shown when its lyrics arrive and a stop takes the pane back to the first
# line, neither when playback reaches a line: both rows carry a note.
BEGIN { FS = "\t"; OFS = "\t"; print "# song", "line", "line time (ms)", "shown at (ms)", "difference (ms)", "note" }

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
    }
    count = 0
    next
}
FILENAME == playlist { if ($0 !~ /^#/ && NF >= 5) track[tracks++] = $1 "\t" $2; next }

# The player's record.
{ sub(/\r+$/, "") }
# Each media open is the next track of the playlist.
/ event\.OpenStateChange\(13\)/ { song = track[opened++]; file = ""; first = 1; next }
/ player\.reads\(/ {
    if (song == "" || !(song in songFiles)) next
    match($0, /player\.reads\([0-9-]+ ms\) /); shown = substr($0, RSTART + 13) + 0
    text = substr($0, RSTART + RLENGTH)
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
    note = ""
    if (first) note = "lyrics arrived"
    else if (switched) note = "other lyrics arrived"
    else if (found < next_line) note = "back to the start"
    else if (found > next_line) note = "jumped ahead"
    name = song; sub(/\t/, " - ", name)
    print name, found - 1, sortedTime[found], shown, shown - sortedTime[found], note
    next_line = found + 1; first = 0
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
