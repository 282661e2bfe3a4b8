# Sourced with the build folder as $1: exports the Wine environment of that
# build and offers zb_prefix_ready, zb_wineserver_up and zb_wineserver_down.

zb_build=$1
zb_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${ZB_WINEPREFIX:-$zb_build/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export LC_ALL=ja_JP.UTF-8
# No Gecko/Mono install dialogs; powrprof is the simulated power manager
# the prefix setup copies into system32 (see tools/prefix-setup.sh).
export WINEDLLOVERRIDES=${ZB_DLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY

# The prefix is (re)configured whenever the setup script changes.
zb_prefix_ready() {
    local stamp="$WINEPREFIX/.zb-setup"
    local want
    want=$(cat "$zb_root/tools/prefix-setup.sh" | sha1sum | cut -c1-40)
    [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ] && return 0
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want" ]; then
            bash "$zb_root/tools/prefix-setup.sh" "$zb_build" >&2
            echo "$want" >"$stamp"
        fi
    ) 9>"$WINEPREFIX.lock"
}

# One persistent wineserver per prefix: a cold start costs seconds per
# process. It lingers 60 s after the last client unless stopped.
zb_wineserver_up() {
    wineserver -p60 2>/dev/null || true
}

zb_wineserver_down() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
}
