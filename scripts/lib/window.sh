# The updater's window on an X display, driven as a user would drive it: a virtual display, finding
# a window by its title, screenshots, the launch button, the About box. Sourced; needs xvfb, xdotool
# and imagemagick, and x11-utils for window_modal_to.
#
#   xvfb_start FOLDER          starts Xvfb on a free display and exports DISPLAY; sets XVFB_PID
#   xvfb_stop
#   window_wait TITLE SECONDS  prints the id of the visible window titled TITLE once there is one
#   window_gone TITLE SECONDS  succeeds once no visible window is titled TITLE
#   window_modal_to ID PARENT  succeeds if window ID is a dialog modal to window PARENT
#   window_screenshot ID FILE
#   launch_button_lit ID       succeeds once the updater's launch button is enabled
#   lit_window TITLE           succeeds once a visible window titled TITLE has its launch button
#                              enabled, and sets LIT_WINDOW to its id
#   press_launch ID            clicks the updater's launch button
#   press_about ID             clicks the updater's About button
#   close_about_box ID         clicks the About box's button 确定

XVFB_PID=""

# Where the launch button "启动" lies in the window (updater/updater.ui), and the part of it that
# holds its icon and text.
LAUNCH_BUTTON_GEOMETRY=(350 510 101 41)
LAUNCH_BUTTON_FACE=(355 516 90 30)
# The About button "关于..." in the window, and the button "确定" in the About box (dialogs/about.ui).
ABOUT_BUTTON_GEOMETRY=(580 10 101 24)
ABOUT_BOX_CLOSE_GEOMETRY=(10 296 81 24)

xvfb_start() {
    local folder=$1
    mkdir -p "$folder"
    # Xvfb picks the first free display itself and writes its number to the given descriptor. It must
    # not reset when its last client leaves: an updater started during that reset cannot connect.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$folder/display" >"$folder/xvfb.log" 2>&1 &
    XVFB_PID=$!
    local _
    for _ in $(seq 100); do
        if [ -s "$folder/display" ]; then
            export DISPLAY=":$(cat "$folder/display")"
            # The number comes before the display takes clients on a busy machine.
            xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
        fi
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    echo "Xvfb did not start; see $folder/xvfb.log" >&2
    return 1
}

xvfb_stop() {
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
    fi
    XVFB_PID=""
}

window_wait() {
    local title=$1 seconds=$2 id _
    for _ in $(seq $((seconds * 10))); do
        id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1) || true
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    echo "no window titled \"$title\" within $seconds s" >&2
    return 1
}

window_gone() {
    local title=$1 seconds=$2 _
    for _ in $(seq $((seconds * 10))); do
        xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    return 1
}

# Qt marks a modal dialog as transient for its parent and gives it the state _NET_WM_STATE_MODAL.
window_modal_to() {
    local properties
    properties=$(xprop -id "$1" WM_TRANSIENT_FOR _NET_WM_STATE) || return 1
    grep -q "window id # $(printf '0x%x' "$2")\$" <<<"$properties" \
        && grep -q '_NET_WM_STATE_MODAL' <<<"$properties"
}

# import waits for a click on a window of the user's choice when the one named is gone: a window
# that closes while it is looked at must fail the look, not hang it.
_import_window() {
    timeout 10 import -window "$@"
}

window_screenshot() {
    _import_window "$1" "$2"
}

# While the button is disabled its icon and text are light grey (no pixel darker than 60 %);
# enabled, its text is black. Its face is light either way, unlike a window not yet drawn.
launch_button_lit() {
    local x y width height face
    read -r x y width height <<<"${LAUNCH_BUTTON_FACE[*]}"
    face=$(_import_window "$1" miff:- 2>/dev/null \
               | convert - -crop "${width}x${height}+$x+$y" +repage -colorspace gray \
                     -format '%[fx:minima] %[fx:mean]' info: 2>/dev/null) || return 1
    awk -v darkest="${face% *}" -v mean="${face#* }" 'BEGIN { exit !(darkest < 0.4 && mean > 0.6) }'
}

# Each look searches the windows afresh: an updater that hands the run over to another program, or
# takes it back, goes on in a new window.
LIT_WINDOW=""
lit_window() {
    local id
    for id in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
        if launch_button_lit "$id"; then
            LIT_WINDOW=$id
            return 0
        fi
    done
    return 1
}

# Clicks the middle of the rectangle X Y WIDTH HEIGHT in window ID.
_click_middle() {
    xdotool mousemove --window "$1" $(($2 + $4 / 2)) $(($3 + $5 / 2)) click 1
}

press_launch() { _click_middle "$1" "${LAUNCH_BUTTON_GEOMETRY[@]}"; }
press_about() { _click_middle "$1" "${ABOUT_BUTTON_GEOMETRY[@]}"; }
close_about_box() { _click_middle "$1" "${ABOUT_BOX_CLOSE_GEOMETRY[@]}"; }
