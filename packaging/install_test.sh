#!/usr/bin/env bash
# The installed program as a user meets it: an install into a prefix nobody
# may write, run on an X display with a fresh home; the desktop entry and the
# metainfo validate; the Debian package holds exactly the installed files.
#
# Usage: install_test.sh BUILD_FOLDER APP_ID
#
# The tests run as root in CI, and root writes into folders without write
# permission. As root the program therefore runs in a mount namespace of its
# own with the prefix mounted read-only, or, where that is not allowed, as the
# user nobody.
set -euo pipefail

build=$(cd "$1" && pwd)
id=$2

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1600x1000x24" bash "$0" "$@"
fi

work=$(mktemp -d /tmp/qarvo-install-XXXXXX)
chmod 755 "$work"
program=
cleanup() {
  [ -n "$program" ] && kill -KILL "$program" 2>/dev/null
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then
    echo "ok:   $1"
  else
    echo "FAIL: $1" >&2
    failures=$((failures + 1))
  fi
}
die() {
  echo "FAIL: $*" >&2
  exit 1
}

# Waits (up to 30 s) until the command succeeds.
wait_for() {
  local deadline=$((SECONDS + 30))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.05
  done
}

# --- The install: exactly the program's files ------------------------------
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" > "$work/install.log"
installed=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
expected=$(printf '%s\n' bin/qarvo-dorvane lib/qarvo-dorvane/qarvo-browser.so \
  "share/applications/$id.desktop" "share/icons/hicolor/scalable/apps/$id.svg" \
  "share/metainfo/$id.metainfo.xml" | sort)
# The command-line front end belongs to the install when the build has it.
check "the install holds the programs, the module and the desktop files, nothing else" \
  test "$(grep -vx 'bin/qarvo-lookup' <<< "$installed")" = "$expected"

# --- Desktop entry, icon, metainfo ------------------------------------------
desktop=$prefix/share/applications/$id.desktop
metainfo=$prefix/share/metainfo/$id.metainfo.xml
check "desktop-file-validate accepts the desktop entry" desktop-file-validate "$desktop"
check "appstreamcli accepts the metainfo" appstreamcli validate --no-net "$metainfo"
check "the desktop entry names the icon and the program by the id" \
  grep -qx "Icon=$id" "$desktop"
check "the desktop entry starts the installed program" grep -qx "Exec=qarvo-dorvane" "$desktop"
check "the metainfo launches the desktop entry" \
  grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo"
check "the metainfo's id is the same id" grep -q "<id>$id</id>" "$metainfo"
check "the icon is an SVG drawing" grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/$id.svg"

# --- A prefix nobody may write ----------------------------------------------
chmod -R a-w "$prefix"
mode=plain
if [ -n "${QARVO_CONFINE_AS:-}" ]; then
  mode=$QARVO_CONFINE_AS  # to try the other ways: namespace, nobody
elif [ "$(id -u)" -eq 0 ]; then
  if unshare --mount --propagation private -- sh -c \
    'mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && ! touch "$1/bin/probe" 2>/dev/null' \
    sh "$prefix" 2> /dev/null; then
    mode=namespace
  elif command -v setpriv > /dev/null; then
    mode=nobody
  else
    die "cannot make the prefix read-only for root (no mount namespace, no setpriv)"
  fi
fi
echo "read-only prefix by: $mode"

# Runs a command with the prefix read-only for it.
confined() {
  case $mode in
    plain) exec "$@" ;;
    namespace)
      exec unshare --mount --propagation private -- sh -c \
        'mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && shift && exec "$@"' \
        sh "$prefix" "$@"
      ;;
    nobody) exec setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@" ;;
  esac
}

# The display's cookie, readable by the program's user.
xauthority=${XAUTHORITY:-}
if [ $mode = nobody ] && [ -n "$xauthority" ]; then
  cp "$XAUTHORITY" "$work/xauthority"
  chown 65534:65534 "$work/xauthority"
  xauthority=$work/xauthority
fi

# A fresh home the program's user owns.
fresh_home() {
  local home=$work/$1
  mkdir -p "$home"
  [ $mode = nobody ] && chown -R 65534:65534 "$home"
  echo "$home"
}

