# Sourced: makes a throw-away Wine prefix for this shell (WINEPREFIX, removed on exit) and
# starts it once, since the first start of a prefix is the slow part; every program after it
# starts at once.
wine_prefix_dir=$(mktemp -d "${TMPDIR:-/tmp}/scorlet-wine.XXXXXX")
export WINEPREFIX=$wine_prefix_dir
export WINEDEBUG=-all
# No Mono or Gecko installer for a prefix that needs neither, and no desktop menu entries
# outside it for the installer's Start-menu entry.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# As CI runs it, without a display: Wine needs none for console and offscreen programs.
remove_wine_prefix() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$wine_prefix_dir"
}
trap remove_wine_prefix EXIT
started_at=$SECONDS
DISPLAY= wine wineboot --init >/dev/null 2>&1
wineserver -w
echo "Wine prefix $WINEPREFIX ready in $((SECONDS - started_at)) s"
