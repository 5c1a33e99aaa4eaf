#!/bin/sh
# Writes the gzipped manual page of the program from its --help text, so that the page
# follows the options as they change.   packaging/manpage.sh PROGRAM VERSION OUTPUT.1.gz
# The usage lines become the SYNOPSIS, the indented "-x ..." lines the OPTIONS and any other
# text the DESCRIPTION, after a fixed paragraph.
set -eu
program=$1
version=$2
output=$3
# A leak report at the exit of --help would only break the build of a sanitizer tree.
help=$(ASAN_OPTIONS=detect_leaks=0 "$program" --help)
page=$(printf '%s\n' "$help" | awk -v version="$version" '
# Roff-safe text: backslashes spelled out, a hyphen that starts an option a minus sign (every
# hyphen when minus is set), and a line that would read as a request kept as text.
function escape(s, minus,    out, i, c, prev) {
  out = ""
  prev = " "
  for (i = 1; i <= length(s); i++) {
    c = substr(s, i, 1)
    if (c == "\\") c = "\\e"
    else if (c == "-" && (minus || prev == " " || prev == "[" || prev == "|" || prev == "(" || prev == "-")) c = "\\-"
    out = out c
    prev = substr(s, i, 1)
  }
  if (out ~ /^[.\047]/) out = "\\&" out
  return out
}
# The program and its options in bold, upper-case placeholders (DIR, SECONDS) in italics.
function emphasize(s,    n, words, i, w, out) {
  n = split(s, words, " ")
  out = ""
  for (i = 1; i <= n; i++) {
    w = words[i]
    if (i == 1 && w == "strobolux")
      w = "\\fB" w "\\fR"
    else if (match(w, /^[[(]?-[-A-Za-z0-9]+/)) {
      match(w, /-[-A-Za-z0-9]+/)
      w = escape(substr(w, 1, RSTART - 1)) "\\fB" escape(substr(w, RSTART, RLENGTH), 1) \
          "\\fR" escape(substr(w, RSTART + RLENGTH))
    } else if (w ~ /^[[]?[A-Z][A-Z_]*[]]?$/ && match(w, /[A-Z][A-Z_]*/))
      w = escape(substr(w, 1, RSTART - 1)) "\\fI" substr(w, RSTART, RLENGTH) "\\fR" \
          escape(substr(w, RSTART + RLENGTH))
    else
      w = escape(w)
    out = out (i > 1 ? " " : "") w
  }
  return out
}
function trim(s) { sub(/^ +/, "", s); sub(/ +$/, "", s); return s }
BEGIN { forms = 0; options = 0; texts = 0; state = "" }
tolower($0) ~ /^usage:/ {
  line = $0
  sub(/^[^:]*: */, "", line)
  synopsis[++forms] = trim(line)
  state = "usage"
  next
}
/^ +-/ {
  line = trim($0)
  if (match(line, /  +/)) {
    term[++options] = substr(line, 1, RSTART - 1)
    text[options] = substr(line, RSTART + RLENGTH)
  } else {
    term[++options] = line
    text[options] = ""
  }
  state = "option"
  next
}
/^ +[^ ]/ && state == "usage" {
  line = trim($0)
  if (line ~ /^strobolux( |$)/) synopsis[++forms] = line
  else synopsis[forms] = synopsis[forms] " " line
  next
}
/^ +[^ ]/ && state == "option" {
  text[options] = (text[options] == "" ? "" : text[options] " ") trim($0)
  next
}
/^[^ ].*:$/ { state = ""; next }  # a heading of the help text; the page has its own
/^ *$/ { if (texts > 0 && prose[texts] != "") prose[++texts] = ""; state = ""; next }
{ prose[++texts] = trim($0); state = "" }
END {
  print ".TH STROBOLUX 1 \"\" \"strobolux " version "\" \"User Commands\""
  print ".SH NAME"
  print "strobolux \\- record stamped camera pictures in step with a generated tone"
  print ".SH SYNOPSIS"
  for (i = 1; i <= forms; i++) {
    if (i > 1) print ".br"
    print emphasize(synopsis[i])
  }
  print ".SH DESCRIPTION"
  print "Strobolux plays a tone on a sound device and, every few tone periods, saves a"
  print "picture of the camera stamped with the date, the time and the picture number into a"
  print "numbered file of the run\047s folder. It also takes single snapshots and records AVI"
  print "video."
  while (texts > 0 && prose[texts] == "") texts--
  if (texts > 0) print ".PP"
  for (i = 1; i <= texts; i++) print (prose[i] == "" ? ".PP" : escape(prose[i]))
  if (options > 0) print ".SH OPTIONS"
  for (i = 1; i <= options; i++) {
    print ".TP"
    print emphasize(term[i])
    if (text[i] != "") print escape(text[i])
  }
  print ".SH FILES"
  print "The full help is /usr/share/doc/strobolux/README.md."
  print ".SH SEE ALSO"
  print ".BR strobolux\\-desktop (1)"
}')
printf '%s\n' "$page" | gzip -9n >"$output"
