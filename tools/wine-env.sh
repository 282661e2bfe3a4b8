# Sourced with the build folder as $1: exports the Wine environment of that
# build and offers zb_prefix_ready, zb_wineserver_up and zb_wineserver_down.

zb_build=$1
zb_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${ZB_WINEPREFIX:-$zb_build/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export LC_ALL=ja_JP.UTF-8
# No Gecko/Mono install dialogs; powrprof is the simulated power manager,
# taskschd and schtasks the simulated Task Scheduler, regedit the recording
# registry editor, all of which zb_install_sim_dlls (below) copies into
# system32.
export WINEDLLOVERRIDES=${ZB_DLLOVERRIDES:-mscoree,mshtml=;powrprof=n,b;taskschd=n,b;schtasks.exe=n,b;regedit.exe=n,b}
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

# Files of the build that replace Wine's own in the prefix's system32 (the
# suite loads them from there by full path, or Wine runs them for the
# system's commands); WINEDLLOVERRIDES above names each native. Add one by
# adding its file name here.
zb_system_files=(powrprof.dll taskschd.dll schtasks.exe regedit.exe)

# Installs zb_system_files into the prefix, refreshed on every run so a new
# build is picked up. Renamed into place, so running processes keep the old
# file and a clone's hard-linked copy (zb_prefix_clone) is never written
# through. A file the build lacks leaves what the prefix has: with "n,b"
# Wine's own placeholder file selects Wine's builtin.
zb_install_sim_dlls() {
    local name src dst
    for name in "${zb_system_files[@]}"; do
        src="$zb_build/bin/$name"
        dst="$WINEPREFIX/drive_c/windows/system32/$name"
        [ -f "$src" ] && [ -d "$(dirname "$dst")" ] || continue
        cmp -s "$src" "$dst" && continue
        cp "$src" "$dst.zbnew.$$" && mv -f "$dst.zbnew.$$" "$dst" ||
            echo "warning: could not install $src into the prefix" >&2
    done
}

# Makes $2 a fresh copy of the prepared prefix $1 (whose wineserver must be
# down), in about a second: Wine's 600 MB of program files are hard links,
# everything else (registry, ini files, the suite's data) is copied, because
# Wine and the programs write those in place.
zb_prefix_clone() {
    local from=$1 to=$2 f
    rm -rf "$to"
    mkdir -p "$(dirname "$to")"
    cp -al "$from" "$to"
    (
        cd "$to"
        find . -type f ! -iname '*.dll' ! -iname '*.exe' ! -iname '*.drv' ! -iname '*.sys' \
            ! -iname '*.ocx' ! -iname '*.acm' ! -iname '*.cpl' ! -iname '*.tlb' ! -iname '*.ax' \
            ! -iname '*.ds' ! -iname '*.msstyles' ! -iname '*.nls' ! -iname '*.ttf' -print0 |
            while IFS= read -r -d '' f; do
                cp -p "$f" "$f.zbcopy" && mv -f "$f.zbcopy" "$f"
            done
    )
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