run_env() {  # run_env HOME COMMAND...: the program's environment
  local home=$1
  shift
  exec env -u XDG_CONFIG_HOME -u XDG_DOCUMENTS_DIR -u QT_QPA_PLATFORM HOME="$home" \
    XAUTHORITY="$xauthority" "$@"
}

bin=$prefix/bin/qarvo-dorvane
check "the prefix is read-only for the program" \
  bash -c "$(declare -f confined); mode=$mode prefix='$prefix'; confined sh -c '! touch \"\$1\" 2>/dev/null' sh '$prefix/bin/probe'"

# The browser module is found from the installed program's folder and loads.
home=$(fresh_home version-home)
version=$(run_env "$home" bash -c "$(declare -f confined); mode=$mode prefix='$prefix'; confined '$bin' --version" 2>&1) || true
echo "$version"
check "the installed program finds and loads its browser module" \
  grep -qxF "browser module: $prefix/lib/qarvo-dorvane/qarvo-browser.so" <<< "$version"

# Without a display: the one clear line, and an end.
home=$(fresh_home headless-home)
set +e
headless=$(run_env "$home" env -u DISPLAY -u WAYLAND_DISPLAY \
  bash -c "$(declare -f confined); mode=$mode prefix='$prefix'; confined '$bin'" 2>&1)
status=$?
set -e
check "without a display the program ends with status 1" test $status -eq 1
check "without a display the program says so" grep -q "^qarvo-dorvane: no display" <<< "$headless"

windows() { xwininfo -root -tree 2> /dev/null; }
main_window_up() { windows | grep -qF 'v1.2.0.0 - '; }

# On the display with a fresh home: the window comes up, the settings go to
# ~/.config/qarvo-dorvane/ and are written when the window is closed.
home=$(fresh_home home)
settings="$home/.config/qarvo-dorvane/Qarvo·Dorvane.ini"
run_env "$home" bash -c "$(declare -f confined); mode=$mode prefix='$prefix'; confined '$bin'" \
  > "$work/program.log" 2>&1 &
program=$!
check "the main window of the installed program comes up" wait_for main_window_up
check "the settings file is opened in ~/.config/qarvo-dorvane" test -f "$settings"
kill -TERM "$program"
set +e
wait "$program"
status=$?
set -e
program=
check "a termination request closes the window and ends the program normally" test $status -eq 0
section=$(printf '[主界面]' | iconv -f UTF-8 -t GBK)
check "closing the window wrote the settings there" grep -qF "$section" "$settings"
check "nothing went beside the program" test ! -e "$prefix/bin/Qarvo·Dorvane.ini"
cat "$work/program.log"

# Nowhere to write: a home below a regular file. One message box says so
# before the main window.
touch "$work/plain-file"
run_env "$work/plain-file/home" bash -c "$(declare -f confined); mode=$mode prefix='$prefix'; confined '$bin'" \
  > "$work/program.log" 2>&1 &
program=$!
box_up() { windows | grep -qE '"Qarvo(·|\\302\\267|[^"]{1,8})Dorvane": '; }
check "with no writable place a message box comes up first" wait_for box_up
no_main_window() { ! main_window_up; }
check "the main window waits for the message box" no_main_window
kill -KILL "$program"
wait "$program" 2> /dev/null || true
program=

# --- The Debian package ----------------------------------------------------
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package" > "$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; die "cpack failed"; }
deb=$(ls "$work"/package/qarvo-dorvane_*.deb 2> /dev/null | head -n 1)
check "cpack makes qarvo-dorvane_<version>_<arch>.deb" test -n "$deb"
if [ -n "$deb" ]; then
  packaged=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./usr/||' | sort)
  check "the package holds exactly the installed files, under /usr" test "$packaged" = "$installed"
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  for library in libqt6widgets6 libqt6webenginewidgets6 libcurl4 libpcre2-16-0 libopencc1.1; do
    check "the package depends on $library" grep -q "$library" <<< "$depends"
  done
fi

[ $failures -eq 0 ] || die "$failures checks failed"
echo "all checks passed"
