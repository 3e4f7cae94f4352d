# Turns one groundtool command's --help into man page markup for help2man's COMMANDS section.
# Usage: awk -v command=NAME -f help-to-roff.awk
#
# CLI11 prints the command's description, a "Usage:" line, then headed lists of entries: the
# name, type and default from column 3, padded to column 31 where the text starts, or, when the
# name reaches column 31, the text on lines of its own indented that far. A name of 27
# characters leaves a gap of a single space, so a line is split at column 31 only when no
# indented text follows it.
function escape(text) {
  gsub(/\\/, "\\e", text)
  gsub(/-/, "\\-", text)
  return text
}
function line(text) {
  text = escape(text)
  return text ~ /^[.\047]/ ? "\\&" text : text
}
function entry(raw, textFollows) {
  raw = substr(raw, 3)
  if (match(raw, /   */)) {
    term = substr(raw, 1, RSTART - 1)
    text = substr(raw, RSTART + RLENGTH)
  } else if (!textFollows && substr(raw, 28, 1) == " ") {
    term = substr(raw, 1, 27)
    text = substr(raw, 29)
  } else {
    term = raw
    text = ""
  }
}
function flush() {
  # Every command has -h,--help; the OPTIONS section already says what it does.
  if (term != "" && term !~ /^-h,--help/) {
    split(term, words, " ")
    rest = substr(term, length(words[1]) + 2)
    print ".TP"
    print "\\fB" escape(words[1]) "\\fR" (rest == "" ? "" : " " escape(rest))
    print line(text)
  }
  term = ""
  text = ""
}
function settle(textFollows) {
  if (pending != "") {
    entry(pending, textFollows)
    pending = ""
  }
}
BEGIN { print ".SS \"" command "\"" }
/^Usage: / {
  split(substr($0, 8), words, " ")
  print ".PP"
  print "\\fB" escape(words[1] " " words[2]) "\\fR" escape(substr($0, 8 + length(words[1] words[2]) + 1))
  usage = 1
  next
}
!usage && NF { print line($0); next }
/^   +[^ ]/ {
  settle(1)
  sub(/^ +/, "")
  text = text == "" ? $0 : text " " $0
  next
}
{ settle(0) }
/^  [^ ]/ {
  flush()
  pending = $0
}
END { settle(0); flush() }
