#!/usr/bin/env bash
# Each layer includes only headers of its own layer and the ones below:
# platform < persistence < scheduler < ui. The core of platform/, and the
# persistence and scheduler layers, use no GUI module of Qt.
set -uo pipefail
cd "$1"
status=0
check() { # FOLDER PATTERN WHAT
    local hits
    hits=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]($2)" "$1" \
        --include='*.h' --include='*.cpp' ${4:+--exclude-dir="$4"})
    if [ -n "$hits" ]; then
        echo "$1 includes $3:"
        echo "$hits"
        status=1
    fi
}
gui='Q(Widget|Application|Gui|Window|Dialog|MessageBox|FileDialog|Label|PushButton|LineEdit|Frame|Icon|Pixmap|Screen|KeyEvent|MouseEvent|CloseEvent)|Qt(Gui|Widgets)/'
check platform 'persistence/|scheduler/|ui/' 'a higher layer'
check platform "$gui" 'the GUI toolkit outside platform/gui' gui
check persistence 'scheduler/|ui/|platform/gui/' 'a higher layer'
check persistence "$gui" 'the GUI toolkit'
check scheduler 'ui/|platform/gui/' 'a higher layer'
check scheduler "$gui" 'the GUI toolkit'
[ $status -eq 0 ] && echo "ok: every layer includes only its own and lower layers"
exit $status
