# xvfb.sh, sourced: start_xvfb WxHxDEPTH starts a virtual X server on a display
# number the server itself finds free (so parallel tests never race for one),
# exports DISPLAY, sets XVFB_PID and returns once the server answers.
start_xvfb() {
  local numberFile
  numberFile="$(mktemp /tmp/ravlin-xvfb-XXXXXX)"
  Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>"$numberFile" >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do
    [ -s "$numberFile" ] && break
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  local n
  n="$(tr -dc 0-9 <"$numberFile")"
  rm -f "$numberFile"
  if [ -z "$n" ]; then
    echo "Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$n"
  for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "Xvfb on $DISPLAY does not answer" >&2
  return 1
}
