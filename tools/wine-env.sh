# Sourced with the build folder as $1: exports the Wine environment of that
# build and offers zb_prefix_ready, zb_wineserver_up and zb_wineserver_down.

zb_build=$1
zb_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${ZB_WINEPREFIX:-$zb_build/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export LC_ALL=ja_JP.UTF-8
# No Gecko/Mono install dialogs; powrprof is the simulated power manager,
# taskschd and schtasks the simulated Task Scheduler, all of which
# zb_install_sim_dlls (below) copies into system32.
export WINEDLLOVERRIDES=${ZB_DLLOVERRIDES:-mscoree,mshtml=;powrprof=n,b;taskschd=n,b;schtasks.exe=n,b}
unset DISPLAY WAYLAND_DISPLAY

# The prefix is (re)configured whenever the setup script changes.
zb_prefix_ready() {
    local stamp="$WINEPREFIX/.zb-setup"
    local want
    want=$(cat "$zb_root/tools/prefix-setup.sh" | sha1sum | cut -c1-40)
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then
        zb_install_sim_dlls
        return 0
    fi
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want" ]; then
            bash "$zb_root/tools/prefix-setup.sh" "$zb_build" >&2
            echo "$want" >"$stamp"
        fi
    ) 9>"$WINEPREFIX.lock"
    zb_install_sim_dlls
}

# The simulated power manager and Task Scheduler replace Wine's powrprof.dll,
# taskschd.dll and schtasks.exe in system32 (the suite loads them from there),
# refreshed on every run so a new build is picked up. Renamed into place, so
# running processes keep the old file. A build without them keeps what the
# prefix has: with "n,b" Wine's own placeholder file selects Wine's builtin.
zb_install_sim_dlls() {
    local file src dst
    for file in powrprof.dll taskschd.dll schtasks.exe; do
        src="$zb_build/bin/$file"
        dst="$WINEPREFIX/drive_c/windows/system32/$file"
        [ -f "$src" ] && [ -d "$(dirname "$dst")" ] || continue
        cmp -s "$src" "$dst" && continue
        cp "$src" "$dst.zbnew" && mv -f "$dst.zbnew" "$dst" ||
            echo "warning: could not install $src into the prefix" >&2
    done
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
